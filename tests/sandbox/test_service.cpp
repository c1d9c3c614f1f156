// The daemon as a systemd service: the notify datagrams it sends (readiness,
// watchdog, status), a wedged bus that stops the watchdog, and a hung
// NetworkManager that cannot hold the first report back.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bus_reader.h"
#include "guards.h"
#include "host_paths.h"
#include "process.h"
#include "sandbox.h"

namespace {

// systemd's end of the notify protocol: a datagram socket bound where NOTIFY_SOCKET points.
class Notify_Listener {
public:
    explicit Notify_Listener(const std::string& name) : sock(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        struct sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        memcpy(address.sun_path, name.data(), name.size());
        if (name[0] == '@')
            address.sun_path[0] = '\0';
        socklen_t length = static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + name.size() +
                                                  (name[0] == '@' ? 0 : 1));
        bound = bind(sock.get(), reinterpret_cast<struct sockaddr*>(&address), length) == 0;
    }
    // Reads datagrams until one starts with `prefix` and holds `part`, or the deadline passes.
    bool wait_For(const std::string& prefix, const std::string& part, double seconds)
    {
        double deadline = get_Monotonic_Seconds() + seconds;
        while (get_Monotonic_Seconds() < deadline) {
            struct pollfd ready = {sock.get(), POLLIN, 0};
            if (poll(&ready, 1, 100) <= 0)
                continue;
            char message[4096];
            ssize_t n = recv(sock.get(), message, sizeof(message), 0);
            if (n <= 0)
                continue;
            received.emplace_back(message, static_cast<size_t>(n));
            const std::string& last = received.back();
            if (last.compare(0, prefix.size(), prefix) == 0 && last.find(part) != std::string::npos)
                return true;
        }
        return false;
    }
    bool bound = false;
    std::vector<std::string> received;

private:
    Descriptor sock;
};

class Service : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0,
                  run_Shell("ip addr add 192.168.1.10/24 dev eth0 && ip route add default via 192.168.1.1"));
        write_File("/etc/os-release", "PRETTY_NAME=\"Service OS\"\n");
        make_Manager_Directories();
        set_Tool_Answer("systemctl", "is-active NetworkManager", "inactive\n", 3);
    }
};

std::string get_Notify_Name(const std::string& row)
{
    return row == "abstract" ? "@lumerion-notify-" + std::to_string(getpid()) : get_Sandbox_Dir() + "/notify";
}

// Ready once the first report is queued, a watchdog ping per pass, and a status naming the route.
TEST_P(Service, NotifiesReadyWatchdogAndStatus)
{
    const std::string name = get_Notify_Name(GetParam());
    Notify_Listener systemd(name);
    ASSERT_TRUE(systemd.bound);
    // A tool the daemon runs shows whether it inherited the notify variables.
    const std::string seen = get_Sandbox_Dir() + "/child-env";
    set_Tool_Answer("lsblk", "-p -o NAME,SIZE,TYPE -n --exclude 1,7", "");
    write_File(get_Sandbox_Dir() + "/answers/lsblk/-p -o NAME,SIZE,TYPE -n --exclude 1,7.run",
               "echo \"${NOTIFY_SOCKET-unset} ${WATCHDOG_USEC-unset}\" >" + seen +
                   "\necho '/dev/vda 8G disk'\n");
    Bus_Reader bus;
    Daemon_Process daemon;
    ASSERT_TRUE(daemon.start(LUMERION_HOSTD_PATH, {"NOTIFY_SOCKET=" + name, "WATCHDOG_USEC=4000000"}));
    EXPECT_TRUE(systemd.wait_For("READY=1", "", generous_seconds)) << daemon.err();
    EXPECT_TRUE(systemd.wait_For("STATUS=last report ", "; eth0 192.168.1.10/24 via 192.168.1.1; netplan",
                                 generous_seconds))
        << (systemd.received.empty() ? "" : systemd.received.back());
    EXPECT_TRUE(systemd.wait_For("WATCHDOG=1", "", generous_seconds));
    EXPECT_EQ("unset unset\n", read_File(seen));
}

INSTANTIATE_TEST_SUITE_P(Sockets, Service, ::testing::Values("path", "abstract"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param);
                         });

// A bus whose write blocks stops the pings until it takes writes again.
TEST_F(Service, WedgedBusStopsTheWatchdog)
{
    const std::string name = get_Notify_Name("path");
    Notify_Listener systemd(name);
    ASSERT_TRUE(systemd.bound);
    // The FIFO is full before the daemon starts: its first write blocks.
    Descriptor bus(open("/dev/i2c-2", O_RDWR | O_NONBLOCK | O_CLOEXEC));
    ASSERT_GE(bus.get(), 0);
    std::string filler(4096, 'x');
    while (write(bus.get(), filler.data(), filler.size()) > 0) {
    }
    Daemon_Process daemon;
    ASSERT_TRUE(daemon.start(LUMERION_HOSTD_PATH, {"NOTIFY_SOCKET=" + name, "WATCHDOG_USEC=2000000"}));
    ASSERT_TRUE(systemd.wait_For("STATUS=", "the bus is not taking writes", generous_seconds))
        << daemon.err();
    size_t stalled_at = systemd.received.size();
    // A few passes while the bus stays wedged, then the bus drains.
    systemd.wait_For("never sent", "", 5);
    char sink[65536];
    while (read(bus.get(), sink, sizeof(sink)) > 0) {
    }
    ASSERT_TRUE(systemd.wait_For("WATCHDOG=1", "", generous_seconds));
    for (size_t i = stalled_at; i + 1 < systemd.received.size(); ++i)
        EXPECT_NE("WATCHDOG=1", systemd.received[i]) << "a ping while the bus was wedged";
}

// Start-up's nmcli calls share one budget: a hung NetworkManager costs the
// first report a few seconds, and no default profile is written for it.
TEST_F(Service, HungNmcliDoesNotHoldTheFirstReport)
{
    set_Tool_Answer("systemctl", "is-active NetworkManager", "active\n");
    set_Tool_Answer("nmcli", "", "");
    set_Tool_Hang("nmcli", "", 600);
    Bus_Reader bus;
    Daemon_Process daemon;
    ASSERT_TRUE(daemon.start(LUMERION_HOSTD_PATH));
    bus.read_Until(1, daemon.started + generous_seconds);
    ASSERT_FALSE(bus.times.empty()) << daemon.err();
    EXPECT_LT(bus.times[0] - daemon.started, 15.0) << daemon.err();
    EXPECT_TRUE(std::filesystem::is_empty("/etc/NetworkManager/system-connections"));
    EXPECT_NE(std::string::npos,
              daemon.err().find("nmcli did not answer in time: its other calls are skipped"))
        << daemon.err();
}

} // namespace
