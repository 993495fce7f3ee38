#!/usr/bin/env bash
# Checks the packages scripts/package.sh made (DEBS, from the shared build in package_build.sh): lintian
# --pedantic shows no tag; the fields; each file in its package; the conffiles. Then, as root on a machine
# without the packages, installs quillport-common for the log rotation and purges it (the machine is left as it was
# found). What the packages pull in, their folders and user, and all that needs systemd are the system
# test's (tests/system).
# usage: package_test.sh DEBS BUILD
set -u
debs=$1 build=$2
for tool in dpkg-deb lintian logrotate man; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
setting() { cmake -L -N "$build" | sed -n "s/^$1:[A-Z]*=//p"; }
common=$(echo "$debs"/quillport-common_*.deb) daemon=$(echo "$debs"/quillportd_*.deb) window=$(echo "$debs"/quillport_*.deb)
for deb in "$common" "$daemon" "$window"; do [[ -f $deb ]] || fail "no package $deb"; done

lintian --pedantic "$common" "$daemon" "$window" 2>&1 | grep -v '^running with root privileges' >"$work/lintian.txt"
[[ ! -s $work/lintian.txt ]] || { cat "$work/lintian.txt"; fail "lintian --pedantic shows tags"; }

field() { dpkg-deb -f "$1" "$2"; }
has() { [[ ", $1," == *", $2"[\ ,]* ]]; }
version=$(field "$common" Version)
for deb in "$daemon" "$window"; do
  has "$(field "$deb" Depends)" "quillport-common (= $version)" || fail "$deb does not depend on quillport-common $version"
  ! has "$(field "$deb" Depends), $(field "$deb" Recommends)" inn2 || fail "$deb needs or recommends inn2"
done
has "$(field "$window" Depends)" libqt6widgets6 || fail "quillport does not depend on Qt"
has "$(field "$common" Depends)" adduser || fail "quillport-common does not depend on adduser"
# Files that were the single quillport 1.0 package's move into these two.
for deb in "$common" "$daemon"; do
  [[ $(field "$deb" Replaces) == "quillport (<< 1.1~)" && $(field "$deb" Breaks) == "quillport (<< 1.1~)" ]] \
    || fail "$deb does not take over files from quillport 1.0"
done

conffiles=(/etc/exim4/conf.d/router/390_quillport_news-aliases /etc/exim4/conf.d/transport/30_quillport_news-pipe
  /etc/logrotate.d/quillport)
# "PACKAGE MODE PATH" of every file.
for deb in "$common" "$daemon" "$window"; do
  dpkg-deb --contents "$deb" | awk -v p="$(field "$deb" Package)" '$1 ~ /^-/ { print p, ($1 ~ /x/ ? 755 : 644), substr($6, 2) }'
done | sort -k3 >"$work/files"
# The files of an install under /usr, each in its package, and what only the packages hold.
source "$(dirname "$0")/expected_files.sh"
{
  expected_files usr | awk '$2 !~ /doc\/quillport\// { print ($2 ~ /man|deliver/ ? "quillport-common" :
    $2 ~ /quillportd/ ? "quillportd" : "quillport"), $1, "/" $2 }'
  for p in quillport-common quillportd quillport; do
    echo "$p 644 /usr/share/doc/$p/changelog.gz"
    echo "$p 644 /usr/share/doc/$p/copyright"
  done
  echo "quillport-common 644 /usr/share/doc/quillport-common/administration.md"
  printf 'quillport-common 644 %s\n' "${conffiles[@]}"
} | sort -k3 >"$work/expected"
diff -u "$work/expected" "$work/files" || fail "the packages' files differ from the expected list"
dpkg-deb --contents "$common" >"$work/common.contents"
awk '$2 != "root/root"' "$work/common.contents" | grep . && fail "entries not owned by root"
folders=("$(setting QUILLPORT_DROP_FOLDER)" "$(setting QUILLPORT_ERROR_FOLDER)")
log=$(setting QUILLPORT_LOG_FILE)
folders+=("${log%/*}")
for dir in "${folders[@]}"; do
  grep -q " \.$dir/\$" "$work/common.contents" || fail "quillport-common does not hold the folder $dir"
done
# The default news server: a build after one with another server is back to the default.
dpkg-deb -x "$common" "$work/common"
LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$work/common/usr/share/man/man1/quillport.1.gz" 2>/dev/null \
  | grep -qF "Connected To $(setting QUILLPORT_SERVER_HOST)" || fail "quillport(1) does not name the default news server"
dpkg-deb --control "$common" "$work/control"
diff <(printf '%s\n' "${conffiles[@]}") <(sort "$work/control/conffiles") || fail "the conffiles are not the files in /etc"

# The log rotation, only where installing changes nothing that was there: as root, without the packages,
# their folders, log file or configuration files.
installed() { dpkg-query -W -f='${db:Status-Abbrev}\n' quillport-common 2>/dev/null | grep -q '^.[^n]'; }
for path in "${folders[@]}" "$log" "${conffiles[@]}"; do [[ -e $path ]] && leftover=$path; done
if [[ $(id -u) != 0 ]] || installed || [[ -v leftover ]]; then
  echo "PASS: the packages (not installed: needs root and a machine without quillport ${leftover-})"
  exit 0
fi
getent group quillport >/dev/null && had_group=yes
getent passwd quillport >/dev/null && had_user=yes
trap 'installed && dpkg --purge quillport-common >/dev/null 2>&1
  [[ -v had_user ]] || deluser --system quillport >/dev/null 2>&1; [[ -v had_group ]] || groupdel quillport 2>/dev/null
  rm -rf "$work"' EXIT
dpkg -i "$common" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i failed"; }
logrotate -d /etc/logrotate.d/quillport >"$work/logrotate.log" 2>&1 && ! grep -qi error "$work/logrotate.log" \
  || { cat "$work/logrotate.log"; fail "logrotate -d finds fault with the snippet"; }
echo '#2026-12-07 09:05:07#,"0000512"' >>"$log"
logrotate -f -s "$work/logrotate.state" /etc/logrotate.d/quillport || fail "the rotation failed"
[[ -s $log.1 && $(stat -c '%U:%G %a %s' "$log") == "root:quillport 664 0" ]] \
  || fail "the rotation did not leave $log.1 and a new empty log file, root:quillport 664"

dpkg --purge quillport-common >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg --purge failed"; }
for path in "$log" "$log.1" /etc/logrotate.d/quillport; do
  [[ ! -e $path ]] || fail "$path is still there after the purge"
done
echo "PASS: the three packages: lintian --pedantic clean; the log rotated; purged"
