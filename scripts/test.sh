#!/usr/bin/env bash
# Builds both flavours, runs each fuzz target briefly from its corpus, then
# every test: the debug build under the sanitizers first, then the optimised
# release build (which alone runs the long soak). Stops at the first
# failure, so the last lines are the failing run's summary.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh

for flavour in debug release; do
  cmake --preset "$flavour" >/dev/null
  cmake --build --preset "$flavour"
done
echo "== fuzz"
FUZZ_SECONDS=${FUZZ_SECONDS:-30} ./scripts/fuzz.sh
for flavour in debug release; do
  echo "== tests: $flavour"
  ctest --preset "$flavour" -j"$(nproc)"
done
