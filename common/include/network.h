#ifndef LUMERION_NETWORK_H
#define LUMERION_NETWORK_H

#include <stdint.h>

#include <regex>
#include <string>

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

    static void set_Interface_Name(const char* name);
    static const char* get_Interface_Name();

private:
    // Lets the tests reach the detection and file probes below.
    friend struct Network_Test_Access;

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

// Prefix length of a dotted subnet mask, each octet counted from its top bit.
uint8_t get_Subnetmask_Bit_Count(const char* str);

// One line of /proc/net/route: false for the header and for lines that are
// neither a default nor a link route; otherwise the interface name (text
// before the first tab) and the gateway column (between the second and third).
bool get_Route_Table_Line(const std::string& line, std::string* interface_name, std::string* gateway_hex);

// A runtime profile path that may be deleted: absolute, under /run/, and
// without "." or ".." components.
bool get_Runtime_Profile_Removable(const std::string& path);

// A route-table address column (little-endian hex) as a dotted quad.
std::string get_Route_Address_Text(const std::string& hex);

#endif
