// The one executor of settings changes: a plan's steps run in order, each
// marked in the trial record before it runs; an undo runs the plan the record
// gives back.
#include "change_executor.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <system_error>

#include "change_steps.h"
#include "file_replace.h"
#include "log.h"

namespace {

// A change's lines are the network model's; an undo's are the trial's.
const char* const __log_tag = "Network";

// The trial of the change this process runs.
Trial change_trial;

// The record a plan's trial opens with: its files as they stand, its steps pending.
Trial_Record get_Plan_Record(const Change_Plan& plan)
{
    Trial_Record record;
    record.manager = plan.target.manager;
    record.interface_name = plan.target.interface_name;
    record.profile_uuid = plan.target.profile_uuid;
    record.profile_active = plan.target.profile_active;
    record.window_seconds = plan.checked ? get_Trial_Window() : 0;
    auto add_File = [&record](const std::string& path) {
        for (const Trial_File& held : record.files)
            if (held.path == path)
                return;
        Trial_File file;
        file.path = path;
        record.files.push_back(file);
    };
    for (const Plan_Step& step : plan.steps) {
        if (step.kind == Plan_Step::KIND::WRITE || step.kind == Plan_Step::KIND::REMOVE)
            add_File(step.path);
        Trial_Mark mark;
        mark.action = get_Step_Action(step);
        record.steps.push_back(mark);
    }
    for (const std::string& path : plan.watched_files)
        add_File(path);
    record.keyfile_directory = plan.keyfile_directory;
    record.keyfiles_before = plan.keyfiles_before;
    return record;
}

// The plan's steps, each marked in the record first: how many ran, with `failure` when that is not all.
// `applied` is set once a command may have run.
size_t set_Steps_Run(const Change_Plan& plan, bool* applied, std::string* failure)
{
    for (size_t i = 0; i < plan.steps.size(); ++i) {
        const Plan_Step& step = plan.steps[i];
        // From the first command on the manager may hold the change: the record says so first.
        if (step.kind == Plan_Step::KIND::RUN && !*applied) {
            change_trial.set_Applying(plan.expected);
            *applied = true;
        }
        std::string hash = step.kind == Plan_Step::KIND::WRITE    ? get_Content_Hash(true, step.bytes)
                           : step.kind == Plan_Step::KIND::REMOVE ? get_Content_Hash(false, "")
                                                                  : "";
        // After the daemon's stop no step starts: the record says how far the change went.
        if (get_Changes_Stopped()) {
            *failure = "the daemon stops";
            return i;
        }
        Trial_File now;
        if (step.kind != Plan_Step::KIND::RUN && !step.guard_hash.empty() &&
            get_Held_Hash(step.path, &now) != step.guard_hash) {
            *failure =
                get_Log_Text(step.path) + " was changed while this change was made: it is left as it is";
            LOG_ERROR_AS(plan.origin.c_str(), "%s", failure->c_str());
            return i;
        }
        if (!change_trial.set_Step_Started(i, step.kind == Plan_Step::KIND::RUN ? "" : step.path, hash,
                                           failure)) {
            LOG_ERROR_AS(plan.origin.c_str(), "%s: nothing more is done", failure->c_str());
            return i;
        }
        if (!set_Step_Done(step, failure)) {
            LOG_ERROR_AS(plan.origin.c_str(), "%s%s",
                         step.kind == Plan_Step::KIND::RUN ? "the apply did not take effect: " : "",
                         failure->c_str());
            return i;
        }
        if (step.kind == Plan_Step::KIND::RUN)
            change_trial.set_Written(plan.watched_files);
    }
    return plan.steps.size();
}

} // namespace

Change_Result set_Change_Run(const Plan_Maker& make_plan, std::string* refusal)
{
    refusal->clear();
    // 1. One writer at a time, from the claim to the last step; a command may hold the lock already. A
    // writer that holds it now is met as one whose change is in progress, not waited for.
    struct Hold_End {
        ~Hold_End() { set_Settings_Hold_Ended(); }
    } hold_end;
    if (!get_Settings_Hold() && !set_Settings_Hold_Taken()) {
        *refusal = "another change to eth0 is in progress: try again when it has ended";
        return Change_Result::REFUSED;
    }
    // 2. An earlier change's record is finished, or refuses this one, before anything is read for it.
    if (!change_trial.set_Claimed(refusal))
        return Change_Result::REFUSED;
    // 3, 4. The host as it is now, and the plan made from it.
    Change_Plan plan;
    if (!make_plan(&plan) || !plan.refusal.empty()) {
        *refusal = plan.refusal;
        change_trial.set_Claim_Released();
        return Change_Result::REFUSED;
    }
    if (plan.steps.empty()) {
        change_trial.set_Claim_Released();
        return Change_Result::KEPT;
    }
    if (!change_trial.set_Begin(get_Plan_Record(plan), refusal)) {
        change_trial.set_Claim_Released();
        return Change_Result::REFUSED;
    }
    // 5. Each step marked in the record, then run.
    bool applied = false;
    std::string failure;
    size_t ran = set_Steps_Run(plan, &applied, &failure);
    // The window is waited for without the lock: a rollback takes it again.
    set_Settings_Hold_Ended();
    bool done = ran == plan.steps.size();
    if (!done && get_Changes_Stopped()) {
        change_trial.set_Left();
        return Change_Result::NOT_KEPT;
    }
    if (!done && !applied) {
        // Nothing live was changed: the files are put back without an apply.
        change_trial.set_Closed(true);
        return Change_Result::NOT_KEPT;
    }
    // 6, 7. Judged in the window, then kept or undone. A step that failed before every file was written
    // leaves a change half made: it is undone even without a window (eth0 is brought up again on its
    // files as they were).
    bool half_made = std::any_of(plan.steps.begin() + static_cast<std::ptrdiff_t>(ran), plan.steps.end(),
                                 [](const Plan_Step& step) { return step.kind != Plan_Step::KIND::RUN; });
    Trial_End end = change_trial.set_Ended(done, failure, !plan.checked || half_made);
    bool kept =
        done && end != Trial_End::ROLLED_BACK && end != Trial_End::FAILED && end != Trial_End::INCOMPLETE;
    return kept ? Change_Result::KEPT : Change_Result::NOT_KEPT;
}

Trial_End get_Trial_End()
{
    return change_trial.get_End();
}

std::string get_Trial_Line()
{
    return change_trial.get_Line();
}

std::string get_Earlier_Line()
{
    return change_trial.get_Earlier_Line();
}
