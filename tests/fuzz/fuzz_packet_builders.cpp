// Fuzz target for the packet builders: any sequence of builder and setter
// calls leaves a record whose length byte matches its data, and whose wire
// bytes decode back to the same bytes.
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "BMC_data_protocol.h"
#include "fuzz_input.h"

namespace {

void check_Record(const BMC::Packet& packet)
{
    uint8_t length = BMC::get_Packet_Data_Length(packet);
    if (length > BMC::max_packet_data_length || (length > 0 && packet.data == nullptr))
        abort();
    if (BMC::get_Packet_Header_Length(packet) + length != packet.packet_length)
        abort();
    uint8_t wire[512];
    size_t n = BMC::get_Packet_Wire_Bytes(packet, wire, sizeof(wire));
    if (n != packet.packet_length)
        abort();
    if (n < 3)
        return;
    BMC::Packet decoded;
    if (BMC::init_Packet_From_Wire_Bytes(&decoded, wire, n) != 0)
        abort();
    uint8_t again[512];
    if (BMC::get_Packet_Wire_Bytes(decoded, again, sizeof(again)) != n || memcmp(wire, again, n) != 0)
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Fuzz_Input in(data, size);
    BMC::Packet packets[2];
    while (!in.empty()) {
        uint8_t op = in.get_Byte();
        BMC::Packet& packet = packets[op & 1];
        std::string bytes = in.get_Text();
        // The builders read `count` items of the data type's size.
        auto count_Of = [&bytes](uint8_t type) {
            uint8_t item = BMC::get_Data_Type_Size(static_cast<BMC::DATA_TYPE>(type));
            return static_cast<uint8_t>(std::min<size_t>(bytes.size() / (item == 0 ? 1 : item), 255));
        };
        switch ((op >> 1) % 9) {
        case 0: {
            // One byte a field, taken in a fixed order.
            uint8_t node = in.get_Byte();
            uint8_t type = in.get_Byte();
            uint8_t address = in.get_Byte();
            uint8_t subaddress = in.get_Byte();
            uint8_t data_type = in.get_Byte();
            BMC::init_Packet(&packet, static_cast<BMC::NODE_ID>(node), op & 0x20,
                             static_cast<BMC::PACKET_TYPE>(type), op & 0x40,
                             static_cast<BMC::ADDRESS>(address), subaddress,
                             static_cast<BMC::DATA_TYPE>(data_type), bytes.empty() ? nullptr : bytes.data(),
                             count_Of(data_type));
            break;
        }
        case 1:
            BMC::init_Packet(&packet, in.get_Byte());
            break;
        case 2:
            BMC::init_Packet(&packet, packets[(op & 1) ^ 1]);
            break;
        case 3:
            BMC::init_Packet_Data(&packet, in.get_Byte());
            break;
        case 4: {
            uint8_t data_type = in.get_Byte();
            BMC::set_Packet_Data(&packet, static_cast<BMC::DATA_TYPE>(data_type),
                                 bytes.empty() ? nullptr : bytes.data(), count_Of(data_type));
            break;
        }
        case 5:
            BMC::set_Packet_String(&packet, bytes.c_str());
            break;
        case 6:
            BMC::set_Packet_Data_Clear(&packet);
            break;
        case 7: {
            uint8_t node = in.get_Byte();
            uint8_t type = in.get_Byte();
            BMC::set_Packet_Node_ID_Broadcast(&packet, static_cast<BMC::NODE_ID>(node), op & 0x20);
            BMC::set_Packet_Type(&packet, static_cast<BMC::PACKET_TYPE>(type), op & 0x40);
            break;
        }
        case 8: {
            uint8_t address = in.get_Byte();
            uint8_t subaddress = in.get_Byte();
            BMC::set_Packet_Address(&packet, static_cast<BMC::ADDRESS>(address));
            BMC::set_Packet_Subaddress(&packet, subaddress);
            break;
        }
        }
        check_Record(packets[0]);
        check_Record(packets[1]);
    }
    return 0;
}
