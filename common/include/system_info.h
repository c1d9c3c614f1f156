#ifndef LUMERION_SYSTEM_INFO_H
#define LUMERION_SYSTEM_INFO_H

#include <stdint.h>
#include <string>

// Facts about the host for the host report, from host tools and /proc.
class System_Info {
public:
    static const std::string get_OS_Info();
    static const std::string get_Kernel_Version();
    static const std::string get_Uptime();
    static const std::string get_Hostname();
    // Runs the hostname command for a valid name; refuses any other.
    static void set_Hostname(std::string value);
    // The same, telling whether the host took the name: false, with one ERROR
    // line, for a name that is not valid (the name lands in a root shell
    // command line) or a hostname command that failed.
    static bool update_Hostname(const std::string& value);
    // The shell command that sets the host name to `name`, checked or not.
    static std::string get_Hostname_Command(const char* name);
    // Disks as "name|name" and "size|size", appended after what the caller
    // passes in; false only when lsblk cannot be started.
    static bool get_Disk_Info(uint8_t* disk_count, std::string* disk_name, std::string* disk_size);
    // Total memory in whole GiB; 0 without a MemTotal line.
    static uint64_t get_Memory_Total_Size();

    // The OS name an os-release text gives, read as data (nothing in it is run or expanded):
    // PRETTY_NAME, else NAME and VERSION, else "Linux"; cut at its first control character.
    static std::string get_OS_Release_Name(const std::string& text);
    // One line of "lsblk -p -o NAME,SIZE,TYPE -n": true for a disk, with its
    // name and size; partitions, volumes and short lines give false.
    static bool get_Disk_Line(const char* line, std::string* name, std::string* size);
    // One line of /proc/meminfo: true for the MemTotal line, with its kB value.
    static bool get_Meminfo_Total_Line(const char* line, uint64_t* total_kb);
    // /etc/hosts with the host's name changed from `old_name` to `new_name` on the lines that map it to a
    // loopback address (Debian's installer: "127.0.1.1 kt-host.example.com kt-host"), short name and domain
    // form alike, every other byte as it was. False when no such line maps the old name.
    static bool get_Hosts_Renamed(const std::string& text, const std::string& old_name,
                                  const std::string& new_name, std::string* renamed);
    // A valid host name: dot-separated labels of letters, digits and hyphens,
    // 1 to 63 characters each, no hyphen at either end, 64 characters at most.
    static bool get_Hostname_Valid(const char* name);
};

#endif
