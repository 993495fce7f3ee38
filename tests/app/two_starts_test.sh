#!/usr/bin/env bash
# Starts of PROGRAM on a private X server: guard files planted by another user or left by a killed start block
# nothing; under openbox the window starts minimised and centred; a second start ends with 0, maps no window
# and brings the first back, restored, on top and focused, centred, and it stays where it is moved to. A start
# right after a stop signal is operator_test.sh's part.
# usage: two_starts_test.sh PROGRAM
set -u
program=$1
for tool in Xvfb xdotool xprop xwininfo xev xmessage openbox; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)  # also the program's TMPDIR: its lock and socket go in quillport-UID here
unset XDG_RUNTIME_DIR
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; tail -n +1 "$work"/*.log >&2; exit 1; }
source "$(dirname "$0")/../testing/x_session.sh"
wait_until() { for _ in $(seq 300); do "$@" && return 0; sleep 0.1; done; return 1; }  # 30 s and more
is_mapped() { [[ $(xwininfo -id "$1" | sed -n 's/.*Map State: //p') == "$2" ]]; }
shows_window() { window_of "$1" && is_mapped "$window" IsViewable; }
# The window may be mapped a moment before its hints are rewritten.
has_initial_state() { xprop -id "$1" WM_HINTS | grep -q "Initial state is $2 State"; }
# How far the outer frame of window $1 (its size plus the frame extents the window manager gives it)
# lies from the centre of the 1024x768 screen, "dx dy", and whether that is at most a pixel each way.
frame_offset() {
  local x y w h l=0 r=0 t=0 b=0 extents
  read -r x y w h < <(xwininfo -id "$1" | awk '/Absolute upper-left X/ { x = $NF }
    /Absolute upper-left Y/ { y = $NF } /Width:/ { w = $NF } /Height:/ { h = $NF } END { print x, y, w, h }')
  extents=$(xprop -id "$1" _NET_FRAME_EXTENTS | sed -n 's/.*= //p' | tr -d ,)
  [[ -n $extents ]] && read -r l r t b <<<"$extents"
  echo $((x - l - (1024 - w - l - r) / 2)) $((y - t - (768 - h - t - b) / 2))
}
centred() { local dx dy; read -r dx dy < <(frame_offset "$1"); ((dx * dx <= 1 && dy * dy <= 1)); }

start_xvfb || fail "Xvfb did not start"
pids+=("$xvfb_pid")
# Without a window manager each start maps its window, minimised or not.
if ((EUID == 0)); then  # another user made the old lock file and the new private folder first
  planted=$work/planted
  chmod 711 "$work" && mkdir -m 1777 "$planted"
  key=$(printf '0\nxcb:%s\n%s' "$DISPLAY" "$(readlink -f "$program")" | sha256sum | cut -c1-32)
  setpriv --reuid=nobody --regid=nogroup --clear-groups \
    sh -c "ln -s /nowhere $planted/quillport-$key.lock && mkdir -m 777 $planted/quillport-0"
  TMPDIR=$planted "$program" >"$work/planted.log" 2>&1 &
  planted_start=$! pids+=($!)
  wait_until shows_window "$planted_start" || fail "guard files planted by another user stop a start"
  kill "$planted_start"
  wait "$planted_start" 2>/dev/null
fi

TMPDIR=$work "$program" >"$work/killed.log" 2>&1 &
killed=$! pids+=($!)
wait_until shows_window "$killed" || fail "the killed start never showed its window"
kill -9 "$killed"
wait "$killed" 2>/dev/null
(($(compgen -G "$work/quillport-$EUID/quillport-*" | wc -l) == 2)) || fail "no lock and socket left behind"

start_openbox || fail "openbox does not start"
pids+=("$openbox_pid")
framed_window() { window_of "$1" && xprop -id "$window" _NET_FRAME_EXTENTS | grep -q =; }
TMPDIR=$work "$program" >"$work/first.log" 2>&1 &
first=$! pids+=($!)
wait_until framed_window "$first" || fail "a start after a killed one shows no window that openbox frames"
has_initial_state "$window" Iconic || fail "the first window does not start minimised"
xprop -id "$window" WM_STATE | grep -q 'state: Iconic' || fail "the framed window is not minimised"
# Its class is the program's name, which the desktop entry gives as StartupWMClass.
[[ $(xprop -id "$window" WM_CLASS) == *' = "quillport", "quillport"' ]] || fail "the window's class is not quillport"
wait_until centred "$window" || fail "the minimised window is off centre by $(frame_offset "$window")"
frame=$(xwininfo -tree -id "$window" | sed -n 's/.*Parent window id: \(0x[0-9a-f]*\).*/\1/p')

# On top of the stack and focused.
in_front() { [[ $(($(xprop -root _NET_CLIENT_LIST_STACKING | awk '{ print $NF }'))) == "$1" &&
  $(xdotool getactivewindow) == "$1" ]]; }
xmessage -geometry 1024x768+0+0 "covering window" >"$work/cover.log" 2>&1 &
cover=$! pids+=($!)
wait_until eval 'cover_window=$(xdotool search --class xmessage | head -n1) && in_front "$cover_window"' \
  || fail "the covering window does not take the focus"
# Watch every window mapped on the screen while the second start runs.
xev -root -event substructure >"$work/events.txt" 2>&1 &
xev=$! pids+=($!)
sleep 0.5
TMPDIR=$work timeout 60 "$program" >"$work/second.log" 2>&1 || fail "the second start ended with $?"

wait_until is_mapped "$window" IsViewable || fail "the first window is not restored"
wait_until has_initial_state "$window" Normal || fail "the first window still asks to be minimised"
wait_until in_front "$window" || fail "the first window is not on top and focused"
kill -0 "$first" 2>/dev/null || fail "the first instance has ended"
centred "$window" || fail "the restored window is off centre by $(frame_offset "$window")"
sleep 0.3
kill "$xev" 2>/dev/null
# In xev's report the mapped window follows "window" on the second line; the first window's frame is mapped.
others=$(awk '/^MapNotify/ { getline; for (i = 1; i < NF; i++) if ($i == "window") print $(i + 1) }' \
  "$work/events.txt" | tr -d , | sort -u | grep -v -x -e "$(printf '0x%x' "$window")" -e "$frame")
[[ -z $others ]] || fail "the second start mapped a window: $others"
# Covered, not minimised: a start raises the window and gives it the focus.
xdotool windowactivate --sync "$cover_window" && wait_until in_front "$cover_window" || fail "cannot bring the cover forward"
TMPDIR=$work timeout 60 "$program" >"$work/third.log" 2>&1 || fail "the third start ended with $?"
wait_until in_front "$window" || fail "a start does not bring the covered window forward"

xdotool windowmove "$window" 40 30
wait_until eval '! centred "$window"' || fail "the restored window cannot be moved"
sleep 0.5
! centred "$window" || fail "the moved window went back to the centre"
echo "PASS: a killed start blocks nothing; a second start ends and brings the first forward; the window is centred"
