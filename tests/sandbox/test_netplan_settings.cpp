// Reading and rewriting the netplan file, judged byte for byte and by the
// real netplan generator (never "netplan apply").
#include <gtest/gtest.h>

#include <string.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "network.h"
#include "host_paths.h"
#include "network_access.h"
#include "parser_judges.h"
#include "sandbox.h"

namespace {

namespace fs = std::filesystem;
using Access = Network_Test_Access;
using Type = Network::CONFIG_TYPE;

struct Read {
    uint8_t rc;
    std::string text;
};

Read read_Result(Type type)
{
    Read r;
    r.text = read_Setting(type, &r.rc);
    return r;
}

void stage(bool dhcp, const char* address, const char* mask, const char* gateway, const char* dns1,
           const char* dns2)
{
    Network::Config& c = Access::staged();
    c.ip4_dhcp = dhcp;
    c.ip4_address = address;
    c.ip4_subnetmask = mask;
    c.ip4_gateway = gateway;
    c.dns1 = dns1;
    c.dns2 = dns2;
}

class Netplan : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories("/etc/netplan");
        set_Tool_Answer("systemctl", "is-active NetworkManager", "inactive\n", 3);
        // eth0's own address and default route are what a read falls back to.
        ASSERT_EQ(0,
                  run_Shell("ip addr add 192.168.9.9/16 dev eth0 && ip route add default via 192.168.9.1"));
    }
    static void put(const std::string& text) { write_File(netplan_file, text); }
};

const std::string default_document =
    "network:\n  ethernets:\n    eth0:\n      dhcp4: true\n      nameservers:\n"
    "        addresses:\n          - 1.1.1.1\n          - 8.8.8.8\n";

const std::string static_entry = "network:\n"
                                 "  version: 2\n"
                                 "  ethernets:\n"
                                 "    eth0:\n"
                                 "      dhcp4: false\n"
                                 "      addresses: [\"fe80::5/64\", 10.0.0.5/24]\n"
                                 "      gateway4: 10.0.0.1\n"
                                 "      routes:\n"
                                 "        - to: default\n"
                                 "          via: 10.0.0.1\n"
                                 "        - to: 10.1.0.0/16\n"
                                 "          via: 10.0.0.254\n"
                                 "      nameservers:\n"
                                 "        search: [lab]\n"
                                 "        addresses: [10.0.0.53]\n"
                                 "      mtu: 9000\n"
                                 "    eth1:\n"
                                 "      dhcp4: true\n";

TEST_F(Netplan, ReadsEachSettingWithLiveFallbacks)
{
    const struct {
        const char* name;
        std::string file;
        std::vector<std::string> expected; // MODE, IP, GATEWAY, MASK, DNS1, DNS2
    } cases[] = {
        {"default",
         default_document,
         {"0", "192.168.9.9", "192.168.9.1", "255.255.0.0", "1.1.1.1", "8.8.8.8"}},
        {"static", static_entry, {"1", "10.0.0.5", "10.0.0.1", "255.255.255.0", "10.0.0.53", ""}},
        {"no_dhcp4_routes_only",
         "network:\n  ethernets:\n    eth0:\n      addresses: [172.16.0.2/12]\n      routes:\n"
         "        - to: default\n          via: 172.16.0.1\n",
         {"1", "172.16.0.2", "172.16.0.1", "255.240.0.0", "", ""}},
        {"address_without_prefix",
         "network:\n  ethernets:\n    eth0:\n      addresses: [10.9.9.9]\n",
         {"1", "10.9.9.9", "192.168.9.1", "255.255.0.0", "", ""}},
        {"null_entry",
         "network:\n  ethernets:\n    eth0:\n",
         {"1", "192.168.9.9", "192.168.9.1", "255.255.0.0", "", ""}},
    };
    for (const auto& c : cases) {
        put(c.file);
        for (uint8_t t = 0; t < 6; ++t) {
            Read r = read_Result(static_cast<Type>(t));
            EXPECT_EQ(0, r.rc) << c.name << " type " << int(t);
            EXPECT_EQ(c.expected[t], r.text) << c.name << " type " << int(t);
        }
    }
}

// The default route on another interface is none of eth0's settings, whatever the host report names.
TEST_F(Netplan, FallbacksReadEth0OnlyWhenTheDefaultRouteIsElsewhere)
{
    ASSERT_EQ(0, run_Shell("ip addr flush dev eth0 && ip link add eth1 type veth peer name eth1-peer && "
                           "ip link set eth1 up && ip addr add 10.7.0.5/24 dev eth1 && "
                           "ip route add default via 10.7.0.1 dev eth1"));
    const struct {
        const char* name;
        const char* eth0_address; // "" for none
        std::string file;
        std::vector<std::string> expected; // MODE, IP, GATEWAY, MASK
    } cases[] = {
        {"dhcp_without_lease", "", default_document, {"0", "", "", ""}},
        {"dhcp_leased_no_route", "172.20.0.7/20", default_document, {"0", "172.20.0.7", "", "255.255.240.0"}},
        {"static_without_gateway",
         "10.0.0.5/24",
         "network:\n  ethernets:\n    eth0:\n      addresses: [10.0.0.5/24]\n",
         {"1", "10.0.0.5", "", "255.255.255.0"}},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(0, run_Shell("ip addr flush dev eth0"));
        if (*c.eth0_address != '\0') {
            ASSERT_EQ(0, run_Shell(std::string("ip addr add ") + c.eth0_address + " dev eth0"));
        }
        put(c.file);
        // The host report's refresh names eth1's address and gateway.
        Network::update_Default_IP_Info();
        for (uint8_t t = 0; t < 4; ++t)
            EXPECT_EQ(c.expected[t], read_Result(static_cast<Type>(t)).text) << c.name << " type " << int(t);
    }
}

TEST_F(Netplan, ReadFailuresAreReportedOnce)
{
    const struct {
        const char* name;
        std::string file;
        Type type;
        const char* line;
    } cases[] = {
        {"no_entry", "network:\n  ethernets:\n    eth1:\n      dhcp4: true\n", Type::MODE,
         "target inferface is not defined"},
        {"no_network", "something: else\n", Type::IP_ADDRESS, "target inferface is not defined"},
        {"not_yaml", "network: [\n", Type::MODE, "Config File Load Error"},
        {"network_scalar", "network: 5\n", Type::MODE, "Config File Load Error"},
        {"dhcp4_not_boolean", "network:\n  ethernets:\n    eth0:\n      dhcp4: maybe\n", Type::MODE,
         "Config File Value Error: dhcp4 is not a boolean"},
        {"address_entry_list",
         "network:\n  ethernets:\n    eth0:\n      addresses:\n        - [10.0.0.5/24]\n", Type::IP_ADDRESS,
         "Config File Value Error: addresses: an entry is neither an address nor an address with its "
         "options"},
        {"prefix_out_of_range", "network:\n  ethernets:\n    eth0:\n      addresses: [10.0.0.5/40]\n",
         Type::SUBNETMASK,
         "Config File Value Error: addresses: the prefix length of 10.0.0.5/40 is not 0 to 32"},
        {"route_not_a_map", "network:\n  ethernets:\n    eth0:\n      routes: [default]\n", Type::GATEWAY,
         "Config File Value Error: routes: an entry is not a map"},
    };
    for (const auto& c : cases) {
        put(c.file);
        Log_Capture log;
        Read r = read_Result(c.type);
        EXPECT_EQ(1, r.rc) << c.name;
        EXPECT_EQ(std::string("\033[31m[ERROR]\t[Network] get_Config: ") + c.line + "\033[0m\n", log.text())
            << c.name;
        // Nothing half-read reaches the caller: the zeroed buffer comes back as it was.
        EXPECT_EQ(c.type == Type::MODE ? "0" : "", r.text) << c.name;
    }
}

TEST_F(Netplan, SelectionLoadsTheStagedRecord)
{
    put(static_entry);
    Log_Capture log;
    Network::set_Interface_Name("eth0");
    EXPECT_EQ("[INFO]\t[Network] set_Interface_Name: Interface: eth0, Manager Type: netplan\n", log.text());
    const Network::Config& c = Access::staged();
    EXPECT_FALSE(c.ip4_dhcp);
    EXPECT_EQ("10.0.0.5", c.ip4_address);
    EXPECT_EQ("255.255.255.0", c.ip4_subnetmask);
    EXPECT_EQ("10.0.0.1", c.ip4_gateway);
    EXPECT_EQ("10.0.0.53", c.dns1);
    EXPECT_EQ("", c.dns2);
}

TEST_F(Netplan, StagingWritesNothingUntilApply)
{
    put(default_document);
    clear_Tool_Calls();
    EXPECT_EQ(0, Network::set_Config(Type::MODE, "\x01"));
    EXPECT_EQ(0, Network::set_Config(Type::IP_ADDRESS, "192.168.1.10"));
    EXPECT_EQ(0, Network::set_Config(Type::SUBNETMASK, "255.255.255.0"));
    EXPECT_EQ(0, Network::set_Config(Type::GATEWAY, "192.168.1.1"));
    EXPECT_EQ(0, Network::set_Config(Type::DNS1, "9.9.9.9"));
    EXPECT_EQ(0, Network::set_Config(Type::DNS2, ""));
    EXPECT_EQ(default_document, read_File(netplan_file));
    EXPECT_TRUE(get_Command_Calls().empty());
    EXPECT_TRUE(Network::set_Config_Apply());
    EXPECT_EQ(std::vector<std::string>{"netplan apply"}, get_Command_Calls());
    EXPECT_EQ("network:\n"
              "  ethernets:\n"
              "    eth0:\n"
              "      dhcp4: false\n"
              "      addresses:\n"
              "        - 192.168.1.10/24\n"
              "      routes:\n"
              "        - to: default\n"
              "          via: 192.168.1.1\n"
              "      nameservers:\n"
              "        addresses:\n"
              "          - 9.9.9.9\n",
              read_File(netplan_file));
    Netplan_Verdict g = get_Netplan_Verdict(read_File(netplan_file));
    EXPECT_EQ(0, g.rc) << g.err;
    EXPECT_NE(std::string::npos, g.unit.find("Address=192.168.1.10/24\n")) << g.unit;
    EXPECT_NE(std::string::npos, g.unit.find("Gateway=192.168.1.1\n")) << g.unit;
    EXPECT_NE(std::string::npos, g.unit.find("DNS=9.9.9.9\n")) << g.unit;
    EXPECT_EQ(std::string::npos, g.unit.find("DHCP=")) << g.unit;
}

struct UpdateCase {
    const char* name;
    std::string before; // empty with `missing`: no file at all
    bool missing;
    bool dhcp;
    std::string after;
};

class NetplanUpdate : public Netplan, public ::testing::WithParamInterface<UpdateCase> {};

TEST_P(NetplanUpdate, WritesTheEntryAndNetplanAcceptsIt)
{
    const UpdateCase& c = GetParam();
    if (c.missing) {
        fs::remove(netplan_file);
    } else {
        put(c.before);
        chmod(netplan_file.c_str(), 0640);
    }
    Network::set_Interface_Name("eth0");
    if (c.dhcp)
        stage(true, "", "", "", "", "");
    else
        stage(false, "192.168.1.10", "255.255.255.0", "192.168.1.1", "9.9.9.9", "0.0.0.0");
    Access::update_netplan();
    EXPECT_EQ(c.after, read_File(netplan_file));
    struct stat info;
    ASSERT_EQ(0, stat(netplan_file.c_str(), &info));
    // An edit keeps the file's mode; a file the daemon created is 0600.
    EXPECT_EQ(c.missing ? 0600u : 0640u, info.st_mode & 07777);
    Netplan_Verdict g = get_Netplan_Verdict(read_File(netplan_file));
    EXPECT_EQ(0, g.rc) << g.err;
    EXPECT_EQ("", g.err);
}

const std::string static_default = "      addresses:\n        - 192.168.1.10/24\n      routes:\n        - "
                                   "to: default\n          via: 192.168.1.1\n"
                                   "      nameservers:\n        addresses:\n          - 9.9.9.9\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, NetplanUpdate,
    ::testing::Values(
        UpdateCase{"static_entry_to_dhcp", static_entry, false, true,
                   "network:\n"
                   "  version: 2\n"
                   "  ethernets:\n"
                   "    eth0:\n"
                   "      dhcp4: true\n"
                   "      addresses: [\"fe80::5/64\"]\n"
                   "      routes:\n"
                   "        - to: 10.1.0.0/16\n"
                   "          via: 10.0.0.254\n"
                   "      mtu: 9000\n"
                   "      nameservers:\n"
                   "        search: [lab]\n"
                   "    eth1:\n"
                   "      dhcp4: true\n"},
        UpdateCase{
            "ipv6_kept_then_ipv4_appended",
            "network:\n  ethernets:\n    eth0:\n      addresses: [\"fe80::5/64\"]\n      dhcp4: true\n",
            false, false,
            "network:\n  ethernets:\n    eth0:\n      addresses: [\"fe80::5/64\", 192.168.1.10/24]\n"
            "      dhcp4: false\n      routes:\n        - to: default\n"
            "          via: 192.168.1.1\n      nameservers:\n        addresses:\n          - 9.9.9.9\n"},
        UpdateCase{"missing_interface_added_last", "network:\n  ethernets:\n    eth1:\n      dhcp4: true\n",
                   false, false,
                   "network:\n  ethernets:\n    eth1:\n      dhcp4: true\n    eth0:\n      dhcp4: false\n" +
                       static_default},
        UpdateCase{"empty_file", "", false, false,
                   "network:\n  ethernets:\n    eth0:\n      dhcp4: false\n" + static_default},
        UpdateCase{"missing_file_gets_the_default_first", "", true, false,
                   "network:\n  ethernets:\n    eth0:\n      dhcp4: false\n" + static_default},
        UpdateCase{"zero_route_kept_with_dhcp",
                   "network:\n  ethernets:\n    eth0:\n      routes:\n        - to: 0.0.0.0/0\n"
                   "          via: 10.0.0.254\n",
                   false, true,
                   "network:\n  ethernets:\n    eth0:\n      routes:\n        - to: 0.0.0.0/0\n"
                   "          via: 10.0.0.254\n      dhcp4: true\n"},
        UpdateCase{"zero_route_replaced_when_static",
                   "network:\n  ethernets:\n    eth0:\n      routes:\n        - to: 0.0.0.0/0\n"
                   "          via: 10.0.0.254\n        - to: 10.1.0.0/16\n          via: 10.0.0.254\n",
                   false, false,
                   "network:\n  ethernets:\n    eth0:\n      routes:\n        - to: 10.1.0.0/16\n"
                   "          via: 10.0.0.254\n        - to: default\n          via: 192.168.1.1\n"
                   "      dhcp4: false\n      addresses:\n        - 192.168.1.10/24\n      nameservers:\n"
                   "        addresses:\n          - 9.9.9.9\n"},
        UpdateCase{"comments_dropped",
                   "# managed by hand\nnetwork:\n  ethernets:\n    eth0:   # the uplink\n      dhcp4: true\n",
                   false, true, "network:\n  ethernets:\n    eth0:\n      dhcp4: true\n"}),
    [](const ::testing::TestParamInfo<UpdateCase>& info) { return std::string(info.param.name); });

TEST_F(Netplan, EntriesTheUpdateCannotReadLeaveTheFileAlone)
{
    const struct {
        const char* name;
        std::string file;
    } cases[] = {
        {"entry_scalar", "network:\n  ethernets:\n    eth0: up\n"},
        {"address_list", "network:\n  ethernets:\n    eth0:\n      addresses:\n        - [10.0.0.5/24]\n"},
        {"address_map_of_two",
         "network:\n  ethernets:\n    eth0:\n      addresses:\n        - {10.0.0.5/24: {}, "
         "10.0.0.6/24: {}}\n"},
        {"route_not_map", "network:\n  ethernets:\n    eth0:\n      routes: [default]\n"},
        {"route_without_to", "network:\n  ethernets:\n    eth0:\n      routes:\n        - via: 10.0.0.1\n"},
        {"route_to_map", "network:\n  ethernets:\n    eth0:\n      routes:\n        - to: {a: b}\n"},
        {"network_sequence", "network: [a, b]\n"},
        {"ethernets_scalar", "network:\n  ethernets: none\n"},
        {"not_yaml", "network: {\n"},
    };
    stage(false, "192.168.1.10", "255.255.255.0", "192.168.1.1", "9.9.9.9", "");
    for (const auto& c : cases) {
        put(c.file);
        Log_Capture log;
        EXPECT_FALSE(Access::update_netplan()) << c.name;
        EXPECT_NE(std::string::npos,
                  log.text().find("\033[31m[ERROR]\t[Network] set_Config_Apply: Config File Load Error: "))
            << c.name << ": " << log.text();
        EXPECT_EQ(c.file, read_File(netplan_file)) << c.name;
        size_t files = 0;
        for (const auto& e : fs::directory_iterator("/etc/netplan")) {
            (void)e;
            ++files;
        }
        EXPECT_EQ(1u, files) << c.name;
    }
}

} // namespace
