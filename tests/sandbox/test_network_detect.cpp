// Manager detection and the default files, against the sandbox's /etc with
// fake systemctl and nmcli, and the real netplan generator as the judge.
#include <gtest/gtest.h>

#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "log.h"
#include "network.h"
#include "host_paths.h"
#include "network_access.h"
#include "sandbox.h"

namespace {

namespace fs = std::filesystem;
using Access = Network_Test_Access;
using Type = Network::MANAGER_TYPE;

const char* const lookup_call = "nmcli -t -f DEVICE,FILENAME con show";

const std::string default_netplan = "network:\n"
                                    "  ethernets:\n"
                                    "    eth0:\n"
                                    "      dhcp4: true\n"
                                    "      nameservers:\n"
                                    "        addresses:\n"
                                    "          - 1.1.1.1\n"
                                    "          - 8.8.8.8\n";

const std::string default_keyfile = "[connection]\n"
                                    "type=ethernet\n"
                                    "autoconnect=yes\n"
                                    "autoconnect-priority=0\n"
                                    "interface-name=eth0\n"
                                    "\n"
                                    "[ethernet]\n"
                                    "\n"
                                    "[ipv4]\n"
                                    "method=auto\n"
                                    "\n"
                                    "[proxy]\n";

void put(const std::string& path, const std::string& text = "x\n")
{
    fs::create_directories(fs::path(path).parent_path());
    write_File(path, text);
}

mode_t mode_Of(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

class Detect : public ::testing::Test {
protected:
    void SetUp() override
    {
        Network::set_Interface_Name("eth0");
        for (const char* d :
             {"/etc/netplan", "/etc/network/interfaces.d", "/etc/NetworkManager/system-connections"})
            fs::create_directories(d);
        for (const std::string& f : {netplan_file, stanza_file, keyfile})
            fs::remove(f);
        clear_Tool_Calls();
    }
};

TEST_F(Detect, ExistingFilesDecideInOrder)
{
    const struct {
        const char* name;
        std::vector<std::string> files;
        Type type;
        std::string path;
    } cases[] = {
        {"netplan_and_stanza", {netplan_file, stanza_file}, Type::NETPLAN, netplan_file},
        {"all_three", {netplan_file, stanza_file, keyfile}, Type::NETPLAN, netplan_file},
        {"stanza_and_keyfile", {stanza_file, keyfile}, Type::IFUPDOWN, stanza_file},
        {"keyfile", {keyfile}, Type::NETWORK_MANAGER, keyfile},
    };
    for (const auto& c : cases) {
        SetUp();
        for (const std::string& f : c.files)
            put(f, f == netplan_file ? default_netplan : "x\n");
        char buffer[128];
        memset(buffer, 0, sizeof(buffer));
        EXPECT_EQ(c.type, Access::detect(buffer, sizeof(buffer))) << c.name;
        EXPECT_EQ(c.path, std::string(buffer)) << c.name;
        EXPECT_TRUE(get_Tool_Calls().empty()) << c.name;
    }
}

TEST_F(Detect, NothingAndInactiveWritesTheNetplanDefault)
{
    set_Tool_Answer("systemctl", "is-active NetworkManager", "inactive\n", 3);
    Log_Capture log;
    char buffer[128];
    memset(buffer, 0, sizeof(buffer));
    EXPECT_EQ(Type::NETPLAN, Access::prepare(buffer, sizeof(buffer)));
    EXPECT_EQ(netplan_file, std::string(buffer));
    EXPECT_EQ(default_netplan, read_File(netplan_file));
    EXPECT_EQ(0600u, mode_Of(netplan_file));
    EXPECT_EQ("[INFO]\t[Network] init_netplan_Config: Generated: /etc/netplan/01-netcfg.yaml\n", log.text());
    EXPECT_EQ(std::vector<std::string>{"systemctl is-active NetworkManager"}, get_Tool_Calls());
    // The next detection stops at the file: no second query.
    clear_Tool_Calls();
    EXPECT_EQ(Type::NETPLAN, Access::detect(nullptr, 0));
    EXPECT_TRUE(get_Tool_Calls().empty());
}

TEST_F(Detect, DefaultNetplanFilePassesTheRealNetplanGenerator)
{
    set_Tool_Answer("systemctl", "is-active NetworkManager", "inactive\n", 3);
    ASSERT_EQ(Type::NETPLAN, Access::prepare(nullptr, 0));
    std::string root = get_Sandbox_Dir() + "/netplan-root";
    fs::create_directories(root + "/etc/netplan");
    fs::copy_file(netplan_file, root + "/etc/netplan/01-netcfg.yaml");
    std::string err = get_Sandbox_Dir() + "/netplan.err";
    ASSERT_EQ(0, run_Shell("/usr/sbin/netplan generate --root-dir " + root + " 2>" + err)) << read_File(err);
    // netplan complains about files that others may read; this one is 0600.
    EXPECT_EQ("", read_File(err));
    EXPECT_EQ(
        "[Match]\nName=eth0\n\n[Network]\nDHCP=ipv4\nLinkLocalAddressing=ipv6\nDNS=1.1.1.1\nDNS=8.8.8.8\n\n"
        "[DHCP]\nRouteMetric=100\nUseMTU=true\n",
        read_File(root + "/run/systemd/network/10-netplan-eth0.network"));
}

struct ServiceCase {
    const char* name;
    const char* answer; // null: no answer at all
    bool running;
};

class ServiceAnswer : public ::testing::TestWithParam<ServiceCase> {};

TEST_P(ServiceAnswer, RunningUnlessInactive)
{
    if (GetParam().answer != nullptr)
        set_Tool_Answer("systemctl", "is-active NetworkManager", GetParam().answer);
    EXPECT_EQ(GetParam().running, Access::service_Running());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ServiceAnswer,
    ::testing::Values(ServiceCase{"active", "active\n", true}, ServiceCase{"failed", "failed\n", true},
                      ServiceCase{"unknown", "unknown\n", true}, ServiceCase{"nothing", nullptr, true},
                      ServiceCase{"inactive", "inactive\n", false}),
    [](const ::testing::TestParamInfo<ServiceCase>& info) { return std::string(info.param.name); });

class DetectKeyfile : public Detect, public ::testing::WithParamInterface<ServiceCase> {};

TEST_P(DetectKeyfile, NothingAndRunningWritesTheKeyfile)
{
    if (GetParam().answer != nullptr)
        set_Tool_Answer("systemctl", "is-active NetworkManager", GetParam().answer);
    char buffer[128];
    memset(buffer, 0, sizeof(buffer));
    EXPECT_EQ(Type::NETWORK_MANAGER, Access::prepare(buffer, sizeof(buffer)));
    EXPECT_EQ(keyfile, std::string(buffer));
    EXPECT_EQ(default_keyfile, read_File(keyfile));
    EXPECT_EQ(0600u, mode_Of(keyfile));
    EXPECT_FALSE(fs::exists(netplan_file));
    EXPECT_EQ(
        (std::vector<std::string>{"systemctl is-active NetworkManager", lookup_call, "nmcli con reload"}),
        get_Tool_Calls());
}

INSTANTIATE_TEST_SUITE_P(Answers, DetectKeyfile,
                         ::testing::Values(ServiceCase{"active", "active\n", true},
                                           ServiceCase{"failed", "failed\n", true},
                                           ServiceCase{"nothing", nullptr, true}),
                         [](const ::testing::TestParamInfo<ServiceCase>& info) {
                             return std::string(info.param.name);
                         });

struct LookupCase {
    const char* name;
    std::string listing;               // what "nmcli -t -f DEVICE,FILENAME con show" prints
    std::vector<std::string> profiles; // runtime files present beforehand
    std::vector<std::string> removed;
    bool removed_line;
    std::string refused; // the path the daemon declines to remove, if any
};

class RuntimeProfile : public Detect, public ::testing::WithParamInterface<LookupCase> {};

TEST_P(RuntimeProfile, OnlyTheRetainedRunPathIsRemoved)
{
    const LookupCase& c = GetParam();
    set_Tool_Answer("systemctl", "is-active NetworkManager", "active\n");
    set_Tool_Answer("nmcli", "-t -f DEVICE,FILENAME con show", c.listing);
    for (const std::string& p : c.profiles)
        put(p, "[connection]\n");
    Log_Capture log;
    EXPECT_EQ(Type::NETWORK_MANAGER, Access::prepare(nullptr, 0));
    for (const std::string& p : c.profiles) {
        bool gone = std::find(c.removed.begin(), c.removed.end(), p) != c.removed.end();
        EXPECT_EQ(!gone, fs::exists(p)) << p;
    }
    std::string expected = "[INFO]\t[Network] init_Network_Manager_Config: Generated: " + keyfile + "\n";
    if (!c.refused.empty())
        expected += "\033[31m[ERROR]\t[Network] init_Network_Manager_Config: not removing " + c.refused +
                    ": not a runtime profile under /run/\033[0m\n";
    if (c.removed_line)
        expected += "[INFO]\t[Network] init_Network_Manager_Config: Removed old Config\n";
    expected += "[INFO]\t[Network] init_Network_Manager_Config: Config Reloaded\n";
    EXPECT_EQ(expected, log.text());
    EXPECT_EQ(
        (std::vector<std::string>{"systemctl is-active NetworkManager", lookup_call, "nmcli con reload"}),
        get_Tool_Calls());
}

const std::string run_a = "/run/NetworkManager/system-connections/eth0.nmconnection";
const std::string run_b = "/run/NetworkManager/system-connections/eth0-2.nmconnection";

INSTANTIATE_TEST_SUITE_P(
    Lookups, RuntimeProfile,
    ::testing::Values(
        LookupCase{"empty", "", {run_a}, {}, false, ""},
        LookupCase{"one_path", "eth0:" + run_a + "\nlo:/etc/x.nmconnection\n", {run_a}, {run_a}, true, ""},
        LookupCase{"several_paths_last_line_kept",
                   "eth0:" + run_a + "\neth0:" + run_b + "\n",
                   {run_a, run_b},
                   {run_b},
                   true,
                   ""},
        LookupCase{"other_device_only", "eth1:" + run_a + "\n", {run_a}, {}, false, ""},
        LookupCase{"device_name_ending_in_eth0", "veth0:" + run_a + "\n", {run_a}, {}, false, ""},
        LookupCase{"missing_file", "eth0:" + run_a + "\n", {}, {}, false, ""},
        LookupCase{"dot_dot", "eth0:/run/../etc/hosts\n", {"/etc/hosts"}, {}, false, "/run/../etc/hosts"}),
    [](const ::testing::TestParamInfo<LookupCase>& info) { return std::string(info.param.name); });

TEST_F(Detect, PathOutsideRunIsNeverRemoved)
{
    // "eth0:/run/" inside a longer line is not eth0's runtime profile: the
    // lookup takes only lines whose device field is eth0.
    set_Tool_Answer("systemctl", "is-active NetworkManager", "active\n");
    set_Tool_Answer("nmcli", "-t -f DEVICE,FILENAME con show", "x:/etc/passwd:eth0:/run/\n");
    std::string passwd = read_File("/etc/passwd");
    Log_Capture log;
    EXPECT_EQ(Type::NETWORK_MANAGER, Access::prepare(nullptr, 0));
    EXPECT_EQ(passwd, read_File("/etc/passwd"));
    std::string lines = log.text();
    EXPECT_EQ(std::string::npos, lines.find("not removing")) << lines;
    EXPECT_EQ(std::string::npos, lines.find("Removed old Config")) << lines;
}

TEST_F(Detect, PathCopiesAreCutAndNotTerminated)
{
    put(stanza_file);
    char buffer[12];
    memset(buffer, 'Z', sizeof(buffer));
    EXPECT_TRUE(Access::ifupdown_Exists(buffer, 10));
    EXPECT_EQ(std::string("/etc/netwo"), std::string(buffer, 10));
    EXPECT_EQ('Z', buffer[10]);
    memset(buffer, 'Z', sizeof(buffer));
    EXPECT_TRUE(Access::ifupdown_Exists(nullptr, 10));
    EXPECT_TRUE(Access::ifupdown_Exists(buffer, 0));
    EXPECT_EQ('Z', buffer[0]);
    memset(buffer, 'Z', sizeof(buffer));
    EXPECT_EQ(Type::IFUPDOWN, Access::detect(buffer, 5));
    EXPECT_EQ(std::string("/etc/ZZZZZZZ"), std::string(buffer, 12));
    // A path shorter than the buffer is zero-filled to its end.
    char wide[40];
    memset(wide, 'Z', sizeof(wide));
    EXPECT_TRUE(Access::ifupdown_Exists(wide, sizeof(wide)));
    for (size_t i = stanza_file.size(); i < sizeof(wide); ++i)
        ASSERT_EQ('\0', wide[i]);
}

// No interface by that name: nothing is written and no command runs.
TEST_F(Detect, EmptyInterfaceName)
{
    set_Tool_Answer("systemctl", "is-active NetworkManager", "active\n");
    Log_Capture log;
    Network::set_Interface_Name("");
    EXPECT_EQ("", Access::keyfile_Path());
    EXPECT_FALSE(Access::keyfile_Exists(nullptr, 0));
    EXPECT_EQ(Type::UNKNOWN, Access::prepare(nullptr, 0));
    EXPECT_EQ("\033[31m[ERROR]\t[Network] update_Owner_Files:  does not exist: the settings path needs an "
              "interface named , no file is written\033[0m\n",
              log.text().substr(0, log.text().find('\n') + 1));
    EXPECT_FALSE(fs::exists(keyfile));
    EXPECT_TRUE(get_Tool_Calls().empty());
    Network::set_Interface_Name("eth0");
}

// When the default file cannot be written, detection says so instead of
// naming a file that is not there, and runs no NetworkManager command.
TEST_F(Detect, UnwritableDefaultFileGivesUnknown)
{
    const struct {
        const char* name;
        const char* answer;
        std::string dir;
        const char* mount;
        const char* function;
    } cases[] = {
        {"netplan_full", "inactive\n", "/etc/netplan",
         "mount -t tmpfs -o size=4k lumerion-full /etc/netplan && "
         "dd if=/dev/zero of=/etc/netplan/fill bs=4k count=1 2>/dev/null",
         "init_netplan_Config"},
        {"netplan_read_only", "inactive\n", "/etc/netplan",
         "mount --bind /etc/netplan /etc/netplan && mount -o remount,bind,ro /etc/netplan",
         "init_netplan_Config"},
        {"keyfile_read_only", "active\n", "/etc/NetworkManager/system-connections",
         "mount --bind /etc/NetworkManager/system-connections /etc/NetworkManager/system-connections && "
         "mount -o remount,bind,ro /etc/NetworkManager/system-connections",
         "init_Network_Manager_Config"},
    };
    for (const auto& c : cases) {
        SetUp();
        set_Tool_Answer("systemctl", "is-active NetworkManager", c.answer);
        ASSERT_EQ(0, run_Shell(c.mount)) << c.name;
        Log_Capture log;
        char buffer[128];
        memset(buffer, 0, sizeof(buffer));
        EXPECT_EQ(Type::UNKNOWN, Access::prepare(buffer, sizeof(buffer))) << c.name;
        EXPECT_EQ(0, buffer[0]) << c.name;
        EXPECT_EQ(std::string("\033[31m[ERROR]\t[Network] ") + c.function + ": Generate Failed\033[0m\n",
                  log.text())
            << c.name;
        EXPECT_FALSE(fs::exists(netplan_file)) << c.name;
        EXPECT_FALSE(fs::exists(keyfile)) << c.name;
        EXPECT_EQ(std::vector<std::string>{"systemctl is-active NetworkManager"}, get_Tool_Calls()) << c.name;
        for (const auto& e : fs::directory_iterator(c.dir))
            EXPECT_EQ("fill", e.path().filename().string()) << c.name << ": left " << e.path();
        run_Shell("umount " + c.dir);
    }
}

// Without the right to read, a file counts as absent: run as an ordinary user.
TEST_F(Detect, UnreadableFileCountsAsAbsent)
{
    put(keyfile);
    chmod(keyfile.c_str(), 0000);
    put(stanza_file);
    chmod(stanza_file.c_str(), 0000);
    chmod("/etc/netplan", 01777);
    set_Tool_Answer("systemctl", "is-active NetworkManager", "inactive\n");
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            if (setgid(65534) != 0 || setuid(65534) != 0)
                _exit(99);
            _exit(static_cast<int>(Access::prepare(nullptr, 0)));
        },
        ::testing::ExitedWithCode(static_cast<int>(Type::NETPLAN)), "");
}

TEST(Ipv4Pattern, WholeEntryMatches)
{
    const struct {
        const char* text;
        bool match;
    } cases[] = {
        {"192.168.1.10/24", true}, {"192.168.1.10", true},  {"10.0.0.1/8", true},  {"0.0.0.0/0", true},
        {"255.255.255.255", true}, {"256.1.1.1/24", false}, {"fe80::1/64", false}, {"2001:db8::5/64", false},
        {"01.2.3.4", false},       {"1.2.3", false},        {"", false},           {"a.b.c.d", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.match, Access::ipv4_Match(c.text)) << c.text;
}

} // namespace
