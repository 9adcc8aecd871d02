#!/bin/sh
# Installs a build into a temporary prefix and uses it as a host program would:
# checks the installed files, builds examples/ as an outside project through
# find_package(qx480) and again through pkg-config, then runs both builds, the
# installed qx480 tool and the installed self-test against the installed qx480-sim.
#
#   package_test.sh BUILD_DIR SOURCE_DIR GENERATOR CXX "CXXFLAGS" "LDFLAGS"
set -eu

build=$1 source=$2 generator=$3 cxx=$4 cxxflags=$5 ldflags=$6
work=$(mktemp -d "${TMPDIR:-/tmp}/qx480-package.XXXXXX")
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "package test: $1" >&2
  exit 1
}

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log" >&2; fail "install failed"; }

for header in frame.h commands.h serial_port.h outcome.h qx480ddg.h qx480.h qx480_export.h; do
  [ -f "$prefix/include/qx480/$header" ] || fail "include/qx480/$header is not installed"
done
[ ! -e "$prefix/include/qx480/frame_receiver.h" ] || fail "the internal frame_receiver.h is installed"
for program in qx480 qx480-sim QX480_UnitTest; do
  [ -x "$prefix/bin/$program" ] || fail "bin/$program is not installed"
done
config=$(find "$prefix" -name qx480Config.cmake)
[ -n "$config" ] || fail "no qx480Config.cmake"
[ -f "$(dirname "$config")/qx480ConfigVersion.cmake" ] || fail "no qx480ConfigVersion.cmake"
pc=$(find "$prefix" -name qx480.pc)
[ -n "$pc" ] || fail "no qx480.pc"
grep -q '^License: MIT$' "$pc" || fail "qx480.pc names no MIT licence"
grep -q 'Copyright (c) 2026 The qx480 developers' "$prefix/share/doc/qx480/LICENSE" || fail "no LICENSE"

# The CMake package, from an outside project.
cmake -S "$source/examples" -B "$work/example" -G "$generator" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_C_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
  -DCMAKE_PREFIX_PATH="$prefix" >"$work/example.log" 2>&1 || { cat "$work/example.log" >&2; fail "configure failed"; }
cmake --build "$work/example" >"$work/example.log" 2>&1 || { cat "$work/example.log" >&2; fail "build failed"; }

# pkg-config, from a plain compiler call.
pc_example=""
if command -v pkg-config >/dev/null 2>&1; then
  export PKG_CONFIG_PATH="$(dirname "$pc")"
  pkg-config --validate qx480 || fail "qx480.pc does not validate"
  [ "$(pkg-config --modversion qx480)" = "1.0.0" ] || fail "pkg-config reports version $(pkg-config --modversion qx480)"
  [ "$(cd "$(pkg-config --variable=includedir qx480)" && pwd -P)" = "$(cd "$prefix/include" && pwd -P)" ] ||
    fail "qx480.pc names $(pkg-config --variable=includedir qx480) as its include directory, not PREFIX/include"
  libdir=$(pkg-config --variable=libdir qx480)
  # shellcheck disable=SC2046,SC2086
  "$cxx" -std=c++17 $cxxflags $(pkg-config --cflags qx480) "$source/examples/set_and_read.cpp" \
    $(pkg-config --libs qx480) $ldflags -Wl,-rpath,"$libdir" -o "$work/example-pc" || fail "pkg-config build failed"
  pc_example="$work/example-pc"
else
  echo "package test: pkg-config not found; the pkg-config build is skipped" >&2
fi

# Run everything installed against the installed simulated device.
"$prefix/bin/qx480-sim" --link "$work/device" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
tries=0
while [ ! -L "$work/device" ]; do
  kill -0 "$sim_pid" 2>/dev/null || { cat "$work/sim.err" >&2; fail "qx480-sim ended"; }
  [ $tries -lt 500 ] || fail "qx480-sim made no link within 10 s"
  sleep 0.02
  tries=$((tries + 1))
done

for example in "$work/example/qx480_example" $pc_example; do
  "$example" "$work/device" >"$work/run.out" || fail "$example failed"
  grep -q '^channel 2: delay 250 ns, width 50 ns$' "$work/run.out" || fail "$example printed: $(cat "$work/run.out")"
done
"$work/example/qx480_c_example" "$work/device" >"$work/run-c.out" || fail "the C example failed"
grep -q '^channel 1: delay 1000 x 10 ps, width 0.000000100 s, rate 1000.0 Hz$' "$work/run-c.out" ||
  fail "the C example printed: $(cat "$work/run-c.out")"
"$prefix/bin/qx480" --port "$work/device" delay 3 0.01ns status >"$work/tool.out" || fail "the installed qx480 failed"
grep -q '^3  *10 ps ' "$work/tool.out" || fail "the installed qx480 printed: $(cat "$work/tool.out")"
"$prefix/bin/QX480_UnitTest" >/dev/null || fail "the installed QX480_UnitTest failed"
echo "package test: installed, built against the package and ran against the simulated device"
