# Sourced by the scripts: installs the Debian packages named in "$@" that are missing.
install_missing() {
  local missing=()
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
BUILD_PACKAGES=(cmake make g++ pkg-config libssl-dev libp11-kit-dev libsqlite3-dev nlohmann-json3-dev)
TEST_PACKAGES=(googletest libgtest-dev libbenchmark-dev softhsm2 tmux openssl clang libclang-rt-dev valgrind bash-completion groff-base)
# The package build (scripts/package.sh) and its test (scripts/package_test.sh).
PACKAGE_PACKAGES=(dpkg-dev file)
PACKAGE_TEST_PACKAGES=(p11-kit openssl)
