# Configures the project with image files and checks what the configure step does with them:
# a file of the wrong size stops it with a message naming the size; a file of the right size
# is embedded byte for byte behind its end address.
#   cmake -DSOURCE_DIR=<repo> -DWORK_DIR=<scratch folder> -P image_configure_check.cmake
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

# 36352 bytes for image A: "ABCD" over and over, bytes 41 42 43 44.
string(REPEAT "ABCD" 9088 pattern)
file(WRITE "${WORK_DIR}/a.bin" "${pattern}")
file(WRITE "${WORK_DIR}/short.bin" "too short")

function(configure_with out_rc out_text)
    execute_process(
        COMMAND ${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK_DIR}/build"
                -DZORFLASH_BUILD_TESTS=OFF -DZORFLASH_BUILD_BENCHMARKS=OFF ${ARGN}
        RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    set(${out_rc} ${rc} PARENT_SCOPE)
    set(${out_text} "${out}${err}" PARENT_SCOPE)
endfunction()

configure_with(rc text "-DZORFLASH_IMAGE_B=${WORK_DIR}/short.bin")
if(rc EQUAL 0)
    message(FATAL_ERROR "a 9-byte image B was accepted")
endif()
string(REGEX REPLACE "[ \n]+" " " text "${text}")
string(FIND "${text}" "holds 9 bytes; image B must hold exactly 62464 bytes" at)
if(at LESS 0)
    message(FATAL_ERROR "no clear message for the wrong size:\n${text}")
endif()

file(REMOVE_RECURSE "${WORK_DIR}/build")
configure_with(rc text "-DZORFLASH_IMAGE_A=${WORK_DIR}/a.bin")
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "an image A of the right size was refused:\n${text}")
endif()
file(READ "${WORK_DIR}/build/generated/firmware_image_A.cpp" generated)
string(FIND "${generated}" "{255,205,0,0,\n0x41,0x42,0x43,0x44,0x41," at)
if(at LESS 0)
    message(FATAL_ERROR "image A is not embedded behind its end address 0xCDFF")
endif()
string(REGEX MATCHALL "0x4[1-4]," bytes "${generated}")
list(LENGTH bytes count)
if(NOT count EQUAL 36352)
    message(FATAL_ERROR "image A embeds ${count} bytes, not 36352")
endif()
file(READ "${WORK_DIR}/build/generated/firmware_image_B_placeholder.cpp" generated)
string(FIND "${generated}" "MakePlaceholderBlob<0x133FF>" at)
if(at LESS 0)
    message(FATAL_ERROR "image B, not given, is not the placeholder of the simulated editions")
endif()
# The programs for a real sensor carry nothing in its place.
file(READ "${WORK_DIR}/build/generated/firmware_image_B.cpp" generated)
string(FIND "${generated}" "{nullptr, 0, CarriedOrigin::None" at)
string(FIND "${generated}" "Placeholder" placeholder_at)
if(at LESS 0 OR NOT placeholder_at LESS 0)
    message(FATAL_ERROR "the release image B, not given, is not empty:\n${generated}")
endif()
# The tests' program that carries no image carries none, image A given or not.
file(READ "${WORK_DIR}/build/generated/firmware_image_A_none.cpp" generated)
string(FIND "${generated}" "{nullptr, 0, CarriedOrigin::None" at)
if(at LESS 0)
    message(FATAL_ERROR "the image-less build's image A is not empty:\n${generated}")
endif()
file(REMOVE_RECURSE "${WORK_DIR}")
message(STATUS "image files are checked and embedded")
