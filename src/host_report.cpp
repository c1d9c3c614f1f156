#include "host_report.h"

#include <inttypes.h>
#include <string.h>

#include <string>

#include "BMC_data_protocol.h"
#include "I2C_BMC_packet_thread.h"
#include "config.h"
#include "log.h"
#include "network.h"
#include "system_info.h"
#include "text_copy.h"

namespace {

const char* const __log_tag = "main";
const char* const cpu_product_name = "Ampere(R) Altra(R) Processor";
const size_t text_buffer_length = 100;
const size_t os_info_buffer_length = 128;

void send_Description(BMC::Packet* request, BMC::Packet* response, uint8_t subaddress, BMC::DATA_TYPE type,
                      const void* data, uint8_t data_count)
{
    BMC::init_Packet(request, BMC::NODE_ID::BMC, false, BMC::PACKET_TYPE::WRITE, false,
                     BMC::ADDRESS::DESCRIPTION, subaddress, type, data, data_count);
    set_I2C_BMC_Packet_Request(*request, response);
}

// Each text goes with its NUL, cut to 99 characters so that no more than the
// 100-byte buffer is ever sent.
void send_Text(BMC::Packet* request, BMC::Packet* response, char* buffer, uint8_t subaddress,
               const char* text)
{
    set_Terminated_Copy(buffer, text_buffer_length, text, strnlen(text, text_buffer_length - 1));
    send_Description(request, response, subaddress, BMC::DATA_TYPE::STRING, buffer,
                     static_cast<uint8_t>(strlen(buffer) + 1));
}

} // namespace

bool update_Broadcast_Packet(bool due)
{
    // Read either way: a report that is due carries the change too.
    bool changed = Network::get_Default_IP_Info_Update_Flag();
    if (!due && !changed)
        return false;

    BMC::Packet request;
    BMC::Packet response;
    char buffer[text_buffer_length];

    // The OS name needs 128 bytes of room before it is cut to 99 characters.
    char os_info[os_info_buffer_length];
    memset(os_info, 0, sizeof(os_info));
    get_Config_OS_Info(os_info);
    send_Text(&request, &response, buffer, BMC::SUBADDRESS_DESCRIPTION_OS, os_info);

    Network::Config live = Network::get_Default_IP_Info();
    send_Text(&request, &response, buffer, BMC::SUBADDRESS_DESCRIPTION_IP_ADDRESS, live.ip4_address.c_str());
    send_Text(&request, &response, buffer, BMC::SUBADDRESS_DESCRIPTION_CPU_PRUDCUT_NAME, cpu_product_name);

    uint64_t memory_size = System_Info::get_Memory_Total_Size();
    LOG_INFO("Memory Total Size: %" PRIu64 " GB", memory_size);
    send_Description(&request, &response, BMC::SUBADDRESS_DESCRIPTION_MEMORY_SIZE, BMC::DATA_TYPE::UINT64,
                     &memory_size, 1);

    uint8_t disk_count = 0;
    std::string disk_names, disk_sizes;
    if (!System_Info::get_Disk_Info(&disk_count, &disk_names, &disk_sizes))
        return true;
    send_Description(&request, &response, BMC::SUBADDRESS_DESCRIPTION_DISK_COUNT, BMC::DATA_TYPE::UINT8,
                     &disk_count, 1);
    send_Text(&request, &response, buffer, BMC::SUBADDRESS_DESCRIPTION_DISK_NAME, disk_names.c_str());
    send_Text(&request, &response, buffer, BMC::SUBADDRESS_DESCRIPTION_DISK_SIZE, disk_sizes.c_str());
    return true;
}
