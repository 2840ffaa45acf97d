#!/usr/bin/env bash
# `cmake --install` places the programs, the library beside them where their
# RUNPATH looks, the simulator, the header, the icons and the desktop entries.
# Usage: install_layout.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

failed=0
check() {  # description, command...
  local what=$1; shift
  if "$@"; then echo "ok - $what"; else echo "not ok - $what"; failed=$((failed + 1)); fi
}
libdir=""
for d in lib lib64 lib/x86_64-linux-gnu; do
  if [ -e "$prefix/$d/libRegwire.so" ]; then libdir=$d; break; fi
done
check "libRegwire.so is installed" test -n "$libdir"
for program in wordbench longbench; do
  check "$program is installed" test -x "$prefix/bin/$program"
  runpath=$(readelf -d "$prefix/bin/$program" | sed -n 's/.*RUNPATH.*\[\(.*\)\]/\1/p')
  check "$program's RUNPATH reaches the library ($runpath)" \
    bash -c "tr ':' '\n' <<<'$runpath' | grep -qx '\$ORIGIN/../$libdir'"
  check "$program has a desktop entry" grep -q "^Exec=$program$" "$prefix/share/applications/$program.desktop"
  for size in 16 24 32 48; do
    check "$program has a ${size}px icon" \
      bash -c "file '$prefix/share/icons/hicolor/${size}x${size}/apps/$program.png' | grep -q '$size x $size'"
  done
done
check "benchslave is installed" test -x "$prefix/bin/benchslave"
check "regwire.h is installed" test -f "$prefix/include/regwire.h"
exports=$(nm -D --defined-only "$prefix/$libdir/libRegwire.so" | awk '{print $3}' | sort | tr '\n' ' ')
check "the library exports its eight functions only ($exports)" test "$exports" = \
  "ClosePort_Modbus Get_4X_DX Get_4X_LDX OpenPort_Modbus Regwire_lastfailure Regwire_strerror Set_4X_DX Set_4X_LDX "
[ "$failed" -eq 0 ]
