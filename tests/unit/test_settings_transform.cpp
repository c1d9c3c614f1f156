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

TEST(StanzaTransform, GoldenRows)
{
    const char* keys[] = {"", "address", "netmask", "gateway"};
    for (const Stanza_Row& row : get_Stanza_Rows()) {
        for (size_t k = 0; k < 4; ++k) {
            std::string value;
            Config_File::get_Stanza_Value(row.before, "iface eth0 inet", keys[k], &value);
            if (k == 0)
                value = value.find("dhcp") != std::string::npos ? "0" : "1";
            EXPECT_EQ(row.reads[k], value) << row.name << " read " << keys[k];
        }
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

TEST(StanzaTransform, AddressWithoutInetStanzaIsRefused)
{
    for (const std::string& file : {std::string("auto eth0\niface eth0 inet6 auto\n"),
                                    std::string("iface eth1 inet static\n    address 10.0.0.5\n")}) {
        std::string text;
        std::string reason;
        EXPECT_FALSE(get_ifupdown_Update_Text(file, "eth0", Network::CONFIG_TYPE::IP_ADDRESS, "10.0.0.6",
                                              &text, &reason));
        EXPECT_EQ("no \"iface eth0 inet\" stanza", reason);
    }
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

TEST(StaticRecord, RegexLiteralOfAnInterfaceName)
{
    EXPECT_EQ("eth0", get_Basic_Regex_Literal("eth0"));
    EXPECT_EQ("eth0\\.100", get_Basic_Regex_Literal("eth0.100"));
    EXPECT_EQ("a\\*\\[\\]\\^\\$\\\\", get_Basic_Regex_Literal("a*[]^$\\"));
}

} // namespace
