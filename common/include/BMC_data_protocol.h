#ifndef LUMERION_BMC_DATA_PROTOCOL_H
#define LUMERION_BMC_DATA_PROTOCOL_H

#include <stddef.h>
#include <stdint.h>

// The host <-> BMC packet: a header of at most five bytes, in wire order at
// the start of the record, followed by up to 250 bytes of typed data.
namespace BMC {

const uint8_t packet_header_length = 5;
const uint8_t packet_ping_header_length = 3;
const uint8_t max_packet_data_length = 250;

enum PACKET_CONTROL1 : uint8_t {
    PACKET_BROADCAST_FLAG = 0x80,
    PACKET_NODE_ID_MASK = 0x7F,
};

enum PACKET_CONTROL2 : uint8_t {
    PACKET_RESPONSE_REQUIRE_FLAG = 0x80,
    PACKET_DATA_TYPE_MASK = 0x78,
    PACKET_TYPE_MASK = 0x07,
};

enum class NODE_ID : uint8_t {
    BMC = 0,
    PEC_1,
    PEC_2,
    PEC_3,
    PEC_4,
    PEC_5,
    PEC_6,
    PEC_7,
    PEC_8,
    PEC_9,
    PEC_10,
    PEC_11,
    PEC_12,
    PEC_13,
    PEC_14,
    PEC_15,
    PEC_16,
    PEC_17,
    PEC_18,
    PEC_19,
    PEC_20,
    PEC_21,
    PEC_22,
    PEC_23,
    PEC_24,
    PEC_25,
    PEC_26,
    PEC_27,
    PEC_28,
    PEC_29,
    PEC_30,
    PEC_31,
    PEC_32,
};

enum class ADDRESS : uint8_t {
    DESCRIPTION = 0,
    HOTSWAP = 1,
    POWER = 2,
    PSU = 3,
    FAN = 4,
    STATUS = 5,
    BRIDGE1 = 6,
    BRIDGE2 = 7,
    BRIDGE3 = 8,
    BRIDGE4 = 9,
    BRIDGE5 = 10,
    BRIDGE6 = 11,
    BRIDGE7 = 12,
    BRIDGE8 = 13,
    NETWORK = 14,
    BOOT = 15,
    DISPLAY = 16,
    USER_MANAGEMENT = 17,
};

enum class PACKET_TYPE : uint8_t {
    ERROR = 0,
    PING = 1,
    PING_RESPONSE = 2,
    READ = 3,
    READ_RESPONSE = 4,
    WRITE = 5,
    WRITE_RESPONSE = 6,
};

enum class DATA_TYPE : uint8_t {
    UINT8 = 0,
    INT8 = 1,
    UINT16 = 2,
    INT16 = 3,
    UINT32 = 4,
    INT32 = 5,
    UINT64 = 6,
    INT64 = 7,
    FLOAT = 8,
    DOUBLE = 9,
    STRING = 10,
};

// Item names are the BMC's own, spelling included.
enum SUBADDRESS_DESCRIPTION : uint8_t {
    SUBADDRESS_DESCRIPTION_PROCUCT_NAME = 0,
    SUBADDRESS_DESCRIPTION_VERSION = 1,
    SUBADDRESS_DESCRIPTION_IP_ADDRESS = 2,
    SUBADDRESS_DESCRIPTION_SERIAL_NUMBER = 3,
    SUBADDRESS_DESCRIPTION_MANAGER_EMAIL_ADDRESS = 4,
    SUBADDRESS_DESCRIPTION_OS = 5,
    SUBADDRESS_DESCRIPTION_INFORMATION = 6,
    SUBADDRESS_DESCRIPTION_LOCATION = 7,
    SUBADDRESS_DESCRIPTION_MEMO = 8,
    SUBADDRESS_DESCRIPTION_DISK_COUNT = 9,
    SUBADDRESS_DESCRIPTION_DISK_NAME = 10,
    SUBADDRESS_DESCRIPTION_DISK_SIZE = 11,
    SUBADDRESS_DESCRIPTION_CPU_COUNT = 12,
    SUBADDRESS_DESCRIPTION_CPU_MENUFACTURER_NAME = 13,
    SUBADDRESS_DESCRIPTION_CPU_PRUDCUT_NAME = 14,
    SUBADDRESS_DESCRIPTION_CPU_SERIAL_NUMBER = 15,
    SUBADDRESS_DESCRIPTION_CPU_SPEED = 16,
    SUBADDRESS_DESCRIPTION_CPU_CORE_COUNT = 17,
    SUBADDRESS_DESCRIPTION_MEMORY_COUNT = 18,
    SUBADDRESS_DESCRIPTION_MEMORY_SIZE = 19,
    SUBADDRESS_DESCRIPTION_MEMORY_SLOT = 20,
    SUBADDRESS_DESCRIPTION_MEMORY_TYPE = 21,
    SUBADDRESS_DESCRIPTION_MEMORY_MENUFACTURER = 22,
    SUBADDRESS_DESCRIPTION_MEMORY_SPEED = 23,
    SUBADDRESS_DESCRIPTION_MEMORY_SERIAL_NUMBER = 24,
    SUBADDRESS_DESCRIPTION_MEMORY_PART_NUMBER = 25,
    SUBADDRESS_DESCRIPTION_HARDWARE_VERSION = 26,
};

enum SUBADDRESS_NETWORK : uint8_t {
    SUBADDRESS_NETWORK_CONFIG_MODE = 0,
    SUBADDRESS_NETWORK_CONFIG_IP_ADDRESS = 1,
    SUBADDRESS_NETWORK_CONFIG_GATEWAY = 2,
    SUBADDRESS_NETWORK_CONFIG_SUBNETMASK = 3,
    SUBADDRESS_NETWORK_CONFIG_DNS1 = 4,
    SUBADDRESS_NETWORK_CONFIG_DNS2 = 5,
    SUBADDRESS_NETWORK_CONFIG_APPLY = 6,
    SUBADDRESS_NETWORK_CONFIG_HOSTNAME = 7,
    SUBADDRESS_NETWORK_CONFIG_MACADDRESS = 8,
    SUBADDRESS_NETWORK_CONFIG_RESET = 9,
};

enum _SUBADDRESS_NETWORK_MODE : uint8_t {
    SUBADDRESS_NETWORK_CONFIG_MODE_DHCP = 0,
    SUBADDRESS_NETWORK_CONFIG_MODE_STATIC = 1,
};

// Packed so that the first five bytes of the record are the wire header.
struct __attribute__((packed)) Packet {
    uint8_t packet_length;
    uint8_t packet_control1;
    uint8_t packet_control2;
    ADDRESS address;
    uint8_t subaddress;
    uint8_t* data;

    Packet();
    ~Packet();
    // Records own their data; copies go through init_Packet(packet, source).
    Packet(const Packet&) = delete;
    Packet& operator=(const Packet&) = delete;
};

uint8_t init_Packet(Packet* packet, NODE_ID node_id, bool broadcast, PACKET_TYPE type, bool response_require,
                    ADDRESS address, uint8_t subaddress, DATA_TYPE data_type, const void* data,
                    uint8_t data_count);
uint8_t init_Packet(Packet* packet, uint8_t packet_length);
uint8_t init_Packet(Packet* packet, const Packet& source_packet);
uint8_t init_Packet_Data(Packet* packet, uint8_t data_length);

void set_Packet_Node_ID_Broadcast(Packet* packet, NODE_ID node_id, bool broadcast);
void set_Packet_Address(Packet* packet, ADDRESS address);
void set_Packet_Subaddress(Packet* packet, uint8_t subaddress);
void set_Packet_Type(Packet* packet, PACKET_TYPE type, bool response_require);
uint8_t set_Packet_Data(Packet* packet, DATA_TYPE type, const void* data, uint8_t data_count);
uint8_t set_Packet_String(Packet* packet, const char* str);
void set_Packet_Data_Clear(Packet* packet);

uint8_t get_Packet_Header_Length(const Packet& packet);
uint8_t get_Packet_Data_Length(const Packet& packet);
uint8_t get_Packet_Data_Count(const Packet& packet);
NODE_ID get_Packet_Node_ID(const Packet& packet);
bool get_Packet_Broadcast(const Packet& packet);
ADDRESS get_Packet_Address(const Packet& packet);
uint8_t get_Packet_Subaddress(const Packet& packet);
PACKET_TYPE get_Packet_Type(const Packet& packet);
DATA_TYPE get_Packet_Data_Type(const Packet& packet);
bool get_Packet_Response_Require_Flag(const Packet& packet);
uint8_t get_Data_Type_Size(DATA_TYPE type);

// The packet as it goes on the bus: `packet_length` bytes, header then data.
// Returns the number of bytes written into `buffer`, 0 when it does not fit.
size_t get_Packet_Wire_Bytes(const Packet& packet, uint8_t* buffer, size_t buffer_length);

// The reverse, for whoever reads the bus: `length` must equal the length byte
// and be 3 or more. 0 done; 1 no record or no bytes; 2 length mismatch.
uint8_t init_Packet_From_Wire_Bytes(Packet* packet, const uint8_t* bytes, size_t length);

} // namespace BMC

#endif
