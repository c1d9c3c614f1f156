#ifndef LUMERION_NETWORK_IFUPDOWN_H
#define LUMERION_NETWORK_IFUPDOWN_H

#include <stdint.h>

#include <string>
#include <vector>

#include "network_types.h"

// ifupdown's back end: the stanza files ifupdown reads, one setting of the
// interface's "iface <name> inet" stanza, the stanza's edit, and its row of
// the back-end table.

// The stanza file's text after one setting is written into the interface's
// "iface <name> inet" stanza (MODE: first byte of `value`, 0 DHCP). False
// with `reason` when the file has no such stanza for an address setting.
bool get_ifupdown_Update_Text(const std::string& content, const std::string& interface_name, Config_Type type,
                              const std::string& value, std::string* text, std::string* reason);

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
                                 Config_Type type);

// Why "dns-nameservers" in a stanza takes no effect under `root` ("" for the
// host): neither resolvconf's if-up.d hook nor systemd-resolved's is there to
// apply it; "" when one is.
std::string get_ifupdown_DNS_Void(const std::string& root);

// The bridge or bond that one interfaces file makes `interface_name` a port
// of: "bridge br0" for a "bridge_ports" (or "bridge-ports") line naming it in
// br0's stanza, "bond bond0" for "bond-slaves" naming it, or "bond-master
// bond0" in its own stanza; "" for none.
std::string get_ifupdown_Master(const std::string& content, const std::string& interface_name);

// What ifupdown makes of one line of an interfaces file.
struct Ifupdown_Line {
    enum class KIND : uint8_t { OTHER, INET_STANZA, SOURCE, SOURCE_DIRECTORY } kind = KIND::OTHER;
    std::string argument; // the path pattern of a source line
};
Ifupdown_Line get_Ifupdown_Line(const std::string& line, const std::string& interface_name);

// What one walk of the files ifupdown reads under `root` ("" for the host) finds for an interface:
// /etc/network/interfaces and what its source and source-directory lines name, each file read once.
struct Ifupdown_Files {
    // Every file read, in ifupdown's reading order.
    std::vector<std::string> files;
    // The files holding an "iface <name> inet" stanza, once per stanza.
    std::vector<std::string> stanzas;
    // The bridge or bond that holds the interface as a port, and the first file that says so.
    std::string master;
    std::string master_file;
    // Why the walk stopped before the end (too many files, bytes or source lines, or too long), named
    // in one ERROR line; "" when everything was read.
    std::string cut_off;
};
Ifupdown_Files get_ifupdown_Files(const std::string& root, const std::string& interface_name);

#endif
