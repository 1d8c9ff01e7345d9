# What both MinGW-w64 cross builds share; the toolchain files set TALVERON_MINGW_PREFIX first.
# The posix thread model: std::thread (used by the emulated MIDI service in test builds) needs
# it; the product links it statically.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${TALVERON_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TALVERON_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TALVERON_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TALVERON_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
