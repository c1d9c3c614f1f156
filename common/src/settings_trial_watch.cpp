// The daemon's watch over the settings trial: a trial whose applier is gone
// is finished on a thread of its own once its deadline has passed. The loop
// looks when the record changes, when the watch asked to, and when a finish ends.
#include "settings_trial.h"

#include <sys/stat.h>

#include <atomic>
#include <string>
#include <thread>
#include <utility>

#include "change_steps.h"
#include "guards.h"
#include "log.h"
#include "monotonic_clock.h"

namespace {

const char* const __log_tag = "Settings_Trial";
// While another process holds the trial lock it may end without a word: look again this often.
const long long held_lock_look_ms = 2000;
// A deadline is judged just after it, so that the look finds it passed.
const long long deadline_slack_ms = 20;
// A finish that left the record (its files could not be put back) is tried again no sooner than this.
const long long finish_retry_ms = 2000;

// The daemon's finisher.
std::thread finisher;
std::atomic<bool> finisher_done{true};
std::atomic<long long> finisher_ended_ms{-1};
struct stat reported_damage = {};
void (*finish_wake)() = nullptr;

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

void set_Trial_Finish_Wake(void (*wake)())
{
    finish_wake = wake;
}

long long update_Trial_Watch()
{
    if (!finisher_done.load())
        return -1;
    if (finisher.joinable())
        finisher.join();
    struct stat info;
    if (stat(trial_record_path, &info) != 0)
        return -1;
    std::string error;
    Descriptor lock = set_Trial_Lock_Taken(&error);
    if (lock.get() < 0)
        return held_lock_look_ms;
    Trial_Record record;
    Record_State state = get_Stored_Record(&record, &error);
    if (state == Record_State::DAMAGED)
        set_Damage_Reported(info, error);
    if (state != Record_State::OPEN)
        return -1;
    if (!record.rolling_back && set_Rebased(&record, get_Boot_Id()))
        return static_cast<long long>(record.window_seconds) * 1000 + deadline_slack_ms;
    long long left_ns = record.deadline_ns - get_Boot_Ns();
    if (!record.rolling_back && record.applied && left_ns > 0)
        return left_ns / 1000000 + deadline_slack_ms;
    long long since_ms = get_Monotonic_Ms() - finisher_ended_ms.load();
    if (finisher_ended_ms.load() >= 0 && since_ms < finish_retry_ms)
        return finish_retry_ms - since_ms;
    // A rollback waits on the manager's commands: the main loop goes on meanwhile.
    finisher_done.store(false);
    finisher = std::thread([record, held = std::move(lock)]() mutable {
        std::string said;
        (void)set_Record_Finished(record, &said);
        held.reset(-1);
        finisher_ended_ms.store(get_Monotonic_Ms());
        finisher_done.store(true);
        if (finish_wake != nullptr)
            finish_wake();
    });
    return -1;
}

void set_Trial_Watch_Stop()
{
    set_Changes_Stopped();
    if (finisher.joinable())
        finisher.join();
}
