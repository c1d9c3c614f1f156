#include "log.h"

#include <errno.h>
#include <stdarg.h>
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

namespace {

// The length of the well-formed UTF-8 sequence at `p` (of `left` bytes), 0 for none.
size_t get_UTF8_Length(const unsigned char* p, size_t left)
{
    size_t length = p[0] >= 0xF0 && p[0] <= 0xF4 ? 4 : p[0] >= 0xE0 ? 3 : p[0] >= 0xC2 && p[0] < 0xE0 ? 2 : 0;
    if (length == 0 || length > left)
        return 0;
    for (size_t i = 1; i < length; ++i)
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    // No overlong form, no surrogate, nothing past U+10FFFF.
    if ((p[0] == 0xE0 && p[1] < 0xA0) || (p[0] == 0xED && p[1] > 0x9F) || (p[0] == 0xF0 && p[1] < 0x90) ||
        (p[0] == 0xF4 && p[1] > 0x8F))
        return 0;
    return length;
}

// `text` with every control character escaped: C0, DEL and C1 (U+0080 to U+009F) as "\n", "\x1b",
// "\xc2\x9b", and any byte that is not part of well-formed UTF-8 as "\xNN"; the backslash too when
// `backslash`.
void append_Escaped(std::string* escaped, const char* text, size_t size, bool backslash)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < size;) {
        unsigned char c = p[i];
        if (c >= 0x20 && c < 0x7F) {
            if (c == '\\' && backslash)
                *escaped += '\\';
            *escaped += static_cast<char>(c);
            ++i;
            continue;
        }
        size_t length = c >= 0x80 ? get_UTF8_Length(p + i, size - i) : 0;
        bool c1 = length == 2 && c == 0xC2 && p[i + 1] < 0xA0;
        if (length > 0 && !c1) {
            escaped->append(text + i, length);
            i += length;
            continue;
        }
        const char* named = c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : nullptr;
        for (size_t k = 0; k < (c1 ? 2u : 1u); ++k) {
            if (named != nullptr) {
                *escaped += named;
            } else {
                *escaped += "\\x";
                append_Hex_Byte(escaped, p[i + k]);
            }
        }
        i += c1 ? 2 : 1;
    }
}

// The message `format` and `args` make, however long.
std::string get_Formatted(const char* format, va_list args)
{
    va_list again;
    va_copy(again, args);
    char first[512];
    // The caller's va_start began `args`; the analyzer does not follow a va_list passed on.
    int needed = vsnprintf(first, sizeof(first), format, args); // NOLINT(clang-analyzer-valist.Uninitialized)
    std::string message;
    if (needed >= 0 && static_cast<size_t>(needed) < sizeof(first)) {
        message.assign(first, static_cast<size_t>(needed));
    } else if (needed >= 0) {
        message.resize(static_cast<size_t>(needed) + 1);
        (void)vsnprintf(&message[0], message.size(), format, again);
        message.resize(static_cast<size_t>(needed));
    }
    va_end(again);
    return message;
}

} // namespace

std::string get_Log_List(const std::vector<std::string>& items)
{
    const size_t shown = 4;
    std::string list;
    for (size_t i = 0; i < items.size() && i < shown; ++i)
        list += (list.empty() ? "" : ", ") + items[i];
    if (items.size() > shown)
        list += " and " + std::to_string(items.size() - shown) + " more";
    return list;
}

std::string get_Log_Text(const std::string& text)
{
    std::string escaped;
    escaped.reserve(text.size());
    append_Escaped(&escaped, text.data(), text.size(), true);
    return escaped;
}

extern "C" void set_Log_Line(FILE* stream, int priority, const char* level, const char* tag, const char* func,
                             const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string message = get_Formatted(format, args);
    va_end(args);
    // Whatever a value held, the line stays one line: no path or name can end it or forge another.
    std::string line;
    line.reserve(message.size() + 64);
    append_Escaped(&line, message.data(), message.size(), false);
    (void)fprintf(stream, "%s[%s]\t[%s] %s: %s%s\n", get_Log_Start(priority), level, tag, func, line.c_str(),
                  get_Log_End(priority));
}
