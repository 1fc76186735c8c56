// The main of every test program: a child mode when asked for one, otherwise
// GoogleTest.
#include "child.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#ifdef _WIN32
#include "host/module_loader.h"

#include <windows.h>

// GoogleTest writes every failure and skip to the debugger as well, with
// OutputDebugStringA, which Wine carries out by raising an exception. Where
// 32-bit Windows programs run emulated (qemu-i386), handling that exception
// brings the test program down, so a skipped case would end the whole
// program. The test program's own import of it does nothing instead.
static void WINAPI NoDebuggerOutput(LPCSTR text) {
    (void)text;
}
#endif

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
    ReplaceImport(GetModuleHandleA(nullptr), "kernel32.dll", "OutputDebugStringA",
                  reinterpret_cast<void*>(&NoDebuggerOutput));
#else
    setenv("EP_CHILD_ONLY", "1", 1);
#endif
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
