#!/usr/bin/env bash
# What the C library costs over zirrafon-render: the same songs, the same
# length, side by side. The README's C example (built here against the build
# tree's library) and zirrafon-render each render every song's default length
# to /dev/null; the CPU time of each (user + system, the best of RUNS runs,
# taken in turns so that the machine's load falls on both alike) and their
# ratio are printed per song.
#
#   bench/lib_vs_render.sh [BUILD_DIR] [RUNS] [SONG...]
#       (defaults: build/release, 5, the shared .ay songs and the demo songs)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-5}
shift $(($# > 2 ? 2 : $#))
songs=("$@")
[ ${#songs[@]} -gt 0 ] || songs=(../shared/testdata/ay/* assets/demo/demo.ay assets/demo/demo.aym)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
awk '/^```c$/ { on = 1; next } /^```$/ { on = 0 } on' README.md >"$work/play.c"
cc -O2 "$work/play.c" -Isrc/lib -L"$build" -lzirrafon -Wl,-rpath,"$(cd "$build" && pwd)" \
  -o "$work/play"
python3 - "$build/zirrafon-render" "$work/play" "$runs" "${songs[@]}" <<'PY'
import resource, subprocess, sys
render, play, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
def cpu(command):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime
for song in sys.argv[4:]:
    tool, library = [], []
    for _ in range(runs):
        tool.append(cpu([render, "-o", "/dev/null", song]))
        library.append(cpu([play, song]))
    print("%-28s zirrafon-render %.3f s  library %.3f s  library/render %.3f"
          % (song.split("/")[-1], min(tool), min(library), min(library) / max(min(tool), 1e-9)))
PY
