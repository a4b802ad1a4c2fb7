#!/usr/bin/env bash
# A real GStreamer player plays song files through the plugin to the
# end-to-end bed's null sink: gst-play-1.0, with the plugin loaded from the
# build tree; the sink's recording must hold zirrafon-render's samples (the
# player's own ramps at start and stop aside). Needs the bed (scripts/e2e-bed):
# without it the test fails.
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

# Plays FILE with gst-play-1.0 while the sink is recorded; compares with
# zirrafon-render's samples of the file's first song.
play_and_compare() { # label, file
  local label=$1 file=$2
  "$render" -o "$scratch/$label.wav" "$file" >/dev/null 2>&1
  tail -c +45 "$scratch/$label.wav" >"$scratch/$label.expected"
  parec --device="$ZIRRAFON_E2E_SINK.monitor" --format=s16le --rate=44100 --channels=2 \
    >"$scratch/$label.rec" 2>/dev/null &
  local recorder=$!
  sleep 0.3
  timeout 60 gst-play-1.0 --no-interactive -q "$file" >"$scratch/$label.log" 2>&1
  local status=$?
  sleep 0.3
  kill "$recorder"
  wait "$recorder" 2>/dev/null
  if [ "$status" -ne 0 ] || grep -qi error "$scratch/$label.log"; then
    echo "FAILED: gst-play-1.0 $label: status $status: $(head -c 300 "$scratch/$label.log")" >&2
    failed=$((failed + 1))
  elif ! python3 "$source/tests/gst/match_recording.py" "$scratch/$label.rec" \
    "$scratch/$label.expected"; then
    echo "FAILED: gst-play-1.0 $label: the recording is not zirrafon-render's song" >&2
    failed=$((failed + 1))
  fi
}

"$render" -s 1 -t 4 -o "$scratch/song.ym" "$testdata/ay/Renegade.ay" >/dev/null 2>&1
play_and_compare ym "$scratch/song.ym"
play_and_compare ay-beeper "$testdata/ay/Alien8.AY"

[ "$failed" -eq 0 ]
