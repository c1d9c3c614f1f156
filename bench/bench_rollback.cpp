// How long eth0 is off its old settings after a change that did not hold:
// the time from the trial's deadline until the default route goes through the
// old gateway again, per manager, live in the host sandbox. A change to an
// unanswered gateway is made with a 2 s window, and either its CLI waits (cli)
// or the CLI is killed mid-window and the running daemon finishes the trial (daemon).
// Usage (inside host-sandbox --real nmcli): bench_rollback ifupdown|netplan|network_manager cli|daemon RUNS
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "bus_reader.h"
#include "file_replace.h"
#include "gateway_check.h"
#include "process.h"
#include "sandbox.h"
#include "trial_scene.h"

namespace {

const char* const record_path = "/var/lib/lumerion-hostd/trial";

long long get_Boot_Ns()
{
    struct timespec now;
    clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// The deadline the record holds now; 0 when there is none.
long long get_Record_Deadline()
{
    std::string text;
    if (!get_File_Content(record_path, &text))
        return 0;
    size_t at = text.find("\ndeadline ");
    return at == std::string::npos ? 0 : atoll(text.c_str() + at + 10);
}

pid_t start_Change()
{
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execl(LUMERION_NETCFG_PATH, LUMERION_NETCFG_PATH, "set", "--gateway", "10.0.0.99", "--apply",
              "--check-seconds", "2", static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

// One change that is rolled back; milliseconds from its deadline until the old route is live, or -1.
double measure_Once(bool killed)
{
    pid_t pid = start_Change();
    long long deadline = 0;
    bool changed = false;
    long long live_at = 0;
    long long give_up = get_Boot_Ns() + 60LL * 1000000000LL;
    while (live_at == 0 && get_Boot_Ns() < give_up) {
        long long seen = get_Record_Deadline();
        if (seen != 0)
            deadline = seen;
        std::string gateway = get_Live_Default_Gateway("eth0");
        if (gateway == "10.0.0.99" && !changed) {
            changed = true;
            // The applier is gone once the change is live: the daemon must finish the trial.
            if (killed)
                kill(pid, SIGKILL);
        }
        if (changed && gateway == "10.0.0.1")
            live_at = get_Boot_Ns();
        usleep(2000);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    // The record goes after the old gateway is checked: the next run must not find it.
    while (access(record_path, F_OK) == 0 && get_Boot_Ns() < give_up)
        usleep(10000);
    if (live_at == 0 || deadline == 0)
        return -1;
    return static_cast<double>(live_at - deadline) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    // It moves eth0's peer, starts managers and rewrites /etc: only ever inside the host sandbox.
    if (get_Sandbox_Dir().empty()) {
        fprintf(stderr, "%s: run me through tests/sandbox/host-sandbox --real nmcli -- %s\n", argv[0],
                argv[0]);
        return 2;
    }
    if (argc != 4) {
        fprintf(stderr, "usage: %s ifupdown|netplan|network_manager cli|daemon RUNS\n", argv[0]);
        return 2;
    }
    std::string name = argv[1];
    Trial_Manager manager = name == "ifupdown"  ? Trial_Manager::IFUPDOWN
                            : name == "netplan" ? Trial_Manager::NETPLAN
                                                : Trial_Manager::NETWORK_MANAGER;
    bool killed = std::string(argv[2]) == "daemon";
    int runs = atoi(argv[3]);
    std::unique_ptr<Nm_Instance> nm;
    std::string why;
    if (!set_Trial_Scene(manager, &nm, &why)) {
        fprintf(stderr, "bench_rollback: %s\n", why.c_str());
        return 1;
    }
    Bus_Reader bus;
    Daemon_Process daemon;
    if (killed && !daemon.start(LUMERION_HOSTD_PATH)) {
        fprintf(stderr, "bench_rollback: the daemon did not start\n");
        return 1;
    }
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        double ms = measure_Once(killed);
        if (ms < 0) {
            fprintf(stderr, "bench_rollback: run %d: the old settings did not come back\n%s", run,
                    daemon.err().c_str());
            return 1;
        }
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    printf("%-16s %-7s deadline to old settings live: min %.0f ms, median %.0f ms, max %.0f ms (%d runs)\n",
           name.c_str(), killed ? "daemon" : "cli", times.front(), times[times.size() / 2], times.back(),
           runs);
    return times.back() <= 5000 ? 0 : 1;
}
