"""Parameters, analysis and memory as a Python user meets them."""

import gc
import json
import subprocess
import tracemalloc
import weakref
from pathlib import Path

import numpy as np
import pytest
import varkel
from conftest import HOST, MODULE, RATE


@pytest.mark.parametrize(
    "make, presets",
    [(lambda: varkel.Varkel(RATE), []), (lambda: varkel.load_plugin(MODULE, RATE), ["Default"])],
)
def test_parameters_as_the_module_reports_them(make, presets):
    p = make()
    assert list(p.parameters) == ["PreGain", "LPCutOff", "PostGain"]
    cut = p.parameters["lpcutoff"]
    assert (cut.index, cut.unit, cut.range, cut.default) == (1, "Hz", (0.0, 1.0), 1.0)
    assert p.parameters["PreGain"].default == np.float32(0.25118864)
    p.LPCutOff = 0.5
    p.parameters["PostGain"] = 1.0
    assert (cut.value, cut.display, p.PostGain) == (0.5, "6000", 1.0)
    assert (p.latency, p.presets, p.inputs, p.outputs, p.sample_rate) == (0, presets, 2, 2, RATE)
    with pytest.raises(ValueError, match="no presets|no such program"):
        p.load_preset("Warm")
    assert "PreGain" in repr(p) and "LPCutOff" in (varkel.Varkel.__doc__ or "")


@pytest.mark.parametrize("make", [lambda: varkel.Varkel(RATE), lambda: varkel.load_plugin(MODULE, RATE)])
@pytest.mark.parametrize("name, value, shown", [
    ("PreGain", 0.0, "-oo"),       # 20 log10(0) + 12
    ("PostGain", 0.5, "5.97"),     # 20 log10(0.5) + 12 = 5.979, four characters
    ("PreGain", 1.0, "12.0"),
    ("LPCutOff", 0.5, "6000"),     # 12000 x 0.5
])
def test_a_parameter_reads_the_same_however_opened(make, name, value, shown):
    p = make()
    p.parameters[name] = value
    assert p.parameters[name].display == shown


def test_analyze_equals_varkel_host_analyze(tmp_path):
    what = ["harmonics", "transfer"]
    subprocess.run([str(HOST), "analyze", "--quiet", "--plugin", str(MODULE), "--set", "PreGain=0.9",
                    "--what", ",".join(what), "--out", str(tmp_path / "a")], check=True)
    expected = json.loads((tmp_path / "a" / "analysis.json").read_text())

    def numbers(analysis):  # the identity names where the module was loaded from
        for device in analysis["devices"]:
            device.pop("identity", None)
        return analysis

    assert numbers(varkel.analyze(varkel.Varkel(RATE, PreGain=0.9), what=what)) == numbers(expected)
    assert numbers(varkel.analyze(MODULE, what=what, PreGain=0.9)) == numbers(expected)


@pytest.mark.parametrize("dtype", [np.float32, np.float64])
def test_contiguous_input_is_not_copied(dtype):
    audio = np.zeros((2, RATE * 10), dtype)
    p = varkel.Varkel(RATE)
    p.process(audio[:, :10])
    tracemalloc.start()
    out = p.process(audio)
    peak = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()
    # Only the result is allocated: a copy of the input would double the peak.
    assert out.nbytes <= peak < out.nbytes * 1.2


def test_interleaved_transpose_is_read_in_place():
    interleaved = np.random.default_rng(2).uniform(-1, 1, (5000, 2)).astype(np.float32)
    a = varkel.Varkel(RATE).process(interleaved.T)
    b = varkel.Varkel(RATE).process(np.ascontiguousarray(interleaved.T))
    assert a.tobytes() == b.tobytes()


def os_threads():
    status = Path("/proc/self/status").read_text()
    return int(status.split("Threads:")[1].split()[0])


@pytest.mark.parametrize("make", [lambda: varkel.Varkel(RATE), lambda: varkel.load_plugin(MODULE, RATE)])
def test_a_processor_is_freed_with_its_last_reference(make):
    before = os_threads()
    gc.disable()
    try:
        p = make()
        p.parameters["PreGain"].value = 0.5
        p.process(np.zeros((2, 64), np.float32))
        gone = weakref.ref(p)
        del p
        assert gone() is None
        assert os_threads() == before  # a loaded module's own thread has ended
    finally:
        gc.enable()


def test_control_outputs_hold_what_the_latest_run_reported():
    meter = varkel.load_plugin("urn:varkel:test:worker-meter", RATE)
    assert meter.control_outputs == {"Peak": 0.0, "Replies": 0.0, "Latency": 0.0}
    audio = np.zeros((2, 300), np.float32)
    audio[1, 123] = -0.75
    out = meter.process(audio)
    assert np.array_equal(out, audio)  # its worker's replies arrived once each
    assert meter.control_outputs["Peak"] == 0.75
    assert varkel.Varkel(RATE).control_outputs == {}
