#!/usr/bin/env bash
# Runs the unit suite of the release build under valgrind's memcheck: any
# memory error or definite or indirect leak fails the run. The soak, the
# thousand-lookup leak run and the hostile-registry scenarios (an hour of
# TLS traffic under valgrind; the sanitizer build runs them) are left out
# by default; pass a gtest filter to choose others. The suite runs in one
# process, except the tests of the state right after load, which need a
# process of their own (CTest gives every test one).
#   cmake --preset release && cmake --build --preset release
#   scripts/valgrind.sh ['-Soak*:LookupE2E.NoLeakOverAThousandLookups:Scenarios/HostileRegistry.*']
set -euo pipefail
cd "$(dirname "$0")/.."
afterLoad=ServiceBinding.RecordTypesAfterLoad
filter=${1:--Soak*:LookupE2E.NoLeakOverAThousandLookups:Scenarios/HostileRegistry.*}
memcheck() {
  valgrind --tool=memcheck --error-exitcode=1 --leak-check=full \
    --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect \
    --track-fds=no --num-callers=30 --suppressions=scripts/valgrind.supp \
    build/release/tests/delvan_tests --gtest_filter="$1"
}
case $filter in
  *-*) memcheck "$filter:$afterLoad" ;;
  *) memcheck "$filter:-$afterLoad" ;;
esac
memcheck "$afterLoad"
