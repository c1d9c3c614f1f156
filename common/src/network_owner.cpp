// Who owns the selected interface's configuration, and where: netplan's
// definition as netplan itself matches and merges it, the ifupdown stanza or
// the NetworkManager keyfile. The lookup only reads; writing the default for a
// bare host and removing this daemon's own harmful leftovers are separate steps.
#include <limits.h>
#include <net/if.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <system_error>

#include <yaml-cpp/yaml.h>

#include "extra_command_handling.h"
#include "file_replace.h"
#include "log.h"
#include "network.h"
#include "settings_trial.h"

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

// A missing key gives an invalid node, whose type cannot even be asked.
bool is_Map(const YAML::Node& node)
{
    return node.IsDefined() && node.IsMap();
}
bool is_Sequence(const YAML::Node& node)
{
    return node.IsDefined() && node.IsSequence();
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
    std::string list;
    for (const Definition& d : definitions)
        list += (list.empty() ? "" : ", ") + d.id + " in " + d.file;
    return list;
}

std::string get_Interface_Driver(const std::string& name)
{
    char target[PATH_MAX];
    std::string link = "/sys/class/net/" + name + "/device/driver";
    ssize_t n = readlink(link.c_str(), target, sizeof(target) - 1);
    if (n <= 0)
        return "";
    return fs::path(std::string(target, static_cast<size_t>(n))).filename().string();
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

} // namespace

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
    const std::string own_file = Network::netplan_config_path;
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
        owner.refusal = interface_name + "'s IPv4 settings are spread over several files (" +
                        get_Definition_List(holders) + "): move them into one of them";
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

bool Network::get_Interface_Exist()
{
    return !config.target_interface.empty() && if_nametoindex(config.target_interface.c_str()) != 0;
}

// The daemon's own file read alone, as before netplan's parser judged it: one
// netplan refuses is still read (and repaired by an edit) when no other file defines the interface.
bool Network::get_Own_File_Readable_Alone(const std::vector<Netplan_File>& files,
                                          const Netplan_Reading& reading, const Interface_Facts& facts)
{
    const std::string own_file = netplan_config_path;
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

std::string Network::get_Manager_Service(const Owner& owner)
{
    switch (owner.manager) {
    case MANAGER_TYPE::NETPLAN:
        return get_netplan_Service(owner.document, owner.entry);
    case MANAGER_TYPE::IFUPDOWN:
        return "networking";
    case MANAGER_TYPE::NETWORK_MANAGER:
        return "NetworkManager";
    case MANAGER_TYPE::SYSTEMD_NETWORKD:
        return "systemd-networkd";
    case MANAGER_TYPE::UNKNOWN:
        break;
    }
    return "";
}

int get_Owner_Choice(const std::vector<Owner_Candidate>& candidates, const std::string& interface_name,
                     std::string* refusal)
{
    if (candidates.size() == 1)
        return 0;
    int running = -1;
    std::string list;
    for (size_t i = 0; i < candidates.size(); ++i) {
        const Owner_Candidate& c = candidates[i];
        list += std::string(list.empty() ? "" : ", ") +
                Network::MANAGER_TYPE_STRING[static_cast<uint8_t>(c.manager)] + " in " + c.where +
                (c.running ? " (running)" : "");
        if (c.running)
            running = running == -1 ? static_cast<int>(i) : -2;
    }
    if (running >= 0)
        return running;
    if (!candidates.empty())
        *refusal = "several managers define " + interface_name + " (" + list + ") and " +
                   (running == -1 ? "none" : "more than one") +
                   " of them is running: remove the definitions of all but one";
    return -1;
}

void Network::set_Owner_Kept(bool kept)
{
    owner_kept = kept;
    kept_owner.reset();
}

Network::Owner Network::get_Owner()
{
    if (!owner_kept)
        return get_Owner_Found();
    if (kept_owner == nullptr) {
        kept_owner.reset(new Owner(get_Owner_Found()));
        kept_under_hold = get_Settings_Hold();
    }
    return *kept_owner;
}

Network::Owner Network::get_Owner_Found(int network_manager)
{
    Owner owner;
    const std::string& name = config.target_interface;
    if (!get_Interface_Exist())
        return owner;
    owner.present = true;
    // NetworkManager's state is asked at once: systemctl answers while the files are read.
    std::unique_ptr<Probe_Run> nm_query(network_manager < 0 ? new Probe_Run(get_Network_Manager_Query())
                                                            : nullptr);
    std::string error;
    std::vector<Netplan_File> files = get_netplan_Files("", &error);
    Interface_Facts facts{name, get_Interface_MAC_Address(), get_Interface_Driver(name)};
    if (access(("/sys/class/net/" + name + "/wireless").c_str(), F_OK) == 0)
        facts.type = "wlan";
    Netplan_Reading reading;
    if (error.empty() && !files.empty())
        reading = get_netplan_Reading(files, facts);
    if (!error.empty() ||
        (reading.installed && !reading.accepted && !get_Own_File_Readable_Alone(files, reading, facts))) {
        // Files netplan cannot read say nothing of who owns the interface: nothing is touched.
        owner.manager = MANAGER_TYPE::NETPLAN;
        owner.error = error.empty() ? reading.error : error;
        return owner;
    }

    // Each manager's own answer, then the one of them that owns the interface.
    std::vector<Owner> found;
    if (reading.accepted)
        owner.netplan = get_netplan_Owner(files, reading.applying_ids, name, get_Cloud_Init_Renders(""));
    if (!owner.netplan.id.empty()) {
        Owner netplan = owner;
        netplan.manager = MANAGER_TYPE::NETPLAN;
        netplan.file = owner.netplan.file;
        netplan.entry = owner.netplan.id;
        netplan.document = reading.merged;
        netplan.master = get_netplan_Master(reading.merged, owner.netplan.id);
        found.push_back(netplan);
    }
    std::vector<std::string> stanzas = get_ifupdown_Stanza_Files("", name);
    std::string master_file;
    // A port needs no stanza of its own: a bridge's "bridge_ports" line is ifupdown's hold on it.
    std::string ifupdown_master = get_ifupdown_Port_Master("", name, &master_file);
    if (!stanzas.empty() || !ifupdown_master.empty()) {
        Owner ifupdown = owner;
        ifupdown.manager = MANAGER_TYPE::IFUPDOWN;
        ifupdown.file = stanzas.empty() ? master_file : stanzas.front();
        ifupdown.master = ifupdown_master;
        if (stanzas.size() > 1) {
            std::string list;
            for (const std::string& file : stanzas)
                list += (list.empty() ? "" : ", ") + file;
            ifupdown.error = "ifupdown reads several \"iface " + name + " inet\" stanzas (in " + list +
                             "): keep one of them";
        }
        found.push_back(ifupdown);
    }
    std::string networkd_file = get_Networkd_Owner_File(facts);
    if (!networkd_file.empty()) {
        Owner networkd = owner;
        networkd.manager = MANAGER_TYPE::SYSTEMD_NETWORKD;
        networkd.file = networkd_file;
        found.push_back(networkd);
    }
    owner.network_manager =
        network_manager >= 0 ? network_manager == 1 : get_Network_Manager_Answer(nm_query.get());
    for (Owner& each : found)
        each.network_manager = owner.network_manager;
    if (owner.network_manager) {
        Nm_Choice choice = get_Network_Manager_Profile(facts);
        // netplan's own rendering of its definition is netplan's.
        if ((!choice.uuid.empty() || !choice.refusal.empty()) &&
            !(choice.netplan && !owner.netplan.id.empty())) {
            Owner manager = owner;
            manager.manager = MANAGER_TYPE::NETWORK_MANAGER;
            manager.file = choice.file.empty() ? "profile " + choice.uuid : choice.file;
            manager.entry = choice.uuid;
            manager.active = choice.active;
            manager.error = choice.refusal;
            if (!choice.uuid.empty())
                manager.master = get_Network_Manager_Master(choice.uuid);
            if (choice.netplan)
                manager.error = "profile \"" + choice.name +
                                "\" is generated by netplan, from a definition of " + name +
                                " that netplan's files do not show here: fix them, or hand " + name +
                                " to NetworkManager alone";
            found.push_back(manager);
        }
    }
    if (found.empty()) {
        char path[PATH_MAX] = {};
        // The daemon's own file without the interface, or one netplan refuses: reads and edits take it alone.
        if (get_netplan_Config_Exist(path, sizeof(path))) {
            owner.manager = MANAGER_TYPE::NETPLAN;
            owner.file = netplan_config_path;
            owner.entry = name;
            if (!get_File_Content(owner.file, &owner.document, &owner.error))
                owner.error = owner.file + ": " + owner.error;
        }
        return owner;
    }
    std::vector<Owner_Candidate> candidates;
    candidates.reserve(found.size());
    for (const Owner& o : found) {
        // NetworkManager was asked once already.
        std::string service = get_Manager_Service(o);
        candidates.push_back({o.manager, o.file,
                              found.size() > 1 && (service == "NetworkManager"
                                                       ? owner.network_manager
                                                       : get_Systemd_Service_Status(service.c_str()))});
    }
    std::string refusal;
    int chosen = get_Owner_Choice(candidates, name, &refusal);
    if (chosen < 0) {
        owner.error = refusal;
        return owner;
    }
    return found[static_cast<size_t>(chosen)];
}
