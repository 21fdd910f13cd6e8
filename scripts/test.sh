#!/usr/bin/env bash
# Installs what the tests need when it is missing, then builds and runs every
# test twice: a normal build with the default compiler, and a build with clang
# under AddressSanitizer and UndefinedBehaviorSanitizer (a second compiler's
# warnings too). Between the two, a build without the engine runs the tool's
# and the provider's tests and compares its tokencert with the normal one. Both builds compile what the tests need and no benchmark
# (TOKENCERT_TEST_BENCH=1 compiles the benchmarks in the normal build too).
# The code under test keeps each build's flags; the test programs' own code
# is compiled without optimisation, one unit per program, and in the
# sanitizer build with AddressSanitizer but without UndefinedBehaviorSanitizer
# (the costlier one to compile) and with line tables only (enough for
# reports). The normal build's product code is optimised as released, without
# debug information; the sanitizer build's keeps line tables, and its
# arithmetic and hashing are optimised a little (-O1), where the tests spend
# most of their time. Both build trees are kept, so a second run compiles only
# what changed.
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

# Without the engine (as where OpenSSL has none): the tool end to end, the
# provider's token tests, and both builds' outputs compared.
cmake -S . -B build-noengine -DTOKENCERT_ENGINE=OFF -DTOKENCERT_ENGINE_BUILD="$PWD/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTOKENCERT_BENCH=OFF -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
  -DTOKENCERT_TEST_FLAGS="-O0 -g0" >/dev/null
cmake --build build-noengine -j"$jobs"
ctest --test-dir build-noengine --output-on-failure -j"$jobs" --timeout 300

# A sanitizer tree configured with another compiler starts afresh.
if [ -f build-asan/CMakeCache.txt ] && ! grep -q '^CMAKE_CXX_COMPILER:.*clang++$' build-asan/CMakeCache.txt; then
  rm -rf build-asan
fi
cmake -S . -B build-asan -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug -DTOKENCERT_SANITIZE=ON -DTOKENCERT_BENCH=OFF \
  -DCMAKE_C_FLAGS_DEBUG="-g1" -DCMAKE_CXX_FLAGS_DEBUG="-g1" -DTOKENCERT_CORE_FLAGS="-O1" \
  -DTOKENCERT_TEST_FLAGS="-g1 -fno-sanitize=undefined" >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 600
