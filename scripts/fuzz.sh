#!/bin/sh
# Fuzzes one libFuzzer target, starting from its committed seeds:
#   scripts/fuzz.sh ber|keys [build dir (build-fuzz)] [executions (ber 10000000, keys 1000000)]
# ber: the key-transport decoder; keys: GOST public keys, PKCS#8 private keys
# and certificates decoded, printed and encoded again through OpenSSL.
# Configures the build when needed (clang, -DTOKENCERT_FUZZ=ON) and brings the
# target up to date; new inputs go
# to a scratch directory, so the committed seeds stay as they are. Any
# finding stops the run and leaves a crash-* file in the current directory.
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
case "${1:-}" in
  ber) target=zkc_ber_fuzz default_runs=10000000 ;;
  keys) target=gost_keys_fuzz default_runs=1000000 ;;
  *) echo "usage: scripts/fuzz.sh ber|keys [build dir] [executions]" >&2; exit 2 ;;
esac
name=$1
build=${2:-build-fuzz}
runs=${3:-$default_runs}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$src" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DTOKENCERT_FUZZ=ON -DTOKENCERT_BENCH=OFF >/dev/null
fi
cmake --build "$build" --target "$target" -j2 >/dev/null
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# The decoders write one line per refused input: close the target's stderr.
"$build/tests/fuzz/$target" -runs="$runs" -max_len=1024 -close_fd_mask=2 -print_final_stats=1 \
  "$scratch" "$src/tests/fuzz/corpus/$name"
