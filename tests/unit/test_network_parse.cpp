#include <gtest/gtest.h>

#include <string>

#include "network.h"

namespace {

TEST(StagedValues, PlainDottedQuadsOnly)
{
    const struct {
        std::string text;
        bool address;
        bool mask;
    } cases[] = {
        {"192.168.1.10", true, false},
        {"0.0.0.0", true, true},
        {"255.255.255.255", true, true},
        {"255.255.255.0", true, true},
        {"255.255.240.0", true, true},
        {"128.0.0.0", true, true},
        {"255.0.255.0", true, false},
        {"255.255.255.127", true, false},
        {"256.1.1.1", false, false},
        {"1.2.3", false, false},
        {"1.2.3.4.5", false, false},
        {"01.2.3.4", false, false},
        {"1.2.3.4 ", false, false},
        {" 1.2.3.4", false, false},
        {"1.2.3.4/24", false, false},
        {"1..3.4", false, false},
        {"", false, false},
        {"10.0.0.5\npre-up touch /tmp/x", false, false},
        {"1.2.3.4'; touch /tmp/x; '", false, false},
        {"+1.2.3.4", false, false},
        {"1.2.3.1000", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.address, get_IPv4_Address_Valid(c.text)) << '"' << c.text << '"';
        EXPECT_EQ(c.mask, get_Subnetmask_Valid(c.text)) << '"' << c.text << '"';
    }
}

TEST(StagedValues, LinuxInterfaceNames)
{
    for (const char* name : {"eth0", "enp1s0f0", "eth0.100", "br-lan", "a", "wlan_0", "abcdefghijklmno"})
        EXPECT_TRUE(get_Interface_Name_Valid(name)) << name;
    for (const char* name :
         {"", "abcdefghijklmnop", "eth 0", "eth/0", "eth0:1", "et'h", "et\"h", ".", "..", "eth\n0", "eth\t0"})
        EXPECT_FALSE(get_Interface_Name_Valid(name)) << name;
}

TEST(PrefixMask, MostSignificantByteFirst)
{
    EXPECT_EQ("0.0.0.0", get_Prefix_Subnetmask_Text(0));
    EXPECT_EQ("128.0.0.0", get_Prefix_Subnetmask_Text(1));
    EXPECT_EQ("255.255.255.0", get_Prefix_Subnetmask_Text(24));
    EXPECT_EQ("255.255.240.0", get_Prefix_Subnetmask_Text(20));
    EXPECT_EQ("255.255.255.254", get_Prefix_Subnetmask_Text(31));
    EXPECT_EQ("255.255.255.255", get_Prefix_Subnetmask_Text(32));
}

TEST(NmcliAnswer, Method)
{
    EXPECT_TRUE(get_Nmcli_Method_Auto("ipv4.method:auto\n"));
    EXPECT_FALSE(get_Nmcli_Method_Auto("ipv4.method:manual\n"));
    EXPECT_FALSE(get_Nmcli_Method_Auto("ipv4.method:disabled\n"));
    EXPECT_FALSE(get_Nmcli_Method_Auto(""));
}

TEST(NmcliAnswer, AddressesGiveTheFirstAddressAndPrefix)
{
    const struct {
        const char* answer;
        Nmcli_Read address_read;
        const char* address;
        Nmcli_Read prefix_read;
        unsigned int prefix;
    } cases[] = {
        {"ipv4.addresses:192.168.1.10/24\n", Nmcli_Read::VALUE, "192.168.1.10", Nmcli_Read::VALUE, 24},
        {"ipv4.addresses:10.0.0.5/8, 10.1.0.5/16\n", Nmcli_Read::VALUE, "10.0.0.5", Nmcli_Read::VALUE, 8},
        {"ipv4.addresses:10.0.0.5/0\n", Nmcli_Read::VALUE, "10.0.0.5", Nmcli_Read::VALUE, 0},
        {"ipv4.addresses:10.0.0.5/32", Nmcli_Read::VALUE, "10.0.0.5", Nmcli_Read::VALUE, 32},
        {"ipv4.addresses:\n", Nmcli_Read::FALLBACK, "", Nmcli_Read::FALLBACK, 0},
        {"", Nmcli_Read::FALLBACK, "", Nmcli_Read::FALLBACK, 0},
        {"ipv4.addresses:10.0.0.5/33\n", Nmcli_Read::VALUE, "10.0.0.5", Nmcli_Read::INVALID, 0},
        {"ipv4.addresses:10.0.0.5/x\n", Nmcli_Read::VALUE, "10.0.0.5", Nmcli_Read::INVALID, 0},
        {"ipv4.addresses:10.0.0.5/\n", Nmcli_Read::VALUE, "10.0.0.5", Nmcli_Read::INVALID, 0},
    };
    for (const auto& c : cases) {
        std::string address = "-";
        unsigned int prefix = 99;
        EXPECT_EQ(c.address_read, get_Nmcli_Address(c.answer, &address)) << c.answer;
        EXPECT_EQ(c.address_read == Nmcli_Read::VALUE ? c.address : "-", address) << c.answer;
        EXPECT_EQ(c.prefix_read, get_Nmcli_Prefix(c.answer, &prefix)) << c.answer;
        EXPECT_EQ(c.prefix_read == Nmcli_Read::VALUE ? c.prefix : 99u, prefix) << c.answer;
    }
}

TEST(NmcliAnswer, GatewayAndDns)
{
    std::string text;
    EXPECT_EQ(Nmcli_Read::VALUE, get_Nmcli_Gateway("ipv4.gateway:192.168.1.1\n", &text));
    EXPECT_EQ("192.168.1.1", text);
    EXPECT_EQ(Nmcli_Read::FALLBACK, get_Nmcli_Gateway("ipv4.gateway:\n", &text));
    text = "-";
    EXPECT_EQ(Nmcli_Read::VALUE, get_Nmcli_Gateway("", &text));
    EXPECT_EQ("", text);

    const struct {
        const char* answer;
        Nmcli_Read first;
        const char* dns1;
        Nmcli_Read second;
        const char* dns2;
    } cases[] = {
        {"ipv4.dns:1.1.1.1,8.8.8.8\n", Nmcli_Read::VALUE, "1.1.1.1", Nmcli_Read::VALUE, "8.8.8.8"},
        {"ipv4.dns:9.9.9.9\n", Nmcli_Read::VALUE, "9.9.9.9", Nmcli_Read::UNTOUCHED, ""},
        {"ipv4.dns:\n", Nmcli_Read::UNTOUCHED, "", Nmcli_Read::UNTOUCHED, ""},
        {"", Nmcli_Read::VALUE, "", Nmcli_Read::UNTOUCHED, ""},
        {"ipv4.dns:1.1.1.1,8.8.8.8,9.9.9.9\n", Nmcli_Read::VALUE, "1.1.1.1", Nmcli_Read::VALUE, "8.8.8.8"},
    };
    for (const auto& c : cases) {
        std::string dns1 = "-", dns2 = "-";
        EXPECT_EQ(c.first, get_Nmcli_DNS(c.answer, 0, &dns1)) << c.answer;
        EXPECT_EQ(c.first == Nmcli_Read::VALUE ? c.dns1 : "-", dns1) << c.answer;
        EXPECT_EQ(c.second, get_Nmcli_DNS(c.answer, 1, &dns2)) << c.answer;
        EXPECT_EQ(c.second == Nmcli_Read::VALUE ? c.dns2 : "-", dns2) << c.answer;
    }
}

Network::Config staged(bool dhcp, const char* dns1, const char* dns2, const char* mask = "255.255.255.0")
{
    Network::Config c;
    c.target_interface = "eth0";
    c.ip4_dhcp = dhcp;
    c.ip4_address = "192.168.1.10";
    c.ip4_subnetmask = mask;
    c.ip4_gateway = "192.168.1.1";
    c.dns1 = dns1;
    c.dns2 = dns2;
    return c;
}

const char* const uuid = "6d0a9c0e-1b1f-4e3a-9d6b-1c2d3e4f5a6b";
const std::string mod = std::string("nmcli con mod uuid ") + uuid;

TEST(NmcliModify, TheOneCommandLineKeepsTheOperatorsAddresses)
{
    const struct {
        Network::Config staged;
        std::string current; // the profile's "ipv4.method,ipv4.addresses,ipv4.dns" answer
        std::string command;
    } rows[] = {
        {staged(true, "", ""), "", mod + " ipv4.method auto ipv4.addresses '' ipv4.gateway ''"},
        // Leaving static drops only the managed (first) address of a manual profile.
        {staged(true, "", ""), "ipv4.method:manual\nipv4.addresses:10.0.0.5/24, 10.0.0.9/24\n",
         mod + " ipv4.method auto ipv4.addresses '10.0.0.9/24' ipv4.gateway ''"},
        // An automatic profile has no managed address: a repeated DHCP change keeps them all.
        {staged(true, "", ""), "ipv4.method:auto\nipv4.addresses:10.0.0.9/24\n",
         mod + " ipv4.method auto ipv4.addresses '10.0.0.9/24' ipv4.gateway ''"},
        {staged(false, "1.1.1.1", "8.8.8.8"), "ipv4.method:manual\nipv4.addresses:10.0.0.5/24, 10.0.0.9/24\n",
         mod + " ipv4.method manual ipv4.addresses '192.168.1.10/24,10.0.0.9/24' ipv4.gateway '192.168.1.1' "
               "ipv4.dns '1.1.1.1,8.8.8.8'"},
        {staged(false, "", ""), "ipv4.method:auto\nipv4.addresses:10.0.0.9/24\n",
         mod + " ipv4.method manual ipv4.addresses '192.168.1.10/24,10.0.0.9/24' ipv4.gateway '192.168.1.1'"},
        // The new address is not listed twice when it was already a kept one.
        {staged(false, "", ""), "ipv4.method:manual\nipv4.addresses:10.0.0.5/24, 192.168.1.10/24\n",
         mod + " ipv4.method manual ipv4.addresses '192.168.1.10/24' ipv4.gateway '192.168.1.1'"},
        {staged(true, "A", ""), "", mod + " ipv4.method auto ipv4.addresses '' ipv4.gateway '' ipv4.dns 'A'"},
        {staged(true, "", "B"), "", mod + " ipv4.method auto ipv4.addresses '' ipv4.gateway '' ipv4.dns 'B'"},
        // 0.0.0.0 is no server: it clears its place, as on netplan.
        {staged(true, "0.0.0.0", "B"), "",
         mod + " ipv4.method auto ipv4.addresses '' ipv4.gateway '' ipv4.dns 'B'"},
        // The servers after the first two are kept, in order.
        {staged(true, "A", "B"),
         "ipv4.method:auto\nipv4.addresses:\nipv4.dns:1.1.1.1,8.8.8.8,9.9.9.9,1.0.0.1\n",
         mod + " ipv4.method auto ipv4.addresses '' ipv4.gateway '' ipv4.dns 'A,B,9.9.9.9,1.0.0.1'"},
        {staged(false, "", "", "0.0.0.0"), "",
         mod + " ipv4.method manual ipv4.addresses '192.168.1.10/0' ipv4.gateway '192.168.1.1'"},
        // Whatever a value holds, it stays one shell word.
        {staged(false, "x'y", ""), "ipv4.method:manual\nipv4.addresses:1.2.3.4/8, a'b\n",
         mod + " ipv4.method manual ipv4.addresses '192.168.1.10/24,a'\\''b' ipv4.gateway '192.168.1.1' "
               "ipv4.dns 'x'\\''y'"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.command, get_Network_Manager_Modify_Command(row.staged, uuid, row.current))
            << row.current;
}

TEST(DnsList, DnsOneAndTwoTakeTheFirstTwoIpv4PlacesAndTheRestStays)
{
    using List = std::vector<std::string>;
    const struct {
        const char* name;
        List current;
        const char* dns1;
        const char* dns2;
        List merged;
    } rows[] = {
        {"empty_list", {}, "A", "B", {"A", "B"}},
        {"third_and_fourth_kept",
         {"1.1.1.1", "8.8.8.8", "9.9.9.9", "1.0.0.1"},
         "A",
         "B",
         {"A", "B", "9.9.9.9", "1.0.0.1"}},
        {"ipv6_keeps_its_place",
         {"2001:db8::53", "1.1.1.1", "fd00::53", "8.8.8.8", "9.9.9.9"},
         "A",
         "B",
         {"2001:db8::53", "A", "fd00::53", "B", "9.9.9.9"}},
        {"dns2_cleared", {"1.1.1.1", "8.8.8.8", "9.9.9.9"}, "A", "", {"A", "9.9.9.9"}},
        {"unspecified_is_no_server", {"1.1.1.1", "8.8.8.8"}, "0.0.0.0", "B", {"B"}},
        {"second_follows_the_first", {"1.1.1.1", "2001:db8::53"}, "A", "B", {"A", "B", "2001:db8::53"}},
        {"ipv6_only_list_follows", {"2001:db8::53"}, "A", "B", {"A", "B", "2001:db8::53"}},
        {"both_cleared", {"1.1.1.1", "8.8.8.8", "2001:db8::53"}, "", "", {"2001:db8::53"}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.merged, get_DNS_List_Merged(row.current, row.dns1, row.dns2)) << row.name;
    const List servers = {"2001:db8::53", "1.1.1.1", "fd00::1", "8.8.8.8", "9.9.9.9"};
    EXPECT_EQ("1.1.1.1", get_DNS_IPv4_Server(servers, 0));
    EXPECT_EQ("8.8.8.8", get_DNS_IPv4_Server(servers, 1));
    EXPECT_EQ("", get_DNS_IPv4_Server({"2001:db8::53"}, 0));
}

} // namespace
