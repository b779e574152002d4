#!/usr/bin/env bash
# Instructions and heap allocations of one in-process lookup, counted by
# valgrind (callgrind and memcheck) on peer_delvan: the difference between
# 201 lookups and 1, over 200. Counts do not wander with the machine's load.
#   bench/count.sh [RESPONSE_FILE] [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
response=${1:-tests/fixtures/service/typical_response.xml}
build=${2:-build/release}
peer="$build/bench/peer_delvan"
[ -x "$peer" ] || cmake --build "$build" --target peer_delvan >/dev/null
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
refs() {
  valgrind --tool=callgrind --callgrind-out-file="$scratch/cg.$1" "$peer" "$response" "$1" 2>&1 |
    sed -n 's/.*I *refs: *//p' | tr -d ,
}
allocs() {
  valgrind "$peer" "$response" "$1" 2>&1 | sed -n 's/.*total heap usage: \([0-9,]*\) allocs.*/\1/p' | tr -d ,
}
i1=$(refs 1) i201=$(refs 201) a1=$(allocs 1) a201=$(allocs 201)
echo "instructions per lookup: $(((i201 - i1) / 200))"
echo "heap allocations per lookup: $(((a201 - a1) / 200))"
