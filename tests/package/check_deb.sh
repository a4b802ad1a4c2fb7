#!/usr/bin/env bash
# Builds the Debian package from a build folder into a scratch folder, unpacks
# it there and checks what it holds: the control fields, every installed file,
# the desktop entry (desktop-file-validate), the MIME definitions (a MIME
# database built from them knows *.ay and *.aym) and the absence of
# maintainer scripts; and that what it gives other programs works from where
# it unpacked: the README's C example builds with the package's header and
# pkg-config file and plays a song, and gst-launch-1.0 plays one through the
# package's plugin, both exactly as the package's zirrafon-render renders it.
# Usage: check_deb.sh BUILD_DIR SCRATCH_DIR
set -euo pipefail
build=$1
scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch"

passed=0
failed=0
check() { # description, command...
  local what=$1
  shift
  if "$@" >>"$scratch/checks.log" 2>&1; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $what" >&2
  fi
}

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log" >&2
  echo "0 passed, 1 failed"
  exit 1
fi
debs=("$scratch"/out/zirrafon_1.0.0_*.deb)
deb=${debs[0]}
[ -f "$deb" ] || { echo "no zirrafon_1.0.0 package in $scratch/out" >&2; echo "0 passed, 1 failed"; exit 1; }
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

field() { dpkg-deb -f "$deb" "$1"; }
check "Package is zirrafon" test "$(field Package)" = zirrafon
check "Version is 1.0.0" test "$(field Version)" = 1.0.0
check "Section is sound" test "$(field Section)" = sound
check "Maintainer" test "$(field Maintainer)" = "Zirrafon project"
depends=$(field Depends)
echo "Depends: $depends"
for lib in libqt6widgets6 libpulse0 libc6 qt6-qpa-plugins liblhasa0 libgstreamer1.0-0 \
  libgstreamer-plugins-bad1.0-0 libsndfile1 libsoxr0; do
  check "Depends names $lib" grep -q "$lib" <<<"$depends"
done

# The desktop's caches are refreshed by triggers: no maintainer scripts but
# the two that run ldconfig for the shared library when it comes and goes.
mkdir -p "$scratch/control"
dpkg-deb -e "$deb" "$scratch/control"
for script in preinst prerm; do
  check "no $script" test ! -e "$scratch/control/$script"
done
# Nothing but "if [ "$1" = STEP ]; then ldconfig; fi" besides the shell's lines.
only_ldconfig() { # script, step
  [ "$(grep -v -e '^#!' -e '^set -e$' -e '^$' "$1")" = \
    "$(printf 'if [ "$1" = "%s" ]; then\n\tldconfig\nfi' "$2")" ]
}
check "postinst does nothing but ldconfig" only_ldconfig "$scratch/control/postinst" configure
check "postrm does nothing but ldconfig" only_ldconfig "$scratch/control/postrm" remove
check "the library's shlibs entry" grep -q '^libzirrafon 1 zirrafon' "$scratch/control/shlibs"

root=$scratch/root
dpkg-deb -x "$deb" "$root"
files=(
  usr/bin/zirrafon
  usr/bin/zirrafon-render
  usr/share/applications/zirrafon.desktop
  usr/share/metainfo/org.ostrowind.Zirrafon.metainfo.xml
  usr/share/mime/packages/zirrafon.xml
  usr/share/doc/zirrafon/README.md
  usr/share/icons/hicolor/scalable/apps/zirrafon.svg
  usr/share/icons/hicolor/scalable/mimetypes/zirrafon-audio-file.svg
)
libdir=usr/lib
plugindir=usr/lib/$(gcc -print-multiarch)/gstreamer-1.0
files+=(
  $libdir/libzirrafon.so.1
  $libdir/libzirrafon.so
  $libdir/pkgconfig/zirrafon.pc
  usr/include/zirrafon/zirrafon.h
  $plugindir/libgstzirrafon.so
)
for size in 16 32 48 64 128 256; do
  files+=("usr/share/icons/hicolor/${size}x${size}/apps/zirrafon.png"
          "usr/share/icons/hicolor/${size}x${size}/mimetypes/zirrafon-audio-file.png")
done
for f in "${files[@]}"; do
  check "$f installed" test -s "$root/$f"
done
check "zirrafon is executable" test -x "$root/usr/bin/zirrafon"
check "zirrafon-render is executable" test -x "$root/usr/bin/zirrafon-render"
check "nothing outside /usr" test "$(ls "$root")" = usr

# The description names every kind of song file the player reads.
description=$(field Description | tr -s ' \n' '  ')
for kind in .ay .aym .ym .vtx .psg; do
  check "description names $kind" grep -q -- "$kind files\|$kind dumps" <<<"$description"
done

# What software centres read: valid, and launching the installed entry.
metainfo=$root/usr/share/metainfo/org.ostrowind.Zirrafon.metainfo.xml
check "appstreamcli validate" appstreamcli validate --no-net "$metainfo"
check "metainfo launches the desktop entry" \
  grep -q '<launchable type="desktop-id">zirrafon.desktop</launchable>' "$metainfo"

entry=$root/usr/share/applications/zirrafon.desktop
check "desktop-file-validate" desktop-file-validate "$entry"
check "Exec runs zirrafon from the PATH" grep -qx 'Exec=zirrafon %F' "$entry"
check "entry handles the song types" grep -qx 'MimeType=audio/x-zxay;audio/x-aym;audio/x-ym;audio/x-vtx;audio/x-psg;audio/x-pt3;audio/x-pt2;' "$entry"

mime=$scratch/mime
mkdir -p "$mime/packages"
cp "$root/usr/share/mime/packages/zirrafon.xml" "$mime/packages/"
check "update-mime-database accepts the definitions" update-mime-database "$mime"
check "*.ay is audio/x-zxay" grep -q ':audio/x-zxay:\*\.ay$' "$mime/globs2"
check "*.aym is audio/x-aym" grep -q ':audio/x-aym:\*\.aym$' "$mime/globs2"
check "the type's description" grep -q '<comment>AY/YM Audio File</comment>' "$mime/audio/x-zxay.xml"

# What other programs get, used from the unpacked tree.
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
song=$source_dir/assets/demo/demo.ay
check "the library exports only its interface" bash -c \
  "! nm -D --defined-only '$root/$libdir/libzirrafon.so.1' | awk '{print \$3}' | grep -v '^zirrafon_' | grep -v '^ZIRRAFON_1.0$'"
flags="$(PKG_CONFIG_PATH=$root/$libdir/pkgconfig pkg-config --cflags --libs zirrafon) -Wl,-rpath,$root/$libdir"
check "the README's example builds on the package and plays a song" \
  bash "$source_dir/tests/lib/readme_example.sh" "$root/usr/share/doc/zirrafon/README.md" "$flags" \
  "$root/usr/bin/zirrafon-render" "$song" "$scratch/example"
"$root/usr/bin/zirrafon-render" -o "$scratch/demo.wav" "$song"
tail -c +45 "$scratch/demo.wav" >"$scratch/demo.raw"
GST_PLUGIN_PATH=$root/$plugindir GST_REGISTRY=$scratch/registry.bin LD_LIBRARY_PATH=$root/$libdir \
  gst-launch-1.0 -q filesrc location="$song" ! decodebin ! audioconvert ! \
  audio/x-raw,format=S16LE,rate=44100,channels=2 ! filesink location="$scratch/gst.raw" \
  >>"$scratch/checks.log" 2>&1
check "gst-launch-1.0 plays a song through the package's plugin" cmp "$scratch/gst.raw" "$scratch/demo.raw"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
