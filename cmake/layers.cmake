# The portable core, one object library per layer. Each links only the layers below it and
# sees only their headers and the seams:
#
#   zorflash_app       app/        links update (and so flash, sensor, firmware), the seams
#   zorflash_update    update/     links flash, sensor, firmware, the seams
#   zorflash_flash     flash/      links sensor
#   zorflash_sensor    sensor/     links the seams
#   zorflash_firmware  firmware/   links nothing
#   zorflash_seams     platform/hid.h, system.h, records.h, view.h, sensor_ids.h alone
#
# Headers are named by their path under src ("sensor/hid_device.h"), but src itself is on no
# library's include path. Each layer offers its headers through a folder of its own,
# <build>/include/<layer>, that holds one link named like the layer to its folder in src; the
# seams' folder holds links to the seam headers alone, not to the platform implementations
# beside them. So an include that runs back up (sensor to app, a platform to the core) names a
# file its target cannot see, and the build stops there.
#
# zorflash_core is the whole core in one archive, for the front ends and the tests. The core
# calls the seams, whose implementations each executable links after it; one archive keeps
# that a single pass of the linker.
set(ZORFLASH_INCLUDE_ROOT "${CMAKE_BINARY_DIR}/include")
set(ZORFLASH_SEAM_HEADERS hid.h system.h records.h view.h run_state.h sensor_ids.h)

# zorflash_header_link(folder path target): <build>/include/<folder>/<path> becomes a link to
# target.
function(zorflash_header_link folder path target)
    set(link "${ZORFLASH_INCLUDE_ROOT}/${folder}/${path}")
    get_filename_component(parent "${link}" DIRECTORY)
    file(MAKE_DIRECTORY "${parent}")
    file(REMOVE "${link}")
    file(CREATE_LINK "${target}" "${link}" SYMBOLIC)
endfunction()

add_library(zorflash_seams INTERFACE)
foreach(header ${ZORFLASH_SEAM_HEADERS})
    zorflash_header_link(seams "platform/${header}" "${PROJECT_SOURCE_DIR}/src/platform/${header}")
endforeach()
target_include_directories(zorflash_seams INTERFACE "${ZORFLASH_INCLUDE_ROOT}/seams")

# zorflash_layer(name below...): the object library zorflash_<name> from src/<name>/*.cpp,
# seeing its own headers and, through what it links, those of the layers named below.
function(zorflash_layer name)
    file(GLOB sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/src/${name}/*.cpp")
    add_library(zorflash_${name} OBJECT ${sources})
    zorflash_header_link(${name} ${name} "${PROJECT_SOURCE_DIR}/src/${name}")
    target_include_directories(zorflash_${name} PUBLIC "${ZORFLASH_INCLUDE_ROOT}/${name}")
    foreach(below ${ARGN})
        target_link_libraries(zorflash_${name} PUBLIC zorflash_${below})
    endforeach()
endfunction()

zorflash_layer(firmware)
zorflash_layer(sensor seams)
zorflash_layer(flash sensor)
zorflash_layer(update flash sensor firmware seams)
zorflash_layer(app update sensor firmware seams)
# The caption, --version and the JSON carry the version.
target_include_directories(zorflash_app PRIVATE ${ZORFLASH_GENERATED_DIR})

add_library(zorflash_core STATIC)
target_link_libraries(zorflash_core PUBLIC zorflash_app zorflash_update zorflash_flash
                      zorflash_sensor zorflash_firmware)

# zorflash_platform_headers(target folder...): a platform or view implementation sees the
# seams and its own folders under src/platform (platform/<folder>/...), nothing of the core.
function(zorflash_platform_headers target)
    foreach(folder ${ARGN})
        zorflash_header_link(platform-${folder} platform/${folder}
                             "${PROJECT_SOURCE_DIR}/src/platform/${folder}")
        target_include_directories(${target} PUBLIC "${ZORFLASH_INCLUDE_ROOT}/platform-${folder}")
    endforeach()
    target_link_libraries(${target} PUBLIC zorflash_seams)
endfunction()
