// The ifupdown back end: the interface's stanza, found where ifupdown reads
// it, read and edited at once. Only the lines of its "iface <name> inet"
// stanza are IPv4 settings; an inet6 stanza, other interfaces and commands
// such as "up ip address ..." are never read or changed.
#include <glob.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <set>
#include <sstream>
#include <system_error>

#include "config_file_handling.h"
#include "file_replace.h"
#include "log.h"
#include "monotonic_clock.h"
#include "network_ifupdown.h"
#include "network_parse.h"
#include "text_copy.h"

namespace {

namespace fs = std::filesystem;

const char* const __log_tag = "Network";
const char* const interfaces_file = "/etc/network/interfaces";
// Deeper than any layout ifupdown itself would read; a loop of source lines ends here.
const int max_source_depth = 8;
// Far beyond any host's files, so that no set of source lines keeps the lookup (and the first report)
// waiting.
const size_t max_walk_files = 128;
const size_t max_walk_bytes = 8u << 20;
const size_t max_walk_sources = 1024;
// The start-up probes' own budget: a walk that takes longer (a glob over a huge directory) stops.
const long max_walk_ms = 3000;

// The stanza key of a setting; empty for settings the stanza does not hold.
std::string get_Stanza_Key(Config_Type type)
{
    switch (type) {
    case Config_Type::IP_ADDRESS:
        return "address";
    case Config_Type::GATEWAY:
        return "gateway";
    case Config_Type::SUBNETMASK:
        return "netmask";
    case Config_Type::DNS1:
    case Config_Type::DNS2:
        return "dns-nameservers";
    default:
        return "";
    }
}

bool get_DNS_Type(Config_Type type)
{
    return type == Config_Type::DNS1 || type == Config_Type::DNS2;
}

// The hooks that hand "dns-nameservers" to the resolver when ifup brings eth0 up.
const char* const resolvconf_hook = "/etc/network/if-up.d/000resolvconf";
const char* const resolved_hook = "/etc/network/if-up.d/resolved";
// ifupdown ships the resolved hook itself; it does something only where systemd-resolved is installed.
const char* const resolved_daemons[] = {"/lib/systemd/systemd-resolved", "/usr/lib/systemd/systemd-resolved"};

std::string get_Inet_Header(const std::string& interface_name)
{
    return "iface " + interface_name + " inet";
}

std::vector<std::string> get_Words(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

// The stanza's "dns-nameservers" list, in order.
std::vector<std::string> get_Server_Words(const std::string& content, const std::string& header)
{
    std::string value;
    Config_File::get_Stanza_Value(content, header, "dns-nameservers", &value);
    return get_Words(value);
}

// The paths a source pattern names under `root`, sorted as the shell sorts a glob.
std::vector<std::string> get_Glob_Paths(const std::string& root, const std::string& pattern)
{
    glob_t found;
    std::vector<std::string> paths;
    if (glob((root + pattern).c_str(), 0, nullptr, &found) == 0)
        for (size_t i = 0; i < found.gl_pathc; ++i)
            paths.push_back(std::string(found.gl_pathv[i]).substr(root.size()));
    globfree(&found);
    return paths;
}

// Whether run-parts, and so "source-directory", reads a file of this name.
bool get_Run_Parts_Name(const std::string& name)
{
    return !name.empty() &&
           name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-") ==
               std::string::npos;
}

struct Stanza_Walk {
    std::string root;
    std::string interface_name;
    Ifupdown_Files found;
    std::set<std::string> seen; // every file read: one reached again through another source line is not
    size_t bytes = 0;
    size_t sources = 0;
    long deadline = get_Monotonic_Ms() + max_walk_ms;

    // Whether the walk may go on; the first limit reached is named once.
    bool get_Within(const std::string& next)
    {
        if (!found.cut_off.empty())
            return false;
        if (found.files.size() >= max_walk_files)
            found.cut_off = "more than " + std::to_string(max_walk_files) + " files";
        else if (bytes > max_walk_bytes)
            found.cut_off = "more than " + std::to_string(max_walk_bytes >> 20) + " MiB";
        else if (sources >= max_walk_sources)
            found.cut_off = "more than " + std::to_string(max_walk_sources) + " source lines";
        else if (get_Monotonic_Ms() > deadline)
            found.cut_off = "more than " + std::to_string(max_walk_ms / 1000) + " s";
        if (!found.cut_off.empty())
            found.cut_off += ", before " + next;
        return found.cut_off.empty();
    }

    void read(const std::string& named, int depth)
    {
        // "./interfaces" is the file being read: a loop is caught by name.
        std::string path = fs::path(named).lexically_normal().string();
        std::string text;
        if (depth > max_source_depth || seen.count(path) != 0 || !get_Within(path) ||
            !get_File_Content(root + path, &text))
            return;
        seen.insert(path);
        found.files.push_back(path);
        bytes += text.size();
        if (found.master.empty()) {
            found.master = get_ifupdown_Master(text, interface_name);
            found.master_file = found.master.empty() ? "" : path;
        }
        std::string directory = fs::path(path).parent_path().string();
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            Ifupdown_Line parsed = get_Ifupdown_Line(line, interface_name);
            std::string pattern = parsed.argument;
            if (!pattern.empty() && pattern[0] != '/')
                pattern = (fs::path(directory) / pattern).string();
            if (parsed.kind == Ifupdown_Line::KIND::INET_STANZA) {
                found.stanzas.push_back(path);
                continue;
            }
            if (parsed.kind == Ifupdown_Line::KIND::OTHER || !get_Within(pattern))
                continue;
            ++sources;
            for (const std::string& sourced : get_Glob_Paths(root, pattern)) {
                if (parsed.kind == Ifupdown_Line::KIND::SOURCE)
                    read(sourced, depth + 1);
                else
                    read_Directory(sourced, depth + 1);
            }
        }
    }

    void read_Directory(const std::string& directory, int depth)
    {
        std::vector<std::string> names;
        std::error_code failed;
        for (fs::directory_iterator it(root + directory, failed), end; !failed && it != end;
             it.increment(failed))
            if (get_Run_Parts_Name(it->path().filename().string()))
                names.push_back(it->path().filename().string());
        std::sort(names.begin(), names.end());
        for (const std::string& name : names)
            read((fs::path(directory) / name).string(), depth);
    }
};

} // namespace

Ifupdown_Line get_Ifupdown_Line(const std::string& line, const std::string& interface_name)
{
    Ifupdown_Line parsed;
    std::vector<std::string> words = get_Words(line);
    if (words.empty() || words[0][0] == '#')
        return parsed;
    if (words[0] == "iface" && words.size() >= 3 && words[1] == interface_name && words[2] == "inet") {
        parsed.kind = Ifupdown_Line::KIND::INET_STANZA;
    } else if ((words[0] == "source" || words[0] == "source-directory") && words.size() >= 2) {
        parsed.kind =
            words[0] == "source" ? Ifupdown_Line::KIND::SOURCE : Ifupdown_Line::KIND::SOURCE_DIRECTORY;
        // The rest of the line is the path: it may hold blanks.
        size_t start = line.find_first_not_of(" \t", line.find(words[0]) + words[0].size());
        parsed.argument = line.substr(start, line.find_last_not_of(" \t\r") - start + 1);
    }
    return parsed;
}

Ifupdown_Files get_ifupdown_Files(const std::string& root, const std::string& interface_name)
{
    Stanza_Walk walk;
    walk.root = root;
    walk.interface_name = interface_name;
    walk.read(interfaces_file, 0);
    if (!walk.found.cut_off.empty()) {
        walk.found.cut_off = "ifupdown's files were not all read (" + walk.found.cut_off + ", after " +
                             get_Log_List(walk.found.files) + ")";
        // The same files give the same cut-off at every lookup (of either thread): it is named once.
        static std::mutex logged_lock;
        static std::string logged;
        std::lock_guard<std::mutex> hold(logged_lock);
        if (walk.found.cut_off != logged)
            LOG_ERROR("%s", get_Log_Text(walk.found.cut_off).c_str());
        logged = walk.found.cut_off;
    }
    return walk.found;
}

std::string get_ifupdown_Master(const std::string& content, const std::string& interface_name)
{
    static const std::set<std::string> stanza_starts = {
        "auto", "mapping", "source", "rename", "source-directory", "no-auto-down", "no-scripts"};
    std::string stanza; // the interface whose iface stanza the line is in
    std::istringstream in(content);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> words = get_Words(line);
        if (words.empty() || words[0][0] == '#')
            continue;
        const std::string& key = words[0];
        if (key == "iface") {
            stanza = words.size() > 1 ? words[1] : "";
            continue;
        }
        if (stanza_starts.count(key) != 0 || key.compare(0, 6, "allow-") == 0) {
            stanza.clear();
            continue;
        }
        if (stanza.empty())
            continue;
        bool named = std::find(words.begin() + 1, words.end(), interface_name) != words.end();
        if (stanza != interface_name && named && (key == "bridge_ports" || key == "bridge-ports"))
            return "bridge " + stanza;
        if (stanza != interface_name && named && (key == "bond-slaves" || key == "bond_slaves"))
            return "bond " + stanza;
        if (stanza == interface_name && words.size() > 1 && (key == "bond-master" || key == "bond_master"))
            return "bond " + words[1];
    }
    return "";
}

bool get_ifupdown_Update_Text(const std::string& content, const std::string& interface_name, Config_Type type,
                              const std::string& value, std::string* text, std::string* reason)
{
    std::string header = get_Inet_Header(interface_name);
    *text = content;
    std::string method;
    // Every setting goes into the one stanza there is: a second would make ifup run both.
    if (!Config_File::get_Stanza_Value(content, header, "", &method)) {
        *reason = "no \"" + header + "\" stanza";
        return false;
    }
    if (type == Config_Type::MODE) {
        bool set_static = !value.empty() && value[0] != 0;
        Config_File::set_Stanza_Value(text, header, "", set_static ? "static" : "dhcp");
        // The static values survive DHCP as comments and come back with static.
        for (const char* key : {"address", "netmask", "gateway"})
            Config_File::set_Stanza_Comment(text, header, key, !set_static);
        return true;
    }
    std::string key = get_Stanza_Key(type);
    if (key.empty())
        return true;
    if (get_DNS_Type(type)) {
        // The other of DNS1 and DNS2 stays as the stanza holds it.
        bool first = type == Config_Type::DNS1;
        return get_ifupdown_DNS_Text(
            content, interface_name,
            first ? value : get_ifupdown_Setting(content, interface_name, Config_Type::DNS1),
            first ? get_ifupdown_Setting(content, interface_name, Config_Type::DNS2) : value, text, reason);
    }
    std::string address;
    std::string netmask;
    bool prefixed = Config_File::get_Stanza_Value(content, header, "address", &address) &&
                    address.find('/') != std::string::npos;
    std::string data = value;
    // "address A/N" holds the mask too: a new address keeps the prefix, a new mask replaces it.
    if (type == Config_Type::IP_ADDRESS && prefixed) {
        data = value + address.substr(address.find('/'));
    } else if (type == Config_Type::SUBNETMASK && prefixed &&
               !Config_File::get_Stanza_Value(content, header, "netmask", &netmask)) {
        key = "address";
        data = address.substr(0, address.find('/')) + "/" +
               std::to_string(get_Subnetmask_Bit_Count(value.c_str()));
    }
    Config_File::set_Stanza_Value(text, header, key, data);
    return true;
}

bool get_ifupdown_DNS_Text(const std::string& content, const std::string& interface_name,
                           const std::string& dns1, const std::string& dns2, std::string* text,
                           std::string* reason)
{
    std::string header = get_Inet_Header(interface_name);
    *text = content;
    std::string method;
    if (!Config_File::get_Stanza_Value(content, header, "", &method)) {
        *reason = "no \"" + header + "\" stanza";
        return false;
    }
    std::string joined;
    for (const std::string& server : get_DNS_List_Merged(get_Server_Words(content, header), dns1, dns2))
        joined += (joined.empty() ? "" : " ") + server;
    // No server left: the line goes out as a comment, and comes back with the next one.
    if (joined.empty())
        Config_File::set_Stanza_Comment(text, header, "dns-nameservers", true);
    else
        Config_File::set_Stanza_Value(text, header, "dns-nameservers", joined);
    return true;
}

std::string get_ifupdown_Setting(const std::string& content, const std::string& interface_name,
                                 Config_Type type)
{
    std::string header = get_Inet_Header(interface_name);
    std::string value;
    if (type == Config_Type::MODE) {
        Config_File::get_Stanza_Value(content, header, "", &value);
        return value.find("dhcp") != std::string::npos ? "0" : "1";
    }
    std::string key = get_Stanza_Key(type);
    if (key.empty())
        return "";
    if (get_DNS_Type(type))
        return get_DNS_IPv4_Server(get_Server_Words(content, header), type == Config_Type::DNS1 ? 0 : 1);
    std::string address;
    Config_File::get_Stanza_Value(content, header, "address", &address);
    size_t slash = address.find('/');
    if (type == Config_Type::IP_ADDRESS)
        return address.substr(0, slash);
    if (Config_File::get_Stanza_Value(content, header, key, &value) || type != Config_Type::SUBNETMASK ||
        slash == std::string::npos)
        return value;
    std::string digits = address.substr(slash + 1);
    bool prefix = !digits.empty() && digits.size() <= 2 &&
                  digits.find_first_not_of("0123456789") == std::string::npos && std::stoi(digits) <= 32;
    return prefix ? get_Prefix_Subnetmask_Text(static_cast<unsigned int>(std::stoi(digits))) : "";
}

std::string get_ifupdown_DNS_Void(const std::string& root)
{
    if (access((root + resolvconf_hook).c_str(), X_OK) == 0)
        return "";
    if (access((root + resolved_hook).c_str(), X_OK) == 0)
        for (const char* daemon : resolved_daemons)
            if (access((root + daemon).c_str(), X_OK) == 0)
                return "";
    return "dns-nameservers takes no effect on this host: no if-up.d hook hands it to a resolver (install "
           "resolvconf or systemd-resolved)";
}
