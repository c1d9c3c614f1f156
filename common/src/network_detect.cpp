#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

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

Network::MANAGER_TYPE Network::get_Manager_Type(char* buffer, unsigned int buffer_length)
{
    Owner owner = get_Owner();
    if (owner.manager != MANAGER_TYPE::UNKNOWN)
        set_Fixed_Length_Copy(buffer, buffer_length, owner.file);
    return owner.manager;
}

bool Network::init_netplan_Config()
{
    if (get_Dangling_Link(netplan_config_path) ||
        set_File_Replace(netplan_config_path, get_netplan_Default_Text(config.target_interface),
                         netplan_file_mode) != 0) {
        LOG_ERROR("Generate Failed");
        return false;
    }
    LOG_INFO("Generated: %s", netplan_config_path);
    return true;
}

bool Network::init_Network_Manager_Config()
{
    std::string path = get_Network_Manager_Config_Path();
    std::string content =
        std::string(nmcli_config_prefix) + config.target_interface + "\n" + nmcli_config_postfix;
    if (path.empty() || get_Dangling_Link(path) || set_File_Replace(path, content, keyfile_mode) != 0) {
        LOG_ERROR("Generate Failed");
        return false;
    }
    LOG_INFO("Generated: %s", path.c_str());
    std::string failure;
    if (!set_Change_Command("nmcli con reload", &failure)) {
        LOG_ERROR("NetworkManager did not load %s: %s", path.c_str(), failure.c_str());
        return false;
    }
    LOG_INFO("Config Reloaded");
    return true;
}
