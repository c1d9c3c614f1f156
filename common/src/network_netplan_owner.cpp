// netplan's side of the owner lookup: its files in netplan's order, the
// definition that owns the interface as netplan itself matches and merges
// it, cloud-init's hold on its files, and the daemon's own default file.
#include <fnmatch.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <system_error>

#include <yaml-cpp/yaml.h>

#include "file_replace.h"
#include "log.h"
#include "network_backend.h"
#include "network_netplan.h"
#include "network_netplan_yaml.h"
#include "network_parse.h"

namespace {

namespace fs = std::filesystem;

const char* const __log_tag = "Network";
// netplan reads these in this order; a later directory's file hides an earlier one of the same name.
const char* const netplan_directories[] = {"/lib/netplan", "/etc/netplan", "/run/netplan"};
const char* const cloud_disabled_marker = "/etc/cloud/cloud-init.disabled";
const char* const cloud_config = "/etc/cloud/cloud.cfg";
const char* const cloud_config_directory = "/etc/cloud/cloud.cfg.d";
const char* const cloud_hand_over = "/etc/cloud/cloud.cfg.d/99-disable-network-config.cfg";

bool get_Starts_With(const std::string& text, const std::string& head)
{
    return text.compare(0, head.size(), head) == 0;
}

// An IPv4 entry of "addresses" or a route's address: the dotted quad before any "/".
bool get_IPv4_Text(const YAML::Node& node)
{
    if (!node.IsDefined() || !node.IsScalar())
        return false;
    const std::string& text = node.Scalar();
    return get_IPv4_Address_Valid(text.substr(0, text.find('/')));
}

// Whether a definition's entry in one file holds any of the IPv4 keys the daemon edits.
bool get_IPv4_Keys_Held(const YAML::Node& entry)
{
    if (!is_Map(entry))
        return false;
    if (entry["dhcp4"].IsDefined() || entry["gateway4"].IsDefined())
        return true;
    const YAML::Node nameservers = entry["nameservers"];
    if (is_Map(nameservers) && nameservers["addresses"].IsDefined())
        return true;
    const YAML::Node addresses = entry["addresses"];
    if (is_Sequence(addresses))
        for (const YAML::Node& address : addresses)
            if (get_IPv4_Text(address) ||
                (is_Map(address) && address.size() == 1 && get_IPv4_Text(address.begin()->first)))
                return true;
    const YAML::Node routes = entry["routes"];
    if (is_Sequence(routes))
        for (const YAML::Node& route : routes)
            if (is_Map(route) && (get_IPv4_Text(route["via"]) || get_IPv4_Text(route["to"])))
                return true;
    return false;
}

// cloud-init says in its file's first comment lines that it writes the file.
bool get_Cloud_Init_Header(const std::string& text)
{
    std::istringstream in(text);
    for (std::string line; std::getline(in, line) && !line.empty() && line[0] == '#';)
        if (line.find("cloud-init") != std::string::npos ||
            line.find("generated from information provided by the datasource") != std::string::npos)
            return true;
    return false;
}

// One definition that applies to the interface, as one file gives it.
struct Definition {
    std::string id;
    std::string file;
    bool ipv4 = false;
};

std::string get_Definition_List(const std::vector<Definition>& definitions)
{
    std::vector<std::string> items;
    items.reserve(definitions.size());
    for (const Definition& d : definitions)
        items.push_back(d.id + " in " + d.file);
    return get_Log_List(items);
}

// The renderer that applies netplan's definition: its "renderer", the
// network's, or networkd when neither says.
std::string get_netplan_Service(const std::string& merged, const std::string& id)
{
    try {
        const YAML::Node document = YAML::Load(merged);
        const YAML::Node network = document["network"];
        std::string renderer;
        if (is_Map(network) && network["renderer"].IsDefined() && network["renderer"].IsScalar())
            renderer = network["renderer"].Scalar();
        if (is_Map(network) && is_Map(network["ethernets"]) && is_Map(network["ethernets"][id]) &&
            network["ethernets"][id]["renderer"].IsDefined() &&
            network["ethernets"][id]["renderer"].IsScalar())
            renderer = network["ethernets"][id]["renderer"].Scalar();
        return renderer == "NetworkManager" ? "NetworkManager" : "systemd-networkd";
    } catch (const std::exception&) {
        return "systemd-networkd";
    }
}

// The daemon's own file read alone, as before netplan's parser judged it: one
// netplan refuses is still read (and repaired by an edit) when no other file defines the interface.
bool get_Own_File_Readable_Alone(const std::vector<Netplan_File>& files, const Netplan_Reading& reading,
                                 const Interface_Facts& facts)
{
    const std::string own_file = netplan_default_path;
    if (reading.error.compare(0, own_file.size() + 1, own_file + ":") != 0)
        return false;
    std::vector<Netplan_File> others;
    for (const Netplan_File& file : files)
        if (file.path != own_file)
            others.push_back(file);
    if (others.empty())
        return true;
    Netplan_Reading rest = get_netplan_Reading(others, facts);
    return rest.accepted && get_netplan_Owner(others, rest.applying_ids, facts.name, false).id.empty();
}

// One key of a "match": a glob (name, driver; a driver may be a list), or a MAC address.
bool get_Match_Key_Takes(const YAML::Node& value, const std::string& fact, bool mac)
{
    std::vector<std::string> patterns;
    if (is_Scalar(value))
        patterns.push_back(value.Scalar());
    else if (is_Sequence(value))
        for (const YAML::Node& each : value)
            if (is_Scalar(each))
                patterns.push_back(each.Scalar());
    for (const std::string& pattern : patterns)
        if (mac ? strcasecmp(pattern.c_str(), fact.c_str()) == 0
                : fnmatch(pattern.c_str(), fact.c_str(), 0) == 0)
            return true;
    return false;
}

// Whether every key of a definition's "match" takes the interface, as netplan matches.
bool get_Match_Takes(const YAML::Node& match, const Interface_Facts& facts)
{
    return (!match["name"].IsDefined() || get_Match_Key_Takes(match["name"], facts.name, false)) &&
           (!match["macaddress"].IsDefined() || get_Match_Key_Takes(match["macaddress"], facts.mac, true)) &&
           (!match["driver"].IsDefined() || get_Match_Key_Takes(match["driver"], facts.driver, false));
}

} // namespace

std::string get_netplan_Shared_Refusal(const std::string& merged, const std::string& id,
                                       const std::string& where,
                                       const std::function<std::vector<Interface_Facts>()>& interfaces)
{
    YAML::Node match(YAML::NodeType::Undefined);
    try {
        const YAML::Node document = YAML::Load(merged);
        const YAML::Node network = is_Map(document) ? document["network"] : YAML::Node();
        const YAML::Node ethernets = is_Map(network) ? network["ethernets"] : YAML::Node();
        const YAML::Node entry = is_Map(ethernets) ? ethernets[id] : YAML::Node();
        if (is_Map(entry) && is_Map(entry["match"]))
            match.reset(entry["match"]);
    } catch (const std::exception&) {
    }
    // A MAC address, or a name without a glob, binds a definition to one interface.
    if (!match.IsDefined() || match["macaddress"].IsDefined() ||
        (is_Scalar(match["name"]) && match["name"].Scalar().find_first_of("*?[") == std::string::npos))
        return "";
    std::vector<std::string> takes;
    for (const Interface_Facts& facts : interfaces())
        if (get_Match_Takes(match, facts))
            takes.push_back(facts.name);
    std::string taken = get_Log_List(takes);
    std::string keys;
    for (const char* key : {"name", "driver"})
        if (match[key].IsDefined())
            keys += std::string(keys.empty() ? "" : " and ") + key + " " +
                    (is_Scalar(match[key]) ? match[key].Scalar() : "(a list)");
    return id + " in " + where + " matches by " + (keys.empty() ? "nothing" : keys) + ", which takes " +
           (taken.empty() ? "none" : taken) +
           " now and may take more: a change to it would reach every interface it takes; give the interface "
           "a "
           "definition of its own under network.ethernets (named after it, or matching its MAC address) and "
           "keep " +
           id + "'s match off it";
}

const char* const netplan_default_path = "/etc/netplan/01-netcfg.yaml";

bool get_netplan_Found(Owner_Lookup* lookup, std::vector<Interface_Owner>* found)
{
    std::string error;
    lookup->netplan_files = get_netplan_Files("", &error);
    const std::vector<Netplan_File>& files = lookup->netplan_files;
    Netplan_Reading& reading = lookup->netplan_reading;
    if (error.empty() && !files.empty())
        reading = get_netplan_Reading(files, lookup->facts);
    if (!error.empty() || (reading.installed && !reading.accepted &&
                           !get_Own_File_Readable_Alone(files, reading, lookup->facts))) {
        // Files netplan cannot read say nothing of who owns the interface: nothing is touched.
        Interface_Owner owner = lookup->base;
        owner.manager = Manager_Type::NETPLAN;
        owner.error = error.empty() ? reading.error : error;
        found->push_back(owner);
        return false;
    }
    // Every owner carries netplan's answer: this daemon's leftover is removed whoever owns the interface.
    if (reading.accepted)
        lookup->base.netplan =
            get_netplan_Owner(files, reading.applying_ids, lookup->facts.name, get_Cloud_Init_Renders(""));
    const Netplan_Owner& netplan = lookup->base.netplan;
    if (!netplan.id.empty() && netplan.refusal.empty())
        lookup->base.netplan.refusal =
            get_netplan_Shared_Refusal(reading.merged, netplan.id, netplan.file, get_Host_Interfaces);
    if (!netplan.id.empty()) {
        Interface_Owner owner = lookup->base;
        owner.manager = Manager_Type::NETPLAN;
        owner.file = netplan.file;
        owner.entry = netplan.id;
        owner.document = reading.merged;
        owner.master = get_netplan_Master(reading.merged, netplan.id);
        found->push_back(owner);
    }
    return true;
}

bool get_netplan_Found_Alone(const Owner_Lookup& lookup, Interface_Owner* owner)
{
    // The daemon's own file without the interface, or one netplan refuses: reads and edits take it alone.
    if (access(netplan_default_path, R_OK) != 0)
        return false;
    *owner = lookup.base;
    owner->manager = Manager_Type::NETPLAN;
    owner->file = netplan_default_path;
    owner->entry = lookup.facts.name;
    if (!get_File_Content(owner->file, &owner->document, &owner->error))
        owner->error = owner->file + ": " + owner->error;
    return true;
}

std::string get_netplan_Owner_Service(const Interface_Owner& owner)
{
    return get_netplan_Service(owner.document, owner.entry);
}

std::string get_netplan_Default_Text(const std::string& interface_name)
{
    YAML::Node document;
    YAML::Node interface_node = document["network"]["ethernets"][interface_name];
    interface_node["dhcp4"] = true;
    interface_node["nameservers"]["addresses"].push_back("1.1.1.1");
    interface_node["nameservers"]["addresses"].push_back("8.8.8.8");
    std::ostringstream text;
    text << document << "\n";
    return text.str();
}

std::string get_netplan_Master(const std::string& merged, const std::string& id)
{
    try {
        const YAML::Node network = YAML::Load(merged)["network"];
        if (!is_Map(network))
            return "";
        for (const char* kind : {"bridges", "bonds"}) {
            const YAML::Node masters = network[kind];
            if (!is_Map(masters))
                continue;
            for (YAML::const_iterator it = masters.begin(); it != masters.end(); ++it) {
                const YAML::Node ports = is_Map(it->second) ? it->second["interfaces"] : YAML::Node();
                if (!is_Sequence(ports))
                    continue;
                for (const YAML::Node& port : ports)
                    if (port.IsScalar() && port.Scalar() == id)
                        return std::string(kind == std::string("bridges") ? "bridge " : "bond ") +
                               it->first.as<std::string>();
            }
        }
    } catch (const std::exception&) {
    }
    return "";
}

int get_Cloud_Network_Disabled(const std::string& config_text)
{
    try {
        const YAML::Node config = YAML::Load(config_text);
        if (!is_Map(config) || !is_Map(config["network"]) || !config["network"]["config"].IsDefined())
            return -1;
        const YAML::Node value = config["network"]["config"];
        return value.IsScalar() && value.Scalar() == "disabled" ? 1 : 0;
    } catch (const std::exception&) {
        return -1;
    }
}

Netplan_Owner get_netplan_Owner(const std::vector<Netplan_File>& files,
                                const std::vector<std::string>& applying_ids,
                                const std::string& interface_name, bool cloud_init_renders)
{
    Netplan_Owner owner;
    const std::string default_text = get_netplan_Default_Text(interface_name);
    std::vector<Definition> definitions;
    for (const Netplan_File& file : files) {
        try {
            const YAML::Node document = YAML::Load(file.text);
            if (!is_Map(document) || !is_Map(document["network"]) ||
                !is_Map(document["network"]["ethernets"]))
                continue;
            const YAML::Node ethernets = document["network"]["ethernets"];
            for (const std::string& id : applying_ids)
                if (ethernets[id].IsDefined())
                    definitions.push_back({id, file.path, get_IPv4_Keys_Held(ethernets[id])});
        } catch (const std::exception&) {
            owner.refusal = file.path + " cannot be read";
        }
    }
    // This daemon's untouched default, merged into another file's definition of the interface.
    const std::string own_file = netplan_default_path;
    auto own = std::find_if(files.begin(), files.end(), [&](const Netplan_File& f) {
        return f.path == own_file && f.text == default_text;
    });
    bool elsewhere = std::any_of(definitions.begin(), definitions.end(),
                                 [&](const Definition& d) { return d.file != own_file; });
    if (own != files.end() && elsewhere) {
        owner.leftover = own_file;
        definitions.erase(std::remove_if(definitions.begin(), definitions.end(),
                                         [&](const Definition& d) { return d.file == own_file; }),
                          definitions.end());
    }
    if (definitions.empty())
        return owner;

    owner.id = definitions.front().id;
    std::vector<Definition> others;
    std::vector<Definition> holders;
    for (const Definition& d : definitions) {
        if (d.id != owner.id)
            others.push_back(d);
        else if (d.ipv4)
            holders.push_back(d);
    }
    owner.file = holders.empty() ? definitions.front().file : holders.front().file;
    if (!owner.refusal.empty())
        return owner;
    if (!others.empty()) {
        others.insert(others.begin(), definitions.front());
        owner.refusal = "several netplan definitions apply to " + interface_name + " (" +
                        get_Definition_List(others) + "): keep one of them";
    } else if (holders.size() > 1) {
        // Keys moved into cloud-init's file, or out of it, come back as they were at its next boot.
        auto cloud = std::find_if(holders.begin(), holders.end(), [&](const Definition& d) {
            auto file = std::find_if(files.begin(), files.end(),
                                     [&](const Netplan_File& f) { return f.path == d.file; });
            return cloud_init_renders && file != files.end() && get_Cloud_Init_Header(file->text);
        });
        owner.refusal = interface_name + "'s IPv4 settings are spread over several files (" +
                        get_Definition_List(holders) + "): " +
                        (cloud == holders.end()
                             ? "move them into one of them"
                             : cloud->file +
                                   " is rewritten by cloud-init at boot, so keys moved into it or out "
                                   "of it do not last: first write \"network: {config: disabled}\" to " +
                                   cloud_hand_over + ", then keep " + interface_name + " in one file");
    } else if (get_Starts_With(owner.file, "/run/netplan/")) {
        owner.refusal = owner.file + " lives under /run and is lost at reboot: to hand " + interface_name +
                        " over, move its definition into a file under /etc/netplan";
    } else if (get_Starts_With(owner.file, "/lib/netplan/") ||
               get_Starts_With(owner.file, "/usr/lib/netplan/")) {
        owner.refusal = owner.file + " is the vendor's and read-only: to hand " + interface_name +
                        " over, copy it to /etc/netplan/" + fs::path(owner.file).filename().string() +
                        ", which netplan reads instead";
    } else {
        auto file = std::find_if(files.begin(), files.end(),
                                 [&](const Netplan_File& f) { return f.path == owner.file; });
        if (cloud_init_renders && file != files.end() && get_Cloud_Init_Header(file->text))
            owner.refusal = owner.file + " is rewritten by cloud-init at boot: to hand " + interface_name +
                            " over, write \"network: {config: disabled}\" to " + cloud_hand_over;
    }
    return owner;
}

std::vector<Netplan_File> get_netplan_Files(const std::string& root, std::string* error)
{
    std::map<std::string, std::string> by_name;
    for (const char* directory : netplan_directories) {
        std::error_code failed;
        for (fs::directory_iterator it(root + directory, failed), end; !failed && it != end;
             it.increment(failed)) {
            const fs::path& path = it->path();
            // A link that points nowhere is no configuration.
            if (path.extension() == ".yaml" && fs::exists(path, failed))
                by_name[path.filename().string()] = std::string(directory) + "/" + path.filename().string();
        }
    }
    std::vector<Netplan_File> files;
    for (const auto& entry : by_name) {
        Netplan_File file{entry.second, ""};
        std::string why;
        if (!get_File_Content(root + file.path, &file.text, &why)) {
            *error = file.path + ": " + why;
            return {};
        }
        files.push_back(file);
    }
    return files;
}

bool get_Cloud_Init_Renders(const std::string& root)
{
    // No /etc/cloud: cloud-init is not installed and rewrites nothing.
    if (access((root + cloud_disabled_marker).c_str(), F_OK) == 0 || !fs::is_directory(root + "/etc/cloud"))
        return false;
    std::vector<std::string> configs = {root + cloud_config};
    std::vector<std::string> parts;
    std::error_code failed;
    for (fs::directory_iterator it(root + cloud_config_directory, failed), end; !failed && it != end;
         it.increment(failed))
        if (it->path().extension() == ".cfg")
            parts.push_back(it->path().string());
    std::sort(parts.begin(), parts.end());
    configs.insert(configs.end(), parts.begin(), parts.end());
    bool renders = true;
    for (const std::string& config : configs) {
        std::string text;
        int disabled = get_File_Content(config, &text) ? get_Cloud_Network_Disabled(text) : -1;
        if (disabled >= 0)
            renders = disabled == 0;
    }
    return renders;
}
