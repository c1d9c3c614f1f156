#ifndef LUMERION_NETWORK_NETWORKD_H
#define LUMERION_NETWORK_NETWORKD_H

#include <string>
#include <vector>

#include "netplan_reader.h"
#include "network_types.h"

// systemd-networkd's back end, read only: the .network file that applies to
// the interface, one setting of it, and its row of the back-end table.

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
std::string get_Networkd_Setting(const std::string& text, Config_Type type);

// Why an interface systemd-networkd manages through `file` is not changed, and how to hand it over.
std::string get_Networkd_Refusal(const std::string& interface_name, const std::string& file);

// The .network file systemd-networkd applies (or would apply) to the interface, but netplan's rendering;
// "" for none.
std::string get_Networkd_Owner_File(const Interface_Facts& facts);

#endif
