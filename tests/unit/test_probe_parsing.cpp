#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "config.h"
#include "extra_command_handling.h"
#include "file_replace.h"
#include "network.h"
#include "system_info.h"

namespace {

struct DiskLine {
    const char* line;
    bool disk;
    const char* name;
    const char* size;
};

TEST(DiskLine, OnlyWholeDisksCount)
{
    const DiskLine cases[] = {
        {"/dev/sda      1.8T disk\n", true, "/dev/sda", "1.8T"},
        {"/dev/nvme0n1 953.9G disk\n", true, "/dev/nvme0n1", "953.9G"},
        {"/dev/vda\t256G\tdisk", true, "/dev/vda", "256G"},
        {"/dev/zram0    0B disk\n", true, "/dev/zram0", "0B"},
        {"├─/dev/sda1   512M part\n", false, "", ""},
        {"/dev/mapper/vg-root 100G lvm\n", false, "", ""},
        {"/dev/md0 1T raid1\n", false, "", ""},
        {"/dev/sr0 1024M rom\n", false, "", ""},
        {"/dev/sdb 1T disks\n", false, "", ""},
        {"/dev/sdb disk\n", false, "", ""},
        {"\n", false, "", ""},
        {"", false, "", ""},
        {"   /dev/sdc   2T   disk   extra\n", true, "/dev/sdc", "2T"},
    };
    for (const DiskLine& c : cases) {
        std::string name = "unchanged", size = "unchanged";
        EXPECT_EQ(c.disk, System_Info::get_Disk_Line(c.line, &name, &size)) << c.line;
        if (c.disk) {
            EXPECT_EQ(c.name, name);
            EXPECT_EQ(c.size, size);
        } else {
            EXPECT_EQ("unchanged", name);
        }
    }
}

TEST(OsReleaseName, ReadAsDataNeverRun)
{
    const struct {
        const char* text;
        const char* name;
    } cases[] = {
        // The stock files, byte for byte as the BMC has always had them.
        {"PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n",
         "Debian GNU/Linux 12 (bookworm)"},
        {"NAME=\"Ubuntu\"\nVERSION=\"22.04.4 LTS (Jammy Jellyfish)\"\nID=ubuntu\nPRETTY_NAME=\"Ubuntu "
         "22.04.4 LTS\"\n",
         "Ubuntu 22.04.4 LTS"},
        {"PRETTY_NAME='Single Quoted \\ \"$HOME\"'\n", "Single Quoted \\ \"$HOME\""},
        {"PRETTY_NAME=Bare\\ Word\n", "Bare Word"},
        {"PRETTY_NAME=\"Esc \\\"q\\\" \\$X \\`y\\` \\\\ \\n\"\n", "Esc \"q\" $X `y` \\ \\n"},
        {"PRETTY_NAME=\"joined\"' pieces'\n", "joined pieces"},
        {"PRETTY_NAME=\"first\"\nPRETTY_NAME=\"last\"\n", "last"},
        {"  # PRETTY_NAME=\"comment\"\n\n   PRETTY_NAME=\"indented\"  \n", "indented"},
        // Nothing is expanded, substituted or globbed.
        {"PRETTY_NAME=\"$(touch /tmp/pwned) OS\"\n", "$(touch /tmp/pwned) OS"},
        {"PRETTY_NAME=`id -u`\n", "`id -u`"},
        {"PRETTY_NAME=\"* ?[a] ${PATH}\"\n", "* ?[a] ${PATH}"},
        {"PRETTY_NAME=$(reboot); reboot\n", "$(reboot); reboot"},
        // The defaults: NAME and VERSION, NAME alone, "Linux".
        {"NAME=\"Fedora Linux\"\nVERSION=\"39 (Server Edition)\"\n", "Fedora Linux 39 (Server Edition)"},
        {"NAME=Test\n", "Test"},
        {"PRETTY_NAME=\nVERSION=1\n", "Linux 1"},
        {"ID=unknown\n", "Linux"},
        {"", "Linux"},
        // A line across quotes, or a control character, ends the name.
        {"PRETTY_NAME=\"two\nlines\"\n", "two"},
        {"PRETTY_NAME=\"tab\there\"\n", "tab"},
        {"PRETTY_NAME=\"\x01\"\nNAME=\"\x1b[2J\"\n", "Linux"},
        {"PRETTY_NAME=\"no end\n", "no end"},
        {"PRETTY_NAME='no end\n", "no end"},
        {"PRETTY_NAME=\"cont\\\ninued\"\n", "continued"},
        {"PRETTY NAME=\"spaced key\"\nNAME=x\n", "x"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.name, System_Info::get_OS_Release_Name(c.text)) << c.text;
    const std::string longest(4000, 'n');
    EXPECT_EQ(longest, System_Info::get_OS_Release_Name("PRETTY_NAME=\"" + longest + "\"\n"));
}

TEST(MeminfoLine, MemTotalValueInKilobytes)
{
    const struct {
        const char* line;
        bool found;
        uint64_t kb;
    } cases[] = {
        {"MemTotal:       32614568 kB\n", true, 32614568},
        {"MemTotal: 1048576 kB\n", true, 1048576},
        {"MemTotal:\t1048576 kB\n", true, 0}, // a tab does not separate: token 1 is "kB"
        {"MemFree:        1000 kB\n", false, 0},
        {"MemTotalX: 77 kB\n", true, 77},
        {"MemTotal:\n", false, 0},
        {"SwapTotal: 5 kB\n", false, 0},
    };
    for (const auto& c : cases) {
        uint64_t kb = 0;
        EXPECT_EQ(c.found, System_Info::get_Meminfo_Total_Line(c.line, &kb)) << c.line;
        EXPECT_EQ(c.kb, kb) << c.line;
    }
}

TEST(HostnameValid, Rfc1123Labels)
{
    const struct {
        std::string name;
        bool valid;
    } cases[] = {
        {"node-7", true},
        {"rack2.dc1.example", true},
        {"A1", true},
        {"7", true},
        {std::string(63, 'a'), true},
        {std::string(64, 'a'), false},
        {std::string(32, 'a') + "." + std::string(31, 'b'), true},
        {std::string(32, 'a') + "." + std::string(32, 'b'), false},
        {"", false},
        {"-node", false},
        {"node-", false},
        {"node..x", false},
        {".node", false},
        {"node.", false},
        {"no_de", false},
        {"node;reboot", false},
        {"node name", false},
        {"node$(id)", false},
        {"node\nx", false},
        {"nöde", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.valid, System_Info::get_Hostname_Valid(c.name.c_str())) << '"' << c.name << '"';
    EXPECT_FALSE(System_Info::get_Hostname_Valid(nullptr));
}

TEST(LineEndCut, CutsAtReturnThenNewline)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"Debian GNU/Linux 12 (bookworm)\n", "Debian GNU/Linux 12 (bookworm)"},
        {"text\r\n", "text"},
        {"a\rb\nc", "a"},
        {"\n", "\n"},
        {"\r\n", "\r"},
        {"\nabc\n", "\nabc"},
        {"", ""},
        {"plain", "plain"},
    };
    for (const auto& c : cases) {
        char buffer[32];
        strcpy(buffer, c.in);
        set_Line_End_Cut(buffer);
        EXPECT_STREQ(c.out, buffer) << c.in;
    }
}

const std::string header =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

std::string route(const char* iface, const char* destination, const char* gateway, const char* metric,
                  const char* mask)
{
    return std::string(iface) + "\t" + destination + "\t" + gateway + "\t0003\t0\t0\t" + metric + "\t" +
           mask + "\t0\t0\t0                                                                   \n";
}

TEST(RouteTable, TheReportNamesTheDefaultRouteElseEth0sLinkRoute)
{
    const std::string docker_link = route("docker0", "000011AC", "00000000", "0", "0000FFFF");
    const std::string eth0_link = route("eth0", "0001A8C0", "00000000", "100", "00FFFFFF");
    const std::string eth0_default = route("eth0", "00000000", "0101A8C0", "100", "00000000");
    const struct {
        const char* name;
        std::string table;
        bool found;
        const char* interface_name;
        const char* gateway;
    } rows[] = {
        {"default_after_a_bridge", header + docker_link + eth0_link + eth0_default, true, "eth0", "0101A8C0"},
        // No default route yet: a bridge's link route is not the host's address.
        {"bridge_then_eth0_link", header + docker_link + eth0_link, true, "eth0", "00000000"},
        {"bridge_only", header + docker_link, false, "", ""},
        {"lowest_metric_default",
         header + route("wlan0", "00000000", "0102A8C0", "600", "00000000") + eth0_default, true, "eth0",
         "0101A8C0"},
        // A route to 0.0.0.0 with a mask is no default route.
        {"zero_destination_with_mask", header + route("tun0", "00000000", "0A00000A", "0", "000000FF"), false,
         "", ""},
        {"short_line", header + "eth0\t00000000\t0101A8C0\n", false, "", ""},
        {"empty", "", false, "", ""},
    };
    for (const auto& row : rows) {
        std::string name, gateway;
        EXPECT_EQ(row.found, get_Report_Route(row.table, "eth0", &name, &gateway)) << row.name;
        EXPECT_EQ(row.interface_name, name) << row.name;
        EXPECT_EQ(row.gateway, gateway) << row.name;
    }
}

TEST(RouteAddressText, LeastSignificantByteFirst)
{
    EXPECT_EQ("192.168.1.1", get_Route_Address_Text("0101A8C0"));
    EXPECT_EQ("0.0.0.0", get_Route_Address_Text("00000000"));
    EXPECT_EQ("10.0.0.254", get_Route_Address_Text("FE00000A"));
    EXPECT_EQ("255.255.255.255", get_Route_Address_Text("FFFFFFFF"));
    EXPECT_EQ("0.0.0.0", get_Route_Address_Text(""));
}

TEST(SubnetmaskBitCount, EachOctetCountedFromItsTopBit)
{
    const struct {
        const char* mask;
        uint8_t bits;
    } cases[] = {
        {"255.255.255.0", 24},
        {"255.255.240.0", 20},
        {"255.255.255.255", 32},
        {"255.0.255.0", 16},
        {"255.255.255.127", 24},
        {"0.0.0.0", 0},
        {"", 0},
        {"255", 8},
        {"255.255.255.252", 30},
        {"128.0.0.0", 1},
        {" 255.+255.x.1", 16},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.bits, get_Subnetmask_Bit_Count(c.mask)) << c.mask;
    std::string long_text(150, '9');
    // An overflowing field reads as its largest value, whose low eight bits are all ones.
    EXPECT_EQ(8, get_Subnetmask_Bit_Count(long_text.c_str()));
}

TEST(EepromRecord, MarkerThenTextToNulOrWindowEnd)
{
    unsigned char window[512];
    memset(window, 0, sizeof(window));
    const char* text = nullptr;
    size_t length = 99;
    EXPECT_FALSE(get_EEPROM_Record_Text(window, sizeof(window), 80, 'U', &text, &length));

    window[80] = 'U';
    memcpy(window + 81, "SN12345", 8);
    ASSERT_TRUE(get_EEPROM_Record_Text(window, sizeof(window), 80, 'U', &text, &length));
    EXPECT_EQ(std::string("SN12345"), std::string(text, length));

    window[81] = '\0';
    ASSERT_TRUE(get_EEPROM_Record_Text(window, sizeof(window), 80, 'U', &text, &length));
    EXPECT_EQ(0u, length);

    // No NUL before the end of the window: the text stops at offset 511.
    memset(window + 81, 'X', sizeof(window) - 81);
    ASSERT_TRUE(get_EEPROM_Record_Text(window, sizeof(window), 80, 'U', &text, &length));
    EXPECT_EQ(431u, length);
    EXPECT_FALSE(get_EEPROM_Record_Text(window, sizeof(window), 512, 'U', &text, &length));
}

} // namespace

namespace {

struct Plain_Row {
    const char* line;
    bool plain;
    std::vector<std::string> words;
};

// A line the shell would run as it stands is run without it; anything the shell would read otherwise is not.
TEST(PlainWords, OnlyWhatTheShellTakesLiterally)
{
    for (const Plain_Row& row : std::vector<Plain_Row>{
             {"systemctl is-active NetworkManager", true, {"systemctl", "is-active", "NetworkManager"}},
             {"exec netplan apply", true, {"netplan", "apply"}},
             {"  nmcli  -t -f UUID con show ", true, {"nmcli", "-t", "-f", "UUID", "con", "show"}},
             {"ip addr add 10.0.0.5/24 dev eth0", true, {"ip", "addr", "add", "10.0.0.5/24", "dev", "eth0"}},
             {"nmcli con modify 'my profile'", false, {}}, // quoting
             {"ifdown eth0; ifup eth0", false, {}},        // a list
             {"echo $HOME", false, {}},                    // an expansion
             {"lsblk > /tmp/x", false, {}},                // a redirection
             {"LANG=C nmcli con show", false, {}},         // an assignment, not a program
             {"exec", false, {}},
             {"", false, {}},
         }) {
        std::vector<std::string> words{"left over"};
        EXPECT_EQ(row.plain, get_Plain_Words(row.line, &words)) << row.line;
        EXPECT_EQ(row.words, words) << row.line;
    }
}

// Every command the daemon builds is read back as the words it quoted, and run without a shell; what
// only a shell can read is left to it.
TEST(ShellWords, TheDaemonsOwnQuotingIsReadBackWithoutAShell)
{
    for (const Plain_Row& row : std::vector<Plain_Row>{
             {"nmcli con modify 'my profile'", true, {"nmcli", "con", "modify", "my profile"}},
             {"exec nmcli con up uuid 'a'\\''b' ifname eth0",
              true,
              {"nmcli", "con", "up", "uuid", "a'b", "ifname", "eth0"}},
             {"nmcli con mod uuid x ipv4.dns ''", true, {"nmcli", "con", "mod", "uuid", "x", "ipv4.dns", ""}},
             {"echo 'unterminated", false, {}},
             {"echo \"double\"", false, {}},
             {"echo '$HOME' $HOME", false, {}},
             {"ifdown eth0; ifup eth0", false, {}},
             {"LANG=C nmcli con show", false, {}},
         }) {
        std::vector<std::string> words{"left over"};
        EXPECT_EQ(row.plain, get_Shell_Words(row.line, &words)) << row.line;
        EXPECT_EQ(row.words, words) << row.line;
    }
    // Whatever a value holds, get_Shell_Word makes it one word again.
    for (const std::string value :
         {"plain", "two words", "it's", "''", "$(reboot)", "a\nb", "; rm -rf /", "\\'"}) {
        std::vector<std::string> words;
        EXPECT_TRUE(get_Shell_Words("hostnamectl set-hostname " + get_Shell_Word(value), &words)) << value;
        EXPECT_EQ((std::vector<std::string>{"hostnamectl", "set-hostname", value}), words) << value;
    }
}

// Only the temporary names a replace makes are taken for a crash's leftovers.
TEST(ReplaceLeftover, OnlyTheReplacesOwnTemporaryName)
{
    const struct {
        const char* base;
        const char* name;
        bool leftover;
    } rows[] = {
        {"trial", ".trial.Q1w2E3", true},
        {"01-netcfg.yaml", ".01-netcfg.yaml.a9B8c7", true},
        {"trial", ".trial.Q1w2E", false},                 // five characters
        {"trial", ".trial.Q1w2E34", false},               // seven
        {"trial", ".trial.Q1w-E3", false},                // not a letter or digit
        {"trial", "trial.Q1w2E3", false},                 // no leading dot
        {"trial", ".trials.Q1w2E", false},                // another file's
        {"01-netcfg.yaml", ".01-netcfg.yaml.swp", false}, // an editor's
        {"", "..Q1w2E3", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.leftover, get_Replace_Leftover_Name(row.base, row.name)) << row.name;
}

} // namespace

// The line a failed change command is reported by: the one that names the failure, not a warning printed
// on every run before it.
TEST(FailureLine, TheCauseNotTheWarningBeforeIt)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Error: it went wrong\nsecond line\n", "Error: it went wrong"},
        {"Cannot call openvswitch: ovsdb-server.service is not running.\nudevadm trigger failed\n",
         "udevadm trigger failed"},
        {"WARNING: permissions\nsomething went wrong\n\n", "something went wrong"},
        {"a warning\r\nERROR: the cause\r\nthe last line\r\n", "ERROR: the cause"},
        {"\n  \n", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.second, get_Failure_Line(c.first)) << c.first;
}

// /etc/hosts follows a new host name on the loopback lines that map the old one, and nowhere else.
TEST(HostsRenamed, TheOldNamesLoopbackLinesAlone)
{
    const std::string local = "127.0.0.1\tlocalhost\n::1     localhost ip6-localhost ip6-loopback\n";
    const struct {
        const char* name;
        std::string before;
        const char* new_name;
        std::string after; // "" when nothing maps the old name
    } rows[] = {
        {"installer_line", local + "127.0.1.1\tkt-host.example.com\tkt-host\n", "web01",
         local + "127.0.1.1\tweb01.example.com\tweb01\n"},
        {"new_name_with_its_domain", "127.0.1.1 kt-host.example.com kt-host # the installer's\n",
         "web01.lab.example", "127.0.1.1 web01.lab.example web01 # the installer's\n"},
        {"own_loopback_line", "127.0.0.1 localhost kt-host\n", "web01", "127.0.0.1 localhost web01\n"},
        {"no_line_maps_it", local + "127.0.1.1 other\n", "web01", ""},
        // Another host's address, a longer name and a comment are not the host's own name.
        {"elsewhere_left_alone",
         "10.0.0.7 kt-host kt-host2\n#127.0.1.1 kt-host\n127.0.1.1 kt-hostx kt-host\r\n", "web01",
         "10.0.0.7 kt-host kt-host2\n#127.0.1.1 kt-host\n127.0.1.1 kt-hostx web01\r\n"},
    };
    for (const auto& row : rows) {
        std::string renamed;
        EXPECT_EQ(!row.after.empty(),
                  System_Info::get_Hosts_Renamed(row.before, "kt-host", row.new_name, &renamed))
            << row.name;
        if (!row.after.empty()) {
            EXPECT_EQ(row.after, renamed) << row.name;
        }
    }
}
