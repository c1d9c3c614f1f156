#include "bmc_frame.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "hex_text.h"

namespace {

// printf-style text for the monitor's lines; empty only if formatting fails.
__attribute__((format(printf, 1, 2))) std::string get_Format_Text(const char* format, ...)
{
    char text[96];
    va_list arguments;
    va_start(arguments, format);
    // va_start is just above; the analyzer loses it when it reads several files in one run.
    int n = vsnprintf(text, sizeof(text), format, arguments); // NOLINT(clang-analyzer-valist.Uninitialized)
    va_end(arguments);
    return n < 0 ? std::string() : std::string(text);
}

const uint8_t max_address_value = static_cast<uint8_t>(BMC::ADDRESS::USER_MANAGEMENT);
const uint8_t max_packet_type_value = static_cast<uint8_t>(BMC::PACKET_TYPE::WRITE_RESPONSE);
const uint8_t max_data_type_value = static_cast<uint8_t>(BMC::DATA_TYPE::STRING);
const size_t max_skip_length = 256;
const uint8_t max_node_id_value = static_cast<uint8_t>(BMC::NODE_ID::PEC_32);

const char* const packet_type_names[] = {"ERROR",         "PING",  "PING_RESPONSE", "READ",
                                         "READ_RESPONSE", "WRITE", "WRITE_RESPONSE"};
const char* const address_names[] = {"DESCRIPTION", "HOTSWAP", "POWER",          "PSU",     "FAN",
                                     "STATUS",      "BRIDGE1", "BRIDGE2",        "BRIDGE3", "BRIDGE4",
                                     "BRIDGE5",     "BRIDGE6", "BRIDGE7",        "BRIDGE8", "NETWORK",
                                     "BOOT",        "DISPLAY", "USER_MANAGEMENT"};
const char* const data_type_names[] = {"UINT8",  "INT8",  "UINT16", "INT16",  "UINT32", "INT32",
                                       "UINT64", "INT64", "FLOAT",  "DOUBLE", "STRING"};
// Item names as the BMC spells them.
const char* const description_names[] = {"PROCUCT_NAME",
                                         "VERSION",
                                         "IP_ADDRESS",
                                         "SERIAL_NUMBER",
                                         "MANAGER_EMAIL_ADDRESS",
                                         "OS",
                                         "INFORMATION",
                                         "LOCATION",
                                         "MEMO",
                                         "DISK_COUNT",
                                         "DISK_NAME",
                                         "DISK_SIZE",
                                         "CPU_COUNT",
                                         "CPU_MENUFACTURER_NAME",
                                         "CPU_PRUDCUT_NAME",
                                         "CPU_SERIAL_NUMBER",
                                         "CPU_SPEED",
                                         "CPU_CORE_COUNT",
                                         "MEMORY_COUNT",
                                         "MEMORY_SIZE",
                                         "MEMORY_SLOT",
                                         "MEMORY_TYPE",
                                         "MEMORY_MENUFACTURER",
                                         "MEMORY_SPEED",
                                         "MEMORY_SERIAL_NUMBER",
                                         "MEMORY_PART_NUMBER",
                                         "HARDWARE_VERSION"};
const char* const network_names[] = {
    "CONFIG_MODE", "CONFIG_IP_ADDRESS", "CONFIG_GATEWAY",  "CONFIG_SUBNETMASK", "CONFIG_DNS1",
    "CONFIG_DNS2", "CONFIG_APPLY",      "CONFIG_HOSTNAME", "CONFIG_MACADDRESS", "CONFIG_RESET"};

template <size_t N> std::string get_Table_Name(const char* const (&table)[N], uint8_t value)
{
    if (value < N)
        return table[value];
    return get_Format_Text("0x%02X", value);
}

std::string get_Hex_Text(const std::vector<uint8_t>& raw, const char* separator)
{
    std::string text;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (i != 0)
            text += separator;
        append_Hex_Byte(&text, raw[i]);
    }
    return text;
}

// Text data up to its NUL, with anything unprintable (and quotes) escaped,
// valid for both the text line and a JSON string.
std::string get_Escaped_Text(const uint8_t* data, size_t length)
{
    std::string text;
    for (size_t i = 0; i < length && data[i] != '\0'; ++i) {
        uint8_t c = data[i];
        if (c == '"' || c == '\\') {
            text += '\\';
            text += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            text += get_Format_Text("\\u%04x", c);
        } else {
            text += static_cast<char>(c);
        }
    }
    return text;
}

template <typename T> T get_Element(const uint8_t* data)
{
    T value;
    memcpy(&value, data, sizeof(T));
    return value;
}

std::string get_Element_Text(BMC::DATA_TYPE type, const uint8_t* data)
{
    std::string text;
    switch (type) {
    case BMC::DATA_TYPE::UINT8:
        text = get_Format_Text("%u", get_Element<uint8_t>(data));
        break;
    case BMC::DATA_TYPE::INT8:
        text = get_Format_Text("%d", get_Element<int8_t>(data));
        break;
    case BMC::DATA_TYPE::UINT16:
        text = get_Format_Text("%u", get_Element<uint16_t>(data));
        break;
    case BMC::DATA_TYPE::INT16:
        text = get_Format_Text("%d", get_Element<int16_t>(data));
        break;
    case BMC::DATA_TYPE::UINT32:
        text = get_Format_Text("%u", get_Element<uint32_t>(data));
        break;
    case BMC::DATA_TYPE::INT32:
        text = get_Format_Text("%d", get_Element<int32_t>(data));
        break;
    case BMC::DATA_TYPE::UINT64:
        text = get_Format_Text("%llu", static_cast<unsigned long long>(get_Element<uint64_t>(data)));
        break;
    case BMC::DATA_TYPE::INT64:
        text = get_Format_Text("%lld", static_cast<long long>(get_Element<int64_t>(data)));
        break;
    case BMC::DATA_TYPE::FLOAT:
        text = get_Format_Text("%.9g", get_Element<float>(data));
        break;
    case BMC::DATA_TYPE::DOUBLE:
        text = get_Format_Text("%.17g", get_Element<double>(data));
        break;
    default:
        break;
    }
    // JSON has no NaN or infinity; those go as text.
    if (text.find("nan") != std::string::npos || text.find("inf") != std::string::npos)
        return "\"" + text + "\"";
    return text;
}

// The decoded value: a quoted text, one number, a list of numbers, or empty
// when the data does not divide into elements of its type.
std::string get_Value_Text(const BMC::Packet& packet)
{
    size_t length = BMC::get_Packet_Data_Length(packet);
    if (length == 0 || packet.data == nullptr)
        return "";
    BMC::DATA_TYPE type = BMC::get_Packet_Data_Type(packet);
    if (type == BMC::DATA_TYPE::STRING)
        return "\"" + get_Escaped_Text(packet.data, length) + "\"";
    size_t count = BMC::get_Packet_Data_Count(packet);
    if (count == 0)
        return "";
    size_t size = BMC::get_Data_Type_Size(type);
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        if (i != 0)
            text += ",";
        text += get_Element_Text(type, packet.data + i * size);
    }
    return count == 1 ? text : "[" + text + "]";
}

bool get_Length_Byte_Valid(uint8_t n)
{
    return n >= BMC::packet_ping_header_length && n != BMC::packet_ping_header_length + 1;
}

// The header bytes at hand (up to five) fit a packet of length `n`.
bool get_Header_Valid(const uint8_t* bytes, size_t available, uint8_t n)
{
    if (available < 3)
        return true;
    uint8_t type = bytes[2] & BMC::PACKET_TYPE_MASK;
    bool ping = type == static_cast<uint8_t>(BMC::PACKET_TYPE::PING) ||
                type == static_cast<uint8_t>(BMC::PACKET_TYPE::PING_RESPONSE);
    uint8_t data_type = (bytes[2] & BMC::PACKET_DATA_TYPE_MASK) >> 3;
    if (type > max_packet_type_value || ping != (n == BMC::packet_ping_header_length))
        return false;
    if (ping)
        return true;
    return data_type <= max_data_type_value && (available < 4 || bytes[3] <= max_address_value);
}

// A packet may start here: its length byte is sound and so is as much of
// its header as the bytes at hand show.
bool get_Plausible_Start(const uint8_t* bytes, size_t available)
{
    return get_Length_Byte_Valid(bytes[0]) && get_Header_Valid(bytes, available, bytes[0]);
}

} // namespace

std::string get_Frame_Error(const uint8_t* bytes, size_t length)
{
    if (length == 0)
        return "empty packet";
    uint8_t n = bytes[0];
    if (!get_Length_Byte_Valid(n))
        return get_Format_Text("malformed length byte 0x%02x", n);
    if (!get_Header_Valid(bytes, length, n))
        return get_Format_Text("malformed header %02x %02x %02x", bytes[0], bytes[1], bytes[2]);
    if (length < n)
        return get_Format_Text("truncated packet: %u bytes announced, %zu received", n, length);
    if (length > n)
        return get_Format_Text("length byte 0x%02x but %zu bytes", n, length);
    return "";
}

void BMC_Frame_Reader::set_Bytes(const uint8_t* bytes, size_t length)
{
    pending.insert(pending.end(), bytes, bytes + length);
}

bool BMC_Frame_Reader::get_Next_Event(Event* event)
{
    return get_Event(event, false);
}

bool BMC_Frame_Reader::get_Final_Event(Event* event)
{
    return get_Event(event, true);
}

bool BMC_Frame_Reader::get_Event(Event* event, bool at_end)
{
    if (pending.empty())
        return false;
    size_t n = pending[0];
    bool length_valid = get_Length_Byte_Valid(pending[0]);
    std::string error;
    size_t taken = n;
    if (length_valid && pending.size() < n) {
        if (!at_end)
            return false;
        error = get_Frame_Error(pending.data(), pending.size());
        taken = pending.size();
    } else {
        error = get_Frame_Error(pending.data(), length_valid ? n : 1);
    }
    if (!error.empty() && taken == n) {
        // Skip to the next byte that could start a packet, as one error.
        taken = 1;
        while (taken < pending.size() && taken < max_skip_length &&
               !get_Plausible_Start(&pending[taken], pending.size() - taken))
            ++taken;
        // Garbage running to the end of the bytes at hand may go on: wait, within reason.
        if (taken == pending.size() && !at_end && taken < max_skip_length)
            return false;
        if (taken > 1)
            error += ", " + std::to_string(taken) + " bytes skipped";
    }
    event->is_packet = error.empty();
    event->error = error;
    event->bytes.assign(pending.begin(), pending.begin() + static_cast<long>(taken));
    pending.erase(pending.begin(), pending.begin() + static_cast<long>(taken));
    return true;
}

std::string get_Node_Name(uint8_t node_id)
{
    if (node_id == 0)
        return "BMC";
    if (node_id <= max_node_id_value)
        return "PEC_" + std::to_string(node_id);
    return get_Format_Text("0x%02X", node_id);
}

std::string get_Packet_Type_Name(uint8_t type)
{
    return get_Table_Name(packet_type_names, type);
}
std::string get_Address_Name(uint8_t address)
{
    return get_Table_Name(address_names, address);
}
std::string get_Data_Type_Name(uint8_t data_type)
{
    return get_Table_Name(data_type_names, data_type);
}

std::string get_Subaddress_Name(uint8_t address, uint8_t subaddress)
{
    if (address == static_cast<uint8_t>(BMC::ADDRESS::DESCRIPTION))
        return get_Table_Name(description_names, subaddress);
    if (address == static_cast<uint8_t>(BMC::ADDRESS::NETWORK))
        return get_Table_Name(network_names, subaddress);
    return std::to_string(subaddress);
}

std::string get_Packet_Line(const BMC::Packet& packet, const std::vector<uint8_t>& raw, double seconds,
                            bool json)
{
    bool has_address = packet.packet_length >= BMC::packet_header_length;
    std::string node = get_Node_Name(static_cast<uint8_t>(BMC::get_Packet_Node_ID(packet)));
    std::string type = get_Packet_Type_Name(static_cast<uint8_t>(BMC::get_Packet_Type(packet)));
    uint8_t address = static_cast<uint8_t>(packet.address);
    std::string address_name = has_address ? get_Address_Name(address) : "";
    std::string subaddress = has_address ? get_Subaddress_Name(address, packet.subaddress) : "";
    bool has_data = BMC::get_Packet_Data_Length(packet) != 0;
    std::string data_type =
        has_data ? get_Data_Type_Name(static_cast<uint8_t>(BMC::get_Packet_Data_Type(packet))) : "";
    std::string value = get_Value_Text(packet);
    bool broadcast = BMC::get_Packet_Broadcast(packet);
    bool response = BMC::get_Packet_Response_Require_Flag(packet);
    std::string time_text = get_Format_Text("%.3f", seconds);

    if (json) {
        std::string line = std::string("{\"t\":") + time_text +
                           ",\"length\":" + std::to_string(packet.packet_length) + ",\"node\":\"" + node +
                           "\",\"broadcast\":" + (broadcast ? "true" : "false") + ",\"type\":\"" + type +
                           "\",\"response_required\":" + (response ? "true" : "false");
        if (has_address)
            line += ",\"address\":\"" + address_name + "\",\"subaddress\":\"" + subaddress +
                    "\",\"subaddress_value\":" + std::to_string(packet.subaddress);
        if (has_data)
            line += ",\"data_type\":\"" + data_type + "\",\"value\":" + (value.empty() ? "null" : value);
        return line + ",\"raw\":\"" + get_Hex_Text(raw, "") + "\"}";
    }
    std::string line = std::string("+") + time_text + "s " + node + " " + type;
    if (broadcast)
        line += " broadcast";
    if (response)
        line += " response-required";
    if (has_address)
        line += " " + address_name + "/" + subaddress;
    if (has_data)
        line += " " + data_type + " " + (value.empty() ? "(undecodable)" : value);
    return line + " | " + get_Hex_Text(raw, " ");
}

std::string get_Error_Line(const std::string& error, const std::vector<uint8_t>& raw, double seconds,
                           bool json)
{
    std::string time_text = get_Format_Text("%.3f", seconds);
    if (json)
        return std::string("{\"t\":") + time_text + ",\"error\":\"" + error + "\",\"raw\":\"" +
               get_Hex_Text(raw, "") + "\"}";
    std::string line = std::string("+") + time_text + "s ERROR " + error;
    return raw.empty() ? line : line + " | " + get_Hex_Text(raw, " ");
}
