#!/usr/bin/env bash
# compare_builds.sh ENGINE_TOKENCERT PROVIDER_TOKENCERT BUILD_DIR
# Runs one script of actions on our software token and on SoftHSM2, and one
# of failing calls through the fault module, each action with both binaries
# from the same token state, and fails when the
# two differ in any byte of output or in an exit status. The containers are made
# with the engine build's loadable engine and provider (BUILD_DIR: the engine
# build tree).
set -euo pipefail
engine_tool=$1 provider_tool=$2 build=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export SOFTTOKEN_PBKDF2_ITERATIONS=1000 SOFTHSM2_CONF=$work/softhsm2.conf
echo "directories.tokendir = $work/tokens" >softhsm2.conf

# Certificates and containers: RSA in PEM and DER, a GOST key pair in a
# container under GOST protection, one with a broken MAC, and an RSA one.
ossl() { timeout 60 openssl "$@" 2>/dev/null; }
engine=(-engine zk_p11_core_2012)
export OPENSSL_ENGINES=$build/engines
ossl req -x509 -newkey rsa:2048 -nodes -keyout rsa.key -subj /CN=rsa -days 3 -out rsa.pem
ossl x509 -in rsa.pem -outform DER -out rsa.der
ossl pkcs12 -export -in rsa.pem -inkey rsa.key -passout pass:secret -out rsa.p12
provider=(-provider-path "$build/providers" -provider zk_p11_core_2012 -provider default)
ossl genpkey "${provider[@]}" -algorithm gost2012_256 -pkeyopt paramset:A -out gost.key
ossl req "${provider[@]}" -new -x509 -key gost.key -subj /CN=gost -days 3 -out gost.pem
ossl pkcs12 "${engine[@]}" -export -in gost.pem -inkey gost.key -keypbe gost89 -certpbe gost89 \
  -macalg md_gost12_512 -passout pass:secret -out gost.p12
size=$(stat -c %s gost.p12)
cp gost.p12 badmac.p12
printf '\x5a' | dd of=badmac.p12 bs=1 seek=$((size - 40)) conv=notrunc status=none
[ -s gost.p12 ] && [ -s rsa.p12 ] && [ -s rsa.der ] || { echo "could not make the containers"; exit 1; }

# run INPUT ARGS...: one action, from the same token state, by each binary
# (the engine build's result is kept for the next action): its output, any
# file it wrote, and its status go to engine.out and provider.out. The
# fault module's settings of the action, if any, are in `faults`.
faults=""
run() {
  local input=$1 tool
  shift
  rm -rf before && cp -a tokens before
  for tool in engine provider; do
    rm -rf tokens && cp -a before tokens
    [ $tool = provider ] && mv engine.tokens engine.kept
    {
      echo "== $faults $*"
      # shellcheck disable=SC2086 # the settings are words of their own
      printf '%b' "$input" | env $faults timeout 60 setsid -w "${tools[$tool]}" -p11 "$module" "$@" 2>&1 &&
        echo "(0)" ||
        echo "(${PIPESTATUS[1]})"
      [ -e out ] && od -An -tx1 out | head -4 && rm -f out
    } >>"$kind.$tool.out"
    [ $tool = engine ] && cp -a tokens engine.tokens
  done
  rm -rf tokens && mv engine.kept tokens
}

# Every action, in order, on one token.
script() {
  run "" -p11info -slotlist -tokeninfo
  run '1234\n' -infile rsa.pem -inform pem -label pem
  run '1234\n' -infile rsa.der -inform der -label der
  run 'secret\n1234\n' -infile gost.p12 -inform pfx -label gost
  run 'secret\n1234\n' -infile gost.p12 -inform pfx -label gost
  run 'wrong\n1234\n' -infile gost.p12 -inform pfx -label wrong
  run 'secret\n1234\n' -infile badmac.p12 -inform pfx -label badmac
  run 'secret\n1234\n' -infile rsa.p12 -inform pfx -label rsa
  run '' -infile missing.pem -inform pem -label x
  run '' -certlist
  run '' -certlist -attributes
  run '' -certlist -json
  run '' -print -label gost
  run '' -print -label pem
  run '' -print -label none
  run '1234\n' -pkeyfind -label gost
  run '' -outfile out -label gost
  run '' -outfile out -outform der -label der
  run '1234\n' -remove -label der
  run '1234\n' -remove -label der
  run '1235\n' -remove -label pem
  run '' -certlist -attributes
}

# Failing calls, through the fault module over our software token:
# frun SETTINGS INPUT ARGS...
frun() {
  faults=$1
  shift
  run "$@"
  faults=""
}
faulty_script() {
  local pem=(-infile rsa.pem -inform pem -label pem) p12=(-infile gost.p12 -inform pfx -label gost)
  frun 'FAULTMOD_FUNC=C_GetSessionInfo' '' -certlist
  frun 'FAULTMOD_FUNC=C_Login FAULTMOD_RV=0xA0' '1234\n' "${pem[@]}"
  frun 'FAULTMOD_SET_TOKEN_FLAGS=0x40000' '1234\n' "${pem[@]}"
  frun 'FAULTMOD_FUNC=C_CreateObject' '1234\n' "${pem[@]}"
  frun 'FAULTMOD_FUNC=C_CreateObject@2' 'secret\n1234\n' "${p12[@]}"
  frun 'FAULTMOD_FUNC=C_CreateObject@2,C_DestroyObject' 'secret\n1234\n' "${p12[@]}"
  frun 'FAULTMOD_FUNC=C_Logout' '1234\n' "${pem[@]}"
  frun 'FAULTMOD_FUNC=C_OpenSession@1' '' -print -label pem
  frun 'FAULTMOD_FUNC=C_FindObjectsInit' '' -print -label pem
  frun 'FAULTMOD_FUNC=C_DestroyObject' '1234\n' -remove -label pem
  frun 'FAULTMOD_FUNC=C_OpenSession@1' '1234\n' -remove -label pem
  run '' -certlist -attributes
}

declare -A tools=([engine]=$engine_tool [provider]=$provider_tool)
status=0
softtoken=$(dirname "$engine_tool")/../softtoken/libsofttoken.so
export FAULTMOD_TARGET=$softtoken
for kind in softtoken softhsm faulty; do
  rm -rf tokens && mkdir tokens
  if [ $kind = softhsm ]; then
    module=/usr/lib/softhsm/libsofthsm2.so
    softhsm2-util --init-token --free --label cmp --so-pin 87654321 --pin 1234 >/dev/null
  else
    export SOFTTOKEN_DIR=$work/tokens
    module=$softtoken
    [ $kind = faulty ] && module=$(dirname "$engine_tool")/../tests/modules/libfaultmod.so
    "$(dirname "$softtoken")/softtoken-util" --init-token --free --label cmp --so-pin 87654321 --pin 1234 >/dev/null
  fi
  if [ $kind = faulty ]; then faulty_script; else script; fi
  diff -u "$kind.engine.out" "$kind.provider.out" || status=1
  echo "$kind: $(grep -c '^== ' "$kind.engine.out") actions compared"
done
exit $status
