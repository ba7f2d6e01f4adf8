#!/usr/bin/env bash
# Screenshots of the Pelorvane window under Xvfb, for looking at the layout and the Japanese
# text: the main window idle, during a my-pace lesson (lit LED, activity bars), during the model
# performance, a loop set on the position bar and played (also in the lesson at x0.8), the settings
# dialog, the About box, and a lesson waiting on a chord with the screen keyboard showing its lit
# keys, one held key and one wrong one; then the window grown, with the falling-notes view: the
# model performance of a demo song, a loop shaded, the lesson waiting with one wrong key, and a
# window as wide as the screen.
#   scripts/screenshots.sh [output folder]     (default: build/screenshots)
#   PELORVANE_XVFB_DISPLAY=N picks the Xvfb display number (default: a random one).
# Builds the program if needed (PELORVANE_BUILD_DIR, default build). Needs xvfb, xdotool and
# imagemagick (scripts/install-deps.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/screenshots}")
source scripts/lib/gui_session.sh

# A display number of our own: several Xvfb servers may start at once on a shared machine.
# -noreset: the server would otherwise reset whenever the program ends and refuse the next start.
if [ "${PELORVANE_IN_XVFB:-0}" != "1" ]; then
    pv_program >/dev/null
    mkdir -p "$out"
    PELORVANE_IN_XVFB=1 PELORVANE_NO_BUILD=1 exec xvfb-run -a -n "${PELORVANE_XVFB_DISPLAY:-$((200 + RANDOM % 400))}" -s "-noreset -screen 0 1024x768x24" \
        "$PWD/scripts/screenshots.sh" "$out"
fi

program=$(pv_program)
work=$(mktemp -d /tmp/pelorvane-shots.XXXXXX)
trap 'pv_cleanup; rm -rf "$work"' EXIT

pv_make_workdir "$work" 0x0001
# Real MIDI ports on a private JACK server; the keyboard holds the keys of the demo melodies,
# so the lesson moves on as if played.
pv_start_jack "pvshots-$$" 55 57 59 60 62 64 65 67 69
pv_write_settings "$work" "kbd:out" "midi-monitor:input"
export LANG=${LANG:-C.UTF-8}
# The window's place and size come from a state file of our own, not the user's.
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME/pelorvane"

# The whole screen, cut to the main window once it exists (dialogs open over it).
shot() {
    import -window root "$out/$1.png"
    if [ -n "${main:-}" ]; then
        eval "$(xdotool getwindowgeometry --shell "$main")"
        convert "$out/$1.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out/$1.png"
    fi
    echo "wrote $out/$1.png"
}

(cd "$work" && exec "$program") >"$out/program.log" 2>&1 &
program_pid=$!
PV_PIDS+=("$program_pid")

main=""
if ! main=$(pv_wait_window Pelorvane 20000); then
    shot failed-start
    echo "the main window did not appear; see $out/failed-start.png and $out/program.log" >&2
    exit 1
fi
sleep 0.5

# Idle, with the second song (melody, strings, bass, drums) selected.
pv_click_song "$main" 1
sleep 0.5
shot main-idle

# My-pace lesson a moment in, the player keeping up.
pv_key "$main" F6
sleep 2.2
shot main-lesson
pv_key "$main" F9
sleep 0.3

# Model performance a moment in: bars of every track at their various ages.
pv_key "$main" F5
sleep 2.2
shot main-playing
pv_key "$main" F9
sleep 0.3

# A passage to repeat: the place moved a third into the song with a click on the position bar
# (295-307 dialog units high; its groove takes the right part), A set there with [, B a little
# further on with ], then the model performance looping over it.
pv_click "$main" 150 301
sleep 0.3
pv_key "$main" bracketleft
pv_click "$main" 200 301
sleep 0.3
pv_key "$main" bracketright
sleep 0.3
shot passage-loop
pv_key "$main" F5
sleep 2.5
shot passage-playing
pv_key "$main" F9
sleep 0.3
# The same passage in the lesson at x0.8 (two steps down the slider), long enough to go round.
pv_key "$main" Left Left
pv_key "$main" F6
sleep 9
shot passage-lesson
pv_key "$main" F9
sleep 0.3
pv_key "$main" Right Right Home

# Settings dialog (button 1011 at 210, 264, 66 x 24).
pv_click "$main" 243 276
if dialog=$(pv_wait_window "設定" 5000); then
    sleep 0.3
    shot settings
    pv_key "$dialog" Escape
    pv_wait_gone "設定" || true
else
    shot failed-settings
    echo "the settings dialog did not open" >&2
fi

# About box from the window's context menu: right click between the lists and the buttons.
pv_click "$main" 207 60 3
sleep 0.4
xdotool key Down Return
if about=$(pv_wait_window "バージョン情報 Pelorvane" 5000); then
    sleep 0.3
    shot about
    pv_key "$about" Escape
    pv_wait_gone "バージョン情報 Pelorvane" || true
else
    shot failed-about
    echo "the About box did not open" >&2
fi

# Esc closes the main window; the program saves its files and ends.
pv_key "$main" Escape
for _ in $(seq 50); do
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$program_pid" 2>/dev/null; then
    echo "the program did not end after Esc" >&2
    exit 1
fi

# A lesson waiting on the chord C4 E4 G4 at 0.5 s, played on the screen keyboard: the keyboard on
# the input falls quiet, so that only the screen's keys are held.
kill "${PV_PIDS[2]}" 2>/dev/null || true
wait "${PV_PIDS[2]}" 2>/dev/null || true
jack_midiseq kbd 480000000 0 0 1 >/dev/null 2>&1 &
PV_PIDS+=($!)
for _ in $(seq 100); do
    jack_lsp 2>/dev/null | grep -q '^kbd:out$' && break
    sleep 0.05
done
chord="$work/chord"
mkdir -p "$chord"
cp "$work/setting.txt" "$work/inst_name_gm.txt" "$chord/"
# Format 0, 480 ticks per quarter at 120 per minute: the chord at 480 ticks, released at 960.
printf 'MThd\x00\x00\x00\x06\x00\x00\x00\x01\x01\xe0MTrk\x00\x00\x00\x1e' >"$chord/chord.mid"
printf '\x83\x60\x90\x3c\x64\x00\x90\x40\x64\x00\x90\x43\x64' >>"$chord/chord.mid"
printf '\x83\x60\x80\x3c\x00\x00\x80\x40\x00\x00\x80\x43\x00\x00\xff\x2f\x00' >>"$chord/chord.mid"
printf '"%s", "%s",%s\r\n' "$chord/chord.mid" "和音" 0x0001 >"$chord/songlist.txt"

(cd "$chord" && exec "$program") >"$out/program-chord.log" 2>&1 &
program_pid=$!
PV_PIDS+=("$program_pid")
if ! main=$(pv_wait_window Pelorvane 20000); then
    shot failed-chord-start
    exit 1
fi
sleep 0.5
pv_click_song "$main" 0
sleep 0.3
pv_key "$main" F6
sleep 1.0
# Hold C4 with the mouse (the screen keyboard spans C2-C7 across 6-285 dialog units at 309-353,
# 36 white keys; C4 is the 15th), then D4, a wrong key, from the computer keyboard.
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove --window "$main" $(((6 + 279 * 29 / 72) * WIDTH / PV_DU_WIDTH)) \
    $((346 * HEIGHT / PV_DU_HEIGHT)) mousedown 1
sleep 0.2
xdotool keydown w
sleep 0.3
shot lesson-keyboard
xdotool keyup w
xdotool mouseup 1
sleep 0.2
pv_key "$main" Escape
for _ in $(seq 50); do
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.1
done

# --- The window grown, with the falling-notes view above the keyboard.
grow_window() {
    printf '[window]\nx=0\ny=0\nwidth=%s\nheight=%s\n' "$1" "$2" >"$XDG_CONFIG_HOME/pelorvane/pelorvane.conf"
}
start_in() {
    (cd "$1" && exec "$program") >>"$out/program-view.log" 2>&1 &
    program_pid=$!
    PV_PIDS+=("$program_pid")
    if ! main=$(pv_wait_window Pelorvane 20000); then
        shot failed-view-start
        exit 1
    fi
    sleep 0.5
}
end_program() {
    pv_key "$main" Escape
    for _ in $(seq 50); do
        kill -0 "$program_pid" 2>/dev/null || break
        sleep 0.1
    done
}

# The model performance of the second demo song, in a taller window.
grow_window 720 760
start_in "$work"
pv_click_song "$main" 1
sleep 0.3
pv_key "$main" F5
sleep 3.2
shot view-playing
pv_key "$main" F9
sleep 0.3
# A loop from the start of bar 3 to the start of bar 4, shaded; bar lines with their numbers.
# The keys work outside the lists: the focus goes to the screen keyboard first.
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove --window "$main" 22 $((HEIGHT - 16)) click 1
sleep 0.2
pv_key "$main" Home
pv_key "$main" Next
pv_key "$main" Next
pv_key "$main" bracketleft
pv_key "$main" Next
pv_key "$main" bracketright
pv_key "$main" Home
pv_key "$main" Next
sleep 0.5
shot view-loop
pv_key "$main" backslash
end_program

# The lesson waiting on the chord: C4 held by mouse, D4 (wrong) from the computer keyboard. The
# keyboard spans the window less its margins of 6 dialog units; C4 is the 15th of 36 white keys.
start_in "$chord"
pv_click_song "$main" 0
sleep 0.3
pv_key "$main" F6
sleep 1.0
eval "$(xdotool getwindowgeometry --shell "$main")"
margin=$((6 * 509 / PV_DU_WIDTH))
xdotool mousemove --window "$main" $((margin + (WIDTH - 2 * margin) * 29 / 72)) $((HEIGHT - 12)) mousedown 1
sleep 0.2
xdotool keydown w
sleep 0.4
shot view-lesson-wrong-key
xdotool keyup w
xdotool mouseup 1
sleep 0.2
end_program

# As wide as the screen.
grow_window 1024 740
start_in "$work"
pv_click_song "$main" 2
sleep 0.3
pv_key "$main" F5
sleep 2.5
shot view-wide
pv_key "$main" F9
end_program
