#!/usr/bin/env bash
# Checks the packages scripts/package.sh made (DEBS, from the shared build in package_build.sh): lintian
# --pedantic shows no tag; the fields; each file in its package; the conffiles. Installing them (what they
# pull in, their folders, user and log rotation, the service, the purge) is the system test's (tests/system).
# usage: package_test.sh DEBS BUILD
set -u
debs=$1 build=$2
for tool in dpkg-deb lintian man; do
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
  expected_files usr | awk '$2 !~ /doc\/quillport\// { p = $2 ~ /quillportd/ ? "quillportd" : "quillport"
    print ($2 ~ /man|deliver/ ? "quillport-common" : p), $1, "/" $2 }'
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
log=$(setting QUILLPORT_LOG_FILE)
for dir in "$(setting QUILLPORT_DROP_FOLDER)" "$(setting QUILLPORT_ERROR_FOLDER)" "${log%/*}"; do
  grep -q " \.$dir/\$" "$work/common.contents" || fail "quillport-common does not hold the folder $dir"
done
# The default news server: a build after one with another server is back to the default.
dpkg-deb -x "$common" "$work/common"
LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$work/common/usr/share/man/man1/quillport.1.gz" 2>/dev/null \
  | grep -qF "Connected To $(setting QUILLPORT_SERVER_HOST)" || fail "quillport(1) does not name the default news server"
dpkg-deb --control "$common" "$work/control"
diff <(printf '%s\n' "${conffiles[@]}") <(sort "$work/control/conffiles") || fail "the conffiles are not the files in /etc"

echo "PASS: the three packages: lintian --pedantic clean; fields, files and conffiles as expected"
