// The daemon's stop signals, taken through a self-pipe: the handler only
// writes one byte, and the main loop's wait wakes on it.
#include "stop_signal.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace {

int stop_pipe[2] = {-1, -1};
std::atomic<bool> stop_requested{false};

void note_Stop(int)
{
    int saved = errno;
    stop_requested.store(true);
    const char byte = 1;
    // A full pipe already says so.
    (void)!write(stop_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

bool init_Stop_Signal()
{
    if (pipe2(stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = note_Stop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    (void)sigaction(SIGTERM, &action, nullptr);
    (void)sigaction(SIGINT, &action, nullptr);
    return true;
}

int get_Stop_Signal_Descriptor()
{
    return stop_pipe[0];
}

bool get_Stop_Requested()
{
    return stop_requested.load();
}
