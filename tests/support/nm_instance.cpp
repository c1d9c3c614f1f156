#include "nm_instance.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "sandbox.h"

namespace {

const char* const bus_config =
    R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=/run/dbus/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
  </policy>
</busconfig>
)";

const char* const nm_config = "[main]\nplugins=keyfile\nauth-polkit=false\ndns=none\nrc-manager=unmanaged\n"
                              "hostname-mode=none\n\n"
                              "[keyfile]\nunmanaged-devices=interface-name:eth0-peer\n";

double get_Seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

bool start_System_Bus(const std::string& dir, std::string* why)
{
    std::filesystem::create_directories("/run/dbus");
    write_File(dir + "/bus.conf", bus_config);
    // A read-only /sys tells the network daemons there is no udev to wait for.
    if (run_Shell("mount -o remount,ro /sys && dbus-daemon --config-file=" + dir +
                  "/bus.conf --fork --print-pid > " + dir + "/dbus.pid") != 0) {
        *why = "cannot start dbus-daemon";
        return false;
    }
    return true;
}

bool Nm_Instance::start(std::string* why, bool automatic_profiles)
{
    dir = get_Sandbox_Dir() + "/nm";
    std::filesystem::create_directories(dir);
    std::string config = nm_config;
    if (!automatic_profiles)
        config.insert(config.find("hostname-mode"), "no-auto-default=*\n");
    write_File(dir + "/nm.conf", config);
    // The state directory exists wherever NetworkManager is installed; it is never created on the host.
    if (!std::filesystem::is_directory("/var/lib/NetworkManager")) {
        *why = "/var/lib/NetworkManager is missing: NetworkManager is not installed";
        return false;
    }
    if (run_Shell("mount -t tmpfs nm-state /var/lib/NetworkManager") != 0) {
        *why = "cannot mount NetworkManager's state directory";
        return false;
    }
    return start_System_Bus(dir, why) && start_Manager(why);
}

bool Nm_Instance::restart_Cleared(std::string* why)
{
    // The sandbox's own pid namespace: only its NetworkManager is asked to stop.
    if (run_Shell(
            "pkill -x NetworkManager; for i in $(seq 1 100); do pgrep -x NetworkManager >/dev/null || break; "
            "sleep 0.1; done; ! pgrep -x NetworkManager >/dev/null && rm -rf /run/NetworkManager && "
            "ip addr flush dev eth0") != 0) {
        *why = "NetworkManager did not stop";
        return false;
    }
    return start_Manager(why);
}

bool Nm_Instance::start_Manager(std::string* why)
{
    if (run_Shell("(NetworkManager --debug --no-daemon --config=" + dir + "/nm.conf --pid-file=" + dir +
                  "/nm.pid >> " + dir + "/nm.log 2>&1 &)") != 0) {
        *why = "cannot start NetworkManager";
        return false;
    }
    double deadline = get_Seconds() + 60;
    while (get_Seconds() < deadline) {
        if (nmcli("-t -f RUNNING general") == "running\n")
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    *why = "NetworkManager did not answer within 60 s:\n" + log();
    return false;
}

bool Nm_Instance::wait_Device(const std::string& line, double seconds, const std::string& fields)
{
    double deadline = get_Seconds() + seconds;
    while (get_Seconds() < deadline) {
        if (("\n" + nmcli("-t -f " + fields + " device")).find("\n" + line) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

std::string Nm_Instance::nmcli(const std::string& args) const
{
    std::string out = dir + "/nmcli.out";
    run_Shell("/usr/bin/nmcli " + args + " > " + out + " 2>/dev/null");
    return read_File(out);
}

std::string Nm_Instance::log() const
{
    return read_File(dir + "/nm.log");
}

Nm_Instance::~Nm_Instance()
{
    if (!dir.empty())
        run_Shell("kill $(cat " + dir + "/nm.pid " + dir + "/dbus.pid 2>/dev/null) 2>/dev/null");
}
