#!/usr/bin/env bash
# Measures the figures of the window under Xvfb with real MIDI ports on a private JACK server
# (dummy backend; "kbd:out" as the keyboard's keys, "midi-monitor:input" as its sound):
#   1. start-up: from starting the program to its window shown, with a 1,000-song songlist.txt
#      (median of 5 starts);
#   2. idle CPU of the whole program (all threads) over 20 s, a song selected, nothing playing;
#   3. CPU while playing a song to the JACK port over 20 s (model performance);
#   4. the falling-notes view in a 1024x768 window while a dense song plays (16 channels, 320
#      notes a second): frames drawn a second, the user-interface thread's frame time at p99,
#      the whole program's CPU; then the same window stopped.
#   scripts/measure.sh            (PELORVANE_BUILD_DIR, default build; built if needed)
#   PELORVANE_XVFB_DISPLAY=N picks the Xvfb display number (default: a random one).
#   PELORVANE_MEASURE_METRONOME=1 plays with the metronome on (figures 3 and 4).
#   PELORVANE_MEASURE_THREADS=1 adds, after each CPU figure, every thread's wake-ups a second
#   (its switches off the processor, asked for or not) and its run time to the nanosecond: on a
#   loaded machine they say more than the few 10 ms clock ticks a quiet thread takes.
#   PELORVANE_MEASURE_PERF=FILE: after figure 3, while the song still plays, records the window
#   thread's call stacks for as many seconds again into FILE (perf record), for perf report.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/gui_session.sh

# A display number of our own: several Xvfb servers may start at once on a shared machine.
# -noreset: the server would otherwise reset whenever the program ends and refuse the next start.
if [ "${PELORVANE_IN_XVFB:-0}" != "1" ]; then
    pv_program >/dev/null
    PELORVANE_IN_XVFB=1 PELORVANE_NO_BUILD=1 exec xvfb-run -a -n "${PELORVANE_XVFB_DISPLAY:-$((200 + RANDOM % 400))}" -s "-noreset -screen 0 1024x768x24" \
        "$PWD/scripts/measure.sh"
fi

program=$(pv_program)
xserver_pid=$(pgrep -n -f "Xvfb ${DISPLAY} " || true)
work=$(mktemp -d /tmp/pelorvane-measure.XXXXXX)
trap 'pv_cleanup; rm -rf "$work"' EXIT
export LANG=${LANG:-C.UTF-8}
# The window's place and size come from a state file of our own, not the user's.
export XDG_CONFIG_HOME="$work/config"
hz=$(getconf CLK_TCK)
seconds=${PELORVANE_MEASURE_SECONDS:-20}
metronome=${PELORVANE_MEASURE_METRONOME:-0}
mkdir -p "$XDG_CONFIG_HOME/pelorvane"
# The window remembers the metronome in its own state file.
metronome_state() {
    [ "$metronome" = "1" ] && printf '[time]\nmetronome=1\n' || true
}

pv_start_jack "pvmeasure-$$"
pv_make_workdir "$work" 0x0001
pv_write_settings "$work" "kbd:out" "midi-monitor:input"

# 1,000 songs: the three demo songs, then 997 further files (hard links to them) with their
# own paths and titles. Nothing is loaded at start, but every line is read and listed.
cp "$work/songlist.txt" "$work/songlist-demo.txt"
mkdir -p "$work/many"
for i in $(seq 4 1000); do
    src=$(printf '%s\n' "$work"/demo/*.mid | sed -n "$((i % 3 + 1))p")
    ln "$src" "$work/many/song-$i.mid"
    printf '"%s", "%s",0x0001\r\n' "$work/many/song-$i.mid" "練習曲 $i" >>"$work/songlist.txt"
done
cp "$work/songlist.txt" "$work/songlist-1000.txt"
echo "songlist.txt: $(grep -c . "$work/songlist.txt") songs; $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg);" \
    "JACK at 48000 Hz, ${PELORVANE_JACK_PERIOD:-1024} frames per period"

start_program() {
    (cd "$work" && exec "$program") >>"$work/program.log" 2>&1 &
    program_pid=$!
}

stop_program() {
    local wid=$1
    pv_key "$wid" Escape
    for _ in $(seq 100); do
        kill -0 "$program_pid" 2>/dev/null || break
        sleep 0.05
    done
    if kill -0 "$program_pid" 2>/dev/null; then
        kill "$program_pid"
    fi
    wait "$program_pid" 2>/dev/null || true
}

# --- 1. start-up
startup() {
    local list=$1
    times=()
    for run in 1 2 3 4 5; do
        cp "$list" "$work/songlist.txt"
        t0=$(pv_now_ms)
        start_program
        if ! wid=$(pv_wait_window Pelorvane 20000); then
            echo "the window did not appear; log: $(cat "$work/program.log")" >&2
            exit 1
        fi
        t1=$(pv_now_ms)
        times+=($((t1 - t0)))
        sleep 0.3
        stop_program "$wid"
    done
    sorted=$(printf '%s\n' "${times[@]}" | sort -n | tr '\n' ' ')
    median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 3p)
}
startup "$work/songlist-1000.txt"
echo "start-up to window shown (1,000 songs): median ${median} ms; runs: $sorted"
startup "$work/songlist-demo.txt"
echo "start-up to window shown (3 songs, for comparison): median ${median} ms; runs: $sorted"

# --- 2. idle and 3. playing, with the three demo songs
cp "$work/songlist-demo.txt" "$work/songlist.txt"
if [ "$metronome" = "1" ]; then
    metronome_state >>"$XDG_CONFIG_HOME/pelorvane/pelorvane.conf"
    echo "metronome on while playing"
fi
start_program
wid=$(pv_wait_window Pelorvane 20000)
sleep 1
pv_click_song "$wid" 1
sleep 2

# Prints the whole program's share of one core over the period; the busiest threads go to
# threads.txt, and with PELORVANE_MEASURE_THREADS=1 every thread's wake-ups follow them.
cpu_percent() {
    local a b
    pv_thread_ticks "$program_pid" >"$work/threads-before.txt"
    pv_thread_switches "$program_pid" >"$work/switches-before.txt"
    a=$(pv_cpu_ticks "$program_pid")
    xa=$(pv_run_ns "$xserver_pid")
    sleep "$seconds"
    xb=$(pv_run_ns "$xserver_pid")
    b=$(pv_cpu_ticks "$program_pid")
    pv_thread_switches "$program_pid" >"$work/switches-after.txt"
    pv_thread_ticks "$program_pid" >"$work/threads-after.txt"
    awk -v hz="$hz" -v s="$seconds" '
        NR == FNR { before[$1] = $3; next }
        { d = $3 - before[$1]; if (d > 0) printf "    thread %s (%s): %.2f%%\n", $1, $2, d * 100 / hz / s }
    ' "$work/threads-before.txt" "$work/threads-after.txt" >"$work/threads.txt"
    if [ "${PELORVANE_MEASURE_THREADS:-0}" = "1" ]; then
        awk -v s="$seconds" '
            NR == FNR { before[$1] = $3; ran[$1] = $4; next }
            ($1 in before) { w = ($3 - before[$1]) / s; c = ($4 - ran[$1]) / 1e7 / s
                             total += w; cpu += c
                             printf "    wake-ups of thread %s (%s): %.1f a second, %.3f%% of one core\n", $1, $2, w, c }
            END { printf "    wake-ups of all threads: %.1f a second, %.3f%% of one core\n", total, cpu }
        ' "$work/switches-before.txt" "$work/switches-after.txt" >>"$work/threads.txt"
    fi
    # What the program asks of the X server is part of its cost, though not in its own figure.
    awk -v d=$((xb - xa)) -v s="$seconds" 'BEGIN { printf "    the X server meanwhile: %.3f%% of one core\n", d / 1e7 / s }' >>"$work/threads.txt"
    awk -v d=$((b - a)) -v hz="$hz" -v s="$seconds" 'BEGIN { printf "%.2f", d * 100 / hz / s }'
}

idle=$(cpu_percent)
echo "idle CPU over ${seconds} s: ${idle}% of one core"
cat "$work/threads.txt"

before=$(wc -l <"$PV_JACK_DUMP")
pv_key "$wid" F5
sleep 1
playing=$(cpu_percent)
after=$(wc -l <"$PV_JACK_DUMP")
echo "CPU while playing to a JACK port over ${seconds} s: ${playing}% of one core" \
    "($((after - before)) MIDI events reached the port)"
cat "$work/threads.txt"
if [ -n "${PELORVANE_MEASURE_PERF:-}" ]; then
    perf record -q -g --call-graph dwarf -t "$program_pid" -o "$PELORVANE_MEASURE_PERF" -- sleep "$seconds" >/dev/null 2>&1 ||
        echo "perf record failed" >&2
fi
pv_key "$wid" F9
sleep 0.3
stop_program "$wid"

# --- 4. the falling-notes view, in a window grown to fill the 1024x768 screen
build=${PELORVANE_BUILD_DIR:-build}
[ -x "$build/bench/timing/pelorvane-dense-song" ] || cmake --build "$build" --target pelorvane-dense-song >&2
echo "dense song: $("$build/bench/timing/pelorvane-dense-song" "$work/dense.mid" 180), 16 channels, two of them practised"
printf '"%s", "%s",0x0003\r\n' "$work/dense.mid" "密な曲" >"$work/songlist.txt"
mkdir -p "$XDG_CONFIG_HOME/pelorvane"
{
    printf '[window]\nx=0\ny=0\nwidth=1024\nheight=768\n'
    metronome_state
} >"$XDG_CONFIG_HOME/pelorvane/pelorvane.conf"
export PELORVANE_FRAME_LOG="$work/frames.log"
: >"$PELORVANE_FRAME_LOG"
start_program
wid=$(pv_wait_window Pelorvane 20000)
sleep 1
pv_click_song "$wid" 0
sleep 2
eval "$(xdotool getwindowgeometry --shell "$wid")"
pv_key "$wid" F5
sleep 2
first=$(($(wc -l <"$PELORVANE_FRAME_LOG") + 1))
view_cpu=$(cpu_percent)
last=$(wc -l <"$PELORVANE_FRAME_LOG")
# One line a second while frames are drawn: "frames N ms M p99_us P max_us X".
frames=$(sed -n "${first},${last}p" "$PELORVANE_FRAME_LOG" | awk '
    { n += $2; ms += $4; if ($6 > p) p = $6; if ($8 > mx) mx = $8 }
    END { printf "%.1f frames a second over %d s; frame time p99 %.2f ms (worst second), longest %.2f ms",
          n * 1000 / (ms ? ms : 1), ms / 1000, p / 1000, mx / 1000 }')
echo "falling-notes view, window ${WIDTH}x${HEIGHT}, dense song playing (model performance): $frames;" \
    "whole program ${view_cpu}% of one core over ${seconds} s"
cat "$work/threads.txt"
pv_key "$wid" F9
sleep 1
before_frames=$(wc -l <"$PELORVANE_FRAME_LOG")
view_idle=$(cpu_percent)
echo "falling-notes view, 1024x768, stopped: ${view_idle}% of one core over ${seconds} s;" \
    "$(($(wc -l <"$PELORVANE_FRAME_LOG") - before_frames)) seconds with frames drawn"
stop_program "$wid"
