# Helpers for driving the Pelorvane window from a script under X (Xvfb or a desktop):
# a scratch working directory with the demo songs, a private JACK server with a keyboard-like
# pair of ports, waiting for windows, clicking controls by their dialog-unit position.
# Sourced by scripts/screenshots.sh and scripts/measure.sh.

# The main window's client area in dialog units; the layout scales with the font.
PV_DU_WIDTH=291
PV_DU_HEIGHT=359  # the controls take 295, the position bar 14, the screen keyboard the rest

pv_now_ms() { echo $(($(date +%s%N) / 1000000)); }

pv_program() {
    local build=${PELORVANE_BUILD_DIR:-build}
    if [ ! -f "$build/pelorvane-program.txt" ] || [ "${PELORVANE_NO_BUILD:-0}" != "1" ]; then
        [ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja >&2
        cmake --build "$build" --target pelorvane >&2
    fi
    head -n 1 "$build/pelorvane-program.txt"
}

# pv_make_workdir DIR MASK: instrument names, the demo songs and a song list naming them.
pv_make_workdir() {
    local dir=$1 mask=${2:-0x0001}
    mkdir -p "$dir/demo"
    cp res/inst_name_gm.txt "$dir/"
    cp res/demo/*.mid "$dir/demo/"
    : >"$dir/songlist.txt"
    local song title
    for song in "01_kirakiraboshi.mid|きらきら星" "02_yorokobi_no_uta.mid|よろこびの歌" \
                "03_kaeru_no_gassho.mid|かえるの合唱"; do
        printf '"%s", "%s",%s\r\n' "$dir/demo/${song%%|*}" "${song#*|}" "$mask" >>"$dir/songlist.txt"
    done
}

# pv_write_settings DIR IN OUT
pv_write_settings() {
    printf 'Pelorvane:1.0\r\nInMidiDeviceName:%s\r\nOutMidiDeviceName:%s\r\n' "$2" "$3" >"$1/setting.txt"
}

PV_PIDS=()
pv_cleanup() {
    local i
    for ((i = ${#PV_PIDS[@]} - 1; i >= 0; i--)); do
        kill "${PV_PIDS[i]}" 2>/dev/null || true
        wait "${PV_PIDS[i]}" 2>/dev/null || true
    done
    PV_PIDS=()
}

# pv_start_jack NAME [KEY...]: a JACK server with the dummy backend under a private name, a MIDI
# output port "kbd:out" standing in for the keyboard's keys and an input port
# "midi-monitor:input" that records what is played to it (into $PV_JACK_DUMP). With keys, the
# keyboard holds each of them for 0.46 s of every 0.5 s, so a lesson finds them held.
# PELORVANE_JACK_PERIOD sets the frames per period (default 1024, jackd's own default); every
# JACK client of the program wakes once per period.
pv_start_jack() {
    local server=$1
    export JACK_DEFAULT_SERVER=$server
    shift
    local sequence=(480000000 0 0 1) key
    if [ $# -gt 0 ]; then
        sequence=(24000)
        for key in "$@"; do
            sequence+=(0 "$key" 22000)
        done
    fi
    jackd --no-realtime -n "$server" -d dummy -r 48000 -p "${PELORVANE_JACK_PERIOD:-1024}" >/dev/null 2>&1 &
    PV_PIDS+=($!)
    local i
    for i in $(seq 100); do
        jack_lsp >/dev/null 2>&1 && break
        sleep 0.05
    done
    PV_JACK_DUMP=$(mktemp /tmp/pelorvane-midi-dump.XXXXXX)
    stdbuf -oL jack_midi_dump >"$PV_JACK_DUMP" 2>/dev/null &
    PV_PIDS+=($!)
    # Without keys: one note at the start of a loop of almost three hours, a quiet port.
    jack_midiseq kbd "${sequence[@]}" >/dev/null 2>&1 &
    PV_PIDS+=($!)
    for i in $(seq 100); do
        jack_lsp 2>/dev/null | grep -q '^kbd:out$' && jack_lsp 2>/dev/null | grep -q '^midi-monitor:input$' && return 0
        sleep 0.05
    done
    echo "the JACK test ports did not appear" >&2
    return 1
}

# pv_wait_window NAME [TIMEOUT_MS]: prints the id of the visible window with exactly this title.
pv_wait_window() {
    local name=$1 timeout=${2:-15000} start id
    start=$(pv_now_ms)
    while :; do
        id=$(xdotool search --onlyvisible --name "^${name}\$" 2>/dev/null | head -n 1 || true)
        if [ -n "$id" ]; then
            echo "$id"
            return 0
        fi
        if (($(pv_now_ms) - start > timeout)); then
            return 1
        fi
        sleep 0.01
    done
}

# pv_wait_gone NAME [TIMEOUT_MS]
pv_wait_gone() {
    local name=$1 timeout=${2:-5000} start
    start=$(pv_now_ms)
    while xdotool search --onlyvisible --name "^${name}\$" >/dev/null 2>&1; do
        (($(pv_now_ms) - start > timeout)) && return 1
        sleep 0.05
    done
}

# pv_click WINDOW X_DU Y_DU [BUTTON]: clicks at a dialog-unit position of the main window.
pv_click() {
    local wid=$1 x=$2 y=$3 button=${4:-1} w h
    eval "$(xdotool getwindowgeometry --shell "$wid")"
    w=$WIDTH
    h=$HEIGHT
    xdotool mousemove --window "$wid" $((x * w / PV_DU_WIDTH)) $((y * h / PV_DU_HEIGHT)) click "$button"
}

# pv_key WINDOW KEY...: keys go to whatever has the focus; the window is focused first.
pv_key() {
    local wid=$1
    shift
    xdotool windowfocus --sync "$wid" 2>/dev/null || xdotool windowfocus "$wid"
    xdotool key "$@"
}

# Song list rows: the list starts at (7, 7) dialog units; each row is one line of the list font.
pv_click_song() {
    local wid=$1 row=$2
    pv_click "$wid" 40 $((11 + row * 9))
}

# CPU time (user + system, all threads) of a process in clock ticks.
pv_cpu_ticks() {
    local stat
    stat=$(cat "/proc/$1/stat")
    stat=${stat##*) }  # the command name may hold blanks; fields restart after it
    set -- $stat
    echo $((${12} + ${13}))
}

# Nanoseconds all threads of a process have run (0 for no process): finer than its ticks.
pv_run_ns() {
    [ -n "$1" ] || { echo 0; return; }
    cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ ns += $1 } END { printf "%d\n", ns }'
}

# CPU ticks of each thread of a process: "tid name ticks" lines.
pv_thread_ticks() {
    local task stat name
    for task in /proc/"$1"/task/*; do
        stat=$(cat "$task/stat" 2>/dev/null) || continue
        name=${stat#*(}
        name=${name%%)*}
        stat=${stat##*) }
        set -- $stat
        echo "${task##*/} ${name// /_} $((${12} + ${13}))"
    done
}

# Each thread of a process: its switches off the processor, asked for or not (so its
# wake-ups), and the nanoseconds it has run: "tid name switches ns" lines.
pv_thread_switches() {
    local task name ns
    for task in /proc/"$1"/task/*; do
        name=$(cat "$task/comm" 2>/dev/null) || continue
        ns=$(cut -d' ' -f1 "$task/schedstat" 2>/dev/null) || ns=0
        awk -v tid="${task##*/}" -v name="${name// /_}" -v ns="$ns" '
            /^(voluntary|nonvoluntary)_ctxt_switches:/ { n += $2 }
            END { print tid, name, n, ns }
        ' "$task/status" 2>/dev/null || true
    done
}
