#!/usr/bin/env bash
# Builds the loadable engine and our software token, makes a token in a
# temporary directory (removed at the end) and shows the openssl command
# using GOST keys on it through the engine.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
install_missing "${BUILD_PACKAGES[@]}" openssl util-linux

build=build-demo
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOKENCERT_TESTS=OFF -DTOKENCERT_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target zk_p11_core_2012 tokencert softtoken softtoken-util >/dev/null
engines="$PWD/$build/engines"
module="$PWD/$build/softtoken/libsofttoken.so"
util="$PWD/$build/softtoken/softtoken-util"
tokencert="$PWD/$build/tool/tokencert"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export SOFTTOKEN_DIR="$work/tokens"
"$util" --init-token --free --label demo --so-pin 87654321 --pin 1234 >/dev/null
echo 1 >label_index
cat >engine.cnf <<EOF
openssl_conf = openssl_init
[openssl_init]
engines = engine_section
[engine_section]
zk_p11_core_2012 = token_engine
[token_engine]
engine_id = zk_p11_core_2012
dynamic_path = $engines/zk_p11_core_2012.so
ATTACH_API = $module
OPEN_SESSION = CKF_SERIAL_SESSION|CKF_RW_SESSION
LOGIN_ON_USE = 1234
LABEL_INDEX_PATH = $work/label_index
default_algorithms = ALL
init = 1
[req]
distinguished_name = req_dn
[req_dn]
EOF
sed -e 's/^LOGIN_ON_USE = 1234/LOGIN_ON_USE = 1234\nPRIVATE_KEY_EXTRACTABLE = 1\nPRIVATE_KEY_SENSITIVE = 0/' engine.cnf >extractable.cnf
printf 'GOST through the openssl command\n' >data.txt

# show CMD...: prints the command (paths shortened) and runs it, both
# output streams shown.
show() {
  echo
  echo "\$ $*" | sed -e "s|$work/||g" -e "s|$engines|\$ENGINES|g" -e "s|$module|\$MODULE|g"
  "$@" 2>&1 | sed -e "s|$work/||g" -e "s|$engines|\$ENGINES|g" -e "s|$module|\$MODULE|g" || echo "(exit status ${PIPESTATUS[0]})"
}
echo "ENGINES=$engines"
echo "MODULE=$module"

OPENSSL_ENGINES=$engines show openssl engine -t -c zk_p11_core_2012
show cat engine.cnf
export OPENSSL_CONF="$work/engine.cnf"
show openssl dgst -md_gost12_256 data.txt
show openssl dgst -md_gost12_512 data.txt
show openssl dgst -md_gost94 data.txt
show openssl dgst -mac gost-mac -macopt key:0123456789abcdef0123456789ABCDEF data.txt
show openssl genpkey -algorithm gost2012_256 -pkeyopt paramset:A -out ca.key
OPENSSL_CONF="$work/extractable.cnf" show openssl genpkey -algorithm gost2012_512 -pkeyopt paramset:A -out user.key
show cat label_index
show openssl req -new -x509 -engine zk_p11_core_2012 -keyform engine -key 1 -subj "/CN=Token CA" -days 365 -out ca.pem
show openssl req -new -engine zk_p11_core_2012 -keyform engine -key 2 -subj "/CN=Token user" -out user.csr
show openssl x509 -req -engine zk_p11_core_2012 -in user.csr -CA ca.pem -CAkeyform engine -CAkey ca.pem -set_serial 2 -days 30 -out user.pem
show openssl verify -CAfile ca.pem user.pem
show openssl cms -sign -binary -engine zk_p11_core_2012 -in data.txt -signer user.pem -keyform engine -inkey 2 -outform DER -out data.p7s
show openssl cms -verify -binary -inform DER -in data.p7s -content data.txt -CAfile ca.pem
show openssl cms -encrypt -binary -gost89 -in data.txt -recip user.pem -outform DER -out data.p7m
show openssl cms -decrypt -binary -engine zk_p11_core_2012 -inform DER -in data.p7m -recip user.pem -keyform engine -inkey 2
show openssl pkcs12 -export -in user.pem -inkey user.key -keypbe gost89 -certpbe gost89 -macalg md_gost12_512 -passout pass:secret -out user.p12
show openssl pkcs12 -in user.p12 -info -noout -passin pass:secret
"$util" --init-token --free --label second --so-pin 87654321 --pin 5678 >/dev/null
echo
echo "\$ printf 'secret\\n5678\\n' | setsid -w tokencert -p11 \$MODULE -slot 1 -infile user.p12 -inform pfx -label imported"
printf 'secret\n5678\n' | setsid -w "$tokencert" -p11 "$module" -slot 1 -infile user.p12 -inform pfx -label imported 2>&1 |
  sed -e "s|$work/||g"
