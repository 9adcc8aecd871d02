#!/usr/bin/env bash
# Tests what scripts/release made, from the artifacts alone, the way a user
# installs them:
#   sums     SHA256SUMS verifies and lists exactly the artifacts of this version
#   docs     the API reference holds its C, C++ and Python parts; Doxygen
#            passes the shipped headers without a warning and fails on an
#            undocumented member
#   tar      the tar.gz holds the installed tree, which runs where it is unpacked
#   deb      the package: its fields and files; installed with apt, the tools
#            from /usr/bin, a pkg-config and a CMake consumer built against
#            /usr; then removed, with nothing of it left (apt through sudo
#            when not run as root)
#   zip      the Windows zip holds exactly the listed files, imports only
#            system DLLs, and runs under Wine from an empty folder: the
#            self-test, the tool on its simulated device, and a C program built
#            by the cross compiler against the zip's include/ and lib/ alone,
#            against qx480-sim.exe --listen 0 (a free port)
#   wheels   both wheels carry the release's libraries and version
#   readme   the README's Install section names this version's artifacts
#
#   tests/release_test.sh DIST_DIR [PART...]      default: every part
# Wine runs in WINEPREFIX when it is set (scripts/test sets it), else in a
# prefix of its own, removed at the end.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dist="$(cd "$1" && pwd)"
shift
parts=("$@")
[ ${#parts[@]} -gt 0 ] || parts=(sums docs tar wheels readme zip deb)
python="${QX480_PYTHON:-/usr/bin/python3}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

version="$(sed -n 's/^project(qx480 VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
arch="$(dpkg-architecture -qDEB_HOST_ARCH)"
multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
zip_name="qx480-$version-windows-x86_64"
tar_name="qx480-$version-linux-x86_64"
docs_name="qx480-$version-docs"
deb_file="qx480_${version}_$arch.deb"
linux_wheel="qx480-$version-py3-none-linux_x86_64.whl"
windows_wheel="qx480-$version-py3-none-win_amd64.whl"
artifacts=("$zip_name.zip" "$deb_file" "$tar_name.tar.gz" "$linux_wheel" "$windows_wheel" "$docs_name.zip")

# The installed headers, in the zip, the tar.gz and the package alike.
headers=(commands.h frame.h outcome.h qx480.h qx480_export.h qx480ddg.h serial_port.h)

work="$(mktemp -d "${TMPDIR:-/tmp}/qx480-release-test.XXXXXX")"
pids=()
installed_by_us=""
own_wineprefix=""
# Ends a process this test started: SIGTERM, and SIGKILL when it is still running 5 s later.
end_process() {
  kill "$1" 2>/dev/null || return 0
  local tries=0
  while [ $tries -lt 250 ] && [ -e "/proc/$1" ] && ! grep -q '^State:.*zombie' "/proc/$1/status" 2>/dev/null; do
    sleep 0.02
    tries=$((tries + 1))
  done
  kill -9 "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

cleanup() {
  for pid in "${pids[@]}"; do
    end_process "$pid"
  done
  if [ -n "$installed_by_us" ]; then
    $sudo apt-get remove -y -qq qx480 >/dev/null 2>&1 || true
  fi
  if [ -n "$own_wineprefix" ]; then
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
  fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "release test: $1" >&2
  exit 1
}

# The relative paths of the files and links under DIR, sorted.
tree_files() { (cd "$1" && find . \( -type f -o -type l \) | sed 's|^\./||' | LC_ALL=C sort); }

# Starts qx480-sim (a program and its arguments) in the background and waits
# for the first line it prints: the path or URL a host opens, left in `sim`.
start_sim() {
  local log="$work/sim-${#pids[@]}.out"
  "$@" >"$log" 2>"$log.err" &
  pids+=($!)
  local tries=0
  until [ "$(wc -l <"$log")" -ge 1 ]; do
    kill -0 "${pids[-1]}" 2>/dev/null || { cat "$log.err" >&2; fail "$* ended before it was ready"; }
    [ $tries -lt 1000 ] || fail "$* printed nothing within 20 s"
    sleep 0.02
    tries=$((tries + 1))
  done
  sim="$(head -n 1 "$log" | tr -d '\r')"
}

# Ends the simulated device started last.
stop_sim() {
  end_process "${pids[-1]}"
  unset 'pids[-1]'
}

# The example programs print the two channels they set; OUTPUT is what one printed.
check_example_output() {
  grep -q '^channel 2: delay 250 ns, width 50 ns$' <<<"$(tr -d '\r' <"$2")" || fail "$1 printed: $(cat "$2")"
}
check_c_example_output() {
  grep -q '^channel 1: delay 1000 x 10 ps, width 0.000000100 s, rate 1000.0 Hz$' <<<"$(tr -d '\r' <"$2")" ||
    fail "$1 printed: $(cat "$2")"
}

# `qx480 --simulate status` printed its report: the temperature and eight channels.
check_status_report() {
  local text
  text="$(tr -d '\r' <"$2")"
  grep -q '^temperature  *[0-9.]* C$' <<<"$text" || fail "$1 printed no temperature: $text"
  [ "$(grep -c '^[1-8]  *[0-9]' <<<"$text")" -eq 8 ] || fail "$1 printed no line for each channel: $text"
}

part_sums() {
  (cd "$dist" && sha256sum --strict --quiet -c SHA256SUMS) || fail "SHA256SUMS does not verify"
  local listed expected
  listed="$(sed 's/^[0-9a-f]*  *\**//' "$dist/SHA256SUMS" | LC_ALL=C sort)"
  expected="$(printf '%s\n' "${artifacts[@]}" | LC_ALL=C sort)"
  [ "$listed" = "$expected" ] || fail "SHA256SUMS lists $(tr '\n' ' ' <<<"$listed")not $(tr '\n' ' ' <<<"$expected")"
  echo "release test: SHA256SUMS verifies all ${#artifacts[@]} artifacts of $version"
}

part_docs() {
  unzip -q "$dist/$docs_name.zip" -d "$work/docs"
  local docs="$work/docs/$docs_name"
  grep -q "qx480 $version API reference" "$docs/index.html" || fail "the reference's index does not name $version"
  grep -q 'qx480_read_timing' "$docs/cpp/qx480_8h.html" || fail "the C reference does not describe qx480_read_timing"
  grep -q 'SetDelay' "$docs/cpp/classQX480DDG.html" || fail "the C++ reference does not describe QX480DDG"
  grep -q 'read_temperature' "$docs/python/qx480.device.html" || fail "the Python reference does not describe Device"
  ! grep -rq "$root\|/tmp/" "$docs" || fail "the reference names the folders it was built in"

  # Doxygen as the release runs it, over the headers the tar.gz ships: no warning; with one
  # undocumented member added, a failure that names it.
  tar -xzf "$dist/$tar_name.tar.gz" -C "$work" "$tar_name/include"
  local headers_dir="$work/$tar_name/include/qx480"
  QX480_VERSION="$version" QX480_DOC_INPUT="$headers_dir" QX480_DOC_OUTPUT="$work/doxygen" \
    QX480_DOC_WARNINGS="$work/doxygen.log" doxygen "$root/docs/Doxyfile" >/dev/null 2>&1 ||
    { cat "$work/doxygen.log" >&2; fail "Doxygen fails on the shipped headers"; }
  [ ! -s "$work/doxygen.log" ] || { cat "$work/doxygen.log" >&2; fail "Doxygen warns on the shipped headers"; }
  cp -r "$headers_dir" "$work/undocumented"
  printf '%s\n' '#ifdef __cplusplus' 'extern "C" {' '#endif' 'int32_t qx480_undocumented(void);' \
    '#ifdef __cplusplus' '}' '#endif' >>"$work/undocumented/qx480.h"
  if QX480_VERSION="$version" QX480_DOC_INPUT="$work/undocumented" QX480_DOC_OUTPUT="$work/doxygen-undocumented" \
    QX480_DOC_WARNINGS="$work/doxygen-undocumented.log" doxygen "$root/docs/Doxyfile" >/dev/null 2>&1; then
    fail "Doxygen passes a header with an undocumented function"
  fi
  grep -q 'qx480_undocumented' "$work/doxygen-undocumented.log" || fail "Doxygen did not name the undocumented function"
  echo "release test: the API reference holds the C, C++ and Python parts; Doxygen passes the shipped headers"
}

part_tar() {
  mkdir "$work/tar"
  tar -xzf "$dist/$tar_name.tar.gz" -C "$work/tar"
  [ "$(ls "$work/tar")" = "$tar_name" ] || fail "the tar.gz does not hold one folder $tar_name"
  local tree="$work/tar/$tar_name"
  # The same installed tree as the package's /usr, but for Debian's copyright file.
  dpkg-deb -x "$dist/$deb_file" "$work/deb-tree"
  diff <(tree_files "$tree") <(tree_files "$work/deb-tree/usr" | grep -vx 'share/doc/qx480/copyright') >&2 ||
    fail "the tar.gz and the package's /usr hold different files"
  grep -q "libqx480.so.1 => $tree/bin/../lib/$multiarch/libqx480.so.1 " <<<"$(ldd "$tree/bin/qx480")" ||
    fail "the unpacked qx480 does not find the unpacked library: $(ldd "$tree/bin/qx480")"
  [ "$("$tree/bin/qx480" --version)" = "qx480 $version" ] || fail "the unpacked qx480 --version: $("$tree/bin/qx480" --version)"
  "$tree/bin/qx480" --simulate status >"$work/tar-status.out" || fail "the unpacked qx480 --simulate status failed"
  check_status_report "the unpacked qx480 --simulate status" "$work/tar-status.out"
  "$tree/bin/QX480_UnitTest" >/dev/null || fail "the unpacked QX480_UnitTest failed"
  echo "release test: the tar.gz is the installed tree and runs where it is unpacked"
}

part_wheels() {
  local wheel
  for wheel in "$linux_wheel" "$windows_wheel"; do
    [ "$(unzip -p "$dist/$wheel" "qx480-$version.dist-info/METADATA" | sed -n 's/^Version: //p')" = "$version" ] ||
      fail "$wheel does not carry version $version"
  done
  # The wheels carry the very libraries that the packages install.
  dpkg-deb --fsys-tarfile "$dist/$deb_file" | tar -xO "./usr/lib/$multiarch/libqx480.so.$version" >"$work/deb-lib.so"
  unzip -p "$dist/$linux_wheel" qx480/libqx480.so | cmp -s - "$work/deb-lib.so" ||
    fail "the Linux wheel's libqx480.so is not the package's"
  unzip -p "$dist/$zip_name.zip" "$zip_name/bin/libqx480.dll" >"$work/zip-lib.dll"
  unzip -p "$dist/$windows_wheel" qx480/libqx480.dll | cmp -s - "$work/zip-lib.dll" ||
    fail "the Windows wheel's libqx480.dll is not the zip's"
  unzip -p "$dist/$zip_name.zip" "$zip_name/python/$windows_wheel" | cmp -s - "$dist/$windows_wheel" ||
    fail "the zip's wheel is not the released Windows wheel"
  # Installed as the README says, from a folder of its own.
  (cd "$work" && "$python" -m venv venv && venv/bin/pip install --quiet --no-index "$dist/$linux_wheel") ||
    fail "the Linux wheel does not install"
  [ "$(cd "$work" && venv/bin/python -P -c 'import qx480; print(qx480.version())')" = "$version" ] ||
    fail "the installed package's library is not version $version"
  echo "release test: both wheels carry version $version and the release's libraries"
}

part_readme() {
  local install
  install="$(sed -n '/^## Install/,/^## [^I]/p' "$root/README.md")"
  [ -n "$install" ] || fail "the README has no Install section"
  local artifact
  for artifact in "$zip_name.zip" "$deb_file" "$linux_wheel" "$windows_wheel" "$tar_name.tar.gz"; do
    grep -qF "$artifact" <<<"$install" || fail "the README's Install section does not name $artifact"
  done
  echo "release test: the README's Install section names the artifacts of $version"
}

# The DLLs every Windows since 7 has in its system folder.
system_dll() {
  case "$(tr '[:upper:]' '[:lower:]' <<<"$1")" in
  kernel32.dll | ntdll.dll | msvcrt.dll | advapi32.dll | user32.dll | gdi32.dll | shell32.dll | shlwapi.dll | \
    ole32.dll | oleaut32.dll | rpcrt4.dll | setupapi.dll | cfgmgr32.dll | ws2_32.dll | mswsock.dll | iphlpapi.dll | \
    bcrypt.dll | crypt32.dll | secur32.dll | version.dll | winmm.dll | psapi.dll) return 0 ;;
  *) return 1 ;;
  esac
}

# Every DLL that FILE imports is a system DLL or the zip's own libqx480.dll.
check_imports() {
  local dll
  for dll in $(objdump -p "$1" | sed -n 's/^\s*DLL Name: //p'); do
    system_dll "$dll" || [ "$dll" = libqx480.dll ] || fail "$(basename "$1") imports $dll, which Windows does not have"
  done
}

# Runs a program under Wine with nothing on its path but what WINEPATH names.
wine_run() { env -u WINEDLLOVERRIDES WINEDEBUG=-all wine "$@"; }

part_zip() {
  mkdir "$work/zip"
  unzip -q "$dist/$zip_name.zip" -d "$work/zip"
  local top="$work/zip/$zip_name"
  [ "$(ls "$work/zip")" = "$zip_name" ] || fail "the zip does not hold one folder $zip_name"
  local expected=(bin/qx480.exe bin/qx480-sim.exe bin/QX480_UnitTest.exe bin/libqx480.dll
    lib/libqx480.dll.a lib/qx480.lib lib/qx480.def lib/pkgconfig/qx480.pc
    lib/cmake/qx480/qx480Config.cmake lib/cmake/qx480/qx480ConfigVersion.cmake
    lib/cmake/qx480/qx480Targets.cmake lib/cmake/qx480/qx480Targets-release.cmake
    "python/$windows_wheel" examples/CMakeLists.txt examples/set_and_read.c examples/set_and_read.cpp
    README.md LICENSE CHANGELOG.md)
  expected+=("${headers[@]/#/include/qx480/}")
  diff <(printf '%s\n' "${expected[@]}" | LC_ALL=C sort) <(tree_files "$top") >&2 ||
    fail "the zip does not hold exactly the listed files (< missing, > unexpected)"
  local program
  for program in "$top"/bin/*.exe "$top"/bin/*.dll; do
    check_imports "$program"
  done

  if [ -z "${WINEPREFIX:-}" ]; then
    export WINEPREFIX="$work/wineprefix"
    own_wineprefix=1
  fi
  export WINEDEBUG=-all
  "$root/scripts/wine-run" cmd /c exit >/dev/null 2>&1 || true # makes the prefix and starts its server
  unset WINEPATH
  cd "$work"
  wine_run "$top/bin/QX480_UnitTest.exe" >"$work/unittest.out" ||
    fail "QX480_UnitTest.exe from the zip failed: $(tail -n 3 "$work/unittest.out")"
  [ "$(wine_run "$top/bin/qx480.exe" --version | tr -d '\r')" = "qx480 $version" ] ||
    fail "qx480.exe --version does not say $version"
  wine_run "$top/bin/qx480.exe" --simulate status >"$work/exe-status.out" ||
    fail "qx480.exe --simulate status from the zip failed: $(cat "$work/exe-status.out")"
  check_status_report "qx480.exe --simulate status" "$work/exe-status.out"

  # A C program built by the cross compiler against the zip's include/ and lib/ alone: once
  # with mingw's import library, once with the one for MSVC's linker.
  mkdir "$work/app"
  local cc=x86_64-w64-mingw32-gcc flags=(-std=c99 -Wall -Wextra -Wpedantic -Werror -O2 "-I$top/include")
  "$cc" "${flags[@]}" "$top/examples/set_and_read.c" "-L$top/lib" -lqx480 -o "$work/app/with-dll-a.exe" ||
    fail "the C example does not build against the zip's libqx480.dll.a"
  "$cc" "${flags[@]}" "$top/examples/set_and_read.c" "$top/lib/qx480.lib" -o "$work/app/with-lib.exe" ||
    fail "the C example does not build against the zip's qx480.lib"
  check_imports "$work/app/with-dll-a.exe"
  # And the examples through the zip's CMake package, as a Windows project finds it.
  cmake -S "$top/examples" -B "$work/app/cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -Dqx480_DIR="$top/lib/cmake/qx480" \
    >"$work/app/cmake.log" 2>&1 && cmake --build "$work/app/cmake" >>"$work/app/cmake.log" 2>&1 ||
    { cat "$work/app/cmake.log" >&2; fail "the examples do not build against the zip's CMake package"; }
  check_imports "$work/app/cmake/qx480_example.exe"

  start_sim wine "$top/bin/qx480-sim.exe" --listen 0
  local url="$sim"
  [[ "$url" == socket://127.0.0.1:* ]] || fail "qx480-sim.exe --listen printed $url, not a socket:// URL"
  local bin_windows
  bin_windows="$(winepath -w "$top/bin" 2>/dev/null)"
  local app
  for app in with-dll-a with-lib cmake/qx480_c_example; do
    WINEPATH="$bin_windows" wine_run "$work/app/$app.exe" "$url" >"$work/app.out" 2>&1 ||
      fail "the C example ($app) failed against qx480-sim.exe: $(cat "$work/app.out")"
    check_c_example_output "the C example ($app)" "$work/app.out"
  done
  WINEPATH="$bin_windows" wine_run "$work/app/cmake/qx480_example.exe" "$url" >"$work/app.out" 2>&1 ||
    fail "the C++ example failed against qx480-sim.exe: $(cat "$work/app.out")"
  check_example_output "the C++ example" "$work/app.out"
  stop_sim
  echo "release test: the zip holds the listed files, imports only system DLLs and runs under Wine"
}

# dpkg's status of qx480: "install ok installed", or nothing when dpkg does not know it.
package_status() { dpkg-query -W -f='${Status}' qx480 2>/dev/null || true; }

part_deb() {
  local field
  [ "$(dpkg-deb -f "$dist/$deb_file" Package)" = qx480 ] || fail "the package is not called qx480"
  [ "$(dpkg-deb -f "$dist/$deb_file" Version)" = "$version" ] || fail "the package's version is not $version"
  local depends
  depends="$(dpkg-deb -f "$dist/$deb_file" Depends)"
  for field in libc6 libstdc++6; do
    grep -q "\b$field (>= " <<<"$depends" || fail "the package does not depend on $field: $depends"
  done
  ! grep -q '\bqx480\b' <<<"$depends" || fail "the package depends on itself: $depends"

  rm -rf "$work/deb-tree"
  dpkg-deb -x "$dist/$deb_file" "$work/deb-tree"
  local lib="usr/lib/$multiarch"
  for field in usr/bin/qx480 usr/bin/qx480-sim usr/bin/QX480_UnitTest "$lib/libqx480.so.1" "$lib/libqx480.so" \
    "$lib/pkgconfig/qx480.pc" "$lib/cmake/qx480/qx480Config.cmake" usr/share/doc/qx480/copyright \
    usr/share/doc/qx480/README.md usr/share/doc/qx480/CHANGELOG.md "${headers[@]/#/usr/include/qx480/}"; do
    [ -e "$work/deb-tree/$field" ] || fail "the package has no /$field"
  done
  grep -q 'SONAME *libqx480.so.1$' <<<"$(objdump -p "$work/deb-tree/$lib/libqx480.so.1")" ||
    fail "libqx480.so.1 does not carry the soname libqx480.so.1"

  # What the package will put on the machine; none of it may be there yet.
  local files=() path
  while read -r path; do files+=("$path"); done < <(dpkg-deb -c "$dist/$deb_file" | awk '{print $6}' | sed 's|^\.||' |
    grep -v '/$')
  [ "$(package_status)" != "install ok installed" ] ||
    fail "a qx480 package is installed already; this test installs and removes its own only"
  for path in "${files[@]}"; do
    [ ! -e "$path" ] && [ ! -L "$path" ] || fail "$path is on the machine already"
  done

  installed_by_us=1
  (cd "$dist" && $sudo apt install -y -qq -o DPkg::Lock::Timeout=600 "./$deb_file") >"$work/apt-install.log" 2>&1 ||
    { cat "$work/apt-install.log" >&2; fail "apt install ./$deb_file failed"; }
  [ "$(command -v qx480)" = /usr/bin/qx480 ] || fail "qx480 is not /usr/bin/qx480 on the PATH"
  # Merged /usr: the cache may name the library by its /lib path.
  grep -Eq "libqx480\.so\.1 .*=> (/usr)?/lib/$multiarch/libqx480\.so\.1$" <<<"$(ldconfig -p)" ||
    fail "ldconfig does not know libqx480.so.1: $(ldconfig -p | grep qx480)"
  [ "$(qx480 --version)" = "qx480 $version" ] || fail "the installed qx480 --version: $(qx480 --version)"
  qx480 --simulate status >"$work/deb-status.out" || fail "the installed qx480 --simulate status failed"
  check_status_report "the installed qx480 --simulate status" "$work/deb-status.out"

  # Consumers built against /usr, as the README shows: pkg-config and the CMake package.
  local examples=/usr/share/doc/qx480/examples
  [ "$(pkg-config --modversion qx480)" = "$version" ] || fail "pkg-config says qx480 is $(pkg-config --modversion qx480)"
  # shellcheck disable=SC2046
  c++ -std=c++17 "$examples/set_and_read.cpp" $(pkg-config --cflags --libs qx480) -o "$work/pc-example" ||
    fail "the pkg-config consumer does not build"
  cmake -S "$examples" -B "$work/cmake-example" -G Ninja -DCMAKE_BUILD_TYPE=Release >"$work/cmake.log" 2>&1 &&
    cmake --build "$work/cmake-example" >>"$work/cmake.log" 2>&1 || { cat "$work/cmake.log" >&2; fail "the CMake consumer does not build"; }
  grep -q "qx480_DIR:PATH=/$lib/cmake/qx480" "$work/cmake-example/CMakeCache.txt" ||
    fail "find_package(qx480) did not take the package's /$lib/cmake/qx480"

  start_sim /usr/bin/qx480-sim
  local device="$sim"
  "$work/pc-example" "$device" >"$work/pc-example.out" || fail "the pkg-config consumer failed: $(cat "$work/pc-example.out")"
  check_example_output "the pkg-config consumer" "$work/pc-example.out"
  "$work/cmake-example/qx480_example" "$device" >"$work/cmake-example.out" || fail "the CMake consumer failed"
  check_example_output "the CMake consumer" "$work/cmake-example.out"
  "$work/cmake-example/qx480_c_example" "$device" >"$work/cmake-c-example.out" || fail "the CMake C consumer failed"
  check_c_example_output "the CMake C consumer" "$work/cmake-c-example.out"
  stop_sim

  $sudo apt remove -y -qq -o DPkg::Lock::Timeout=600 qx480 >"$work/apt-remove.log" 2>&1 ||
    { cat "$work/apt-remove.log" >&2; fail "apt remove qx480 failed"; }
  installed_by_us=""
  case "$(package_status)" in "" | *not-installed) ;; *) fail "dpkg still holds qx480 after removal: $(package_status)" ;; esac
  for path in "${files[@]}" /usr/include/qx480 "/$lib/cmake/qx480" /usr/share/doc/qx480; do
    [ ! -e "$path" ] && [ ! -L "$path" ] || fail "$path is left after removal"
  done
  [ -z "$(ls /var/lib/dpkg/info/qx480.* 2>/dev/null)" ] || fail "dpkg keeps files of qx480 after removal"
  ! grep -q libqx480 <<<"$(ldconfig -p)" || fail "ldconfig still lists libqx480 after removal"
  echo "release test: the package installs with apt, builds and runs its consumers, and removes cleanly"
}

for part in "${parts[@]}"; do
  case "$part" in
  sums | docs | tar | deb | zip | wheels | readme)
    cd "$work"
    "part_$part"
    ;;
  *) fail "no part $part (sums docs tar deb zip wheels readme)" ;;
  esac
done
echo "release test: all passed"
