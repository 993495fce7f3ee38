#!/usr/bin/env bash
# The relay as its operator uses it: the program, built with scratch folders and a private INN, on a private X
# server; what only the real window shows is checked (screenshots in SCREEN_DIR, compared with earlier shots).
#   1. corpus/tick, dropped at start, waits for the first tick (60 s), which relays it and recounts errors.
#   2. corpus/double-click, then a double-click on Remaining: an Action at once, no recount. 3. FRESH recounts.
#   4. The server stalls (SIGSTOP): the busy window repaints when mapped again, answers _NET_WM_PING and
#      drops a click. Then under a window manager: closed during such a wait and started again, it goes on, its
#      window restored and in front; stopped by SIGTERM in another and started again, it ends with status 0 once
#      the Action has stopped after its file in progress, and the later start, which waited, takes its place.
# usage: operator_test.sh SOURCE_DIR CMAKE CXX_COMPILER GENERATOR BUILD_TYPE SCREEN_DIR WM_MESSAGE
# Runs as root (the private INN runs as user news). Exit 77: skipped.
set -u
source_dir=$1 cmake=$2 compiler=$3 generator=$4 build_type=$5 screens=$6 wm_message=${7:-}
corpus=$(dirname "$(realpath "$0")")/corpus
inn_script=$source_dir/scripts/inn-instance.sh
source "$(dirname "$(realpath "$0")")/../testing/x_session.sh"

for tool in Xvfb xdotool xwininfo xprop openbox import convert compare /usr/lib/news/bin/innd $wm_message; do
  command -v $tool >/dev/null || { echo "skipped: no $tool"; exit 77; }
done
[[ $(id -u) == 0 && -n $wm_message ]] || { echo "skipped: needs root (INN) and the wm_message helper (Xlib)"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quillport-operator-XXXXXX")
inn_dir=$(mktemp -d /tmp/quillport-operator-inn-XXXXXX)  # user news must be able to enter it
drop=$work/drop errors=$work/drop/Errors log=$work/log/~NNTP.log
program_pid= xvfb_pid= openbox_pid= window= innd=

stop_process() {  # TERM, then KILL when still there 5 s on
  [[ -n $1 ]] && kill "$1" 2>/dev/null && timeout 5 tail --pid="$1" -f /dev/null
  [[ -n $1 ]] && { kill -KILL "$1"; wait "$1"; } 2>/dev/null
}
cleanup() {
  [[ -z $innd ]] || kill -CONT "$innd" 2>/dev/null  # a stalled server could not shut down
  stop_process "$program_pid"; stop_process "$openbox_pid"; stop_process "$xvfb_pid"
  timeout 30 bash "$inn_script" stop "$inn_dir" >/dev/null 2>&1
  rm -rf "$work" "$inn_dir"
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP

now() { echo "${EPOCHREALTIME/./}"; }  # microseconds
launched=$(now)
since_launch() { echo $(($(now) - launched)); }
fail() {
  ls -laR "$drop" >&2 2>/dev/null
  for f in "$work/program.log" "$log" "$inn_dir/log/news" "$inn_dir/log/syslog"; do
    [[ -s $f ]] && { echo "--- $f" >&2; tail -n 30 "$f" | cat -A >&2; }
  done
  [[ -n $window ]] && import -window "$window" "$screens/failure.png" 2>/dev/null && echo "see $screens/failure.png" >&2
  echo "FAIL: $*" >&2
  exit 1
}
program_runs() { [[ -z $program_pid ]] || kill -0 "$program_pid" 2>/dev/null; }
wait_for() {  # SECONDS COMMAND...: runs COMMAND every 0.2 s until it succeeds
  local end=$(($(now) + $1 * 1000000)); shift
  until "$@"; do
    (($(now) < end)) || return 1
    program_runs || fail "the program has ended: $(tail -n 5 "$work/program.log")"
    sleep 0.2
  done
}

# --- The news server and the build
for _ in {1..20}; do  # until a port is free (exit status 3: taken)
  port=$((20000 + RANDOM % 30000))
  bash "$inn_script" start --watch $$ --temporary "$inn_dir" $port local.test >"$work/inn.log" 2>&1
  started=$?
  ((started == 3)) || break
done
((started == 0)) || fail "the news server does not start: $(cat "$work/inn.log")"

build=$work/build
"$cmake" -S "$source_dir" -B "$build" -G "$generator" -DCMAKE_CXX_COMPILER="$compiler" \
  -DCMAKE_BUILD_TYPE="$build_type" -DQUILLPORT_BUILD_TESTS=OFF -DQUILLPORT_DROP_FOLDER="$drop" \
  -DQUILLPORT_ERROR_FOLDER="$errors" -DQUILLPORT_LOG_FILE="$log" -DQUILLPORT_SERVER_HOST=127.0.0.1 \
  -DQUILLPORT_SERVER_PORT=$port >"$work/build.log" 2>&1 &&
  timeout 360 "$cmake" --build "$build" --target quillport --parallel 2 >>"$work/build.log" 2>&1 ||
  fail "the build failed: $(tail -n 30 "$work/build.log")"
program=$(find "$build" -type f -name quillport -perm -u+x | head -n1)
[[ -n $program ]] || fail "the build made no program"

# FILE...: the server took each corpus message FILE (INN logs each article it took with a "+")
posted() {
  local file id
  for file; do
    id=$(sed -n 's/^Message-ID: //p' "$file")
    wait_for 30 grep -qF " + localhost $id " "$inn_dir/log/news" || fail "the server did not take ${file##*/} ($id)"
  done
}

# --- The folders and the log
drop_corpus() {  # as a mail program would: CR LF line ends, written aside and moved in whole
  mkdir -p "$work/staging" && for file in "$1"/*; do sed 's/$/\r/' "$file" >"$work/staging/${file##*/}"; done
  mv "$work/staging"/* "$drop/"
}
listing() { find "$1" -mindepth 1 -maxdepth 1 ! -name .quillport.lock -printf '%f\n' | LC_ALL=C sort | tr '\n' ' '; }
folders_are() { [[ $(listing "$drop") == "$1" && $(listing "$errors") == "$2" ]]; }
connection_open() {  # the program's connection to the server (taken by the kernel also while the server stalls)
  awk -v remote="$(printf '0100007F:%04X' $port)" '$3 == remote && $4 == "01" { f = 1 } END { exit !f }' /proc/net/tcp
}
connection_closed() { ! connection_open; }  # an Action ends with its disconnect

# --- The window on screenshots (window coordinates, pixels)
readonly REMAINING=(352 57) FRESH=(292 320)  # txt_TIM_Rem, cmd_REFRESH
# txt_Error_Nb, txt_Info(6), all below the top frames
readonly ERROR_NB=57x19+208+312 TOTAL_NB=57x19+208+192 BELOW_TIMER=420x212+0+128
shot() { import -window "$window" "$screens/$1" || fail "no screenshot of the window"; }
alike() {  # SHOT REGION SHOT REGION: pixel for pixel
  convert "$screens/$1" -crop "$2" +repage "$work/a.png" && convert "$screens/$3" -crop "$4" +repage "$work/b.png" &&
    [[ $(compare -metric AE "$work/a.png" "$work/b.png" null: 2>&1) == 0 ]]
}
changed() { shot "$1" && ! alike "$1" "$2" "$3" "$2"; }  # SHOT REGION EARLIER_SHOT
# SHOT REGION: two shots half a second apart agree in REGION; the window has drawn what it had to draw.
settled() { shot "$1" && sleep 0.5 && shot settling.png && alike "$1" "$2" settling.png "$2"; }
click() { xdotool mousemove --window "$window" "$@" click 1; }
double_click() { xdotool mousemove --window "$window" "${REMAINING[@]}" click --repeat 2 --delay 80 1; }

# --- Start
mkdir -p "$errors" "${log%/*}" "$screens" "$work/xdg" && chmod 700 "$work/xdg" && rm -f "$screens"/*.png
start_xvfb || fail "Xvfb did not start"
launched=$(now)
XDG_RUNTIME_DIR=$work/xdg "$program" >"$work/program.log" 2>&1 &
program_pid=$!
viewable() { xwininfo -id "$window" | grep -q 'Map State: IsViewable'; }
wait_for 30 window_of "$program_pid" || fail "the program shows no window"
# It asks to start minimised; with no window manager it is mapped anyway, else map it by hand.
wait_for 3 viewable || xdotool windowmap "$window"
wait_for 30 viewable || fail "the window cannot be shown"
wait_for 30 settled 1-start.png $BELOW_TIMER || fail "the window keeps changing after its start"
alike 1-start.png $ERROR_NB 1-start.png $TOTAL_NB || fail "the two 0 fields differ at start: are the positions right?"

# --- 1. Dropped files wait for the first tick; that tick relays them and recounts the error folder
drop_corpus "$corpus/tick"
(($(since_launch) < 50000000)) || fail "too slow: the corpus came after 50 s, too near the first tick"
wait_for 100 folders_are "Errors d-empty.cnm " "c-nowhere.cnm " ||
  fail "the first tick relayed nothing: $(listing "$drop")"
(($(since_launch) >= 59000000)) || fail "the files were handled before the first tick"
wait_for 30 changed 2-after-tick.png $ERROR_NB 1-start.png || fail "the tick did not recount the error folder"
wait_for 30 settled 2-after-tick.png $BELOW_TIMER || fail "the window keeps changing after the tick"
posted "$corpus"/tick/{a-ordinary,b-dotted}.cnm

# --- 2. A double-click relays what came since, at once, without a recount. The tick at 120 s only counts
# down (the Action reset the count to the 2-minute period): anything before 180 s is the double-click.
drop_corpus "$corpus/double-click"
double_click
wait_for 60 folders_are "Errors d-empty.cnm " "c-nowhere.cnm g-elsewhere.cnm " ||
  fail "the double-click relayed nothing: $(listing "$drop")"
(($(since_launch) < 175000000)) || fail "too slow to tell the double-click from the next timed Action"
wait_for 30 connection_closed || fail "the double-click's Action did not end"
wait_for 30 settled 3-after-double-click.png $BELOW_TIMER || fail "the window keeps changing after the double-click"
posted "$corpus/double-click/f-later.cnm"
# A recount would show the second file filed (1 -> 2).
alike 3-after-double-click.png $ERROR_NB 2-after-tick.png $ERROR_NB || fail "a double-click recounted the error folder"

# --- 3. FRESH recounts: two files in the error folder, as many as the last Action handled (both show 2)
click "${FRESH[@]}"
wait_for 30 changed 4-after-fresh.png $ERROR_NB 3-after-double-click.png || fail "FRESH did not recount"
wait_for 30 settled 4-after-fresh.png $BELOW_TIMER || fail "the window keeps changing after FRESH"
alike 4-after-fresh.png $ERROR_NB 4-after-fresh.png $TOTAL_NB || fail "after FRESH txt_Error_Nb does not show 2"

# --- 4. A stalling server: the busy window stays alive and takes no clicks
innd=$(tr -dc '0-9' <"$inn_dir/run/innd.pid") && [[ -n $innd ]] || fail "no pid file of the news server"
stalled_action() {  # CORPUS: drops it and double-clicks while the server stalls
  drop_corpus "$1"
  sleep 2.5  # the relay leaves a file alone for two seconds after it changed
  kill -STOP "$innd" || fail "cannot stop the news server"
  double_click
  wait_for 30 connection_open || fail "the double-click did not connect to the server"
}
(($(since_launch) < 140000000)) || fail "too slow: the stall would meet the next timed Action at 180 s"
printf 'Filed by hand.\r\n' >"$errors/z-extra.cnm"  # a recount would show 3 files
stalled_action "$corpus/stalled"
wait_for 30 settled 5-stalled.png $BELOW_TIMER || fail "the stalled window keeps changing"
xdotool windowunmap --sync "$window" && xdotool windowmap --sync "$window" || fail "cannot unmap and map the window"
wait_for 20 eval 'shot 5-stalled-mapped.png && alike 5-stalled-mapped.png $BELOW_TIMER 5-stalled.png $BELOW_TIMER' ||
  fail "the stalled window did not repaint within 20 s after being mapped again"
ping=$("$wm_message" ping "$window" 10000) || fail "the stalled window did not answer _NET_WM_PING: $ping"
click "${FRESH[@]}"  # the window is disabled: this click must be lost, not run after the Action
# A ping after the click: once it is answered, the window has read the click too, still during the stall.
ping=$("$wm_message" ping "$window" 10000) || fail "the stalled window did not answer _NET_WM_PING: $ping"
sleep 0.5
program_runs || fail "the program has ended while it waited"
kill -CONT "$innd" || fail "cannot let the news server go on"
wait_for 60 folders_are "Errors d-empty.cnm " "c-nowhere.cnm g-elsewhere.cnm z-extra.cnm " ||
  fail "the stalled Action did not relay its file: $(listing "$drop")"
wait_for 30 connection_closed || fail "the stalled Action did not end"
wait_for 30 settled 6-after-stall.png $BELOW_TIMER || fail "the window keeps changing after the stall"
alike 6-after-stall.png $ERROR_NB 4-after-fresh.png $ERROR_NB || fail "a click on FRESH during the stall recounted"
posted "$corpus/stalled/h-stalled.cnm"

# From here on a window manager maps each window as its hints ask, as on a desktop.
start_openbox || fail "openbox does not start"
wait_for 3 viewable || xdotool windowactivate "$window"
wait_for 30 viewable || fail "the window is not shown under openbox"
in_front() { viewable && xprop -id "$window" WM_STATE | grep -q 'state: Normal' && [[ $(xdotool getactivewindow) == "$window" ]]; }

# The window closed during a stall: the Action is to stop after the file in progress. Started again meanwhile,
# the program takes the close back: the window returns, restored and in front, and the Action goes on to its end.
stalled_action "$corpus/closing"
"$wm_message" close "$window" || fail "cannot send WM_DELETE_WINDOW"
sleep 1
program_runs || fail "the program ended at once when its window was closed during an Action"
XDG_RUNTIME_DIR=$work/xdg timeout 60 "$program" >>"$work/program.log" 2>&1 || fail "the second start did not end by itself"
wait_for 30 in_front || fail "starting the program again did not bring its window back in front"
kill -CONT "$innd" || fail "cannot let the news server go on"
posted "$corpus/closing/i-closing.cnm"
wait_for 30 connection_closed || fail "the Action taken back did not end"
sleep 1
program_runs || fail "the program ended after its close was taken back"
in_front || fail "the window is not in front after the Action taken back"

# Stopped by SIGTERM during a stall (the session's end, a service manager), as closing its window does: once the
# server answers, the Action stops before its next file, closes its connection and the program ends with status 0.
# Unlike a close, a start 0.3 s later does not take the stop back: it says so, waits, and then takes the place.
kill -STOP "$innd" || fail "cannot stop the news server"
double_click
wait_for 30 connection_open || fail "the double-click did not connect to the server"
kill -TERM "$program_pid"
sleep 0.3
XDG_RUNTIME_DIR=$work/xdg "$program" >"$work/later.log" 2>&1 &
later_pid=$!
sleep 1
program_runs || fail "the program ended at once on SIGTERM during an Action"
kill -0 $later_pid 2>/dev/null || fail "a start after SIGTERM ended at once: $(cat "$work/later.log")"
grep -q 'the running instance is ending' "$work/later.log" || fail "a start after SIGTERM does not say that it waits"
kill -CONT "$innd" || fail "cannot let the news server go on"
for _ in {1..300}; do program_runs && sleep 0.2; done
! program_runs || fail "the program did not end on SIGTERM"
wait $program_pid; status=$? program_pid=$later_pid
((status == 0)) || fail "the program ended with status $status on SIGTERM"
[[ $(listing "$drop") == "Errors d-empty.cnm " ]] || fail "the Action stopped by SIGTERM left $(listing "$drop")"
wait_for 30 window_of "$program_pid" || fail "the start that waited shows no window: $(cat "$work/later.log")"
echo "PASS; screenshots in $screens"
