#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "change_executor.h"
#include "extra_command_handling.h"
#include "file_replace.h"
#include "log.h"
#include "network.h"
#include "network_backend.h"
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
    if (get_Owned(owner))
        set_Fixed_Length_Copy(buffer, buffer_length, owner.file);
    return owner.manager;
}

Network::Default_File Network::get_Default_File(bool network_manager_running)
{
    Default_File fresh;
    const Manager_Backend* taker = nullptr;
    for (const Manager_Backend* row : get_Manager_Backends())
        if (taker == nullptr && row->default_taken != nullptr && row->default_taken(network_manager_running))
            taker = row;
    if (taker == nullptr) {
        fresh.none = get_Unmanaged_Text(network_manager_running);
        fresh.unmanaged = true;
        return fresh;
    }
    fresh.path = taker->default_path(config.target_interface);
    fresh.text = taker->default_text(config.target_interface);
    fresh.dangling = !fresh.path.empty() && get_Dangling_Link(fresh.path);
    if (fresh.path.empty() || fresh.dangling) {
        fresh.none = fresh.path.empty() ? "no interface is selected" : fresh.path + " is a link to nothing";
        return fresh;
    }
    fresh.manager = taker->manager;
    return fresh;
}

bool Network::get_Owner_Steps(Owner* owner, std::vector<Plan_Step>* steps, Default_File* fresh,
                              std::string* refusal)
{
    if (!owner->present) {
        *refusal = get_Log_Text(config.target_interface) + " does not exist";
        return false;
    }
    if (!owner->netplan.leftover.empty()) {
        std::vector<Plan_Step> leftover = get_Leftover_Steps(owner->netplan.leftover);
        steps->insert(steps->end(), leftover.begin(), leftover.end());
    }
    if (get_Owned(*owner))
        return true;
    // Several managers define the interface: writing a default would make one more.
    if (!owner->error.empty()) {
        *refusal = owner->error;
        return false;
    }
    *fresh = get_Default_File(owner->network_manager);
    if (!fresh->none.empty()) {
        *refusal = fresh->none;
        return false;
    }
    std::vector<Plan_Step> written = get_Default_Steps(fresh->manager, fresh->path, fresh->text);
    steps->insert(steps->end(), written.begin(), written.end());
    // A default the manager takes as it stands is what an edit in the same change starts from; one it must
    // read first (a profile gets its UUID when loaded) is a change of its own.
    fresh->own_change = get_Manager_Backend(fresh->manager).reload[0] != 0;
    if (!fresh->own_change) {
        owner->manager = fresh->manager;
        owner->file = fresh->path;
        owner->entry = config.target_interface;
        owner->document = fresh->text;
    }
    return true;
}

Change_Result Network::set_Owner_Files_Run(const char* origin, bool network_manager, Default_File* fresh,
                                           std::string* left, std::string* refusal)
{
    return set_Change_Run(
        [origin, network_manager, fresh, left](Change_Plan* plan) {
            // Looked up once any earlier change is finished, which may have changed the files; whether
            // NetworkManager runs was asked just before.
            Owner owner = get_Owner_Found(network_manager ? 1 : 0);
            std::vector<Plan_Step> steps;
            std::string why;
            *left = owner.netplan.leftover;
            if (!get_Owner_Steps(&owner, &steps, fresh, &why)) {
                // A default path that is a link to nothing is refused without a reason of its own.
                if (!fresh->dangling)
                    plan->refusal = why;
                return false;
            }
            *plan = get_Owner_Files_Plan(fresh->none.empty() && !fresh->path.empty() ? fresh->manager
                                                                                     : owner.manager,
                                         config.target_interface, steps, origin);
            return true;
        },
        refusal);
}

bool Network::init_netplan_Config()
{
    Default_File fresh;
    std::string left;
    std::string refusal;
    if (set_Owner_Files_Run(__func__, false, &fresh, &left, &refusal) == Change_Result::KEPT &&
        !fresh.path.empty()) {
        LOG_INFO("Generated: %s", fresh.path.c_str());
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
    Default_File fresh;
    std::string left;
    std::string refusal;
    if (set_Owner_Files_Run(__func__, true, &fresh, &left, &refusal) == Change_Result::KEPT &&
        !fresh.path.empty()) {
        LOG_INFO("Generated: %s", fresh.path.c_str());
        LOG_INFO("Config Reloaded");
        return true;
    }
    // The file was written, but NetworkManager did not take it: it was taken back.
    if (get_Trial_End() == Trial_End::ROLLED_BACK || get_Trial_End() == Trial_End::INCOMPLETE)
        LOG_ERROR("NetworkManager did not load %s: it is removed again", fresh.path.c_str());
    else if (refusal.empty())
        LOG_ERROR("Generate Failed");
    else
        LOG_ERROR("Generate Failed: %s", get_Log_Text(refusal).c_str());
    return false;
}

std::string Network::get_Unmanaged_Text(bool network_manager_running)
{
    for (const Manager_Backend* row : get_Manager_Backends())
        if (row->default_taken != nullptr && row->default_taken(network_manager_running))
            return "";
    return config.target_interface + "'s settings are not managed: no manager defines " +
           config.target_interface +
           ", NetworkManager is not running and netplan is not installed (no /etc/netplan), so no default "
           "file is written";
}

std::string Network::get_Unmanaged_Reason()
{
    Owner owner = get_Owner();
    if (!owner.present || get_Owned(owner) || !owner.error.empty())
        return "";
    return get_Unmanaged_Text(owner.network_manager);
}

bool Network::update_Owner_Files(Owner* found)
{
    // Whether start-up has anything to write at all; what it writes is planned again inside the change.
    Owner owner = get_Owner();
    if (!owner.present) {
        LOG_ERROR("%s does not exist: the settings path needs an interface named %s, no file is written",
                  get_Log_Text(config.target_interface).c_str(),
                  get_Log_Text(config.target_interface).c_str());
        return false;
    }
    if (!owner.netplan.leftover.empty()) {
        Default_File fresh;
        std::string left;
        std::string refusal;
        if (set_Owner_Files_Run(__func__, owner.network_manager, &fresh, &left, &refusal) ==
                Change_Result::KEPT &&
            !left.empty()) {
            LOG_INFO("Removed %s: its DHCP default was merged into %s's definition in %s", left.c_str(),
                     config.target_interface.c_str(), owner.file.c_str());
            owner = get_Owner();
        } else if (!refusal.empty()) {
            LOG_ERROR("%s is left: %s", owner.netplan.leftover.c_str(), get_Log_Text(refusal).c_str());
        }
    }
    if (!get_Owned(owner)) {
        // Several managers define the interface: writing a default would make one more.
        if (!owner.error.empty()) {
            LOG_ERROR("%s", get_Log_Text(owner.error).c_str());
            return false;
        }
        bool network_manager = owner.network_manager;
        // A host with no manager to take a default gets none: its settings are not this daemon's to start.
        Default_File fresh = get_Default_File(network_manager);
        if (fresh.unmanaged) {
            LOG_INFO("%s", fresh.none.c_str());
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

bool Network::get_Change_Owner(Owner* found, std::vector<Plan_Step>* steps, bool* own_change)
{
    Owner owner = get_Owner();
    Default_File fresh;
    std::string refusal;
    *own_change = false;
    if (!get_Owner_Steps(&owner, steps, &fresh, &refusal)) {
        LOG_ERROR_AS("set_Config_Apply", "refused to apply: %s", get_Log_Text(refusal).c_str());
        return false;
    }
    // A default the manager must load first (NetworkManager's) is a change of its own: the edit goes to
    // the profile it loads.
    *own_change = fresh.own_change;
    *found = owner;
    return true;
}
