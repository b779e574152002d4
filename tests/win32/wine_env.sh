# Sourced by the Windows test drivers: a Wine prefix of the tests' own
# (32-bit, under the build directory), made on first use. Fails loudly when
# Wine cannot run: these tests are never skipped.
#   WINE          the wine program
#   WINEPREFIX    the prefix directory
set -euo pipefail

: "${WINE:?WINE must name the wine program}"
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
export WINEPREFIX WINEARCH=win32 WINEDEBUG=${WINEDEBUG:--all}
# No desktop integration, no Mono or Gecko installers in the test prefix.
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"

die() {
  echo "FAILED: $*" >&2
  exit 1
}

command -v "$WINE" >/dev/null 2>&1 || die "Wine is not installed ($WINE); run scripts/setup.sh"
wine_version=$("$WINE" --version 2>&1) ||
  die "Wine cannot run here ($wine_version); 32-bit Wine needs a kernel that runs 32-bit programs, or qemu-i386 registered for them by scripts/setup.sh"
mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$WINE" wineboot -i >"$WINEPREFIX.boot.log" 2>&1 || {
      cat "$WINEPREFIX.boot.log" >&2
      die "Wine cannot make its prefix $WINEPREFIX"
    }
    "$(dirname "$WINE")/wineserver" -w 2>/dev/null || true
  fi
) 9>"$WINEPREFIX.lock"
[ -f "$WINEPREFIX/system.reg" ] || die "Wine cannot make its prefix $WINEPREFIX"

# The Windows name of an absolute Linux path through the prefix's drive Z:
# (the root of the Linux file system), as winepath -w gives it without
# starting a Wine process.
windows_path() {
  local path
  path=$(realpath -m "$1")
  printf 'Z:%s\n' "${path//\//\\}"
}

# Starts a server program that prints name=value lines and serves until its
# standard input closes; sets SERVER_<name> for each line up to the one
# named by $2 and SERVER_PIDS. Usage: start_server NAME LAST_KEY COMMAND...
SERVER_PIDS=()
start_server() {
  local name=$1 last=$2
  shift 2
  local fifo_in fifo_out
  fifo_in=$(mktemp -u) fifo_out=$(mktemp -u)
  mkfifo "$fifo_in" "$fifo_out"
  "$@" <"$fifo_in" >"$fifo_out" &
  SERVER_PIDS+=($!)
  # Holding the input open keeps the server alive until the driver exits.
  exec {fd}>"$fifo_in"
  eval "SERVER_FD_$name=$fd"
  exec {out}<"$fifo_out"
  rm -f "$fifo_in" "$fifo_out"
  local line key
  while IFS= read -r -t 30 line <&"$out"; do
    key=${line%%=*}
    printf -v "SERVER_${name}_${key}" '%s' "${line#*=}"
    [ "$key" = "$last" ] && return 0
  done
  die "server $name did not start: $*"
}

stop_servers() {
  local pid
  for pid in "${SERVER_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
