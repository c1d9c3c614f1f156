#ifndef LUMERION_TEST_BUS_READER_H
#define LUMERION_TEST_BUS_READER_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "bmc_frame.h"
#include "guards.h"

double get_Monotonic_Seconds();

// How long a test waits for what it expects, on a loaded machine under the sanitizers.
const double generous_seconds = 60.0;

// The BMC's end of the sandbox's FIFO bus (/dev/i2c-2): every packet that
// arrives, framed by its length byte, with its arrival time.
class Bus_Reader {
public:
    Bus_Reader();

    // Reads until `count` packets have arrived in all, or `deadline` passes.
    void read_Until(size_t count, double deadline);
    // Reads for `seconds` and returns the packets that arrived meanwhile.
    std::vector<std::vector<uint8_t>> collect(double seconds);
    // The next `count` packets, or those that arrived before `seconds` passed.
    std::vector<std::vector<uint8_t>> take(size_t count, double seconds);

    std::vector<std::vector<uint8_t>> packets;
    std::vector<double> times;
    std::vector<std::string> errors;

private:
    Descriptor fd;
    BMC_Frame_Reader reader;
};

#endif
