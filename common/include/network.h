#ifndef LUMERION_NETWORK_H
#define LUMERION_NETWORK_H

#include <stdint.h>

#include <regex>
#include <string>

#include "network_parse.h"

// The daemon's model of host networking: one selected interface with its
// staged settings, and the live facts of the default-route interface.
// All members are static; the class is never instantiated.
class Network {
public:
    enum class MANAGER_TYPE : uint8_t {
        UNKNOWN = 0,
        NETPLAN = 1,
        IFUPDOWN = 2,
        NETWORK_MANAGER = 3,
    };

    // Equal to the BMC's network subaddresses 0 to 5.
    enum class CONFIG_TYPE : uint8_t {
        MODE = 0,
        IP_ADDRESS = 1,
        GATEWAY = 2,
        SUBNETMASK = 3,
        DNS1 = 4,
        DNS2 = 5,
    };

    struct Config {
        std::string target_interface;
        bool ip4_dhcp = false;
        std::string ip4_address;
        std::string ip4_subnetmask;
        std::string ip4_gateway;
        std::string dns1;
        std::string dns2;
    };

    static const char* const MANAGER_TYPE_STRING[4];

    // Re-reads the default route and its interface's address and mask; a
    // change is logged and raises the update flag.
    static void update_Default_IP_Info();
    // Read-and-clear: true once after each change.
    static bool get_Default_IP_Info_Update_Flag();
    static Config get_Default_IP_Info();
    // "XX:XX:XX:XX:XX:XX" of the selected interface; zeros when unknown.
    static std::string get_Interface_MAC_Address();

    // Selects the interface and reloads the six staged settings from its manager.
    static void set_Interface_Name(const char* name);
    static const char* get_Interface_Name();
    // The manager that owns the selected interface, as the log names it
    // (detection may write a default file, as every operation's may).
    static const char* get_Manager_Name();

    // One setting of the selected interface as text (MODE: first byte, 0 DHCP,
    // 1 static). 0 read; 1 unknown setting, no manager, or unreadable file.
    static uint8_t get_Config(CONFIG_TYPE type, char* buffer, unsigned int buffer_length);
    // Stages (netplan, NetworkManager) or writes (ifupdown) one setting.
    // 0 done; 1 unknown setting, no manager, or a value that is refused.
    static uint8_t set_Config(CONFIG_TYPE type, const char* str);
    // Writes the staged settings and has the manager apply them; true when
    // a manager was found and its apply step run.
    static bool set_Config_Apply();

private:
    // Lets the tests reach the detection and file probes below.
    friend struct Network_Test_Access;
    friend bool get_netplan_Update_Text(const std::string& document_text, const Config& staged,
                                        std::string* text, std::string* reason);

    // Whether each manager's file for the selected interface is readable;
    // on success its path is copied into `buffer` (fixed-length copy).
    static bool get_netplan_Config_Exist(char* buffer, unsigned int buffer_length);
    static bool get_ifupdown_Config_Exist(char* buffer, unsigned int buffer_length);
    static bool get_Network_Manager_Config_Exist(char* buffer, unsigned int buffer_length);
    // Running unless "systemctl is-active NetworkManager" says "inactive".
    static bool get_Network_Manager_Service_Status();
    static std::string get_Network_Manager_Config_Path();

    // Which manager owns the interface; writes a default netplan file or
    // keyfile when there is none. UNKNOWN when that file cannot be written.
    static MANAGER_TYPE get_Manager_Type(char* buffer, unsigned int buffer_length);
    static bool init_netplan_Config();
    static bool init_Network_Manager_Config();

    // The back ends of get_Config, set_Config and set_Config_Apply.
    static uint8_t get_netplan_Config(CONFIG_TYPE type, const char* path, char* buffer,
                                      unsigned int buffer_length);
    static uint8_t get_ifupdown_Config(CONFIG_TYPE type, const char* path, char* buffer,
                                       unsigned int buffer_length);
    static uint8_t get_Network_Manager_Config(CONFIG_TYPE type, char* buffer, unsigned int buffer_length);
    static uint8_t set_ifupdown_Config(CONFIG_TYPE type, const char* path, const char* str);
    // One setting into the staged record; MODE takes `dhcp`, the others `text`.
    static void set_Staged_Setting(CONFIG_TYPE type, const std::string& text, bool dhcp);
    // Rewrites the netplan file from the staged record once netplan's own
    // parser accepts the result; false, with one ERROR line, when it did not.
    static bool update_netplan_Config();
    // netplan's verdict on `text` as the new `file`, read beside the other
    // files of its directory; false with netplan's first error line.
    static bool get_netplan_Accepted(const std::string& file, const std::string& text, std::string* error);
    static void update_Network_Manager_Config();
    // The live gateway as a read falls back to it: empty when there is none.
    static std::string get_Live_Gateway();

    static bool get_File_Readable(const std::string& path, char* buffer, unsigned int buffer_length);

    static Config default_network_info;
    static bool default_network_info_update_flag;
    static Config config;
    static const std::regex ipv4_regex;
    static const char* const netplan_config_path;
    static const char* const ifupdown_config_path;
    static const char* const nmcli_config_path;
    static const char* const nmcli_config_prefix;
    static const char* const nmcli_config_postfix;
};

// The netplan document with the staged interface's entry rewritten from
// `staged`: what the daemon owns (dhcp4, its IPv4 address, its main-table
// IPv4 default route, gateway4, the DNS server list) is replaced, everything
// else is carried over. False with `reason` when the document cannot be edited.
bool get_netplan_Update_Text(const std::string& document_text, const Network::Config& staged,
                             std::string* text, std::string* reason);

// The stanza file's text after one setting is written into the interface's
// "iface <name> inet" stanza (MODE: first byte of `value`, 0 DHCP). False
// with `reason` when the file has no such stanza for an address setting.
bool get_ifupdown_Update_Text(const std::string& content, const std::string& interface_name,
                              Network::CONFIG_TYPE type, const std::string& value, std::string* text,
                              std::string* reason);

// The one "nmcli con mod" command that pushes staged settings into the
// interface's connection profile (values shell-quoted).
std::string get_Network_Manager_Modify_Command(const Network::Config& staged);

#endif
