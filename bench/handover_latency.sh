#!/usr/bin/env bash
# Latency of a hand-over: from launching a second start of the player with a
# song to the song's first sound at the sound server, measured on the end-to-end
# bed (Xvfb and a PulseAudio null sink, see scripts/e2e-bed).
#
#   bench/handover_latency.sh [BUILD_DIR] [RUNS]     (defaults: build/release, 10)
#
# Each run starts a fresh player without a song in a session of its own, waits
# until it takes hand-overs, notes how many bytes the sink's monitor recording
# (parec) holds, launches "zirrafon demo.aym" and finds the first nonzero sample
# recorded after that point. The recording runs at 176,400 bytes per second, so
# the byte distance is the time; both ends are seen through the same parec
# buffering, which cancels out, leaving a granularity of about its 20 ms
# fragments. The song itself begins with a little silence (its first nonzero
# sample, from zirrafon-render): the figure "to the song's start" subtracts it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-10}
song=$(pwd)/assets/demo/demo.aym
[ -x "$build/zirrafon" ] && [ -x "$build/zirrafon-render" ] ||
    { echo "build $build/zirrafon and $build/zirrafon-render first" >&2; exit 1; }

# shellcheck disable=SC1091
source scripts/e2e-bed
e2e_bed_start
work=$(mktemp -d /tmp/zirrafon-latency.XXXXXX)
rec_pid=
cleanup() {
    [ -n "$rec_pid" ] && kill "$rec_pid" 2>/dev/null || true
    e2e_bed_stop
    rm -rf "$work"
}
trap cleanup EXIT

"$build/zirrafon-render" -o "$work/ref.wav" -s 1 -t 2 --fade 0 "$song" >/dev/null
parec --device="$ZIRRAFON_E2E_SINK.monitor" --format=s16le --rate=44100 --channels=2 \
    --latency-msec=20 >"$work/rec.raw" &
rec_pid=$!
sleep 0.5

python3 - "$build/zirrafon" "$song" "$work" "$runs" <<'EOF'
import os, socket, struct, subprocess, sys, time

player, song, work, runs = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
rec = os.path.join(work, "rec.raw")
BYTES_PER_SECOND = 44100 * 4

def first_nonzero(path, start):
    with open(path, "rb") as f:
        f.seek(start)
        data = f.read()
    for i in range(0, len(data) - 1, 2):
        if data[i] or data[i + 1]:
            return start + i
    return None

def wav_leading_silence(path):
    data = open(path, "rb").read()
    pos = 12
    while pos + 8 <= len(data):
        cid, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        if cid == b"data":
            samples = data[pos + 8:pos + 8 + size]
            for i in range(0, len(samples) - 1, 2):
                if samples[i] or samples[i + 1]:
                    return i / BYTES_PER_SECOND
            return 0.0
        pos += 8 + size + (size & 1)
    return 0.0

lead = wav_leading_silence(os.path.join(work, "ref.wav"))
results = []
for run in range(runs):
    session = os.path.join(work, "s%d" % run)
    env = dict(os.environ)
    for sub in ("runtime", "config", "data"):
        os.makedirs(os.path.join(session, sub), mode=0o700)
        env["XDG_%s" % {"runtime": "RUNTIME_DIR", "config": "CONFIG_HOME", "data": "DATA_HOME"}[sub]] = os.path.join(session, sub)
    sock = os.path.join(session, "runtime", "TForm1-Zirrafon_v1.0")
    first = subprocess.Popen([player], env=env)
    deadline = time.time() + 10
    while True:
        try:
            s = socket.socket(socket.AF_UNIX); s.connect(sock); s.close(); break
        except OSError:
            if time.time() > deadline: sys.exit("the player does not listen")
            time.sleep(0.01)
    time.sleep(0.3)
    start = os.path.getsize(rec)
    t0 = time.monotonic()
    second = subprocess.run([player, song], env=env)
    handed = time.monotonic() - t0
    time.sleep(1.5)
    hit = first_nonzero(rec, start - start % 4)
    first.terminate(); first.wait()
    time.sleep(0.5)  # what the sink still held has been heard
    if hit is None:
        print("run %d: no sound" % run); continue
    latency = (hit - start) / BYTES_PER_SECOND
    results.append((latency, handed))
    print("run %2d: second start ended after %6.1f ms; first sound after %6.1f ms "
          "(song start after %6.1f ms)" % (run, handed * 1000, latency * 1000, (latency - lead) * 1000))

if results:
    lat = sorted(r[0] for r in results)
    hand = sorted(r[1] for r in results)
    med = lambda v: v[len(v) // 2] if len(v) % 2 else (v[len(v) // 2 - 1] + v[len(v) // 2]) / 2
    print("hand-over latency over %d runs: first sound median %.1f ms (min %.1f, max %.1f); "
          "song start median %.1f ms; second start's own run time median %.1f ms; "
          "song's leading silence %.1f ms"
          % (len(lat), med(lat) * 1000, lat[0] * 1000, lat[-1] * 1000,
             (med(lat) - lead) * 1000, med(hand) * 1000, lead * 1000))
EOF
