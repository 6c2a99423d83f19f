"""Finds the built package, varkel-host and Varkel.so, and makes test material.

The build folder is $VARKEL_BUILD_DIR, else <repo>/build. WAV files are written
and read here with numpy alone, so that what the package reads and writes is
compared with something it did not make."""

import os
import struct
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

REPO = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("VARKEL_BUILD_DIR", REPO / "build")).resolve()
sys.path.insert(0, str(BUILD / "python"))

HOST = BUILD / "tools" / "varkel-host" / "varkel-host"
# The LV2 edition and the test plug-ins, for this process and varkel-host alike.
os.environ["LV2_PATH"] = f"{BUILD / 'lv2'}:{BUILD / 'tests' / 'e2e' / 'fixtures-lv2'}"
MODULE = BUILD / "plugin" / "Varkel.so"
RATE = 44100

_FLOAT_TAG = 3
_EXTENSIBLE_TAG = 0xFFFE


def write_wav(path, audio, rate=RATE):
    """A WAVE_FORMAT_IEEE_FLOAT file of the array's precision."""
    audio = np.asarray(audio)
    channels, _ = audio.shape
    width = audio.dtype.itemsize
    data = np.ascontiguousarray(audio.T).astype(audio.dtype.newbyteorder("<")).tobytes()
    fmt = struct.pack("<HHIIHH", _FLOAT_TAG, channels, rate, rate * channels * width,
                      channels * width, width * 8)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt
    body += b"data" + struct.pack("<I", len(data)) + data
    Path(path).write_bytes(b"RIFF" + struct.pack("<I", len(body)) + body)


def read_wav(path):
    """(audio (channels, frames), rate) of a float WAV file."""
    raw = Path(path).read_bytes()
    assert raw[:4] == b"RIFF" and raw[8:12] == b"WAVE"
    at, fmt, data = 12, None, None
    while at + 8 <= len(raw):
        tag, size = raw[at:at + 4], struct.unpack("<I", raw[at + 4:at + 8])[0]
        chunk = raw[at + 8:at + 8 + size]
        if tag == b"fmt ":
            fmt = struct.unpack("<HHIIHH", chunk[:16])
        elif tag == b"data":
            data = chunk
        at += 8 + size + (size & 1)
    tag, channels, rate, _, _, bits = fmt
    assert tag in (_FLOAT_TAG, _EXTENSIBLE_TAG)
    samples = np.frombuffer(data, dtype="<f4" if bits == 32 else "<f8")
    return samples.reshape(-1, channels).T.astype(samples.dtype.newbyteorder("=")), rate


def material(channels, frames=RATE * 3 // 2, dtype=np.float32, seed=7):
    """Varied test audio: tones, a sweep, noise, a clipping burst and a quiet tail."""
    rng = np.random.default_rng(seed)
    t = np.arange(frames) / RATE
    rows = []
    for c in range(channels):
        tone = 0.3 * np.sin(2 * np.pi * (110 * (c + 1)) * t)
        sweep = 0.2 * np.sin(2 * np.pi * (50 + 4000 * t) * t)
        noise = 0.05 * rng.standard_normal(frames)
        row = tone + sweep + noise
        row[frames // 3: frames // 3 + 2000] *= 6.0
        row[-frames // 5:] *= 1e-6
        rows.append(row)
    # As float64, samples that single precision cannot hold: the rounding on the way in shows.
    return np.array(rows, dtype=dtype)


def host_render(source, out, *args):
    subprocess.run([str(HOST), "render", str(source), str(out), "--quiet",
                    "--plugin", str(MODULE), *args], check=True)
    return read_wav(out)[0]


def settings_args(settings):
    return [arg for name, value in settings.items() for arg in ("--set", f"{name}={value}")]


@pytest.fixture(scope="session")
def files(tmp_path_factory):
    """Source files by (channels, dtype name)."""
    folder = tmp_path_factory.mktemp("material")
    made = {}
    for channels in (1, 2, 4):
        for dtype in (np.float32, np.float64):
            path = folder / f"source-{channels}-{np.dtype(dtype).name}.wav"
            write_wav(path, material(channels, dtype=dtype))
            made[channels, np.dtype(dtype).name] = path
    return made


@pytest.fixture(scope="session")
def reference(files, tmp_path_factory):
    """varkel-host render of a source file, cached: (channels, dtype, settings items, extra args)."""
    folder = tmp_path_factory.mktemp("renders")
    cache = {}

    def render(channels, dtype, settings=None, extra=()):
        settings = settings or {}
        key = (channels, np.dtype(dtype).name, tuple(sorted(settings.items())), tuple(extra))
        if key not in cache:
            precision = ["--precision", "64"] if np.dtype(dtype) == np.float64 else []
            out = folder / f"render-{len(cache)}.wav"
            cache[key] = host_render(files[channels, np.dtype(dtype).name], out,
                                     *precision, *settings_args(settings), *extra)
        return cache[key]

    return render


@pytest.fixture(scope="session")
def module_path():
    return str(MODULE)


# --- batches: varkel-host render --out-dir and python3 -m varkel.cluster ---

def host_batch(inputs, out_dir, *args):
    return subprocess.run([str(HOST), "render", *map(str, inputs), "--out-dir", str(out_dir),
                           "--plugin", str(MODULE), *args], capture_output=True, text=True,
                          timeout=120)


def cluster_command(inputs, out_dir, *args):
    """python3 -m varkel.cluster's arguments and environment."""
    return (["/usr/bin/python3", "-m", "varkel.cluster", *map(str, inputs), "--out-dir",
             str(out_dir), *map(str, args)], {**os.environ, "PYTHONPATH": str(BUILD / "python")})


def cluster_batch(inputs, out_dir, *args, timeout=60):
    command, environment = cluster_command(inputs, out_dir, *args)
    return subprocess.run(command, capture_output=True, text=True, timeout=timeout,
                          env=environment)


def folder_bytes(folder):
    """Every file below folder by relative path, with its bytes."""
    return {str(p.relative_to(folder)): p.read_bytes() for p in sorted(Path(folder).rglob("*"))
            if p.is_file()}


def temporaries(folder):
    return [p for p in Path(folder).rglob(".vk-*")]


def sound_files(folder, count, seconds, corrupt=()):
    """count stereo float WAV files, and the ones named in corrupt as garbage."""
    Path(folder).mkdir(parents=True, exist_ok=True)
    for i in range(count):
        path = Path(folder) / f"take{i:02}.wav"
        if i in corrupt:
            path.write_bytes(b"RIFF\x10\x00\x00\x00WAVEjunk")
        else:
            write_wav(path, material(2, frames=int(RATE * seconds), seed=i))
    return Path(folder)


@pytest.fixture(scope="session")
def loopback_cluster():
    """Two worker processes on the loopback interface, for the session."""
    distributed = pytest.importorskip("distributed")
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                       host="127.0.0.1", dashboard_address="127.0.0.1:0",
                                       scheduler_kwargs={"dashboard": False},
                                       worker_dashboard_address="127.0.0.1:0")
    client = distributed.Client(cluster, set_as_default=False)
    yield cluster, client
    client.close(timeout=10)
    cluster.close(timeout=10)


# --- MIDI files, written with mido (Debian: python3-mido) ---

def write_midi(path, notes, tempo=120.0, ticks_per_beat=480):
    """A type 0 MIDI file of notes at one tempo (quarter notes a minute).

    Each note is (start s, length s, note, velocity) or the same with a
    channel (0-15) after. A note-off comes before a note-on on the same tick.
    Returns the messages as the file places them, (seconds, bytes) pairs in
    order, the times rounded to the file's ticks: what a reader of the file
    should give."""
    mido = pytest.importorskip("mido")
    micros = round(60e6 / tempo)

    def ticks(seconds):
        return round(seconds * 1e6 * ticks_per_beat / micros)

    timed = []
    for start, length, note, velocity, *channel in notes:
        c = channel[0] if channel else 0
        timed.append((ticks(start), 1, len(timed), [0x90 | c, note, velocity]))
        timed.append((ticks(start + length), 0, len(timed), [0x80 | c, note, 0]))
    timed.sort()
    track = mido.MidiTrack([mido.MetaMessage("set_tempo", tempo=micros, time=0)])
    now = 0
    for tick, _, _, data in timed:
        track.append(mido.Message.from_bytes(data, time=tick - now))
        now = tick
    mido.MidiFile(type=0, ticks_per_beat=ticks_per_beat, tracks=[track]).save(str(path))
    return [(tick * micros / 1e6 / ticks_per_beat, bytes(data)) for tick, _, _, data in timed]
