#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "extra_command_handling.h"
#include "gateway_check.h"
#include "log.h"
#include "network.h"
#include "text_copy.h"

namespace {

const char* const __log_tag = "Network";
const char* const nm_service_query = "systemctl is-active NetworkManager";
const int service_answer_length = 32;

} // namespace

const char* const Network::MANAGER_TYPE_STRING[5] = {"UNKNOWN", "netplan", "ifupdown", "network manager",
                                                     "systemd-networkd"};

Network::MANAGER_TYPE Network::selected_manager = Network::MANAGER_TYPE::UNKNOWN;
std::vector<Network::CONFIG_TYPE> Network::staged_types;
bool Network::owner_kept = false;
std::unique_ptr<Network::Owner> Network::kept_owner;
bool Network::kept_under_hold = false;
Network::Config Network::default_network_info;
bool Network::default_network_info_update_flag = false;
Network::Config Network::config = [] {
    Network::Config staged;
    staged.target_interface = "eth0";
    return staged;
}();
const std::regex Network::ipv4_regex(R"((((25[0-5]|(2[0-4]|1\d|[1-9]|)\d)\.?\b){4})/?.*)",
                                     std::regex::ECMAScript);
const char* const Network::netplan_config_path = "/etc/netplan/01-netcfg.yaml";
const char* const Network::nmcli_config_path = "/etc/NetworkManager/system-connections/";
const char* const Network::nmcli_config_prefix =
    "[connection]\ntype=ethernet\nautoconnect=yes\nautoconnect-priority=0\ninterface-name=";
const char* const Network::nmcli_config_postfix = "\n[ethernet]\n\n[ipv4]\nmethod=auto\n\n[proxy]\n";

const char* Network::get_Interface_Name()
{
    return config.target_interface.c_str();
}

// The fallback reads eth0's own facts, never the default-route interface's: another interface's
// address or gateway is no setting of eth0.
std::string Network::get_Live_Gateway()
{
    return get_Live_Default_Gateway(config.target_interface);
}

std::string Network::get_Live_Address()
{
    return get_Interface_Live_Info().ip4_address;
}

std::string Network::get_Live_Subnetmask()
{
    return get_Interface_Live_Info().ip4_subnetmask;
}

Network::Config Network::get_Interface_Live_Info()
{
    Config live;
    live.target_interface = config.target_interface;
    std::vector<Interface_Address> held = get_Interface_Addresses(config.target_interface);
    if (!held.empty()) {
        const std::string& cidr = held.front().cidr;
        size_t slash = cidr.find('/');
        live.ip4_address = cidr.substr(0, slash);
        live.ip4_subnetmask = get_Prefix_Subnetmask_Text(
            static_cast<unsigned int>(strtoul(cidr.c_str() + slash + 1, nullptr, 10)));
    }
    live.ip4_gateway = get_Live_Default_Gateway(config.target_interface);
    return live;
}

// A manager's file counts as present when the daemon may read it.
bool Network::get_File_Readable(const std::string& path, char* buffer, unsigned int buffer_length)
{
    if (path.empty() || access(path.c_str(), R_OK) != 0)
        return false;
    set_Fixed_Length_Copy(buffer, buffer_length, path);
    return true;
}

bool Network::get_netplan_Config_Exist(char* buffer, unsigned int buffer_length)
{
    return get_File_Readable(netplan_config_path, buffer, buffer_length);
}

std::string Network::get_Network_Manager_Config_Path()
{
    if (config.target_interface.empty())
        return "";
    return std::string(nmcli_config_path) + config.target_interface + ".nmconnection";
}

bool Network::get_Network_Manager_Service_Status()
{
    Probe_Run query(nm_service_query);
    return get_Network_Manager_Answer(&query);
}

bool Network::get_Network_Manager_Answer(Probe_Run* query)
{
    std::string output;
    char answer[service_answer_length];
    memset(answer, 0, sizeof(answer));
    if (query->get_Output(&output) == 0)
        set_Output_Last_Line(output, answer, sizeof(answer));
    return strstr(answer, "inactive") == nullptr;
}

const char* Network::get_Network_Manager_Query()
{
    return nm_service_query;
}

const char* Network::get_Selected_Manager_Name()
{
    return MANAGER_TYPE_STRING[static_cast<uint8_t>(selected_manager)];
}
