#!/usr/bin/env bash
# Builds Quillport's Debian packages with debhelper (debian/): quillport-common,
# quillportd and quillport. Installs what is missing, copies the sources into
# PACKAGE_BUILD_DIR (default build-package), where dpkg-buildpackage builds
# them (a Release build with the prefix /usr and Debian's hardening flags,
# kept in PACKAGE_BUILD_DIR/cmake, so that the next run builds only what
# changed). Extra arguments go to CMake (for example
# -DQUILLPORT_SERVER_HOST=news.example.org or -DQUILLPORT_AUTOSTART=ON); each
# run starts from the default settings, so that none of an earlier run's
# stays behind unseen. Prints the path of every .deb it made; install them
# with `sudo apt install ./THAT.deb ...`.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh >&2
build_dir=$(realpath -m "${PACKAGE_BUILD_DIR:-build-package}")
source_copy=$build_dir/quillport

# A copy without build folders or Git data: dh writes its staging folders
# into debian/, which two builds must not share; a fresh copy also leaves
# nothing of an earlier build's staging behind.
rm -rf "$source_copy" "$build_dir"/*.deb "$build_dir"/*.buildinfo "$build_dir"/*.changes
mkdir -p "$source_copy"
inside=$(realpath -m --relative-to=. "$build_dir")
tar -C . --exclude='./build*' --exclude=./.git --exclude=./out --exclude="./$inside" -cf - . | tar -C "$source_copy" -xf -

# debhelper gives each build a HOME of its own: ccache keeps using its cache.
if command -v ccache >/dev/null; then
  CCACHE_DIR=${CCACHE_DIR:-$(ccache -k cache_dir)}
  export CCACHE_DIR
fi
QUILLPORT_CMAKE_ARGS=$(printf '%q ' -DCMAKE_BUILD_TYPE=Release "$@")
export QUILLPORT_CMAKE_ARGS QUILLPORT_BUILD_DIR=$build_dir/cmake
# -nc: the build folder outlives the copy (a clean would delete it).
(cd "$source_copy" && dpkg-buildpackage -b -nc -us -uc -j"$(nproc)") >"$build_dir/build.log" 2>&1 \
  || { tail -60 "$build_dir/build.log" >&2; echo "package.sh: dpkg-buildpackage failed (log: $build_dir/build.log)" >&2; exit 1; }
debs=("$build_dir"/*.deb)
[ -f "${debs[0]}" ] || { echo "package.sh: no package was made (log: $build_dir/build.log)" >&2; exit 1; }
printf '%s\n' "${debs[@]}"
