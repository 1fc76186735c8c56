// The main of every test program: a child mode when asked for one, otherwise
// GoogleTest.
#include "child.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    int code = RunChildMode(argc, argv);
    if (code >= 0)
        return code;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
