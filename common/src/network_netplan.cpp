// The netplan back end: reading one setting from the interface's entry in
// /etc/netplan/01-netcfg.yaml, and rewriting that entry from the staged record.
#include <stdio.h>
#include <string.h>

#include <sstream>
#include <stdexcept>

#include <yaml-cpp/yaml.h>

#include "file_replace.h"
#include "log.h"
#include "network.h"

namespace {

const char* const __log_tag = "Network";
const size_t update_path_length = 100;
const mode_t netplan_file_mode = 0600;

// A value in the file that the daemon cannot use (a "dhcp4" that is not a
// boolean, an address entry that is not a text, a prefix out of range).
class Value_Error : public std::runtime_error {
public:
    explicit Value_Error(const std::string& what) : std::runtime_error(what) {}
};

// A level of the document that must hold a map (or nothing yet): indexing a
// sequence or scalar by key would turn it into a map or throw.
void check_Map_Or_Absent(const YAML::Node& node, const char* what)
{
    if (node.IsDefined() && !node.IsMap() && !node.IsNull())
        throw Value_Error(std::string(what) + " is not a map");
}

// A missing key gives an invalid node, whose type cannot even be asked.
bool is_Scalar(const YAML::Node& node)
{
    return node.IsDefined() && node.IsScalar();
}
bool is_Sequence(const YAML::Node& node)
{
    return node.IsDefined() && node.IsSequence();
}
bool is_Map(const YAML::Node& node)
{
    return node.IsDefined() && node.IsMap();
}

std::string get_Scalar_Text(const YAML::Node& node, const char* what)
{
    if (!is_Scalar(node))
        throw Value_Error(std::string(what) + " is not a text");
    return node.as<std::string>();
}

// The first IPv4 entry of "addresses" ("" when there is none).
std::string get_IPv4_Entry(const YAML::Node& entry, const std::regex& ipv4_regex)
{
    const YAML::Node addresses = entry["addresses"];
    if (!is_Sequence(addresses))
        return "";
    for (YAML::const_iterator it = addresses.begin(); it != addresses.end(); ++it) {
        std::string text = get_Scalar_Text(*it, "an address entry");
        if (std::regex_match(text, ipv4_regex))
            return text;
    }
    return "";
}

unsigned int get_Prefix_Length(const std::string& entry)
{
    size_t slash = entry.find('/');
    std::string digits = entry.substr(slash + 1);
    if (digits.empty() || digits.size() > 2 || digits.find_first_not_of("0123456789") != std::string::npos ||
        std::stoul(digits) > 32)
        throw Value_Error("prefix length of " + entry + " is not 0 to 32");
    return static_cast<unsigned int>(std::stoul(digits));
}

} // namespace

uint8_t Network::get_netplan_Config(CONFIG_TYPE type, const char* path, char* buffer,
                                    unsigned int buffer_length)
{
    try {
        const YAML::Node document = YAML::LoadFile(path);
        const YAML::Node network = document["network"];
        const YAML::Node ethernets = network.IsDefined() ? network["ethernets"] : network;
        const YAML::Node entry = ethernets.IsDefined() ? ethernets[config.target_interface] : ethernets;
        if (!entry.IsDefined()) {
            LOG_ERROR_AS("get_Config", "target inferface is not defined");
            return 1;
        }
        try {
            switch (type) {
            case CONFIG_TYPE::MODE: {
                const YAML::Node dhcp = entry["dhcp4"];
                buffer[0] = is_Scalar(dhcp) && dhcp.as<bool>() ? 0 : 1;
                return 0;
            }
            case CONFIG_TYPE::IP_ADDRESS: {
                std::string found = get_IPv4_Entry(entry, ipv4_regex);
                set_Buffer_Copy(buffer, buffer_length,
                                found.empty() ? default_network_info.ip4_address
                                              : found.substr(0, found.find('/')));
                return 0;
            }
            case CONFIG_TYPE::GATEWAY: {
                const YAML::Node gateway = entry["gateway4"];
                set_Buffer_Copy(buffer, buffer_length,
                                is_Scalar(gateway) ? gateway.as<std::string>()
                                                   : default_network_info.ip4_gateway);
                return 0;
            }
            case CONFIG_TYPE::SUBNETMASK: {
                // An IPv4 entry without a prefix tells nothing about the mask.
                std::string found = get_IPv4_Entry(entry, ipv4_regex);
                if (found.empty() || found.find('/') == std::string::npos)
                    set_Buffer_Copy(buffer, buffer_length, default_network_info.ip4_subnetmask);
                else
                    set_Buffer_Copy(buffer, buffer_length,
                                    get_Prefix_Subnetmask_Text(get_Prefix_Length(found)));
                return 0;
            }
            case CONFIG_TYPE::DNS1:
            case CONFIG_TYPE::DNS2: {
                size_t index = type == CONFIG_TYPE::DNS1 ? 0 : 1;
                const YAML::Node nameservers = entry["nameservers"];
                const YAML::Node servers = is_Map(nameservers) ? nameservers["addresses"] : YAML::Node();
                if (is_Sequence(servers) && servers.size() > index) {
                    std::string server = get_Scalar_Text(servers[index], "a name server");
                    if (!server.empty())
                        set_Buffer_Copy(buffer, buffer_length, server);
                }
                return 0;
            }
            }
            return 1;
        } catch (const Value_Error& e) {
            LOG_ERROR_AS("get_Config", "Config File Value Error: %s", e.what());
            return 1;
        } catch (const YAML::BadConversion&) {
            LOG_ERROR_AS("get_Config", "Config File Value Error: dhcp4 is not a boolean");
            return 1;
        }
    } catch (const std::exception&) {
        LOG_ERROR_AS("get_Config", "Config File Load Error");
        return 1;
    }
}

void Network::update_netplan_Config()
{
    char path[update_path_length];
    memset(path, 0, sizeof(path));
    if (get_Manager_Type(path, sizeof(path)) != MANAGER_TYPE::NETPLAN)
        return;
    std::string file(path, strnlen(path, sizeof(path)));
    std::string text;
    // Every edit happens on the parsed document; the file is replaced only
    // once all of them succeeded, so any failure leaves it byte for byte.
    try {
        YAML::Node raw_config = YAML::LoadFile(file);
        const YAML::Node& document = raw_config;
        check_Map_Or_Absent(document, "the document");
        check_Map_Or_Absent(document["network"], "network");
        if (is_Map(document["network"]))
            check_Map_Or_Absent(document["network"]["ethernets"], "ethernets");
        if (is_Map(document["network"]) && is_Map(document["network"]["ethernets"]))
            check_Map_Or_Absent(document["network"]["ethernets"][config.target_interface],
                                "the interface entry");
        YAML::Node netplan_config = raw_config["network"]["ethernets"][config.target_interface];
        const YAML::Node& entry = netplan_config;

        YAML::Node kept_addresses(YAML::NodeType::Sequence);
        const YAML::Node old_addresses = entry["addresses"];
        if (is_Sequence(old_addresses))
            for (YAML::const_iterator it = old_addresses.begin(); it != old_addresses.end(); ++it)
                if (!std::regex_match(get_Scalar_Text(*it, "an address entry"), ipv4_regex))
                    kept_addresses.push_back(YAML::Clone(*it));
        if (kept_addresses.size() == 0)
            netplan_config.remove("addresses");
        else
            netplan_config["addresses"] = kept_addresses;

        netplan_config.remove("gateway4");

        YAML::Node kept_routes(YAML::NodeType::Sequence);
        const YAML::Node old_routes = entry["routes"];
        if (is_Sequence(old_routes)) {
            for (YAML::const_iterator it = old_routes.begin(); it != old_routes.end(); ++it) {
                const YAML::Node route = *it;
                if (!is_Map(route))
                    throw Value_Error("a route is not a map");
                std::string to = get_Scalar_Text(route["to"], "a route's to");
                // A static entry gets its own default route, which netplan refuses
                // beside a second one spelt 0.0.0.0/0.
                bool replaced = to == "default" || (!config.ip4_dhcp && to == "0.0.0.0/0");
                if (!replaced)
                    kept_routes.push_back(YAML::Clone(route));
            }
        }
        if (kept_routes.size() == 0)
            netplan_config.remove("routes");
        else
            netplan_config["routes"] = kept_routes;

        netplan_config["dhcp4"] = config.ip4_dhcp;
        if (!config.ip4_dhcp) {
            unsigned int prefix = get_Subnetmask_Bit_Count(config.ip4_subnetmask.c_str());
            netplan_config["addresses"].push_back(config.ip4_address + "/" + std::to_string(prefix));
            YAML::Node route;
            route["to"] = "default";
            route["via"] = config.ip4_gateway;
            netplan_config["routes"].push_back(route);
        }

        netplan_config.remove("nameservers");
        for (const std::string& server : {config.dns1, config.dns2})
            if (!server.empty() && server != "0.0.0.0")
                netplan_config["nameservers"]["addresses"].push_back(server);

        std::ostringstream out;
        out << raw_config << "\n";
        text = out.str();
    } catch (const std::exception&) {
        puts("Config File Load Error");
        return;
    }
    set_File_Replace(file, text, netplan_file_mode);
}
