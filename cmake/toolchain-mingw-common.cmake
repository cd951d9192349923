# What both mingw-w64 toolchains share; each sets CMAKE_SYSTEM_PROCESSOR and
# ZORFLASH_MINGW_PREFIX first, then includes this file.
#
# The -posix compilers are used because the simulated sensor and the tests rely on
# std::thread and std::mutex, which the -win32 thread model of mingw-w64 lacks.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${ZORFLASH_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZORFLASH_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZORFLASH_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZORFLASH_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every executable is linked statically, so that it needs no DLL beyond Windows' own
# (no libstdc++-6.dll, libgcc_s_*.dll or libwinpthread-1.dll next to it).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests run under Wine through a wrapper that sets up the Wine prefix and a display.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../tests/win32/wine-run.sh")
# Test lists are read when ctest runs, not after each link: listing them needs Wine.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
