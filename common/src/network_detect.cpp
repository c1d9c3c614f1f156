#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "change_executor.h"
#include "extra_command_handling.h"
#include "file_replace.h"
#include "log.h"
#include "network.h"
#include "text_copy.h"

namespace {

const char* const __log_tag = "Network";
// netplan warns about configuration that others can read.
const mode_t netplan_file_mode = 0600;
const mode_t keyfile_mode = 0600;

// A default file is never created through a link that points nowhere: it
// would land outside /etc while the log names the /etc path.
bool get_Dangling_Link(const std::string& path)
{
    struct stat link;
    struct stat target;
    return lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode) && stat(path.c_str(), &target) != 0;
}

} // namespace

const char* Network::get_Manager_Name()
{
    return MANAGER_TYPE_STRING[static_cast<uint8_t>(get_Owner().manager)];
}

std::string Network::get_Port_Master()
{
    return get_Owner().master;
}

Network::MANAGER_TYPE Network::get_Manager_Type(char* buffer, unsigned int buffer_length)
{
    Owner owner = get_Owner();
    if (owner.manager != MANAGER_TYPE::UNKNOWN)
        set_Fixed_Length_Copy(buffer, buffer_length, owner.file);
    return owner.manager;
}

bool Network::init_netplan_Config()
{
    std::string refusal;
    if (!get_Dangling_Link(netplan_config_path) &&
        set_Plan_Run(
            get_Owner_Files_Plan(MANAGER_TYPE::NETPLAN, config.target_interface,
                                 get_Default_Steps(MANAGER_TYPE::NETPLAN, netplan_config_path,
                                                   get_netplan_Default_Text(config.target_interface)),
                                 "init_netplan_Config"),
            &refusal)) {
        LOG_INFO("Generated: %s", netplan_config_path);
        return true;
    }
    if (refusal.empty())
        LOG_ERROR("Generate Failed");
    else
        LOG_ERROR("Generate Failed: %s", get_Log_Text(refusal).c_str());
    return false;
}

bool Network::init_Network_Manager_Config()
{
    std::string path = get_Network_Manager_Config_Path();
    std::string content =
        std::string(nmcli_config_prefix) + config.target_interface + "\n" + nmcli_config_postfix;
    std::string refusal;
    if (!path.empty() && !get_Dangling_Link(path) &&
        set_Plan_Run(get_Owner_Files_Plan(MANAGER_TYPE::NETWORK_MANAGER, config.target_interface,
                                          get_Default_Steps(MANAGER_TYPE::NETWORK_MANAGER, path, content),
                                          "init_Network_Manager_Config"),
                     &refusal)) {
        LOG_INFO("Generated: %s", path.c_str());
        LOG_INFO("Config Reloaded");
        return true;
    }
    // The file was written, but NetworkManager did not take it: it was taken back.
    if (get_Trial_End() == Trial_End::ROLLED_BACK || get_Trial_End() == Trial_End::INCOMPLETE)
        LOG_ERROR("NetworkManager did not load %s: it is removed again", path.c_str());
    else if (refusal.empty())
        LOG_ERROR("Generate Failed");
    else
        LOG_ERROR("Generate Failed: %s", get_Log_Text(refusal).c_str());
    return false;
}

std::string Network::get_Unmanaged_Text(bool network_manager_running)
{
    struct stat info;
    // netplan.io ships /etc/netplan: without it netplan is not installed, and a default there would be read
    // by none.
    if (network_manager_running || (stat("/etc/netplan", &info) == 0 && S_ISDIR(info.st_mode)))
        return "";
    return config.target_interface + "'s settings are not managed: no manager defines " +
           config.target_interface +
           ", NetworkManager is not running and netplan is not installed (no /etc/netplan), so no default "
           "file is written";
}

std::string Network::get_Unmanaged_Reason()
{
    Owner owner = get_Owner();
    if (!owner.present || owner.manager != MANAGER_TYPE::UNKNOWN || !owner.error.empty())
        return "";
    return get_Unmanaged_Text(owner.network_manager);
}

bool Network::update_Owner_Files(Owner* found)
{
    Owner owner = get_Owner();
    if (!owner.present) {
        LOG_ERROR("%s does not exist: the settings path needs an interface named %s, no file is written",
                  get_Log_Text(config.target_interface).c_str(),
                  get_Log_Text(config.target_interface).c_str());
        return false;
    }
    std::string refusal;
    if (!owner.netplan.leftover.empty()) {
        if (set_Plan_Run(get_Owner_Files_Plan(MANAGER_TYPE::NETPLAN, config.target_interface,
                                              get_Leftover_Steps(owner.netplan.leftover),
                                              "update_Owner_Files"),
                         &refusal)) {
            LOG_INFO("Removed %s: its DHCP default was merged into %s's definition in %s",
                     owner.netplan.leftover.c_str(), config.target_interface.c_str(), owner.file.c_str());
            owner = get_Owner();
        } else if (!refusal.empty()) {
            LOG_ERROR("%s is left: %s", owner.netplan.leftover.c_str(), get_Log_Text(refusal).c_str());
        }
    }
    if (owner.manager == MANAGER_TYPE::UNKNOWN) {
        // Several managers define the interface: writing a default would make one more.
        if (!owner.error.empty()) {
            LOG_ERROR("%s", get_Log_Text(owner.error).c_str());
            return false;
        }
        bool network_manager = owner.network_manager;
        // A host with no manager to take a default gets none: its settings are not this daemon's to start.
        std::string unmanaged = get_Unmanaged_Text(network_manager);
        if (!unmanaged.empty()) {
            LOG_INFO("%s", unmanaged.c_str());
            if (found != nullptr)
                *found = owner;
            return true;
        }
        if (!(network_manager ? init_Network_Manager_Config() : init_netplan_Config()))
            return false;
        // The default just written is the owner now; NetworkManager's state is as the lookup found it.
        owner = get_Owner_Found(network_manager ? 1 : 0);
    }
    if (found != nullptr)
        *found = owner;
    return true;
}

bool Network::get_Change_Owner(Owner* found, std::vector<Plan_Step>* steps)
{
    Owner owner = get_Owner();
    if (!owner.present) {
        LOG_ERROR_AS("set_Config_Apply", "refused to apply: %s does not exist",
                     get_Log_Text(config.target_interface).c_str());
        return false;
    }
    if (!owner.netplan.leftover.empty()) {
        std::vector<Plan_Step> leftover = get_Leftover_Steps(owner.netplan.leftover);
        steps->insert(steps->end(), leftover.begin(), leftover.end());
    }
    if (owner.manager == MANAGER_TYPE::UNKNOWN) {
        if (!owner.error.empty()) {
            LOG_ERROR_AS("set_Config_Apply", "refused to apply: %s", get_Log_Text(owner.error).c_str());
            return false;
        }
        // NetworkManager's default is a change of its own, made before (set_Change_Applied).
        if (owner.network_manager) {
            *found = owner;
            return true;
        }
        std::string unmanaged = get_Unmanaged_Text(false);
        if (!unmanaged.empty()) {
            LOG_ERROR_AS("set_Config_Apply", "refused to apply: %s", unmanaged.c_str());
            return false;
        }
        if (get_Dangling_Link(netplan_config_path)) {
            LOG_ERROR_AS("set_Config_Apply", "refused to apply: %s is a link to nothing",
                         netplan_config_path);
            return false;
        }
        std::vector<Plan_Step> fresh = get_Default_Steps(MANAGER_TYPE::NETPLAN, netplan_config_path,
                                                         get_netplan_Default_Text(config.target_interface));
        steps->insert(steps->end(), fresh.begin(), fresh.end());
        owner.manager = MANAGER_TYPE::NETPLAN;
        owner.file = netplan_config_path;
        owner.entry = config.target_interface;
        owner.document = fresh.front().bytes;
    }
    *found = owner;
    return true;
}
