#!/usr/bin/env bash
# End to end on Windows: the unmodified Delvan.dll, loaded by the example
# host under Wine, calls its fixed HTTPS endpoint, which this test maps to
# the mock registry service: inside a network and mount namespace of its own
# the service host resolves to 127.0.0.1 (an /etc/hosts bind-mounted there),
# port 443 forwards to the mock, and the mock's authority is trusted in the
# test prefix. The wineserver runs inside the namespace too, since it is the
# one that makes the sockets.
#   run_end_to_end.sh WINE PREFIX MOCK HOST_EXE DELVAN_DLL TRUST_EXE SERVICE_HOST SOURCE_DIR
#                     EXPECTED_EXE
set -euo pipefail

if [ -z "${DELVAN_IN_NAMESPACE:-}" ]; then
  command -v unshare >/dev/null || { echo "FAILED: unshare (util-linux) is missing" >&2; exit 1; }
  command -v ip >/dev/null || { echo "FAILED: ip (iproute2) is missing" >&2; exit 1; }
  # Any wineserver of the prefix outside the namespace would make the sockets there.
  WINEPREFIX=$2 "$(dirname "$(command -v "$1" || echo /usr/bin/wine)")/wineserver" -k 2>/dev/null || true
  flags=(--net --mount)
  [ "$(id -u)" -eq 0 ] || flags+=(--map-root-user)
  DELVAN_IN_NAMESPACE=1 exec unshare "${flags[@]}" "$0" "$@" ||
    { echo "FAILED: cannot make a network namespace for the test" >&2; exit 1; }
fi

WINE=$1 WINEPREFIX=$2 MOCK=$3 HOST_EXE=$4 DLL=$5 TRUST_EXE=$6 SERVICE_HOST=$7 SOURCE=$8
EXPECTED_EXE=$9
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine_env.sh"
wineserver="$(dirname "$(command -v "$WINE")")/wineserver"
work=$(mktemp -d)
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  stop_servers
  rm -rf "$work"
}
trap cleanup EXIT

[ -x "$MOCK" ] || die "the mock registry service $MOCK is not built (build the release preset first)"
ip link set lo up
printf '127.0.0.1 localhost %s\n' "$SERVICE_HOST" >"$work/hosts"
mount --bind "$work/hosts" /etc/hosts
getent hosts "$SERVICE_HOST" | grep -q 127.0.0.1 || die "cannot map $SERVICE_HOST to loopback"

start_server MOCK authority "$MOCK" --until-eof
start_server FWD listening python3 "$here/forward.py" 443 "$SERVER_MOCK_port"
"$WINE" "$TRUST_EXE" "$(windows_path "$SERVER_MOCK_authority")" ||
  die "cannot trust the mock's authority in the prefix"

cp "$DLL" "$work/Delvan.dll"
cp "$HOST_EXE" "$work/delvan-host.exe"
cd "$work"
# Wine takes the ANSI code page from the locale's name: 1253, as the Linux
# end-to-end tests' Greek cases.
export LC_ALL=el_GR.UTF-8
failures=0
# call NAME [host arguments]: runs the host; its text (without the host's
# closing line break) goes to $work/NAME.out and its exit code to $rc.
rc=0
call() {
  local name=$1
  shift
  rc=0
  "$WINE" ./delvan-host.exe "$@" >"$name.raw" 2>"$name.err" || rc=$?
  head -c -1 "$name.raw" >"$name.out"
  [ "$rc" -ne 2 ] || { cat "$name.err" >&2; die "the host could not use Delvan.dll"; }
}
# expected NAME KIND ARGUMENT: the text the case must give, made as the
# Linux end-to-end tests make theirs (see ExpectedText.cpp).
expected() {
  "$WINE" "$EXPECTED_EXE" "$2" "$3" >"$1.expected" 2>"$1.experr" ||
    { cat "$1.experr" >&2; die "cannot make the expected text of $1"; }
}
# check NAME EXIT: the host's exit code and its text, byte for byte.
check() {
  if [ "$rc" -eq "$2" ] && cmp -s "$1.out" "$1.expected"; then
    echo "ok   $1: $(iconv -f CP1253 -t UTF-8 "$1.out" | tr '\r\n' '  ' | head -c 200)"
  else
    echo "FAIL $1: exit $rc (want $2); the text and the expected one, in UTF-8:" >&2
    iconv -f CP1253 -t UTF-8 "$1.out" >&2 || od -c "$1.out" >&2
    echo >&2
    iconv -f CP1253 -t UTF-8 "$1.expected" >&2 || od -c "$1.expected" >&2
    echo >&2
    failures=$((failures + 1))
  fi
}

# A business that exists: the fixture of the Linux end-to-end tests.
call found Delvan.dll 123456789 094019245 user secret
cp "$SOURCE/tests/fixtures/lookup/greek_record.cp1253" found.expected
check found 0
# A SOAP fault of the service.
call fault Delvan.dll 123456789 000000000 user secret
expected fault failure "The registry is not available at the moment"
check fault 1
# A thread without COM: the XML layer cannot make a document.
call nocom --without-com Delvan.dll 123456789 094019245 user secret
expected nocom failure "Microsoft MSXML is not installed"
check nocom 1
# The endpoint unreachable: nothing listens on port 443 any more.
kill "${SERVER_PIDS[1]}" 2>/dev/null || true
wait "${SERVER_PIDS[1]}" 2>/dev/null || true
call unreachable Delvan.dll 123456789 094019245 user secret
expected unreachable platform 12029
check unreachable 1

[ "$failures" -eq 0 ] || die "$failures end-to-end case(s) failed"
echo "end to end: all cases passed"
