#!/usr/bin/env bash
# Builds the Debian package from the build folder with cpack, then checks what it would install:
# the files, the declared dependencies, the desktop entry and the AppStream metainfo through
# their validators, the man page, and that the packaged launcher runs the packaged program.
#   package_test.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")

for tool in cpack dpkg-deb dpkg-shlibdeps desktop-file-validate appstreamcli; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool (scripts/install-deps.sh installs it)"; exit 1; }
done

work=$(mktemp -d /tmp/pelorvane-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack"; }
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
deb="$work/out/pelorvane_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { ls "$work/out"; fail "no $deb"; }

# Dependencies: the libraries found by dpkg-shlibdeps and the run-time data loaded by name.
depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6widgets6 libqt6network6 librtmidi6 libfluidsynth3 libc6 timgm6mb-soundfont \
               fonts-ipafont-gothic; do
    grep -q "\b$package\b" <<<"$depends" || fail "Depends lacks $package: $depends"
done

dpkg-deb -x "$deb" "$work/root"
root=$work/root
for file in usr/bin/pelorvane usr/libexec/pelorvane/pelorvane \
            usr/share/applications/pelorvane.desktop \
            usr/share/metainfo/org.pelorvane.pelorvane.metainfo.xml \
            usr/share/man/man1/pelorvane.1.gz usr/share/pelorvane/inst_name_gm.txt \
            usr/share/pelorvane/demo/01_kirakiraboshi.mid \
            usr/share/pelorvane/demo/02_yorokobi_no_uta.mid \
            usr/share/pelorvane/demo/03_kaeru_no_gassho.mid; do
    [ -s "$root/$file" ] || fail "missing $file"
done
for size in 16 32 48 64 128 256; do
    [ -s "$root/usr/share/icons/hicolor/${size}x$size/apps/pelorvane.png" ] || fail "no ${size}px icon"
done
# Nothing of the build tree (tests, benchmarks, tools) goes into the package.
others=$(cd "$root" && find . -type f | grep -v -e '^./usr/share/' -e '^./usr/bin/pelorvane$' \
    -e '^./usr/libexec/pelorvane/pelorvane$' || true)
[ -z "$others" ] || fail "unexpected files: $others"

entry=$root/usr/share/applications/pelorvane.desktop
desktop-file-validate "$entry" || fail "desktop-file-validate"
grep -qx 'Exec=/usr/bin/pelorvane %F' "$entry" || fail "Exec line: $(grep ^Exec "$entry")"
grep -qx 'MimeType=audio/midi;audio/x-midi;' "$entry" || fail "MimeType line"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.pelorvane.pelorvane.metainfo.xml" ||
    fail "appstreamcli validate"
gzip -t "$root/usr/share/man/man1/pelorvane.1.gz" || fail "man page is not gzip"
zcat "$root/usr/share/man/man1/pelorvane.1.gz" | grep -q '^\.TH PELORVANE 1' || fail "man page header"

# The packaged launcher finds the packaged program next to it; --version needs no display.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/pelorvane" --version) || fail "launcher --version"
[ "$out" = "Pelorvane $version" ] || fail "version says: $out"
echo "package ok: $(basename "$deb")"
