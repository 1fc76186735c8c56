# Cross build for 64-bit Windows (cmake/toolchain-mingw-w64.cmake).
set(ep_mingw_processor x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-w64.cmake)
# The 64-bit loader directly: the "wine" script would start the 32-bit loader
# first, which is emulated (and slow) on machines without 32-bit support.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
