#!/bin/sh
# Starts Pelorvane in the user's own working directory, which holds songlist.txt, setting.txt
# and inst_name_gm.txt. On the first start that directory gets the instrument names and the
# demo songs, and a song list naming them.
#
# Installed as bin/pelorvane. scripts/run.sh runs it from the source tree with
# PELORVANE_PROGRAM and PELORVANE_SHARE pointing into the build and res/.
set -eu

here=$(dirname "$(readlink -f "$0")")
program_rel="../libexec/pelorvane/pelorvane"
share_rel="../share/pelorvane"
program=${PELORVANE_PROGRAM:-$here/$program_rel}
share=${PELORVANE_SHARE:-$here/$share_rel}

# --help and --version need neither a display nor the working directory.
for arg in "$@"; do
    case $arg in
        --) break ;;
        -h|--help|--version) exec "$program" "$@" ;;
    esac
done

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "pelorvane: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2
    echo "pelorvane: start it from a desktop session." >&2
    exit 1
fi
if [ ! -x "$program" ]; then
    echo "pelorvane: the program is missing: $program" >&2
    exit 1
fi

# XDG: an unset, empty or relative XDG_DATA_HOME means ~/.local/share.
case "${XDG_DATA_HOME:-}" in
    /*) data_home=$XDG_DATA_HOME ;;
    *) data_home=$HOME/.local/share ;;
esac
workdir=$data_home/pelorvane
mkdir -p "$workdir"

if [ ! -e "$workdir/inst_name_gm.txt" ] && [ -f "$share/inst_name_gm.txt" ]; then
    cp "$share/inst_name_gm.txt" "$workdir/inst_name_gm.txt"
fi

# Only a first start gets a song list; after that it belongs to the user.
if [ ! -e "$workdir/songlist.txt" ]; then
    mkdir -p "$workdir/demo"
    list=$(mktemp "$workdir/.songlist.XXXXXX")
    for song in "01_kirakiraboshi.mid|きらきら星" \
                "02_yorokobi_no_uta.mid|よろこびの歌" \
                "03_kaeru_no_gassho.mid|かえるの合唱"; do
        file=${song%%|*}
        title=${song#*|}
        [ -f "$share/demo/$file" ] || continue
        # A demo song the user kept from before is not overwritten.
        [ -e "$workdir/demo/$file" ] || cp "$share/demo/$file" "$workdir/demo/$file"
        # Path, title, and MIDI channel 1 as the practice track; CR LF as the program writes it.
        printf '"%s", "%s",0x0001\r\n' "$workdir/demo/$file" "$title" >>"$list"
    done
    chmod 644 "$list"
    mv "$list" "$workdir/songlist.txt"
fi

# A first start plays on the built-in synthesizer, so that someone without a sounding keyboard
# hears the demo songs at once; a keyboard is chosen later in the settings dialog.
if [ ! -e "$workdir/setting.txt" ]; then
    settings=$(mktemp "$workdir/.setting.XXXXXX")
    printf 'Pelorvane:1.0\r\nInMidiDeviceName:Digital Keyboard-1\r\nOutMidiDeviceName:内蔵シンセサイザー\r\n' >"$settings"
    chmod 644 "$settings"
    mv "$settings" "$workdir/setting.txt"
fi

# Files named relative to where the launcher was started, made absolute before the change of
# directory; options and URLs pass as they are.
options_ended=0
for arg in "$@"; do
    shift
    case $options_ended:$arg in
        0:--) options_ended=1 ;;
        0:-*) ;;
        *:/*|*:file:*|*:) ;;
        *) arg=$PWD/$arg ;;
    esac
    set -- "$@" "$arg"
done

cd "$workdir"
exec "$program" "$@"
