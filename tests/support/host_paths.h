#ifndef LUMERION_TEST_HOST_PATHS_H
#define LUMERION_TEST_HOST_PATHS_H

#include <string>

// The files of eth0's three network managers, as the sandbox tests seed and read them.
inline const std::string netplan_file = "/etc/netplan/01-netcfg.yaml";
inline const std::string stanza_file = "/etc/network/interfaces.d/eth0";
inline const std::string keyfile = "/etc/NetworkManager/system-connections/eth0.nmconnection";

#endif
