#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A program of one's own built against an installed Regwire with pkg-config: the
# example of regwire/README.md, compiled against a staged install with
# `pkg-config --cflags --libs regwire`, reads benchslave on a pseudo-terminal
# with the installed library.
# Usage: pkg_config_example.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
stage=$(mktemp -d)
slave_pid=""
cleanup() {
  if [ -n "$slave_pid" ]; then kill "$slave_pid" 2>/dev/null || true; wait "$slave_pid" 2>/dev/null || true; fi
  rm -rf "$stage"
}
trap cleanup EXIT
cmake --install "$build" --prefix "$stage/usr" >/dev/null

failed=0
check() {  # description, command...
  local what=$1; shift
  if "$@"; then echo "ok - $what"; else echo "not ok - $what"; failed=$((failed + 1)); fi
}
pc=$(cd "$stage/usr" && find . -name regwire.pc | sed 's|^\./||')
check "regwire.pc is installed in the public pkgconfig folder ($pc)" \
  bash -c "[[ '$pc' == lib*/pkgconfig/regwire.pc ]]"
export PKG_CONFIG_PATH=$stage/usr/$(dirname "$pc")
flags=$(pkg-config --cflags --libs regwire)
echo "# pkg-config --cflags --libs regwire: $flags"
libdir=$(pkg-config --variable=libdir regwire)
check "its library folder holds the installed libRegwire.so" test -f "$libdir/libRegwire.so"
check "its library folder is the private one" bash -c "[[ '$(realpath "$libdir")' == '$stage'/usr/lib*/wordbench ]]"
check "its include folder holds regwire.h" test -f "$(pkg-config --variable=includedir regwire)/regwire.h"
example=$stage/usr/share/doc/wordbench/examples/read_registers.c
check "the example is installed" cmp -s "$example" "$source/regwire/examples/read_registers.c"

# A library built with the sanitizers (the sanitize preset) needs their runtime
# loaded first, as in a program built with them.
sanitize=()
if readelf -d "$libdir/libRegwire.so" | grep -q 'libasan'; then sanitize=(-fsanitize=address,undefined); fi
# shellcheck disable=SC2086  # the flags are words
cc -std=c11 -Wall -Wextra -Werror "${sanitize[@]}" "$example" $flags -o "$stage/read_registers"
found=$(env -u LD_LIBRARY_PATH ldd "$stage/read_registers" | awk '$1 == "libRegwire.so" {print $3}')
check "the example finds the installed library by its rpath ($found)" \
  test "$(realpath "$found")" = "$(realpath "$libdir")/libRegwire.so"

coproc SLAVE { exec "$build/bin/benchslave" --pty --pattern demo; }
slave_pid=$SLAVE_PID
read -r -t 10 device <&"${SLAVE[0]}"
out=$(env -u LD_LIBRARY_PATH REGWIRE_PORT6="$device" "$stage/read_registers" 6 1 100)
echo "$out" | sed 's/^/# /'
# The demo pattern's fixed words at 100..107: 0, 1, 32767, -32768, -1, -2, 1234, -1234.
want=$'100: 0\n101: 1\n102: 32767\n103: -32768\n104: -1\n105: -2\n106: 1234\n107: -1234'
check "it reads the simulator's registers 100..107" test "$(head -n 8 <<<"$out")" = "$want"
[ "$failed" -eq 0 ]
