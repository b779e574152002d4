#!/usr/bin/env bash
# Builds both flavours, runs each fuzz target over a fixed set of inputs
# grown from its corpus (fixed seed, so every machine runs the same ones),
# then every test: the debug build under the sanitizers first, then the
# optimised release build (which alone runs the long soak), then the release
# suite under valgrind's memcheck, then the Windows flavour under Wine. Stops at the first failure, so the last lines are the
# failing run's summary.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh

for flavour in debug release; do
  cmake --preset "$flavour" >/dev/null
  cmake --build --preset "$flavour"
done
echo "== fuzz"
FUZZ_RUNS=${FUZZ_RUNS:-50000} ./scripts/fuzz.sh
for flavour in debug release; do
  echo "== tests: $flavour"
  ctest --preset "$flavour" -j"$(nproc)"
done
echo "== memcheck: the release suite under valgrind"
./scripts/valgrind.sh

# The Windows flavour: Delvan.dll cross-built with mingw-w64, its tests run
# under Wine (they use the mock registry service of the release build above).
# Wine that cannot run is a failure, never a reason to leave the tests out.
echo "== Windows flavour: mingw-i686, tests under Wine"
if ! wine_version=$(wine --version 2>&1); then
  echo "FAILED: Wine cannot run here ($wine_version); the Windows tests need it" \
    "(scripts/setup.sh installs it; 32-bit Wine also needs a kernel that runs 32-bit programs, or the qemu-i386 registration it makes where the kernel cannot)" >&2
  exit 1
fi
cmake --preset mingw-i686 >/dev/null
cmake --build --preset mingw-i686
ctest --preset mingw-i686
