#include "trial_scene.h"

#include <sys/wait.h>
#include <unistd.h>

#include "bus_reader.h"

#include "host_paths.h"
#include "process.h"
#include "sandbox.h"

namespace {

const std::string layouts = std::string(LUMERION_SOURCE_DIR) + "/tests/fixtures/layouts/";

// "netplan apply" as it acts on eth0: what the real generator renders for it, set by hand.
const char* const netplan_apply_stand_in = R"(/usr/sbin/netplan generate || exit 1
f=/run/systemd/network/10-netplan-eth0.network
ip addr flush dev eth0
for a in $(sed -n 's/^Address=//p' "$f"); do ip addr add "$a" dev eth0 || exit 1; done
for g in $(sed -n 's/^Gateway=//p' "$f"); do ip route replace default via "$g" dev eth0 || exit 1; done
)";

// Debian 12's networking.service, its ExecStop and ExecStopPost, then its ExecStart lines, with the
// real ifdown and ifup: nothing more.
const char* const networking_stop_stand_in = R"(/sbin/ifdown -a --read-environment --exclude=lo
status=$?
/usr/bin/touch /run/network/restart-hotplug
exit $status
)";
const char* const networking_start_stand_in = R"(/sbin/ifup -a --read-environment || exit $?
/bin/sh -c 'if [ -f /run/network/restart-hotplug ]; then /sbin/ifup -a --read-environment --allow=hotplug; fi'
exit 0
)";

bool run_Step(const std::string& command, std::string* why)
{
    if (run_Shell(command) == 0)
        return true;
    *why = "failed: " + command;
    return false;
}

} // namespace

const char* const record_file = "/var/lib/lumerion-hostd/trial";

bool get_In_Window()
{
    std::string text = read_File(record_file);
    return text.find("phase applying") != std::string::npos &&
           text.find("step pending") == std::string::npos && text.find("step started") == std::string::npos;
}

bool wait_For(const std::function<bool()>& done, double seconds)
{
    double deadline = get_Monotonic_Seconds() + seconds;
    while (!done()) {
        if (get_Monotonic_Seconds() > deadline)
            return false;
        usleep(50000);
    }
    return true;
}

int wait_Exit(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string get_Dhcp_Server(const std::string& options)
{
    return "ip netns exec gw dnsmasq --conf-file=/dev/null --user=root --port=0 --no-ping "
           "--interface=eth0-peer "
           "--bind-interfaces --dhcp-range=10.0.0.100,10.0.0.100,1h --dhcp-leasefile=/run/gw.leases "
           "--pid-file=/run/gw-dnsmasq.pid " +
           options;
}

std::string get_Eth0_Addresses()
{
    std::string out;
    Process_Result r = run_Process({"/bin/sh", "-c", "ip -4 -o addr show dev eth0"});
    size_t at = 0;
    while ((at = r.out.find("inet ", at)) != std::string::npos) {
        at += 5;
        out += (out.empty() ? "" : " ") + r.out.substr(at, r.out.find(' ', at) - at);
    }
    return out;
}

bool set_Trial_Scene(Trial_Manager manager, std::unique_ptr<Nm_Instance>* nm, std::string* why)
{
    make_Manager_Directories();
    if (!run_Step("ip netns add gw && ip link set eth0-peer netns gw && ip -n gw link set eth0-peer up && "
                  "ip -n gw addr add 10.0.0.1/24 dev eth0-peer && ip link set eth0 down && "
                  "ip link set eth0 address 52:54:00:12:34:56 && ip link set eth0 up",
                  why))
        return false;
    const std::string answers = get_Sandbox_Dir() + "/answers/";
    switch (manager) {
    case Trial_Manager::IFUPDOWN:
        if (!run_Step("cp -r " + layouts + "ifupdown_installer/etc/. /etc/ && mkdir -p /run/network", why))
            return false;
        // A DHCP client that gives up soon, so that a server that is not there fails the apply.
        write_File("/etc/dhcp/dhclient.conf", "timeout 5;\nretry 1;\n");
        set_Tool_Answer("systemctl", "stop networking.service", "");
        write_File(answers + "systemctl/stop networking.service.run", networking_stop_stand_in);
        set_Tool_Answer("systemctl", "start networking.service", "");
        write_File(answers + "systemctl/start networking.service.run", networking_start_stand_in);
        set_Tool_Answer("systemctl", "is-active NetworkManager", "inactive\n", 3);
        if (!run_Step("ifup eth0", why))
            return false;
        break;
    case Trial_Manager::NETPLAN:
        if (!run_Step("cp -r " + layouts + "installer/etc/. /etc/ && chmod 600 /etc/netplan/*", why))
            return false;
        set_Tool_Answer("netplan", "apply", "");
        write_File(answers + "netplan/apply.run", netplan_apply_stand_in);
        set_Tool_Answer("systemctl", "is-active NetworkManager", "inactive\n", 3);
        if (!run_Step("netplan apply", why))
            return false;
        break;
    case Trial_Manager::NETWORK_MANAGER:
        if (!run_Step("cp -r " + layouts +
                          "nm_other_name/etc/. /etc/ && chmod 600 /etc/NetworkManager/system-connections/*",
                      why))
            return false;
        nm->reset(new Nm_Instance());
        if (!(*nm)->start(why))
            return false;
        if (!(*nm)->wait_Device("eth0:connected", 60)) {
            *why = "eth0 did not connect: " + (*nm)->log();
            return false;
        }
        set_Tool_Answer("systemctl", "is-active NetworkManager", "active\n");
        break;
    case Trial_Manager::NETWORK_MANAGER_DEFAULT:
    case Trial_Manager::NETWORK_MANAGER_RUNTIME: {
        bool automatic = manager == Trial_Manager::NETWORK_MANAGER_DEFAULT;
        if (!run_Step("rm -f /etc/NetworkManager/system-connections/*", why) ||
            (automatic && !run_Step(get_Dhcp_Server("--dhcp-option=option:router,10.0.0.1"), why)))
            return false;
        nm->reset(new Nm_Instance());
        if (!(*nm)->start(why, automatic))
            return false;
        if (!automatic &&
            !run_Step("/usr/bin/nmcli con add type ethernet ifname eth0 con-name lab ipv4.method manual "
                      "ipv4.addresses 10.0.0.5/24 ipv4.gateway 10.0.0.1 save no >/dev/null && "
                      "/usr/bin/nmcli con up lab >/dev/null",
                      why))
            return false;
        if (!(*nm)->wait_Device("eth0:connected", 60)) {
            *why = "eth0 did not connect: " + (*nm)->log();
            return false;
        }
        set_Tool_Answer("systemctl", "is-active NetworkManager", "active\n");
        break;
    }
    }
    const std::string start =
        manager == Trial_Manager::NETWORK_MANAGER_DEFAULT ? "10.0.0.100/24" : "10.0.0.5/24";
    for (int i = 0; i < 100 && get_Eth0_Addresses() != start; ++i)
        run_Shell("sleep 0.1");
    if (get_Eth0_Addresses() != start) {
        *why = "eth0 holds " + get_Eth0_Addresses() + ", not " + start;
        return false;
    }
    // The profile lives under /run alone: nothing under /etc holds it.
    if ((manager == Trial_Manager::NETWORK_MANAGER_DEFAULT ||
         manager == Trial_Manager::NETWORK_MANAGER_RUNTIME) &&
        (*nm)->nmcli("-t -f FILENAME con show --active").find("/run/NetworkManager/") == std::string::npos) {
        *why = "the profile is not held under /run: " + (*nm)->nmcli("-t -f FILENAME con show --active");
        return false;
    }
    return true;
}
