#ifndef LUMERION_NETWORK_MANAGER_H
#define LUMERION_NETWORK_MANAGER_H

#include <stdint.h>

#include <string>
#include <vector>

#include "netplan_reader.h"
#include "network_types.h"

// NetworkManager's back end: nmcli's answers, the profile that takes the
// interface, the one "nmcli con mod" of a change, and its row of the
// back-end table.

// The one "nmcli con mod uuid" command that pushes staged settings into the
// profile `uuid`, given its "nmcli -t -f ipv4.method,ipv4.addresses,ipv4.dns" answer:
// the first address of a manual profile is the managed one, every other
// address is kept, and so is every DNS server after the first two (values shell-quoted).
std::string get_Network_Manager_Modify_Command(const Network_Config& staged, const std::string& uuid,
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
// A profile's binding and boot terms from nmcli's answer for connection.interface-name,
// 802-3-ethernet.mac-address, connection.autoconnect and connection.autoconnect-priority.
void set_Nmcli_Binding(const std::string& answer, Nm_Profile* profile);

Nm_Choice get_Network_Manager_Choice(const std::vector<Nm_Profile>& profiles, const std::string& active_uuid,
                                     const Interface_Facts& facts);

// The master of a "connection.master,connection.slave-type" answer ("bridge br0"); "" for none.
std::string get_Nmcli_Master(const std::string& answer);

class Probe_Run;

// The query whether NetworkManager runs, and its answer: running unless systemctl says "inactive".
const char* get_Network_Manager_Query();
bool get_Network_Manager_Answer(Probe_Run* query);

// Between NetworkManager's own source files: what its row reads through nmcli.
uint8_t get_Network_Manager_Config(Config_Type type, const Interface_Owner& owner, char* buffer,
                                   unsigned int buffer_length);
// The profile's "ipv4.method,ipv4.addresses,ipv4.dns" answer, which a change keeps addresses and servers
// from.
std::string get_Network_Manager_Current(const Interface_Owner& owner);
// The profile NetworkManager uses or would use for the interface, from nmcli.
Nm_Choice get_Network_Manager_Profile(const Interface_Facts& facts);
// The master of profile `uuid` ("bridge br0"), from nmcli; "" for none.
std::string get_Network_Manager_Master(const std::string& uuid);

#endif
