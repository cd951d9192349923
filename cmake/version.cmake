# The program's version, written once: project(zorflash VERSION a.b.c.d) in the top
# CMakeLists.txt. Everything that shows it takes it from here:
#
#   <build>/generated/zorflash_version.h   ZORFLASH_VERSION "a.b.c.d" (the caption, --version,
#                                          the JSON) and its four numbers (the version record
#                                          of the Windows resource script)
#
# and the files configured beside it where they are built: the Windows manifest
# (src/front/win32) and the manual page (packaging/packaging.cmake).
# ZORFLASH_GENERATED_DIR names the folder; it goes on the include path of every target that
# includes zorflash_version.h, windres included. A build of its own over the core's sources
# (tests/fuzz) has no zorflash project: it reads the version from the top CMakeLists.txt.
get_filename_component(zorflash_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
if(NOT zorflash_VERSION)
    file(STRINGS "${zorflash_root}/CMakeLists.txt" zorflash_project_line
         REGEX "^project\\(zorflash VERSION ")
    string(REGEX MATCH "VERSION ([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)" zorflash_match
           "${zorflash_project_line}")
    if(NOT zorflash_match)
        message(FATAL_ERROR "no project(zorflash VERSION a.b.c.d) in ${zorflash_root}/CMakeLists.txt")
    endif()
    set(zorflash_VERSION "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${CMAKE_MATCH_3}.${CMAKE_MATCH_4}")
    set(zorflash_VERSION_MAJOR ${CMAKE_MATCH_1})
    set(zorflash_VERSION_MINOR ${CMAKE_MATCH_2})
    set(zorflash_VERSION_PATCH ${CMAKE_MATCH_3})
    set(zorflash_VERSION_TWEAK ${CMAKE_MATCH_4})
endif()
# The Windows version record has four numbers: all four must be given.
if(NOT zorflash_VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+$")
    message(FATAL_ERROR "the version must have four numbers (a.b.c.d), not ${zorflash_VERSION}")
endif()

set(ZORFLASH_GENERATED_DIR "${CMAKE_BINARY_DIR}/generated")
configure_file("${zorflash_root}/cmake/zorflash_version.h.in"
               "${ZORFLASH_GENERATED_DIR}/zorflash_version.h" @ONLY)
