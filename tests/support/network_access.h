#ifndef LUMERION_TEST_NETWORK_ACCESS_H
#define LUMERION_TEST_NETWORK_ACCESS_H

#include <regex>
#include <string>

#include "network.h"

// The tests' way to the Network class's private probes and staged record.
struct Network_Test_Access {
    static Network::MANAGER_TYPE detect(char* buffer, unsigned int length)
    {
        return Network::get_Manager_Type(buffer, length);
    }
    static bool netplan_Exists(char* b, unsigned int n) { return Network::get_netplan_Config_Exist(b, n); }
    static bool ifupdown_Exists(char* b, unsigned int n) { return Network::get_ifupdown_Config_Exist(b, n); }
    static bool keyfile_Exists(char* b, unsigned int n)
    {
        return Network::get_Network_Manager_Config_Exist(b, n);
    }
    static bool service_Running() { return Network::get_Network_Manager_Service_Status(); }
    static std::string keyfile_Path() { return Network::get_Network_Manager_Config_Path(); }
    static bool ipv4_Match(const std::string& text) { return std::regex_match(text, Network::ipv4_regex); }
    static Network::Config& staged() { return Network::config; }
    static Network::Config& live() { return Network::default_network_info; }
    static bool update_netplan() { return Network::update_netplan_Config(); }
};

#endif
