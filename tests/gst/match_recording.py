#!/usr/bin/env python3
"""Finds a song's samples in a recording of a sound server's sink.

Usage: match_recording.py RECORDING.raw EXPECTED.raw [EDGE_MS]

Both are 16-bit stereo at 44,100 Hz. The recording holds silence, then what
a player played, then silence. A player may ramp the level at its start and
stop, and the recording may begin late or end early by a few milliseconds:
so the song is found by an exact stretch from its middle, and from there
every frame must equal zirrafon-render's except within EDGE_MS (default 100)
of the song's first and last frame heard. Prints what matched; exits 1 when
the song is not there or differs."""
import sys

FRAME = 4


def main():
    recording = open(sys.argv[1], "rb").read()
    expected = open(sys.argv[2], "rb").read()
    edge = int(float(sys.argv[3] if len(sys.argv) > 3 else 100) * 44.1) * FRAME
    if len(expected) < 4 * edge + 4096 * FRAME:
        print("the expected song is too short to match")
        return 1
    # An exact stretch from the middle of the song places it in the recording.
    probe_at = len(expected) // 2 - (len(expected) // 2) % FRAME
    probe = expected[probe_at:probe_at + 2048 * FRAME]
    found = recording.find(probe)
    while found >= 0 and (found - probe_at) % FRAME:
        found = recording.find(probe, found + 1)
    if found < 0:
        print("the song's samples are not in the recording (%d bytes)" % len(recording))
        return 1
    offset = found - probe_at  # where the song's frame 0 lies in the recording
    first = max(0, -offset)  # the song's first frame recorded
    last = min(len(expected), len(recording) - offset)  # past its last
    heard_from, heard_to = first + edge, last - edge
    if last - first < len(expected) - 2 * edge:
        print("only %.2f s of %.2f s were recorded" % ((last - first) / FRAME / 44100,
                                                     len(expected) / FRAME / 44100))
        return 1
    a = expected[heard_from:heard_to]
    b = recording[offset + heard_from:offset + heard_to]
    if a != b:
        at = next(i for i in range(len(a)) if a[i] != b[i]) // FRAME
        print("differs from zirrafon-render at frame %d" % (heard_from // FRAME + at))
        return 1
    print("%.3f s equal to zirrafon-render's samples (song starts at recording frame %d)" %
          (len(a) / FRAME / 44100, offset // FRAME))
    return 0


if __name__ == "__main__":
    sys.exit(main())
