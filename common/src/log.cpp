#include "log.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include "hex_text.h"

namespace {

FILE* log_file = nullptr;
FILE* log_stdout = nullptr;
FILE* log_stderr = nullptr;

// Gates are read by the main and transmit threads without a lock; relaxed
// atomics give exactly "a change is seen by every later statement".
std::atomic<bool> info_log_enable{true};
std::atomic<bool> warn_log_enable{true};
std::atomic<bool> error_log_enable{true};
std::atomic<bool> debug_log_enable{false};

// Whether each log stream is connected to the journal; a log file never is.
std::atomic<bool> stdout_journal{false};
std::atomic<bool> stderr_journal{false};

// Whether `stream` is the one JOURNAL_STREAM ("device:inode") names.
bool get_Journal_Stream(FILE* stream)
{
    const char* value = getenv("JOURNAL_STREAM");
    unsigned long long device = 0, inode = 0;
    char end = 0;
    struct stat info;
    if (value == nullptr || sscanf(value, "%llu:%llu%c", &device, &inode, &end) != 2 ||
        fstat(fileno(stream), &info) != 0)
        return false;
    return static_cast<unsigned long long>(info.st_dev) == device &&
           static_cast<unsigned long long>(info.st_ino) == inode;
}

// Only the one-character text "1" switches debug on; nothing switches it off.
void apply_Debug_Environment()
{
    const char* value = getenv("DEBUG");
    if (value != nullptr && value[0] == '1' && value[1] == '\0')
        debug_log_enable.store(true, std::memory_order_relaxed);
}

// Runs before any other unit's static initialisers so that they may log.
__attribute__((constructor(101))) void load_Log_Output()
{
    init_Log_Output();
}

} // namespace

extern "C" {

void init_Log_Output(void)
{
    apply_Debug_Environment();
    // Line buffering only keeps lines whole; a stream without it still works.
    (void)setvbuf(stdout, nullptr, _IOLBF, 0);
    (void)setvbuf(stderr, nullptr, _IOLBF, 0);
    log_stdout = stdout;
    log_stderr = stderr;
    stdout_journal.store(get_Journal_Stream(stdout), std::memory_order_relaxed);
    stderr_journal.store(get_Journal_Stream(stderr), std::memory_order_relaxed);
}

const char* get_Log_Start(int priority)
{
    // ERROR lines go to the error stream, the others to the output stream.
    bool journal = (priority <= 3 ? stderr_journal : stdout_journal).load(std::memory_order_relaxed);
    switch (priority) {
    case 3:
        return journal ? "<3>" : "\033[31m";
    case 7:
        return journal ? "<7>" : "\033[32m";
    default:
        return journal ? "<6>" : "";
    }
}

const char* get_Log_End(int priority)
{
    bool journal = (priority <= 3 ? stderr_journal : stdout_journal).load(std::memory_order_relaxed);
    return journal || (priority != 3 && priority != 7) ? "" : "\033[0m";
}

void set_Perror_Line(const char* what)
{
    int error = errno;
    (void)fprintf(stderr, "%s%s: %s\n", get_Journal_Stream(stderr) ? "<3>" : "", what, strerror(error));
}

bool get_Info_Log_Status(void)
{
    return info_log_enable.load(std::memory_order_relaxed);
}
bool get_Warn_Log_Status(void)
{
    return warn_log_enable.load(std::memory_order_relaxed);
}
bool get_Error_Log_Status(void)
{
    return error_log_enable.load(std::memory_order_relaxed);
}
bool get_Debug_Log_Status(void)
{
    return debug_log_enable.load(std::memory_order_relaxed);
}

void set_Info_Log(bool enable)
{
    info_log_enable.store(enable, std::memory_order_relaxed);
}
void set_Warn_Log(bool enable)
{
    warn_log_enable.store(enable, std::memory_order_relaxed);
}
void set_Error_Log(bool enable)
{
    error_log_enable.store(enable, std::memory_order_relaxed);
}
void set_Debug_Log(bool enable)
{
    debug_log_enable.store(enable, std::memory_order_relaxed);
}

FILE* get_stdout(void)
{
    return log_stdout;
}
FILE* get_stderr(void)
{
    return log_stderr;
}

uint8_t set_Log_Output_File(const char* path, const char* mode)
{
    if (log_file != nullptr) {
        init_Log_Output();
        // The old file's last lines may be lost; there is no log left to say so.
        (void)fclose(log_file);
        log_file = nullptr;
    }
    if (path == nullptr || mode == nullptr)
        return 1;
    log_file = fopen(path, mode);
    if (log_file == nullptr)
        return 1;
    (void)setvbuf(log_file, nullptr, _IOLBF, 0);
    log_stdout = log_file;
    log_stderr = log_file;
    stdout_journal.store(false, std::memory_order_relaxed);
    stderr_journal.store(false, std::memory_order_relaxed);
    return 0;
}

} // extern "C"

std::string get_Log_Text(const std::string& text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (unsigned char c : text) {
        if (c == '\\') {
            escaped += "\\\\";
        } else if (c == '\n') {
            escaped += "\\n";
        } else if (c == '\r') {
            escaped += "\\r";
        } else if (c == '\t') {
            escaped += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            escaped += "\\x";
            append_Hex_Byte(&escaped, c);
        } else {
            escaped += static_cast<char>(c);
        }
    }
    return escaped;
}
