#ifndef LUMERION_CHANGE_STEPS_H
#define LUMERION_CHANGE_STEPS_H

#include <stdint.h>

#include <string>
#include <vector>

#include "change_plan.h"
#include "settings_trial_record.h"

// The steps of a change or of an undo, each run alone: the executor marks a
// change's steps in its trial record around them, and an undo runs the plan a
// record gives back.

// One step, its guard already checked by the caller; false with `failure`. A command ends in time: a
// rollback must not wait on a hung tool.
bool set_Step_Done(const Plan_Step& step, std::string* failure);
// The hash of what a file holds now ("" when it cannot be read), and the file in `now`.
std::string get_Held_Hash(const std::string& path, Trial_File* now);

// A file as it stands, to be put back byte for byte; false with `error` when it exists but cannot be
// read whole (a FIFO, a link to nothing, a file over the size limit, an I/O error).
bool get_Saved_File(const std::string& path, Trial_File* file, std::string* error);

// The daemon stops: no step of a change or an undo starts after it; a change
// in progress leaves its record, which tells how far it went, to the next start.
void set_Changes_Stopped();
bool get_Changes_Stopped();

// The names in `directory`, sorted (none for one that does not exist); false with `error`.
bool get_Directory_Names(const std::string& directory, std::vector<std::string>* names, std::string* error);

enum class Undo_Result : uint8_t {
    DONE,        // every step ran or was let be; `failure` names the first command that failed
    FILE_FAILED, // a file could not be put back (`error`); nothing after it ran
    STOPPED,     // the daemon stops: nothing after the last step ran
};
// Runs an undo plan: a file changed since the change wrote it is left as it
// is, with one ERROR line, and named in `left`; a command that fails does not
// stop the steps after it.
Undo_Result set_Undo_Run(const Change_Plan& undo, std::string* left, std::string* error,
                         std::string* failure);

#endif
