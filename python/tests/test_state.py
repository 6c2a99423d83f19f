"""Plug-in state from Python: the raw bytes, the files varkel-host reads and
writes, and a state carried into another process. The files expected here are
packed with struct from the published .fxp layout, not by the package."""

import multiprocessing
import pickle
import struct

import numpy as np
import pytest

import varkel
from conftest import BUILD, REPO

CHUNK = BUILD / "tests" / "e2e" / "chunk_plugin.so"  # out = in × Level × the chunk's gain
LEVEL = BUILD / "tests" / "e2e" / "level_plugin.so"  # out = in × Level, parameters only
STATE_GAIN = "urn:varkel:test:state-gain"  # in × level × its state's gain × a file's number

# Its state as a workstation writes one, naming factor.txt beside it.
HAND_STATE = (REPO / "tests" / "e2e" / "fixtures" / "state-gain-state.ttl").read_text()


def mono(frames=2000):
    return np.random.default_rng(5).uniform(-0.5, 0.5, (1, frames)).astype(np.float32)


def program_chunk(gain):
    return b"PROG" + struct.pack("=f", gain)


def chunk_fxp(chunk, name=b"Init"):
    body = (b"FPCh" + struct.pack(">iiii", 1, int.from_bytes(b"ChkF", "big"), 1, 1)
            + name.ljust(28, b"\0") + struct.pack(">i", len(chunk)) + chunk)
    return b"CcnK" + struct.pack(">i", len(body)) + body


def in_a_forked_child(p, audio):
    context = multiprocessing.get_context("fork")
    results = context.Queue()
    child = context.Process(target=lambda: results.put(p.process(audio).tobytes()), daemon=True)
    child.start()
    out = results.get(timeout=30)
    child.join(30)
    return out


@pytest.mark.parametrize("isolated", [False, True])
def test_chunk_bytes_set_the_gain_and_save_as_the_documented_file(tmp_path, isolated):
    p = varkel.load_plugin(CHUNK, 48000, isolated=isolated)
    assert p.state == program_chunk(1.0)
    p.state = program_chunk(3.0)
    audio = mono()
    assert np.array_equal(p.process(audio), audio * np.float32(0.5) * np.float32(3.0))
    p.save_state(tmp_path / "saved.fxp")
    assert (tmp_path / "saved.fxp").read_bytes() == chunk_fxp(program_chunk(3.0))
    fresh = varkel.load_plugin(CHUNK, 48000, isolated=isolated)
    fresh.load_state(tmp_path / "saved.fxp")
    assert fresh.state == program_chunk(3.0)


def test_parameters_are_the_state_of_a_plugin_without_chunks():
    p = varkel.load_plugin(LEVEL, 48000)
    assert p.state == struct.pack(">f", 0.5)
    p.state = struct.pack(">f", 0.25)
    assert p.parameters["Level"].value == 0.25
    with pytest.raises(ValueError, match="state"):
        p.state = b"\0\0"


@pytest.mark.parametrize("isolated", [False, True])
def test_a_refused_file_raises_and_names_it(tmp_path, isolated):
    p = varkel.load_plugin(CHUNK, 48000, isolated=isolated)
    other = chunk_fxp(program_chunk(2.0)).replace(b"ChkF", b"Othr")
    (tmp_path / "other.fxp").write_bytes(other)
    with pytest.raises(RuntimeError, match="'Othr'"):
        p.load_state(tmp_path / "other.fxp")
    with pytest.raises(FileNotFoundError):
        p.load_state(tmp_path / "missing.fxp")


@pytest.mark.parametrize("copy", ["fork", "pickle"])
@pytest.mark.parametrize("kind", ["chunk", "lv2", "lv2 isolated"])
def test_a_copy_in_another_process_carries_the_state(tmp_path, kind, copy):
    if kind == "chunk":
        p = varkel.load_plugin(CHUNK, 48000)
        p.state = program_chunk(3.0)
        p.Level = 0.2  # set after: the copy takes it too
        audio, gain = mono(), np.float32(0.2) * np.float32(3.0)
    else:
        (tmp_path / "factor.txt").write_text("0.5\n")
        (tmp_path / "hand.ttl").write_text(HAND_STATE)
        p = varkel.load_plugin(STATE_GAIN, 48000, isolated=kind.endswith("isolated"))
        p.load_state(tmp_path / "hand.ttl")
        audio = np.vstack([mono(), mono()])
        gain = np.float32(0.75) * np.float32(0.25) * np.float32(0.5)
    out = in_a_forked_child(p, audio) if copy == "fork" else \
        pickle.loads(pickle.dumps(p)).process(audio).tobytes()
    assert out == p.process(audio).tobytes()
    assert np.allclose(np.frombuffer(out, np.float32), (audio * gain).ravel(), rtol=1e-6)


def test_an_lv2_state_as_turtle_and_as_a_bundle(tmp_path):
    (tmp_path / "factor.txt").write_text("0.5\n")
    (tmp_path / "hand.ttl").write_text(HAND_STATE)
    p = varkel.load_plugin(STATE_GAIN, 48000)
    p.load_state(tmp_path / "hand.ttl")
    audio = np.vstack([mono(), mono()])
    expected = p.process(audio)
    text = p.state.decode()
    assert "state-gain#gain" in text and "0.25" in text
    by_bytes = varkel.load_plugin(STATE_GAIN, 48000)
    by_bytes.state = p.state
    assert by_bytes.process(audio).tobytes() == expected.tobytes()
    p.save_state(tmp_path / "saved.lv2")
    (tmp_path / "factor.txt").unlink()  # the bundle holds its own copy
    from_bundle = varkel.load_plugin(STATE_GAIN, 48000)
    from_bundle.load_state(tmp_path / "saved.lv2")
    assert from_bundle.process(audio).tobytes() == expected.tobytes()
