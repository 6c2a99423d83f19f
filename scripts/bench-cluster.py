#!/usr/bin/python3
"""Times batches on a Dask cluster of worker processes on this machine.

1. Scaling: 16 thirty-second stereo files through a cluster of 2 worker processes
   against one of 1; the ratio of the times (2 cores: near 0.5 is ideal).
2. Overhead: 200 short (0.2 s) stereo files through the 2-worker cluster
   against varkel-host render --out-dir -j 2; the difference per file is what a
   task costs (scheduling, the round trips, staging and linking).

Clusters are started before the clock runs (their start is shown apart). Each
figure is the best of 3 rounds into fresh folders.

Usage: /usr/bin/python3 scripts/bench-cluster.py [BUILD_DIR]   (default: build)
"""

import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

build = Path(sys.argv[1] if len(sys.argv) > 1 else "build").resolve()
sys.path.insert(0, str(build / "python"))
import varkel  # noqa: E402
from varkel.cluster import RENDERED, local_cluster, render_files  # noqa: E402

RATE = 44100
HOST = build / "tools" / "varkel-host" / "varkel-host"
MODULE = build / "plugin" / "Varkel.so"
ROUNDS = 3


def takes(folder, count, seconds):
    folder.mkdir()
    rng = np.random.default_rng(1)
    for i in range(count):
        audio = (0.3 * rng.standard_normal((2, int(RATE * seconds)))).astype(np.float32)
        varkel.write(folder / f"take{i:03}.wav", audio, RATE)
    return folder


def best(run, scratch):
    times = []
    for _ in range(ROUNDS):
        out = Path(tempfile.mkdtemp(dir=scratch))
        started = time.perf_counter()
        run(out)
        times.append(time.perf_counter() - started)
        shutil.rmtree(out)
    return min(times)


def on_cluster(workers, folder, scratch):
    started = time.perf_counter()
    cluster, client = local_cluster(workers)
    start = time.perf_counter() - started

    def run(out):
        results = render_files([folder], out, plugin=MODULE, client=client, progress=False)
        assert all(r.status == RENDERED for r in results)

    try:
        return best(run, scratch), start
    finally:
        client.close()
        cluster.close()


def with_host(folder, scratch):
    def run(out):
        subprocess.run([str(HOST), "render", str(folder), "--out-dir", str(out), "--quiet",
                        "-j", "2", "--plugin", str(MODULE)], check=True)
    return best(run, scratch)


def main():
    with tempfile.TemporaryDirectory() as scratch:
        scratch = Path(scratch)
        long_files = takes(scratch / "long", 16, 30.0)
        short_files = takes(scratch / "short", 200, 0.2)

        one, start_one = on_cluster(1, long_files, scratch)
        two, start_two = on_cluster(2, long_files, scratch)
        print(f"16 x 30 s: 1 worker {one:.2f} s, 2 workers {two:.2f} s, ratio {two / one:.2f} "
              f"(clusters started in {start_one:.1f} s and {start_two:.1f} s, not counted)")

        cluster, _ = on_cluster(2, short_files, scratch)
        host = with_host(short_files, scratch)
        per_file = (cluster - host) / 200 * 1000
        print(f"200 x 0.2 s: 2 workers {cluster:.2f} s, varkel-host -j 2 {host:.2f} s, "
              f"ratio {cluster / host:.2f}, overhead {per_file:.1f} ms per file")


if __name__ == "__main__":  # the workers start by importing this file's caller
    main()
