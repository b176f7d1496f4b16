#!/bin/sh
# A person's session with the stub in a terminal: the real program runs in a
# tmux pane on a private tmux server and is driven by keys, the way someone
# at a terminal would use it. The dialog is drawn as text with its
# accelerator letters; the person changes the folder with 'f', then picks
# another with Browse ('b'), reads About, unzips with 'u', answers the result
# box and closes with 'c'.
#
# Usage: terminal_session.sh STUB PACKER WORKDIR
# Every wait is bounded; on a timeout the pane is printed and the test fails.
set -eu

stub=$1
packer=$2
mkdir -p "$3"
work=$(cd "$(mktemp -d "$3/terminal-XXXXXX")" && pwd)
# A private tmux server (its socket path must stay short).
socket=$(mktemp -u "${TMPDIR:-/tmp}/morvik-tmux-XXXXXX")
pane=sfx

tm() { tmux -S "$socket" "$@"; }
cleanup() {
    tm kill-server >/dev/null 2>&1 || true
    rm -f "$socket"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    echo "--- pane"
    tm capture-pane -p -J -S -500 -t "$pane" 2>/dev/null || true
    echo "--- transcript"
    cat "$work/transcript.txt" 2>/dev/null || true
    exit 1
}

screen() { tm capture-pane -p -J -S -500 -t "$pane"; }

# Waits (at most $2 tenths of a second, 100 by default) for text in the pane.
wait_for() {
    tries=${2:-100}
    while [ "$tries" -gt 0 ]; do
        if screen | grep -F -q -- "$1"; then
            return 0
        fi
        sleep 0.1
        tries=$((tries - 1))
    done
    fail "timed out waiting for: $1"
}

# Waits until text shows in the pane at least $2 times.
wait_count() {
    tries=100
    while [ "$tries" -gt 0 ]; do
        if [ "$(screen | grep -F -c -- "$1")" -ge "$2" ]; then
            return 0
        fi
        sleep 0.1
        tries=$((tries - 1))
    done
    fail "timed out waiting for $2 times: $1"
}

# Types a line (literally) and presses Enter.
type_line() {
    tm send-keys -t "$pane" -l -- "$1"
    tm send-keys -t "$pane" Enter
}

# The package: two files, unzipped by default to a folder the person replaces.
mkdir -p "$work/files/docs" "$work/home" "$work/windows"
printf 'alpha\n' >"$work/files/a.txt"
printf 'bravo\n' >"$work/files/docs/b.txt"
(cd "$work/files" && python3 -c '
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    for name in sys.argv[2:]:
        z.write(name, name)' "$work/archive.zip" a.txt docs/b.txt)
"$packer" --stub "$stub" --zip "$work/archive.zip" --out "$work/setup.exe" \
    --folder="$work/default" >/dev/null
out="$work/chosen folder"

tm -f /dev/null new-session -d -s "$pane" -x 110 -y 45 \
    "cd '$work' && env -u MORVIK_SCRIPT -u MORVIK_SCRIPT_TEXT HOME='$work/home' \
     TMP='$work/home' TEMP='$work/home' MORVIK_REGISTRY='$work/home/registry.txt' \
     MORVIK_WINDIR='$work/windows' MORVIK_TRANSCRIPT='$work/transcript.txt' \
     ./setup.exe; echo \"program ended with \$?\"; sleep 600"

# The dialog, drawn as text with its accelerator letters.
wait_for "== Morvik Self-Extractor - setup.exe =="
wait_for "To unzip all files in setup.exe to the specified folder press the Unzip button."
wait_for "Unzip to [f]older: $work/default"
wait_for "( ) [O]verwrite files without prompting"
wait_for "<[U]nzip (Enter)>  <Run [M]orvik>  <[C]lose (Esc)>  <[H]elp>  <[A]bout>"

# 'f' asks for the folder; the field shows what was typed.
type_line f
wait_for "Unzip to folder (Enter alone keeps \"$work/default\"):"
type_line "$out"
wait_for "Unzip to [f]older: $out"

# 'b' opens the folder picker: an empty line cancels it and the field keeps
# its folder; a line chooses the folder the run unzips to.
type_line b
wait_count "Type a folder and press Enter (an empty line cancels)" 1
type_line ""
wait_count "Unzip to [f]older: $out" 2
type_line b
wait_count "Type a folder and press Enter (an empty line cancels)" 2
picked="$work/picked folder"
type_line "$picked"
wait_for "Unzip to [f]older: $picked"

# About opens a box; Enter answers it.
type_line a
wait_for "This self-extracting Zip file was created by the Morvik Self-Extractor"
wait_for "[O]K (Enter)"
type_line ""

# Unzip, the result box, and Close now the default button.
type_line u
wait_for "2 file(s) unzipped successfully"
type_line ""
wait_for "<[U]nzip>  <Run [M]orvik>  <[C]lose (Enter) (Esc)>"
type_line c
wait_for "program ended with 0"

[ "$(cat "$picked/a.txt")" = alpha ] || fail "a.txt was not unzipped into the picked folder"
[ "$(cat "$picked/docs/b.txt")" = bravo ] || fail "docs/b.txt was not unzipped into the picked folder"
[ ! -e "$work/default" ] || fail "the default folder was used"
[ ! -e "$out" ] || fail "the typed folder was used after a folder was picked"
grep -q '^user: terminal$' "$work/transcript.txt" || fail "the terminal user did not run"
echo "terminal session passed"
