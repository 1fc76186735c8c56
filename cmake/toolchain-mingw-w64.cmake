# Cross build with mingw-w64 for Windows on the processor the including
# toolchain file sets in ep_mingw_processor (i686 or x86_64); tests run under
# Wine. The POSIX threading variant gives std::mutex and std::thread
# (GoogleTest needs them); its runtime is linked statically like the rest.
set(ep_mingw_triple ${ep_mingw_processor}-w64-mingw32)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${ep_mingw_processor})
set(CMAKE_C_COMPILER ${ep_mingw_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ep_mingw_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${ep_mingw_triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ep_mingw_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
