#include <gtest/gtest.h>

#include <string>

#include "config_file_handling.h"
#include "extra_command_handling.h"
#include "network.h"

namespace {

struct ReadCase {
    const char* name;
    std::string line;
    const char* key;
    const char* ignore;
    bool ignore_comment;
    bool found;
    std::string value;
};

TEST(ConfigFileLine, ValueAfterTheKey)
{
    const ReadCase cases[] = {
        {"mode", "iface eth0 inet static\n", "iface eth0 inet", nullptr, false, true, "static\n"},
        {"trailing_comment_kept", "    address 10.0.0.5  # lab\n", "address", nullptr, false, true,
         "10.0.0.5  # lab\n"},
        {"hwaddress_ignored", "hwaddress ether 00:11:22:33:44:55\n", "address", "hwaddress", false, false,
         ""},
        {"hwaddress_matches_without_ignore", "hwaddress ether 00:11:22:33:44:55\n", "address", nullptr, false,
         true, "ether 00:11:22:33:44:55\n"},
        {"commented", "#gateway 10.0.0.1\n", "gateway", nullptr, false, false, ""},
        {"commented_accepted", "#gateway 10.0.0.1\n", "gateway", nullptr, true, true, "10.0.0.1\n"},
        {"hash_after_key", "gateway 10.0.0.1 # old\n", "gateway", nullptr, false, true, "10.0.0.1 # old\n"},
        {"tab_is_not_the_token", "address\t10.0.0.5\n", "address", nullptr, false, false, ""},
        {"blanks_and_tokens_skipped", "address \t  10.0.0.5\n", "address", nullptr, false, true,
         "10.0.0.5\n"},
        {"empty_value", "gateway \n", "gateway", nullptr, false, true, "\n"},
        {"crlf", "netmask 255.255.255.0\r\n", "netmask", nullptr, false, true, "255.255.255.0\r\n"},
        {"no_newline", "netmask 255.0.0.0", "netmask", nullptr, false, true, "255.0.0.0"},
    };
    for (const ReadCase& c : cases) {
        std::string value = "untouched";
        EXPECT_EQ(c.found,
                  Config_File::get_Line_Value(c.line, c.key, ' ', c.ignore, c.ignore_comment, &value))
            << c.name;
        EXPECT_EQ(c.found ? c.value : "untouched", value) << c.name;
    }
    std::string value;
    ASSERT_TRUE(Config_File::get_Line_Value("mtu=1400\n", "mtu", '=', nullptr, false, &value));
    EXPECT_EQ("1400\n", value);
}

struct EditCase {
    const char* name;
    std::string before;
    const char* key;
    const char* data; // null: a comment edit
    bool set_comment;
    char token;
    const char* ignore;
    std::string after;
    bool hit;
};

TEST(ConfigFileText, EditsLeaveEveryOtherByteAlone)
{
    const EditCase cases[] = {
        {"replace_keeps_indent", "    netmask 255.255.0.0 # old\n", "netmask", "255.255.255.0", false, ' ',
         nullptr, "    netmask 255.255.255.0\n", true},
        {"append_after_own_newline", "address 10.0.0.5\n", "gateway", "10.0.0.1", false, ' ', nullptr,
         "address 10.0.0.5\n\ngateway 10.0.0.1", false},
        {"append_to_empty", "", "gateway", "10.0.0.1", false, ' ', nullptr, "\ngateway 10.0.0.1", false},
        {"equals_token", "mtu=1400\n", "mtu", "9000", false, '=', nullptr, "mtu= 9000\n", true},
        {"two_lines_both_replaced", "gateway 1.1.1.1\niface x\n  gateway 2.2.2.2\n", "gateway", "3.3.3.3",
         false, ' ', nullptr, "gateway 3.3.3.3\niface x\n  gateway 3.3.3.3\n", true},
        {"commented_not_replaced", "#gateway 1.1.1.1\n", "gateway", "3.3.3.3", false, ' ', nullptr,
         "#gateway 1.1.1.1\n\ngateway 3.3.3.3", false},
        {"hwaddress_kept", "hwaddress ether 02:00:00:00:00:01\naddress 10.0.0.5\n", "address", "10.0.0.6",
         false, ' ', "hwaddress", "hwaddress ether 02:00:00:00:00:01\naddress 10.0.0.6\n", true},
        {"last_line_without_newline", "iface eth0 inet dhcp\naddress 1.2.3.4", "address", "5.6.7.8", false,
         ' ', nullptr, "iface eth0 inet dhcp\naddress 5.6.7.8\n", true},
        {"crlf_other_lines_kept", "auto eth0\r\naddress 1.2.3.4\r\n", "address", "5.6.7.8", false, ' ',
         nullptr, "auto eth0\r\naddress 5.6.7.8\n", true},
        {"comment_out", "    gateway 10.0.0.1\n", "gateway", nullptr, true, ' ', nullptr,
         "    #gateway 10.0.0.1\n", true},
        {"comment_in", "    #gateway 10.0.0.1\n", "gateway", nullptr, false, ' ', nullptr,
         "    gateway 10.0.0.1\n", true},
        {"already_out", "#gateway 10.0.0.1\n", "gateway", nullptr, true, ' ', nullptr, "#gateway 10.0.0.1\n",
         true},
        {"key_at_start_comment_in", "gateway 10.0.0.1\n", "gateway", nullptr, false, ' ', nullptr,
         "gateway 10.0.0.1\n", true},
        {"hash_space_comment_in", "# netmask 255.255.255.0\n", "netmask", nullptr, false, ' ', nullptr,
         "# netmask 255.255.255.0\n", true},
        {"hash_space_comment_out", "# netmask 255.255.255.0\n", "netmask", nullptr, true, ' ', nullptr,
         "# #netmask 255.255.255.0\n", true},
        {"comment_missing_key", "auto eth0\n", "gateway", nullptr, true, ' ', nullptr, "auto eth0\n", false},
        {"comment_skips_ignored", "hwaddress ether x\naddress 1.2.3.4\n", "address", nullptr, true, ' ',
         "hwaddress", "hwaddress ether x\n#address 1.2.3.4\n", true},
    };
    for (const EditCase& c : cases) {
        bool hit = !c.hit;
        std::string after =
            c.data != nullptr
                ? Config_File::set_Data_Text(c.before, c.key, c.data, c.token, c.ignore, &hit)
                : Config_File::set_Data_Comment_Text(c.before, c.key, c.set_comment, c.token, c.ignore, &hit);
        EXPECT_EQ(c.after, after) << c.name;
        EXPECT_EQ(c.hit, hit) << c.name;
    }
}

TEST(ConfigFileText, LinesLongerThanAnyBuffer)
{
    std::string long_comment = "# " + std::string(70000, 'c') + "\n";
    std::string before = long_comment + "    address 10.0.0.5\n" + long_comment;
    bool hit = false;
    std::string after = Config_File::set_Data_Text(before, "address", "10.0.0.9", ' ', nullptr, &hit);
    EXPECT_TRUE(hit);
    EXPECT_EQ(long_comment + "    address 10.0.0.9\n" + long_comment, after);
    // A key deep inside a long line is still found, and commented at its place.
    std::string deep = std::string(300, ' ') + "gateway 10.0.0.1\n";
    after = Config_File::set_Data_Comment_Text(deep, "gateway", true, ' ', nullptr, &hit);
    EXPECT_EQ(std::string(300, ' ') + "#gateway 10.0.0.1\n", after);
}

TEST(ShellWord, PlainWhenLiteralQuotedOtherwise)
{
    EXPECT_EQ("eth0:/run/", get_Shell_Word("eth0:/run/"));
    EXPECT_EQ("enp1s0f0.100", get_Shell_Word("enp1s0f0.100"));
    EXPECT_EQ("''", get_Shell_Word(""));
    EXPECT_EQ("'a b'", get_Shell_Word("a b"));
    EXPECT_EQ("'x;reboot'", get_Shell_Word("x;reboot"));
    EXPECT_EQ("'it'\\''s'", get_Shell_Word("it's"));
    EXPECT_EQ("'$(id)'", get_Shell_Word("$(id)"));
}

} // namespace
