#!/bin/sh
# Builds a host program written from the installed interface alone (tests/host)
# against a fresh install of a build, at -O0 and at -O2, and runs it: natively,
# or for a Windows build under Wine with the DLL beside it.
#
#   host_interface_test.sh BUILD_DIR SOURCE_DIR GENERATOR "CXXFLAGS" "LDFLAGS" [TOOLCHAIN_FILE]
set -eu

build=$1 source=$2 generator=$3 cxxflags=$4 ldflags=$5 toolchain=${6:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/qx480-host.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() {
  echo "host interface test: $1" >&2
  exit 1
}

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log" >&2; fail "install failed"; }

for level in -O0 -O2; do
  dir="$work/host$level"
  set -- -DCMAKE_CXX_FLAGS="$cxxflags $level" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_BUILD_TYPE= \
    -Dqx480_DIR="$prefix/lib/cmake/qx480"
  [ -z "$toolchain" ] || set -- "$@" -DCMAKE_TOOLCHAIN_FILE="$toolchain"
  cmake -S "$source/tests/host" -B "$dir" -G "$generator" "$@" >"$dir.log" 2>&1 ||
    { cat "$dir.log" >&2; fail "configure at $level failed"; }
  cmake --build "$dir" >"$dir.log" 2>&1 || { cat "$dir.log" >&2; fail "build at $level failed"; }
  if [ -n "$toolchain" ]; then
    cp "$prefix/bin/libqx480.dll" "$dir/"
    "$source/scripts/wine-run" "$dir/qx480_host.exe" >"$dir.out" 2>&1 || { cat "$dir.out" >&2; fail "the host at $level failed"; }
  else
    "$dir/qx480_host" >"$dir.out" 2>&1 || { cat "$dir.out" >&2; fail "the host at $level failed"; }
  fi
  grep -q '^host interface: ok' "$dir.out" || fail "the host at $level printed: $(cat "$dir.out")"
done
echo "host interface test: built at -O0 and -O2 against the installed package and ran"
