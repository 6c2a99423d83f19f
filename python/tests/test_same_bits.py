"""Varkel in Python renders what varkel-host renders, bit for bit."""

import multiprocessing
import pickle
import subprocess
import threading

import numpy as np
import pytest
import varkel
from conftest import BUILD, HOST, MODULE, RATE, host_render, material, read_wav, settings_args, write_wav

SETTINGS = [{}, {"PreGain": 1.0, "PostGain": 0.2}, {"LPCutOff": 0.3, "PreGain": 0.6}]
DTYPES = [np.float32, np.float64]


def processor(kind, settings):
    if kind == "dsp":
        return varkel.Varkel(RATE, **settings)
    if kind == "lv2":  # the LV2 edition, by its bundle folder
        return varkel.load_plugin(str(BUILD / "lv2" / "Varkel.lv2"), RATE, **settings)
    return varkel.load_plugin(MODULE, RATE, **settings)


def in_chunks(p, audio, sizes):
    pieces, at, i = [], 0, 0
    while at < audio.shape[1]:
        n = sizes[i % len(sizes)]
        pieces.append(p.process(audio[:, at:at + n], latency_compensation=False))
        at, i = at + n, i + 1
    return np.concatenate(pieces, axis=1)


@pytest.mark.parametrize("kind", ["dsp", "module", "lv2"])
@pytest.mark.parametrize("dtype", DTYPES)
@pytest.mark.parametrize("settings", SETTINGS)
@pytest.mark.parametrize("sizes", [None, [1, 7, 500, 4096], [44100]])
def test_process_equals_render(reference, kind, dtype, settings, sizes):
    if kind == "lv2" and dtype == np.float64:
        pytest.skip("LV2 audio is single precision")
    audio = material(2, dtype=dtype)
    p = processor(kind, settings)
    out = p.process(audio) if sizes is None else in_chunks(p, audio, sizes)
    expected = reference(2, dtype, settings)
    assert out.dtype == np.dtype(dtype) and out.shape == audio.shape
    assert out.tobytes() == expected.tobytes()


def in_a_forked_child(p, audio):
    context = multiprocessing.get_context("fork")
    results = context.Queue()
    child = context.Process(target=lambda: results.put(p.process(audio).tobytes()), daemon=True)
    child.start()
    out = results.get(timeout=30)  # a hang fails here, not in the whole run
    child.join(30)
    return out


@pytest.mark.parametrize("kind", ["dsp", "module", "lv2"])
@pytest.mark.parametrize("copy", ["fork", "pickle"])
def test_a_copy_in_another_process_gives_the_parents_bits(reference, kind, copy):
    p = processor(kind, {"PostGain": 0.3})
    p.process(material(2, seed=3))  # the copy starts afresh, as a new processor
    p.PreGain = 0.9  # set last: the copy takes the current values
    audio = material(2)
    out = in_a_forked_child(p, audio) if copy == "fork" else \
        pickle.loads(pickle.dumps(p)).process(audio).tobytes()
    assert out == reference(2, np.float32, {"PreGain": 0.9, "PostGain": 0.3}).tobytes()


DELAY = "urn:varkel:test:delay"  # both channels delayed by `frames`, reported as its latency


@pytest.mark.parametrize("compensated", [True, False])
def test_latency_is_compensated_as_render_does(tmp_path, compensated):
    audio = material(2, frames=5000)
    write_wav(tmp_path / "in.wav", audio)
    chain = varkel.Chain([varkel.load_plugin(DELAY, RATE, frames=300),
                          varkel.load_plugin(DELAY, RATE, frames=44)])
    out = chain.process(audio, latency_compensation=compensated)
    late = np.zeros_like(audio)
    late[:, 344:] = audio[:, :-344]
    assert chain.latency == 344
    assert np.array_equal(out, audio if compensated else late)
    if compensated:
        single = varkel.load_plugin(DELAY, RATE, frames=300).process(audio)
        rendered = host_render(tmp_path / "in.wav", tmp_path / "out.wav", "--plugin", DELAY,
                               "--set", "frames=300")
        assert single.tobytes() == rendered.tobytes()


@pytest.mark.parametrize("channels", [1, 4])
@pytest.mark.parametrize("kind", ["dsp", "module"])
def test_channel_mapping_equals_render(reference, channels, kind):
    out = in_chunks(processor(kind, {"PreGain": 0.9}), material(channels), [333, 5000])
    assert out.tobytes() == reference(channels, np.float32, {"PreGain": 0.9}).tobytes()


@pytest.mark.parametrize("kind", ["dsp", "module"])
def test_independent_of_other_instances_and_threads(reference, kind):
    audio = material(2)
    busy = processor(kind, {})
    busy.process(material(2, seed=3))  # draws noise in this thread first
    beside = threading.Thread(target=lambda: processor(kind, {}).process(material(2, seed=4)))
    beside.start()
    fresh = processor(kind, {})
    halves = []
    # Each half from another thread: the instance's noise follows it.
    for part in (audio[:, :30000], audio[:, 30000:]):
        worker = threading.Thread(target=lambda part=part: halves.append(fresh.process(part)))
        worker.start()
        worker.join()
    beside.join()
    assert np.concatenate(halves, axis=1).tobytes() == reference(2, np.float32).tobytes()


@pytest.mark.parametrize("kind", ["dsp", "module"])
@pytest.mark.parametrize("ramp", [False, True])
def test_automation_equals_render(reference, kind, ramp):
    p = processor(kind, {"PostGain": 0.3})
    audio = material(2)
    p.process(audio[:, :0])  # an empty call changes nothing
    p.automate("PreGain", [0.25, 0.7, 0.7004], [0.9, 0.1, 0.5], ramp=ramp)
    p.automate("LPCutOff", [1.2], [0.2], ramp=ramp)
    out = in_chunks(p, audio, [4000, 123])
    args = ["--automate", "PreGain=0.25:0.9,0.7:0.1,0.7004:0.5", "--automate", "LPCutOff=1.2:0.2"]
    expected = reference(2, np.float32, {"PostGain": 0.3}, tuple(args + (["--ramp"] if ramp else [])))
    assert out.tobytes() == expected.tobytes()


def test_automation_starts_at_the_next_call(reference, tmp_path):
    audio = material(2)
    p = varkel.Varkel(RATE)
    first = p.process(audio[:, :10000])
    p.automate("PreGain", [0.5], [1.0])
    rest = p.process(audio[:, 10000:])
    whole = reference(2, np.float32, {}, ("--automate", f"PreGain={(10000 + 22050) / RATE}:1"))
    assert np.concatenate([first, rest], axis=1).tobytes() == whole.tobytes()


def test_reset_starts_afresh(reference):
    p = varkel.Varkel(RATE, PreGain=1.0, PostGain=0.2)
    p.process(material(1, seed=5))
    p.reset()
    assert p.process(material(2)).tobytes() == reference(2, np.float32, {"PreGain": 1.0, "PostGain": 0.2}).tobytes()


def test_chain_is_each_in_turn(reference, files, tmp_path):
    first = reference(2, np.float32, {"PreGain": 0.7})
    varkel_first = tmp_path / "first.wav"
    varkel.write(varkel_first, first, RATE)
    second = host_render(varkel_first, tmp_path / "second.wav", *settings_args({"LPCutOff": 0.4}))
    chain = varkel.Chain([varkel.Varkel(RATE, PreGain=0.7), varkel.load_plugin(MODULE, RATE, LPCutOff=0.4)])
    assert chain.process(material(2)).tobytes() == second.tobytes()


@pytest.mark.parametrize("dtype", DTYPES)
def test_render_is_varkel_host_render_byte_for_byte(files, tmp_path, dtype):
    source = files[2, np.dtype(dtype).name]
    precision = 64 if dtype == np.float64 else 32
    host_render(source, tmp_path / "host.wav", "--precision", str(precision), "--set", "PreGain=0.8")
    summary = varkel.render(source, tmp_path / "py.wav", MODULE, precision=precision, PreGain=0.8)
    assert (tmp_path / "py.wav").read_bytes() == (tmp_path / "host.wav").read_bytes()
    assert summary["frames"] == material(2).shape[1] and summary["sample_rate"] == RATE


@pytest.mark.parametrize("dtype", DTYPES)
def test_read_and_write_match_an_independent_codec(files, tmp_path, dtype):
    audio, rate = varkel.read(files[2, np.dtype(dtype).name], dtype=dtype)
    assert rate == RATE and audio.tobytes() == material(2, dtype=dtype).tobytes()
    varkel.write(tmp_path / "copy.wav", audio, RATE)
    back, rate = read_wav(tmp_path / "copy.wav")
    assert rate == RATE and back.tobytes() == audio.tobytes()


@pytest.mark.parametrize("bits", ["pcm16", "pcm24"])
def test_an_integer_file_read_processed_and_written_equals_render(files, tmp_path, bits):
    source = tmp_path / "integer.wav"
    for made, args in ((source, [files[2, "float32"], "--format", bits, "--set", "PostGain=1.0"]),
                       (tmp_path / "host.wav", [source, "--set", "PreGain=0.8"])):
        subprocess.run([str(HOST), "render", *map(str, args[:1]), str(made), "--quiet",
                        "--plugin", str(MODULE), *args[1:]], check=True)
    audio, rate, kept = varkel.read(source, with_format=True)
    assert kept == bits
    varkel.write(tmp_path / "py.wav", varkel.Varkel(rate, PreGain=0.8).process(audio), rate, kept)
    assert (tmp_path / "py.wav").read_bytes() == (tmp_path / "host.wav").read_bytes()


@pytest.mark.parametrize("keyed", [False, True])
def test_sidechain_silent_or_fed_as_in_varkel_host(tmp_path, keyed):
    gate = "urn:varkel:test:sidechain-gate"  # out = in x (|side| > 0.1 ? 1 : 0.25)
    audio = material(2)
    key = np.where(np.arange(audio.shape[1]) % 40 < 20, 0.5, -0.5).astype(np.float32)[None, :]
    write_wav(tmp_path / "in.wav", audio)
    write_wav(tmp_path / "key.wav", key)
    args = ["--plugin", gate] + (["--sidechain", str(tmp_path / "key.wav")] if keyed else [])
    expected = host_render(tmp_path / "in.wav", tmp_path / "out.wav", *args)
    out = varkel.load_plugin(gate, RATE).process(audio, sidechain=key if keyed else None)
    assert out.tobytes() == expected.tobytes()
    assert np.array_equal(out, audio * np.float32(1.0 if keyed else 0.25))
