#include "extra_command_handling.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "child_environment.h"
#include "guards.h"
#include "log.h"
#include "monotonic_clock.h"

namespace {

const char* const __log_tag = "Command";
// More than any answer the daemon reads (lsblk of 255 disks is about 10 KiB).
const size_t max_probe_output = 1 << 20;
// Output a probe's children may still flush once the shell itself has ended.
const int after_exit_grace_ms = 100;

const char* const systemd_command_verb[] = {
    "start", "stop", "restart", "enable", "disable", "status",
};
const size_t command_line_length = 256;
const int status_answer_length = 32;

// A budget on one tool's commands (start-up's nmcli calls): each gets at most
// `per_call_ms`, all together at most `total_ms`; once one ran out, the rest are skipped.
struct Tool_Budget {
    std::string prefix; // the tool's name and a blank; empty while no budget is set
    long per_call_ms = 0;
    long left_ms = 0;
    bool spent = false;
};
Tool_Budget tool_budget;

bool get_Budgeted(const char* cmd)
{
    return !tool_budget.prefix.empty() &&
           strncmp(cmd, tool_budget.prefix.c_str(), tool_budget.prefix.size()) == 0;
}

// Whether a budgeted command may run; false (the command skipped) once the budget is spent.
bool get_Budget_Open(const char* cmd)
{
    return !get_Budgeted(cmd) || !tool_budget.spent;
}

// The limit of a command under the budget: its own, or less.
long get_Budget_Limit(const char* cmd, long own_ms)
{
    if (!get_Budgeted(cmd))
        return own_ms;
    long limit = std::min(tool_budget.per_call_ms, tool_budget.left_ms);
    return own_ms < 0 ? limit : std::min(own_ms, limit);
}

// Charges a budgeted command's run; one that ran out of time spends the budget, with one ERROR line.
void set_Budget_Charged(const char* cmd, long spent_ms, bool timed_out)
{
    if (!get_Budgeted(cmd))
        return;
    tool_budget.left_ms = std::max(0L, tool_budget.left_ms - spent_ms);
    if ((timed_out || tool_budget.left_ms == 0) && !tool_budget.spent) {
        tool_budget.spent = true;
        LOG_ERROR_AS("set_Command",
                     "%s did not answer in time: its other calls are skipped until start-up ends",
                     tool_budget.prefix.substr(0, tool_budget.prefix.size() - 1).c_str());
    }
}

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

// The caller's buffer ends up holding the last line of the output, or the
// last piece of it that fits, as successive fgets calls leave it.
void set_Last_Line(FILE* output, char* result, int length)
{
    if (result != nullptr && length == 1) {
        drain_Output(output, result);
    } else if (result != nullptr && length > 0) {
        while (fgets(result, length, output) != nullptr) {
        }
    }
}

// How a child is run and read.
struct Child_Run {
    int captured = STDOUT_FILENO; // the output collected; a change's other streams go to /dev/null
    long timeout_ms = -1;         // the whole group is killed after it; -1 for no limit
    bool kill_leftovers = true;   // a child left holding the output after the shell ended is killed
};

// Starts a command in a process group of its own with `writer` as the output
// collected: its words are run as they are, without a shell; a line that is
// shell text (no words), or whose program cannot be run (for the shell's own
// status 127), runs through /bin/sh.
pid_t get_Child_Started(std::vector<std::string> words, const char* line, const Child_Run& how, int writer)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return -1;
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    (void)posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    (void)posix_spawnattr_setpgroup(&attributes, 0);
    if (how.captured != STDOUT_FILENO) {
        (void)posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDWR, 0);
        (void)posix_spawn_file_actions_adddup2(&actions, STDIN_FILENO, STDOUT_FILENO);
    }
    (void)posix_spawn_file_actions_adddup2(&actions, writer, how.captured);
    pid_t pid = -1;
    int rc = ENOENT;
    Child_Environment environment;
    if (!words.empty()) {
        std::vector<char*> argv;
        argv.reserve(words.size() + 1);
        for (std::string& word : words)
            argv.push_back(&word[0]);
        argv.push_back(nullptr);
        rc = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environment.get());
    }
    if (rc != 0) {
        char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(line), nullptr};
        rc = posix_spawn(&pid, "/bin/sh", &actions, &attributes, argv, environment.get());
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) {
        errno = rc;
        return -1;
    }
    return pid;
}

// Collects the output of a child started with `reader` as the other end of
// its pipe until it ends, then for a short grace while a child it left behind
// still holds it, and reaps it; the whole group is killed at `deadline`.
void set_Child_Collected(pid_t pid, int reader, long deadline, const Child_Run& how, std::string* output,
                         bool* timed_out, int* status)
{
    *timed_out = false;
    *status = 0;
    output->clear();
    bool exited = false;
    bool open = true;
    while (open) {
        if (!exited && waitpid(pid, status, WNOHANG) == pid) {
            exited = true;
            deadline = std::min(deadline, get_Monotonic_Ms() + after_exit_grace_ms);
        }
        long left = deadline - get_Monotonic_Ms();
        if (left <= 0) {
            *timed_out = !exited;
            break;
        }
        struct pollfd wait = {reader, POLLIN, 0};
        // Short polls while the shell runs, so that its end is seen at once.
        int ready = poll(&wait, 1, exited ? static_cast<int>(left) : static_cast<int>(std::min(left, 50L)));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        char chunk[4096];
        ssize_t n = read(reader, chunk, sizeof(chunk));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            open = false;
            continue;
        }
        size_t room = max_probe_output - std::min(max_probe_output, output->size());
        output->append(chunk, std::min(room, static_cast<size_t>(n)));
    }
    // Whatever of the group still runs has had its time.
    if (*timed_out || (open && how.kill_leftovers))
        kill(-pid, SIGKILL);
    if (!exited)
        while (waitpid(pid, status, 0) < 0 && errno == EINTR) {
        }
}

// The child's end of its output pipe is `writer`; -1 when the command could not be started.
pid_t get_Child_Piped(const std::vector<std::string>& words, const char* line, const Child_Run& how,
                      Descriptor* reader)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    reader->reset(fds[0]);
    Descriptor writer(fds[1]);
    return get_Child_Started(words, line, how, writer.get());
}

// The words a command line is run as: none for shell text, which the shell reads.
std::vector<std::string> get_Line_Words(const char* line)
{
    std::vector<std::string> words;
    (void)get_Shell_Words(line, &words);
    return words;
}

// Runs a command and collects one of its outputs (set_Child_Collected). -1 when it could not be started.
int run_Child(const std::vector<std::string>& words, const char* line, const Child_Run& how,
              std::string* output, bool* timed_out, int* status)
{
    Descriptor reader(-1);
    pid_t pid = get_Child_Piped(words, line, how, &reader);
    if (pid < 0)
        return -1;
    const long no_limit = 365L * 24 * 3600 * 1000;
    set_Child_Collected(pid, reader.get(),
                        get_Monotonic_Ms() + (how.timeout_ms < 0 ? no_limit : how.timeout_ms), how, output,
                        timed_out, status);
    return 0;
}

} // namespace

std::string get_Failure_Line(const std::string& errors)
{
    std::string last;
    size_t start = 0;
    while (start < errors.size()) {
        size_t end = std::min(errors.find_first_of("\r\n", start), errors.size());
        std::string line = errors.substr(start, end - start);
        start = end + 1;
        if (line.find_first_not_of(" \t") == std::string::npos)
            continue;
        std::string lower = line;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(tolower(c)); });
        if (lower.find("error") != std::string::npos || lower.find("fail") != std::string::npos)
            return line;
        last = line;
    }
    return last;
}

bool set_Change_Command(const char* cmd, std::string* failure, unsigned int timeout_seconds,
                        const std::vector<std::string>* argv)
{
    // A shell that runs it becomes the command, so its status (or signal) is the command's own.
    const std::string line = std::string("exec ") + cmd;
    const std::vector<std::string> words = argv != nullptr ? *argv : get_Line_Words(cmd);
    Child_Run how;
    how.captured = STDERR_FILENO;
    // A change is let finish; a child it left behind (a service it started) is not its to end.
    how.kill_leftovers = false;
    if (!get_Budget_Open(cmd)) {
        *failure = "\"" + get_Log_Text(cmd) + "\" was skipped: its tool did not answer during start-up";
        return false;
    }
    how.timeout_ms =
        get_Budget_Limit(cmd, timeout_seconds > 0 ? static_cast<long>(timeout_seconds) * 1000L : -1);
    std::string errors;
    bool timed_out = false;
    int status = 0;
    long started = get_Monotonic_Ms();
    if (run_Child(words, line.c_str(), how, &errors, &timed_out, &status) != 0) {
        *failure = "\"" + get_Log_Text(cmd) + "\" could not be started: " + strerror(errno);
        return false;
    }
    set_Budget_Charged(cmd, get_Monotonic_Ms() - started, timed_out);
    if (timed_out) {
        *failure = "\"" + get_Log_Text(cmd) + "\" did not finish within " +
                   std::to_string((how.timeout_ms + 999) / 1000) + " s";
        return false;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;
    std::string ended = WIFEXITED(status) ? "exited with status " + std::to_string(WEXITSTATUS(status))
                                          : "was killed by signal " + std::to_string(WTERMSIG(status));
    std::string first = get_Log_Text(get_Failure_Line(errors));
    *failure = "\"" + get_Log_Text(cmd) + "\" " + ended + (first.empty() ? "" : ": " + first);
    return false;
}

int8_t set_Command(const char* cmd, char* result, int length)
{
    std::string output;
    bool timed_out = false;
    int status = 0;
    if (run_Child(get_Line_Words(cmd), cmd, Child_Run(), &output, &timed_out, &status) != 0) {
        set_Perror_Line("set_Command");
        return -1;
    }
    set_Output_Last_Line(output, result, length);
    return 0;
}

Probe_Run::Probe_Run(const char* command, unsigned int timeout_seconds) : cmd(command)
{
    if (!get_Budget_Open(command)) {
        skipped = true;
        return;
    }
    timeout_ms = get_Budget_Limit(command, static_cast<long>(timeout_seconds) * 1000L);
    started_ms = get_Monotonic_Ms();
    pid = get_Child_Piped(get_Line_Words(command), command, Child_Run(), &reader);
    start_errno = errno;
}

Probe_Run::~Probe_Run()
{
    // A probe nobody read is not waited for: its group is stopped and reaped.
    if (pid > 0 && !collected) {
        kill(-pid, SIGKILL);
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}

int8_t Probe_Run::get_Output(std::string* output, bool* timed_out)
{
    bool stopped = false;
    bool& out_of_time = timed_out != nullptr ? *timed_out : stopped;
    out_of_time = false;
    output->clear();
    if (skipped || collected) {
        out_of_time = skipped;
        return 0;
    }
    if (pid < 0) {
        errno = start_errno;
        set_Perror_Line("set_Command");
        return -1;
    }
    collected = true;
    int status = 0;
    set_Child_Collected(pid, reader.get(), started_ms + timeout_ms, Child_Run(), output, &out_of_time,
                        &status);
    if (out_of_time)
        LOG_ERROR_AS("set_Command", "no answer from \"%s\" within %ld s: stopped", get_Log_Text(cmd).c_str(),
                     (timeout_ms + 999) / 1000);
    set_Budget_Charged(cmd.c_str(), get_Monotonic_Ms() - started_ms, out_of_time);
    return 0;
}

int8_t get_Probe_Output(const char* cmd, std::string* output, unsigned int timeout_seconds, bool* timed_out)
{
    Probe_Run run(cmd, timeout_seconds);
    return run.get_Output(output, timed_out);
}

void set_Tool_Budget(const char* tool, unsigned int per_call_seconds, unsigned int total_seconds)
{
    tool_budget.prefix = std::string(tool) + " ";
    tool_budget.per_call_ms = static_cast<long>(per_call_seconds) * 1000L;
    tool_budget.left_ms = static_cast<long>(total_seconds) * 1000L;
    tool_budget.spent = false;
}

void clear_Tool_Budget()
{
    tool_budget = Tool_Budget();
}

int8_t set_Probe_Command(const char* cmd, char* result, int length, unsigned int timeout_seconds,
                         bool* timed_out)
{
    std::string output;
    if (get_Probe_Output(cmd, &output, timeout_seconds, timed_out) != 0)
        return -1;
    set_Output_Last_Line(output, result, length);
    return 0;
}

void set_Output_Last_Line(std::string output, char* result, int length)
{
    if (output.empty() || result == nullptr || length <= 0)
        return;
    FILE* text = fmemopen(&output[0], output.size(), "r");
    if (text == nullptr)
        return;
    set_Last_Line(text, result, length);
    // A memory stream that was only read has nothing to report on close.
    (void)fclose(text);
}

int8_t set_Systemd_Service(const char* service_name, Systemd_Command cmd)
{
    if (static_cast<int>(cmd) < 0 || static_cast<int>(cmd) > STATUS)
        return -1;
    char command[command_line_length];
    // A longer command line is cut at 255 characters, as callers are told.
    (void)snprintf(command, sizeof(command), "systemctl %s %s", systemd_command_verb[cmd], service_name);
    if (set_Command(command, nullptr, 0) != 0)
        return -1;
    return 0;
}

Service_Answer get_Service_Answer(const std::string& answer)
{
    std::string word = answer.substr(0, answer.find_first_of(" \t\r\n"));
    if (word == "active" || word == "activating" || word == "reloading")
        return Service_Answer::RUNNING;
    if (word == "inactive" || word == "failed" || word == "unknown")
        return Service_Answer::STOPPED;
    return Service_Answer::OTHER;
}

bool get_Systemd_Service_Status(const char* service_name)
{
    char answer[status_answer_length];
    memset(answer, 0, sizeof(answer));
    char command[command_line_length];
    (void)snprintf(command, sizeof(command), "systemctl is-active %s", service_name);
    set_Probe_Command(command, answer, sizeof(answer));
    return get_Service_Answer(std::string(answer, strnlen(answer, sizeof(answer)))) ==
           Service_Answer::RUNNING;
}
