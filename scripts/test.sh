#!/usr/bin/env bash
# Installs what the tests need when it is missing, then builds and runs every
# test twice: a normal build, and a build under AddressSanitizer and
# UndefinedBehaviorSanitizer. Both builds compile what the tests need and no
# benchmark (TOKENCERT_TEST_BENCH=1 compiles the benchmarks in the normal
# build too). The code under test keeps each build's flags; the test
# programs' own code is compiled without optimisation, and in the sanitizer
# build with AddressSanitizer but without UndefinedBehaviorSanitizer (the
# costlier one to compile) and with line tables only (enough for reports).
# The normal build's product code is optimised as released, without debug
# information; the sanitizer build's keeps line tables.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
install_missing "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
jobs=$(nproc)
bench=OFF
[ "${TOKENCERT_TEST_BENCH:-0}" = 1 ] && bench=ON

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOKENCERT_BENCH=$bench \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
  -DTOKENCERT_TEST_FLAGS="-O0 -g0" >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs" --timeout 300

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTOKENCERT_SANITIZE=ON -DTOKENCERT_BENCH=OFF \
  -DCMAKE_C_FLAGS_DEBUG="-g1" -DCMAKE_CXX_FLAGS_DEBUG="-g1" \
  -DTOKENCERT_TEST_FLAGS="-g1 -fno-sanitize=undefined" >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 600
