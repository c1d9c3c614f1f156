// The host report's schedule and contents, driven call by call in-process
// with the real transmit thread writing to the sandbox's FIFO bus.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "I2C_BMC_packet_thread.h"
#include "bus_reader.h"
#include "host_report.h"
#include "network.h"
#include "sandbox.h"

namespace {

using Bytes = std::vector<uint8_t>;

int fail_Quietly(BMC::Packet*, uint8_t)
{
    return 0;
}
int ignore_Broadcast(const BMC::Packet&)
{
    return 0;
}

std::string text_Of(const Bytes& packet)
{
    return std::string(packet.begin() + 5, packet.end());
}

class HostReport : public ::testing::Test {
protected:
    void SetUp() override
    {
        write_File("/etc/os-release", "PRETTY_NAME=\"Report OS\"\n");
        set_Tool_Answer("lsblk", "-p -o NAME,SIZE,TYPE -n --exclude 1,7", "/dev/vda 32G disk\n");
        ASSERT_EQ(0, init_I2C_BMC_Packet_Thread(ignore_Broadcast, fail_Quietly));
    }
    void TearDown() override { set_I2C_BMC_Packet_Thread_Stop(); }
    Bus_Reader bus;
};

// Without a change only a due report goes out.
TEST_F(HostReport, UnchangedRouteReportsOnlyWhenDue)
{
    // The first refresh always counts as a change; take that flag away first.
    Network::update_Default_IP_Info();
    ASSERT_TRUE(Network::get_Default_IP_Info_Update_Flag());
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(update_Broadcast_Packet(false));
    EXPECT_TRUE(bus.collect(0.5).empty());
    EXPECT_TRUE(update_Broadcast_Packet(true));
    std::vector<Bytes> packets = bus.take(7, generous_seconds);
    ASSERT_EQ(7u, packets.size());
    EXPECT_EQ(std::string("Report OS\0", 10), text_Of(packets[0]));
    EXPECT_EQ(std::string("0.0.0.0\0", 8), text_Of(packets[1]));
}

// A change goes out once, at once or in the due report that carries it, never twice.
TEST_F(HostReport, ChangeIsReportedOnce)
{
    for (bool due : {false, true}) {
        SCOPED_TRACE(due ? "due" : "not due");
        Network::update_Default_IP_Info();
        Network::get_Default_IP_Info_Update_Flag();
        std::string address = due ? "10.1.2.3" : "192.168.1.10";
        ASSERT_EQ(0, run_Shell("ip addr flush dev eth0 && ip addr add " + address +
                               "/24 dev eth0 && ip route add default via " +
                               address.substr(0, address.rfind('.')) + ".1"));
        Network::update_Default_IP_Info();
        EXPECT_TRUE(update_Broadcast_Packet(due));
        EXPECT_FALSE(update_Broadcast_Packet(false));
        std::vector<Bytes> packets = bus.take(7, generous_seconds);
        ASSERT_EQ(7u, packets.size());
        EXPECT_EQ(address + std::string(1, '\0'), text_Of(packets[1]));
        EXPECT_TRUE(bus.collect(0.4).empty());
    }
}

TEST_F(HostReport, LongTextsAreCutTo99Characters)
{
    std::string os_name(110, 'o');
    write_File("/etc/os-release", "PRETTY_NAME=\"" + os_name + "\"\n");
    std::string disk = "/dev/" + std::string(115, 'd');
    set_Tool_Answer("lsblk", "-p -o NAME,SIZE,TYPE -n --exclude 1,7", disk + " 1T disk\n");
    update_Broadcast_Packet(true);
    std::vector<Bytes> packets = bus.take(7, generous_seconds);
    ASSERT_EQ(7u, packets.size());
    EXPECT_EQ(os_name.substr(0, 99) + std::string(1, '\0'), text_Of(packets[0]));
    EXPECT_EQ(105, packets[0][0]);
    EXPECT_EQ(disk.substr(0, 99) + std::string(1, '\0'), text_Of(packets[5]));
    /* 22 00 55 00 0E: len 34, WRITE STRING, CPU name with its NUL */
    EXPECT_EQ(34u, packets[2].size());
    EXPECT_EQ(0, packets[2].back());
}

TEST_F(HostReport, NoDiskStillSendsCountAndEmptyTexts)
{
    set_Tool_Answer("lsblk", "-p -o NAME,SIZE,TYPE -n --exclude 1,7", "/dev/loop0 4K loop\n");
    update_Broadcast_Packet(true);
    std::vector<Bytes> packets = bus.take(7, generous_seconds);
    ASSERT_EQ(7u, packets.size());
    /* 06 00 05 00 09 00: DISK_COUNT 0; then two texts of one NUL byte */
    EXPECT_EQ((Bytes{0x06, 0x00, 0x05, 0x00, 0x09, 0x00}), packets[4]);
    EXPECT_EQ((Bytes{0x06, 0x00, 0x55, 0x00, 0x0A, 0x00}), packets[5]);
    EXPECT_EQ((Bytes{0x06, 0x00, 0x55, 0x00, 0x0B, 0x00}), packets[6]);
}

// With every descriptor in use no command can start, so lsblk's list cannot
// be obtained (nor the OS name or /proc/meminfo).
void report_Without_Descriptors()
{
    set_Descriptors_Used_Up();
    update_Broadcast_Packet(true);
    // A packet that asks for a response is answered only once all before it are written.
    BMC::Packet marker, response;
    uint8_t value = 0;
    BMC::init_Packet(&marker, BMC::NODE_ID::BMC, false, BMC::PACKET_TYPE::WRITE, true,
                     BMC::ADDRESS::DESCRIPTION, 0, BMC::DATA_TYPE::UINT8, &value, 1);
    double deadline = get_Monotonic_Seconds() + generous_seconds;
    do
        set_I2C_BMC_Packet_Request(marker, &response);
    while (BMC::get_Packet_Type(response) != BMC::PACKET_TYPE::PING_RESPONSE &&
           get_Monotonic_Seconds() < deadline);
    _exit(0);
}

TEST(HostReportDeathTest, DiskListUnavailableEndsAfterMemory)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    write_File("/etc/os-release", "PRETTY_NAME=\"Report OS\"\n");
    Bus_Reader bus;
    EXPECT_EXIT(
        {
            init_I2C_BMC_Packet_Thread(ignore_Broadcast, fail_Quietly);
            report_Without_Descriptors();
        },
        ::testing::ExitedWithCode(0), "popen\\(\\) Error");
    std::vector<Bytes> packets = bus.take(4, generous_seconds);
    ASSERT_GE(packets.size(), 4u);
    // After the memory size only the child's marker packets came: no disk packet.
    for (size_t i = 4; i < packets.size(); ++i)
        EXPECT_EQ(0, packets[i][4]) << i;
    /* 06 00 55 00 05 00: the OS name could not be read */
    EXPECT_EQ((Bytes{0x06, 0x00, 0x55, 0x00, 0x05, 0x00}), packets[0]);
    /* 0D 00 35 00 13 00..: no /proc/meminfo, 0 GB */
    EXPECT_EQ((Bytes{0x0D, 0x00, 0x35, 0x00, 0x13, 0, 0, 0, 0, 0, 0, 0, 0}), packets[3]);
}

} // namespace
