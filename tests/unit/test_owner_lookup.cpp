// Who owns eth0 besides netplan: ifupdown's stanza as its reading rules find
// it in the layout trees, NetworkManager's profile from nmcli's answers, and
// the choice between managers that both define it.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "network.h"

namespace {

using Type = Network::MANAGER_TYPE;
const std::string layouts = std::string(LUMERION_SOURCE_DIR) + "/tests/fixtures/layouts/";

TEST(IfupdownStanza, FoundWhereIfupdownReadsIt)
{
    const struct {
        const char* layout;
        std::vector<std::string> files;
    } rows[] = {
        {"ifupdown_installer", {"/etc/network/interfaces"}},
        // "allow-hotplug eth0" alone in interfaces.d/eth0 is no stanza.
        {"ifupdown_hotplug_only", {"/etc/network/interfaces"}},
        // A relative glob, read from /etc/network; eth0.cfg.orig does not match it.
        {"ifupdown_source_glob", {"/etc/network/interfaces.d/eth0.cfg"}},
        // run-parts skips eth0.bak; the commented source line reads nothing.
        {"ifupdown_source_directory", {"/etc/network/parts/50-eth0"}},
        {"ifupdown_two_stanzas", {"/etc/network/interfaces.d/eth0", "/etc/network/interfaces"}},
        // A file that sources itself is read once.
        {"ifupdown_loop", {"/etc/network/interfaces"}},
        // Nine files that each source all nine: each is read once, not once per path to it.
        {"ifupdown_source_fanout", {"/etc/network/interfaces"}},
        {"installer", {}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.files, get_ifupdown_Files(layouts + row.layout, "eth0").stanzas) << row.layout;
}

// Each limit of the walk stops it and is named: a scratch root whose interfaces sources interfaces.d/*.
TEST(IfupdownWalk, EachLimitStopsTheWalkAndIsNamed)
{
    std::string source_lines;
    for (int i = 0; i < 1100; ++i)
        source_lines += "source /etc/network/x\n";
    const struct {
        size_t files;
        std::string text; // each file's
        const char* cut_off;
    } rows[] = {
        {200, "# nothing\n", "more than 128 files, before /etc/network/interfaces.d/f128"},
        {10, std::string(1000 * 1000, '#') + "\n", "more than 8 MiB, before /etc/network/interfaces.d/f010"},
        {1, source_lines, "more than 1024 source lines, before /etc/network/x"},
    };
    char dir_template[] = "/tmp/lumerion-walk-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir_template));
    const std::string root = dir_template, parts = root + "/etc/network/interfaces.d/";
    for (const auto& row : rows) {
        std::filesystem::remove_all(parts);
        std::filesystem::create_directories(parts);
        std::ofstream(root + "/etc/network/interfaces") << "source interfaces.d/*\niface eth0 inet dhcp\n";
        for (size_t i = 1; i <= row.files; ++i) {
            char name[8];
            (void)snprintf(name, sizeof(name), "f%03zu", i);
            std::ofstream(parts + name) << row.text;
        }
        Ifupdown_Files found = get_ifupdown_Files(root, "eth0");
        EXPECT_EQ(std::vector<std::string>{"/etc/network/interfaces"}, found.stanzas) << row.cut_off;
        EXPECT_NE(std::string::npos, found.cut_off.find(row.cut_off)) << found.cut_off;
        // The files it read are named, a few of them.
        EXPECT_NE(std::string::npos, found.cut_off.find("after /etc/network/interfaces, ")) << found.cut_off;
        EXPECT_LT(found.cut_off.size(), 400U) << found.cut_off;
    }
    std::filesystem::remove_all(root);
}

TEST(IfupdownStanza, LineKinds)
{
    using Kind = Ifupdown_Line::KIND;
    const struct {
        const char* line;
        Kind kind;
        const char* argument;
    } rows[] = {
        {"\tiface eth0 inet dhcp  # uplink", Kind::INET_STANZA, ""},
        {"iface eth00 inet dhcp", Kind::OTHER, ""},
        {"source  /etc/network/my parts/* ", Kind::SOURCE, "/etc/network/my parts/*"},
        {"source-directory interfaces.d\r", Kind::SOURCE_DIRECTORY, "interfaces.d"},
        {"source", Kind::OTHER, ""},
    };
    for (const auto& row : rows) {
        Ifupdown_Line parsed = get_Ifupdown_Line(row.line, "eth0");
        EXPECT_EQ(row.kind, parsed.kind) << row.line;
        EXPECT_EQ(row.argument, parsed.argument) << row.line;
    }
}

const char* const uuid_a = "3c3f4e2a-6f0e-4d55-9a11-0b6d1c0e7a01";
const char* const uuid_b = "9b2f0c4d-1a3e-4f6b-8c7d-2e5f6a7b8c02";
const char* const uuid_c = "9b2f0c4d-1a3e-4f6b-8c7d-2e5f6a7b8c03";

TEST(NetworkManagerProfile, ListingIsReadFieldByField)
{
    std::string listing = std::string(uuid_a) + ":802-3-ethernet:Wired\\: office:/etc/x\\\\y.nmconnection\n" +
                          "not-a-uuid:802-3-ethernet:x:/etc/z\n" + uuid_b + ":loopback:lo:\n";
    std::vector<Nm_Profile> profiles = get_Nmcli_Profiles(listing);
    ASSERT_EQ(2u, profiles.size());
    EXPECT_EQ("Wired: office", profiles[0].name);
    EXPECT_EQ("/etc/x\\y.nmconnection", profiles[0].file);
    EXPECT_EQ("loopback", profiles[1].type);
    EXPECT_EQ("", profiles[1].file);
    EXPECT_EQ("AA:BB",
              get_Nmcli_Field("x:1\n802-3-ethernet.mac-address:AA:BB\n", "802-3-ethernet.mac-address"));
    EXPECT_FALSE(get_Uuid_Valid("3c3f4e2a-6f0e-4d55-9a11-0b6d1c0e7a0g"));
}

Nm_Profile wired(const char* uuid, const char* file, const char* interface_name, const char* mac)
{
    return Nm_Profile{uuid, "802-3-ethernet", file, file, interface_name, mac};
}

Nm_Profile boot(const char* uuid, const char* interface_name, bool autoconnect, long priority)
{
    Nm_Profile profile = wired(uuid,
                               uuid == uuid_a   ? "/etc/a"
                               : uuid == uuid_b ? "/etc/b"
                                                : "/etc/c",
                               interface_name, "");
    profile.autoconnect = autoconnect;
    profile.priority = priority;
    return profile;
}

TEST(NetworkManagerProfile, TheProfileThatTakesEth0)
{
    const Interface_Facts eth0{"eth0", "52:54:00:12:34:56", "veth"};
    const std::string netplan_file = "/run/NetworkManager/system-connections/netplan-eth0.nmconnection";
    const struct {
        const char* name;
        std::vector<Nm_Profile> profiles;
        std::string active;
        std::string uuid; // "" for none
        bool refused;
        bool netplan;
        std::string change = ""; // the start of why a change to the chosen profile would not hold
    } rows[] = {
        {"active_beats_bound",
         {wired(uuid_a, "/etc/a", "eth0", ""), wired(uuid_b, "/etc/b", "", "")},
         uuid_b,
         uuid_b,
         false,
         false,
         "profile \"/etc/b\" (" + std::string(uuid_b) + ") is bound to no interface"},
        {"bound_by_name", {wired(uuid_a, "/etc/a", "eth0", "")}, "", uuid_a, false, false},
        {"bound_by_mac", {wired(uuid_a, "/etc/a", "", "52:54:00:12:34:56")}, "", uuid_a, false, false},
        {"name_fits_mac_does_not",
         {wired(uuid_a, "/etc/a", "eth0", "52:54:00:00:00:01")},
         "",
         "",
         false,
         false},
        {"other_interface", {wired(uuid_a, "/etc/a", "eth1", "")}, "", "", false, false},
        // A profile bound to nothing could take any wired device: it is not eth0's.
        {"unbound", {wired(uuid_a, "/etc/a", "", "")}, "", "", false, false},
        {"not_wired", {Nm_Profile{uuid_a, "bond", "b", "/etc/a", "eth0", ""}}, "", "", false, false},
        {"two_bound_none_active",
         {wired(uuid_a, "/etc/a", "eth0", ""), wired(uuid_b, "/etc/b", "", "52:54:00:12:34:56")},
         "",
         "",
         true,
         false},
        {"netplan_rendered", {wired(uuid_a, netplan_file.c_str(), "eth0", "")}, uuid_a, uuid_a, false, true},
        // What eth0 comes up on at boot: the autoconnecting profile of the highest priority that can take it.
        {"active_does_not_autoconnect",
         {boot(uuid_a, "eth0", false, 0)},
         uuid_a,
         uuid_a,
         false,
         false,
         "profile \"/etc/a\" (" + std::string(uuid_a) + ") does not autoconnect"},
        {"higher_priority_bound_beside",
         {boot(uuid_a, "eth0", true, 0), boot(uuid_b, "eth0", true, 10)},
         uuid_a,
         uuid_a,
         false,
         false,
         "profile \"/etc/b\" (" + std::string(uuid_b) + ") would come up on eth0"},
        {"higher_priority_unbound_beside",
         {boot(uuid_a, "eth0", true, 0), boot(uuid_b, "", true, 10)},
         uuid_a,
         uuid_a,
         false,
         false,
         "profile \"/etc/b\""},
        {"higher_priority_elsewhere_or_off",
         {boot(uuid_a, "eth0", true, 0), boot(uuid_b, "eth1", true, 10), boot(uuid_c, "eth0", false, 20)},
         uuid_a,
         uuid_a,
         false,
         false},
    };
    for (const auto& row : rows) {
        Nm_Choice choice = get_Network_Manager_Choice(row.profiles, row.active, eth0);
        EXPECT_EQ(row.uuid, choice.uuid) << row.name;
        EXPECT_EQ(row.refused, !choice.refusal.empty()) << row.name << ": " << choice.refusal;
        EXPECT_EQ(row.netplan, choice.netplan) << row.name;
        EXPECT_EQ(!row.active.empty(), choice.active) << row.name;
        EXPECT_EQ(0u, choice.change_refusal.find(row.change)) << row.name << ": " << choice.change_refusal;
        EXPECT_EQ(row.change.empty(), choice.change_refusal.empty())
            << row.name << ": " << choice.change_refusal;
    }
}

TEST(OwnerChoice, TheRunningManagerOwnsAContestedInterface)
{
    const Owner_Candidate netplan{Type::NETPLAN, "/etc/netplan/a.yaml", false};
    const Owner_Candidate ifupdown{Type::IFUPDOWN, "/etc/network/interfaces", false};
    Owner_Candidate ifupdown_running = ifupdown;
    ifupdown_running.running = true;
    Owner_Candidate netplan_running = netplan;
    netplan_running.running = true;
    const struct {
        const char* name;
        std::vector<Owner_Candidate> candidates;
        int chosen;
        const char* refusal;
    } rows[] = {
        {"none", {}, -1, ""},
        {"one_stopped", {ifupdown}, 0, ""},
        {"two_one_running", {netplan, ifupdown_running}, 1, ""},
        {"two_none_running",
         {netplan, ifupdown},
         -1,
         "several managers define eth0 (netplan in /etc/netplan/a.yaml, ifupdown in /etc/network/interfaces) "
         "and none of them is running: remove the definitions of all but one"},
        {"two_both_running",
         {netplan_running, ifupdown_running},
         -1,
         "several managers define eth0 (netplan in /etc/netplan/a.yaml (running), ifupdown in "
         "/etc/network/interfaces (running)) and more than one of them is running: remove the definitions of "
         "all but one"},
    };
    for (const auto& row : rows) {
        std::string refusal;
        EXPECT_EQ(row.chosen, get_Owner_Choice(row.candidates, "eth0", &refusal)) << row.name;
        EXPECT_EQ(row.refusal, refusal) << row.name;
    }
}

// eth0 as a port, as each manager's own text says it; anything else is no port.
TEST(PortMaster, EachManagerNamesTheBridgeOrBond)
{
    const struct {
        const char* name;
        std::string ifupdown;
        std::string master;
    } stanzas[] = {
        {"bridge_ports", "auto br0\niface br0 inet dhcp\n    bridge_ports eth1 eth0\n", "bridge br0"},
        {"bridge_dash", "iface br0 inet manual\n\tbridge-ports eth0\n", "bridge br0"},
        {"bond_slaves", "iface bond0 inet dhcp\n  bond-slaves eth0 eth1\n", "bond bond0"},
        {"bond_master", "iface eth0 inet manual\n  bond-master bond1\n", "bond bond1"},
        {"other_port", "iface br0 inet dhcp\n  bridge_ports eth10\n", ""},
        {"commented", "iface br0 inet dhcp\n#  bridge_ports eth0\n", ""},
        {"not_a_port_option", "iface br0 inet dhcp\n  up ip link set eth0 up\n", ""},
        // A stanza ends at the next auto line: the option there belongs to no stanza.
        {"after_the_stanza", "iface br0 inet dhcp\nauto br0\n  bridge_ports eth0\n", ""},
        {"own_stanza_bridge_line", "iface eth0 inet manual\n  bridge_ports eth0\n", ""},
    };
    for (const auto& row : stanzas)
        EXPECT_EQ(row.master, get_ifupdown_Master(row.ifupdown, "eth0")) << row.name;

    const std::string bridge =
        "network:\n  ethernets:\n    lan: {match: {name: eth0}}\n"
        "  bridges:\n    br0: {interfaces: [lan]}\n  vlans:\n    v10: {id: 10, link: lan}\n";
    EXPECT_EQ("bridge br0", get_netplan_Master(bridge, "lan"));
    EXPECT_EQ("bond bond0",
              get_netplan_Master("network:\n  bonds:\n    bond0:\n      interfaces: [eth0]\n", "eth0"));
    EXPECT_EQ("", get_netplan_Master("network:\n  vlans:\n    v10: {id: 10, link: eth0}\n", "eth0"));
    EXPECT_EQ("", get_netplan_Master("network:\n  bridges:\n    br0: {interfaces: eth0}\n", "eth0"));

    EXPECT_EQ("bridge br0", get_Nmcli_Master("connection.master:br0\nconnection.slave-type:bridge\n"));
    EXPECT_EQ("bond 7d3c8e9a-1b2c-4d5e-8f90-a1b2c3d4e5f6",
              get_Nmcli_Master(
                  "connection.master:7d3c8e9a-1b2c-4d5e-8f90-a1b2c3d4e5f6\nconnection.slave-type:bond\n"));
    EXPECT_EQ("", get_Nmcli_Master("connection.master:\nconnection.slave-type:\n"));
}

// systemd-networkd's [Match] as it would judge eth0, and what a .network file gives.
TEST(Networkd, MatchAndSettings)
{
    const Interface_Facts eth0{"eth0", "52:54:00:12:34:56", "virtio_net"};
    const struct {
        const char* name;
        const char* match;
        bool selected;
    } matches[] = {
        {"name_glob", "Name=en* eth*\n", true},
        {"other_name", "Name=eth1\n", false},
        {"inverted", "Name=!eth0\n", false},
        {"reset_by_empty", "Name=eth1\nName=\nName=eth0\n", true},
        {"mac_any_case", "MACAddress=52:54:00:AA:BB:CC 52:54:00:12:34:56\n", true},
        {"other_mac", "MACAddress=52:54:00:aa:bb:cc\n", false},
        {"both_must_hold", "Name=eth0\nMACAddress=52:54:00:aa:bb:cc\n", false},
        {"driver", "Driver=virtio*\n", true},
        {"other_driver", "Name=eth*\nDriver=veth\n", false},
        // Debian's 80-wifi-adhoc.network: no wired link is a wlan.
        {"wireless_type", "Type=wlan\nWLANInterfaceType=ad-hoc\n", false},
        {"unjudged_counts_as_met", "Name=eth0\nVirtualization=vm\nPath=pci-*\n", true},
        {"empty_match", "", true},
    };
    for (const auto& row : matches)
        EXPECT_EQ(row.selected,
                  get_Networkd_Match(std::string("[Match]\n") + row.match + "\n[Network]\nDHCP=yes\n", eth0))
            << row.name;

    using Setting = Network::CONFIG_TYPE;
    const std::string file =
        "[Match]\nName=eth0\n\n[Network]\nDHCP=ipv6\nAddress=fd00::5/64\nDNS=fd00::53 10.0.0.2\n"
        "DNS=10.0.0.3\n\n[Address]\nAddress=10.0.0.5/20\n\n[Route]\nDestination=10.9.0.0/16\n"
        "Gateway=10.0.0.254\n\n[Route]\nGateway=10.0.0.1\n";
    const std::vector<std::string> shown = {"1",        "10.0.0.5", "10.0.0.1", "255.255.240.0",
                                            "10.0.0.2", "10.0.0.3"};
    for (uint8_t t = 0; t < 6; ++t)
        EXPECT_EQ(shown[t], get_Networkd_Setting(file, static_cast<Setting>(t))) << int(t);
    EXPECT_EQ("0", get_Networkd_Setting("[Network]\nDHCP=yes\n", Setting::MODE));
    EXPECT_EQ("10.0.0.9", get_Networkd_Setting("[Network]\nGateway=10.0.0.9\n[Route]\nGateway=10.0.0.1\n",
                                               Setting::GATEWAY));

    std::string applied = "unset";
    EXPECT_TRUE(get_Networkctl_File(
        "  Network File: /etc/systemd/network/20-wired.network\n  State: routable\n", &applied));
    EXPECT_EQ("/etc/systemd/network/20-wired.network", applied);
    EXPECT_TRUE(get_Networkctl_File("Network File: n/a\n", &applied));
    EXPECT_EQ("", applied);
    EXPECT_FALSE(get_Networkctl_File("Failed to connect system bus: No such file or directory\n", &applied));
}

} // namespace
