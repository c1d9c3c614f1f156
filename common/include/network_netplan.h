#ifndef LUMERION_NETWORK_NETPLAN_H
#define LUMERION_NETWORK_NETPLAN_H

#include <stdint.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "netplan_reader.h"
#include "network_types.h"

// netplan's back end: its files in netplan's order, the definition that owns
// the interface, one setting read from netplan's merged document, the edit of
// the file that holds the definition, and its row of the back-end table.

// The netplan document with the staged interface's entry rewritten from
// `staged`: what the daemon owns (dhcp4, its IPv4 address, its main-table
// IPv4 default route, gateway4, the DNS server list) is replaced, everything
// else is carried over. False with `reason` when the document cannot be edited.
bool get_netplan_Update_Text(const std::string& document_text, const Network_Config& staged,
                             std::string* text, std::string* reason);

// What the "networkmanager.passthrough" block of definition `entry` in
// netplan's document sets of one setting, as NetworkManager gets it over
// netplan's own keys (MODE "0" for auto, "1" otherwise; a mask as a dotted
// quad); false when the block does not set it.
bool get_netplan_Passthrough_Setting(const std::string& document, const std::string& entry, Config_Type type,
                                     std::string* value);

// The bridge or bond netplan's merged document makes definition `id` a port of ("bridge br0",
// "bond bond0"); "" for none.
std::string get_netplan_Master(const std::string& merged, const std::string& id);

// The default document written for a bare host's interface.
std::string get_netplan_Default_Text(const std::string& interface_name);

// The owner of `interface_name` among netplan's `files` (in netplan's order),
// given the definitions netplan's matching applies to it and whether
// cloud-init still rewrites its files: the definition, the one file an edit
// may go to, or why none may.
Netplan_Owner get_netplan_Owner(const std::vector<Netplan_File>& files,
                                const std::vector<std::string>& applying_ids,
                                const std::string& interface_name, bool cloud_init_renders);

// Why definition `id` of netplan's merged document may not be edited for one interface: its "match"
// binds it to no single interface (no MAC address, a name with a glob, a driver), so that a change would
// reach every interface it takes; names the definition, the file `where` it is edited, its match and the
// host's `interfaces` it takes now. "" when it is bound.
std::string get_netplan_Shared_Refusal(const std::string& merged, const std::string& id,
                                       const std::string& where,
                                       const std::function<std::vector<Interface_Facts>()>& interfaces);

// The netplan files under `root` ("" for the host) in netplan's order: by
// name, a file of /run/netplan hiding one of /etc/netplan, which hides one of
// /lib/netplan. Empty, with `error`, when one of them cannot be read.
std::vector<Netplan_File> get_netplan_Files(const std::string& root, std::string* error);

// One cloud-init configuration's say on its network rendering: 1 disabled,
// 0 enabled, -1 silent.
int get_Cloud_Network_Disabled(const std::string& config_text);
// Whether cloud-init under `root` still renders the network at boot.
bool get_Cloud_Init_Renders(const std::string& root);

// Where the daemon writes a bare host's default, and the file it reads alone when no definition applies.
extern const char* const netplan_default_path;
// The test netplan's reader of this daemon applies to an "addresses" entry: IPv4 or not.
extern const std::regex netplan_ipv4_pattern;

// Between netplan's own source files: the row's entry points (network_backend.h).
struct Owner_Lookup;
bool get_netplan_Found(Owner_Lookup* lookup, std::vector<Interface_Owner>* found);
bool get_netplan_Found_Alone(const Owner_Lookup& lookup, Interface_Owner* owner);
std::string get_netplan_Owner_Service(const Interface_Owner& owner);
// Whether netplan's merged document holds the owner's entry as a map; says nothing.
bool get_netplan_Entry_Readable(const Interface_Owner& owner);
uint8_t get_netplan_Config(Config_Type type, const Interface_Owner& owner, char* buffer,
                           unsigned int buffer_length);
// Whether netplan's own parser accepts the file the plan writes last, read with every other netplan file
// of the host; false with one ERROR line.
bool get_netplan_Plan_Accepted(const struct Change_Plan& plan, const Interface_Owner& owner);
// netplan's verdict on `text` as the new `file`; false with netplan's first error line.
bool get_netplan_Accepted(const std::string& file, const std::string& text, const std::string& interface_name,
                          std::string* error);

#endif
