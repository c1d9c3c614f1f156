// What a settings change does on the host, as pure functions: each manager's
// commands, an apply's plan, a bare host's default, and the undo a trial
// record gives back.
#include "change_plan.h"

#include "network.h"

#include <algorithm>
#include <sstream>

#include "extra_command_handling.h"
#include "network_parse.h"

namespace {

// NetworkManager reads its keyfile directories again: a new default becomes a profile, a removed one goes.
const char* const keyfile_reload_command = "nmcli con reload";

Plan_Step get_Run_Step(const std::string& command)
{
    Plan_Step step;
    step.kind = Plan_Step::KIND::RUN;
    step.command = command;
    return step;
}

void append_Commands(std::vector<Plan_Step>* steps, const std::vector<std::string>& commands)
{
    for (const std::string& command : commands)
        steps->push_back(get_Run_Step(command));
}

// Why a static record may not be written ("" when it may, or for DHCP).
std::string get_Record_Refusal(const Network::Config& record)
{
    if (record.ip4_dhcp)
        return "";
    std::string missing =
        get_Static_Record_Missing(record.ip4_address, record.ip4_subnetmask, record.ip4_gateway);
    if (!missing.empty())
        return "refused to apply: static settings need " + missing;
    std::string fault =
        get_Static_Record_Fault(record.ip4_address, record.ip4_subnetmask, record.ip4_gateway);
    return fault.empty() ? "" : "refused to apply: " + fault;
}

} // namespace

std::vector<std::string> get_Down_Commands(const Apply_Target& target)
{
    // Through systemd, as Debian's networking service runs ifdown: a DHCP client is never this process's
    // child.
    if (target.manager == Network::MANAGER_TYPE::IFUPDOWN)
        return {"systemctl stop networking.service"};
    return {};
}

std::vector<std::string> get_Apply_Commands(const Apply_Target& target)
{
    std::vector<std::string> commands;
    const std::string interface_word = get_Shell_Word(target.interface_name);
    switch (target.manager) {
    case Network::MANAGER_TYPE::IFUPDOWN:
        commands.push_back("systemctl start networking.service");
        break;
    case Network::MANAGER_TYPE::NETPLAN:
        commands.push_back("netplan apply");
        break;
    case Network::MANAGER_TYPE::NETWORK_MANAGER:
        // Reapply only takes the active profile; an inactive one is brought up on the interface.
        commands.push_back(target.profile_active
                               ? "nmcli device reapply " + interface_word
                               : "nmcli con up uuid " + get_Shell_Word(target.profile_uuid) + " ifname " +
                                     interface_word);
        break;
    case Network::MANAGER_TYPE::SYSTEMD_NETWORKD:
    case Network::MANAGER_TYPE::UNKNOWN:
        break;
    }
    return commands;
}

std::string get_Step_Action(const Plan_Step& step)
{
    switch (step.kind) {
    case Plan_Step::KIND::WRITE:
        return "write " + step.path;
    case Plan_Step::KIND::REMOVE:
        return "remove " + step.path;
    case Plan_Step::KIND::PRUNE:
        return "prune " + step.path;
    case Plan_Step::KIND::RUN:
        break;
    }
    return "run " + step.command;
}

namespace {

// The stanza with the staged settings written into it, and what it then holds; false with `reason`.
bool get_Stanza_Edit(const Plan_Input& input, std::string* text, Network::Config* holds, std::string* reason)
{
    using Type = Network::CONFIG_TYPE;
    const std::string& name = input.target.interface_name;
    const Network::Config& given = input.settings;
    *text = input.file_text;
    bool dns_written = false;
    // In the order they were given, as the stanza's keys were written when values went in at once.
    for (Type type : input.staged) {
        std::string edited;
        // DNS1 and DNS2 are written together, once: each alone would move the other's place.
        if (type == Type::DNS1 || type == Type::DNS2) {
            if (dns_written)
                continue;
            dns_written = true;
            bool both = std::count(input.staged.begin(), input.staged.end(), Type::DNS1) != 0 &&
                        std::count(input.staged.begin(), input.staged.end(), Type::DNS2) != 0;
            if (!get_ifupdown_DNS_Text(
                    *text, name,
                    both || type == Type::DNS1 ? given.dns1 : get_ifupdown_Setting(*text, name, Type::DNS1),
                    both || type == Type::DNS2 ? given.dns2 : get_ifupdown_Setting(*text, name, Type::DNS2),
                    &edited, reason))
                return false;
            *text = edited;
            continue;
        }
        const std::string values[] = {std::string(1, given.ip4_dhcp ? '\0' : '\1'),
                                      given.ip4_address,
                                      given.ip4_gateway,
                                      given.ip4_subnetmask,
                                      given.dns1,
                                      given.dns2};
        if (!get_ifupdown_Update_Text(*text, name, type, values[static_cast<uint8_t>(type)], &edited, reason))
            return false;
        *text = edited;
    }
    *holds = given;
    holds->ip4_dhcp = get_ifupdown_Setting(*text, name, Type::MODE) == "0";
    holds->ip4_address = get_ifupdown_Setting(*text, name, Type::IP_ADDRESS);
    holds->ip4_subnetmask = get_ifupdown_Setting(*text, name, Type::SUBNETMASK);
    holds->ip4_gateway = get_ifupdown_Setting(*text, name, Type::GATEWAY);
    holds->dns1 = get_ifupdown_Setting(*text, name, Type::DNS1);
    holds->dns2 = get_ifupdown_Setting(*text, name, Type::DNS2);
    return true;
}

// The settings this change gives that the definition's passthrough block sets for NetworkManager over
// netplan's keys, named as show names them ("" for none).
std::string get_Passthrough_Overrides(const Plan_Input& input)
{
    static const char* const names[] = {"mode", "address", "gateway", "netmask", "dns1", "dns2"};
    std::string overridden;
    for (Network::CONFIG_TYPE type : input.staged) {
        std::string value;
        if (get_netplan_Passthrough_Setting(input.file_text, input.netplan_entry, type, &value))
            overridden += (overridden.empty() ? "" : ", ") + std::string(names[static_cast<uint8_t>(type)]);
    }
    return overridden;
}

// Whether the edit changes the servers the stanza gives.
bool get_Server_Change(const std::string& before, const std::string& after, const std::string& name)
{
    using Type = Network::CONFIG_TYPE;
    return get_ifupdown_Setting(before, name, Type::DNS1) != get_ifupdown_Setting(after, name, Type::DNS1) ||
           get_ifupdown_Setting(before, name, Type::DNS2) != get_ifupdown_Setting(after, name, Type::DNS2);
}

} // namespace

std::string get_Port_Refusal(const std::string& interface_name, const std::string& master)
{
    std::string name = master.substr(master.find(' ') + 1);
    return interface_name + " is a port of " + master + ": its addresses are " + name + "'s; change " + name +
           "'s settings instead, or take " + interface_name + " out of " + name + " first";
}

std::string get_Networkd_Refusal(const std::string& interface_name, const std::string& file)
{
    return interface_name + " is managed by systemd-networkd through " + file +
           ", whose settings are read only here: to hand " + interface_name +
           " over, move them into a netplan file under /etc/netplan and remove " + file;
}

Change_Plan get_Change_Plan(const Plan_Input& input)
{
    Change_Plan plan;
    plan.target = input.target;
    plan.expected = input.settings;
    std::vector<Plan_Step> edits;
    std::string reason;
    std::string text;
    switch (input.target.manager) {
    case Network::MANAGER_TYPE::NETPLAN: {
        // The entry is netplan's definition, whose key may differ from the interface's name.
        Network::Config entry = input.settings;
        entry.target_interface = input.netplan_entry;
        std::string overridden = get_Passthrough_Overrides(input);
        if (!overridden.empty())
            plan.refusal = "refused to apply: the networkmanager.passthrough block of " + input.file +
                           " sets " + overridden +
                           " over netplan's keys, so NetworkManager would not take the change: change the "
                           "profile with nmcli instead";
        else if (!get_netplan_Update_Text(input.file_text, entry, &text, &reason))
            plan.refusal = "Config File Load Error: " + reason;
        else
            edits.push_back(get_File_Step(input.file, input.file_text, text, 0600));
        break;
    }
    case Network::MANAGER_TYPE::IFUPDOWN:
        if (!get_Stanza_Edit(input, &text, &plan.expected, &reason))
            plan.refusal = "refused to apply: " + input.file + " left as it was: " + reason;
        else if (!input.dns_void.empty() &&
                 get_Server_Change(input.file_text, text, input.target.interface_name))
            plan.refusal = "refused to apply: " + input.dns_void + "; leave DNS1 and DNS2 as they are";
        else if (text != input.file_text)
            // The stanza file exists when ifupdown owns eth0: it keeps its own mode.
            edits.push_back(get_File_Step(input.file, input.file_text, text, 0644));
        break;
    case Network::MANAGER_TYPE::NETWORK_MANAGER:
        // A profile held in memory has no file: the record names it by its UUID alone.
        if (!input.profile_file.empty() && input.profile_file[0] == '/')
            plan.watched_files.push_back(input.profile_file);
        plan.keyfile_directory = input.keyfile_directory;
        plan.keyfiles_before = input.keyfiles_before;
        // NetworkManager holds the modified profile in memory at once: the modify is the first command.
        edits.push_back(get_Run_Step(get_Network_Manager_Modify_Command(
            input.settings, input.target.profile_uuid, input.profile_current)));
        break;
    case Network::MANAGER_TYPE::SYSTEMD_NETWORKD:
        plan.refusal = "refused to apply: " + get_Networkd_Refusal(input.target.interface_name, input.file);
        break;
    case Network::MANAGER_TYPE::UNKNOWN:
        plan.refusal = "refused to apply: no manager owns " + input.target.interface_name;
        break;
    }
    if (!input.master.empty())
        plan.refusal = "refused to apply: " + get_Port_Refusal(input.target.interface_name, input.master);
    plan.expected.target_interface = input.target.interface_name;
    // A static record that names no usable address, or one that would cut the host off, is refused first.
    std::string unusable = get_Record_Refusal(plan.expected);
    if (!unusable.empty())
        plan.refusal = unusable;
    if (!plan.refusal.empty()) {
        plan.watched_files.clear();
        plan.keyfiles_before.clear();
        return plan;
    }
    plan.steps = input.owner_steps;
    append_Commands(&plan.steps, get_Down_Commands(input.target));
    plan.steps.insert(plan.steps.end(), edits.begin(), edits.end());
    append_Commands(&plan.steps, get_Apply_Commands(input.target));
    return plan;
}

std::vector<Plan_Step> get_Default_Steps(Network::MANAGER_TYPE manager, const std::string& path,
                                         const std::string& text)
{
    std::vector<Plan_Step> steps;
    Plan_Step write;
    write.kind = Plan_Step::KIND::WRITE;
    write.path = path;
    write.bytes = text;
    // netplan warns about a file others can read; a keyfile may hold secrets.
    write.mode = 0600;
    steps.push_back(write);
    if (manager == Network::MANAGER_TYPE::NETWORK_MANAGER)
        steps.push_back(get_Run_Step(keyfile_reload_command));
    return steps;
}

std::vector<Plan_Step> get_Leftover_Steps(const std::string& path)
{
    Plan_Step remove;
    remove.kind = Plan_Step::KIND::REMOVE;
    remove.path = path;
    return {remove};
}

Change_Plan get_Owner_Files_Plan(Network::MANAGER_TYPE manager, const std::string& interface_name,
                                 const std::vector<Plan_Step>& steps, const std::string& origin)
{
    Change_Plan plan;
    plan.target.manager = manager;
    plan.target.interface_name = interface_name;
    plan.steps = steps;
    plan.checked = false;
    plan.origin = origin;
    // A default leaves the interface to DHCP.
    plan.expected.target_interface = interface_name;
    plan.expected.ip4_dhcp = true;
    return plan;
}

Plan_Step get_File_Step(const std::string& path, const std::string& before, const std::string& after,
                        unsigned int mode)
{
    Plan_Step step;
    step.kind = Plan_Step::KIND::WRITE;
    step.path = path;
    step.bytes = after;
    step.mode = mode;
    step.guard_hash = get_Content_Hash(true, before);
    return step;
}

Change_Plan get_Undo_Plan(const Trial_Record& record)
{
    Change_Plan plan;
    plan.target.manager = record.manager;
    plan.target.interface_name = record.interface_name;
    plan.target.profile_uuid = record.profile_uuid;
    plan.target.profile_active = record.profile_active;
    plan.checked = false;
    std::vector<Plan_Step> files;
    for (const Trial_File& file : record.files) {
        Plan_Step step;
        step.kind = file.existed ? Plan_Step::KIND::WRITE : Plan_Step::KIND::REMOVE;
        step.path = file.path;
        step.bytes = file.bytes;
        step.mode = file.mode;
        step.restore = true;
        step.existed = file.existed;
        step.uid = file.uid;
        step.gid = file.gid;
        step.guard_hash = file.written_hash;
        files.push_back(step);
    }
    // Until the manager may hold the change, putting the files back is the whole undo.
    if (!record.applied) {
        plan.steps = files;
        return plan;
    }
    bool keyfiles = record.manager == Network::MANAGER_TYPE::NETWORK_MANAGER;
    // eth0 goes down by the files the change left, before the old ones are back.
    append_Commands(&plan.steps, get_Down_Commands(plan.target));
    plan.steps.insert(plan.steps.end(), files.begin(), files.end());
    if (keyfiles && !record.keyfile_directory.empty() && !record.profile_uuid.empty()) {
        Plan_Step prune;
        prune.kind = Plan_Step::KIND::PRUNE;
        prune.path = record.keyfile_directory;
        prune.names = record.keyfiles_before;
        prune.uuid = record.profile_uuid;
        plan.steps.push_back(prune);
    }
    // NetworkManager reads its files again; a default keyfile of a bare host names no profile to apply.
    if (keyfiles)
        plan.steps.push_back(get_Run_Step(keyfile_reload_command));
    if (!keyfiles || !record.profile_uuid.empty())
        append_Commands(&plan.steps, get_Apply_Commands(plan.target));
    return plan;
}

std::string get_Keyfile_Uuid(const std::string& text)
{
    std::istringstream in(text);
    std::string section;
    for (std::string line; std::getline(in, line);) {
        line.erase(0, line.find_first_not_of(" \t"));
        line.erase(line.find_last_not_of(" \t\r") + 1);
        if (!line.empty() && line[0] == '[')
            section = line;
        else if (section == "[connection]" && line.compare(0, 5, "uuid=") == 0)
            return line.substr(5);
    }
    return "";
}
