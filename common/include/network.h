#ifndef LUMERION_NETWORK_H
#define LUMERION_NETWORK_H

#include <stdint.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "netplan_reader.h"
#include "network_parse.h"
#include "network_types.h"

struct Plan_Step;
struct Plan_Input;
struct Change_Plan;
enum class Change_Result : uint8_t;
class Probe_Run;

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
    friend bool get_netplan_Update_Text(const std::string& document_text, const Config& staged,
                                        std::string* text, std::string* reason);
    friend Netplan_Owner get_netplan_Owner(const std::vector<Netplan_File>& files,
                                           const std::vector<std::string>& applying_ids,
                                           const std::string& interface_name, bool cloud_init_renders);

    using Owner = Interface_Owner;

    // The selection behind both: with `owner_files`, the leftover and the default are written first.
    static void set_Interface_Chosen(const char* name, bool owner_files);
    // Whether each manager's file for the selected interface is readable;
    // on success its path is copied into `buffer` (fixed-length copy).
    static bool get_netplan_Config_Exist(char* buffer, unsigned int buffer_length);
    // Running unless "systemctl is-active NetworkManager" says "inactive".
    static bool get_Network_Manager_Service_Status();
    // The same from a query started earlier (it ran while the lookup read the files), and its command.
    static bool get_Network_Manager_Answer(Probe_Run* query);
    static const char* get_Network_Manager_Query();
    static std::string get_Network_Manager_Config_Path();

    // The owner lookup; it never writes. UNKNOWN when no manager defines the
    // interface or the interface does not exist. With the owner kept, the first lookup's.
    static Owner get_Owner();
    // The lookup itself; `network_manager` (0 or 1) is NetworkManager's state when known, so that it is not
    // asked again (-1: ask).
    static Owner get_Owner_Found(int network_manager = -1);
    // The service that applies the owner's configuration.
    static std::string get_Manager_Service(const Owner& owner);
    static bool get_Own_File_Readable_Alone(const std::vector<Netplan_File>& files,
                                            const Netplan_Reading& reading, const Interface_Facts& facts);
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
        bool unmanaged = false; // no manager could take one: the host's settings are not this daemon's
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

    // The back ends of get_Config, set_Config and set_Config_Apply.
    // Whether netplan's document holds the owner's entry as a map; says nothing.
    static bool get_netplan_Entry_Readable(const Owner& owner);
    static uint8_t get_netplan_Config(CONFIG_TYPE type, const Owner& owner, char* buffer,
                                      unsigned int buffer_length);
    static uint8_t get_ifupdown_Config(CONFIG_TYPE type, const char* path, char* buffer,
                                       unsigned int buffer_length);
    static uint8_t get_Network_Manager_Config(CONFIG_TYPE type, const Owner& owner, char* buffer,
                                              unsigned int buffer_length);
    // One setting into the staged record; MODE takes `dhcp`, the others `text`.
    // The setting is then one this change gives.
    static void set_Staged_Setting(CONFIG_TYPE type, const std::string& text, bool dhcp);
    // The six settings as the owner holds them now; a setting that cannot be read keeps `before`'s.
    static Config get_Loaded_Record(const Owner& owner, const Config& before);
    // Whether netplan's own parser accepts the netplan file a plan writes; false, with one ERROR line, when
    // not.
    static bool get_netplan_Plan_Accepted(const std::vector<Plan_Step>& steps, const Owner& owner);
    // netplan's verdict on `text` as the new `file`, read with every other
    // netplan file of the host; false with netplan's first error line.
    static bool get_netplan_Accepted(const std::string& file, const std::string& text, std::string* error);
    // The profile's "ipv4.method,ipv4.addresses,ipv4.dns" answer, which a change keeps addresses and servers
    // from.
    static std::string get_Network_Manager_Current(const Owner& owner);
    // The apply behind set_Config_Apply; `started` is set once the change's first step was tried (a
    // change refused before it keeps what was staged).
    static bool set_Change_Applied(bool* started);
    // The master of profile `uuid` ("bridge br0"), from nmcli; "" for none.
    static std::string get_Network_Manager_Master(const std::string& uuid);
    // The .network file systemd-networkd applies (or would apply) to the interface, but netplan's
    // rendering; "" for none.
    static std::string get_Networkd_Owner_File(const Interface_Facts& facts);
    static uint8_t get_Networkd_Config(CONFIG_TYPE type, const Owner& owner, char* buffer,
                                       unsigned int buffer_length);
    // The profile NetworkManager uses or would use for the interface, from nmcli.
    static Nm_Choice get_Network_Manager_Profile(const Interface_Facts& facts);
    // One setting read with an owner already looked up.
    static uint8_t get_Config(CONFIG_TYPE type, const Owner& owner, char* buffer, unsigned int buffer_length);
    // The live values as a read falls back to them, the selected interface's own (its first IPv4
    // address, the main table's default route through it): empty for none, so an incomplete record
    // is refused.
    static std::string get_Live_Gateway();
    static std::string get_Live_Address();
    static std::string get_Live_Subnetmask();

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
    static const std::regex ipv4_regex;
    static const char* const netplan_config_path;
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

// What the "networkmanager.passthrough" block of definition `entry` in
// netplan's document sets of one setting, as NetworkManager gets it over
// netplan's own keys (MODE "0" for auto, "1" otherwise; a mask as a dotted
// quad); false when the block does not set it.
bool get_netplan_Passthrough_Setting(const std::string& document, const std::string& entry,
                                     Network::CONFIG_TYPE type, std::string* value);

// The stanza file's text after one setting is written into the interface's
// "iface <name> inet" stanza (MODE: first byte of `value`, 0 DHCP). False
// with `reason` when the file has no such stanza for an address setting.
bool get_ifupdown_Update_Text(const std::string& content, const std::string& interface_name,
                              Network::CONFIG_TYPE type, const std::string& value, std::string* text,
                              std::string* reason);

// The stanza file's text with DNS1 and DNS2 written into the stanza's
// "dns-nameservers" together (every other server kept where it stands).
bool get_ifupdown_DNS_Text(const std::string& content, const std::string& interface_name,
                           const std::string& dns1, const std::string& dns2, std::string* text,
                           std::string* reason);

// One setting as the interface's "iface <name> inet" stanza in `content`
// gives it: MODE "0" (dhcp) or "1"; the address and mask of "address A/N"
// apart; DNS1 and DNS2 the first two IPv4 servers of "dns-nameservers"; "" for
// what the stanza does not hold.
std::string get_ifupdown_Setting(const std::string& content, const std::string& interface_name,
                                 Network::CONFIG_TYPE type);

// The one "nmcli con mod uuid" command that pushes staged settings into the
// profile `uuid`, given its "nmcli -t -f ipv4.method,ipv4.addresses,ipv4.dns" answer:
// the first address of a manual profile is the managed one, every other
// address is kept, and so is every DNS server after the first two (values shell-quoted).
std::string get_Network_Manager_Modify_Command(const Network::Config& staged, const std::string& uuid,
                                               const std::string& current);

// One line of terse nmcli output split into its fields ("\:" is a colon
// inside a field, "\\" a backslash).
std::vector<std::string> get_Nmcli_Terse_Fields(const std::string& line);
// The value of `field` in a terse "field:value" answer; empty when absent.
std::string get_Nmcli_Field(const std::string& answer, const std::string& field);
// The profiles of "nmcli -t -f UUID,TYPE,NAME,FILENAME con show"; lines
// without a well-formed UUID are left out.
std::vector<Nm_Profile> get_Nmcli_Profiles(const std::string& listing);
// The profile for `facts`' interface: the active one (`active_uuid`), else the
// one wired profile bound to it by name or MAC address and to nothing else.
Nm_Choice get_Network_Manager_Choice(const std::vector<Nm_Profile>& profiles, const std::string& active_uuid,
                                     const Interface_Facts& facts);

// Why "dns-nameservers" in a stanza takes no effect under `root` ("" for the
// host): neither resolvconf's if-up.d hook nor systemd-resolved's is there to
// apply it; "" when one is.
std::string get_ifupdown_DNS_Void(const std::string& root);

// The bridge or bond that one interfaces file makes `interface_name` a port
// of: "bridge br0" for a "bridge_ports" (or "bridge-ports") line naming it in
// br0's stanza, "bond bond0" for "bond-slaves" naming it, or "bond-master
// bond0" in its own stanza; "" for none.
std::string get_ifupdown_Master(const std::string& content, const std::string& interface_name);
// The same over every file ifupdown reads under `root` ("" for the host), with the file that says it.
std::string get_ifupdown_Port_Master(const std::string& root, const std::string& interface_name,
                                     std::string* file);
// The bridge or bond netplan's merged document makes definition `id` a port of ("bridge br0",
// "bond bond0"); "" for none.
std::string get_netplan_Master(const std::string& merged, const std::string& id);
// The master of a "connection.master,connection.slave-type" answer ("bridge br0"); "" for none.
std::string get_Nmcli_Master(const std::string& answer);

// Whether a .network file's [Match] selects the interface: by Name=, Type=
// and Driver= (globs, "!" inverting) and MACAddress=; a wireless condition
// holds for no wired link; one that cannot be judged here (Path=, Host=,
// Kind=, ...) counts as met, as does an empty [Match].
bool get_Networkd_Match(const std::string& text, const Interface_Facts& facts);
// The .network files under `root` ("" for the host) in networkd's order: by
// name, /etc hiding /run hiding /usr/lib; a masked (empty) name left out.
std::vector<std::string> get_Networkd_Files(const std::string& root);
// The "Network File:" of a "networkctl status" answer ("" for networkd's
// "n/a"); false when the answer names none (networkd does not run).
bool get_Networkctl_File(const std::string& answer, std::string* file);
// One setting as a .network file gives it: MODE "0" for DHCP= yes or ipv4,
// else "1"; the first IPv4 Address= apart as address and mask; Gateway= of
// [Network], else a default [Route]'s; DNS1 and DNS2 the first two IPv4 DNS=
// servers; "" for what the file does not hold.
std::string get_Networkd_Setting(const std::string& text, Network::CONFIG_TYPE type);

// What ifupdown makes of one line of an interfaces file.
struct Ifupdown_Line {
    enum class KIND : uint8_t { OTHER, INET_STANZA, SOURCE, SOURCE_DIRECTORY } kind = KIND::OTHER;
    std::string argument; // the path pattern of a source line
};
Ifupdown_Line get_Ifupdown_Line(const std::string& line, const std::string& interface_name);
// Every file under `root` ("" for the host) holding an "iface <name> inet"
// stanza that ifupdown reads, once per stanza, in ifupdown's reading order:
// /etc/network/interfaces and what its source and source-directory lines name.
std::vector<std::string> get_ifupdown_Stanza_Files(const std::string& root,
                                                   const std::string& interface_name);

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
