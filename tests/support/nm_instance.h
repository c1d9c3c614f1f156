#ifndef LUMERION_TEST_NM_INSTANCE_H
#define LUMERION_TEST_NM_INSTANCE_H

#include <string>

// A real NetworkManager on a dbus-daemon of its own inside the sandbox (with
// nmcli left real): keyfile plugin only, no polkit, no DNS handling, no
// automatic profiles, eth0's peer unmanaged, its state on a private tmpfs.
class Nm_Instance {
public:
    Nm_Instance() = default;
    Nm_Instance(const Nm_Instance&) = delete;
    Nm_Instance& operator=(const Nm_Instance&) = delete;
    ~Nm_Instance();
    // Starts both and waits until NetworkManager answers; false with the reason.
    bool start(std::string* why);
    // Waits until "nmcli -t -f DEVICE,STATE device" has a line starting with `line`.
    bool wait_Device(const std::string& line, double seconds);
    // What /usr/bin/nmcli prints for `args` (standard output only).
    std::string nmcli(const std::string& args) const;
    std::string log() const;

private:
    std::string dir;
};

#endif
