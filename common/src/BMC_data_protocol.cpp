#include "BMC_data_protocol.h"

#include <string.h>

namespace BMC {

namespace {

const uint8_t data_type_shift = 3;
const uint8_t max_data_type_value = static_cast<uint8_t>(DATA_TYPE::STRING);

bool is_Ping_Type(uint8_t packet_control2)
{
    PACKET_TYPE type = static_cast<PACKET_TYPE>(packet_control2 & PACKET_TYPE_MASK);
    return type == PACKET_TYPE::PING || type == PACKET_TYPE::PING_RESPONSE;
}

// PING and PING_RESPONSE carry no address, subaddress or data.
uint8_t get_Type_Header_Length(const Packet& packet)
{
    return is_Ping_Type(packet.packet_control2) ? packet_ping_header_length : packet_header_length;
}

void release_Data(Packet* packet)
{
    delete[] packet->data;
    packet->data = nullptr;
}

// Header bytes in wire order: length, control1, control2, address, subaddress.
void set_Header_Bytes(Packet* packet, const uint8_t* header, size_t count)
{
    if (count > 1)
        packet->packet_control1 = header[1];
    if (count > 2)
        packet->packet_control2 = header[2];
    if (count > 3)
        packet->address = static_cast<ADDRESS>(header[3]);
    if (count > 4)
        packet->subaddress = header[4];
}

void get_Header_Bytes(const Packet& packet, uint8_t* header)
{
    header[0] = packet.packet_length;
    header[1] = packet.packet_control1;
    header[2] = packet.packet_control2;
    header[3] = static_cast<uint8_t>(packet.address);
    header[4] = packet.subaddress;
}

uint8_t make_Control2(uint8_t old_control2, PACKET_TYPE type, bool response_require)
{
    return static_cast<uint8_t>(static_cast<uint8_t>(type) | (old_control2 & PACKET_DATA_TYPE_MASK) |
                                (response_require ? PACKET_RESPONSE_REQUIRE_FLAG : 0));
}

} // namespace

Packet::Packet()
    : packet_length(0), packet_control1(0), packet_control2(0), address(ADDRESS::DESCRIPTION), subaddress(0),
      data(nullptr)
{
}

Packet::~Packet()
{
    delete[] data;
}

uint8_t init_Packet(Packet* packet, NODE_ID node_id, bool broadcast, PACKET_TYPE type, bool response_require,
                    ADDRESS address, uint8_t subaddress, DATA_TYPE data_type, const void* data,
                    uint8_t data_count)
{
    if (packet == nullptr)
        return 1;
    set_Packet_Node_ID_Broadcast(packet, node_id, broadcast);
    packet->packet_control2 = make_Control2(packet->packet_control2, type, response_require);
    packet->packet_length = get_Type_Header_Length(*packet);
    release_Data(packet);
    packet->address = address;
    packet->subaddress = subaddress;
    // A failed data step leaves a valid header-only packet, which is still sent.
    set_Packet_Data(packet, data_type, data, data_count);
    return 0;
}

uint8_t init_Packet(Packet* packet, uint8_t packet_length)
{
    if (packet == nullptr)
        return 1;
    packet->packet_length = packet_length;
    packet->packet_control1 = 0;
    packet->packet_control2 = 0;
    packet->address = ADDRESS::DESCRIPTION;
    packet->subaddress = 0;
    release_Data(packet);
    if (packet_length > packet_header_length)
        packet->data = new uint8_t[packet_length - packet_header_length];
    return 0;
}

uint8_t init_Packet(Packet* packet, const Packet& source_packet)
{
    if (packet == nullptr)
        return 1;
    if (packet == &source_packet)
        return 0;
    uint8_t length = source_packet.packet_length;
    init_Packet(packet, static_cast<uint8_t>(0));
    packet->packet_length = length;
    uint8_t header[packet_header_length];
    get_Header_Bytes(source_packet, header);
    // A short source (a 3-byte ping) leaves address and subaddress at 0.
    set_Header_Bytes(packet, header, get_Packet_Header_Length(source_packet));
    if (length > packet_header_length) {
        size_t data_length = length - packet_header_length;
        packet->data = new uint8_t[data_length];
        if (source_packet.data != nullptr)
            memcpy(packet->data, source_packet.data, data_length);
        else
            memset(packet->data, 0, data_length);
    }
    return 0;
}

uint8_t init_Packet_Data(Packet* packet, uint8_t data_length)
{
    if (packet == nullptr)
        return 1;
    release_Data(packet);
    if (data_length == 0 || data_length > max_packet_data_length) {
        packet->packet_length = get_Type_Header_Length(*packet);
        return 2;
    }
    packet->data = new uint8_t[data_length];
    packet->packet_length = static_cast<uint8_t>(data_length + packet_header_length);
    return 0;
}

void set_Packet_Node_ID_Broadcast(Packet* packet, NODE_ID node_id, bool broadcast)
{
    packet->packet_control1 =
        static_cast<uint8_t>(static_cast<uint8_t>(node_id) | (broadcast ? PACKET_BROADCAST_FLAG : 0));
}

void set_Packet_Address(Packet* packet, ADDRESS address)
{
    packet->address = address;
}

void set_Packet_Subaddress(Packet* packet, uint8_t subaddress)
{
    packet->subaddress = subaddress;
}

void set_Packet_Type(Packet* packet, PACKET_TYPE type, bool response_require)
{
    packet->packet_control2 = make_Control2(packet->packet_control2, type, response_require);
    set_Packet_Data_Clear(packet);
}

uint8_t set_Packet_Data(Packet* packet, DATA_TYPE type, const void* data, uint8_t data_count)
{
    if (packet == nullptr || is_Ping_Type(packet->packet_control2))
        return 1;
    if (static_cast<uint8_t>(type) > max_data_type_value) {
        release_Data(packet);
        packet->packet_length = get_Type_Header_Length(*packet);
        return 2;
    }
    size_t length = static_cast<size_t>(data_count) * get_Data_Type_Size(type);
    // An empty text given by a valid pointer goes out as the one byte it points to.
    if (type == DATA_TYPE::STRING && length == 0)
        length = data != nullptr ? 1 : 0;
    release_Data(packet);
    if (length == 0 || length > max_packet_data_length || data == nullptr) {
        packet->packet_length = get_Type_Header_Length(*packet);
        return 2;
    }
    packet->data = new uint8_t[length];
    memcpy(packet->data, data, length);
    packet->packet_length = static_cast<uint8_t>(length + packet_header_length);
    packet->packet_control2 =
        static_cast<uint8_t>((packet->packet_control2 & ~PACKET_DATA_TYPE_MASK) |
                             ((static_cast<uint8_t>(type) << data_type_shift) & PACKET_DATA_TYPE_MASK));
    return 0;
}

uint8_t set_Packet_String(Packet* packet, const char* str)
{
    if (str == nullptr)
        return set_Packet_Data(packet, DATA_TYPE::STRING, nullptr, 0);
    size_t length = strnlen(str, static_cast<size_t>(max_packet_data_length) + 1);
    if (length > max_packet_data_length) {
        if (packet == nullptr)
            return 1;
        // An over-long text is refused as such; a ping record is never changed.
        if (is_Ping_Type(packet->packet_control2))
            return 2;
        release_Data(packet);
        packet->packet_length = get_Type_Header_Length(*packet);
        return 2;
    }
    return set_Packet_Data(packet, DATA_TYPE::STRING, str, static_cast<uint8_t>(length));
}

void set_Packet_Data_Clear(Packet* packet)
{
    packet->packet_length = get_Type_Header_Length(*packet);
    release_Data(packet);
}

uint8_t get_Packet_Header_Length(const Packet& packet)
{
    return packet.packet_length < packet_header_length ? packet.packet_length : packet_header_length;
}

uint8_t get_Packet_Data_Length(const Packet& packet)
{
    return packet.packet_length > packet_header_length
               ? static_cast<uint8_t>(packet.packet_length - packet_header_length)
               : 0;
}

uint8_t get_Packet_Data_Count(const Packet& packet)
{
    if (packet.packet_length <= packet_header_length)
        return 0;
    uint8_t size = get_Data_Type_Size(get_Packet_Data_Type(packet));
    if (size == 0)
        return 0;
    uint8_t length = get_Packet_Data_Length(packet);
    if (length % size != 0)
        return 0;
    return static_cast<uint8_t>(length / size);
}

NODE_ID get_Packet_Node_ID(const Packet& packet)
{
    return static_cast<NODE_ID>(packet.packet_control1 & PACKET_NODE_ID_MASK);
}

bool get_Packet_Broadcast(const Packet& packet)
{
    return (packet.packet_control1 & PACKET_BROADCAST_FLAG) != 0;
}

ADDRESS get_Packet_Address(const Packet& packet)
{
    return packet.address;
}

uint8_t get_Packet_Subaddress(const Packet& packet)
{
    return packet.subaddress;
}

PACKET_TYPE get_Packet_Type(const Packet& packet)
{
    return static_cast<PACKET_TYPE>(packet.packet_control2 & PACKET_TYPE_MASK);
}

DATA_TYPE get_Packet_Data_Type(const Packet& packet)
{
    return static_cast<DATA_TYPE>((packet.packet_control2 >> data_type_shift) & 0x0F);
}

bool get_Packet_Response_Require_Flag(const Packet& packet)
{
    return (packet.packet_control2 & PACKET_RESPONSE_REQUIRE_FLAG) != 0;
}

uint8_t get_Data_Type_Size(DATA_TYPE type)
{
    switch (type) {
    case DATA_TYPE::UINT8:
    case DATA_TYPE::INT8:
    case DATA_TYPE::STRING:
        return 1;
    case DATA_TYPE::UINT16:
    case DATA_TYPE::INT16:
        return 2;
    case DATA_TYPE::UINT32:
    case DATA_TYPE::INT32:
    case DATA_TYPE::FLOAT:
        return 4;
    case DATA_TYPE::UINT64:
    case DATA_TYPE::INT64:
    case DATA_TYPE::DOUBLE:
        return 8;
    }
    return 0;
}

size_t get_Packet_Wire_Bytes(const Packet& packet, uint8_t* buffer, size_t buffer_length)
{
    size_t length = packet.packet_length;
    if (buffer == nullptr || length == 0 || length > buffer_length)
        return 0;
    uint8_t header[packet_header_length];
    get_Header_Bytes(packet, header);
    uint8_t header_length = get_Packet_Header_Length(packet);
    memcpy(buffer, header, header_length);
    size_t data_length = get_Packet_Data_Length(packet);
    if (data_length != 0) {
        if (packet.data != nullptr)
            memcpy(buffer + header_length, packet.data, data_length);
        else
            memset(buffer + header_length, 0, data_length);
    }
    return length;
}

uint8_t init_Packet_From_Wire_Bytes(Packet* packet, const uint8_t* bytes, size_t length)
{
    if (packet == nullptr || bytes == nullptr || length == 0)
        return 1;
    if (length < packet_ping_header_length || length != bytes[0])
        return 2;
    init_Packet(packet, bytes[0]);
    set_Header_Bytes(packet, bytes, length < packet_header_length ? length : packet_header_length);
    // The data area was sized from the same length byte.
    if (length > packet_header_length && packet->data != nullptr)
        memcpy(packet->data, bytes + packet_header_length, length - packet_header_length);
    return 0;
}

} // namespace BMC
