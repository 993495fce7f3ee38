#!/usr/bin/env bash
# Builds the Debian package: installs what is missing, configures a Release
# build without tests or benchmark in PACKAGE_BUILD_DIR (default
# build-package) with the prefix /usr and Debian's hardening flags, builds it
# and runs `cpack -G DEB` there. Extra arguments go to CMake (for example
# -DQUILLPORT_SERVER_HOST=news.example.org or -DQUILLPORT_AUTOSTART=ON); each
# run starts from the default settings, so that none of an earlier run's
# stays behind unseen. Prints the path of the .deb; install it with
# `sudo apt install ./THAT.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build_dir=${PACKAGE_BUILD_DIR:-build-package}
export DEB_BUILD_MAINT_OPTIONS=hardening=+all

cmake -S . -B "$build_dir" -G Ninja -U 'QUILLPORT_*' -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DQUILLPORT_BUILD_TESTS=OFF -DQUILLPORT_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" "$@"
cmake --build "$build_dir" --parallel "$(nproc)"
(cd "$build_dir" && cpack -G DEB >cpack.log) || { cat "$build_dir/cpack.log"; exit 1; }
deb=$(sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p' "$build_dir/cpack.log")
[ -f "$deb" ] || { cat "$build_dir/cpack.log"; echo "package.sh: cpack made no package" >&2; exit 1; }
echo "$deb"
