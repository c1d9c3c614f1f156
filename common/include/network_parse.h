#ifndef LUMERION_NETWORK_PARSE_H
#define LUMERION_NETWORK_PARSE_H

#include <stdint.h>
#include <string>
#include <vector>

// Turning the network's host texts (routing table, nmcli answers, staged
// values) into values: pure functions, no I/O.

// Prefix length of a dotted subnet mask, each octet counted from its top bit.
uint8_t get_Subnetmask_Bit_Count(const char* str);

// The dotted mask of a prefix length 0 to 32, most significant byte first.
std::string get_Prefix_Subnetmask_Text(unsigned int prefix);

// An IPv4 address or mask held most significant byte first, as a dotted quad.
std::string get_Dotted_Quad_Text(uint32_t value);

// One line of /proc/net/route, its columns as the kernel prints them; false
// for the header and for a line without the eight columns up to Mask.
struct Route_Line {
    std::string interface_name;
    std::string destination; // hex, as the kernel holds it
    std::string gateway;
    std::string mask;
    unsigned long metric = 0;
};
bool get_Route_Table_Line(const std::string& line, Route_Line* route);

// The route the report names, from the whole of /proc/net/route: the default
// route (destination and mask zero; of several the lowest metric) wherever it
// stands, else the first link route of `managed_interface`; false for neither.
bool get_Report_Route(const std::string& table, const std::string& managed_interface,
                      std::string* interface_name, std::string* gateway_hex);

// A route-table address column (little-endian hex) as a dotted quad.
std::string get_Route_Address_Text(const std::string& hex);

// Staged values the daemon accepts: four decimal numbers 0 to 255 without
// leading zeros; a mask whose one bits are contiguous; a Linux interface name
// (1 to 15 characters, no blank, control character, "/", ":" or quote).
bool get_IPv4_Address_Valid(const std::string& text);
bool get_Subnetmask_Valid(const std::string& text);
bool get_Interface_Name_Valid(const std::string& name);

// A staged gateway that asks for no default route: empty or 0.0.0.0.
bool get_Gateway_None(const std::string& gateway);

// What a static record lacks before it may be written, named for the log:
// empty when the address is valid and not 0.0.0.0, the mask is contiguous with
// a prefix of 1 to 32, and the gateway is none or a valid address.
std::string get_Static_Record_Missing(const std::string& address, const std::string& mask,
                                      const std::string& gateway);

// Why an address can be no host's, gateway's or DNS server's: "" for a
// unicast address; otherwise the rule it breaks (0.0.0.0, loopback,
// multicast, 240.0.0.0/4), named for the log.
std::string get_Unicast_Refusal(const std::string& address);

// Why a complete static record (as get_Static_Record_Missing passes it) would
// cut the host off: the address is its subnet's network or broadcast address
// (prefixes up to 30), or the gateway is the host's own address or outside the
// subnet (so inside no /32); "" when none applies.
std::string get_Static_Record_Fault(const std::string& address, const std::string& mask,
                                    const std::string& gateway);

// A DNS server list once DNS1 and DNS2 are set: they take the places of the
// list's first two IPv4 servers in order (an empty value or 0.0.0.0 gives no
// server); one left over follows the last such place, or leads a list without
// IPv4 servers. Every other server keeps its place and order.
std::vector<std::string> get_DNS_List_Merged(const std::vector<std::string>& current, const std::string& dns1,
                                             const std::string& dns2);
// Server `index` (0 for DNS1, 1 for DNS2) among a list's IPv4 servers; "" when there is none.
std::string get_DNS_IPv4_Server(const std::vector<std::string>& list, size_t index);

// How one "nmcli -t -f FIELD con show IFACE" answer ("FIELD:value\n") reads.
enum class Nmcli_Read {
    VALUE,     // the text (or number) was found
    FALLBACK,  // the answer names none: use the live default-route value
    UNTOUCHED, // the answer names none: leave the caller's buffer alone
    INVALID,   // the answer holds something that is not the expected value
};

// ipv4.method: true for "auto".
bool get_Nmcli_Method_Auto(const std::string& answer);
// ipv4.addresses: the first address, without its prefix; FALLBACK without "/".
Nmcli_Read get_Nmcli_Address(const std::string& answer, std::string* address);
// ipv4.addresses: the first prefix length (0 to 32); FALLBACK without "/".
Nmcli_Read get_Nmcli_Prefix(const std::string& answer, unsigned int* prefix);
// ipv4.gateway: the value up to the line break; FALLBACK when it is empty.
Nmcli_Read get_Nmcli_Gateway(const std::string& answer, std::string* gateway);
// ipv4.dns: server `index` (0 or 1) of the comma-separated list; UNTOUCHED
// when there is no such server.
Nmcli_Read get_Nmcli_DNS(const std::string& answer, int index, std::string* server);

// Whether `text` is a UUID as NetworkManager writes one: 8-4-4-4-12 hexadecimal digits.
bool get_Uuid_Valid(const std::string& text);

#endif
