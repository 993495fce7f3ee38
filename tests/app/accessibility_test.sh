#!/usr/bin/env bash
# The window as assistive technology sees it: the built program on a private X server with a private session
# bus, read through AT-SPI (accessibility_probe.py). Exit 77: skipped.
# usage: accessibility_test.sh PROGRAM
set -u
program=$1 here=$(dirname "$(realpath "$0")")
for tool in Xvfb dbus-run-session /usr/libexec/at-spi-bus-launcher; do
  command -v "$tool" >/dev/null || { echo "skipped: no $tool"; exit 77; }
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "skipped: no python3-pyatspi"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quillport-a11y-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work/xdg"
# Inside the private session bus: the X server, the program, then the probe; all stopped at the end.
cat >"$work/session.sh" <<'SESSION'
set -u
work=$WORK && source "$HERE/../testing/x_session.sh" && start_xvfb
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 XDG_RUNTIME_DIR=$WORK/xdg
"$PROGRAM" >"$WORK/program.log" 2>&1 &
program=$!
timeout 120 /usr/bin/python3 "$HERE/accessibility_probe.py" quillport
status=$?
kill "$program" "$xvfb_pid" 2>/dev/null
wait "$program" "$xvfb_pid" 2>/dev/null
exit $status
SESSION
WORK=$work PROGRAM=$program HERE=$here dbus-run-session -- bash "$work/session.sh" 2> >(grep -v 'fd limit' >&2)
