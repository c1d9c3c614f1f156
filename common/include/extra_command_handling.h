#ifndef LUMERION_EXTRA_COMMAND_HANDLING_H
#define LUMERION_EXTRA_COMMAND_HANDLING_H

#include <stdint.h>
#include <string>
#include <vector>

#include "guards.h"

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

// Runs a command that changes the host (one simple command) through the shell, in a process group
// of its own (Ctrl-C at the operator's terminal does not reach it), and waits
// for its end. True when it exited 0; otherwise false with `failure` naming
// the command, its exit status or signal, and the line of its error output that says why.
// With `timeout_seconds` (0: none) its whole group is killed after that long.
// `argv`, when given, are the command's words, run without a shell; otherwise the line's own words are,
// unless it is shell text.
bool set_Change_Command(const char* cmd, std::string* failure, unsigned int timeout_seconds = 0,
                        const std::vector<std::string>* argv = nullptr);

// The line of a failed command's error output that says why it failed: the first that names an error or
// a failure, else the last (netplan prints a warning first on every apply, and its cause last).
std::string get_Failure_Line(const std::string& errors);

// How long a command that only reads the host may take.
const unsigned int probe_timeout_seconds = 10;

// A command that only reads the host (a probe), run like set_Command but for
// at most `timeout_seconds`: then its whole process group is killed, the
// output read so far is used and one ERROR line names the command. A child
// left holding the output after the command ended does not hold the reader.
int8_t set_Probe_Command(const char* cmd, char* result, int length,
                         unsigned int timeout_seconds = probe_timeout_seconds, bool* timed_out = nullptr);
// What set_Probe_Command leaves in `result` for a probe that gave `output`.
void set_Output_Last_Line(std::string output, char* result, int length);
// The whole output of a probe (at most 1 MiB of it); `timed_out`, when
// given, says whether it was stopped (or skipped under a budget).
int8_t get_Probe_Output(const char* cmd, std::string* output,
                        unsigned int timeout_seconds = probe_timeout_seconds, bool* timed_out = nullptr);

// A probe started now and read later, so that it runs while the caller reads
// files: get_Output gives what get_Probe_Output would have given (its time
// limit counts from the start). One never read is stopped and reaped.
class Probe_Run {
public:
    explicit Probe_Run(const char* cmd, unsigned int timeout_seconds = probe_timeout_seconds);
    ~Probe_Run();
    Probe_Run(const Probe_Run&) = delete;
    Probe_Run& operator=(const Probe_Run&) = delete;
    int8_t get_Output(std::string* output, bool* timed_out = nullptr);

private:
    std::string cmd;
    int pid = -1;
    Descriptor reader;
    int start_errno = 0;
    long started_ms = 0;
    long timeout_ms = 0;
    bool skipped = false;
    bool collected = false;
};
// A budget on one tool's commands, probes and changes alike (start-up's nmcli
// calls, so that a hung NetworkManager cannot hold the first report back):
// each gets at most `per_call_seconds`, all together `total_seconds`; after
// the first that runs out, the others are skipped (one ERROR line), a skipped
// probe reading as timed out with no output. Until clear_Tool_Budget.
void set_Tool_Budget(const char* tool, unsigned int per_call_seconds, unsigned int total_seconds);
void clear_Tool_Budget();

// "systemctl <verb> <service>"; -1 for a verb out of range or a failed start.
int8_t set_Systemd_Service(const char* service_name, Systemd_Command cmd);

// What one line of "systemctl is-active" says: active, activating and reloading are RUNNING; inactive,
// failed and unknown are STOPPED; anything else (no answer, deactivating, ...) is OTHER, which each caller
// reads its own way.
enum class Service_Answer : uint8_t { RUNNING, STOPPED, OTHER };
Service_Answer get_Service_Answer(const std::string& answer);

// True when "systemctl is-active <service>" answers that it runs (a probe); OTHER is not running.
bool get_Systemd_Service_Status(const char* service_name);

// Cuts captured output at its first "\r", then at its first "\n". A line end
// at the very start of the text is passed over, not cut, as a tokenizer would.
void set_Line_End_Cut(char* text);

// The words of a command line that the shell would run as they stand: only
// blanks and the characters get_Shell_Word leaves plain, no leading
// assignment; a leading "exec" is dropped. False for any other line.
bool get_Plain_Words(const std::string& line, std::vector<std::string>* words);
// The same, where a word may also be quoted as get_Shell_Word quotes it
// ('...', with '\'' for a quote): the words every command the daemon builds is
// run as, without a shell. False for shell text (lists, expansions,
// redirections, double quotes), which only the shell may read.
bool get_Shell_Words(const std::string& line, std::vector<std::string>* words);
// Any text as one single-quoted shell word: each ' becomes '\''. Every value
// that reaches a command line from outside the daemon goes through this.
std::string get_Shell_Quoted_Word(const std::string& text);

// The text itself when it holds only characters the shell takes literally
// (letters, digits and @%+=:,./_-), so usual values keep their plain form in
// a command line; otherwise get_Shell_Quoted_Word.
std::string get_Shell_Word(const std::string& text);

#endif
