#!/usr/bin/env python3
"""Saves and loads the state of every VST 2.4 and LV2 effect installed.

For each plug-in: every parameter is moved away from its default at once, the
state so set is saved (varkel-host state --save, .fxp or an LV2 bundle), and a
short noise file is rendered twice with the settings and once in a fresh
process from the saved state alone. A plug-in whose two renders with the
settings differ is "not deterministic"; otherwise it "round-trips" when the
render from the state is byte for byte the same, and "failed" when it is not
or a step fails (the step and varkel-host's line are given).

Usage: scripts/state-sweep.py [--jobs N] [--limit S] [--only TEXT]
  VARKEL_HOST  the binary (default build/tools/varkel-host/varkel-host)
"""

import argparse
import concurrent.futures
import json
import os
import random
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
HOST = os.environ.get("VARKEL_HOST", str(ROOT / "build/tools/varkel-host/varkel-host"))
RATE = 44100


def write_noise(path, channels, frames=RATE // 2):
    """A float WAV of quiet noise, the same every run."""
    rng = random.Random(7)
    data = b"".join(struct.pack("<f", rng.uniform(-0.25, 0.25))
                    for _ in range(frames * channels))
    fmt = struct.pack("<HHIIHH", 3, channels, RATE, RATE * channels * 4, channels * 4, 32)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt
    body += b"data" + struct.pack("<I", len(data)) + data
    Path(path).write_bytes(b"RIFF" + struct.pack("<I", len(body)) + body)


def run(args, limit):
    try:
        done = subprocess.run([HOST, *args], capture_output=True, text=True, timeout=limit)
    except subprocess.TimeoutExpired:
        return 124, "time limit"
    line = done.stderr.strip().splitlines()[-1] if done.stderr.strip() else ""
    return done.returncode, line[:200]


def moved(parameter, vst):
    """A value away from the default, inside the range, of the parameter's kind."""
    if vst:
        value = parameter["value"]
        return 0.3 if value > 0.5 else 0.7
    low, high, default = parameter["minimum"], parameter["maximum"], parameter["default"]
    if parameter["toggled"] or parameter["integer"] or parameter["enumeration"]:
        points = [p["value"] for p in parameter["scalePoints"]] or [low, high]
        others = [p for p in points if p != default and low <= p <= high]
        return others[-1] if others else default
    return low + (0.7 if default <= low + 0.5 * (high - low) else 0.3) * (high - low)


def sweep_one(entry, limit):
    try:
        return sweep(entry, limit)
    except (ValueError, KeyError, OSError, subprocess.SubprocessError) as error:
        return entry.get("uri") or entry["path"], "failed", f"{type(error).__name__}: {error}"


def sweep(entry, limit):
    vst = entry["format"] == "VST 2.4"
    plugin = entry["path"] if vst else entry["uri"]
    with tempfile.TemporaryDirectory() as work:
        work = Path(work)
        try:
            info = subprocess.run([HOST, "info", "--json", "--plugin", plugin],
                                  capture_output=True, text=True, timeout=limit)
        except subprocess.TimeoutExpired:
            return plugin, "failed", "info: time limit"
        if info.returncode != 0:
            return plugin, "failed", "info: " + info.stderr.strip()[-200:]
        description = json.loads(info.stdout)
        mains = max(description["inputs"] - len(description["sideChains"]), 1)
        settings = []
        for p in description["parameters"]:
            settings += ["--set", f"{p['index']}={moved(p, vst):.9g}"]
        write_noise(work / "in.wav", mains)
        saved = str(work / ("state.fxp" if vst else "state.lv2"))
        status, line = run(["state", "--plugin", plugin, *settings, "--save", saved], limit)
        if status != 0:
            return plugin, "failed", f"state: {line}"
        outputs = []
        for name, options in (("a", settings), ("b", settings), ("state", ["--state", saved])):
            out = str(work / f"{name}.wav")
            status, line = run(["render", str(work / "in.wav"), out, "--plugin", plugin,
                                "--quiet", *options], limit)
            if status != 0:
                return plugin, "failed", f"render {name}: {line}"
            outputs.append(Path(out).read_bytes())
        if outputs[0] != outputs[1]:
            return plugin, "not deterministic", ""
        if outputs[2] != outputs[0]:
            return plugin, "failed", "the render from the state differs"
        return plugin, "round-tripped", ""


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--limit", type=float, default=30.0, help="seconds per step")
    parser.add_argument("--only", default="", help="plug-ins whose path or URI holds this")
    arguments = parser.parse_args()
    listing = json.loads(subprocess.run([HOST, "list", "--json"], capture_output=True, text=True,
                                        check=True).stdout)
    # Effects: audio in and out, as render needs.
    entries = [e for e in listing if e["failure"] is None and e["inputs"] > 0 and e["outputs"] > 0
               and arguments.only in (e.get("path", "") + e.get("uri", ""))]
    counts = {}
    with concurrent.futures.ThreadPoolExecutor(arguments.jobs) as pool:
        for plugin, verdict, why in pool.map(lambda e: sweep_one(e, arguments.limit), entries):
            counts[verdict] = counts.get(verdict, 0) + 1
            print(f"{verdict}\t{plugin}" + (f"\t{why}" if why else ""), flush=True)
    print("\t".join(f"{verdict}: {count}" for verdict, count in sorted(counts.items())),
          file=sys.stderr)


if __name__ == "__main__":
    main()
