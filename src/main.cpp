#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include "build_info.h"
#include "log.h"

namespace {

const char* const __log_tag = "main";
const char* const version_text = "v1.0.3";
const unsigned int loop_period_sec = 2;

}  // namespace

int main(int, char**)
{
    // A write to a closed pipe must fail with EPIPE, not end the daemon.
    signal(SIGPIPE, SIG_IGN);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    setvbuf(stderr, nullptr, _IOLBF, 0);

    LOG_INFO("Lumerion Altra Host Main Daemon %s [%s] - %s %s", version_text, LUMERION_SOURCE_REVISION,
             __DATE__, __TIME__);

    for (;;)
        sleep(loop_period_sec);
}
