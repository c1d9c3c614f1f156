#ifndef LUMERION_TEST_NETWORK_ACCESS_H
#define LUMERION_TEST_NETWORK_ACCESS_H

#include <string.h>

#include <regex>
#include <string>

#include "change_plan.h"
#include "network.h"
#include "network_backend.h"
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
    static bool ipv4_Match(const std::string& text) { return std::regex_match(text, netplan_ipv4_pattern); }
    static Network::Config& staged() { return Network::config; }
    static Network::Config& live() { return Network::default_network_info; }
    // The staged record written as a change of its own, without a window (netplan apply is a stand-in).
    static bool update_netplan()
    {
        using Type = Network::CONFIG_TYPE;
        Network::staged_types = {Type::MODE,       Type::IP_ADDRESS, Type::GATEWAY,
                                 Type::SUBNETMASK, Type::DNS1,       Type::DNS2};
        unsigned int window = get_Trial_Window();
        set_Trial_Window(0);
        bool applied = Network::set_Config_Apply();
        set_Trial_Window(window);
        return applied;
    }
    // The plan an apply would run for the owner found now.
    static Change_Plan plan()
    {
        Network::Owner owner;
        std::vector<Plan_Step> steps;
        Plan_Input input;
        bool own_change = false;
        if (!Network::get_Change_Owner(&owner, &steps, &own_change) || own_change ||
            !Network::get_Plan_Input(owner, steps, &input))
            return Change_Plan();
        return get_Change_Plan(input);
    }
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
