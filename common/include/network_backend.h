#ifndef LUMERION_NETWORK_BACKEND_H
#define LUMERION_NETWORK_BACKEND_H

#include <memory>
#include <string>
#include <vector>

#include "change_plan.h"
#include "netplan_reader.h"
#include "network_types.h"
#include "settings_trial_record.h"

class Probe_Run;

// What one owner lookup gathers before any manager is asked: the interface's
// facts, netplan's files and its reading of them, and whether NetworkManager
// runs (asked once, while the files are read).
struct Owner_Lookup {
    Interface_Facts facts;
    Interface_Owner base; // what every manager's owner starts from: the interface, netplan's answer
    std::vector<Netplan_File> netplan_files;
    std::string netplan_files_error; // why netplan's files cannot be read; "" when they can
    Netplan_Reading netplan_reading;
    int network_manager = -1;            // 1 runs, 0 does not, -1 not asked yet
    std::unique_ptr<Probe_Run> nm_query; // the question, started at the top of the lookup
    bool get_Network_Manager_Running();
};

// One network manager as the settings path meets it: the same few entry
// points for each. A row leaves out (nullptr) what its manager does not do.
struct Manager_Backend {
    Manager_Type manager;
    // Finds the interface's definition among the manager's files and adds its owner to `found`, with
    // `error` saying why it cannot be used. False ends the lookup with the last owner added.
    bool (*find)(Owner_Lookup* lookup, std::vector<Interface_Owner>* found);
    // Takes the interface when no manager defines it: the daemon's own file read alone.
    bool (*find_alone)(const Owner_Lookup& lookup, Interface_Owner* owner);
    // The service whose running decides between several managers that define the interface.
    std::string (*service)(const Interface_Owner& owner);
    // One setting as the owner holds it (fixed-length copy; MODE in the first byte). 0 read, 1 not.
    uint8_t (*read)(Config_Type type, const Interface_Owner& owner, char* buffer, unsigned int length);
    // Why a change to this owner is refused as soon as a value is staged ("" when it is not).
    std::string (*refusal)(const Interface_Owner& owner);
    // Whether the settings a change does not give are read back before it is planned (else only the
    // staged ones are written).
    bool (*merged)(const Interface_Owner& owner);
    // What a change is planned from, read now; false with one ERROR line.
    bool (*input)(const Interface_Owner& owner, Plan_Input* input);
    // The change's own steps (the edit), or `plan->refusal`, and what the undo needs in `plan`.
    void (*plan)(const Plan_Input& input, Change_Plan* plan, std::vector<Plan_Step>* edits);
    // Whether the manager's own parser takes what the plan leaves in the owner's file; false with one
    // ERROR line.
    bool (*accepted)(const Change_Plan& plan, const Interface_Owner& owner);
    // The command lines that take the interface down with the files it was brought up with (before they
    // are rewritten), and those that make the manager take its files now.
    std::vector<std::string> (*down)(const Apply_Target& target);
    std::vector<std::string> (*apply)(const Apply_Target& target);
    // The undo's own steps once the files are back, before its apply (NetworkManager's keyfiles pruned
    // and read again); false: the undo runs no apply (a bare host's default names no profile).
    bool (*undo)(const Trial_Record& record, Change_Plan* undo);
    // Where a bare host's default file goes, and what it holds; "" for a manager that takes none.
    std::string (*default_path)(const std::string& interface_name);
    std::string (*default_text)(const std::string& interface_name);
    // Whether this manager takes a bare host's default: NetworkManager where it runs, else netplan where
    // it is installed.
    bool (*default_taken)(bool network_manager_running);
    // The command that has the manager read its files again ("" for none): a default becomes a profile.
    const char* reload;
    // Its reads and its edit report a file the manager cannot read, each once: a value may still be
    // staged, and the selection loads what can be read.
    bool reads_own_errors;
};

// The host's interfaces (lo left out) with the facts a manager's matching reads.
std::vector<Interface_Facts> get_Host_Interfaces();

// The row of `manager`; UNKNOWN's refuses everything.
const Manager_Backend& get_Manager_Backend(Manager_Type manager);
// Every manager's row in the order the owner lookup asks them.
const std::vector<const Manager_Backend*>& get_Manager_Backends();

// The plan of an apply; `refusal` is set when the settings may not be written
// (a static record without a usable address, one that would cut the host off,
// or a document that cannot be edited). On ifupdown the stanza gets the staged
// settings alone, and what it then holds is what the apply must reach.
Change_Plan get_Change_Plan(const Plan_Input& input);

// The undo of a change from its record alone: each file put back (guarded by
// the hash of what the change wrote), and, once the manager may hold the
// change, its commands around them, as for an apply. On NetworkManager the
// keyfiles it wrote for the change go too, and it reads its files again: a
// profile that lived under /run stays there, and none is left under /etc to
// bring the change back at the next boot.
Change_Plan get_Undo_Plan(const Trial_Record& record);

// The steps that give a bare host its default file: the file, and the reload
// that makes it the manager's.
std::vector<Plan_Step> get_Default_Steps(Manager_Type manager, const std::string& path,
                                         const std::string& text);

// The owner's file whole, for a row that reads its settings from it; false with one ERROR line (said as
// get_Config) when the owner is refused or the file cannot be read.
bool get_Owner_File_Read(const Interface_Owner& owner, std::string* text);

// The rows, each in its back end's own file.
extern const Manager_Backend netplan_backend;
extern const Manager_Backend ifupdown_backend;
extern const Manager_Backend network_manager_backend;
extern const Manager_Backend networkd_backend;

#endif
