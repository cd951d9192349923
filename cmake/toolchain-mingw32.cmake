# Cross-build for 32-bit Windows with mingw-w64 (Debian: g++-mingw-w64-i686-posix), for the
# tablets that shipped with a 32-bit Windows. Under Wine, a 64-bit prefix runs 32-bit
# programs where wine32 is installed.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ZORFLASH_MINGW_PREFIX i686-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake")
