// What used to stop or bend the host report: hung tools, special and huge
// files at configuration paths, links that point nowhere, too many disks,
// too many requests and text that could forge log lines.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "BMC_data_protocol.h"
#include "I2C_BMC_packet_thread.h"
#include "bus_reader.h"
#include "host_paths.h"
#include "host_report.h"
#include "log.h"
#include "network.h"
#include "network_access.h"
#include "sandbox.h"
#include "system_info.h"

namespace {

namespace fs = std::filesystem;
using Access = Network_Test_Access;
using Clock = std::chrono::steady_clock;

const char* const lsblk_args = "-p -o NAME,SIZE,TYPE -n --exclude 1,7";

int fail_Quietly(BMC::Packet*, uint8_t)
{
    return 0;
}
int ignore_Broadcast(const BMC::Packet&)
{
    return 0;
}

double seconds_Since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string stopped_Line(const std::string& command)
{
    return "\033[31m[ERROR]\t[Command] set_Command: no answer from \"" + command +
           "\" within 10 s: stopped\033[0m\n";
}

class Limits : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories("/etc/netplan");
        fs::create_directories("/etc/NetworkManager/system-connections");
        write_File("/etc/os-release", "PRETTY_NAME=\"Limits OS\"\n");
        set_Tool_Answer("systemctl", "is-active NetworkManager", "inactive\n");
    }
    void TearDown() override { set_I2C_BMC_Packet_Thread_Stop(); }
};

// One hung disk tool costs one report its tail, never the reports after it.
TEST_F(Limits, HungLsblkKeepsWhatItPrintedAndLaterReportsCome)
{
    set_Tool_Answer("lsblk", lsblk_args, "/dev/vda 32G disk\n");
    set_Tool_Hang("lsblk", lsblk_args, 600);
    ASSERT_EQ(0, init_I2C_BMC_Packet_Thread(ignore_Broadcast, fail_Quietly));
    Bus_Reader bus;
    Log_Capture log;
    update_Broadcast_Packet(true);
    EXPECT_NE(std::string::npos, log.text().find(stopped_Line(std::string("lsblk ") + lsblk_args)));
    set_Tool_Answer("lsblk", lsblk_args, "/dev/vdb 8G disk\n");
    fs::remove(get_Sandbox_Dir() + "/answers/lsblk/" + std::string(lsblk_args) + ".sleep");
    update_Broadcast_Packet(true);
    bus.read_Until(14, get_Monotonic_Seconds() + generous_seconds);
    ASSERT_EQ(14u, bus.packets.size());
    EXPECT_EQ(std::string("/dev/vda\0", 9), std::string(bus.packets[5].begin() + 5, bus.packets[5].end()));
    EXPECT_EQ(std::string("/dev/vdb\0", 9), std::string(bus.packets[12].begin() + 5, bus.packets[12].end()));
}

TEST_F(Limits, HungServiceQueryOnABareHostStillEndsDetection)
{
    set_Tool_Answer("systemctl", "is-active NetworkManager", "");
    set_Tool_Hang("systemctl", "is-active NetworkManager", 600);
    Log_Capture log;
    auto start = Clock::now();
    // An empty answer counts as running: the keyfile is written.
    Access::prepare(nullptr, 0);
    EXPECT_TRUE(std::filesystem::exists(keyfile));
    EXPECT_LT(seconds_Since(start), generous_seconds);
    EXPECT_EQ(0u, log.text().find(stopped_Line("systemctl is-active NetworkManager")));
}

TEST_F(Limits, HungNmcliReadUsesWhatItPrinted)
{
    write_File(keyfile, "[connection]\ntype=ethernet\ninterface-name=eth0\n");
    set_Tool_Answer("systemctl", "is-active NetworkManager", "active\n");
    set_Nmcli_Profile(profile_uuid, keyfile, true);
    set_Tool_Answer("nmcli", "-t -f ipv4.addresses con show uuid " + profile_uuid,
                    "ipv4.addresses:10.0.0.5/24\n");
    set_Tool_Hang("nmcli", "-t -f ipv4.addresses con show uuid " + profile_uuid, 600);
    Log_Capture log;
    auto start = Clock::now();
    uint8_t rc = 9;
    EXPECT_EQ("10.0.0.5", read_Setting(Network::CONFIG_TYPE::IP_ADDRESS, &rc));
    EXPECT_EQ(0, rc);
    EXPECT_LT(seconds_Since(start), generous_seconds);
    EXPECT_EQ(stopped_Line("nmcli -t -f ipv4.addresses con show uuid " + profile_uuid), log.text());
}

// A FIFO or a huge file at the netplan path is refused at once, read by read.
TEST_F(Limits, SpecialOrHugeNetplanFileIsRefused)
{
    const struct {
        const char* make;
        const char* why;
    } cases[] = {
        {"mkfifo /etc/netplan/01-netcfg.yaml", "not a regular file"},
        {"truncate -s 100M /etc/netplan/01-netcfg.yaml", "larger than 1 MiB"},
    };
    for (const auto& c : cases) {
        fs::remove(netplan_file);
        ASSERT_EQ(0, run_Shell(c.make));
        Log_Capture log;
        auto start = Clock::now();
        Network::set_Interface_Name("eth0");
        EXPECT_LT(seconds_Since(start), 30.0) << c.make;
        std::string line = std::string("\033[31m[ERROR]\t[Network] get_Config: Config File Load Error: ") +
                           netplan_file + ": " + c.why + "\033[0m\n";
        std::string expected =
            "[INFO]\t[Network] set_Interface_Name: Interface: eth0, Manager Type: netplan\n";
        for (int i = 0; i < 6; ++i)
            expected += line;
        EXPECT_EQ(expected, log.text()) << c.make;
        EXPECT_FALSE(Network::set_Config_Apply()) << c.make;
    }
}

TEST_F(Limits, DanglingLinkAtADefaultPathIsNeverFollowed)
{
    const struct {
        std::string path;
        const char* service;
        const char* function;
    } cases[] = {
        {netplan_file, "inactive\n", "init_netplan_Config"},
        {keyfile, "active\n", "init_Network_Manager_Config"},
    };
    for (const auto& c : cases) {
        std::string outside = get_Sandbox_Dir() + "/outside-etc";
        fs::remove(outside);
        fs::create_symlink(outside, c.path);
        set_Tool_Answer("systemctl", "is-active NetworkManager", c.service);
        Log_Capture log;
        EXPECT_EQ(Network::MANAGER_TYPE::UNKNOWN, Access::prepare(nullptr, 0)) << c.path;
        EXPECT_EQ(std::string("\033[31m[ERROR]\t[Network] ") + c.function + ": Generate Failed\033[0m\n",
                  log.text());
        EXPECT_FALSE(fs::exists(outside)) << c.path;
        fs::remove(c.path);
    }
}

TEST_F(Limits, DiskCountStaysAt255)
{
    std::string listing;
    for (int i = 0; i < 300; ++i)
        listing += "/dev/sd" + std::to_string(i) + " 1G disk\n";
    set_Tool_Answer("lsblk", lsblk_args, listing);
    uint8_t count = 0;
    std::string names, sizes;
    ASSERT_TRUE(System_Info::get_Disk_Info(&count, &names, &sizes));
    EXPECT_EQ(255, count);
    EXPECT_EQ(0u, names.find("/dev/sd0|/dev/sd1|"));
}

TEST_F(Limits, FullTransmitQueueIsToldOncePerRun)
{
    ASSERT_EQ(0, init_I2C_BMC_Packet_Thread(ignore_Broadcast, fail_Quietly));
    Bus_Reader bus;
    BMC::Packet request, response;
    uint8_t value = 1;
    BMC::init_Packet(&request, BMC::NODE_ID::BMC, false, BMC::PACKET_TYPE::WRITE, false,
                     BMC::ADDRESS::DESCRIPTION, 0, BMC::DATA_TYPE::UINT8, &value, 1);
    Log_Capture log;
    int queued = 0, dropped = 0, runs = 0;
    uint8_t previous = 0;
    for (int i = 0; i < 1000; ++i) {
        uint8_t rc = set_I2C_BMC_Packet_Request(request, &response);
        ASSERT_TRUE(rc == 0 || rc == 3) << int(rc);
        (rc == 0 ? queued : dropped)++;
        // The thread may take a packet off meanwhile: the next request gets in and a new run starts.
        if (rc == 3 && previous != 3)
            ++runs;
        previous = rc;
    }
    EXPECT_GE(queued, 199);
    EXPECT_GE(runs, 1);
    EXPECT_EQ(1000, queued + dropped);
    std::string line =
        "\033[31m[ERROR]\t[I2C Packet] set_I2C_BMC_Packet_Request: transmit queue full: packets are "
        "dropped\033[0m\n";
    std::string expected;
    for (int i = 0; i < runs; ++i)
        expected += line;
    EXPECT_EQ(expected, log.text());
}

// Context switches of the transmit thread (named "i2c-transmit").
long get_Transmit_Thread_Switches()
{
    long total = 0;
    for (const auto& task : fs::directory_iterator("/proc/self/task")) {
        if (read_File(task.path().string() + "/comm") != "i2c-transmit\n")
            continue;
        std::string status = read_File(task.path().string() + "/status");
        for (const char* field : {"voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:"}) {
            size_t at = status.find(std::string("\n") + field);
            if (at != std::string::npos)
                total += atol(status.c_str() + at + strlen(field) + 1);
        }
    }
    return total;
}

// With nothing to send the transmit thread sleeps instead of polling 50 times a second.
TEST_F(Limits, IdleTransmitThreadDoesNotWake)
{
    ASSERT_EQ(0, init_I2C_BMC_Packet_Thread(ignore_Broadcast, fail_Quietly));
    long before = get_Transmit_Thread_Switches();
    ASSERT_GT(before, 0);
    sleep(2);
    EXPECT_LT(get_Transmit_Thread_Switches() - before, 10);
}

TEST_F(Limits, BmcTextCannotForgeLogLines)
{
    Log_Capture log;
    set_Debug_Log(true);
    std::string text = "10.0.0.5\n[INFO]\tforged\x1b[0m\\";
    BMC::Packet packet;
    BMC::init_Packet(&packet, BMC::NODE_ID::BMC, false, BMC::PACKET_TYPE::WRITE, false, BMC::ADDRESS::NETWORK,
                     BMC::SUBADDRESS_NETWORK_CONFIG_MACADDRESS, BMC::DATA_TYPE::STRING, text.c_str(),
                     static_cast<uint8_t>(text.size() + 1));
    I2C_BMC_Packet_Hander(&packet);
    set_Debug_Log(false);
    EXPECT_EQ(
        "\033[32m[DEBUG]\t[I2C Packet] I2C_BMC_Packet_Hander: default=10.0.0.5\\n[INFO]\\tforged\\x1b[0m\\\\ "
        "\033[0m\n",
        log.text());
}

} // namespace
