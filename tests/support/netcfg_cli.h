#ifndef LUMERION_TEST_NETCFG_CLI_H
#define LUMERION_TEST_NETCFG_CLI_H

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "process.h"

// The operator CLI as the build made it (LUMERION_NETCFG_PATH, defined for the
// test executables that run it), with this process's environment. An apply is
// not checked against a gateway unless the call names its window (--check-seconds):
// the sandbox's eth0 has no gateway behind it.
inline Process_Result netcfg(const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {LUMERION_NETCFG_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    bool apply = std::find(args.begin(), args.end(), "--apply") != args.end();
    if (apply && std::find(args.begin(), args.end(), "--check-seconds") == args.end())
        argv.insert(argv.end(), {"--check-seconds", "0"});
    return run_Process(argv);
}

// The CLI started in the background, its error output in a file.
inline pid_t start_Netcfg(const std::vector<std::string>& args, const std::string& err_path)
{
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, STDERR_FILENO);
        std::vector<char*> argv = {const_cast<char*>(LUMERION_NETCFG_PATH)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

#endif
