// Stock NetworkManager layouts (tests/fixtures/layouts/nm_*) with a real
// NetworkManager running: start-up, show, a static change and DHCP changes
// through the operator CLI, judged by what NetworkManager itself then holds.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host_paths.h"
#include "log.h"
#include "network.h"
#include "nm_instance.h"
#include "netcfg_cli.h"
#include "process.h"
#include "sandbox.h"

namespace {

namespace fs = std::filesystem;

const std::string layouts = std::string(LUMERION_SOURCE_DIR) + "/tests/fixtures/layouts/";
// What NetworkManager keeps about profiles; its other runtime state changes by itself.
const std::vector<std::string> profile_trees = {"/etc", "/run/NetworkManager/system-connections",
                                                "/run/netplan"};

const std::vector<std::string> static_change = {"set",       "--static",      "--address", "10.0.0.77",
                                                "--netmask", "255.255.255.0", "--gateway", "10.0.0.1",
                                                "--dns1",    "9.9.9.9",       "--apply"};
const std::vector<std::string> dhcp_change = {"set", "--dhcp", "--apply"};

struct Nm_Layout {
    const char* name;
    const char* shown; // the start of show's settings
    const char* kept;  // the profile's other addresses, each change keeps them
    const char* route; // how the static gateway reads back
    bool netplan;      // netplan renders the profile: changes go to netplan's file
    const char* dns;   // the servers after the change's DNS1 9.9.9.9, each change keeps them
};

// The UUIDs of every profile NetworkManager holds, with the file of each.
std::set<std::string> get_Profiles(const Nm_Instance& nm)
{
    std::set<std::string> profiles;
    std::istringstream in(nm.nmcli("-t -f UUID,FILENAME con show"));
    for (std::string line; std::getline(in, line);)
        profiles.insert(line);
    return profiles;
}

// The profile on eth0 as the judge reads it: netplan's rendering, or the fixture's.
std::string get_Eth0_Settings(const Nm_Instance& nm, bool netplan)
{
    if (netplan) {
        // What "netplan apply" does for NetworkManager: render, then have it reread.
        run_Shell("/usr/sbin/netplan generate && /usr/bin/nmcli con reload");
    }
    std::string uuid;
    std::istringstream in(nm.nmcli("-t -f UUID,TYPE con show"));
    for (std::string line; std::getline(in, line);)
        if (line.find(":802-3-ethernet") != std::string::npos)
            uuid = line.substr(0, line.find(':'));
    return nm.nmcli("-t -f ipv4.method,ipv4.addresses,ipv4.gateway,ipv4.routes,ipv4.dns con show uuid " +
                    uuid);
}

const char* const gateway = "ipv4.gateway:10.0.0.1\nipv4.routes:\n";

class NetworkManagerLayout : public ::testing::TestWithParam<Nm_Layout> {};

TEST_P(NetworkManagerLayout, EachChangeGivesEth0ExactlyWhatWasAsked)
{
    const Nm_Layout& row = GetParam();
    make_Manager_Directories();
    ASSERT_EQ(0, run_Shell("ip link set eth0 down && ip link set eth0 address 52:54:00:12:34:56 && "
                           "ip link set eth0 up"));
    ASSERT_EQ(
        0, run_Shell("cp -r " + layouts + row.name +
                     "/etc/. /etc/ && "
                     "chmod 600 /etc/NetworkManager/system-connections/* /etc/netplan/* 2>/dev/null; true"));
    if (row.netplan) {
        ASSERT_EQ(0, run_Shell("/usr/sbin/netplan generate"));
    }
    Nm_Instance nm;
    std::string why;
    ASSERT_TRUE(nm.start(&why)) << why;
    ASSERT_TRUE(nm.wait_Device("eth0:connected", 60)) << nm.nmcli("device") << nm.log();
    set_Tool_Answer("systemctl", "is-active NetworkManager", "active\n");
    const std::set<std::string> profiles = get_Profiles(nm);

    auto tree = get_Tree_Snapshot(profile_trees);
    Process_Result show = netcfg({"show"});
    EXPECT_EQ(0, show.exit_status) << show.err;
    EXPECT_NE(std::string::npos, show.out.find(row.shown)) << show.out << show.err;
    Log_Capture log;
    Network::set_Interface_Name("eth0");
    EXPECT_EQ(std::string::npos, log.text().find("ERROR")) << log.text();
    show = netcfg({"show"});
    EXPECT_NE(std::string::npos, show.out.find(row.shown)) << show.out << show.err;
    EXPECT_TRUE(tree == get_Tree_Snapshot(profile_trees)) << "start-up or show changed a file";

    const std::string kept = row.kept;
    const std::string dns = std::string("ipv4.dns:9.9.9.9") + row.dns + "\n";
    const struct {
        const std::vector<std::string>& args;
        std::string settings;
    } changes[] = {
        {static_change, "ipv4.method:manual\nipv4.addresses:10.0.0.77/24" + kept + "\n" + row.route + dns},
        {dhcp_change, "ipv4.method:auto\nipv4.addresses:" + (kept.empty() ? "" : kept.substr(2)) +
                          "\nipv4.gateway:\nipv4.routes:\n" + dns},
        // A repeated apply changes nothing more: no other address is lost to it.
        {dhcp_change, "ipv4.method:auto\nipv4.addresses:" + (kept.empty() ? "" : kept.substr(2)) +
                          "\nipv4.gateway:\nipv4.routes:\n" + dns},
    };
    for (const auto& change : changes) {
        Process_Result r = netcfg(change.args);
        EXPECT_EQ(0, r.exit_status) << r.err;
        EXPECT_EQ(change.settings, get_Eth0_Settings(nm, row.netplan)) << change.args[1] << "\n" << r.err;
    }
    // No profile was deleted, and none was added beside eth0's.
    EXPECT_EQ(profiles, get_Profiles(nm));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, NetworkManagerLayout,
    ::testing::Values(
        Nm_Layout{"nm_other_name",
                  "manager: network manager\nmode: static\naddress: 10.0.0.5\nnetmask: 255.255.255.0\n"
                  "gateway: 10.0.0.1\ndns1: 10.0.0.2\n",
                  "", gateway, false, ""},
        Nm_Layout{"nm_mac_bound", "manager: network manager\nmode: static\naddress: 10.0.0.5\n", "", gateway,
                  false, ""},
        Nm_Layout{"nm_two_addresses", "manager: network manager\nmode: static\naddress: 10.0.0.5\n",
                  ", 10.0.0.9/24", gateway, false, ",10.0.0.3,10.0.0.4"},
        // netplan renders its default route as a route of the profile.
        Nm_Layout{"nm_netplan", "manager: netplan\nmode: static\naddress: 10.0.0.5\n", "",
                  "ipv4.gateway:\nipv4.routes:0.0.0.0/0 10.0.0.1\n", true, ""}),
    [](const ::testing::TestParamInfo<Nm_Layout>& info) { return std::string(info.param.name); });

struct Boot_Case {
    const char* name;
    const char* setup;   // nmcli's commands once the layout is up: office is then active by hand
    const char* refusal; // what the refused change says
    const char* booted;  // the profile on eth0 after NetworkManager starts again with /run cleared
};

class NetworkManagerBoot : public ::testing::TestWithParam<Boot_Case> {};

// A change to a profile that is not what eth0 comes up on at boot would be lost at the next one: it is
// refused by name with no file changed, and NetworkManager started again as a reboot leaves it proves it.
TEST_P(NetworkManagerBoot, AChangeTheNextBootWouldLoseIsRefused)
{
    const Boot_Case& row = GetParam();
    make_Manager_Directories();
    ASSERT_EQ(0,
              run_Shell("cp -r " + layouts +
                        "nm_boot_winner/etc/. /etc/ && chmod 600 /etc/NetworkManager/system-connections/*"));
    Nm_Instance nm;
    std::string why;
    ASSERT_TRUE(nm.start(&why)) << why;
    ASSERT_TRUE(nm.wait_Device("eth0:connected", 60)) << nm.nmcli("device") << nm.log();
    ASSERT_EQ(0, run_Shell(std::string(row.setup) + " && /usr/bin/nmcli con up office >/dev/null"));
    set_Tool_Answer("systemctl", "is-active NetworkManager", "active\n");
    auto tree = get_Tree_Snapshot(profile_trees);
    Process_Result show = netcfg({"show"});
    EXPECT_NE(std::string::npos, show.out.find("note: changes are refused: ")) << show.out << show.err;
    Process_Result r = netcfg(static_change);
    EXPECT_EQ(1, r.exit_status) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(row.refusal)) << r.err;
    EXPECT_TRUE(tree == get_Tree_Snapshot(profile_trees)) << "a refused change wrote a profile";
    ASSERT_TRUE(nm.restart_Cleared(&why)) << why;
    const std::string booted =
        std::string("eth0:") + (row.booted[0] != 0 ? "connected:" : "disconnected:") + row.booted;
    EXPECT_TRUE(nm.wait_Device(booted, 60, "DEVICE,STATE,CONNECTION"))
        << nm.nmcli("-t -f DEVICE,STATE,CONNECTION device");
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, NetworkManagerBoot,
    ::testing::Values(
        Boot_Case{"higher_priority_beside", "true",
                  "profile \"lab\" (6f1c2a3b-4d5e-4f60-8a7b-9c0d1e2f3a02) would come up on eth0 at "
                  "the next boot instead of \"office\"",
                  "lab"},
        Boot_Case{"no_autoconnect",
                  "/usr/bin/nmcli con delete lab >/dev/null && "
                  "/usr/bin/nmcli con mod office connection.autoconnect no",
                  "\"office\" (6f1c2a3b-4d5e-4f60-8a7b-9c0d1e2f3a01) does not autoconnect", ""}),
    [](const ::testing::TestParamInfo<Boot_Case>& info) { return std::string(info.param.name); });

// A bridge's port as NetworkManager holds it: show names the master and no address as eth0's, and every
// change is refused by name with the profiles left as they were.
TEST(NetworkManagerPort, EthZeroIsLeftToItsBridge)
{
    make_Manager_Directories();
    ASSERT_EQ(0, run_Shell("cp -r " + layouts +
                           "nm_bridge_port/etc/. /etc/ && "
                           "chmod 600 /etc/NetworkManager/system-connections/*"));
    Nm_Instance nm;
    std::string why;
    ASSERT_TRUE(nm.start(&why)) << why;
    ASSERT_TRUE(nm.wait_Device("eth0:connected", 60)) << nm.nmcli("device") << nm.log();
    set_Tool_Answer("systemctl", "is-active NetworkManager", "active\n");
    // NetworkManager's own word: eth0 is br0's port.
    EXPECT_EQ("connection.master:br0\nconnection.slave-type:bridge\n",
              nm.nmcli("-t -f connection.master,connection.slave-type con show bridge-slave-eth0"));
    const std::set<std::string> profiles = get_Profiles(nm);
    auto tree = get_Tree_Snapshot(profile_trees);

    Log_Capture log;
    Network::set_Interface_Name("eth0");
    std::string started = log.text();
    EXPECT_EQ(std::string::npos, started.find("ERROR")) << started;
    EXPECT_NE(std::string::npos, started.find("eth0 is a port of bridge br0")) << started;
    Process_Result show = netcfg({"show"});
    EXPECT_EQ(0, show.exit_status) << show.err;
    EXPECT_NE(std::string::npos, show.out.find("manager: network manager\nport of: bridge br0\n"))
        << show.out;
    EXPECT_EQ(std::string::npos, show.out.find("address:")) << show.out;
    for (const auto& change : {static_change, dhcp_change}) {
        Process_Result r = netcfg(change);
        EXPECT_EQ(1, r.exit_status) << r.err;
        EXPECT_NE(std::string::npos, r.err.find("eth0 is a port of bridge br0")) << r.err;
    }
    EXPECT_TRUE(tree == get_Tree_Snapshot(profile_trees)) << "a profile file changed";
    EXPECT_EQ(profiles, get_Profiles(nm));
    EXPECT_EQ("ipv4.method:manual\nipv4.addresses:10.0.0.5/24\n",
              nm.nmcli("-t -f ipv4.method,ipv4.addresses con show br0"));
}

} // namespace
