// The outside face of the network model: select the interface, read one
// setting from its manager, stage or write one, and apply.
#include <string.h>

#include "extra_command_handling.h"
#include "log.h"
#include "network.h"

namespace {

const char* const __log_tag = "Network";
const size_t value_buffer_length = 128;
const uint8_t max_config_type = static_cast<uint8_t>(Network::CONFIG_TYPE::DNS2);

const char* const config_type_name[] = {"MODE", "IP_ADDRESS", "GATEWAY", "SUBNETMASK", "DNS1", "DNS2"};

// A value must be plain before it reaches a stanza file, netplan or nmcli: a
// line break in a stanza value would add lines that run as root.
bool get_Value_Acceptable(Network::CONFIG_TYPE type, const std::string& value)
{
    switch (type) {
    case Network::CONFIG_TYPE::MODE:
        return true;
    case Network::CONFIG_TYPE::IP_ADDRESS:
    case Network::CONFIG_TYPE::GATEWAY:
        return get_IPv4_Address_Valid(value);
    case Network::CONFIG_TYPE::SUBNETMASK:
        return get_Subnetmask_Valid(value);
    case Network::CONFIG_TYPE::DNS1:
    case Network::CONFIG_TYPE::DNS2:
        return value.empty() || get_IPv4_Address_Valid(value);
    }
    return false;
}

} // namespace

void Network::set_Interface_Name(const char* name)
{
    std::string requested = name != nullptr ? name : "";
    // The name becomes part of file paths and command lines.
    if (!requested.empty() && !get_Interface_Name_Valid(requested)) {
        LOG_ERROR("refused interface name: not a valid interface name");
        return;
    }
    config.target_interface = requested;
    if (!update_Owner_Files())
        return;
    // One lookup for all six settings: each asks the managers' tools again.
    Owner owner = get_Owner();
    LOG_INFO("Interface: %s, Manager Type: %s", config.target_interface.c_str(),
             MANAGER_TYPE_STRING[static_cast<uint8_t>(owner.manager)]);
    // A refused profile or stanza is named once, not once per setting.
    if (!owner.error.empty() && owner.manager != MANAGER_TYPE::NETPLAN) {
        LOG_ERROR("%s", get_Log_Text(owner.error).c_str());
        return;
    }
    for (uint8_t t = 0; t <= max_config_type; ++t) {
        CONFIG_TYPE type = static_cast<CONFIG_TYPE>(t);
        char buffer[value_buffer_length];
        memset(buffer, 0, sizeof(buffer));
        if (get_Config(type, owner, buffer, sizeof(buffer)) != 0)
            continue;
        // The buffer may be full without a terminator.
        set_Staged_Setting(type, std::string(buffer, strnlen(buffer, sizeof(buffer))), buffer[0] == 0);
    }
    // The values come from the manager's files and tools.
    LOG_DEBUG("DHCP: %d, IP: %s, Subnetmask: %s, Gateway: %s, DNS1: %s, DNS2: %s", config.ip4_dhcp ? 1 : 0,
              get_Log_Text(config.ip4_address).c_str(), get_Log_Text(config.ip4_subnetmask).c_str(),
              get_Log_Text(config.ip4_gateway).c_str(), get_Log_Text(config.dns1).c_str(),
              get_Log_Text(config.dns2).c_str());
}

void Network::set_Staged_Setting(CONFIG_TYPE type, const std::string& text, bool dhcp)
{
    switch (type) {
    case CONFIG_TYPE::MODE:
        config.ip4_dhcp = dhcp;
        break;
    case CONFIG_TYPE::IP_ADDRESS:
        config.ip4_address = text;
        break;
    case CONFIG_TYPE::GATEWAY:
        config.ip4_gateway = text;
        break;
    case CONFIG_TYPE::SUBNETMASK:
        config.ip4_subnetmask = text;
        break;
    case CONFIG_TYPE::DNS1:
        config.dns1 = text;
        break;
    case CONFIG_TYPE::DNS2:
        config.dns2 = text;
        break;
    }
}

uint8_t Network::get_Config(CONFIG_TYPE type, char* buffer, unsigned int buffer_length)
{
    if (static_cast<uint8_t>(type) > max_config_type || buffer == nullptr || buffer_length == 0)
        return 1;
    return get_Config(type, get_Owner(), buffer, buffer_length);
}

uint8_t Network::get_Config(CONFIG_TYPE type, const Owner& owner, char* buffer, unsigned int buffer_length)
{
    switch (owner.manager) {
    case MANAGER_TYPE::NETPLAN:
        return get_netplan_Config(type, owner, buffer, buffer_length);
    case MANAGER_TYPE::IFUPDOWN:
        if (!owner.error.empty()) {
            LOG_ERROR_AS("get_Config", "%s", get_Log_Text(owner.error).c_str());
            return 1;
        }
        return get_ifupdown_Config(type, owner.file.c_str(), buffer, buffer_length);
    case MANAGER_TYPE::NETWORK_MANAGER:
        return get_Network_Manager_Config(type, owner, buffer, buffer_length);
    case MANAGER_TYPE::UNKNOWN:
        if (!owner.error.empty())
            LOG_ERROR_AS("get_Config", "%s", get_Log_Text(owner.error).c_str());
        break;
    }
    return 1;
}

uint8_t Network::set_Config(CONFIG_TYPE type, const char* str)
{
    if (static_cast<uint8_t>(type) > max_config_type || str == nullptr)
        return 1;
    if (!get_Value_Acceptable(type, str)) {
        LOG_ERROR("refused %s: not a plain IPv4 value", config_type_name[static_cast<uint8_t>(type)]);
        return 1;
    }
    if (!get_Interface_Exist()) {
        LOG_ERROR("refused %s: %s does not exist", config_type_name[static_cast<uint8_t>(type)],
                  get_Log_Text(config.target_interface).c_str());
        return 1;
    }
    if (!update_Owner_Files())
        return 1;
    Owner owner = get_Owner();
    if (!owner.error.empty() && owner.manager != MANAGER_TYPE::NETPLAN) {
        LOG_ERROR("refused %s: %s", config_type_name[static_cast<uint8_t>(type)],
                  get_Log_Text(owner.error).c_str());
        return 1;
    }
    switch (owner.manager) {
    case MANAGER_TYPE::IFUPDOWN:
        return set_ifupdown_Config(type, owner.file.c_str(), str);
    case MANAGER_TYPE::NETPLAN:
    case MANAGER_TYPE::NETWORK_MANAGER:
        set_Staged_Setting(type, str, str[0] == 0);
        return 0;
    case MANAGER_TYPE::UNKNOWN:
        break;
    }
    return 1;
}

bool Network::set_Config_Apply()
{
    if (!get_Interface_Exist()) {
        LOG_ERROR("refused to apply: %s does not exist", get_Log_Text(config.target_interface).c_str());
        return false;
    }
    if (!update_Owner_Files())
        return false;
    Owner owner = get_Owner();
    MANAGER_TYPE manager = owner.manager;
    if (!owner.error.empty() && manager != MANAGER_TYPE::NETPLAN) {
        LOG_ERROR("refused to apply: %s", get_Log_Text(owner.error).c_str());
        return false;
    }
    // A static record that names no usable address would take the host off
    // the network: nothing is written and nothing applied.
    if ((manager == MANAGER_TYPE::NETPLAN || manager == MANAGER_TYPE::NETWORK_MANAGER) && !config.ip4_dhcp) {
        std::string missing =
            get_Static_Record_Missing(config.ip4_address, config.ip4_subnetmask, config.ip4_gateway);
        if (!missing.empty()) {
            LOG_ERROR("refused to apply: static settings need %s", missing.c_str());
            return false;
        }
    }
    switch (manager) {
    case MANAGER_TYPE::IFUPDOWN:
        set_Command("systemctl restart networking.service", nullptr, 0);
        return true;
    case MANAGER_TYPE::NETPLAN:
        if (!update_netplan_Config())
            return false;
        set_Command("netplan apply", nullptr, 0);
        return true;
    case MANAGER_TYPE::NETWORK_MANAGER: {
        update_Network_Manager_Config(owner);
        // Reapply only takes the active profile; an inactive one is brought up on the interface.
        std::string apply = owner.active ? "nmcli device reapply " + get_Shell_Word(config.target_interface)
                                         : "nmcli con up uuid " + get_Shell_Word(owner.entry) + " ifname " +
                                               get_Shell_Word(config.target_interface);
        set_Command(apply.c_str(), nullptr, 0);
        return true;
    }
    case MANAGER_TYPE::UNKNOWN:
        break;
    }
    return false;
}
