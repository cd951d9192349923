# Checks that a Windows executable imports only DLLs that every Windows has, so that it
# runs as one file (no libstdc++-6.dll, libgcc_s_seh-1.dll or libwinpthread-1.dll beside it).
# With MAX_BYTES, it also checks that the executable is smaller than that.
#   cmake -DOBJDUMP=... -DEXE=... [-DMAX_BYTES=...] -P check_imports.cmake
cmake_minimum_required(VERSION 3.25)

if(MAX_BYTES)
    file(SIZE "${EXE}" size)
    if(NOT size LESS MAX_BYTES)
        message(FATAL_ERROR "${EXE} has ${size} bytes, not under ${MAX_BYTES}")
    endif()
    message(STATUS "${size} bytes, under ${MAX_BYTES}")
endif()

set(system_dlls advapi32.dll cfgmgr32.dll comctl32.dll gdi32.dll hid.dll kernel32.dll msvcrt.dll
                setupapi.dll user32.dll)
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${EXE} failed")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${dump}")
if(NOT lines)
    message(FATAL_ERROR "${EXE}: no imports found")
endif()
foreach(line ${lines})
    string(REGEX REPLACE "DLL Name: " "" dll "${line}")
    string(STRIP "${dll}" dll)
    string(TOLOWER "${dll}" dll)
    if(NOT dll IN_LIST system_dlls)
        message(FATAL_ERROR "${EXE} needs ${dll}, which Windows does not ship")
    endif()
    message(STATUS "imports ${dll}")
endforeach()
