#!/usr/bin/env bash
# Builds the Debian package of tokencert for this machine's architecture from
# the install rules (CPack) in build-package/ (or $TOKENCERT_PACKAGE_BUILD): a
# Release build under the prefix /usr, without tests and benchmarks, through
# ccache when it is installed. Installs what the build needs when it is
# missing. The build's output goes to standard error; the last line on
# standard output is the package's path.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
install_missing "${BUILD_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}" >&2
build=${TOKENCERT_PACKAGE_BUILD:-build-package}
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DTOKENCERT_TESTS=OFF -DTOKENCERT_BENCH=OFF "${launcher[@]}" >&2
cmake --build "$build" -j"$(nproc)" >&2
rm -f "$build"/tokencert_*.deb
(cd "$build" && cpack -G DEB) >&2
debs=("$PWD/$build"/tokencert_*.deb)
[ -f "${debs[0]}" ] || { echo "package.sh: cpack made no package in $build" >&2; exit 1; }
echo "${debs[0]}"
