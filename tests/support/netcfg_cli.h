#ifndef LUMERION_TEST_NETCFG_CLI_H
#define LUMERION_TEST_NETCFG_CLI_H

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

#endif
