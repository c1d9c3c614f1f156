#ifndef LUMERION_CHANGE_PLAN_H
#define LUMERION_CHANGE_PLAN_H

#include <string>
#include <vector>

#include "network_types.h"
#include "settings_trial_record.h"

// A settings change as a plan: the files it writes or removes and the
// commands it runs, in order, and what eth0 must hold afterwards. Plans are
// pure functions of what is known about eth0's owner, each manager's part made
// by its row of the back-end table (network_backend.h); one executor runs them
// (change_executor.h), and an undo is the plan a trial record gives back.

// Every command a change runs gets this long (a DHCP client waiting for its lease included).
const unsigned int change_command_timeout_seconds = 90;

// The manager that takes eth0's files, and what it needs to know to take them.
struct Apply_Target {
    Manager_Type manager = Manager_Type::UNKNOWN;
    std::string interface_name;
    std::string profile_uuid;    // NetworkManager: the profile eth0 uses
    bool profile_active = false; // NetworkManager: active on eth0 (reapply), else brought up on it
};

// One step of a plan.
struct Plan_Step {
    enum class KIND : uint8_t {
        WRITE,  // `path` gets `bytes`
        REMOVE, // `path` goes
        RUN,    // `command` runs; the first one is where the manager may start to hold the change
        PRUNE,  // every file of the directory `path` not in `names` whose profile UUID is `uuid` goes
    } kind = KIND::RUN;
    std::string path;
    std::string bytes;
    unsigned int mode = 0600;       // WRITE: a new file's mode; an existing file keeps its own
    std::string command;            // RUN: the command as the record and the log name it
    std::vector<std::string> argv;  // RUN: its words, run without a shell; empty for shell text
    std::vector<std::string> names; // PRUNE: the directory's names before the change
    std::string uuid;               // PRUNE
    // A file step runs only while the file holds what the plan was made from, or for an undo what
    // the change wrote (get_Content_Hash; "" for any): someone else's write is never written over.
    std::string guard_hash;
    // An undo's file step: the file gets exactly this mode and owner; one that holds its bytes is let be.
    bool restore = false;
    bool existed = false; // restore: the file was there before the change
    unsigned int uid = 0;
    unsigned int gid = 0;
};

// A step that runs `command`, and one such step for each of `commands`, appended.
Plan_Step get_Run_Step(const std::string& command);
void set_Run_Steps_Added(std::vector<Plan_Step>* steps, const std::vector<std::string>& commands);
// Why a static record may not be written ("" when it may, or for DHCP): it names no usable address, or
// it would cut the host off.
std::string get_Record_Refusal(const Network_Config& record);

// The record's word for a step: "write <path>", "remove <path>", "run <command>".
std::string get_Step_Action(const Plan_Step& step);

struct Change_Plan {
    Apply_Target target;
    std::vector<Plan_Step> steps;
    Network_Config expected; // what eth0 must hold once applied
    bool checked = true;     // false: a change of its own with no window (a default file at start-up)
    std::string refusal;     // why the change may not be made; "" when it may
    // Files a command may rewrite (NetworkManager's keyfile): recorded, and hashed after each command.
    std::vector<std::string> watched_files;
    // NetworkManager: where it saves a modified profile, and the names there now (see Trial_Record).
    std::string keyfile_directory;
    std::vector<std::string> keyfiles_before;
    std::string origin = "set_Config_Apply"; // the function its log lines are said as
};

// What a change is planned from, all read before the plan is made.
struct Plan_Input {
    Apply_Target target;
    std::string file;                // netplan, ifupdown: the file the edit goes to
    std::string file_text;           // its text now (netplan: or as a default step writes it first)
    std::vector<Config_Type> staged; // the settings this change gives, in the order given
    std::string dns_void;          // ifupdown: why the stanza's DNS servers take no effect ("" when they do)
    std::string master;            // the bridge or bond eth0 is a port of ("bridge br0"); "" for none
    std::string profile_file;      // NetworkManager: the profile's keyfile ("" for one held in memory)
    std::string netplan_entry;     // netplan: the key of eth0's definition
    std::string profile_current;   // NetworkManager: the "ipv4.method,ipv4.addresses,ipv4.dns" answer
    std::string keyfile_directory; // NetworkManager: where it saves a modified profile
    std::vector<std::string> keyfiles_before; // NetworkManager: the names there now
    Network_Config settings; // the settings after the change: the host's, with what was staged
    // The owner's own files first: a leftover's removal and a bare host's default file.
    std::vector<Plan_Step> owner_steps;
};

// The step that removes this daemon's leftover default.
std::vector<Plan_Step> get_Leftover_Steps(const std::string& path);
// The owner's own files as a change of their own, with no window (at start-up).
Change_Plan get_Owner_Files_Plan(Manager_Type manager, const std::string& interface_name,
                                 const std::vector<Plan_Step>& steps, const std::string& origin);
// One file step of a change: `path` from `before` (what the plan was made from) to `after`.
Plan_Step get_File_Step(const std::string& path, const std::string& before, const std::string& after,
                        unsigned int mode);

// Why a port's settings are not changed: its addresses are its master's ("bridge br0").
std::string get_Port_Refusal(const std::string& interface_name, const std::string& master);

// The profile UUID of a keyfile's text ("" for none).
std::string get_Keyfile_Uuid(const std::string& text);

#endif
