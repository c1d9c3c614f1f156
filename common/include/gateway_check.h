#ifndef LUMERION_GATEWAY_CHECK_H
#define LUMERION_GATEWAY_CHECK_H

#include <string>
#include <vector>

// Whether `gateway` answers at the link layer on `interface_name`: its
// neighbour entry is cleared first, so only an answer to the datagrams sent
// now (from `source`, when given) counts, never one from before. Waits at
// most `timeout_ms`. A local address is never resolved, so it never answers.
bool get_Gateway_Answered(const std::string& interface_name, const std::string& gateway,
                          const std::string& source, unsigned int timeout_ms);

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

#endif
