#ifndef LUMERION_CHANGE_EXECUTOR_H
#define LUMERION_CHANGE_EXECUTOR_H

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "change_plan.h"
#include "settings_trial.h"

// The one executor of settings changes. It takes the trial lock and saves the
// trial record before the first step the host can see, marks each step in the
// record before it runs it (with the hash of the file it is about to write),
// then waits for the window and keeps the change or undoes it. An undo is the
// plan the record gives back, run by the same steps.

enum class Change_Result : uint8_t {
    REFUSED,  // refused before its first step: nothing changed
    KEPT,     // it took effect and is kept (a plan with no steps changes nothing and is kept)
    NOT_KEPT, // its steps ran, but it was rolled back, failed or left: its ERROR lines, get_Trial_End()
              // and get_Trial_Line() say how it ended
};
// Reads the host and makes the plan, both only once any earlier change is finished. False when the
// change is refused; an ERROR line said why, or the plan's `refusal` does.
using Plan_Maker = std::function<bool(Change_Plan*)>;

// Makes one change in the one order every change takes: the settings lock;
// any earlier change's record finished, or this change refused; the host read
// and the plan made (`make_plan`); its steps run, each marked first; the change
// judged; kept or undone. `refusal` says why a change refused before the plan
// was made, or by the plan, was refused.
Change_Result set_Change_Run(const Plan_Maker& make_plan, std::string* refusal);

// How this process's last change ended, and what its end said: why it was
// kept or rolled back, or how the rollback failed.
Trial_End get_Trial_End();
std::string get_Trial_Line();
// What this process's last change did first with an earlier change's record ("" when it found none).
std::string get_Earlier_Line();

#endif
