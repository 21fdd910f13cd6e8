#!/usr/bin/env bash
# Builds tokencert and our software token, makes a token in a temporary
# directory (removed at the end) and shows the tool's actions on it.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
install_missing "${BUILD_PACKAGES[@]}" openssl util-linux

build=build-demo
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOKENCERT_TESTS=OFF -DTOKENCERT_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target tokencert softtoken softtoken-util make_gost_p12 token_sign_wrap
tokencert="$PWD/$build/tool/tokencert"
util="$PWD/$build/softtoken/softtoken-util"
module="$PWD/$build/softtoken/libsofttoken.so"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SOFTTOKEN_DIR="$work/tokens"
pin=1234
echo "\$ softtoken-util --init-token --free --label demo --so-pin 87654321 --pin $pin"
"$util" --init-token --free --label demo --so-pin 87654321 --pin "$pin"
slot=$("$util" --show-slots | sed -n "s/^Slot \([0-9]*\): .*label 'demo'.*/\1/p")

# A certificate and its private key, on the token under the label "demo".
id=0102030405060708090a0b0c0d0e0f1011121314
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=tokencert demo" \
  -days 30 -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl x509 -in "$work/cert.pem" -outform DER -out "$work/cert.der"
openssl pkcs8 -topk8 -nocrypt -in "$work/key.pem" -outform DER -out "$work/key.der"
c++ -std=c++17 -O1 -o "$work/demo_put_cert" scripts/demo_put_cert.cpp \
  $(pkg-config --cflags p11-kit-1) -lcrypto -ldl
"$work/demo_put_cert" "$module" "$slot" "$pin" "$work/cert.der" demo "$id" "$work/key.der"

show() {
  echo
  echo "\$ tokencert $*"
  "$tokencert" "$@" || echo "(exit status $?)"
}

m='$M'   # the module's path, shortened in the printed commands
echo
echo "M=$module"
show_m() {
  echo
  echo "\$ tokencert -p11 $m $*"
  "$tokencert" -p11 "$module" "$@" || echo "(exit status $?)"
}
show_m
show_m -slotlist
show_m -slot "$slot" -tokeninfo
show_m -slot "$slot" -certlist
echo
echo "\$ tokencert -p11 $m -slot $slot -attributes -label demo | head -12"
"$tokencert" -p11 "$module" -slot "$slot" -attributes -label demo | sed -n '1,12p'
echo "..."
echo
echo "\$ echo $pin | setsid -w tokencert -p11 $m -slot $slot -pkeyfind -label demo"
echo "$pin" | setsid -w "$tokencert" -p11 "$module" -slot "$slot" -pkeyfind -label demo 2>/dev/null
show_m -slot "$slot" -outfile "$work/demo.pem" -label demo
openssl x509 -in "$work/demo.pem" -noout -subject
show_m -slot "$slot" -outfile "$work/missing.der" -outform der -label nothing

echo
echo "\$ echo $pin | setsid -w tokencert -p11 $m -slot $slot -infile cert.pem -label demo-copy"
(cd "$work" && echo "$pin" | setsid -w "$tokencert" -p11 "$module" -slot "$slot" -infile cert.pem \
  -label demo-copy 2>/dev/null) || echo "(exit status $?)"

# The main job: a GOST key pair with its certificate, delivered in a
# GOST-protected PKCS#12 container, onto the token in one step.
echo
echo "\$ make_gost_p12 ivan.p12 secret 2012-256 'Ivan Petrov'   # a container as a CA delivers it"
"$PWD/$build/examples/make_gost_p12" "$work/ivan.p12" secret 2012-256 "Ivan Petrov"
echo
echo "\$ printf 'secret\\n$pin\\n' | setsid -w tokencert -p11 $m -slot $slot -infile ivan.p12 -inform p12 -label ivan"
(cd "$work" && printf 'secret\n%s\n' "$pin" | setsid -w "$tokencert" -p11 "$module" -slot "$slot" \
  -infile ivan.p12 -inform p12 -label ivan 2>/dev/null) || echo "(exit status $?)"
show_m -slot "$slot" -certlist
echo
echo "\$ tokencert -p11 $m -slot $slot -print -label ivan | sed -n '1,12p;/Parameter set/p'"
"$tokencert" -p11 "$module" -slot "$slot" -print -label ivan | sed -n '1,12p;/Parameter set/p'
echo
echo "\$ echo $pin | setsid -w token_sign_wrap $m $slot ivan    # a program using the token key through OpenSSL"
echo "$pin" | setsid -w "$PWD/$build/examples/token_sign_wrap" "$module" "$slot" ivan
echo
echo "\$ echo $pin | setsid -w tokencert -p11 $m -slot $slot -remove -label demo"
echo "$pin" | setsid -w "$tokencert" -p11 "$module" -slot "$slot" -remove -label demo 2>/dev/null || echo "(exit status $?)"
show_m -slot "$slot" -certlist
