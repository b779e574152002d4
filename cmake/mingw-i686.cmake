# Cross-build for 32-bit Windows with Debian's i686 mingw-w64 toolchain.
# The posix threading flavour of the compilers: std::mutex and thread_local
# need it, and it is linked statically with the C and C++ runtimes.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(DELVAN_MINGW_PREFIX i686-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${DELVAN_MINGW_PREFIX}-gcc-posix ${DELVAN_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${DELVAN_MINGW_PREFIX}-g++-posix ${DELVAN_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${DELVAN_MINGW_PREFIX}-windres)
find_program(CMAKE_OBJDUMP NAMES ${DELVAN_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${DELVAN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine.
find_program(DELVAN_WINE NAMES wine)
if(DELVAN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${DELVAN_WINE})
endif()
