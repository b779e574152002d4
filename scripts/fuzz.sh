#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each from its seed corpus in
# fuzz/corpus/<target> for FUZZ_SECONDS (default 30). New inputs go to a
# scratch directory, so the committed corpus stays as it is; a crash leaves
# its input in build/fuzz/artifacts and fails the run. With FUZZ_RUNS set,
# each target runs that many inputs from a fixed seed instead: the same
# inputs on every machine, as CI runs them, so a run that passes here passes
# there.
#   scripts/fuzz.sh [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-30}
if [ -n "${FUZZ_RUNS:-}" ]; then
  budget=(-runs="$FUZZ_RUNS" -seed=1)
  what="$FUZZ_RUNS inputs (seed 1)"
else
  budget=(-max_total_time="$seconds")
  what="${seconds}s"
fi
build=build/fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDELVAN_BUILD_FUZZ=ON \
  -DDELVAN_BUILD_TESTS=OFF -DDELVAN_BUILD_BENCH=OFF \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
targets=("$@")
if ((${#targets[@]} == 0)); then
  mapfile -t targets < <(cd fuzz && ls ./*_fuzz.cpp | sed 's#^\./##; s#\.cpp$##')
fi
cmake --build "$build" --target "${targets[@]}"
mkdir -p "$build/artifacts"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:intercept_tls_get_addr=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for t in "${targets[@]}"; do
  scratch=$(mktemp -d)
  echo "== fuzz: $t for $what"
  "$build/fuzz/$t" "${budget[@]}" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -artifact_prefix="$build/artifacts/$t-" -print_final_stats=1 \
    "$scratch" "fuzz/corpus/$t" 2>"$build/$t.log" || {
    tail -n 60 "$build/$t.log"
    rm -rf "$scratch"
    echo "fuzz: $t failed" >&2
    exit 1
  }
  grep -E '^stat::number_of_executed_units|^#[0-9]+ *DONE' "$build/$t.log" || true
  rm -rf "$scratch"
done
echo "fuzz: all ${#targets[@]} targets ran clean"
