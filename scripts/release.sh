#!/usr/bin/env bash
# Builds everything a release holds into one folder, from a clean state each time:
#
#   OUTDIR/zorflash_<version>_amd64.deb        the Linux edition (command line)
#   OUTDIR/zorflash-gtk_<version>_amd64.deb    the Linux edition in a GTK window
#   OUTDIR/windows-x64/zorflash.exe            64-bit Windows
#   OUTDIR/windows-x86/zorflash.exe            32-bit Windows (i686)
#   OUTDIR/windows-*/zorflash-detect.cmd       the fleet tools' detection rule, beside each
#   OUTDIR/zorflash-firmware-<v>.tar.gz        the Ansible collection zorflash.firmware
#   OUTDIR/SHA256SUMS                          sha256sum's lines over all of them
#
#   scripts/release.sh [options] OUTDIR
#     --image-a FILE, --image-b FILE   the vendor's images to carry (else ZORFLASH_IMAGE_A /
#                                      ZORFLASH_IMAGE_B; without them the programs carry none)
#     --cert FILE, --key FILE          sign both exes with this PEM certificate and key (else
#                                      ZORFLASH_SIGN_CERT / ZORFLASH_SIGN_KEY; without them
#                                      the exes are unsigned)
#     --timestamp-url URL              countersign at this timestamp server (else
#                                      ZORFLASH_SIGN_TIMESTAMP_URL); its answer differs at
#                                      each signing, so the signed exes are then not
#                                      reproducible
#     --work DIR                       where the build folders are made: a fresh private
#                                      folder inside DIR (mktemp -d), removed at the end;
#                                      default: TMPDIR, else /tmp. DIR must be the caller's
#                                      or root's, and others may not write to it unless it
#                                      is sticky (as /tmp is)
#
# OUTDIR must not exist yet, or be an empty folder of the caller's that no one else may
# write to. The builds are dated SOURCE_DATE_EPOCH when it is set, else the last commit's
# time: the same commit, images and certificate give the same bytes, whoever builds it, in
# whatever folder, at whatever time. Builds only the programs a release ships, with -j2.
set -euo pipefail
umask 022
export LC_ALL=C TZ=UTC
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

die() { echo "release.sh: $*" >&2; exit 2; }
help() { sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'; }
usage() { help >&2; exit 2; }

image_a=${ZORFLASH_IMAGE_A:-} image_b=${ZORFLASH_IMAGE_B:-}
cert=${ZORFLASH_SIGN_CERT:-} key=${ZORFLASH_SIGN_KEY:-}
timestamp_url=${ZORFLASH_SIGN_TIMESTAMP_URL:-}
work_root="" out=""
while (($#)); do
    case $1 in
    --image-a | --image-b | --cert | --key | --timestamp-url | --work)
        (($# >= 2)) || die "$1 needs a value"
        case $1 in
        --image-a) image_a=$2 ;; --image-b) image_b=$2 ;;
        --cert) cert=$2 ;; --key) key=$2 ;;
        --timestamp-url) timestamp_url=$2 ;; --work) work_root=$2 ;;
        esac
        shift 2 ;;
    -h | --help) help; exit 0 ;;
    --) shift; (($# == 1)) || usage; out=$1; shift ;;
    -*) die "unknown option $1" ;;
    *) [[ -z $out ]] || usage; out=$1; shift ;;
    esac
done
[[ -n $out ]] || usage

# The inputs by absolute path (the builds run elsewhere), links left as given: an image's
# path is carried in the programs (their --json names it), so it is part of what is built.
absolute() { if [[ $1 == /* ]]; then printf '%s' "$1"; else printf '%s/%s' "$PWD" "$1"; fi; }
for name in image_a image_b cert key; do
    value=${!name}
    [[ -z $value ]] && continue
    [[ -f $value && -r $value ]] || die "${name/_/ } '$value' is not a readable file"
    printf -v "$name" '%s' "$(absolute "$value")"
done
if [[ -n $cert || -n $key ]] && [[ -z $cert || -z $key ]]; then
    die "signing needs both a certificate and its key"
fi
[[ -n $timestamp_url && -z $cert ]] && die "a timestamp server is only used when signing"

# The date of every build: given, else the commit's. Without one the packages would take
# the time they are made, and no one could rebuild the same bytes.
if [[ -z ${SOURCE_DATE_EPOCH:-} ]]; then
    SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null) ||
        die "no SOURCE_DATE_EPOCH and no commit to take the time from: set SOURCE_DATE_EPOCH"
fi
[[ $SOURCE_DATE_EPOCH =~ ^[0-9]+$ ]] || die "SOURCE_DATE_EPOCH '$SOURCE_DATE_EPOCH' is not a number of seconds"
export SOURCE_DATE_EPOCH
if [[ -n $(git -C "$root" status --porcelain --untracked-files=no 2>/dev/null) ]]; then
    echo "release.sh: warning: the source folder has uncommitted changes; they are built, but the commit does not hold them" >&2
fi

# Nothing from the caller's environment chooses compilers, flags or a compiler launcher.
unset CC CXX CFLAGS CXXFLAGS CPPFLAGS LDFLAGS RCFLAGS DESTDIR MAKEFLAGS \
      CMAKE_TOOLCHAIN_FILE CMAKE_GENERATOR CMAKE_GENERATOR_PLATFORM CMAKE_GENERATOR_TOOLSET \
      CMAKE_BUILD_TYPE CMAKE_CONFIGURATION_TYPES CMAKE_INSTALL_PREFIX CMAKE_EXPORT_COMPILE_COMMANDS \
      CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER CMAKE_BUILD_PARALLEL_LEVEL

# The release folder: made here, or an empty one that only its owner (the caller) writes to,
# so that nothing already in it, or put into it meanwhile, is mistaken for what was built.
if [[ -e $out || -L $out ]]; then
    [[ -d $out && ! -L $out ]] || die "'$out' exists and is not a folder"
    [[ -z $(find "$out" -mindepth 1 -maxdepth 1 -print -quit) ]] || die "'$out' is not empty"
    [[ -n $(find "$out" -maxdepth 0 -user "$(id -u)" ! -perm /022 -print) ]] ||
        die "'$out' is not the caller's, or others may write to it"
else
    mkdir -p -- "$out"
fi
out=$(cd -- "$out" && pwd)
# The builds run in a folder made here, private to the caller (mktemp -d makes it 0700 and
# fails rather than take one that exists), in a parent where nobody else may rename it or
# put another in its place: the caller's or root's, and not writable by others unless
# sticky. Its path changes at each run; the builds map it out of what they make.
work_root=${work_root:-${TMPDIR:-/tmp}}
[[ -d $work_root ]] || die "work folder '$work_root' is not a folder"
[[ -n $(find "$work_root/" -maxdepth 0 \( -user "$(id -u)" -o -user 0 \) \
          \( ! -perm /022 -o -perm -1000 \) -print) ]] ||
    die "work folder '$work_root' is another user's, or others may write to it"
work=$(mktemp -d "$work_root/zorflash-release.XXXXXX") || die "no work folder could be made in '$work_root'"
trap 'rm -rf -- "$work"' EXIT

common=(-DZORFLASH_BUILD_TESTS=OFF -DZORFLASH_BUILD_BENCHMARKS=OFF
        "-DZORFLASH_IMAGE_A=$image_a" "-DZORFLASH_IMAGE_B=$image_b")

echo "=== Linux packages (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)"
# cpack builds nothing itself (no install-all dependency): only the packaged programs are.
cmake -S "$root" -B "$work/linux" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORFLASH_GTK=ON \
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON "${common[@]}" >/dev/null
cmake --build "$work/linux" -j2 --target zorflash zorflash-note-met zorflash-gtk
(cd "$work/linux" && cpack -G DEB >/dev/null)
debs=("$work"/linux/*.deb)
((${#debs[@]} == 2)) || die "expected the two Linux packages, found: ${debs[*]}"
cp -- "${debs[@]}" "$out/"

# windows_exe TOOLCHAIN FOLDER: zorflash.exe cross-built, signed when a certificate is given.
windows_exe() {
    local toolchain=$1 folder=$2
    echo "=== $folder/zorflash.exe"
    cmake -S "$root" -B "$work/$folder" --toolchain "$root/cmake/$toolchain" \
        -DCMAKE_BUILD_TYPE=Release "${common[@]}" "-DZORFLASH_SIGN_CERT=$cert" \
        "-DZORFLASH_SIGN_KEY=$key" "-DZORFLASH_SIGN_TIMESTAMP_URL=$timestamp_url" >/dev/null
    cmake --build "$work/$folder" -j2 --target zorflash
    mkdir -- "$out/$folder"
    cp -- "$work/$folder/bin/zorflash.exe" "$out/$folder/zorflash.exe"
    cp -- "$root/packaging/windows/zorflash-detect.cmd" "$out/$folder/zorflash-detect.cmd"
}
windows_exe toolchain-mingw64.cmake windows-x64
windows_exe toolchain-mingw32.cmake windows-x86

# The Ansible collection. ansible-galaxy dates each member with the time it builds; they
# are dated SOURCE_DATE_EPOCH again, so that the tarball is the same bytes at every build.
echo "=== ansible/zorflash-firmware tarball"
mkdir -- "$work/collection"
# Ansible refuses to run unless the locale encoding is UTF-8, whatever the caller set.
LC_ALL=C.UTF-8 ansible-galaxy collection build "$root/ansible" --output-path "$work/collection" >/dev/null
collection=("$work"/collection/zorflash-firmware-*.tar.gz)
((${#collection[@]} == 1)) || die "expected one collection tarball, found: ${collection[*]}"
python3 - "${collection[0]}" "$out/$(basename -- "${collection[0]}")" "$SOURCE_DATE_EPOCH" <<'PY'
import gzip, io, sys, tarfile
source, target, epoch = sys.argv[1], sys.argv[2], int(sys.argv[3])
data = io.BytesIO()
with tarfile.open(source, 'r:gz') as old, tarfile.open(fileobj=data, mode='w',
                                                       format=tarfile.PAX_FORMAT) as new:
    for member in old.getmembers():
        member.mtime = epoch
        new.addfile(member, old.extractfile(member) if member.isfile() else None)
with open(target, 'wb') as out, gzip.GzipFile(filename='', mode='wb', fileobj=out,
                                              mtime=epoch) as packed:
    packed.write(data.getvalue())
PY

(cd "$out" && find . -type f ! -name SHA256SUMS -printf '%P\n' | sort | xargs -d '\n' sha256sum -- >SHA256SUMS)
echo "=== $out"
cat "$out/SHA256SUMS"
