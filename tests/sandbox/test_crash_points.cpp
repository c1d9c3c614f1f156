// A change, or the daemon's rollback of one, killed just before each of its
// step-boundary calls in turn (the crash stopper, preloaded, counts them),
// each time from the same fresh host, and finished by whoever finds its record
// next: the daemon at its next start, or the next set with no daemon running.
// The host's files end byte for byte as before or as the change wrote them,
// eth0 holds what they say, nothing is left behind, and the next change is kept.
//
// Every point is run when LUMERION_CRASH_EVERY is 1 (scripts/crash-points);
// by default every fourth, from a point that rotates from run to run
// (LUMERION_CRASH_FROM fixes it).
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "bus_reader.h"
#include "netcfg_cli.h"
#include "nm_instance.h"
#include "process.h"
#include "sandbox.h"
#include "trial_scene.h"

namespace {

using Manager = Trial_Manager;
using Snapshot = std::map<std::string, std::string>;

const int killed = 128 + SIGKILL;
const char* const state_directory = "/var/lib/lumerion-hostd";
const char* const old_address = "10.0.0.5/24";

// A host of one manager: the trees a change on it may touch, and how eth0 comes to hold what its files say
// from whatever a kill left it in.
struct Crash_Host {
    Manager manager;
    std::vector<std::string> trees;
    const char* reapply;
};

const std::vector<Crash_Host> hosts = {
    {Manager::NETPLAN, {"/etc/netplan", state_directory}, "netplan apply"},
    {Manager::IFUPDOWN,
     {"/etc/network", state_directory},
     "pkill -f 'dhclient.* eth0$'; rm -f /run/network/ifstate.eth0; sed -i '/^eth0=/d' /run/network/ifstate; "
     "ip addr flush dev eth0 && ifup eth0 >/dev/null 2>&1"},
    {Manager::NETWORK_MANAGER,
     {"/etc/NetworkManager/system-connections", state_directory},
     "/usr/bin/nmcli con reload && /usr/bin/nmcli con up id 'Wired connection 1' ifname eth0 >/dev/null"},
};

// Which process a scene kills: the CLI making the change, or the daemon rolling back an abandoned one.
enum class Killed { CLI, DAEMON };
// Who finds the killed process's record next.
enum class Finisher { DAEMON, NEXT_SET };

struct Crash_Row {
    const char* name;
    Manager manager;
    Killed killed;
    Finisher finisher;
    std::vector<std::string> change;
    int window;                // the change's window in seconds
    const char* address_after; // once the change is kept; "" where it is always rolled back
    bool dhcp_server;          // the gateway serves DHCP
};

const std::vector<std::string> good_change = {"--static",      "--address", "10.0.0.9", "--netmask",
                                              "255.255.255.0", "--gateway", "10.0.0.1"};
const std::vector<std::string> wrong_gateway = {"--gateway", "10.0.0.99"};
const std::vector<std::string> next_change = {"set", "--dns1", "9.9.9.9", "--apply", "--check-seconds", "0"};

const Crash_Host& get_Host(Manager manager)
{
    for (const Crash_Host& host : hosts)
        if (host.manager == manager)
            return host;
    return hosts.front();
}

long get_Setting(const char* name, long otherwise)
{
    const char* text = getenv(name);
    return text != nullptr && *text != 0 ? strtol(text, nullptr, 10) : otherwise;
}

std::string get_Preload()
{
    return "LD_PRELOAD=" + get_Test_Binary_Dir() + "/liblumerion_crash_stopper.so";
}

// The trees as they are now, kept under `copy` to be put back later.
int set_Trees_Saved(const Crash_Host& host, const std::string& copy)
{
    std::string command = "rm -rf " + copy + " && mkdir -p " + copy;
    for (const std::string& tree : host.trees)
        command += " && { [ ! -e " + tree + " ] || { mkdir -p " + copy + tree.substr(0, tree.rfind('/')) +
                   " && cp -a " + tree + " " + copy + tree + "; }; }";
    return run_Shell(command);
}

// The trees put back from `copy` (a tree it lacks is removed), and eth0 brought to what they say.
int set_Trees_Restored(const Crash_Host& host, const std::string& copy)
{
    std::string command = "true";
    for (const std::string& tree : host.trees)
        command += " && rm -rf " + tree + " && { [ ! -e " + copy + tree + " ] || cp -a " + copy + tree + " " +
                   tree + "; }";
    return run_Shell(command + " && " + host.reapply);
}

// The trees' files with their modes; NetworkManager stamps a keyfile it saves with the time of the profile's
// last activation, which is its own and no part of the change.
Snapshot get_Snapshot(const Crash_Host& host)
{
    Snapshot files = get_Tree_Snapshot(host.trees);
    for (auto& file : files)
        file.second = std::regex_replace(file.second, std::regex("\ntimestamp=[0-9]+\n"), "\ntimestamp=\n");
    return files;
}

// Where a snapshot differs from both states a crash may leave.
std::string get_Difference(const Snapshot& now, const Snapshot& before, const Snapshot& after)
{
    std::string text;
    for (const auto& file : now)
        if (before.count(file.first) == 0 && after.count(file.first) == 0)
            text += "left behind: " + file.first + "\n";
        else if (before.count(file.first) != 0 && before.at(file.first) != file.second &&
                 (after.count(file.first) == 0 || after.at(file.first) != file.second))
            text += "neither before nor after: " + file.first + "\n" + file.second + "\n--- after:\n" +
                    (after.count(file.first) != 0 ? after.at(file.first) : "(none)") + "\n";
    for (const auto& file : before)
        if (now.count(file.first) == 0 && after.count(file.first) == 0)
            text += "gone: " + file.first + "\n";
    return text;
}

class CrashPoints : public ::testing::TestWithParam<Crash_Row> {
protected:
    void SetUp() override
    {
        std::string why;
        ASSERT_TRUE(set_Trial_Scene(GetParam().manager, &nm, &why)) << why;
        if (GetParam().dhcp_server) {
            ASSERT_EQ(0, run_Shell(get_Dhcp_Server("--dhcp-option=option:router,10.0.0.1")));
        }
    }

    std::vector<std::string> get_Change() const
    {
        std::vector<std::string> args = {"set"};
        args.insert(args.end(), GetParam().change.begin(), GetParam().change.end());
        args.insert(args.end(), {"--apply", "--check-seconds", std::to_string(GetParam().window)});
        return args;
    }

    // The killed process run up to its call `point` (0: to its end), its calls counted into `count_file`
    // when one is given; false when it ended some other way than planned.
    bool run_Killed(long point, const std::string& count_file)
    {
        std::vector<std::string> env = {get_Preload(), "LUMERION_CRASH_AT=" + std::to_string(point)};
        if (!count_file.empty())
            env.push_back("LUMERION_CRASH_COUNT=" + count_file);
        if (GetParam().killed == Killed::CLI) {
            std::vector<std::string> argv = {"/usr/bin/env"};
            argv.insert(argv.end(), env.begin(), env.end());
            argv.push_back(LUMERION_NETCFG_PATH);
            const std::vector<std::string> change = get_Change();
            argv.insert(argv.end(), change.begin(), change.end());
            Process_Result run = run_Process(argv);
            const int expected = point > 0 ? killed : GetParam().address_after[0] != 0 ? 0 : 3;
            EXPECT_EQ(expected, run.exit_status) << run.err;
            return run.exit_status == expected;
        }
        // The daemon's rollback: it ends once the record is gone, or at its kill.
        (void)unlink((get_Sandbox_Dir() + "/daemon.out").c_str());
        Daemon_Process daemon;
        if (!daemon.start(LUMERION_HOSTD_PATH, env))
            return false;
        const bool ended =
            wait_For([&daemon] { return !daemon.running() || get_Daemon_Done(daemon); }, generous_seconds);
        EXPECT_TRUE(ended) << daemon.out() << daemon.err();
        return ended;
    }

    // Start-up is done once the daemon names eth0's manager; a record is finished after that.
    static bool get_Daemon_Done(const Daemon_Process& daemon)
    {
        return daemon.out().find("Interface: eth0") != std::string::npos && access(record_file, F_OK) != 0;
    }

    // The record of the killed process finished by the row's finisher.
    void set_Finished()
    {
        if (GetParam().finisher == Finisher::DAEMON) {
            // The last run's output is gone first: under emulation the spawn may return before it is cut.
            (void)unlink((get_Sandbox_Dir() + "/daemon.out").c_str());
            Daemon_Process daemon;
            ASSERT_TRUE(daemon.start(LUMERION_HOSTD_PATH));
            EXPECT_TRUE(wait_For([&daemon] { return get_Daemon_Done(daemon); }, generous_seconds))
                << daemon.out() << daemon.err();
            return;
        }
        // The next change finishes the record once its window has ended, then is made and kept.
        Process_Result finished;
        EXPECT_TRUE(wait_For(
            [&finished] {
                finished = netcfg(next_change);
                return finished.err.find("a settings trial is open") == std::string::npos;
            },
            generous_seconds));
        EXPECT_EQ(0, finished.exit_status) << finished.err;
    }

    std::unique_ptr<Nm_Instance> nm;
};

TEST_P(CrashPoints, EveryKillLeavesTheFilesAsBeforeOrAfter)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer runtime must be the first library loaded";
#endif
    const Crash_Row& row = GetParam();
    const Crash_Host& host = get_Host(row.manager);
    const bool next_set = row.finisher == Finisher::NEXT_SET;
    const std::string fresh = "/run/crash-fresh", start = "/run/crash-start";
    ASSERT_EQ(0, set_Trees_Saved(host, fresh));
    // The two states a crash may leave, each also as the next change makes it of them: the host as it was,
    // and as the killed process run whole leaves it.
    const Snapshot before = get_Snapshot(host);
    ASSERT_EQ(0, netcfg(next_change).exit_status);
    const Snapshot before_next = get_Snapshot(host);
    ASSERT_EQ(0, set_Trees_Restored(host, fresh));
    if (row.killed == Killed::DAEMON) {
        // The daemon starts on a change whose CLI was killed in its window: eth0 is on the new settings.
        pid_t pid = start_Netcfg(get_Change(), get_Sandbox_Dir() + "/abandoned.err");
        const bool in_window = wait_For(get_In_Window, generous_seconds);
        kill(pid, SIGKILL);
        ASSERT_EQ(killed, wait_Exit(pid));
        ASSERT_TRUE(in_window);
    }
    ASSERT_EQ(0, set_Trees_Saved(host, start));
    const std::string count_file = get_Sandbox_Dir() + "/crash-count";
    ASSERT_TRUE(run_Killed(0, count_file));
    const Snapshot after = get_Snapshot(host);
    ASSERT_EQ(row.address_after[0] == 0, before == after);
    ASSERT_EQ(0, netcfg(next_change).exit_status);
    const Snapshot after_next = get_Snapshot(host);
    const long points = std::stol(read_File(count_file));
    ASSERT_GT(points, 5);
    const long every = std::max(1L, get_Setting("LUMERION_CRASH_EVERY", 4));
    const long from = get_Setting("LUMERION_CRASH_FROM", static_cast<long>(time(nullptr))) % every;
    std::printf("%s: %ld points, every %ld from %ld\n", row.name, points, every, from + 1);
    Bus_Reader bus;
    for (long point = from + 1; point <= points; point += every) {
        SCOPED_TRACE("killed before call " + std::to_string(point) + " of " + std::to_string(points));
        ASSERT_EQ(0, set_Trees_Restored(host, start));
        ASSERT_TRUE(run_Killed(point, ""));
        set_Finished();
        const Snapshot& was = next_set ? before_next : before;
        const Snapshot& made = next_set ? after_next : after;
        const Snapshot now = get_Snapshot(host);
        EXPECT_TRUE(now == was || now == made) << get_Difference(now, was, made);
        EXPECT_NE(0, access(record_file, F_OK));
        const bool changed = row.address_after[0] != 0 && now == made;
        const std::string held = changed ? row.address_after : old_address;
        EXPECT_TRUE(wait_For([&held] { return get_Eth0_Addresses() == held; }, generous_seconds))
            << get_Eth0_Addresses() << ", not " << held;
        EXPECT_NE(std::string::npos,
                  run_Process({"/bin/sh", "-c", "ip route show default"}).out.find("via 10.0.0.1 "));
        // A lease is held by a DHCP client that runs while the files say DHCP, and by none after a rollback.
        if (row.dhcp_server) {
            EXPECT_EQ(changed, run_Shell("pgrep -f 'dhclient.* eth0$' >/dev/null") == 0);
        }
        if (!next_set) {
            Process_Result following = netcfg(next_change);
            EXPECT_EQ(0, following.exit_status) << following.err;
        }
        if (::testing::Test::HasFailure())
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Changes, CrashPoints,
    ::testing::Values(
        Crash_Row{"netplan_kept_daemon", Manager::NETPLAN, Killed::CLI, Finisher::DAEMON, good_change, 2,
                  "10.0.0.9/24", false},
        Crash_Row{"netplan_kept_next_set", Manager::NETPLAN, Killed::CLI, Finisher::NEXT_SET, good_change, 2,
                  "10.0.0.9/24", false},
        // The rollback's own steps are points too: whoever comes next finishes a rollback cut short.
        Crash_Row{"netplan_rolled_back_daemon", Manager::NETPLAN, Killed::CLI, Finisher::DAEMON,
                  wrong_gateway, 2, "", false},
        Crash_Row{"netplan_rolled_back_next_set", Manager::NETPLAN, Killed::CLI, Finisher::NEXT_SET,
                  wrong_gateway, 2, "", false},
        Crash_Row{"netplan_daemon_rollback_daemon", Manager::NETPLAN, Killed::DAEMON, Finisher::DAEMON,
                  wrong_gateway, 2, "", false},
        Crash_Row{"netplan_daemon_rollback_next_set", Manager::NETPLAN, Killed::DAEMON, Finisher::NEXT_SET,
                  wrong_gateway, 2, "", false},
        Crash_Row{"ifupdown_to_dhcp_daemon",
                  Manager::IFUPDOWN,
                  Killed::CLI,
                  Finisher::DAEMON,
                  {"--dhcp"},
                  6,
                  "10.0.0.100/24",
                  true},
        Crash_Row{"ifupdown_to_dhcp_next_set",
                  Manager::IFUPDOWN,
                  Killed::CLI,
                  Finisher::NEXT_SET,
                  {"--dhcp"},
                  6,
                  "10.0.0.100/24",
                  true},
        Crash_Row{"network_manager_kept_daemon", Manager::NETWORK_MANAGER, Killed::CLI, Finisher::DAEMON,
                  good_change, 2, "10.0.0.9/24", false},
        Crash_Row{"network_manager_kept_next_set", Manager::NETWORK_MANAGER, Killed::CLI, Finisher::NEXT_SET,
                  good_change, 2, "10.0.0.9/24", false},
        Crash_Row{"network_manager_rolled_back_daemon", Manager::NETWORK_MANAGER, Killed::CLI,
                  Finisher::DAEMON, wrong_gateway, 2, "", false},
        Crash_Row{"network_manager_rolled_back_next_set", Manager::NETWORK_MANAGER, Killed::CLI,
                  Finisher::NEXT_SET, wrong_gateway, 2, "", false},
        Crash_Row{"network_manager_daemon_rollback_daemon", Manager::NETWORK_MANAGER, Killed::DAEMON,
                  Finisher::DAEMON, wrong_gateway, 2, "", false},
        Crash_Row{"network_manager_daemon_rollback_next_set", Manager::NETWORK_MANAGER, Killed::DAEMON,
                  Finisher::NEXT_SET, wrong_gateway, 2, "", false}),
    [](const ::testing::TestParamInfo<Crash_Row>& info) { return std::string(info.param.name); });

} // namespace
