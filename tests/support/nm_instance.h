#ifndef LUMERION_TEST_NM_INSTANCE_H
#define LUMERION_TEST_NM_INSTANCE_H

#include <string>

// A system bus of the sandbox's own (its pid in `dir`/dbus.pid), with /sys
// read-only so that the network daemons wait for no udev; false with the reason.
bool start_System_Bus(const std::string& dir, std::string* why);

// A real NetworkManager on a dbus-daemon of its own inside the sandbox (with
// nmcli left real): keyfile plugin only, no polkit, no DNS handling, eth0's
// peer unmanaged, its state on a private tmpfs; no automatic profiles unless
// asked for (Debian's desktop default: "Wired connection 1", held under /run).
class Nm_Instance {
public:
    Nm_Instance() = default;
    Nm_Instance(const Nm_Instance&) = delete;
    Nm_Instance& operator=(const Nm_Instance&) = delete;
    ~Nm_Instance();
    // Starts both and waits until NetworkManager answers; false with the reason.
    bool start(std::string* why, bool automatic_profiles = false);
    // NetworkManager stopped and started again with /run/NetworkManager cleared, as a reboot leaves it.
    bool restart_Cleared(std::string* why);
    // Waits until "nmcli -t -f FIELDS device" has a line starting with `line`.
    bool wait_Device(const std::string& line, double seconds, const std::string& fields = "DEVICE,STATE");
    // What /usr/bin/nmcli prints for `args` (standard output only).
    std::string nmcli(const std::string& args) const;
    std::string log() const;

private:
    bool start_Manager(std::string* why);
    std::string dir;
};

#endif
