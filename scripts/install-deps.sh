#!/usr/bin/env bash
# Installs the Debian 12 packages Quillport needs to build, run and test.
# Safe to run again: it only installs what is missing.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  ccache  # the test command builds the same sources in several folders
  clang libclang-rt-dev  # Clang with libFuzzer and its sanitizer runtimes, for scripts/fuzz.sh
  clang-format clang-tidy  # the style checks (scripts/format.sh, scripts/tidy.sh)
  qt6-base-dev qt6-svg-dev libgl-dev
  libasio-dev
  libsystemd-dev  # sd_notify: quillportd tells systemd it is ready, alive, and what it did
  googletest libgtest-dev libgmock-dev
  inn2
  xvfb xdotool imagemagick x11-utils libx11-dev
  librsvg2-bin  # rsvg-convert renders the icon's PNG sizes at build time
  desktop-file-utils man-db groff-base file  # checks of the installed desktop entry, manual page and icons
  dpkg-dev lintian  # the Debian package: run-time dependencies from the binary, and its check
  debhelper adduser  # the packages are built with dh (debian/); quillport-common makes its user with adduser
  debootstrap systemd-container  # the system test boots a Debian 12 container with systemd-nspawn
  logrotate  # the package test checks the log's rotation snippet with logrotate -d
  openbox  # a reparenting window manager, for the start-up placement test
  procmail  # the manual page's procmail recipe, tested end to end
  python3-pyatspi at-spi2-core dbus  # the window read through AT-SPI, as a screen reader reads it
  fiu-utils libfiu-dev  # failures injected into system calls, for the fault campaign
)

# Debian's Exim, the mail system of the mail-in test (tests/deliver/mail_in_test.cpp). The test
# runs its own Exim with a private configuration and spool; a system daemon the package starts
# (on 127.0.0.1 port 25) is never used. Installing it would remove another mail system (they
# conflict): where one is installed it stays, and the mail-in test runs only with Exim's heavy
# daemon.
other_mta=$(dpkg-query -W -f='${Package} ${Provides} ${db:Status-Abbrev}\n' 2>/dev/null \
  | awk '/mail-transport-agent/ && $NF == "ii" && $1 != "exim4-daemon-light" { print $1 }')
if [ -z "$other_mta" ]; then
  packages+=(exim4-daemon-light)
else
  echo "install-deps: keeping the mail system $other_mta; exim4-daemon-light is not installed" >&2
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# Runs a command as root, through sudo when this script is not root already.
as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo -E "$@"; fi
}

# inn2's post-install step refuses to finish when the host name has no domain.
# Give it one before (and after) installing, then let dpkg finish configuring.
fix_inn_domain() {
  local conf=/etc/news/inn.conf
  [ -f "$conf" ] || return 0
  if ! grep -qE '^domain:[[:space:]]*[^[:space:]]' "$conf"; then
    if grep -qE '^#?[[:space:]]*domain:' "$conf"; then
      as_root sed -i -E 's/^#?[[:space:]]*domain:.*/domain:                 localdomain/' "$conf"
    else
      echo 'domain:                 localdomain' | as_root tee -a "$conf" >/dev/null
    fi
  fi
}

if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  as_root apt-get update -q
  as_root apt-get install -y -q --no-install-recommends "${missing[@]}" || true
fi

fix_inn_domain
if ! dpkg-query -W -f='${Status}' inn2 2>/dev/null | grep -q 'install ok installed'; then
  export DEBIAN_FRONTEND=noninteractive
  as_root dpkg --configure -a || true
  fix_inn_domain
  as_root dpkg --configure -a
fi

# Verify that everything is really installed now.
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' \
    || { echo "install-deps: package $p is not installed" >&2; exit 1; }
done
