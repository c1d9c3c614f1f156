// The operator CLI, run as its real binary on each kind of host: what it
// prints, what it writes and runs, and its exit status.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <filesystem>
#include <string>
#include <vector>

#include "host_paths.h"
#include "netcfg_cli.h"
#include "process.h"
#include "sandbox.h"

namespace {

namespace fs = std::filesystem;

const std::vector<std::string> static_change = {"set",       "--static",      "--address", "192.168.1.10",
                                                "--netmask", "255.255.255.0", "--gateway", "192.168.1.1",
                                                "--dns1",    "9.9.9.9",       "--apply"};

// A host where `manager` ("netplan", "ifupdown" or "nm") owns eth0 (DHCP); its file.
std::string prepare_Host(const std::string& manager)
{
    make_Manager_Directories();
    std::string file = manager == "ifupdown" ? stanza_file : manager == "nm" ? keyfile : netplan_file;
    if (manager == "ifupdown")
        write_File(file, "auto eth0\niface eth0 inet dhcp\n");
    if (manager == "nm")
        write_File(file, "[connection]\ntype=ethernet\ninterface-name=eth0\n\n[ipv4]\nmethod=auto\n");
    if (manager == "netplan")
        write_File(file, "network:\n  ethernets:\n    eth0:\n      dhcp4: true\n");
    set_Tool_Answer("systemctl", "is-active NetworkManager", manager == "nm" ? "active\n" : "inactive\n");
    if (manager == "nm")
        set_Nmcli_Profile(profile_uuid, file, true);
    return file;
}

struct Case {
    const char* name;
    const char* manager; // "netplan", "ifupdown" or "nm"
    std::vector<std::string> args;
    int exit_status;
    std::vector<std::string> calls;
    const char* written; // a text the manager's file then holds, or "" for unchanged
};

class Netcfg : public ::testing::TestWithParam<Case> {};

TEST_P(Netcfg, GoesThroughTheSettingsHandler)
{
    const Case& c = GetParam();
    std::string file = prepare_Host(c.manager);
    std::string before = read_File(file);
    clear_Tool_Calls();
    Process_Result r = netcfg(c.args);
    EXPECT_EQ(c.exit_status, r.exit_status) << r.err;
    // The reads that load the settings first are not changes.
    EXPECT_EQ(c.calls, get_Command_Calls()) << r.err;
    if (std::string(c.written).empty())
        EXPECT_EQ(before, read_File(file));
    else
        EXPECT_NE(std::string::npos, read_File(file).find(c.written)) << read_File(file);
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, Netcfg,
    ::testing::Values(
        Case{"netplan_static",
             "netplan",
             static_change,
             0,
             {"netplan apply"},
             "      addresses:\n        - 192.168.1.10/24\n"},
        Case{"ifupdown_static",
             "ifupdown",
             static_change,
             0,
             {"systemctl stop networking.service", "systemctl start networking.service"},
             "iface eth0 inet static\n    address 192.168.1.10\n"},
        Case{"network_manager_static",
             "nm",
             static_change,
             0,
             {"nmcli con mod uuid 6d0a9c0e-1b1f-4e3a-9d6b-1c2d3e4f5a6b ipv4.method manual ipv4.addresses "
              "192.168.1.10/24 ipv4.gateway 192.168.1.1 "
              "ipv4.dns 9.9.9.9",
              "nmcli device reapply eth0"},
             ""},
        Case{"hostname",
             "netplan",
             {"set", "--hostname", "node-7"},
             0,
             {"hostnamectl set-hostname node-7"},
             ""},
        // A refused value stops the change: nothing is applied.
        Case{"refused_value",
             "netplan",
             {"set", "--static", "--address", "10.0.0.5/24", "--apply"},
             1,
             {},
             ""},
        // Static without an address the host can use: the apply is refused.
        Case{"refused_apply", "netplan", {"set", "--static", "--apply"}, 1, {}, ""},
        Case{"refused_hostname", "netplan", {"set", "--hostname", "no;way"}, 1, {}, ""},
        Case{"usage_unknown_option", "netplan", {"set", "--bogus"}, 2, {}, ""},
        Case{"usage_missing_value", "netplan", {"set", "--address"}, 2, {}, ""},
        Case{"usage_both_modes", "netplan", {"set", "--dhcp", "--static"}, 2, {}, ""},
        Case{"usage_nothing_to_set", "netplan", {"set"}, 2, {}, ""},
        Case{"usage_no_command", "netplan", {}, 2, {}, ""},
        Case{"usage_window_without_apply",
             "netplan",
             {"set", "--dns1", "9.9.9.9", "--check-seconds", "5"},
             2,
             {},
             ""},
        Case{"usage_window_not_a_number", "netplan", {"set", "--apply", "--check-seconds", "-1"}, 2, {}, ""},
        Case{"usage_window_too_long", "netplan", {"set", "--apply", "--check-seconds", "3601"}, 2, {}, ""}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

struct Tool_Fault {
    const char* name;
    const char* manager;
    std::vector<std::string> args;
    const char* tool; // the failing tool and the start of its arguments
    const char* tool_args;
    const char* signal; // "" to exit 1 with a message instead
    const char* error;  // the ERROR line from its message on
    std::vector<std::string> calls;
    bool written = true; // the file holds what was asked: the failure came after the write
    int error_lines = 1; // the failure's, and a rollback's when it came before the write
    int exit_status = 1; // 4: the rollback's own command failed too
    const char* output = "Error: it went wrong\nsecond line\n"; // the tool's error output
};

class ToolFault : public ::testing::TestWithParam<Tool_Fault> {};

// A tool that changes the host and fails fails the change: exit 1, one ERROR
// line with the command, its status and its first error line; nothing runs after it.
TEST_P(ToolFault, FailsTheChange)
{
    const Tool_Fault& f = GetParam();
    std::string file = prepare_Host(f.manager);
    set_Tool_Failure(f.tool, f.tool_args, 1, f.output, f.signal);
    clear_Tool_Calls();
    Process_Result r = netcfg(f.args);
    EXPECT_EQ(f.exit_status, r.exit_status) << r.err;
    EXPECT_EQ(f.calls, get_Command_Calls());
    std::string err = r.out + r.err;
    EXPECT_NE(std::string::npos, err.find(f.error)) << err;
    EXPECT_EQ(f.error_lines, std::count(err.begin(), err.end(), '\033') / 2) << err;
    // What was written before the failed command stays: it holds what was asked. A failure before the
    // write is undone, even without a window: eth0 is brought up again on the file as it was.
    if (std::string(f.manager) != "nm" && f.args[1] == "--static") {
        EXPECT_EQ(f.written, read_File(file).find("192.168.1.10") != std::string::npos) << read_File(file);
    }
}

const std::string nm_mod = "nmcli con mod uuid " + profile_uuid +
                           " ipv4.method manual ipv4.addresses 192.168.1.10/24 ipv4.gateway 192.168.1.1 "
                           "ipv4.dns 9.9.9.9";

INSTANTIATE_TEST_SUITE_P(
    Faults, ToolFault,
    ::testing::Values(
        Tool_Fault{
            "netplan_apply",
            "netplan",
            static_change,
            "netplan",
            "apply",
            "",
            "the apply did not take effect: \"netplan apply\" exited with status 1: Error: it went wrong",
            {"netplan apply"}},
        // netplan warns on every apply first; its cause comes last.
        Tool_Fault{
            "netplan_apply_after_warning",
            "netplan",
            static_change,
            "netplan",
            "apply",
            "",
            "\"netplan apply\" exited with status 1: Command '['udevadm', 'trigger']' returned non-zero",
            {"netplan apply"},
            true,
            1,
            1,
            "Cannot call openvswitch: ovsdb-server.service is not running.\n"
            "Command '['udevadm', 'trigger']' returned non-zero exit status 1.\n"},
        Tool_Fault{"networking_killed",
                   "ifupdown",
                   static_change,
                   "systemctl",
                   "start",
                   "TERM",
                   "\"systemctl start networking.service\" was killed by signal 15: Error: it went wrong",
                   {"systemctl stop networking.service", "systemctl start networking.service"}},
        Tool_Fault{"networking_stop_fails",
                   "ifupdown",
                   static_change,
                   "systemctl",
                   "stop",
                   "",
                   "\"systemctl stop networking.service\" exited with status 1: Error: it went wrong",
                   {"systemctl stop networking.service", "systemctl stop networking.service",
                    "systemctl start networking.service"},
                   false,
                   2,
                   4},
        Tool_Fault{"nmcli_modify",
                   "nm",
                   static_change,
                   "nmcli",
                   "con mod",
                   "",
                   "\" exited with status 1: Error: it went wrong",
                   {nm_mod}},
        Tool_Fault{"nmcli_reapply",
                   "nm",
                   static_change,
                   "nmcli",
                   "device reapply",
                   "",
                   "\"nmcli device reapply eth0\" exited with status 1: Error: it went wrong",
                   {nm_mod, "nmcli device reapply eth0"}},
        Tool_Fault{
            "hostnamectl",
            "netplan",
            {"set", "--hostname", "node-7"},
            "hostnamectl",
            "",
            "",
            "the hostname was not set: \"hostnamectl set-hostname node-7\" exited with status 1: Error: "
            "it went wrong",
            {"hostnamectl set-hostname node-7"}}),
    [](const ::testing::TestParamInfo<Tool_Fault>& info) { return std::string(info.param.name); });

struct Refused_Value {
    const char* name;
    const char* manager;
    std::vector<std::string> args;
    const char* rule; // in the ERROR line
};

class RefusedValue : public ::testing::TestWithParam<Refused_Value> {};

// A value that would cut the host off is refused: exit 1, the rule named, and
// every file as it was (a stanza already written is put back).
TEST_P(RefusedValue, LeavesTheHostAsItWas)
{
    const Refused_Value& v = GetParam();
    std::string file = prepare_Host(v.manager);
    std::string before = read_File(file);
    clear_Tool_Calls();
    Process_Result r = netcfg(v.args);
    EXPECT_EQ(1, r.exit_status) << r.err;
    EXPECT_NE(std::string::npos, (r.out + r.err).find(v.rule)) << r.out << r.err;
    EXPECT_EQ(before, read_File(file));
    EXPECT_TRUE(get_Command_Calls().empty());
}

// The per-rule rows are the unit tables'; these are the paths through the CLI:
// a value refused when staged, and applies refused with the stanza put back.
std::vector<std::string> static_With(const std::string& address, const std::string& gateway)
{
    return {"set",       "--static", "--address", address,   "--netmask", "255.255.255.0",
            "--gateway", gateway,    "--dns1",    "9.9.9.9", "--apply"};
}

INSTANTIATE_TEST_SUITE_P(
    Values, RefusedValue,
    ::testing::Values(Refused_Value{"loopback_address", "netplan", static_With("127.0.0.1", ""),
                                    "a loopback address"},
                      Refused_Value{"network_address", "ifupdown", static_With("10.0.0.0", "10.0.0.1"),
                                    "10.0.0.0 is the network address of 10.0.0.0/24"},
                      Refused_Value{"gateway_outside", "ifupdown", static_With("10.0.0.5", "10.0.1.1"),
                                    "gateway 10.0.1.1 is outside 10.0.0.5/24"},
                      Refused_Value{"reserved_gateway", "ifupdown",
                                    static_With("10.0.0.5", "255.255.255.255"), "a reserved address"}),
    [](const ::testing::TestParamInfo<Refused_Value>& info) { return std::string(info.param.name); });

struct Cli_Output {
    const char* name;
    const char* setup; // shell commands run first
    std::vector<std::string> args;
    int exit_status;
    const char* out; // the start of standard output, from "mode:" on
    const char* err; // in standard error
    const char* not_err;
};

class CliOutput : public ::testing::TestWithParam<Cli_Output> {};

TEST_P(CliOutput, TellsTheOperatorWhatIs)
{
    const Cli_Output& c = GetParam();
    prepare_Host("netplan");
    ASSERT_EQ(0, run_Shell(c.setup));
    Process_Result r = netcfg(c.args);
    EXPECT_EQ(c.exit_status, r.exit_status) << r.err;
    std::string out = r.out.substr(std::min(r.out.size(), r.out.find("mode:")));
    EXPECT_EQ(0u, out.find(c.out)) << r.out;
    EXPECT_NE(std::string::npos, r.err.find(c.err)) << r.err;
    EXPECT_EQ(std::string::npos, r.err.find(c.not_err)) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliOutput,
    ::testing::Values(
        Cli_Output{"dhcp_shows_the_lease",
                   "ip addr add 10.0.0.5/24 dev eth0 valid_lft 3600 preferred_lft 3600 && "
                   "ip route add default via 10.0.0.1",
                   {"show"},
                   0,
                   "mode: dhcp\naddress: 10.0.0.5 (leased)\nnetmask: 255.255.255.0 (leased)\n"
                   "gateway: 10.0.0.1 (leased)\n",
                   "",
                   "ERROR"},
        // A static address beside "dhcp4: true" (another file's, or a hand's) is no lease.
        Cli_Output{"dhcp_file_static_address",
                   "ip addr add 10.0.0.5/24 dev eth0 && ip route add default via 10.0.0.1",
                   {"show"},
                   0,
                   "mode: dhcp\naddress: 10.0.0.5\nnetmask: 255.255.255.0\ngateway: 10.0.0.1\n",
                   "",
                   "leased"},
        Cli_Output{"dhcp_without_lease",
                   "true",
                   {"show"},
                   0,
                   "mode: dhcp\naddress: (none leased)\nnetmask: (none leased)\ngateway: (none leased)\n",
                   "",
                   "ERROR"},
        // The default route through another interface is not eth0's lease.
        Cli_Output{"dhcp_route_on_another_interface",
                   "ip link add eth1 type veth peer name eth1-peer && ip link set eth1 up && "
                   "ip addr add 10.7.0.5/24 dev eth1 && ip route add default via 10.7.0.1 dev eth1",
                   {"show"},
                   0,
                   "mode: dhcp\naddress: (none leased)\nnetmask: (none leased)\ngateway: (none leased)\n",
                   "",
                   "ERROR"},
        // On a bare host staging writes nothing (the default is the apply's first step): the CLI says so.
        Cli_Output{"bare_host_stages_in_memory",
                   "rm -f /etc/netplan/*.yaml",
                   {"set", "--dns1", "9.9.9.9"},
                   0,
                   "",
                   "a host where no manager defines eth0 yet keeps staged settings only until --apply",
                   "Generated"},
        // A hostname alone stages nothing: no warning about staged settings.
        Cli_Output{"hostname_alone", "true", {"set", "--hostname", "node-7"}, 0, "", "", "staged"},
        Cli_Output{"hostname_alone_bare_host",
                   "rm -f /etc/netplan/*.yaml",
                   {"set", "--hostname", "node-7"},
                   0,
                   "",
                   "",
                   "staged"},
        // A file that would keep netplan's parser busy for minutes: its reader is given up after 10 s.
        Cli_Output{"netplan_parser_hang_is_cut_short",
                   "{ printf 'network:\\n  ethernets: '; head -c 200000 /dev/zero | tr '\\0' '['; } "
                   "> /etc/netplan/01-netcfg.yaml",
                   {"show"},
                   1,
                   "mode: (unreadable)\naddress: (unreadable)\n",
                   "lumerion-netplan-reader did not answer within 10 s",
                   "Generated"},
        Cli_Output{"no_eth0_names_the_option",
                   "ip link set eth0 name enp1s0",
                   {"set", "--static", "--apply"},
                   1,
                   "",
                   "lumerion-netcfg: --static was refused (see the ERROR line above)",
                   "\\x01"}),
    [](const ::testing::TestParamInfo<Cli_Output>& info) { return std::string(info.param.name); });

// show reads the manager, the port and six settings from one owner lookup: one service query, one
// profile listing.
// One command, one owner lookup: a change's is the one it makes under the settings lock.
TEST(NetcfgLookups, EachCommandAsksEachToolOnce)
{
    const std::vector<std::vector<std::string>> commands = {
        {"show"}, {"set", "--dhcp", "--apply", "--check-seconds", "0"}};
    for (const char* manager : {"netplan", "ifupdown", "nm"})
        for (const std::vector<std::string>& command : commands) {
            SCOPED_TRACE(std::string(manager) + " " + command[0]);
            ASSERT_EQ(0, run_Shell("rm -f /etc/netplan/*.yaml /etc/network/interfaces.d/eth0 "
                                   "/etc/NetworkManager/system-connections/*"));
            prepare_Host(manager);
            set_Tool_Answer("netplan", "apply", "");
            clear_Tool_Calls();
            Process_Result run = netcfg(command);
            EXPECT_EQ(0, run.exit_status) << run.err;
            std::vector<std::string> calls = get_Tool_Calls();
            EXPECT_EQ(1, std::count(calls.begin(), calls.end(), "systemctl is-active NetworkManager"));
            EXPECT_EQ(std::string(manager) == "nm" ? 1 : 0,
                      std::count(calls.begin(), calls.end(), "nmcli -t -f UUID,TYPE,NAME,FILENAME con show"));
        }
}

// Ctrl-C reaches the CLI, not the apply it runs: the apply finishes, the CLI
// says so and exits 130.
TEST(NetcfgInterrupt, TheApplyFinishesFirst)
{
    prepare_Host("netplan");
    set_Tool_Answer("netplan", "apply", "");
    set_Tool_Hang("netplan", "apply", 2);
    std::string err = get_Sandbox_Dir() + "/interrupted.err";
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // A process group of its own, as a shell gives a foreground job.
        setpgid(0, 0);
        int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, STDERR_FILENO);
        execl(LUMERION_NETCFG_PATH, LUMERION_NETCFG_PATH, "set", "--dhcp", "--apply", "--check-seconds", "0",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    setpgid(pid, pid);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    auto calls = get_Tool_Calls();
    while (std::find(calls.begin(), calls.end(), "netplan apply") == calls.end() &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        calls = get_Tool_Calls();
    }
    ASSERT_EQ(0, kill(-pid, SIGINT));
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(130, WEXITSTATUS(status));
    EXPECT_EQ("lumerion-netcfg: interrupted: the change finished and took effect\n", read_File(err));
}

// Two operators at once, without a check window: the second is refused while
// the first holds the change, and names it; only the first reaches the file.
TEST(NetcfgConcurrent, TheSecondChangeIsRefusedWhileTheFirstRuns)
{
    std::string file = prepare_Host("netplan");
    set_Tool_Answer("netplan", "apply", "");
    set_Tool_Hang("netplan", "apply", 2);
    Process_Result first;
    std::thread first_change([&first] { first = netcfg({"set", "--dns1", "9.9.9.9", "--apply"}); });
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (get_Command_Calls().empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Process_Result second = netcfg({"set", "--dns2", "1.0.0.1", "--apply"});
    first_change.join();
    EXPECT_EQ(0, first.exit_status) << first.err;
    EXPECT_EQ(1, second.exit_status) << second.err;
    EXPECT_NE(std::string::npos, second.err.find("another change to eth0 is in progress")) << second.err;
    std::string text = read_File(file);
    EXPECT_NE(std::string::npos, text.find("- 9.9.9.9\n")) << text;
    EXPECT_EQ(std::string::npos, text.find("1.0.0.1")) << text;
    EXPECT_EQ(1u, get_Command_Calls().size());
}

TEST(NetcfgShow, PrintsTheManagerAndTheSettings)
{
    fs::create_directories("/etc/netplan");
    write_File(netplan_file,
               "network:\n  ethernets:\n    eth0:\n      dhcp4: false\n      addresses: [10.0.0.5/24]\n"
               "      routes:\n        - to: default\n          via: 10.0.0.1\n"
               "      nameservers:\n        addresses: [9.9.9.9]\n");
    Process_Result r = netcfg({"show"});
    EXPECT_EQ(0, r.exit_status);
    EXPECT_EQ("interface: eth0\nmanager: netplan\nmode: static\naddress: 10.0.0.5\nnetmask: 255.255.255.0\n"
              "gateway: 10.0.0.1\ndns1: 9.9.9.9\ndns2: \n",
              r.out);
    EXPECT_EQ("", r.err);
    Process_Result help = netcfg({"--help"});
    EXPECT_EQ(0, help.exit_status);
    EXPECT_EQ(0u, help.out.find("usage: lumerion-netcfg show\n"));
}

} // namespace
