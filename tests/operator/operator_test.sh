#!/usr/bin/env bash
# The relay tried as its operator would use it.
#
# Builds the program once more with its settings pointing into a scratch
# folder and at a private INN on a free loopback port, starts it on a private
# X server and then only does what an operator and a mail program do: drop
# message files, wait for the minute timer, double-click the remaining-time
# field, click FRESH. What comes out is checked where an operator would look:
# the news server, the drop and error folders, the log file and the window.
#
#   1. The corpus in corpus/tick is dropped right after start. Nothing may
#      happen before the first timer tick (60 s after start); that tick runs
#      an Action and then recounts the error folder.
#   2. The corpus in corpus/double-click is dropped and the remaining-time
#      field double-clicked: an Action at once, well before the next timed
#      one (the Action reset the countdown to the period, 2 minutes), and the
#      error-folder figures must not be recounted.
#   3. FRESH recounts them.
#   4. The news server stalls (it is stopped with SIGSTOP: the kernel takes
#      the program's connection, the greeting comes only when the server is
#      let go on). While the program waits, its window must repaint after
#      being unmapped and mapped again and answer the window manager's
#      _NET_WM_PING, and a click on FRESH must not count; the message goes
#      out once the server answers. Then the window is closed during such a
#      wait: the program ends, with status 0, once that Action has posted
#      its message.
#
# Field texts of a Qt window cannot be read through X, so the window is
# checked on screenshots: the indicator pictures by their colours, the
# figures by comparing a field with itself on earlier shots or with a field
# of the same size and style that must show the same number. The shots are
# kept in SCREEN_DIR (1-start.png ... 6-after-stall.png) to be looked at.
#
# usage: operator_test.sh SOURCE_DIR CMAKE CXX_COMPILER GENERATOR BUILD_TYPE SCREEN_DIR WM_MESSAGE
# WM_MESSAGE is the test helper that sends window-manager messages.
# Runs as root (the private INN runs as user news). Exit 77: skipped.
set -u

source_dir=$1
cmake=$2
compiler=$3
generator=$4
build_type=$5
screens=$6
wm_message=${7:-}
corpus=$(dirname "$(realpath "$0")")/corpus
inn_script=$source_dir/scripts/inn-instance.sh

for tool in Xvfb xdotool xwininfo import convert compare; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
[[ -x /usr/lib/news/bin/innd ]] || { echo "skipped: inn2 is not installed"; exit 77; }
[[ $(id -u) == 0 ]] || { echo "skipped: the private news server needs root"; exit 77; }
[[ -n $wm_message && -x $wm_message ]] ||
  { echo "skipped: no window-manager message helper (Xlib missing?)"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quillport-operator-XXXXXX")
# The news server runs as user news and needs a way into its folder.
inn_dir=$(mktemp -d /tmp/quillport-operator-inn-XXXXXX)
drop=$work/drop
errors=$drop/Errors
log=$work/log/~NNTP.log
program_pid=
xvfb_pid=
window=
innd=

# Ends a process started here: TERM, and KILL when it is still there 5 s on.
stop_process() {
  [[ -n $1 ]] || return 0
  kill "$1" 2>/dev/null || return 0
  for _ in $(seq 50); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}
cleanup() {
  [[ -z $innd ]] || kill -CONT "$innd" 2>/dev/null  # a stalled server could not shut down
  stop_process "$program_pid"
  stop_process "$xvfb_pid"
  timeout 30 bash "$inn_script" stop "$inn_dir" >/dev/null 2>&1
  rm -rf "$work" "$inn_dir"
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP

started=${EPOCHREALTIME/./}
# Seconds since the test started, for the progress lines.
stamp() { printf '%6.1fs' "$(((${EPOCHREALTIME/./} - started) / 100000))e-1"; }
say() { echo "$(stamp) $*"; }

fail() {
  echo "--- drop folder" >&2
  ls -laR "$drop" >&2 2>/dev/null
  for f in "$work"/program.log "$log" "$inn_dir"/log/news "$inn_dir"/log/syslog; do
    [[ -s $f ]] || continue
    echo "--- $f" >&2
    tail -n 30 "$f" | cat -A >&2
  done
  if [[ -n $window ]] && import -window "$window" "$screens/failure.png" 2>/dev/null; then
    echo "--- the window at the failure: $screens/failure.png" >&2
  fi
  echo "FAIL: $*" >&2
  exit 1
}

# Runs "$@" every 0.2 s until it succeeds; gives up after $1 seconds.
wait_for() {
  local seconds=$1
  shift
  local end=$((${EPOCHREALTIME/./} + seconds * 1000000))
  until "$@"; do
    ((${EPOCHREALTIME/./} < end)) || return 1
    program_runs || fail "the program has ended: $(tail -n 5 "$work/program.log")"
    sleep 0.2
  done
}

program_runs() { [[ -z $program_pid ]] || kill -0 "$program_pid" 2>/dev/null; }

# Microseconds since the program was launched.
since_launch() { echo $((${EPOCHREALTIME/./} - launched)); }

# ---------------------------------------------------------------------------
# The news server and the build

port_taken() {
  { exec {fd}<>"/dev/tcp/127.0.0.1/$1"; } 2>/dev/null || return 1
  exec {fd}<&-
}

port=
for _ in $(seq 20); do
  candidate=$((20000 + RANDOM % 30000))
  port_taken "$candidate" && continue
  bash "$inn_script" start --watch $$ --temporary "$inn_dir" "$candidate" local.test \
    >"$work/inn.log" 2>&1
  case $? in
    0) port=$candidate; break ;;
    3) continue ;;
    *) fail "the news server does not start: $(cat "$work/inn.log")" ;;
  esac
done
[[ -n $port ]] || fail "no free port for the news server"
say "news server on 127.0.0.1:$port"

build=$work/build
"$cmake" -S "$source_dir" -B "$build" -G "$generator" \
  -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_BUILD_TYPE="$build_type" \
  -DQUILLPORT_BUILD_TESTS=OFF \
  -DQUILLPORT_DROP_FOLDER="$drop" -DQUILLPORT_ERROR_FOLDER="$errors" \
  -DQUILLPORT_LOG_FILE="$log" \
  -DQUILLPORT_SERVER_HOST=127.0.0.1 -DQUILLPORT_SERVER_PORT="$port" \
  >"$work/build.log" 2>&1 || fail "configuring failed: $(tail -n 20 "$work/build.log")"
timeout 360 "$cmake" --build "$build" --target quillport --parallel 2 >>"$work/build.log" 2>&1 ||
  fail "the build failed: $(tail -n 30 "$work/build.log")"
program=$(find "$build" -type f -name quillport -perm -u+x | head -n1)
[[ -n $program ]] || fail "the build made no program"
say "built $program"

# ---------------------------------------------------------------------------
# Reading the news server: one reader connection per question

# Prints the text that COMMAND (ARTICLE, HEAD or BODY) gives for a message
# id, dot-stuffing undone, each line ended by CR LF as the server sent it.
# Status 0: the server has the article; 1: it answers 430; 2: anything else.
nntp() {
  local command=$1 id=$2 fd line
  { exec {fd}<>"/dev/tcp/127.0.0.1/$port"; } 2>/dev/null || return 2
  local status=2
  if IFS= read -r -t 5 line <&"$fd" && [[ $line == 20[01]* ]]; then
    printf 'MODE READER\r\n' >&"$fd"
    if IFS= read -r -t 5 line <&"$fd" && [[ $line == 20[01]* ]]; then
      printf '%s %s\r\n' "$command" "$id" >&"$fd"
      IFS= read -r -t 5 line <&"$fd"
      case $line in
        22[012]*)
          while IFS= read -r -t 5 line <&"$fd"; do
            if [[ $line == $'.\r' ]]; then status=0; break; fi
            [[ $line != .* ]] || line=${line:1}
            printf '%s\n' "$line"
          done ;;
        430*) status=1 ;;
      esac
      printf 'QUIT\r\n' >&"$fd" 2>/dev/null
    fi
  fi
  exec {fd}<&-
  return $status
}

# Fails unless the server holds the corpus message FILE with its body
# exactly as the file has it.
posted_as_dropped() {
  local file=$1 id
  id=$(sed -n 's/^Message-ID: //p' "$file")
  nntp BODY "$id" >"$work/body.got"
  case $? in
    0) ;;
    1) fail "the server does not have ${file##*/} ($id)" ;;
    *) fail "the server gives no answer for $id" ;;
  esac
  awk 'body { print } /^$/ { body = 1 }' "$file" | sed 's/$/\r/' >"$work/body.want"
  cmp -s "$work/body.want" "$work/body.got" || {
    diff <(cat -A "$work/body.want") <(cat -A "$work/body.got") >&2
    fail "the body of $id on the server is not the body of ${file##*/} (< dropped, > on the server)"
  }
}

not_posted() {
  local file=$1 id
  id=$(sed -n 's/^Message-ID: //p' "$file")
  nntp HEAD "$id" >/dev/null
  case $? in
    1) ;;
    0) fail "${file##*/} ($id) must not be on the server" ;;
    *) fail "the server gives no answer for $id" ;;
  esac
}

# ---------------------------------------------------------------------------
# The folders and the log

# Puts the corpus files of $1 into the drop folder as a mail program would:
# CR LF line ends, each file written aside and then moved in whole.
drop_corpus() {
  local file
  mkdir -p "$work/staging"
  for file in "$1"/*.cnm "$1"/*.CNM; do
    [[ -e $file ]] || continue
    sed 's/$/\r/' "$file" >"$work/staging/${file##*/}"
    mv "$work/staging/${file##*/}" "$drop/"
  done
}

listing() { (cd "$1" && find . -mindepth 1 -maxdepth 1 -printf '%f\n' | LC_ALL=C sort | tr '\n' ' '); }

folders_are() {  # DROP_LISTING ERRORS_LISTING
  [[ $(listing "$drop") == "$1" && $(listing "$errors") == "$2" ]]
}

# The error folder's copy of a refused file must be what was dropped.
filed_as_dropped() {  # CORPUS_FILE FILED_NAME
  cmp -s <(sed 's/$/\r/' "$1") "$errors/$2" || fail "$errors/$2 is not ${1##*/} as dropped"
}

log_lines() { if [[ -f $log ]]; then grep -c '' "$log"; else echo 0; fi; }
log_has() { [[ $(log_lines) == "$1" ]]; }

# Every log line: #YYYY-MM-DD HH:MM:SS#,"NNNNNNN" and CR LF, dated within
# the run; the sizes, in any order, those of the non-empty files given.
check_log() {
  local line when now want got
  local record=$'^#([0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2})#,"([0-9]{7,})"\r$'
  now=$(date +%s)
  [[ -f $log ]] || fail "there is no log file $log"
  while IFS= read -r line; do
    [[ $line =~ $record ]] ||
      fail "bad log line: $(printf '%s' "$line" | cat -A)"
    when=$(date -d "${BASH_REMATCH[1]}" +%s) || fail "bad log date: ${BASH_REMATCH[1]}"
    ((when >= launched / 1000000 - 1 && when <= now + 1)) ||
      fail "log line dated outside the run: $line"
  done <"$log"
  [[ $(tail -c 2 "$log" | od -An -c | tr -d ' ') == '\r\n' ]] || fail "the log does not end with CR LF"
  got=$(sed 's/.*,"0*\([0-9][0-9]*\)"\r$/\1/' "$log" | sort -n | tr '\n' ' ')
  want=$(for f in "$@"; do sed 's/$/\r/' "$f" | wc -c; done | sort -n | tr '\n' ' ')
  [[ $got == "$want" ]] || fail "the log records sizes $got, expected $want"
}

# ---------------------------------------------------------------------------
# The window, seen on screenshots (window coordinates, pixels)

readonly REMAINING_X=352 REMAINING_Y=57   # txt_TIM_Rem, in the Timer frame
readonly FRESH_X=292 FRESH_Y=320          # cmd_REFRESH, in the Errors frame
readonly SUN=400+24 SNOWFLAKE=400+64      # centres of img_Goo and img_Bad
readonly ERROR_NB=57x19+208+312           # txt_Error_Nb
readonly ERROR_VOL=73x19+128+312          # txt_Error_Vol
readonly TOTAL_NB=57x19+208+192           # txt_Info(6): this Action's message count
readonly TOTAL_VOL=73x19+128+192          # txt_Info(5)
readonly GRAND_NB=57x19+208+216           # txt_Info(10)

shot() { import -window "$window" "$screens/$1" || fail "no screenshot of the window"; }
pixel() { convert "$screens/$1" -crop "1x1+$2" -depth 8 txt:- | grep -o '#[0-9A-F]\{6\}' | head -n1; }
# True when region $2 of shot $1 and region $4 of shot $3 are alike, pixel
# for pixel (same size needed).
alike() {
  convert "$screens/$1" -crop "$2" +repage "$work/a.png" &&
    convert "$screens/$3" -crop "$4" +repage "$work/b.png" &&
    [[ $(compare -metric AE "$work/a.png" "$work/b.png" null: 2>&1) == 0 ]]
}
# Takes shot $1 until region $2 differs from that region on shot $3.
shot_until_changed() {
  local end=$((${EPOCHREALTIME/./} + $4 * 1000000))
  while shot "$1"; alike "$1" "$2" "$3" "$2"; do
    ((${EPOCHREALTIME/./} < end)) || return 1
    sleep 0.5
  done
}

# ---------------------------------------------------------------------------
# Start: the folders a mail program and an administrator would have made

mkdir -p "$errors" "${log%/*}" "$screens" "$work/xdg"
chmod 700 "$work/xdg"
rm -f "$screens"/*.png

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
wait_for 10 test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"

launched=${EPOCHREALTIME/./}
XDG_RUNTIME_DIR=$work/xdg "$program" >"$work/program.log" 2>&1 &
program_pid=$!
find_window() {
  window=$(xdotool search --all --pid "$program_pid" --name ' >>> NNTP$' 2>/dev/null | head -n1)
  [[ -n $window ]]
}
viewable() { xwininfo -id "$window" | grep -q 'Map State: IsViewable'; }
wait_for 15 find_window || fail "the program shows no window"
# The window asks to start minimised; with no window manager to honour
# that it is mapped anyway. Should it not be, restore it by hand.
wait_for 3 viewable || xdotool windowmap "$window"
wait_for 5 viewable || fail "the window cannot be shown"
sleep 0.5
shot 1-start.png
say "window $window up; screenshots go to $screens"

[[ $(pixel 1-start.png $SUN) != '#FFE000' ]] || fail "the sun shows at start"
[[ $(pixel 1-start.png $SNOWFLAKE) != '#00FFFF' ]] || fail "the snowflake shows at start"
# Both show "0" in the same style: the field positions above are right.
alike 1-start.png $ERROR_NB 1-start.png $TOTAL_NB ||
  fail "txt_Error_Nb and txt_Info(6) differ at start (1-start.png); are the positions right?"

# ---------------------------------------------------------------------------
# 1. Dropped files wait for the first tick; that tick relays them

drop_corpus "$corpus/tick"
(($(since_launch) < 50000000)) || fail "too slow: the corpus came after 50 s, too near the first tick"
say "corpus dropped: $(listing "$drop")"

wait_for 100 folders_are "Errors d-empty.cnm " "c-nowhere.cnm " ||
  fail "the first tick did not relay the corpus (drop folder: $(listing "$drop"); errors: $(listing "$errors"))"
handled=$(since_launch)
((handled >= 59000000)) ||
  fail "the files were handled $((handled / 1000000)) s after start, before the first tick"
say "relayed at the first tick, $((handled / 1000000)) s after start"

# The tick's recount of the error folder shows on the window.
shot_until_changed 2-after-tick.png $ERROR_NB 1-start.png 10 ||
  fail "the error-folder figures did not change after the first tick (2-after-tick.png)"
sleep 1
shot 2-after-tick.png

posted_as_dropped "$corpus/tick/a-ordinary.cnm"
posted_as_dropped "$corpus/tick/b-dotted.cnm"
nntp HEAD '<operator-a@quillport.test>' >"$work/head" || fail "no header for operator-a"
grep -q $'^Subject: Operator run, first message\r$' "$work/head" || fail "operator-a lost its Subject"
grep -q $'^From: Alice <alice@example.org>\r$' "$work/head" || fail "operator-a lost its From"
! grep -qiE '^(Received|Return-path|To):|relay\.example\.org|news-gateway' "$work/head" ||
  fail "operator-a kept a transport header: $(cat -A "$work/head")"
not_posted "$corpus/tick/C-Nowhere.CNM"
not_posted "$corpus/tick/e-no-groups.cnm"
filed_as_dropped "$corpus/tick/C-Nowhere.CNM" c-nowhere.cnm
[[ $(log_lines) == 4 ]] || fail "the log has $(log_lines) lines after the first tick, expected 4"
check_log "$corpus"/tick/{a-ordinary,b-dotted,e-no-groups}.cnm "$corpus/tick/C-Nowhere.CNM"
[[ $(pixel 2-after-tick.png $SUN) == '#FFE000' ]] || fail "no sun after messages were posted (2-after-tick.png)"
[[ $(pixel 2-after-tick.png $SNOWFLAKE) == '#00FFFF' ]] ||
  fail "no snowflake after an empty file was met (2-after-tick.png)"
say "server, folders, log and window right after the first tick"

# ---------------------------------------------------------------------------
# 2. A double-click relays what came since, at once, without a recount

drop_corpus "$corpus/double-click"
xdotool mousemove --window "$window" $REMAINING_X $REMAINING_Y click --repeat 2 --delay 80 1
clicked=$(since_launch)
# The tick at 120 s only counts down (the Action reset the count to 2);
# the next timed Action comes at 180 s. Anything before that is the click.
wait_for 20 folders_are "Errors d-empty.cnm " "c-nowhere.cnm g-elsewhere.cnm " ||
  fail "the double-click relayed nothing (drop folder: $(listing "$drop"); errors: $(listing "$errors"))"
(($(since_launch) < 175000000)) || fail "too slow to tell the double-click from the next timed Action"
wait_for 5 log_has 6 || fail "the log has $(log_lines) lines after the double-click, expected 6"
say "relayed $(((${EPOCHREALTIME/./} - launched - clicked) / 1000)) ms after the double-click"
sleep 1.5   # the Action ends with the disconnect
shot 3-after-double-click.png

posted_as_dropped "$corpus/double-click/f-later.cnm"
not_posted "$corpus/double-click/G-Elsewhere.cnm"
filed_as_dropped "$corpus/double-click/G-Elsewhere.cnm" g-elsewhere.cnm
check_log "$corpus"/tick/{a-ordinary,b-dotted,e-no-groups}.cnm "$corpus/tick/C-Nowhere.CNM" \
          "$corpus"/double-click/{f-later,G-Elsewhere}.cnm
alike 3-after-double-click.png $ERROR_NB 2-after-tick.png $ERROR_NB &&
  alike 3-after-double-click.png $ERROR_VOL 2-after-tick.png $ERROR_VOL ||
  fail "a double-click Action recounted the error folder (2-after-tick.png, 3-after-double-click.png)"
! alike 3-after-double-click.png $TOTAL_VOL 2-after-tick.png $TOTAL_VOL ||
  fail "the Totals did not change after the double-click Action (3-after-double-click.png)"
! alike 3-after-double-click.png $GRAND_NB 2-after-tick.png $GRAND_NB ||
  fail "the GdTotals did not change after the double-click Action (3-after-double-click.png)"
say "server, folders and log right after the double-click; error figures untouched"

# ---------------------------------------------------------------------------
# 3. FRESH recounts: two files wait in the error folder, as many as the
#    double-click Action handled non-empty files (both fields show "2")

xdotool mousemove --window "$window" $FRESH_X $FRESH_Y click 1
shot_until_changed 4-after-fresh.png $ERROR_NB 3-after-double-click.png 10 ||
  fail "FRESH did not change the error-folder figures (4-after-fresh.png)"
sleep 0.5
shot 4-after-fresh.png
alike 4-after-fresh.png $ERROR_NB 4-after-fresh.png $TOTAL_NB ||
  fail "after FRESH txt_Error_Nb does not show the 2 of txt_Info(6) (4-after-fresh.png)"
! alike 4-after-fresh.png $ERROR_VOL 3-after-double-click.png $ERROR_VOL ||
  fail "FRESH did not change the error-folder volume (4-after-fresh.png)"
program_runs || fail "the program has ended"
[[ $(listing "$drop") == "Errors d-empty.cnm " ]] || fail "FRESH changed the drop folder"

# ---------------------------------------------------------------------------
# 4. A stalling server: the busy window stays alive and takes no clicks

readonly BELOW_TIMER=420x212+0+128  # the window below the Constants and Timer frames
innd=$(tr -dc '0-9' <"$inn_dir/run/innd.pid")
[[ -n $innd ]] || fail "no pid file of the news server"
stall_server() { kill -STOP "$innd" || fail "cannot stop the news server"; }
resume_server() { kill -CONT "$innd" || fail "cannot let the news server go on"; }
# Whether a connection of the program to the server is open (with the server
# stopped, its kernel has taken the connection and nobody has greeted yet).
connection_open() {
  awk -v remote="$(printf '0100007F:%04X' "$port")" \
    '$3 == remote && $4 == "01" { found = 1 } END { exit !found }' /proc/net/tcp
}

# Well before the tick at 180 s, the next that would run an Action; the one
# at 120 s only counts down.
(($(since_launch) < 140000000)) || fail "too slow: the stall would meet the next timed Action"
drop_corpus "$corpus/stalled"
# A file filed meanwhile by someone else: a recount would show 3 files.
printf 'Filed by hand.\r\n' >"$errors/z-extra.cnm"
sleep 2.5  # the relay leaves a file alone for two seconds after it changed

stall_server
xdotool mousemove --window "$window" $REMAINING_X $REMAINING_Y click --repeat 2 --delay 80 1
wait_for 10 connection_open || fail "the double-click did not connect to the server"
sleep 1
shot 5-stalled.png
say "the program waits on the stalled server"

problems=()
xdotool windowunmap --sync "$window" && xdotool windowmap --sync "$window" ||
  fail "cannot unmap and map the window"
end=$((${EPOCHREALTIME/./} + 5000000))
until shot 5-stalled-mapped.png && alike 5-stalled-mapped.png $BELOW_TIMER 5-stalled.png $BELOW_TIMER; do
  if ((${EPOCHREALTIME/./} >= end)); then
    problems+=("the window did not repaint within 5 s after being mapped again (5-stalled.png, 5-stalled-mapped.png)")
    break
  fi
  sleep 0.2
done
ping=$("$wm_message" ping "$window" 2000) ||
  problems+=("the window did not answer _NET_WM_PING: $ping")
say "repaint and ping checked: ${ping:-no answer}"
# The window is disabled: this click must be lost, not run after the Action.
xdotool mousemove --window "$window" $FRESH_X $FRESH_Y click 1
sleep 0.5
program_runs || fail "the program has ended while it waited"
resume_server

wait_for 20 folders_are "Errors d-empty.cnm " "c-nowhere.cnm g-elsewhere.cnm z-extra.cnm " ||
  fail "the stalled Action did not relay its file (drop folder: $(listing "$drop"))"
sleep 1.5
shot 6-after-stall.png
alike 6-after-stall.png $ERROR_NB 4-after-fresh.png $ERROR_NB ||
  problems+=("a click on FRESH while the window was busy recounted the error folder (6-after-stall.png)")
((${#problems[@]} == 0)) || fail "while the server stalled: $(printf '%s; ' "${problems[@]}")"
posted_as_dropped "$corpus/stalled/h-stalled.cnm"
say "the window stayed alive while the server stalled; the message went out after"

# The window closed during a stall: the Action ends its work, then the program.
drop_corpus "$corpus/closing"
sleep 2.5
stall_server
xdotool mousemove --window "$window" $REMAINING_X $REMAINING_Y click --repeat 2 --delay 80 1
wait_for 10 connection_open || fail "the double-click did not connect to the server"
"$wm_message" close "$window" || fail "cannot send WM_DELETE_WINDOW"
sleep 1
program_runs || fail "the program ended at once when its window was closed during an Action"
resume_server
for _ in $(seq 100); do
  program_runs || break
  sleep 0.2
done
! program_runs || fail "the program did not end after its window was closed"
wait "$program_pid"
status=$?
program_pid=
((status == 0)) || fail "the program ended with status $status after its window was closed"
[[ $(listing "$drop") == "Errors d-empty.cnm " ]] ||
  fail "the Action cut short by the close left $(listing "$drop")"
posted_as_dropped "$corpus/closing/i-closing.cnm"
say "closed during an Action: the program ended, status 0, after posting"

say "PASS; screenshots in $screens"
