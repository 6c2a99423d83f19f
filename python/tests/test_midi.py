"""MIDI through instruments from Python: process(midi=...) in every form it takes,
against a plain model of the sine instrument and against varkel-host render, in
one call and in several, and MIDI files rendered one by one and on a cluster."""

import math
import os
import subprocess
from pathlib import Path

import numpy as np
import pytest
from conftest import BUILD, HOST, MODULE, folder_bytes, read_wav, write_midi, write_wav

import varkel

RATE = 48000
SINE_VST = str(BUILD / "tests" / "e2e" / "sine_instrument_plugin.so")
SINE_LV2 = "urn:varkel:test:sine-instrument"
SINES = pytest.mark.parametrize("sine", [SINE_VST, SINE_LV2], ids=["vst", "lv2"])

# (start s, length s, note, velocity): starts and ends off any block's edge, overlapping.
NOTES = [(0.0103, 0.2, 69, 127), (0.05, 0.1, 60, 64), (0.2011, 0.05, 81, 30)]


def sine_model(events, frames, rate=RATE):
    """The instrument's sound worked out from (seconds, bytes) note-ons and note-offs:
    velocity/127 × sin(2π f (n − n0) / rate) from the note-on's nearest frame n0 up
    to the note-off's."""
    out, sounding = np.zeros(frames), {}
    for seconds, message in list(events) + [(frames / rate, None)]:
        at = math.floor(seconds * rate + 0.5)
        if message is None:  # the end: every note still sounding stops there
            ending = list(sounding)
        else:
            ending = [(message[0] & 15, message[1])] if message[0] & 0xE0 == 0x80 else []
        for key in ending:
            if key in sounding:
                on, velocity = sounding.pop(key)
                n = np.arange(on, min(at, frames))
                f = 440.0 * 2.0 ** ((key[1] - 69) / 12.0)
                out[on:at] += velocity / 127.0 * np.sin(2 * np.pi * f * (n - on) / rate)
        if message is not None and message[0] & 0xF0 == 0x90 and message[2] > 0:
            sounding[(message[0] & 15, message[1])] = (at, message[2])
    return out


def pairs_of(notes):
    """(seconds, bytes) pairs of notes, note-offs before note-ons at one time."""
    events = []
    for start, length, note, velocity in notes:
        events.append((start, 1, bytes([0x90, note, velocity])))
        events.append((start + length, 0, bytes([0x80, note, 0])))
    return [(t, m) for t, _, m in sorted(events, key=lambda e: e[:2])]


@pytest.fixture(scope="module")
def song(tmp_path_factory):
    """A MIDI file of NOTES and the pairs it holds, times on its ticks."""
    path = tmp_path_factory.mktemp("song") / "song.mid"
    return path, write_midi(path, NOTES)


def mido_forms(path):
    mido = pytest.importorskip("mido")
    with_times = [(t, mido.Message.from_bytes(list(m), time=99)) for t, m in write_midi(
        Path(str(path) + ".again.mid"), NOTES)]
    return {"pairs of mido messages (their own time unread)": with_times,
            "mido messages, times since the one before": list(mido.MidiFile(str(path))),
            "a mido MidiFile": mido.MidiFile(str(path))}


@SINES
def test_an_instrument_says_so_and_varkel_does_not(sine):
    synth = varkel.load_plugin(sine, RATE)
    assert (synth.is_instrument, synth.takes_midi, synth.inputs) == (True, True, 0)
    fx = varkel.load_plugin(MODULE, RATE)
    assert (fx.is_instrument, fx.takes_midi) == (False, False)


@SINES
@pytest.mark.parametrize("form", ["bytes pairs", "lists of ints", "path", "str path", "mido"])
def test_every_form_plays_the_notes_on_their_frames(sine, song, form):
    path, placed = song
    forms = {"bytes pairs": placed, "lists of ints": [(t, list(m)) for t, m in placed],
             "path": path, "str path": str(path)}
    chosen = mido_forms(path) if form == "mido" else {form: forms[form]}
    expected = sine_model(placed, RATE // 2)
    for name, midi in chosen.items():
        out = varkel.load_plugin(sine, RATE).process(midi=midi, duration=0.5)
        assert out.shape == (2, RATE // 2) and out.dtype == np.float32, name
        # The file's ticks move times by under 1 µs: no note lands off its frame.
        np.testing.assert_allclose(out[0], expected, atol=1e-6, err_msg=name)
        assert np.array_equal(out[0], out[1])


def host_midi_render(source, out, plugin, *args):
    subprocess.run([str(HOST), "render", str(source), str(out), "--quiet", "--plugin", plugin,
                    "--rate", str(RATE), *args], check=True)
    return read_wav(out)


HOST_CASES = {
    "until quiet": ([], {}),
    "until quiet, blocks of 64, 64-bit": (["--block", "64", "--precision", "64"],
                                          {"block_size": 64, "dtype": np.float64}),
    "a tail given": (["--tail", "0.3"], {"duration": None}),
}


@SINES
@pytest.mark.parametrize("args, keywords", HOST_CASES.values(), ids=HOST_CASES.keys())
def test_process_equals_varkel_host_render_to_the_bit(sine, song, tmp_path, args, keywords):
    path, placed = song
    (host, rate), keywords = host_midi_render(path, tmp_path / "host.wav", sine, *args), dict(keywords)
    if "duration" in keywords:  # the last message's frame, then the tail
        keywords["duration"] = (math.floor(placed[-1][0] * RATE + 0.5) + 1) / RATE + 0.3
    ours = varkel.load_plugin(sine, RATE).process(midi=path, **keywords)
    # A MIDI render writes float WAV, 32-bit samples whatever the precision.
    assert rate == RATE and ours.dtype == keywords.get("dtype", np.float32)
    assert ours.shape == host.shape and np.array_equal(ours.astype(np.float32), host)
    # The sound stops at the last note-off; quiet for 100 ms after it ends the render.
    if not args or "--block" in args:
        assert host.shape[1] == math.floor(placed[-1][0] * RATE + 0.5) + RATE // 10


# How a second of MIDI is cut into calls: frames per call, and whether each call
# gets only the messages of its own frames (times from its start) or the first
# call gets them all (the rest held for the calls after it).
SPLITS = {
    "one call": ([RATE], "first"),
    "held across many calls": ([1000, 1, 511, 9000, 13488, 24000], "first"),
    "each call its own, note held across": ([480, 9600, 0, 37920], "own"),
    "calls of one block each": ([512] * 93 + [384], "own"),
}


@SINES
@pytest.mark.parametrize("lengths, given", SPLITS.values(), ids=SPLITS.keys())
def test_calls_of_any_length_play_as_one(sine, lengths, given):
    assert sum(lengths) == RATE
    placed = pairs_of(NOTES + [(0.3, 0.6, 57, 100)])
    synth = varkel.load_plugin(sine, RATE)
    pieces, start = [], 0
    for i, frames in enumerate(lengths):
        end = start + frames
        if given == "first":
            midi = placed if i == 0 else []
        else:  # this call's frames, or all that remain for the last call
            last = i == len(lengths) - 1
            midi = [(t - start / RATE, m) for t, m in placed
                    if start <= math.floor(t * RATE + 0.5) and (last or math.floor(t * RATE + 0.5) < end)]
        pieces.append(synth.process(midi=midi, duration=frames / RATE))
        start = end
    joined = np.concatenate(pieces, axis=1)
    whole = varkel.load_plugin(sine, RATE).process(midi=placed, duration=1.0)
    assert np.array_equal(joined, whole)
    np.testing.assert_allclose(whole[0], sine_model(placed, RATE), atol=1e-6)


@SINES
def test_a_note_left_sounding_plays_out_until_quiet_in_the_next_call(sine):
    placed = pairs_of([(0.01, 0.5, 69, 100)])
    synth = varkel.load_plugin(sine, RATE)
    first = synth.process(midi=placed, duration=0.25)
    rest = synth.process(midi=[])  # the note-off 0.26 s on, then 100 ms of quiet
    whole = varkel.load_plugin(sine, RATE).process(midi=placed)
    assert rest.shape[1] == math.floor(0.51 * RATE + 0.5) + RATE // 10 - RATE // 4
    assert np.array_equal(np.concatenate([first, rest], axis=1), whole)


@pytest.mark.parametrize("last, frames", [
    # Long quiet before the last message: the output reaches it, and the quiet is
    # counted from there.
    (1.0, RATE + RATE // 10),
    (0.105, math.floor(0.105 * RATE + 0.5) + RATE // 10),
], ids=["a message after the quiet", "one within it"])
def test_until_quiet_runs_through_the_last_message(last, frames):
    notes = [(0.0, b"\x90\x45\x64"), (0.1, b"\x80\x45\x00"), (last, b"\xb0\x01\x40")]
    assert varkel.load_plugin(SINE_VST, RATE).process(midi=notes).shape == (2, frames)


AUTOTUNE = "http://gareus.org/oss/lv2/fat1"  # x42's, in Debian's x42-plugins
# Debian's plug-ins are found where the tests' own LV2_PATH leaves them out, and a
# process reads LV2_PATH once: the autotune runs in a process of its own.
DEBIAN_LV2 = {**os.environ, "LV2_PATH": "/usr/lib/lv2", "PYTHONPATH": str(BUILD / "python")}

AUTOTUNE_CALLS = """
import sys
import numpy as np, varkel
folder, notes = sys.argv[1], sys.argv[2]
voice, placed = np.load(folder + "/voice.npy"), np.load(folder + "/placed.npy", allow_pickle=True)
placed = [(float(t), bytes(m)) for t, m in placed]
fx = varkel.load_plugin("%s", %d, Mode=1)
np.save(folder + "/ours.npy", fx.process(voice, midi=notes))
fx.reset()
np.save(folder + "/other.npy", fx.process(voice, midi=[(0.0, b"\\x90\\x3e\\x64")]))
fx.reset()
halves = [fx.process(voice[:, :20000], midi=placed, latency_compensation=False),
          fx.process(voice[:, 20000:], latency_compensation=False)]
fx.reset()
np.save(folder + "/halves.npy", np.concatenate(halves, axis=1))
np.save(folder + "/whole.npy", fx.process(voice, midi=placed, latency_compensation=False))
""" % (AUTOTUNE, RATE)


def test_an_effect_takes_audio_and_midi_as_varkel_host_gives_them(tmp_path):
    if not Path("/usr/lib/lv2/fat1.lv2").is_dir():
        pytest.skip("x42-Autotune (x42-plugins) is not installed")
    notes = tmp_path / "notes.mid"
    placed = write_midi(notes, [(0.0, 0.5, 57, 100), (0.5, 0.5, 59, 100)])
    # A slightly flat A3 with overtones, for the autotune to pull onto the notes.
    t = np.arange(RATE) / RATE
    voice = np.array([sum(0.2 / k * np.sin(2 * np.pi * 218 * k * t) for k in range(1, 5))],
                     dtype=np.float32)
    write_wav(tmp_path / "voice.wav", voice, rate=RATE)
    np.save(tmp_path / "voice.npy", voice)
    np.save(tmp_path / "placed.npy", np.array(placed, dtype=object), allow_pickle=True)
    subprocess.run([str(HOST), "render", str(tmp_path / "voice.wav"), str(tmp_path / "host.wav"),
                    "--quiet", "--plugin", AUTOTUNE, "--set", "Mode=1", "--midi", str(notes)],
                   check=True, env=DEBIAN_LV2)
    subprocess.run(["/usr/bin/python3", "-c", AUTOTUNE_CALLS, str(tmp_path), str(notes)],
                   check=True, env=DEBIAN_LV2)
    host = read_wav(tmp_path / "host.wav")[0]
    ours = np.load(tmp_path / "ours.npy")
    assert ours.shape == host.shape and np.array_equal(ours, host)
    # Another note gives another sound: the MIDI reached the plug-in.
    assert not np.allclose(np.load(tmp_path / "other.npy"), ours, atol=1e-3)
    # In calls, the second note held past the first call's end until its frame.
    assert np.array_equal(np.load(tmp_path / "halves.npy"), np.load(tmp_path / "whole.npy"))


# Each fault of the bytes themselves is a row of the engine's own table; here, one.
BAD_MIDI = {
    "a short note-on": ([(0.0, b"\x90\x40")], "midi[0]: status 90 takes 2 data bytes, not 1"),
    "a byte value past 255": ([(0.0, [0x90, 60, 256])], "midi[0]: byte values are 0 to 255"),
    "text": ([(0.0, "note")], "midi[0]: a message is bytes or a list of byte values, not text"),
    "time going back": ([(1.0, b"\xf8"), (0.5, b"\xf8")],
                        "midi[1]: time 0.5 s comes before the one before it (1.0 s)"),
    "a negative time": ([(-0.1, b"\xf8")], "midi[0]: time -0.1 s: must be a number of seconds"),
    "not a number": ([(float("nan"), b"\xf8")], "midi[0]: time nan s"),
    "later than a day": ([(1e9, b"\xf8")], "from 0 to 86400"),
    "no pair": ([b"\x90\x40\x40"], "midi[0]: not a (seconds, bytes) pair"),
    "a time as text": ([("0", b"\xf8")], "midi[0]: the time is a number of seconds"),
    "bare bytes": (b"\x90\x40\x40", "not bare bytes"),
    "a number": (5, "not int"),
}


@pytest.mark.parametrize("midi, message", BAD_MIDI.values(), ids=BAD_MIDI.keys())
def test_bad_midi_is_refused_in_one_line_and_the_stream_runs_on(midi, message):
    synth = varkel.load_plugin(SINE_VST, RATE)
    with pytest.raises(ValueError) as error:
        synth.process(midi=midi, duration=0.01)
    assert message in str(error.value) and "\n" not in str(error.value)
    # Nothing was queued: the next call plays its own note alone.
    out = synth.process(midi=[(0.0, b"\x90\x45\x7f")], duration=0.01)
    np.testing.assert_allclose(out[0], sine_model([(0.0, b"\x90\x45\x7f")], 480), atol=1e-6)


def test_mido_messages_with_a_negative_time_and_a_track_are_refused():
    mido = pytest.importorskip("mido")
    synth = varkel.load_plugin(SINE_VST, RATE)
    with pytest.raises(ValueError, match=r"midi\[1\]: a mido message's time is the seconds since"):
        synth.process(midi=[mido.Message("note_on"), mido.Message("note_off", time=-1)],
                      duration=0.1)
    with pytest.raises(ValueError, match="MidiTrack's times are ticks"):
        synth.process(midi=mido.MidiTrack([mido.Message("note_on")]), duration=0.1)


CALLS = {
    "MIDI into an effect that takes none": (MODULE, {"audio": np.zeros((2, 64), np.float32),
                                                    "midi": []}, "midi: Varkel takes no MIDI"),
    "a length with audio": (MODULE, {"audio": np.zeros((2, 64), np.float32), "duration": 1.0},
                            "duration: the audio's frames give the output's length"),
    "nothing to play": (SINE_VST, {}, "process needs audio, or MIDI (midi=) or a length"),
    "a negative length": (SINE_VST, {"duration": -1}, "duration -1: must be a number of seconds"),
    "a side-chain without audio": (SINE_VST, {"duration": 1, "sidechain": np.zeros((1, 48000))},
                                   "sidechain: goes with audio"),
    "an integer dtype": (SINE_VST, {"duration": 1, "dtype": np.int16}, "dtype int16"),
    "audio into an instrument": (SINE_VST, {"audio": np.zeros((2, 64), np.float32), "midi": []},
                                 "audio of 2 channels"),
}


@pytest.mark.parametrize("plugin, keywords, message", CALLS.values(), ids=CALLS.keys())
def test_calls_that_cannot_play_say_why(plugin, keywords, message):
    with pytest.raises(ValueError) as error:
        varkel.load_plugin(plugin, RATE).process(**keywords)
    assert message in str(error.value)


# --- MIDI files rendered: varkel.render, varkel-host and the cluster ---

@pytest.fixture(scope="module")
def songs(tmp_path_factory):
    """Twenty short MIDI files, each a note of its own velocity, some on channel 2."""
    folder = tmp_path_factory.mktemp("songs")
    for i in range(20):
        write_midi(folder / f"song{i:02}.mid",
                   [(0.01 * i, 0.05 + 0.003 * i, 48 + i, 20 + 5 * i, i % 2)])
    return folder


@SINES
@pytest.mark.parametrize("keywords, args", [
    ({}, []),
    ({"midi_channel": 2, "tail": 0.05, "format": "pcm24"},
     ["--midi-channel", "2", "--tail", "0.05", "--format", "pcm24"]),
], ids=["defaults", "one channel, a tail, 24-bit"])
def test_render_of_a_midi_file_equals_varkel_host(sine, songs, tmp_path, keywords, args):
    source = songs / "song03.mid"
    summary = varkel.render(source, tmp_path / "py.wav", sine, sample_rate=RATE, **keywords)
    subprocess.run([str(HOST), "render", str(source), str(tmp_path / "host.wav"), "--quiet",
                    "--plugin", sine, "--rate", str(RATE), *args], check=True)
    assert (tmp_path / "py.wav").read_bytes() == (tmp_path / "host.wav").read_bytes()
    assert summary["sample_rate"] == RATE and summary["frames"] > 0


@pytest.mark.parametrize("keywords, message", [
    ({}, "sample_rate"),
    ({"sample_rate": RATE, "midi_channel": 17}, "midi_channel 17: MIDI channels are whole numbers"),
    ({"sample_rate": RATE, "midi_channel": 1.5}, "midi_channel 1.5"),
], ids=["no rate", "channel 17", "channel 1.5"])
def test_render_of_a_midi_file_refuses_as_varkel_host(songs, tmp_path, keywords, message):
    with pytest.raises(ValueError, match=message):
        varkel.render(songs / "song00.mid", tmp_path / "out.wav", SINE_VST, **keywords)


@pytest.mark.parametrize("channel", [0, 2.5, "1"])
def test_a_cluster_batch_refuses_a_channel_before_it_starts(songs, tmp_path, channel):
    from varkel.cluster import render_files

    with pytest.raises(ValueError, match="midi_channel .*: MIDI channels are whole numbers"):
        render_files([songs], tmp_path / "out", SINE_VST, sample_rate=RATE, midi_channel=channel)
    assert not (tmp_path / "out").exists()


def test_twenty_midi_files_on_a_cluster_and_at_j2_as_rendered_one_by_one(songs, tmp_path,
                                                                        loopback_cluster):
    from varkel.cluster import RENDERED, render_files

    _, client = loopback_cluster
    results = render_files([songs], tmp_path / "cluster", SINE_VST, client=client,
                           sample_rate=RATE, name="{stem}.{ext}")
    assert [r.status for r in results] == [RENDERED] * 20
    batch = subprocess.run([str(HOST), "render", str(songs), "--out-dir", str(tmp_path / "host"),
                            "--plugin", SINE_VST, "--rate", str(RATE), "-j", "2", "--quiet",
                            "--name", "{stem}.{ext}"], capture_output=True, text=True)
    assert batch.returncode == 0, batch.stderr
    for song in sorted(songs.glob("*.mid")):
        single = tmp_path / "single" / f"{song.stem}.wav"
        single.parent.mkdir(exist_ok=True)
        subprocess.run([str(HOST), "render", str(song), str(single), "--quiet",
                        "--plugin", SINE_VST, "--rate", str(RATE)], check=True)
    made = folder_bytes(tmp_path / "single")
    assert len(made) == 20
    assert folder_bytes(tmp_path / "cluster") == made
    assert folder_bytes(tmp_path / "host") == made
