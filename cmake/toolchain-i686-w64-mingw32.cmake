# Cross build for 32-bit Windows (cmake/toolchain-mingw-w64.cmake).
set(ep_mingw_processor i686)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-w64.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
