# Signs a Windows executable with Authenticode (osslsigncode), in place and all or nothing:
# the signed copy is written beside it and renamed over it only when osslsigncode succeeded.
# When signing fails, the unsigned executable is removed too, so that the build fails now
# and the next one links and signs it again instead of keeping an unsigned program.
#
#   cmake -DOSSLSIGNCODE=... -DEXE=... -DCERT=... -DKEY=... [-DTIMESTAMP_URL=...]
#         [-DSOURCE_DATE_EPOCH=...] [-DDESCRIPTION=...] -P sign_exe.cmake
#
# The signing time is SOURCE_DATE_EPOCH (given, else from the environment), so that the same
# sources, key and certificate give the same signed bytes. A timestamp server's countersignature
# is the server's own and differs at each signing.
cmake_minimum_required(VERSION 3.25)

foreach(required OSSLSIGNCODE EXE CERT KEY)
    if(NOT ${required})
        message(FATAL_ERROR "sign_exe.cmake: ${required} not given")
    endif()
endforeach()
foreach(file CERT KEY)
    if(NOT EXISTS "${${file}}" OR IS_DIRECTORY "${${file}}")
        file(REMOVE "${EXE}")
        message(FATAL_ERROR "cannot sign ${EXE}: the ${file} file ${${file}} is missing")
    endif()
endforeach()

if(NOT SOURCE_DATE_EPOCH AND DEFINED ENV{SOURCE_DATE_EPOCH})
    set(SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
endif()
set(options -h sha256 -certs "${CERT}" -key "${KEY}")
if(DESCRIPTION)
    list(APPEND options -n "${DESCRIPTION}")
endif()
if(SOURCE_DATE_EPOCH)
    if(NOT SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
        file(REMOVE "${EXE}")
        message(FATAL_ERROR "cannot sign ${EXE}: SOURCE_DATE_EPOCH '${SOURCE_DATE_EPOCH}' is not a number of seconds")
    endif()
    list(APPEND options -time "${SOURCE_DATE_EPOCH}")
endif()
if(TIMESTAMP_URL)
    list(APPEND options -ts "${TIMESTAMP_URL}")
endif()

set(signed "${EXE}.signing")
file(REMOVE "${signed}")
execute_process(COMMAND "${OSSLSIGNCODE}" sign ${options} -in "${EXE}" -out "${signed}"
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0 OR NOT EXISTS "${signed}")
    file(REMOVE "${signed}" "${EXE}")
    message(FATAL_ERROR "signing ${EXE} failed (${status}):\n${output}")
endif()
file(CHMOD "${signed}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
     GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(RENAME "${signed}" "${EXE}")
message(STATUS "signed ${EXE}")
