#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the demo use.
# Idempotent; run as root (or with sudo) on Debian 12.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  libgtest-dev googletest libbenchmark-dev
  libexpat1-dev libcurl4-openssl-dev libssl-dev openssl libcpp-httplib-dev
  binutils
  # fuzzing (libFuzzer), the interoperability server, the peers of the
  # hand-run comparison (bench/compare.sh) and memcheck
  clang libclang-rt-14-dev gsoap libgsoap-dev python3-zeep php-cli php-soap valgrind
)
# The Windows flavour: the i686 mingw-w64 cross toolchain (with its CMake
# toolchain file under cmake/), GoogleTest's sources for a cross-built copy
# (googletest, above), and Wine for 32-bit programs to run the result.
# iproute2 and util-linux give the network namespace that maps the service
# host to loopback for the Wine end-to-end run; python3 runs the small
# servers of tests/win32.
windows_packages=(
  g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-i686-dev
  wine wine32:i386 iproute2 util-linux python3
)
packages+=("${windows_packages[@]}")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: need root to install: ${missing[*]}" >&2
    exec sudo "$0" "$@"
  fi
  export DEBIAN_FRONTEND=noninteractive
  # wine32 is an i386 package.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  # A mirror caught mid-sync fails one index or another; retry, then go on
  # with what was fetched and let the install itself decide.
  for attempt in 1 2 3; do
    apt-get update -qq && break
    echo "setup: apt-get update failed (attempt $attempt)" >&2
    sleep 5
  done
  if ! apt-get install -y -qq --no-install-recommends "${missing[@]}"; then
    # Seen on a mirror mid-sync: the security suite's i386 index fails to
    # download, so the amd64 and i386 copies of multi-arch libraries differ
    # in version and wine32 cannot be resolved. Install from the release's
    # own suites alone, where both architectures agree.
    . /etc/os-release
    fallback=$(mktemp -d)
    mkdir -p "$fallback/sources.list.d"
    cat >"$fallback/sources.list.d/debian.sources" <<SOURCES
Types: deb
URIs: http://deb.debian.org/debian
Suites: ${VERSION_CODENAME} ${VERSION_CODENAME}-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    apt_fallback=(-o Dir::Etc::sourcelist=/dev/null -o Dir::Etc::sourceparts="$fallback/sources.list.d")
    echo "setup: retrying the install without the security suite" >&2
    apt-get "${apt_fallback[@]}" update -qq
    apt-get "${apt_fallback[@]}" install -y -qq --no-install-recommends "${missing[@]}"
    rm -rf "$fallback"
  fi
fi
echo "setup: all packages present"
