#include <gtest/gtest.h>

#include <fcntl.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "config.h"
#include "file_replace.h"
#include "guards.h"
#include "log.h"
#include "sandbox.h"
#include "system_info.h"

namespace {

const off_t window_offset = 0x10000000;

// A sparse stand-in for /dev/mem holding the 512-byte EEPROM window.
void write_Mem_Image(const std::string& window_bytes_at_80)
{
    std::filesystem::remove("/dev/mem");
    Descriptor fd(open("/dev/mem", O_WRONLY | O_CREAT | O_TRUNC, 0600));
    ASSERT_GE(fd.get(), 0);
    ASSERT_EQ(0, ftruncate(fd.get(), window_offset + 512));
    ASSERT_EQ(static_cast<ssize_t>(window_bytes_at_80.size()),
              pwrite(fd.get(), window_bytes_at_80.data(), window_bytes_at_80.size(), window_offset + 80));
}

int open_Descriptor_Count()
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++count;
    }
    return count;
}

struct SerialCase {
    const char* name;
    std::string record; // bytes from offset 80; empty: no /dev/mem at all
    std::string text;
    int result;
};

class SerialNumber : public ::testing::TestWithParam<SerialCase> {};

TEST_P(SerialNumber, FromTheEepromWindow)
{
    const SerialCase& c = GetParam();
    if (c.record.empty())
        std::filesystem::remove("/dev/mem");
    else
        write_Mem_Image(c.record);
    int before = open_Descriptor_Count();
    char buffer[64];
    memset(buffer, 'Z', sizeof(buffer));
    EXPECT_EQ(c.result, get_Config_Serial_Number(buffer, sizeof(buffer)));
    EXPECT_EQ(c.text, std::string(buffer));
    // The rest of the buffer is zero-filled.
    for (size_t i = c.text.size(); i < sizeof(buffer); ++i)
        ASSERT_EQ('\0', buffer[i]) << i;
    EXPECT_EQ(before, open_Descriptor_Count());
}

INSTANTIATE_TEST_SUITE_P(
    Window, SerialNumber,
    ::testing::Values(SerialCase{"present", std::string("USN12345\0", 9), "SN12345", 7},
                      SerialCase{"marker_absent", std::string("XSN12345\0", 9), "N/A", 3},
                      SerialCase{"empty_text", std::string("U\0", 2), "", 0},
                      SerialCase{"no_device", "", "N/A", 3}),
    [](const ::testing::TestParamInfo<SerialCase>& info) { return std::string(info.param.name); });

TEST(SerialNumberLimits, TextFillingTheBufferHasNoTerminator)
{
    write_Mem_Image(std::string("UABCDEFGHIJ\0", 12));
    char buffer[5];
    EXPECT_EQ(5, get_Config_Serial_Number(buffer, sizeof(buffer)));
    EXPECT_EQ(std::string("ABCDE"), std::string(buffer, 5));
    // A text without NUL runs to the window's end: 431 bytes, 175 modulo 256.
    write_Mem_Image("U" + std::string(431, 'S'));
    char big[512];
    EXPECT_EQ(431 % 256, get_Config_Serial_Number(big, sizeof(big)));
    EXPECT_EQ(std::string(431, 'S'), std::string(big));
}

// What may stand at /dev/mem instead of the device: a directory opens
// read-only but cannot be mapped; a socket passes the access check but
// cannot be opened. Either gives one ERROR line and the fallback text.
TEST(SerialNumberLimits, DeviceFailuresLogAndFallBack)
{
    const struct {
        const char* name;
        bool socket;
        const char* line;
    } cases[] = {
        {"directory", false, "\033[31m[ERROR]\t[Config] get_EEPROM_Config: mmap() Error\033[0m\n"},
        {"socket", true, "\033[31m[ERROR]\t[Config] get_EEPROM_Config: fopen() Error\033[0m\n"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all("/dev/mem");
        Descriptor listener(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (c.socket) {
            struct sockaddr_un address = {};
            address.sun_family = AF_UNIX;
            strcpy(address.sun_path, "/dev/mem");
            ASSERT_EQ(0, bind(listener.get(), reinterpret_cast<struct sockaddr*>(&address), sizeof(address)));
        } else {
            std::filesystem::create_directory("/dev/mem");
        }
        std::string log = get_Sandbox_Dir() + "/config.log";
        ASSERT_EQ(0, set_Log_Output_File(log.c_str(), "w"));
        int before = open_Descriptor_Count();
        char buffer[16];
        EXPECT_EQ(3, get_Config_Serial_Number(buffer, sizeof(buffer))) << c.name;
        EXPECT_STREQ("N/A", buffer) << c.name;
        EXPECT_EQ(before, open_Descriptor_Count()) << c.name;
        set_Log_Output_File("/nonexistent/x", "w");
        EXPECT_EQ(c.line, read_File(log)) << c.name;
    }
}

// The version the BMC is told is the one the package's changelog carries,
// and neither text is written past its terminator.
TEST(IdentityTexts, ProductAndVersion)
{
    char buffer[32];
    memset(buffer, 'Z', sizeof(buffer));
    EXPECT_EQ(11, get_Config_Product_Name(buffer));
    EXPECT_EQ(std::string("Lumerion KT\0ZZZZ", 16), std::string(buffer, 16));
    std::string changelog = read_File(LUMERION_SOURCE_DIR "/packaging/changelog");
    size_t open = changelog.find(" (");
    ASSERT_NE(std::string::npos, open);
    std::string package_version = changelog.substr(open + 2, changelog.find(')') - open - 2);
    memset(buffer, 'Z', sizeof(buffer));
    int length = get_Config_Version(buffer);
    EXPECT_EQ("v" + package_version, std::string(buffer, static_cast<size_t>(std::max(length, 0))));
    EXPECT_EQ(std::string("\0Z", 2), std::string(buffer + length, 2));
}

TEST(OsInfo, PrettyNameFromOsRelease)
{
    write_File("/etc/os-release", "NAME=Test\nPRETTY_NAME=\"Lumerion Test OS 1.0\"\n");
    char buffer[128];
    memset(buffer, 'Z', sizeof(buffer));
    EXPECT_EQ(20, get_Config_OS_Info(buffer));
    EXPECT_STREQ("Lumerion Test OS 1.0", buffer);

    // No PRETTY_NAME: the name and version; a command substitution is a name like any other, never run.
    write_File("/etc/os-release", "NAME=Test\nVERSION=\"$(touch /etc/ran)\"\n");
    EXPECT_EQ(22, get_Config_OS_Info(buffer));
    EXPECT_STREQ("Test $(touch /etc/ran)", buffer);
    EXPECT_FALSE(std::filesystem::exists("/etc/ran"));

    // No /etc/os-release, or a dangling link: the vendor's /usr/lib/os-release.
    std::string vendor;
    ASSERT_TRUE(get_File_Content("/usr/lib/os-release", &vendor));
    for (const char* make : {"rm -f /etc/os-release", "ln -sf /nowhere /etc/os-release"}) {
        ASSERT_EQ(0, run_Shell(make));
        int length = get_Config_OS_Info(buffer);
        EXPECT_EQ(System_Info::get_OS_Release_Name(vendor), std::string(buffer, static_cast<size_t>(length)))
            << make;
        EXPECT_STRNE("Linux", buffer) << make;
    }

    // A FIFO (never waited on) or a huge file: an empty name and one ERROR line.
    const struct {
        const char* make;
        const char* why;
    } refused[] = {
        {"rm -f /etc/os-release && mkfifo /etc/os-release", "not a regular file"},
        {"rm -f /etc/os-release && head -c 1048577 /dev/zero > /etc/os-release", "larger than 1 MiB"},
    };
    for (const auto& r : refused) {
        ASSERT_EQ(0, run_Shell(r.make));
        Log_Capture log;
        EXPECT_EQ(0, get_Config_OS_Info(buffer)) << r.make;
        EXPECT_EQ(std::string("\033[31m[ERROR]\t[System Info] get_OS_Info: cannot read /etc/os-release: ") +
                      r.why + "\033[0m\n",
                  log.text());
    }
    std::filesystem::remove("/etc/os-release");

    // A 200-character name: its first 127 characters.
    write_File("/etc/os-release", "PRETTY_NAME=\"" + std::string(200, 'n') + "\"\n");
    EXPECT_EQ(127, get_Config_OS_Info(buffer));
    EXPECT_EQ(std::string(127, 'n'), std::string(buffer));
}

class Hostname : public ::testing::Test {
protected:
    // The machine's own /etc/hosts may map the sandbox's inherited name: none is mapped here.
    void SetUp() override
    {
        clear_Tool_Calls();
        write_File("/etc/hosts", "127.0.0.1 localhost\n");
    }
    static bool request(const std::string& name)
    {
        std::vector<char> buffer(name.begin(), name.end());
        buffer.push_back('\0');
        return set_Config_Hostname(buffer.data());
    }
};

TEST_F(Hostname, EachDistinctNameRunsHostnamectlOnce)
{
    EXPECT_FALSE(request(""));
    EXPECT_TRUE(get_Tool_Calls().empty());
    EXPECT_TRUE(request("node-a"));
    EXPECT_TRUE(request("node-a"));
    EXPECT_TRUE(request("node-b"));
    EXPECT_TRUE(request("node-a"));
    EXPECT_EQ((std::vector<std::string>{"hostnamectl set-hostname node-a", "hostnamectl set-hostname node-b",
                                        "hostnamectl set-hostname node-a"}),
              get_Tool_Calls());
}

TEST_F(Hostname, UnsafeNamesAreRefusedAndNotRemembered)
{
    std::string log = get_Sandbox_Dir() + "/hostname.log";
    ASSERT_EQ(0, set_Log_Output_File(log.c_str(), "w"));
    std::string marker = get_Sandbox_Dir() + "/injected";
    for (const std::string& name :
         {std::string("x; touch ") + marker, std::string("$(touch ") + marker + ")", std::string("a b"),
          std::string("-rf"), std::string(65, 'a'), std::string("node\nx")}) {
        EXPECT_FALSE(request(name));
    }
    set_Log_Output_File("/nonexistent/x", "w");
    EXPECT_TRUE(get_Tool_Calls().empty());
    EXPECT_FALSE(std::filesystem::exists(marker));
    std::string expected;
    for (int i = 0; i < 6; ++i)
        expected +=
            "\033[31m[ERROR]\t[Config] set_Config_Hostname: refused hostname: not a valid host name\033[0m\n";
    EXPECT_EQ(expected, read_File(log));
    // A refused name is not remembered: a valid one after it still runs.
    EXPECT_TRUE(request("node-c"));
    EXPECT_EQ(std::vector<std::string>{"hostnamectl set-hostname node-c"}, get_Tool_Calls());
}

// A name the host did not take is not remembered: asking again runs hostnamectl again.
TEST_F(Hostname, FailedHostnamectlIsRetried)
{
    set_Tool_Answer("hostnamectl", "", "", 1);
    Log_Capture log;
    EXPECT_FALSE(request("node-e"));
    EXPECT_FALSE(request("node-e"));
    EXPECT_EQ(2u, get_Tool_Calls().size());
    EXPECT_NE(std::string::npos,
              log.text().find("the hostname was not set: \"hostnamectl set-hostname node-e\" "
                              "exited with status 1"))
        << log.text();
}

TEST_F(Hostname, DebugLinesForARequest)
{
    std::string log = get_Sandbox_Dir() + "/debug.log";
    ASSERT_EQ(0, set_Log_Output_File(log.c_str(), "w"));
    set_Debug_Log(true);
    request("node-d");
    request("node-d");
    set_Debug_Log(false);
    set_Log_Output_File("/nonexistent/x", "w");
    EXPECT_EQ(
        "\033[32m[DEBUG]\t[Config] set_Config_Hostname: buffer=node-d  \033[0m\n"
        "\033[32m[DEBUG]\t[Config] set_Config_Hostname: hostname=node-d  \033[0m\n"
        "\033[32m[DEBUG]\t[Config] set_Config_Hostname: buffer_command=hostnamectl set-hostname node-d  "
        "\033[0m\n"
        "\033[32m[DEBUG]\t[Config] set_Config_Hostname: buffer=node-d  \033[0m\n",
        read_File(log));
}

} // namespace
