"""Files read, resampled and written a chunk at a time give what whole-file
reads, writes and process calls give."""

import gc

import numpy as np
import pytest
import varkel
from conftest import RATE, read_wav, write_wav


def random_chunks(total, seed, largest=5000):
    rng = np.random.default_rng(seed)
    at = 0
    while at < total:
        n = int(rng.integers(1, largest))
        yield n
        at += n


def read_in_chunks(f, seed):
    return np.concatenate([f.read(n) for n in random_chunks(f.frames + 10, seed)], axis=1)


@pytest.mark.parametrize("channels", [1, 2, 4])
def test_reading_in_random_chunks_equals_read(files, channels):
    whole, _ = varkel.read(files[channels, "float32"])
    with varkel.AudioFile(files[channels, "float32"]) as f:
        assert (f.frames, f.sample_rate, f.channels, f.format) == (whole.shape[1], RATE, channels, "float")
        chunked = read_in_chunks(f, channels)
        assert f.read(100).shape == (channels, 0)  # the end, and again
        assert f.read(1).shape == (channels, 0)
    assert chunked.dtype == np.float32 and np.array_equal(chunked, whole)


@pytest.mark.parametrize("to_rate", [16000, 96000])
def test_resampling_leaves_an_ideal_sine(tmp_path, to_rate):
    amplitude, seconds = 10 ** (-1 / 20), 2
    sine = lambda rate: amplitude * np.sin(2 * np.pi * 1000 * np.arange(seconds * rate) / rate)
    write_wav(tmp_path / "sine.wav", np.stack([sine(RATE)] * 2))
    with varkel.AudioFile(tmp_path / "sine.wav") as f, f.resampled_to(to_rate) as r:
        assert (r.frames, r.sample_rate, r.channels) == (seconds * to_rate, to_rate, 2)
        got = read_in_chunks(r, to_rate)
        assert f.tell() == 0  # the reader it came from keeps its place
    assert got.shape == (2, seconds * to_rate)
    inner = slice(to_rate // 10, -to_rate // 10)  # away from the ends
    residual = got[:, inner] - sine(to_rate)[inner]
    level = 20 * np.log10(np.sqrt(np.mean(residual ** 2)) / (amplitude / np.sqrt(2)))
    assert level <= -120, level


def test_seek_reads_on_from_that_frame(files):
    whole, _ = varkel.read(files[2, "float32"])
    with varkel.AudioFile(files[2, "float32"]) as f:
        f.read(3000)
        for frame in (1234, 0, f.frames - 5, f.frames):
            f.seek(frame)
            assert f.tell() == frame
            assert np.array_equal(f.read(700), whole[:, frame:frame + 700])
        with pytest.raises(ValueError, match="outside"):
            f.seek(f.frames + 1)


def test_a_resampled_seek_reads_what_reading_through_gives(files):
    with varkel.AudioFile(files[2, "float32"]) as f:
        through = f.resampled_to(48000).read()
        r = f.resampled_to(48000)
        r.read(9000)
        for frame in (5000, 20000, 0):
            r.seek(frame)
            assert np.array_equal(r.read(1000), through[:, frame:frame + 1000])


@pytest.mark.parametrize("settings", [{}, {"PreGain": 1.0, "PostGain": 0.2}])
def test_streaming_through_varkel_equals_one_process_call(files, settings):
    whole, _ = varkel.read(files[2, "float32"])
    expected = varkel.Varkel(RATE, **settings).process(whole, latency_compensation=False)
    p = varkel.Varkel(RATE, **settings)
    with varkel.AudioFile(files[2, "float32"]) as f:
        streamed = [p.process(f.read(n), latency_compensation=False) for n in random_chunks(f.frames, 3)]
    assert np.array_equal(np.concatenate(streamed, axis=1), expected)


@pytest.mark.parametrize("dtype", [np.float32, np.float64])
@pytest.mark.parametrize("format, name", [(None, "x.wav"), ("pcm16", "x.wav"), ("pcm24", "x.flac"),
                                          ("float", "x.aiff"), ("double", "x.wav")])
def test_a_chunked_write_equals_write(files, tmp_path, dtype, format, name):
    audio, _ = varkel.read(files[2, "float32"], dtype=dtype)
    # None: 32-bit float, for chunks of either dtype.
    varkel.write(tmp_path / f"whole-{name}", audio, RATE, format or "float")
    with varkel.AudioFile(tmp_path / name, "w", sample_rate=RATE, channels=2, format=format) as out:
        at = 0
        for n in random_chunks(audio.shape[1], 5):
            out.write(audio[:, at:at + n])
            at += n
        assert not (tmp_path / name).exists()  # only on close
    assert (tmp_path / name).read_bytes() == (tmp_path / f"whole-{name}").read_bytes()


def test_a_write_keeps_the_format_of_the_file_it_came_from(tmp_path):
    varkel.write(tmp_path / "in.wav", np.full((1, 100), 0.25, np.float32), RATE, "pcm24")
    with varkel.AudioFile(tmp_path / "in.wav") as f, varkel.AudioFile(
            tmp_path / "out.wav", "w", sample_rate=f.sample_rate, channels=f.channels, format=f.format) as out:
        out.write(f.read())
    assert varkel.read(tmp_path / "out.wav", with_format=True)[2] == "pcm24"


def test_an_exception_leaves_no_file(tmp_path):
    with pytest.raises(KeyError):
        with varkel.AudioFile(tmp_path / "x.wav", "w", sample_rate=RATE, channels=1) as out:
            out.write(np.zeros((1, 100), np.float32))
            raise KeyError
    unclosed = varkel.AudioFile(tmp_path / "y.wav", "w", sample_rate=RATE, channels=1)
    unclosed.write(np.zeros((1, 100), np.float32))
    del unclosed
    assert list(tmp_path.iterdir()) == []


def closed(path, mode="r", **kwargs):
    f = varkel.AudioFile(path, mode, **kwargs)
    f.close()
    return f


@pytest.mark.parametrize("call, error, message", [
    (lambda p: varkel.AudioFile(p / "missing.wav"), FileNotFoundError, "missing.wav: no such file"),
    (lambda p: varkel.AudioFile(p / "in.wav", "a"), ValueError, "mode 'a'"),
    (lambda p: varkel.AudioFile(p / "in.wav", "r", sample_rate=8000), ValueError, "for writing"),
    (lambda p: varkel.AudioFile(p / "x.wav", "w", channels=1), ValueError, "sample_rate and channels"),
    (lambda p: varkel.AudioFile(p / "x.wav", "w", sample_rate=0, channels=1), ValueError, "sample_rate 0"),
    (lambda p: varkel.AudioFile(p / "x.wav", "w", sample_rate=RATE, channels=0), ValueError, "channels 0"),
    (lambda p: varkel.AudioFile(p / "x.wav", "w", sample_rate=RATE, channels=1, format="pcm12"),
     ValueError, "format pcm12"),
    (lambda p: varkel.AudioFile(p / "in.wav").resampled_to(0), ValueError, "sample_rate 0"),
    (lambda p: varkel.AudioFile(p / "x.wav", "w", sample_rate=RATE, channels=1).write(
        np.zeros((2, 10), np.float32)), ValueError, "opened for 1"),
    (lambda p: varkel.AudioFile(p / "x.wav", "w", sample_rate=RATE, channels=1).write(
        np.full((1, 10), np.nan, np.float32)), ValueError, "NaN"),
    (lambda p: closed(p / "in.wav").read(10), RuntimeError, "closed"),
    (lambda p: closed(p / "in.wav").seek(0), RuntimeError, "closed"),
    (lambda p: closed(p / "in.wav").resampled_to(8000), RuntimeError, "closed"),
    (lambda p: closed(p / "x.wav", "w", sample_rate=RATE, channels=1).write(
        np.zeros((1, 10), np.float32)), RuntimeError, "closed"),
    (lambda p: varkel.AudioFile(p / "in.wav").write(np.zeros((1, 10), np.float32)),
     RuntimeError, "open for reading"),
    (lambda p: varkel.AudioFile(p / "x.wav", "w", sample_rate=RATE, channels=1).read(10),
     RuntimeError, "open for writing"),
])
def test_bad_use_raises_like_the_rest_of_the_package(tmp_path, call, error, message):
    write_wav(tmp_path / "in.wav", np.zeros((1, 100), np.float32))
    with pytest.raises(error) as raised:
        call(tmp_path)
    assert message in str(raised.value)
    del raised  # and with it the writer its traceback holds
    gc.collect()
    assert not [p.name for p in tmp_path.iterdir() if p.name.startswith(".")]  # no temporary left
