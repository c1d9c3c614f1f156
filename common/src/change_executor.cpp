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

#include "extra_command_handling.h"
#include "file_replace.h"
#include "log.h"

namespace {

// A change's lines are the network model's; an undo's are the trial's.
const char* const __log_tag = "Network";

// The trial of the change this process runs.
Trial change_trial;
// Set when the daemon stops: no step starts after it.
std::atomic<bool> changes_stopped{false};

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

// Removes the keyfiles NetworkManager wrote for the change: names the directory did not hold before
// that hold the profile's UUID. False with `failure`.
bool set_Keyfiles_Pruned(const Plan_Step& step, std::string* failure)
{
    const char* const __log_tag = "Settings_Trial";
    std::vector<std::string> now;
    if (!get_Directory_Names(step.path, &now, failure))
        return false;
    for (const std::string& name : now) {
        if (std::find(step.names.begin(), step.names.end(), name) != step.names.end())
            continue;
        const std::string path = step.path + "/" + name;
        Trial_File held;
        std::string unread;
        if (!get_Saved_File(path, &held, &unread) || !held.existed ||
            get_Keyfile_Uuid(held.bytes) != step.uuid)
            continue;
        if (unlink(path.c_str()) != 0 && errno != ENOENT) {
            *failure = "cannot remove " + get_Log_Text(path) + ": " + strerror(errno);
            return false;
        }
        LOG_INFO("removed %s: NetworkManager wrote it for the change", get_Log_Text(path).c_str());
    }
    return true;
}

// The hash of what a file holds now ("" when it cannot be read).
std::string get_Held_Hash(const std::string& path, Trial_File* now)
{
    std::string unread;
    return get_Saved_File(path, now, &unread) ? get_Content_Hash(now->existed, now->bytes) : "";
}

// One step of a change or of an undo, its guard checked by the caller; false with `failure`.
bool set_Step_Done(const Plan_Step& step, std::string* failure)
{
    int rc = 0;
    switch (step.kind) {
    case Plan_Step::KIND::WRITE:
        rc = step.restore ? set_File_Restore(step.path, step.bytes, step.mode, step.uid, step.gid)
                          : set_File_Replace(step.path, step.bytes, step.mode);
        if (rc != 0)
            *failure = std::string(step.restore ? "cannot restore " : "cannot replace ") +
                       get_Log_Text(step.path) + ": " + strerror(rc);
        return rc == 0;
    case Plan_Step::KIND::REMOVE:
        if (unlink(step.path.c_str()) == 0 || errno == ENOENT)
            return true;
        *failure = "cannot remove " + get_Log_Text(step.path) + ": " + strerror(errno);
        return false;
    case Plan_Step::KIND::PRUNE:
        return set_Keyfiles_Pruned(step, failure);
    case Plan_Step::KIND::RUN:
        break;
    }
    // A change's commands end in time: a rollback must not wait on a hung tool.
    return set_Change_Command(step.command.c_str(), failure, change_command_timeout_seconds);
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
        if (changes_stopped.load()) {
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

// Whether an undo's file already holds what it held before the change.
bool get_Restored_Already(const Plan_Step& step, const Trial_File& now, bool readable)
{
    if (!readable || now.existed != step.existed)
        return false;
    return !step.existed ||
           (now.bytes == step.bytes && now.mode == step.mode && now.uid == step.uid && now.gid == step.gid);
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
    if (!done && changes_stopped.load()) {
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

bool get_Directory_Names(const std::string& directory, std::vector<std::string>* names, std::string* error)
{
    names->clear();
    std::error_code code;
    std::filesystem::directory_iterator entries(directory, code);
    if (code == std::errc::no_such_file_or_directory)
        return true;
    for (; !code && entries != std::filesystem::directory_iterator(); entries.increment(code))
        names->push_back(entries->path().filename().string());
    if (code) {
        *error = "cannot read " + get_Log_Text(directory) + ": " + code.message();
        return false;
    }
    std::sort(names->begin(), names->end());
    return true;
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

void set_Changes_Stopped()
{
    changes_stopped.store(true);
}

bool get_Changes_Stopped()
{
    return changes_stopped.load();
}

Undo_Result set_Undo_Run(const Change_Plan& undo, std::string* left, std::string* error, std::string* failure)
{
    for (const Plan_Step& step : undo.steps) {
        if (changes_stopped.load())
            return Undo_Result::STOPPED;
        if (step.kind == Plan_Step::KIND::RUN) {
            // A failed command does not stop the undo: the old files still go back and eth0 is still brought
            // up.
            std::string failed;
            if (!set_Step_Done(step, &failed) && failure->empty())
                *failure = failed;
            continue;
        }
        if (step.kind == Plan_Step::KIND::PRUNE) {
            if (!set_Step_Done(step, error))
                return Undo_Result::FILE_FAILED;
            continue;
        }
        Trial_File now;
        std::string unread;
        bool readable = get_Saved_File(step.path, &now, &unread);
        // A file the change never got to write needs nothing, even where it could not be written.
        if (get_Restored_Already(step, now, readable))
            continue;
        if (!step.guard_hash.empty() &&
            (!readable || get_Content_Hash(now.existed, now.bytes) != step.guard_hash)) {
            const char* const __log_tag = "Settings_Trial";
            LOG_ERROR("%s was changed since the change wrote it: it is left as it is",
                      get_Log_Text(step.path).c_str());
            *left += (left->empty() ? "" : ", ") + get_Log_Text(step.path);
            continue;
        }
        if (!set_Step_Done(step, error))
            return Undo_Result::FILE_FAILED;
    }
    return Undo_Result::DONE;
}
