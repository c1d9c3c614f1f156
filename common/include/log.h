#ifndef LUMERION_LOG_H
#define LUMERION_LOG_H

#include <stdint.h>
#include <stdio.h>

// The console log: four level gates and the two streams every line goes to.
// Plain C symbols so that any unit (and any tool) can link against them.
extern "C" {
void init_Log_Output(void);

bool get_Info_Log_Status(void);
bool get_Warn_Log_Status(void);
bool get_Error_Log_Status(void);
bool get_Debug_Log_Status(void);

void set_Info_Log(bool enable);
void set_Warn_Log(bool enable);
void set_Error_Log(bool enable);
void set_Debug_Log(bool enable);

FILE* get_stdout(void);
FILE* get_stderr(void);

// What a line of `priority` (3 ERROR, 6 INFO, 7 DEBUG) starts and ends with on
// its stream: systemd's priority prefix ("<3>") on a stream connected to the
// journal (JOURNAL_STREAM names its device and inode), else the colour
// escapes a terminal shows.
const char* get_Log_Start(int priority);
const char* get_Log_End(int priority);
// perror() as an ERROR line: on a journal stream it carries the prefix.
void set_Perror_Line(const char* what);

uint8_t set_Log_Output_File(const char* path, const char* mode);
}

#include <string>
#include <vector>

// Text from the BMC or a host tool as it may stand in a log line: control
// characters (C0, DEL and C1) and the backslash escaped ("\n", "\x1b",
// "\xc2\x9b", "\\"), and bytes that are not UTF-8 as "\xNN", so that no
// value can end a line early or forge another.
std::string get_Log_Text(const std::string& text);

// A list as a log line names it, ", "-joined: the first four items, then how many more, so that no
// number of files or interfaces makes a line without end.
std::string get_Log_List(const std::vector<std::string>& items);

// Writes one log line with one fprintf, so that lines from the two threads never interleave: the
// level's start, "[LEVEL]\t[tag] func: ", the message with every control character in it escaped as
// get_Log_Text escapes them (the backslash is left alone), and the level's end.
extern "C" void set_Log_Line(FILE* stream, int priority, const char* level, const char* tag, const char* func,
                             const char* format, ...) __attribute__((format(printf, 6, 7)));

// One line per statement. Each logging unit defines `__log_tag`; FMT holds the message and its own
// trailing blanks. Arguments are only evaluated when the gate is open. A line that cannot be written has
// nowhere to be reported. The _AS forms are for lines that must name a function other than the one
// writing them.
#define LOG_INFO_AS(FUNC, FMT, ...)                                                                          \
    do {                                                                                                     \
        if (get_Info_Log_Status())                                                                           \
            set_Log_Line(get_stdout(), 6, "INFO", __log_tag, FUNC, FMT, ##__VA_ARGS__);                      \
    } while (0)

#define LOG_INFO(FMT, ...) LOG_INFO_AS(__func__, FMT, ##__VA_ARGS__)

#define LOG_DEBUG_AS(FUNC, FMT, ...)                                                                         \
    do {                                                                                                     \
        if (get_Debug_Log_Status())                                                                          \
            set_Log_Line(get_stdout(), 7, "DEBUG", __log_tag, FUNC, FMT, ##__VA_ARGS__);                     \
    } while (0)

#define LOG_DEBUG(FMT, ...) LOG_DEBUG_AS(__func__, FMT, ##__VA_ARGS__)

#define LOG_ERROR_AS(FUNC, FMT, ...)                                                                         \
    do {                                                                                                     \
        if (get_Error_Log_Status())                                                                          \
            set_Log_Line(get_stderr(), 3, "ERROR", __log_tag, FUNC, FMT, ##__VA_ARGS__);                     \
    } while (0)

#define LOG_ERROR(FMT, ...) LOG_ERROR_AS(__func__, FMT, ##__VA_ARGS__)

#endif
