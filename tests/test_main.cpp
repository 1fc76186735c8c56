// The main of every test program: a child mode when asked for one, otherwise
// GoogleTest.
#include "child.h"

#include <gtest/gtest.h>

#include <stdlib.h>

int main(int argc, char** argv) {
    int code = RunChildMode(argc, argv);
    if (code >= 0)
        return code;
    // Started by a test as its child without a child mode (a command line
    // that lost it): the tests must not run again inside the test, and so
    // start themselves without end.
    if (getenv("EP_CHILD_ONLY") != nullptr)
        return 2;
#ifdef _WIN32
    _putenv("EP_CHILD_ONLY=1");
#else
    setenv("EP_CHILD_ONLY", "1", 1);
#endif
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
