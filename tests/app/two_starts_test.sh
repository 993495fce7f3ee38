#!/usr/bin/env bash
# Starts of PROGRAM on a private X server: guard files planted by another user or left by a killed start block
# nothing; a second start ends with 0, maps no window and brings the first back, on top and focused; under
# openbox the frame is centred, minimised and restored, and stays where it is moved to. A start right after a
# stop signal is operator_test.sh's part.
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
wait_until() { for _ in $(seq 300); do "$@" && return 0; sleep 0.1; done; return 1; }  # 30 s and more
is_mapped() { [[ $(xwininfo -id "$1" | sed -n 's/.*Map State: //p') == "$2" ]]; }
window_of() {  # sets $window to the window of process $1
  window=$(xdotool search --all --pid "$1" --name ' >>> NNTP$' 2>/dev/null | head -n1) && [[ -n $window ]]
}
shows_window() { window_of "$1" && is_mapped "$window" IsViewable; }
# The window may be mapped a moment before its hints are rewritten.
has_initial_state() { xprop -id "$1" WM_HINTS | grep -q "Initial state is $2 State"; }
top_window() { xwininfo -root -children | grep -A1 'children:' | tail -n1; }
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

# -noreset keeps Xvfb up when the killed start, its only client, goes.
Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" &>"$work/xvfb.log" &
pids+=($!)
wait_until test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"

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

TMPDIR=$work "$program" >"$work/first.log" 2>&1 &
first=$! pids+=($!)
wait_until shows_window "$first" || fail "a start after a killed one shows no window"
has_initial_state "$window" Iconic || fail "the first window does not start minimised"
# Its class is the program's name, which the desktop entry gives as StartupWMClass.
[[ $(xprop -id "$window" WM_CLASS) == *' = "quillport", "quillport"' ]] || fail "the window's class is not quillport"
centred "$window" || fail "the first window is off centre by $(frame_offset "$window")"

xdotool windowunmap "$window"
wait_until is_mapped "$window" IsUnMapped || fail "the first window cannot be iconified"
xmessage -geometry 1024x768+0+0 "covering window" >"$work/cover.log" 2>&1 &
cover=$! pids+=($!)
wait_until eval 'top_window | grep -q xmessage' || fail "the covering window does not show"

# Watch every window mapped on the screen while the second start runs.
xev -root -event substructure >"$work/events.txt" 2>&1 &
xev=$! pids+=($!)
sleep 0.5
TMPDIR=$work timeout 60 "$program" >"$work/second.log" 2>&1 || fail "the second start ended with $?"

wait_until is_mapped "$window" IsViewable || fail "the first window is not restored"
wait_until has_initial_state "$window" Normal || fail "the first window still asks to be minimised"
top=$(top_window | awk '{print $1}')
[[ $top == $(printf '0x%x' "$window") ]] || fail "the first window is not on top (top is $top)"
[[ $(xdotool getwindowfocus) == "$window" ]] || fail "the first window does not have the focus"
kill -0 "$first" 2>/dev/null || fail "the first instance has ended"

sleep 0.3
kill "$xev" 2>/dev/null
# In xev's report the mapped window follows "window" on the second line.
others=$(awk '/^MapNotify/ { getline; for (i = 1; i < NF; i++) if ($i == "window") print $(i + 1) }' \
  "$work/events.txt" | tr -d , | sort -u | grep -v -x "$(printf '0x%x' "$window")")
[[ -z $others ]] || fail "the second start mapped a window: $others"

kill "$first" "$cover"
wait "$first" "$cover" 2>/dev/null
# No animation: once restored, the frame is where it stays.
mkdir "$work/openbox"
echo '<openbox_config><theme><animateIconify>no</animateIconify></theme></openbox_config>' \
  >"$work/openbox/rc.xml"
XDG_CONFIG_HOME=$work openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
wait_until eval 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' || fail "openbox does not start"
framed_window() { window_of "$1" && xprop -id "$window" _NET_FRAME_EXTENTS | grep -q =; }
mkdir "$work/framed"
TMPDIR=$work/framed "$program" >"$work/framed.log" 2>&1 &
framed=$! pids+=($!)
wait_until framed_window "$framed" || fail "openbox does not frame the window"
wait_until centred "$window" || fail "the minimised window is off centre by $(frame_offset "$window")"
xprop -id "$window" WM_STATE | grep -q 'state: Iconic' || fail "the framed window is not minimised"
TMPDIR=$work/framed timeout 60 "$program" >"$work/framed-second.log" 2>&1 ||
  fail "the second start under openbox ended with $?"
wait_until is_mapped "$window" IsViewable || fail "the framed window is not restored"
centred "$window" || fail "the restored window is off centre by $(frame_offset "$window")"
xdotool windowmove "$window" 40 30
wait_until eval '! centred "$window"' || fail "the restored window cannot be moved"
sleep 0.5
! centred "$window" || fail "the moved window went back to the centre"
echo "PASS: a killed start blocks nothing; a second start ends and brings the first forward; the window is centred"
