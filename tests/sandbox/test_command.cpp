#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "extra_command_handling.h"
#include "log.h"
#include "sandbox.h"

namespace {

TEST(SetCommand, CapturesTheLastLineWithItsNewline)
{
    char result[128];
    memset(result, 0, sizeof(result));
    ASSERT_EQ(0, set_Command("printf 'first\\nsecond\\nthird\\n'", result, sizeof(result)));
    EXPECT_STREQ("third\n", result);
}

TEST(SetCommand, LongLineLeavesItsLastPieceOverEarlierBytes)
{
    char result[32];
    memset(result, 0, sizeof(result));
    // 40 characters: the first read takes 31 of them, the second the last 9 and the newline.
    ASSERT_EQ(0, set_Command("printf 'abcdefghijklmnopqrstuvwxyz0123456789ABCD\\n'", result, 32));
    EXPECT_EQ(std::string("56789ABCD\n"), std::string(result));
    // Bytes of the first read beyond the final terminator stay.
    EXPECT_EQ(std::string("lmnopqrstuvwxyz01234"), std::string(result + 11, 20));
    EXPECT_EQ('\0', result[31]);
}

TEST(SetCommand, NoOutputLeavesTheBufferUntouched)
{
    char result[16];
    memset(result, 'Z', sizeof(result));
    ASSERT_EQ(0, set_Command("true", result, sizeof(result)));
    for (char c : result)
        ASSERT_EQ('Z', c);
}

TEST(SetCommand, RunsToCompletionWithoutABuffer)
{
    std::string marker = get_Sandbox_Dir() + "/ran";
    std::string cmd = "seq 1 200000; touch " + get_Shell_Quoted_Word(marker);
    EXPECT_EQ(0, set_Command(cmd.c_str(), nullptr, 64));
    EXPECT_TRUE(std::filesystem::exists(marker));
    std::filesystem::remove(marker);
    char result[8] = "keep";
    EXPECT_EQ(0, set_Command(("touch " + get_Shell_Quoted_Word(marker)).c_str(), result, 0));
    EXPECT_TRUE(std::filesystem::exists(marker));
    EXPECT_STREQ("keep", result);
}

TEST(SetCommand, OneByteBufferDoesNotSpin)
{
    char result[1] = {'Z'};
    ASSERT_EQ(0, set_Command("seq 1 1000", result, 1));
    EXPECT_EQ('\0', result[0]);
    result[0] = 'Z';
    ASSERT_EQ(0, set_Command("true", result, 1));
    EXPECT_EQ('Z', result[0]);
}

TEST(SetCommand, FailingProgramStillCountsAsStarted)
{
    char result[64];
    memset(result, 0, sizeof(result));
    EXPECT_EQ(0, set_Command("lumerion-no-such-program 2>/dev/null; exit 3", result, sizeof(result)));
    EXPECT_STREQ("", result);
    EXPECT_EQ(0, set_Command("echo partial; exit 1", result, sizeof(result)));
    EXPECT_STREQ("partial\n", result);
}

// With every descriptor in use, popen cannot make its pipe.
void run_Without_Descriptors()
{
    set_Descriptors_Used_Up();
    char result[8] = "keep";
    int8_t rc = set_Command("echo never", result, sizeof(result));
    _exit(rc == -1 && strcmp(result, "keep") == 0 ? 0 : 1);
}

TEST(SetCommandDeathTest, ShellThatCannotStartPrintsThePerrorLine)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(run_Without_Descriptors(), ::testing::ExitedWithCode(0),
                "^set_Command: Too many open files\n$");
}

// Whether the process still runs after a kill has had a generous time to land.
bool get_Process_Alive(const std::string& pid)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        std::string stat = read_File("/proc/" + pid + "/stat");
        size_t state = stat.rfind(") ");
        if (state == std::string::npos || stat[state + 2] == 'Z')
            return false;
        usleep(10000);
    }
    return true;
}

struct ProbeCase {
    const char* name;
    std::string cmd;
    unsigned int timeout;
    const char* result;
    bool stopped;   // an ERROR line names the command
    bool hung_fake; // lsblk answers, then hangs holding its output
    double within;  // seconds it may take at most, generously
};

class Probe : public ::testing::TestWithParam<ProbeCase> {};

// A probe ends by its time limit at the latest, keeps what was printed, and
// leaves no process of its group behind.
TEST_P(Probe, EndsInTimeWithWhatWasPrinted)
{
    const ProbeCase& c = GetParam();
    std::string pids = get_Sandbox_Dir() + "/probe.pids";
    std::string cmd = "sleep 60 & echo $! > " + pids + "; " + c.cmd;
    if (c.hung_fake) {
        set_Tool_Answer("lsblk", "-p", "sda 1G disk\n");
        set_Tool_Hang("lsblk", "-p", 60);
    }
    char result[64];
    memset(result, 0, sizeof(result));
    Log_Capture log;
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(0, set_Probe_Command(cmd.c_str(), result, sizeof(result), c.timeout));
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, c.within);
    EXPECT_STREQ(c.result, result);
    std::string expected = c.stopped ? "\033[31m[ERROR]\t[Command] set_Command: no answer from \"" +
                                           get_Log_Text(cmd) + "\" within " + std::to_string(c.timeout) +
                                           " s: stopped\033[0m\n"
                                     : "";
    EXPECT_EQ(expected, log.text());
    std::string pid = read_File(pids);
    pid.erase(std::min(pid.find('\n'), pid.size()));
    ASSERT_FALSE(pid.empty());
    EXPECT_FALSE(get_Process_Alive(pid)) << pid;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Probe,
    ::testing::Values(ProbeCase{"last_line_as_set_Command_gives_it", "printf 'a\\nb\\n'", 10, "b\n", false,
                                false, 30},
                      ProbeCase{"hang_keeps_what_was_printed", "printf 'partial\\n'; exec sleep 60", 1,
                                "partial\n", true, false, 30},
                      ProbeCase{"hung_tool_on_the_path", "lsblk -p", 1, "sda 1G disk\n", true, true, 30},
                      ProbeCase{"child_left_holding_the_output", "echo done; (sleep 60 &)", 50, "done\n",
                                false, false, 30}),
    [](const ::testing::TestParamInfo<ProbeCase>& info) { return std::string(info.param.name); });

TEST(SystemdService, ComposesOneSystemctlLinePerVerb)
{
    const struct {
        Systemd_Command cmd;
        const char* line;
    } cases[] = {
        {START, "systemctl start NetworkManager"},     {STOP, "systemctl stop NetworkManager"},
        {RESTART, "systemctl restart NetworkManager"}, {ENABLE, "systemctl enable NetworkManager"},
        {DISABLE, "systemctl disable NetworkManager"}, {STATUS, "systemctl status NetworkManager"},
    };
    for (const auto& c : cases) {
        clear_Tool_Calls();
        EXPECT_EQ(0, set_Systemd_Service("NetworkManager", c.cmd));
        EXPECT_EQ(std::vector<std::string>{c.line}, get_Tool_Calls());
    }
}

TEST(SystemdService, VerbOutOfRangeRunsNothing)
{
    clear_Tool_Calls();
    EXPECT_EQ(-1, set_Systemd_Service("NetworkManager", INVALID));
    EXPECT_EQ(-1, set_Systemd_Service("NetworkManager", static_cast<Systemd_Command>(99)));
    EXPECT_EQ(-1, set_Systemd_Service("NetworkManager", static_cast<Systemd_Command>(-1)));
    EXPECT_TRUE(get_Tool_Calls().empty());
}

TEST(SystemdService, LongCommandLineIsCutAt255Characters)
{
    clear_Tool_Calls();
    std::string name(300, 'n');
    EXPECT_EQ(0, set_Systemd_Service(name.c_str(), STOP));
    std::vector<std::string> calls = get_Tool_Calls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(255u, calls[0].size());
    EXPECT_EQ("systemctl stop nnn", calls[0].substr(0, 18));
}

struct StatusCase {
    const char* name;
    const char* answer;
    int exit_status;
    bool active;
};

class ServiceStatus : public ::testing::TestWithParam<StatusCase> {};

TEST_P(ServiceStatus, RunningOnlyWhenTheLastLineSaysSo)
{
    set_Tool_Answer("systemctl", "is-active NetworkManager", GetParam().answer, GetParam().exit_status);
    clear_Tool_Calls();
    EXPECT_EQ(GetParam().active, get_Systemd_Service_Status("NetworkManager"));
    EXPECT_EQ(std::vector<std::string>{"systemctl is-active NetworkManager"}, get_Tool_Calls());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ServiceStatus,
    ::testing::Values(
        StatusCase{"active", "active\n", 0, true}, StatusCase{"active_no_newline", "active", 0, true},
        StatusCase{"inactive", "inactive\n", 3, false}, StatusCase{"activating", "activating\n", 3, true},
        StatusCase{"reloading", "reloading\n", 0, true}, StatusCase{"failed", "failed\n", 3, false},
        StatusCase{"unknown", "unknown\n", 4, false}, StatusCase{"deactivating", "deactivating\n", 3, false},
        StatusCase{"active_prefix", "activex\n", 0, false}, StatusCase{"nothing", "", 4, false},
        StatusCase{"last_line_counts", "inactive\nactive\n", 0, true}),
    [](const ::testing::TestParamInfo<StatusCase>& info) { return std::string(info.param.name); });

// A tool gets PATH, LANG=C.UTF-8 and the system bus's address; an operator's other variables stay behind.
TEST(ChildEnvironment, PathLangAndTheBusOnly)
{
    const std::vector<std::pair<const char*, const char*>> operator_shell = {
        {"SNAP", "/snap/netplan/1"},
        {"LC_ALL", "de_DE.UTF-8"},
        {"LANG", "de_DE.UTF-8"},
        {"NETPLAN_DEBUG", "1"},
        {"PYTHONPATH", "/tmp/evil"},
        {"LD_LIBRARY_PATH", "/tmp/evil"},
        {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/run/test-bus"},
    };
    for (const auto& variable : operator_shell)
        ASSERT_EQ(0, setenv(variable.first, variable.second, 1));
    std::string output;
    int8_t rc = get_Probe_Output("env", &output);
    for (const auto& variable : operator_shell)
        unsetenv(variable.first);
    ASSERT_EQ(0, rc);
    std::vector<std::string> seen;
    std::istringstream lines(output);
    // A sanitizer build hands its own programs its options.
    for (std::string line; std::getline(lines, line);)
        if (line.find("SAN_OPTIONS=") == std::string::npos)
            seen.push_back(line);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ((std::vector<std::string>{"DBUS_SYSTEM_BUS_ADDRESS=unix:path=/run/test-bus", "LANG=C.UTF-8",
                                        std::string("PATH=") + getenv("PATH")}),
              seen);
}

TEST(ShellQuotedWord, GoldenForms)
{
    EXPECT_EQ("''", get_Shell_Quoted_Word(""));
    EXPECT_EQ("'eth0'", get_Shell_Quoted_Word("eth0"));
    EXPECT_EQ("'it'\\''s'", get_Shell_Quoted_Word("it's"));
    EXPECT_EQ("''\\'''\\'''", get_Shell_Quoted_Word("''"));
}

// The real shell must read every quoted word back as exactly the original
// bytes, and run nothing that the text contains.
TEST(ShellQuotedWord, RealShellReadsBackTheSameBytes)
{
    std::string marker = get_Sandbox_Dir() + "/injected";
    const std::string texts[] = {
        "",
        "192.168.1.10",
        "it's",
        "'",
        "a b\tc",
        "$(touch " + marker + ")",
        "`touch " + marker + "`",
        "1.2.3.4'; touch " + marker + "; '",
        "10.0.0.5\npre-up touch " + marker,
        "\\ \" $HOME * ~ ! # & | < > ;",
        std::string("\x01\x7f\xff", 3),
    };
    std::string out = get_Sandbox_Dir() + "/word";
    for (const std::string& text : texts) {
        std::string cmd = "printf %s " + get_Shell_Quoted_Word(text) + " > " + get_Shell_Quoted_Word(out);
        ASSERT_EQ(0, set_Command(cmd.c_str(), nullptr, 0));
        EXPECT_EQ(text, read_File(out)) << cmd;
        EXPECT_FALSE(std::filesystem::exists(marker)) << cmd;
    }
}

} // namespace
