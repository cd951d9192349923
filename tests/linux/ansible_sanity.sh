#!/bin/bash
# ansible-test sanity over the collection, as Debian's ansible-core runs it without a network:
# the tests that would install their own requirements with pip are skipped (ansible-doc is
# read from the installed collection by the fleet test instead).
set -eu
# Ansible refuses to run unless the locale encoding is UTF-8.
export LC_ALL=C.UTF-8
source_dir="$(cd "$(dirname "$0")/../../ansible" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
collection="$work/ansible_collections/zorflash/firmware"
mkdir -p "$(dirname "$collection")"
cp -r "$source_dir" "$collection"
cd "$collection"
git init -q . && git add -A
exec ansible-test sanity --python "$(python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')" \
    --skip-test ansible-doc --skip-test import --skip-test pep8 --skip-test pylint \
    --skip-test runtime-metadata --skip-test validate-modules --skip-test yamllint
