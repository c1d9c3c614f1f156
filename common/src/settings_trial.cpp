// The trial around a settings change: the saved record, the check of the
// address and gateway after the apply, the rollback, and the daemon's watch
// that finishes a trial its applier left behind.
#include "settings_trial.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "change_plan.h"
#include "extra_command_handling.h"
#include "file_replace.h"
#include "gateway_check.h"
#include "guards.h"
#include "log.h"
#include "monotonic_clock.h"

namespace {

const char* const __log_tag = "Settings_Trial";
const char* const state_directory = "/var/lib/lumerion-hostd";
const char* const record_path = "/var/lib/lumerion-hostd/trial";
const char* const lock_directory = "/run/lumerion-hostd";
const char* const settings_lock_path = "/run/lumerion-hostd/settings.lock";
const char* const trial_lock_path = "/run/lumerion-hostd/trial.lock";
// How long the gateway before the change, and the old one after a rollback, may take to answer.
const unsigned int old_gateway_probe_ms = 3000;
const unsigned int rollback_probe_ms = 10000;
// One look by whoever finishes an expired trial.
const unsigned int finish_probe_ms = 1000;
const long long ns_per_second = 1000000000LL;

unsigned int trial_window = 60;
void (*watch_progress)(const std::string&, unsigned int) = nullptr;
bool (*watch_stop)() = nullptr;

// This process's own trial.
bool trial_open = false;
int trial_lock_fd = -1;
Trial_Record open_record;
std::string last_line;
Trial_End last_end = Trial_End::NONE;

// The daemon's finisher.
std::thread finisher;
std::atomic<bool> finisher_done{true};
struct stat reported_damage = {};

long long get_Boot_Ns()
{
    struct timespec now;
    clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<long long>(now.tv_sec) * ns_per_second + now.tv_nsec;
}

std::string get_Boot_Id()
{
    std::string text;
    if (!get_Table_Text("/proc/sys/kernel/random/boot_id", 128, &text))
        return "unknown";
    text.erase(text.find_last_not_of(" \n") + 1);
    return text.empty() ? "unknown" : text;
}

unsigned int get_Seconds_Left(const Trial_Record& record)
{
    long long left = record.deadline_ns - get_Boot_Ns();
    return left <= 0 ? 0 : static_cast<unsigned int>((left + ns_per_second - 1) / ns_per_second);
}

std::string get_Target_Text(const Trial_Record& record)
{
    if (record.old_address.empty())
        return "its settings before the change";
    return record.old_address + (record.old_gateway.empty() ? "" : " via " + record.old_gateway);
}

std::string get_Change_Text(const Trial_Record& record)
{
    if (record.new_dhcp)
        return "DHCP";
    return record.new_address + (record.new_gateway.empty() ? "" : " via " + record.new_gateway);
}

// Opens and takes the trial lock without waiting: the descriptor, or -1 when it is held elsewhere.
int get_Trial_Lock(std::string* error)
{
    (void)mkdir(lock_directory, 0755);
    int fd = open(trial_lock_path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = std::string("cannot open ") + trial_lock_path + ": " + strerror(errno);
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        error->clear();
        return -1;
    }
    return fd;
}

// UNREADABLE: this process may not read it (a CLI run without root); it says nothing of the record.
enum class Record_State : uint8_t { NONE, OPEN, DAMAGED, UNREADABLE };

Record_State get_Stored_Record(Trial_Record* record, std::string* error)
{
    struct stat info;
    if (lstat(record_path, &info) != 0) {
        *error = std::string("cannot read ") + record_path + ": " + strerror(errno);
        return errno == ENOENT ? Record_State::NONE : Record_State::UNREADABLE;
    }
    std::string text;
    if (access(record_path, R_OK) != 0) {
        *error = std::string("cannot read ") + record_path + ": " + strerror(errno);
        return Record_State::UNREADABLE;
    }
    if (!get_File_Content(record_path, &text, error, max_trial_text_size))
        return Record_State::DAMAGED;
    return get_Trial_Record(text, record, error) ? Record_State::OPEN : Record_State::DAMAGED;
}

bool set_Stored_Record(const Trial_Record& record, std::string* error)
{
    if (mkdir(state_directory, 0700) != 0 && errno != EEXIST) {
        *error = std::string("cannot create ") + state_directory + ": " + strerror(errno);
        return false;
    }
    // Saved files can hold secrets (a keyfile's keys): only root reads the directory.
    (void)chmod(state_directory, 0700);
    int rc = set_File_Replace(record_path, get_Trial_Text(record), 0600);
    if (rc != 0) {
        *error = std::string("cannot save ") + record_path + ": " + strerror(rc);
        return false;
    }
    return true;
}

void set_Stored_Record_Removed()
{
    if (unlink(record_path) != 0 && errno != ENOENT)
        LOG_ERROR_AS("set_Trial_Closed", "cannot remove %s: %s", record_path, strerror(errno));
}

std::string get_Damage_Refusal(const std::string& error)
{
    return std::string("the settings trial record ") + record_path + " is damaged or of another version (" +
           get_Log_Text(error) +
           "): no change is made until a person checks eth0's settings and removes it (rm " + record_path +
           ")";
}

std::string get_Open_Refusal(const Trial_Record* record)
{
    if (record == nullptr || !record->applied || record->window_seconds == 0)
        return "another change to eth0 is in progress: try again when it has ended";
    return "a settings trial is open on eth0 and ends in " + std::to_string(get_Seconds_Left(*record)) +
           " s: try again after it (lumerion-netcfg show prints it)";
}

// A file as it stands, to be put back byte for byte; false with `error` when it exists but cannot
// be read whole (a FIFO, a link to nothing, a file over the size limit, an I/O error).
bool get_Saved_File(const std::string& path, Trial_File* file, std::string* error)
{
    file->path = path;
    file->existed = false;
    file->bytes.clear();
    struct stat info;
    struct stat link;
    if (stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT && lstat(path.c_str(), &link) != 0)
            return true;
        *error = "cannot read " + get_Log_Text(path) + ": " + strerror(errno) + ": nothing is changed";
        return false;
    }
    std::string why;
    if (!get_File_Content(path, &file->bytes, &why)) {
        *error = "cannot read " + get_Log_Text(path) + ": " + why + ": nothing is changed";
        return false;
    }
    file->existed = true;
    file->mode = info.st_mode & 07777;
    file->uid = info.st_uid;
    file->gid = info.st_gid;
    return true;
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

// Every saved file as it stood; false with `error` at the first that cannot be put back. A file
// that holds neither what it held before nor what the change wrote was written since by someone
// else: it is left as it is, with one ERROR line, and named in `left`.
bool set_Files_Restored(const Trial_Record& record, std::string* left, std::string* error)
{
    for (const Trial_File& file : record.files) {
        Trial_File now;
        std::string unread;
        bool readable = get_Saved_File(file.path, &now, &unread);
        // A file the change never got to write needs nothing, even where it could not be written.
        if (readable && now.existed == file.existed && now.bytes == file.bytes && now.mode == file.mode &&
            now.uid == file.uid && now.gid == file.gid)
            continue;
        if (!file.written_hash.empty() &&
            (!readable || get_Content_Hash(now.existed, now.bytes) != file.written_hash)) {
            LOG_ERROR_AS("set_Trial_Rollback",
                         "%s was changed since the change wrote it: it is left as it is",
                         get_Log_Text(file.path).c_str());
            *left += (left->empty() ? "" : ", ") + get_Log_Text(file.path);
            continue;
        }
        int rc = file.existed ? set_File_Restore(file.path, file.bytes, file.mode, file.uid, file.gid)
                              : (unlink(file.path.c_str()) == 0 || errno == ENOENT ? 0 : errno);
        if (rc != 0) {
            *error = "cannot restore " + get_Log_Text(file.path) + ": " + strerror(rc);
            return false;
        }
    }
    return true;
}

// The commands that make the manager take the restored files.
std::vector<std::string> get_Restore_Commands(const Trial_Record& record)
{
    Apply_Target target;
    target.manager = record.manager;
    target.interface_name = record.interface_name;
    target.profile_uuid = record.profile_uuid;
    target.profile_active = record.profile_active;
    for (const Trial_File& file : record.files)
        if (file.existed)
            target.reloaded_files.push_back(file.path);
    return get_Apply_Commands(target);
}

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

// Puts the files back, applies them and checks the old address and gateway; one ERROR line says what
// happened.
Trial_End set_Rolled_Back(const Trial_Record& record, const std::string& reason)
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
                LOG_ERROR_AS("set_Trial_Rollback", "%s", error.c_str());
        }
        if (!set_Files_Restored(record, &left, &error)) {
            last_line =
                reason + ": the rollback failed: " + error + "; the trial record stays at " + record_path;
            LOG_ERROR_AS("set_Trial_Rollback", "%s", last_line.c_str());
            return Trial_End::FAILED;
        }
        for (const std::string& command : get_Restore_Commands(record))
            if (failure.empty() &&
                !set_Change_Command(command.c_str(), &failure, change_command_timeout_seconds))
                break;
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
    last_line = line;
    LOG_ERROR_AS("set_Trial_Rollback", "%s", line.c_str());
    return end;
}

// The end of a window that did not see the change hold.
Trial_End get_Window_End(const Trial_Record& record, const Trial_Step& step)
{
    if (!step.kept.empty()) {
        last_line = step.kept;
        LOG_INFO("%s", last_line.c_str());
        return Trial_End::KEPT;
    }
    std::string reason = step.failure + " within " + std::to_string(record.window_seconds) + " s";
    // Only a gateway that was there and silent shows the old settings did not work either;
    // settings without one (an address on the link), or whose gateway could not be checked,
    // are put back like any other.
    if (!record.old_gateway.empty() && record.old_gateway_answer == Gateway_Answer::SILENT) {
        last_line = reason + "; the change is kept: the gateway before it did not answer either";
        LOG_INFO("%s", last_line.c_str());
        return Trial_End::KEPT;
    }
    return set_Rolled_Back(record, reason);
}

// One look at the interface, probing the gateway for at most `probe_ms`; true when the change holds,
// with why in `last_line` and one INFO line.
bool get_Change_Holds(const Trial_Record& record, unsigned int probe_ms, Trial_Step* step)
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
        last_line = held + " and has no gateway to check: the change is kept";
        break;
    case Trial_Step::KIND::PROBE:
        switch (get_Gateway_Answer(record.interface_name, step->gateway, step->source, probe_ms, &why)) {
        case Gateway_Answer::SILENT:
            return false;
        case Gateway_Answer::ANSWERED:
            last_line = held + " and " + gateway + " answers: the change is kept";
            break;
        case Gateway_Answer::UNCHECKED:
            last_line = held + "; " + gateway + " could not be checked (" + why +
                        "), so the address alone decides: the change is kept";
            break;
        }
        break;
    }
    LOG_INFO("%s", last_line.c_str());
    return true;
}

// The trial of a record whose applier is gone: one look, then keep or roll back.
Trial_End get_Finished(const Trial_Record& record)
{
    if (record.rolling_back)
        return set_Rolled_Back(record, "a rollback of " + record.interface_name + " was cut short");
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
    if (get_Change_Holds(record, finish_probe_ms, &step))
        return Trial_End::KEPT;
    return get_Window_End(record, step);
}

// Whether a trial that ended so leaves its record: a wait given up, or files that could not be put back.
bool get_Record_Stays(Trial_End end)
{
    return end == Trial_End::LEFT || end == Trial_End::FAILED;
}

// Finishes a record found with its lock free; the record goes unless its files could not be put back.
Trial_End get_Record_Finished(const Trial_Record& record)
{
    Trial_End end = get_Finished(record);
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

// A damaged record is named once: it stays until a person removes it.
void set_Damage_Reported(const struct stat& info, const std::string& error)
{
    if (info.st_ino == reported_damage.st_ino && info.st_mtim.tv_sec == reported_damage.st_mtim.tv_sec &&
        info.st_mtim.tv_nsec == reported_damage.st_mtim.tv_nsec)
        return;
    reported_damage = info;
    LOG_ERROR_AS("update_Trial_Watch", "%s", get_Damage_Refusal(error).c_str());
}

void release_Trial_Lock()
{
    if (trial_lock_fd >= 0)
        close(trial_lock_fd);
    trial_lock_fd = -1;
    trial_open = false;
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

bool get_Trial_Open()
{
    return trial_open;
}

Trial_End get_Trial_End()
{
    return last_end;
}

std::string get_Trial_Line()
{
    return last_line;
}

bool set_Trial_Begin(const Trial_Record& record, std::string* refusal)
{
    if (trial_open) {
        // A later step of the same change may rewrite one more file.
        size_t held = open_record.files.size();
        if (!get_Saved_Files(record.files, &open_record.files, refusal)) {
            open_record.files.resize(held);
            return false;
        }
        return open_record.files.size() == held || set_Stored_Record(open_record, refusal);
    }
    std::string error;
    int fd = get_Trial_Lock(&error);
    Trial_Record found;
    std::string damage;
    Record_State state = get_Stored_Record(&found, &damage);
    if (fd < 0) {
        *refusal = !error.empty() ? error : get_Open_Refusal(state == Record_State::OPEN ? &found : nullptr);
        return false;
    }
    // Until the record is saved the lock is this call's, and goes with it.
    Descriptor claim(fd);
    if (state == Record_State::DAMAGED || state == Record_State::UNREADABLE) {
        *refusal = state == Record_State::DAMAGED ? get_Damage_Refusal(damage) : damage;
        return false;
    }
    std::string boot_id = get_Boot_Id();
    if (state == Record_State::OPEN) {
        // An applier that is gone left it: it is judged at its deadline, by this process if that has come.
        bool rebased = set_Rebased(&found, boot_id);
        if (!found.rolling_back && (rebased || (found.applied && get_Boot_Ns() < found.deadline_ns))) {
            *refusal = get_Open_Refusal(&found);
            return false;
        }
        Trial_End earlier = get_Record_Finished(found);
        if (earlier == Trial_End::FAILED || earlier == Trial_End::INCOMPLETE) {
            // The host may be off its old settings: this process says so as a failed rollback.
            last_end = earlier;
            *refusal = "the earlier trial could not be rolled back: " + last_line;
            return false;
        }
    }
    Trial_Record opening = record;
    opening.files.clear();
    if (!get_Saved_Files(record.files, &opening.files, refusal))
        return false;
    std::vector<Interface_Address> addresses = get_Interface_Addresses(record.interface_name);
    opening.old_address = addresses.empty() ? "" : addresses.front().cidr;
    opening.old_gateway = get_Live_Default_Gateway(record.interface_name);
    opening.old_gateway_answer = Gateway_Answer::SILENT;
    // Without a window nothing is judged: the gateway before the change need not be asked.
    std::string why;
    if (!opening.old_gateway.empty() && trial_window > 0)
        opening.old_gateway_answer =
            get_Gateway_Answer(record.interface_name, opening.old_gateway, "", old_gateway_probe_ms, &why);
    opening.applied = false;
    opening.boot_id = boot_id;
    opening.window_seconds = trial_window;
    opening.deadline_ns = get_Boot_Ns() + static_cast<long long>(trial_window) * ns_per_second;
    if (!set_Stored_Record(opening, refusal))
        return false;
    open_record = opening;
    trial_lock_fd = claim.take();
    trial_open = true;
    last_line.clear();
    last_end = Trial_End::NONE;
    return true;
}

void set_Trial_Written()
{
    if (!trial_open)
        return;
    for (Trial_File& file : open_record.files) {
        Trial_File now;
        std::string unread;
        file.written_hash =
            get_Saved_File(file.path, &now, &unread) ? get_Content_Hash(now.existed, now.bytes) : "";
    }
    std::string error;
    if (!set_Stored_Record(open_record, &error))
        LOG_ERROR_AS("set_Trial_Written", "%s", error.c_str());
}

void set_Trial_Applying(const Network::Config& staged)
{
    if (!trial_open)
        return;
    open_record.applied = true;
    open_record.new_dhcp = staged.ip4_dhcp;
    open_record.new_address = staged.ip4_dhcp ? "" : staged.ip4_address;
    open_record.new_gateway = staged.ip4_dhcp || staged.ip4_gateway == "0.0.0.0" ? "" : staged.ip4_gateway;
    open_record.deadline_ns =
        get_Boot_Ns() + static_cast<long long>(open_record.window_seconds) * ns_per_second;
    std::string error;
    if (!set_Stored_Record(open_record, &error))
        LOG_ERROR_AS("set_Config_Apply", "%s: a killed change is not rolled back", error.c_str());
}

namespace {

// The applier's wait for the change to hold, a look at least every second until the window ends.
Trial_End get_Window_Watched()
{
    // The window restarts after the apply: a slow apply does not eat into it.
    open_record.deadline_ns =
        get_Boot_Ns() + static_cast<long long>(open_record.window_seconds) * ns_per_second;
    std::string error;
    if (!set_Stored_Record(open_record, &error))
        LOG_ERROR_AS("set_Config_Apply", "%s", error.c_str());
    Trial_Step step;
    auto end_Wait = [] {
        if (watch_progress != nullptr)
            watch_progress("", 0);
    };
    for (;;) {
        // Ctrl-C stops the wait before the next look: nothing new starts after it.
        if (watch_stop != nullptr && watch_stop()) {
            end_Wait();
            return Trial_End::LEFT;
        }
        unsigned int left = get_Seconds_Left(open_record);
        long long left_ns = open_record.deadline_ns - get_Boot_Ns();
        unsigned int probe_ms = static_cast<unsigned int>(std::max(0LL, std::min(1000LL, left_ns / 1000000)));
        bool holds = get_Change_Holds(open_record, probe_ms, &step);
        if (holds || left_ns <= 0) {
            end_Wait();
            return holds ? Trial_End::KEPT : get_Window_End(open_record, step);
        }
        if (watch_progress != nullptr)
            watch_progress(step.waiting_for, left);
        if (step.kind == Trial_Step::KIND::WAIT)
            (void)poll(nullptr, 0, static_cast<int>(std::min(250LL, std::max(1LL, left_ns / 1000000))));
    }
}

} // namespace

Trial_End get_Trial_Outcome(bool apply_done, const std::string& apply_failure)
{
    if (!trial_open)
        return Trial_End::NONE;
    Trial_End end = Trial_End::KEPT;
    // Without a window the change stands as applied, whatever the apply said.
    if (open_record.window_seconds == 0)
        end = Trial_End::KEPT;
    else if (!apply_done)
        end = set_Rolled_Back(open_record, "the apply failed (" + apply_failure + ")");
    else
        end = get_Window_Watched();
    if (!get_Record_Stays(end))
        set_Stored_Record_Removed();
    release_Trial_Lock();
    last_end = end;
    return end;
}

void set_Trial_Closed(bool restore)
{
    if (!trial_open)
        return;
    std::string error;
    std::string left;
    if (restore && !set_Files_Restored(open_record, &left, &error)) {
        LOG_ERROR_AS("set_Trial_Closed", "%s: the trial record stays at %s", error.c_str(), record_path);
    } else {
        set_Stored_Record_Removed();
    }
    release_Trial_Lock();
}

std::string get_Trial_Summary()
{
    Trial_Record record;
    std::string error;
    switch (get_Stored_Record(&record, &error)) {
    case Record_State::NONE:
        return "";
    case Record_State::DAMAGED:
        return get_Damage_Refusal(error);
    case Record_State::UNREADABLE:
        return error;
    case Record_State::OPEN:
        break;
    }
    std::string text =
        record.interface_name + " to " + (record.applied ? get_Change_Text(record) : "a change");
    if (record.rolling_back)
        return text + ": its rollback was cut short; the daemon or the next change finishes it";
    if (record.window_seconds == 0)
        return text + ", made without a check: in progress";
    text += ", rolled back to " + get_Target_Text(record) + " unless it holds";
    if (record.boot_id != get_Boot_Id())
        return text + "; from an earlier boot: judged one window after the daemon starts";
    if (!record.applied)
        return text + "; not applied yet";
    unsigned int left = get_Seconds_Left(record);
    if (left == 0)
        return text + "; its window has ended: the daemon or the next change finishes it";
    return text + "; ends in " + std::to_string(left) + " s";
}

void update_Trial_Watch()
{
    if (!finisher_done.load())
        return;
    if (finisher.joinable())
        finisher.join();
    struct stat info;
    if (stat(record_path, &info) != 0)
        return;
    std::string error;
    Descriptor lock(get_Trial_Lock(&error));
    if (lock.get() < 0)
        return;
    Trial_Record record;
    Record_State state = get_Stored_Record(&record, &error);
    if (state != Record_State::OPEN ||
        (!record.rolling_back &&
         (set_Rebased(&record, get_Boot_Id()) || (record.applied && get_Boot_Ns() < record.deadline_ns)))) {
        if (state == Record_State::DAMAGED)
            set_Damage_Reported(info, error);
        return;
    }
    // A rollback waits on the manager's commands: the main loop goes on meanwhile.
    finisher_done.store(false);
    finisher = std::thread([record, fd = lock.take()]() {
        (void)get_Record_Finished(record);
        close(fd);
        finisher_done.store(true);
    });
}

void set_Trial_Watch_Stop()
{
    if (finisher.joinable())
        finisher.join();
}

Settings_Lock::Settings_Lock()
{
    (void)mkdir(lock_directory, 0755);
    fd = open(settings_lock_path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        LOG_ERROR_AS("Settings_Lock", "cannot open %s: %s: changes are not kept apart", settings_lock_path,
                     strerror(errno));
        return;
    }
    while (flock(fd, LOCK_EX) < 0 && errno == EINTR) {
    }
}

Settings_Lock::~Settings_Lock()
{
    if (fd >= 0)
        close(fd);
}
