#ifndef LUMERION_TEST_HOST_PATHS_H
#define LUMERION_TEST_HOST_PATHS_H

#include <filesystem>
#include <fstream>
#include <string>

// The files of eth0's three network managers, as the sandbox tests seed and read them.
inline const std::string netplan_file = "/etc/netplan/01-netcfg.yaml";
inline const std::string stanza_file = "/etc/network/interfaces.d/eth0";
inline const std::string keyfile = "/etc/NetworkManager/system-connections/eth0.nmconnection";

// The UUID of the profile the fake nmcli lists for eth0.
inline const std::string profile_uuid = "6d0a9c0e-1b1f-4e3a-9d6b-1c2d3e4f5a6b";

// Debian's own /etc/network/interfaces: stanzas live in interfaces.d.
inline const std::string stock_interfaces = "source /etc/network/interfaces.d/*\n";

// resolvconf's if-up.d hook, as the package installs it by name (a stand-in that does nothing), or none:
// without it dns-nameservers takes no effect.
inline const std::string resolvconf_hook = "/etc/network/if-up.d/000resolvconf";
inline void set_Resolvconf_Hook(bool installed)
{
    namespace fs = std::filesystem;
    if (!installed) {
        fs::remove(resolvconf_hook);
        return;
    }
    fs::create_directories(fs::path(resolvconf_hook).parent_path());
    std::ofstream(resolvconf_hook) << "#!/bin/sh\nexit 0\n";
    fs::permissions(resolvconf_hook, fs::perms(0755));
}

// The three managers' directories, and ifupdown reading interfaces.d as on a stock host.
inline void make_Manager_Directories()
{
    for (const char* d :
         {"/etc/netplan", "/etc/network/interfaces.d", "/etc/NetworkManager/system-connections"})
        std::filesystem::create_directories(d);
    std::ofstream("/etc/network/interfaces") << stock_interfaces;
    set_Resolvconf_Hook(true);
}

#endif
