#!/usr/bin/env bash
# Builds the release flavour and runs one lookup through the shipped library
# with a small host program, showing the text the library returns.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release

# Show Greek text when the terminal has no locale of its own.
if [ -z "${LC_ALL:-}${LC_CTYPE:-}${LANG:-}" ]; then export LC_ALL=C.UTF-8; fi

echo "== RunWSOrvDLL(\"012345678\", \"094019245\", \"user\", \"secret\"):"
status=0
build/release/delvan-host build/release/libdelvan.so 012345678 094019245 user secret || status=$?
echo "== host exit status: $status (0 result text, 1 failure text)"
