// Stock host layouts (tests/fixtures/layouts) through start-up, the operator
// CLI's show, a static change and a DHCP change, judged by what the real
// netplan generator renders from the whole tree.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "host_paths.h"
#include "log.h"
#include "network.h"
#include "parser_judges.h"
#include "netcfg_cli.h"
#include "networkd_instance.h"
#include "process.h"
#include "sandbox.h"

namespace {

namespace fs = std::filesystem;

const std::string layouts = std::string(LUMERION_SOURCE_DIR) + "/tests/fixtures/layouts/";

// The renderer lines in the order the judge gives them.
std::string get_Sorted_Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line + "\n");
    std::sort(lines.begin(), lines.end());
    std::string sorted;
    for (const std::string& line : lines)
        sorted += line;
    return sorted;
}

struct Layout {
    const char* name;
    const char* shown;          // the start of show's settings
    bool editable;              // changes go through, or are refused with no byte changed
    const char* kept;           // eth0's other renderer lines that every change keeps
    const char* setup = "true"; // the host around eth0
};

void show_Changes_Nothing(const Layout& row, bool no_eth0)
{
    auto before = get_Tree_Snapshot({"/etc", "/run"});
    Process_Result show = netcfg({"show"});
    EXPECT_TRUE(before == get_Tree_Snapshot({"/etc", "/run"})) << "show changed a file";
    EXPECT_EQ(no_eth0 ? 1 : 0, show.exit_status) << show.err;
    EXPECT_NE(std::string::npos, (show.out + show.err).find(row.shown)) << show.out << show.err;
}

class HostLayout : public ::testing::TestWithParam<Layout> {};

const std::vector<std::string> static_change = {"set",       "--static",      "--address", "10.0.0.77",
                                                "--netmask", "255.255.255.0", "--gateway", "10.0.0.1",
                                                "--dns1",    "9.9.9.9",       "--apply"};
const std::vector<std::string> dhcp_change = {"set", "--dhcp", "--apply"};

TEST_P(HostLayout, EachChangeGivesEth0ExactlyWhatWasAsked)
{
    const Layout& row = GetParam();
    const std::string root = layouts + row.name;
    ASSERT_EQ(0, run_Shell("ip link set eth0 down && ip link set eth0 address 52:54:00:12:34:56 && "
                           "ip link set eth0 up"));
    for (const char* top : {"etc", "run"}) {
        if (fs::is_directory(root + "/" + top)) {
            ASSERT_EQ(0, run_Shell("cp -r " + root + "/" + top + "/. /" + top + "/"));
        }
    }
    run_Shell("chmod 600 /etc/netplan/*.yaml /run/netplan/*.yaml 2>/dev/null");
    ASSERT_EQ(0, run_Shell(row.setup));
    bool no_eth0 = std::string(row.name) == "no_eth0";
    if (no_eth0) {
        ASSERT_EQ(0, run_Shell("ip link set eth0 down && ip link set eth0 name enP5p1s0"));
    }
    set_Tool_Answer("systemctl", "is-active NetworkManager", "inactive\n", 3);

    // Before the daemon ever ran (no default, leftover in place) and after.
    if (std::string(row.name) != "bare")
        show_Changes_Nothing(row, no_eth0);
    // Start-up: what main does first.
    Log_Capture log;
    Network::set_Interface_Name("eth0");
    std::string start = log.text();
    EXPECT_EQ(no_eth0 ? 1u : 0u, static_cast<size_t>(std::count(start.begin(), start.end(), '\033')) / 2)
        << start;
    Netplan_Verdict rendered = get_Netplan_Tree_Verdict();

    show_Changes_Nothing(row, no_eth0);

    const struct {
        const std::vector<std::string>& args;
        std::string renders;
    } changes[] = {
        {static_change, "Address=10.0.0.77/24\n" + std::string(row.kept) + "DNS=9.9.9.9\nGateway=10.0.0.1\n"},
        {dhcp_change, std::string(row.kept) + "DHCP=ipv4\nDNS=9.9.9.9\n"},
        // A repeated apply changes nothing more: no other address is lost to it.
        {dhcp_change, std::string(row.kept) + "DHCP=ipv4\nDNS=9.9.9.9\n"},
    };
    for (const auto& change : changes) {
        auto before = get_Tree_Snapshot({"/etc", "/run"});
        Process_Result r = netcfg(change.args);
        EXPECT_EQ(row.editable ? 0 : 1, r.exit_status) << r.err;
        Netplan_Verdict verdict = get_Netplan_Tree_Verdict();
        if (row.editable) {
            EXPECT_EQ(get_Sorted_Lines(change.renders), verdict.unit) << change.args[1];
        } else {
            EXPECT_TRUE(before == get_Tree_Snapshot({"/etc", "/run"}))
                << change.args[1] << ": a refused change wrote";
            EXPECT_EQ(rendered.unit, verdict.unit);
        }
        EXPECT_EQ(0, verdict.rc) << verdict.err;
        EXPECT_EQ("", verdict.err);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, HostLayout,
    ::testing::Values(
        Layout{"cloud_init_on",
               "mode: static\naddress: 10.0.0.5\nnetmask: 255.255.255.0\ngateway: 10.0.0.1\n"
               "dns1: 10.0.0.2\n",
               false, ""},
        Layout{"cloud_init_off",
               "mode: static\naddress: 10.0.0.5\nnetmask: 255.255.255.0\ngateway: 10.0.0.1\n", true, ""},
        Layout{"cloud_mac_set_name", "mode: dhcp\n", true, ""},
        Layout{"installer", "mode: static\naddress: 10.0.0.5\n", true, ""},
        // Before start-up show tells the merge as netplan renders it (DHCP on top of the address),
        // after it the installer's static settings alone.
        Layout{"leftover", "manager: netplan\nmode: ", true, ""},
        Layout{"second_address", "mode: static\naddress: 10.0.0.5\n", true, "Address=10.0.0.9/24\n"},
        Layout{"no_eth0", "eth0 does not exist", false, ""},
        // The second default server stays: the change names only the first.
        Layout{"bare", "manager: netplan\nmode: dhcp\n", true, "DNS=8.8.8.8\n"},
        Layout{"spread", "mode: static\naddress: 10.0.0.5\n", false, ""},
        Layout{"runtime", "mode: static\naddress: 10.0.0.5\n", false, ""},
        // The installer's static file beside cloud-init's DHCP one: the address is no lease, and a change
        // is refused with cloud-init's hand-over.
        Layout{"installer_cloud_init",
               "mode: dhcp\naddress: 10.0.0.5\nnetmask: 255.255.255.0\ngateway: 10.0.0.1\n"
               "dns1: 10.0.0.2\ndns2: \nnote: changes are refused: eth0's IPv4 settings are spread over "
               "several files "
               "(eth0 in /etc/netplan/00-installer-config.yaml, eth0 in /etc/netplan/50-cloud-init.yaml): "
               "/etc/netplan/50-cloud-init.yaml is rewritten by cloud-init at boot",
               false, "", "ip addr add 10.0.0.5/24 dev eth0 && ip route add default via 10.0.0.1"},
        // A definition that takes every eth*: a change would reach eth1 too.
        Layout{
            "shared_glob",
            "note: changes are refused: all-eth in /etc/netplan/50-all-eth.yaml matches by name eth*, which "
            "takes eth0, eth0-peer, eth1 now",
            false, "", "ip link add eth1 type veth peer name gw1"},
        // An address with options (the new one keeps them), and IPv6 beside IPv4 in flow style.
        Layout{"address_options", "mode: static\naddress: 10.0.0.5\nnetmask: 255.255.255.0\n", true, ""},
        Layout{"dual_stack_flow", "mode: static\naddress: 10.0.0.5\nnetmask: 255.255.255.0\n", true,
               "Address=2001:db8::5/64\nDNS=2001:db8::53\nGateway=2001:db8::1\n"}),
    [](const ::testing::TestParamInfo<Layout>& info) { return std::string(info.param.name); });

struct Stanza_Layout {
    const char* name;
    const char* shown;   // the start of show's settings
    const char* file;    // the one file a change may edit
    bool resolvconf;     // its hook hands dns-nameservers to the resolver; else a DNS change is refused
    const char* servers; // ifquery's dns-nameservers once the static change set DNS1 9.9.9.9
};

class IfupdownLayout : public ::testing::TestWithParam<Stanza_Layout> {};

// Start-up and show leave every byte alone; a change edits only the stanza's
// own file, and ifup plans exactly what was asked, with one method.
TEST_P(IfupdownLayout, EachChangeGivesEth0ExactlyWhatWasAsked)
{
    const Stanza_Layout& row = GetParam();
    make_Manager_Directories();
    ASSERT_EQ(0, run_Shell("cp -r " + layouts + row.name + "/etc/. /etc/"));
    set_Tool_Answer("systemctl", "is-active NetworkManager", "inactive\n", 3);
    set_Resolvconf_Hook(row.resolvconf);
    auto before = get_Tree_Snapshot({"/etc", "/run"});
    show_Changes_Nothing(Layout{row.name, row.shown, true, ""}, false);
    Log_Capture log;
    Network::set_Interface_Name("eth0");
    EXPECT_EQ(std::string::npos, log.text().find("ERROR")) << log.text();
    EXPECT_TRUE(before == get_Tree_Snapshot({"/etc", "/run"})) << "start-up changed a file";
    show_Changes_Nothing(Layout{row.name, row.shown, true, ""}, false);

    if (!row.resolvconf) {
        // Servers that nothing would hand to the resolver: the whole change is refused, no byte written.
        Process_Result r = netcfg(static_change);
        EXPECT_NE(0, r.exit_status);
        EXPECT_NE(std::string::npos, r.err.find("dns-nameservers takes no effect on this host")) << r.err;
        EXPECT_TRUE(before == get_Tree_Snapshot({"/etc", "/run"})) << "a refused change wrote a file";
    }
    std::vector<std::string> address_change = static_change;
    if (!row.resolvconf)
        address_change.erase(address_change.end() - 3, address_change.end() - 1);
    const struct {
        const std::vector<std::string>& args;
        const char* plan;
    } changes[] = {
        {address_change, "address 10.0.0.77/255.255.255.0\ngateway 10.0.0.1\n"},
        {dhcp_change, "dhcp\n"},
        {dhcp_change, "dhcp\n"},
    };
    for (const auto& change : changes) {
        Process_Result r = netcfg(change.args);
        EXPECT_EQ(0, r.exit_status) << r.err;
        EXPECT_EQ(change.plan, get_Ifup_Plan()) << change.args[1];
        std::string options = get_Ifquery_Options(row.file);
        size_t line = options.find("dns-nameservers: ");
        EXPECT_EQ(row.servers, line == std::string::npos
                                   ? ""
                                   : options.substr(line + 17, options.find('\n', line) - line - 17))
            << change.args[1];
    }
    auto after = get_Tree_Snapshot({"/etc", "/run"});
    for (const auto& file : after) {
        if (file.first != row.file) {
            EXPECT_EQ(before[file.first], file.second) << file.first;
        }
    }
    EXPECT_EQ(before.size(), after.size()) << "a file was added or removed";
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, IfupdownLayout,
    ::testing::Values(
        // The installer's stanza with resolvconf: DNS1 is replaced, IPv6 and later servers stay.
        Stanza_Layout{"ifupdown_installer",
                      "manager: ifupdown\nmode: static\naddress: 10.0.0.5\nnetmask: 255.255.255.0\n"
                      "gateway: 10.0.0.1\ndns1: 10.0.0.2\ndns2: 10.0.0.3\n",
                      "/etc/network/interfaces", true, "9.9.9.9 fd00::53 10.0.0.3 10.0.0.4"},
        Stanza_Layout{"ifupdown_hotplug_only", "manager: ifupdown\nmode: dhcp\n", "/etc/network/interfaces",
                      true, "9.9.9.9"},
        Stanza_Layout{"ifupdown_source_glob", "manager: ifupdown\nmode: static\naddress: 10.0.0.5\n",
                      "/etc/network/interfaces.d/eth0.cfg", true, "9.9.9.9"},
        // Nine files that each source all nine: each read once, as ifupdown reads them.
        Stanza_Layout{"ifupdown_source_fanout", "manager: ifupdown\nmode: static\naddress: 10.0.0.5\n",
                      "/etc/network/interfaces", true, "9.9.9.9"},
        // Debian's stock layout, beside the empty /etc/netplan of an installed netplan; no resolvconf.
        Stanza_Layout{"ifupdown_source_directory", "manager: ifupdown\nmode: static\n",
                      "/etc/network/parts/50-eth0", false, ""},
        // The installer's stanza where resolvconf is not installed: its servers show as having no effect.
        Stanza_Layout{
            "ifupdown_installer",
            "dns1: 10.0.0.2 (no effect)\ndns2: 10.0.0.3 (no effect)\nnote: dns-nameservers takes no "
            "effect on this host",
            "/etc/network/interfaces", false, "10.0.0.2 fd00::53 10.0.0.3 10.0.0.4"}),
    [](const ::testing::TestParamInfo<Stanza_Layout>& info) {
        return std::string(info.param.name) + (info.param.resolvconf ? "" : "_no_resolvconf");
    });

struct Port_Layout {
    const char* name;
    const char* master; // as show names it
    const char* judge;  // a shell line with the real parser's word that eth0 is the master's port
    const char* port;   // what the judge prints
};

class PortLayout : public ::testing::TestWithParam<Port_Layout> {};

// A bridge's or bond's port has no addresses of its own: start-up and show
// leave it alone and show none as eth0's, and every change is refused by name.
TEST_P(PortLayout, EthZeroIsLeftToItsMaster)
{
    const Port_Layout& row = GetParam();
    make_Manager_Directories();
    ASSERT_EQ(0, run_Shell("rm -f /etc/network/interfaces && cp -r " + layouts + row.name + "/etc/. /etc/"));
    set_Tool_Answer("systemctl", "is-active NetworkManager", "inactive\n", 3);
    std::string judged = get_Sandbox_Dir() + "/judge.out";
    ASSERT_EQ(0, run_Shell(std::string(row.judge) + " > " + judged + " 2>&1")) << read_File(judged);
    EXPECT_EQ(row.port, read_File(judged)) << "the fixture does not make eth0 a port";

    auto before = get_Tree_Snapshot({"/etc", "/run"});
    Log_Capture log;
    Network::set_Interface_Name("eth0");
    std::string started = log.text();
    EXPECT_EQ(std::string::npos, started.find("ERROR")) << started;
    EXPECT_NE(std::string::npos, started.find(std::string("eth0 is a port of ") + row.master)) << started;
    Process_Result show = netcfg({"show"});
    EXPECT_EQ(0, show.exit_status) << show.err;
    EXPECT_NE(std::string::npos, show.out.find(std::string("port of: ") + row.master + "\nnote: "))
        << show.out;
    for (const char* own : {"address:", "netmask:", "gateway:", "mode:"})
        EXPECT_EQ(std::string::npos, show.out.find(own)) << show.out;
    for (const auto& change : {static_change, dhcp_change}) {
        Process_Result r = netcfg(change);
        EXPECT_EQ(1, r.exit_status) << r.err;
        EXPECT_NE(std::string::npos, r.err.find(std::string("eth0 is a port of ") + row.master)) << r.err;
    }
    EXPECT_TRUE(before == get_Tree_Snapshot({"/etc", "/run"})) << "a file was written for a port";
    EXPECT_TRUE(get_Command_Calls().empty());
}

const char* const netplan_ports = "R=/run/judge && mkdir -p $R/etc && cp -r /etc/netplan $R/etc/ && "
                                  "/usr/sbin/netplan generate --root-dir $R && "
                                  "grep -rh '^Bridge=\\|^Bond=\\|^VLAN=' $R/run/systemd/network/";

INSTANTIATE_TEST_SUITE_P(
    Layouts, PortLayout,
    ::testing::Values(
        // eth0 also carries a VLAN: it is kept as it is.
        Port_Layout{"netplan_bridge", "bridge br0", netplan_ports, "Bridge=br0\nVLAN=vlan10\n"},
        Port_Layout{"netplan_bond", "bond bond0", netplan_ports, "Bond=bond0\n"},
        Port_Layout{"ifupdown_bridge", "bridge br0", "/usr/sbin/ifquery br0 | grep ports",
                    "bridge_ports: eth0\n"},
        Port_Layout{"ifupdown_bond", "bond bond0", "/usr/sbin/ifquery eth0", "bond-master: bond0\n"}),
    [](const ::testing::TestParamInfo<Port_Layout>& info) { return std::string(info.param.name); });

// The [ipv4] lines netplan renders for NetworkManager from the tree's netplan files.
std::string get_Rendered_Profile_Ipv4()
{
    std::string out = get_Sandbox_Dir() + "/rendered.out";
    run_Shell("R=/run/judge && rm -rf $R && mkdir -p $R/etc && cp -r /etc/netplan $R/etc/ && "
              "/usr/sbin/netplan generate --root-dir $R && "
              "sed -n '/^\\[ipv4\\]/,/^$/p' $R/run/NetworkManager/system-connections/*.nmconnection | "
              "grep -v '^#' > " +
              out + " 2>&1");
    return read_File(out);
}

// Ubuntu's desktop keeps NetworkManager's profiles as 90-NM- netplan files: what their passthrough
// block sets is what NetworkManager gets, so show reads it and a change to it is refused; DNS, which
// this block does not set, is changed as on any netplan host.
TEST(PassthroughLayout, TheBlockIsReadAndNotEditedAround)
{
    make_Manager_Directories();
    ASSERT_EQ(0, run_Shell("cp -r " + layouts + "nm_netplan_passthrough/etc/. /etc/"));
    set_Tool_Answer("systemctl", "is-active NetworkManager", "inactive\n", 3);
    const std::string before_ipv4 = get_Rendered_Profile_Ipv4();
    ASSERT_EQ("[ipv4]\nmethod=manual\naddress1=10.0.0.7/24,10.0.0.1\nroute1=0.0.0.0/0,10.0.0.1\n\n",
              before_ipv4);
    auto before = get_Tree_Snapshot({"/etc", "/run"});
    Log_Capture log;
    Network::set_Interface_Name("eth0");
    EXPECT_EQ(std::string::npos, log.text().find("ERROR"));
    Process_Result show = netcfg({"show"});
    EXPECT_NE(std::string::npos, show.out.find("manager: netplan\nmode: static\naddress: 10.0.0.7\n"
                                               "netmask: 255.255.255.0\ngateway: 10.0.0.1\n"))
        << show.out << show.err;

    for (const auto& change : {static_change, dhcp_change}) {
        Process_Result r = netcfg(change);
        EXPECT_EQ(1, r.exit_status) << r.err;
        EXPECT_NE(std::string::npos,
                  r.err.find("the networkmanager.passthrough block of /etc/netplan/90-NM-"))
            << r.err;
    }
    EXPECT_TRUE(before == get_Tree_Snapshot({"/etc", "/run"})) << "a refused change wrote a file";
    EXPECT_EQ(before_ipv4, get_Rendered_Profile_Ipv4());

    Process_Result dns = netcfg({"set", "--dns1", "9.9.9.9", "--apply"});
    EXPECT_EQ(0, dns.exit_status) << dns.err;
    EXPECT_EQ(
        "[ipv4]\nmethod=manual\naddress1=10.0.0.7/24,10.0.0.1\ndns=9.9.9.9;\nroute1=0.0.0.0/0,10.0.0.1\n\n",
        get_Rendered_Profile_Ipv4());
}

struct Networkd_Layout {
    const char* name;
    bool running;      // a real systemd-networkd runs and names its file; else the files are matched
    const char* file;  // the .network file that applies to eth0
    const char* shown; // the start of show's settings
};

class NetworkdLayout : public ::testing::TestWithParam<Networkd_Layout> {};

// A host where systemd-networkd alone manages eth0: no default file is written, show reads the
// .network file that applies, and every change is refused with how to hand eth0 over.
TEST_P(NetworkdLayout, EthZeroIsReadAndLeftToNetworkd)
{
    const Networkd_Layout& row = GetParam();
    make_Manager_Directories();
    ASSERT_EQ(0, run_Shell("ip link set eth0 address 52:54:00:12:34:56 && cp -r " + layouts + row.name +
                           "/etc/. /etc/ && if [ -d " + layouts + row.name + "/run ]; then cp -r " + layouts +
                           row.name + "/run/. /run/; fi"));
    set_Tool_Answer("systemctl", "is-active NetworkManager", "inactive\n", 3);
    Networkd_Instance networkd;
    if (row.running) {
        std::string why;
        ASSERT_TRUE(networkd.start(&why)) << why;
        ASSERT_EQ(row.file, networkd.wait_Network_File("eth0", 60)) << networkd.log();
    }
    const std::vector<std::string> trees = {"/etc", "/run/netplan", "/run/systemd/network"};
    auto before = get_Tree_Snapshot(trees);
    Log_Capture log;
    Network::set_Interface_Name("eth0");
    std::string started = log.text();
    EXPECT_EQ(std::string::npos, started.find("ERROR")) << started;
    EXPECT_NE(std::string::npos, started.find("Manager Type: systemd-networkd")) << started;
    Process_Result show = netcfg({"show"});
    EXPECT_EQ(0, show.exit_status) << show.err;
    EXPECT_NE(std::string::npos, show.out.find(std::string("manager: systemd-networkd\n") + row.shown))
        << show.out << show.err;
    for (const auto& change : {static_change, dhcp_change}) {
        Process_Result r = netcfg(change);
        EXPECT_EQ(1, r.exit_status) << r.err;
        EXPECT_NE(std::string::npos,
                  r.err.find(std::string("eth0 is managed by systemd-networkd through ") + row.file))
            << r.err;
    }
    EXPECT_TRUE(before == get_Tree_Snapshot(trees)) << "a file was written on a networkd host";
    EXPECT_TRUE(get_Command_Calls().empty());
}

const char* const static_shown = "mode: static\naddress: 10.0.0.5\nnetmask: 255.255.255.0\ngateway: "
                                 "10.0.0.1\ndns1: 10.0.0.2\ndns2: 10.0.0.3\n";

INSTANTIATE_TEST_SUITE_P(
    Layouts, NetworkdLayout,
    ::testing::Values(
        Networkd_Layout{"networkd_static", false, "/etc/systemd/network/20-wired.network", static_shown},
        Networkd_Layout{"networkd_static", true, "/etc/systemd/network/20-wired.network", static_shown},
        Networkd_Layout{"networkd_mac_dhcp", false, "/etc/systemd/network/50-uplink.network", "mode: dhcp\n"},
        // /etc hides /run's file of the same name; /run's earlier file is another interface's.
        Networkd_Layout{"networkd_precedence", true, "/etc/systemd/network/30-eth0.network",
                        "mode: static\naddress: 10.0.0.5\nnetmask: 255.255.255.0\ngateway: 10.0.0.1\n"},
        Networkd_Layout{"networkd_precedence", false, "/etc/systemd/network/30-eth0.network",
                        "mode: static\naddress: 10.0.0.5\nnetmask: 255.255.255.0\ngateway: 10.0.0.1\n"}),
    [](const ::testing::TestParamInfo<Networkd_Layout>& info) {
        return std::string(info.param.name) + (info.param.running ? "_running" : "_files");
    });

} // namespace
