#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs every benchmark program of a build and prints one table of their results.
#
#   benchmarks/run.sh BIN_DIR            full run (about 3 minutes, 60 s of it idle)
#   benchmarks/run.sh BIN_DIR --quick    the same with a 10 s idle measurement
#   benchmarks/run.sh BIN_DIR --smoke    a few calls each: checks that every program
#                                   runs and prints its figures (ctest benchmarks_smoke)
#
# A missed goal is a result, not a failure: the exit status is non-zero only when a
# program fails or prints no figures.
set -uo pipefail

bin=${1:?usage: benchmarks/run.sh BIN_DIR [--quick|--smoke]}
mode=${2:-full}

case $mode in
  full)
    roundtrip=(--calls 1000) peers=(--calls 500 --rounds 3) silent=(--calls 5)
    window=(--ticks 500) startup=(--runs 10) idle=(--seconds 60) ;;
  --quick)
    roundtrip=(--calls 1000) peers=(--calls 500 --rounds 3) silent=(--calls 5)
    window=(--ticks 500) startup=(--runs 10) idle=(--seconds 10) ;;
  --smoke)
    roundtrip=(--calls 5 --block 5) peers=(--calls 5 --rounds 1) silent=(--calls 1)
    window=(--ticks 5) startup=(--runs 1) idle=(--seconds 1) ;;
  *)
    echo "usage: benchmarks/run.sh BIN_DIR [--quick|--smoke]" >&2
    exit 2 ;;
esac

# libRegwire.so is loaded by name. The programs' RUNPATH finds it in the build's lib
# folder, but not when a sanitizer's dlopen stands between (the RUNPATH of the
# caller counts), so the folder is named here too.
export LD_LIBRARY_PATH="$bin/../lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"

rows=$(mktemp)
out=$(mktemp)
trap 'rm -f "$rows" "$out"' EXIT
failed=()

run() {
  local program=$1
  shift
  echo "== $program $*"
  if ! "$bin/$program" "$@" >"$out"; then
    failed+=("$program (exit status)")
  fi
  grep -v '^ROW' "$out"
  if ! grep '^ROW' "$out" >>"$rows"; then
    failed+=("$program (no figures)")
  fi
}

echo "machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "== line time of a real RTU line (11 bits a character, 3.5-character gaps)"
if ! "$bin/bench_wire_table"; then
  failed+=("bench_wire_table")
fi
run bench_roundtrip "${roundtrip[@]}"
run bench_peers "${peers[@]}"
run bench_silent "${silent[@]}"
run bench_window_work "${window[@]}"
run bench_startup "${startup[@]}"
run bench_idle "${idle[@]}"

echo
echo "| measurement | figure | comparison (same run) | ratio | goal | met |"
echo "|---|---|---|---|---|---|"
cut -f2- "$rows" | awk -F'\t' '{ printf "| %s | %s | %s | %s | %s | %s |\n", $1, $2, $3, $4, $5, $6 }'

met=$(cut -f7 "$rows" | grep -c '^met$')
missed=$(cut -f7 "$rows" | grep -c '^missed$')
echo
echo "goals met: $met, missed: $missed"
if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${failed[*]}" >&2
  exit 1
fi
