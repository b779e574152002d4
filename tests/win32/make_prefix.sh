#!/usr/bin/env bash
# Makes the tests' Wine prefix once, before the tests that use it, so that
# their time limits count their own work: making a prefix starts some thirty
# Wine processes, which is slow where qemu runs Wine's 32-bit programs.
#   make_prefix.sh WINE PREFIX
set -euo pipefail
WINE=$1 WINEPREFIX=$2
source "$(cd "$(dirname "$0")" && pwd)/wine_env.sh"
echo "Wine prefix ready: $WINEPREFIX ($wine_version)"
