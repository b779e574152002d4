#!/usr/bin/env bash
# Runs the unit suite of the release build under valgrind's memcheck: any
# memory error or definite or indirect leak fails the run. The soak, the
# thousand-lookup leak run and the hostile-registry scenarios (an hour of
# TLS traffic under valgrind; the sanitizer build runs them) are left out
# by default; pass a gtest filter to choose others.
#   cmake --preset release && cmake --build --preset release
#   scripts/valgrind.sh ['-Soak*:LookupE2E.NoLeakOverAThousandLookups:Scenarios/HostileRegistry.*']
set -euo pipefail
cd "$(dirname "$0")/.."
filter=${1:--Soak*:LookupE2E.NoLeakOverAThousandLookups:Scenarios/HostileRegistry.*}
exec valgrind --tool=memcheck --error-exitcode=1 --leak-check=full \
  --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect \
  --track-fds=no --num-callers=30 --suppressions=scripts/valgrind.supp \
  build/release/tests/delvan_tests --gtest_filter="$filter"
