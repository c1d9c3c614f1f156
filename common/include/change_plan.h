#ifndef LUMERION_CHANGE_PLAN_H
#define LUMERION_CHANGE_PLAN_H

#include <string>
#include <vector>

#include "network.h"

// What a settings change runs on the host, as pure functions of what is
// known about eth0's owner: the same commands apply a change and put one
// back, so that each manager's commands are written once.

// Every command a change runs gets this long (a DHCP client waiting for its lease included).
const unsigned int change_command_timeout_seconds = 90;

// The manager that takes eth0's files, and what it needs to know to take them.
struct Apply_Target {
    Network::MANAGER_TYPE manager = Network::MANAGER_TYPE::UNKNOWN;
    std::string interface_name;
    std::string profile_uuid;    // NetworkManager: the profile eth0 uses
    bool profile_active = false; // NetworkManager: active on eth0 (reapply), else brought up on it
    // NetworkManager: keyfiles written behind its back (a rollback's), loaded before the apply.
    std::vector<std::string> reloaded_files;
};

// The command lines that make the manager take its files now, in order.
std::vector<std::string> get_Apply_Commands(const Apply_Target& target);

#endif
