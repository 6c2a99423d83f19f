#!/usr/bin/python3
"""Times MIDI delivery: a render of the test sine instrument playing one note held
for a minute, against the same render with 1,000 more events a second (modulation
wheel messages, which the instrument takes and ignores, so that what is timed is
handing the events over, not sounding them). Both formats, through varkel.render
(the engine's render, no process start timed), best of several interleaved rounds.

Usage: /usr/bin/python3 scripts/bench-midi.py [BUILD_DIR]   (default: build)
"""

import os
import sys
import tempfile
from pathlib import Path

import mido

build = Path(sys.argv[1] if len(sys.argv) > 1 else "build").resolve()
sys.path.insert(0, str(build / "python"))
os.environ["LV2_PATH"] = str(build / "tests" / "e2e" / "fixtures-lv2")
import varkel  # noqa: E402

RATE = 48000
SECONDS = 60
EVENTS_PER_SECOND = 1000
ROUNDS = 5
PLUGINS = {"VST 2.4": str(build / "tests" / "e2e" / "sine_instrument_plugin.so"),
           "LV2": "urn:varkel:test:sine-instrument"}


def write(path, busy):
    """One A4 for the whole time; with busy, a wheel message every millisecond too."""
    ticks_per_beat, tempo = 1000, 1_000_000  # a tick is a millisecond
    track = mido.MidiTrack([mido.MetaMessage("set_tempo", tempo=tempo, time=0),
                            mido.Message("note_on", note=69, velocity=100, time=0)])
    if busy:
        for i in range(SECONDS * EVENTS_PER_SECOND):
            track.append(mido.Message("control_change", control=1, value=i % 128,
                                      time=0 if i == 0 else 1))
        track.append(mido.Message("note_off", note=69, time=1))
    else:
        track.append(mido.Message("note_off", note=69, time=SECONDS * 1000))
    mido.MidiFile(type=0, ticks_per_beat=ticks_per_beat, tracks=[track]).save(str(path))


def main():
    folder = Path(tempfile.mkdtemp(prefix="bench-midi-"))
    files = {"none": folder / "quiet.mid", "busy": folder / "busy.mid"}
    write(files["none"], False)
    write(files["busy"], True)
    best = {(fmt, kind): float("inf") for fmt in PLUGINS for kind in files}
    for _ in range(ROUNDS):
        for fmt, plugin in PLUGINS.items():
            for kind, source in files.items():
                summary = varkel.render(source, folder / "out.wav", plugin, sample_rate=RATE,
                                        tail=0.0)
                best[fmt, kind] = min(best[fmt, kind], summary["seconds"])
    print(f"{SECONDS} s at {RATE} Hz, one note held; best of {ROUNDS}")
    print(f"| format | no events | {EVENTS_PER_SECOND:,} events a second | ratio |")
    print("|---|---|---|---|")
    for fmt in PLUGINS:
        quiet, busy = best[fmt, "none"], best[fmt, "busy"]
        print(f"| {fmt} | {quiet * 1000:.1f} ms | {busy * 1000:.1f} ms | {busy / quiet:.3f}x |")


if __name__ == "__main__":
    main()
