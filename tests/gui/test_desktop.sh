#!/usr/bin/env bash
# The program's window under a real X server and window manager (Xvfb and openbox), driven by the keys a
# person presses (xdotool): the keys of a run never reach a field, F1 opens the help, closing during a run
# asks and stops at once, and what was on screen comes back at the next start.
#   test_desktop.sh PROGRAM SOURCE_DIR [HELP_FILE]
# HELP_FILE is the help F1 must open (default: vellum.html beside PROGRAM).
set -euo pipefail
program=$(readlink -f "$1")
source=$2
help=${3:-$(dirname "$program")/vellum.html}
for tool in xvfb-run openbox xdotool; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing (tools/setup.sh installs it)"; exit 77; }
done

if [[ -z "${VELLUM_IN_XVFB:-}" ]]; then
  # Again, inside a display of its own with a window manager.
  export VELLUM_IN_XVFB=1
  exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$@"
fi

work=$(mktemp -d)
chmod 755 "$work"
cleanup() {
  [[ -n "${vellum_pid:-}" ]] && kill -KILL "$vellum_pid" 2>/dev/null || true
  # Only the offices of this test: their profiles are below its own temporary folder.
  pkill -KILL -f "$work/tmp" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/home" "$work/tmp" "$work/in" "$work/out" "$work/bin" "$work/run"
chmod 700 "$work/run"
# Enough decks that the run is still going when the window is closed.
for i in $(seq 1 80); do cp "$source/samples/quarterly-review.pptx" "$work/in/deck$i.pptx"; done
# The desktop's opener, recording what it was asked to open instead of starting a browser.
cat >"$work/bin/xdg-open" <<EOF
#!/bin/sh
printf '%s\n' "\$1" >>"$work/opened"
EOF
chmod +x "$work/bin/xdg-open"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share" \
  XDG_CACHE_HOME="$work/home/.cache" XDG_RUNTIME_DIR="$work/run" TMPDIR="$work/tmp" PATH="$work/bin:$PATH" QT_QPA_PLATFORM=xcb LANG=C.UTF-8
session="$XDG_CONFIG_HOME/vellum/session.conf"

openbox >/dev/null 2>&1 &
sleep 1

fail() { echo "FAIL: $*"; exit 1; }
# Waits up to $1 seconds for the command that follows to succeed.
wait_for() {
  local limit=$1; shift
  for ((i = 0; i < limit * 10; i++)); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}
window_of() { xdotool search --onlyvisible --name "$1" | head -n 1; }
start() {
  "$program" "$@" >"$work/out.log" 2>&1 &
  vellum_pid=$!
  wait_for 30 window_of "Vellum Converter" || fail "no window appeared"
  win=$(window_of "Vellum Converter")
  xdotool windowactivate --sync "$win" >/dev/null 2>&1 || true
  sleep 0.5
}
# Real key presses (XTEST) to the window that has the focus, as a keyboard makes them.
keys() { xdotool key --clearmodifiers "$@"; sleep 0.3; }
offices_running() { pgrep -f "$work/tmp" >/dev/null; }
no_offices() { ! pgrep -f "$work/tmp" >/dev/null; }

# 1. A run started with Alt+C; during it Alt+S then Alt+C must not replace the source with "c".
start "-P:Source=$work/in/*.ppt?;Target=$work/out;ThreadsCount=1"
keys alt+c
wait_for 60 offices_running || fail "Alt+C started no run: $(cat "$work/out.log"; ls "$work/out")"
keys alt+s
keys alt+c
keys alt+t
keys x

# 2. F1 opens the help with the desktop's opener.
keys F1
wait_for 10 test -s "$work/opened" || fail "F1 opened nothing"
grep -qx "file://$help" "$work/opened" || fail "F1 opened $(cat "$work/opened"), not $help"

# 3. Closing during the run asks; Yes stops at once: no office, nothing half-written.
offices_running || fail "the run ended before the window was closed"
keys alt+F4
wait_for 10 window_of "^Vellum Converter$" || fail "closing during a run asked nothing"
question=$(window_of "^Vellum Converter$")
xdotool windowactivate --sync "$question" >/dev/null 2>&1 || true
answered=$(date +%s%N)
xdotool key --clearmodifiers alt+y
wait_for 10 bash -c "! kill -0 $vellum_pid" ||
  fail "the program did not end after Yes: windows $(xdotool search --onlyvisible --name Vellum getwindowname %@ 2>&1)"
wait "$vellum_pid" || true
echo "the program ended $(( ($(date +%s%N) - answered) / 1000000 )) ms after Yes"
vellum_pid=
wait_for 5 no_offices || fail "an office outlived the program"
for f in "$work"/out/* "$work"/out/.*; do
  [[ -e "$f" && "$(basename "$f")" != . && "$(basename "$f")" != .. ]] || continue
  [[ "$f" == *.pdf ]] || fail "left in the target folder: $f"
  pdfinfo "$f" >/dev/null || fail "a half-written PDF: $f"
done

# The keys of the run never reached the fields: the source is as it was given; the read-only target kept
# its text too.
[[ -f "$session" ]] || fail "nothing was kept on close"
grep -q "Source=$work/in/\*.ppt?" "$session" || fail "the source was changed by the keys: $(cat "$session")"
grep -q "Target=$work/out/" "$session" || fail "the target was changed by the keys: $(cat "$session")"

# 4. A plain start brings back what was on screen and where the window was; moved and resized, the next start
# shows it there again.
start
xdotool windowsize "$win" 900 560
xdotool windowmove "$win" 40 30
sleep 0.5
geometry=$(xdotool getwindowgeometry "$win" | tr -s ' ' | grep -E 'Position|Geometry')
keys alt+F4
wait_for 10 bash -c "! kill -0 $vellum_pid" || fail "the idle window did not close"
vellum_pid=
grep -q "Source=$work/in/\*.ppt?" "$session" || fail "the source did not come back at the next start"
start
again=$(xdotool getwindowgeometry "$win" | tr -s ' ' | grep -E 'Position|Geometry')
[[ "$again" == "$geometry" ]] || fail "the window came back as $again, not $geometry"
keys alt+F4
wait_for 10 bash -c "! kill -0 $vellum_pid" || fail "the window did not close"
vellum_pid=
echo "desktop test passed"
