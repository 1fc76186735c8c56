# Cross build with mingw-w64 for x86_64 Windows; tests run under Wine. The POSIX
# threading variant gives std::mutex and std::thread (GoogleTest needs them);
# its runtime is linked statically like the rest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The 64-bit loader directly: the "wine" script would start the 32-bit loader
# first, which is emulated (and slow) on machines without 32-bit support.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
