#include "network_parse.h"

#include <stdio.h>
#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <sstream>
#include <vector>

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

bool get_Route_Table_Line(const std::string& line, Route_Line* route)
{
    std::vector<std::string> fields;
    size_t start = 0;
    while (start <= line.size()) {
        size_t tab = line.find('\t', start);
        std::string field = line.substr(start, tab == std::string::npos ? std::string::npos : tab - start);
        size_t last = field.find_last_not_of(" \n");
        fields.push_back(last == std::string::npos ? "" : field.substr(0, last + 1));
        if (tab == std::string::npos)
            break;
        start = tab + 1;
    }
    // Iface, Destination, Gateway, Flags, RefCnt, Use, Metric, Mask, ...
    if (fields.size() < 8 || fields[0] == "Iface" || fields[0].empty())
        return false;
    route->interface_name = fields[0];
    route->destination = fields[1];
    route->gateway = fields[2];
    route->mask = fields[7];
    route->metric = strtoul(fields[6].c_str(), nullptr, 10);
    return true;
}

bool get_Report_Route(const std::string& table, const std::string& managed_interface,
                      std::string* interface_name, std::string* gateway_hex)
{
    bool found_default = false;
    bool found_link = false;
    unsigned long metric = 0;
    std::istringstream in(table);
    for (std::string line; std::getline(in, line);) {
        Route_Line route;
        if (!get_Route_Table_Line(line, &route))
            continue;
        bool default_route = route.destination == "00000000" && route.mask == "00000000";
        if (default_route && (!found_default || route.metric < metric)) {
            found_default = true;
            metric = route.metric;
            *interface_name = route.interface_name;
            *gateway_hex = route.gateway;
        } else if (!found_default && !found_link && route.gateway == "00000000" &&
                   route.interface_name == managed_interface) {
            found_link = true;
            *interface_name = route.interface_name;
            *gateway_hex = route.gateway;
        }
    }
    return found_default || found_link;
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

namespace {

// A valid dotted quad as a number, most significant byte first.
uint32_t get_Address_Value(const std::string& text)
{
    uint32_t value = 0;
    size_t start = 0;
    for (int part = 0; part < 4; ++part) {
        size_t end = text.find('.', start);
        value = (value << 8) | static_cast<uint32_t>(std::stoi(text.substr(start, end - start)));
        start = end + 1;
    }
    return value;
}

} // namespace

std::string get_Unicast_Refusal(const std::string& address)
{
    if (!get_IPv4_Address_Valid(address))
        return address + " is not an IPv4 address";
    uint32_t value = get_Address_Value(address);
    if (value == 0)
        return "0.0.0.0 is no host's address";
    if ((value >> 24) == 127)
        return address + " is a loopback address (127.0.0.0/8)";
    if ((value >> 28) == 0xE)
        return address + " is a multicast address (224.0.0.0/4)";
    if ((value >> 28) == 0xF)
        return address + " is a reserved address (240.0.0.0/4)";
    return "";
}

std::string get_Static_Record_Fault(const std::string& address, const std::string& mask,
                                    const std::string& gateway)
{
    uint32_t host = get_Address_Value(address);
    unsigned int prefix = get_Subnetmask_Bit_Count(mask.c_str());
    uint32_t net_mask = prefix == 0 ? 0u : 0xFFFFFFFFu << (32 - std::min(prefix, 32u));
    std::string subnet = address + "/" + std::to_string(prefix);
    // A /31 or /32 has no network or broadcast address: both ends are hosts.
    if (prefix <= 30 && (host & ~net_mask) == 0)
        return address + " is the network address of " + subnet;
    if (prefix <= 30 && (host & ~net_mask) == ~net_mask)
        return address + " is the broadcast address of " + subnet;
    if (get_Gateway_None(gateway))
        return "";
    uint32_t via = get_Address_Value(gateway);
    if (via == host)
        return "gateway " + gateway + " is the host's own address";
    if ((via & net_mask) != (host & net_mask))
        return "gateway " + gateway + " is outside " + subnet + ": the kernel would refuse the route";
    return "";
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

std::vector<std::string> get_DNS_List_Merged(const std::vector<std::string>& current, const std::string& dns1,
                                             const std::string& dns2)
{
    std::vector<std::string> given;
    for (const std::string& server : {dns1, dns2})
        if (!server.empty() && server != "0.0.0.0")
            given.push_back(server);
    std::vector<std::string> merged;
    size_t places = 0;
    // Where the servers not given a place of their own go: after the last IPv4 place, else first.
    size_t rest_at = 0;
    for (const std::string& server : current) {
        if (places < 2 && get_IPv4_Address_Valid(server)) {
            if (places < given.size())
                merged.push_back(given[places]);
            ++places;
            rest_at = merged.size();
            continue;
        }
        merged.push_back(server);
    }
    for (size_t i = places; i < given.size(); ++i)
        merged.insert(merged.begin() + static_cast<std::ptrdiff_t>(rest_at++), given[i]);
    return merged;
}

std::string get_DNS_IPv4_Server(const std::vector<std::string>& list, size_t index)
{
    for (const std::string& server : list)
        if (get_IPv4_Address_Valid(server) && index-- == 0)
            return server;
    return "";
}

bool get_Uuid_Valid(const std::string& text)
{
    if (text.size() != 36)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != '-' : !isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    }
    return true;
}
