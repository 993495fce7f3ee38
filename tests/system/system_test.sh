#!/usr/bin/env bash
# The packages under a real systemd: a Debian 12 container booted with systemd-nspawn on a private
# network, driven with nsenter. It installs INN, Exim, logrotate and the packages in DEBS as the administrator's
# guide says and runs the checks of inside.sh. A container that cannot boot fails the test, with the reason.
# Here PID 1 is not systemd and the cgroups are v1/hybrid: nspawn boots systemd 252 on the host's
# hierarchy as it is, and the hardened unit runs; neither SYSTEMD_NSPAWN_UNIFIED_HIERARCHY nor
# --private-users is needed (user namespaces would hinder the unit's own sandbox). --register=no and
# --keep-unit: the host has no system bus.
# The root is made once with debootstrap from the host's apt mirror, the packages downloaded into it in
# a non-booted nspawn (the booted one has no network), and kept under QUILLPORT_SYSTEM_CACHE (default
# /var/cache/quillport-system-test), keyed by the package list; each run boots a copy.
# usage: system_test.sh DEBS (a folder with the quillport-common and quillportd packages)
set -u
debs=$(realpath "$1")
here=$(dirname "$(realpath "$0")")
cache=${QUILLPORT_SYSTEM_CACHE:-/var/cache/quillport-system-test}
fail() { echo "FAIL: $*" >&2; exit 1; }
# debootstrap and systemd-nspawn need root: a user who may sudo without a password runs it through sudo.
if [[ $(id -u) != 0 ]]; then
  sudo -n true 2>/dev/null || fail "the system test needs root (debootstrap, systemd-nspawn), or sudo without a password"
  exec sudo -n "$0" "$@"
fi
for tool in debootstrap systemd-nspawn nsenter dpkg-deb flock; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/install-deps.sh installs it)"
done
common=$(echo "$debs"/quillport-common_*.deb) daemon=$(echo "$debs"/quillportd_*.deb)
[[ -f $common && -f $daemon ]] || fail "no quillport-common and quillportd package in $debs"

work=$(mktemp -d /var/tmp/quillport-system.XXXXXX)
nspawn_pid=
# Stops the container (a clean poweroff, then by force) and deletes the run's copy, whatever happened.
stop_container() {
  [[ -n $nspawn_pid ]] || return 0
  if kill -0 "$nspawn_pid" 2>/dev/null; then
    inside systemctl poweroff >/dev/null 2>&1
    for _ in $(seq 60); do kill -0 "$nspawn_pid" 2>/dev/null || break; sleep 0.5; done
    kill -KILL "$nspawn_pid" 2>/dev/null
  fi
  wait "$nspawn_pid" 2>/dev/null
  nspawn_pid=
}
trap 'stop_container; rm -rf "$work"' EXIT
trap 'exit 1' TERM INT

# The pristine root: Debian 12 with systemd, and in its apt cache everything the run installs.
mirror=$("$here/bootstrap.sh" "$cache" --mirror)
extra="inn2 exim4-daemon-light logrotate"
wanted="$extra $(dpkg-deb -f "$common" Depends) $(dpkg-deb -f "$daemon" Depends)"
key=$(echo "bookworm $mirror systemd-sysv dbus $wanted" | sha256sum | cut -c1-16)
pristine=$cache/$key
mkdir -p "$cache"
exec 9>"$cache/.lock"
flock 9
if [[ ! -d $pristine ]]; then
  echo "making the pristine root $pristine (debootstrap from $mirror)"
  # A root bootstrapped ahead (by the test command) or by an earlier run that could not finish is taken up.
  "$here/bootstrap.sh" "$cache" || fail "no base root for the container"
  mkdir -p "$cache/new/debs" && cp "$common" "$daemon" "$cache/new/debs/"
  systemd-nspawn -q -D "$cache/new/root" --register=no --keep-unit --bind-ro="$cache/new/debs:/debs" \
    sh -c "apt-get update -q && apt-get install -y -q --download-only $extra /debs/*.deb" \
    >"$work/download.log" 2>&1 </dev/null || { tail -20 "$work/download.log"; fail "downloading the packages failed"; }
  rm -rf "$cache/new/debs" "$cache/new/bootstrapped"
  find "$cache" -mindepth 1 -maxdepth 1 -type d ! -name new -exec rm -rf {} +  # older keys
  mv "$cache/new" "$pristine"
fi
root=$work/root
cp -a "$pristine/root" "$root" || fail "cannot copy the pristine root"
flock -u 9

# The run's packages, and a newer build of the same sources (a higher version, every file unpacked again).
mkdir -p "$root/debs/newer"
cp "$common" "$daemon" "$root/debs/"
version=$(dpkg-deb -f "$common" Version)
for deb in "$common" "$daemon"; do
  rm -rf "$work/repack" && dpkg-deb -R "$deb" "$work/repack"
  sed -i "s/^Version: .*/Version: $version+1/; s/(= $version)/(= $version+1)/" "$work/repack/DEBIAN/control"
  dpkg-deb -b "$work/repack" "$root/debs/newer/" >/dev/null || fail "cannot repack $deb"
done
cp "$here/inside.sh" "$root/root/inside.sh"
echo relay.quillport.test >"$root/etc/hostname"
printf '127.0.0.1 localhost\n127.0.1.1 relay.quillport.test relay\n' >"$root/etc/hosts"

# Boots the container and waits until its boot is done; fails with the console's end if it is not.
boot() {
  systemd-nspawn -q -b -D "$root" --private-network --register=no --keep-unit --hostname=relay.quillport.test \
    >>"$work/console.log" 2>&1 </dev/null &
  nspawn_pid=$!
  local pid1= state
  for _ in $(seq 120); do
    pid1=$(pgrep -P "$nspawn_pid" | head -1)
    [[ -n $pid1 ]] && state=$(inside timeout 5 systemctl is-system-running 2>/dev/null) \
      && [[ $state == running || $state == degraded ]] && return 0
    kill -0 "$nspawn_pid" 2>/dev/null || break
    sleep 1
  done
  tail -30 "$work/console.log"
  fail "the Debian 12 container did not boot (state '${state-}'): systemd-nspawn -b cannot run systemd here"
}
# Runs a command in the booted container (all its namespaces), with a clean environment.
inside() {
  nsenter -t "$(pgrep -P "$nspawn_pid" | head -1)" -a \
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 HOME=/root "$@"
}
phase() { inside bash /root/inside.sh "$1" || fail "inside the container, phase $1 (log above)"; }

boot
phase install
phase checks
stop_container  # a reboot: the container's poweroff, and a new boot of the same root
boot
phase after-reboot
echo "PASS: under systemd 252: folders, user and log rotation; mail posted once; upgrade restarted the service; stop mid-backlog; drop folder" \
  "made again; reboot; remove stopped it; purge left no link and a working Exim"
