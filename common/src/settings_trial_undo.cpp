// Undoing and finishing a settings trial from its record alone: the saved
// files put back, the manager's commands run again, one look at eth0 that
// keeps or rolls back a change whose applier is gone.
#include "settings_trial.h"

#include <errno.h>
#include <poll.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

#include "change_steps.h"
#include "extra_command_handling.h"
#include "file_replace.h"
#include "gateway_check.h"
#include "log.h"
#include "network_backend.h"
#include "monotonic_clock.h"

namespace {

const char* const __log_tag = "Settings_Trial";
// How long the old address, and the old gateway after a rollback, may take to come back.
const unsigned int rollback_probe_ms = 10000;
// One look by whoever finishes an expired trial.
const unsigned int finish_probe_ms = 1000;

// The line of an undo that stops for the daemon's stop; its record says so and stays.
Trial_End set_Undo_Left(const std::string& reason, std::string* said)
{
    *said = reason + ": the rollback stops here, as the daemon stops; its next start finishes it";
    LOG_ERROR("%s", said->c_str());
    return Trial_End::LEFT;
}

} // namespace

// Every saved file as it stood, without the manager's commands; false with `error` at the first that
// cannot be put back.
bool set_Files_Restored(const Trial_Record& record, std::string* left, std::string* error)
{
    Trial_Record unapplied = record;
    unapplied.applied = false;
    std::string failure;
    switch (set_Undo_Run(get_Undo_Plan(unapplied), left, error, &failure)) {
    case Undo_Result::DONE:
        return true;
    case Undo_Result::FILE_FAILED:
        return false;
    case Undo_Result::STOPPED:
        break;
    }
    *error = "the daemon stops before the files are put back";
    return false;
}

namespace {

// Whether the interface holds its address from before the change again, waiting a while for the manager.
bool get_Old_Address_Back(const Trial_Record& record)
{
    if (record.old_address.empty())
        return true;
    long deadline = get_Monotonic_Ms() + rollback_probe_ms;
    for (;;) {
        std::vector<Interface_Address> held = get_Interface_Addresses(record.interface_name);
        if (std::any_of(held.begin(), held.end(), [&record](const Interface_Address& address) {
                return address.cidr == record.old_address;
            }))
            return true;
        if (get_Monotonic_Ms() >= deadline)
            return false;
        (void)poll(nullptr, 0, 100);
    }
}

} // namespace

// Puts the files back, applies them and checks the old address and gateway; one ERROR line says what
// happened.
Trial_End set_Rolled_Back(const Trial_Record& record, const std::string& reason, std::string* said)
{
    std::string failure;
    std::string left;
    {
        Settings_Lock lock;
        std::string error;
        // From here on the record says so: an undo cut short is finished, never judged as a live change.
        if (!record.rolling_back) {
            Trial_Record undoing = record;
            undoing.rolling_back = true;
            if (!set_Stored_Record(undoing, &error))
                LOG_ERROR("%s", error.c_str());
        }
        switch (set_Undo_Run(get_Undo_Plan(record), &left, &error, &failure)) {
        case Undo_Result::DONE:
            break;
        case Undo_Result::STOPPED:
            return set_Undo_Left(reason, said);
        case Undo_Result::FILE_FAILED:
            *said = reason + ": the rollback failed: " + error + "; the trial record stays at " +
                    trial_record_path;
            LOG_ERROR("%s", said->c_str());
            return Trial_End::FAILED;
        }
    }
    std::string line = reason + ": " + record.interface_name + " rolled back to " + get_Target_Text(record);
    if (!left.empty())
        line += " (but for " + left + ", which was changed since and is left as it is)";
    Trial_End end = Trial_End::ROLLED_BACK;
    std::string why;
    if (!failure.empty()) {
        line += "; but " + failure;
        end = Trial_End::INCOMPLETE;
    } else if (!get_Old_Address_Back(record)) {
        line += "; but " + record.interface_name + " does not hold " + record.old_address + " yet";
        end = Trial_End::INCOMPLETE;
    } else if (!record.old_gateway.empty()) {
        switch (get_Gateway_Answer(record.interface_name, record.old_gateway, "", rollback_probe_ms, &why)) {
        case Gateway_Answer::ANSWERED:
            break;
        case Gateway_Answer::SILENT:
            line += "; the old gateway " + record.old_gateway + " does not answer yet";
            break;
        case Gateway_Answer::UNCHECKED:
            line += "; the old gateway " + record.old_gateway + " could not be checked (" + why + ")";
            break;
        }
    }
    *said = line;
    LOG_ERROR("%s", line.c_str());
    return end;
}

// The end of a window that did not see the change hold.
Trial_End set_Window_Ended(const Trial_Record& record, const Trial_Step& step, std::string* said)
{
    if (!step.kept.empty()) {
        *said = step.kept;
        LOG_INFO("%s", said->c_str());
        return Trial_End::KEPT;
    }
    std::string reason = step.failure + " within " + std::to_string(record.window_seconds) + " s";
    // Only a gateway that was there and silent shows the old settings did not work either;
    // settings without one (an address on the link), or whose gateway could not be checked,
    // are put back like any other.
    if (!record.old_gateway.empty() && record.old_gateway_answer == Gateway_Answer::SILENT) {
        *said = reason + "; the change is kept: the gateway before it did not answer either";
        LOG_INFO("%s", said->c_str());
        return Trial_End::KEPT;
    }
    return set_Rolled_Back(record, reason, said);
}

// One look at the interface, probing the gateway for at most `probe_ms`; true when the change holds,
// with why in `said` and one INFO line.
bool get_Change_Holds(const Trial_Record& record, unsigned int probe_ms, Trial_Step* step, std::string* said)
{
    *step = get_Trial_Step(record, get_Interface_Addresses(record.interface_name),
                           get_Live_Default_Gateway(record.interface_name));
    const std::string held =
        record.interface_name + " holds " + (record.new_dhcp ? "the lease " : "") + step->source;
    const std::string gateway = (record.new_dhcp ? "its router " : "gateway ") + step->gateway;
    std::string why;
    switch (step->kind) {
    case Trial_Step::KIND::WAIT:
        return false;
    case Trial_Step::KIND::KEEP:
        *said = held + " and has no gateway to check: the change is kept";
        break;
    case Trial_Step::KIND::PROBE:
        switch (get_Gateway_Answer(record.interface_name, step->gateway, step->source, probe_ms, &why)) {
        case Gateway_Answer::SILENT:
            return false;
        case Gateway_Answer::ANSWERED:
            *said = held + " and " + gateway + " answers: the change is kept";
            break;
        case Gateway_Answer::UNCHECKED:
            *said = held + "; " + gateway + " could not be checked (" + why +
                    "), so the address alone decides: the change is kept";
            break;
        }
        break;
    }
    LOG_INFO("%s", said->c_str());
    return true;
}

// The trial of a record whose applier is gone: one look, then keep or roll back.
Trial_End set_Left_Trial_Finished(const Trial_Record& record, std::string* said)
{
    if (record.rolling_back)
        return set_Rolled_Back(record, "a rollback of " + record.interface_name + " was cut short", said);
    if (!record.applied) {
        std::string error;
        std::string left;
        Settings_Lock lock;
        if (!set_Files_Restored(record, &left, &error)) {
            LOG_ERROR_AS("update_Trial_Watch", "a change to %s that was never applied was left: %s",
                         record.interface_name.c_str(), error.c_str());
            return Trial_End::FAILED;
        }
        LOG_INFO("a change to %s that was never applied was left: its files are put back",
                 record.interface_name.c_str());
        return Trial_End::KEPT;
    }
    // A change made without a window is kept as it was applied.
    if (record.window_seconds == 0)
        return Trial_End::KEPT;
    Trial_Step step;
    if (get_Change_Holds(record, finish_probe_ms, &step, said))
        return Trial_End::KEPT;
    return set_Window_Ended(record, step, said);
}

// Whether a trial that ended so leaves its record: a wait given up, or files that could not be put back.
bool get_Record_Stays(Trial_End end)
{
    return end == Trial_End::LEFT || end == Trial_End::FAILED;
}

// Finishes a record found with its lock free; the record goes unless its files could not be put back.
Trial_End set_Record_Finished(const Trial_Record& record, std::string* said)
{
    // What a crash left half written beside the record's files goes first: it may hold their old bytes.
    set_Leftovers_Removed(&record);
    Trial_End end = set_Left_Trial_Finished(record, said);
    if (!get_Record_Stays(end))
        set_Stored_Record_Removed();
    return end;
}

// A record from an earlier boot gets one full window from now, so that the link and DHCP can come up.
bool set_Rebased(Trial_Record* record, const std::string& boot_id)
{
    if (record->boot_id == boot_id)
        return false;
    record->boot_id = boot_id;
    // The boot brought up whatever the files held.
    record->applied = true;
    record->deadline_ns = get_Boot_Ns() + static_cast<long long>(record->window_seconds) * ns_per_second;
    std::string error;
    if (!set_Stored_Record(*record, &error))
        LOG_ERROR_AS("update_Trial_Watch", "%s", error.c_str());
    LOG_INFO("a settings trial on %s from an earlier boot is judged in %u s", record->interface_name.c_str(),
             record->window_seconds);
    return true;
}
