// ifupdown's row of the back-end table: the stanza that owns the interface
// (or the bridge or bond that holds it as a port), one setting read from it,
// the change's edit of the stanza, and networking.service's commands.
#include <algorithm>
#include <string>
#include <vector>

#include "file_replace.h"
#include "log.h"
#include "network_backend.h"
#include "network_ifupdown.h"
#include "text_copy.h"

namespace {

const char* const __log_tag = "Network";

bool get_ifupdown_Found(Owner_Lookup* lookup, std::vector<Interface_Owner>* found)
{
    const std::string& name = lookup->facts.name;
    Ifupdown_Files read = get_ifupdown_Files("", name);
    // A port needs no stanza of its own: a bridge's "bridge_ports" line is ifupdown's hold on it. Files
    // not all read may hold one: the interface is not taken for unmanaged, and nothing is changed.
    if (read.stanzas.empty() && read.master.empty() && read.cut_off.empty())
        return true;
    Interface_Owner owner = lookup->base;
    owner.manager = Manager_Type::IFUPDOWN;
    owner.file = !read.stanzas.empty()  ? read.stanzas.front()
                 : !read.master.empty() ? read.master_file
                 : !read.files.empty()  ? read.files.front()
                                        : "/etc/network/interfaces";
    owner.master = read.master;
    if (!read.cut_off.empty())
        owner.error = read.cut_off + ": nothing is changed";
    else if (read.stanzas.size() > 1)
        owner.error = "ifupdown reads several \"iface " + name + " inet\" stanzas (in " +
                      get_Log_List(read.stanzas) + "): keep one of them";
    found->push_back(owner);
    return true;
}

std::string get_ifupdown_Service(const Interface_Owner&)
{
    return "networking";
}

uint8_t get_ifupdown_Config(Config_Type type, const Interface_Owner& owner, char* buffer,
                            unsigned int buffer_length)
{
    std::string content;
    if (!get_Owner_File_Read(owner, &content))
        return 1;
    std::string value = get_ifupdown_Setting(content, owner.interface_name, type);
    if (type == Config_Type::MODE)
        buffer[0] = value == "0" ? 0 : 1;
    else
        set_Fixed_Length_Copy(buffer, buffer_length, value);
    return 0;
}

bool get_ifupdown_Plan_Input(const Interface_Owner& owner, Plan_Input* input)
{
    std::string reason;
    if (!get_File_Content(owner.file, &input->file_text, &reason)) {
        LOG_ERROR_AS("set_Config_Apply", "cannot read %s: %s", owner.file.c_str(), reason.c_str());
        return false;
    }
    input->file = owner.file;
    input->dns_void = get_ifupdown_DNS_Void("");
    return true;
}

// The stanza with the staged settings written into it, and what it then holds; false with `reason`.
bool get_Stanza_Edit(const Plan_Input& input, std::string* text, Network_Config* holds, std::string* reason)
{
    using Type = Config_Type;
    const std::string& name = input.target.interface_name;
    const Network_Config& given = input.settings;
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

// Whether the edit changes the servers the stanza gives.
bool get_Server_Change(const std::string& before, const std::string& after, const std::string& name)
{
    using Type = Config_Type;
    return get_ifupdown_Setting(before, name, Type::DNS1) != get_ifupdown_Setting(after, name, Type::DNS1) ||
           get_ifupdown_Setting(before, name, Type::DNS2) != get_ifupdown_Setting(after, name, Type::DNS2);
}

void get_ifupdown_Plan(const Plan_Input& input, Change_Plan* plan, std::vector<Plan_Step>* edits)
{
    std::string text;
    std::string reason;
    if (!get_Stanza_Edit(input, &text, &plan->expected, &reason))
        plan->refusal = "refused to apply: " + input.file + " left as it was: " + reason;
    else if (!input.dns_void.empty() && get_Server_Change(input.file_text, text, input.target.interface_name))
        plan->refusal = "refused to apply: " + input.dns_void + "; leave DNS1 and DNS2 as they are";
    else if (text != input.file_text)
        // The stanza file exists when ifupdown owns eth0: it keeps its own mode.
        edits->push_back(get_File_Step(input.file, input.file_text, text, 0644));
}

// Through systemd, as Debian's networking service runs ifdown: a DHCP client is never this process's
// child. eth0 goes down by the stanza it was brought up with (ifupdown keeps no copy of it).
std::vector<std::string> get_ifupdown_Down(const Apply_Target&)
{
    return {"systemctl stop networking.service"};
}

std::vector<std::string> get_ifupdown_Apply(const Apply_Target&)
{
    return {"systemctl start networking.service"};
}

} // namespace

const Manager_Backend ifupdown_backend = {
    Manager_Type::IFUPDOWN,
    get_ifupdown_Found,
    nullptr,
    get_ifupdown_Service,
    get_ifupdown_Config,
    nullptr,
    nullptr,
    get_ifupdown_Plan_Input,
    get_ifupdown_Plan,
    nullptr,
    get_ifupdown_Down,
    get_ifupdown_Apply,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    "",
    false,
};
