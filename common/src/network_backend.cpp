// The back-end table: one row per manager, and what runs over the rows or
// calls the owner's row: an apply's plan, the undo from a record, a bare
// host's default steps.
#include "network_backend.h"

#include "file_replace.h"
#include "log.h"

namespace {

const char* const __log_tag = "Network";

std::vector<std::string> get_No_Commands(const Apply_Target&)
{
    return {};
}

uint8_t get_No_Setting(Config_Type, const Interface_Owner& owner, char*, unsigned int)
{
    if (!owner.error.empty())
        LOG_ERROR_AS("get_Config", "%s", get_Log_Text(owner.error).c_str());
    return 1;
}

void get_No_Plan(const Plan_Input& input, Change_Plan* plan, std::vector<Plan_Step>*)
{
    plan->refusal = "refused to apply: no manager owns " + input.target.interface_name;
}

// No manager owns the interface: nothing is read, and nothing is changed.
const Manager_Backend no_backend = {
    Manager_Type::UNKNOWN,
    nullptr,
    nullptr,
    nullptr,
    get_No_Setting,
    nullptr,
    nullptr,
    nullptr,
    get_No_Plan,
    nullptr,
    get_No_Commands,
    get_No_Commands,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    "",
    false,
};

} // namespace

const std::vector<const Manager_Backend*>& get_Manager_Backends()
{
    // The lookup's order: netplan's files first (NetworkManager's row weighs what netplan renders).
    static const std::vector<const Manager_Backend*> rows = {&netplan_backend, &ifupdown_backend,
                                                             &networkd_backend, &network_manager_backend};
    return rows;
}

const Manager_Backend& get_Manager_Backend(Manager_Type manager)
{
    for (const Manager_Backend* row : get_Manager_Backends())
        if (row->manager == manager)
            return *row;
    return no_backend;
}

Change_Plan get_Change_Plan(const Plan_Input& input)
{
    const Manager_Backend& row = get_Manager_Backend(input.target.manager);
    Change_Plan plan;
    plan.target = input.target;
    plan.expected = input.settings;
    std::vector<Plan_Step> edits;
    row.plan(input, &plan, &edits);
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
    set_Run_Steps_Added(&plan.steps, row.down(input.target));
    plan.steps.insert(plan.steps.end(), edits.begin(), edits.end());
    set_Run_Steps_Added(&plan.steps, row.apply(input.target));
    return plan;
}

Change_Plan get_Undo_Plan(const Trial_Record& record)
{
    const Manager_Backend& row = get_Manager_Backend(record.manager);
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
    // eth0 goes down by the files the change left, before the old ones are back.
    set_Run_Steps_Added(&plan.steps, row.down(plan.target));
    plan.steps.insert(plan.steps.end(), files.begin(), files.end());
    if (row.undo == nullptr || row.undo(record, &plan))
        set_Run_Steps_Added(&plan.steps, row.apply(plan.target));
    return plan;
}

std::vector<Plan_Step> get_Default_Steps(Manager_Type manager, const std::string& path,
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
    const char* reload = get_Manager_Backend(manager).reload;
    if (reload != nullptr && reload[0] != 0)
        steps.push_back(get_Run_Step(reload));
    return steps;
}

bool get_Owner_File_Read(const Interface_Owner& owner, std::string* text)
{
    if (!owner.error.empty()) {
        LOG_ERROR_AS("get_Config", "%s", get_Log_Text(owner.error).c_str());
        return false;
    }
    std::string why;
    if (!get_File_Content(owner.file, text, &why)) {
        LOG_ERROR_AS("get_Config", "cannot read %s: %s", owner.file.c_str(), why.c_str());
        return false;
    }
    return true;
}
