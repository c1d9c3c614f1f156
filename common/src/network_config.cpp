// The outside face of the network model: select the interface, read one
// setting from its manager, stage or write one, and apply.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "change_executor.h"
#include "change_steps.h"
#include "change_plan.h"
#include "extra_command_handling.h"
#include "file_replace.h"
#include "log.h"
#include "network.h"
#include "network_backend.h"
#include "settings_trial.h"

namespace {

const char* const __log_tag = "Network";
const size_t value_buffer_length = 128;
const uint8_t max_config_type = static_cast<uint8_t>(Network::CONFIG_TYPE::DNS2);

const char* const config_type_name[] = {"MODE", "IP_ADDRESS", "GATEWAY", "SUBNETMASK", "DNS1", "DNS2"};

// Why a value is refused when it is staged ("" when it is not). It must be
// plain before it reaches a stanza file, netplan or nmcli (a line break in a
// stanza value would add lines that run as root), and an address must be one
// a host can use; an empty or 0.0.0.0 gateway or DNS server means none.
std::string get_Value_Refusal(Network::CONFIG_TYPE type, const std::string& value)
{
    const char* const not_plain = "not a plain IPv4 value";
    switch (type) {
    case Network::CONFIG_TYPE::MODE:
        return "";
    case Network::CONFIG_TYPE::IP_ADDRESS:
        return get_IPv4_Address_Valid(value) ? get_Unicast_Refusal(value) : not_plain;
    case Network::CONFIG_TYPE::SUBNETMASK:
        return get_Subnetmask_Valid(value) ? "" : not_plain;
    case Network::CONFIG_TYPE::GATEWAY:
    case Network::CONFIG_TYPE::DNS1:
    case Network::CONFIG_TYPE::DNS2:
        if (value.empty() || value == "0.0.0.0")
            return "";
        return get_IPv4_Address_Valid(value) ? get_Unicast_Refusal(value) : not_plain;
    }
    return not_plain;
}

// One setting into a record; MODE takes `dhcp`, the others `text`.
void set_Record_Setting(Network::Config* record, Network::CONFIG_TYPE type, const std::string& text,
                        bool dhcp)
{
    switch (type) {
    case Network::CONFIG_TYPE::MODE:
        record->ip4_dhcp = dhcp;
        break;
    case Network::CONFIG_TYPE::IP_ADDRESS:
        record->ip4_address = text;
        break;
    case Network::CONFIG_TYPE::GATEWAY:
        record->ip4_gateway = text;
        break;
    case Network::CONFIG_TYPE::SUBNETMASK:
        record->ip4_subnetmask = text;
        break;
    case Network::CONFIG_TYPE::DNS1:
        record->dns1 = text;
        break;
    case Network::CONFIG_TYPE::DNS2:
        record->dns2 = text;
        break;
    }
}

// One setting of a record as text (MODE needs none).
std::string get_Record_Text(const Network::Config& record, uint8_t type)
{
    switch (static_cast<Network::CONFIG_TYPE>(type)) {
    case Network::CONFIG_TYPE::IP_ADDRESS:
        return record.ip4_address;
    case Network::CONFIG_TYPE::GATEWAY:
        return record.ip4_gateway;
    case Network::CONFIG_TYPE::SUBNETMASK:
        return record.ip4_subnetmask;
    case Network::CONFIG_TYPE::DNS1:
        return record.dns1;
    case Network::CONFIG_TYPE::DNS2:
        return record.dns2;
    case Network::CONFIG_TYPE::MODE:
        break;
    }
    return "";
}

} // namespace

void Network::set_Interface_Name(const char* name)
{
    set_Interface_Chosen(name, true);
}

void Network::set_Interface_Selected(const char* name)
{
    set_Interface_Chosen(name, false);
}

void Network::set_Interface_Chosen(const char* name, bool owner_files)
{
    std::string requested = name != nullptr ? name : "";
    // The name becomes part of file paths and command lines.
    if (!requested.empty() && !get_Interface_Name_Valid(requested)) {
        LOG_ERROR_AS("set_Interface_Name", "refused interface name: not a valid interface name");
        return;
    }
    config.target_interface = requested;
    // A lookup kept for another interface is none of this one's.
    kept_owner.reset();
    // One lookup for all six settings: each asks the managers' tools again.
    Owner owner;
    if (owner_files && !update_Owner_Files(&owner))
        return;
    if (!owner_files)
        owner = get_Owner();
    LOG_INFO_AS("set_Interface_Name", "Interface: %s, Manager Type: %s", config.target_interface.c_str(),
                MANAGER_TYPE_STRING[static_cast<uint8_t>(owner.manager)]);
    selected_manager = owner.manager;
    // A port has no settings of its own to load: they are its master's.
    if (!owner.master.empty()) {
        LOG_INFO_AS("set_Interface_Name", "%s: its settings are not managed here",
                    get_Log_Text(get_Port_Refusal(config.target_interface, owner.master)).c_str());
        return;
    }
    // A refused profile or stanza is named once, not once per setting.
    if (!owner.error.empty() && !get_Manager_Backend(owner.manager).reads_own_errors) {
        LOG_ERROR_AS("set_Interface_Name", "%s", get_Log_Text(owner.error).c_str());
        return;
    }
    staged_types.clear();
    config = get_Loaded_Record(owner, config);
    // The values come from the manager's files and tools.
    LOG_DEBUG_AS("set_Interface_Name", "DHCP: %d, IP: %s, Subnetmask: %s, Gateway: %s, DNS1: %s, DNS2: %s",
                 config.ip4_dhcp ? 1 : 0, get_Log_Text(config.ip4_address).c_str(),
                 get_Log_Text(config.ip4_subnetmask).c_str(), get_Log_Text(config.ip4_gateway).c_str(),
                 get_Log_Text(config.dns1).c_str(), get_Log_Text(config.dns2).c_str());
}

void Network::set_Staged_Setting(CONFIG_TYPE type, const std::string& text, bool dhcp)
{
    set_Record_Setting(&config, type, text, dhcp);
    if (std::find(staged_types.begin(), staged_types.end(), type) == staged_types.end())
        staged_types.push_back(type);
}

Network::Config Network::get_Loaded_Record(const Owner& owner, const Config& before)
{
    Config record = before;
    for (uint8_t t = 0; t <= max_config_type; ++t) {
        CONFIG_TYPE type = static_cast<CONFIG_TYPE>(t);
        char buffer[value_buffer_length];
        memset(buffer, 0, sizeof(buffer));
        if (get_Config(type, owner, buffer, sizeof(buffer)) != 0)
            continue;
        // The buffer may be full without a terminator.
        set_Record_Setting(&record, type, std::string(buffer, strnlen(buffer, sizeof(buffer))),
                           buffer[0] == 0);
    }
    return record;
}

uint8_t Network::get_Config(CONFIG_TYPE type, char* buffer, unsigned int buffer_length)
{
    if (static_cast<uint8_t>(type) > max_config_type || buffer == nullptr || buffer_length == 0)
        return 1;
    return get_Config(type, get_Owner(), buffer, buffer_length);
}

uint8_t Network::get_Config(CONFIG_TYPE type, const Owner& owner, char* buffer, unsigned int buffer_length)
{
    // A port holds no address of its own: its master's are not its settings.
    if (!owner.master.empty())
        return 1;
    return get_Manager_Backend(owner.manager).read(type, owner, buffer, buffer_length);
}

uint8_t Network::set_Config(CONFIG_TYPE type, const char* str)
{
    if (static_cast<uint8_t>(type) > max_config_type || str == nullptr)
        return 1;
    std::string refusal = get_Value_Refusal(type, str);
    if (!refusal.empty()) {
        LOG_ERROR("refused %s: %s", config_type_name[static_cast<uint8_t>(type)],
                  get_Log_Text(refusal).c_str());
        return 1;
    }
    if (!get_Interface_Exist()) {
        LOG_ERROR("refused %s: %s does not exist", config_type_name[static_cast<uint8_t>(type)],
                  get_Log_Text(config.target_interface).c_str());
        return 1;
    }
    // Staging writes nothing, whoever owns eth0: the apply writes what was staged, and what the owner
    // needs first (a bare host's default file).
    Owner owner = get_Owner();
    // What the daemon does not edit is refused at once, not at the apply.
    const Manager_Backend& row = get_Manager_Backend(owner.manager);
    std::string refused = !owner.master.empty() ? get_Port_Refusal(config.target_interface, owner.master)
                          : !owner.error.empty() && !row.reads_own_errors ? owner.error
                          : row.refusal != nullptr                        ? row.refusal(owner)
                                                                          : "";
    if (!refused.empty()) {
        LOG_ERROR("refused %s: %s", config_type_name[static_cast<uint8_t>(type)],
                  get_Log_Text(refused).c_str());
        return 1;
    }
    set_Staged_Setting(type, str, str[0] == 0);
    return 0;
}

std::string Network::get_Change_Refusal()
{
    Owner owner = get_Owner();
    const Manager_Backend& row = get_Manager_Backend(owner.manager);
    return row.refusal != nullptr ? row.refusal(owner) : "";
}

bool Network::set_Config_Apply()
{
    bool started = false;
    bool applied = set_Change_Applied(&started);
    // A change that was refused before its first step keeps what was staged; after one that ran, the next
    // value starts a new change.
    if (started)
        staged_types.clear();
    return applied;
}

bool Network::get_Plan_Input(const Owner& owner, const std::vector<Plan_Step>& steps, Plan_Input* input)
{
    input->target.manager = owner.manager;
    input->target.interface_name = config.target_interface;
    input->owner_steps = steps;
    input->settings = config;
    input->master = owner.master;
    input->staged = staged_types;
    const Manager_Backend& row = get_Manager_Backend(owner.manager);
    return row.input == nullptr || row.input(owner, input);
}

bool Network::get_Apply_Plan(Change_Plan* plan, bool* default_first, std::string* plan_refusal)
{
    // A lookup kept from before an earlier change was finished is stale.
    if (!get_Earlier_Line().empty())
        kept_owner.reset();
    Owner owner;
    std::vector<Plan_Step> owner_steps;
    bool own_change = false;
    if (!get_Change_Owner(&owner, &owner_steps, &own_change))
        return false;
    if (own_change) {
        *default_first = true;
        return false;
    }
    const Manager_Backend& row = get_Manager_Backend(owner.manager);
    if (!owner.error.empty() && !row.reads_own_errors) {
        LOG_ERROR_AS("set_Config_Apply", "refused to apply: %s", get_Log_Text(owner.error).c_str());
        return false;
    }
    // Only what this change gave is written: the rest is what the host holds now, so a change made
    // meanwhile by another writer is kept. A file that cannot be read is the edit's to report, once.
    if (row.merged != nullptr && row.merged(owner)) {
        Config staged = config;
        config = get_Loaded_Record(owner, config);
        for (CONFIG_TYPE type : staged_types)
            set_Record_Setting(&config, type, get_Record_Text(staged, static_cast<uint8_t>(type)),
                               staged.ip4_dhcp);
    }
    Plan_Input input;
    if (!get_Plan_Input(owner, owner_steps, &input))
        return false;
    *plan = get_Change_Plan(input);
    *plan_refusal = plan->refusal;
    return !plan->refusal.empty() || row.accepted == nullptr || row.accepted(*plan, owner);
}

bool Network::set_Change_Applied(bool* started)
{
    if (!get_Interface_Exist()) {
        LOG_ERROR_AS("set_Config_Apply", "refused to apply: %s does not exist",
                     get_Log_Text(config.target_interface).c_str());
        return false;
    }
    // What an apply writes comes from a lookup of its own, never from one a tool kept for its reads; one
    // made under this command's hold of the settings lock is as fresh: no writer could change the host since.
    bool kept = owner_kept;
    if (!(kept && kept_owner != nullptr && kept_under_hold && get_Settings_Hold()))
        set_Owner_Kept(false);
    // After the apply the kept lookup is stale either way.
    struct Kept_Again {
        bool kept;
        ~Kept_Again() { Network::set_Owner_Kept(kept); }
    } again{kept};
    bool default_first = false;
    std::string plan_refusal;
    auto make_plan = [&default_first, &plan_refusal](Change_Plan* plan) {
        return get_Apply_Plan(plan, &default_first, &plan_refusal);
    };
    std::string refusal;
    Change_Result result = set_Change_Run(make_plan, &refusal);
    // A profile is changed by the UUID NetworkManager gives it when it loads the file: a bare host's
    // default keyfile is a change of its own, made first, and the apply is planned again after it.
    if (default_first) {
        if (!init_Network_Manager_Config())
            return false;
        kept_owner.reset();
        default_first = false;
        result = set_Change_Run(make_plan, &refusal);
    }
    *started = result != Change_Result::REFUSED;
    if (result == Change_Result::KEPT)
        return true;
    if (!plan_refusal.empty())
        LOG_ERROR_AS("set_Config_Apply", "%s", get_Log_Text(plan_refusal).c_str());
    else if (!refusal.empty())
        LOG_ERROR_AS("set_Config_Apply", "refused to apply: %s", get_Log_Text(refusal).c_str());
    return false;
}
