// The steps of a change or of an undo, one at a time: a file written, put
// back or removed, NetworkManager's keyfiles pruned, a command run; and the
// daemon's stop, after which no step starts.
#include "change_steps.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <system_error>

#include "extra_command_handling.h"
#include "file_replace.h"
#include "log.h"

namespace {

const char* const __log_tag = "Settings_Trial";

// Set when the daemon stops: no step starts after it.
std::atomic<bool> changes_stopped{false};

// Removes the keyfiles NetworkManager wrote for the change: names the directory did not hold before
// that hold the profile's UUID. False with `failure`.
bool set_Keyfiles_Pruned(const Plan_Step& step, std::string* failure)
{
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
        int rc = set_File_Removed(path);
        if (rc != 0) {
            *failure = "cannot remove " + get_Log_Text(path) + ": " + strerror(rc);
            return false;
        }
        LOG_INFO("removed %s: NetworkManager wrote it for the change", get_Log_Text(path).c_str());
    }
    return true;
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
        rc = set_File_Removed(step.path);
        if (rc == 0)
            return true;
        *failure = "cannot remove " + get_Log_Text(step.path) + ": " + strerror(rc);
        return false;
    case Plan_Step::KIND::PRUNE:
        return set_Keyfiles_Pruned(step, failure);
    case Plan_Step::KIND::RUN:
        break;
    }
    // A change's commands end in time: a rollback must not wait on a hung tool.
    return set_Change_Command(step.command.c_str(), failure, change_command_timeout_seconds,
                              step.argv.empty() ? nullptr : &step.argv);
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
        if (get_Changes_Stopped())
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
