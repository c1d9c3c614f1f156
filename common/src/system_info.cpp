#include "system_info.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "extra_command_handling.h"
#include "file_replace.h"
#include "log.h"
#include "text_lines.h"

namespace {

const char* const __log_tag = "System Info";
const size_t receive_buffer_length = 128;
const char* const disk_list_command = "lsblk -p -o NAME,SIZE,TYPE -n --exclude 1,7";
const char* const meminfo_path = "/proc/meminfo";
const size_t max_meminfo_bytes = 1 << 20;
const char* const os_release_path = "/etc/os-release";
const size_t max_hostname_length = 64;
const size_t max_hostname_label_length = 63;

std::string get_Command_Line_Text(const char* cmd)
{
    char receive[receive_buffer_length];
    memset(receive, 0, sizeof(receive));
    set_Probe_Command(cmd, receive, sizeof(receive));
    set_Line_End_Cut(receive);
    return std::string(receive, strnlen(receive, sizeof(receive)));
}

} // namespace

const std::string System_Info::get_OS_Info()
{
    std::string content;
    std::string why;
    // The shell would wait for ever on a FIFO, or read a huge file whole.
    if (!get_File_Content(os_release_path, &content, &why)) {
        LOG_ERROR("cannot read %s: %s", os_release_path, why.c_str());
        return "";
    }
    return get_Command_Line_Text("bash -c 'source /etc/os-release; echo ${PRETTY_NAME}'");
}

const std::string System_Info::get_Kernel_Version()
{
    return get_Command_Line_Text("uname -r");
}

const std::string System_Info::get_Uptime()
{
    return get_Command_Line_Text("uptime -p");
}

const std::string System_Info::get_Hostname()
{
    return get_Command_Line_Text("hostname");
}

// The published signature takes the name by value.
// cppcheck-suppress passedByValue
void System_Info::set_Hostname(std::string value) // NOLINT(performance-unnecessary-value-param)
{
    update_Hostname(value);
}

bool System_Info::update_Hostname(const std::string& value)
{
    if (!get_Hostname_Valid(value.c_str())) {
        LOG_ERROR("refused hostname: not a valid host name");
        return false;
    }
    std::string failure;
    if (!set_Change_Command(get_Hostname_Command(value.c_str()).c_str(), &failure)) {
        LOG_ERROR("the hostname was not set: %s", failure.c_str());
        return false;
    }
    return true;
}

std::string System_Info::get_Hostname_Command(const char* name)
{
    return std::string("hostnamectl set-hostname ") + name;
}

bool System_Info::get_Disk_Line(const char* line, std::string* name, std::string* size)
{
    const char* separators = " \t\n";
    std::string tokens[3];
    size_t count = 0;
    const char* p = line;
    while (count < 3) {
        p += strspn(p, separators);
        if (*p == '\0')
            break;
        size_t length = strcspn(p, separators);
        tokens[count++].assign(p, length);
        p += length;
    }
    if (count < 3 || tokens[2] != "disk")
        return false;
    *name = tokens[0];
    *size = tokens[1];
    return true;
}

bool System_Info::get_Disk_Info(uint8_t* disk_count, std::string* disk_name, std::string* disk_size)
{
    std::string listing;
    if (get_Probe_Output(disk_list_command, &listing) != 0) {
        LOG_ERROR("popen() Error");
        return false;
    }
    std::string name, size;
    Text_Lines lines(listing);
    for (std::string line; lines.get_Next_Line(&line);) {
        if (!get_Disk_Line(line.c_str(), &name, &size))
            continue;
        if (*disk_count == 0) {
            *disk_name = name;
            *disk_size = size;
        } else {
            *disk_name += "|" + name;
            *disk_size += "|" + size;
        }
        // The count is one byte on the bus: it stays at 255 rather than wrap.
        if (*disk_count < UINT8_MAX)
            ++*disk_count;
    }
    return true;
}

bool System_Info::get_Meminfo_Total_Line(const char* line, uint64_t* total_kb)
{
    // Tokens are separated by spaces only; a tab stays inside its token.
    const char* p = line + strspn(line, " ");
    if (strncmp(p, "MemTotal", 8) != 0)
        return false;
    p += strcspn(p, " ");
    p += strspn(p, " ");
    if (*p == '\0')
        return false;
    *total_kb = strtoull(p, nullptr, 10);
    return true;
}

uint64_t System_Info::get_Memory_Total_Size()
{
    std::string table;
    // The kernel's file is a few KiB; anything standing in for it is read only so far.
    if (!get_Table_Text(meminfo_path, max_meminfo_bytes, &table))
        return 0;
    uint64_t total_kb = 0;
    Text_Lines lines(table);
    for (std::string line; lines.get_Next_Line(&line);)
        get_Meminfo_Total_Line(line.c_str(), &total_kb);
    return total_kb >> 20;
}

bool System_Info::get_Hostname_Valid(const char* name)
{
    if (name == nullptr)
        return false;
    size_t length = strnlen(name, max_hostname_length + 1);
    if (length == 0 || length > max_hostname_length)
        return false;
    size_t label_length = 0;
    for (size_t i = 0; i <= length; ++i) {
        char c = name[i];
        if (c == '.' || c == '\0') {
            if (label_length == 0 || label_length > max_hostname_label_length || name[i - 1] == '-')
                return false;
            label_length = 0;
            continue;
        }
        bool letter_or_digit = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!letter_or_digit && !(c == '-' && label_length > 0))
            return false;
        ++label_length;
    }
    return true;
}
