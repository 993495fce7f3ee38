#!/usr/bin/env bash
# Installs what is missing, builds, and runs the relay: creates the drop
# folder, the error folder and the log folder, starts a local INN on the
# server address when it is 127.0.0.1 and nothing listens there yet, and
# starts the window (on a private Xvfb display when there is no display).
set -euo pipefail
cd "$(dirname "$0")/.."

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

bash scripts/install-deps.sh
build_dir=${BUILD_DIR:-build}
BUILD_DIR=$build_dir bash scripts/build.sh

setting() { cmake -L -N "$build_dir" 2>/dev/null | sed -n "s/^$1:[A-Z]*=//p"; }
drop=$(setting QUILLPORT_DROP_FOLDER)
errors=$(setting QUILLPORT_ERROR_FOLDER)
log=$(setting QUILLPORT_LOG_FILE)
host=$(setting QUILLPORT_SERVER_HOST)
port=$(setting QUILLPORT_SERVER_PORT)

# The folders the relay works in, owned by whoever runs it.
for dir in "$drop" "$errors" "$(dirname "$log")"; do
  if [ ! -d "$dir" ]; then
    as_root mkdir -p "$dir"
    as_root chown "$(id -u):$(id -g)" "$dir"
  fi
done

# A local news server when none answers at the relay's address.
if ! timeout 3 bash -c "exec 3<>/dev/tcp/$host/$port" 2>/dev/null; then
  case "$host" in
    127.0.0.1|localhost)
      echo "Starting a local INN on $host port $port (group local.test)"
      as_root bash scripts/inn-instance.sh start /var/lib/quillport/inn "$port" local.test
      ;;
    *)
      echo "Nothing answers at $host port $port yet; the relay will report it and retry." ;;
  esac
fi

# A display for the window. Without one, the window goes to the private
# display :99, started here unless an earlier run left one there; a second
# run then finds the first relay on it and only brings it forward.
if [ -z "${DISPLAY:-}" ]; then
  export DISPLAY=:99
  if ! xdpyinfo >/dev/null 2>&1; then
    echo "No display: starting the window on a private Xvfb display $DISPLAY"
    Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
    xvfb_pid=$!
    trap 'kill "$xvfb_pid" 2>/dev/null || true' EXIT
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  fi
fi

echo "Quillport relays $drop to $host:$port; drop .cnm files there."
"$build_dir/app/quillport"
