#!/usr/bin/env bash
# Runs the Windows backends' unit tests under Wine, with the servers they
# talk to on the Linux side of loopback: the wire server of this directory
# (plain HTTP) and the mock registry service (HTTPS); and two client
# certificates with known serial numbers for the personal store.
#   run_unit_tests.sh WINE PREFIX MOCK_PROGRAM TEST_EXE [gtest arguments]
set -euo pipefail
WINE=$1 WINEPREFIX=$2 MOCK=$3 EXE=$4
shift 4
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine_env.sh"
certs=$(mktemp -d)
trap 'stop_servers; rm -rf "$certs"' EXIT

[ -x "$MOCK" ] || die "the mock registry service $MOCK is not built (build the release preset first)"
start_server WIRE port python3 "$here/wire_server.py"
start_server MOCK authority "$MOCK" --until-eof
export DELVAN_WIRE_URL="http://127.0.0.1:${SERVER_WIRE_port}"
export DELVAN_MOCK_URL="$SERVER_MOCK_url"
DELVAN_MOCK_AUTHORITY=$(windows_path "$SERVER_MOCK_authority") ||
  die "cannot name $SERVER_MOCK_authority for Wine"
export DELVAN_MOCK_AUTHORITY
command -v openssl >/dev/null || die "openssl is missing; run scripts/setup.sh"
for serial in 1A2B3C4D5E 77; do
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$certs/key.pem" -days 2 \
    -subj "/CN=Delvan test client $serial" -set_serial "0x$serial" -out "$certs/$serial.pem" \
    2>/dev/null || die "openssl cannot make a test certificate"
done
DELVAN_CLIENT_CERTS="$(windows_path "$certs/1A2B3C4D5E.pem");$(windows_path "$certs/77.pem")" ||
  die "cannot name the test certificates for Wine"
export DELVAN_CLIENT_CERTS
"$WINE" "$EXE" "$@"
