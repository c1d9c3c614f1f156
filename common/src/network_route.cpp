#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "file_replace.h"
#include "guards.h"
#include "hex_text.h"
#include "log.h"
#include "network.h"
#include "network_parse.h"

namespace {

const size_t max_table_bytes = 1 << 20;

const char* const __log_tag = "Network";
const char* const route_table_path = "/proc/net/route";
const char* const placeholder_address = "0.0.0.0";
const char* const placeholder_subnetmask = "255.255.255.255";
const char* const placeholder_gateway = "0.0.0.0";

// Interface requests on a datagram socket; a failed request leaves the
// record zeroed, which reads as 0.0.0.0.
void set_Interface_Request(const Descriptor& sock, unsigned long code, struct ifreq* record)
{
    if (sock.get() >= 0)
        ioctl(sock.get(), code, record);
}

int get_Interface_Socket()
{
    return socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

struct ifreq make_Interface_Request(const std::string& name)
{
    struct ifreq record;
    memset(&record, 0, sizeof(record));
    record.ifr_addr.sa_family = AF_INET;
    strncpy(record.ifr_name, name.c_str(), IFNAMSIZ - 1);
    return record;
}

// An address as the socket layer holds it, in network byte order.
std::string get_Dotted_Text(const struct in_addr& address)
{
    return get_Dotted_Quad_Text(ntohl(address.s_addr));
}

} // namespace

void Network::update_Default_IP_Info()
{
    std::string address = placeholder_address;
    std::string subnetmask = placeholder_subnetmask;
    std::string gateway = placeholder_gateway;

    std::string table;
    // The kernel's table is small; anything standing in for it is read only so far.
    if (!get_Table_Text(route_table_path, max_table_bytes, &table))
        return;
    std::string interface_name, gateway_hex;
    if (get_Report_Route(table, config.target_interface, &interface_name, &gateway_hex)) {
        gateway = get_Route_Address_Text(gateway_hex);
        Descriptor sock(get_Interface_Socket());
        struct ifreq record = make_Interface_Request(interface_name);
        set_Interface_Request(sock, SIOCGIFADDR, &record);
        address = get_Dotted_Text(reinterpret_cast<struct sockaddr_in*>(&record.ifr_addr)->sin_addr);
        set_Interface_Request(sock, SIOCGIFNETMASK, &record);
        subnetmask = get_Dotted_Text(reinterpret_cast<struct sockaddr_in*>(&record.ifr_netmask)->sin_addr);
    }

    // The interface is named in the service's status, not in the report.
    default_network_info.target_interface = interface_name;
    if (address == default_network_info.ip4_address && subnetmask == default_network_info.ip4_subnetmask &&
        gateway == default_network_info.ip4_gateway)
        return;
    LOG_INFO("IP: %s, Subnetmask: %s, Gateway: %s", address.c_str(), subnetmask.c_str(), gateway.c_str());
    default_network_info.ip4_address = address;
    default_network_info.ip4_subnetmask = subnetmask;
    default_network_info.ip4_gateway = gateway;
    default_network_info_update_flag = true;
}

bool Network::get_Default_IP_Info_Update_Flag()
{
    bool flag = default_network_info_update_flag;
    default_network_info_update_flag = false;
    return flag;
}

Network::Config Network::get_Default_IP_Info()
{
    return default_network_info;
}

std::string Network::get_Interface_MAC_Address()
{
    Descriptor sock(get_Interface_Socket());
    struct ifreq record = make_Interface_Request(config.target_interface);
    set_Interface_Request(sock, SIOCGIFHWADDR, &record);
    const unsigned char* mac = reinterpret_cast<const unsigned char*>(record.ifr_hwaddr.sa_data);
    std::string text;
    for (int i = 0; i < 6; ++i) {
        if (i != 0)
            text += ':';
        append_Hex_Byte(&text, mac[i], true);
    }
    return text;
}
