#!/usr/bin/env bash
# Checks the packages scripts/package.sh made (DEBS, from the shared build in package_build.sh): lintian
# --pedantic shows no tag; the fields (the service without Qt or X11); each file in its package; the
# conffiles. Then, as root on a machine without the packages, installs them for real, over a stand-in
# for the single 1.0 package: files taken over, folders and log file, logrotate, purge (the machine is
# left as it was found). The repair and all that needs systemd are the system test's (tests/system).
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
[[ $(field "$daemon" Depends) != *libqt6* && $(field "$daemon" Depends) != *libx11* ]] \
  || fail "quillportd depends on Qt or X11: $(field "$daemon" Depends)"
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
{
  for p in quillport-common quillportd quillport; do
    echo "$p 644 /usr/share/doc/$p/changelog.gz"
    echo "$p 644 /usr/share/doc/$p/copyright"
  done
  echo "quillport-common 755 /usr/bin/quillport-deliver"
  echo "quillport-common 644 /usr/share/doc/quillport-common/administration.md"
  for page in man1/quillport.1 man1/quillport-deliver.1 man8/quillportd.8; do
    echo "quillport-common 644 /usr/share/man/$page.gz"
  done
  printf 'quillport-common 644 %s\n' "${conffiles[@]}"
  echo "quillportd 755 /usr/sbin/quillportd"
  echo "quillportd 644 /usr/lib/systemd/system/quillportd.service"
  echo "quillport 755 /usr/bin/quillport"
  echo "quillport 644 /usr/share/applications/quillport.desktop"
  for side in 16 22 24 32 48 64 128 256; do echo "quillport 644 /usr/share/icons/hicolor/${side}x$side/apps/quillport.png"; done
  echo "quillport 644 /usr/share/icons/hicolor/scalable/apps/quillport.svg"
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

# The real thing, only where it changes nothing that was there: as root, without the packages, their
# folders, log file or configuration files.
installed() { dpkg-query -W -f='${db:Status-Abbrev}\n' quillport-common quillportd quillport 2>/dev/null | grep -q '^.[^n]'; }
for path in "${folders[@]}" "$log" "${conffiles[@]}"; do [[ -e $path ]] && leftover=$path; done
if [[ $(id -u) != 0 ]] || installed || [[ -v leftover ]]; then
  echo "PASS: the packages (not installed: needs root and a machine without quillport ${leftover-})"
  exit 0
fi
getent group quillport >/dev/null && had_group=yes
getent passwd quillport >/dev/null && had_user=yes
trap 'installed && dpkg --purge quillport quillportd quillport-common >/dev/null 2>&1
  [[ -v had_user ]] || deluser --system quillport >/dev/null 2>&1; [[ -v had_group ]] || groupdel quillport 2>/dev/null
  rm -rf "$work"' EXIT
# First the single package of version 1.0, which held every file (here with stand-ins): the three take
# its files over, conffiles included.
mkdir -p "$work/old/DEBIAN"
printf 'Package: quillport\nVersion: 1.0\nArchitecture: %s\nMaintainer: Q <q@example.org>\nDescription: old\n' \
  "$(dpkg --print-architecture)" >"$work/old/DEBIAN/control"
printf '%s\n' "${conffiles[@]}" >"$work/old/DEBIAN/conffiles"
for path in $(awk '{ print $3 }' "$work/expected"); do
  mkdir -p "$work/old${path%/*}" && echo 1.0 >"$work/old$path"
done
dpkg-deb -b "$work/old" "$work/quillport_1.0.deb" >/dev/null && dpkg -i "$work/quillport_1.0.deb" >"$work/dpkg.log" 2>&1 \
  || { cat "$work/dpkg.log"; fail "the stand-in for quillport 1.0 does not install"; }
# (quillport-common first, while 1.0 is still there: it takes the files over)
dpkg -i --auto-deconfigure "$common" "$daemon" "$window" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i failed"; }
while read -r package mode path; do
  [[ $(dpkg -S "$path" 2>/dev/null) == "$package: $path" && $(head -c 4 "$path") != 1.0 ]] \
    || fail "$path is not $package's after the upgrade from 1.0"
done <"$work/expected"
for dir in "${folders[@]}"; do
  [[ $(stat -c '%U:%G %a' "$dir") == "root:quillport 2775" ]] || fail "$dir is not root:quillport 2775"
done
[[ $(stat -c '%U:%G %a' "$log") == "root:quillport 664" ]] || fail "$log is not root:quillport 664"
[[ $(id -gn quillport) == quillport && $(getent passwd quillport | cut -d: -f7) == /usr/sbin/nologin ]] \
  || fail "no system user quillport in the group quillport without a login"

logrotate -d /etc/logrotate.d/quillport >"$work/logrotate.log" 2>&1 && ! grep -qi error "$work/logrotate.log" \
  || { cat "$work/logrotate.log"; fail "logrotate -d finds fault with the snippet"; }
echo '#2026-12-07 09:05:07#,"0000512"' >>"$log"
logrotate -f -s "$work/logrotate.state" /etc/logrotate.d/quillport || fail "the rotation failed"
[[ -s $log.1 && $(stat -c '%U:%G %a %s' "$log") == "root:quillport 664 0" ]] \
  || fail "the rotation did not leave $log.1 and a new empty log file, root:quillport 664"

dpkg --purge quillport quillportd quillport-common >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg --purge failed"; }
for path in "$log" "$log.1" /etc/logrotate.d/quillport; do
  [[ ! -e $path ]] || fail "$path is still there after the purge"
done
echo "PASS: the three packages: lintian --pedantic clean; installed over 1.0, rotated and purged"
