#ifndef LUMERION_NETWORK_H
#define LUMERION_NETWORK_H

#include <stdint.h>

#include <regex>
#include <string>

#include "netplan_reader.h"
#include "network_parse.h"

// Where netplan keeps an interface's configuration, as the owner lookup found it.
struct Netplan_Owner {
    std::string id;       // the definition under network.ethernets that applies; "" for none
    std::string file;     // the file an edit goes to: the one holding the definition's IPv4 keys
    std::string refusal;  // why no edit may go there; "" when one may
    std::string leftover; // this daemon's old DHCP default, merged into another file's definition
};

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
    // Whether the selected interface exists on the host.
    static bool get_Interface_Exist();
    // The manager that owns the selected interface, as the log names it; only reads.
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
    friend Netplan_Owner get_netplan_Owner(const std::vector<Netplan_File>& files,
                                           const std::vector<std::string>& applying_ids,
                                           const std::string& interface_name, bool cloud_init_renders);

    // Who owns the selected interface and what an operation reads and edits.
    struct Owner {
        bool present = false; // the interface exists
        MANAGER_TYPE manager = MANAGER_TYPE::UNKNOWN;
        std::string file;     // the file reads and edits go to
        std::string entry;    // netplan: the key of the interface's entry under ethernets
        std::string document; // netplan: the text reads come from (netplan's merged result)
        std::string error;    // netplan: why its files cannot be read
        Netplan_Owner netplan;
    };

    // Whether each manager's file for the selected interface is readable;
    // on success its path is copied into `buffer` (fixed-length copy).
    static bool get_netplan_Config_Exist(char* buffer, unsigned int buffer_length);
    static bool get_ifupdown_Config_Exist(char* buffer, unsigned int buffer_length);
    static bool get_Network_Manager_Config_Exist(char* buffer, unsigned int buffer_length);
    // Running unless "systemctl is-active NetworkManager" says "inactive".
    static bool get_Network_Manager_Service_Status();
    static std::string get_Network_Manager_Config_Path();

    // The owner lookup; it never writes. UNKNOWN when no manager defines the
    // interface or the interface does not exist.
    static Owner get_Owner();
    static bool get_Own_File_Readable_Alone(const std::vector<Netplan_File>& files,
                                            const Netplan_Reading& reading, const Interface_Facts& facts);
    // Which manager owns the interface (the lookup's), with its file copied into `buffer`.
    static MANAGER_TYPE get_Manager_Type(char* buffer, unsigned int buffer_length);
    // At start-up and before a change: removes this daemon's harmful leftover
    // and writes the default file for a bare host. False, with one ERROR
    // line, when the interface does not exist or the default cannot be written.
    static bool update_Owner_Files();
    static bool init_netplan_Config();
    static bool init_Network_Manager_Config();

    // The back ends of get_Config, set_Config and set_Config_Apply.
    static uint8_t get_netplan_Config(CONFIG_TYPE type, const Owner& owner, char* buffer,
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
    // netplan's verdict on `text` as the new `file`, read with every other
    // netplan file of the host; false with netplan's first error line.
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

// The default document written for a bare host's interface.
std::string get_netplan_Default_Text(const std::string& interface_name);

// The owner of `interface_name` among netplan's `files` (in netplan's order),
// given the definitions netplan's matching applies to it and whether
// cloud-init still rewrites its files: the definition, the one file an edit
// may go to, or why none may.
Netplan_Owner get_netplan_Owner(const std::vector<Netplan_File>& files,
                                const std::vector<std::string>& applying_ids,
                                const std::string& interface_name, bool cloud_init_renders);

// The netplan files under `root` ("" for the host) in netplan's order: by
// name, a file of /run/netplan hiding one of /etc/netplan, which hides one of
// /lib/netplan. Empty, with `error`, when one of them cannot be read.
std::vector<Netplan_File> get_netplan_Files(const std::string& root, std::string* error);

// One cloud-init configuration's say on its network rendering: 1 disabled,
// 0 enabled, -1 silent.
int get_Cloud_Network_Disabled(const std::string& config_text);
// Whether cloud-init under `root` still renders the network at boot.
bool get_Cloud_Init_Renders(const std::string& root);

#endif
