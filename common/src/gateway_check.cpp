// Whether the host still reaches its gateway: the live facts a settings
// trial is judged by, read from the kernel without raw sockets.
#include "gateway_check.h"

#include <arpa/inet.h>
#include <errno.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <utility>

#include "file_replace.h"
#include "guards.h"
#include "monotonic_clock.h"
#include "network_parse.h"

namespace {

const size_t max_table_bytes = 1 << 20;
// The discard service: a datagram there only makes the kernel resolve the gateway.
const uint16_t probe_port = 9;
const long resend_ms = 500;
const long poll_ms = 50;

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

// One message of a route socket's answer: its fixed part and its attributes, by type.
struct Netlink_Message {
    std::string body;
    std::vector<std::pair<uint16_t, std::string>> attributes;
};

// Every message of `type` in `answer` whose fixed part holds `body_size` bytes, in order. A message
// cut short, or one claiming more than was read, ends the walk there; a bad attribute ends its message's.
std::vector<Netlink_Message> get_Netlink_Messages(const std::string& answer, uint16_t type, size_t body_size)
{
    std::vector<Netlink_Message> messages;
    size_t at = 0;
    while (answer.size() - at >= sizeof(struct nlmsghdr)) {
        struct nlmsghdr header;
        memcpy(&header, answer.data() + at, sizeof(header));
        if (header.nlmsg_len < sizeof(header) || header.nlmsg_len > answer.size() - at)
            break;
        size_t end = at + header.nlmsg_len;
        size_t body = at + NLMSG_HDRLEN;
        at += std::min(static_cast<size_t>(NLMSG_ALIGN(header.nlmsg_len)), answer.size() - at);
        if (header.nlmsg_type != type || end - body < body_size)
            continue;
        Netlink_Message message;
        message.body = answer.substr(body, body_size);
        // Attributes follow the fixed part, each aligned to four bytes.
        for (size_t attr = body + NLMSG_ALIGN(body_size);
             end > attr && end - attr >= sizeof(struct rtattr);) {
            struct rtattr header_attr;
            memcpy(&header_attr, answer.data() + attr, sizeof(header_attr));
            if (header_attr.rta_len < sizeof(header_attr) || header_attr.rta_len > end - attr)
                break;
            message.attributes.emplace_back(
                header_attr.rta_type,
                answer.substr(attr + RTA_LENGTH(0), header_attr.rta_len - RTA_LENGTH(0)));
            attr += std::min(static_cast<size_t>(RTA_ALIGN(header_attr.rta_len)), end - attr);
        }
        messages.push_back(message);
    }
    return messages;
}

// The kernel's whole answer to a dump of every IPv4 object of `type` (RTM_GETADDR, RTM_GETNEIGH), whose
// request's fixed part is `body_size` bytes with the family first; "" when it cannot be asked.
std::string get_Netlink_Dump(uint16_t type, size_t body_size)
{
    struct nlmsghdr header;
    memset(&header, 0, sizeof(header));
    header.nlmsg_len = static_cast<uint32_t>(NLMSG_HDRLEN + body_size);
    header.nlmsg_type = type;
    header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    std::string request(reinterpret_cast<const char*>(&header), sizeof(header));
    request.resize(NLMSG_HDRLEN + body_size, '\0');
    request[NLMSG_HDRLEN] = static_cast<char>(AF_INET);
    Descriptor sock(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (sock.get() < 0 || send(sock.get(), request.data(), request.size(), 0) < 0)
        return "";
    std::string answer;
    // The dump ends with NLMSG_DONE; the kernel's answer for one host is small.
    while (answer.size() < max_table_bytes) {
        struct pollfd ready = {sock.get(), POLLIN, 0};
        if (poll(&ready, 1, 1000) <= 0)
            break;
        char chunk[16384];
        ssize_t n = recv(sock.get(), chunk, sizeof(chunk), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        answer.append(chunk, static_cast<size_t>(n));
        struct nlmsghdr last;
        size_t at = 0;
        bool done = false;
        // Whether this chunk held the dump's end.
        while (static_cast<size_t>(n) - at >= sizeof(last)) {
            memcpy(&last, chunk + at, sizeof(last));
            if (last.nlmsg_type == NLMSG_DONE || last.nlmsg_type == NLMSG_ERROR ||
                last.nlmsg_len < sizeof(last))
                done = true;
            if (done || last.nlmsg_len == 0)
                break;
            at += NLMSG_ALIGN(last.nlmsg_len);
        }
        if (done)
            break;
    }
    return answer;
}

// The entry's state as the kernel's ARP table and the interface's flags tell it: a permanent entry,
// or any entry on an interface that does no ARP (which the kernel keeps as noarp).
uint16_t get_Arp_Table_State(const std::string& interface_name, uint32_t address)
{
    Descriptor sock(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    struct ifreq flags;
    memset(&flags, 0, sizeof(flags));
    strncpy(flags.ifr_name, interface_name.c_str(), sizeof(flags.ifr_name) - 1);
    if (sock.get() >= 0 && ioctl(sock.get(), SIOCGIFFLAGS, &flags) == 0 && (flags.ifr_flags & IFF_NOARP) != 0)
        return NUD_NOARP;
    std::string table;
    if (!get_Table_Text("/proc/net/arp", max_table_bytes, &table))
        return 0;
    return get_Arp_Table_Neighbour_State(table, interface_name, address);
}

// The state of the gateway's neighbour entry now, from the kernel's neighbour table; where the
// route socket carries no neighbour messages (an emulator's), from /proc/net/arp.
uint16_t get_Neighbour_State(const std::string& interface_name, uint32_t address)
{
    unsigned int index = if_nametoindex(interface_name.c_str());
    if (index == 0)
        return 0;
    std::string dump = get_Netlink_Dump(RTM_GETNEIGH, sizeof(struct ndmsg));
    if (dump.empty())
        return get_Arp_Table_State(interface_name, address);
    return get_Netlink_Neighbour_State(dump, index, address);
}

} // namespace

Gateway_Answer get_Gateway_Answer(const std::string& interface_name, const std::string& gateway,
                                  const std::string& source, unsigned int timeout_ms, std::string* why)
{
    struct in_addr address;
    if (inet_pton(AF_INET, gateway.c_str(), &address) != 1)
        return Gateway_Answer::SILENT;
    // A pinned entry (static ARP against spoofing, or a gateway that never answers ARP) is the host's
    // own: deleting it could cut the host off, and an answer could not be told from the pin anyway.
    std::string pin = get_Neighbour_Pin(get_Neighbour_State(interface_name, address.s_addr));
    if (!pin.empty()) {
        *why = "its neighbour entry on " + interface_name + " is " + pin;
        return Gateway_Answer::UNCHECKED;
    }
    Descriptor sock(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (sock.get() < 0)
        return Gateway_Answer::SILENT;
    // A dynamic entry resolved before this call proves nothing about the link now.
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
            return Gateway_Answer::ANSWERED;
        if (now >= deadline)
            return Gateway_Answer::SILENT;
        (void)poll(nullptr, 0, static_cast<int>(std::min(poll_ms, deadline - now)));
    }
}

uint16_t get_Netlink_Neighbour_State(const std::string& answer, unsigned int index, uint32_t address)
{
    for (const Netlink_Message& found : get_Netlink_Messages(answer, RTM_NEWNEIGH, sizeof(struct ndmsg))) {
        struct ndmsg message;
        memcpy(&message, found.body.data(), sizeof(message));
        if (message.ndm_family != AF_INET || static_cast<unsigned int>(message.ndm_ifindex) != index)
            continue;
        for (const auto& attribute : found.attributes)
            if (attribute.first == NDA_DST && attribute.second.size() == 4 &&
                memcmp(attribute.second.data(), &address, 4) == 0)
                return message.ndm_state;
    }
    return 0;
}

uint16_t get_Arp_Table_Neighbour_State(const std::string& table, const std::string& interface_name,
                                       uint32_t address)
{
    std::istringstream in(table);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string ip, type, flags, hardware, mask, device;
        struct in_addr entry;
        if (!(words >> ip >> type >> flags >> hardware >> mask >> device) || device != interface_name ||
            inet_pton(AF_INET, ip.c_str(), &entry) != 1 || entry.s_addr != address)
            continue;
        unsigned long value = strtoul(flags.c_str(), nullptr, 16);
        return (value & ATF_PERM) != 0  ? NUD_PERMANENT
               : (value & ATF_COM) != 0 ? NUD_REACHABLE
                                        : NUD_INCOMPLETE;
    }
    return 0;
}

std::string get_Neighbour_Pin(uint16_t state)
{
    if ((state & NUD_PERMANENT) != 0)
        return "permanent";
    if ((state & NUD_NOARP) != 0)
        return "noarp";
    return "";
}

std::vector<Interface_Address> get_Netlink_Addresses(const std::string& answer, unsigned int index)
{
    std::vector<Interface_Address> held;
    for (const Netlink_Message& found : get_Netlink_Messages(answer, RTM_NEWADDR, sizeof(struct ifaddrmsg))) {
        struct ifaddrmsg message;
        memcpy(&message, found.body.data(), sizeof(message));
        if (message.ifa_family != AF_INET || message.ifa_index != index)
            continue;
        uint32_t flags = message.ifa_flags;
        std::string local, address;
        for (const auto& attribute : found.attributes) {
            if (attribute.second.size() != 4)
                continue;
            if (attribute.first == IFA_LOCAL)
                local = attribute.second;
            else if (attribute.first == IFA_ADDRESS)
                address = attribute.second;
            else if (attribute.first == IFA_FLAGS)
                memcpy(&flags, attribute.second.data(), 4);
        }
        const std::string& bytes = local.empty() ? address : local;
        if (bytes.empty())
            continue;
        uint32_t value = 0;
        memcpy(&value, bytes.data(), 4);
        Interface_Address held_address;
        held_address.cidr = get_Dotted_Quad_Text(ntohl(value)) + "/" + std::to_string(message.ifa_prefixlen);
        held_address.leased = (flags & IFA_F_PERMANENT) == 0;
        held.push_back(held_address);
    }
    return held;
}

std::vector<Interface_Address> get_Interface_Addresses(const std::string& interface_name)
{
    unsigned int index = if_nametoindex(interface_name.c_str());
    if (index == 0)
        return {};
    return get_Netlink_Addresses(get_Netlink_Dump(RTM_GETADDR, sizeof(struct ifaddrmsg)), index);
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

Network_Config get_Interface_Live_Config(const std::string& interface_name)
{
    Network_Config live;
    live.target_interface = interface_name;
    std::vector<Interface_Address> held = get_Interface_Addresses(interface_name);
    if (!held.empty()) {
        const std::string& cidr = held.front().cidr;
        size_t slash = cidr.find('/');
        live.ip4_address = cidr.substr(0, slash);
        live.ip4_subnetmask = get_Prefix_Subnetmask_Text(
            static_cast<unsigned int>(strtoul(cidr.c_str() + slash + 1, nullptr, 10)));
    }
    live.ip4_gateway = get_Live_Default_Gateway(interface_name);
    return live;
}
