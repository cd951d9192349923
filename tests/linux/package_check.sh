#!/usr/bin/env bash
# The Debian packages and the install rules, as an administrator uses them: builds the .deb
# with CPack from the build folder, checks that its members are dated and moded alike
# whoever packs them, installs it with dpkg, runs the installed zorflash --version, does the
# same with the window's package where the build has the window (zorflash-gtk; its manual
# page there, its desktop entry and AppStream metadata validated), removes them, and checks what `cmake --install`
# with the default prefix leaves (into a staging folder).
# Needs root for dpkg. Prints a ctest-style summary line.
#
#   tests/linux/package_check.sh [BUILD_DIR]      (default: build)
set -uo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
checks=0
failures=0

check() {  # check DESCRIPTION COMMAND...
    local what=$1
    shift
    checks=$((checks + 1))
    if "$@"; then
        echo "ok: $what"
    else
        echo "FAILED: $what"
        failures=$((failures + 1))
    fi
}

# The version the build was made with (cmake/version.cmake).
version=$(sed -nE 's/^#define ZORFLASH_VERSION "(.*)"$/\1/p' "$build/generated/zorflash_version.h")
deb="$build/zorflash_${version}_amd64.deb"
rm -f "$deb" "${deb/zorflash_/zorflash-gtk_}"
# Packed under a umask that would leave folders private: the packages must not show it.
check "cpack -G DEB builds $deb" bash -c "umask 077 && cd '$build' && cpack -G DEB >/dev/null && test -f '${deb#"$build"/}'"
# Reproducible packages: every member root's and dated the build's time, the folders 0755.
epoch=$(sed -nE 's/^set\(CPACK_ZORFLASH_SOURCE_DATE_EPOCH "([0-9]+)"\)$/\1/p' "$build/CPackConfig.cmake")
for package in "$deb" "${deb/zorflash_/zorflash-gtk_}"; do
    [[ -f $package ]] || continue
    check "$(basename "$package"): members root's, dated the build's time (${epoch:-none}), folders 0755" \
        bash -c "[[ -n '$epoch' ]] && dpkg-deb --fsys-tarfile '$package' | TZ=UTC tar -tv --full-time --numeric-owner |
                 awk -v t=\"\$(TZ=UTC date -d @$epoch '+%F %T')\" '
                     \$2 != \"0/0\" || \$4 \" \" \$5 != t || (\$1 ~ /^d/ && \$1 != \"drwxr-xr-x\") { bad = 1 }
                     { n++ } END { exit bad || n == 0 }'"
done
# Each manual page in the package of its program: the window's never in the command line's.
if [[ -f ${deb/zorflash_/zorflash-gtk_} ]]; then
    check "the window's manual page is in the window's package, not the command line's" \
        bash -c "dpkg-deb -c '${deb/zorflash_/zorflash-gtk_}' | grep -q ' ./usr/share/man/man1/zorflash-gtk.1\$' &&
                 ! dpkg-deb -c '$deb' | grep -q 'zorflash-gtk.1'"
fi
# The note's unit as the package ships it, sandboxed: systemd-analyze's exposure under 3
# (it judges the unit file alone; a template needs an instance name).
unitdir=$(mktemp -d)
check "the note's unit is sandboxed: systemd-analyze security exposure under 3" \
    bash -c "dpkg-deb --fsys-tarfile '$deb' | tar -xO './usr/lib/systemd/system/zorflash-note-met@.service' \
                 >'$unitdir/zorflash-note-met@0090.service' &&
             systemd-analyze security --offline=yes '$unitdir/zorflash-note-met@0090.service' |
             awk '/Overall exposure level/ { sub(/.*: /, \"\"); level = \$1 + 0; found = 1 }
                  END { print \"exposure \" level; exit !(found && level < 3) }'"
rm -rf "$unitdir"
# The packages are installed and purged only on a machine that has none of zorflash (neither
# package known to dpkg, no record folder): the purge would take the machine's own with them.
machine_has_zorflash() {
    [[ -e /var/lib/zorflash ]] || dpkg-query -W zorflash >/dev/null 2>&1 ||
        dpkg-query -W zorflash-gtk >/dev/null 2>&1
}
export -f machine_has_zorflash
if [[ $(id -u) -eq 0 ]] && [[ -f $deb ]] && machine_has_zorflash; then
    echo "skipped: installing the package: this machine has zorflash (a package or /var/lib/zorflash)"
elif [[ $(id -u) -eq 0 ]] && [[ -f $deb ]]; then
    check "dpkg installs the package" dpkg -i "$deb"
    for f in /usr/bin/zorflash /usr/lib/udev/rules.d/70-zorflash.rules \
             /usr/libexec/zorflash/zorflash-note-met '/usr/lib/systemd/system/zorflash-note-met@.service' \
             /usr/share/man/man1/zorflash.1 /usr/share/bash-completion/completions/zorflash \
             /usr/lib/tmpfiles.d/zorflash.conf; do
        check "the package installs $f" test -f "$f"
    done
    check "the package makes the firmware folder" test -d /usr/lib/firmware/zorflash
    check "the package makes the record folder" test -d /var/lib/zorflash
    check "the package makes the lock, root's 0644, in root's folder 0755" \
        bash -c 'test "$(stat -c %U:%a /run/zorflash /run/zorflash/zorflash.lock | xargs)" = "root:755 root:644"'
    # The rule's note as udev runs it for a family-1 sensor, into a fresh machine folder of
    # its own (a private mount namespace), not the machine's; -n: no mount table in /run/mount.
    note=$(sed -nE 's/.*RUN\+="([^"]*)".*/\1/p' /usr/lib/udev/rules.d/70-zorflash.rules)
    check "the rule's note, run as the rule runs it, writes the machine's record" \
        unshare -m sh -c "mount -n -t tmpfs -o mode=0755 none /var/lib/zorflash &&
                          ${note//\$attr\{idProduct\}/00e6} &&
                          test \"\$(cat /var/lib/zorflash/products-met)\" = 00e6"
    # As far as the unit's sandbox can be had without systemd: no capability, no new
    # privileges, no network, everything read-only but the record's folder.
    check "the note writes the record with no capability on a read-only system" \
        unshare -m -n sh -c "mount -o remount,bind,ro / && mount -t tmpfs -o mode=0755 none /var/lib/zorflash &&
                             setpriv --no-new-privs --bounding-set=-all --inh-caps=-all --ambient-caps=-all \
                                 /usr/libexec/zorflash/zorflash-note-met 0090 &&
                             test \"\$(stat -c '%u %a' /var/lib/zorflash/products-met)\" = '0 644' &&
                             test \"\$(cat /var/lib/zorflash/products-met)\" = 0090"
    # A sensor attached before the install: the postinst notes the normal-mode products of
    # the sensor's vendor it finds among the USB devices (here a sysfs of its own).
    check "the postinst notes the sensors already attached, and only those" \
        unshare -m sh -c "mount -t tmpfs -o mode=0755 none /var/lib/zorflash && mount -t tmpfs none /sys/bus &&
                          for d in 1-1:f0a5:00e6 1-2:f0a5:0094 1-3:1234:0090 1-4:f0a5:00e6; do
                              mkdir -p /sys/bus/usb/devices/\${d%%:*} &&
                              echo \${d#*:} | cut -d: -f1 >/sys/bus/usb/devices/\${d%%:*}/idVendor &&
                              echo \${d##*:} >/sys/bus/usb/devices/\${d%%:*}/idProduct || exit 1
                          done &&
                          /var/lib/dpkg/info/zorflash.postinst configure &&
                          test \"\$(cat /var/lib/zorflash/products-met)\" = 00e6"
    check "the note refuses anything but the two products" \
        bash -c "! /usr/libexec/zorflash/zorflash-note-met 0094 && ! /usr/libexec/zorflash/zorflash-note-met"
    check "the installed zorflash --version answers" \
        bash -c "/usr/bin/zorflash --version | head -n1 | grep -qxF 'zorflash $version'"
    check "the command line's package does not pull in GTK" \
        bash -c "! dpkg-deb -f '$deb' Depends | grep -qi gtk"
    # The window's package, where the build has the window (ZORFLASH_GTK).
    gtkdeb=${deb/zorflash_/zorflash-gtk_}
    if [[ -f $gtkdeb ]]; then
        check "dpkg installs the window's package" dpkg -i "$gtkdeb"
        app=/usr/share/applications/org.zorflash.ZorflashGtk.desktop
        info=/usr/share/metainfo/org.zorflash.ZorflashGtk.metainfo.xml
        for f in /usr/bin/zorflash-gtk "$app" "$info" /usr/share/man/man1/zorflash-gtk.1 \
                 /usr/share/icons/hicolor/{32x32,48x48,64x64,128x128,256x256}/apps/zorflash-gtk.png; do
            check "the window's package installs $f" test -f "$f"
        done
        check "the desktop entry is valid" desktop-file-validate "$app"
        check "the AppStream metadata is valid" appstreamcli validate --no-net "$info"
        check "the installed zorflash-gtk --version answers" \
            bash -c "/usr/bin/zorflash-gtk --version | head -n1 | grep -qxF 'zorflash-gtk $version'"
        check "dpkg purges the window's package" dpkg --purge zorflash-gtk
        check "nothing of the window's package is left" \
            bash -c "! test -e /usr/bin/zorflash-gtk && ! test -e $app && ! test -e $info &&
                     ! test -e /usr/share/man/man1/zorflash-gtk.1"
    fi
    check "dpkg purges the package" dpkg --purge zorflash
    check "nothing of the package is left" \
        bash -c '! test -e /usr/bin/zorflash && ! test -e /usr/lib/udev/rules.d/70-zorflash.rules && ! test -e /usr/libexec/zorflash/zorflash-note-met &&
                 ! test -e /run/zorflash && ! machine_has_zorflash'
else
    echo "skipped: installing the package needs root"
fi

# cmake --install with the default prefix (/usr/local): the rule where udev reads it.
staging=$(mktemp -d)
check "cmake --install with the default prefix puts the rule in /etc/udev/rules.d" \
    bash -c "DESTDIR='$staging' cmake --install '$build' >/dev/null &&
             test -f '$staging/etc/udev/rules.d/70-zorflash.rules' &&
             test -x '$staging/usr/local/bin/zorflash' && test -d '$staging/var/lib/zorflash' &&
             test -x '$staging/usr/local/libexec/zorflash/zorflash-note-met' &&
             grep -q 'RUN+=\"/usr/local/libexec/zorflash/zorflash-note-met' '$staging/etc/udev/rules.d/70-zorflash.rules' &&
             test -f '$staging/etc/systemd/system/zorflash-note-met@.service'"
rm -rf "$staging"

passed=$((checks - failures))
echo "$((100 * passed / checks))% tests passed, $failures tests failed out of $checks"
((failures == 0))
