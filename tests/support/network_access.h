#ifndef LUMERION_TEST_NETWORK_ACCESS_H
#define LUMERION_TEST_NETWORK_ACCESS_H

#include <string.h>

#include <regex>
#include <string>

#include "network.h"
#include "settings_trial.h"

// The tests' way to the Network class's private probes and staged record.
struct Network_Test_Access {
    static Network::MANAGER_TYPE detect(char* buffer, unsigned int length)
    {
        return Network::get_Manager_Type(buffer, length);
    }
    // What start-up and a change do first: the default file for a bare host, then the lookup.
    static Network::MANAGER_TYPE prepare(char* buffer, unsigned int length)
    {
        Network::update_Owner_Files();
        return Network::get_Manager_Type(buffer, length);
    }
    static bool netplan_Exists(char* b, unsigned int n) { return Network::get_netplan_Config_Exist(b, n); }
    static bool service_Running() { return Network::get_Network_Manager_Service_Status(); }
    static std::string keyfile_Path() { return Network::get_Network_Manager_Config_Path(); }
    static bool ipv4_Match(const std::string& text) { return std::regex_match(text, Network::ipv4_regex); }
    static Network::Config& staged() { return Network::config; }
    static Network::Config& live() { return Network::default_network_info; }
    static bool update_netplan() { return Network::update_netplan_Config(Network::get_Owner()); }
    // What a change's trial would record of the owner found now.
    static Trial_Record trial_Plan() { return Network::get_Trial_Plan(Network::get_Owner()); }
};

// One setting as get_Config reads it; MODE as "0" (DHCP) or "1" (static).
inline std::string read_Setting(Network::CONFIG_TYPE type, uint8_t* rc = nullptr)
{
    char buffer[128];
    memset(buffer, 0, sizeof(buffer));
    uint8_t result = Network::get_Config(type, buffer, sizeof(buffer));
    if (rc != nullptr)
        *rc = result;
    return type == Network::CONFIG_TYPE::MODE ? std::string(1, static_cast<char>('0' + buffer[0]))
                                              : std::string(buffer);
}

#endif
