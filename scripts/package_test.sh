#!/usr/bin/env bash
# The Debian package end to end, as root, on a Debian machine where tokencert
# is not installed: builds the package (scripts/package.sh); installs the
# build twice into a DESTDIR, with the modules' directories outside the
# prefix, and checks that nothing was written outside it; installs the
# package with apt (manual pages and completion files included) and runs the
# installed programs with nothing of the build tree: tokencert shows the
# package's version, p11-kit finds the software token, softtoken-util makes a
# token, tokencert lists it, imports, lists, exports and removes a
# certificate through p11-kit's proxy module, openssl loads the provider and
# the engine; then purges the package and checks that none of its files is
# left while the user's tokens stay. A failed run removes the package again.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
fail() {
  echo "package_test.sh: $*" >&2
  exit 1
}
[ "$(id -u)" -eq 0 ] || fail "run it as root: it installs and removes the tokencert package"
case "$(dpkg-query -W -f='${Status}' tokencert 2>/dev/null || true)" in
  "" | *not-installed | *config-files) ;;
  *) fail "tokencert is installed already; remove it first (apt-get remove --purge tokencert)" ;;
esac
. scripts/deps.sh
install_missing "${PACKAGE_TEST_PACKAGES[@]}"

tmp=$(mktemp -d)
installed=0
cleanup() {
  if [ "$installed" = 1 ]; then
    echo "package_test.sh: removing the package" >&2
    timeout 300 apt-get remove --purge -y -qq tokencert >/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

build=${TOKENCERT_PACKAGE_BUILD:-build-package}
deb=$(timeout 1800 scripts/package.sh | tail -n 1)
echo "package: $deb"
depends=$(timeout 60 dpkg-deb -f "$deb" Depends)
for dep in libssl3 libp11-kit0 libsqlite3-0; do
  grep -qw -- "$dep" <<<"$depends" || fail "the package does not depend on $dep: $depends"
done

# Installed into a DESTDIR under /usr/local, twice: every file lands under
# DESTDIR (the modules in the system's directories there), the second
# install makes the same files, nothing else under DESTDIR, nothing outside.
dest=$tmp/destdir
touch "$tmp/stamp"
timeout 300 cmake -S . -B "$build" -DCMAKE_INSTALL_PREFIX=/usr/local >/dev/null
for round in 1 2; do
  DESTDIR=$dest timeout 300 cmake --install "$build" >/dev/null || fail "install $round into DESTDIR failed"
  sort "$build/install_manifest.txt" >"$tmp/manifest$round"
done
timeout 300 cmake -S . -B "$build" -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmp -s "$tmp/manifest1" "$tmp/manifest2" || fail "the second install into DESTDIR installed other files"
(cd "$dest" && timeout 60 find . ! -type d | sed 's|^\.||' | sort) >"$tmp/found"
cmp -s "$tmp/manifest1" "$tmp/found" || fail "DESTDIR holds other files than the install rules name"
for f in /usr/local/bin/tokencert /usr/local/bin/softtoken-util \
  "$(pkg-config p11-kit-1 --variable p11_module_path)/libsofttoken.so" \
  "$(pkg-config p11-kit-1 --variable p11_module_configs)/softtoken.module" \
  "$(pkg-config libcrypto --variable enginesdir)/zk_p11_core_2012.so" \
  "$(pkg-config libcrypto --variable modulesdir)/zk_p11_core_2012.so"; do
  [ -f "$dest$f" ] || fail "not installed into DESTDIR: $f"
done
outside=$(timeout 300 find /usr /etc /opt -newer "$tmp/stamp" 2>/dev/null | head -n 5)
[ -z "$outside" ] || fail "the install into DESTDIR wrote outside it: $outside"

installed=1
timeout 600 apt-get install -y -qq "$deb" >/dev/null
timeout 60 dpkg-query -L tokencert | while read -r f; do [ -d "$f" ] || echo "$f"; done >"$tmp/files"
grep -qx /usr/bin/tokencert "$tmp/files" || fail "dpkg -L tokencert lists no /usr/bin/tokencert"
# The manual pages and the completion files that the source tree has.
for f in doc/*.[1-9] doc/completion/*; do
  [ -e "$f" ] || continue
  grep -q "/${f##*/}\$" "$tmp/files" || fail "the package has no $f"
done

# The installed programs, with a clean environment and no terminal.
home=$tmp/home
tokens=$home/tokens
mkdir -p "$home"
sys() {
  env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$home" LC_ALL=C SOFTTOKEN_DIR="$tokens" \
    SOFTTOKEN_PBKDF2_ITERATIONS=1000 setsid -w timeout 60 "$@" </dev/null
}
# expect <pattern> <command...>: the command succeeds and prints a line matching pattern.
expect() {
  local pattern=$1 out
  shift
  out=$(sys "$@" 2>&1) || fail "failed: $*: $out"
  grep -q -- "$pattern" <<<"$out" || fail "no '$pattern' from: $*: $out"
}
[ "$(sys sh -c 'command -v tokencert')" = /usr/bin/tokencert ] || fail "tokencert is not /usr/bin/tokencert"
expect "^tokencert $(timeout 60 dpkg-deb -f "$deb" Version)\$" tokencert -version
expect '^softtoken: ' p11-kit list-modules
expect "initialised" softtoken-util --init-token --free --label pkgtest --so-pin-source pass:87654321 --pin-source pass:1234
sys p11-kit list-modules | sed -n '/^softtoken:/,/^[^ ]/p' | grep -q 'token: pkgtest' ||
  fail "p11-kit list-modules shows no token pkgtest in the softtoken module"

proxy=$(timeout 60 pkg-config p11-kit-1 --variable proxy_module)
timeout 60 openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$tmp/key.pem" \
  -subj /CN=tokencert-package-test -days 2 -out "$tmp/cert.pem" 2>/dev/null
expect "pkgtest" tokencert -p11 "$proxy" -uri 'pkcs11:token=pkgtest' -slotlist
expect '^OK$' tokencert -p11 "$proxy" -uri 'pkcs11:token=pkgtest' -infile "$tmp/cert.pem" -label pkgcert -pin pass:1234
expect "pkgcert" tokencert -p11 "$proxy" -uri 'pkcs11:token=pkgtest' -certlist
expect '^OK$' tokencert -p11 "$proxy" -uri 'pkcs11:token=pkgtest;object=pkgcert' -outfile "$tmp/out.der" -outform der
timeout 60 openssl x509 -in "$tmp/cert.pem" -outform der -out "$tmp/cert.der"
cmp -s "$tmp/cert.der" "$tmp/out.der" || fail "the exported certificate differs from the imported one"
expect '^OK$' tokencert -p11 "$proxy" -uri 'pkcs11:token=pkgtest;object=pkgcert' -remove -pin pass:1234
listed=$(sys tokencert -p11 "$proxy" -uri 'pkcs11:token=pkgtest' -certlist) || fail "-certlist after -remove failed"
grep -q pkgcert <<<"$listed" && fail "pkgcert is still listed after -remove: $listed"

expect 'status: active' openssl list -providers -provider zk_p11_core_2012
expect '(zk_p11_core_2012)' openssl engine zk_p11_core_2012
printf abc >"$tmp/abc"
by_provider=$(sys openssl dgst -provider zk_p11_core_2012 -md_gost12_256 -r "$tmp/abc")
by_engine=$(sys openssl dgst -engine zk_p11_core_2012 -md_gost12_256 -r "$tmp/abc" 2>/dev/null)
if [ -z "$by_provider" ] || [ "$by_provider" != "$by_engine" ]; then
  fail "GOST R 34.11-2012 digests differ: provider '$by_provider', engine '$by_engine'"
fi

installed=0
timeout 300 apt-get remove --purge -y -qq tokencert >/dev/null
left=$(while read -r f; do if [ -e "$f" ] || [ -L "$f" ]; then echo "$f"; fi; done <"$tmp/files")
[ -z "$left" ] || fail "left after removal: $left"
[ -n "$(ls -A "$tokens")" ] || fail "the removal took the user's tokens"
echo "package test passed in $((SECONDS - start)) s ($(wc -l <"$tmp/files") files installed and removed)"
