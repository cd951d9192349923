# Embeds the two firmware images. ZORFLASH_IMAGE_A / ZORFLASH_IMAGE_B name real image
# files (the flash bytes from 0x4000 to the end address); left empty, deterministic
# placeholders of the same size are built instead.
set(ZORFLASH_IMAGE_A "" CACHE FILEPATH "Image A file: flash bytes 0x4000..0xCDFF (36352 bytes)")
set(ZORFLASH_IMAGE_B "" CACHE FILEPATH "Image B file: flash bytes 0x4000..0x133FF (62464 bytes)")

function(zorflash_embed_image letter path end_address byte_count seed out_var)
    set(out "${CMAKE_BINARY_DIR}/generated/firmware_image_${letter}.cpp")
    math(EXPR blob_size "${byte_count} + 4")
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
        string(CONCAT content "// Generated from ${path}.\n"
                    "#include \"firmware/firmware_images.h\"\n"
                    "static const uint8_t kBlob[${blob_size}] = {${e0},${e1},${e2},${e3},\n${hex}};\n"
                    "const uint8_t* const kFirmwareBlob${letter} = kBlob;\n"
                    "const uint32_t kFirmwareBlob${letter}Size = ${blob_size};\n")
        set_property(DIRECTORY "${CMAKE_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${path}")
    else()
        string(CONCAT content "// Generated: placeholder image ${letter}.\n"
                    "#include \"firmware/firmware_images.h\"\n"
                    "#include \"firmware/placeholder_image.h\"\n"
                    "static constexpr auto kBlob = MakePlaceholderBlob<${end_address}>(${seed});\n"
                    "static_assert(sizeof(kBlob.bytes) == ${blob_size}, \"image size\");\n"
                    "const uint8_t* const kFirmwareBlob${letter} = kBlob.bytes.data();\n"
                    "const uint32_t kFirmwareBlob${letter}Size = ${blob_size};\n")
    endif()
    file(CONFIGURE OUTPUT "${out}" CONTENT "${content}" @ONLY)
    set(${out_var} "${out}" PARENT_SCOPE)
endfunction()

zorflash_embed_image(A "${ZORFLASH_IMAGE_A}" 0xCDFF 36352 0x5A0A ZORFLASH_IMAGE_A_SOURCE)
zorflash_embed_image(B "${ZORFLASH_IMAGE_B}" 0x133FF 62464 0x5A0B ZORFLASH_IMAGE_B_SOURCE)
