# Installing zorflash (the Linux edition) and its Debian packages.
#
#   sudo cmake --install build     /usr/local/bin/zorflash, its manual page and completion,
#                                  the udev rule where udev reads it and the note it runs
#                                  (libexec/zorflash/zorflash-note-met, its systemd unit),
#                                  /var/lib/zorflash, the lock's folder /run/zorflash
#                                  (tmpfiles.d/zorflash.conf), share/doc/zorflash
#   cd build && cpack -G DEB       zorflash_<version>_amd64.deb, everything under /usr, and
#                                  zorflash-gtk_<version>_amd64.deb with the window (its
#                                  program, manual page, completion, desktop entry,
#                                  AppStream metadata and icons) when it is built
#                                  (ZORFLASH_GTK); each with its copyright and changelog
include(GNUInstallDirs)
# What the command line's package holds: every install rule below.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME cli)

set(ZORFLASH_UDEV_RULES_DIR "" CACHE STRING
    "Folder for the udev rule, relative to the prefix or absolute; empty: lib/udev/rules.d under the /usr prefix, else /etc/udev/rules.d")

# The date the changelog's entry and the AppStream release are signed with: the build's
# (cmake/reproducible.cmake), which string(TIMESTAMP) reads from SOURCE_DATE_EPOCH.
set(zorflash_saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
if(DEFINED ZORFLASH_SOURCE_DATE_EPOCH)
    set(ENV{SOURCE_DATE_EPOCH} "${ZORFLASH_SOURCE_DATE_EPOCH}")
endif()
string(TIMESTAMP ZORFLASH_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP ZORFLASH_RELEASE_DATE "%Y-%m-%d" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${zorflash_saved_epoch}")

# zorflash_gzip(input output): OUTPUT is INPUT compressed as Debian ships manual pages and
# changelogs, at the highest level and without the file's name and time (-n), so that the
# same text gives the same bytes whenever it is compressed. Made when configuring, as the
# configured texts are, and again whenever INPUT changes.
function(zorflash_gzip input output)
    set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${input}")
    execute_process(COMMAND gzip -9n -c "${input}" OUTPUT_FILE "${output}"
                    RESULT_VARIABLE zorflash_gzip_result)
    if(NOT zorflash_gzip_result EQUAL 0)
        message(FATAL_ERROR "gzip could not compress ${input}")
    endif()
endfunction()

# Each package's documents: its copyright (machine-readable) and its changelog, compressed.
# Both packages come from the one source package, zorflash, which the changelog names.
set(ZORFLASH_DOC_DIR ${ZORFLASH_GENERATED_DIR}/doc)
file(MAKE_DIRECTORY ${ZORFLASH_DOC_DIR})
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${ZORFLASH_DOC_DIR}/changelog @ONLY)
zorflash_gzip(${ZORFLASH_DOC_DIR}/changelog ${ZORFLASH_DOC_DIR}/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${ZORFLASH_DOC_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zorflash)

install(TARGETS zorflash RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The note the udev rule and its systemd unit run when a sensor appears.
install(TARGETS zorflash-note-met RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/zorflash)
# The manual page's header and JSON keys name the project's version; it is installed
# compressed, as man reads it.
configure_file(${PROJECT_SOURCE_DIR}/packaging/zorflash.1 ${ZORFLASH_GENERATED_DIR}/zorflash.1 @ONLY)
zorflash_gzip(${ZORFLASH_GENERATED_DIR}/zorflash.1 ${ZORFLASH_GENERATED_DIR}/zorflash.1.gz)
install(FILES ${ZORFLASH_GENERATED_DIR}/zorflash.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# One completion for both programs, installed under each one's name: bash-completion loads a
# command's completion from the file named after it.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/zorflash.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME zorflash)
# The window's files go with the window, in its package.
if(TARGET zorflash-gtk)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${ZORFLASH_DOC_DIR}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zorflash-gtk COMPONENT gtk)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/zorflash-gtk.1 ${ZORFLASH_GENERATED_DIR}/zorflash-gtk.1 @ONLY)
    zorflash_gzip(${ZORFLASH_GENERATED_DIR}/zorflash-gtk.1 ${ZORFLASH_GENERATED_DIR}/zorflash-gtk.1.gz)
    install(FILES ${ZORFLASH_GENERATED_DIR}/zorflash-gtk.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
            COMPONENT gtk)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/zorflash.bash-completion
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME zorflash-gtk
            COMPONENT gtk)
    # The drawing and its symbolic form (the rendered sizes are installed with the program).
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/packaging/icons/hicolor
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons COMPONENT gtk FILES_MATCHING PATTERN "*.svg")
    # The AppStream metadata's release is the project's version, dated as the changelog.
    configure_file(${PROJECT_SOURCE_DIR}/packaging/org.zorflash.ZorflashGtk.metainfo.xml
                   ${ZORFLASH_GENERATED_DIR}/org.zorflash.ZorflashGtk.metainfo.xml @ONLY)
    install(FILES ${ZORFLASH_GENERATED_DIR}/org.zorflash.ZorflashGtk.metainfo.xml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT gtk)
endif()

# udev reads rules from /usr/lib/udev/rules.d (the system's packages) and /etc/udev/rules.d
# (the administrator's) only: a rule under /usr/local/lib would never apply. The folder is
# chosen when installing, by the prefix installed to (cpack installs to a staging copy of
# /usr). The system's firmware folder, where the vendor's image files go, belongs to the
# package too.
install(CODE "set(zorflash_rule \"${PROJECT_SOURCE_DIR}/packaging/70-zorflash.rules\")
set(zorflash_unit \"${PROJECT_SOURCE_DIR}/packaging/zorflash-note-met@.service\")
set(zorflash_tmpfiles \"${PROJECT_SOURCE_DIR}/packaging/zorflash.tmpfiles\")
set(zorflash_libexec \"${CMAKE_INSTALL_LIBEXECDIR}\")
set(zorflash_staging \"${CMAKE_BINARY_DIR}/packaging-staged\")
set(zorflash_rules_dir \"${ZORFLASH_UDEV_RULES_DIR}\")")
install(CODE [[
if(CMAKE_INSTALL_PREFIX MATCHES "/usr$")
    if(NOT zorflash_rules_dir)
        set(zorflash_rules_dir "${CMAKE_INSTALL_PREFIX}/lib/udev/rules.d")
    endif()
    file(MAKE_DIRECTORY "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/lib/firmware/zorflash")
elseif(NOT zorflash_rules_dir)
    set(zorflash_rules_dir "/etc/udev/rules.d")
endif()
if(NOT IS_ABSOLUTE "${zorflash_rules_dir}")
    set(zorflash_rules_dir "${CMAKE_INSTALL_PREFIX}/${zorflash_rules_dir}")
endif()
# The rule and the unit name the note where this install puts it (the files say
# /usr/libexec, where the package puts it).
if(IS_ABSOLUTE "${zorflash_libexec}")
    set(zorflash_note "${zorflash_libexec}/zorflash/zorflash-note-met")
else()
    set(zorflash_note "${CMAKE_INSTALL_PREFIX}/${zorflash_libexec}/zorflash/zorflash-note-met")
endif()
if(CMAKE_INSTALL_PREFIX MATCHES "/usr$")
    set(zorflash_units_dir "${CMAKE_INSTALL_PREFIX}/lib/systemd/system")
    set(zorflash_tmpfiles_dir "${CMAKE_INSTALL_PREFIX}/lib/tmpfiles.d")
else()
    set(zorflash_units_dir "/etc/systemd/system")
    set(zorflash_tmpfiles_dir "/etc/tmpfiles.d")
endif()
# The lock's folder, made at every boot (and by the package's postinst now).
file(INSTALL "${zorflash_tmpfiles}" DESTINATION "${zorflash_tmpfiles_dir}" RENAME zorflash.conf)
foreach(zorflash_file "${zorflash_rule}" "${zorflash_unit}")
    get_filename_component(zorflash_name "${zorflash_file}" NAME)
    file(READ "${zorflash_file}" zorflash_text)
    string(REPLACE "/usr/libexec/zorflash/zorflash-note-met" "${zorflash_note}" zorflash_text
           "${zorflash_text}")
    set(zorflash_staged "${zorflash_staging}/${zorflash_name}")
    file(WRITE "${zorflash_staged}" "${zorflash_text}")
    if(zorflash_file STREQUAL zorflash_rule)
        file(INSTALL "${zorflash_staged}" DESTINATION "${zorflash_rules_dir}")
    else()
        file(INSTALL "${zorflash_staged}" DESTINATION "${zorflash_units_dir}")
    endif()
endforeach()
# The machine's record of the sensors met, whatever the prefix: root's, written by the note
# and by runs as root only where this folder exists (never made by them).
file(MAKE_DIRECTORY "$ENV{DESTDIR}/var/lib/zorflash")
]])

# One package per component: the command line's ("cli", everything not marked otherwise)
# never pulls in GTK; the window's ("gtk") needs the command line's for the udev rule that
# gives the seat's user the sensor.
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli)
set(CPACK_PACKAGE_NAME zorflash)
set(CPACK_DEBIAN_CLI_PACKAGE_NAME zorflash)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "zorflash developers <maintainers@zorflash.org>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
# Both binary packages are built from the one source, whose changelog they carry.
set(CPACK_DEBIAN_PACKAGE_SOURCE zorflash)
# Each package's description in full: its summary line, then the text apt show prints.
# (CPACK_PACKAGE_DESCRIPTION_SUMMARY stays unset: CPack would put it in front of both.)
set(CPACK_DEBIAN_CLI_DESCRIPTION [[
firmware updater for the ORVELL pen-digitizer sensor (terminal, udev rule)
zorflash rewrites the firmware of the ORVELL pen-digitizer sensor, the USB HID
device that reports pen input on a tablet computer. It finds the sensor among
the hidraw devices, shows its firmware version beside the version carried, and
writes the vendor's firmware image (installed separately in
/usr/lib/firmware/zorflash) through the sensor's boot loader.

This package holds the terminal program: a small dialog that waits for Update,
or unattended runs for scripts (--update, --info, --json, --report). It also
holds the udev rule that lets the user at the seat open the sensor without
root, which the window in the zorflash-gtk package relies on.]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_CLI_PACKAGE_DEPENDS "libc6, libstdc++6, libudev1")
set(CPACK_DEBIAN_CLI_PACKAGE_RECOMMENDS "udev")
set(CPACK_DEBIAN_CLI_PACKAGE_CONTROL_EXTRA
    "${PROJECT_SOURCE_DIR}/packaging/postinst;${PROJECT_SOURCE_DIR}/packaging/postrm")
if(TARGET zorflash-gtk)
    list(APPEND CPACK_COMPONENTS_ALL gtk)
    set(CPACK_DEBIAN_GTK_PACKAGE_NAME zorflash-gtk)
    set(CPACK_DEBIAN_GTK_PACKAGE_SECTION x11)
    set(CPACK_DEBIAN_GTK_PACKAGE_DEPENDS
        "zorflash (= ${PROJECT_VERSION}), libc6, libstdc++6, libudev1, libgtk-4-1 (>= 4.8), libadwaita-1-0 (>= 1.2)")
    set(CPACK_DEBIAN_GTK_DESCRIPTION [[
firmware updater for the ORVELL pen-digitizer sensor (GTK window)
zorflash-gtk is a window for updating the firmware of the ORVELL pen-digitizer
sensor, the USB HID device that reports pen input on a tablet computer. It
shows the sensor's firmware version beside the version carried, and writes the
new firmware when Update is pressed, with a progress bar. Its buttons are large
enough for a pen or a finger, for a tablet held in tablet mode.

It appears among the desktop's applications as Digitizer Firmware Update.
The terminal program and the udev rule that gives the window the sensor
without root are in the zorflash package, which this one depends on.]])
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Reproducible packages: the build's date on every member (packaging/cpack_project.cmake),
# and the same modes whatever the umask of the one who packs (packaging/cpack_modes.cmake).
set(CPACK_ZORFLASH_SOURCE_DATE_EPOCH "${ZORFLASH_SOURCE_DATE_EPOCH}")
set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_SOURCE_DIR}/packaging/cpack_project.cmake")
set(CPACK_PRE_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/packaging/cpack_modes.cmake")
include(CPack)
