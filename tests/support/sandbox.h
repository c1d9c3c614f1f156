#ifndef LUMERION_TEST_SANDBOX_H
#define LUMERION_TEST_SANDBOX_H

#include <map>
#include <string>
#include <vector>

// Helpers for tests that run inside tests/sandbox/host-sandbox.

// The run directory of the sandbox; empty outside one.
std::string get_Sandbox_Dir();

// Scripts what a fake tool prints (a newline is not added) and its exit
// status when its arguments start with `args` ("" answers any call).
void set_Tool_Answer(const std::string& tool, const std::string& args, const std::string& text,
                     int exit_status = 0);

// The fake tool fails as a real one does: `message` on standard error, then
// exit status `exit_status`, or (`signal` non-empty, e.g. "TERM") that signal.
void set_Tool_Failure(const std::string& tool, const std::string& args, int exit_status,
                      const std::string& message, const std::string& signal = "");

// After its answer the fake tool sleeps `seconds` holding its output, or
// (`linger`) exits and leaves a child holding the output that long.
void set_Tool_Hang(const std::string& tool, const std::string& args, int seconds, bool linger = false);

// Scripts the fake nmcli's answers to the daemon's profile lookup: one wired
// profile bound to eth0 by name, kept in `file`, active on eth0 or not.
void set_Nmcli_Profile(const std::string& uuid, const std::string& file, bool active);

// Every fake-tool call so far, one "<tool> <argv...>" line each.
std::vector<std::string> get_Tool_Calls();
void clear_Tool_Calls();
// The calls that act on the host: every call but the read-only probes
// ("systemctl is-active", "nmcli -t") the owner lookup makes.
std::vector<std::string> get_Command_Calls();

// Runs a shell command line inside the sandbox (ip, mount, ...); its exit status.
int run_Shell(const std::string& command);

// For a death test's child: takes every descriptor the process may still
// open, so that no pipe, file or shell can be opened after it.
void set_Descriptors_Used_Up();

std::string read_File(const std::string& path);
// Every file and link under the `tops` directories with its mode and bytes (or
// target), but the daemon's settings lock under /run/lumerion-hostd.
std::map<std::string, std::string> get_Tree_Snapshot(const std::vector<std::string>& tops);
void write_File(const std::string& path, const std::string& text);

// Captures the daemon's log lines (all levels, in order) from construction
// until text() is called, through the log's file output.
class Log_Capture {
public:
    Log_Capture();
    std::string text();

private:
    std::string path;
};

#endif
