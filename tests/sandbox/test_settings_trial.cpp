// A settings change as a trial, live: eth0's peer sits in a namespace of its
// own as the gateway (10.0.0.1, answering ARP), each manager applies for real
// (ifupdown's ifup, NetworkManager, a stand-in for "netplan apply" that sets
// what netplan's generator renders), and the change must hold or be undone.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bus_reader.h"
#include "netcfg_cli.h"
#include "nm_instance.h"
#include "process.h"
#include "sandbox.h"
#include "trial_scene.h"

namespace {

const std::string record = record_file;
const std::vector<std::string> config_trees = {"/etc/network", "/etc/netplan", "/etc/NetworkManager"};
const char* const old_settings = "eth0 rolled back to 10.0.0.5/24 via 10.0.0.1";
const int killed = 128 + SIGKILL;

using Manager = Trial_Manager;

// What happens around the change.
enum class Scene {
    PLAIN,            // the operator's CLI waits for the check
    DHCP_SERVER,      // the gateway's namespace serves DHCP (one address, 10.0.0.100, routed via 10.0.0.1)
    OLD_GATEWAY_DEAD, // the gateway stopped answering before the change
    KILLED_APPLIER,   // the CLI is killed mid-window; the running daemon finishes the trial
    WINDOW_CTRL_C,    // Ctrl-C reaches the CLI mid-window: it leaves the trial to the running daemon
    KILLED_MODIFIED,  // the CLI is killed once NetworkManager wrote the modified profile; the daemon finishes
    EARLIER_BOOT,     // the trial's record is from an earlier boot when the daemon starts
    SECOND_SET,       // a second change (with the row's window) is tried while the trial is open
    DAMAGED_RECORD,   // a damaged record stands where the trial's would go
    DHCP_NO_ROUTER,   // the gateway's namespace serves DHCP leases that offer no router
    PINNED_GATEWAY,   // eth0's stanza pins the gateway's neighbour entry (post-up ip neigh ... permanent)
    PINNED_NO_ARP,    // the same, and the gateway does not answer ARP
    FIFO_FILE,        // a FIFO stands at the path of eth0's profile
    INTERRUPTED,      // Ctrl-C reaches the CLI at its owner lookup, before anything is staged or applied
    ROLLBACK_FAILS,   // the manager's apply fails for the old settings, so the rollback cannot finish
    TERMINAL,         // the CLI's standard error is a terminal: it counts down on one line
    HAND_EDIT,        // the netplan file is edited by hand during the window
    DAEMON_KILLED,    // the daemon is killed (SIGTERM, SIGKILL) mid-rollback, the new gateway comes up, it
                      // restarts
    LEASED,           // eth0's stanza is DHCP and eth0 holds its lease (10.0.0.100) before the change
    REBOOTED,         // after the change NetworkManager starts again with /run cleared, as after a reboot
    KILLED_THEN_SET,  // the CLI is killed once its first command ended; with no daemon running, the next
                      // set (`then`, without a window) finishes that change first and is made from the host
                      // as it is then
};

struct Trial_Row {
    const char* name;
    Manager manager;
    Scene scene;
    std::vector<std::string> change; // the set options, before --apply
    int exit_status;                 // of the CLI; "killed" where the daemon finishes the trial
    const char* address_after;       // eth0's address at the end
    bool files_restored;             // the manager's files are byte for byte as before
    const char* said;                // in what the CLI (or the daemon) said
    int window = -1;                 // the window of the change the scene is about; -1: the scene's own
    int dhcp_client = -1;            // 1: a DHCP client for eth0 runs at the end, 0: none does, -1: not asked
    std::vector<std::string> then = {}; // KILLED_THEN_SET: the next set's options
    const char* shown = "";             // KILLED_THEN_SET: in what show prints after it
};

const std::vector<std::string> good_change = {"--static",      "--address", "10.0.0.9", "--netmask",
                                              "255.255.255.0", "--gateway", "10.0.0.1"};
const std::vector<std::string> wrong_gateway = {"--gateway", "10.0.0.99"};
const std::vector<std::string> wrong_gateway_and_name = {"--gateway", "10.0.0.99", "--hostname", "node-7"};
const std::vector<std::string> unserved_subnet = {"--static",      "--address", "192.168.77.9", "--netmask",
                                                  "255.255.255.0", "--gateway", "192.168.77.1"};
const std::vector<std::string> dhcp_change = {"--dhcp"};
const std::vector<std::string> static_wrong_gateway = {"--static",      "--address", "10.0.0.9", "--netmask",
                                                       "255.255.255.0", "--gateway", "10.0.0.99"};
const char* const kept_good = "eth0 holds 10.0.0.9 and gateway 10.0.0.1 answers: the change is kept";
const char* const kept_lease =
    "eth0 holds the lease 10.0.0.100 and its router 10.0.0.1 answers: the change is kept";
const char* const kept_pinned =
    "eth0 holds 10.0.0.9; gateway 10.0.0.1 could not be checked (its neighbour "
    "entry on eth0 is permanent), so the address alone decides: the change is kept";

// Whether a DHCP client for eth0 runs.
bool get_Dhcp_Client_Running()
{
    return run_Process({"/bin/sh", "-c", "pgrep -f 'dhclient.* eth0$'"}).exit_status == 0;
}

// The MAC address of the gateway's side of the link.
std::string get_Peer_Mac()
{
    std::string out = run_Process({"/bin/sh", "-c", "ip -n gw -o link show eth0-peer"}).out;
    size_t at = out.find("link/ether ");
    return at == std::string::npos ? "" : out.substr(at + 11, 17);
}

// The gateway's neighbour entry on eth0 as the kernel shows it, e.g. "10.0.0.1 lladdr ... PERMANENT".
std::string get_Gateway_Neighbour()
{
    return run_Process({"/bin/sh", "-c", "ip neigh show 10.0.0.1 dev eth0"}).out;
}

// The manager's first command runs to its end, then kills the CLI that started it, once: nothing of the
// change runs after that command.
void set_Killed_After_First_Command(Manager manager)
{
    const std::string kill_once =
        "[ -e /run/killed-once ] || { touch /run/killed-once; pkill -KILL -x lumerion-netcfg; }\n";
    const std::string answers = get_Sandbox_Dir() + "/answers/";
    switch (manager) {
    case Manager::NETPLAN:
        write_File(answers + "netplan/apply.run", read_File(answers + "netplan/apply.run") + kill_once);
        break;
    case Manager::IFUPDOWN: {
        const std::string stop = answers + "systemctl/stop networking.service.run";
        write_File(stop, kill_once + read_File(stop));
        break;
    }
    default: {
        // nmcli is the real one: a wrapper of it comes first on the sandbox's PATH.
        const std::string wrapper = get_Sandbox_Dir() + "/bin/nmcli";
        write_File(wrapper,
                   "#!/bin/sh\n/usr/bin/nmcli \"$@\"\nstatus=$?\nif [ \"$1 $2\" = \"con mod\" ]; then\n" +
                       kill_once + "fi\nexit $status\n");
        chmod(wrapper.c_str(), 0755);
        break;
    }
    }
}

class SettingsTrial : public ::testing::TestWithParam<Trial_Row> {
protected:
    void SetUp() override
    {
        std::string why;
        ASSERT_TRUE(set_Trial_Scene(GetParam().manager, &nm, &why)) << why;
    }

    std::unique_ptr<Nm_Instance> nm;
};

// The CLI's change with a short window.
std::vector<std::string> get_Change(const Trial_Row& row, unsigned int seconds)
{
    std::vector<std::string> args = {"set"};
    args.insert(args.end(), row.change.begin(), row.change.end());
    args.insert(args.end(), {"--apply", "--check-seconds", std::to_string(seconds)});
    return args;
}

// The applier sent `signal` once its apply has run, leaving the record for the daemon: its exit status.
int kill_Applier_Mid_Window(const Trial_Row& row, unsigned int seconds, int signal = SIGKILL)
{
    pid_t pid = start_Netcfg(get_Change(row, seconds), get_Sandbox_Dir() + "/killed.err");
    bool applied = wait_For(get_In_Window, generous_seconds);
    kill(pid, signal);
    int status = wait_Exit(pid);
    return applied ? status : -1;
}

TEST_P(SettingsTrial, ChangeHoldsOrIsUndone)
{
    const Trial_Row& row = GetParam();
    auto before = get_Tree_Snapshot(config_trees);
    std::string said;
    int status = -1;
    Bus_Reader bus;
    Daemon_Process daemon;
    switch (row.scene) {
    case Scene::PLAIN:
    case Scene::DHCP_SERVER:
    case Scene::DHCP_NO_ROUTER:
    case Scene::OLD_GATEWAY_DEAD:
    case Scene::PINNED_GATEWAY:
    case Scene::PINNED_NO_ARP:
    case Scene::FIFO_FILE:
    case Scene::LEASED:
    case Scene::REBOOTED:
    case Scene::ROLLBACK_FAILS: {
        if (row.scene == Scene::OLD_GATEWAY_DEAD) {
            ASSERT_EQ(0, run_Shell("ip -n gw addr flush dev eth0-peer"));
        }
        if (row.scene == Scene::DHCP_SERVER || row.scene == Scene::LEASED) {
            ASSERT_EQ(0, run_Shell(get_Dhcp_Server("--dhcp-option=option:router,10.0.0.1")));
        }
        if (row.scene == Scene::LEASED) {
            ASSERT_EQ(
                0, run_Shell("ifdown eth0 && sed -i -e 's/inet static/inet dhcp/' -e '/address\\|gateway/d' "
                             "/etc/network/interfaces && ifup eth0"));
            ASSERT_TRUE(wait_For([] { return get_Eth0_Addresses() == "10.0.0.100/24"; }, generous_seconds))
                << get_Eth0_Addresses();
            ASSERT_TRUE(get_Dhcp_Client_Running());
        }
        if (row.scene == Scene::DHCP_NO_ROUTER) {
            // An option 3 without a value: dnsmasq offers no router at all.
            ASSERT_EQ(0, run_Shell(get_Dhcp_Server("--dhcp-option=3")));
        }
        if (row.scene == Scene::PINNED_GATEWAY || row.scene == Scene::PINNED_NO_ARP) {
            // Pinned as a hardened host pins it: by the stanza, again at every ifup.
            std::string pin =
                "ip neigh replace 10.0.0.1 lladdr " + get_Peer_Mac() + " dev eth0 nud permanent";
            write_File("/etc/network/interfaces",
                       read_File("/etc/network/interfaces") + "\tpost-up " + pin + "\n");
            ASSERT_EQ(0, run_Shell(pin));
        }
        if (row.scene == Scene::PINNED_NO_ARP) {
            ASSERT_EQ(0, run_Shell("ip -n gw link set eth0-peer arp off"));
        }
        if (row.scene == Scene::FIFO_FILE) {
            const std::string keyfile =
                "/etc/NetworkManager/system-connections/Wired connection 1.nmconnection";
            ASSERT_EQ(0, run_Shell("rm '" + keyfile + "' && mkfifo -m 600 '" + keyfile + "'"));
        }
        if (row.scene == Scene::ROLLBACK_FAILS) {
            // netplan's apply fails for the settings before the change.
            write_File(get_Sandbox_Dir() + "/answers/netplan/apply.run",
                       "grep -q 'via: 10.0.0.1$' /etc/netplan/*.yaml && exit 1\n" +
                           read_File(get_Sandbox_Dir() + "/answers/netplan/apply.run"));
        }
        // What the scene prepared is what a rollback must leave.
        before = get_Tree_Snapshot(config_trees);
        // A change that holds ends its window early: on a loaded machine it gets a long one.
        bool holds = row.exit_status == 0 && row.scene != Scene::OLD_GATEWAY_DEAD &&
                     row.scene != Scene::DHCP_NO_ROUTER;
        Process_Result r = netcfg(get_Change(row, holds ? 60 : 4));
        status = r.exit_status;
        said = r.err;
        if (row.scene == Scene::REBOOTED) {
            std::string why;
            ASSERT_TRUE(nm->restart_Cleared(&why)) << why;
        }
        if (row.scene == Scene::PINNED_GATEWAY || row.scene == Scene::PINNED_NO_ARP) {
            EXPECT_NE(std::string::npos, get_Gateway_Neighbour().find("PERMANENT"))
                << get_Gateway_Neighbour();
        }
        break;
    }
    case Scene::TERMINAL: {
        std::string command = LUMERION_NETCFG_PATH;
        for (const std::string& arg : get_Change(row, 4))
            command += " " + arg;
        // A terminal of the sandbox's own: a private devpts instance over the overlay's empty /dev/pts.
        ASSERT_EQ(
            0, run_Shell("mount -t devpts -o newinstance,ptmxmode=0666 devpts /dev/pts && "
                         "{ [ -e /dev/ptmx ] || : > /dev/ptmx; } && mount --bind /dev/pts/ptmx /dev/ptmx"));
        Process_Result r = run_Process({"/usr/bin/script", "-qec", command + " 2>&1", "/dev/null"});
        status = r.exit_status;
        said = r.out;
        // The countdown's line is ended before any line after it.
        size_t last = said.rfind("left \033[K");
        ASSERT_NE(std::string::npos, last) << said;
        EXPECT_EQ(last + 8, said.find("\r\n", last + 8)) << said.substr(last);
        break;
    }
    case Scene::HAND_EDIT: {
        const std::string file = "/etc/netplan/00-installer-config.yaml";
        pid_t pid = start_Netcfg(get_Change(row, 6), get_Sandbox_Dir() + "/edited.err");
        ASSERT_TRUE(wait_For(get_In_Window, generous_seconds));
        write_File(file, read_File(file) + "# edited by hand\n");
        status = wait_Exit(pid);
        said = read_File(get_Sandbox_Dir() + "/edited.err");
        EXPECT_NE(std::string::npos, read_File(file).find("# edited by hand")) << read_File(file);
        break;
    }
    case Scene::DAEMON_KILLED: {
        // The rollback's "netplan apply" (for the old gateway) hangs until /run/no-hang exists.
        const std::string apply = get_Sandbox_Dir() + "/answers/netplan/apply.run";
        write_File(apply, "grep -q 'via: 10.0.0.1$' /etc/netplan/*.yaml && [ ! -e /run/no-hang ] && "
                          "touch /run/rollback-started && exec sleep 600\n" +
                              read_File(apply));
        ASSERT_TRUE(daemon.start(LUMERION_HOSTD_PATH));
        status = kill_Applier_Mid_Window(row, 4);
        ASSERT_TRUE(wait_For([] { return access("/run/rollback-started", F_OK) == 0; }, generous_seconds));
        kill(daemon.get_Pid(), SIGTERM);
        if (daemon.wait_Exit(5) < 0)
            kill(daemon.get_Pid(), SIGKILL);
        daemon.wait_Exit(generous_seconds);
        // The new gateway answers now: a record judged as a live change would keep it.
        ASSERT_EQ(0, run_Shell("pkill -x sleep; touch /run/no-hang && ip -n gw addr add 10.0.0.99/24 dev "
                               "eth0-peer"));
        Daemon_Process again;
        ASSERT_TRUE(again.start(LUMERION_HOSTD_PATH));
        EXPECT_TRUE(wait_For([] { return access(record.c_str(), F_OK) != 0; }, generous_seconds))
            << again.err();
        // A stop between passes ends the daemon cleanly.
        kill(again.get_Pid(), SIGTERM);
        EXPECT_EQ(0, again.wait_Exit(generous_seconds));
        said = again.out() + again.err();
        EXPECT_NE(std::string::npos,
                  run_Process({"/bin/sh", "-c", "ip route show default"}).out.find("via 10.0.0.1 "));
        break;
    }
    case Scene::KILLED_MODIFIED: {
        const std::string keyfile = "/etc/NetworkManager/system-connections/Wired connection 1.nmconnection";
        ASSERT_TRUE(daemon.start(LUMERION_HOSTD_PATH));
        pid_t pid = start_Netcfg(get_Change(row, 4), get_Sandbox_Dir() + "/killed.err");
        ASSERT_TRUE(wait_For([&keyfile] { return read_File(keyfile).find("10.0.0.99") != std::string::npos; },
                             generous_seconds));
        kill(pid, SIGKILL);
        status = wait_Exit(pid);
        EXPECT_TRUE(wait_For([] { return access(record.c_str(), F_OK) != 0; }, generous_seconds))
            << daemon.err();
        said = daemon.out() + daemon.err();
        // NetworkManager's profile in memory, not only the file, holds the settings from before.
        EXPECT_EQ("10.0.0.1\n",
                  nm->nmcli("-g ipv4.gateway con show uuid 3c3f4e2a-6f0e-4d55-9a11-0b6d1c0e7a01"));
        break;
    }
    case Scene::INTERRUPTED: {
        // The CLI looks the owner up once for its reads, at the selection, before any value is staged: that
        // lookup's service query sends Ctrl-C, so that it arrives before anything is staged or applied.
        write_File(get_Sandbox_Dir() + "/answers/systemctl/is-active NetworkManager.run",
                   "n=$(( $(cat /run/lookups 2>/dev/null || echo 0) + 1 )); echo $n > /run/lookups\n"
                   "[ $n -eq 1 ] && pkill -INT -x lumerion-netcfg\nexit 3\n");
        clear_Tool_Calls();
        Process_Result r = netcfg(get_Change(row, 60));
        status = r.exit_status;
        said = r.err;
        EXPECT_EQ(std::vector<std::string>{}, get_Command_Calls()) << said;
        break;
    }
    case Scene::KILLED_APPLIER:
    case Scene::WINDOW_CTRL_C:
    case Scene::EARLIER_BOOT: {
        if (row.scene != Scene::EARLIER_BOOT) {
            ASSERT_TRUE(daemon.start(LUMERION_HOSTD_PATH));
        }
        status = kill_Applier_Mid_Window(row, 4, row.scene == Scene::WINDOW_CTRL_C ? SIGINT : SIGKILL);
        if (row.scene == Scene::EARLIER_BOOT) {
            std::string text = read_File(record);
            size_t boot = text.find("boot ");
            text.replace(boot, text.find('\n', boot) - boot, "boot 00000000-0000-0000-0000-000000000000");
            write_File(record, text);
            ASSERT_TRUE(daemon.start(LUMERION_HOSTD_PATH));
        }
        EXPECT_TRUE(wait_For([] { return access(record.c_str(), F_OK) != 0; }, generous_seconds))
            << daemon.err();
        said = daemon.out() + daemon.err() + read_File(get_Sandbox_Dir() + "/killed.err");
        // Nothing after the apply runs once Ctrl-C came: no hostname is set.
        for (const std::string& call : get_Command_Calls())
            EXPECT_NE(0u, call.rfind("hostnamectl", 0)) << call;
        break;
    }
    case Scene::SECOND_SET: {
        // A window long enough that the second change meets it open, however loaded the machine.
        pid_t first = start_Netcfg(get_Change(row, 20), get_Sandbox_Dir() + "/first.err");
        ASSERT_TRUE(wait_For(get_In_Window, generous_seconds));
        Process_Result second = netcfg({"set", "--dns1", "9.9.9.9", "--apply", "--check-seconds",
                                        std::to_string(row.window < 0 ? 2 : row.window)});
        EXPECT_EQ(1, second.exit_status) << second.err;
        EXPECT_NE(std::string::npos, netcfg({"show"}).out.find("trial: eth0 to 10.0.0.5 via 10.0.0.99"));
        status = wait_Exit(first);
        said = second.err + read_File(get_Sandbox_Dir() + "/first.err");
        break;
    }
    case Scene::KILLED_THEN_SET: {
        set_Killed_After_First_Command(row.manager);
        pid_t pid = start_Netcfg(get_Change(row, 2), get_Sandbox_Dir() + "/killed.err");
        ASSERT_EQ(killed, wait_Exit(pid)) << read_File(get_Sandbox_Dir() + "/killed.err");
        ASSERT_EQ(0, access(record.c_str(), F_OK));
        ASSERT_TRUE(
            wait_For([] { return netcfg({"show"}).out.find("its window has ended") != std::string::npos; },
                     generous_seconds))
            << netcfg({"show"}).out;
        // What a crash between a temporary file and its rename leaves, beside the record and the file
        // edited, goes with the record; names that only look alike stay.
        const std::string edited = row.manager == Manager::NETPLAN ? "/etc/netplan/00-installer-config.yaml"
                                   : row.manager == Manager::IFUPDOWN
                                       ? "/etc/network/interfaces"
                                       : "/etc/NetworkManager/system-connections/"
                                         "Wired connection 1.nmconnection";
        const std::string directory = edited.substr(0, edited.rfind('/') + 1);
        const std::string name = edited.substr(directory.size());
        const std::vector<std::string> leftovers = {"/var/lib/lumerion-hostd/.trial.Q1w2E3",
                                                    directory + "." + name + ".a9B8c7"};
        const std::vector<std::string> look_alikes = {"/var/lib/lumerion-hostd/.trial.Q1w2E",
                                                      "/var/lib/lumerion-hostd/.trial.Q1w2E3x",
                                                      directory + "." + name + "x.a9B8c7"};
        for (const std::string& path : leftovers)
            write_File(path, "saved bytes\n");
        for (const std::string& path : look_alikes)
            write_File(path, "not ours\n");
        std::vector<std::string> next = {"set"};
        next.insert(next.end(), row.then.begin(), row.then.end());
        next.insert(next.end(), {"--apply", "--check-seconds", "0"});
        Process_Result r = netcfg(next);
        status = r.exit_status;
        said = r.err;
        EXPECT_NE(std::string::npos,
                  said.find("lumerion-netcfg: an earlier change to eth0 was left unfinished and is finished "
                            "first: "))
            << said;
        for (const std::string& path : leftovers)
            EXPECT_NE(0, access(path.c_str(), F_OK)) << path;
        for (const std::string& path : look_alikes) {
            EXPECT_EQ("not ours\n", read_File(path)) << path;
            unlink(path.c_str());
        }
        std::string shown = netcfg({"show"}).out;
        EXPECT_NE(std::string::npos, shown.find(row.shown)) << shown;
        EXPECT_NE(std::string::npos,
                  run_Process({"/bin/sh", "-c", "ip route show default"}).out.find("via 10.0.0.1 "));
        break;
    }
    case Scene::DAMAGED_RECORD: {
        ASSERT_EQ(0, run_Shell("mkdir -m 700 /var/lib/lumerion-hostd"));
        write_File(record, "lumerion-hostd settings trial\nversion 9\n");
        Process_Result r =
            netcfg(get_Change(row, row.window < 0 ? 4 : static_cast<unsigned int>(row.window)));
        status = r.exit_status;
        said = r.err + netcfg({"show"}).out;
        EXPECT_EQ("lumerion-hostd settings trial\nversion 9\n", read_File(record));
        break;
    }
    }
    EXPECT_EQ(row.exit_status, status) << said;
    ASSERT_STRNE("", row.said) << "a row must say what it expects to be said";
    EXPECT_NE(std::string::npos, said.find(row.said)) << said;
    EXPECT_TRUE(wait_For([&row] { return get_Eth0_Addresses() == row.address_after; }, generous_seconds))
        << get_Eth0_Addresses();
    EXPECT_EQ(row.files_restored, before == get_Tree_Snapshot(config_trees));
    if (row.dhcp_client >= 0) {
        EXPECT_EQ(row.dhcp_client == 1, get_Dhcp_Client_Running());
    }
    if (row.scene != Scene::DAMAGED_RECORD) {
        EXPECT_NE(0, access(record.c_str(), F_OK)) << read_File(record);
    }
}

// Rows per manager: a good change, a wrong gateway, an unserved subnet, DHCP
// without a server; the scenes around a change run on one manager each.
INSTANTIATE_TEST_SUITE_P(
    Live, SettingsTrial,
    ::testing::Values(
        Trial_Row{"ifupdown_good", Manager::IFUPDOWN, Scene::PLAIN, good_change, 0, "10.0.0.9/24", false,
                  kept_good},
        Trial_Row{
            "ifupdown_wrong_gateway", Manager::IFUPDOWN, Scene::PLAIN, wrong_gateway, 3, "10.0.0.5/24", true,
            "gateway 10.0.0.99 did not answer within 4 s: eth0 rolled back to 10.0.0.5/24 via 10.0.0.1"},
        Trial_Row{"ifupdown_unserved_subnet", Manager::IFUPDOWN, Scene::PLAIN, unserved_subnet, 3,
                  "10.0.0.5/24", true, "gateway 192.168.77.1 did not answer within 4 s"},
        // From static to DHCP eth0 holds only its lease; rolled back, only its address and no DHCP client.
        Trial_Row{"ifupdown_dhcp_without_server", Manager::IFUPDOWN, Scene::PLAIN, dhcp_change, 3,
                  "10.0.0.5/24", true, old_settings, -1, 0},
        Trial_Row{"ifupdown_dhcp_lease", Manager::IFUPDOWN, Scene::DHCP_SERVER, dhcp_change, 0,
                  "10.0.0.100/24", false, kept_lease, -1, 1},
        // From DHCP to static no DHCP client for eth0 remains to take the address away when its lease ends;
        // rolled back, eth0 holds its lease again.
        Trial_Row{"ifupdown_lease_to_static", Manager::IFUPDOWN, Scene::LEASED, good_change, 0, "10.0.0.9/24",
                  false, kept_good, -1, 0},
        Trial_Row{"ifupdown_lease_to_static_rolled_back", Manager::IFUPDOWN, Scene::LEASED,
                  static_wrong_gateway, 3, "10.0.0.100/24", true,
                  "eth0 rolled back to 10.0.0.100/24 via 10.0.0.1", -1, 1},
        Trial_Row{"ifupdown_dhcp_no_router", Manager::IFUPDOWN, Scene::DHCP_NO_ROUTER, dhcp_change, 0,
                  "10.0.0.100/24", false,
                  "eth0 holds the lease 10.0.0.100/24, which offers no router: the change is kept"},
        Trial_Row{"ifupdown_pinned_gateway", Manager::IFUPDOWN, Scene::PINNED_GATEWAY, good_change, 0,
                  "10.0.0.9/24", false, kept_pinned},
        Trial_Row{"ifupdown_pinned_gateway_without_arp", Manager::IFUPDOWN, Scene::PINNED_NO_ARP, good_change,
                  0, "10.0.0.9/24", false, kept_pinned},
        // A pinned gateway before the change is unchecked, never silent: it does not keep a failed change.
        Trial_Row{
            "ifupdown_pinned_gateway_without_arp_wrong_gateway", Manager::IFUPDOWN, Scene::PINNED_NO_ARP,
            wrong_gateway, 3, "10.0.0.5/24", true,
            "gateway 10.0.0.99 did not answer within 4 s: eth0 rolled back to 10.0.0.5/24 via 10.0.0.1; the "
            "old gateway 10.0.0.1 could not be checked (its neighbour entry on eth0 is permanent)"},
        Trial_Row{"ifupdown_interrupted_before_apply", Manager::IFUPDOWN, Scene::INTERRUPTED, good_change,
                  130, "10.0.0.5/24", true, "interrupted: nothing was changed"},
        Trial_Row{"ifupdown_old_gateway_dead", Manager::IFUPDOWN, Scene::OLD_GATEWAY_DEAD, wrong_gateway, 0,
                  "10.0.0.5/24", false, "the gateway before it did not answer either"},
        Trial_Row{"ifupdown_earlier_boot", Manager::IFUPDOWN, Scene::EARLIER_BOOT, wrong_gateway, killed,
                  "10.0.0.5/24", true, "from an earlier boot is judged in 4 s"},
        Trial_Row{"netplan_good", Manager::NETPLAN, Scene::PLAIN, good_change, 0, "10.0.0.9/24", false,
                  kept_good},
        Trial_Row{"netplan_wrong_gateway", Manager::NETPLAN, Scene::PLAIN, wrong_gateway, 3, "10.0.0.5/24",
                  true, old_settings},
        Trial_Row{"netplan_unserved_subnet", Manager::NETPLAN, Scene::PLAIN, unserved_subnet, 3,
                  "10.0.0.5/24", true, old_settings},
        Trial_Row{"netplan_killed_applier", Manager::NETPLAN, Scene::KILLED_APPLIER, wrong_gateway, killed,
                  "10.0.0.5/24", true, old_settings},
        Trial_Row{"netplan_ctrl_c_in_window", Manager::NETPLAN, Scene::WINDOW_CTRL_C, wrong_gateway_and_name,
                  130, "10.0.0.5/24", true,
                  "the trial is left to the daemon, which keeps the change or rolls it back "
                  "when its window ends; --hostname node-7 was not done"},
        Trial_Row{"netplan_second_set", Manager::NETPLAN, Scene::SECOND_SET, wrong_gateway, 3, "10.0.0.5/24",
                  true, "a settings trial is open on eth0 and ends in"},
        Trial_Row{"netplan_second_set_without_window", Manager::NETPLAN, Scene::SECOND_SET, wrong_gateway, 3,
                  "10.0.0.5/24", true, "a settings trial is open on eth0 and ends in", 0},
        Trial_Row{"netplan_damaged_record", Manager::NETPLAN, Scene::DAMAGED_RECORD, good_change, 1,
                  "10.0.0.5/24", true, "is damaged or of another version (format version 9, not 1 to 3)"},
        Trial_Row{"netplan_damaged_record_without_window", Manager::NETPLAN, Scene::DAMAGED_RECORD,
                  good_change, 1, "10.0.0.5/24", true, "is damaged or of another version", 0},
        Trial_Row{"netplan_wrong_gateway_on_a_terminal", Manager::NETPLAN, Scene::TERMINAL, wrong_gateway, 3,
                  "10.0.0.5/24", true, old_settings},
        Trial_Row{
            "netplan_hand_edit_in_window", Manager::NETPLAN, Scene::HAND_EDIT, wrong_gateway, 3,
            "10.0.0.5/24", false,
            "eth0 rolled back to 10.0.0.5/24 via 10.0.0.1 (but for /etc/netplan/00-installer-config.yaml, "
            "which was changed since and is left as it is)"},
        Trial_Row{"netplan_daemon_killed_in_rollback", Manager::NETPLAN, Scene::DAEMON_KILLED, wrong_gateway,
                  killed, "10.0.0.5/24", true,
                  "a rollback of eth0 was cut short: eth0 rolled back to 10.0.0.5/24 via 10.0.0.1"},
        Trial_Row{"netplan_rollback_fails", Manager::NETPLAN, Scene::ROLLBACK_FAILS, wrong_gateway, 4,
                  "10.0.0.5/24", true,
                  "lumerion-netcfg: the rollback failed: eth0 may be off its old settings"},
        Trial_Row{"network_manager_good", Manager::NETWORK_MANAGER, Scene::PLAIN, good_change, 0,
                  "10.0.0.9/24", false, kept_good},
        Trial_Row{"network_manager_fifo_profile", Manager::NETWORK_MANAGER, Scene::FIFO_FILE, wrong_gateway,
                  1, "10.0.0.5/24", true,
                  "cannot read /etc/NetworkManager/system-connections/Wired connection 1.nmconnection: not a "
                  "regular file: nothing is changed"},
        Trial_Row{"network_manager_killed_after_modify", Manager::NETWORK_MANAGER, Scene::KILLED_MODIFIED,
                  wrong_gateway, killed, "10.0.0.5/24", true, old_settings},
        Trial_Row{"network_manager_wrong_gateway", Manager::NETWORK_MANAGER, Scene::PLAIN, wrong_gateway, 3,
                  "10.0.0.5/24", true, old_settings},
        Trial_Row{"network_manager_unserved_subnet", Manager::NETWORK_MANAGER, Scene::PLAIN, unserved_subnet,
                  3, "10.0.0.5/24", true, old_settings},
        // NetworkManager's own profile under /run: after a rollback and a reboot eth0 is on its lease again,
        // as no keyfile the change made is left under /etc; after a kept change, it has the new settings.
        Trial_Row{"network_manager_default_rolled_back_then_reboot", Manager::NETWORK_MANAGER_DEFAULT,
                  Scene::REBOOTED, static_wrong_gateway, 3, "10.0.0.100/24", true,
                  "eth0 rolled back to 10.0.0.100/24 via 10.0.0.1"},
        Trial_Row{"network_manager_default_kept_then_reboot", Manager::NETWORK_MANAGER_DEFAULT,
                  Scene::REBOOTED, good_change, 0, "10.0.0.9/24", false, kept_good},
        // A profile another tool made under /run goes back there, with nothing left under /etc.
        Trial_Row{"network_manager_runtime_profile_rolled_back", Manager::NETWORK_MANAGER_RUNTIME,
                  Scene::PLAIN, wrong_gateway, 3, "10.0.0.5/24", true, old_settings},
        // Killed after the first command, the next set with no daemon running: the earlier change is rolled
        // back first, and the new one is made from the host as it is then, and kept.
        Trial_Row{"ifupdown_killed_then_set", Manager::IFUPDOWN, Scene::KILLED_THEN_SET, wrong_gateway, 0,
                  "10.0.0.9/24", false, old_settings, -1, -1, good_change, "gateway: 10.0.0.1\n"},
        Trial_Row{"netplan_killed_then_set",
                  Manager::NETPLAN,
                  Scene::KILLED_THEN_SET,
                  wrong_gateway,
                  0,
                  "10.0.0.5/24",
                  false,
                  old_settings,
                  -1,
                  -1,
                  {"--dns1", "10.0.0.3"},
                  "gateway: 10.0.0.1\ndns1: 10.0.0.3\n"},
        Trial_Row{"network_manager_killed_then_set",
                  Manager::NETWORK_MANAGER,
                  Scene::KILLED_THEN_SET,
                  wrong_gateway,
                  0,
                  "10.0.0.5/24",
                  false,
                  old_settings,
                  -1,
                  -1,
                  {"--dns1", "10.0.0.3"},
                  "gateway: 10.0.0.1\ndns1: 10.0.0.3\n"},
        Trial_Row{"network_manager_dhcp_lease", Manager::NETWORK_MANAGER, Scene::DHCP_SERVER, dhcp_change, 0,
                  "10.0.0.100/24", false, kept_lease},
        Trial_Row{"network_manager_dhcp_without_server", Manager::NETWORK_MANAGER, Scene::PLAIN, dhcp_change,
                  3, "10.0.0.5/24", true, old_settings}),
    [](const ::testing::TestParamInfo<Trial_Row>& info) { return std::string(info.param.name); });

} // namespace
