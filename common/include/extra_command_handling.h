#ifndef LUMERION_EXTRA_COMMAND_HANDLING_H
#define LUMERION_EXTRA_COMMAND_HANDLING_H

#include <stdint.h>
#include <string>

enum Systemd_Command : int {
    START = 0,
    STOP = 1,
    RESTART = 2,
    ENABLE = 3,
    DISABLE = 4,
    STATUS = 5,
    INVALID = 6,
};

// Runs `cmd` through the shell. When `result` is given (and `length` > 0) it
// ends up holding the last line of the command's standard output, or the last
// piece of it that fits. 0 when the command was started, -1 when it could not
// be (a "set_Command" perror line is then printed). The exit status of the
// command is never examined.
int8_t set_Command(const char* cmd, char* result, int length);

// "systemctl <verb> <service>"; -1 for a verb out of range or a failed start.
int8_t set_Systemd_Service(const char* service_name, Systemd_Command cmd);

// True when "systemctl is-active <service>" answers with "active".
bool get_Systemd_Service_Status(const char* service_name);

// Cuts captured output at its first "\r", then at its first "\n". A line end
// at the very start of the text is passed over, not cut, as a tokenizer would.
void set_Line_End_Cut(char* text);

// Any text as one single-quoted shell word: each ' becomes '\''. Every value
// that reaches a command line from outside the daemon goes through this.
std::string get_Shell_Quoted_Word(const std::string& text);

// The text itself when it holds only characters the shell takes literally
// (letters, digits and @%+=:,./_-), so usual values keep their plain form in
// a command line; otherwise get_Shell_Quoted_Word.
std::string get_Shell_Word(const std::string& text);

#endif
