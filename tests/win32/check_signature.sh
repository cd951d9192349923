#!/usr/bin/env bash
# Checks zorflash.exe's Authenticode signature against the certificate it was signed with,
# and that the same check refuses the program once a byte of it changed or its signature is
# taken away (so a pass means the signature really covers these bytes).
#
#   check_signature.sh OSSLSIGNCODE EXE CERT
set -euo pipefail
osslsigncode=$1 exe=$2 cert=$3

verify() { "$osslsigncode" verify -CAfile "$cert" -in "$1" >"$work/verify.log" 2>&1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if ! verify "$exe"; then
    cat "$work/verify.log"
    echo "FAIL: $exe: the signature does not verify against $cert" >&2
    exit 1
fi
grep -E "Signature verification: ok" "$work/verify.log"

# One byte in the middle of the program, inverted.
cp "$exe" "$work/tampered.exe"
size=$(stat -c %s "$exe")
offset=$((size / 2))
byte=$(od -An -tu1 -j "$offset" -N1 "$exe" | tr -d ' ')
printf "\\$(printf '%03o' $((byte ^ 0xff)))" |
    dd of="$work/tampered.exe" bs=1 seek="$offset" conv=notrunc status=none
if cmp -s "$exe" "$work/tampered.exe"; then
    echo "FAIL: could not change a byte of the copy" >&2
    exit 1
fi
if verify "$work/tampered.exe"; then
    echo "FAIL: a copy with byte $offset changed still verifies" >&2
    exit 1
fi
echo "changed byte $offset: refused"

"$osslsigncode" remove-signature -in "$exe" -out "$work/unsigned.exe" >/dev/null
if verify "$work/unsigned.exe"; then
    echo "FAIL: the copy without its signature still verifies" >&2
    exit 1
fi
echo "without its signature: refused"
