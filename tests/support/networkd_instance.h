#ifndef LUMERION_TEST_NETWORKD_INSTANCE_H
#define LUMERION_TEST_NETWORKD_INSTANCE_H

#include <string>

// A real systemd-networkd on a system bus of its own inside the sandbox
// (networkctl needs the bus), reading the sandbox's .network files.
class Networkd_Instance {
public:
    Networkd_Instance() = default;
    Networkd_Instance(const Networkd_Instance&) = delete;
    Networkd_Instance& operator=(const Networkd_Instance&) = delete;
    ~Networkd_Instance();
    // Starts both; false with the reason.
    bool start(std::string* why);
    // Waits until networkctl names the .network file it applied to `interface_name`; that file, or "".
    std::string wait_Network_File(const std::string& interface_name, double seconds);
    std::string log() const;

private:
    std::string dir;
};

#endif
