#ifndef LUMERION_SETTINGS_TRIAL_H
#define LUMERION_SETTINGS_TRIAL_H

#include <string>
#include <vector>

#include "gateway_check.h"
#include "guards.h"
#include "network_types.h"
#include "settings_trial_record.h"

// A change to eth0's settings runs as a trial: before its first write a record
// of what it rewrites is saved under /var/lib/lumerion-hostd; after the apply
// the host must hold its address and reach its gateway within a window, else
// the saved files are put back and applied again. The applier holds a lock
// while it waits; an expired trial whose lock is free is finished by whoever
// finds it (the daemon, or a later lumerion-netcfg), also after a reboot.

// How the last trial of this process ended.
enum class Trial_End : uint8_t {
    NONE,        // no trial ran
    KEPT,        // the change holds
    ROLLED_BACK, // the old files are back (get_Trial_Line says what happened)
    LEFT,        // the wait was given up; the trial is left to the daemon
    FAILED,      // the old files could not be put back; the record stays
    INCOMPLETE,  // the old files are back, but the manager did not take them or eth0 lacks its old address
};

// The window of the next change in seconds; 0: no check and no rollback (the
// change still takes the trial lock and honours an open or damaged record).
void set_Trial_Window(unsigned int seconds);
unsigned int get_Trial_Window();
// Called once a second while an applier waits (and once with "" when the wait
// is over, before any line of its end), and asked whether to give up the wait.
void set_Trial_Watcher(void (*progress)(const std::string& waiting_for, unsigned int seconds_left),
                       bool (*stop)());

// One change's trial in this process: its lock, its record and how it ended.
// The executor owns the one the process runs (change_executor.h).
class Trial {
public:
    Trial() = default;
    Trial(const Trial&) = delete;
    Trial& operator=(const Trial&) = delete;

    // Takes the trial lock for a change and settles the stored record before
    // anything is read for the change: a record whose window has ended, or
    // whose rollback was cut short, is finished now (get_Earlier_Line says
    // how); one that is open, damaged or unreadable refuses the change. False
    // with `refusal`; true holds the lock until the trial ends or the claim is
    // released.
    bool set_Claimed(std::string* refusal);
    // A claim whose change was refused before it began lets the lock go.
    void set_Claim_Released();
    // Opens the claimed trial before the first step of a change; `record` gives
    // the manager, interface, profile, window, the files (whose contents are
    // read here), the steps and NetworkManager's keyfile names. False with
    // `refusal` when a file that exists cannot be read, or the record cannot be
    // saved.
    bool set_Begin(const Trial_Record& record, std::string* refusal);
    // Marks step `index` started (and those before it done) with the hash of
    // what it leaves in `path` ("" for none), and saves the record: false with
    // `error` when it cannot be saved, and then the step must not run.
    bool set_Step_Started(size_t index, const std::string& path, const std::string& hash, std::string* error);
    // A command may have rewritten `paths`: records what each holds now, so that
    // an undo leaves a file someone else wrote since (saved with the next mark).
    void set_Written(const std::vector<std::string>& paths);
    // The first command is about to run: records what the change must reach, and starts the window
    // (saved with that command's mark, which is saved before it runs).
    void set_Applying(const Network_Config& expected);
    // After the last step: waits for the check (or rolls back at once when
    // `apply_done` is false) and closes the trial. Without a window a failed
    // apply is kept as it is, unless `undo_failure`.
    Trial_End set_Ended(bool apply_done, const std::string& apply_failure, bool undo_failure);
    // Closes a trial that applied nothing: the files are kept, or put back when
    // `restore` (without an apply, as nothing live was changed).
    void set_Closed(bool restore);
    // The daemon stops mid-change: the record stays as it tells the truth, for its next start.
    void set_Left();

    bool get_Open() const { return open; }
    // How the last trial ended, and what its end said: why the change was kept
    // or rolled back, or how the rollback failed.
    Trial_End get_End() const { return end; }
    const std::string& get_Line() const { return line; }
    // What the last claim did with an earlier change's record ("" when it found none).
    const std::string& get_Earlier_Line() const { return earlier_line; }

private:
    Trial_End set_Window_Watched();
    void set_Lock_Released();

    bool open = false;
    Descriptor lock;
    Trial_Record record;
    std::string line;
    std::string earlier_line;
    Trial_End end = Trial_End::NONE;
};

// One line on the open trial for "lumerion-netcfg show"; "" when none is open.
// Reads only, and never waits for the lock.
std::string get_Trial_Summary();

// The daemon's watch, run when the record changed, when its last run asked
// to look again, and when a finish ended: one stat while no trial is open; an
// expired trial no one holds is finished on a thread of its own. Returns the
// milliseconds until it must look again (-1: only on one of those events).
long long update_Trial_Watch();
// Called on the finisher's thread when a finish ended.
void set_Trial_Finish_Wake(void (*wake)());
// The directory the record lives in, and its name there.
extern const char* const trial_state_directory;
extern const char* const trial_record_name;
// Waits for a finish in progress (at the daemon's exit).
void set_Trial_Watch_Stop();

// Between the trial's own source files: the stored record and its locks
// (settings_trial_store.cpp), the undo and finish from a record alone
// (settings_trial_undo.cpp), and the daemon's watch (settings_trial_watch.cpp).
extern const char* const trial_record_path;
const long long ns_per_second = 1000000000LL;
// The boot-time clock, which deadlines are on, and this boot's id.
long long get_Boot_Ns();
std::string get_Boot_Id();
// Whole seconds until the record's deadline; 0 once it has passed.
unsigned int get_Seconds_Left(const Trial_Record& record);
// "A/N via G", what a rollback goes back to.
std::string get_Target_Text(const Trial_Record& record);
// Takes the trial lock without waiting: the descriptor, or none when it is held elsewhere (or, with
// `error`, cannot be opened).
Descriptor set_Trial_Lock_Taken(std::string* error);
// UNREADABLE: this process may not read it (a CLI run without root); it says nothing of the record.
enum class Record_State : uint8_t { NONE, OPEN, DAMAGED, UNREADABLE };
Record_State get_Stored_Record(Trial_Record* record, std::string* error);
// `synced`: on disk before it returns (see set_File_Replace).
bool set_Stored_Record(const Trial_Record& record, std::string* error, bool synced = true);
void set_Stored_Record_Removed();
// Removes, with one INFO line each, the temporary files that writes cut short by a crash left beside the
// record and beside `record`'s files (none: the record's own alone). The caller holds the trial lock.
void set_Leftovers_Removed(const Trial_Record* record);
// The daemon's start: the same while no other process holds the trial lock, for the record found.
void set_Trial_Leftovers_Removed();
std::string get_Damage_Refusal(const std::string& error);
// Puts the saved files back; one that was changed since the change wrote it is left, and named in `left`.
bool set_Files_Restored(const Trial_Record& record, std::string* left, std::string* error);
// Puts the files back and has the manager take them; `said` gets the one ERROR line.
Trial_End set_Rolled_Back(const Trial_Record& record, const std::string& reason, std::string* said);
// The window ended at `step`: keeps the change or rolls it back.
Trial_End set_Window_Ended(const Trial_Record& record, const Trial_Step& step, std::string* said);
// One look at eth0, probing the gateway for at most `probe_ms`: whether the change holds.
bool get_Change_Holds(const Trial_Record& record, unsigned int probe_ms, Trial_Step* step, std::string* said);
// Whether a trial that ended so leaves its record (a wait given up, or files not put back).
bool get_Record_Stays(Trial_End end);
// Finishes a record whose applier is gone, and removes it unless it must stay.
Trial_End set_Record_Finished(const Trial_Record& record, std::string* said);
// A record from an earlier boot gets one window from now; true when it was one.
bool set_Rebased(Trial_Record* record, const std::string& boot_id);

// One writer at a time on eth0's settings: the daemon and every CLI take it
// around each write, apply and rollback; reads never wait for it. Taken on a
// thread that holds the command's hold (below), it takes nothing more.
class Settings_Lock {
public:
    Settings_Lock();
    ~Settings_Lock();
    Settings_Lock(const Settings_Lock&) = delete;
    Settings_Lock& operator=(const Settings_Lock&) = delete;

private:
    Descriptor fd;
};

// A command that writes takes the lock once, before it looks the owner up, so
// that the lookup it plans from is the one under the lock: until the hold ends
// (the executor ends it after a change's last step, before its window),
// Settings_Lock on this thread takes nothing more. Unless `wait`, it does not
// wait: false while another writer holds the lock (the change then meets that
// writer as before, and its apply looks the owner up again). Every change
// takes the hold for its steps where its command did not.
bool set_Settings_Hold_Taken();
void set_Settings_Hold_Ended();
bool get_Settings_Hold();

#endif
