#!/usr/bin/env bash
# Two starts of the program on a private X server with no window manager.
#
# The first start shows its window minimised (it asks to start iconic). The
# test then plays the window manager's part and iconifies it (unmaps it) and
# covers the screen with another window. The second start must end with
# exit code 0 and map no window of its own; the first instance must map its
# window again, ask for the normal state, put it on top and take the focus.
#
# usage: two_starts_test.sh PROGRAM DROP_FOLDER [SCREENSHOT.png]
#   DROP_FOLDER is the one the program was built with (it is in the caption).
#   SCREENSHOT, if given, receives a picture of the restored window.
set -u

program=$1
drop=$2
screenshot=${3:-}

for tool in Xvfb xdotool xprop xwininfo xev xmessage; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
if [[ -n $screenshot ]] && ! command -v import >/dev/null; then
  echo "skipped: import (ImageMagick) is not installed"; exit 77
fi

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  for log in "$work"/*.log; do echo "--- ${log##*/}" >&2; cat "$log" >&2; done
  exit 1
}
# Runs "$@" every 0.1 s until it succeeds; fails after 10 s.
wait_until() {
  for _ in $(seq 100); do "$@" && return 0; sleep 0.1; done
  return 1
}
hex() { printf '0x%x' "$1"; }
map_state() { xwininfo -id "$1" | sed -n 's/.*Map State: //p'; }
viewable() { [[ $(map_state "$1") == IsViewable ]]; }
initial_state() { xprop -id "$1" WM_HINTS | sed -n 's/.*Initial state is \(.*\) State\./\1/p'; }

# Xvfb picks a free display by itself and writes its number to fd 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
wait_until test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"

caption="Quillport $drop >>> NNTP"
"$program" >"$work/first.log" 2>&1 &
first=$!
pids+=("$first")
find_window() {
  window=$(xdotool search --all --pid "$first" --name ' >>> NNTP$' 2>/dev/null | head -n1)
  [[ -n $window ]]
}
wait_until find_window || fail "the first start shows no window"
wait_until viewable "$window" || fail "the first window is never mapped"
[[ $(xdotool getwindowname "$window") == "$caption" ]] ||
  fail "caption is '$(xdotool getwindowname "$window")', expected '$caption'"
[[ $(initial_state "$window") == Iconic ]] || fail "the first window does not start minimised"

# Iconify it as a window manager would, and cover the screen.
xdotool windowunmap "$window"
wait_until bash -c "xwininfo -id $window | grep -q 'Map State: IsUnMapped'" ||
  fail "the first window cannot be iconified"
xmessage -geometry 1024x768+0+0 "covering window" >"$work/cover.log" 2>&1 &
pids+=($!)
wait_until bash -c "xwininfo -root -children | grep -A1 children: | grep -q xmessage" ||
  fail "the covering window does not show"

# Watch every window mapped on the screen while the second start runs.
xev -root -event substructure >"$work/events.txt" 2>&1 &
xev_pid=$!
pids+=("$xev_pid")
sleep 0.5

timeout 30 "$program" >"$work/second.log" 2>&1
status=$?
[[ $status == 0 ]] || fail "the second start ended with $status"

wait_until viewable "$window" || fail "the first window is not restored"
[[ $(initial_state "$window") == Normal ]] || fail "the first window still asks to be minimised"
top=$(xwininfo -root -children | grep -A1 'children:' | tail -n1 | awk '{print $1}')
[[ $top == $(hex "$window") ]] || fail "the first window is not on top (top is $top)"
[[ $(xdotool getwindowfocus) == "$window" ]] || fail "the first window does not have the focus"
kill -0 "$first" 2>/dev/null || fail "the first instance has ended"

sleep 0.3
kill "$xev_pid" 2>/dev/null
# In xev's report the mapped window follows "window" on the second line.
others=$(awk '/^MapNotify/ { getline
                             for (i = 1; i < NF; i++) if ($i == "window") print $(i + 1) }' \
           "$work/events.txt" | tr -d , | sort -u | grep -v -x "$(hex "$window")")
[[ -z $others ]] || fail "the second start mapped a window: $others"

if [[ -n $screenshot ]]; then
  sleep 0.5
  import -window "$window" "$screenshot" || fail "no screenshot"
fi
echo "PASS: second start ended at once; first window restored, on top and focused"
