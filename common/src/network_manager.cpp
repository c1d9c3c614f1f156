// The NetworkManager back end: settings read with "nmcli -t" and written
// with one "nmcli con mod" into the interface's profile, named by its UUID.
#include <string.h>

#include <algorithm>
#include <sstream>
#include <vector>

#include "extra_command_handling.h"
#include "log.h"
#include "gateway_check.h"
#include "network_manager.h"
#include "network_parse.h"
#include "text_copy.h"

namespace {

const char* const __log_tag = "Network";
const size_t answer_buffer_length = 128;
const int answer_capture_length = 127;

std::string get_Field_Query(Config_Type type)
{
    switch (type) {
    case Config_Type::MODE:
        return "nmcli -t -f ipv4.method con show uuid ";
    case Config_Type::IP_ADDRESS:
    case Config_Type::SUBNETMASK:
        return "nmcli -t -f ipv4.addresses con show uuid ";
    case Config_Type::GATEWAY:
        return "nmcli -t -f ipv4.gateway con show uuid ";
    case Config_Type::DNS1:
    case Config_Type::DNS2:
        return "nmcli -t -f ipv4.dns con show uuid ";
    }
    return "";
}

// nmcli lists a profile's addresses as "a/24, b/24".
std::vector<std::string> get_Address_List(const std::string& value)
{
    std::vector<std::string> list;
    std::istringstream in(value);
    for (std::string item; std::getline(in, item, ',');) {
        size_t start = item.find_first_not_of(' ');
        if (start != std::string::npos)
            list.push_back(item.substr(start, item.find_last_not_of(' ') - start + 1));
    }
    return list;
}

std::string get_Joined(const std::vector<std::string>& list)
{
    std::string text;
    for (const std::string& item : list)
        text += (text.empty() ? "" : ",") + item;
    return text;
}

} // namespace

std::string get_Network_Manager_Modify_Command(const Network_Config& staged, const std::string& uuid,
                                               const std::string& current)
{
    std::vector<std::string> addresses = get_Address_List(get_Nmcli_Field(current, "ipv4.addresses"));
    // An automatic profile's addresses are all the operator's own: none is managed.
    if (get_Nmcli_Field(current, "ipv4.method") == "manual" && !addresses.empty())
        addresses.erase(addresses.begin());
    std::string command = "nmcli con mod uuid " + get_Shell_Word(uuid) + " ipv4.method " +
                          (staged.ip4_dhcp ? "auto" : "manual");
    if (!staged.ip4_dhcp) {
        unsigned int prefix = get_Subnetmask_Bit_Count(staged.ip4_subnetmask.c_str());
        std::string managed = staged.ip4_address + "/" + std::to_string(prefix);
        addresses.erase(std::remove(addresses.begin(), addresses.end(), managed), addresses.end());
        addresses.insert(addresses.begin(), managed);
    }
    command += " ipv4.addresses " + get_Shell_Quoted_Word(get_Joined(addresses));
    // An empty gateway clears the profile's: no default route (DHCP brings its own).
    command += " ipv4.gateway " +
               get_Shell_Quoted_Word(
                   staged.ip4_dhcp || get_Gateway_None(staged.ip4_gateway) ? "" : staged.ip4_gateway);
    // The servers after DNS1 and DNS2 are the operator's: they stay, in order.
    if (!staged.dns1.empty() || !staged.dns2.empty())
        command += " ipv4.dns " +
                   get_Shell_Quoted_Word(get_Joined(get_DNS_List_Merged(
                       get_Address_List(get_Nmcli_Field(current, "ipv4.dns")), staged.dns1, staged.dns2)));
    return command;
}

uint8_t get_Network_Manager_Config(Config_Type type, const Interface_Owner& owner, char* buffer,
                                   unsigned int buffer_length)
{
    if (!owner.error.empty()) {
        LOG_ERROR_AS("get_Config", "%s", get_Log_Text(owner.error).c_str());
        return 1;
    }
    char captured[answer_buffer_length];
    memset(captured, 0, sizeof(captured));
    std::string query = get_Field_Query(type) + get_Shell_Word(owner.entry);
    bool timed_out = false;
    set_Probe_Command(query.c_str(), captured, answer_capture_length, probe_timeout_seconds, &timed_out);
    // An answer NetworkManager did not give at all leaves the setting unread, never filled from the live
    // facts.
    if (timed_out && captured[0] == '\0')
        return 1;
    std::string answer(captured, strnlen(captured, sizeof(captured)));

    std::string text;
    Nmcli_Read read = Nmcli_Read::VALUE;
    switch (type) {
    case Config_Type::MODE:
        buffer[0] = get_Nmcli_Method_Auto(answer) ? 0 : 1;
        return 0;
    case Config_Type::IP_ADDRESS:
        read = get_Nmcli_Address(answer, &text);
        if (read == Nmcli_Read::FALLBACK)
            text = get_Interface_Live_Config(owner.interface_name).ip4_address;
        break;
    case Config_Type::SUBNETMASK: {
        unsigned int prefix = 0;
        read = get_Nmcli_Prefix(answer, &prefix);
        text = read == Nmcli_Read::FALLBACK ? get_Interface_Live_Config(owner.interface_name).ip4_subnetmask
                                            : get_Prefix_Subnetmask_Text(prefix);
        break;
    }
    case Config_Type::GATEWAY:
        read = get_Nmcli_Gateway(answer, &text);
        if (read == Nmcli_Read::FALLBACK)
            text = get_Live_Default_Gateway(owner.interface_name);
        break;
    case Config_Type::DNS1:
    case Config_Type::DNS2:
        read = get_Nmcli_DNS(answer, type == Config_Type::DNS1 ? 0 : 1, &text);
        break;
    }
    if (read == Nmcli_Read::INVALID) {
        LOG_ERROR_AS("get_Config", "Config File Value Error: unexpected nmcli answer");
        return 1;
    }
    if (read != Nmcli_Read::UNTOUCHED)
        set_Fixed_Length_Copy(buffer, buffer_length, text);
    return 0;
}

std::string get_Network_Manager_Current(const Interface_Owner& owner)
{
    std::string current;
    get_Probe_Output(
        ("nmcli -t -f ipv4.method,ipv4.addresses,ipv4.dns con show uuid " + get_Shell_Word(owner.entry))
            .c_str(),
        &current);
    return current;
}
