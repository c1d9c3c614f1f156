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

// Directory of the test executable, where the helper programs are built.
std::string get_Test_Binary_Dir();

#endif
