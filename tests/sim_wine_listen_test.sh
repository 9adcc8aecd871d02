#!/bin/sh
# The Windows qx480-sim.exe under Wine serving the device on TCP: its first
# line is the socket:// URL, and the native qx480 tool sets and reads the
# device through it.
#
#   sim_wine_listen_test.sh QX480_SIM_EXE NATIVE_QX480 WINE_RUN
set -eu

sim=$1 tool=$2 wine_run=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/qx480-simlisten.XXXXXX")
pid=""
cleanup() {
  [ -z "$pid" ] || { kill -TERM "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "sim_wine_listen_test: $1" >&2
  exit 1
}

"$wine_run" "$sim" --listen 0 >"$work/out" 2>"$work/err" &
pid=$!
tries=0
until [ -s "$work/out" ]; do
  kill -0 "$pid" 2>/dev/null || fail "qx480-sim.exe ended: $(cat "$work/err")"
  [ "$tries" -lt 500 ] || fail "qx480-sim.exe printed no URL within 10 s"
  sleep 0.02
  tries=$((tries + 1))
done
url=$(head -n 1 "$work/out" | tr -d '\r')
case "$url" in
  socket://127.0.0.1:[1-9]*) ;;
  *) fail "the first line is not a socket:// URL: $url" ;;
esac
out=$("$tool" --port "$url" delay 1 10ns status) || fail "qx480 --port $url failed"
printf '%s\n' "$out" | grep -q '^1  *10 ns' || fail "the delay did not read back: $out"
