// The daemon's watch over the settings trial: a trial whose applier is gone
// is finished on a thread of its own once its deadline has passed.
#include "settings_trial.h"

#include <sys/stat.h>

#include <atomic>
#include <string>
#include <thread>

#include "change_executor.h"
#include "guards.h"
#include "log.h"

namespace {

const char* const __log_tag = "Settings_Trial";

// The daemon's finisher.
std::thread finisher;
std::atomic<bool> finisher_done{true};
struct stat reported_damage = {};

// A damaged record is named once: it stays until a person removes it.
void set_Damage_Reported(const struct stat& info, const std::string& error)
{
    if (info.st_ino == reported_damage.st_ino && info.st_mtim.tv_sec == reported_damage.st_mtim.tv_sec &&
        info.st_mtim.tv_nsec == reported_damage.st_mtim.tv_nsec)
        return;
    reported_damage = info;
    LOG_ERROR_AS("update_Trial_Watch", "%s", get_Damage_Refusal(error).c_str());
}

} // namespace

void update_Trial_Watch()
{
    if (!finisher_done.load())
        return;
    if (finisher.joinable())
        finisher.join();
    struct stat info;
    if (stat(trial_record_path, &info) != 0)
        return;
    std::string error;
    Descriptor lock(set_Trial_Lock_Taken(&error));
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
        std::string said;
        (void)set_Record_Finished(record, &said);
        close(fd);
        finisher_done.store(true);
    });
}

void set_Trial_Watch_Stop()
{
    set_Changes_Stopped();
    if (finisher.joinable())
        finisher.join();
}
