// systemd-networkd as the interface's owner: the .network file that applies
// to it (networkd's own answer where it runs, else its matching rules over
// its directories) and the settings read from that file. netplan's rendering
// for networkd is netplan's, not an owner of its own; changes are not made here.
#include <fnmatch.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <system_error>

#include "extra_command_handling.h"
#include "file_replace.h"
#include "log.h"
#include "gateway_check.h"
#include "network_backend.h"
#include "network_networkd.h"
#include "network_parse.h"
#include "text_copy.h"

namespace {

namespace fs = std::filesystem;

const char* const __log_tag = "Network";
// networkd's directories, lowest precedence first: a file hides one of the same name in an earlier one.
const char* const networkd_directories[] = {"/usr/lib/systemd/network", "/lib/systemd/network",
                                            "/usr/local/lib/systemd/network", "/run/systemd/network",
                                            "/etc/systemd/network"};
// netplan renders its definitions for networkd under this name: they are netplan's.
const char* const netplan_rendering = "10-netplan-";

std::vector<std::string> get_Words(const std::string& text)
{
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

std::string get_Trimmed(const std::string& text)
{
    size_t start = text.find_first_not_of(" \t\r");
    if (start == std::string::npos)
        return "";
    return text.substr(start, text.find_last_not_of(" \t\r") - start + 1);
}

// Every "Key=value" of a unit-style file with its section, in order.
struct Entry {
    std::string section;
    std::string key;
    std::string value;
    size_t section_number; // which header it follows: two [Route] sections are two routes
};

std::vector<Entry> get_Entries(const std::string& text)
{
    std::vector<Entry> entries;
    std::string section;
    size_t number = 0;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        line = get_Trimmed(line);
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        if (line[0] == '[') {
            section = line.substr(1, line.find(']') - 1);
            ++number;
            continue;
        }
        size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        entries.push_back(
            {section, get_Trimmed(line.substr(0, equals)), get_Trimmed(line.substr(equals + 1)), number});
    }
    return entries;
}

// One list-valued match key: its words accumulate, an empty value resets it, a leading "!" inverts it.
struct Match_List {
    bool given = false;
    bool inverted = false;
    std::vector<std::string> words;

    void add(const std::string& value)
    {
        std::string text = value;
        given = !text.empty();
        if (text.empty()) {
            words.clear();
            inverted = false;
            return;
        }
        if (text[0] == '!') {
            inverted = true;
            text = text.substr(1);
        }
        for (const std::string& word : get_Words(text))
            words.push_back(word);
    }
};

std::string get_Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool get_IPv4_Prefixed(const std::string& text)
{
    return get_IPv4_Address_Valid(text.substr(0, text.find('/')));
}

} // namespace

bool get_Networkd_Match(const std::string& text, const Interface_Facts& facts)
{
    Match_List names;
    Match_List macs;
    Match_List drivers;
    Match_List types;
    bool wireless_only = false;
    for (const Entry& entry : get_Entries(text)) {
        if (entry.section != "Match")
            continue;
        if (entry.key == "Name")
            names.add(entry.value);
        else if (entry.key == "MACAddress")
            macs.add(entry.value);
        else if (entry.key == "Driver")
            drivers.add(entry.value);
        else if (entry.key == "Type")
            types.add(entry.value);
        // Conditions on a wireless link hold for no wired one.
        else if (entry.key == "WLANInterfaceType" || entry.key == "SSID" || entry.key == "BSSID")
            wireless_only = wireless_only || !entry.value.empty();
        // Any other condition (Path, Host, Virtualization, Kind, ...) cannot be judged here: it counts as
        // met.
    }
    if (wireless_only && facts.type != "wlan")
        return false;
    auto globbed = [](const Match_List& list, const std::string& value) {
        if (!list.given)
            return true;
        bool any = std::any_of(list.words.begin(), list.words.end(), [&](const std::string& glob) {
            return fnmatch(glob.c_str(), value.c_str(), 0) == 0;
        });
        return any != list.inverted;
    };
    if (!globbed(names, facts.name) || !globbed(types, facts.type) ||
        (!facts.driver.empty() && !globbed(drivers, facts.driver)))
        return false;
    if (macs.given) {
        std::string mac = get_Lower(facts.mac);
        bool any = std::any_of(macs.words.begin(), macs.words.end(),
                               [&](const std::string& word) { return get_Lower(word) == mac; });
        if (any == macs.inverted)
            return false;
    }
    return true;
}

bool get_Networkctl_File(const std::string& answer, std::string* file)
{
    std::istringstream in(answer);
    for (std::string line; std::getline(in, line);) {
        std::string trimmed = get_Trimmed(line);
        if (trimmed.compare(0, 13, "Network File:") != 0)
            continue;
        std::string named = get_Trimmed(trimmed.substr(13));
        // "n/a": networkd runs and applies no file to the link.
        *file = !named.empty() && named[0] == '/' ? named : "";
        return true;
    }
    return false;
}

std::vector<std::string> get_Networkd_Files(const std::string& root)
{
    std::map<std::string, std::string> by_name;
    for (const char* directory : networkd_directories) {
        std::error_code failed;
        for (fs::directory_iterator it(root + directory, failed), end; !failed && it != end;
             it.increment(failed)) {
            if (it->path().extension() != ".network")
                continue;
            std::string name = it->path().filename().string();
            by_name[name] = std::string(directory) + "/" + name;
        }
    }
    std::vector<std::string> files;
    for (const auto& entry : by_name) {
        struct stat held;
        // A file linked to /dev/null (or empty) masks the name.
        if (stat((root + entry.second).c_str(), &held) != 0 || !S_ISREG(held.st_mode) || held.st_size == 0)
            continue;
        files.push_back(entry.second);
    }
    return files;
}

std::string get_Networkd_Setting(const std::string& text, Config_Type type)
{
    std::string dhcp;
    std::string address;
    std::string gateway;
    std::vector<std::string> servers;
    std::string route_gateway;
    bool route_default = true;
    auto end_route = [&]() {
        if (gateway.empty() && route_default && get_IPv4_Address_Valid(route_gateway))
            gateway = route_gateway;
        route_gateway.clear();
        route_default = true;
    };
    std::string section;
    size_t number = 0;
    for (const Entry& entry : get_Entries(text)) {
        if (entry.section_number != number) {
            if (section == "Route")
                end_route();
            section = entry.section;
            number = entry.section_number;
        }
        if (section == "Network" && entry.key == "DHCP")
            dhcp = entry.value;
        else if ((section == "Network" || section == "Address") && entry.key == "Address" &&
                 address.empty() && get_IPv4_Prefixed(entry.value))
            address = entry.value;
        else if (section == "Network" && entry.key == "Gateway" && gateway.empty() &&
                 get_IPv4_Address_Valid(entry.value))
            gateway = entry.value;
        else if (section == "Network" && entry.key == "DNS")
            for (const std::string& server : get_Words(entry.value))
                servers.push_back(server);
        else if (section == "Route" && entry.key == "Gateway")
            route_gateway = entry.value;
        else if (section == "Route" && entry.key == "Destination")
            route_default = entry.value.empty() || entry.value == "0.0.0.0/0";
    }
    if (section == "Route")
        end_route();
    size_t slash = address.find('/');
    switch (type) {
    case Config_Type::MODE: {
        std::string value = get_Lower(dhcp);
        return value == "yes" || value == "ipv4" || value == "true" || value == "on" || value == "1" ? "0"
                                                                                                     : "1";
    }
    case Config_Type::IP_ADDRESS:
        return address.substr(0, slash);
    case Config_Type::SUBNETMASK: {
        std::string digits = slash == std::string::npos ? "" : address.substr(slash + 1);
        bool prefix = !digits.empty() && digits.size() <= 2 &&
                      digits.find_first_not_of("0123456789") == std::string::npos && std::stoi(digits) <= 32;
        return prefix ? get_Prefix_Subnetmask_Text(static_cast<unsigned int>(std::stoi(digits))) : "";
    }
    case Config_Type::GATEWAY:
        return gateway;
    case Config_Type::DNS1:
    case Config_Type::DNS2:
        return get_DNS_IPv4_Server(servers, type == Config_Type::DNS1 ? 0 : 1);
    }
    return "";
}

std::string get_Networkd_Owner_File(const Interface_Facts& facts)
{
    // The first file by name whose [Match] selects the interface is the one networkd would apply.
    std::string matched;
    for (const std::string& file : get_Networkd_Files("")) {
        std::string text;
        if (get_File_Content(file, &text) && get_Networkd_Match(text, facts)) {
            matched = file;
            break;
        }
    }
    // No file would take the interface: networkd is not asked.
    if (matched.empty())
        return "";
    // Where networkd runs it names the file it applied, which settles what the matching cannot judge.
    std::string answer;
    std::string applied;
    if (get_Probe_Output(("networkctl --no-pager status " + get_Shell_Word(facts.name)).c_str(), &answer,
                         probe_timeout_seconds) == 0 &&
        get_Networkctl_File(answer, &applied))
        matched = applied;
    // netplan's rendering for networkd is netplan's definition.
    if (fs::path(matched).filename().string().compare(0, strlen(netplan_rendering), netplan_rendering) == 0)
        return "";
    return matched;
}

std::string get_Networkd_Refusal(const std::string& interface_name, const std::string& file)
{
    return interface_name + " is managed by systemd-networkd through " + file +
           ", whose settings are read only here: to hand " + interface_name +
           " over, move them into a netplan file under /etc/netplan and remove " + file;
}

namespace {

bool get_Networkd_Found(Owner_Lookup* lookup, std::vector<Interface_Owner>* found)
{
    std::string file = get_Networkd_Owner_File(lookup->facts);
    if (file.empty())
        return true;
    Interface_Owner owner = lookup->base;
    owner.manager = Manager_Type::SYSTEMD_NETWORKD;
    owner.file = file;
    found->push_back(owner);
    return true;
}

std::string get_Networkd_Service(const Interface_Owner&)
{
    return "systemd-networkd";
}

uint8_t get_Networkd_Config(Config_Type type, const Interface_Owner& owner, char* buffer,
                            unsigned int buffer_length)
{
    std::string text;
    if (!get_Owner_File_Read(owner, &text))
        return 1;
    std::string value = get_Networkd_Setting(text, type);
    if (type == Config_Type::MODE) {
        buffer[0] = value == "0" ? 0 : 1;
        return 0;
    }
    // A DHCP lease's values are live: a file without an address (or gateway) falls back to what eth0 holds.
    bool addressless = get_Networkd_Setting(text, Config_Type::IP_ADDRESS).empty();
    if (addressless && type == Config_Type::IP_ADDRESS)
        value = get_Interface_Live_Config(owner.interface_name).ip4_address;
    else if (addressless && type == Config_Type::SUBNETMASK)
        value = get_Interface_Live_Config(owner.interface_name).ip4_subnetmask;
    else if (value.empty() && type == Config_Type::GATEWAY)
        value = get_Live_Default_Gateway(owner.interface_name);
    set_Fixed_Length_Copy(buffer, buffer_length, value);
    return 0;
}

std::string get_Networkd_Read_Only(const Interface_Owner& owner)
{
    return get_Networkd_Refusal(owner.interface_name, owner.file);
}

bool get_Networkd_Plan_Input(const Interface_Owner& owner, Plan_Input* input)
{
    input->file = owner.file;
    return true;
}

void get_Networkd_Plan(const Plan_Input& input, Change_Plan* plan, std::vector<Plan_Step>*)
{
    plan->refusal = "refused to apply: " + get_Networkd_Refusal(input.target.interface_name, input.file);
}

std::vector<std::string> get_Networkd_Commands(const Apply_Target&)
{
    return {};
}

} // namespace

// Read only: its settings are shown, and a change is refused with how to hand the interface over.
const Manager_Backend networkd_backend = {
    Manager_Type::SYSTEMD_NETWORKD,
    get_Networkd_Found,
    nullptr,
    get_Networkd_Service,
    get_Networkd_Config,
    get_Networkd_Read_Only,
    nullptr,
    get_Networkd_Plan_Input,
    get_Networkd_Plan,
    nullptr,
    get_Networkd_Commands,
    get_Networkd_Commands,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    "",
    false,
};
