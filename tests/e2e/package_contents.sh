#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Debian package that CPack makes of this build: its control fields and its
# file list. (scripts/package makes the real one from the release build; the
# layout and the fields are the same.)
# Usage: package_contents.sh BUILD_DIR PROJECT_VERSION
set -euo pipefail
build=$1
version=$2
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || { cat "$out/cpack.log"; exit 1; }
deb=$(ls "$out"/*.deb)

failed=0
check() {  # description, command...
  local what=$1; shift
  if "$@"; then echo "ok - $what"; else echo "not ok - $what"; failed=$((failed + 1)); fi
}
field() { dpkg-deb -f "$deb" "$1"; }
check "named wordbench_${version}_amd64.deb ($(basename "$deb"))" \
  test "$(basename "$deb")" = "wordbench_${version}_$(dpkg --print-architecture).deb"
check "Package: wordbench" test "$(field Package)" = wordbench
check "Version: $version" test "$(field Version)" = "$version"
check "Architecture: $(dpkg --print-architecture)" test "$(field Architecture)" = "$(dpkg --print-architecture)"
check "Section: electronics" test "$(field Section)" = electronics
check "a Maintainer with an address ($(field Maintainer))" bash -c "grep -q '<.*@.*>' <<<'$(field Maintainer)'"
check "a Description with a summary and a body" test "$(field Description | wc -l)" -gt 2
check "the body does not repeat the summary" \
  test "$(field Description | sed -n 2p | sed 's/^ //')" != "$(field Description | sed -n 1p)"
depends=$(field Depends)
# QtCore's package is libqt6core6t64 from Debian 13 on (64-bit time_t); either counts.
for lib in libc6 libstdc++6 libmodbus5 libqt6widgets6 'libqt6core6\|libqt6core6t64'; do
  check "Depends names $lib, computed from the binaries" bash -c "grep -q '\\b\\($lib\\)\\b' <<<'$depends'"
done
check "Depends names a face with Chinese glyphs" bash -c "grep -q 'fonts-arphic-uming' <<<'$depends'"
check "Depends does not name the package's own library" bash -c "! grep -qi regwire <<<'$depends'"

files=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|')
has() { grep -qx -- "$1" <<<"$files"; }
for f in /usr/bin/wordbench /usr/bin/longbench /usr/bin/regwire /usr/bin/benchslave \
         /usr/include/regwire.h \
         /usr/share/applications/wordbench.desktop /usr/share/applications/longbench.desktop \
         /usr/share/man/man1/regwire.1.gz /usr/share/man/man1/benchslave.1.gz \
         /usr/share/man/man1/wordbench.1.gz /usr/share/man/man1/longbench.1.gz \
         /usr/share/doc/wordbench/copyright /usr/share/doc/wordbench/changelog.gz; do
  check "has $f" has "$f"
done
for size in 16 24 32 48; do
  for program in wordbench longbench; do
    check "has the ${size}px icon of $program" has "/usr/share/icons/hicolor/${size}x${size}/apps/$program.png"
  done
done
check "libRegwire.so only in a folder of its own" \
  bash -c "grep 'libRegwire' <<<'$files' | grep -Eqx '/usr/lib(/[a-z0-9_-]+)?/wordbench/libRegwire.so'"
check "regwire.pc in the public pkgconfig folder" \
  bash -c "grep -Eqx '/usr/lib(/[a-z0-9_-]+)?/pkgconfig/regwire.pc' <<<'$files'"
check "nothing outside /usr" bash -c "! grep -v '^/usr' <<<'$files' | grep -q ."
check "nothing from the tests or benchmarks" bash -c "! grep -Eq '_tests?$|/bench_|recording' <<<'$files'"
check "files owned by root" bash -c "! dpkg-deb -c '$deb' | awk '{print \$2}' | grep -vqx 'root/root'"
[ "$failed" -eq 0 ]
