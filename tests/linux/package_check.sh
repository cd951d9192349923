#!/usr/bin/env bash
# The Debian packages and the install rules, as an administrator uses them: builds the .deb
# with CPack from the build folder, checks that its members are dated and moded alike
# whoever packs them, that each package carries its copyright, changelog and compressed
# manual page (gzip -9n), its own description and its maintainer (and that lintian, where
# installed, finds nothing to warn of), installs it with dpkg, runs the installed zorflash
# --version and its completion, does the same with the window's package where the build has
# the window (zorflash-gtk; its icons, its translations, its desktop entry and AppStream
# metadata validated), removes them, and checks what `cmake --install` with the default
# prefix leaves (into a staging folder).
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
        bash -c "dpkg-deb -c '${deb/zorflash_/zorflash-gtk_}' | grep -q ' ./usr/share/man/man1/zorflash-gtk.1.gz\$' &&
                 ! dpkg-deb -c '$deb' | grep -q 'zorflash-gtk.1'"
fi

# What a person reads of each package: its documents, its manual page, its control fields.
member() {  # member PACKAGE PATH: the file PATH of PACKAGE, as dpkg would install it
    dpkg-deb --fsys-tarfile "$1" | tar -xO "./$2"
}
# gzip -9n: no file name, no time, the best compression flag, Unix: the same bytes each time.
reproducible_gzip() {  # reproducible_gzip PACKAGE PATH
    [[ $(member "$1" "$2" | head -c 10 | od -An -tx1 | tr -d ' \n') == 1f8b0800000000000203 ]] &&
        member "$1" "$2" | gzip -t
}
# The machine-readable copyright: the format's first line, every file covered, and the
# text of each licence it names.
dep5_copyright() {  # dep5_copyright PACKAGE NAME
    local text names licence
    text=$(member "$1" "usr/share/doc/$2/copyright") || return 1
    [[ $(head -n1 <<<"$text") == "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ]] &&
        grep -qx 'Upstream-Name: zorflash' <<<"$text" && grep -qx 'Files: \*' <<<"$text" &&
        grep -q '^Copyright: [0-9]\{4\} ' <<<"$text" || return 1
    names=$(awk '/^Files:/ { files = 1 } files && /^License:/ { print $2; files = 0 }' <<<"$text")
    [[ -n $names ]] || return 1
    for licence in $names; do
        grep -A1 -x "License: $licence" <<<"$text" | grep -q '^ [A-Za-z]' || return 1
    done
    grep -A1 -x 'License: MIT' <<<"$text" | grep -q '^ Permission is hereby granted'
}
# The changelog: the source package at the build's version, signed by the maintainer on
# the build's date (SOURCE_DATE_EPOCH, as every date of the package).
built_changelog() {  # built_changelog PACKAGE NAME
    local text
    text=$(member "$1" "usr/share/doc/$2/changelog.gz" | gzip -dc) || return 1
    [[ $(head -n1 <<<"$text") == "zorflash ($version) unstable; urgency=medium" ]] &&
        [[ $(grep '^ -- ' <<<"$text" | head -n1) == " -- $maintainer  $(LC_ALL=C date -u -R -d "@$epoch")" ]]
}
maintainer="zorflash developers <maintainers@zorflash.org>"
gtkdeb=${deb/zorflash_/zorflash-gtk_}
# package | name | its manual page | a word its summary must hold
packages=("$deb|zorflash|zorflash.1.gz|terminal" "$gtkdeb|zorflash-gtk|zorflash-gtk.1.gz|window")
for row in "${packages[@]}"; do
    IFS='|' read -r package name page kind <<<"$row"
    [[ -f $package ]] || continue
    check "$name: /usr/share/doc/$name/copyright is machine-readable, MIT, with its text" \
        dep5_copyright "$package" "$name"
    check "$name: /usr/share/doc/$name/changelog.gz names $version, dated the build's time, gzip -9n" \
        bash -c "$(declare -f member reproducible_gzip built_changelog); version='$version' epoch='$epoch' maintainer='$maintainer'
                 reproducible_gzip '$package' 'usr/share/doc/$name/changelog.gz' && built_changelog '$package' '$name'"
    check "$name: its manual page is compressed with gzip -9n and reads as $name's" \
        bash -c "$(declare -f member reproducible_gzip); reproducible_gzip '$package' 'usr/share/man/man1/$page' &&
                 member '$package' 'usr/share/man/man1/$page' | gzip -dc | grep -q '^\.TH ${name^^} 1 .* \"zorflash $version\"'"
    check "$name: maintained by $maintainer" \
        test "$(dpkg-deb -f "$package" Maintainer)" = "$maintainer"
    # A summary that says which of the two it is, and a description of several lines.
    check "$name: a summary of its own ($kind) and a long description" \
        bash -c "dpkg-deb -f '$package' Description | head -n1 | grep -q '$kind' &&
                 test \$(dpkg-deb -f '$package' Description | grep -c '^ [^.]') -ge 5"
done
if [[ -f $gtkdeb ]]; then
    check "the two packages' descriptions differ" \
        bash -c "! diff <(dpkg-deb -f '$deb' Description) <(dpkg-deb -f '$gtkdeb' Description) >/dev/null"
    # Each translation of the window as the build compiled it, where the installed window
    # looks for it (beside the program: /usr/share/locale), and only in the window's package.
    for language in $(grep -v '^#' po/LINGUAS); do
        mo=usr/share/locale/$language/LC_MESSAGES/zorflash.mo
        check "the window's package holds /$mo" \
            bash -c "$(declare -f member); cmp -s <(member '$gtkdeb' '$mo') '$build/locale/$language/LC_MESSAGES/zorflash.mo' &&
                     ! dpkg-deb -c '$deb' | grep -q zorflash.mo"
    done
fi
# lintian (where installed) finds no error and no warning in either package.
if command -v lintian >/dev/null; then
    judged=("$deb")
    [[ -f $gtkdeb ]] && judged+=("$gtkdeb")
    check "lintian finds no error or warning" \
        bash -c "! lintian $(printf "'%s' " "${judged[@]}") 2>/dev/null | grep -E '^[EW]: '"
else
    echo "skipped: lintian is not installed"
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
             /usr/share/man/man1/zorflash.1.gz /usr/share/bash-completion/completions/zorflash \
             /usr/lib/tmpfiles.d/zorflash.conf /usr/share/doc/zorflash/{copyright,changelog.gz}; do
        check "the package installs $f" test -f "$f"
    done
    # The completion as bash-completion loads it, against the installed program.
    check "the installed completion offers what the installed zorflash takes" \
        bash -c "tests/linux/check_completion.sh /usr/share/bash-completion/completions/zorflash /usr/bin >/dev/null"
    check "the package makes the firmware folder" test -d /usr/lib/firmware/zorflash
    check "the package makes the record folder" test -d /var/lib/zorflash
    check "the package makes the lock, root's 0644, in root's folder 0755" \
        bash -c 'test "$(stat -c %U:%a /run/zorflash /run/zorflash/zorflash.lock | xargs)" = "root:755 root:644"'
    # The rule's note as udev runs it for a family-1 sensor, into a fresh machine folder of
    # its own (a private mount namespace), not the machine's; every mount -n: no mount table in
    # /run/mount, which the namespace shares with the machine.
    note=$(sed -nE 's/.*RUN\+="([^"]*)".*/\1/p' /usr/lib/udev/rules.d/70-zorflash.rules)
    check "the rule's note, run as the rule runs it, writes the machine's record" \
        unshare -m sh -c "mount -n -t tmpfs -o mode=0755 none /var/lib/zorflash &&
                          ${note//\$attr\{idProduct\}/00e6} &&
                          test \"\$(cat /var/lib/zorflash/products-met)\" = 00e6"
    # As far as the unit's sandbox can be had without systemd: no capability, no new
    # privileges, no network, everything read-only but the record's folder.
    check "the note writes the record with no capability on a read-only system" \
        unshare -m -n sh -c "mount -n -o remount,bind,ro / && mount -n -t tmpfs -o mode=0755 none /var/lib/zorflash &&
                             setpriv --no-new-privs --bounding-set=-all --inh-caps=-all --ambient-caps=-all \
                                 /usr/libexec/zorflash/zorflash-note-met 0090 &&
                             test \"\$(stat -c '%u %a' /var/lib/zorflash/products-met)\" = '0 644' &&
                             test \"\$(cat /var/lib/zorflash/products-met)\" = 0090"
    # A sensor attached before the install: the postinst notes the normal-mode products of
    # the sensor's vendor it finds among the USB devices (here a sysfs of its own).
    check "the postinst notes the sensors already attached, and only those" \
        unshare -m sh -c "mount -n -t tmpfs -o mode=0755 none /var/lib/zorflash && mount -n -t tmpfs none /sys/bus &&
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
    if [[ -f $gtkdeb ]]; then
        check "dpkg installs the window's package" dpkg -i "$gtkdeb"
        app=/usr/share/applications/org.zorflash.ZorflashGtk.desktop
        info=/usr/share/metainfo/org.zorflash.ZorflashGtk.metainfo.xml
        icons=/usr/share/icons/hicolor
        for f in /usr/bin/zorflash-gtk "$app" "$info" /usr/share/man/man1/zorflash-gtk.1.gz \
                 /usr/share/doc/zorflash-gtk/{copyright,changelog.gz} \
                 /usr/share/bash-completion/completions/zorflash-gtk \
                 $icons/scalable/apps/org.zorflash.ZorflashGtk.svg \
                 $icons/symbolic/apps/org.zorflash.ZorflashGtk-symbolic.svg \
                 /usr/share/locale/de/LC_MESSAGES/zorflash.mo; do
            check "the window's package installs $f" test -f "$f"
        done
        # Each rendered size is the size its folder says.
        for size in 16 24 32 48 64 128 256; do
            check "the window's package installs the icon at ${size}x$size" \
                bash -c "file '$icons/${size}x$size/apps/org.zorflash.ZorflashGtk.png' |
                         grep -q 'PNG image data, $size x $size, 8-bit/color RGBA'"
        done
        # The name the desktop entry gives and the one the window sets both find the drawing.
        drawn_icon() {  # drawn_icon NAME: the hicolor theme's NAME is the drawing, and rendered
            cmp "$icons/scalable/apps/$1.svg" "$icons/scalable/apps/org.zorflash.ZorflashGtk.svg" &&
                test -f "$icons/256x256/apps/org.zorflash.ZorflashGtk.png"
        }
        check "the desktop entry's icon is the drawing" drawn_icon "$(sed -n 's/^Icon=//p' "$app")"
        # The window sets its icon by the application's id, which the program carries.
        check "the window's icon name is the drawing" \
            bash -c "grep -q org.zorflash.ZorflashGtk /usr/bin/zorflash-gtk && test -f $icons/scalable/apps/org.zorflash.ZorflashGtk.svg"
        check "the installed completion offers what the installed zorflash-gtk takes" \
            bash -c "tests/linux/check_completion.sh /usr/share/bash-completion/completions/zorflash-gtk /usr/bin >/dev/null"
        check "the AppStream release is $version, dated the build's day, with a screenshot" \
            bash -c "grep -qF '<release version=\"$version\" date=\"$(date -u -d "@$epoch" +%F)\">' '$info' &&
                     grep -q '<caption>..*</caption>' '$info'"
        check "the desktop entry is valid" desktop-file-validate "$app"
        check "the AppStream metadata is valid" appstreamcli validate --no-net "$info"
        check "the installed zorflash-gtk --version answers" \
            bash -c "/usr/bin/zorflash-gtk --version | head -n1 | grep -qxF 'zorflash-gtk $version'"
        check "dpkg purges the window's package" dpkg --purge zorflash-gtk
        check "nothing of the window's package is left" \
            bash -c "! test -e /usr/bin/zorflash-gtk && ! test -e $app && ! test -e $info &&
                     ! test -e /usr/share/man/man1/zorflash-gtk.1.gz && ! test -e /usr/share/doc/zorflash-gtk &&
                     ! test -e /usr/share/icons/hicolor/scalable/apps/org.zorflash.ZorflashGtk.svg &&
                     ! test -e /usr/share/locale/de/LC_MESSAGES/zorflash.mo"
    fi
    check "dpkg purges the package" dpkg --purge zorflash
    check "nothing of the package is left" \
        bash -c '! test -e /usr/bin/zorflash && ! test -e /usr/lib/udev/rules.d/70-zorflash.rules && ! test -e /usr/libexec/zorflash/zorflash-note-met &&
                 ! test -e /usr/share/doc/zorflash && ! test -e /usr/share/man/man1/zorflash.1.gz &&
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
