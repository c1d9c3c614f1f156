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

// The IPv4 addresses the interface holds, as "A/N".
std::vector<std::string> get_Interface_Addresses(const std::string& interface_name);

// The gateway of the main table's IPv4 default route through `interface_name`,
// from the whole of /proc/net/route; "" when there is none.
std::string get_Default_Gateway(const std::string& table, const std::string& interface_name);

// The same, read from the kernel's table now.
std::string get_Live_Default_Gateway(const std::string& interface_name);

#endif
