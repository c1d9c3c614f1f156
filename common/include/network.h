#ifndef LUMERION_NETWORK_H
#define LUMERION_NETWORK_H

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "netplan_reader.h"
#include "network_ifupdown.h"
#include "network_manager.h"
#include "network_netplan.h"
#include "network_networkd.h"
#include "network_parse.h"
#include "network_types.h"

struct Plan_Step;
struct Plan_Input;
struct Change_Plan;
enum class Change_Result : uint8_t;

// The daemon's model of host networking: one selected interface with its
// staged settings, and the live facts of the default-route interface.
// All members are static; the class is never instantiated.
class Network {
public:
    using MANAGER_TYPE = Manager_Type;
    using CONFIG_TYPE = Config_Type;
    using Config = Network_Config;

    static const char* const MANAGER_TYPE_STRING[5];

    // Re-reads the default route and its interface's address and mask; a
    // change is logged and raises the update flag.
    static void update_Default_IP_Info();
    // Read-and-clear: true once after each change.
    static bool get_Default_IP_Info_Update_Flag();
    static Config get_Default_IP_Info();
    // The selected interface's own live facts: its first IPv4 address and mask, the main table's default
    // route through it; "" for each it lacks (what a DHCP server leased it shows here).
    static Config get_Interface_Live_Info();
    // "XX:XX:XX:XX:XX:XX" of the selected interface; zeros when unknown.
    static std::string get_Interface_MAC_Address();

    // Selects the interface and reloads the six staged settings from its
    // manager. The daemon's start-up: it first removes this daemon's harmful
    // leftover and writes a bare host's default file, each a change of its own.
    static void set_Interface_Name(const char* name);
    // The same selection without writing anything (a tool that only reads, or
    // stages a change whose apply writes what the owner needs).
    static void set_Interface_Selected(const char* name);
    static const char* get_Interface_Name();
    // Whether the selected interface exists on the host.
    static bool get_Interface_Exist();
    // The manager that owns the selected interface, as the log names it; only reads.
    static const char* get_Manager_Name();
    // Why no manager takes the selected interface's settings, nor would take a
    // default ("" when one does or would); only reads.
    static std::string get_Unmanaged_Reason();
    // The bridge or bond the selected interface is a port of ("bridge br0"), whose addresses are the
    // master's; "" when it is none's. Only reads.
    static std::string get_Port_Master();
    // Why the selected interface's manager refuses every change to its settings ("" when it takes them);
    // only reads.
    static std::string get_Change_Refusal();
    // A tool that lives for one command (true) looks the owner up once: later reads reuse that lookup,
    // and only an apply looks again, for what it writes. The daemon looks up each time (false).
    static void set_Owner_Kept(bool kept);
    // The manager the last selection found (no lookup): what the daemon runs with.
    static const char* get_Selected_Manager_Name();

    // One setting of the selected interface as text (MODE: first byte, 0 DHCP,
    // 1 static). 0 read; 1 unknown setting, no manager, or unreadable file.
    static uint8_t get_Config(CONFIG_TYPE type, char* buffer, unsigned int buffer_length);
    // Stages one setting; the apply writes what was staged.
    // 0 done; 1 unknown setting, no manager, or a value that is refused.
    static uint8_t set_Config(CONFIG_TYPE type, const char* str);
    // Writes the staged settings and has the manager apply them; true when
    // a manager was found and its apply step run.
    static bool set_Config_Apply();

private:
    // Lets the tests reach the detection and file probes below.
    friend struct Network_Test_Access;

    using Owner = Interface_Owner;

    // The selection behind both: with `owner_files`, the leftover and the default are written first.
    static void set_Interface_Chosen(const char* name, bool owner_files);
    // Whether each manager's file for the selected interface is readable;
    // on success its path is copied into `buffer` (fixed-length copy).
    static bool get_netplan_Config_Exist(char* buffer, unsigned int buffer_length);
    // Running unless "systemctl is-active NetworkManager" says "inactive".
    static bool get_Network_Manager_Service_Status();
    // Where a bare host's NetworkManager default for the selected interface goes.
    static std::string get_Network_Manager_Config_Path();

    // The owner lookup; it never writes. UNKNOWN when no manager defines the
    // interface or the interface does not exist. With the owner kept, the first lookup's.
    static Owner get_Owner();
    // The lookup itself; `network_manager` (0 or 1) is NetworkManager's state when known, so that it is not
    // asked again (-1: ask).
    static Owner get_Owner_Found(int network_manager = -1);
    // Which manager owns the interface (the lookup's), with its file copied into `buffer`.
    static MANAGER_TYPE get_Manager_Type(char* buffer, unsigned int buffer_length);
    // At start-up and before a change: removes this daemon's harmful leftover
    // and writes the default file for a bare host; `found` then holds the owner
    // (so the caller does not look it up again). False, with one ERROR line,
    // when the interface does not exist or the default cannot be written.
    static bool update_Owner_Files(Owner* found = nullptr);
    // What a bare host's interface gets as its default: the file and its manager, or why none.
    struct Default_File {
        MANAGER_TYPE manager = MANAGER_TYPE::UNKNOWN; // UNKNOWN: none is written, `none` says why
        std::string path;
        std::string text;
        std::string none;
        bool unmanaged = false;  // no manager could take one: the host's settings are not this daemon's
        bool dangling = false;   // its path is a link that points nowhere: it is never written through
        bool own_change = false; // the manager must load it first: a change of its own before an edit
    };
    // The one policy for a bare host's default: NetworkManager's keyfile where it runs, else netplan's file
    // where netplan is installed, else none; never through a link that points nowhere.
    static Default_File get_Default_File(bool network_manager_running);
    // The owner's own steps a change takes first, planned from `owner`: this daemon's leftover removed, a
    // bare host's default written (`fresh`; a netplan default becomes the owner the edit goes to). False
    // with `refusal`.
    static bool get_Owner_Steps(Owner* owner, std::vector<Plan_Step>* steps, Default_File* fresh,
                                std::string* refusal);
    // The owner's own files as a change of their own, without a window, planned from a lookup made once any
    // earlier change is finished (`network_manager`: whether NetworkManager runs, as just asked); `left`
    // gets the leftover that lookup found.
    static Change_Result set_Owner_Files_Run(const char* origin, bool network_manager, Default_File* fresh,
                                             std::string* left, std::string* refusal);
    // The owner an apply goes to, and the steps it takes first; only reads. `own_change`: a bare host whose
    // NetworkManager runs needs its default profile first, as a change of its own. False with one ERROR line.
    static bool get_Change_Owner(Owner* found, std::vector<Plan_Step>* steps, bool* own_change);
    // The apply's plan, made inside the change from the host as it is then: false when it is refused (an
    // ERROR line said why, or `plan_refusal` does) or NetworkManager's default must come first.
    static bool get_Apply_Plan(Change_Plan* plan, bool* default_first, std::string* plan_refusal);
    // What an apply is planned from: the owner's files and answers, read now.
    static bool get_Plan_Input(const Owner& owner, const std::vector<Plan_Step>& steps, Plan_Input* input);
    static bool init_netplan_Config();
    // The line for a bare host where no manager could take a default: NetworkManager does not run and
    // netplan is not installed; "" otherwise.
    static std::string get_Unmanaged_Text(bool network_manager_running);
    static bool init_Network_Manager_Config();

    // One setting into the staged record; MODE takes `dhcp`, the others `text`.
    // The setting is then one this change gives.
    static void set_Staged_Setting(CONFIG_TYPE type, const std::string& text, bool dhcp);
    // The six settings as the owner holds them now; a setting that cannot be read keeps `before`'s.
    static Config get_Loaded_Record(const Owner& owner, const Config& before);
    // The apply behind set_Config_Apply; `started` is set once the change's first step was tried (a
    // change refused before it keeps what was staged).
    static bool set_Change_Applied(bool* started);
    // One setting read with an owner already looked up.
    static uint8_t get_Config(CONFIG_TYPE type, const Owner& owner, char* buffer, unsigned int buffer_length);

    static bool get_File_Readable(const std::string& path, char* buffer, unsigned int buffer_length);

    // The settings the change in progress gave, in the order given (each once); only they are written.
    static std::vector<CONFIG_TYPE> staged_types;
    static bool owner_kept;
    static std::unique_ptr<Owner> kept_owner; // the kept lookup; null until made
    static bool kept_under_hold;              // made while this command held the settings lock
    static MANAGER_TYPE selected_manager;
    static Config default_network_info;
    static bool default_network_info_update_flag;
    static Config config;
};

// One manager that defines the interface, as the owner lookup weighs it.
struct Owner_Candidate {
    Network::MANAGER_TYPE manager;
    std::string where; // the file (or profile) that defines it, for the log
    bool running;      // the manager's service is running
};

// Among the managers that define the interface, the owner: the only one, else
// the only one whose service runs; -1 with `refusal` naming them all when that
// is still unclear, and -1 without one when there is none.
int get_Owner_Choice(const std::vector<Owner_Candidate>& candidates, const std::string& interface_name,
                     std::string* refusal);

#endif
