#ifndef LUMERION_TEST_PROCESS_H
#define LUMERION_TEST_PROCESS_H

#include <string>
#include <vector>

// Runs a program to its end with exactly the given environment and returns
// what it wrote; for tests that must see a fresh process start.
struct Process_Result {
    int exit_status = -1; // the exit code, or 128 + signal
    std::string out;
    std::string err;
};

Process_Result run_Process(const std::vector<std::string>& argv, const std::vector<std::string>& env);
// The same with this process's own environment.
Process_Result run_Process(const std::vector<std::string>& argv);

// The daemon running in the background (sandbox only): standard output
// and error go to daemon.out and daemon.err in the sandbox's run directory.
class Daemon_Process {
public:
    Daemon_Process() = default;
    Daemon_Process(const Daemon_Process&) = delete;
    Daemon_Process& operator=(const Daemon_Process&) = delete;
    ~Daemon_Process() { stop(); }
    // Starts `path` with `extra_env` ahead of this process's environment.
    bool start(const std::string& path, const std::vector<std::string>& extra_env = {});
    // The exit status when the daemon ended within `timeout_sec`, else -1.
    int wait_Exit(double timeout_sec);
    bool running();
    // SIGTERM, then waits for it.
    void stop();
    std::string out() const;
    std::string err() const;
    int get_Pid() const { return pid; }
    double started = 0;

private:
    int pid = -1;
    std::string out_path, err_path;
};

// Directory of the test executable, where the helper programs are built.
std::string get_Test_Binary_Dir();

#endif
