#!/bin/sh
# A person's sessions with the stub in a terminal: the real program runs in a
# tmux pane on a private tmux server and is driven by keys, the way someone
# at a terminal would use it. A letter, Enter or Escape acts as it is pressed;
# text for a field or the folder picker is typed as a line.
#  1. The dialog is drawn as text with its accelerator letters; the person
#     changes the folder with 'f', then picks another with Browse ('b'),
#     reads About, unzips with 'u', answers the result box with Enter and
#     closes with 'c' (exit code 0).
#  2. In a pane 60 columns wide: lines wrap at blanks inside the width, paths
#     show with this host's separators, the meter fills as the run goes, and
#     Escape at the overwrite question cancels at once; the program says
#     "Unzip Aborted" before it ends (exit code 1).
#  3. Without a terminal, a password dialog gets a plain line saying why no
#     password can be given.
#
# Usage: terminal_session.sh STUB PACKER WORKDIR
# Every wait is bounded; on a timeout the pane is printed and the test fails.
set -eu

stub=$1
packer=$2
# A private tmux server (its socket path must stay short), and every folder
# the sessions show under one short folder of the test's own: the screen
# wraps a long path, and what the test waits for must not depend on where
# the checkout lies. WORKDIR is kept for the callers and no longer used.
socket=$(mktemp -u "${TMPDIR:-/tmp}/morvik-tmux-XXXXXX")
short=$(mktemp -d "${TMPDIR:-/tmp}/mt-XXXXXX")
work="$short/work"
mkdir "$work"
pane=sfx

tm() { tmux -S "$socket" "$@"; }
cleanup() {
    tm kill-server >/dev/null 2>&1 || true
    rm -f "$socket"
    rm -rf "$short"
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

# Presses one key (a letter, Enter, Escape): it acts at once.
key() {
    tm send-keys -t "$pane" "$1"
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

wait_for "Press the letter in brackets; f = edit \"Unzip to folder\", o = tick/untick"

# 'f' asks for the folder; the field shows what was typed.
key f
wait_for "Unzip to folder (Enter alone keeps \"$work/default\"):"
type_line "$out"
wait_for "Unzip to [f]older: $out"

# 'b' opens the folder picker: an empty line cancels it and the field keeps
# its folder; a line chooses the folder the run unzips to.
key b
wait_count "Type a folder and press Enter (an empty line cancels)" 1
type_line ""
wait_count "Unzip to [f]older: $out" 2
key b
wait_count "Type a folder and press Enter (an empty line cancels)" 2
picked="$work/picked folder"
type_line "$picked"
wait_for "Unzip to [f]older: $picked"

# About opens a box; Enter answers it.
key a
wait_for "This self-extracting Zip file was created by the Morvik Self-Extractor"
wait_for "[O]K (Enter)"
key Enter

# Unzip, the result box, and Close now the default button.
key u
wait_for "2 file(s) unzipped successfully"
key Enter
wait_for "<[U]nzip>  <Run [M]orvik>  <[C]lose (Enter) (Esc)>"
key c
wait_for "program ended with 0"

[ "$(cat "$picked/a.txt")" = alpha ] || fail "a.txt was not unzipped into the picked folder"
[ "$(cat "$picked/docs/b.txt")" = bravo ] || fail "docs/b.txt was not unzipped into the picked folder"
[ ! -e "$work/default" ] || fail "the default folder was used"
[ ! -e "$out" ] || fail "the typed folder was used after a folder was picked"
grep -q '^user: terminal$' "$work/transcript.txt" || fail "the terminal user did not run"
echo "session 1 passed"

# ---- 2. a narrow screen, host paths, the meter, Escape and Cancel ------------
# Large enough for the meter to show at once; no folder in the package, so
# the default folder is TEMP in the Windows folder.
mkdir -p "$short/files" "$short/windows" "$short/home"
(cd "$short/files" && python3 -c '
import random, sys, zipfile
random.seed(7)
open("big.bin", "wb").write(bytes(random.getrandbits(8) for _ in range(700000)))
open("a.txt", "w").write("alpha\n")
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.write("big.bin")
    z.write("a.txt")' "$short/archive.zip")
"$packer" --stub "$stub" --zip "$short/archive.zip" --out "$short/setup.exe" >/dev/null
# A session of its own (the server ends with its last session, so the
# first goes once this one runs).
first=$pane
pane=narrow
tm -f /dev/null new-session -d -s "$pane" -x 60 -y 60 \
    "cd '$short' && env -u MORVIK_SCRIPT -u MORVIK_SCRIPT_TEXT -u TMP -u TEMP HOME='$short/home' \
     MORVIK_REGISTRY='$short/home/registry.txt' MORVIK_WINDIR='$short/windows' \
     ./setup.exe; echo \"program ended with \$?\"; sleep 600"

tm kill-session -t "$first"

# The default folder as this host writes it.
wait_for "Unzip to [f]older: $short/windows/TEMP"
wait_for "> "
# Every line fits the width and breaks at a blank: the hint, put together
# again from its lines, is the whole sentence.
hint='Press the letter in brackets; f = edit "Unzip to folder", o = tick/untick "Overwrite files without prompting".'
lines=$(tm capture-pane -p -t "$pane")
long=$(printf '%s\n' "$lines" | awk 'length($0) >= 60')
[ -z "$long" ] || fail "lines reach the edge of the screen: $long"
joined=$(printf '%s\n' "$lines" | sed -n '/^Press the letter/,/^> /p' | sed '$d' | tr '\n' ' ' | sed 's/ $//')
[ "$joined" = "$hint" ] || fail "the hint was not wrapped at blanks: $joined"

# The meter fills: its last state is a full bar.
key u
wait_for "[##############################] Unzipping a.txt"
wait_for "2 file(s) unzipped successfully"
key Enter

# Again: the overwrite question names the file with this host's separators;
# Escape answers Cancel at once, and the program says so before it ends.
key u
wait_for "File $short/windows/TEMP/big.bin already exists."
key Escape
wait_for "Unzip Aborted"
wait_for "program ended with 1"
if screen | grep -F -q '^['; then
    fail "Escape was echoed"
fi
echo "session 2 passed"

# ---- 3. no terminal: no password can be given -----------------------------------
(cd "$short/files" && zip -q -P secret "$short/secret.zip" a.txt)
"$packer" --stub "$stub" --zip "$short/secret.zip" --out "$short/secret.exe" --encrypted >/dev/null
status=0
env -u MORVIK_SCRIPT -u MORVIK_SCRIPT_TEXT HOME="$short/home" MORVIK_WINDIR="$short/windows" \
    "$short/secret.exe" -auto "$short/secret-out" </dev/null >"$short/out.txt" 2>&1 || status=$?
[ "$status" = 1 ] || fail "without a terminal the run ended with $status, not 1: $(cat "$short/out.txt")"
grep -F -q "Morvik Self-Extractor - Password: no password can be given: standard input is not a terminal" \
    "$short/out.txt" || fail "no plain line about the password: $(cat "$short/out.txt")"
if grep -F -q "pressing OK" "$short/out.txt"; then
    fail "OK was pressed on an empty password field: $(cat "$short/out.txt")"
fi
echo "session 3 passed"
echo "terminal sessions passed"
