"""A batch on a cluster survives a dead worker, a bad file and an absent scheduler."""

import os
import signal
import socket
import subprocess
import time
from collections import Counter

import numpy as np

import pytest
from conftest import (BUILD, MODULE, RATE, cluster_batch, cluster_command, folder_bytes,
                      host_batch, sound_files, temporaries, write_wav)

pytest.importorskip("distributed")
from varkel.cluster import FAILED, RENDERED, render_files  # noqa: E402

FILES, CORRUPT = 40, 17


@pytest.fixture(scope="module")
def forty(tmp_path_factory):
    """40 short takes, one of them corrupt, and varkel-host's renders of them."""
    takes = sound_files(tmp_path_factory.mktemp("forty"), FILES, 2.0, corrupt=(CORRUPT,))
    rendered = tmp_path_factory.mktemp("forty-host")
    host = host_batch([takes], rendered, "--quiet", "-j", "2")
    assert host.returncode == 1
    return takes, folder_bytes(rendered), host.stderr.splitlines()[0]


def finished_more_than_once(client):
    def count(dask_scheduler):
        return Counter(t[0] for t in dask_scheduler.transition_log if t[2] == "memory")
    return [key for key, times in client.run_on_scheduler(count).items() if times > 1]


def test_a_worker_killed_half_way(forty, tmp_path, loopback_cluster):
    takes, expected, failure = forty
    _, client = loopback_cluster
    victim = sorted(client.run(os.getpid).values())[0]
    done = []

    def kill_at_half(result):
        done.append(result)
        if len(done) == FILES // 2:
            os.kill(victim, signal.SIGKILL)

    results = render_files([takes], tmp_path, plugin=MODULE, client=client,
                           on_result=kill_at_half)
    statuses = Counter(r.status for r in results)
    assert statuses == {RENDERED: FILES - 1, FAILED: 1}
    assert ["varkel-host: " + r.reason for r in results if r.status == FAILED] == [failure]
    assert folder_bytes(tmp_path) == expected
    assert temporaries(tmp_path) == []
    # The dead worker's finished files were rendered again, and counted once.
    assert finished_more_than_once(client)


def test_interrupted_batch_keeps_only_whole_files(forty, tmp_path, loopback_cluster):
    takes, expected, _ = forty
    cluster, _ = loopback_cluster
    out = tmp_path / "out"
    command, environment = cluster_command([takes], out, "--plugin", MODULE,
                                           "--scheduler", cluster.scheduler_address)
    run = subprocess.Popen(command, env=environment, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, text=True)
    # Once the job's own folder is there, the files are being handed out.
    deadline = time.monotonic() + 30
    while run.poll() is None and time.monotonic() < deadline and not temporaries(out):
        time.sleep(0.002)
    run.send_signal(signal.SIGTERM)
    stdout, stderr = run.communicate(timeout=30)
    assert run.returncode == 128 + signal.SIGTERM
    assert "not rendered (interrupted)" in stdout.splitlines()[-1]
    assert stderr.splitlines()[-1] == \
        "varkel.cluster: interrupted; the unfinished files were removed"
    written = folder_bytes(out)
    assert len(written) < FILES - 1
    assert all(expected[name] == data for name, data in written.items())
    assert temporaries(out) == []


def test_unreachable_scheduler_is_one_line(tmp_path, forty):
    with socket.socket() as probe:  # a loopback port with nothing listening
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    started = time.monotonic()
    run = cluster_batch([forty[0]], tmp_path, "--scheduler", f"tcp://127.0.0.1:{port}")
    assert time.monotonic() - started < 10
    assert run.returncode == 1
    assert run.stderr.startswith(f"varkel.cluster: cannot reach the scheduler at "
                                 f"tcp://127.0.0.1:{port} within 5 s (")
    assert len(run.stderr.splitlines()) == 1 and run.stdout == ""
    assert list(tmp_path.iterdir()) == []


def test_an_interrupted_batch_counts_the_files_in_place(forty, tmp_path, loopback_cluster):
    takes, expected, _ = forty
    _, client = loopback_cluster
    reported = []

    def interrupt_at_the_first(result):
        reported.append(result)
        if len(reported) == 1:
            time.sleep(1.0)  # the workers place more files meanwhile
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        render_files([takes], tmp_path, plugin=MODULE, client=client,
                     on_result=interrupt_at_the_first)
    written = folder_bytes(tmp_path)
    assert len(written) > 1 and all(expected[name] == data for name, data in written.items())
    assert sorted(os.path.basename(r.output) for r in reported if r.status == RENDERED) == \
        sorted(written)


def test_a_crashing_plugin_fails_its_files_and_no_worker_dies(tmp_path, loopback_cluster):
    """Isolated by default: the crash on the third block fails the files that
    reach it; the workers live on and render the rest."""
    _, client = loopback_cluster
    takes = tmp_path / "takes"
    takes.mkdir()
    for i in range(6):
        write_wav(takes / f"take{i}.wav", np.full((1, 4000 if i % 2 == 0 else 1000), 0.1,
                                                  np.float32))
    workers = sorted(client.run(os.getpid).values())
    client.run(os.environ.__setitem__, "STUCK_FIXTURE_FAULT", "segv:3")
    try:
        results = render_files([takes], tmp_path / "out", plugin=BUILD / "tests" / "e2e" /
                               "stuck_plugin.so", client=client)
    finally:
        client.run(os.environ.pop, "STUCK_FIXTURE_FAULT", None)
    failed = sorted(r.input for r in results if r.status == FAILED)
    assert failed == [str(takes / f"take{i}.wav") for i in (0, 2, 4)]
    assert all("crashed with signal 11 (Segmentation fault) at frame 1024" in r.reason
               for r in results if r.status == FAILED)
    assert sorted(p.name for p in (tmp_path / "out").iterdir()) == [
        f"take{i}-stuck-fixture.wav" for i in (1, 3, 5)]
    assert sorted(client.run(os.getpid).values()) == workers
    assert temporaries(tmp_path) == []
