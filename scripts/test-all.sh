#!/usr/bin/env bash
# Sets up a Debian 12 machine and runs every test suite of zorflash:
# the native suite, the same suite under ASan+UBSan and under TSan, the Windows edition
# under Wine, and the bounded fuzz runs; builds the release folder twice and compares the
# bytes; checks that the suites left the machine's folders as they were. Prints one summary
# line at the end.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [[ $(id -u) -eq 0 ]]; then scripts/setup.sh; else sudo scripts/setup.sh; fi || exit 1
echo "=== setup: $SECONDS s"

passed=0
failed=0
status=0

# run_ctest NAME LOGFILE COMMAND...: runs one ctest invocation and adds its counts.
run_ctest() {
    local name=$1 log=$2 started=$SECONDS
    shift 2
    echo "=== $name"
    "$@" 2>&1 | tee "$log"
    local rc=${PIPESTATUS[0]}
    echo "=== $name: $((SECONDS - started)) s"
    # A suite may run ctest more than once (tests/win32/run.sh: both architectures): every
    # summary line counts.
    local lines line
    lines=$(grep -E "tests passed, [0-9]+ tests? failed out of [0-9]+" "$log")
    if [[ -n $lines ]]; then
        local total fail
        while read -r line; do
            total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
            fail=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
            passed=$((passed + total - fail))
            failed=$((failed + fail))
        done <<<"$lines"
    elif [[ $rc -ne 0 ]]; then
        failed=$((failed + 1))
    fi
    if [[ $rc -ne 0 ]]; then
        echo "=== $name FAILED (exit $rc)"
        status=1
    fi
}

mkdir -p "$root/build-logs"
# What the suites could leave on the machine, listed now and compared after the last one.
tests/linux/machine_untouched.sh build-logs/machine-before.txt
# The native build is the release configuration, as a distributor makes it: given image
# files (the placeholders' bytes, which the tests against the emulated sensor expect), so
# the suite checks the programs that carry images; the rows about a program that carries
# none run a test build of its own. ASan and TSan stay plain builds. The same build holds
# zorflash-gtk and its tests.
images="$root/build/test-images"
mkdir -p "$images" &&
    cmake -DZORFLASH_LAYOUT_DIR="$images" -P cmake/firmware_images.cmake &&
    g++ -std=c++17 -I"$root/src" -I"$images" -o "$images/write_placeholder_images" \
        tests/win32/write_placeholder_images.cpp &&
    "$images/write_placeholder_images" "$images" || exit 1
build_started=$SECONDS
cmake --preset default -DZORFLASH_GTK=ON -DZORFLASH_IMAGE_A="$images/image-a.bin" \
    -DZORFLASH_IMAGE_B="$images/image-b.bin" >/dev/null &&
    cmake --build --preset default || exit 1
echo "=== native build: $((SECONDS - build_started)) s"
# The real-time end-to-end runs (label long) run once, in the Linux suite below, which
# reuses this build; ASan runs them too.
# Every test counts the first time: nothing is run again.
run_ctest "native suite" build-logs/native.log ctest --preset default -LE long
# The fault matrix reports how many scenarios it generated.
grep -h "scenarios$" build/Testing/Temporary/LastTest.log 2>/dev/null | sort -u
# The Debian packages (command line and window): built, installed with dpkg, run, removed.
run_ctest "packages" build-logs/package.log tests/linux/package_check.sh build
# zorflash-gtk's window driven through the accessibility bus (label gtk), alone: it has a
# display and a bus of its own.
run_ctest "gtk" build-logs/gtk.log ctest --preset default -L gtk -j1

# The release folder, built twice from this commit: in two folders, the second later, signed
# with a throwaway certificate and carrying images. Every file must be the same bytes; where
# one differs, diffoscope shows where.
release_started=$SECONDS
echo "=== release folder, built twice"
rm -rf build-release
mkdir -p build-release/images build-release/1 build-release/2
release_ok=1
if cmake -DZORFLASH_LAYOUT_DIR=build-release/images -P cmake/firmware_images.cmake &&
    g++ -std=c++17 -Isrc -Ibuild-release/images -o build-release/images/write \
        tests/win32/write_placeholder_images.cpp &&
    build-release/images/write build-release/images &&
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=zorflash throwaway" \
        -keyout build-release/images/key.pem -out build-release/images/cert.pem 2>/dev/null; then
    release_options=(--image-a build-release/images/image-a.bin --image-b build-release/images/image-b.bin
                     --cert build-release/images/cert.pem --key build-release/images/key.pem)
    for n in 1 2; do
        scripts/release.sh "${release_options[@]}" "build-release/$n/out" >"build-logs/release-$n.log" 2>&1 ||
            { echo "=== scripts/release.sh FAILED (build-logs/release-$n.log)"; tail -20 "build-logs/release-$n.log"; release_ok=0; }
    done
else
    echo "=== the release's images or certificate could not be made"; release_ok=0
fi
if ((release_ok)); then
    (cd build-release/1/out && find . -type f -printf '%P\n' | sort) >build-release/1.files
    (cd build-release/2/out && find . -type f -printf '%P\n' | sort) >build-release/2.files
    diff build-release/1.files build-release/2.files || release_ok=0
    (cd build-release/1/out && sha256sum --quiet -c SHA256SUMS) || release_ok=0
    while IFS= read -r f; do
        if [[ -f build-release/2/out/$f ]] && ! cmp -s "build-release/1/out/$f" "build-release/2/out/$f"; then
            echo "=== $f differs between the two release builds:"
            timeout 600 diffoscope "build-release/1/out/$f" "build-release/2/out/$f" </dev/null
            release_ok=0
        fi
    done <build-release/1.files
fi
if ((release_ok)); then
    echo "=== release folder: the two builds are the same bytes ($(wc -l <build-release/1.files) files)"
    passed=$((passed + 1))
else
    echo "=== release folder FAILED"; failed=$((failed + 1)); status=1
fi
echo "=== release folder: $((SECONDS - release_started)) s"

for preset in asan tsan; do
    build_started=$SECONDS
    if cmake --preset $preset >/dev/null && cmake --build --preset $preset; then
        echo "=== $preset build: $((SECONDS - build_started)) s"
        run_ctest "$preset suite" build-logs/$preset.log ctest --preset $preset -LE "no-$preset"
    else
        echo "=== $preset build FAILED"; failed=$((failed + 1)); status=1
    fi
done

export ZORFLASH_LINUX_BUILD_DIR="$root/build"
run_ctest tests/win32/run.sh build-logs/win32.log tests/win32/run.sh
# The Linux suite's real-time runs and Wine against the emulated sensor; the window's ran above.
run_ctest tests/linux/run.sh build-logs/linux.log tests/linux/run.sh -L linux -LE gtk
# Each fuzz target runs 30 s from its corpus here (60 s when run by hand), one per core.
run_ctest tests/fuzz/run.sh build-logs/fuzz.log env ZORFLASH_FUZZ_SECONDS=30 tests/fuzz/run.sh

run_ctest "machine untouched" build-logs/machine.log \
    tests/linux/machine_untouched.sh build-logs/machine-before.txt --compare

echo "Summary: $passed passed, $failed failed"
exit $status
