#!/usr/bin/env bash
# Makes PREFIX a new Wine prefix, as `wineboot -i` makes it, without paying for a wineboot
# each time: the first call makes one in <source>/build-wine/prefix and every call copies it.
# The callers then change their copy as they need (registry settings).
#
#   wine-prefix.sh PREFIX
#
# Runs Wine without LD_PRELOAD and UMOCKDEV_DIR: a prefix is made outside any test's preload.
set -euo pipefail

target=$1
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
pristine="$root/build-wine/prefix"
mkdir -p "$root/build-wine"

export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

exec 7>"$root/build-wine/lock"
flock 7
if [[ ! -f "$pristine/system.reg" ]]; then
    rm -rf "$pristine"
    WINEPREFIX="$pristine" env -u LD_PRELOAD -u UMOCKDEV_DIR wineboot -i >/dev/null 2>&1 7>&-
    WINEPREFIX="$pristine" env -u LD_PRELOAD -u UMOCKDEV_DIR wineserver -w 7>&-
fi
rm -rf "$target.new"
cp -a "$pristine" "$target.new"
flock -u 7
rm -rf "$target"
mv "$target.new" "$target"
