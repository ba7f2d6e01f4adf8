#!/usr/bin/env bash
# Installs what is missing, builds Pelorvane and starts it in the per-user working directory
# ($XDG_DATA_HOME/pelorvane, usually ~/.local/share/pelorvane). Arguments go to the program.
# PELORVANE_BUILD_DIR chooses the build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

build=${PELORVANE_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja
cmake --build "$build" --target pelorvane

if [ ! -f "$build/pelorvane-program.txt" ]; then
    echo "run.sh: the build did not produce the pelorvane program." >&2
    exit 1
fi
program=$(head -n 1 "$build/pelorvane-program.txt")
if [ ! -x "$program" ]; then
    echo "run.sh: the pelorvane program is missing: $program" >&2
    exit 1
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run.sh: built $program, but there is no display to show its window" >&2
    echo "run.sh: (neither DISPLAY nor WAYLAND_DISPLAY is set). Run this from a desktop session." >&2
    exit 1
fi

PELORVANE_PROGRAM=$program PELORVANE_SHARE=$PWD/res exec sh res/pelorvane-launcher.sh "$@"
