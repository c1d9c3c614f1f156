// A tiny program for the log tests: one line per level, plus one written from
// a static initialiser, which only works if the log set itself up first, and
// the perror line of a command that could not be started.
#include <errno.h>

#include "log.h"

namespace {

const char* const __log_tag = "main";

struct Early_Logger {
    Early_Logger() { LOG_INFO("loaded"); }
} early_logger;

} // namespace

int main()
{
    LOG_DEBUG("debug %s ", "on");
    LOG_INFO("info %d", 1);
    LOG_ERROR("error");
    errno = ENOENT;
    set_Perror_Line("set_Command");
    return 0;
}
