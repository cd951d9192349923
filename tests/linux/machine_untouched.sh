#!/usr/bin/env bash
# Lists what the test suites could leave on the machine: the record folder, the journal's,
# lock and mount-table folders, the tests' folders in /tmp (and umockdev's), and what dpkg
# knows of the packages. Run before the suites to write the listing, and after them to
# compare: the difference is printed, with a ctest-style summary line (one test).
#
#   tests/linux/machine_untouched.sh LISTING             writes the listing
#   tests/linux/machine_untouched.sh LISTING --compare   exits non-zero when it changed
set -uo pipefail
listing() {
    find /var/lib/zorflash /run/systemd/journal /run/zorflash /run/lock /run/mount \
        /tmp/zorflash-* /tmp/umockdev.* -printf '%p %y %m %u\n' 2>/dev/null | sort
    dpkg-query -W -f='dpkg: ${Package} ${Status}\n' zorflash zorflash-gtk 2>/dev/null
}
if [[ ${2:-} != --compare ]]; then
    listing >"$1"
    exit
fi
changes=$(listing | diff "$1" - | grep '^[<>]')
if [[ -z $changes ]]; then
    echo "ok: the machine is as it was before the tests"
    echo "100% tests passed, 0 tests failed out of 1"
else
    echo "FAILED: the tests changed the machine (<: there before, >: there after):"
    echo "$changes"
    echo "0% tests passed, 1 tests failed out of 1"
    exit 1
fi
