// Whether the host still reaches its gateway: the live facts a settings
// trial is judged by, read from the kernel without raw sockets.
#include "gateway_check.h"

#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "file_replace.h"
#include "guards.h"
#include "network_parse.h"

namespace {

const size_t max_table_bytes = 1 << 20;
// The discard service: a datagram there only makes the kernel resolve the gateway.
const uint16_t probe_port = 9;
const long resend_ms = 500;
const long poll_ms = 50;

long get_Monotonic_Ms()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000L + now.tv_nsec / 1000000L;
}

struct arpreq make_Neighbour_Request(const std::string& interface_name, const struct in_addr& address)
{
    struct arpreq request;
    memset(&request, 0, sizeof(request));
    struct sockaddr_in* protocol = reinterpret_cast<struct sockaddr_in*>(&request.arp_pa);
    protocol->sin_family = AF_INET;
    protocol->sin_addr = address;
    strncpy(request.arp_dev, interface_name.c_str(), sizeof(request.arp_dev) - 1);
    return request;
}

// One datagram towards the gateway, from `source` when given.
void send_Probe(const struct in_addr& gateway, const std::string& source)
{
    Descriptor sock(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (sock.get() < 0)
        return;
    struct sockaddr_in from;
    memset(&from, 0, sizeof(from));
    from.sin_family = AF_INET;
    if (!source.empty() && inet_pton(AF_INET, source.c_str(), &from.sin_addr) == 1 &&
        bind(sock.get(), reinterpret_cast<struct sockaddr*>(&from), sizeof(from)) != 0)
        return;
    struct sockaddr_in to;
    memset(&to, 0, sizeof(to));
    to.sin_family = AF_INET;
    to.sin_port = htons(probe_port);
    to.sin_addr = gateway;
    const char byte = 0;
    (void)sendto(sock.get(), &byte, 1, MSG_DONTWAIT, reinterpret_cast<struct sockaddr*>(&to), sizeof(to));
}

} // namespace

bool get_Gateway_Answered(const std::string& interface_name, const std::string& gateway,
                          const std::string& source, unsigned int timeout_ms)
{
    struct in_addr address;
    if (inet_pton(AF_INET, gateway.c_str(), &address) != 1)
        return false;
    Descriptor sock(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (sock.get() < 0)
        return false;
    // An entry resolved before this call proves nothing about the link now.
    struct arpreq request = make_Neighbour_Request(interface_name, address);
    (void)ioctl(sock.get(), SIOCDARP, &request);
    long deadline = get_Monotonic_Ms() + static_cast<long>(timeout_ms);
    long next_send = 0;
    for (;;) {
        long now = get_Monotonic_Ms();
        if (now >= next_send) {
            send_Probe(address, source);
            next_send = now + resend_ms;
        }
        request = make_Neighbour_Request(interface_name, address);
        if (ioctl(sock.get(), SIOCGARP, &request) == 0 && (request.arp_flags & ATF_COM) != 0)
            return true;
        if (now >= deadline)
            return false;
        (void)poll(nullptr, 0, static_cast<int>(std::min(poll_ms, deadline - now)));
    }
}

std::vector<std::string> get_Interface_Addresses(const std::string& interface_name)
{
    std::vector<std::string> held;
    struct ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return held;
    for (struct ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET ||
            interface_name != entry->ifa_name)
            continue;
        uint32_t value = ntohl(reinterpret_cast<struct sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr);
        uint32_t mask =
            entry->ifa_netmask != nullptr
                ? ntohl(reinterpret_cast<struct sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr)
                : 0xFFFFFFFFu;
        held.push_back(get_Dotted_Quad_Text(value) + "/" + std::to_string(__builtin_popcount(mask)));
    }
    freeifaddrs(list);
    return held;
}

std::string get_Default_Gateway(const std::string& table, const std::string& interface_name)
{
    std::string gateway;
    unsigned long metric = 0;
    std::istringstream in(table);
    for (std::string line; std::getline(in, line);) {
        Route_Line route;
        if (!get_Route_Table_Line(line, &route) || route.interface_name != interface_name ||
            route.destination != "00000000" || route.mask != "00000000" || route.gateway == "00000000")
            continue;
        if (gateway.empty() || route.metric < metric) {
            gateway = get_Route_Address_Text(route.gateway);
            metric = route.metric;
        }
    }
    return gateway;
}

std::string get_Live_Default_Gateway(const std::string& interface_name)
{
    std::string table;
    if (!get_Table_Text("/proc/net/route", max_table_bytes, &table))
        return "";
    return get_Default_Gateway(table, interface_name);
}
