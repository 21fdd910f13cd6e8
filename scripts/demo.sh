#!/usr/bin/env bash
# Builds tokencert and shows its actions on a SoftHSM2 token that it makes in
# a temporary directory (removed at the end).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
install_missing "${BUILD_PACKAGES[@]}" softhsm2 openssl util-linux

build=build-demo
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOKENCERT_TESTS=OFF -DTOKENCERT_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target tokencert
tokencert="$PWD/$build/tool/tokencert"
module=/usr/lib/softhsm/libsofthsm2.so

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/tokens"
printf 'directories.tokendir = %s/tokens\nobjectstore.backend = file\nlog.level = ERROR\n' "$work" \
  >"$work/softhsm2.conf"
export SOFTHSM2_CONF="$work/softhsm2.conf"
pin=1234
slot=$(softhsm2-util --init-token --free --label demo --pin "$pin" --so-pin 87654321 |
  sed -n 's/.*reassigned to slot \([0-9]*\).*/\1/p')

# A certificate and its key, on the token under the label "demo".
id=0102030405060708090a0b0c0d0e0f1011121314
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=tokencert demo" \
  -days 30 -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl x509 -in "$work/cert.pem" -outform DER -out "$work/cert.der"
openssl pkcs8 -topk8 -nocrypt -in "$work/key.pem" -out "$work/key.p8"
softhsm2-util --import "$work/key.p8" --token demo --label demo --id "$id" --pin "$pin" >/dev/null
c++ -std=c++17 -O1 -o "$work/demo_put_cert" scripts/demo_put_cert.cpp \
  $(pkg-config --cflags p11-kit-1) -lcrypto -ldl
"$work/demo_put_cert" "$module" "$slot" "$pin" "$work/cert.der" demo "$id"

show() {
  echo
  echo "\$ tokencert $*"
  "$tokencert" "$@" || echo "(exit status $?)"
}

show -p11 "$module"
show -p11 "$module" -slotlist
show -p11 "$module" -slot "$slot" -tokeninfo
show -p11 "$module" -slot "$slot" -certlist
echo
echo "\$ tokencert -p11 $module -slot $slot -attributes -label demo   (the first lines)"
"$tokencert" -p11 "$module" -slot "$slot" -attributes -label demo | sed -n '1,12p'
echo "..."
echo
echo "\$ echo $pin | setsid -w tokencert -p11 $module -slot $slot -pkeyfind -label demo"
echo "$pin" | setsid -w "$tokencert" -p11 "$module" -slot "$slot" -pkeyfind -label demo 2>/dev/null
show -p11 "$module" -slot "$slot" -outfile "$work/demo.pem" -label demo
openssl x509 -in "$work/demo.pem" -noout -subject
show -p11 "$module" -slot "$slot" -outfile "$work/missing.der" -outform der -label nothing
