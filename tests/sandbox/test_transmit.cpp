#include <gtest/gtest.h>

#include <fcntl.h>
#include <string.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "BMC_data_protocol.h"
#include "I2C_BMC_packet_thread.h"
#include "bus_reader.h"
#include "extra_command_handling.h"
#include "sandbox.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::atomic<int> error_calls{0};

int count_Error(BMC::Packet* response, uint8_t)
{
    ++error_calls;
    BMC::init_Packet(response, BMC::NODE_ID::BMC, false, BMC::PACKET_TYPE::ERROR, false,
                     BMC::ADDRESS::DESCRIPTION, 0, BMC::DATA_TYPE::UINT8, nullptr, 0);
    return 0;
}

int ignore_Broadcast(const BMC::Packet&)
{
    return 0;
}

Bytes wire(const BMC::Packet& packet)
{
    uint8_t buffer[256];
    size_t n = BMC::get_Packet_Wire_Bytes(packet, buffer, sizeof(buffer));
    return Bytes(buffer, buffer + n);
}

void make_Write(BMC::Packet* packet, uint8_t subaddress, uint8_t value, bool response_required = false,
                BMC::NODE_ID node = BMC::NODE_ID::BMC)
{
    BMC::init_Packet(packet, node, false, BMC::PACKET_TYPE::WRITE, response_required,
                     BMC::ADDRESS::DESCRIPTION, subaddress, BMC::DATA_TYPE::UINT8, &value, 1);
}

class Transmit : public ::testing::Test {
protected:
    void TearDown() override { set_I2C_BMC_Packet_Thread_Stop(); }
};

TEST_F(Transmit, RefusedBeforeTheThreadRuns)
{
    BMC::Packet request, response;
    make_Write(&request, 9, 2);
    EXPECT_FALSE(get_I2C_BMC_Packet_Thread_Start_Flag());
    EXPECT_EQ(1, set_I2C_BMC_Packet_Request(request, &response));
    EXPECT_EQ(1, init_I2C_BMC_Packet_Thread(ignore_Broadcast, nullptr));
    EXPECT_FALSE(get_I2C_BMC_Packet_Thread_Start_Flag());
    // Stopping a thread that does not run returns at once.
    set_I2C_BMC_Packet_Thread_Stop();
}

TEST_F(Transmit, WritesEachPacketWholeAndPaced)
{
    Bus_Reader bus;
    ASSERT_EQ(0, init_I2C_BMC_Packet_Thread(ignore_Broadcast, count_Error));
    EXPECT_TRUE(get_I2C_BMC_Packet_Thread_Start_Flag());
    BMC::Packet request, response;
    std::vector<Bytes> sent;
    for (uint8_t i = 0; i < 4; ++i) {
        make_Write(&request, 9, i);
        sent.push_back(wire(request));
        response.packet_length = 77;
        EXPECT_EQ(0, set_I2C_BMC_Packet_Request(request, &response));
        // No response asked for: the caller's record is left alone.
        EXPECT_EQ(77, response.packet_length);
    }
    // The caller may reuse its record at once: the queue holds copies.
    make_Write(&request, 9, 99);
    bus.read_Until(4, get_Monotonic_Seconds() + 3.0);
    EXPECT_EQ(sent, bus.packets);
    ASSERT_EQ(4u, bus.times.size());
    for (size_t i = 1; i < bus.times.size(); ++i)
        EXPECT_GE(bus.times[i] - bus.times[i - 1], 0.19) << "packet " << i;
    EXPECT_EQ(0, error_calls.load());
}

TEST_F(Transmit, NullResponseQueuesNothing)
{
    Bus_Reader bus;
    ASSERT_EQ(0, init_I2C_BMC_Packet_Thread(ignore_Broadcast, count_Error));
    BMC::Packet request;
    make_Write(&request, 9, 1);
    EXPECT_EQ(2, set_I2C_BMC_Packet_Request(request, nullptr));
    make_Write(&request, 9, 1, true);
    EXPECT_EQ(2, set_I2C_BMC_Packet_Request(request, nullptr));
    EXPECT_TRUE(bus.collect(0.6).empty());
}

TEST_F(Transmit, SuccessfulWriteAnswersWithPingResponse)
{
    Bus_Reader bus;
    ASSERT_EQ(0, init_I2C_BMC_Packet_Thread(ignore_Broadcast, count_Error));
    BMC::Packet request, response;
    make_Write(&request, 19, 5, true, BMC::NODE_ID::PEC_4);
    EXPECT_EQ(0, set_I2C_BMC_Packet_Request(request, &response));
    /* 03 00 02: len 3, node BMC, PING_RESPONSE */
    EXPECT_EQ((Bytes{0x03, 0x00, 0x02}), wire(response));
    EXPECT_EQ(std::vector<Bytes>{wire(request)}, bus.take(1, generous_seconds));
}

TEST_F(Transmit, FailedWriteAnswersWithErrorAfterTwoCallbacks)
{
    std::filesystem::remove("/dev/i2c-2");
    write_File("/dev/i2c-2", "");
    ASSERT_EQ(0, run_Shell("mount --bind /dev/full /dev/i2c-2"));
    ASSERT_EQ(0, init_I2C_BMC_Packet_Thread(ignore_Broadcast, count_Error));
    BMC::Packet request, response;
    make_Write(&request, 19, 5, true, BMC::NODE_ID::PEC_4);
    EXPECT_EQ(0, set_I2C_BMC_Packet_Request(request, &response));
    /* 05 00 00 00 00: len 5, node BMC, ERROR */
    EXPECT_EQ((Bytes{0x05, 0x00, 0x00, 0x00, 0x00}), wire(response));
    EXPECT_EQ(2, error_calls.load());
    // A packet that asks for nothing fails with one callback.
    make_Write(&request, 19, 5);
    EXPECT_EQ(0, set_I2C_BMC_Packet_Request(request, &response));
    double deadline = get_Monotonic_Seconds() + generous_seconds;
    while (error_calls.load() < 3 && get_Monotonic_Seconds() < deadline)
        usleep(10000);
    EXPECT_EQ(3, error_calls.load());
}

TEST_F(Transmit, NoAnswerInTimeGivesAnErrorFromTheRequestNode)
{
    Bus_Reader bus;
    ASSERT_EQ(0, init_I2C_BMC_Packet_Thread(ignore_Broadcast, count_Error));
    BMC::Packet request, response;
    // Fifteen packets ahead take over 3 s to drain.
    for (int i = 0; i < 15; ++i) {
        make_Write(&request, 9, static_cast<uint8_t>(i));
        set_I2C_BMC_Packet_Request(request, &response);
    }
    make_Write(&request, 9, 0, true, BMC::NODE_ID::PEC_7);
    double start = get_Monotonic_Seconds();
    EXPECT_EQ(0, set_I2C_BMC_Packet_Request(request, &response));
    double waited = get_Monotonic_Seconds() - start;
    /* 05 07 00 00 00: len 5, node PEC_7, ERROR, DESCRIPTION 0 */
    EXPECT_EQ((Bytes{0x05, 0x07, 0x00, 0x00, 0x00}), wire(response));
    EXPECT_GE(waited, 1.9);
    // The deadline is 2 to 3 s away; a loaded machine may wake the requester late.
    EXPECT_LE(waited, 10.0);
}

TEST_F(Transmit, StartsAgainAfterAStop)
{
    Bus_Reader bus;
    ASSERT_EQ(0, init_I2C_BMC_Packet_Thread(ignore_Broadcast, count_Error));
    set_I2C_BMC_Packet_Thread_Stop();
    EXPECT_FALSE(get_I2C_BMC_Packet_Thread_Start_Flag());
    BMC::Packet request, response;
    make_Write(&request, 9, 3);
    EXPECT_EQ(1, set_I2C_BMC_Packet_Request(request, &response));
    ASSERT_EQ(0, init_I2C_BMC_Packet_Thread(ignore_Broadcast, count_Error));
    EXPECT_EQ(0, set_I2C_BMC_Packet_Request(request, &response));
    EXPECT_EQ(std::vector<Bytes>{wire(request)}, bus.take(1, generous_seconds));
}

TEST_F(Transmit, CommandsTheDaemonRunsDoNotInheritTheBus)
{
    ASSERT_EQ(0, init_I2C_BMC_Packet_Thread(ignore_Broadcast, count_Error));
    char result[32];
    memset(result, 0, sizeof(result));
    ASSERT_EQ(0, set_Command("for f in /proc/self/fd/*; do readlink $f; done | grep -c i2c-2", result,
                             sizeof(result)));
    EXPECT_STREQ("0\n", result);
}

// Fills the bus FIFO with whole 5-byte packets until not one more fits, so
// that the transmit thread's next write blocks; returns how many it wrote.
// The thread must hold the FIFO open: a FIFO nobody holds loses its bytes.
size_t stall_Bus()
{
    int fd = open("/dev/i2c-2", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return 0;
    /* 05 00 00 00 00: len 5, node BMC, ERROR */
    const uint8_t filler[] = {0x05, 0x00, 0x00, 0x00, 0x00};
    size_t written = 0;
    while (write(fd, filler, sizeof(filler)) == static_cast<ssize_t>(sizeof(filler)))
        ++written;
    close(fd);
    return written;
}

// Empties the bus FIFO when the test ends, however it ends, so that a write
// blocked on it completes and the thread can stop.
struct Bus_Drain {
    ~Bus_Drain()
    {
        int fd = open("/dev/i2c-2", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        char chunk[4096];
        while (fd >= 0 && read(fd, chunk, sizeof(chunk)) > 0) {
        }
        if (fd >= 0)
            close(fd);
    }
};

// One requester: asks until the transmit queue takes the request.
uint8_t request_Until_Queued(const BMC::Packet& request, BMC::Packet* response)
{
    double deadline = get_Monotonic_Seconds() + generous_seconds;
    uint8_t rc;
    while ((rc = set_I2C_BMC_Packet_Request(request, response)) == 3 && get_Monotonic_Seconds() < deadline)
        usleep(10000);
    return rc;
}

// Both queues full at once: with the bus stalled, 201 requests are taken
// (200 waiting, one being written) and the next is refused at once; once the
// bus moves, their 201 late answers meet a response queue of 200, and the
// one left over is freed. The late answers go to the next requesters.
TEST_F(Transmit, FullQueuesDropTheExtraAndLateAnswersGoToTheNextRequesters)
{
    const size_t taken = 201;
    ASSERT_EQ(0, init_I2C_BMC_Packet_Thread(ignore_Broadcast, count_Error));
    Bus_Drain drain;
    size_t filler = stall_Bus();
    ASSERT_GT(filler, 0u);
    BMC::Packet request;
    make_Write(&request, 9, 1, true, BMC::NODE_ID::PEC_5);
    std::vector<BMC::Packet> responses(taken);
    std::vector<uint8_t> results(taken, 9);
    std::vector<std::thread> requesters;
    for (size_t i = 0; i < taken; ++i)
        requesters.emplace_back([&, i] { results[i] = request_Until_Queued(request, &responses[i]); });
    for (auto& requester : requesters)
        requester.join();
    /* 05 05 00 00 00: the ERROR record of a request from PEC_5 that timed out */
    for (size_t i = 0; i < taken; ++i) {
        EXPECT_EQ(0, results[i]) << i;
        EXPECT_EQ((Bytes{0x05, 0x05, 0x00, 0x00, 0x00}), wire(responses[i])) << i;
    }
    BMC::Packet response;
    EXPECT_EQ(3, set_I2C_BMC_Packet_Request(request, &response));

    // The bus moves: every taken request is written, and a marker queued after
    // them shows, once written, that the last answer has been queued or freed.
    Bus_Reader bus;
    bus.read_Until(filler + 1, get_Monotonic_Seconds() + generous_seconds);
    BMC::Packet marker;
    make_Write(&marker, 10, 2);
    ASSERT_EQ(0, request_Until_Queued(marker, &response));
    bus.read_Until(filler + taken + 1, get_Monotonic_Seconds() + 4 * generous_seconds);
    const std::vector<Bytes>& seen = bus.packets;
    ASSERT_EQ(filler + taken + 1, seen.size());
    EXPECT_EQ(std::vector<Bytes>(taken, wire(request)),
              std::vector<Bytes>(seen.begin() + static_cast<long>(filler), seen.end() - 1));
    EXPECT_EQ(wire(marker), seen.back());

    // Stalled again, no request can be answered by its own write: the first
    // 200 requesters get the late answers, and the one after them times out.
    stall_Bus();
    for (size_t i = 0; i < 200; ++i) {
        ASSERT_EQ(0, request_Until_Queued(request, &response)) << i;
        /* 03 00 02: len 3, node BMC, PING_RESPONSE */
        ASSERT_EQ((Bytes{0x03, 0x00, 0x02}), wire(response)) << i;
    }
    EXPECT_EQ(0, request_Until_Queued(request, &response));
    EXPECT_EQ((Bytes{0x05, 0x05, 0x00, 0x00, 0x00}), wire(response));
}

TEST_F(Transmit, MissingDeviceFailsPromptly)
{
    std::filesystem::remove("/dev/i2c-2");
    double start = get_Monotonic_Seconds();
    EXPECT_EQ(2, init_I2C_BMC_Packet_Thread(ignore_Broadcast, count_Error));
    EXPECT_LT(get_Monotonic_Seconds() - start, 1.0);
    EXPECT_FALSE(get_I2C_BMC_Packet_Thread_Start_Flag());
    BMC::Packet request, response;
    make_Write(&request, 9, 3);
    EXPECT_EQ(1, set_I2C_BMC_Packet_Request(request, &response));
}

} // namespace
