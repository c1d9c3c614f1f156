// netplan's row of the back-end table: what a change is planned from, its
// edit of the file that holds the definition, netplan's own verdict on it,
// "netplan apply", and a bare host's default file.
#include <stdint.h>
#include <sys/stat.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "change_plan.h"
#include "file_replace.h"
#include "log.h"
#include "network_backend.h"
#include "network_netplan.h"

// An "addresses" entry counts as IPv4 when it starts with a dotted quad.
const std::regex netplan_ipv4_pattern(R"((((25[0-5]|(2[0-4]|1\d|[1-9]|)\d)\.?\b){4})/?.*)",
                                      std::regex::ECMAScript);

namespace {

const char* const __log_tag = "Network";
const mode_t netplan_file_mode = 0600;

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

// A definition the daemon may not edit is refused as soon as a value is staged.
std::string get_netplan_Refusal(const Interface_Owner& owner)
{
    return owner.netplan.refusal;
}

} // namespace

const Manager_Backend netplan_backend = {
    Manager_Type::NETPLAN,
    get_netplan_Found,
    get_netplan_Found_Alone,
    get_netplan_Owner_Service,
    get_netplan_Config,
    get_netplan_Refusal,
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
