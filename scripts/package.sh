#!/usr/bin/env bash
# Builds a release and makes the Debian package
# dist/corvane-editor_<version>_<arch>.deb with CPack. Its library
# dependencies come from the binaries (dpkg-shlibdeps).
#   bash scripts/package.sh
#   sudo apt install ./dist/corvane-editor_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build=${CORVANE_PACKAGE_BUILD:-build-package}
# Only what the package holds is built (not the benchmarks).
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_TESTS=OFF \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target corvane-editor corvane-print manpages
dist=$PWD/dist
mkdir -p "$dist"
rm -rf "$dist/cpack"
(cd "$build" && cpack -G DEB -B "$dist/cpack" >/dev/null)
mv -f "$dist"/cpack/*.deb "$dist"/
rm -rf "$dist/cpack"
ls -l "$dist"/*.deb
