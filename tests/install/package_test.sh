#!/usr/bin/env bash
# Builds the Debian package of BUILD with CPACK and checks its fields, files, folders, conffiles and scripts,
# lintian --pedantic at most info. Then, as root on a machine without the package, installs it for real:
# folders and log file, logrotate, dpkg-reconfigure, purge (the machine is left as it was found).
# usage: package_test.sh BUILD CPACK
set -u
build=$1 cpack=$2
for tool in dpkg-deb dpkg-shlibdeps lintian logrotate; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
setting() { cmake -L -N "$build" | sed -n "s/^$1:[A-Z]*=//p"; }

"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1 \
  || { cat "$work/cpack.log"; fail "cpack failed"; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
deb=$work/quillport_${version}_$(dpkg --print-architecture).deb
[[ -f $deb ]] || fail "no package $deb: $(ls "$work")"

lintian --pedantic "$deb" 2>&1 | grep -v '^running with root privileges' >"$work/lintian.txt"
cat "$work/lintian.txt"
! grep -Ev '^[IN]: ' "$work/lintian.txt" || fail "lintian --pedantic reports more than information"

field() { dpkg-deb -f "$deb" "$1"; }
has() { [[ ", $1," == *", $2"[\ ,]* ]]; }
[[ $(field Package) == quillport && $(field Section) == news ]] || fail "wrong package name or section"
depends=$(field Depends)
for dep in libqt6widgets6 libqt6gui6 passwd; do
  has "$depends" "$dep" || fail "Depends lacks $dep: $depends"
done
! has "$depends, $(field Recommends)" inn2 || fail "inn2 is a dependency or recommended"
has "$(field Suggests)" inn2 || fail "inn2 is not suggested"

# Owner, mode and path of every entry: regular files and folders only, all root's.
dpkg-deb --contents "$deb" | awk '{ print $2, substr($1, 1, 10), $6 }' | sort -k3 >"$work/contents"
awk '$1 != "root/root"' "$work/contents" | grep . && fail "entries not owned by root"
grep -Ev '^[^ ]+ (-rw-r--r--|-rwxr-xr-x|drwxr-xr-x) ' "$work/contents" && fail "entries with odd modes"
conffiles=(etc/exim4/conf.d/router/390_quillport_news-aliases etc/exim4/conf.d/transport/30_quillport_news-pipe
  etc/logrotate.d/quillport)
source "$(dirname "$0")/expected_files.sh"
diff -u <({ expected_files usr; printf '644 %s\n' "${conffiles[@]}"; } | sort -k2) \
  <(awk '$2 ~ /^-/ { print ($2 ~ /x/ ? 755 : 644), substr($3, 3) }' "$work/contents") ||
  fail "the package's files differ from the expected list"
folders=("$(setting QUILLPORT_DROP_FOLDER)" "$(setting QUILLPORT_ERROR_FOLDER)")
log=$(setting QUILLPORT_LOG_FILE)
folders+=("${log%/*}")
for dir in "${folders[@]}"; do
  grep -qxF "root/root drwxr-xr-x .$dir/" "$work/contents" || fail "the package does not hold the folder $dir"
done

dpkg-deb --control "$deb" "$work/control"
diff <(printf '/%s\n' "${conffiles[@]}") <(sort "$work/control/conffiles") || fail "the conffiles are not the files in /etc"
for script in postinst postrm; do
  [[ -x $work/control/$script ]] || fail "no executable $script"
  sh -n "$work/control/$script" || fail "$script is not valid shell"
done

# The real thing, only where it changes nothing that was there: as root, without the package, its folders,
# log file or configuration files.
installed() { dpkg-query -W -f='${db:Status-Abbrev}' quillport 2>/dev/null | grep -q '^.[^n]'; }
for path in "${folders[@]}" "$log" "${conffiles[@]/#//}"; do [[ -e $path ]] && leftover=$path; done
if [[ $(id -u) != 0 ]] || installed || [[ -v leftover ]]; then
  echo "PASS: $(basename "$deb") (not installed: needs root and a machine without quillport ${leftover-})"
  exit 0
fi
getent group quillport >/dev/null && had_group=yes
trap 'installed && dpkg --purge quillport >/dev/null 2>&1; [[ -v had_group ]] || groupdel quillport 2>/dev/null;
  rm -rf "$work"' EXIT
dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i failed"; }
for dir in "${folders[@]}"; do
  [[ $(stat -c '%U:%G %a' "$dir") == "root:quillport 2775" ]] || fail "$dir is not root:quillport 2775"
done
[[ $(stat -c '%U:%G %a' "$log") == "root:quillport 664" ]] || fail "$log is not root:quillport 664"

logrotate -d /etc/logrotate.d/quillport >"$work/logrotate.log" 2>&1 && ! grep -qi error "$work/logrotate.log" \
  || { cat "$work/logrotate.log"; fail "logrotate -d finds fault with the snippet"; }
echo '#2026-12-07 09:05:07#,"0000512"' >>"$log"
logrotate -f -s "$work/logrotate.state" /etc/logrotate.d/quillport || fail "the rotation failed"
[[ -s $log.1 && $(stat -c '%U:%G %a %s' "$log") == "root:quillport 664 0" ]] \
  || fail "the rotation did not leave $log.1 and a new empty log file, root:quillport 664"

rmdir "${folders[1]}"
DEBIAN_FRONTEND=noninteractive dpkg-reconfigure quillport || fail "dpkg-reconfigure failed"
[[ $(stat -c '%U:%G %a' "${folders[1]}") == "root:quillport 2775" ]] || fail "dpkg-reconfigure did not make ${folders[1]}"

dpkg --purge quillport >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg --purge failed"; }
for path in "$log" "$log.1" /etc/logrotate.d/quillport; do
  [[ ! -e $path ]] || fail "$path is still there after the purge"
done
echo "PASS: $(basename "$deb"): lintian --pedantic clean; installed, rotated, reconfigured and purged"
