#include "network_parse.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const size_t max_interface_name_length = 15;

// From just after the first ':' (from the start without one).
size_t get_Value_Start(const std::string& answer)
{
    size_t colon = answer.find(':');
    return colon == std::string::npos ? 0 : colon + 1;
}

size_t get_Line_End(const std::string& answer, size_t from)
{
    size_t end = answer.find('\n', from);
    return end == std::string::npos ? answer.size() : end;
}

} // namespace

uint8_t get_Subnetmask_Bit_Count(const char* str)
{
    char work[100];
    memset(work, 0, sizeof(work));
    strncpy(work, str, sizeof(work) - 1);
    uint8_t total = 0;
    const char* field = work;
    for (int i = 0; i < 4; ++i) {
        long value = strtol(field, nullptr, 10);
        for (int bit = 7; bit >= 0 && (value & (1 << bit)) != 0; --bit)
            ++total;
        const char* dot = strchr(field, '.');
        field = dot != nullptr ? dot + 1 : field + strlen(field);
    }
    return total;
}

std::string get_Prefix_Subnetmask_Text(unsigned int prefix)
{
    uint32_t mask = prefix == 0 ? 0 : (prefix >= 32 ? 0xFFFFFFFFu : ~((1u << (32 - prefix)) - 1));
    return get_Dotted_Quad_Text(mask);
}

std::string get_Dotted_Quad_Text(uint32_t value)
{
    return std::to_string(value >> 24) + "." + std::to_string((value >> 16) & 0xFF) + "." +
           std::to_string((value >> 8) & 0xFF) + "." + std::to_string(value & 0xFF);
}

bool get_Route_Table_Line(const std::string& line, std::string* interface_name, std::string* gateway_hex)
{
    if (line.find("Destination") != std::string::npos || line.find("00000000") == std::string::npos)
        return false;
    size_t first_tab = line.find('\t');
    *interface_name = line.substr(0, first_tab);
    gateway_hex->clear();
    if (first_tab == std::string::npos)
        return true;
    size_t second_tab = line.find('\t', first_tab + 1);
    if (second_tab == std::string::npos)
        return true;
    size_t third_tab = line.find('\t', second_tab + 1);
    *gateway_hex = line.substr(second_tab + 1, third_tab == std::string::npos ? std::string::npos
                                                                              : third_tab - second_tab - 1);
    return true;
}

std::string get_Route_Address_Text(const std::string& hex)
{
    // The kernel prints the address as it lies in memory: first byte lowest.
    uint32_t value = static_cast<uint32_t>(strtoul(hex.c_str(), nullptr, 16));
    return get_Dotted_Quad_Text(__builtin_bswap32(value));
}

bool get_IPv4_Address_Valid(const std::string& text)
{
    size_t start = 0;
    for (int part = 0; part < 4; ++part) {
        size_t end = part < 3 ? text.find('.', start) : text.size();
        if (end == std::string::npos)
            return false;
        std::string number = text.substr(start, end - start);
        if (number.empty() || number.size() > 3 ||
            number.find_first_not_of("0123456789") != std::string::npos)
            return false;
        if ((number.size() > 1 && number[0] == '0') || std::stoi(number) > 255)
            return false;
        start = end + 1;
    }
    return true;
}

bool get_Subnetmask_Valid(const std::string& text)
{
    if (!get_IPv4_Address_Valid(text))
        return false;
    uint32_t mask = 0;
    size_t start = 0;
    for (int part = 0; part < 4; ++part) {
        size_t end = text.find('.', start);
        mask = (mask << 8) | static_cast<uint32_t>(std::stoi(text.substr(start, end - start)));
        start = end + 1;
    }
    // Contiguous ones from the top: the inverted mask plus one is a power of two.
    uint32_t host_bits = ~mask;
    return (host_bits & (host_bits + 1)) == 0;
}

bool get_Interface_Name_Valid(const std::string& name)
{
    if (name.empty() || name.size() > max_interface_name_length || name == "." || name == "..")
        return false;
    for (unsigned char c : name)
        if (c <= ' ' || c == 0x7F || c == '/' || c == ':' || c == '\'' || c == '"')
            return false;
    return true;
}

bool get_Gateway_None(const std::string& gateway)
{
    return gateway.empty() || gateway == "0.0.0.0";
}

std::string get_Static_Record_Missing(const std::string& address, const std::string& mask,
                                      const std::string& gateway)
{
    std::string missing;
    auto add = [&missing](const char* what) { missing += (missing.empty() ? "" : ", ") + std::string(what); };
    if (!get_IPv4_Address_Valid(address) || address == "0.0.0.0")
        add("an address other than 0.0.0.0");
    if (!get_Subnetmask_Valid(mask) || mask == "0.0.0.0")
        add("a subnet mask with a prefix of 1 to 32");
    if (!get_Gateway_None(gateway) && !get_IPv4_Address_Valid(gateway))
        add("a gateway that is an IPv4 address");
    return missing;
}

bool get_Nmcli_Method_Auto(const std::string& answer)
{
    return answer.find(":auto") != std::string::npos;
}

Nmcli_Read get_Nmcli_Address(const std::string& answer, std::string* address)
{
    size_t slash = answer.find('/');
    if (slash == std::string::npos)
        return Nmcli_Read::FALLBACK;
    size_t start = get_Value_Start(answer);
    if (start > slash)
        return Nmcli_Read::INVALID;
    *address = answer.substr(start, slash - start);
    return Nmcli_Read::VALUE;
}

Nmcli_Read get_Nmcli_Prefix(const std::string& answer, unsigned int* prefix)
{
    size_t slash = answer.find('/');
    if (slash == std::string::npos)
        return Nmcli_Read::FALLBACK;
    size_t digits = answer.find_first_not_of("0123456789", slash + 1);
    size_t end = digits == std::string::npos ? answer.size() : digits;
    if (end == slash + 1 || end - slash - 1 > 2)
        return Nmcli_Read::INVALID;
    if (end < answer.size() && answer[end] != '\n' && answer[end] != ',' && answer[end] != ' ')
        return Nmcli_Read::INVALID;
    unsigned int value = static_cast<unsigned int>(std::stoul(answer.substr(slash + 1, end - slash - 1)));
    if (value > 32)
        return Nmcli_Read::INVALID;
    *prefix = value;
    return Nmcli_Read::VALUE;
}

Nmcli_Read get_Nmcli_Gateway(const std::string& answer, std::string* gateway)
{
    size_t start = get_Value_Start(answer);
    size_t end = get_Line_End(answer, start);
    if (start != 0 && end == start && end < answer.size())
        return Nmcli_Read::FALLBACK;
    *gateway = answer.substr(start, end - start);
    return Nmcli_Read::VALUE;
}

Nmcli_Read get_Nmcli_DNS(const std::string& answer, int index, std::string* server)
{
    size_t start = get_Value_Start(answer);
    if (index == 1) {
        size_t comma = answer.find(',');
        if (comma == std::string::npos)
            return Nmcli_Read::UNTOUCHED;
        start = comma + 1;
    }
    size_t line_end = get_Line_End(answer, start);
    size_t comma = answer.find(',', start);
    size_t end = comma != std::string::npos && comma < line_end ? comma : line_end;
    if (index == 0 && start != 0 && end == start)
        return Nmcli_Read::UNTOUCHED;
    *server = answer.substr(start, end - start);
    return Nmcli_Read::VALUE;
}
