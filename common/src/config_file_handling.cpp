#include "config_file_handling.h"

#include <string.h>
#include <unistd.h>

#include <vector>

#include "extra_command_handling.h"
#include "file_replace.h"
#include "text_copy.h"

namespace {

// A new file is never created here; this is only the mode rule's fallback.
const mode_t new_file_mode = 0600;

// Lines with their "\n"; the last one may lack it.
std::vector<std::string> get_Lines(const std::string& content)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        size_t next = end == std::string::npos ? content.size() : end + 1;
        lines.push_back(content.substr(start, next - start));
        start = next;
    }
    return lines;
}

bool get_Ignored(const std::string& line, const char* ignore_str)
{
    return ignore_str != nullptr && line.find(ignore_str) != std::string::npos;
}

// The first '#' of the line stands before the key.
bool get_Commented(const std::string& line, size_t key_offset)
{
    size_t hash = line.find('#');
    return hash != std::string::npos && hash < key_offset;
}

std::string get_Keyed_Text(const std::string& name, char token, const std::string& data)
{
    return token == ' ' ? name + " " + data : name + token + " " + data;
}

bool get_Editable(const char* file_name, std::string* content)
{
    return file_name != nullptr && access(file_name, R_OK | W_OK) == 0 &&
           get_File_Content(file_name, content);
}

} // namespace

bool Config_File::get_Line_Value(const std::string& line, const std::string& name, char token,
                                 const char* ignore_str, bool ignore_comment_flag, std::string* value)
{
    size_t key = line.find(name + token);
    if (key == std::string::npos || get_Ignored(line, ignore_str))
        return false;
    if (!ignore_comment_flag && get_Commented(line, key))
        return false;
    std::string skip = std::string(" \t") + token;
    size_t start = line.find_first_not_of(skip, key + name.size());
    *value = start == std::string::npos ? std::string() : line.substr(start);
    return true;
}

std::string Config_File::set_Data_Text(const std::string& content, const std::string& name,
                                       const std::string& data, char token, const char* ignore_str,
                                       bool* replaced)
{
    std::string out;
    *replaced = false;
    for (const std::string& line : get_Lines(content)) {
        size_t key = line.find(name + token);
        if (key == std::string::npos || get_Ignored(line, ignore_str) || get_Commented(line, key)) {
            out += line;
            continue;
        }
        out += line.substr(0, key) + get_Keyed_Text(name, token, data) + "\n";
        *replaced = true;
    }
    if (!*replaced)
        out += "\n" + get_Keyed_Text(name, token, data);
    return out;
}

std::string Config_File::set_Data_Comment_Text(const std::string& content, const std::string& name,
                                               bool set_comment, char token, const char* ignore_str,
                                               bool* found)
{
    std::string out;
    *found = false;
    for (const std::string& line : get_Lines(content)) {
        size_t key = line.find(name + token);
        if (get_Ignored(line, ignore_str) || key == std::string::npos) {
            out += line;
            continue;
        }
        *found = true;
        bool hash_before = key != 0 && line[key - 1] == '#';
        if (set_comment && !hash_before)
            out += line.substr(0, key) + "#" + line.substr(key);
        else if (!set_comment && hash_before)
            out += line.substr(0, key - 1) + line.substr(key);
        else
            out += line;
    }
    return out;
}

uint8_t Config_File::get_Data(const char* file_name, const char* name, char* buffer,
                              unsigned int buffer_length, char token, const char* ignore_str,
                              bool ignore_comment_flag)
{
    if (file_name == nullptr || access(file_name, R_OK | W_OK) != 0)
        return 1;
    if (buffer == nullptr)
        return 2;
    std::string content;
    if (name == nullptr || !get_File_Content(file_name, &content))
        return 3;
    for (const std::string& line : get_Lines(content)) {
        std::string value;
        if (!get_Line_Value(line, name, token, ignore_str, ignore_comment_flag, &value))
            continue;
        if (buffer_length == 0)
            return 0;
        // Always terminated: a value longer than the buffer is cut.
        set_Terminated_Copy(buffer, buffer_length, value.data(), value.size());
        set_Line_End_Cut(buffer);
        return 0;
    }
    return 3;
}

uint8_t Config_File::set_Data(const char* file_name, const char* name, const char* data, char token,
                              const char* ignore_str)
{
    std::string content;
    if (name == nullptr || data == nullptr || !get_Editable(file_name, &content))
        return 2;
    bool replaced = false;
    std::string edited = set_Data_Text(content, name, data, token, ignore_str, &replaced);
    if (edited != content && set_File_Replace(file_name, edited, new_file_mode) != 0)
        return 2;
    return replaced ? 0 : 2;
}

uint8_t Config_File::set_Data_Comment(const char* file_name, const char* name, bool set_comment, char token,
                                      const char* ignore_str)
{
    std::string content;
    if (name == nullptr || !get_Editable(file_name, &content))
        return 1;
    bool found = false;
    std::string edited = set_Data_Comment_Text(content, name, set_comment, token, ignore_str, &found);
    if (edited != content && set_File_Replace(file_name, edited, new_file_mode) != 0)
        return 1;
    return found ? 0 : 1;
}
