#ifndef LUMERION_CHANGE_EXECUTOR_H
#define LUMERION_CHANGE_EXECUTOR_H

#include <string>
#include <vector>

#include "change_plan.h"

// The one executor of settings changes. It takes the trial lock and saves the
// trial record before the first step the host can see, marks each step in the
// record before it runs it (with the hash of the file it is about to write),
// then waits for the window and keeps the change or undoes it. An undo is the
// plan the record gives back, run by the same steps.

// Runs `plan` as one change. True when it took effect and is kept. False with
// `refusal` when it was refused before its first step (nothing changed);
// otherwise its ERROR lines, get_Trial_End() and get_Trial_Line() say how it ended.
bool set_Plan_Run(const Change_Plan& plan, std::string* refusal);

// How this process's last change ended, and what its end said: why it was
// kept or rolled back, or how the rollback failed.
Trial_End get_Trial_End();
std::string get_Trial_Line();

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
