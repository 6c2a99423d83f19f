"""Sound files through the engine: reading, writing and rendering."""

from __future__ import annotations

import os
import warnings
from collections.abc import Mapping, Sequence
from typing import Any, Optional, Union

import numpy as np

from . import _varkel
from ._midi import midi_channel as midi_channel_checked
from ._processors import PathLike, _Processor, default_plugin_path

PluginLike = Union[None, PathLike, _Processor]
def read(path: PathLike, dtype: Any = np.float32, with_format: bool = False) -> tuple[Any, ...]:
    """Reads a sound file (anything libsndfile reads: WAV, AIFF, FLAC, Ogg, MP3, ...)
    and returns ``(audio, sample_rate)``, audio of shape (channels, frames) as
    float32 (default) or float64. With ``with_format`` it returns
    ``(audio, sample_rate, format)``: the file's sample format ("float",
    "double", "pcm16", "pcm24", "pcm32", "pcm8", "pcmu8", "ulaw", "alaw",
    "vorbis", "opus", "mp3", or None for another), which ``write`` takes back.
    Raises FileNotFoundError for a missing file and RuntimeError for one that
    cannot be decoded."""
    wide = np.dtype(dtype)
    if wide not in (np.dtype(np.float32), np.dtype(np.float64)):
        raise ValueError(f"dtype {wide}: must be float32 or float64")
    audio, rate = _varkel.read(os.fspath(path), wide == np.dtype(np.float64))
    if with_format:
        return audio, rate, _varkel.sound_file_format(os.fspath(path))[1]
    return audio, rate
def write(
    path: PathLike, audio: np.ndarray, sample_rate: int, format: Optional[str] = None
) -> None:
    """Writes audio of shape (channels, frames), float32 or float64, to ``path``.

    The extension chooses the container as in varkel-host (``.wav``, ``.flac``,
    ``.ogg``, ``.mp3``, ...; none: WAV). ``format`` "float", "pcm24" or "pcm16"
    asks for that sample format, as render's ``format``; another of the names
    ``read(..., with_format=True)`` gives is kept where the container holds it,
    as ``render`` keeps an input's, so a 16-bit file read, processed and
    written stays 16-bit; None keeps the array's own float format where the
    container holds it. Else the first of float, 24-bit and 16-bit the
    container holds. Integer formats are rounded to the nearest step and clip
    at full scale, as ``render`` writes them, to the byte. The file is written
    beside ``path`` and renamed into place when complete, so a failure leaves no
    half-written file."""
    _varkel.write(os.fspath(path), audio, int(sample_rate), format)


def _plugin_and_settings(plugin: PluginLike) -> tuple[str, list[tuple[str, float]]]:
    if plugin is None:
        return default_plugin_path(), []
    if isinstance(plugin, _Processor):
        # Only what differs from opening, so that a summary reads as varkel-host's.
        values = [(str(p.index), p.value) for p in plugin.parameters.values() if p.value != p.default]
        return plugin.location, values
    return os.fspath(plugin), []
def render(
    in_path: PathLike,
    out_path: PathLike,
    plugin: PluginLike = None,
    *,
    precision: int = 32,
    block_size: int = 512,
    format: Optional[str] = None,
    overwrite: bool = True,
    automation: Optional[Mapping[str, tuple[Sequence[float], Sequence[float]]]] = None,
    ramp: bool = False,
    sample_rate: Optional[int] = None,
    loudness: Optional[float] = None,
    true_peak_max: Optional[float] = None,
    measure: bool = False,
    tail: Optional[float] = None,
    midi: Optional[PathLike] = None,
    midi_channel: Optional[int] = None,
    **params: float,
) -> dict[str, Any]:
    """Renders a file as ``varkel-host render IN OUT`` does, byte for byte.

    ``plugin``: a module path, a processor (its location and current parameter
    values are used; a ``Varkel`` renders through the Varkel module), or None for
    the Varkel module. Keywords set parameters (``PreGain=0.8``) after the
    processor's; ``automation`` maps a parameter to (times, values) as
    ``--automate``, with ``ramp`` as ``--ramp``; ``precision`` 32 or 64,
    ``block_size``, ``format`` and ``overwrite`` as varkel-host's options.
    ``sample_rate`` resamples the input to that rate before the plug-in, as
    ``--rate``; ``loudness`` scales the output to that integrated loudness in
    LUFS, as ``--loudness``; ``true_peak_max`` (dBTP) and ``measure`` as
    ``--true-peak-max`` and ``--measure``.
    Returns the summary: frames, sample rate, seconds taken, peak and RMS level
    in dBFS, samples clipped by an integer format, the channel mapping, the
    rate resampled from (or None), the gain of the loudness scaling in dB (or
    None), and with ``measure`` ``loudness``, as ``varkel.loudness`` gives it.

    A MIDI file as ``in_path`` (.mid, .midi) plays through an instrument
    ``plugin`` at ``sample_rate``, which it needs: the output (float WAV unless
    ``format`` says otherwise) runs to the last message and on until the sound
    stays below -96 dBFS for 100 ms (at most 30 s more), or ``tail`` seconds past
    it, as ``--tail``. ``midi`` plays a MIDI file into an effect alongside
    ``in_path``, as ``--midi``; ``midi_channel`` (1 to 16) keeps one channel's
    messages, as ``--midi-channel``. After a sound file ``tail`` renders that
    many seconds of silence through the plug-in past its end.

    The render runs at the input file's rate (or ``sample_rate``), whatever
    rate a processor given as ``plugin`` was made for; a processor of another
    rate gives a warning."""
    midi_input = _varkel.is_midi_file_name(os.fspath(in_path))
    if isinstance(plugin, _Processor) and os.path.isfile(in_path):
        # A MIDI file has no rate of its own: it renders at sample_rate, or not at all.
        own = None if midi_input else _varkel.sound_file_format(os.fspath(in_path))[0]
        rate = sample_rate or own
        if rate is not None and rate != plugin.sample_rate:
            at = "its own rate, " if rate == own else ""
            warnings.warn(f"{os.fspath(in_path)} renders at {at}{rate} Hz, not at the "
                          f"{plugin.sample_rate:g} Hz the processor was made for", stacklevel=3)
    location, settings = _plugin_and_settings(plugin)
    settings += [(name, float(value)) for name, value in params.items()]
    lanes = [
        (name, [float(t) for t in times], [float(v) for v in values])
        for name, (times, values) in (automation or {}).items()
    ]
    return _varkel.render(
        os.fspath(in_path), os.fspath(out_path), location, settings, lanes, bool(ramp),
        int(precision), int(block_size), format, bool(overwrite),
        _whole(sample_rate, "sample_rate"), loudness, true_peak_max, bool(measure),
        None if tail is None else float(tail), os.path.abspath(midi) if midi else "",
        midi_channel_checked(midi_channel),
    )


def _whole(value: Optional[float], keyword: str) -> Optional[int]:
    """A rate as a whole number, or None; anything else refused, not cut."""
    if value is None:
        return None
    if not isinstance(value, (int, float)) or value != value or int(value) != value:
        raise ValueError(f"{keyword} {value}: must be a whole number of Hz")
    return int(value)


def loudness(audio: np.ndarray, rate: int) -> dict[str, float]:
    """The loudness of audio of shape (channels, frames) at ``rate``, as ITU-R
    BS.1770-4 and EBU R 128 define it and ``render(..., measure=True)`` reports
    it: ``integrated_lufs`` (-inf for silence, or audio gated out throughout),
    ``range_lu`` and ``true_peak_dbtp``."""
    return _varkel.loudness(audio, int(rate))
