// netplan's back end, reading: one setting from netplan's merged definition
// of the interface, over what a networkmanager.passthrough block sets.
#include <stdint.h>

#include <string>

#include <yaml-cpp/yaml.h>

#include "gateway_check.h"
#include "log.h"
#include "network_netplan.h"
#include "network_netplan_yaml.h"
#include "network_parse.h"
#include "text_copy.h"

namespace {

const char* const __log_tag = "Network";

} // namespace

bool get_netplan_Passthrough_Setting(const std::string& document, const std::string& entry, Config_Type type,
                                     std::string* value)
{
    try {
        const YAML::Node network = get_Document_Node(document)["network"];
        const YAML::Node ethernets = is_Map(network) ? network["ethernets"] : YAML::Node();
        return is_Map(ethernets) && get_Passthrough_Node_Setting(ethernets[entry], type, value);
    } catch (const std::exception&) {
        return false;
    }
}

bool get_netplan_Entry_Readable(const Interface_Owner& owner)
{
    try {
        const YAML::Node document = get_Document_Node(owner.document);
        const YAML::Node network = document["network"];
        const YAML::Node ethernets = is_Map(network) ? network["ethernets"] : YAML::Node();
        return is_Map(ethernets) && is_Map(ethernets[owner.entry]);
    } catch (const std::exception&) {
        return false;
    }
}

uint8_t get_netplan_Config(Config_Type type, const Interface_Owner& owner, char* buffer,
                           unsigned int buffer_length)
{
    if (!owner.error.empty()) {
        LOG_ERROR_AS("get_Config", "Config File Load Error: %s", get_Log_Text(owner.error).c_str());
        return 1;
    }
    try {
        const YAML::Node document = get_Document_Node(owner.document);
        const YAML::Node network = document["network"];
        const YAML::Node ethernets = network.IsDefined() ? network["ethernets"] : network;
        const YAML::Node entry = ethernets.IsDefined() ? ethernets[owner.entry] : ethernets;
        if (!entry.IsDefined()) {
            LOG_ERROR_AS("get_Config", "target inferface is not defined");
            return 1;
        }
        // What the passthrough block sets is what NetworkManager gets, over netplan's own keys.
        std::string overridden;
        if (get_Passthrough_Node_Setting(entry, type, &overridden)) {
            if (type == Config_Type::MODE)
                buffer[0] = overridden == "0" ? 0 : 1;
            else
                set_Fixed_Length_Copy(buffer, buffer_length, overridden);
            return 0;
        }
        try {
            switch (type) {
            case Config_Type::MODE: {
                const YAML::Node dhcp = entry["dhcp4"];
                buffer[0] = is_Scalar(dhcp) && dhcp.as<bool>() ? 0 : 1;
                return 0;
            }
            case Config_Type::IP_ADDRESS: {
                std::string found = get_IPv4_Entry(entry, netplan_ipv4_pattern);
                set_Fixed_Length_Copy(buffer, buffer_length,
                                      found.empty()
                                          ? get_Interface_Live_Config(owner.interface_name).ip4_address
                                          : found.substr(0, found.find('/')));
                return 0;
            }
            case Config_Type::GATEWAY: {
                std::string gateway = get_Entry_Gateway(entry);
                set_Fixed_Length_Copy(buffer, buffer_length,
                                      gateway.empty() ? get_Live_Default_Gateway(owner.interface_name)
                                                      : gateway);
                return 0;
            }
            case Config_Type::SUBNETMASK: {
                // An IPv4 entry without a prefix tells nothing about the mask.
                std::string found = get_IPv4_Entry(entry, netplan_ipv4_pattern);
                if (found.empty() || found.find('/') == std::string::npos)
                    set_Fixed_Length_Copy(buffer, buffer_length,
                                          get_Interface_Live_Config(owner.interface_name).ip4_subnetmask);
                else
                    set_Fixed_Length_Copy(buffer, buffer_length,
                                          get_Prefix_Subnetmask_Text(get_Prefix_Length(found)));
                return 0;
            }
            case Config_Type::DNS1:
            case Config_Type::DNS2: {
                // DNS1 and DNS2 are the first two IPv4 servers; IPv6 ones are not the BMC's.
                std::string server =
                    get_DNS_IPv4_Server(get_Server_List(entry), type == Config_Type::DNS1 ? 0 : 1);
                if (!server.empty())
                    set_Fixed_Length_Copy(buffer, buffer_length, server);
                return 0;
            }
            }
            return 1;
        } catch (const Value_Error& e) {
            LOG_ERROR_AS("get_Config", "Config File Value Error: %s", get_Log_Text(e.what()).c_str());
            return 1;
        } catch (const YAML::BadConversion&) {
            LOG_ERROR_AS("get_Config", "Config File Value Error: dhcp4 is not a boolean");
            return 1;
        }
    } catch (const std::exception&) {
        LOG_ERROR_AS("get_Config", "Config File Load Error");
        return 1;
    }
}
