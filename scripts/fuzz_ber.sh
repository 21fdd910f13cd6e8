#!/bin/sh
# Fuzzes the key-transport decoder, starting from the committed seeds.
#   scripts/fuzz_ber.sh [build dir (build-fuzz)] [executions (10000000)]
# Builds the target when needed (clang, -DTOKENCERT_FUZZ=ON); new inputs go
# to a scratch directory, so the committed seeds stay as they are. Any
# finding stops the run and leaves a crash-* file in the current directory.
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build-fuzz}
runs=${2:-10000000}
if [ ! -x "$build/tests/fuzz/zkc_ber_fuzz" ]; then
  CC=clang CXX=clang++ cmake -S "$src" -B "$build" -DTOKENCERT_FUZZ=ON -DTOKENCERT_BENCH=OFF >/dev/null
  cmake --build "$build" --target zkc_ber_fuzz -j2
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# The decoder writes one line per refused input: close the target's stderr.
"$build/tests/fuzz/zkc_ber_fuzz" -runs="$runs" -max_len=1024 -close_fd_mask=2 -print_final_stats=1 \
  "$scratch" "$src/tests/fuzz/corpus"
