// lumerion-bmc-monitor: shows what reaches the BMC. Reads the host's packet
// stream (a FIFO standing in for the bus, a capture file, or standard input)
// or a BMC's I2C slave message queue, and prints one line per packet.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "bmc_frame.h"
#include "guards.h"

namespace {

const char* const usage_text =
    "usage: lumerion-bmc-monitor [--json] [--max-packets N] [--duration SECONDS] [INPUT | -]\n"
    "       lumerion-bmc-monitor [--json] [--max-packets N] [--duration SECONDS] --mqueue PATH\n"
    "Reads host-to-BMC packets from INPUT (a FIFO or capture file; - or nothing for\n"
    "standard input), or from an I2C slave-mqueue sysfs file, and prints one line per\n"
    "packet: time offset, node, type, address/subaddress, data type, value, raw bytes.\n";

const uint8_t bmc_slave_address = 8;
const size_t read_chunk_length = 4096;
const size_t mqueue_message_length = 1 + BMC::packet_header_length + BMC::max_packet_data_length;
const int empty_queue_wait_ms = 10;

volatile sig_atomic_t stop_requested = 0;

void on_Stop_Signal(int)
{
    stop_requested = 1;
}

struct Options {
    bool json = false;
    long max_packets = -1;
    unsigned duration = 0;
    std::string input = "-";
    std::string mqueue;
};

class Monitor {
public:
    explicit Monitor(const Options& options) : options(options) { clock_gettime(CLOCK_MONOTONIC, &start); }

    // False once the packet limit is reached.
    bool show(const BMC_Frame_Reader::Event& event)
    {
        double seconds = get_Seconds();
        if (event.is_packet) {
            BMC::Packet packet;
            BMC::init_Packet_From_Wire_Bytes(&packet, event.bytes.data(), event.bytes.size());
            printf("%s\n", get_Packet_Line(packet, event.bytes, seconds, options.json).c_str());
            ++packets;
        } else {
            printf("%s\n", get_Error_Line(event.error, event.bytes, seconds, options.json).c_str());
        }
        // A reader that has gone (a closed pipe) ends the watch.
        if (fflush(stdout) != 0)
            return false;
        return options.max_packets < 0 || packets < options.max_packets;
    }

    void note(const std::string& text)
    {
        std::vector<uint8_t> none;
        printf("%s\n", get_Error_Line(text, none, get_Seconds(), options.json).c_str());
        (void)fflush(stdout);
    }

private:
    double get_Seconds() const
    {
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<double>(now.tv_sec - start.tv_sec) +
               static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
    }

    const Options& options;
    struct timespec start;
    long packets = 0;
};

int run_Stream(const Options& options, Monitor& monitor)
{
    // Standard input is read through a copy, so that closing ours leaves it open.
    Descriptor fd(options.input == "-" ? dup(STDIN_FILENO)
                                       : open(options.input.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        (void)fprintf(stderr, "lumerion-bmc-monitor: %s: %s\n", options.input.c_str(), strerror(errno));
        return 1;
    }
    BMC_Frame_Reader reader;
    BMC_Frame_Reader::Event event;
    uint8_t chunk[read_chunk_length];
    while (!stop_requested) {
        ssize_t n = read(fd.get(), chunk, sizeof(chunk));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            (void)fprintf(stderr, "lumerion-bmc-monitor: read: %s\n", strerror(errno));
            return 1;
        }
        if (n == 0)
            break;
        reader.set_Bytes(chunk, static_cast<size_t>(n));
        while (reader.get_Next_Event(&event))
            if (!monitor.show(event))
                return 0;
    }
    while (reader.get_Final_Event(&event))
        if (!monitor.show(event))
            return 0;
    return 0;
}

// The slave-mqueue attribute hands out one whole message per read at offset
// 0 and signals new ones with POLLPRI. A regular file stands in for it in
// tests: it holds one message at a time, emptied once read.
int run_Mqueue(const Options& options, Monitor& monitor)
{
    Descriptor fd(open(options.mqueue.c_str(), O_RDWR | O_CLOEXEC));
    if (fd.get() < 0) {
        (void)fprintf(stderr, "lumerion-bmc-monitor: %s: %s\n", options.mqueue.c_str(), strerror(errno));
        return 1;
    }
    struct stat info;
    bool regular_file = fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode);
    uint8_t message[mqueue_message_length + 1];
    while (!stop_requested) {
        struct pollfd waiter = {fd.get(), POLLPRI, 0};
        if (!regular_file && poll(&waiter, 1, -1) < 0 && errno == EINTR)
            continue;
        ssize_t n = pread(fd.get(), message, sizeof(message), 0);
        if (n < 0 && errno != EINTR) {
            (void)fprintf(stderr, "lumerion-bmc-monitor: read: %s\n", strerror(errno));
            return 1;
        }
        if (n <= 0) {
            poll(nullptr, 0, empty_queue_wait_ms);
            continue;
        }
        if (regular_file && ftruncate(fd.get(), 0) != 0) {
            (void)fprintf(stderr, "lumerion-bmc-monitor: cannot empty %s: %s\n", options.mqueue.c_str(),
                          strerror(errno));
            return 1;
        }
        if ((message[0] >> 1) != bmc_slave_address) {
            char text[64];
            if (snprintf(text, sizeof(text), "message for I2C address 0x%02x, not 0x%02x", message[0] >> 1,
                         bmc_slave_address) > 0)
                monitor.note(text);
        }
        BMC_Frame_Reader::Event event;
        size_t length = static_cast<size_t>(n) - 1;
        event.bytes.assign(message + 1, message + 1 + length);
        event.error = get_Frame_Error(message + 1, length);
        event.is_packet = event.error.empty();
        if (!monitor.show(event))
            return 0;
    }
    return 0;
}

bool parse_Number(const char* text, long* value)
{
    char* end = nullptr;
    errno = 0;
    *value = strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && *value >= 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        long number = 0;
        if (arg == "--json") {
            options.json = true;
        } else if (arg == "--mqueue" && i + 1 < argc) {
            options.mqueue = argv[++i];
        } else if (arg == "--max-packets" && i + 1 < argc && parse_Number(argv[i + 1], &number)) {
            options.max_packets = number;
            ++i;
        } else if (arg == "--duration" && i + 1 < argc && parse_Number(argv[i + 1], &number)) {
            options.duration = static_cast<unsigned>(number);
            ++i;
        } else if (arg == "-h" || arg == "--help") {
            (void)fputs(usage_text, stdout);
            return 0;
        } else if ((arg == "-" || arg[0] != '-') && options.input == "-") {
            options.input = arg;
        } else {
            (void)fputs(usage_text, stderr);
            return 2;
        }
    }

    // Without SA_RESTART a blocking read returns, so the monitor stops at once.
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_handler = on_Stop_Signal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGALRM, &action, nullptr);
    if (options.duration != 0)
        alarm(options.duration);

    (void)setvbuf(stdout, nullptr, _IOLBF, 0);
    Monitor monitor(options);
    return options.mqueue.empty() ? run_Stream(options, monitor) : run_Mqueue(options, monitor);
}
