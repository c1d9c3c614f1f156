#include <gtest/gtest.h>

#include <string.h>
#include <string>
#include <vector>

#include "BMC_data_protocol.h"

using namespace BMC;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes wire(const Packet& packet)
{
    uint8_t buffer[256];
    size_t length = get_Packet_Wire_Bytes(packet, buffer, sizeof(buffer));
    return Bytes(buffer, buffer + length);
}

Bytes with_Header(Bytes header, const std::string& text_with_nul)
{
    header.insert(header.end(), text_with_nul.begin(), text_with_nul.end());
    return header;
}

const char cpu_name[] = "Ampere(R) Altra(R) Processor";

struct Golden {
    const char* name;
    PACKET_TYPE type;
    bool response;
    uint8_t subaddress;
    DATA_TYPE data_type;
    Bytes data;
    uint8_t count;
    Bytes expected;
};

uint64_t memory_64 = 64;
uint8_t disk_count_2 = 2;

Bytes as_Bytes(const void* p, size_t n)
{
    const uint8_t* b = static_cast<const uint8_t*>(p);
    return Bytes(b, b + n);
}

class GoldenPacket : public ::testing::TestWithParam<Golden> {};

TEST_P(GoldenPacket, BuildsTheBytesTheBmcExpects)
{
    const Golden& g = GetParam();
    Packet packet;
    ASSERT_EQ(0, init_Packet(&packet, NODE_ID::BMC, false, g.type, g.response, ADDRESS::DESCRIPTION,
                             g.subaddress, g.data_type, g.data.empty() ? nullptr : g.data.data(), g.count));
    EXPECT_EQ(g.expected, wire(packet));
    EXPECT_EQ(g.expected.size(), packet.packet_length);
}

INSTANTIATE_TEST_SUITE_P(
    HostReport, GoldenPacket,
    ::testing::Values(
        /* 22 00 55 00 0E: len 34, node BMC, WRITE STRING, DESCRIPTION, CPU name (28 chars + NUL) */
        Golden{"cpu", PACKET_TYPE::WRITE, false, SUBADDRESS_DESCRIPTION_CPU_PRUDCUT_NAME, DATA_TYPE::STRING,
               as_Bytes(cpu_name, sizeof(cpu_name)), sizeof(cpu_name),
               with_Header({0x22, 0x00, 0x55, 0x00, 0x0E}, std::string(cpu_name, sizeof(cpu_name)))},
        /* 0D 00 35 00 13: len 13, node BMC, WRITE UINT64, DESCRIPTION, MEMORY_SIZE; 64 little-endian */
        Golden{"memory",
               PACKET_TYPE::WRITE,
               false,
               SUBADDRESS_DESCRIPTION_MEMORY_SIZE,
               DATA_TYPE::UINT64,
               as_Bytes(&memory_64, 8),
               1,
               {0x0D, 0x00, 0x35, 0x00, 0x13, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
        /* 06 00 05 00 09 02: len 6, node BMC, WRITE UINT8, DESCRIPTION, DISK_COUNT 2 */
        Golden{"disks",
               PACKET_TYPE::WRITE,
               false,
               SUBADDRESS_DESCRIPTION_DISK_COUNT,
               DATA_TYPE::UINT8,
               as_Bytes(&disk_count_2, 1),
               1,
               {0x06, 0x00, 0x05, 0x00, 0x09, 0x02}},
        /* 06 00 55 00 02 00: an empty address text goes as its one NUL byte */
        Golden{"empty_ip",
               PACKET_TYPE::WRITE,
               false,
               SUBADDRESS_DESCRIPTION_IP_ADDRESS,
               DATA_TYPE::STRING,
               {0x00},
               1,
               {0x06, 0x00, 0x55, 0x00, 0x02, 0x00}},
        /* 03 00 02: len 3, node BMC, PING_RESPONSE; no address, subaddress or data */
        Golden{"ping_response",
               PACKET_TYPE::PING_RESPONSE,
               false,
               0,
               DATA_TYPE::UINT8,
               {},
               0,
               {0x03, 0x00, 0x02}},
        /* 05 00 00 00 00: len 5, node BMC, ERROR, DESCRIPTION 0, no data */
        Golden{
            "error", PACKET_TYPE::ERROR, false, 0, DATA_TYPE::UINT8, {}, 0, {0x05, 0x00, 0x00, 0x00, 0x00}},
        /* 03 00 81: PING with response required; data passed in is ignored */
        Golden{"ping_drops_data",
               PACKET_TYPE::PING,
               true,
               7,
               DATA_TYPE::UINT8,
               {0x11, 0x22},
               2,
               {0x03, 0x00, 0x81}},
        /* 05 00 05 00 13: WRITE with zero UINT64 elements is a bare header */
        Golden{"write_no_data",
               PACKET_TYPE::WRITE,
               false,
               SUBADDRESS_DESCRIPTION_MEMORY_SIZE,
               DATA_TYPE::UINT64,
               as_Bytes(&memory_64, 8),
               0,
               {0x05, 0x00, 0x05, 0x00, 0x13}}),
    [](const ::testing::TestParamInfo<Golden>& info) { return std::string(info.param.name); });

TEST(PacketLimits, DataLengthBoundaries)
{
    uint8_t data[256];
    memset(data, 0xA5, sizeof(data));
    struct {
        DATA_TYPE type;
        uint8_t count;
        uint8_t result;
        uint8_t length;
    } cases[] = {
        {DATA_TYPE::UINT8, 250, 0, 255},  {DATA_TYPE::UINT8, 251, 2, 5},
        {DATA_TYPE::UINT64, 31, 0, 253},  {DATA_TYPE::UINT64, 32, 2, 5},
        {DATA_TYPE::UINT16, 125, 0, 255}, {DATA_TYPE::UINT16, 126, 2, 5},
        {DATA_TYPE::STRING, 0, 0, 6},     {static_cast<DATA_TYPE>(11), 1, 2, 5},
    };
    for (const auto& c : cases) {
        Packet packet;
        init_Packet(&packet, NODE_ID::BMC, false, PACKET_TYPE::WRITE, false, ADDRESS::DESCRIPTION, 0,
                    DATA_TYPE::UINT8, data, 4);
        SCOPED_TRACE(testing::Message() << "type " << int(c.type) << " count " << int(c.count));
        EXPECT_EQ(c.result, set_Packet_Data(&packet, c.type, data, c.count));
        EXPECT_EQ(c.length, packet.packet_length);
        EXPECT_EQ(c.length > 5, packet.data != nullptr);
    }
}

TEST(PacketLimits, NullRecordsAndPointers)
{
    EXPECT_EQ(1, init_Packet(nullptr, NODE_ID::BMC, false, PACKET_TYPE::WRITE, false, ADDRESS::DESCRIPTION, 0,
                             DATA_TYPE::UINT8, nullptr, 0));
    EXPECT_EQ(1, init_Packet(nullptr, 7));
    Packet source;
    EXPECT_EQ(1, init_Packet(nullptr, source));
    EXPECT_EQ(1, init_Packet_Data(nullptr, 3));

    Packet packet;
    init_Packet(&packet, NODE_ID::BMC, false, PACKET_TYPE::WRITE, false, ADDRESS::DESCRIPTION, 0,
                DATA_TYPE::UINT8, nullptr, 0);
    // STRING with a null pointer and no count: nothing to send.
    EXPECT_EQ(2, set_Packet_Data(&packet, DATA_TYPE::STRING, nullptr, 0));
    // A count with no data behind it is refused rather than read from null.
    EXPECT_EQ(2, set_Packet_Data(&packet, DATA_TYPE::UINT32, nullptr, 3));
    EXPECT_EQ(5, packet.packet_length);
    EXPECT_EQ(2, set_Packet_String(&packet, nullptr));
}

TEST(PacketString, TextWithoutItsNul)
{
    Packet packet;
    init_Packet(&packet, NODE_ID::PEC_3, false, PACKET_TYPE::WRITE, false, ADDRESS::NETWORK,
                SUBADDRESS_NETWORK_CONFIG_HOSTNAME, DATA_TYPE::UINT8, nullptr, 0);
    ASSERT_EQ(0, set_Packet_String(&packet, "node-7"));
    /* 0B 03 55 0E 07 "node-7": len 11, node PEC_3, WRITE STRING, NETWORK, HOSTNAME */
    EXPECT_EQ((Bytes{0x0B, 0x03, 0x55, 0x0E, 0x07, 'n', 'o', 'd', 'e', '-', '7'}), wire(packet));

    std::string longest(250, 'x');
    EXPECT_EQ(0, set_Packet_String(&packet, longest.c_str()));
    EXPECT_EQ(255, packet.packet_length);
    std::string too_long(251, 'x');
    EXPECT_EQ(2, set_Packet_String(&packet, too_long.c_str()));
    EXPECT_EQ(5, packet.packet_length);
    EXPECT_EQ(nullptr, packet.data);

    // On a ping record the over-long text is still refused as over-long, and the record kept.
    Packet ping;
    init_Packet(&ping, NODE_ID::PEC_3, false, PACKET_TYPE::PING, false, ADDRESS::NETWORK, 0, DATA_TYPE::UINT8,
                nullptr, 0);
    Bytes before = wire(ping);
    EXPECT_EQ(2, set_Packet_String(&ping, too_long.c_str()));
    EXPECT_EQ(1, set_Packet_String(&ping, "short"));
    EXPECT_EQ(before, wire(ping));
}

TEST(PacketFields, DataCountByElementSize)
{
    uint8_t data[8] = {};
    Packet packet;
    init_Packet(&packet, NODE_ID::BMC, false, PACKET_TYPE::WRITE, false, ADDRESS::DESCRIPTION, 0,
                DATA_TYPE::UINT16, data, 4);
    EXPECT_EQ(4, get_Packet_Data_Count(packet));
    EXPECT_EQ(8, get_Packet_Data_Length(packet));
    // 7 bytes typed UINT16 do not divide into elements.
    init_Packet_Data(&packet, 7);
    EXPECT_EQ(DATA_TYPE::UINT16, get_Packet_Data_Type(packet));
    EXPECT_EQ(0, get_Packet_Data_Count(packet));
    // Data-type bits 11 to 15 have no element size.
    packet.packet_control2 = static_cast<uint8_t>((packet.packet_control2 & 0x87) | (13 << 3));
    EXPECT_EQ(0, get_Packet_Data_Count(packet));
    EXPECT_EQ(2, init_Packet_Data(&packet, 0));
    EXPECT_EQ(5, packet.packet_length);
    EXPECT_EQ(0, get_Packet_Data_Count(packet));
}

TEST(PacketFields, AccessorsReadTheHeaderBits)
{
    uint32_t value = 0x01020304;
    Packet packet;
    init_Packet(&packet, NODE_ID::PEC_32, true, PACKET_TYPE::READ_RESPONSE, true, ADDRESS::USER_MANAGEMENT, 9,
                DATA_TYPE::INT32, &value, 1);
    /* 09 A0 AC 11 09 04 03 02 01: len 9, broadcast PEC_32, response READ_RESPONSE INT32, USER_MANAGEMENT 9 */
    EXPECT_EQ((Bytes{0x09, 0xA0, 0xAC, 0x11, 0x09, 0x04, 0x03, 0x02, 0x01}), wire(packet));
    EXPECT_EQ(NODE_ID::PEC_32, get_Packet_Node_ID(packet));
    EXPECT_TRUE(get_Packet_Broadcast(packet));
    EXPECT_TRUE(get_Packet_Response_Require_Flag(packet));
    EXPECT_EQ(PACKET_TYPE::READ_RESPONSE, get_Packet_Type(packet));
    EXPECT_EQ(DATA_TYPE::INT32, get_Packet_Data_Type(packet));
    EXPECT_EQ(ADDRESS::USER_MANAGEMENT, get_Packet_Address(packet));
    EXPECT_EQ(9, get_Packet_Subaddress(packet));
    EXPECT_EQ(5, get_Packet_Header_Length(packet));
    EXPECT_EQ(1, get_Packet_Data_Count(packet));

    // The node id is not masked: a value of 128 or more sets the broadcast bit.
    set_Packet_Node_ID_Broadcast(&packet, static_cast<NODE_ID>(0x85), false);
    EXPECT_EQ(0x85, packet.packet_control1);
    set_Packet_Address(&packet, ADDRESS::FAN);
    set_Packet_Subaddress(&packet, 3);
    EXPECT_EQ(ADDRESS::FAN, get_Packet_Address(packet));
    EXPECT_EQ(3, get_Packet_Subaddress(packet));
}

TEST(PacketFields, DataTypeSizes)
{
    const uint8_t sizes[] = {1, 1, 2, 2, 4, 4, 8, 8, 4, 8, 1, 0, 0, 0, 0, 0};
    for (uint8_t t = 0; t < 16; ++t)
        EXPECT_EQ(sizes[t], get_Data_Type_Size(static_cast<DATA_TYPE>(t))) << "type " << int(t);
}

TEST(PacketReuse, PingOnAStringRecordKeepsTheOldDataTypeBits)
{
    Packet packet;
    init_Packet(&packet, NODE_ID::BMC, false, PACKET_TYPE::WRITE, false, ADDRESS::DESCRIPTION, 5,
                DATA_TYPE::STRING, "Debian", 7);
    ASSERT_EQ(0x55, packet.packet_control2);
    init_Packet(&packet, NODE_ID::BMC, false, PACKET_TYPE::PING, false, ADDRESS::DESCRIPTION, 0,
                DATA_TYPE::UINT8, nullptr, 0);
    EXPECT_EQ(0x51, packet.packet_control2);
    EXPECT_EQ(3, packet.packet_length);
    EXPECT_EQ(nullptr, packet.data);
    // A ping record refuses data and stays as it is.
    uint8_t byte = 1;
    EXPECT_EQ(1, set_Packet_Data(&packet, DATA_TYPE::UINT8, &byte, 1));
    EXPECT_EQ(3, packet.packet_length);
}

TEST(PacketReuse, SetTypeDropsTheData)
{
    Packet packet;
    init_Packet(&packet, NODE_ID::BMC, false, PACKET_TYPE::WRITE, false, ADDRESS::DESCRIPTION, 5,
                DATA_TYPE::STRING, "abc", 3);
    set_Packet_Type(&packet, PACKET_TYPE::READ, true);
    EXPECT_EQ(5, packet.packet_length);
    EXPECT_EQ(nullptr, packet.data);
    EXPECT_EQ(0xD3, packet.packet_control2);
    set_Packet_Type(&packet, PACKET_TYPE::PING_RESPONSE, false);
    EXPECT_EQ(3, packet.packet_length);
}

TEST(PacketCopy, DeepCopyOwnsItsData)
{
    Packet source;
    init_Packet(&source, NODE_ID::PEC_1, false, PACKET_TYPE::WRITE, false, ADDRESS::DESCRIPTION, 5,
                DATA_TYPE::STRING, "Debian", 7);
    Packet copy;
    ASSERT_EQ(0, init_Packet(&copy, source));
    EXPECT_EQ(wire(source), wire(copy));
    EXPECT_NE(source.data, copy.data);
    source.data[0] = 'X';
    EXPECT_EQ('D', copy.data[0]);
    // Copying a record onto itself keeps it whole.
    EXPECT_EQ(0, init_Packet(&copy, copy));
    EXPECT_EQ(wire(source).size(), wire(copy).size());
    EXPECT_EQ('D', copy.data[0]);
}

TEST(PacketCopy, ShortRecordCopiesOnlyItsHeaderBytes)
{
    Packet source;
    init_Packet(&source, 3);
    source.packet_control1 = 0x04;
    source.packet_control2 = 0x02;
    source.address = ADDRESS::FAN;
    source.subaddress = 9;
    Packet copy;
    init_Packet(&copy, NODE_ID::PEC_2, true, PACKET_TYPE::WRITE, false, ADDRESS::POWER, 4, DATA_TYPE::UINT8,
                "z", 1);
    ASSERT_EQ(0, init_Packet(&copy, source));
    EXPECT_EQ(3, copy.packet_length);
    EXPECT_EQ(0x04, copy.packet_control1);
    EXPECT_EQ(0x02, copy.packet_control2);
    EXPECT_EQ(ADDRESS::DESCRIPTION, copy.address);
    EXPECT_EQ(0, copy.subaddress);
    EXPECT_EQ(nullptr, copy.data);
}

TEST(PacketLength, AnyTotalLengthGivesAMatchingDataArea)
{
    for (unsigned length : {0u, 3u, 5u, 6u, 255u}) {
        Packet packet;
        ASSERT_EQ(0, init_Packet(&packet, static_cast<uint8_t>(length)));
        EXPECT_EQ(length, packet.packet_length);
        EXPECT_EQ(length > 5, packet.data != nullptr);
        EXPECT_EQ(length > 5 ? length - 5 : 0u, get_Packet_Data_Length(packet));
    }
    Packet packet;
    init_Packet(&packet, NODE_ID::BMC, false, PACKET_TYPE::PING, false, ADDRESS::DESCRIPTION, 0,
                DATA_TYPE::UINT8, nullptr, 0);
    EXPECT_EQ(2, init_Packet_Data(&packet, 251));
    EXPECT_EQ(3, packet.packet_length);
    EXPECT_EQ(0, init_Packet_Data(&packet, 250));
    EXPECT_EQ(255, packet.packet_length);
}

TEST(PacketWire, BufferTooSmallWritesNothing)
{
    Packet packet;
    init_Packet(&packet, NODE_ID::BMC, false, PACKET_TYPE::WRITE, false, ADDRESS::DESCRIPTION, 5,
                DATA_TYPE::STRING, "Debian", 7);
    uint8_t buffer[12];
    EXPECT_EQ(0u, get_Packet_Wire_Bytes(packet, buffer, 11));
    EXPECT_EQ(12u, get_Packet_Wire_Bytes(packet, buffer, sizeof(buffer)));
}

TEST(PacketWire, EncodeThenDecodeRoundTrip)
{
    uint8_t data[250];
    for (unsigned i = 0; i < sizeof(data); ++i)
        data[i] = static_cast<uint8_t>(i * 7);
    for (uint8_t t = 0; t <= 10; ++t) {
        for (uint8_t count : {1, 2, 31, 250}) {
            Packet packet;
            init_Packet(&packet, NODE_ID::PEC_17, t % 2 == 0, PACKET_TYPE::WRITE, t % 3 == 0, ADDRESS::BOOT,
                        t, static_cast<DATA_TYPE>(t), data, count);
            Bytes bytes = wire(packet);
            Packet decoded;
            ASSERT_EQ(0, init_Packet_From_Wire_Bytes(&decoded, bytes.data(), bytes.size()));
            EXPECT_EQ(bytes, wire(decoded));
            EXPECT_EQ(get_Packet_Node_ID(packet), get_Packet_Node_ID(decoded));
            EXPECT_EQ(get_Packet_Data_Type(packet), get_Packet_Data_Type(decoded));
            EXPECT_EQ(get_Packet_Data_Count(packet), get_Packet_Data_Count(decoded));
        }
    }
}

TEST(PacketWire, DecodeRefusesALengthByteThatDisagrees)
{
    const uint8_t ping[] = {0x03, 0x00, 0x02};
    const uint8_t short_header[] = {0x02, 0x00};
    const uint8_t lying[] = {0x09, 0x00, 0x05, 0x00, 0x09, 0x02};
    Packet packet;
    EXPECT_EQ(0, init_Packet_From_Wire_Bytes(&packet, ping, sizeof(ping)));
    EXPECT_EQ(PACKET_TYPE::PING_RESPONSE, get_Packet_Type(packet));
    EXPECT_EQ(2, init_Packet_From_Wire_Bytes(&packet, short_header, sizeof(short_header)));
    EXPECT_EQ(2, init_Packet_From_Wire_Bytes(&packet, lying, sizeof(lying)));
    EXPECT_EQ(1, init_Packet_From_Wire_Bytes(&packet, nullptr, 3));
    EXPECT_EQ(1, init_Packet_From_Wire_Bytes(nullptr, ping, sizeof(ping)));
}

} // namespace
