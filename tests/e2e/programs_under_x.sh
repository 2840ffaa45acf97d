#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The programs in a real X server (Xvfb): each shows one window of its exact size,
# and the Exit button ends it at once with status 0. Then the demo: it starts the
# simulator and Wordbench, shows live values after Open and Start reading, and stops
# the simulator when the program ends.
# Usage: programs_under_x.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2

unset QT_QPA_PLATFORM
# In a sanitizer build the programs run here under X, where Qt starts its D-Bus
# thread, whose data (152 bytes from QtCore, with strings from QtDBus) is now and
# then still held when LeakSanitizer looks at exit. This test is about windows,
# Exit and the demo; leaks of our code are checked by the window tests.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
runtime=$(mktemp -d); chmod 700 "$runtime"; export XDG_RUNTIME_DIR=$runtime
pids=()
xvfb=""
cleanup() {
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; fi
  rm -rf "$runtime"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# A private X server. It picks a free display itself and names it (-displayfd), so
# other X servers starting at the same moment cannot take the same number, as they
# can under `xvfb-run -a`, which looks for a free number before starting the server.
# -noreset: by default the server resets when its last client leaves, and a program
# that connects during the reset (the next one here) is refused.
mkfifo "$runtime/display"
Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1100x800x24 -dpi 96 \
  3>"$runtime/display" 2>"$runtime/xvfb.log" &
xvfb=$!
read -r -t 20 display <"$runtime/display" || { cat "$runtime/xvfb.log" >&2; fail "Xvfb did not start"; }
export DISPLAY=":$display"

window_of() {  # pid -> window id, waiting up to 10 s
  local id=""
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --pid "$1" 2>/dev/null | head -n 1) || true
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}

exited_within() {  # pid seconds -> waits for the process to end
  for _ in $(seq $(($2 * 10))); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1
  done
  return 1
}

click_at() {  # window x y (pixels inside the window)
  xdotool mousemove --window "$1" "$2" "$3" click 1
}

passed=0
for case in "wordbench 951 713" "longbench 945 713"; do
  set -- $case
  program=$1 width=$2 height=$3
  LD_LIBRARY_PATH=$build/lib "$build/bin/$program" 2>"$runtime/$program.err" &
  pid=$!; pids+=("$pid")
  id=$(window_of "$pid") || fail "$program shows no window"
  ! grep -q "no font with Chinese" "$runtime/$program.err" || fail "$program finds no Chinese face"
  geometry=$(xdotool getwindowgeometry "$id" | awk '/Geometry/ {print $2}')
  [ "$geometry" = "${width}x${height}" ] || fail "$program window is $geometry, not ${width}x${height}"
  [ "$(xdotool search --onlyvisible --pid "$pid" | wc -l)" -eq 1 ] || fail "$program shows more than one window"
  name=$(xdotool getwindowname "$id")
  case "$name" in *位整数测试) ;; *) fail "$program caption is '$name'" ;; esac
  # Exit (退出) at 13200,1200 twips, 825x345: its centre in pixels.
  click_at "$id" 907 91
  exited_within "$pid" 5 || fail "$program did not end on Exit"
  wait "$pid" || fail "$program ended with status $?"
  echo "ok - $program: one ${geometry} window, Exit ends it"
  passed=$((passed + 1))
done

# The programs read no command line: Qt's own options (-platform, -reverse,
# -stylesheet) are not applied. Honoured, -platform offscreen would leave no window.
sheet=$runtime/red.qss
echo 'QWidget { background: rgb(255, 0, 0); }' >"$sheet"
LD_LIBRARY_PATH=$build/lib "$build/bin/wordbench" -platform offscreen -reverse -stylesheet "$sheet" &
pid=$!; pids+=("$pid")
id=$(window_of "$pid") || fail "wordbench took Qt options from its command line"
import -window "$id" "$runtime/options.png"
corner=$(convert "$runtime/options.png" -crop 1x1+948+710 -depth 8 txt:- | grep -o '#[0-9A-F]\{6\}')
[ "$corner" != "#FF0000" ] || fail "wordbench applied a style sheet from its command line"
click_at "$id" 907 91
exited_within "$pid" 5 || fail "wordbench did not end on Exit"
wait "$pid" || fail "wordbench ended with status $?"
echo "ok - wordbench ignores Qt's command-line options"
passed=$((passed + 1))

# On a desktop without a face that has Chinese glyphs, the program says so on its
# standard error (its window still opens, its texts as empty boxes).
mkdir "$runtime/fontcache"
cat >"$runtime/fonts.conf" <<CONF
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig><dir>/usr/share/fonts/truetype/dejavu</dir><cachedir>$runtime/fontcache</cachedir></fontconfig>
CONF
FONTCONFIG_FILE=$runtime/fonts.conf LD_LIBRARY_PATH=$build/lib "$build/bin/wordbench" \
  2>"$runtime/nofont.err" &
pid=$!; pids+=("$pid")
id=$(window_of "$pid") || fail "wordbench without a Chinese face shows no window"
grep -q "no font with Chinese characters is installed" "$runtime/nofont.err" ||
  { cat "$runtime/nofont.err" >&2; fail "wordbench did not say that it found no Chinese face"; }
click_at "$id" 907 91
exited_within "$pid" 5 || fail "wordbench did not end on Exit"
wait "$pid" || fail "wordbench ended with status $?"
echo "ok - wordbench says on its standard error when no face has Chinese glyphs"
passed=$((passed + 1))

# The demo, with this build as it is.
log=$runtime/demo.log
# There before the demo's shell opens it: the loops below read it at once, and a
# missing file would end this script (set -e, pipefail).
: >"$log"
REGWIRE_TRACE=1 BENCH_BUILD_DIR=$build "$source/scripts/demo" wordbench >"$log" 2>&1 &
demo=$!; pids+=("$demo")
slave=""
for _ in $(seq 100); do
  slave=$(sed -n 's/.*pid \([0-9]*\)).*/\1/p' "$log" | head -n 1)
  [ -n "$slave" ] && break
  sleep 0.1
done
[ -n "$slave" ] || { cat "$log"; fail "the demo started no simulator"; }
program=""
for _ in $(seq 100); do
  program=$(pgrep -P "$demo" -x wordbench || true)
  [ -n "$program" ] && break
  sleep 0.1
done
[ -n "$program" ] || { cat "$log"; fail "the demo started no wordbench"; }
id=$(window_of "$program") || fail "the demo's wordbench shows no window"
click_at "$id" 806 41   # 打开 (Open)
click_at "$id" 353 92   # 开始读 (Start reading)
# The library's trace shows the reads of the ticks, answered by the simulator.
reads_done() {
  [ "$(grep -cE 'request 03 [0-9a-f ]+\| reply 03 [0-9a-f ]+\| success \(0\)' "$log" || true)" -ge 2 ]
}
for _ in $(seq 100); do reads_done && break; sleep 0.1; done
reads_done || { cat "$log"; fail "the demo's window did not read from the simulator"; }
shot=${BENCH_DEMO_SHOT:-$runtime/demo.png}
import -window "$id" "$shot"
click_at "$id" 907 91   # 退出 (Exit)
exited_within "$demo" 10 || { cat "$log"; fail "the demo did not end with its program"; }
wait "$demo" || { cat "$log"; fail "the demo ended with status $?"; }
if kill -0 "$slave" 2>/dev/null; then fail "the demo left its simulator running"; fi
echo "ok - demo starts the simulator and Wordbench, and stops both"
passed=$((passed + 1))
echo "$passed passed, 0 failed"
