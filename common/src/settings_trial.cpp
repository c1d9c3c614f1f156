// This process's settings trial: opened before a change's first step, each
// step marked, and the wait for the change to hold after its apply.
#include "settings_trial.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "change_steps.h"
#include "file_replace.h"
#include "gateway_check.h"
#include "guards.h"
#include "log.h"

namespace {

const char* const __log_tag = "Settings_Trial";
// How long the gateway before the change may take to answer.
const unsigned int old_gateway_probe_ms = 3000;

unsigned int trial_window = 60;
void (*watch_progress)(const std::string&, unsigned int) = nullptr;
bool (*watch_stop)() = nullptr;

std::string get_Open_Refusal(const Trial_Record* record)
{
    if (record == nullptr || !record->applied || record->window_seconds == 0)
        return "another change to eth0 is in progress: try again when it has ended";
    return "a settings trial is open on eth0 and ends in " + std::to_string(get_Seconds_Left(*record)) +
           " s: try again after it (lumerion-netcfg show prints it)";
}

// The files of a plan as they stand; false with `error` at the first that cannot be saved.
bool get_Saved_Files(const std::vector<Trial_File>& planned, std::vector<Trial_File>* saved,
                     std::string* error)
{
    for (const Trial_File& file : planned) {
        if (std::any_of(saved->begin(), saved->end(),
                        [&file](const Trial_File& held) { return held.path == file.path; }))
            continue;
        if (saved->size() >= max_trial_files) {
            *error = "a change may rewrite at most " + std::to_string(max_trial_files) + " files";
            return false;
        }
        Trial_File now;
        if (!get_Saved_File(file.path, &now, error))
            return false;
        saved->push_back(now);
    }
    return true;
}

// The steps of a plan appended to the record's, within the record's bounds.
bool get_Steps_Added(const std::vector<Trial_Mark>& planned, std::vector<Trial_Mark>* marked,
                     std::string* error)
{
    if (marked->size() + planned.size() > max_trial_steps) {
        *error = "a change may take at most " + std::to_string(max_trial_steps) + " steps";
        return false;
    }
    for (const Trial_Mark& step : planned) {
        if (step.action.size() > max_trial_action_bytes || step.action.find('\n') != std::string::npos) {
            *error = "a step of the change is too long to record: nothing is changed";
            return false;
        }
        marked->push_back(step);
    }
    return true;
}

// The one line a change says when it finished an earlier change first.
std::string get_Earlier_Text(const Trial_Record& record, Trial_End end, const std::string& said)
{
    std::string text =
        "an earlier change to " + record.interface_name + " was left unfinished and is finished first: ";
    if (!said.empty())
        return text + said;
    if (end != Trial_End::KEPT)
        return text + "its files could not be put back";
    return text +
           (record.applied ? "it is kept as it was applied" : "it was never applied, its files are put back");
}

} // namespace

void set_Trial_Window(unsigned int seconds)
{
    trial_window = seconds;
}

unsigned int get_Trial_Window()
{
    return trial_window;
}

void set_Trial_Watcher(void (*progress)(const std::string&, unsigned int), bool (*stop)())
{
    watch_progress = progress;
    watch_stop = stop;
}

bool Trial::set_Claimed(std::string* refusal)
{
    // One change at a time in a process too: its trial ends before the next begins.
    if (open || lock.get() >= 0) {
        *refusal =
            "another change to " + record.interface_name + " is in progress: try again when it has ended";
        return false;
    }
    earlier_line.clear();
    std::string error;
    // Until the claim is kept the lock is this call's, and goes with it.
    Descriptor claim = set_Trial_Lock_Taken(&error);
    Trial_Record found;
    std::string damage;
    Record_State state = get_Stored_Record(&found, &damage);
    if (claim.get() < 0) {
        *refusal = !error.empty() ? error : get_Open_Refusal(state == Record_State::OPEN ? &found : nullptr);
        return false;
    }
    if (state == Record_State::DAMAGED || state == Record_State::UNREADABLE) {
        *refusal = state == Record_State::DAMAGED ? get_Damage_Refusal(damage) : damage;
        return false;
    }
    // A crash while the first record was written leaves its temporary file and no record.
    if (state == Record_State::NONE)
        set_Leftovers_Removed(nullptr);
    if (state == Record_State::OPEN) {
        // An applier that is gone left it: it is judged at its deadline, by this process if that has come.
        bool rebased = set_Rebased(&found, get_Boot_Id());
        if (!found.rolling_back && (rebased || (found.applied && get_Boot_Ns() < found.deadline_ns))) {
            *refusal = get_Open_Refusal(&found);
            return false;
        }
        std::string said;
        Trial_End earlier = set_Record_Finished(found, &said);
        earlier_line = get_Earlier_Text(found, earlier, said);
        if (earlier == Trial_End::FAILED || earlier == Trial_End::INCOMPLETE) {
            // The host may be off its old settings: this process says so as a failed rollback.
            end = earlier;
            line = said;
            *refusal = "the earlier trial could not be rolled back: " + said;
            return false;
        }
    }
    lock = std::move(claim);
    return true;
}

void Trial::set_Claim_Released()
{
    if (!open)
        set_Lock_Released();
}

bool Trial::set_Begin(const Trial_Record& opened, std::string* refusal)
{
    if (open || lock.get() < 0) {
        *refusal = "no claim on the trial lock is held for this change";
        return false;
    }
    if (opened.keyfiles_before.size() > max_trial_keyfiles) {
        *refusal = get_Log_Text(opened.keyfile_directory) + " holds more than " +
                   std::to_string(max_trial_keyfiles) +
                   " files: a change could not tell the keyfile it writes";
        return false;
    }
    Trial_Record opening = opened;
    opening.files.clear();
    opening.steps.clear();
    if (!get_Saved_Files(opened.files, &opening.files, refusal) ||
        !get_Steps_Added(opened.steps, &opening.steps, refusal))
        return false;
    std::vector<Interface_Address> addresses = get_Interface_Addresses(opened.interface_name);
    opening.old_address = addresses.empty() ? "" : addresses.front().cidr;
    opening.old_gateway = get_Live_Default_Gateway(opened.interface_name);
    opening.old_gateway_answer = Gateway_Answer::SILENT;
    // Without a window nothing is judged: the gateway before the change need not be asked.
    std::string why;
    if (!opening.old_gateway.empty() && opening.window_seconds > 0)
        opening.old_gateway_answer =
            get_Gateway_Answer(opened.interface_name, opening.old_gateway, "", old_gateway_probe_ms, &why);
    opening.applied = false;
    opening.boot_id = get_Boot_Id();
    opening.deadline_ns = get_Boot_Ns() + static_cast<long long>(opening.window_seconds) * ns_per_second;
    // Nothing is written before the first step's mark, which is synced with this text in it: until then
    // a record lost in a power cut lost nothing.
    if (!set_Stored_Record(opening, refusal, false))
        return false;
    record = opening;
    open = true;
    line.clear();
    end = Trial_End::NONE;
    return true;
}

bool Trial::set_Step_Started(size_t index, const std::string& path, const std::string& hash,
                             std::string* error)
{
    if (!open || index >= record.steps.size()) {
        *error = "no step " + std::to_string(index) + " in the open trial";
        return false;
    }
    for (size_t i = 0; i < index; ++i)
        record.steps[i].state = Trial_Mark::STATE::DONE;
    record.steps[index].state = Trial_Mark::STATE::STARTED;
    for (Trial_File& file : record.files)
        if (!path.empty() && file.path == path)
            file.written_hash = hash;
    return set_Stored_Record(record, error);
}

void Trial::set_Written(const std::vector<std::string>& paths)
{
    if (!open)
        return;
    for (Trial_File& file : record.files) {
        if (std::find(paths.begin(), paths.end(), file.path) == paths.end())
            continue;
        Trial_File now;
        std::string unread;
        file.written_hash =
            get_Saved_File(file.path, &now, &unread) ? get_Content_Hash(now.existed, now.bytes) : "";
    }
}

void Trial::set_Applying(const Network_Config& staged)
{
    if (!open)
        return;
    record.applied = true;
    record.new_dhcp = staged.ip4_dhcp;
    record.new_address = staged.ip4_dhcp ? "" : staged.ip4_address;
    record.new_gateway = staged.ip4_dhcp || staged.ip4_gateway == "0.0.0.0" ? "" : staged.ip4_gateway;
    record.deadline_ns = get_Boot_Ns() + static_cast<long long>(record.window_seconds) * ns_per_second;
}

// The applier's wait for the change to hold, a look at least every second until the window ends.
Trial_End Trial::set_Window_Watched()
{
    // The window restarts after the apply: a slow apply does not eat into it. Every step has run.
    record.deadline_ns = get_Boot_Ns() + static_cast<long long>(record.window_seconds) * ns_per_second;
    for (Trial_Mark& step : record.steps)
        step.state = Trial_Mark::STATE::DONE;
    std::string error;
    if (!set_Stored_Record(record, &error))
        LOG_ERROR_AS("set_Config_Apply", "%s", error.c_str());
    Trial_Step step;
    auto end_Wait = [] {
        if (watch_progress != nullptr)
            watch_progress("", 0);
    };
    for (;;) {
        // Ctrl-C, or the daemon's stop, ends the wait before the next look: nothing new starts after it.
        if ((watch_stop != nullptr && watch_stop()) || get_Changes_Stopped()) {
            end_Wait();
            return Trial_End::LEFT;
        }
        unsigned int left = get_Seconds_Left(record);
        long long left_ns = record.deadline_ns - get_Boot_Ns();
        unsigned int probe_ms = static_cast<unsigned int>(std::max(0LL, std::min(1000LL, left_ns / 1000000)));
        bool holds = get_Change_Holds(record, probe_ms, &step, &line);
        if (holds || left_ns <= 0) {
            end_Wait();
            return holds ? Trial_End::KEPT : set_Window_Ended(record, step, &line);
        }
        if (watch_progress != nullptr)
            watch_progress(step.waiting_for, left);
        if (step.kind == Trial_Step::KIND::WAIT)
            (void)poll(nullptr, 0, static_cast<int>(std::min(250LL, std::max(1LL, left_ns / 1000000))));
    }
}

Trial_End Trial::set_Ended(bool apply_done, const std::string& apply_failure, bool undo_failure)
{
    if (!open)
        return Trial_End::NONE;
    Trial_End ended = Trial_End::KEPT;
    // Without a window a change stands as applied, whatever the apply said, unless its caller undoes a
    // failure.
    if (record.window_seconds == 0 && (apply_done || !undo_failure))
        ended = Trial_End::KEPT;
    else if (!apply_done)
        ended = set_Rolled_Back(record, "the apply failed (" + apply_failure + ")", &line);
    else
        ended = set_Window_Watched();
    if (!get_Record_Stays(ended))
        set_Stored_Record_Removed();
    set_Lock_Released();
    end = ended;
    return ended;
}

void Trial::set_Closed(bool restore)
{
    if (!open)
        return;
    std::string error;
    std::string left;
    if (restore && !set_Files_Restored(record, &left, &error)) {
        LOG_ERROR("%s: the trial record stays at %s", error.c_str(), trial_record_path);
    } else {
        set_Stored_Record_Removed();
    }
    set_Lock_Released();
}

void Trial::set_Left()
{
    if (!open)
        return;
    line = record.interface_name + "'s change stops here, as the daemon stops; its next start finishes it";
    LOG_ERROR_AS("set_Config_Apply", "%s", line.c_str());
    set_Lock_Released();
    end = Trial_End::LEFT;
}

void Trial::set_Lock_Released()
{
    lock.reset(-1);
    open = false;
}
