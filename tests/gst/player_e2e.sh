#!/usr/bin/env bash
# Real GStreamer players play song files through the plugin (loaded from the
# build tree) to the end-to-end bed's null sink: gst-play-1.0, and Rhythmbox
# steered through its media-player interface with playerctl, which must also
# show the song's title and length. The sink's recording must hold
# zirrafon-render's samples (the player's own ramps at start and stop aside).
# Needs the bed (scripts/e2e-bed): without it the test fails.
# Usage: player_e2e.sh BUILD_DIR TESTDATA_DIR SOURCE_DIR SCRATCH_DIR
set -uo pipefail
build=$1
testdata=$2
source=$3
scratch=$4
if [ -z "${ZIRRAFON_E2E_SINK:-}" ] || [ -z "${PULSE_SERVER:-}" ]; then
  echo "no end-to-end bed: source scripts/e2e-bed and run e2e_bed_start first" >&2
  exit 1
fi
rm -rf "$scratch"
mkdir -p "$scratch"
export GST_PLUGIN_PATH=$build/gst-plugins
export GST_REGISTRY=$scratch/registry.bin
render=$build/zirrafon-render
failed=0

fail() {
  echo "FAILED: $*" >&2
  failed=$((failed + 1))
}

# Records the sink while the command that follows plays LABEL's file, then
# compares with zirrafon-render's samples of the file's first song.
record_and_compare() { # label, file, command...
  local label=$1 file=$2
  shift 2
  "$render" -o "$scratch/$label.wav" "$file" >/dev/null 2>&1
  tail -c +45 "$scratch/$label.wav" >"$scratch/$label.expected"
  parec --device="$ZIRRAFON_E2E_SINK.monitor" --format=s16le --rate=44100 --channels=2 \
    >"$scratch/$label.rec" 2>/dev/null &
  local recorder=$!
  sleep 0.3
  "$@" >"$scratch/$label.log" 2>&1
  local status=$?
  sleep 0.3
  kill "$recorder"
  wait "$recorder" 2>/dev/null
  if [ "$status" -ne 0 ]; then
    fail "$label: status $status: $(head -c 300 "$scratch/$label.log")"
  elif ! python3 "$source/tests/gst/match_recording.py" "$scratch/$label.rec" \
    "$scratch/$label.expected"; then
    fail "$label: the recording is not zirrafon-render's song"
  fi
}

gst_play() { timeout 60 gst-play-1.0 --no-interactive -q "$1" && ! grep -qi error "$scratch/$2.log"; }

"$render" -s 1 -t 4 -o "$scratch/song.ym" "$testdata/ay/Renegade.ay" >/dev/null 2>&1
record_and_compare gst-play-ym "$scratch/song.ym" gst_play "$scratch/song.ym" gst-play-ym
record_and_compare gst-play-beeper "$testdata/ay/Alien8.AY" \
  gst_play "$testdata/ay/Alien8.AY" gst-play-beeper

# Rhythmbox, in a home of its own, opens the file through MPRIS and plays
# it to its end (4 s); what MPRIS tells of it comes from the plugin's tags.
rhythmbox_plays() { # file
  local home=$scratch/rhythmbox-home i
  mkdir -p "$home/Music"
  HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share \
    XDG_CACHE_HOME=$home/.cache GSETTINGS_BACKEND=memory rhythmbox >"$scratch/rhythmbox.log" 2>&1 &
  local player=$!
  for i in $(seq 1 300); do
    playerctl -l 2>/dev/null | grep -qx rhythmbox && break
    sleep 0.1
  done
  playerctl -p rhythmbox open "file://$1" || { kill "$player"; return 1; }
  for i in $(seq 1 100); do
    [ "$(playerctl -p rhythmbox status 2>/dev/null)" = Playing ] && break
    sleep 0.1
  done
  playerctl -p rhythmbox metadata >"$scratch/rhythmbox.metadata" 2>&1
  for i in $(seq 1 150); do
    [ "$(playerctl -p rhythmbox status 2>/dev/null)" = Playing ] || break
    sleep 0.1
  done
  kill "$player"
  wait "$player" 2>/dev/null
  return 0
}
record_and_compare rhythmbox "$scratch/song.ym" rhythmbox_plays "$scratch/song.ym"
grep -q 'xesam:title *Renegade - Title/Hi-Score (AY)' "$scratch/rhythmbox.metadata" ||
  fail "Rhythmbox shows no title: $(cat "$scratch/rhythmbox.metadata")"
grep -q 'mpris:length *4000000$' "$scratch/rhythmbox.metadata" ||
  fail "Rhythmbox shows no 4 s length: $(cat "$scratch/rhythmbox.metadata")"

[ "$failed" -eq 0 ]
