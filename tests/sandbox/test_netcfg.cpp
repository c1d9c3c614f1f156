// The operator CLI, run as its real binary on each kind of host: what it
// prints, what it writes and runs, and its exit status.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host_paths.h"
#include "process.h"
#include "sandbox.h"

namespace {

namespace fs = std::filesystem;

Process_Result netcfg(const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {LUMERION_NETCFG_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_Process(argv);
}

const std::vector<std::string> static_change = {"set",       "--static",      "--address", "192.168.1.10",
                                                "--netmask", "255.255.255.0", "--gateway", "192.168.1.1",
                                                "--dns1",    "9.9.9.9",       "--apply"};

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
    make_Manager_Directories();
    std::string manager = c.manager;
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
             {"systemctl restart networking.service"},
             "iface eth0 inet static\n    address 192.168.1.10\n"},
        Case{"network_manager_static",
             "nm",
             static_change,
             0,
             {"nmcli con mod uuid 6d0a9c0e-1b1f-4e3a-9d6b-1c2d3e4f5a6b ipv4.method manual ipv4.addresses "
              "192.168.1.10/24 ipv4.gateway 192.168.1.1 "
              "ipv4.dns 9.9.9.9,",
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
        Case{"usage_no_command", "netplan", {}, 2, {}, ""}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

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
