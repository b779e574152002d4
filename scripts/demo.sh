#!/usr/bin/env bash
# Builds everything (release flavour), starts the mock registry service on
# loopback and looks a business up in it with the command-line tool, showing
# the answer as a table.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release

# Show Greek text when the terminal has no locale of its own.
if [ -z "${LC_ALL:-}${LC_CTYPE:-}${LANG:-}" ]; then export LC_ALL=C.UTF-8; fi

work=$(mktemp -d)
mock_pid=""
cleanup() {
  if [ -n "$mock_pid" ]; then
    exec 3>&-  # closing its standard input stops the mock
    wait "$mock_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The mock runs until its standard input closes; it prints its URL and the
# file of its test certificate authority.
mkfifo "$work/mock-in"
build/release/tools/registry-mock/registry-mock --until-eof <"$work/mock-in" >"$work/mock-out" &
mock_pid=$!
exec 3>"$work/mock-in"
for _ in $(seq 100); do
  grep -q '^authority=' "$work/mock-out" 2>/dev/null && break
  sleep 0.1
done
url=$(sed -n 's/^url=//p' "$work/mock-out")
authority=$(sed -n 's/^authority=//p' "$work/mock-out")
if [ -z "$url" ] || [ -z "$authority" ]; then
  echo "the mock registry service did not start" >&2
  exit 1
fi

echo "== mock registry service at $url"
echo "== delvan lookup 012345678 094019245 --user user --endpoint $url --ca-file <mock authority>"
status=0
printf 'secret\n' | build/release/tools/delvan/delvan lookup 012345678 094019245 --user user \
  --password-stdin --endpoint "$url" --ca-file "$authority" --format table || status=$?
echo "== delvan exit status: $status (0 an answer, 1 the lookup failed, 2 usage)"
exit "$status"
