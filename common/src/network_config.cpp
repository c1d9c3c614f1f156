// The outside face of the network model: select the interface, read one
// setting from its manager, stage or write one, and apply.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "change_plan.h"
#include "extra_command_handling.h"
#include "file_replace.h"
#include "log.h"
#include "network.h"
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

// Runs one command of an apply; a failure is the one ERROR line of the apply.
bool get_Apply_Done(const std::string& command, std::string* failure)
{
    // A trial's commands end in time: a rollback must not wait on a hung tool.
    if (set_Change_Command(command.c_str(), failure, get_Trial_Open() ? change_command_timeout_seconds : 0))
        return true;
    LOG_ERROR_AS("set_Config_Apply", "the apply did not take effect: %s", failure->c_str());
    return false;
}

} // namespace

void Network::set_Interface_Name(const char* name)
{
    std::string requested = name != nullptr ? name : "";
    // The name becomes part of file paths and command lines.
    if (!requested.empty() && !get_Interface_Name_Valid(requested)) {
        LOG_ERROR("refused interface name: not a valid interface name");
        return;
    }
    config.target_interface = requested;
    // One lookup for all six settings: each asks the managers' tools again.
    Owner owner;
    if (!update_Owner_Files(&owner))
        return;
    LOG_INFO("Interface: %s, Manager Type: %s", config.target_interface.c_str(),
             MANAGER_TYPE_STRING[static_cast<uint8_t>(owner.manager)]);
    selected_manager = owner.manager;
    // A refused profile or stanza is named once, not once per setting.
    if (!owner.error.empty() && owner.manager != MANAGER_TYPE::NETPLAN) {
        LOG_ERROR("%s", get_Log_Text(owner.error).c_str());
        return;
    }
    staged_mask = 0;
    config = get_Loaded_Record(owner, config);
    // The values come from the manager's files and tools.
    LOG_DEBUG("DHCP: %d, IP: %s, Subnetmask: %s, Gateway: %s, DNS1: %s, DNS2: %s", config.ip4_dhcp ? 1 : 0,
              get_Log_Text(config.ip4_address).c_str(), get_Log_Text(config.ip4_subnetmask).c_str(),
              get_Log_Text(config.ip4_gateway).c_str(), get_Log_Text(config.dns1).c_str(),
              get_Log_Text(config.dns2).c_str());
}

void Network::set_Staged_Setting(CONFIG_TYPE type, const std::string& text, bool dhcp)
{
    set_Record_Setting(&config, type, text, dhcp);
    staged_mask = static_cast<uint8_t>(staged_mask | (1u << static_cast<uint8_t>(type)));
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
    switch (owner.manager) {
    case MANAGER_TYPE::NETPLAN:
        return get_netplan_Config(type, owner, buffer, buffer_length);
    case MANAGER_TYPE::IFUPDOWN:
        if (!owner.error.empty()) {
            LOG_ERROR_AS("get_Config", "%s", get_Log_Text(owner.error).c_str());
            return 1;
        }
        return get_ifupdown_Config(type, owner.file.c_str(), buffer, buffer_length);
    case MANAGER_TYPE::NETWORK_MANAGER:
        return get_Network_Manager_Config(type, owner, buffer, buffer_length);
    case MANAGER_TYPE::UNKNOWN:
        if (!owner.error.empty())
            LOG_ERROR_AS("get_Config", "%s", get_Log_Text(owner.error).c_str());
        break;
    }
    return 1;
}

uint8_t Network::set_Config(CONFIG_TYPE type, const char* str)
{
    if (static_cast<uint8_t>(type) > max_config_type || str == nullptr)
        return 1;
    std::string refusal = get_Value_Refusal(type, str);
    if (!refusal.empty()) {
        LOG_ERROR("refused %s: %s", config_type_name[static_cast<uint8_t>(type)],
                  get_Log_Text(refusal).c_str());
        // A refused value ends the change: what it wrote to the stanza is put back.
        set_Stanza_Restored();
        return 1;
    }
    if (!get_Interface_Exist()) {
        LOG_ERROR("refused %s: %s does not exist", config_type_name[static_cast<uint8_t>(type)],
                  get_Log_Text(config.target_interface).c_str());
        return 1;
    }
    Owner owner;
    if (!update_Owner_Files(&owner))
        return 1;
    if (!owner.error.empty() && owner.manager != MANAGER_TYPE::NETPLAN) {
        LOG_ERROR("refused %s: %s", config_type_name[static_cast<uint8_t>(type)],
                  get_Log_Text(owner.error).c_str());
        return 1;
    }
    switch (owner.manager) {
    case MANAGER_TYPE::IFUPDOWN: {
        // The stanza is written at once: the change's trial opens before its first write.
        std::string refusal;
        if (!set_Trial_Begin(get_Trial_Plan(owner), &refusal)) {
            LOG_ERROR("refused %s: %s", config_type_name[static_cast<uint8_t>(type)],
                      get_Log_Text(refusal).c_str());
            return 1;
        }
        Settings_Lock lock;
        uint8_t result = set_ifupdown_Config(type, owner.file.c_str(), str);
        set_Trial_Written();
        return result;
    }
    case MANAGER_TYPE::NETPLAN:
    case MANAGER_TYPE::NETWORK_MANAGER:
        set_Staged_Setting(type, str, str[0] == 0);
        return 0;
    case MANAGER_TYPE::UNKNOWN:
        break;
    }
    return 1;
}

Trial_Record Network::get_Trial_Plan(const Owner& owner)
{
    Trial_Record plan;
    plan.manager = owner.manager;
    plan.interface_name = config.target_interface;
    if (owner.manager == MANAGER_TYPE::NETWORK_MANAGER) {
        plan.profile_uuid = owner.entry;
        plan.profile_active = owner.active;
    }
    // A profile held in memory has no file: the record names it by its UUID alone.
    if (!owner.file.empty() && owner.file[0] == '/') {
        Trial_File file;
        file.path = owner.file;
        plan.files.push_back(file);
    }
    return plan;
}

bool Network::set_Config_Apply()
{
    bool applied = get_Config_Applied();
    // The next value starts a new change.
    staged_mask = 0;
    return applied;
}

bool Network::get_Config_Applied()
{
    if (!get_Interface_Exist()) {
        LOG_ERROR_AS("set_Config_Apply", "refused to apply: %s does not exist",
                     get_Log_Text(config.target_interface).c_str());
        return false;
    }
    Owner owner;
    if (!update_Owner_Files(&owner))
        return false;
    MANAGER_TYPE manager = owner.manager;
    if (!owner.error.empty() && manager != MANAGER_TYPE::NETPLAN) {
        LOG_ERROR_AS("set_Config_Apply", "refused to apply: %s", get_Log_Text(owner.error).c_str());
        return false;
    }
    std::string refusal;
    if (!set_Trial_Begin(get_Trial_Plan(owner), &refusal)) {
        LOG_ERROR_AS("set_Config_Apply", "refused to apply: %s", get_Log_Text(refusal).c_str());
        return false;
    }
    // The lock is let go before the trial's window: a rollback takes it again.
    std::unique_ptr<Settings_Lock> lock(new Settings_Lock());
    // Only what this change gave is written: the rest is what the host holds now,
    // read under the lock, so a change made meanwhile by another writer is kept.
    // A netplan file that cannot be read is the edit's to report, once.
    bool readable =
        manager == MANAGER_TYPE::NETWORK_MANAGER ||
        (manager == MANAGER_TYPE::NETPLAN && owner.error.empty() && get_netplan_Entry_Readable(owner));
    if (readable) {
        Config staged = config;
        config = get_Loaded_Record(owner, config);
        for (uint8_t t = 0; t <= max_config_type; ++t)
            if ((staged_mask & (1u << t)) != 0)
                set_Record_Setting(&config, static_cast<CONFIG_TYPE>(t), get_Record_Text(staged, t),
                                   staged.ip4_dhcp);
    }
    // A static record that names no usable address, or one that would cut the
    // host off, is refused: nothing is written and nothing applied.
    Config record = config;
    if (manager == MANAGER_TYPE::IFUPDOWN)
        record = get_ifupdown_Record(owner.file);
    if (manager != MANAGER_TYPE::UNKNOWN && !record.ip4_dhcp) {
        std::string missing =
            get_Static_Record_Missing(record.ip4_address, record.ip4_subnetmask, record.ip4_gateway);
        std::string fault =
            missing.empty()
                ? get_Static_Record_Fault(record.ip4_address, record.ip4_subnetmask, record.ip4_gateway)
                : "";
        if (!missing.empty() || !fault.empty()) {
            if (!missing.empty())
                LOG_ERROR_AS("set_Config_Apply", "refused to apply: static settings need %s",
                             missing.c_str());
            else
                LOG_ERROR_AS("set_Config_Apply", "refused to apply: %s", fault.c_str());
            set_Stanza_Restored();
            return false;
        }
    }
    switch (manager) {
    case MANAGER_TYPE::IFUPDOWN:
        break;
    case MANAGER_TYPE::NETPLAN:
        if (!update_netplan_Config(owner)) {
            set_Trial_Closed(true);
            return false;
        }
        set_Trial_Written();
        break;
    case MANAGER_TYPE::NETWORK_MANAGER: {
        // NetworkManager holds the modified profile in memory at once: the record says so first.
        set_Trial_Applying(record);
        std::string failure;
        bool modified = get_Apply_Done(
            get_Network_Manager_Modify_Command(config, owner.entry, get_Network_Manager_Current(owner)),
            &failure);
        set_Trial_Written();
        if (!modified) {
            lock.reset();
            (void)set_Trial_Ended(false, failure);
            return false;
        }
        break;
    }
    case MANAGER_TYPE::UNKNOWN:
        set_Trial_Closed(false);
        return false;
    }
    Apply_Target target;
    target.manager = manager;
    target.interface_name = config.target_interface;
    target.profile_uuid = owner.entry;
    target.profile_active = owner.active;
    set_Trial_Applying(record);
    std::string failure;
    bool done = true;
    for (const std::string& command : get_Apply_Commands(target))
        done = done && get_Apply_Done(command, &failure);
    lock.reset();
    Trial_End end = set_Trial_Ended(done, failure);
    return done && end != Trial_End::ROLLED_BACK && end != Trial_End::FAILED && end != Trial_End::INCOMPLETE;
}
