# Reproducible builds: two builds of one commit, in different folders at different times,
# give the same bytes for every program and package.
#
#   ZORFLASH_SOURCE_DATE_EPOCH   the time every dated output takes (seconds since 1970): the
#                                environment's SOURCE_DATE_EPOCH when set, else the time of
#                                the source folder's last commit, else unset (a source folder
#                                without its history, or one git refuses to read)
#
# It reaches the tools that write a date: the signing step through this variable, CPack
# through its project config file (packaging/cpack_project.cmake), which puts it into the
# environment of the DEB generator. A commit made after configuring configures again, so
# that the packages and the signature take the new commit's time. The paths of the source and build
# folders are mapped out of the objects (debug information, __FILE__ in assertions), the
# archives are written without dates, owners or modes, and the Windows linker writes no
# link time into the executable.
if(DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
    if(NOT "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
        message(FATAL_ERROR "SOURCE_DATE_EPOCH must be a number of seconds, not '$ENV{SOURCE_DATE_EPOCH}'")
    endif()
    set(ZORFLASH_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
    unset(ZORFLASH_SOURCE_DATE_EPOCH)
    find_program(ZORFLASH_GIT git)
    if(ZORFLASH_GIT)
        # git itself refuses a repository another user owns; the time is then left unset
        # rather than read from a history this build does not trust.
        execute_process(COMMAND "${ZORFLASH_GIT}" -C "${PROJECT_SOURCE_DIR}" log -1 --format=%ct
                        RESULT_VARIABLE zorflash_git_result
                        OUTPUT_VARIABLE zorflash_commit_time
                        ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(zorflash_git_result EQUAL 0 AND zorflash_commit_time MATCHES "^[0-9]+$")
            set(ZORFLASH_SOURCE_DATE_EPOCH "${zorflash_commit_time}")
            execute_process(COMMAND "${ZORFLASH_GIT}" -C "${PROJECT_SOURCE_DIR}" rev-parse
                                    --path-format=absolute --git-path logs/HEAD
                            OUTPUT_VARIABLE zorflash_head_log
                            ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
            if(zorflash_head_log AND EXISTS "${zorflash_head_log}")
                set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY
                             CMAKE_CONFIGURE_DEPENDS "${zorflash_head_log}")
            endif()
        endif()
    endif()
    if(NOT DEFINED ZORFLASH_SOURCE_DATE_EPOCH)
        message(STATUS "No SOURCE_DATE_EPOCH and no readable commit: the packages take the time they are made")
    endif()
endif()

# Paths: the source folder becomes ".", the build folder "build" (mapped last, so that it
# wins where the build folder lies inside the source folder). -ffile-prefix-map covers the
# debug information, its compilation folders and __FILE__.
add_compile_options("-ffile-prefix-map=${PROJECT_SOURCE_DIR}=."
                    "-ffile-prefix-map=${PROJECT_BINARY_DIR}=build")

# Archives without timestamps, owners or modes (ar D), whatever the binutils default is.
foreach(lang C CXX)
    set(CMAKE_${lang}_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
    set(CMAKE_${lang}_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
    set(CMAKE_${lang}_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
endforeach()

# The PE header's link time would differ at every link.
if(WIN32)
    add_link_options("LINKER:--no-insert-timestamp")
endif()
