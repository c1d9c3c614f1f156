// The real lumerion-hostd binary, started in the sandbox with a FIFO for the
// bus: what reaches the BMC, byte for byte and paced, and what it logs.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "bus_reader.h"
#include "process.h"
#include "sandbox.h"

namespace {

using Bytes = std::vector<uint8_t>;

size_t count_Of(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size())
        ++n;
    return n;
}

// The daemon under test, started as the binary the build made.
class Daemon : public Daemon_Process {
public:
    void start(const std::vector<std::string>& extra_env = {})
    {
        ASSERT_TRUE(Daemon_Process::start(LUMERION_HOSTD_PATH, extra_env));
    }
};

Bytes text_Packet(uint8_t subaddress, const std::string& text)
{
    /* LEN 00 55 00 SUB text NUL: node BMC, WRITE STRING, DESCRIPTION */
    std::string bytes = std::string(1, static_cast<char>(5 + text.size() + 1)) +
                        std::string("\x00\x55\x00", 3) + static_cast<char>(subaddress) + text +
                        std::string(1, '\0');
    return Bytes(bytes.begin(), bytes.end());
}

std::vector<Bytes> report(const std::string& ip)
{
    return {
        text_Packet(0x05, "Lumerion Test OS 2.1"),
        text_Packet(0x02, ip),
        text_Packet(0x0E, "Ampere(R) Altra(R) Processor"),
        /* 0D 00 35 00 13: len 13, WRITE UINT64, MEMORY_SIZE 64 little-endian */
        {0x0D, 0x00, 0x35, 0x00, 0x13, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
        /* 06 00 05 00 09 02: len 6, WRITE UINT8, DISK_COUNT 2 */
        {0x06, 0x00, 0x05, 0x00, 0x09, 0x02},
        text_Packet(0x0A, "/dev/sda|/dev/nvme0n1"),
        text_Packet(0x0B, "1.8T|953.9G"),
    };
}

class HostDaemon : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0,
                  run_Shell("ip addr add 192.168.1.10/24 dev eth0 && ip route add default via 192.168.1.1"));
        write_File("/etc/os-release", "NAME=\"Lumerion\"\nPRETTY_NAME=\"Lumerion Test OS 2.1\"\n");
        std::string meminfo = get_Sandbox_Dir() + "/meminfo";
        write_File(meminfo, "MemTotal:       67108864 kB\nMemFree:         1234 kB\n");
        ASSERT_EQ(0, run_Shell("mount --bind " + meminfo + " /proc/meminfo"));
        set_Tool_Answer("systemctl", "is-active NetworkManager", "inactive\n", 3);
        set_Tool_Answer("lsblk", "-p -o NAME,SIZE,TYPE -n --exclude 1,7",
                        "/dev/sda 1.8T disk\n/dev/sda1 1.8T part /\n/dev/nvme0n1 953.9G disk\n");
    }
};

// The first report already names the default route's address: no report goes out without it.
TEST_F(HostDaemon, FirstReportCarriesTheAddressByteForByte)
{
    Bus_Reader bus;
    Daemon daemon;
    daemon.start();
    bus.read_Until(7, daemon.started + generous_seconds);
    EXPECT_EQ(report("192.168.1.10"), bus.packets);
    EXPECT_TRUE(bus.errors.empty());

    ASSERT_EQ(7u, bus.times.size());
    double total = 0;
    for (size_t i = 1; i < bus.times.size(); ++i) {
        double gap = bus.times[i] - bus.times[i - 1];
        // Nothing waits between packets but the 220 ms pacing, however loaded the machine.
        EXPECT_LE(gap, 3.0) << "before packet " << i;
        total += gap;
    }
    // The pacing is 200 ms before each write; a reader late for one packet makes the next gap look
    // short, so the bound holds for the whole run, not for each gap.
    EXPECT_GE(total / 6, 0.19);
    RecordProperty("mean_gap_ms", std::to_string(static_cast<int>(total / 6 * 1000)));
    printf("mean gap between writes: %.1f ms\n", total / 6 * 1000);
    // No second report follows at once: the address did not change.
    EXPECT_TRUE(bus.collect(3.0).empty());
    // Start-up asked whether NetworkManager runs once, though it wrote a bare host's default meanwhile.
    std::vector<std::string> calls = get_Tool_Calls();
    EXPECT_EQ(1, std::count(calls.begin(), calls.end(), "systemctl is-active NetworkManager"));
    EXPECT_TRUE(daemon.running());
    daemon.stop();

    std::string out = daemon.out();
    // A host without network configuration gets the default netplan file first.
    std::string selection = "[INFO]\t[Network] init_netplan_Config: Generated: /etc/netplan/01-netcfg.yaml\n"
                            "[INFO]\t[Network] set_Interface_Name: Interface: eth0, Manager Type: netplan\n";
    ASSERT_EQ(selection, out.substr(0, selection.size()));
    out = out.substr(selection.size());
    std::regex banner(
        "^\\[INFO\\]\t\\[main\\] main: Lumerion Altra Host Main Daemon v1\\.0\\.3 \\[[0-9a-f]{40}\\] - "
        "[A-Z][a-z]{2} [ 1-3][0-9] [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}\n");
    EXPECT_TRUE(std::regex_search(out, banner)) << out;
    std::string after_banner = out.substr(out.find('\n') + 1);
    EXPECT_EQ(
        "[INFO]\t[Network] update_Default_IP_Info: IP: 192.168.1.10, Subnetmask: 255.255.255.0, Gateway: "
        "192.168.1.1\n"
        "[INFO]\t[main] update_Broadcast_Packet: Memory Total Size: 64 GB\n",
        after_banner);
    EXPECT_EQ("", daemon.err());
}

// Context switches, voluntary or not, of the daemon's own threads: the main thread and the transmit
// thread (a sanitizer's background thread is none of the daemon's).
long get_Daemon_Switches(int pid)
{
    long total = 0;
    std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        bool main_thread = task.path().filename() == std::to_string(pid);
        if (!main_thread && read_File(task.path().string() + "/comm") != "i2c-transmit\n")
            continue;
        std::string status = read_File(task.path().string() + "/status");
        for (const char* key : {"voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:"}) {
            size_t at = status.find(std::string("\n") + key);
            if (at != std::string::npos)
                total += std::stol(status.substr(at + strlen(key) + 1));
        }
    }
    return total;
}

// The count once the threads are quiet after the report's writes: two looks half a second apart agree.
long get_Settled_Switches(int pid, double deadline)
{
    long last = get_Daemon_Switches(pid);
    while (get_Monotonic_Seconds() < deadline) {
        usleep(500000);
        long now = get_Daemon_Switches(pid);
        if (now == last)
            return now;
        last = now;
    }
    return -1;
}

// Between reports nothing wakes the daemon, and a route change still reaches the
// BMC: it is the kernel's event that wakes it, not a pass of a loop.
TEST_F(HostDaemon, IdleDaemonSleepsAndARouteChangeWakesIt)
{
    Bus_Reader bus;
    Daemon daemon;
    daemon.start();
    bus.read_Until(7, daemon.started + generous_seconds);
    ASSERT_EQ(7u, bus.packets.size());
    long settled = get_Settled_Switches(daemon.get_Pid(), get_Monotonic_Seconds() + generous_seconds);
    ASSERT_GE(settled, 0) << "the daemon never went quiet";
    // A sleeping thread cannot switch, however loaded the machine: longer than a 2 s pass, no wake.
    EXPECT_TRUE(bus.collect(3.0).empty());
    EXPECT_EQ(settled, get_Daemon_Switches(daemon.get_Pid()));

    ASSERT_EQ(0, run_Shell("ip addr flush dev eth0 && ip addr add 10.9.8.7/16 dev eth0 && "
                           "ip route add default via 10.9.0.1"));
    double changed = get_Monotonic_Seconds();
    bus.read_Until(14, changed + generous_seconds);
    ASSERT_EQ(14u, bus.packets.size());
    EXPECT_EQ(text_Packet(0x02, "10.9.8.7"), bus.packets[8]);
    printf("route change to the report's first packet: %.0f ms\n", (bus.times[7] - changed) * 1000);
    EXPECT_NE(std::string::npos,
              daemon.out().find("IP: 10.9.8.7, Subnetmask: 255.255.0.0, Gateway: 10.9.0.1\n"));
}

// A burst of changes (one ip batch, as an apply makes them) is looked at once
// it is over: one report, with where the burst ended.
TEST_F(HostDaemon, BurstOfChangesGivesOneReport)
{
    Bus_Reader bus;
    Daemon daemon;
    daemon.start();
    bus.read_Until(7, daemon.started + generous_seconds);
    ASSERT_EQ(7u, bus.packets.size());
    std::string batch;
    for (int i = 1; i <= 5; ++i)
        batch += "addr flush dev eth0\naddr add 10.9.8." + std::to_string(i) +
                 "/16 dev eth0\nroute add default via 10.9.0.1\n";
    write_File(get_Sandbox_Dir() + "/burst", batch);
    ASSERT_EQ(0, run_Shell("ip -batch " + get_Sandbox_Dir() + "/burst"));
    bus.read_Until(14, get_Monotonic_Seconds() + generous_seconds);
    ASSERT_EQ(14u, bus.packets.size());
    EXPECT_EQ(text_Packet(0x02, "10.9.8.5"), bus.packets[8]);
    EXPECT_TRUE(bus.collect(2.0).empty()) << "a second report for one burst";
    EXPECT_EQ(1u, count_Of(daemon.out(), "update_Default_IP_Info: IP: 10.9.8")) << daemon.out();
}

// A bus device that will not select the BMC's address gets no write: one
// ERROR line per packet, and the daemon keeps running.
TEST_F(HostDaemon, AddressThatCannotBeSelectedIsNoWrite)
{
    std::filesystem::remove("/dev/i2c-2");
    write_File("/dev/i2c-2", "");
    // A character device without the I2C requests: selecting the address fails.
    ASSERT_EQ(0, run_Shell("mount --bind /dev/full /dev/i2c-2"));
    Daemon daemon;
    daemon.start();
    // The reason is the kernel's (or, under emulation, qemu's) answer to the request.
    std::string not_written =
        "\033[31m[ERROR]\t[I2C Packet] set_I2C_Packet_Write: packet not written: cannot "
        "select address 8 on /dev/i2c-2: ";
    double deadline = get_Monotonic_Seconds() + generous_seconds;
    while (get_Monotonic_Seconds() < deadline && count_Of(daemon.err(), not_written) < 6)
        usleep(50000);
    EXPECT_TRUE(daemon.running());
    daemon.stop();
    std::string err = daemon.err();
    // One line per packet, and nothing else: no write was tried.
    EXPECT_GE(count_Of(err, not_written), 6u);
    EXPECT_EQ(count_Of(err, "\n"), count_Of(err, not_written)) << err;
}

// An adapter bound again gives a new node: the daemon opens it and the next
// report reaches the BMC; a node that is gone for good ends the daemon.
TEST_F(HostDaemon, ReplacedBusNodeIsOpenedAgain)
{
    Daemon daemon;
    {
        Bus_Reader bus;
        daemon.start();
        bus.read_Until(7, daemon.started + generous_seconds);
        ASSERT_EQ(7u, bus.packets.size());
    }
    ASSERT_EQ(0, run_Shell("rm /dev/i2c-2 && mkfifo -m 0600 /dev/i2c-2"));
    Bus_Reader replaced;
    ASSERT_EQ(0, run_Shell("ip addr flush dev eth0 && ip addr add 10.9.8.7/16 dev eth0 && "
                           "ip route add default via 10.9.0.1"));
    replaced.read_Until(7, get_Monotonic_Seconds() + generous_seconds);
    ASSERT_EQ(7u, replaced.packets.size());
    EXPECT_EQ(text_Packet(0x02, "10.9.8.7"), replaced.packets[1]);
    EXPECT_NE(std::string::npos, daemon.out().find("[INFO]\t[I2C Packet] update_Bus_Node: /dev/i2c-2 was "
                                                   "replaced: opened again\n"));

    ASSERT_EQ(0, run_Shell("rm /dev/i2c-2"));
    EXPECT_EQ(1, daemon.wait_Exit(generous_seconds)) << daemon.err();
    EXPECT_NE(std::string::npos,
              daemon.err().find("/dev/i2c-2 was replaced and cannot be opened again: No such "
                                "file or directory"))
        << daemon.err();
    EXPECT_NE(std::string::npos, daemon.err().find("[main] main: cannot open /dev/i2c-2, exiting"))
        << daemon.err();
}

TEST_F(HostDaemon, MissingBusEndsWithStatusOne)
{
    std::filesystem::remove("/dev/i2c-2");
    Daemon daemon;
    daemon.start();
    EXPECT_EQ(1, daemon.wait_Exit(generous_seconds));
    EXPECT_EQ("\033[31m[ERROR]\t[I2C Packet] I2C_BMC_Packet_Thread: open() error\033[0m\n"
              "\033[31m[ERROR]\t[main] main: cannot open /dev/i2c-2, exiting\033[0m\n",
              daemon.err());
    // The interface was selected, but no banner: the daemon never got going.
    EXPECT_EQ("[INFO]\t[Network] init_netplan_Config: Generated: /etc/netplan/01-netcfg.yaml\n"
              "[INFO]\t[Network] set_Interface_Name: Interface: eth0, Manager Type: netplan\n",
              daemon.out());
}

// A host that cannot give the daemon its transmit thread: the daemon says
// so instead of blaming the bus.
TEST_F(HostDaemon, TransmitThreadThatCannotStartEndsWithStatusOne)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer runtime must be the first library loaded";
#endif
    Daemon daemon;
    daemon.start({"LD_PRELOAD=" + get_Test_Binary_Dir() + "/liblumerion_no_threads.so"});
    EXPECT_EQ(1, daemon.wait_Exit(generous_seconds));
    // Under qemu the host's own tools, run by the daemon, warn that they cannot preload the library.
    std::string err = daemon.err();
    EXPECT_NE(
        std::string::npos,
        err.find("\033[31m[ERROR]\t[main] main: cannot start the transmit thread for /dev/i2c-2, exiting"
                 "\033[0m\n"));
    EXPECT_EQ(std::string::npos, err.find("cannot open /dev/i2c-2"));
    EXPECT_EQ(std::string::npos, err.find("[I2C Packet]"));
}

TEST_F(HostDaemon, StaticNetplanHostLoadsItsSettings)
{
    write_File("/etc/netplan/01-netcfg.yaml", "network:\n  ethernets:\n    eth0:\n      dhcp4: false\n"
                                              "      addresses: [10.0.0.5/24]\n      gateway4: 10.0.0.1\n"
                                              "      nameservers:\n        addresses: [9.9.9.9]\n");
    Bus_Reader bus;
    Daemon daemon;
    daemon.start({"DEBUG=1"});
    bus.read_Until(7, daemon.started + generous_seconds);
    EXPECT_EQ(7u, bus.packets.size());
    // netplan's files were read (the settings below), by a reader process: nothing of it stays mapped.
    std::string maps = read_File("/proc/" + std::to_string(daemon.get_Pid()) + "/maps");
    ASSERT_FALSE(maps.empty());
    for (const char* library : {"libnetplan", "libglib-2.0", "libgio-2.0", "libgobject-2.0"})
        EXPECT_EQ(std::string::npos, maps.find(library)) << library << " is mapped";
    daemon.stop();
    std::string out = daemon.out();
    std::string selection =
        "[INFO]\t[Network] set_Interface_Name: Interface: eth0, Manager Type: netplan\n"
        "\033[32m[DEBUG]\t[Network] set_Interface_Name: DHCP: 0, IP: 10.0.0.5, Subnetmask: "
        "255.255.255.0, Gateway: 10.0.0.1, DNS1: 9.9.9.9, DNS2: \033[0m\n";
    EXPECT_EQ(selection, out.substr(0, selection.size()));
    EXPECT_NE(std::string::npos, out.find("I2C_BMC_Packet_Thread: thread start"));
    EXPECT_NE(std::string::npos, out.find("set_I2C_Packet_Write: Write Packet length: 34\033[0m\n"));
}

// ifupdown's files, however they source each other, do not hold back the first report.
TEST_F(HostDaemon, SourceFanOutDoesNotHoldTheFirstReport)
{
    ASSERT_EQ(0, run_Shell("cp -r " + std::string(LUMERION_SOURCE_DIR) +
                           "/tests/fixtures/layouts/ifupdown_source_fanout/etc/. /etc/"));
    Bus_Reader bus;
    Daemon daemon;
    daemon.start();
    bus.read_Until(7, daemon.started + generous_seconds);
    EXPECT_EQ(report("192.168.1.10"), bus.packets);
    daemon.stop();
    EXPECT_NE(std::string::npos, daemon.out().find("Interface: eth0, Manager Type: ifupdown\n"))
        << daemon.out();
    EXPECT_EQ("", daemon.err());
}

// A stop while start-up's lookup waits on a tool ends the daemon after that step, before any report.
TEST_F(HostDaemon, StopDuringStartUpEndsItWithStatusZero)
{
    set_Tool_Hang("systemctl", "is-active NetworkManager", 30);
    Bus_Reader bus;
    Daemon daemon;
    daemon.start();
    for (double until = daemon.started + generous_seconds;
         get_Tool_Calls().empty() && get_Monotonic_Seconds() < until;)
        usleep(20 * 1000);
    ASSERT_FALSE(get_Tool_Calls().empty()) << "the lookup never asked systemctl";
    ASSERT_EQ(0, kill(daemon.get_Pid(), SIGTERM));
    EXPECT_EQ(0, daemon.wait_Exit(generous_seconds));
    EXPECT_TRUE(bus.collect(1.0).empty()) << "a report went out after the stop";
    EXPECT_EQ(std::string::npos, daemon.out().find("Main Daemon")) << daemon.out();
}

TEST_F(HostDaemon, UnparsableNetplanFileIsLoggedAndReportsGoOn)
{
    write_File("/etc/netplan/01-netcfg.yaml", "network: {ethernets: [\n");
    Bus_Reader bus;
    Daemon daemon;
    daemon.start();
    bus.read_Until(7, daemon.started + generous_seconds);
    EXPECT_EQ(7u, bus.packets.size());
    EXPECT_TRUE(daemon.running());
    daemon.stop();
    std::string load_error = "\033[31m[ERROR]\t[Network] get_Config: Config File Load Error\033[0m\n";
    std::string expected;
    for (int i = 0; i < 6; ++i)
        expected += load_error;
    EXPECT_EQ(expected, daemon.err());
    EXPECT_EQ("network: {ethernets: [\n", read_File("/etc/netplan/01-netcfg.yaml"));
}

} // namespace
