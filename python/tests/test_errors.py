"""Bad input raises a clear exception and leaves the interpreter running."""

import importlib
import pkgutil
import re
import subprocess

import numpy as np
import pytest
import varkel
from conftest import BUILD, HOST, MODULE, RATE, write_wav

STEREO = np.zeros((2, 64), np.float32)


def nan_filled():
    audio = STEREO.copy()
    audio[1, 10:] = np.nan
    return audio


@pytest.mark.parametrize(
    "audio, message",
    [
        (np.zeros(64, np.float32), "shape (channels, frames)"),
        (np.zeros((2, 2, 64), np.float32), "shape (channels, frames)"),
        (np.zeros((3, 64), np.float32), "audio of 3 channels"),
        (np.zeros((44100, 2), np.float32), "pass audio.T"),
        (np.zeros((2, 64), np.int16), "float32 or float64"),
        (np.zeros((2, 64), ">f4"), "float32 or float64"),
        ([[0.0] * 64] * 2, "got a list"),
        (nan_filled(), "NaN or infinite samples (first at channel 1, frame 10)"),
        (np.full((2, 64), np.inf), "NaN or infinite"),
    ],
)
@pytest.mark.parametrize("kind", [lambda: varkel.Varkel(RATE), lambda: varkel.load_plugin(MODULE, RATE)])
def test_bad_audio_is_a_value_error(kind, audio, message):
    p = kind()
    with pytest.raises(ValueError, match=None) as raised:
        p.process(audio)
    assert message in str(raised.value)
    assert p.process(STEREO).shape == (2, 64)  # still usable


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: varkel.Varkel(RATE, Drive=0.5), ValueError, "valid names: PreGain, LPCutOff, PostGain"),
        (lambda: varkel.Varkel(RATE, PreGain=1.5), ValueError, "PreGain=1.5: the value must lie between 0 and 1"),
        (lambda: varkel.Varkel(RATE, PreGain=float("nan")), ValueError, "the value must lie between 0 and 1"),
        (lambda: varkel.Varkel(500), ValueError, "sample_rate 500"),
        (lambda: varkel.Varkel(RATE).process(STEREO, block_size=0), ValueError, "block_size 0"),
        (lambda: varkel.Varkel(RATE).automate("PreGain", [1, 0.5], [0.1, 0.2]), ValueError, "must not go back"),
        (lambda: varkel.Varkel(RATE).automate("PreGain", [1], [0.1, 0.2]), ValueError, "1 times but 2 values"),
        (lambda: varkel.load_plugin("/no/such/Plugin.so", RATE), FileNotFoundError, "/no/such/Plugin.so"),
        (lambda: varkel.load_plugin(__file__, RATE), RuntimeError, __file__),
        (lambda: varkel.load_plugin("", RATE), ValueError, "load_plugin needs a plug-in"),
        (lambda: varkel.load_plugin("/no/such/Plugin.so", RATE, isolated=True), FileNotFoundError,
         "/no/such/Plugin.so"),
        (lambda: varkel.load_plugin(__file__, RATE, isolated=True), RuntimeError, __file__),
        (lambda: varkel.load_plugin(MODULE, RATE, isolated=True, plugin_timeout=0), ValueError,
         "plugin_timeout 0: must be 0.1 to 86400 s"),
        (lambda: varkel.read("/no/such/file.wav"), FileNotFoundError, "/no/such/file.wav: no such file"),
        (lambda: varkel.read(__file__), RuntimeError, "not a sound file"),
        (lambda: varkel.render("/no/such/file.wav", "/tmp/x.wav"), FileNotFoundError, "no such file"),
        (lambda: varkel.write("/tmp/x.m4a", STEREO, RATE), RuntimeError, "m4a"),
        (lambda: varkel.write("/tmp/x.wav", STEREO, RATE, format="pcm12"), ValueError, "format pcm12"),
        (lambda: varkel.analyze(what=["loudness"]), ValueError, "no measurement loudness"),
        (lambda: varkel.load_plugin("urn:varkel:test:sidechain-gate", RATE).process(
            STEREO.astype(np.float64), sidechain=np.ones((1, 64), np.float32)), ValueError, "dtype"),
    ],
)
def test_bad_requests_raise_with_the_engines_message(call, error, message):
    with pytest.raises(error) as raised:
        call()
    assert message in str(raised.value)


@pytest.mark.parametrize("options, message", [
    ({"PreGain": 1.5}, "PreGain=1.5: the value must lie between 0 and 1 (PreGain)"),
    ({"Drive": 0.5}, "Drive: Varkel has no parameter Drive"),
    ({"format": "float", "out": "x.mp3"}, "cannot hold 32-bit float samples (format)"),
])
def test_render_errors_name_the_keywords_not_flags(files, tmp_path, options, message):
    out = tmp_path / options.pop("out", "x.wav")
    with pytest.raises(ValueError if "format" not in options else RuntimeError) as raised:
        varkel.render(files[2, "float32"], out, MODULE, **options)
    assert message in str(raised.value) and "--" not in str(raised.value)


def test_render_warns_of_a_processor_made_for_another_rate(files, tmp_path):
    with pytest.warns(UserWarning, match="renders at its own rate, 44100 Hz, not at the 48000 Hz"):
        varkel.render(files[2, "float32"], tmp_path / "x.wav", varkel.Varkel(48000))


def test_every_module_of_the_package_imports():
    for module in pkgutil.walk_packages(varkel.__path__, "varkel."):
        importlib.import_module(module.name)  # neither fails nor exits


def test_a_stream_keeps_its_shape_until_reset():
    p = varkel.Varkel(RATE)
    p.process(STEREO)
    with pytest.raises(ValueError, match="call reset"):
        p.process(STEREO.astype(np.float64))
    p.reset()
    assert p.process(STEREO.astype(np.float64)).dtype == np.float64


def test_unknown_attribute_names_the_parameters():
    p = varkel.Varkel(RATE)
    with pytest.raises(AttributeError, match="valid names: PreGain"):
        p.Drive
    with pytest.raises(AttributeError, match="valid names: PreGain"):
        p.Drive = 0.3


def test_a_port_in_hertz_is_automated_in_hertz_from_every_face(tmp_path, files):
    """One range check, the port's own, whichever face asks."""
    ranges = "urn:varkel:test:ranges"  # its corner runs from 20 to 20000 Hz
    fx = varkel.load_plugin(ranges, RATE)
    fx.automate("corner", [0.0, 0.001], [100.0, 1000.0])
    assert fx.process(STEREO).shape == (2, 64)
    with pytest.raises(ValueError, match="30000: the value must lie between 20 and 20000 Hz"):
        fx.automate("corner", [0.0], [30000.0])
    source = files[2, "float32"]
    varkel.render(source, tmp_path / "py.wav", ranges, automation={"corner": ([0, 0.01], [100, 1000])})
    host = subprocess.run([str(HOST), "render", str(source), str(tmp_path / "host.wav"), "--plugin",
                           ranges, "--automate", "corner=0:100,0.01:1000"], capture_output=True, text=True)
    assert host.returncode == 0, host.stderr
    assert (tmp_path / "py.wav").read_bytes() == (tmp_path / "host.wav").read_bytes()
    refused = subprocess.run([str(HOST), "render", str(source), str(tmp_path / "no.wav"), "--plugin",
                              ranges, "--automate", "corner=0:30000"], capture_output=True, text=True)
    assert refused.returncode == 2
    assert "--automate corner: the value must lie between 20 and 20000 Hz" in refused.stderr


def test_the_cluster_command_run_in_process_leaves_python_its_words(tmp_path):
    from varkel.cluster._command_line import main

    write_wav(tmp_path / "in.wav", STEREO)
    assert main([str(tmp_path / "in.wav"), "--out-dir", str(tmp_path / "out"), "--set",
                 "Drive=0.5"]) == 2
    with pytest.raises(ValueError, match="^preset Warm: ") as raised:
        varkel.load_plugin(MODULE, RATE).load_preset("Warm")
    assert "--" not in str(raised.value)


@pytest.mark.parametrize("keywords, message", [
    ({"sample_rate": 0}, "sample_rate 0: must be 1000 to 768000 Hz"),
    ({"sample_rate": float("nan")}, "sample_rate nan: must be a whole number of Hz"),
    ({"loudness": 0.5}, "loudness 0.5: must be -70 to 0 LUFS"),
    ({"loudness": -70.5}, "loudness -70.5: must be -70 to 0 LUFS"),
    ({"loudness": float("nan")}, "loudness nan: must be -70 to 0 LUFS"),
    ({"true_peak_max": float("nan")}, "true_peak_max nan: must be -70 to 6 dBTP"),
])
def test_render_refuses_rates_and_loudness_out_of_range(tmp_path, keywords, message):
    source = tmp_path / "in.wav"
    varkel.write(source, np.zeros((2, 4800), np.float32), 48000)
    with pytest.raises(ValueError, match=re.escape(message)):
        varkel.render(source, tmp_path / "out.wav", **keywords)
    assert not (tmp_path / "out.wav").exists()


def test_loudness_of_the_ebu_stereo_sine_and_of_silence():
    # EBU Tech 3341: a stereo 1 kHz sine at -23 dBFS measures -23.0 LUFS.
    frames = np.arange(20 * 48000)
    sine = 10 ** (-23 / 20) * np.sin(2 * np.pi * 1000 * frames / 48000)
    measured = varkel.loudness(np.stack([sine, sine]), 48000)
    assert measured["integrated_lufs"] == pytest.approx(-23.0, abs=0.1)
    assert measured["true_peak_dbtp"] == pytest.approx(-23.0, abs=0.05)
    assert varkel.loudness(np.zeros((2, 48000), np.float32), 48000)["integrated_lufs"] == -np.inf


FIXTURES = BUILD / "tests" / "e2e"


@pytest.mark.parametrize("plugin, fault, message", [
    ("stuck_plugin.so", "segv:3", "crashed with signal 11 (Segmentation fault) at frame 1024"),
    ("stuck_plugin.so", "abort:1", "crashed with signal 6 (Aborted) at frame 0"),
    ("stuck_plugin.so", "hang:2", "did not answer within 0.5 s (plugin_timeout 0.5) and was "
                                  "stopped at frame 512"),
    ("hang_plugin.so", "", "did not answer within 0.5 s"),
    ("crash_plugin.so", "", "crashed with signal 6 (Aborted) while loading"),
])
def test_an_isolated_plugin_that_fails_raises_and_the_interpreter_goes_on(
        monkeypatch, tmp_path, plugin, fault, message):
    monkeypatch.setenv("STUCK_FIXTURE_FAULT", fault)
    with pytest.raises(RuntimeError) as raised:
        p = varkel.load_plugin(FIXTURES / plugin, RATE, isolated=True, plugin_timeout=0.5)
        p.process(np.zeros((1, 4096), np.float32))
    assert message in str(raised.value)
    assert str(FIXTURES) in str(raised.value)
    write_wav(tmp_path / "in.wav", np.full((2, 1000), 0.25, np.float32))
    assert varkel.render(tmp_path / "in.wav", tmp_path / "out.wav")["frames"] == 1000


def test_an_isolated_plugin_processes_as_one_loaded_here():
    audio = np.random.default_rng(3).standard_normal((2, 5000)).astype(np.float64) * 0.3
    here = varkel.load_plugin(MODULE, RATE, PreGain=0.7)
    there = varkel.load_plugin(MODULE, RATE, isolated=True, PreGain=0.7)
    for p in (here, there):
        p.automate("LPCutOff", [0.0, 0.05], [0.9, 0.2], ramp=True)
    np.testing.assert_array_equal(there.process(audio, block_size=300),
                                  here.process(audio, block_size=300))
    assert there.parameters["PreGain"].value == pytest.approx(0.7)
