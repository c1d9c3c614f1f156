#ifndef LUMERION_GATEWAY_CHECK_H
#define LUMERION_GATEWAY_CHECK_H

#include <stdint.h>

#include <string>
#include <vector>

#include "network_types.h"

// What one check of the gateway found.
enum class Gateway_Answer : uint8_t {
    ANSWERED,  // it answered the datagrams sent now
    SILENT,    // it did not answer within the time given
    UNCHECKED, // its neighbour entry is pinned (permanent or noarp): no probe can tell
};

// Whether `gateway` answers at the link layer on `interface_name`: a dynamic
// neighbour entry is cleared first, so only an answer to the datagrams sent
// now (from `source`, when given) counts, never one from before. A pinned
// entry is never touched: the answer is UNCHECKED, with the reason in `why`.
// Waits at most `timeout_ms`. A local address is never resolved, so it never answers.
Gateway_Answer get_Gateway_Answer(const std::string& interface_name, const std::string& gateway,
                                  const std::string& source, unsigned int timeout_ms, std::string* why);

// The state (NUD_* bits) of the IPv4 neighbour entry for `address` (in
// network order) on interface `index`, in the kernel's answer to a
// neighbour dump (RTM_NEWNEIGH messages); 0 when there is none.
uint16_t get_Netlink_Neighbour_State(const std::string& answer, unsigned int index, uint32_t address);

// The same from the text of /proc/net/arp, which tells a permanent entry
// (flag ATF_PERM) from a learned one, but not a noarp one.
uint16_t get_Arp_Table_Neighbour_State(const std::string& table, const std::string& interface_name,
                                       uint32_t address);

// Why a neighbour entry in `state` cannot be probed ("" when it can).
std::string get_Neighbour_Pin(uint16_t state);

// One IPv4 address an interface holds.
struct Interface_Address {
    std::string cidr;    // "A/N"
    bool leased = false; // it has a finite lifetime, as a DHCP client's address has
};

// The IPv4 addresses of interface `index` in the kernel's answer to an
// address dump (RTM_NEWADDR messages, as read from a netlink socket).
std::vector<Interface_Address> get_Netlink_Addresses(const std::string& answer, unsigned int index);

// The IPv4 addresses the interface holds now.
std::vector<Interface_Address> get_Interface_Addresses(const std::string& interface_name);

// The gateway of the main table's IPv4 default route through `interface_name`,
// from the whole of /proc/net/route; "" when there is none.
std::string get_Default_Gateway(const std::string& table, const std::string& interface_name);

// The same, read from the kernel's table now.
std::string get_Live_Default_Gateway(const std::string& interface_name);

// The interface's own live facts: its first IPv4 address and mask, the main table's default route through
// it; "" for each it lacks (what a DHCP server leased it shows here).
Network_Config get_Interface_Live_Config(const std::string& interface_name);

#endif
