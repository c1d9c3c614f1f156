// The netplan back end: reading one setting from netplan's merged definition of
// the interface, and rewriting that definition in the file that holds it.
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <regex>
#include <set>
#include <vector>
#include <sstream>
#include <stdexcept>

#include <yaml-cpp/yaml.h>

#include "change_plan.h"
#include "file_replace.h"
#include "gateway_check.h"
#include "log.h"
#include "network_backend.h"
#include "network_netplan.h"
#include "network_parse.h"
#include "text_copy.h"

// An "addresses" entry counts as IPv4 when it starts with a dotted quad.
const std::regex netplan_ipv4_pattern(R"((((25[0-5]|(2[0-4]|1\d|[1-9]|)\d)\.?\b){4})/?.*)",
                                      std::regex::ECMAScript);

namespace {

const char* const __log_tag = "Network";
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

// An entry's "nameservers.addresses", in order.
std::vector<std::string> get_Server_List(const YAML::Node& entry)
{
    std::vector<std::string> list;
    const YAML::Node nameservers = is_Map(entry) ? entry["nameservers"] : YAML::Node();
    const YAML::Node servers = is_Map(nameservers) ? nameservers["addresses"] : YAML::Node();
    if (is_Sequence(servers))
        for (YAML::const_iterator it = servers.begin(); it != servers.end(); ++it)
            list.push_back(get_Scalar_Text(*it, "a name server"));
    return list;
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

// An "addresses" entry the daemon wrote from an incomplete record ("/24" for
// an empty address, "x/0" for an empty mask): no host can use it.
bool get_Broken_Address_Entry(const std::string& text)
{
    return text.empty() || text[0] == '/' ||
           (text.size() >= 2 && text.compare(text.size() - 2, 2, "/0") == 0);
}

// How the edit sees one route; throws for a route it cannot read.
struct Route_View {
    std::string to;
    std::string via; // empty when absent or not a text
    bool via_text;
    bool main_default; // "default" or "0.0.0.0/0" in the main table
    bool metric;
};

Route_View get_Route_View(const YAML::Node& route)
{
    if (!is_Map(route))
        throw Value_Error("a route is not a map");
    Route_View view;
    view.to = get_Scalar_Text(route["to"], "a route's to");
    view.via_text = is_Scalar(route["via"]);
    view.via = view.via_text ? route["via"].as<std::string>() : "";
    view.main_default = (view.to == "default" || view.to == "0.0.0.0/0") && !route["table"].IsDefined();
    view.metric = route["metric"].IsDefined();
    return view;
}

// The routes the daemon owns: its own IPv4 default route (in static mode also
// one spelt 0.0.0.0/0, which would clash with it: same table and metric), and
// the empty-via default route it once wrote from a record without a gateway.
bool get_Owned_Route(const Route_View& view, bool dhcp)
{
    if (!view.main_default || view.metric)
        return false;
    if (view.via_text && view.via.empty())
        return true;
    return get_IPv4_Address_Valid(view.via) && (view.to == "default" || !dhcp);
}

// The gateway read back from the entry: "gateway4", then the main-table IPv4
// default route; empty when neither names one.
std::string get_Entry_Gateway(const YAML::Node& entry)
{
    const YAML::Node gateway = entry["gateway4"];
    if (is_Scalar(gateway))
        return gateway.as<std::string>();
    const YAML::Node routes = entry["routes"];
    if (!is_Sequence(routes))
        return "";
    for (YAML::const_iterator it = routes.begin(); it != routes.end(); ++it) {
        Route_View view = get_Route_View(*it);
        if (view.main_default && get_IPv4_Address_Valid(view.via))
            return view.via;
    }
    return "";
}

// The YAML reader takes a NUL for an escape and turns each byte of a broken
// UTF-8 sequence into U+FFFD, so such a document would not be written back as
// it stands (two keys could even become one). netplan refuses it too.
bool get_Document_Text_Valid(const std::string& text)
{
    size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t length = 0;
        uint32_t point = 0;
        if (c == 0)
            return false;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            point = c & 0x1Fu;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            point = c & 0x0Fu;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            point = c & 0x07u;
        } else {
            return false;
        }
        if (text.size() - i < length)
            return false;
        for (size_t k = 1; k < length; ++k) {
            unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            point = (point << 6) | (next & 0x3Fu);
        }
        // Overlong forms, UTF-16 surrogates and points past U+10FFFF.
        if ((length == 3 && point < 0x800) || (length == 4 && point < 0x10000) ||
            (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF)
            return false;
        i += length;
    }
    return true;
}

// A text with a control character other than a tab or a line break does not survive the
// YAML writer unchanged (a carriage return is lost on each rewrite).
void check_Plain_Text(const YAML::Node& node)
{
    if (!node.IsScalar())
        return;
    for (unsigned char c : node.Scalar())
        if ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7F)
            throw Value_Error("a text holds a control character");
}

// A key given twice makes a document ambiguous: an edit would change one of
// them and leave the other; a text the writer cannot keep would change.
// Checked through the whole document.
void check_Unique_Keys(const YAML::Node& node, size_t* visited, int depth = 0)
{
    // Far beyond any netplan document; aliases can multiply a small file.
    if (depth > 64 || ++*visited > 100000)
        throw Value_Error("the document nests too deep or holds too many nodes");
    check_Plain_Text(node);
    if (node.IsSequence())
        for (YAML::const_iterator it = node.begin(); it != node.end(); ++it)
            check_Unique_Keys(*it, visited, depth + 1);
    if (!node.IsMap())
        return;
    std::set<std::string> keys;
    for (YAML::const_iterator it = node.begin(); it != node.end(); ++it) {
        check_Plain_Text(it->first);
        std::string key = it->first.IsScalar() ? it->first.Scalar() : "";
        if (it->first.IsScalar() && !keys.insert(key).second)
            throw Value_Error("key " + key + " is given twice");
        check_Unique_Keys(it->second, visited, depth + 1);
    }
}

// A copy of the map with `key`'s value cloned, so that an entry shared with
// another interface through a YAML alias is edited alone.
YAML::Node get_Unshared_Map(const YAML::Node& map, const std::string& key)
{
    YAML::Node copy(YAML::NodeType::Map);
    copy.SetTag(map.Tag());
    for (YAML::const_iterator it = map.begin(); it != map.end(); ++it)
        copy[it->first] =
            it->first.IsScalar() && it->first.Scalar() == key ? YAML::Clone(it->second) : it->second;
    return copy;
}

// The text of one passthrough key ("" when the block does not set it).
std::string get_Passthrough_Text(const YAML::Node& block, const char* key)
{
    const YAML::Node value = block[key];
    return is_Scalar(value) ? value.Scalar() : "";
}

// The lowest-numbered "ipv4.addressN" of a passthrough block ("A/N" or "A/N,GW"; "" for none).
std::string get_Passthrough_Address(const YAML::Node& block)
{
    std::string first;
    unsigned long lowest = ULONG_MAX;
    for (YAML::const_iterator it = block.begin(); it != block.end(); ++it) {
        std::string key = it->first.IsScalar() ? it->first.Scalar() : "";
        if (key.compare(0, 12, "ipv4.address") != 0 || key.size() == 12 ||
            key.find_first_not_of("0123456789", 12) != std::string::npos || !is_Scalar(it->second))
            continue;
        unsigned long number = strtoul(key.c_str() + 12, nullptr, 10);
        if (number < lowest) {
            lowest = number;
            first = it->second.Scalar();
        }
    }
    return first;
}

// The "networkmanager.passthrough" block of a definition (an invalid node for none).
YAML::Node get_Passthrough_Block(const YAML::Node& entry)
{
    const YAML::Node manager = is_Map(entry) ? entry["networkmanager"] : YAML::Node();
    const YAML::Node block = is_Map(manager) ? manager["passthrough"] : YAML::Node();
    return is_Map(block) ? block : YAML::Node(YAML::NodeType::Undefined);
}

bool get_Passthrough_Node_Setting(const YAML::Node& entry, Config_Type type, std::string* value)
{
    const YAML::Node block = get_Passthrough_Block(entry);
    if (!block.IsDefined())
        return false;
    std::string address = get_Passthrough_Address(block);
    size_t slash = address.find('/');
    size_t comma = address.find(',');
    switch (type) {
    case Config_Type::MODE:
        *value = get_Passthrough_Text(block, "ipv4.method");
        if (value->empty())
            return false;
        *value = *value == "auto" ? "0" : "1";
        return true;
    case Config_Type::IP_ADDRESS:
        *value = address.substr(0, std::min(slash, comma));
        return !address.empty();
    case Config_Type::SUBNETMASK: {
        if (address.empty())
            return false;
        std::string digits = slash == std::string::npos ? "" : address.substr(slash + 1, comma - slash - 1);
        bool prefix = !digits.empty() && digits.size() <= 2 &&
                      digits.find_first_not_of("0123456789") == std::string::npos && std::stoi(digits) <= 32;
        *value = prefix ? get_Prefix_Subnetmask_Text(static_cast<unsigned int>(std::stoi(digits))) : "";
        return true;
    }
    case Config_Type::GATEWAY:
        *value = get_Passthrough_Text(block, "ipv4.gateway");
        if (value->empty() && comma != std::string::npos)
            *value = address.substr(comma + 1);
        return !value->empty();
    case Config_Type::DNS1:
    case Config_Type::DNS2: {
        std::string servers = get_Passthrough_Text(block, "ipv4.dns");
        if (servers.empty())
            return false;
        std::vector<std::string> list;
        std::istringstream in(servers);
        for (std::string server; std::getline(in, server, ';');)
            if (!server.empty())
                list.push_back(server);
        *value = get_DNS_IPv4_Server(list, type == Config_Type::DNS1 ? 0 : 1);
        return true;
    }
    }
    return false;
}

// The merged document parsed once for the six settings a lookup reads from it (each thread keeps its
// own last one); a document that does not parse throws each time, as YAML::Load does.
YAML::Node get_Document_Node(const std::string& text)
{
    thread_local std::string parsed_text;
    thread_local YAML::Node parsed;
    thread_local bool held = false;
    if (!held || parsed_text != text) {
        held = false;
        parsed = YAML::Load(text);
        parsed_text = text;
        held = true;
    }
    return parsed;
}

// The settings this change gives that the definition's passthrough block sets for NetworkManager over
// netplan's keys, named as show names them ("" for none).
std::string get_Passthrough_Overrides(const Plan_Input& input)
{
    static const char* const names[] = {"mode", "address", "gateway", "netmask", "dns1", "dns2"};
    std::string overridden;
    for (Config_Type type : input.staged) {
        std::string value;
        if (get_netplan_Passthrough_Setting(input.file_text, input.netplan_entry, type, &value))
            overridden += (overridden.empty() ? "" : ", ") + std::string(names[static_cast<uint8_t>(type)]);
    }
    return overridden;
}

} // namespace

bool get_netplan_Passthrough_Setting(const std::string& document, const std::string& entry, Config_Type type,
                                     std::string* value)
{
    try {
        const YAML::Node network = get_Document_Node(document)["network"];
        const YAML::Node ethernets = is_Map(network) ? network["ethernets"] : YAML::Node();
        return is_Map(ethernets) && get_Passthrough_Node_Setting(ethernets[entry], type, value);
    } catch (const std::exception&) {
        return false;
    }
}

bool get_netplan_Entry_Readable(const Interface_Owner& owner)
{
    try {
        const YAML::Node document = get_Document_Node(owner.document);
        const YAML::Node network = document["network"];
        const YAML::Node ethernets = is_Map(network) ? network["ethernets"] : YAML::Node();
        return is_Map(ethernets) && is_Map(ethernets[owner.entry]);
    } catch (const std::exception&) {
        return false;
    }
}

uint8_t get_netplan_Config(Config_Type type, const Interface_Owner& owner, char* buffer,
                           unsigned int buffer_length)
{
    if (!owner.error.empty()) {
        LOG_ERROR_AS("get_Config", "Config File Load Error: %s", get_Log_Text(owner.error).c_str());
        return 1;
    }
    try {
        const YAML::Node document = get_Document_Node(owner.document);
        const YAML::Node network = document["network"];
        const YAML::Node ethernets = network.IsDefined() ? network["ethernets"] : network;
        const YAML::Node entry = ethernets.IsDefined() ? ethernets[owner.entry] : ethernets;
        if (!entry.IsDefined()) {
            LOG_ERROR_AS("get_Config", "target inferface is not defined");
            return 1;
        }
        // What the passthrough block sets is what NetworkManager gets, over netplan's own keys.
        std::string overridden;
        if (get_Passthrough_Node_Setting(entry, type, &overridden)) {
            if (type == Config_Type::MODE)
                buffer[0] = overridden == "0" ? 0 : 1;
            else
                set_Fixed_Length_Copy(buffer, buffer_length, overridden);
            return 0;
        }
        try {
            switch (type) {
            case Config_Type::MODE: {
                const YAML::Node dhcp = entry["dhcp4"];
                buffer[0] = is_Scalar(dhcp) && dhcp.as<bool>() ? 0 : 1;
                return 0;
            }
            case Config_Type::IP_ADDRESS: {
                std::string found = get_IPv4_Entry(entry, netplan_ipv4_pattern);
                set_Fixed_Length_Copy(buffer, buffer_length,
                                      found.empty()
                                          ? get_Interface_Live_Config(owner.interface_name).ip4_address
                                          : found.substr(0, found.find('/')));
                return 0;
            }
            case Config_Type::GATEWAY: {
                std::string gateway = get_Entry_Gateway(entry);
                set_Fixed_Length_Copy(buffer, buffer_length,
                                      gateway.empty() ? get_Live_Default_Gateway(owner.interface_name)
                                                      : gateway);
                return 0;
            }
            case Config_Type::SUBNETMASK: {
                // An IPv4 entry without a prefix tells nothing about the mask.
                std::string found = get_IPv4_Entry(entry, netplan_ipv4_pattern);
                if (found.empty() || found.find('/') == std::string::npos)
                    set_Fixed_Length_Copy(buffer, buffer_length,
                                          get_Interface_Live_Config(owner.interface_name).ip4_subnetmask);
                else
                    set_Fixed_Length_Copy(buffer, buffer_length,
                                          get_Prefix_Subnetmask_Text(get_Prefix_Length(found)));
                return 0;
            }
            case Config_Type::DNS1:
            case Config_Type::DNS2: {
                // DNS1 and DNS2 are the first two IPv4 servers; IPv6 ones are not the BMC's.
                std::string server =
                    get_DNS_IPv4_Server(get_Server_List(entry), type == Config_Type::DNS1 ? 0 : 1);
                if (!server.empty())
                    set_Fixed_Length_Copy(buffer, buffer_length, server);
                return 0;
            }
            }
            return 1;
        } catch (const Value_Error& e) {
            LOG_ERROR_AS("get_Config", "Config File Value Error: %s", get_Log_Text(e.what()).c_str());
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
        bool managed_seen = is_Scalar(entry["dhcp4"]) && entry["dhcp4"].as<bool>(false);
        const YAML::Node old_addresses = entry["addresses"];
        if (is_Sequence(old_addresses)) {
            for (YAML::const_iterator it = old_addresses.begin(); it != old_addresses.end(); ++it) {
                std::string address = get_Scalar_Text(*it, "an address entry");
                bool ipv4 = std::regex_match(address, netplan_ipv4_pattern);
                if (get_Broken_Address_Entry(address) || (ipv4 && !managed_seen)) {
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
        if (!staged.ip4_dhcp && !kept_addresses.empty()) {
            unsigned int prefix = get_Subnetmask_Bit_Count(staged.ip4_subnetmask.c_str());
            YAML::Node managed(staged.ip4_address + "/" + std::to_string(prefix));
            kept_addresses.insert(kept_addresses.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                               first_kept_ipv4, kept_addresses.size())),
                                  managed);
        }
        if (kept_addresses.empty()) {
            netplan_config.remove("addresses");
        } else {
            YAML::Node sequence(YAML::NodeType::Sequence);
            for (const YAML::Node& address : kept_addresses)
                sequence.push_back(address);
            netplan_config["addresses"] = sequence;
        }

        netplan_config.remove("gateway4");

        YAML::Node kept_routes(YAML::NodeType::Sequence);
        const YAML::Node old_routes = entry["routes"];
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
            unsigned int prefix = get_Subnetmask_Bit_Count(staged.ip4_subnetmask.c_str());
            if (kept_addresses.empty())
                netplan_config["addresses"].push_back(staged.ip4_address + "/" + std::to_string(prefix));
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
        netplan_config.remove("nameservers");
        if (nameservers.size() != 0)
            netplan_config["nameservers"] = nameservers;

        std::ostringstream out;
        out << raw_config << "\n";
        *text = out.str();
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

bool get_netplan_Plan_Accepted(const Change_Plan& plan, const Interface_Owner& owner)
{
    const std::vector<Plan_Step>& steps = plan.steps;
    // Only the last text the plan leaves in the file counts: a default it writes first is edited after.
    auto last = std::find_if(steps.rbegin(), steps.rend(), [&owner](const Plan_Step& step) {
        return step.kind == Plan_Step::KIND::WRITE && step.path == owner.file;
    });
    if (last == steps.rend())
        return true;
    std::string reason;
    if (get_netplan_Accepted(last->path, last->bytes, owner.interface_name, &reason))
        return true;
    LOG_ERROR_AS("set_Config_Apply", "netplan refuses the new settings, %s left as it was: %s",
                 last->path.c_str(), get_Log_Text(reason).c_str());
    return false;
}

bool get_netplan_Accepted(const std::string& file, const std::string& text, const std::string& interface_name,
                          std::string* error)
{
    error->clear();
    std::vector<Netplan_File> files = get_netplan_Files("", error);
    if (!error->empty())
        return false;
    bool replaced = false;
    for (Netplan_File& f : files)
        if (f.path == file) {
            f.text = text;
            replaced = true;
        }
    if (!replaced) {
        files.push_back({file, text});
        std::sort(files.begin(), files.end(), [](const Netplan_File& a, const Netplan_File& b) {
            return a.path.substr(a.path.rfind('/')) < b.path.substr(b.path.rfind('/'));
        });
    }
    Netplan_Reading reading = get_netplan_Reading(files, {interface_name, "", ""});
    if (!reading.installed) {
        *error = "netplan's parser library (libnetplan) is not installed";
        return false;
    }
    *error = reading.error;
    return reading.accepted;
}

namespace {

bool get_netplan_Merged(const Interface_Owner& owner)
{
    return owner.error.empty() && get_netplan_Entry_Readable(owner);
}

bool get_netplan_Plan_Input(const Interface_Owner& owner, Plan_Input* input)
{
    if (!owner.error.empty()) {
        LOG_ERROR_AS("set_Config_Apply", "Config File Load Error: %s", get_Log_Text(owner.error).c_str());
        return false;
    }
    if (!owner.netplan.refusal.empty()) {
        LOG_ERROR_AS("set_Config_Apply", "refused to apply: %s", get_Log_Text(owner.netplan.refusal).c_str());
        return false;
    }
    input->file = owner.file;
    input->netplan_entry = owner.entry;
    // A default the plan writes first is what the edit starts from.
    const std::vector<Plan_Step>& steps = input->owner_steps;
    auto fresh = std::find_if(steps.rbegin(), steps.rend(), [&owner](const Plan_Step& step) {
        return step.kind == Plan_Step::KIND::WRITE && step.path == owner.file;
    });
    std::string reason;
    if (fresh != steps.rend()) {
        input->file_text = fresh->bytes;
    } else if (!get_File_Content(owner.file, &input->file_text, &reason)) {
        LOG_ERROR_AS("set_Config_Apply", "Config File Load Error: %s: %s", owner.file.c_str(),
                     reason.c_str());
        return false;
    }
    return true;
}

void get_netplan_Plan(const Plan_Input& input, Change_Plan* plan, std::vector<Plan_Step>* edits)
{
    // The entry is netplan's definition, whose key may differ from the interface's name.
    Network_Config entry = input.settings;
    entry.target_interface = input.netplan_entry;
    std::string overridden = get_Passthrough_Overrides(input);
    std::string text;
    std::string reason;
    if (!overridden.empty())
        plan->refusal = "refused to apply: the networkmanager.passthrough block of " + input.file + " sets " +
                        overridden +
                        " over netplan's keys, so NetworkManager would not take the change: change the "
                        "profile with nmcli instead";
    else if (!get_netplan_Update_Text(input.file_text, entry, &text, &reason))
        plan->refusal = "Config File Load Error: " + reason;
    else
        edits->push_back(get_File_Step(input.file, input.file_text, text, netplan_file_mode));
}

std::vector<std::string> get_netplan_Down(const Apply_Target&)
{
    return {};
}

std::vector<std::string> get_netplan_Apply(const Apply_Target&)
{
    return {"netplan apply"};
}

std::string get_netplan_Default_Path(const std::string&)
{
    return netplan_default_path;
}

// netplan.io ships /etc/netplan: without it netplan is not installed, and a default there would be read by
// none. Where NetworkManager runs, the default is its own.
bool get_netplan_Default_Taken(bool network_manager_running)
{
    struct stat info;
    return !network_manager_running && stat("/etc/netplan", &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

const Manager_Backend netplan_backend = {
    Manager_Type::NETPLAN,
    get_netplan_Found,
    get_netplan_Found_Alone,
    get_netplan_Owner_Service,
    get_netplan_Config,
    nullptr,
    get_netplan_Merged,
    get_netplan_Plan_Input,
    get_netplan_Plan,
    get_netplan_Plan_Accepted,
    get_netplan_Down,
    get_netplan_Apply,
    nullptr,
    get_netplan_Default_Path,
    get_netplan_Default_Text,
    get_netplan_Default_Taken,
    "",
    true,
};
