#!/usr/bin/env bash
# The main window under a real window manager (openbox on Xvfb): a normal top-level window that
# is transient for nothing and listed for taskbars, that opens taller than its smallest size and may grow; a later start brings it back
# from minimised with its file; it comes back where it was, and onto the screen when its place
# is off every screen.
#   window_manager_test.sh PROGRAM SOURCE_DIR
# Exits 77 (skipped) only when one of the tools is not installed.
set -euo pipefail
program=$(realpath "$1")
source_dir=$2

for tool in Xvfb openbox xprop wmctrl xdotool xdpyinfo; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (scripts/install-deps.sh installs it)"
        exit 77
    fi
done

fail() { echo "FAIL: $*"; exit 1; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }
# wait_until TIMEOUT_MS COMMAND...: polls the condition until it holds.
wait_until() {
    local timeout=$1 start
    shift
    start=$(now_ms)
    until "$@" >/dev/null 2>&1; do
        (($(now_ms) - start > timeout)) && return 1
        sleep 0.05
    done
}

work=$(mktemp -d /tmp/pelorvane-wm.XXXXXX)
pids=()
cleanup() {
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# A display of this test's own range; the lock file tells which are taken.
display=""
for n in 92 93 94 95; do
    [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -noreset -screen 0 1280x1024x24 >"$work/xvfb.log" 2>&1 &
    pid=$!
    if wait_until 5000 xdpyinfo -display ":$n"; then
        pids+=("$pid")
        display=":$n"
        break
    fi
    kill "$pid" 2>/dev/null || true
done
[ -n "$display" ] || fail "no free display among :92-:95"
export DISPLAY=$display
openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
wait_until 10000 wmctrl -m || fail "openbox did not start"

mkdir -p "$work/songs/demo" "$work/run" "$work/config"
chmod 700 "$work/run"
cp "$source_dir"/res/inst_name_gm.txt "$work/songs/"
cp "$source_dir"/res/demo/*.mid "$work/songs/demo/"
printf '"%s", "%s",0x0001\r\n' "$work/songs/demo/01_kirakiraboshi.mid" "きらきら星" >"$work/songs/songlist.txt"
export XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/config PELORVANE_MIDI=memory
export QT_QPA_PLATFORM=xcb LANG=C.UTF-8

start_program() {
    (cd "$work/songs" && exec "$program" "$@") >>"$work/program.log" 2>&1 &
    program_pid=$!
    pids+=("$program_pid")
}
find_window() { xdotool search --onlyvisible --name '^Pelorvane$' 2>/dev/null | head -n 1; }
has_window() { [ -n "$(find_window)" ]; }
wait_window() {
    wait_until 20000 has_window || { cat "$work/program.log"; fail "no window"; }
    wid=$(find_window)
}
prop() { xprop -id "$wid" "$@" 2>/dev/null; }
root_prop() { xprop -root "$@" 2>/dev/null; }
# Frame position as the window manager reports it: "X Y".
position() { wmctrl -lG | awk -v id="$(printf '0x%08x' "$wid")" '$1 == id { print $3, $4 }'; }
is_active() { root_prop _NET_ACTIVE_WINDOW | grep -qi "$(printf '0x%x' "$wid")\$"; }
is_hidden() { prop _NET_WM_STATE | grep -q _NET_WM_STATE_HIDDEN; }
not_hidden() { ! is_hidden; }
close_program() {
    wmctrl -i -c "$wid"
    local status=0
    wait "$program_pid" || status=$?
    [ "$status" -eq 0 ] || fail "the program ended with $status"
}

# --- The window's kind ----------------------------------------------------------------------
start_program
wait_window
type=$(prop _NET_WM_WINDOW_TYPE)
grep -q '_NET_WM_WINDOW_TYPE_NORMAL' <<<"$type" || fail "window type: $type"
grep -q '_NET_WM_WINDOW_TYPE_DIALOG' <<<"$type" && fail "still typed a dialog: $type"
transient=$(prop WM_TRANSIENT_FOR)
grep -q 'not found' <<<"$transient" || fail "transient: $transient"
state=$(prop _NET_WM_STATE)
grep -q -e MODAL -e SKIP_TASKBAR -e SKIP_PAGER <<<"$state" && fail "state: $state"
root_prop _NET_CLIENT_LIST | grep -qi "$(printf '0x%x' "$wid")\b" || fail "not in the client list"
wmctrl -l | grep -q "Pelorvane\$" || fail "wmctrl does not list it"
hints=$(prop WM_NORMAL_HINTS)
min=$(sed -n 's/.*program specified minimum size: \(.*\)$/\1/p' <<<"$hints")
max=$(sed -n 's/.*program specified maximum size: \(.*\)$/\1/p' <<<"$hints")
size=$(sed -n 's/.*specified size: \(.*\)$/\1/p' <<<"$hints" | head -n 1)
# The first start opens larger than the smallest size where the screen has room, so that the
# falling notes show below the controls.
opens_at_least_smallest() {
    local mw mh w h
    read -r mw mh < <(sed 's/ by / /' <<<"$min")
    read -r w h < <(sed 's/ by / /' <<<"$size")
    ((w >= mw && h > mh))
}
[ -n "$min" ] && [ -n "$size" ] && opens_at_least_smallest ||
    fail "does not open taller than its smallest size: $hints"
[ -z "$max" ] || fail "cannot grow: $hints"

# --- A later start brings the window back with its file -------------------------------------
xdotool windowminimize "$wid"
wait_until 5000 is_hidden || fail "the window did not minimise"
song=$work/songs/demo/03_kaeru_no_gassho.mid
# From the same working folder, as the launcher starts every copy.
(cd "$work/songs" && exec timeout 30 "$program" "$song") >>"$work/program.log" 2>&1 ||
    fail "the second start ended with $?"
wait_until 5000 not_hidden || fail "the window stayed minimised"
wait_until 5000 is_active || fail "the window did not come to the front"

# --- The window comes back where it was -----------------------------------------------------
first=$(position)
# The first start's window is nearly as tall as the screen: smaller, so that the place is its own.
wmctrl -i -r "$wid" -e 0,310,220,640,620
moved_to() { [ "$(position)" = "$1" ]; }
moved_from() { [ "$(position)" != "$1" ]; }
wait_until 5000 moved_from "$first" || fail "wmctrl did not move the window from $first"
# A move and a resize may reach the window in more than one step: the place is taken once it
# holds still.
settled() {
    local now
    now=$(position)
    sleep 0.3
    [ "$now" = "$(position)" ]
}
wait_until 5000 settled || fail "the window did not settle after the move"
before=$(position)
close_program
grep -q "03_kaeru_no_gassho.mid" "$work/songs/songlist.txt" || fail "the handed-over song is not saved"
start_program
wait_window
wait_until 5000 moved_to "$before" || fail "came back at $(position), was at $before"
close_program

# --- A place off every screen ---------------------------------------------------------------
printf '[window]\nx=4000\ny=-3000\n' >"$work/config/pelorvane/pelorvane.conf"
start_program
wait_window
read -r x y < <(position)
eval "$(xdotool getwindowgeometry --shell "$wid")"
((x >= 0 && y >= 0 && x + WIDTH <= 1280 && y + HEIGHT <= 1024)) ||
    fail "off the screen at $x,$y (${WIDTH}x$HEIGHT)"
close_program
echo "window manager checks ok on $display"
