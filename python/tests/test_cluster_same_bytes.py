"""A batch on a Dask cluster writes, prints and exits as varkel-host render --out-dir."""

import re

import numpy as np
import pytest
from conftest import (MODULE, cluster_batch, folder_bytes, host_batch, material, sound_files,
                      temporaries, write_wav)

pytest.importorskip("distributed")
from varkel.cluster import RENDERED, render_files  # noqa: E402


@pytest.fixture(scope="module")
def takes(tmp_path_factory):
    """Files of 1, 2 and 4 channels, one unreadable, and a folder below."""
    folder = sound_files(tmp_path_factory.mktemp("takes"), 3, 0.6, corrupt=(2,))
    write_wav(folder / "mono.wav", material(1, frames=20000))
    write_wav(folder / "quad.wav", material(4, frames=30000, dtype=np.float64))
    sound_files(folder / "sub", 2, 0.4)
    (folder / "notes.txt").write_text("not sound")
    return folder


def timeless(text):
    """Lines without what the clock decides, in order."""
    text = re.sub(r"[\d.]+x realtime", "x realtime", text)
    return sorted(re.sub(r", \d+:\d\d$", "", line) for line in text.splitlines())


CASES = {
    "defaults": [],
    "settings, FLAC at 16 bits, dithered": ["--set", "PreGain=0.9", "--set", "PostGain=0.3",
                                            "--ext", "flac", "--format", "pcm16", "--dither"],
    "64-bit, odd blocks, ramped automation": ["--precision", "64", "--block", "37", "--automate",
                                              "PreGain=0.1:0.8,0.3:0.1", "--ramp"],
    "folders below, named by settings, tail": ["-r", "--name", "{dir}-{stem}-{settings}.{ext}",
                                               "--set", "LPCutOff=0.3", "--tail", "0.25"],
    "an LV2 port automated in hertz": ["--plugin", "urn:varkel:test:ranges", "--automate",
                                       "corner=0:100,0.01:1000"],
    "a delay's latency kept": ["--plugin", "urn:varkel:test:delay",
                               "--no-latency-compensation"],
    "resampled, scaled to a loudness, measured": ["--rate", "16000", "--loudness", "-23",
                                                  "--measure", "--format", "pcm16"],
    "a true-peak ceiling some files exceed": ["--loudness", "-10", "--true-peak-max", "-9"],
    "a plug-in timeout": ["--plugin-timeout", "5"],
}


@pytest.mark.parametrize("args", CASES.values(), ids=CASES.keys())
def test_cli_equals_varkel_host(takes, tmp_path, loopback_cluster, args):
    cluster, _ = loopback_cluster
    host = host_batch([takes], tmp_path / "host", *args)
    ours = cluster_batch([takes], tmp_path / "cluster", "--plugin", MODULE,
                         "--scheduler", cluster.scheduler_address, *args)
    assert ours.returncode == host.returncode == 1  # the unreadable file
    assert folder_bytes(tmp_path / "cluster") == folder_bytes(tmp_path / "host")
    for stream in ("stdout", "stderr"):
        assert timeless(getattr(ours, stream).replace(str(tmp_path / "cluster"), "OUT")
                        .replace("varkel.cluster:", "varkel-host:")) == \
            timeless(getattr(host, stream).replace(str(tmp_path / "host"), "OUT"))
    assert temporaries(tmp_path / "cluster") == []


def test_in_process_renders_as_varkel_host_isolated(takes, tmp_path, loopback_cluster):
    """The other way round from the defaults: the cluster loads the plug-in into
    its workers, varkel-host into a process of its own."""
    cluster, _ = loopback_cluster
    host = host_batch([takes], tmp_path / "host", "--isolate")
    ours = cluster_batch([takes], tmp_path / "cluster", "--plugin", MODULE, "--in-process",
                         "--scheduler", cluster.scheduler_address)
    assert ours.returncode == host.returncode == 1
    assert folder_bytes(tmp_path / "cluster") == folder_bytes(tmp_path / "host")


@pytest.mark.parametrize("existing", ["--skip-existing", "--overwrite"])
def test_existing_outputs_as_varkel_host(takes, tmp_path, loopback_cluster, existing):
    cluster, _ = loopback_cluster
    for out in ("host", "cluster"):
        assert host_batch([takes / "take00.wav"], tmp_path / out, "--set", "PreGain=1").returncode == 0
    host = host_batch([takes], tmp_path / "host", existing)
    ours = cluster_batch([takes], tmp_path / "cluster", existing, "--plugin", MODULE,
                         "--scheduler", cluster.scheduler_address)
    assert ours.stdout.splitlines()[-1][:-5] == host.stdout.splitlines()[-1][:-5]
    assert folder_bytes(tmp_path / "cluster") == folder_bytes(tmp_path / "host")


def test_api_on_its_own_cluster_equals_varkel_host(takes, tmp_path):
    host_batch([takes], tmp_path / "host", "--set", "PostGain=0.5", "--ext", "aiff")
    results = render_files([takes], tmp_path / "api", settings={"PostGain": 0.5}, ext="aiff")
    assert [r.status for r in results].count(RENDERED) == 4
    assert folder_bytes(tmp_path / "api") == folder_bytes(tmp_path / "host")


@pytest.mark.parametrize("args", [
    ["--set", "Drive=0.5"], ["--set", "PreGain=2"], ["--ext", "m4a"], ["--block", "0"],
    ["--skip-existing", "--overwrite"], ["--name", ".{stem}"], ["--precision", "16"],
    ["--rate", "0"], ["--loudness", "0.5"], ["--loudness", "-71"], ["--loudness", "nan"],
    ["--midi-channel", "17"],
])
def test_refused_as_varkel_host_refuses(takes, tmp_path, args):
    host = host_batch([takes], tmp_path / "host", *args)
    ours = cluster_batch([takes], tmp_path / "ours", "--plugin", MODULE, *args)
    assert ours.returncode == host.returncode == 2
    assert len(ours.stderr.splitlines()) == 1 and ours.stdout == ""
    assert args[0] in ours.stderr  # in the command line's words, as varkel-host's
    # A whole-number option's bounds as whole numbers.
    bounds = re.search(r"must be between -?\d+ and -?\d+,", host.stderr)
    assert bounds is None or bounds.group() in ours.stderr
    assert not (tmp_path / "ours").exists() or not any((tmp_path / "ours").iterdir())


def test_a_file_that_fails_on_a_worker_is_named_in_flags(takes, tmp_path, loopback_cluster):
    """The workers word the cluster command's failures as varkel-host does."""
    cluster, _ = loopback_cluster
    write_wav(tmp_path / "key.wav", material(1, frames=1000), rate=48000)
    args = ["--plugin", "urn:varkel:test:sidechain-gate", "--sidechain", str(tmp_path / "key.wav")]
    host = host_batch([takes / "take00.wav"], tmp_path / "host", *args)
    ours = cluster_batch([takes / "take00.wav"], tmp_path / "ours",
                         "--scheduler", cluster.scheduler_address, *args)
    assert ours.returncode == host.returncode == 1
    assert f"--sidechain {tmp_path / 'key.wav'}: its rate is 48000 Hz" in ours.stderr
    assert ours.stderr.replace("varkel.cluster:", "varkel-host:").splitlines()[0] == \
        host.stderr.splitlines()[0]


def test_a_state_then_a_setting_as_varkel_host(takes, tmp_path, loopback_cluster):
    from test_state import HAND_STATE
    cluster, _ = loopback_cluster
    (tmp_path / "factor.txt").write_text("0.5\n")
    (tmp_path / "hand.ttl").write_text(HAND_STATE)
    args = ["--plugin", "urn:varkel:test:state-gain", "--state", str(tmp_path / "hand.ttl"),
            "--set", "level=1.5"]
    host = host_batch([takes], tmp_path / "host", *args)
    ours = cluster_batch([takes], tmp_path / "cluster", "--scheduler",
                         cluster.scheduler_address, *args)
    assert ours.returncode == host.returncode == 1  # the unreadable file
    assert folder_bytes(tmp_path / "cluster") == folder_bytes(tmp_path / "host")
    plain = host_batch([takes], tmp_path / "plain", "--plugin", "urn:varkel:test:state-gain",
                       "--set", "level=1.5")
    assert plain.returncode == 1
    assert folder_bytes(tmp_path / "plain") != folder_bytes(tmp_path / "host")
