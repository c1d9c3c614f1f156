#include "extra_command_handling.h"

#include <stdio.h>
#include <string.h>

namespace {

const char* const systemd_command_verb[] = {
    "start", "stop", "restart", "enable", "disable", "status",
};
const size_t command_line_length = 256;
const int status_answer_length = 32;
const char* const active_answer = "active";

// fgets with a one-byte buffer returns at once without consuming anything,
// so a reading loop would never reach the end of the output; drain it instead
// and leave the empty last piece that such a buffer can hold.
void drain_Output(FILE* pipe, char* result)
{
    char scratch[256];
    bool any = false;
    while (fread(scratch, 1, sizeof(scratch), pipe) > 0)
        any = true;
    if (any)
        result[0] = '\0';
}

} // namespace

int8_t set_Command(const char* cmd, char* result, int length)
{
    FILE* pipe = popen(cmd, "r");
    if (pipe == nullptr) {
        perror("set_Command");
        return -1;
    }
    if (result != nullptr && length == 1) {
        drain_Output(pipe, result);
    } else if (result != nullptr && length > 0) {
        while (fgets(result, length, pipe) != nullptr) {
        }
    }
    pclose(pipe);
    return 0;
}

int8_t set_Systemd_Service(const char* service_name, Systemd_Command cmd)
{
    if (static_cast<int>(cmd) < 0 || static_cast<int>(cmd) > STATUS)
        return -1;
    char command[command_line_length];
    snprintf(command, sizeof(command), "systemctl %s %s", systemd_command_verb[cmd], service_name);
    if (set_Command(command, nullptr, 0) != 0)
        return -1;
    return 0;
}

bool get_Systemd_Service_Status(const char* service_name)
{
    char answer[status_answer_length];
    memset(answer, 0, sizeof(answer));
    char command[command_line_length];
    snprintf(command, sizeof(command), "systemctl is-active %s", service_name);
    set_Command(command, answer, sizeof(answer));
    return strncmp(answer, active_answer, strlen(active_answer)) == 0;
}

std::string get_Shell_Quoted_Word(const std::string& text)
{
    std::string word;
    word.reserve(text.size() + 2);
    word.push_back('\'');
    for (char c : text) {
        if (c == '\'')
            word.append("'\\''");
        else
            word.push_back(c);
    }
    word.push_back('\'');
    return word;
}

std::string get_Shell_Word(const std::string& text)
{
    const char* literal = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789@%+=:,./_-";
    if (!text.empty() && text.find_first_not_of(literal) == std::string::npos)
        return text;
    return get_Shell_Quoted_Word(text);
}

void set_Line_End_Cut(char* text)
{
    for (const char* ends : {"\r", "\n"}) {
        size_t start = strspn(text, ends);
        if (text[start] == '\0')
            continue;
        text[start + strcspn(text + start, ends)] = '\0';
    }
}
