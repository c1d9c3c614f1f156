#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

#include "log.h"
#include "process.h"

namespace {

const char* const __log_tag = "Network";

std::string read_File(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class LogFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char dir_template[] = "/tmp/lumerion-log-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(dir_template));
        dir = dir_template;
        saved_debug = get_Debug_Log_Status();
    }
    void TearDown() override
    {
        // A failed open while a file is open sends the log back to the console.
        set_Log_Output_File("/nonexistent-dir/x", "w");
        set_Info_Log(true);
        set_Error_Log(true);
        set_Debug_Log(saved_debug);
        unsetenv("DEBUG");
        system(("rm -rf " + dir).c_str());
    }
    std::string dir;
    bool saved_debug = false;
};

int evaluations = 0;
int counted()
{
    return ++evaluations;
}

void write_Lines()
{
    LOG_INFO("Manager Type: %s", "NETPLAN");
    LOG_DEBUG("MODE=%d ", 1);
    LOG_ERROR("Config File Load Error");
    LOG_ERROR_AS("get_EEPROM_Config", "mmap() Error");
}

TEST_F(LogFile, LinesAreByteExact)
{
    ASSERT_EQ(0, set_Log_Output_File((dir + "/a.log").c_str(), "w"));
    set_Debug_Log(true);
    write_Lines();
    EXPECT_EQ("[INFO]\t[Network] write_Lines: Manager Type: NETPLAN\n"
              "\033[32m[DEBUG]\t[Network] write_Lines: MODE=1 \033[0m\n"
              "\033[31m[ERROR]\t[Network] write_Lines: Config File Load Error\033[0m\n"
              "\033[31m[ERROR]\t[Network] get_EEPROM_Config: mmap() Error\033[0m\n",
              read_File(dir + "/a.log"));
}

// No value can end a log line or steer the terminal that shows it: C0, DEL, C1 and bytes that are not
// UTF-8 are escaped; UTF-8 text stands as it is.
TEST_F(LogFile, EveryControlCharacterIsEscaped)
{
    const struct {
        const char* text;
        const char* escaped; // by get_Log_Text; a log line's message leaves the backslash alone
    } rows[] = {
        {"/etc/netplan/a\n[ERROR]\tforged.yaml", "/etc/netplan/a\\n[ERROR]\\tforged.yaml"},
        {"\r\x1b[31m\x7f\x01", "\\r\\x1b[31m\\x7f\\x01"},
        {"C1 \xc2\x9b"
         "31m \xc2\x85 \xc2\x9f",
         "C1 \\xc2\\x9b31m \\xc2\\x85 \\xc2\\x9f"},
        {"raw \x9b\x85", "raw \\x9b\\x85"},
        {"caf\xc3\xa9 \xc2\xa0 \xe2\x80\xa8 \xf0\x9f\x98\x80",
         "caf\xc3\xa9 \xc2\xa0 \xe2\x80\xa8 \xf0\x9f\x98\x80"},
        {"overlong \xc0\xaf \xe0\x80\xaf", "overlong \\xc0\\xaf \\xe0\\x80\\xaf"},
        {"surrogate \xed\xa0\x80, past \xf4\x90\x80\x80",
         "surrogate \\xed\\xa0\\x80, past \\xf4\\x90\\x80\\x80"},
        {"cut \xe2\x82", "cut \\xe2\\x82"},
        {"\xff\xfe", "\\xff\\xfe"},
        {"back\\slash", "back\\\\slash"},
    };
    ASSERT_EQ(0, set_Log_Output_File((dir + "/a.log").c_str(), "w"));
    std::string expected;
    for (const auto& row : rows) {
        EXPECT_EQ(row.escaped, get_Log_Text(row.text)) << row.text;
        LOG_ERROR("cannot read %s", row.text);
        std::string message = row.escaped;
        for (size_t at = 0; (at = message.find("\\\\", at)) != std::string::npos; ++at)
            message.erase(at, 1);
        expected += "\033[31m[ERROR]\t[Network] TestBody: cannot read " + message + "\033[0m\n";
    }
    EXPECT_EQ(expected, read_File(dir + "/a.log"));
}

TEST(LogList, FourItemsThenHowManyMore)
{
    EXPECT_EQ("", get_Log_List({}));
    EXPECT_EQ("a, b, c, d", get_Log_List({"a", "b", "c", "d"}));
    EXPECT_EQ("a, b, c, d and 2 more", get_Log_List({"a", "b", "c", "d", "e", "f"}));
}

TEST_F(LogFile, ClosedGatesWriteNothingAndEvaluateNoArguments)
{
    ASSERT_EQ(0, set_Log_Output_File((dir + "/a.log").c_str(), "w"));
    set_Info_Log(false);
    set_Debug_Log(false);
    evaluations = 0;
    LOG_INFO("%d", counted());
    LOG_DEBUG("%d", counted());
    EXPECT_EQ(0, evaluations);
    set_Error_Log(false);
    LOG_ERROR("%d", counted());
    EXPECT_EQ(0, evaluations);
    set_Error_Log(true);
    LOG_ERROR("%d", counted());
    EXPECT_EQ(1, evaluations);
    EXPECT_EQ("\033[31m[ERROR]\t[Network] TestBody: 1\033[0m\n", read_File(dir + "/a.log"));
}

TEST_F(LogFile, WarnGateExistsButNothingIsWrittenUnderIt)
{
    ASSERT_EQ(0, set_Log_Output_File((dir + "/a.log").c_str(), "w"));
    EXPECT_TRUE(get_Warn_Log_Status());
    // The warn gate alone open: no line of any level gets out.
    set_Info_Log(false);
    set_Error_Log(false);
    set_Debug_Log(false);
    write_Lines();
    EXPECT_EQ("", read_File(dir + "/a.log"));
    // The warn gate closed: every other level still writes.
    set_Warn_Log(false);
    EXPECT_FALSE(get_Warn_Log_Status());
    set_Info_Log(true);
    set_Error_Log(true);
    set_Debug_Log(true);
    write_Lines();
    set_Warn_Log(true);
    std::string text = read_File(dir + "/a.log");
    EXPECT_EQ(4, std::count(text.begin(), text.end(), '\n')) << text;
}

TEST_F(LogFile, MissingDirectoryKeepsTheConsole)
{
    EXPECT_EQ(1, set_Log_Output_File((dir + "/missing/a.log").c_str(), "w"));
    EXPECT_EQ(stdout, get_stdout());
    EXPECT_EQ(stderr, get_stderr());
}

TEST_F(LogFile, SecondFileTakesOverAllLines)
{
    ASSERT_EQ(0, set_Log_Output_File((dir + "/first.log").c_str(), "w"));
    LOG_INFO("one");
    ASSERT_EQ(0, set_Log_Output_File((dir + "/second.log").c_str(), "w"));
    LOG_INFO("two");
    LOG_ERROR("three");
    EXPECT_EQ("[INFO]\t[Network] TestBody: one\n", read_File(dir + "/first.log"));
    EXPECT_EQ("[INFO]\t[Network] TestBody: two\n"
              "\033[31m[ERROR]\t[Network] TestBody: three\033[0m\n",
              read_File(dir + "/second.log"));
}

TEST_F(LogFile, ReopeningReappliesTheDebugRule)
{
    ASSERT_EQ(0, set_Log_Output_File((dir + "/first.log").c_str(), "w"));
    setenv("DEBUG", "1", 1);
    set_Debug_Log(false);
    ASSERT_EQ(0, set_Log_Output_File((dir + "/second.log").c_str(), "w"));
    EXPECT_TRUE(get_Debug_Log_Status());
}

TEST_F(LogFile, FailedReopenFallsBackToTheConsole)
{
    ASSERT_EQ(0, set_Log_Output_File((dir + "/first.log").c_str(), "w"));
    EXPECT_NE(stdout, get_stdout());
    EXPECT_EQ(1, set_Log_Output_File((dir + "/missing/x.log").c_str(), "w"));
    EXPECT_EQ(stdout, get_stdout());
    EXPECT_EQ(stderr, get_stderr());
}

struct DebugCase {
    const char* name;
    const char* env; // null: unset
    bool debug;
};

class DebugEnvironment : public ::testing::TestWithParam<DebugCase> {};

TEST_P(DebugEnvironment, OnlyTheTextOneTurnsDebugOn)
{
    std::vector<std::string> env = {"PATH=/usr/bin:/bin"};
    if (GetParam().env != nullptr)
        env.push_back(std::string("DEBUG=") + GetParam().env);
    Process_Result r = run_Process({get_Test_Binary_Dir() + "/log_probe"}, env);
    ASSERT_EQ(0, r.exit_status) << r.err;
    std::string expected_out = "[INFO]\t[main] Early_Logger: loaded\n";
    if (GetParam().debug)
        expected_out += "\033[32m[DEBUG]\t[main] main: debug on \033[0m\n";
    expected_out += "[INFO]\t[main] main: info 1\n";
    EXPECT_EQ(expected_out, r.out);
    EXPECT_EQ("\033[31m[ERROR]\t[main] main: error\033[0m\nset_Command: No such file or directory\n", r.err);
}

INSTANTIATE_TEST_SUITE_P(
    Values, DebugEnvironment,
    ::testing::Values(DebugCase{"one", "1", true}, DebugCase{"unset", nullptr, false},
                      DebugCase{"empty", "", false}, DebugCase{"zero", "0", false},
                      DebugCase{"zero_one", "01", false}, DebugCase{"one_space", "1 ", false},
                      DebugCase{"true_text", "true", false}, DebugCase{"eleven", "11", false}),
    [](const ::testing::TestParamInfo<DebugCase>& info) { return std::string(info.param.name); });

// systemd names the journal's stream in JOURNAL_STREAM ("device:inode"): on
// that stream a line carries its priority prefix and no colour; elsewhere it is unchanged.
struct JournalCase {
    const char* name;
    const char* shell; // runs log_probe as $0 with DEBUG=1, its streams as run_Process gives them
    const char* out;
    const char* err;
};

class JournalStream : public ::testing::TestWithParam<JournalCase> {};

TEST_P(JournalStream, PrefixOnlyOnTheJournalsOwnStream)
{
    Process_Result r = run_Process({"/bin/sh", "-c", GetParam().shell, get_Test_Binary_Dir() + "/log_probe"},
                                   {"PATH=/usr/bin:/bin", "DEBUG=1"});
    ASSERT_EQ(0, r.exit_status) << r.err;
    EXPECT_EQ(GetParam().out, r.out);
    EXPECT_EQ(GetParam().err, r.err);
}

const char* const plain_out =
    "[INFO]\t[main] Early_Logger: loaded\n\033[32m[DEBUG]\t[main] main: debug on \033[0m\n"
    "[INFO]\t[main] main: info 1\n";
const char* const plain_err =
    "\033[31m[ERROR]\t[main] main: error\033[0m\nset_Command: No such file or directory\n";
const char* const journal_out = "<6>[INFO]\t[main] Early_Logger: loaded\n<7>[DEBUG]\t[main] main: debug on "
                                "\n<6>[INFO]\t[main] main: info 1\n";

INSTANTIATE_TEST_SUITE_P(
    Streams, JournalStream,
    ::testing::Values(
        JournalCase{"both_streams_the_journal",
                    "JOURNAL_STREAM=$(stat -L -c %d:%i /proc/$$/fd/1) exec \"$0\" 2>&1",
                    "<6>[INFO]\t[main] Early_Logger: loaded\n<7>[DEBUG]\t[main] main: debug on \n"
                    "<6>[INFO]\t[main] main: info 1\n<3>[ERROR]\t[main] main: error\n"
                    "<3>set_Command: No such file or directory\n",
                    ""},
        JournalCase{"output_only", "JOURNAL_STREAM=$(stat -L -c %d:%i /proc/$$/fd/1) exec \"$0\"",
                    journal_out, plain_err},
        JournalCase{"unset", "unset JOURNAL_STREAM; exec \"$0\"", plain_out, plain_err},
        JournalCase{"another_file", "JOURNAL_STREAM=$(stat -L -c %d:%i /bin/sh) exec \"$0\"", plain_out,
                    plain_err},
        JournalCase{"malformed", "JOURNAL_STREAM=$(stat -L -c %d:%i /proc/$$/fd/1)x exec \"$0\"", plain_out,
                    plain_err}),
    [](const ::testing::TestParamInfo<JournalCase>& info) { return std::string(info.param.name); });

} // namespace
