#ifndef LUMERION_TEST_TRIAL_SCENE_H
#define LUMERION_TEST_TRIAL_SCENE_H

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>

#include "nm_instance.h"

enum class Trial_Manager {
    IFUPDOWN,
    NETPLAN,
    NETWORK_MANAGER,         // a keyfile under /etc
    NETWORK_MANAGER_DEFAULT, // NetworkManager's own "Wired connection 1" under /run, on a lease (10.0.0.100)
    NETWORK_MANAGER_RUNTIME, // a profile another tool made under /run ("nmcli con add ... save no")
};

// Inside the sandbox: eth0's peer moved into a namespace of its own as the
// gateway 10.0.0.1 (it answers ARP), and `manager` owning eth0 from a stock
// layout at 10.0.0.5/24 via 10.0.0.1, brought up by its real apply (ifup, a
// real NetworkManager kept in `nm`, or a stand-in for "netplan apply" that sets
// what netplan's generator renders). False with `why`.
bool set_Trial_Scene(Trial_Manager manager, std::unique_ptr<Nm_Instance>* nm, std::string* why);

// The gateway's DHCP server: one address, 10.0.0.100, for an hour, plus `options`.
std::string get_Dhcp_Server(const std::string& options);

// eth0's IPv4 addresses as "A/N", space separated.
std::string get_Eth0_Addresses();

// Where a change keeps its trial's record.
extern const char* const record_file;

// Whether the record says the change's window runs: every step of it done.
bool get_In_Window();

// Polls `done` every 50 ms until it holds (true) or `seconds` have passed (false).
bool wait_For(const std::function<bool()>& done, double seconds);

// The exit status of the child `pid`, or 128 + the signal that ended it.
int wait_Exit(pid_t pid);

#endif
