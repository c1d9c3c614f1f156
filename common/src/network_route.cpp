#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

#include "log.h"
#include "network.h"

namespace {

const size_t max_table_bytes = 1 << 20;
const size_t max_line_bytes = 4096;

const char* const __log_tag = "Network";
const char* const route_table_path = "/proc/net/route";
const char* const placeholder_address = "0.0.0.0";
const char* const placeholder_subnetmask = "255.255.255.255";
const char* const placeholder_gateway = "0.0.0.0";

struct File_Closer {
    void operator()(FILE* file) const { fclose(file); }
};

// A datagram socket for interface requests, closed on every path.
class Interface_Socket {
public:
    Interface_Socket() : fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~Interface_Socket()
    {
        if (fd >= 0)
            close(fd);
    }
    Interface_Socket(const Interface_Socket&) = delete;
    Interface_Socket& operator=(const Interface_Socket&) = delete;

    // A failed request leaves the record zeroed, which reads as 0.0.0.0.
    void request(unsigned long code, struct ifreq* record) const
    {
        if (fd >= 0)
            ioctl(fd, code, record);
    }

private:
    int fd;
};

struct ifreq make_Interface_Request(const std::string& name)
{
    struct ifreq record;
    memset(&record, 0, sizeof(record));
    record.ifr_addr.sa_family = AF_INET;
    strncpy(record.ifr_name, name.c_str(), IFNAMSIZ - 1);
    return record;
}

std::string get_Dotted_Text(const unsigned char* bytes)
{
    char text[16];
    snprintf(text, sizeof(text), "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}

} // namespace

void Network::update_Default_IP_Info()
{
    std::string address = placeholder_address;
    std::string subnetmask = placeholder_subnetmask;
    std::string gateway = placeholder_gateway;

    std::unique_ptr<FILE, File_Closer> table(fopen(route_table_path, "r"));
    if (!table)
        return;
    std::string interface_name, gateway_hex;
    bool found = false;
    char piece[256];
    std::string line;
    size_t total = 0;
    // The kernel's table is small; anything standing in for it is read only so far.
    while (!found && total < max_table_bytes && fgets(piece, sizeof(piece), table.get()) != nullptr) {
        size_t length = strlen(piece);
        total += length;
        if (line.size() < max_line_bytes)
            line += piece;
        if ((length == 0 || piece[length - 1] != '\n') && !feof(table.get()))
            continue;
        found = get_Route_Table_Line(line, &interface_name, &gateway_hex);
        line.clear();
    }
    if (found) {
        gateway = get_Route_Address_Text(gateway_hex);
        Interface_Socket sock;
        struct ifreq record = make_Interface_Request(interface_name);
        sock.request(SIOCGIFADDR, &record);
        address = inet_ntoa(reinterpret_cast<struct sockaddr_in*>(&record.ifr_addr)->sin_addr);
        sock.request(SIOCGIFNETMASK, &record);
        subnetmask = get_Dotted_Text(reinterpret_cast<const unsigned char*>(
            &reinterpret_cast<struct sockaddr_in*>(&record.ifr_netmask)->sin_addr));
    }

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
    Interface_Socket sock;
    struct ifreq record = make_Interface_Request(config.target_interface);
    sock.request(SIOCGIFHWADDR, &record);
    const unsigned char* mac = reinterpret_cast<const unsigned char*>(record.ifr_hwaddr.sa_data);
    char text[18];
    snprintf(text, sizeof(text), "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3], mac[4],
             mac[5]);
    return text;
}
