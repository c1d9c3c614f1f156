#ifndef LUMERION_TEST_NETCFG_CLI_H
#define LUMERION_TEST_NETCFG_CLI_H

#include <string>
#include <vector>

#include "process.h"

// The operator CLI as the build made it (LUMERION_NETCFG_PATH, defined for the
// test executables that run it), with this process's environment.
inline Process_Result netcfg(const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {LUMERION_NETCFG_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_Process(argv);
}

#endif
