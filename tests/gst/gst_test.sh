#!/usr/bin/env bash
# The GStreamer plugin as a player's pipeline meets it, loaded from the build
# tree into a private registry: for a file of every kind, decodebin's output
# is zirrafon-render's samples (song 2 of a file and every song one after
# another too); a seek lands on zirrafon-render --start's samples; the
# discoverer sees duration, songs, tags and seekability; the typefinders claim
# song files by content and leave other files alone; a damaged file posts
# the reason on the bus.
# Usage: gst_test.sh BUILD_DIR TESTDATA_DIR SOURCE_DIR SCRATCH_DIR
set -uo pipefail
build=$1
testdata=$2
source=$3
scratch=$4
rm -rf "$scratch"
mkdir -p "$scratch"
export GST_PLUGIN_PATH=$build/gst-plugins
export GST_REGISTRY=$scratch/registry.bin
render=$build/zirrafon-render
ay=$testdata/ay

passed=0
failed=0
pass() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); echo "FAILED: $*" >&2; }
check() { # description, command...
  local what=$1
  shift
  if "$@" >>"$scratch/checks.log" 2>&1; then pass; else fail "$what"; fi
}

# zirrafon-render's samples, without the WAV header.
expected() { # output, render arguments...
  local out=$1
  shift
  "$render" "$@" -o "$out.wav" >>"$scratch/checks.log" 2>&1 && tail -c +45 "$out.wav" >"$out"
}
same() { # what, got, expected
  if [ -s "$3" ] && cmp -s "$2" "$3"; then
    pass
  else
    fail "$1: $(stat -c %s "$2" 2>/dev/null) bytes against zirrafon-render's $(stat -c %s "$3" 2>/dev/null)"
  fi
}
to_raw='audioconvert ! audio/x-raw,format=S16LE,rate=44100,channels=2'
decode() { # file, output
  gst-launch-1.0 -q filesrc location="$1" ! decodebin ! $to_raw ! filesink location="$2" \
    >>"$scratch/checks.log" 2>&1
}

# Register streams of a real song: zirrafon-render's dumps, a packed copy, a VTX.
"$render" -s 1 -t 20 -o "$scratch/song.ym" "$ay/Renegade.ay"
"$render" -s 1 -t 20 -o "$scratch/song.psg" "$ay/Renegade.ay"
"$build/make_stream_files" "$scratch/song.ym" "$scratch/packed.ym" "$scratch/song.vtx"

check "the decoder ranks above GStreamer's libgme decoder (256)" \
  bash -c "gst-inspect-1.0 zirrafondec | grep -q 'Rank.*(257)'"

# --- decodebin against zirrafon-render ------------------------------------------------------
while read -r label file; do
  expected "$scratch/$label.expected" "$file"
  decode "$file" "$scratch/$label.raw"
  same "decodebin, $label" "$scratch/$label.raw" "$scratch/$label.expected"
done <<EOF
ay-first-song $ay/Renegade.ay
ay-no-length $ay/AcousticDreams.ay
beeper $ay/Alien8.AY
aym $source/assets/demo/demo.aym
ym6 $scratch/song.ym
ym-packed $scratch/packed.ym
vtx $scratch/song.vtx
psg $scratch/song.psg
pt3 $testdata/pt3/megamix.pt3
pt2 $testdata/pt3/4jour-2.pt2
EOF

# Song 2 of several, chosen on the element.
expected "$scratch/song2.expected" -s 2 "$ay/Renegade.ay"
gst-launch-1.0 -q filesrc location="$ay/Renegade.ay" ! zirrafondec current-subsong=1 ! $to_raw ! \
  filesink location="$scratch/song2.raw" >>"$scratch/checks.log" 2>&1
same "song 2 of a file" "$scratch/song2.raw" "$scratch/song2.expected"

# Every song one after another.
: >"$scratch/all.expected"
for s in 1 2 3 4 5; do
  expected "$scratch/all-$s" -s $s "$ay/Alien8.AY" && cat "$scratch/all-$s" >>"$scratch/all.expected"
done
gst-launch-1.0 -q filesrc location="$ay/Alien8.AY" ! zirrafondec subsong-mode=all ! $to_raw ! \
  filesink location="$scratch/all.raw" >>"$scratch/checks.log" 2>&1
same "every song one after another" "$scratch/all.raw" "$scratch/all.expected"

# --- seeking through the pipeline ------------------------------------------------------------
while read -r label seconds file duration; do
  expected "$scratch/seek-$label.expected" --start "$seconds" "$file"
  answer=$("$build/gst_seek" "$file" "$seconds" "$scratch/seek-$label.raw" 2>>"$scratch/checks.log")
  same "seek to $seconds s, $label" "$scratch/seek-$label.raw" "$scratch/seek-$label.expected"
  check "$label: seekable, duration $duration ns ($answer)" test "$answer" = "seekable $duration"
done <<EOF
ay-into-fade 25.5 $ay/Renegade.ay 31000000000
ym-packed 7.7 $scratch/packed.ym 20000000000
beeper 3.21 $ay/Alien8.AY 13000000000
EOF

# --- the discoverer ---------------------------------------------------------------------------
gst-discoverer-1.0 -v "$ay/Renegade.ay" >"$scratch/discover-ay.txt" 2>&1
for line in 'Duration: 0:00:31.000000000' 'Seekable: yes' 'track count: 17' 'track number: 1' \
  'title: Renegade - Title/Hi-Score (AY)' 'artist: Fred Gray' 'comment: (c) 1987 Imagine Software' \
  'container format: AY (ZXAYEMUL)' 'Sample rate: 44100' 'Channels: 2'; do
  check "discoverer on .ay: $line" grep -qF "$line" "$scratch/discover-ay.txt"
done
gst-discoverer-1.0 -v "$scratch/song.vtx" >"$scratch/discover-vtx.txt" 2>&1
for line in 'Duration: 0:00:20.000000000' 'Seekable: yes' 'track count: 1' \
  'title: Renegade - Title/Hi-Score (AY)' 'container format: VTX'; do
  check "discoverer on .vtx: $line" grep -qF "$line" "$scratch/discover-vtx.txt"
done

# --- the typefinders ---------------------------------------------------------------------------
cp "$scratch/song.vtx" "$scratch/vtx-without-extension"
cp "$scratch/packed.ym" "$scratch/ym-packed.dat"
cp "$testdata/pt3/199Xnostalgy.pt3" "$scratch/pt3-module"
cp "$testdata/pt3/PITON.pt2" "$scratch/pt2-module"
printf 'Just some words.\n' >"$scratch/words.ay"
gst-launch-1.0 -q audiotestsrc num-buffers=40 ! lamemp3enc ! filesink location="$scratch/tone.mp3" \
  >>"$scratch/checks.log" 2>&1
typefind() { gst-typefind-1.0 "$1" 2>/dev/null | sed -n 's/.* - //p'; }
while read -r want file; do
  got=$(typefind "$file")
  check "typefind $(basename "$file"): $want (got ${got:-nothing})" test "$got" = "$want"
done <<EOF
audio/x-ay $ay/Renegade.ay
audio/x-ay $ay/Beeper_Demo_part_1.ay
audio/x-aym $source/assets/demo/demo.aym
audio/x-ym $scratch/song.ym
audio/x-ym $scratch/ym-packed.dat
audio/x-vtx $scratch/vtx-without-extension
audio/x-psg $scratch/song.psg
audio/x-pt3 $scratch/pt3-module
audio/x-pt2 $scratch/pt2-module
EOF
for file in "$scratch/ay-first-song.expected.wav" "$source/assets/icons/hicolor/48x48/apps/zirrafon.png" \
  "$source/README.md" "$scratch/words.ay" "$scratch/tone.mp3"; do
  got=$(typefind "$file")
  case $got in
  audio/x-ay | audio/x-aym | audio/x-ym | audio/x-vtx | audio/x-psg | audio/x-pt3 | audio/x-pt2)
    fail "typefind claims $(basename "$file") as $got" ;;
  *) pass ;;
  esac
done
check "the MP3 is found as MP3" bash -c "gst-typefind-1.0 '$scratch/tone.mp3' | grep -q audio/mpeg"

# --- a damaged file says why ------------------------------------------------------------------
head -c 300 "$ay/Renegade.ay" >"$scratch/cut.ay"
gst-launch-1.0 filesrc location="$scratch/cut.ay" ! decodebin ! audioconvert ! fakesink \
  >"$scratch/cut.log" 2>&1
check "a damaged file posts its reason" \
  grep -q 'zirrafondec.*This AY/YM song file cannot be played: Read beyond end of file' "$scratch/cut.log"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
