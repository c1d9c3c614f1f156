#include "system_info.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <utility>
#include <vector>

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
// Where the vendor keeps the file, read when the host has no /etc/os-release.
const char* const os_release_fallback_path = "/usr/lib/os-release";
const size_t max_hostname_length = 64;
const size_t max_hostname_label_length = 63;

const char* const hosts_path = "/etc/hosts";

bool get_Loopback_Address(const std::string& address)
{
    return address.compare(0, 4, "127.") == 0 || address == "::1";
}

// The name a hosts entry gets for the new host name: the short form for the short one, the domain form
// (the old domain kept, unless the new name brings its own) for a domain form.
std::string get_Renamed_Entry(const std::string& entry, const std::string& old_short,
                              const std::string& new_name)
{
    std::string new_short = new_name.substr(0, new_name.find('.'));
    if (entry == old_short)
        return new_short;
    if (entry.compare(0, old_short.size() + 1, old_short + ".") == 0)
        return new_name.find('.') != std::string::npos ? new_name
                                                       : new_short + entry.substr(old_short.size());
    return entry;
}

// The host's name as hostnamectl last set it (/etc/hostname): the daemon's own view of the kernel's name
// (ProtectHostname) stays the one it started with.
std::string get_Static_Hostname()
{
    std::string text;
    std::string why;
    if (get_File_Content("/etc/hostname", &text, &why, 4096)) {
        text.resize(std::min(text.find_first_of(" \t\r\n"), text.size()));
        if (!text.empty())
            return text;
    }
    char name[HOST_NAME_MAX + 1] = {0};
    return gethostname(name, sizeof(name) - 1) == 0 ? std::string(name) : std::string();
}

// /etc/hosts follows a new host name, so that the name still resolves without DNS.
void set_Hosts_Followed(const std::string& old_name, const std::string& new_name)
{
    std::string text;
    std::string why;
    if (old_name.empty() || old_name == new_name || !get_File_Content(hosts_path, &text, &why))
        return;
    // cloud-init writes the file again from its template at each boot.
    if (text.find("manage_etc_hosts") != std::string::npos) {
        LOG_INFO("%s is written by cloud-init from its template (manage_etc_hosts): left as it is",
                 hosts_path);
        return;
    }
    std::string renamed;
    if (!System_Info::get_Hosts_Renamed(text, old_name, new_name, &renamed))
        return;
    int error = set_File_Replace(hosts_path, renamed, 0644);
    if (error != 0)
        LOG_ERROR("%s still maps %s: %s", hosts_path, get_Log_Text(old_name).c_str(), strerror(error));
    else
        LOG_INFO("%s maps %s where it mapped %s", hosts_path, new_name.c_str(),
                 get_Log_Text(old_name).c_str());
}

std::string get_Command_Line_Text(const char* cmd)
{
    char receive[receive_buffer_length];
    memset(receive, 0, sizeof(receive));
    set_Probe_Command(cmd, receive, sizeof(receive));
    set_Line_End_Cut(receive);
    return std::string(receive, strnlen(receive, sizeof(receive)));
}

bool get_Key_Start(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool get_Key_Char(char c)
{
    return get_Key_Start(c) || (c >= '0' && c <= '9');
}

// One assignment's value from `at` (just past its '='), as the shell would assign it but with nothing
// expanded: quoted and bare pieces joined, a backslash escaping what the shell lets it escape. `at` ends
// past the line the value ends on.
std::string get_Assigned_Value(const std::string& text, size_t* at)
{
    std::string value;
    size_t i = *at;
    const size_t n = text.size();
    while (i < n && text[i] != '\n') {
        char c = text[i];
        if (c == '\'') {
            size_t close = text.find('\'', i + 1);
            close = close == std::string::npos ? n : close;
            value.append(text, i + 1, close - i - 1);
            i = close + 1;
        } else if (c == '"') {
            for (++i; i < n && text[i] != '"'; ++i) {
                // Inside double quotes a backslash escapes only these; a newline after it joins the lines.
                if (text[i] == '\\' && i + 1 < n && strchr("\"\\$`\n", text[i + 1]) != nullptr) {
                    if (text[++i] != '\n')
                        value += text[i];
                    continue;
                }
                value += text[i];
            }
            ++i;
        } else if (c == '\\') {
            if (i + 1 < n && text[i + 1] != '\n')
                value += text[i + 1];
            i += 2;
        } else {
            value += c;
            ++i;
        }
    }
    *at = std::min(i, n) + 1;
    // A value is one line of text: it ends at the first control character.
    size_t control = 0;
    while (control < value.size() && static_cast<unsigned char>(value[control]) >= 0x20 &&
           value[control] != 0x7F)
        ++control;
    value.resize(control);
    // Trailing blanks outside quotes end a bare value (the format's own parsers drop them).
    value.erase(value.find_last_not_of(" \t\r") + 1);
    return value;
}

} // namespace

std::string System_Info::get_OS_Release_Name(const std::string& text)
{
    std::string pretty_name, name, version;
    size_t at = 0;
    while (at < text.size()) {
        at = text.find_first_not_of(" \t", at);
        if (at == std::string::npos)
            break;
        size_t key_end = at;
        while (key_end < text.size() && get_Key_Char(text[key_end]))
            ++key_end;
        if (!get_Key_Start(text[at]) || key_end >= text.size() || text[key_end] != '=') {
            // A comment, a blank line or no assignment: the line is skipped.
            size_t line_end = text.find('\n', at);
            at = line_end == std::string::npos ? text.size() : line_end + 1;
            continue;
        }
        const std::string key = text.substr(at, key_end - at);
        at = key_end + 1;
        std::string value = get_Assigned_Value(text, &at);
        if (key == "PRETTY_NAME")
            pretty_name = value;
        else if (key == "NAME")
            name = value;
        else if (key == "VERSION")
            version = value;
    }
    // The format's defaults: NAME is "Linux" when unset, and the pretty name is the name and version.
    return !pretty_name.empty() ? pretty_name
                                : (name.empty() ? "Linux" : name) + (version.empty() ? "" : " " + version);
}

const std::string System_Info::get_OS_Info()
{
    // The vendor's copy stands in only for a host without the file (or with a dangling link).
    const char* path =
        access(os_release_path, F_OK) != 0 && errno == ENOENT && access(os_release_fallback_path, F_OK) == 0
            ? os_release_fallback_path
            : os_release_path;
    std::string content;
    std::string why;
    // Read as data, never run: a FIFO is not waited on, nor a huge file read whole.
    if (!get_File_Content(path, &content, &why)) {
        LOG_ERROR("cannot read %s: %s", path, get_Log_Text(why).c_str());
        return "";
    }
    return get_OS_Release_Name(content);
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
    const std::string old_name = get_Static_Hostname();
    std::string failure;
    if (!set_Change_Command(get_Hostname_Command(value.c_str()).c_str(), &failure)) {
        LOG_ERROR("the hostname was not set: %s", failure.c_str());
        return false;
    }
    set_Hosts_Followed(old_name, value);
    return true;
}

bool System_Info::get_Hosts_Renamed(const std::string& text, const std::string& old_name,
                                    const std::string& new_name, std::string* renamed)
{
    const std::string old_short = old_name.substr(0, old_name.find('.'));
    bool changed = false;
    renamed->clear();
    if (old_short.empty() || new_name.empty())
        return false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string line = text.substr(start, end - start);
        start = end;
        // The fields before any comment, each with where it starts.
        const size_t content = std::min(line.find('#'), line.size());
        std::vector<std::pair<size_t, std::string>> fields;
        for (size_t at = line.find_first_not_of(" \t\r\n"); at < content;
             at = line.find_first_not_of(" \t\r\n", at)) {
            size_t stop = std::min(line.find_first_of(" \t\r\n#", at), content);
            fields.emplace_back(at, line.substr(at, stop - at));
            at = stop;
        }
        bool maps = false;
        for (size_t k = 1; k < fields.size(); ++k)
            maps = maps || get_Renamed_Entry(fields[k].second, old_short, new_name) != fields[k].second;
        if (fields.size() < 2 || !get_Loopback_Address(fields[0].second) || !maps) {
            *renamed += line;
            continue;
        }
        // Rewritten from the last field back, so that the earlier ones keep their places.
        for (size_t k = fields.size() - 1; k >= 1; --k)
            line.replace(fields[k].first, fields[k].second.size(),
                         get_Renamed_Entry(fields[k].second, old_short, new_name));
        *renamed += line;
        changed = true;
    }
    return changed;
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
