// The test program's entry on Windows. The code under test decodes tiles in a worker process that
// is the running program itself, started in worker mode: here that is this test program, which
// then serves its parent and runs no test.
#include <gtest/gtest.h>

#include "sandbox/child_win.h"

int main(int argc, char** argv) {
    if (tessaro::RunDecoderWorkerIfAsked()) return 0;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
