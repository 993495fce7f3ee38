#!/usr/bin/env bash
# Builds the Debian package of BUILD with CPACK into a scratch folder and checks its name, lintian, its files
# (owned by root, modes 0755/0644), Depends (Qt Widgets; inn2 only recommended) and maintainer scripts.
# usage: package_test.sh BUILD CPACK
set -u
build=$1 cpack=$2
for tool in dpkg-deb dpkg-shlibdeps lintian; do
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

lintian "$deb" >"$work/lintian.txt" 2>&1
cat "$work/lintian.txt"
! grep -q '^E:' "$work/lintian.txt" || fail "lintian reports errors"

field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == quillport && $(field Section) == news ]] || fail "wrong package name or section"
depends=$(field Depends)
for dep in libqt6widgets6 libqt6gui6 passwd; do
  [[ ", $depends," == *", $dep"[\ ,]* ]] || fail "Depends lacks $dep: $depends"
done
[[ ", $depends," != *", inn2"[\ ,]* ]] || fail "inn2 is a dependency: $depends"
[[ ", $(field Recommends)," == *", inn2"[\ ,]* ]] || fail "inn2 is not recommended"

# Owner, mode and path of every entry: regular files and folders only, all root's.
dpkg-deb --contents "$deb" | awk '{ print $2, substr($1, 1, 10), $6 }' | sort -k3 >"$work/contents"
awk '$1 != "root/root"' "$work/contents" | grep . && fail "entries not owned by root"
grep -Ev '^[^ ]+ (-rw-r--r--|-rwxr-xr-x|drwxr-xr-x) ' "$work/contents" && fail "entries with odd modes"
source "$(dirname "$0")/expected_files.sh"
diff -u <(expected_files usr) <(awk '$2 ~ /^-/ { print ($2 ~ /x/ ? 755 : 644), substr($3, 3) }' "$work/contents") ||
  fail "the package's files differ from the expected list"

dpkg-deb --control "$deb" "$work/control"
for script in postinst postrm; do
  [[ -x $work/control/$script ]] || fail "no executable $script"
  sh -n "$work/control/$script" || fail "$script is not valid shell"
done
for dir in "$(setting QUILLPORT_DROP_FOLDER)" "$(setting QUILLPORT_ERROR_FOLDER)"; do
  grep -qF "'$dir'" "$work/control/postinst" || fail "the postinst does not make $dir"
done
! grep -Eq '\brm(dir)?\b' "$work/control/postinst" "$work/control/postrm" || fail "a maintainer script deletes"
echo "PASS: $(basename "$deb"): lintian without errors; Depends: $depends"
