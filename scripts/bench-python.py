#!/usr/bin/python3
"""Times the Python package against the engine it is built on.

1. The binding's cost: one-second stereo calls of Varkel (the processor) and of
   load_plugin(Varkel.so), in ns per channel-sample, against varkel-host bench
   (the engine's block driver over the same module, no Python), block 512.
2. Threads: two long arrays processed by two instances one after the other,
   then by two threads at once; the ratio of the times (at most 1/1.3 passes).

Each figure is the best of several rounds, the rounds interleaved so that
other load on the machine affects both sides alike.

Usage: /usr/bin/python3 scripts/bench-python.py [BUILD_DIR]   (default: build)
"""

import re
import subprocess
import sys
import threading
import time
from pathlib import Path

import numpy as np

build = Path(sys.argv[1] if len(sys.argv) > 1 else "build").resolve()
sys.path.insert(0, str(build / "python"))
import varkel  # noqa: E402

RATE = 44100
MODULE = build / "plugin" / "Varkel.so"
HOST = build / "tools" / "varkel-host" / "varkel-host"
SECONDS = 20
ROUNDS = 7


def engine_ns():
    text = subprocess.run([str(HOST), "bench", "--plugin", str(MODULE), "--seconds", str(SECONDS)],
                          check=True, capture_output=True, text=True).stdout
    return float(re.search(r"([\d.]+) ns per channel-sample", text).group(1))


def python_ns(processor, second):
    processor.process(second)  # warm up
    started = time.perf_counter()
    for _ in range(SECONDS):
        processor.process(second)
    return (time.perf_counter() - started) * 1e9 / (SECONDS * second.size)


def overhead():
    second = np.random.default_rng(1).uniform(-0.5, 0.5, (2, RATE)).astype(np.float32)
    dsp, module = varkel.Varkel(RATE), varkel.load_plugin(MODULE, RATE)
    best = {"engine": [], "Varkel": [], "load_plugin": []}
    for _ in range(ROUNDS):
        best["engine"].append(engine_ns())
        best["Varkel"].append(python_ns(dsp, second))
        best["load_plugin"].append(python_ns(module, second))
    engine = min(best["engine"])
    print(f"one-second stereo calls, block 512, best of {ROUNDS} x {SECONDS} s:")
    print(f"  engine (varkel-host bench)   {engine:6.3f} ns/ch-sample")
    for name in ("Varkel", "load_plugin"):
        ns = min(best[name])
        print(f"  varkel.{name:<20} {ns:6.3f} ns/ch-sample  {ns / engine:5.3f}x the engine")


def threads():
    arrays = [np.random.default_rng(s).uniform(-0.5, 0.5, (2, RATE * 60)).astype(np.float32)
              for s in (1, 2)]
    for kind, make in (("Varkel", lambda: varkel.Varkel(RATE)),
                       ("load_plugin", lambda: varkel.load_plugin(MODULE, RATE))):
        sequential, parallel = [], []
        for _ in range(ROUNDS):
            a, b = make(), make()
            started = time.perf_counter()
            a.process(arrays[0])
            b.process(arrays[1])
            sequential.append(time.perf_counter() - started)
            a, b = make(), make()
            workers = [threading.Thread(target=p.process, args=(x,)) for p, x in zip((a, b), arrays)]
            started = time.perf_counter()
            for w in workers:
                w.start()
            for w in workers:
                w.join()
            parallel.append(time.perf_counter() - started)
        ratio = min(parallel) / min(sequential)
        verdict = "ok" if ratio <= 1 / 1.3 else "TOO SLOW"
        print(f"two 60 s stereo arrays, {kind}: sequential {min(sequential) * 1e3:6.1f} ms, "
              f"two threads {min(parallel) * 1e3:6.1f} ms, ratio {ratio:.3f} (limit {1 / 1.3:.3f}) {verdict}")


overhead()
threads()
