#!/bin/sh
# Installs a Windows build into a temporary prefix and checks what a host of the
# C interface needs there: the mingw and the MSVC import libraries, the .def and
# the header, and a .def whose names are exactly the qx480_ names the DLL exports.
#
#   windows_package_test.sh BUILD_DIR OBJDUMP
set -eu

build=$1 objdump=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/qx480-winpkg.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() {
  echo "windows package test: $1" >&2
  exit 1
}

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log" >&2; fail "install failed"; }

for file in lib/qx480.lib lib/qx480.def lib/libqx480.dll.a include/qx480/qx480.h bin/libqx480.dll; do
  [ -f "$prefix/$file" ] || fail "$file is not installed"
done

# The names after EXPORTS, one a line, without comments.
sed -e '1,/^EXPORTS/d' -e 's/;.*//' -e 's/[[:space:]]//g' -e '/^$/d' "$prefix/lib/qx480.def" | sort >"$work/def"
# The export table's name lines: "[   3] qx480_open".
"$objdump" -p "$prefix/bin/libqx480.dll" | sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*\(qx480_[A-Za-z0-9_]*\)$/\1/p' |
  sort >"$work/dll"
[ -s "$work/dll" ] || fail "the DLL exports no qx480_ name ($objdump -p found none)"
diff -u "$work/def" "$work/dll" >"$work/diff" || { cat "$work/diff" >&2; fail "the .def and the DLL's exports differ (- .def, + DLL)"; }
echo "windows package test: $(wc -l <"$work/dll") C names, the same in qx480.def and the DLL; import libraries and header installed"
