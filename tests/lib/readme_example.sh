#!/usr/bin/env bash
# The README's C example compiles as strict C99 against the library (the
# build tree's, or an installed tree's with pkg-config when PKG_CONFIG_PATH
# says so) and plays a song with exactly zirrafon-render's samples.
# Usage: readme_example.sh README CFLAGS_AND_LIBS RENDER SONG SCRATCH_DIR
set -euo pipefail
readme=$1
flags=$2
render=$3
song=$4
scratch=$5
mkdir -p "$scratch"
awk '/^```c$/ { on = 1; next } /^```$/ { on = 0 } on' "$readme" >"$scratch/play.c"
test -s "$scratch/play.c"
# shellcheck disable=SC2086
cc -std=c99 -Wall -Wextra -pedantic -Werror "$scratch/play.c" $flags -o "$scratch/play"
"$scratch/play" "$song" >"$scratch/play.raw"
"$render" -o "$scratch/render.wav" "$song"
tail -c +45 "$scratch/render.wav" | cmp - "$scratch/play.raw"
echo "the README's example plays $(basename "$song") as zirrafon-render does ($(stat -c %s "$scratch/play.raw") bytes)"
