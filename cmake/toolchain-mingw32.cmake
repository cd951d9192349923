# Cross-build for 32-bit Windows with mingw-w64 (Debian: g++-mingw-w64-i686-posix), for the
# tablets that shipped with a 32-bit Windows. Same choices as toolchain-mingw64.cmake: the
# -posix compilers (std::thread, std::mutex) and one static executable.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(ZORFLASH_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${ZORFLASH_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZORFLASH_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZORFLASH_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZORFLASH_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Statically linked: no libstdc++-6.dll, libgcc_s_dw2-1.dll or libwinpthread-1.dll beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Under Wine (a 64-bit prefix runs 32-bit programs when wine32 is installed).
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../tests/win32/wine-run.sh")
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
