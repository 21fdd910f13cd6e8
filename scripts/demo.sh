#!/usr/bin/env bash
# Builds tokencert and our software token, makes a token in a temporary
# directory (removed at the end) and shows the tool's actions on it: first its
# main job, a GOST key pair with its certificate from a GOST-protected PKCS#12
# container onto the token, then every other action.
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
make_gost_p12="$PWD/$build/examples/make_gost_p12"
token_sign_wrap="$PWD/$build/examples/token_sign_wrap"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SOFTTOKEN_DIR="$work/tokens"
cd "$work"
pin=1234
echo "\$ softtoken-util --init-token --free --label demo --so-pin 87654321 --pin $pin"
"$util" --init-token --free --label demo --so-pin 87654321 --pin "$pin"
slot=$("$util" --show-slots | sed -n "s/^Slot \([0-9]*\): .*label 'demo'.*/\1/p")

m='$M'   # the module's path, shortened in the printed commands
echo
echo "M=$module"
show_m() {
  echo
  echo "\$ tokencert -p11 $m $*"
  "$tokencert" -p11 "$module" "$@" || echo "(exit status $?)"
}
# Runs tokencert with `input` on its standard input and no terminal.
show_fed() {
  local input=$1 shown=$2
  shift 2
  echo
  echo "\$ $shown | setsid -w tokencert -p11 $m $*"
  printf "$input" | setsid -w "$tokencert" -p11 "$module" "$@" 2>/dev/null || echo "(exit status $?)"
}

# The main job: a GOST key pair with its certificate, delivered the way a
# certification authority delivers it, onto the token in one step.
echo
echo "\$ make_gost_p12 demo.p12 secret 2012-256 'tokencert demo'"
"$make_gost_p12" demo.p12 secret 2012-256 "tokencert demo"
show_fed "secret\n$pin\n" "printf 'secret\\n$pin\\n'" -slot "$slot" -infile demo.p12 -inform p12 -label demo

show_m
show_m -slotlist
show_m -slot "$slot" -tokeninfo
show_m -slot "$slot" -certlist
echo
echo "\$ tokencert -p11 $m -slot $slot -attributes -label demo | head -12"
"$tokencert" -p11 "$module" -slot "$slot" -attributes -label demo | sed -n '1,12p'
echo "..."
show_fed "$pin\n" "echo $pin" -slot "$slot" -pkeyfind -label demo
echo
echo "\$ tokencert -p11 $m -slot $slot -print -label demo | sed -n '1,12p;/Parameter set/p'"
"$tokencert" -p11 "$module" -slot "$slot" -print -label demo | sed -n '1,12p;/Parameter set/p'
show_m -slot "$slot" -outfile demo.pem -label demo
openssl x509 -in demo.pem -noout -subject
show_m -slot "$slot" -outfile missing.der -outform der -label nothing

# A certificate alone (any key algorithm) from a PEM file.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=EC peer" \
  -days 30 -keyout ec-key.pem -out ec-cert.pem 2>/dev/null
show_fed "$pin\n" "echo $pin" -slot "$slot" -infile ec-cert.pem -label ec-peer
show_m -slot "$slot" -certlist

# A program using the token key through OpenSSL and the engine.
echo
echo "\$ echo $pin | setsid -w token_sign_wrap $m $slot demo"
echo "$pin" | setsid -w "$token_sign_wrap" "$module" "$slot" demo

show_fed "$pin\n" "echo $pin" -slot "$slot" -remove -label ec-peer
show_m -slot "$slot" -print -label ec-peer
show_m -slot "$slot" -certlist
