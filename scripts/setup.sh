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

. /etc/os-release
# Sets apt_only to the apt-get options that read the given suites of Debian's
# release alone, from a source list made under the directory given first.
only_suites() {
  local dir=$1
  shift
  mkdir -p "$dir/sources.list.d"
  printf '%s\n' "Types: deb" "URIs: http://deb.debian.org/debian" "Suites: $*" \
    "Components: main" "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" \
    >"$dir/sources.list.d/debian.sources"
  apt_only=(-o Dir::Etc::sourcelist=/dev/null -o Dir::Etc::sourceparts="$dir/sources.list.d")
}

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
    fallback=$(mktemp -d)
    only_suites "$fallback" "$VERSION_CODENAME" "$VERSION_CODENAME-updates"
    apt_fallback=("${apt_only[@]}")
    echo "setup: retrying the install without the security suite" >&2
    apt-get "${apt_fallback[@]}" update -qq
    apt-get "${apt_fallback[@]}" install -y -qq --no-install-recommends "${missing[@]}"
    rm -rf "$fallback"
  fi
fi
echo "setup: all packages present"

# The Windows flavour's tests run 32-bit Wine. A kernel built without 32-bit
# support refuses every 32-bit program ("Exec format error"); there qemu's
# user-mode emulator runs them, registered through binfmt_misc for 32-bit
# x86 executables and shared objects (the entry qemu's own tools make). It is
# the release's backported qemu: the release's own one starts each Wine
# process some fifty times slower, too slow for the tests.
if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: need root to let qemu run 32-bit programs" >&2
    exec sudo "$0" "$@"
  fi
  if ! dpkg-query -W -f='${Version}' qemu-user 2>/dev/null | grep -q bpo; then
    backports=$(mktemp -d)
    only_suites "$backports" "$VERSION_CODENAME-backports"
    apt_backports=("${apt_only[@]}"
      -o Dir::State::Lists="$backports/lists" -o Dir::Cache="$backports/cache")
    mkdir -p "$backports/lists/partial" "$backports/cache/archives/partial"
    export DEBIAN_FRONTEND=noninteractive
    apt-get "${apt_backports[@]}" update -qq
    apt-get "${apt_backports[@]}" install -y -qq --no-install-recommends \
      -t "${VERSION_CODENAME}-backports" qemu-user
    rm -rf "$backports"
  fi
  binfmt=/proc/sys/fs/binfmt_misc
  [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
  [ -e "$binfmt/qemu-i386" ] && echo -1 >"$binfmt/qemu-i386"
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:F' \
    >"$binfmt/register"
  if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    echo "setup: 32-bit programs cannot run here, even through qemu-i386" >&2
    exit 1
  fi
  echo "setup: this kernel runs no 32-bit programs itself; qemu-i386 runs them"
fi
