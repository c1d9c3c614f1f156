#include "config.h"

#include <fcntl.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "build_info.h"
#include "guards.h"
#include "log.h"
#include "system_info.h"
#include "text_copy.h"

namespace {

const char* const __log_tag = "Config";
const char* const eeprom_dir = "/dev/mem";
const off_t eeprom_mapping_address = 0x10000000;
const size_t eeprom_map_size = 512;
const size_t eeprom_pec_serial_number_address = 80;
const unsigned char eeprom_pec_serial_number_code = 85;
const char* const fallback_serial_text = "N/A";
const char* const product_name = "Lumerion KT";
const char* const version_text = LUMERION_VERSION_TEXT;
const size_t os_info_buffer_length = 128;

char hostname[256];

int get_EEPROM_Config(size_t address, unsigned char config_code, char* buffer, unsigned int buffer_length)
{
    if (access(eeprom_dir, R_OK) != 0)
        return -1;
    // Descriptor 0 would only be ours if stdin were closed: the guard gives it back.
    Descriptor fd(open(eeprom_dir, O_RDONLY | O_CLOEXEC));
    if (fd.get() <= 0) {
        LOG_ERROR("fopen() Error");
        return -1;
    }
    void* map = mmap(nullptr, eeprom_map_size, PROT_READ, MAP_PRIVATE, fd.get(), eeprom_mapping_address);
    if (map == MAP_FAILED) {
        LOG_ERROR("mmap() Error");
        return -1;
    }
    const char* text = nullptr;
    size_t text_length = 0;
    int result = -1;
    if (get_EEPROM_Record_Text(static_cast<const unsigned char*>(map), eeprom_map_size, address, config_code,
                               &text, &text_length))
        result = static_cast<unsigned char>(set_Fixed_Length_Copy(buffer, buffer_length, text, text_length));
    munmap(map, eeprom_map_size);
    return result;
}

} // namespace

bool get_EEPROM_Record_Text(const unsigned char* window, size_t window_length, size_t address,
                            unsigned char config_code, const char** text, size_t* text_length)
{
    if (window == nullptr || address >= window_length || window[address] != config_code)
        return false;
    const char* start = reinterpret_cast<const char*>(window + address + 1);
    *text = start;
    *text_length = strnlen(start, window_length - address - 1);
    return true;
}

int get_Config_Serial_Number(char* buffer, unsigned int buffer_length)
{
    int length = get_EEPROM_Config(eeprom_pec_serial_number_address, eeprom_pec_serial_number_code, buffer,
                                   buffer_length);
    if (length >= 0)
        return length;
    return static_cast<unsigned char>(
        set_Fixed_Length_Copy(buffer, buffer_length, fallback_serial_text, strlen(fallback_serial_text)));
}

int get_Config_Product_Name(char* buffer)
{
    memcpy(buffer, product_name, strlen(product_name) + 1);
    return static_cast<int>(strlen(product_name));
}

int get_Config_Version(char* buffer)
{
    memcpy(buffer, version_text, strlen(version_text) + 1);
    return static_cast<int>(strlen(version_text));
}

int get_Config_OS_Info(char* buffer)
{
    std::string name = System_Info::get_OS_Info();
    return static_cast<int>(set_Terminated_Copy(buffer, os_info_buffer_length, name.data(), name.size()));
}

bool set_Config_Hostname(char* buffer)
{
    LOG_DEBUG("buffer=%s  ", get_Log_Text(buffer).c_str());
    // Only a name the host would take is remembered; the setter refuses the rest.
    if (!System_Info::get_Hostname_Valid(buffer)) {
        LOG_ERROR("refused hostname: not a valid host name");
        return false;
    }
    if (strncmp(buffer, hostname, sizeof(hostname)) == 0)
        return true;
    LOG_DEBUG("hostname=%s  ", get_Log_Text(buffer).c_str());
    LOG_DEBUG("buffer_command=%s  ", System_Info::get_Hostname_Command(buffer).c_str());
    // A name the host did not take is not remembered: asking again retries it.
    if (!System_Info::update_Hostname(buffer))
        return false;
    set_Terminated_Copy(hostname, sizeof(hostname), buffer, strnlen(buffer, sizeof(hostname)));
    return true;
}
