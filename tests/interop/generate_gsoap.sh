#!/usr/bin/env bash
# Generates the gSOAP client (and server skeleton) of the registry service
# from RgWsPublic.wsdl into OUTDIR. NAMESPACE replaces the WSDL's default
# service namespace when the build uses another one.
#   tests/interop/generate_gsoap.sh OUTDIR [NAMESPACE]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:?usage: generate_gsoap.sh OUTDIR [NAMESPACE]}
ns=${2:-http://rgws.registry.example/RgWsPublic}
mkdir -p "$out"
sed "s#http://rgws.registry.example/RgWsPublic#${ns}#g" "$here/RgWsPublic.wsdl" >"$out/RgWsPublic.wsdl"
cd "$out"
wsdl2h -o RgWsPublic.h RgWsPublic.wsdl >/dev/null 2>&1
# -j: proxy and service classes; -x: no sample messages.
soapcpp2 -j -x -I/usr/share/gsoap/import RgWsPublic.h >/dev/null 2>&1
echo "$out"
