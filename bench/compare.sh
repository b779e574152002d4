#!/usr/bin/env bash
# Side-by-side comparison of the in-process lookup: Delvan, a gSOAP client
# generated from tests/interop/RgWsPublic.wsdl, Python zeep and PHP's
# SoapClient, with a bare expat parse of the same response as the floor.
# Every client builds the same request (same values, same Security block)
# and reads the same canned responses (the typical answer and answers of N
# activities). Prints one table: median time per lookup, the ratio to
# Delvan, peak resident memory; then Delvan's scaling from 1 000 to
# 100 000 activities.
#
# Run by hand on a quiet machine, from the repository root, after
# scripts/setup.sh:
#   bench/compare.sh            # builds the release preset if needed
# Environment: REPS (repetitions per size, default 21), WORK (scratch dir).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
work=${WORK:-$(mktemp -d /tmp/delvan-compare.XXXXXX)}
reps=${REPS:-21}
py=/usr/bin/python3  # the system interpreter, where python3-zeep lives
cd "$root"

# The service namespace the build uses (the default unless configured).
ns=$(sed -n 's/^DELVAN_SERVICE_NAMESPACE:STRING=//p' build/release/CMakeCache.txt 2>/dev/null || true)
ns=${ns:-http://rgws.registry.example/RgWsPublic}

echo "== building (release preset, peers)" >&2
cmake --preset release >/dev/null
cmake --build --preset release --target peer_delvan bench_response >/dev/null
tests/interop/generate_gsoap.sh "$work/gsoap" "$ns" >/dev/null
g++ -O2 -std=c++17 -w -I"$work/gsoap" -o "$work/peer_gsoap" bench/peers/gsoap_peer.cpp \
  "$work/gsoap/soapC.cpp" "$work/gsoap/soapRgWsPublicPortBindingProxy.cpp" -lgsoap++
gcc -O2 -o "$work/peer_expat" bench/peers/expat_peer.c -lexpat
$py bench/peers/make_responses.py "$work/responses" "$ns" 100 1000 10000 100000

# run NAME SIZE COMMAND...: one line "median_us peak_kb activities" into $work/NAME.SIZE
run() {
  local name=$1 size=$2
  shift 2
  "$@" >"$work/$name.$size" 2>"$work/$name.$size.err" || echo "- - failed" >"$work/$name.$size"
}

sizes=(typical n100 n10000)
declare -A expect=([typical]=2 [n100]=100 [n10000]=10000)
for size in "${sizes[@]}"; do
  file="$work/responses/$size.xml"
  r=$reps
  [[ $size == n10000 ]] && r=$(((reps + 3) / 4))
  echo "== $size ($r runs each)" >&2
  run delvan "$size" build/release/bench/peer_delvan "$file" "$r"
  run gsoap "$size" "$work/peer_gsoap" "$file" "$r"
  run zeep "$size" $py bench/peers/zeep_peer.py "$work/gsoap/RgWsPublic.wsdl" "$file" "$r"
  run php "$size" php bench/peers/php_peer.php "$work/gsoap/RgWsPublic.wsdl" "$file" "$r"
  run expat "$size" "$work/peer_expat" "$file" "$r"
done

echo
echo "In-process lookup: request written, response read into records (median of runs)"
printf '%-22s %-9s %12s %10s %12s %s\n' client size "time (us)" "x Delvan" "peak (MB)" check
for size in "${sizes[@]}"; do
  read -r dt _ _ <"$work/delvan.$size"
  for name in delvan gsoap zeep php expat; do
    read -r t kb n <"$work/$name.$size"
    label=$name
    [[ $name == expat ]] && label="expat (floor, parse)"
    [[ $name == php ]] && label="PHP SoapClient"
    [[ $name == zeep ]] && label="Python zeep"
    check=ok
    [[ $n != "${expect[$size]}" ]] && check="read $n activities"
    if [[ $t == - ]]; then
      printf '%-22s %-9s %12s %10s %12s %s\n' "$label" "$size" - - - failed
    else
      printf '%-22s %-9s %12s %10s %12.1f %s\n' "$label" "$size" "$t" \
        "$(awk -v a="$t" -v b="$dt" 'BEGIN { printf "%.2f", a / b }')" \
        "$(awk -v k="$kb" 'BEGIN { print k / 1024 }')" "$check"
    fi
  done
done

echo
echo "Delvan's response reader, 1 000 against 100 000 activities (bench_response):"
build/release/bench/bench_response --benchmark_filter='ResponseWithActivities/(1000|100000)$' \
  --benchmark_repetitions=3 --benchmark_report_aggregates_only=true --benchmark_format=json \
  >"$work/scaling.json" 2>/dev/null
$py - "$work/scaling.json" <<'PY'
import json, sys
rows = {b['name']: b for b in json.load(open(sys.argv[1]))['benchmarks']
        if b.get('aggregate_name') == 'median'}
small = rows['BM_ResponseWithActivities/1000_median']
large = rows['BM_ResponseWithActivities/100000_median']
print(f"  1 000: {small['real_time']:.2f} ms, peak {small['peak_x_size']:.1f}x the response")
print(f"100 000: {large['real_time']:.1f} ms, peak {large['peak_x_size']:.1f}x the response")
print(f"ratio: {large['real_time'] / small['real_time']:.0f}x for 100x the activities (goal: at most 110x)")
PY
echo
echo "Machine: $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1)"
echo "Raw results in $work" >&2
