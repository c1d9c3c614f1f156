#include "bus_reader.h"

#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

double get_Monotonic_Seconds()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

// Non-blocking, so that opening needs no writer and a read never hangs.
Bus_Reader::Bus_Reader() : fd(open("/dev/i2c-2", O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {}

void Bus_Reader::read_Until(size_t count, double deadline)
{
    BMC_Frame_Reader::Event event;
    while (packets.size() < count && get_Monotonic_Seconds() < deadline) {
        struct pollfd waiter = {fd.get(), POLLIN, 0};
        if (poll(&waiter, 1, 20) <= 0)
            continue;
        uint8_t chunk[1024];
        ssize_t n = read(fd.get(), chunk, sizeof(chunk));
        if (n > 0)
            reader.set_Bytes(chunk, static_cast<size_t>(n));
        while (reader.get_Next_Event(&event)) {
            if (!event.is_packet) {
                errors.push_back(event.error);
                continue;
            }
            packets.push_back(event.bytes);
            times.push_back(get_Monotonic_Seconds());
        }
    }
}

std::vector<std::vector<uint8_t>> Bus_Reader::take(size_t count, double seconds)
{
    size_t before = packets.size();
    read_Until(before + count, get_Monotonic_Seconds() + seconds);
    return std::vector<std::vector<uint8_t>>(packets.begin() + static_cast<long>(before), packets.end());
}

std::vector<std::vector<uint8_t>> Bus_Reader::collect(double seconds)
{
    size_t before = packets.size();
    read_Until(static_cast<size_t>(-1), get_Monotonic_Seconds() + seconds);
    return std::vector<std::vector<uint8_t>>(packets.begin() + static_cast<long>(before), packets.end());
}
