#include "networkd_instance.h"

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "nm_instance.h"
#include "sandbox.h"

namespace {

double get_Seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

bool Networkd_Instance::start(std::string* why)
{
    dir = get_Sandbox_Dir() + "/networkd";
    std::filesystem::create_directories(dir);
    if (!start_System_Bus(dir, why))
        return false;
    // networkd keeps its link state here, as its own user; networkctl reads it.
    if (run_Shell(
            "mkdir -p /run/systemd/netif && chown systemd-network:systemd-network /run/systemd/netif && "
            "(/lib/systemd/systemd-networkd > " +
            dir + "/networkd.log 2>&1 & echo $! > " + dir + "/networkd.pid)") != 0) {
        *why = "cannot start systemd-networkd";
        return false;
    }
    return true;
}

std::string Networkd_Instance::wait_Network_File(const std::string& interface_name, double seconds)
{
    std::string out = dir + "/networkctl.out";
    double deadline = get_Seconds() + seconds;
    while (get_Seconds() < deadline) {
        run_Shell("/usr/bin/networkctl --no-pager status " + interface_name + " > " + out + " 2>&1");
        std::istringstream in(read_File(out));
        for (std::string line; std::getline(in, line);) {
            size_t at = line.find("Network File: /");
            if (at != std::string::npos)
                return line.substr(at + 14);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return "";
}

std::string Networkd_Instance::log() const
{
    return read_File(dir + "/networkd.log");
}

Networkd_Instance::~Networkd_Instance()
{
    if (!dir.empty())
        run_Shell("kill $(cat " + dir + "/networkd.pid " + dir + "/dbus.pid 2>/dev/null) 2>/dev/null");
}
