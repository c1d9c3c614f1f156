// The settings file transforms on text: golden netplan documents and stanza
// files, and the check a static record passes before anything is written.
#include <gtest/gtest.h>

#include <string>

#include "config_file_handling.h"
#include "network.h"
#include "settings_tables.h"

namespace {

TEST(NetplanTransform, GoldenRows)
{
    for (const Netplan_Row& row : get_Netplan_Rows()) {
        std::string text;
        std::string reason;
        EXPECT_TRUE(get_netplan_Update_Text(row.before, row.staged, &text, &reason))
            << row.name << ": " << reason;
        EXPECT_EQ(row.after, text) << row.name;
    }
}

// Documents the writer could not give back as they stand are refused whole,
// with the reason; valid multi-byte text is kept byte for byte.
TEST(NetplanTransform, DocumentsThatCannotBeKeptAreRefused)
{
    const std::string entry = "network:\n  ethernets:\n    eth0:\n      dhcp4: true\n";
    const char* const not_text = "the document holds a NUL byte or text that is not UTF-8";
    const struct {
        const char* name;
        std::string document;
        const char* reason;
    } cases[] = {
        {"key_given_twice", entry + "    eth1: {}\n    eth1: {}\n", "key eth1 is given twice"},
        {"carriage_return", entry + "    eth1: {optional: \"a\\rb\"}\n", "a text holds a control character"},
        {"nul_byte", entry + std::string("#\0\n", 3), not_text},
        // Two keys that differ only in broken bytes would be written as one.
        {"keys_apart_only_in_broken_utf8", entry + "    a\xff: {}\n    a\xfe: {}\n", not_text},
        {"truncated_sequence", entry + "# caf\xc3\n", not_text},
        {"overlong_slash", entry + "# \xc0\xaf\n", not_text},
        {"surrogate", entry + "# \xed\xa0\x80\n", not_text},
        {"past_u10ffff", entry + "# \xf4\x90\x80\x80\n", not_text},
    };
    const Network::Config staged{"eth0", true, "", "", "", "", ""};
    for (const auto& c : cases) {
        std::string text = "untouched";
        std::string reason;
        EXPECT_FALSE(get_netplan_Update_Text(c.document, staged, &text, &reason)) << c.name;
        EXPECT_EQ(c.reason, reason) << c.name;
        EXPECT_EQ("untouched", text) << c.name;
    }
    std::string text;
    std::string reason;
    ASSERT_TRUE(get_netplan_Update_Text(entry + "    eth1: {optional: \"caf\xc3\xa9 \xf0\x9f\x96\xa7\"}\n",
                                        staged, &text, &reason))
        << reason;
    EXPECT_NE(std::string::npos, text.find("caf\xc3\xa9 \xf0\x9f\x96\xa7")) << text;
}

TEST(StanzaTransform, GoldenRows)
{
    using Type = Network::CONFIG_TYPE;
    const Type types[] = {Type::MODE, Type::IP_ADDRESS, Type::SUBNETMASK, Type::GATEWAY};
    for (const Stanza_Row& row : get_Stanza_Rows()) {
        for (size_t k = 0; k < 4; ++k)
            EXPECT_EQ(row.reads[k], get_ifupdown_Setting(row.before, "eth0", types[k]))
                << row.name << " read " << k;
        std::string text = row.before;
        for (const auto& write : row.writes) {
            std::string reason;
            std::string next;
            ASSERT_TRUE(get_ifupdown_Update_Text(text, "eth0", write.first, write.second, &next, &reason))
                << row.name << ": " << reason;
            text = next;
        }
        EXPECT_EQ(row.after, text) << row.name;
    }
}

// A file without eth0's inet stanza never gets one: ifup would run both stanzas.
TEST(StanzaTransform, WritesWithoutInetStanzaAreRefused)
{
    for (const std::string& file :
         {std::string("auto eth0\niface eth0 inet6 auto\n"), std::string("allow-hotplug eth0\n"),
          std::string("iface eth1 inet static\n    address 10.0.0.5\n")}) {
        for (auto type : {Network::CONFIG_TYPE::MODE, Network::CONFIG_TYPE::IP_ADDRESS}) {
            std::string text;
            std::string reason;
            EXPECT_FALSE(get_ifupdown_Update_Text(file, "eth0", type, "\x01", &text, &reason)) << file;
            EXPECT_EQ("no \"iface eth0 inet\" stanza", reason);
        }
    }
}

TEST(StaticRecord, AddressesNoHostCanUseAreRefused)
{
    const struct {
        const char* address;
        const char* refusal;
    } rows[] = {
        {"10.0.0.5", ""},
        {"223.255.255.254", ""},
        {"0.0.0.0", "0.0.0.0 is no host's address"},
        {"127.0.0.53", "127.0.0.53 is a loopback address (127.0.0.0/8)"},
        {"224.0.0.1", "224.0.0.1 is a multicast address (224.0.0.0/4)"},
        {"239.255.255.255", "239.255.255.255 is a multicast address (224.0.0.0/4)"},
        {"240.0.0.1", "240.0.0.1 is a reserved address (240.0.0.0/4)"},
        {"255.255.255.255", "255.255.255.255 is a reserved address (240.0.0.0/4)"},
        {"10.0.0", "10.0.0 is not an IPv4 address"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.refusal, get_Unicast_Refusal(row.address)) << row.address;
}

TEST(StaticRecord, RecordsThatCutTheHostOffAreRefused)
{
    const struct {
        const char* address;
        const char* mask;
        const char* gateway;
        const char* fault;
    } rows[] = {
        {"10.0.0.5", "255.255.255.0", "10.0.0.1", ""},
        {"10.0.0.5", "255.255.255.0", "", ""},
        {"10.0.0.5", "255.255.255.0", "0.0.0.0", ""},
        {"10.0.0.0", "255.255.255.0", "10.0.0.1", "10.0.0.0 is the network address of 10.0.0.0/24"},
        {"10.0.0.255", "255.255.255.0", "", "10.0.0.255 is the broadcast address of 10.0.0.255/24"},
        {"172.16.15.255", "255.255.240.0", "", "172.16.15.255 is the broadcast address of 172.16.15.255/20"},
        {"10.0.0.5", "255.255.255.0", "10.0.1.1",
         "gateway 10.0.1.1 is outside 10.0.0.5/24: the kernel would refuse the route"},
        {"10.0.0.5", "255.255.255.0", "10.0.0.5", "gateway 10.0.0.5 is the host's own address"},
        // A /31 has no network or broadcast address; no gateway lies inside a /32.
        {"10.0.0.0", "255.255.255.254", "10.0.0.1", ""},
        {"10.0.0.5", "255.255.255.255", "", ""},
        {"10.0.0.5", "255.255.255.255", "10.0.0.1",
         "gateway 10.0.0.1 is outside 10.0.0.5/32: the kernel would refuse the route"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.fault, get_Static_Record_Fault(row.address, row.mask, row.gateway))
            << row.address << " " << row.mask << " " << row.gateway;
}

TEST(StaticRecord, WhatIsMissingIsNamed)
{
    const struct {
        const char* address;
        const char* mask;
        const char* gateway;
        const char* missing;
    } cases[] = {
        {"10.0.0.5", "255.255.255.0", "10.0.0.1", ""},
        {"10.0.0.5", "255.255.255.255", "", ""},
        {"10.0.0.5", "255.255.255.0", "0.0.0.0", ""},
        {"", "", "", "an address other than 0.0.0.0, a subnet mask with a prefix of 1 to 32"},
        {"0.0.0.0", "255.255.255.0", "", "an address other than 0.0.0.0"},
        {"10.0.0.5", "0.0.0.0", "", "a subnet mask with a prefix of 1 to 32"},
        {"10.0.0.5", "255.0.255.0", "", "a subnet mask with a prefix of 1 to 32"},
        {"10.0.0.5/24", "255.255.255.0", "", "an address other than 0.0.0.0"},
        {"10.0.0.5", "255.255.255.0", "10.0.0", "a gateway that is an IPv4 address"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.missing, get_Static_Record_Missing(c.address, c.mask, c.gateway))
            << c.address << " " << c.mask << " " << c.gateway;
}

} // namespace
