#!/usr/bin/env bash
# End to end on Windows: the unmodified Delvan.dll, loaded by the example
# host under Wine, calls its fixed HTTPS endpoint, which this test maps to
# the mock registry service: inside a network and mount namespace of its own
# the service host resolves to 127.0.0.1 (an /etc/hosts bind-mounted there),
# port 443 forwards to the mock, and the mock's authority is trusted in the
# test prefix. The wineserver runs inside the namespace too, since it is the
# one that makes the sockets.
#   run_end_to_end.sh WINE PREFIX MOCK HOST_EXE DELVAN_DLL TRUST_EXE SERVICE_HOST SOURCE_DIR
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
"$WINE" "$TRUST_EXE" "$(winepath -w "$SERVER_MOCK_authority" 2>/dev/null)" ||
  die "cannot trust the mock's authority in the prefix"

cp "$DLL" "$work/Delvan.dll"
cp "$HOST_EXE" "$work/delvan-host.exe"
cd "$work"
sentence=$(printf '\xD0\xE1\xF1\xEF\xF5\xF3\xE9\xDC\xF3\xF4\xE7\xEA\xE5 \xF3\xF6\xDC\xEB\xEC\xE1 \xEA\xE1\xF4\xE1 \xF4\xE7\xED \xE1\xED\xDC\xEA\xF4\xE7\xF3\xE7 \xF3\xF4\xEF\xE9\xF7\xE5\xDF\xF9\xED \xE1\xF0\xEF \xF4\xEF TAXIS\r\n' | od -An -tx1 | tr -d ' \n')
failures=0
wine_differences=0
# Wine's MSXML (8.0) fails with E_OUTOFMEMORY when an attribute map is asked
# for a default namespace declaration, which writing every request does
# (MsXmlDom_test.cpp pins it). Under Wine a lookup therefore ends with that
# failure text before anything is sent; on Windows the exact texts below
# are required. The bridged message is the system's text for the code.
wine_msxml_text=$(printf 'Out of memory')
# call NAME [host arguments]: runs the host; its text (without the host's
# closing line break) goes to $work/NAME.out and its exit code to $rc.
rc=0
call() {
  local name=$1
  shift
  rc=0
  # Wine takes the ANSI code page from the locale's name: 1253.
  LC_ALL=el_GR.UTF-8 "$WINE" ./delvan-host.exe "$@" >"$name.raw" 2>"$name.err" || rc=$?
  head -c -1 "$name.raw" >"$name.out"
  [ "$rc" -ne 2 ] || { cat "$name.err" >&2; die "the host could not use Delvan.dll"; }
}
fail() {
  echo "FAIL $1: $2" >&2
  failures=$((failures + 1))
}
hex() { od -An -tx1 "$1" | tr -d ' \n'; }
# The message after the failure sentence, in UTF-8; fails without sentence.
message_of() {
  case "$(hex "$1.out")" in "$sentence"*) ;; *) return 1 ;; esac
  tail -c +64 "$1.out" | iconv -f CP1253 -t UTF-8
}
# wine_difference NAME: true (and says so) when the text is the failure
# text of Wine's MSXML difference.
wine_difference() {
  local message
  message=$(message_of "$1") || return 1
  [ "$message" = "$wine_msxml_text" ] || return 1
  echo "WINE DIFFERENCE $1: Wine's MSXML could not write the request ($message)"
  wine_differences=$((wine_differences + 1))
}
# expect_failure NAME PATTERN: a failure text whose message matches.
expect_failure() {
  local message
  [ "$rc" -eq 1 ] || { fail "$1" "exit $rc, want the failure text"; return; }
  wine_difference "$1" && return
  message=$(message_of "$1") || { fail "$1" "no failure sentence"; return; }
  if grep -Eq -- "$2" <<<"$message"; then
    echo "ok   $1: $message"
  else
    fail "$1" "message '$message' does not match '$2'"
  fi
}

# A business that exists: the same text as the Linux end-to-end tests.
call found Delvan.dll 123456789 094019245 user secret
if [ "$rc" -eq 0 ] && cmp -s found.out "$SOURCE/tests/fixtures/lookup/greek_record.cp1253"; then
  echo "ok   found: the result text of tests/fixtures/lookup/greek_record.cp1253"
elif ! wine_difference found; then
  fail found "exit $rc, text: $(iconv -f CP1253 -t UTF-8 found.out 2>/dev/null | head -c 400)"
fi
# A SOAP fault of the service.
call fault Delvan.dll 123456789 000000000 user secret
expect_failure fault '^The registry is not available at the moment$'
# A thread without COM: the XML layer cannot make a document.
call nocom --without-com Delvan.dll 123456789 094019245 user secret
expect_failure nocom '^Microsoft MSXML is not installed$'
# The endpoint unreachable: nothing listens on port 443 any more.
kill "${SERVER_PIDS[1]}" 2>/dev/null || true
wait "${SERVER_PIDS[1]}" 2>/dev/null || true
call unreachable Delvan.dll 123456789 094019245 user secret
expect_failure unreachable " - URL:https://$SERVICE_HOST:443/webtax2/wsgsis/RgWsPublic/RgWsPublicPort - SOAPAction:"

[ "$failures" -eq 0 ] || die "$failures end-to-end case(s) failed"
if [ "$wine_differences" -gt 0 ]; then
  echo "end to end: passed, with $wine_differences case(s) stopped by Wine's MSXML (see above)"
else
  echo "end to end: all cases passed"
fi
