#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The installed man pages render (`man -l`), name every option that the
# program's --help prints, and say what each must. wordbench and longbench take
# no options (they start the window), so their page is checked for its text only.
# Usage: man_pages.sh BUILD_DIR
set -euo pipefail
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cmake --install "$build" --prefix "$stage" >/dev/null
mandir=$stage/share/man

failed=0
check() {  # description, command...
  local what=$1; shift
  if "$@"; then echo "ok - $what"; else echo "not ok - $what"; failed=$((failed + 1)); fi
}
# The page as a terminal shows it, in ASCII, on one long line per paragraph, so
# that no option is split at a line's end. `.so` lines resolve inside mandir.
render() {
  (cd "$mandir" && LC_ALL=C MANWIDTH=1000 man --nh --nj -l "man1/$1.1.gz" 2>&1 | col -b)
}
options_of() {
  "$build/bin/$1" --help 2>&1 | grep -o -- '--[a-z][a-z0-9-]*' | sort -u
}

# page | program whose --help it documents ("" for none) | texts it must show
rows=(
  "regwire|regwire|SEE ALSO;wordbench(1);regwire scan K;/dev/ttyS0"
  "benchslave|benchslave|19200"
  "wordbench||/dev/ttyS0;regwire(1)"
  "longbench||/dev/ttyS0;regwire(1)"
)
for row in "${rows[@]}"; do
  IFS='|' read -r page program texts <<<"$row"
  text=$(render "$page")
  check "$page(1) renders" test "$(wc -l <<<"$text")" -gt 10
  check "$page(1) shows no device as /dev/ttySK-1" bash -c "! grep -q 'ttySK' <<<\"\$1\"" _ "$text"
  if [ -n "$program" ]; then
    for option in $(options_of "$program"); do
      check "$page(1) names $program's option $option" grep -qF -- "$option" <<<"$text"
    done
  fi
  IFS=';' read -ra wants <<<"$texts"
  for want in "${wants[@]}"; do
    check "$page(1) says \"$want\"" grep -qF -- "$want" <<<"$text"
  done
done
[ "$failed" -eq 0 ]
