// netplan's back end, the edit: the interface's definition rewritten from the
// staged settings, everything the daemon does not own carried over.
#include <stdint.h>

#include <string>

#include <yaml-cpp/yaml.h>

#include "network_netplan.h"
#include "network_netplan_yaml.h"
#include "network_parse.h"

bool get_netplan_Update_Text(const std::string& document_text, const Network_Config& staged,
                             std::string* text, std::string* reason)
{
    const std::string& name = staged.target_interface;
    try {
        if (!get_Document_Text_Valid(document_text))
            throw Value_Error("the document holds a NUL byte or text that is not UTF-8");
        YAML::Node raw_config = YAML::Load(document_text);
        const YAML::Node& document = raw_config;
        check_Map_Or_Absent(document, "the document");
        size_t visited = 0;
        check_Unique_Keys(document, &visited);
        check_Map_Or_Absent(document["network"], "network");
        if (is_Map(document["network"]))
            check_Map_Or_Absent(document["network"]["ethernets"], "ethernets");
        if (is_Map(document["network"]) && is_Map(document["network"]["ethernets"])) {
            const YAML::Node& ethernets = document["network"]["ethernets"];
            check_Map_Or_Absent(ethernets[name], "the interface entry");
            if (ethernets[name].IsDefined())
                raw_config["network"]["ethernets"] = get_Unshared_Map(ethernets, name);
        }
        YAML::Node netplan_config = raw_config["network"]["ethernets"][name];
        const YAML::Node& entry = netplan_config;

        // In static mode the first IPv4 entry is the address the daemon manages;
        // every other entry (a service or cluster address, IPv6) is carried over.
        // An entry already on DHCP has no managed address, so a repeated apply keeps them all.
        std::vector<YAML::Node> kept_addresses;
        size_t first_kept_ipv4 = SIZE_MAX;
        // The managed entry's options (label, lifetime), which its new address keeps.
        YAML::Node managed_entry(YAML::NodeType::Undefined);
        bool managed_seen = is_Scalar(entry["dhcp4"]) && entry["dhcp4"].as<bool>(false);
        const YAML::Node old_addresses = entry["addresses"];
        if (is_Sequence(old_addresses)) {
            for (YAML::const_iterator it = old_addresses.begin(); it != old_addresses.end(); ++it) {
                std::string address = get_Address_Text(*it);
                bool ipv4 = std::regex_match(address, netplan_ipv4_pattern);
                if (get_Broken_Address_Entry(address) || (ipv4 && !managed_seen)) {
                    if (ipv4 && !managed_seen && is_Map(*it))
                        managed_entry.reset(*it);
                    managed_seen = managed_seen || ipv4;
                    continue;
                }
                // The new address is not listed twice.
                if (ipv4 && !staged.ip4_dhcp && address.substr(0, address.find('/')) == staged.ip4_address)
                    continue;
                if (ipv4 && first_kept_ipv4 == SIZE_MAX)
                    first_kept_ipv4 = kept_addresses.size();
                kept_addresses.push_back(YAML::Clone(*it));
            }
        }
        const std::string managed_text =
            staged.ip4_address + "/" +
            std::to_string(get_Subnetmask_Bit_Count(staged.ip4_subnetmask.c_str()));
        YAML::Node managed =
            managed_entry.IsDefined() ? YAML::Node(YAML::NodeType::Map) : YAML::Node(managed_text);
        if (managed_entry.IsDefined()) {
            managed.SetStyle(managed_entry.Style());
            YAML::Node key(managed_text);
            key.SetTag(managed_entry.begin()->first.Tag());
            managed[key] = YAML::Clone(managed_entry.begin()->second);
        }
        if (!staged.ip4_dhcp && !kept_addresses.empty()) {
            // Built anew, not by vector::insert: assigning one YAML::Node to another rebinds what both
            // refer to, so shifting entries in place would duplicate one and lose the last.
            std::vector<YAML::Node> ordered;
            const size_t at = std::min(first_kept_ipv4, kept_addresses.size());
            for (size_t i = 0; i <= kept_addresses.size(); ++i) {
                if (i == at)
                    ordered.push_back(managed);
                if (i < kept_addresses.size())
                    ordered.push_back(kept_addresses[i]);
            }
            kept_addresses.swap(ordered);
        }
        if (kept_addresses.empty()) {
            netplan_config.remove("addresses");
        } else {
            YAML::Node sequence(YAML::NodeType::Sequence);
            if (is_Sequence(old_addresses))
                sequence.SetStyle(old_addresses.Style());
            for (const YAML::Node& address : kept_addresses)
                sequence.push_back(address);
            netplan_config["addresses"] = sequence;
        }

        netplan_config.remove("gateway4");

        YAML::Node kept_routes(YAML::NodeType::Sequence);
        const YAML::Node old_routes = entry["routes"];
        if (is_Sequence(old_routes))
            kept_routes.SetStyle(old_routes.Style());
        if (is_Sequence(old_routes))
            for (YAML::const_iterator it = old_routes.begin(); it != old_routes.end(); ++it)
                if (!get_Owned_Route(get_Route_View(*it), staged.ip4_dhcp))
                    kept_routes.push_back(YAML::Clone(*it));
        if (kept_routes.size() == 0)
            netplan_config.remove("routes");
        else
            netplan_config["routes"] = kept_routes;

        netplan_config["dhcp4"] = staged.ip4_dhcp;
        if (!staged.ip4_dhcp) {
            if (kept_addresses.empty())
                netplan_config["addresses"].push_back(managed);
            if (!get_Gateway_None(staged.ip4_gateway)) {
                YAML::Node route;
                route["to"] = "default";
                route["via"] = staged.ip4_gateway;
                netplan_config["routes"].push_back(route);
            }
        }

        // Only the server list is the daemon's: a search list or any other
        // key under "nameservers" is carried over.
        YAML::Node nameservers(YAML::NodeType::Map);
        const YAML::Node old_nameservers = entry["nameservers"];
        if (is_Map(old_nameservers))
            nameservers.SetTag(old_nameservers.Tag());
        if (is_Map(old_nameservers))
            for (YAML::const_iterator it = old_nameservers.begin(); it != old_nameservers.end(); ++it)
                if (!it->first.IsScalar() || it->first.Scalar() != "addresses")
                    nameservers[it->first] = YAML::Clone(it->second);
        for (const std::string& server :
             get_DNS_List_Merged(get_Server_List(entry), staged.dns1, staged.dns2))
            nameservers["addresses"].push_back(server);
        const YAML::Node old_servers = is_Map(old_nameservers) ? old_nameservers["addresses"] : YAML::Node();
        if (is_Sequence(old_servers) && nameservers["addresses"].IsDefined())
            nameservers["addresses"].SetStyle(old_servers.Style());
        netplan_config.remove("nameservers");
        if (nameservers.size() != 0)
            netplan_config["nameservers"] = nameservers;

        *text = get_Document_Text(raw_config);
    } catch (const std::exception& e) {
        *reason = e.what();
        return false;
    }
    // What is written must load again as the same kind of document.
    try {
        if (!YAML::Load(*text)["network"]["ethernets"][name].IsMap()) {
            *reason = "the new document has no entry for " + name;
            return false;
        }
    } catch (const std::exception& e) {
        *reason = std::string("the new document does not load: ") + e.what();
        return false;
    }
    return true;
}
