#!/usr/bin/env bash
# Adding a collection to a running player: from "zirrafon --enqueue FOLDER" to
# the saved playlist holding every file, on the end-to-end bed (Xvfb, its own
# session bus and a PulseAudio null sink, see scripts/e2e-bed).
#
#   bench/playlist_enqueue.sh [BUILD_DIR] [FILES] [SONG_DIR]
#       (defaults: build/release, 658, ../shared/testdata/ay)
#
# The folder holds FILES copies of the song files of SONG_DIR (.ay, .aym, .ym,
# .vtx, .psg; with the demo songs when no SONG_DIR is given), 50 to a
# subfolder. A fresh player without a song runs in a session of
# its own; the hand-over is timed until $XDG_DATA_HOME/Ostrowind/Zirrafon/
# playlist.m3u8 names FILES entries. Meanwhile the media-player interface is
# asked for its Position again and again: the GUI thread answers those calls,
# so the longest answer, less the usual one, bounds how long the GUI thread
# was held up while the files came in. The player's peak resident memory
# (VmHWM) is read at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
files=${2:-658}
songs=${3:-../shared/testdata/ay}
demo=$([ $# -ge 3 ] || echo "$(pwd)/assets/demo")
[ -x "$build/zirrafon" ] || { echo "build $build/zirrafon first" >&2; exit 1; }

# shellcheck disable=SC1091
source scripts/e2e-bed
e2e_bed_start
work=$(mktemp -d /tmp/zirrafon-enqueue.XXXXXX)
cleanup() {
    e2e_bed_stop
    rm -rf "$work"
}
trap cleanup EXIT

python3 - "$build/zirrafon" "$files" "$songs" "$work" "$demo" <<'EOF'
import glob, os, shutil, statistics, subprocess, sys, threading, time

player, count, songs, work, demo = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5]
sources = sorted(glob.glob(os.path.join(songs, "*")))
if demo:
    sources += [os.path.join(demo, "demo.ay"), os.path.join(demo, "demo.aym")]
sources = [s for s in sources if s.lower().endswith((".ay", ".aym", ".ym", ".vtx", ".psg"))]
folder = os.path.join(work, "collection")
for i in range(count):
    src = sources[i % len(sources)]
    sub = os.path.join(folder, "part%03d" % (i // 50))
    os.makedirs(sub, exist_ok=True)
    shutil.copyfile(src, os.path.join(sub, "%05d%s" % (i, os.path.splitext(src)[1])))

env = dict(os.environ)
session = os.path.join(work, "session")
for sub, var in (("runtime", "XDG_RUNTIME_DIR"), ("config", "XDG_CONFIG_HOME"), ("data", "XDG_DATA_HOME")):
    os.makedirs(os.path.join(session, sub), mode=0o700)
    env[var] = os.path.join(session, sub)
sock = os.path.join(session, "runtime", "TForm1-Zirrafon_v1.0")
saved = os.path.join(session, "data", "Ostrowind", "Zirrafon", "playlist.m3u8")
proc = subprocess.Popen([player], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
deadline = time.time() + 20
while not os.path.exists(sock) and time.time() < deadline:
    time.sleep(0.02)
time.sleep(1.0)

def ask():
    t = time.perf_counter()
    subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.mpris.MediaPlayer2.zirrafon",
                    "/org/mpris/MediaPlayer2", "org.freedesktop.DBus.Properties.Get",
                    "string:org.mpris.MediaPlayer2.Player", "string:Position"],
                   env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    return time.perf_counter() - t

idle = [ask() for _ in range(20)]
answers = []
done = threading.Event()
def probe():
    while not done.is_set():
        answers.append(ask())
prober = threading.Thread(target=probe)

def entries():
    try:
        with open(saved, encoding="utf-8", errors="replace") as f:
            return sum(1 for line in f if line.strip() and not line.startswith("#"))
    except OSError:
        return 0

prober.start()
start = time.perf_counter()
subprocess.run([player, "--enqueue", folder], env=env, check=True)
handed = time.perf_counter() - start
while entries() < count and time.perf_counter() - start < 600:
    time.sleep(0.005)
elapsed = time.perf_counter() - start
time.sleep(0.5)
done.set()
prober.join()
hwm = "?"
with open("/proc/%d/status" % proc.pid) as f:
    for line in f:
        if line.startswith("VmHWM:"):
            hwm = line.split(":")[1].strip()
proc.terminate()
proc.wait(10)
usual = statistics.median(idle)
print("files: %d (%d folders)" % (count, (count + 49) // 50))
print("hand-over returned after %.3f s; saved playlist held all %d entries after %.3f s" % (handed, entries(), elapsed))
print("media-player answers while adding: %d, usual %.1f ms, longest %.1f ms -> GUI thread held up at most %.1f ms"
      % (len(answers), usual * 1000, max(answers) * 1000, (max(answers) - usual) * 1000))
print("player's peak resident memory (VmHWM): %s" % hwm)
EOF
