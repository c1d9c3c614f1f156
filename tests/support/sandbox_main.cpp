// Entry point of the sandboxed test programs: they create files under /etc,
// run systemctl and change eth0, so they refuse to start on the real machine.
#include <gtest/gtest.h>

#include <stdio.h>

#include "sandbox.h"
#include "settings_trial.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (get_Sandbox_Dir().empty()) {
        fprintf(stderr, "%s: run me through tests/sandbox/host-sandbox -- %s\n", argv[0], argv[0]);
        return 2;
    }
    // Changes made in-process are not checked against a gateway unless a test opens a window.
    set_Trial_Window(0);
    return RUN_ALL_TESTS();
}
