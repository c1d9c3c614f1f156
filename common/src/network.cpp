#include "network.h"

const char* const Network::MANAGER_TYPE_STRING[4] = {"UNKNOWN", "netplan", "ifupdown", "network manager"};

Network::Config Network::default_network_info;
bool Network::default_network_info_update_flag = false;
Network::Config Network::config = [] {
    Network::Config staged;
    staged.target_interface = "eth0";
    return staged;
}();

void Network::set_Interface_Name(const char* name) { config.target_interface = name != nullptr ? name : ""; }

const char* Network::get_Interface_Name() { return config.target_interface.c_str(); }
