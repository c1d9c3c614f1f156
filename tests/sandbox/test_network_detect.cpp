// Manager detection and the default files, against the sandbox's /etc with
// fake systemctl and nmcli, and the real netplan generator as the judge.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
        make_Manager_Directories();
        for (const std::string& f : {netplan_file, stanza_file, keyfile})
            fs::remove(f);
        clear_Tool_Calls();
    }
};

// Detection only asks: every tool call is a read-only probe.
bool get_Probes_Only(const std::vector<std::string>& calls)
{
    return std::all_of(calls.begin(), calls.end(), [](const std::string& call) {
        return call.compare(0, 20, "systemctl is-active ") == 0 || call.compare(0, 9, "nmcli -t ") == 0;
    });
}

const char* const uuid = "6d0a9c0e-1b1f-4e3a-9d6b-1c2d3e4f5a6b";

TEST_F(Detect, TheManagerThatDefinesEth0OwnsIt)
{
    const std::string stanza = "iface eth0 inet dhcp\n";
    const struct {
        const char* name;
        std::vector<std::string> files;
        const char* running; // the one service "systemctl is-active" calls active
        Type type;
        std::string path;
    } cases[] = {
        {"netplan", {netplan_file}, "", Type::NETPLAN, netplan_file},
        {"stanza", {stanza_file}, "", Type::IFUPDOWN, stanza_file},
        {"netplan_and_stanza_networking_runs",
         {netplan_file, stanza_file},
         "networking",
         Type::IFUPDOWN,
         stanza_file},
        {"netplan_and_stanza_networkd_runs",
         {netplan_file, stanza_file},
         "systemd-networkd",
         Type::NETPLAN,
         netplan_file},
        // Neither service runs: who owns eth0 is unclear, and nothing is named.
        {"netplan_and_stanza_none_runs", {netplan_file, stanza_file}, "", Type::UNKNOWN, ""},
        {"keyfile_and_stanza_nm_runs",
         {keyfile, stanza_file},
         "NetworkManager",
         Type::NETWORK_MANAGER,
         keyfile},
        // A keyfile counts only through the running NetworkManager that reads it.
        {"keyfile_nm_stopped", {keyfile}, "", Type::UNKNOWN, ""},
    };
    for (const auto& c : cases) {
        SetUp();
        std::string running = c.running;
        for (const char* service : {"networking", "systemd-networkd", "NetworkManager"})
            set_Tool_Answer("systemctl", std::string("is-active ") + service,
                            running == service ? "active\n" : "inactive\n", running == service ? 0 : 3);
        for (const std::string& f : c.files)
            put(f, f == netplan_file ? default_netplan : f == stanza_file ? stanza : default_keyfile);
        if (std::find(c.files.begin(), c.files.end(), keyfile) != c.files.end())
            set_Nmcli_Profile(uuid, keyfile, true);
        char buffer[128];
        memset(buffer, 0, sizeof(buffer));
        EXPECT_EQ(c.type, Access::detect(buffer, sizeof(buffer))) << c.name;
        EXPECT_EQ(c.path, std::string(buffer)) << c.name;
        EXPECT_TRUE(get_Probes_Only(get_Tool_Calls())) << c.name;
        clear_Tool_Calls();
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
    EXPECT_TRUE(get_Probes_Only(get_Tool_Calls()));
    clear_Tool_Calls();
    EXPECT_EQ(Type::NETPLAN, Access::detect(nullptr, 0));
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

// Running for active, activating and reloading; not for inactive, failed and unknown; any other answer,
// or none, counts as running.
TEST_P(ServiceAnswer, RunningByTheAnswersWord)
{
    if (GetParam().answer != nullptr)
        set_Tool_Answer("systemctl", "is-active NetworkManager", GetParam().answer);
    EXPECT_EQ(GetParam().running, Access::service_Running());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ServiceAnswer,
    ::testing::Values(ServiceCase{"active", "active\n", true},
                      ServiceCase{"activating", "activating\n", true},
                      ServiceCase{"reloading", "reloading\n", true}, ServiceCase{"failed", "failed\n", false},
                      ServiceCase{"unknown", "unknown\n", false},
                      ServiceCase{"inactive", "inactive\n", false},
                      ServiceCase{"inactive_prefix", "inactivex\n", true},
                      ServiceCase{"deactivating", "deactivating\n", true},
                      ServiceCase{"nothing", nullptr, true}, ServiceCase{"empty", "\n", true}),
    [](const ::testing::TestParamInfo<ServiceCase>& info) { return std::string(info.param.name); });

// A NetworkManager that failed, or is not installed, does not take the bare host's default: netplan does.
TEST_F(Detect, FailedOrUnknownWritesTheNetplanDefault)
{
    for (const char* answer : {"failed\n", "unknown\n"}) {
        fs::remove(netplan_file);
        set_Tool_Answer("systemctl", "is-active NetworkManager", answer, 3);
        EXPECT_EQ(Type::NETPLAN, Access::prepare(nullptr, 0)) << answer;
        EXPECT_EQ(default_netplan, read_File(netplan_file)) << answer;
        EXPECT_FALSE(fs::exists(keyfile)) << answer;
    }
}

class DetectKeyfile : public Detect, public ::testing::WithParamInterface<ServiceCase> {};

TEST_P(DetectKeyfile, NothingAndRunningWritesTheKeyfile)
{
    if (GetParam().answer != nullptr)
        set_Tool_Answer("systemctl", "is-active NetworkManager", GetParam().answer);
    char buffer[128];
    memset(buffer, 0, sizeof(buffer));
    Access::prepare(buffer, sizeof(buffer));
    EXPECT_EQ(default_keyfile, read_File(keyfile));
    EXPECT_EQ(0600u, mode_Of(keyfile));
    EXPECT_FALSE(fs::exists(netplan_file));
    std::vector<std::string> calls = get_Tool_Calls();
    EXPECT_EQ(1, std::count(calls.begin(), calls.end(), "nmcli con reload"));
    calls.erase(std::remove(calls.begin(), calls.end(), "nmcli con reload"), calls.end());
    EXPECT_TRUE(get_Probes_Only(calls));
}

INSTANTIATE_TEST_SUITE_P(Answers, DetectKeyfile,
                         ::testing::Values(ServiceCase{"active", "active\n", true},
                                           ServiceCase{"activating", "activating\n", true},
                                           ServiceCase{"nothing", nullptr, true}),
                         [](const ::testing::TestParamInfo<ServiceCase>& info) {
                             return std::string(info.param.name);
                         });

// A default file is a change of its own, under the trial's lock and record: one that another change
// holds off, or that NetworkManager does not take, is not left behind.
TEST_F(Detect, ADefaultIsRecordedAndUndone)
{
    const char* const record = "/var/lib/lumerion-hostd/trial";
    const struct {
        const char* name;
        const char* service;
        bool reload_fails;
        bool lock_held;
        const char* line;
        int reloads;
    } rows[] = {
        {"NetworkManager does not take the keyfile", "active\n", true, false,
         "init_Network_Manager_Config: NetworkManager did not load "
         "/etc/NetworkManager/system-connections/eth0.nmconnection: it is removed again",
         2},
        {"another change holds the lock", "inactive\n", false, true,
         "init_netplan_Config: Generate Failed: another change to eth0 is in progress", 0},
        {"written and kept", "inactive\n", false, false,
         "init_netplan_Config: Generated: /etc/netplan/01-netcfg.yaml", 0},
    };
    for (const auto& row : rows) {
        SetUp();
        set_Tool_Answer("systemctl", "is-active NetworkManager", row.service);
        if (row.reload_fails)
            set_Tool_Answer("nmcli", "con reload", "", 1);
        fs::create_directories("/run/lumerion-hostd");
        int held = open("/run/lumerion-hostd/trial.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_LE(0, held);
        if (row.lock_held) {
            ASSERT_EQ(0, flock(held, LOCK_EX | LOCK_NB));
        }
        Log_Capture log;
        Access::prepare(nullptr, 0);
        close(held);
        EXPECT_NE(std::string::npos, log.text().find(row.line)) << row.name << ": " << log.text();
        EXPECT_EQ(std::string(row.line).find("Generated") != std::string::npos, fs::exists(netplan_file))
            << row.name;
        EXPECT_FALSE(fs::exists(keyfile)) << row.name;
        EXPECT_FALSE(fs::exists(record)) << row.name;
        std::vector<std::string> calls = get_Tool_Calls();
        EXPECT_EQ(row.reloads, std::count(calls.begin(), calls.end(), "nmcli con reload")) << row.name;
        set_Tool_Answer("nmcli", "con reload", "", 0);
    }
}

// Where no manager could take a default (NetworkManager does not run, netplan is not installed), start-up
// writes none and says why in one INFO line; show gives the same reason and an apply is refused with it.
TEST_F(Detect, NoManagerInstalledMeansNoDefault)
{
    set_Tool_Answer("systemctl", "is-active NetworkManager", "inactive\n", 3);
    ASSERT_EQ(0, run_Shell("rm -rf /etc/netplan"));
    const std::string reason =
        "eth0's settings are not managed: no manager defines eth0, NetworkManager is not "
        "running and netplan is not installed (no /etc/netplan), so no default file is "
        "written";
    Log_Capture log;
    EXPECT_EQ(Type::UNKNOWN, Access::prepare(nullptr, 0));
    EXPECT_EQ("[INFO]\t[Network] update_Owner_Files: " + reason + "\n", log.text());
    EXPECT_EQ(reason, Network::get_Unmanaged_Reason());
    EXPECT_EQ(0, Network::set_Config(Network::CONFIG_TYPE::DNS1, "9.9.9.9"));
    Log_Capture apply;
    EXPECT_FALSE(Network::set_Config_Apply());
    EXPECT_NE(std::string::npos, apply.text().find("set_Config_Apply: refused to apply: " + reason));
    EXPECT_FALSE(fs::exists("/etc/netplan"));
    EXPECT_TRUE(get_Probes_Only(get_Tool_Calls()));
    // With netplan installed the same host gets its default, and the reason is gone.
    ASSERT_EQ(0, run_Shell("mkdir -p /etc/netplan"));
    EXPECT_EQ("", Network::get_Unmanaged_Reason());
}

struct ProfileCase {
    const char* name;
    std::string file; // where the profile bound to eth0 is kept
    bool active;
    bool refused; // reads and changes are refused with the reason
};

class ExistingProfile : public Detect, public ::testing::WithParamInterface<ProfileCase> {};

// A profile that can take eth0, wherever NetworkManager keeps it, is eth0's:
// no keyfile is added and no profile is ever deleted.
TEST_P(ExistingProfile, IsUsedAndNeverDeleted)
{
    const ProfileCase& c = GetParam();
    set_Tool_Answer("systemctl", "is-active NetworkManager", "active\n");
    set_Nmcli_Profile(uuid, c.file, c.active);
    put(c.file, "[connection]\n");
    Log_Capture log;
    char buffer[128];
    memset(buffer, 0, sizeof(buffer));
    EXPECT_EQ(Type::NETWORK_MANAGER, Access::prepare(buffer, sizeof(buffer)));
    EXPECT_EQ(c.file, std::string(buffer));
    uint8_t rc = 9;
    read_Setting(Network::CONFIG_TYPE::MODE, &rc);
    EXPECT_EQ(c.refused ? 1 : 0, rc);
    EXPECT_EQ("[connection]\n", read_File(c.file));
    EXPECT_FALSE(fs::exists(keyfile));
    EXPECT_TRUE(get_Probes_Only(get_Tool_Calls()));
    std::string lines = log.text();
    EXPECT_EQ(c.refused, lines.find("is generated by netplan") != std::string::npos) << lines;
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, ExistingProfile,
    ::testing::Values(ProfileCase{"runtime_active",
                                  "/run/NetworkManager/system-connections/eth0.nmconnection", true, false},
                      ProfileCase{"other_name_inactive",
                                  "/etc/NetworkManager/system-connections/Wired connection 1.nmconnection",
                                  false, false},
                      // netplan's rendering without netplan's definition: refused, not replaced.
                      ProfileCase{"netplan_rendered_without_definition",
                                  "/run/NetworkManager/system-connections/netplan-eth0.nmconnection", true,
                                  true}),
    [](const ::testing::TestParamInfo<ProfileCase>& info) { return std::string(info.param.name); });

TEST_F(Detect, PathCopiesAreCutAndNotTerminated)
{
    put(stanza_file, "iface eth0 inet dhcp\n");
    char buffer[12];
    memset(buffer, 'Z', sizeof(buffer));
    EXPECT_EQ(Type::IFUPDOWN, Access::detect(buffer, 5));
    EXPECT_EQ(std::string("/etc/ZZZZZZZ"), std::string(buffer, 12));
    // A path shorter than the buffer is zero-filled to its end.
    char wide[40];
    memset(wide, 'Z', sizeof(wide));
    EXPECT_EQ(Type::IFUPDOWN, Access::detect(wide, sizeof(wide)));
    EXPECT_EQ(stanza_file, std::string(wide));
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
        // The reason first, then the line a new user looks for.
        EXPECT_EQ(0u, log.text().find(std::string("\033[31m[ERROR]\t[Network] ") + c.function +
                                      ": cannot replace "))
            << log.text();
        EXPECT_NE(std::string::npos, log.text().find(std::string("\033[31m[ERROR]\t[Network] ") + c.function +
                                                     ": Generate Failed\033[0m\n"))
            << c.name;
        EXPECT_FALSE(fs::exists(netplan_file)) << c.name;
        EXPECT_FALSE(fs::exists(keyfile)) << c.name;
        EXPECT_TRUE(get_Probes_Only(get_Tool_Calls())) << c.name;
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
            // A default is root's to write: the lookup alone finds no owner.
            _exit(static_cast<int>(Access::detect(nullptr, 0)));
        },
        ::testing::ExitedWithCode(static_cast<int>(Type::UNKNOWN)), "");
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
