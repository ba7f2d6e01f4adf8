#!/usr/bin/env bash
# The practice results tried as a new user would, under Xvfb with a window manager: a fresh
# working folder made by the launcher's first start (built-in synthesizer, demo songs), the first
# demo song's melody played in a my-pace lesson on the screen keyboard, then in an accompaniment
# with the notes of its third bar left out; screenshots of the 練習結果 window after each run,
# pelorvane-history's lines for the song, the first hard bar's button pressed, which must set
# the loop around that bar, and a run in which nothing is played, which must not be kept. Ends
# non-zero when a step does not give what it should.
#   scripts/trial.sh [output folder]     (default: build/trial)
#   PELORVANE_XVFB_DISPLAY=N picks the Xvfb display number (default: a random one).
# Builds the program if needed (PELORVANE_BUILD_DIR, default build).
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/trial}")
source scripts/lib/gui_session.sh

if [ "${PELORVANE_IN_XVFB:-0}" != "1" ]; then
    pv_program >/dev/null
    build=${PELORVANE_BUILD_DIR:-build}
    cmake --build "$build" --target pelorvane-history >&2
    mkdir -p "$out"
    PELORVANE_IN_XVFB=1 PELORVANE_NO_BUILD=1 exec xvfb-run -a -n "${PELORVANE_XVFB_DISPLAY:-$((200 + RANDOM % 400))}" -s "-noreset -screen 0 1280x800x24" \
        "$PWD/scripts/trial.sh" "$out"
fi

program=$(pv_program)
history_tool=$(realpath "$(find "${PELORVANE_BUILD_DIR:-build}" -name pelorvane-history -type f -perm -u+x | head -n 1)")
work=$(mktemp -d /tmp/pelorvane-trial.XXXXXX)
trap 'pv_cleanup; rm -rf "$work"' EXIT
export LANG=${LANG:-C.UTF-8}
# A new user: nothing of the user's own, the launcher makes the working folder.
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"
folder="$XDG_DATA_HOME/pelorvane"
song="$folder/demo/01_kirakiraboshi.mid"

openbox >/dev/null 2>&1 &
PV_PIDS+=("$!")
sleep 0.5

failures=0
fail() {
    echo "TRIAL FAILED: $*" >&2
    failures=$((failures + 1))
}

shot() {
    import -window root "$out/$1.png"
    echo "wrote $out/$1.png"
}

PELORVANE_PROGRAM=$program PELORVANE_SHARE=$PWD/res sh res/pelorvane-launcher.sh \
    >"$out/program.log" 2>&1 &
program_pid=$!
PV_PIDS+=("$program_pid")
# Messages at the first start (here: no sound device for the built-in synthesizer) come before
# the main window, under the same title; each is shown, then answered.
main=""
for _ in $(seq 10); do
    if ! id=$(pv_wait_window Pelorvane 20000); then
        shot failed-start
        echo "the main window did not appear; see $out/program.log" >&2
        exit 1
    fi
    eval "$(xdotool getwindowgeometry --shell "$id")"
    if ((WIDTH >= 500)); then
        main=$id
        break
    fi
    sleep 0.5
    shot trial-start-message
    xdotool windowactivate --sync "$id" key Return
    sleep 0.5
done
[ -n "$main" ] || { echo "the main window did not appear" >&2; exit 1; }
sleep 1
shot trial-first-start

# The screen keyboard's computer keys: C3..B3 on the lower row, C4..C5 on the upper.
computer_key() {
    local lower=(z s x d c v g b h n j m) upper=(q 2 w 3 e r 5 t 6 y 7 u i)
    if (($1 >= 60)); then echo "${upper[$1 - 60]}"; else echo "${lower[$1 - 48]}"; fi
}
play_key() {
    local key
    key=$(computer_key "$1")
    xdotool keydown "$key"
    sleep 0.08
    xdotool keyup "$key"
}

python3 scripts/lib/melody_notes.py "$song" 1 >"$work/melody.txt"
pv_click_song "$main" 0
sleep 0.5
# The computer keys play the screen keyboard whichever control has the focus (here a button, not
# the song list, whose letters find songs): no click on the keyboard first.
xdotool key Tab
sleep 0.3

# --- the lesson: the first two phrases, each key 0.3 s after the song has stopped for it (the
# song stands still while it waits, so each wait pushes the later notes back by as much).
xdotool key F6
start=$(pv_now_ms)
i=0
head -n 14 "$work/melody.txt" | while read -r ms key; do
    i=$((i + 1))
    while (($(pv_now_ms) - start < ms + i * 300)); do sleep 0.005; done
    play_key "$key"
done
# Then the next phrase a little ahead of the song, each key tapped 150 ms before its note comes
# due: each counts for its note, none is a wrong key, and the lesson never stops for them.
ahead=$(sed -n 14p "$work/melody.txt" | cut -d' ' -f1)
start=$(($(pv_now_ms) - ahead - 80))
sed -n '15,21p' "$work/melody.txt" | while read -r ms key; do
    while (($(pv_now_ms) - start < ms - 150)); do sleep 0.005; done
    play_key "$key"
done
sleep 0.6
shot trial-lesson-playing
xdotool key F9
sleep 1.5
shot trial-lesson-results

# --- the accompaniment: the melody in time for four bars, but the third (5.2 s to 7.8 s at
# x1.0) left out.
xdotool key F7
start=$(pv_now_ms)
while read -r ms key; do
    if ((ms >= 13043)); then
        break
    fi
    if ((ms >= 5200 && ms < 7800)); then
        continue
    fi
    while (($(pv_now_ms) - start < ms - 20)); do sleep 0.005; done
    play_key "$key"
done <"$work/melody.txt"
sleep 0.5
xdotool key F9
sleep 1.5
shot trial-accompaniment-results

# --- the history on the command line: both runs.
(cd "$folder" && "$history_tool" "$song") | tee "$out/history.txt"
grep -q ' lesson ' "$out/history.txt" || fail "no lesson run in the history"
# Every chord of the lesson played, the early taps among them, and not one wrong key.
grep ' lesson ' "$out/history.txt" | grep -Eq ' chords=21 .* wrong=0( |$)' ||
    fail "the lesson's early taps did not each play their chord without a wrong key"
grep -q ' accompaniment ' "$out/history.txt" || fail "no accompaniment run in the history"

# --- the first hard bar's button: the window beside, its first focusable control.
results=$(xdotool search --onlyvisible --name '^練習結果$' | head -n 1 || true)
if [ -z "$results" ]; then
    fail "the 練習結果 window is not shown"
else
    # The first button is the first control that takes the focus.
    xdotool windowactivate --sync "$results"
    sleep 0.3
    xdotool key Tab
    sleep 0.3
    shot trial-button-focused
    xdotool key space
    sleep 0.8
    shot trial-loop-set
    # The play keys belong to the main window again at once.
    [ "$(xdotool getactivewindow)" = "$main" ] || fail "the main window is not active after the bar's button"
fi
# --- a run in which nothing is played: said so in the window, and not kept.
runs_before=$( (cd "$folder" && "$history_tool" "$song") | grep -c '^run ' || true)
xdotool windowactivate --sync "$main" key F7
sleep 2
xdotool key F9
sleep 1.5
shot trial-nothing-played
runs_after=$( (cd "$folder" && "$history_tool" "$song") | grep -c '^run ' || true)
[ "$runs_after" = "$runs_before" ] || fail "a run in which nothing was played was kept"
# The loop is kept with the song's place when the window closes.
xdotool windowactivate --sync "$main" key Escape
pv_wait_gone Pelorvane 10000 || fail "the window did not close"
for _ in $(seq 100); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.1; done
if [ -f "$XDG_CONFIG_HOME/pelorvane/passages.conf" ]; then
    cp "$XDG_CONFIG_HOME/pelorvane/passages.conf" "$out/passages.conf"
    cat "$out/passages.conf"
fi
grep -q '^loopA=' "$out/passages.conf" 2>/dev/null && grep -q '^loopB=' "$out/passages.conf" ||
    fail "no loop kept for the song after the hard bar's button"
(cd "$folder" && "$history_tool" "$song") >"$out/history-after-close.txt"
echo "runs in the history: $(grep -c '^run ' "$out/history-after-close.txt")"
exit $((failures > 0))
