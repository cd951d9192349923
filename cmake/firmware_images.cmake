# The flash the images are written into and the two firmware images, written once here and
# nowhere else. The configure step makes <build>/generated/layout/firmware_layout.h from this
# table (the flash start and block size, and per image its letter, family, file name, end
# address and byte count), which the core and the seams' implementations take them from,
# and the sources of the images below:
#
#   ZORFLASH_IMAGE_RELEASE_SOURCES      for the programs that talk to a real sensor: the real
#                                       image files named by ZORFLASH_IMAGE_A / _B, or no
#                                       image at all where none is named;
#   ZORFLASH_IMAGE_PLACEHOLDER_SOURCES  for the simulated editions and the tests: the real
#                                       files where named, else deterministic placeholders
#                                       of the same size;
#   ZORFLASH_IMAGE_NONE_SOURCES         for the tests of a program built with no image, which
#                                       a build given the real images must run as well.
#
# A placeholder is never linked into a program that can reach a real sensor: written there,
# it would leave the sensor running made-up code.

# The boot loader holds the flash below the start; an image fills it from the start up to
# and including its end address, one write (and one verify) command per block.
set(ZORFLASH_FLASH_START 0x4000)
set(ZORFLASH_FLASH_BLOCK_SIZE 128)
# One row per image: letter, the sensor family it is for, its file in a firmware folder,
# its end address, and the seed of its placeholder.
set(ZORFLASH_IMAGE_TABLE
    "A 0 image-a.bin 0xCDFF  0x5A0A"
    "B 1 image-b.bin 0x133FF 0x5A0B")

# ZORFLASH_LAYOUT_DIR holds firmware_layout.h alone: it goes on the include path of the
# firmware library and of the seams (cmake/layers.cmake), so that the version header beside
# it in generated/ stays the app's.
if(NOT ZORFLASH_LAYOUT_DIR)
    set(ZORFLASH_LAYOUT_DIR "${CMAKE_BINARY_DIR}/generated/layout")
endif()
set(ZORFLASH_IMAGE_LETTERS)
set(ZORFLASH_LAYOUT_IMAGES "")
set(ZORFLASH_LARGEST_IMAGE 0)
foreach(row ${ZORFLASH_IMAGE_TABLE})
    separate_arguments(row UNIX_COMMAND "${row}")
    list(GET row 0 letter)
    list(GET row 1 family)
    list(GET row 2 file_name)
    list(GET row 3 end_address)
    list(GET row 4 seed)
    math(EXPR byte_count "${end_address} + 1 - ${ZORFLASH_FLASH_START}")
    math(EXPR blocks_left "${byte_count} % ${ZORFLASH_FLASH_BLOCK_SIZE}")
    if(NOT blocks_left EQUAL 0)
        message(FATAL_ERROR "image ${letter}: ${byte_count} bytes is not a whole number of "
                            "${ZORFLASH_FLASH_BLOCK_SIZE}-byte blocks")
    endif()
    if(byte_count GREATER ZORFLASH_LARGEST_IMAGE)
        set(ZORFLASH_LARGEST_IMAGE ${byte_count})
    endif()
    list(APPEND ZORFLASH_IMAGE_LETTERS ${letter})
    set(ZORFLASH_IMAGE_${letter}_END ${end_address})
    set(ZORFLASH_IMAGE_${letter}_BYTES ${byte_count})
    set(ZORFLASH_IMAGE_${letter}_SEED ${seed})
    string(APPEND ZORFLASH_LAYOUT_IMAGES
           "#define ZORFLASH_IMAGE_${letter}_FILE_NAME \"${file_name}\"\n"
           "constexpr ImageShape kImageShape${letter} = {'${letter}', ${family}, "
           "ZORFLASH_IMAGE_${letter}_FILE_NAME, ${end_address}, ${byte_count}};\n"
           "constexpr uint32_t kPlaceholderSeed${letter} = ${seed};\n")
endforeach()
configure_file("${CMAKE_CURRENT_LIST_DIR}/firmware_layout.h.in"
               "${ZORFLASH_LAYOUT_DIR}/firmware_layout.h" @ONLY)
# Run as a script, this file makes the header alone, for a tool built before any configure
# (tests/win32/write_placeholder_images.cpp):
#   cmake -DZORFLASH_LAYOUT_DIR=<folder> -P cmake/firmware_images.cmake
if(CMAKE_SCRIPT_MODE_FILE)
    return()
endif()

# zorflash_embed_image(letter path end count seed out_release out_placeholder out_none)
function(zorflash_embed_image letter path end_address byte_count seed out_release out_placeholder
         out_none)
    set(release "${CMAKE_BINARY_DIR}/generated/firmware_image_${letter}.cpp")
    set(placeholder "${CMAKE_BINARY_DIR}/generated/firmware_image_${letter}_placeholder.cpp")
    set(none "${CMAKE_BINARY_DIR}/generated/firmware_image_${letter}_none.cpp")
    math(EXPR blob_size "${byte_count} + 4")
    set(head "#include \"firmware/firmware_images.h\"\n")
    string(CONCAT no_image "// Generated: no image ${letter} was given to this build.\n" "${head}"
                "const CarriedImage kCarriedImage${letter} = "
                "{nullptr, 0, CarriedOrigin::None, \"\"};\n")
    file(CONFIGURE OUTPUT "${none}" CONTENT "${no_image}" @ONLY)
    if(path)
        if(NOT EXISTS "${path}")
            message(FATAL_ERROR "ZORFLASH_IMAGE_${letter}: file '${path}' does not exist")
        endif()
        file(SIZE "${path}" size)
        if(NOT size EQUAL byte_count)
            message(FATAL_ERROR "ZORFLASH_IMAGE_${letter}: '${path}' holds ${size} bytes; "
                                "image ${letter} must hold exactly ${byte_count} bytes "
                                "(flash ${ZORFLASH_FLASH_START} up to ${end_address})")
        endif()
        file(READ "${path}" hex HEX)
        string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," hex "${hex}")
        math(EXPR e0 "${end_address} & 255")
        math(EXPR e1 "(${end_address} >> 8) & 255")
        math(EXPR e2 "(${end_address} >> 16) & 255")
        math(EXPR e3 "(${end_address} >> 24) & 255")
        string(REPLACE "\\" "\\\\" c_path "${path}")
        string(REPLACE "\"" "\\\"" c_path "${c_path}")
        string(CONCAT content "// Generated from ${path}.\n" "${head}"
                    "static const uint8_t kBlob[${blob_size}] = {${e0},${e1},${e2},${e3},\n${hex}};\n"
                    "const CarriedImage kCarriedImage${letter} = "
                    "{kBlob, ${blob_size}, CarriedOrigin::BuildFile, \"${c_path}\"};\n")
        file(CONFIGURE OUTPUT "${release}" CONTENT "${content}" @ONLY)
        # The simulated editions and the tests take the real image too.
        set(placeholder "${release}")
        set_property(DIRECTORY "${CMAKE_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${path}")
    else()
        file(CONFIGURE OUTPUT "${release}" CONTENT "${no_image}" @ONLY)
        string(CONCAT content "// Generated: placeholder image ${letter}.\n" "${head}"
                    "#include \"firmware/placeholder_image.h\"\n"
                    "static constexpr auto kBlob = MakePlaceholderBlob<${end_address}>(${seed});\n"
                    "static_assert(sizeof(kBlob.bytes) == ${blob_size}, \"image size\");\n"
                    "const CarriedImage kCarriedImage${letter} = "
                    "{kBlob.bytes.data(), ${blob_size}, CarriedOrigin::Placeholder, \"\"};\n")
        file(CONFIGURE OUTPUT "${placeholder}" CONTENT "${content}" @ONLY)
    endif()
    set(${out_release} "${release}" PARENT_SCOPE)
    set(${out_placeholder} "${placeholder}" PARENT_SCOPE)
    set(${out_none} "${none}" PARENT_SCOPE)
endfunction()

set(ZORFLASH_IMAGE_NONE_SOURCES)
set(ZORFLASH_IMAGE_RELEASE_SOURCES)
set(ZORFLASH_IMAGE_PLACEHOLDER_SOURCES)
foreach(letter ${ZORFLASH_IMAGE_LETTERS})
    set(end_address ${ZORFLASH_IMAGE_${letter}_END})
    set(byte_count ${ZORFLASH_IMAGE_${letter}_BYTES})
    set(ZORFLASH_IMAGE_${letter} "" CACHE FILEPATH
        "Image ${letter} file: flash bytes ${ZORFLASH_FLASH_START}..${end_address} (${byte_count} bytes)")
    zorflash_embed_image(${letter} "${ZORFLASH_IMAGE_${letter}}" ${end_address} ${byte_count}
                         ${ZORFLASH_IMAGE_${letter}_SEED} release placeholder none)
    list(APPEND ZORFLASH_IMAGE_NONE_SOURCES "${none}")
    list(APPEND ZORFLASH_IMAGE_RELEASE_SOURCES "${release}")
    list(APPEND ZORFLASH_IMAGE_PLACEHOLDER_SOURCES "${placeholder}")
endforeach()
