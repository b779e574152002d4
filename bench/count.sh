#!/usr/bin/env bash
# Instructions, interlocked operations and heap allocations of one
# in-process lookup, counted by valgrind (callgrind and memcheck) on
# peer_delvan: the difference between 201 lookups and 1, over 200. Counts do
# not wander with the machine's load. Interlocked operations (lock-prefixed
# instructions, which callgrind counts as one instruction each but which
# cost far more) are counted in peer_delvan's own code, that is the
# library's; the C library's and expat's are left out.
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
  valgrind --tool=callgrind --dump-instr=yes --compress-pos=no --compress-strings=no \
    --callgrind-out-file="$scratch/cg.$1" "$peer" "$response" "$1" 2>&1 |
    sed -n 's/.*I *refs: *//p' | tr -d ,
}
allocs() {
  valgrind "$peer" "$response" "$1" 2>&1 | sed -n 's/.*total heap usage: \([0-9,]*\) allocs.*/\1/p' | tr -d ,
}
# The addresses of peer_delvan's interlocked instructions, and how often
# callgrind saw each run.
objdump -d --no-show-raw-insn "$peer" |
  awk '/\tlock |\txchg .*\(/ { sub(":", "", $1); print $1 }' >"$scratch/locked"
locked() {
  python3 - "$scratch/locked" "$scratch/cg.$1" "$(basename "$peer")" <<'PY'
import sys
locked = {int(a, 16) for a in open(sys.argv[1]).read().split()}
total, mine, after_call = 0, False, False
for line in open(sys.argv[2]):
    if line.startswith('ob='):
        mine = line.rstrip().endswith('/' + sys.argv[3])
    elif line.startswith('calls='):
        after_call = True  # the next line is the call's inclusive cost
    elif line.startswith('0x'):
        if not after_call and mine:
            fields = line.split()
            if int(fields[0], 16) in locked:
                total += int(fields[-1])
        after_call = False
print(total)
PY
}
i1=$(refs 1) i201=$(refs 201) a1=$(allocs 1) a201=$(allocs 201)
l1=$(locked 1) l201=$(locked 201)
echo "instructions per lookup: $(((i201 - i1) / 200))"
echo "interlocked operations per lookup: $(((l201 - l1) / 200))"
echo "heap allocations per lookup: $(((a201 - a1) / 200))"
