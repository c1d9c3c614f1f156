// The NetworkManager back end: settings read with "nmcli -t" and written
// with one "nmcli con mod" into the profile named after the interface.
#include <string.h>

#include "extra_command_handling.h"
#include "log.h"
#include "network.h"
#include "text_copy.h"

namespace {

const char* const __log_tag = "Network";
const size_t answer_buffer_length = 128;
const int answer_capture_length = 127;

std::string get_Field_Query(Network::CONFIG_TYPE type)
{
    switch (type) {
    case Network::CONFIG_TYPE::MODE:
        return "nmcli -t -f ipv4.method con show ";
    case Network::CONFIG_TYPE::IP_ADDRESS:
    case Network::CONFIG_TYPE::SUBNETMASK:
        return "nmcli -t -f ipv4.addresses con show ";
    case Network::CONFIG_TYPE::GATEWAY:
        return "nmcli -t -f ipv4.gateway con show ";
    case Network::CONFIG_TYPE::DNS1:
    case Network::CONFIG_TYPE::DNS2:
        return "nmcli -t -f ipv4.dns con show ";
    }
    return "";
}

} // namespace

std::string get_Network_Manager_Modify_Command(const Network::Config& staged)
{
    std::string command = "nmcli con mod " + get_Shell_Word(staged.target_interface) + " ipv4.method " +
                          (staged.ip4_dhcp ? "auto" : "manual");
    if (!staged.ip4_dhcp) {
        unsigned int prefix = get_Subnetmask_Bit_Count(staged.ip4_subnetmask.c_str());
        command +=
            " ipv4.addresses " + get_Shell_Quoted_Word(staged.ip4_address + "/" + std::to_string(prefix));
        // An empty gateway clears the profile's: no default route.
        command += " ipv4.gateway " +
                   get_Shell_Quoted_Word(get_Gateway_None(staged.ip4_gateway) ? "" : staged.ip4_gateway);
    }
    if (!staged.dns1.empty() || !staged.dns2.empty())
        command += " ipv4.dns " +
                   get_Shell_Quoted_Word(staged.dns1 + (staged.dns1.empty() ? "" : ",") + staged.dns2);
    return command;
}

uint8_t Network::get_Network_Manager_Config(CONFIG_TYPE type, char* buffer, unsigned int buffer_length)
{
    if (!get_Interface_Name_Valid(config.target_interface)) {
        LOG_ERROR_AS("get_Config", "no connection to read: interface name not valid");
        return 1;
    }
    char captured[answer_buffer_length];
    memset(captured, 0, sizeof(captured));
    std::string query = get_Field_Query(type) + get_Shell_Word(config.target_interface);
    set_Probe_Command(query.c_str(), captured, answer_capture_length);
    std::string answer(captured, strnlen(captured, sizeof(captured)));

    std::string text;
    Nmcli_Read read = Nmcli_Read::VALUE;
    switch (type) {
    case CONFIG_TYPE::MODE:
        buffer[0] = get_Nmcli_Method_Auto(answer) ? 0 : 1;
        return 0;
    case CONFIG_TYPE::IP_ADDRESS:
        read = get_Nmcli_Address(answer, &text);
        if (read == Nmcli_Read::FALLBACK)
            text = default_network_info.ip4_address;
        break;
    case CONFIG_TYPE::SUBNETMASK: {
        unsigned int prefix = 0;
        read = get_Nmcli_Prefix(answer, &prefix);
        text = read == Nmcli_Read::FALLBACK ? default_network_info.ip4_subnetmask
                                            : get_Prefix_Subnetmask_Text(prefix);
        break;
    }
    case CONFIG_TYPE::GATEWAY:
        read = get_Nmcli_Gateway(answer, &text);
        if (read == Nmcli_Read::FALLBACK)
            text = get_Live_Gateway();
        break;
    case CONFIG_TYPE::DNS1:
    case CONFIG_TYPE::DNS2:
        read = get_Nmcli_DNS(answer, type == CONFIG_TYPE::DNS1 ? 0 : 1, &text);
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

void Network::update_Network_Manager_Config()
{
    std::string command = get_Network_Manager_Modify_Command(config);
    set_Command(command.c_str(), nullptr, 0);
}
