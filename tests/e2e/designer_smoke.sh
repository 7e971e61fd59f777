#!/usr/bin/env bash
# The designer on a virtual display: it refuses to start without a display, opens the project
# named on its command line, lays out both trees, the grid and the log, creates a knob when the
# library item "Knob" is dragged onto the page, saves with Ctrl+S and closes cleanly; started
# with "/hide" it stays hidden until Alt+Ctrl+F6 is held, or until the designer is started again.
#
# Run under xvfb-run, with TESSORA (the designer), TESSORA_CLI, TESSORA_ICONS (resources/icons)
# and TESSORA_ARTIFACTS (where the screenshots go) set.
set -euo pipefail

: "${TESSORA:?}" "${TESSORA_CLI:?}" "${TESSORA_ICONS:?}" "${TESSORA_ARTIFACTS:?}"
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
WORK=$(mktemp -d)
PID=
cleanup() {
  [ -n "$PID" ] && kill -KILL "$PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  import -window root "$TESSORA_ARTIFACTS/designer_failure.png" 2>/dev/null || true
  [ -f "$WORK/designer.log" ] && sed 's/^/  designer: /' "$WORK/designer.log" >&2
  exit 1
}
mkdir -p "$TESSORA_ARTIFACTS" "$WORK/tmp"

# Without a display the designer says so and fails, instead of crashing in the toolkit.
if out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$TESSORA" 2>&1); then
  fail "started without a display"
fi
grep -q "no display" <<<"$out" || fail "no explanation without a display: $out"

# waits up to $1 seconds for the command "${@:2}" to succeed
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.2
  done
}
# true once the designer process has ended (a zombie counts as ended)
ended() { ! ps -o stat= -p "$PID" 2>/dev/null | grep -qv Z; }
window_title() { xdotool getwindowname "$WID" 2>/dev/null; }
title_is() { [ "$(window_title)" = "$1" ]; }
screenshot() {
  import -window root "$TESSORA_ARTIFACTS/$1.png"
  convert "$TESSORA_ARTIFACTS/$1.png" -depth 8 "ppm:$WORK/$1.ppm"
}

PROJECT="$WORK/smoke project.tsr"
"$TESSORA_CLI" new "$PROJECT"
started=$(date +%s%N)
TMPDIR="$WORK/tmp" "$TESSORA" "$PROJECT" >"$WORK/designer.log" 2>&1 &
PID=$!

WID=$(xdotool search --sync --onlyvisible --name '^Tessora' | head -1)
[ -n "$WID" ] || fail "no window"
# The start-up time, as a figure for the log (not a pass/fail criterion on a shared machine).
echo "window shown $(( ($(date +%s%N) - started) / 1000000 )) ms after start"
# The project named on the command line is loaded (unchanged: no '*') half a second after start.
wait_for 10 title_is "Tessora V1.08 ($PROJECT)" || fail "title after loading: $(window_title)"
[ -d "$WORK/tmp/TSR10.TMP/WEB" ] || fail "no working directory"
[ -f "$WORK/tmp/TSR10.TMP/WEB/index.html" ] || fail "no generated application"

# The window is laid out from the dialog template (642 x 377 dialog units): at least that big.
eval "$(xdotool getwindowgeometry --shell "$WID")"
((WIDTH >= 642 && HEIGHT >= 377)) || fail "window too small: ${WIDTH}x${HEIGHT}"
screenshot designer_start

# Both trees show their icons: the library holds "Page" and "Knob", the project one page.
mapfile -t pages < <(python3 "$HERE/designer_find_icon.py" "$WORK/designer_start.ppm" "$TESSORA_ICONS/page.png")
mapfile -t knobs < <(python3 "$HERE/designer_find_icon.py" "$WORK/designer_start.ppm" "$TESSORA_ICONS/knob.png")
((${#pages[@]} == 2)) || fail "expected the page icon in both trees, found: ${pages[*]}"
((${#knobs[@]} == 1)) || fail "expected one knob icon (library), found: ${knobs[*]}"
read -r lib_x lib_y <<<"${pages[0]}"
read -r page_x page_y <<<"${pages[1]}"
read -r knob_x knob_y <<<"${knobs[0]}"
((page_x > lib_x + 100)) || fail "the project tree is not right of the library: ${pages[*]}"
((knob_x > lib_x && knob_y > lib_y)) || fail "the knob is not under the library page"

# Drag "Knob" from the library onto the project's page, in small steps as a hand would.
xdotool mousemove "$knob_x" "$knob_y" mousedown 1
for step in 1 2 3 4 5 6 7 8 9 10; do
  xdotool mousemove $((knob_x + (page_x + 30 - knob_x) * step / 10)) \
    $((knob_y + (page_y - knob_y) * step / 10))
  sleep 0.05
done
sleep 0.3
xdotool mouseup 1
wait_for 5 title_is "Tessora V1.08 ($PROJECT)*" || fail "no change after the drop: $(window_title)"
sleep 0.5
screenshot designer_after_drop
mapfile -t knobs < <(python3 "$HERE/designer_find_icon.py" "$WORK/designer_after_drop.ppm" "$TESSORA_ICONS/knob.png")
((${#knobs[@]} == 2)) || fail "expected the knob icon in both trees after the drop, found: ${knobs[*]}"

# Ctrl+S saves to the project's own path without asking.
xdotool windowfocus --sync "$WID" 2>/dev/null || true
xdotool key --clearmodifiers ctrl+s
wait_for 5 title_is "Tessora V1.08 ($PROJECT)" || fail "title after Ctrl+S: $(window_title)"
shown=$("$TESSORA_CLI" show "$PROJECT")
expected=$(printf '   0  project\n   1    page  FirstPage\n   2      knob  knob1')
[ "$shown" = "$expected" ] || fail "saved project:
$shown
expected:
$expected"

# An unchanged project closes without a prompt; the working directory goes with it.
kill -TERM "$PID"
status=0
wait_for 10 ended || fail "still running after SIGTERM"
wait "$PID" || status=$?
PID=
((status == 0)) || fail "exit status $status"
[ ! -e "$WORK/tmp/TSR10.TMP" ] || fail "working directory left behind"
! grep -E "CRITICAL|WARNING|Error" "$WORK/designer.log" || fail "the toolkit complained"
# "/hide" starts hidden; holding Alt+Ctrl+F6 for a second shows the window again.
TMPDIR="$WORK/tmp" "$TESSORA" /hide >"$WORK/designer.log" 2>&1 &
PID=$!
visible() { [ -n "$(xdotool search --onlyvisible --name '^Tessora' 2>/dev/null)" ]; }
hidden() { ! visible; }
sleep 1.5
wait_for 5 hidden || fail "still visible with /hide"
sleep 1
hidden || fail "shown again without the keys"
xdotool keydown ctrl+alt+F6
wait_for 5 visible || { xdotool keyup ctrl+alt+F6; fail "Alt+Ctrl+F6 did not show the window"; }
xdotool keyup ctrl+alt+F6
kill -KILL "$PID"
PID=

# A second start shows a hidden designer as well as its own window.
TMPDIR="$WORK/tmp" "$TESSORA" /hide >"$WORK/designer.log" 2>&1 &
PID=$!
sleep 1.5
wait_for 5 hidden || fail "still visible with /hide"
TMPDIR="$WORK/tmp" "$TESSORA" >"$WORK/second.log" 2>&1 &
SECOND=$!
two_visible() { (($(xdotool search --onlyvisible --name '^Tessora' 2>/dev/null | wc -l) == 2)); }
wait_for 10 two_visible || { kill -KILL "$SECOND"; fail "a second start did not show the hidden designer"; }
kill -KILL "$SECOND" "$PID"
PID=

echo "designer smoke test passed; screenshots in $TESSORA_ARTIFACTS"
