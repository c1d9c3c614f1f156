// The lumerion-bmc-monitor program itself, on capture files, standard input
// and a stand-in for a BMC's slave-mqueue file fed one message at a time.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const std::string monitor = LUMERION_BMC_MONITOR_PATH;

/* 06 00 05 00 09 02: WRITE UINT8 DESCRIPTION/DISK_COUNT 2 */
const Bytes disk_count = {0x06, 0x00, 0x05, 0x00, 0x09, 0x02};
/* 0D 00 35 00 13 40..: WRITE UINT64 DESCRIPTION/MEMORY_SIZE 64 */
const Bytes memory = {0x0D, 0x00, 0x35, 0x00, 0x13, 0x40, 0, 0, 0, 0, 0, 0, 0};

class Monitor : public ::testing::Test {
protected:
    void SetUp() override
    {
        char dir_template[] = "/tmp/lumerion-monitor-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(dir_template));
        dir = dir_template;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string write_Capture(const Bytes& bytes)
    {
        std::string path = dir + "/capture.bin";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    // Output lines with the time offsets taken out.
    static std::vector<std::string> run(const std::string& command, int* status = nullptr)
    {
        FILE* pipe = popen(command.c_str(), "r");
        std::string out;
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
            out.append(buffer, n);
        int rc = pclose(pipe);
        if (status != nullptr)
            *status = WEXITSTATUS(rc);
        return lines_Of(out);
    }

    static std::vector<std::string> lines_Of(const std::string& out)
    {
        std::vector<std::string> lines;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);) {
            size_t at = line.find("s ");
            if (line[0] == '+' && at != std::string::npos)
                line = line.substr(at + 2);
            size_t t = line.find("\"t\":");
            if (t != std::string::npos)
                line.erase(t, line.find(',', t) - t + 1);
            lines.push_back(line);
        }
        return lines;
    }

    std::string dir;
};

TEST_F(Monitor, CaptureFileWithGarbageAndATruncatedTail)
{
    Bytes stream = disk_count;
    stream.insert(stream.end(), {0x01, 0x00});
    stream.insert(stream.end(), memory.begin(), memory.end());
    stream.insert(stream.end(), {0x22, 0x00, 0x55});
    int status = -1;
    auto lines = run(monitor + " " + write_Capture(stream), &status);
    EXPECT_EQ(0, status);
    EXPECT_EQ((std::vector<std::string>{
                  "BMC WRITE DESCRIPTION/DISK_COUNT UINT8 2 | 06 00 05 00 09 02",
                  "ERROR malformed length byte 0x01, 2 bytes skipped | 01 00",
                  "BMC WRITE DESCRIPTION/MEMORY_SIZE UINT64 64 | 0d 00 35 00 13 40 00 00 00 00 00 00 00",
                  "ERROR truncated packet: 34 bytes announced, 3 received | 22 00 55",
              }),
              lines);
}

TEST_F(Monitor, StandardInputAsJson)
{
    auto lines = run(monitor + " --json - < " + write_Capture(disk_count));
    EXPECT_EQ((std::vector<std::string>{
                  "{\"length\":6,\"node\":\"BMC\",\"broadcast\":false,\"type\":\"WRITE\",\"response_"
                  "required\":false,"
                  "\"address\":\"DESCRIPTION\",\"subaddress\":\"DISK_COUNT\",\"subaddress_value\":9,"
                  "\"data_type\":\"UINT8\",\"value\":2,\"raw\":\"060005000902\"}"}),
              lines);
}

TEST_F(Monitor, MaxPacketsStopsEarly)
{
    Bytes stream;
    for (int i = 0; i < 5; ++i)
        stream.insert(stream.end(), disk_count.begin(), disk_count.end());
    EXPECT_EQ(2u, run(monitor + " --max-packets 2 " + write_Capture(stream)).size());
}

TEST_F(Monitor, BadArgumentsAndMissingInput)
{
    int status = 0;
    run(monitor + " --bogus 2>/dev/null", &status);
    EXPECT_EQ(2, status);
    run(monitor + " " + dir + "/missing 2>/dev/null", &status);
    EXPECT_EQ(1, status);
    run(monitor + " --max-packets x 2>/dev/null", &status);
    EXPECT_EQ(2, status);
}

TEST_F(Monitor, SlaveMqueueOneMessagePerRead)
{
    std::string queue = dir + "/slave-mqueue";
    std::ofstream(queue).close();
    FILE* pipe = popen((monitor + " --max-packets 3 --mqueue " + queue).c_str(), "r");
    ASSERT_NE(nullptr, pipe);
    // Each message: the target address shifted left (0x10 for 8), then one packet.
    std::vector<Bytes> messages = {
        {0x10, 0x06, 0x00, 0x05, 0x00, 0x09, 0x02},
        {0x10, 0x09, 0x00, 0x05, 0x00, 0x09, 0x02},
        {0x12, 0x0D, 0x00, 0x35, 0x00, 0x13, 0x40, 0, 0, 0, 0, 0, 0, 0},
        {0x10, 0x03, 0x00, 0x02},
    };
    for (const Bytes& message : messages) {
        // The monitor empties the file once it has taken a message.
        struct stat info;
        for (int i = 0; i < 500 && stat(queue.c_str(), &info) == 0 && info.st_size != 0; ++i)
            usleep(10000);
        int fd = open(queue.c_str(), O_WRONLY);
        ASSERT_EQ(static_cast<ssize_t>(message.size()), pwrite(fd, message.data(), message.size(), 0));
        close(fd);
    }
    std::string out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        out.append(buffer, n);
    EXPECT_EQ(0, WEXITSTATUS(pclose(pipe)));
    EXPECT_EQ((std::vector<std::string>{
                  "BMC WRITE DESCRIPTION/DISK_COUNT UINT8 2 | 06 00 05 00 09 02",
                  "ERROR truncated packet: 9 bytes announced, 6 received | 09 00 05 00 09 02",
                  "ERROR message for I2C address 0x09, not 0x08",
                  "BMC WRITE DESCRIPTION/MEMORY_SIZE UINT64 64 | 0d 00 35 00 13 40 00 00 00 00 00 00 00",
                  "BMC PING_RESPONSE | 03 00 02",
              }),
              lines_Of(out));
}

} // namespace
