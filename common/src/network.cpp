#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "extra_command_handling.h"
#include "gateway_check.h"
#include "log.h"
#include "network.h"
#include "network_backend.h"
#include "text_copy.h"

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
const char* Network::get_Interface_Name()
{
    return config.target_interface.c_str();
}

// The selected interface's own facts, never the default-route interface's: another interface's address or
// gateway is no setting of it.
Network::Config Network::get_Interface_Live_Info()
{
    return get_Interface_Live_Config(config.target_interface);
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
    return get_File_Readable(netplan_default_path, buffer, buffer_length);
}

std::string Network::get_Network_Manager_Config_Path()
{
    return network_manager_backend.default_path(config.target_interface);
}

bool Network::get_Network_Manager_Service_Status()
{
    Probe_Run query(get_Network_Manager_Query());
    return get_Network_Manager_Answer(&query);
}

const char* Network::get_Selected_Manager_Name()
{
    return MANAGER_TYPE_STRING[static_cast<uint8_t>(selected_manager)];
}
