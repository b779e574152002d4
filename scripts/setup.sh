#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the demo use.
# Idempotent; run as root (or with sudo) on Debian 12.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  libgtest-dev googletest libbenchmark-dev
  libexpat1-dev libcurl4-openssl-dev libssl-dev openssl libcpp-httplib-dev
  binutils
  clang libclang-rt-14-dev gsoap libgsoap-dev valgrind
)

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
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
echo "setup: all packages present"
