# The two firmware images, as two sets of generated sources:
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
set(ZORFLASH_IMAGE_A "" CACHE FILEPATH "Image A file: flash bytes 0x4000..0xCDFF (36352 bytes)")
set(ZORFLASH_IMAGE_B "" CACHE FILEPATH "Image B file: flash bytes 0x4000..0x133FF (62464 bytes)")

# zorflash_embed_image(letter path end seed out_release out_placeholder out_none)
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
                                "(flash 0x4000 up to ${end_address})")
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

zorflash_embed_image(A "${ZORFLASH_IMAGE_A}" 0xCDFF 36352 0x5A0A
                     ZORFLASH_IMAGE_A_RELEASE ZORFLASH_IMAGE_A_PLACEHOLDER ZORFLASH_IMAGE_A_NONE)
zorflash_embed_image(B "${ZORFLASH_IMAGE_B}" 0x133FF 62464 0x5A0B
                     ZORFLASH_IMAGE_B_RELEASE ZORFLASH_IMAGE_B_PLACEHOLDER ZORFLASH_IMAGE_B_NONE)
set(ZORFLASH_IMAGE_NONE_SOURCES ${ZORFLASH_IMAGE_A_NONE} ${ZORFLASH_IMAGE_B_NONE})
set(ZORFLASH_IMAGE_RELEASE_SOURCES ${ZORFLASH_IMAGE_A_RELEASE} ${ZORFLASH_IMAGE_B_RELEASE})
set(ZORFLASH_IMAGE_PLACEHOLDER_SOURCES ${ZORFLASH_IMAGE_A_PLACEHOLDER} ${ZORFLASH_IMAGE_B_PLACEHOLDER})
