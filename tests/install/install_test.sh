#!/usr/bin/env bash
# Installs BUILD into a scratch DESTDIR under /usr/local and checks its files, desktop entry and manual pages
# (lintian, in package_test.sh, checks the icons' sizes and the pages' warnings); then, on a scratch configure
# of SOURCE, where the autostart entry goes.
# usage: install_test.sh BUILD SOURCE
set -u
build=$1 source=$2
for tool in desktop-file-validate man ninja; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# Every file and link under $1, with its mode.
listing() { (cd "$1" && find . ! -type d -printf '%m %P\n' | sort -k2); }

root=$work/root share=usr/local/share
DESTDIR=$root cmake --install "$build" --prefix /usr/local >"$work/install.log" || fail "install failed"
source "$(dirname "$0")/expected_files.sh"
diff -u <(expected_files usr/local) <(listing "$root") || fail "the installed files differ from the expected list"
dirs=$(cd "$root" && find . -type d ! -perm 755)
[[ -z $dirs ]] || fail "folders not of mode 755: $dirs"

entry=$root/$share/applications/quillport.desktop
desktop-file-validate "$entry" || fail "the desktop entry is not valid"
exec=$(sed -n 's/^Exec=//p' "$entry") icon=$(sed -n 's/^Icon=//p' "$entry")
[[ -x $root/usr/local/bin/$exec ]] || fail "the desktop entry starts '$exec', which is not installed"
[[ $(sed -n 's/^StartupWMClass=//p' "$entry") == "$exec" ]] \
  || fail "the desktop entry's StartupWMClass is not the program's window class, $exec"
[[ -f $root/$share/icons/hicolor/scalable/apps/$icon.svg ]] || fail "the desktop entry's icon '$icon' is not installed"

drop=$(cmake -L -N "$build" | sed -n 's/^QUILLPORT_DROP_FOLDER:[A-Z]*=//p')
for page in "$root/$share/man/man1/quillport.1.gz" "$root/$share/man/man1/quillport-deliver.1.gz"; do
  LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$page" 2>/dev/null | grep -qF -- "$drop" \
    || fail "$page does not show the drop folder $drop"
done

# The autostart entry, only with QUILLPORT_AUTOSTART: configured, never built.
scratch=$work/configure
for prefix in /usr/local /usr; do
  cmake -S "$source" -B "$scratch" -G Ninja -DCMAKE_INSTALL_PREFIX="$prefix" -DQUILLPORT_AUTOSTART=ON \
    -DQUILLPORT_BUILD_TESTS=OFF -DQUILLPORT_BUILD_BENCH=OFF >"$work/configure.log" 2>&1 \
    || { cat "$work/configure.log"; fail "a configure with QUILLPORT_AUTOSTART=ON failed"; }
  rm -rf "$work/auto"
  DESTDIR=$work/auto cmake --install "$scratch" --component autostart >/dev/null || fail "no autostart install"
  want=${prefix%/usr}/etc/xdg/autostart/quillport.desktop
  diff <(echo "644 ${want#/}") <(listing "$work/auto") || fail "the autostart entry for $prefix is not $want"
done
echo "PASS: the install holds exactly the programs, desktop entry, icons, manual page and docs; autostart goes to etc"
