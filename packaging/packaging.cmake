# Installing zorflash (the Linux edition) and its Debian packages.
#
#   sudo cmake --install build     /usr/local/bin/zorflash, its manual page and completion,
#                                  the udev rule where udev reads it and the note it runs
#                                  (libexec/zorflash/zorflash-note-met, its systemd unit),
#                                  /var/lib/zorflash, the lock's folder /run/zorflash
#                                  (tmpfiles.d/zorflash.conf)
#   cd build && cpack -G DEB       zorflash_<version>_amd64.deb, everything under /usr, and
#                                  zorflash-gtk_<version>_amd64.deb with the window (its
#                                  program, manual page, desktop entry, AppStream metadata
#                                  and icons)
#                                  when it is built (ZORFLASH_GTK)
include(GNUInstallDirs)
# What the command line's package holds: every install rule below.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME cli)

set(ZORFLASH_UDEV_RULES_DIR "" CACHE STRING
    "Folder for the udev rule, relative to the prefix or absolute; empty: lib/udev/rules.d under the /usr prefix, else /etc/udev/rules.d")

install(TARGETS zorflash RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The note the udev rule and its systemd unit run when a sensor appears.
install(TARGETS zorflash-note-met RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/zorflash)
# The manual page's header and JSON keys name the project's version.
configure_file(${PROJECT_SOURCE_DIR}/packaging/zorflash.1 ${ZORFLASH_GENERATED_DIR}/zorflash.1 @ONLY)
install(FILES ${ZORFLASH_GENERATED_DIR}/zorflash.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The window's manual page goes with the window, in its package.
if(TARGET zorflash-gtk)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/zorflash-gtk.1 ${ZORFLASH_GENERATED_DIR}/zorflash-gtk.1 @ONLY)
    install(FILES ${ZORFLASH_GENERATED_DIR}/zorflash-gtk.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
            COMPONENT gtk)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/zorflash.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME zorflash)

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
set(CPACK_PACKAGE_CONTACT "zorflash developers <zorflash@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for the ORVELL pen-digitizer sensor")
set(CPACK_PACKAGE_DESCRIPTION "Finds the pen-digitizer sensor among the hidraw devices, shows its firmware version and writes the vendor's firmware image (installed separately in /usr/lib/firmware/zorflash).")
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
        "zorflash (= ${PROJECT_VERSION}), libc6, libstdc++6, libudev1, libgtk-4-1 (>= 4.8)")
    set(CPACK_COMPONENT_GTK_DESCRIPTION "firmware updater for the ORVELL pen-digitizer sensor, in a window\nThe window of zorflash for a tablet used with a pen or a finger: it shows the sensor's firmware version and the one carried, and writes it when Update is pressed.")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Reproducible packages: the build's date on every member (packaging/cpack_project.cmake),
# and the same modes whatever the umask of the one who packs (packaging/cpack_modes.cmake).
set(CPACK_ZORFLASH_SOURCE_DATE_EPOCH "${ZORFLASH_SOURCE_DATE_EPOCH}")
set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_SOURCE_DIR}/packaging/cpack_project.cmake")
set(CPACK_PRE_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/packaging/cpack_modes.cmake")
include(CPack)
