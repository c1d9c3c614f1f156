// Fuzz target for everything that reads bytes from the bus: the monitor's
// framer and formatter, and the packet decoder with its encode round trip.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <algorithm>
#include <vector>

#include "BMC_data_protocol.h"
#include "bmc_frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the chunk size, so chunk boundaries are fuzzed too.
    size_t chunk = 1 + data[0];
    BMC_Frame_Reader reader;
    BMC_Frame_Reader::Event event;
    size_t covered = 0;
    auto take = [&](const BMC_Frame_Reader::Event& e) {
        covered += e.bytes.size();
        if (!e.is_packet) {
            get_Error_Line(e.error, e.bytes, 0, true);
            return;
        }
        BMC::Packet packet;
        if (BMC::init_Packet_From_Wire_Bytes(&packet, e.bytes.data(), e.bytes.size()) != 0)
            abort();
        uint8_t again[256];
        size_t n = BMC::get_Packet_Wire_Bytes(packet, again, sizeof(again));
        if (n != e.bytes.size() || !std::equal(e.bytes.begin(), e.bytes.end(), again))
            abort();
        get_Packet_Line(packet, e.bytes, 0, false);
        get_Packet_Line(packet, e.bytes, 0, true);
    };
    for (size_t i = 1; i < size; i += chunk) {
        reader.set_Bytes(data + i, std::min(chunk, size - i));
        while (reader.get_Next_Event(&event))
            take(event);
    }
    while (reader.get_Final_Event(&event))
        take(event);
    // Every byte ends up in exactly one packet or error.
    if (covered != size - 1)
        abort();
    return 0;
}
