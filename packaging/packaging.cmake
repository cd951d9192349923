# Installing zorflash (the Linux edition) and its Debian package.
#
#   sudo cmake --install build     /usr/local/bin/zorflash, its manual page and completion,
#                                  the udev rule where udev reads it, /var/lib/zorflash
#   cd build && cpack -G DEB       zorflash_<version>_amd64.deb, everything under /usr
include(GNUInstallDirs)

set(ZORFLASH_UDEV_RULES_DIR "" CACHE STRING
    "Folder for the udev rule, relative to the prefix or absolute; empty: lib/udev/rules.d under the /usr prefix, else /etc/udev/rules.d")

install(TARGETS zorflash RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/zorflash.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/zorflash.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME zorflash)

# udev reads rules from /usr/lib/udev/rules.d (the system's packages) and /etc/udev/rules.d
# (the administrator's) only: a rule under /usr/local/lib would never apply. The folder is
# chosen when installing, by the prefix installed to (cpack installs to a staging copy of
# /usr). The system's firmware folder, where the vendor's image files go, belongs to the
# package too.
install(CODE "set(zorflash_rule \"${PROJECT_SOURCE_DIR}/packaging/70-zorflash.rules\")
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
file(INSTALL "${zorflash_rule}" DESTINATION "${zorflash_rules_dir}")
# The machine's record of the sensors met, whatever the prefix: the program writes it only
# where this folder exists (else in each user's state folder), and never makes it itself.
file(MAKE_DIRECTORY "$ENV{DESTDIR}/var/lib/zorflash")
]])

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zorflash)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "zorflash developers <zorflash@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for the ORVELL pen-digitizer sensor")
set(CPACK_PACKAGE_DESCRIPTION "Finds the pen-digitizer sensor among the hidraw devices, shows its firmware version and writes the vendor's firmware image (installed separately in /usr/lib/firmware/zorflash).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libudev1")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${PROJECT_SOURCE_DIR}/packaging/postinst;${PROJECT_SOURCE_DIR}/packaging/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
