#!/usr/bin/env bash
# inn-instance.sh - a private INN 2.7 news server living entirely in one folder.
#
#   inn-instance.sh start [--watch PID [--temporary]] DIR PORT [GROUP ...]
#   inn-instance.sh stop DIR
#   inn-instance.sh status DIR
#
# start  creates DIR on first use (configuration, active file, empty history,
#        spool, overview, logs) and starts innd on 127.0.0.1:PORT. The groups
#        listed (default: local.test) are added to the active file when
#        missing; groups already there are kept, and so are their articles, so
#        a stopped instance started again keeps what it had. Returns once the
#        port greets with 200/201 and a reader connection (MODE READER) is
#        served, or fails after START_TIMEOUT seconds printing the INN logs.
#        With --watch PID the instance is shut down as soon as process PID
#        ends (a safety net for test programs that die without cleaning up);
#        --temporary has DIR removed then as well.
#        Exit codes: 0 running, 1 failure, 2 usage, 3 the port is taken.
# stop   shuts innd down with "ctlinnd shutdown" (innd ignores SIGTERM),
#        waits for it, kills it after STOP_TIMEOUT seconds, and ends the
#        reader processes (nnrpd) the instance had spawned. Stopping an
#        instance that does not run is not an error.
# status exit 0 when the instance runs, 1 otherwise.
#
# INN_READER_ACCESS (letters of readers.conf's access:, default RP) sets what
# the instance's readers from 127.0.0.1 may do when its readers.conf is made:
# R lets them read but not post, so POST is answered 440.
#
# Nothing of the system's INN is used or touched except the programs in
# /usr/lib/news/bin: every INN program of the instance reads DIR/etc/inn.conf
# through the INNCONF environment variable, and every path* setting there
# points inside DIR (run sockets, pid file, database, spool, logs). The
# server runs as user news: run this script as root (or as news, then with
# a PORT above 1023; as root, ports below 1024 work through INN's innbind).
#
# The server is a plain local INN set up to take test articles without fuss:
# no Perl or Python filters, no age limit on the Date header (artcutoff 0),
# no size limit, no load limit for readers, no included-text check, no
# Organization header added. It loses no acknowledged article: innd syncs its
# active file and history after every article (icdsynccount 1; by default
# every 10, so a killed innd rolled article numbers back and overwrote
# articles it had taken), and every start injects what nnrpd queued in
# spool/incoming while innd was down (rnews -U). Everything else is INN's own
# behaviour, in particular (checked with INN 2.7.1):
#   - 127.0.0.1 is a feeding peer (incoming.conf), so a connection first talks
#     to innd ("200 ... (transit mode)"); MODE READER hands the socket over to
#     nnrpd, which greets again with "200 ... ready (posting ok)". Whatever a
#     client sent in the same write as MODE READER is lost in the handover:
#     wait for the reply before sending anything else.
#   - POST of an article whose Message-ID the server already holds:
#     "441 435 Duplicate" (nnrpd passes on innd's 435).
#   - POST of an article none of whose newsgroups the server carries:
#     '441 No valid newsgroups in "x.y"' from nnrpd (an article naming at
#     least one carried group is taken).
#   - innd and nnrpd report through syslog; where no syslog daemon runs their
#     lines are written to DIR/log/syslog instead (see setup_syslog_file).
#     DIR/log/news lists every article innd accepted or refused.
#   - innd will not start without the groups "control" and "junk", so the
#     active file always has control, control.cancel and junk besides the
#     groups asked for.
set -euo pipefail

readonly INN_BIN=/usr/lib/news/bin
readonly START_TIMEOUT=${INN_START_TIMEOUT:-30}
readonly STOP_TIMEOUT=${INN_STOP_TIMEOUT:-10}
readonly READER_ACCESS=${INN_READER_ACCESS:-RP}

usage() {
  sed -n '4,6p' "$0" | sed 's/^# *//' >&2
  exit 2
}

die() {
  echo "inn-instance: $*" >&2
  exit 1
}

# innd insists on running as user and group news (whatever inn.conf's
# runasuser says), so this script runs as root or as news.
readonly RUN_USER=news
RUN_GROUP=$(id -gn news 2>/dev/null) || die "there is no user news (is inn2 installed?)"
readonly RUN_GROUP
if [ "$(id -u)" -ne 0 ] && [ "$(id -un)" != "$RUN_USER" ]; then
  die "must be run as root or as user $RUN_USER"
fi

# INN reports its problems through syslog only. Where no syslog daemon
# listens (containers, CI) nothing would explain a failure, so a small
# preloaded library turns INN's syslog calls into lines of DIR/log/syslog.
# Needs a C compiler; without one INN just stays silent.
PRELOAD=
setup_syslog_file() {
  [ ! -S /dev/log ] || return 0
  local so=$DIR/lib/syslog-to-file.so
  if [ ! -f "$so" ]; then
    command -v cc >/dev/null 2>&1 || return 0
    mkdir -p "$DIR/lib"
    cc -shared -fPIC -O1 -o "$so.tmp" -x c - <<'EOF' 2>/dev/null || { rm -f "$so.tmp"; return 0; }
#define _GNU_SOURCE
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <syslog.h>
#include <time.h>
#include <string.h>
#include <unistd.h>
/* nnrpd rewrites its argv (process title), so keep the name from the start. */
static char ident[64] = "inn";
__attribute__((constructor)) static void keep_ident(void) {
  strncpy(ident, program_invocation_short_name, sizeof ident - 1);
}
void vsyslog(int pri, const char *fmt, va_list ap) {
  static const char *const level[] = {"emerg", "alert", "crit", "err",
                                      "warning", "notice", "info", "debug"};
  int saved = errno;
  const char *path = getenv("INN_SYSLOG_FILE");
  FILE *out = path != NULL ? fopen(path, "a") : NULL;
  if (out != NULL) {
    char stamp[32];
    time_t now = time(NULL);
    struct tm tm;
    strftime(stamp, sizeof stamp, "%b %d %H:%M:%S", localtime_r(&now, &tm));
    fprintf(out, "%s %s[%ld] %s: ", stamp, ident, (long)getpid(), level[pri & 7]);
    errno = saved;
    vfprintf(out, fmt, ap);
    fputc('\n', out);
    fclose(out);
  }
  errno = saved;
}
void syslog(int pri, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vsyslog(pri, fmt, ap);
  va_end(ap);
}
void __syslog_chk(int pri, int flag, const char *fmt, ...) {
  va_list ap;
  (void)flag;
  va_start(ap, fmt);
  vsyslog(pri, fmt, ap);
  va_end(ap);
}
void __vsyslog_chk(int pri, int flag, const char *fmt, va_list ap) {
  (void)flag;
  vsyslog(pri, fmt, ap);
}
EOF
    mv "$so.tmp" "$so"
  fi
  PRELOAD=$so
}

# Runs an INN program as the server account with a clean environment that
# points at the instance's inn.conf (INN reads e.g. ORGANIZATION, NNTPSERVER
# and FROMHOST from the environment; none of those may leak in).
inn_run() {
  local -a envv=(env -i "PATH=$INN_BIN:/usr/sbin:/usr/bin:/sbin:/bin"
                 "INNCONF=$CONF" "HOME=$DIR" "LANG=C" "TZ=${TZ:-UTC}")
  [ -z "$PRELOAD" ] || envv+=("LD_PRELOAD=$PRELOAD" "INN_SYSLOG_FILE=$DIR/log/syslog")
  if [ "$(id -u)" -eq 0 ]; then
    setpriv --reuid="$RUN_USER" --regid="$RUN_GROUP" --init-groups -- "${envv[@]}" "$@"
  else
    "${envv[@]}" "$@"
  fi
}

set_dir() {
  [ -n "${1:-}" ] || usage
  DIR=$(realpath -m -- "$1")
  CONF=$DIR/etc/inn.conf
  PIDFILE=$DIR/run/innd.pid
  [ ! -f "$DIR/lib/syslog-to-file.so" ] || PRELOAD=$DIR/lib/syslog-to-file.so
}

# True when process $1 exists and belongs to this instance (its environment
# names our inn.conf), so a recycled pid is never taken for ours.
is_ours() {
  local pid=$1
  [ -n "$pid" ] && grep -qszxF "INNCONF=$CONF" "/proc/$pid/environ"
}

# True while process $1 exists and is not a zombie. Processes of ours are
# reparented to init once innd is gone, and init may take its time to reap
# them; a zombie has finished all the same.
alive() {
  local stat
  kill -0 "$1" 2>/dev/null || return 1
  { IFS= read -r stat <"/proc/$1/stat"; } 2>/dev/null || return 1
  stat=${stat##*) }
  [ "${stat%% *}" != Z ]
}

innd_pid() {
  local pid
  [ -f "$PIDFILE" ] || return 1
  pid=$(tr -dc '0-9' <"$PIDFILE" 2>/dev/null) || return 1
  is_ours "$pid" || return 1
  echo "$pid"
}

# Every process (innd, nnrpd and helpers) started for this instance.
instance_pids() {
  local f pid
  for f in $(grep -lszxF "INNCONF=$CONF" /proc/[0-9]*/environ); do
    pid=${f#/proc/}
    pid=${pid%/environ}
    case "$(readlink "/proc/$pid/exe" 2>/dev/null)" in
      "$INN_BIN"/*) echo "$pid" ;;
    esac
  done
  return 0
}

# Prints the tail of the instance's logs (for failures).
show_logs() {
  local f
  for f in "$DIR"/log/errlog "$DIR"/log/innd.out "$DIR"/log/syslog; do
    if [ -s "$f" ]; then
      echo "---- $f" >&2
      tail -n 40 "$f" >&2
    fi
  done
}

valid_group() {
  [[ $1 =~ ^[A-Za-z0-9+_-]+(\.[A-Za-z0-9+_-]+)*$ ]]
}

write_if_missing() {  # FILE, content on stdin
  if [ -e "$1" ]; then cat >/dev/null; else cat >"$1"; fi
}

# Writes the instance's configuration. inn.conf is rewritten on every start
# (it carries the port and the paths); the other files are only created.
write_config() {
  local port=$1
  cat >"$CONF" <<EOF
# Private INN instance made by inn-instance.sh; rewritten at every start.
runasuser:                $RUN_USER
runasgroup:               $RUN_GROUP
domain:                   localdomain
fromhost:                 localdomain
pathhost:                 quillport-inn.localdomain
complaints:               usenet@localdomain
server:                   127.0.0.1
bindaddress:              127.0.0.1
port:                     $port
mta:                      "/usr/sbin/sendmail -oi -oem %s"
mailcmd:                  $INN_BIN/innmail

icdsynccount:             1

hismethod:                hisv6
ovmethod:                 tradindexed
enableoverview:           true
wireformat:               true
storeonxref:              true

artcutoff:                0
maxartsize:               0
localmaxartsize:          0
wanttrash:                false
remembertrash:            true
verifygroups:             false
checkincludedtext:        false
pgpverify:                false
docancels:                require-auth
linecountfuzz:            0
wipcheck:                 5
wipexpire:                10

maxconnections:           0
noreader:                 false
readerswhenstopped:       false
nnrpdloadlimit:           0
nnrpdcheckart:            true
initialtimeout:           10
clienttimeout:            1800
spoolfirst:               false
addinjectiondate:         true
addinjectionpostinghost:  true
keywords:                 false

doinnwatch:               false
status:                   0
timer:                    0
htmlstatus:               false
logstatus:                false
logartsize:               true
logipaddr:                true
logsitename:              true
logtrash:                 true
nicekids:                 0
nicennrpd:                0

pathnews:                 /usr/lib/news
pathbin:                  $INN_BIN
pathcontrol:              $INN_BIN/control
pathfilter:               $DIR/filter
pathetc:                  $DIR/etc
pathdb:                   $DIR/db
pathrun:                  $DIR/run
pathspool:                $DIR/spool
patharticles:             $DIR/spool/articles
pathoverview:             $DIR/spool/overview
pathincoming:             $DIR/spool/incoming
pathtmp:                  $DIR/spool/incoming/tmp
pathoutgoing:             $DIR/spool/outgoing
patharchive:              $DIR/spool/archive
pathlog:                  $DIR/log
pathhttp:                 $DIR/http
EOF

  # 127.0.0.1 is a feeding peer, like in a stock installation: its
  # connections start in innd and switch to nnrpd on MODE READER.
  write_if_missing "$DIR/etc/incoming.conf" <<'EOF'
streaming:          true
max-connections:    8
peer ME {
  hostname:         "127.0.0.1"
}
EOF

  write_if_missing "$DIR/etc/newsfeeds" <<'EOF'
ME:*::
EOF

  [[ $READER_ACCESS =~ ^[A-Za-z]+$ ]] || die "INN_READER_ACCESS must be letters of access:, not \"$READER_ACCESS\""
  write_if_missing "$DIR/etc/readers.conf" <<EOF
auth "local" {
    hosts: "127.0.0.1, stdin"
    default: "<local>"
}
access "local" {
    users: "<local>"
    newsgroups: "*"
    access: $READER_ACCESS
    addcanlockuser: none
}
EOF

  write_if_missing "$DIR/etc/storage.conf" <<'EOF'
method timehash {
    newsgroups: *
    class: 0
}
EOF

  write_if_missing "$DIR/etc/expire.ctl" <<'EOF'
/remember/:11
*:A:never:never:never
EOF
}

# Adds the groups to active, active.times and newsgroups when missing.
# innd refuses to start without "control" and "junk"; they take no posts.
add_groups() {
  local g now flag
  now=$(date +%s)
  touch "$DIR/db/active" "$DIR/db/active.times" "$DIR/db/newsgroups"
  for g in control control.cancel junk "$@"; do
    case $g in control | control.cancel | junk) flag=n ;; *) flag=y ;; esac
    if ! awk -v g="$g" '$1 == g { found = 1 } END { exit !found }' "$DIR/db/active"; then
      printf '%s 0000000000 0000000001 %s\n' "$g" "$flag" >>"$DIR/db/active"
      printf '%s %s usenet@localdomain\n' "$g" "$now" >>"$DIR/db/active.times"
      printf '%s\tTest group %s\n' "$g" "$g" >>"$DIR/db/newsgroups"
    fi
  done
}

# Creates the folder tree and the databases of a new instance.
create_tree() {
  mkdir -p "$DIR"/{etc,db,run,filter,log,http} \
           "$DIR"/spool/{articles,overview,outgoing,archive,innfeed} \
           "$DIR"/spool/incoming/{tmp,bad}
  chmod 755 "$DIR"
}

# An empty history and its dbz index (history.dir/.hash/.index), made by
# the server account once the configuration is in place. The index has a
# fixed size: small (under 1 MB) for a throw-away instance, room for some
# hundred thousand articles for a lasting one.
create_history() {
  [ ! -e "$DIR/db/history" ] || return 0
  local size=100000
  [ ! -f "$DIR/.temporary" ] || size=10000
  inn_run touch "$DIR/db/history"
  inn_run "$INN_BIN/makedbz" -i -o -s "$size" || die "makedbz failed"
}

# One NNTP exchange over bash's /dev/tcp: reads the greeting, sends MODE
# READER, reads the reader greeting. Succeeds when both are 200/201.
probe() {
  local port=$1 greeting reply
  { exec 3<>"/dev/tcp/127.0.0.1/$port"; } 2>/dev/null || return 1
  if ! IFS= read -r -t 5 greeting <&3 || [[ ! $greeting =~ ^20[01] ]]; then
    exec 3<&- 3>&-
    return 1
  fi
  printf 'MODE READER\r\n' >&3
  IFS= read -r -t 5 reply <&3 || reply=
  printf 'QUIT\r\n' >&3 2>/dev/null || true
  exec 3<&- 3>&-
  [[ $reply =~ ^20[01] ]]
}

port_taken() {
  { exec 3<>"/dev/tcp/127.0.0.1/$1"; } 2>/dev/null || return 1
  exec 3<&- 3>&-
  return 0
}

# Shuts the instance down once process $1 has gone, and removes a
# temporary instance's folder. Ends by itself when the instance stops.
start_watcher() {
  local owner=$1
  setsid bash -c '
    owner=$1 script=$2 dir=$3 pidfile=$4
    while kill -0 "$owner" 2>/dev/null; do
      [ -f "$pidfile" ] || exit 0
      sleep 1
    done
    [ -f "$pidfile" ] || exit 0
    bash "$script" stop "$dir"
    if [ -f "$dir/.temporary" ] && [ -f "$dir/etc/inn.conf" ]; then rm -rf -- "$dir"; fi
  ' inn-watch "$owner" "$(realpath "$0")" "$DIR" "$PIDFILE" \
    </dev/null >/dev/null 2>&1 9>&- &
  echo $! >"$DIR/run/watch.pid"
}

cmd_start() {
  local watch= temporary=
  while [ $# -gt 0 ]; do
    case $1 in
      --watch)
        watch=${2:-}
        [[ $watch =~ ^[0-9]+$ ]] || usage
        shift 2 ;;
      --temporary) temporary=1; shift ;;
      -*) usage ;;
      *) break ;;
    esac
  done
  [ -z "$temporary" ] || [ -n "$watch" ] || usage
  [ $# -ge 2 ] || usage
  set_dir "$1"
  local port=$2
  shift 2
  [[ $port =~ ^[0-9]+$ ]] && [ "$port" -ge 1 ] && [ "$port" -le 65535 ] || die "bad port: $port"
  local -a groups=("$@")
  [ ${#groups[@]} -gt 0 ] || groups=(local.test)
  local g
  for g in "${groups[@]}"; do valid_group "$g" || die "bad group name: $g"; done

  mkdir -p "$DIR"
  exec 9>"$DIR/.lock"
  flock -w "$START_TIMEOUT" 9 || die "$DIR is locked by another inn-instance.sh"

  if innd_pid >/dev/null; then
    local running
    running=$(awk '$1 == "port:" { print $2 }' "$CONF")
    [ "$running" = "$port" ] || die "already running in $DIR on port $running"
    add_groups_running "${groups[@]}"
    echo "inn-instance: already running in $DIR on 127.0.0.1:$port"
    return 0
  fi
  if port_taken "$port"; then
    echo "inn-instance: port $port is already taken" >&2
    exit 3
  fi

  create_tree
  setup_syslog_file
  write_config "$port"
  add_groups "${groups[@]}"
  rm -f "$PIDFILE" "$DIR/run/watch.pid"
  [ -z "$temporary" ] || : >"$DIR/.temporary"
  chown -R "$RUN_USER:$RUN_GROUP" "$DIR"
  create_history

  # innd puts itself in the background and points its output at
  # log/errlog; anything it says before that lands in log/innd.out.
  inn_run "$INN_BIN/innd" -N -u </dev/null >>"$DIR/log/innd.out" 2>&1 9>&- \
    || { show_logs; die "innd did not start"; }

  local launched=$SECONDS deadline=$((SECONDS + START_TIMEOUT))
  until probe "$port"; do
    if [ $SECONDS -ge $deadline ]; then
      show_logs
      stop_instance >/dev/null 2>&1 || true
      die "innd did not answer on 127.0.0.1:$port within ${START_TIMEOUT}s"
    fi
    # innd writes its pid file once in the background; no live innd behind
    # it (or no pid file after a few seconds) means it has given up.
    if ! innd_pid >/dev/null && { [ -f "$PIDFILE" ] || [ $((SECONDS - launched)) -ge 3 ]; }; then
      show_logs
      if grep -qs 'Address already in use' "$DIR"/log/{errlog,innd.out,syslog} || port_taken "$port"; then
        echo "inn-instance: port $port is already taken" >&2
        exit 3
      fi
      die "innd exited"
    fi
    sleep 0.1
  done
  inject_queued
  [ -z "$watch" ] || start_watcher "$watch"
  echo "inn-instance: running in $DIR on 127.0.0.1:$port"
}

# While innd was down, nnrpd took articles all the same (240) and queued them
# in spool/incoming; only rnews -U hands them to innd.
inject_queued() {
  inn_run "$INN_BIN/rnews" -U </dev/null >>"$DIR/log/innd.out" 2>&1 \
    || echo "inn-instance: rnews -U could not inject every queued article (see $DIR/log/innd.out)" >&2
}

# Groups named on a start of a running instance are created through innd.
add_groups_running() {
  local g
  for g in "$@"; do
    awk -v g="$g" '$1 == g { found = 1 } END { exit !found }' "$DIR/db/active" \
      || inn_run "$INN_BIN/ctlinnd" -s -t 10 newgroup "$g" y usenet@localdomain \
      || die "could not add group $g"
  done
}

# Ends process list "$@" with TERM, then KILL once the grace time is over.
end_processes() {
  [ $# -gt 0 ] || return 0
  kill -TERM "$@" 2>/dev/null || true
  local i
  for ((i = 0; i < 20; i++)); do
    local alive=0 p
    for p in "$@"; do alive "$p" && alive=1; done
    [ $alive -eq 1 ] || return 0
    sleep 0.1
  done
  kill -KILL "$@" 2>/dev/null || true
}

stop_instance() {
  local pid
  if pid=$(innd_pid); then
    inn_run "$INN_BIN/ctlinnd" -s -t "$STOP_TIMEOUT" shutdown "inn-instance.sh stop" \
      >/dev/null 2>&1 || true
    local deadline=$((SECONDS + STOP_TIMEOUT))
    # innd flushes, closes its sockets, sleeps a second, then exits.
    while alive "$pid" && [ $SECONDS -lt $deadline ]; do
      sleep 0.05
    done
    if alive "$pid"; then
      echo "inn-instance: innd did not stop within ${STOP_TIMEOUT}s; killing it" >&2
      kill -KILL "$pid" 2>/dev/null || true
    fi
  fi
  # Readers (nnrpd) outlive innd; end them and anything else of ours.
  local -a rest
  mapfile -t rest < <(instance_pids)
  end_processes "${rest[@]}"
  rm -f "$PIDFILE"
  if [ -f "$DIR/run/watch.pid" ]; then
    local w
    w=$(tr -dc '0-9' <"$DIR/run/watch.pid")
    rm -f "$DIR/run/watch.pid"
    # The watcher is a bash of ours; it only matters when it is not us.
    if [ -n "$w" ] && [ "$w" != "$$" ] && [ "$w" != "$PPID" ] \
       && grep -qs 'inn-watch' "/proc/$w/cmdline"; then
      kill "$w" 2>/dev/null || true
    fi
  fi
}

cmd_stop() {
  [ $# -eq 1 ] || usage
  set_dir "$1"
  [ -d "$DIR" ] || return 0
  [ -f "$CONF" ] || return 0
  exec 9>>"$DIR/.lock"
  flock -w "$((STOP_TIMEOUT + 10))" 9 || true
  stop_instance
}

cmd_status() {
  [ $# -eq 1 ] || usage
  set_dir "$1"
  if pid=$(innd_pid); then
    echo "inn-instance: running in $DIR (pid $pid, port $(awk '$1 == "port:" { print $2 }' "$CONF"))"
    return 0
  fi
  echo "inn-instance: not running in $DIR"
  return 1
}

[ $# -ge 1 ] || usage
action=$1
shift
case "$action" in
  start) cmd_start "$@" ;;
  stop) cmd_stop "$@" ;;
  status) cmd_status "$@" ;;
  *) usage ;;
esac
