#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
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
# The library's own folder, which only the RUNPATH of the programs and the tool reaches.
libdir=$(cd "$prefix" && find . -name libRegwire.so -printf '%h\n' | sed 's|^\./||' | head -n 1)
check "libRegwire.so is installed in a folder of its own ($libdir)" \
  bash -c "[[ '$libdir' == lib*/wordbench ]]"
for program in wordbench longbench regwire; do
  check "$program is installed" test -x "$prefix/bin/$program"
  runpath=$(readelf -d "$prefix/bin/$program" | sed -n 's/.*RUNPATH.*\[\(.*\)\]/\1/p')
  check "$program's RUNPATH reaches the library ($runpath)" \
    bash -c "tr ':' '\n' <<<'$runpath' | grep -qx '\$ORIGIN/../$libdir'"
  # A stray libRegwire.so in the public folder ($ORIGIN/../lib) must not come first.
  check "$program's RUNPATH names the library's folder first" \
    test "${runpath%%:*}" = "\$ORIGIN/../$libdir"
done
check "the installed regwire tool runs with the installed library" \
  bash -c "env -i '$prefix/bin/regwire' --version | grep -q '^regwire [0-9]'"
for program in wordbench longbench; do
  check "$program has a desktop entry" grep -q "^Exec=$program$" "$prefix/share/applications/$program.desktop"
  for size in 16 24 32 48; do
    check "$program has a ${size}px icon" \
      bash -c "file '$prefix/share/icons/hicolor/${size}x${size}/apps/$program.png' | grep -q '$size x $size'"
  done
done
check "each program has its own icon" bash -c "! cmp -s \
  '$prefix/share/icons/hicolor/48x48/apps/wordbench.png' '$prefix/share/icons/hicolor/48x48/apps/longbench.png'"
check "benchslave is installed" test -x "$prefix/bin/benchslave"
check "regwire.h is installed" test -f "$prefix/include/regwire.h"
exports=$(nm -D --defined-only "$prefix/$libdir/libRegwire.so" | awk '$2 != "A" {print $3}' | sort | tr '\n' ' ')
check "the library exports its functions only, in version node REGWIRE_1.0 ($exports)" test "$exports" = \
  "ClosePort_Modbus@@REGWIRE_1.0 Get_4X_DX@@REGWIRE_1.0 Get_4X_LDX@@REGWIRE_1.0 OpenPort_Modbus@@REGWIRE_1.0 Regwire_lastfailure@@REGWIRE_1.0 Regwire_strerror@@REGWIRE_1.0 Regwire_version@@REGWIRE_1.0 Set_4X_DX@@REGWIRE_1.0 Set_4X_LDX@@REGWIRE_1.0 "
[ "$failed" -eq 0 ]
