// Which NetworkManager profile holds the interface: the one active on it, or
// the one wired profile bound to it. Profiles are named by UUID, since their
// names may hold blanks and repeat; nothing here writes or deletes a profile.
#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <sstream>

#include "extra_command_handling.h"
#include "network_manager.h"
#include "network_parse.h"

namespace {

const char* const wired_type = "802-3-ethernet";
const char* const netplan_profile_prefix = "/run/NetworkManager/system-connections/netplan-";

std::string get_Lower_Case(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return text;
}

// A profile that names another interface or another MAC address never
// activates on this one; one that names neither could take any wired device
// and is not counted as bound to it.
bool get_Bound_To(const Nm_Profile& profile, const Interface_Facts& facts)
{
    if (profile.type != wired_type || (profile.interface_name.empty() && profile.mac.empty()))
        return false;
    bool name_fits = profile.interface_name.empty() || profile.interface_name == facts.name;
    bool mac_fits = profile.mac.empty() || (!facts.mac.empty() && profile.mac == facts.mac);
    return name_fits && mac_fits;
}

// Why a kept change to `chosen` would not be what eth0 comes up on at the next boot ("" when it would).
std::string get_Boot_Refusal(const std::vector<Nm_Profile>& profiles, const Nm_Profile& chosen,
                             const Interface_Facts& facts)
{
    const std::string named = "profile \"" + chosen.name + "\" (" + chosen.uuid + ")";
    if (chosen.interface_name.empty() && chosen.mac.empty())
        return named +
               " is bound to no interface (no connection.interface-name, no 802-3-ethernet.mac-address): "
               "NetworkManager may bring it up on another wired device, and a change would go there too; "
               "bind it to " +
               facts.name + " first (nmcli con mod uuid " + chosen.uuid + " connection.interface-name " +
               facts.name + ")";
    if (!chosen.autoconnect)
        return named +
               " does not autoconnect (connection.autoconnect no): at the next boot nothing brings it up "
               "on " +
               facts.name +
               " and a kept change is lost; set it to autoconnect first (nmcli con "
               "mod uuid " +
               chosen.uuid + " connection.autoconnect yes)";
    // At boot NetworkManager brings up the autoconnecting profile of the highest priority that can take the
    // device: one bound to it, or one bound to nothing.
    for (const Nm_Profile& other : profiles)
        if (other.uuid != chosen.uuid && other.type == wired_type && other.autoconnect &&
            other.priority > chosen.priority &&
            (get_Bound_To(other, facts) || (other.interface_name.empty() && other.mac.empty())))
            return "profile \"" + other.name + "\" (" + other.uuid + ") would come up on " + facts.name +
                   " at the next boot instead of \"" + chosen.name +
                   "\": its connection.autoconnect-priority " + std::to_string(other.priority) +
                   " is above " + std::to_string(chosen.priority) +
                   ", so a kept change would be lost; activate that profile, or raise this one's priority "
                   "first";
    return "";
}

} // namespace

void set_Nmcli_Binding(const std::string& answer, Nm_Profile* profile)
{
    profile->interface_name = get_Nmcli_Field(answer, "connection.interface-name");
    profile->mac = get_Lower_Case(get_Nmcli_Field(answer, "802-3-ethernet.mac-address"));
    profile->autoconnect = get_Nmcli_Field(answer, "connection.autoconnect") != "no";
    const std::string priority = get_Nmcli_Field(answer, "connection.autoconnect-priority");
    char* end = nullptr;
    const long value = strtol(priority.c_str(), &end, 10);
    profile->priority = !priority.empty() && end != nullptr && *end == 0 ? value : 0;
}

std::vector<std::string> get_Nmcli_Terse_Fields(const std::string& line)
{
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size())
            fields.back() += line[++i];
        else if (line[i] == ':')
            fields.emplace_back();
        else
            fields.back() += line[i];
    }
    return fields;
}

std::string get_Nmcli_Field(const std::string& answer, const std::string& field)
{
    std::istringstream in(answer);
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, field.size() + 1, field + ":") == 0)
            return line.substr(field.size() + 1);
    return "";
}

std::vector<Nm_Profile> get_Nmcli_Profiles(const std::string& listing)
{
    std::vector<Nm_Profile> profiles;
    std::istringstream in(listing);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields = get_Nmcli_Terse_Fields(line);
        if (fields.size() != 4 || !get_Uuid_Valid(fields[0]))
            continue;
        Nm_Profile profile;
        profile.uuid = fields[0];
        profile.type = fields[1];
        profile.name = fields[2];
        profile.file = fields[3];
        profiles.push_back(profile);
    }
    return profiles;
}

Nm_Choice get_Network_Manager_Choice(const std::vector<Nm_Profile>& profiles, const std::string& active_uuid,
                                     const Interface_Facts& facts)
{
    Nm_Choice choice;
    std::vector<const Nm_Profile*> bound;
    auto active = std::find_if(profiles.begin(), profiles.end(), [&](const Nm_Profile& p) {
        return !active_uuid.empty() && p.uuid == active_uuid;
    });
    if (active != profiles.end()) {
        bound.push_back(&*active);
        choice.active = true;
    } else {
        for (const Nm_Profile& profile : profiles)
            if (get_Bound_To(profile, facts))
                bound.push_back(&profile);
    }
    if (bound.empty())
        return choice;
    if (bound.size() > 1) {
        std::string list;
        for (const Nm_Profile* p : bound)
            list += (list.empty() ? "\"" : ", \"") + p->name + "\" (" + p->uuid + ")";
        choice.refusal = "several NetworkManager profiles can take " + facts.name + " and none is active (" +
                         list + "): activate the one to keep";
        return choice;
    }
    choice.change_refusal = get_Boot_Refusal(profiles, *bound.front(), facts);
    choice.uuid = bound.front()->uuid;
    choice.name = bound.front()->name;
    choice.file = bound.front()->file;
    choice.netplan = choice.file.compare(0, strlen(netplan_profile_prefix), netplan_profile_prefix) == 0;
    return choice;
}

Nm_Choice get_Network_Manager_Profile(const Interface_Facts& facts)
{
    // A listing NetworkManager did not finish would make a profile look absent.
    bool timed_out = false;
    bool any_timed_out = false;
    auto probe = [&](const std::string& command, std::string* answer) {
        get_Probe_Output(command.c_str(), answer, probe_timeout_seconds, &timed_out);
        any_timed_out = any_timed_out || timed_out;
    };
    std::string answer;
    probe("nmcli -t -f GENERAL.CON-UUID device show " + get_Shell_Word(facts.name), &answer);
    std::string active_uuid = get_Nmcli_Field(answer, "GENERAL.CON-UUID");
    std::string listing;
    probe("nmcli -t -f UUID,TYPE,NAME,FILENAME con show", &listing);
    std::vector<Nm_Profile> profiles = get_Nmcli_Profiles(listing);
    for (Nm_Profile& profile : profiles) {
        if (profile.type != wired_type)
            continue;
        std::string binding;
        probe("nmcli -t -f connection.interface-name,802-3-ethernet.mac-address,connection.autoconnect,"
              "connection.autoconnect-priority con show uuid " +
                  profile.uuid,
              &binding);
        set_Nmcli_Binding(binding, &profile);
    }
    if (any_timed_out) {
        Nm_Choice unknown;
        unknown.refusal =
            "NetworkManager did not answer nmcli in time: " + facts.name + "'s profile is not known";
        return unknown;
    }
    return get_Network_Manager_Choice(profiles, active_uuid, facts);
}

std::string get_Nmcli_Master(const std::string& answer)
{
    std::string master = get_Nmcli_Field(answer, "connection.master");
    if (master.empty())
        return "";
    std::string kind = get_Nmcli_Field(answer, "connection.slave-type");
    return (kind.empty() ? "master" : kind) + " " + master;
}

std::string get_Network_Manager_Master(const std::string& uuid)
{
    std::string answer;
    get_Probe_Output(
        ("nmcli -t -f connection.master,connection.slave-type con show uuid " + get_Shell_Word(uuid)).c_str(),
        &answer, probe_timeout_seconds);
    return get_Nmcli_Master(answer);
}
