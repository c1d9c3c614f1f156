#ifndef LUMERION_SETTINGS_TRIAL_RECORD_H
#define LUMERION_SETTINGS_TRIAL_RECORD_H

#include <stddef.h>

#include <string>
#include <vector>

#include "gateway_check.h"
#include "network_types.h"

// The settings trial's record: what a change rewrites, its steps and what it
// must reach, as kept under /var/lib/lumerion-hostd while the trial is open,
// and where a trial stands at one look at the interface.

// One file the change rewrites or creates, as it stood before.
struct Trial_File {
    std::string path;
    bool existed = false;
    unsigned int mode = 0; // permission bits
    unsigned int uid = 0;
    unsigned int gid = 0;
    std::string bytes;
    // What the change left in it ("" until it wrote): an undo leaves a file that holds neither.
    std::string written_hash;
};

// A file's contents as an undo compares them: a hash of its bytes, or "absent".
std::string get_Content_Hash(bool exists, const std::string& bytes);

// One step of the change as the record marks it: started before it runs, done once it has.
struct Trial_Mark {
    enum class STATE : uint8_t { PENDING, STARTED, DONE } state = STATE::PENDING;
    std::string action; // "write <path>", "remove <path>", "run <command>"
};

struct Trial_Record {
    Manager_Type manager = Manager_Type::UNKNOWN;
    std::string interface_name;
    std::string profile_uuid;    // NetworkManager: the profile the change edits
    bool profile_active = false; // NetworkManager: it was active before the change
    std::vector<Trial_File> files;
    std::vector<Trial_Mark> steps;
    // NetworkManager: the directory it saves a modified profile to, and the names there before the change
    // (a keyfile it writes for the change is told by its name and the profile's UUID).
    std::string keyfile_directory;
    std::vector<std::string> keyfiles_before;
    std::string old_address; // "A/N" before the change; "" for none
    std::string old_gateway; // "" for none
    Gateway_Answer old_gateway_answer = Gateway_Answer::SILENT;
    bool applied = false;      // the manager may hold the change; until then only files were written
    bool rolling_back = false; // the undo began: whoever finds the record finishes it, never judges it
    bool new_dhcp = false;
    std::string new_address; // static: the address the interface must hold
    std::string new_gateway; // static: the gateway that must answer; "" for none
    std::string boot_id;
    long long deadline_ns = 0;        // on the boot-time clock
    unsigned int window_seconds = 60; // 0: no check and no rollback
};

// The most files one change records, and the largest stored record that can
// hold that many files of the largest size a change accepts for editing.
const size_t max_trial_files = 8;
// The most steps one change records, and the longest action (a path or a command line) of one.
const size_t max_trial_steps = 32;
const size_t max_trial_action_bytes = 8192;
// The most names of the keyfile directory one record holds.
const size_t max_trial_keyfiles = 256;
extern const size_t max_trial_text_size;

// The record as stored, and back. False with `error` for a text that is
// damaged or of a format version this one does not read (it reads its
// own and the one before, so that an upgrade finishes an open trial).
std::string get_Trial_Text(const Trial_Record& record);
bool get_Trial_Record(const std::string& text, Trial_Record* record, std::string* error);

// Where a trial stands at one look at the interface.
struct Trial_Step {
    enum class KIND : uint8_t {
        WAIT,  // the address (or lease) is not there yet
        PROBE, // the address is there; `gateway` must answer
        KEEP,  // the address is there and there is no gateway to check
    } kind = KIND::WAIT;
    std::string gateway;
    std::string source;      // the address to probe from
    std::string waiting_for; // e.g. "gateway 10.0.0.1 to answer"
    std::string failure;     // e.g. "gateway 10.0.0.1 did not answer", should the window end now
    std::string kept;        // should the window end now, the change is kept, and this says why
};
// `addresses` and `live_gateway` are what the interface holds now; on DHCP
// only a leased address counts (a static one left over is no lease).
Trial_Step get_Trial_Step(const Trial_Record& record, const std::vector<Interface_Address>& addresses,
                          const std::string& live_gateway);

#endif
