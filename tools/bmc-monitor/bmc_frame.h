#ifndef LUMERION_BMC_FRAME_H
#define LUMERION_BMC_FRAME_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "BMC_data_protocol.h"

// Cuts a byte stream from the bus into packets by their length byte. Bytes
// that cannot start a packet are reported and skipped one at a time, so the
// reader finds the next packet boundary again after any garbage.
class BMC_Frame_Reader {
public:
    struct Event {
        bool is_packet = false;
        std::vector<uint8_t> bytes; // the packet, or the bytes an error is about
        std::string error;          // empty for a packet
    };

    void set_Bytes(const uint8_t* bytes, size_t length);
    // The next packet or error from the bytes given so far; false when more are needed.
    bool get_Next_Event(Event* event);
    // End of input: a packet still incomplete becomes a "truncated" error.
    bool get_Final_Event(Event* event);

private:
    bool get_Event(Event* event, bool at_end);

    std::vector<uint8_t> pending;
};

// Whether `bytes` can be one whole packet; an empty text when so, otherwise why not.
std::string get_Frame_Error(const uint8_t* bytes, size_t length);

// Names of the protocol vocabulary, "0x.." for a value without one.
std::string get_Node_Name(uint8_t node_id);
std::string get_Packet_Type_Name(uint8_t type);
std::string get_Address_Name(uint8_t address);
std::string get_Subaddress_Name(uint8_t address, uint8_t subaddress);
std::string get_Data_Type_Name(uint8_t data_type);

// One output line (without newline) for a packet or an error, as text or JSON.
std::string get_Packet_Line(const BMC::Packet& packet, const std::vector<uint8_t>& raw, double seconds,
                            bool json);
std::string get_Error_Line(const std::string& error, const std::vector<uint8_t>& raw, double seconds,
                           bool json);

#endif
