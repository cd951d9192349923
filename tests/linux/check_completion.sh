#!/usr/bin/env bash
# The bash completion of zorflash and zorflash-gtk (packaging/zorflash.bash-completion)
# against the programs themselves: the options it offers are exactly those each program's
# --help lists, and each value is completed as what it is (--report a file, --firmware-dir
# a folder, --family 0 or 1, a slash option's file), after "--option value" and
# "--option=value" alike. Prints a ctest-style summary line.
#
#   tests/linux/check_completion.sh COMPLETION_FILE BIN_DIR
set -uo pipefail
completion=$1
bin=$2
checks=0
failures=0

# The options a program's --help lists: its long options, and its slash options where the
# usage has them ("  /F0, /F1, /F2 FILE", "  /V").
help_options() {  # help_options PROGRAM long|slash
    if [[ $2 == long ]]; then
        "$bin/$1" --help | grep -oE '^  --[a-z-]+' | tr -d ' '
    else
        "$bin/$1" --help | grep -E '^  /' | sed -E 's/  +[a-z(].*//' | grep -oE '/[A-Z0-9]+'
    fi | sort | xargs
}

# What the completion offers for WORDS (the line split as bash splits it, '=' a word of its
# own), the cursor at the end of the last word; "_" stands for an empty last word.
complete_words() {  # complete_words WORD...
    (
        # shellcheck disable=SC1090
        source "$completion"
        COMP_WORDS=("$@")
        [[ ${COMP_WORDS[-1]} == _ ]] && COMP_WORDS[-1]=
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        _zorflash
        printf '%s\n' "${COMPREPLY[@]}" | sort | xargs
    )
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/firmware" "$work/fonts"
touch "$work/fw-notes.txt" "$work/run.json"
cd "$work" || exit 1

zorflash_long=$(help_options zorflash long)
zorflash_slash=$(help_options zorflash slash)
window_long=$(help_options zorflash-gtk long 2>/dev/null)
window_slash=$(help_options zorflash-gtk slash 2>/dev/null)

# words (space-separated) | what is offered
rows=(
    "zorflash --|$zorflash_long"
    "zorflash-gtk --|$window_long"
    "zorflash /|$zorflash_slash"
    "zorflash-gtk /|$window_slash"
    "zorflash --f|--family --firmware-dir"
    "zorflash --up|--update"
    "zorflash-gtk --up|"
    "zorflash --info --re|--report"
    "zorflash /f|/F0 /F1 /F2 /F3"
    "zorflash --report _|firmware fonts fw-notes.txt run.json"
    "zorflash --report r|run.json"
    "zorflash-gtk --report = _|firmware fonts fw-notes.txt run.json"
    "zorflash --report = f|firmware fonts fw-notes.txt"
    "zorflash --report=f|--report=firmware --report=fonts --report=fw-notes.txt"
    "zorflash --firmware-dir _|firmware fonts"
    "zorflash-gtk --firmware-dir fi|firmware"
    "zorflash --firmware-dir = f|firmware fonts"
    "zorflash --family _|0 1"
    "zorflash-gtk --family = _|0 1"
    "zorflash --family=|--family=0 --family=1"
    "zorflash /F0 fw|fw-notes.txt"
    "zorflash -f3 r|run.json"
    "zorflash-gtk /F0 fw|"
)
check() {  # check DESCRIPTION EXPECTED ACTUAL
    checks=$((checks + 1))
    if [[ $2 == "$3" ]]; then
        echo "ok: $1"
    else
        echo "FAILED: $1: expected '$2', offered '$3'"
        failures=$((failures + 1))
    fi
}
# The table is only as good as --help's lists: neither may come out empty.
check "zorflash --help lists its long and slash options" yes \
    "$([[ $zorflash_long == --* && $zorflash_slash == /* ]] && echo yes)"
# A build without the window (ZORFLASH_GTK off) checks the terminal program's rows alone.
window=no
if [[ -x $bin/zorflash-gtk ]]; then
    window=yes
    check "zorflash-gtk --help lists its long options and no slash option" yes \
        "$([[ $window_long == --* && -z $window_slash ]] && echo yes)"
fi
for row in "${rows[@]}"; do
    words=${row%%|*}
    [[ $words == zorflash-gtk* && $window == no ]] && continue
    # shellcheck disable=SC2086
    check "$words" "${row#*|}" "$(complete_words $words)"
done

passed=$((checks - failures))
echo "$((100 * passed / checks))% tests passed, $failures tests failed out of $checks"
((failures == 0))
