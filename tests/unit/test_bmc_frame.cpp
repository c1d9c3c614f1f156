#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "bmc_frame.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<BMC_Frame_Reader::Event> read_All(const Bytes& stream, size_t chunk)
{
    BMC_Frame_Reader reader;
    std::vector<BMC_Frame_Reader::Event> events;
    BMC_Frame_Reader::Event event;
    for (size_t i = 0; i < stream.size(); i += chunk) {
        size_t n = std::min(chunk, stream.size() - i);
        reader.set_Bytes(stream.data() + i, n);
        while (reader.get_Next_Event(&event))
            events.push_back(event);
    }
    while (reader.get_Final_Event(&event))
        events.push_back(event);
    return events;
}

/* 06 00 05 00 09 02: len 6, node BMC, WRITE UINT8, DESCRIPTION, DISK_COUNT 2 */
const Bytes disk_count = {0x06, 0x00, 0x05, 0x00, 0x09, 0x02};
/* 0D 00 35 00 13 40 00..: len 13, node BMC, WRITE UINT64, DESCRIPTION, MEMORY_SIZE 64 */
const Bytes memory = {0x0D, 0x00, 0x35, 0x00, 0x13, 0x40, 0, 0, 0, 0, 0, 0, 0};
/* 03 00 02: len 3, node BMC, PING_RESPONSE */
const Bytes ping_response = {0x03, 0x00, 0x02};

Bytes join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(FrameReader, SplitsABackToBackStreamWhateverTheChunking)
{
    Bytes stream = join({disk_count, memory, ping_response, disk_count});
    for (size_t chunk : {1u, 2u, 5u, 7u, 64u}) {
        auto events = read_All(stream, chunk);
        ASSERT_EQ(4u, events.size()) << "chunk " << chunk;
        EXPECT_EQ(disk_count, events[0].bytes);
        EXPECT_EQ(memory, events[1].bytes);
        EXPECT_EQ(ping_response, events[2].bytes);
        for (const auto& e : events)
            EXPECT_TRUE(e.is_packet) << e.error;
    }
}

TEST(FrameReader, ResynchronisesAfterGarbage)
{
    // Garbage made of bytes that cannot start a packet is skipped as one error.
    const struct {
        const char* name;
        Bytes garbage;
        const char* error;
    } clean[] = {
        {"zero_length", {0x00}, "malformed length byte 0x00"},
        {"length_one", {0x01, 0x02}, "malformed length byte 0x01, 2 bytes skipped"},
        {"length_four", {0x04, 0x00, 0x00, 0x00}, "malformed length byte 0x04, 4 bytes skipped"},
        {"zeros", Bytes(300, 0x00), "malformed length byte 0x00, 256 bytes skipped"},
    };
    for (const auto& c : clean) {
        for (size_t chunk : {1u, 3u, 512u}) {
            auto events = read_All(join({c.garbage, disk_count, memory}), chunk);
            ASSERT_GE(events.size(), 3u) << c.name;
            EXPECT_FALSE(events[0].is_packet) << c.name;
            EXPECT_EQ(c.error, events[0].error) << c.name << " chunk " << chunk;
            EXPECT_EQ(disk_count, events[events.size() - 2].bytes) << c.name;
            EXPECT_EQ(memory, events.back().bytes) << c.name;
        }
    }
    // A bad header is refused; the bytes after it may frame a false packet
    // (up to 255 bytes long) before the reader is back in step, as it is by
    // the last packet.
    const struct {
        const char* name;
        Bytes garbage;
        const char* error;
    } headers[] = {
        {"type_seven", {0x05, 0x00, 0x07, 0x00, 0x00}, "malformed header 05 00 07"},
        {"ping_with_data", {0x06, 0x00, 0x01, 0x00, 0x00, 0x00}, "malformed header 06 00 01"},
        {"address_out_of_range", {0x05, 0x00, 0x05, 0x40, 0x00}, "malformed header 05 00 05"},
        {"data_type_eleven", {0x06, 0x00, 0x5D, 0x00, 0x00, 0x00}, "malformed header 06 00 5d"},
    };
    for (const auto& c : headers) {
        Bytes stream = c.garbage;
        for (int i = 0; i < 8; ++i)
            stream = join({stream, disk_count, memory});
        auto events = read_All(stream, 4);
        ASSERT_GE(events.size(), 2u) << c.name;
        EXPECT_EQ(0u, events[0].error.find(c.error)) << c.name << ": " << events[0].error;
        EXPECT_EQ(memory, events.back().bytes) << c.name;
        EXPECT_TRUE(events.back().is_packet) << c.name;
    }
}

TEST(FrameReader, TruncatedPacketAtTheEnd)
{
    Bytes stream = join({disk_count, {0x22, 0x00, 0x55}});
    auto events = read_All(stream, 4);
    ASSERT_EQ(2u, events.size());
    EXPECT_TRUE(events[0].is_packet);
    EXPECT_FALSE(events[1].is_packet);
    EXPECT_EQ("truncated packet: 34 bytes announced, 3 received", events[1].error);
}

TEST(FrameReader, AnyInputEndsInEventsThatCoverEveryByte)
{
    std::mt19937 random(20261208);
    for (int round = 0; round < 2000; ++round) {
        Bytes stream(random() % 600);
        for (uint8_t& b : stream)
            b = static_cast<uint8_t>(random());
        size_t covered = 0;
        for (const auto& e : read_All(stream, 1 + random() % 300)) {
            covered += e.bytes.size();
            ASSERT_FALSE(e.bytes.empty());
            // Whatever the decoder accepts also formats without trouble.
            if (e.is_packet) {
                BMC::Packet packet;
                ASSERT_EQ(0, BMC::init_Packet_From_Wire_Bytes(&packet, e.bytes.data(), e.bytes.size()));
                EXPECT_FALSE(get_Packet_Line(packet, e.bytes, 0, true).empty());
            }
        }
        ASSERT_EQ(stream.size(), covered);
    }
}

std::string line_For(const Bytes& bytes, bool json)
{
    BMC::Packet packet;
    EXPECT_EQ(0, BMC::init_Packet_From_Wire_Bytes(&packet, bytes.data(), bytes.size()));
    return get_Packet_Line(packet, bytes, 1.5, json);
}

TEST(PacketLine, TextAndJsonForms)
{
    Bytes ip = {0x12, 0x00, 0x55, 0x00, 0x02, '1', '9', '2', '.',
                '1',  '6',  '8',  '.',  '1',  '.', '1', '0', 0x00};
    EXPECT_EQ("+1.500s BMC WRITE DESCRIPTION/IP_ADDRESS STRING \"192.168.1.10\" | "
              "12 00 55 00 02 31 39 32 2e 31 36 38 2e 31 2e 31 30 00",
              line_For(ip, false));
    EXPECT_EQ("+1.500s BMC WRITE DESCRIPTION/MEMORY_SIZE UINT64 64 | 0d 00 35 00 13 40 00 00 00 00 00 00 00",
              line_For(memory, false));
    EXPECT_EQ("{\"t\":1.500,\"length\":6,\"node\":\"BMC\",\"broadcast\":false,\"type\":\"WRITE\","
              "\"response_required\":false,\"address\":\"DESCRIPTION\",\"subaddress\":\"DISK_COUNT\","
              "\"subaddress_value\":9,\"data_type\":\"UINT8\",\"value\":2,\"raw\":\"060005000902\"}",
              line_For(disk_count, true));
    EXPECT_EQ("+1.500s BMC PING_RESPONSE | 03 00 02", line_For(ping_response, false));
    /* 09 A1 CC 0E 07 ..: broadcast PEC_33?, no: node 0x21, response READ INT32 list, NETWORK HOSTNAME */
    Bytes pair = {0x0D, 0x81, 0xAB, 0x0E, 0x07, 0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ("+1.500s PEC_1 READ broadcast response-required NETWORK/CONFIG_HOSTNAME INT32 [1,-1] | "
              "0d 81 ab 0e 07 01 00 00 00 ff ff ff ff",
              line_For(pair, false));
}

TEST(PacketLine, TextsAreEscapedAndUndividedDataIsFlagged)
{
    Bytes odd_text = {0x09, 0x00, 0x55, 0x00, 0x05, '"', '\\', 0x01, 0x00};
    EXPECT_EQ("+1.500s BMC WRITE DESCRIPTION/OS STRING \"\\\"\\\\\\u0001\" | 09 00 55 00 05 22 5c 01 00",
              line_For(odd_text, false));
    /* 08 00 15 00 13: three bytes typed UINT16 do not divide */
    Bytes odd_count = {0x08, 0x00, 0x15, 0x00, 0x13, 0x01, 0x02, 0x03};
    EXPECT_EQ("+1.500s BMC WRITE DESCRIPTION/MEMORY_SIZE UINT16 (undecodable) | 08 00 15 00 13 01 02 03",
              line_For(odd_count, false));
    EXPECT_NE(std::string::npos, line_For(odd_count, true).find("\"value\":null"));
}

TEST(ErrorLine, TextAndJson)
{
    EXPECT_EQ("+1.500s ERROR malformed length byte 0x01 | 01",
              get_Error_Line("malformed length byte 0x01", {1}, 1.5, false));
    EXPECT_EQ("{\"t\":1.500,\"error\":\"x\",\"raw\":\"0102\"}", get_Error_Line("x", {1, 2}, 1.5, true));
}

TEST(Names, VocabularyAndUnknownValues)
{
    EXPECT_EQ("BMC", get_Node_Name(0));
    EXPECT_EQ("PEC_32", get_Node_Name(32));
    EXPECT_EQ("0x21", get_Node_Name(33));
    EXPECT_EQ("WRITE_RESPONSE", get_Packet_Type_Name(6));
    EXPECT_EQ("0x07", get_Packet_Type_Name(7));
    EXPECT_EQ("USER_MANAGEMENT", get_Address_Name(17));
    EXPECT_EQ("CPU_PRUDCUT_NAME", get_Subaddress_Name(0, 14));
    EXPECT_EQ("HARDWARE_VERSION", get_Subaddress_Name(0, 26));
    EXPECT_EQ("0x1B", get_Subaddress_Name(0, 27));
    EXPECT_EQ("CONFIG_RESET", get_Subaddress_Name(14, 9));
    EXPECT_EQ("3", get_Subaddress_Name(4, 3));
    EXPECT_EQ("STRING", get_Data_Type_Name(10));
    EXPECT_EQ("0x0B", get_Data_Type_Name(11));
}

} // namespace
