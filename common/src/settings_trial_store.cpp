// The settings trial's stored record and its locks, and the one line on an
// open trial that "lumerion-netcfg show" prints.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "file_replace.h"
#include "guards.h"
#include "log.h"
#include "settings_trial.h"

namespace {

const char* const __log_tag = "Settings_Trial";
const char* const lock_directory = "/run/lumerion-hostd";
const char* const settings_lock_path = "/run/lumerion-hostd/settings.lock";
const char* const trial_lock_path = "/run/lumerion-hostd/trial.lock";

std::string get_Change_Text(const Trial_Record& record)
{
    if (record.new_dhcp)
        return "DHCP";
    return record.new_address + (record.new_gateway.empty() ? "" : " via " + record.new_gateway);
}

} // namespace

const char* const trial_state_directory = "/var/lib/lumerion-hostd";
const char* const trial_record_name = "trial";
const char* const trial_record_path = "/var/lib/lumerion-hostd/trial";

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

std::string get_Target_Text(const Trial_Record& record)
{
    if (record.old_address.empty())
        return "its settings before the change";
    return record.old_address + (record.old_gateway.empty() ? "" : " via " + record.old_gateway);
}

// Opens and takes the trial lock without waiting: the descriptor, or -1 when it is held elsewhere.
Descriptor set_Trial_Lock_Taken(std::string* error)
{
    (void)mkdir(lock_directory, 0755);
    Descriptor fd(open(trial_lock_path, O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (fd.get() < 0) {
        *error = std::string("cannot open ") + trial_lock_path + ": " + strerror(errno);
        return fd;
    }
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        error->clear();
        fd.reset(-1);
    }
    return fd;
}

Record_State get_Stored_Record(Trial_Record* record, std::string* error)
{
    struct stat info;
    if (lstat(trial_record_path, &info) != 0) {
        *error = std::string("cannot read ") + trial_record_path + ": " + strerror(errno);
        return errno == ENOENT ? Record_State::NONE : Record_State::UNREADABLE;
    }
    std::string text;
    if (access(trial_record_path, R_OK) != 0) {
        *error = std::string("cannot read ") + trial_record_path + ": " + strerror(errno);
        return Record_State::UNREADABLE;
    }
    if (!get_File_Content(trial_record_path, &text, error, max_trial_text_size))
        return Record_State::DAMAGED;
    return get_Trial_Record(text, record, error) ? Record_State::OPEN : Record_State::DAMAGED;
}

bool set_Stored_Record(const Trial_Record& record, std::string* error, bool synced)
{
    if (mkdir(trial_state_directory, 0700) != 0 && errno != EEXIST) {
        *error = std::string("cannot create ") + trial_state_directory + ": " + strerror(errno);
        return false;
    }
    // Saved files can hold secrets (a keyfile's keys): only root reads the directory.
    (void)chmod(trial_state_directory, 0700);
    int rc = set_File_Replace(trial_record_path, get_Trial_Text(record), 0600, synced);
    if (rc != 0) {
        *error = std::string("cannot save ") + trial_record_path + ": " + strerror(rc);
        return false;
    }
    return true;
}

void set_Stored_Record_Removed()
{
    // The record's removal ends the change: it must not come back after a power cut.
    int rc = set_File_Removed(trial_record_path);
    if (rc != 0)
        LOG_ERROR("cannot remove %s: %s", trial_record_path, strerror(rc));
}

void set_Leftovers_Removed(const Trial_Record* record)
{
    std::vector<std::string> paths = {trial_record_path};
    if (record != nullptr)
        for (const Trial_File& file : record->files)
            paths.push_back(file.path);
    std::vector<std::string> removed;
    for (const std::string& path : paths)
        set_Replace_Leftovers_Removed(path, &removed);
    for (const std::string& path : removed)
        LOG_INFO("removed %s: a write cut short by a crash left it", get_Log_Text(path).c_str());
}

void set_Trial_Leftovers_Removed()
{
    std::string error;
    Descriptor lock = set_Trial_Lock_Taken(&error);
    // A change in progress elsewhere owns its temporary files.
    if (lock.get() < 0)
        return;
    Trial_Record record;
    bool open = get_Stored_Record(&record, &error) == Record_State::OPEN;
    set_Leftovers_Removed(open ? &record : nullptr);
}

std::string get_Damage_Refusal(const std::string& error)
{
    return std::string("the settings trial record ") + trial_record_path +
           " is damaged or of another version (" + get_Log_Text(error) +
           "): no change is made until a person checks eth0's settings and removes it (rm " +
           trial_record_path + ")";
}

unsigned int get_Seconds_Left(const Trial_Record& record)
{
    long long left = record.deadline_ns - get_Boot_Ns();
    return left <= 0 ? 0 : static_cast<unsigned int>((left + ns_per_second - 1) / ns_per_second);
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

namespace {

// The command's hold: the thread that took it, and only it, skips taking the lock again.
thread_local Descriptor settings_hold;

Descriptor get_Settings_Lock_Taken(bool wait = true)
{
    (void)mkdir(lock_directory, 0755);
    Descriptor fd(open(settings_lock_path, O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (fd.get() < 0) {
        LOG_ERROR("cannot open %s: %s: changes are not kept apart", settings_lock_path, strerror(errno));
        return fd;
    }
    int rc;
    while ((rc = flock(fd.get(), wait ? LOCK_EX : LOCK_EX | LOCK_NB)) < 0 && errno == EINTR) {
    }
    if (rc < 0 && !wait)
        fd.reset(-1);
    return fd;
}

} // namespace

Settings_Lock::Settings_Lock()
{
    if (settings_hold.get() < 0)
        fd = get_Settings_Lock_Taken();
}

Settings_Lock::~Settings_Lock() = default;

bool set_Settings_Hold_Taken()
{
    if (settings_hold.get() < 0)
        settings_hold = get_Settings_Lock_Taken(false);
    return settings_hold.get() >= 0;
}

void set_Settings_Hold_Ended()
{
    settings_hold.reset(-1);
}

bool get_Settings_Hold()
{
    return settings_hold.get() >= 0;
}
