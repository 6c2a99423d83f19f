"""MIDI as process() takes it, made into (seconds, bytes) pairs for the engine."""

from __future__ import annotations

import math
import numbers
import os
from typing import Any, Optional

from . import _varkel


def _is_mido_message(item: Any) -> bool:
    # mido's Message and MetaMessage, without importing mido where it is absent.
    return hasattr(item, "is_meta") and hasattr(item, "bytes") and hasattr(item, "time")


def _message_bytes(message: Any, place: str) -> bytes:
    if _is_mido_message(message):
        if message.is_meta:
            raise ValueError(f"{place}: a meta message ({message.type}) is no MIDI a plug-in takes")
        return bytes(message.bytes())
    if isinstance(message, (bytes, bytearray, memoryview)):
        return bytes(message)
    if isinstance(message, str):
        raise ValueError(f"{place}: a message is bytes or a list of byte values, not text")
    try:
        values = [int(v) for v in message]
    except (TypeError, ValueError):
        raise ValueError(f"{place}: a message is bytes, a list of byte values or a mido "
                         f"message, not {type(message).__name__}") from None
    if any(not 0 <= v <= 255 for v in values):
        raise ValueError(f"{place}: byte values are 0 to 255, not {values}")
    return bytes(values)


def _delta(message: Any, place: str) -> float:
    delta = message.time
    if not isinstance(delta, numbers.Real) or not math.isfinite(delta) or delta < 0:
        raise ValueError(f"{place}: a mido message's time is the seconds since the one before "
                         f"it, 0 or more, not {delta!r}")
    return float(delta)


def midi_pairs(midi: Any) -> list[tuple[float, bytes]]:
    """The messages of any form process() takes, as (seconds, bytes) pairs in order."""
    if isinstance(midi, (str, os.PathLike)):
        return _varkel.read_midi_file(os.fspath(midi))
    if hasattr(midi, "tracks") and hasattr(midi, "ticks_per_beat"):  # a mido.MidiFile
        now, pairs = 0.0, []
        for message in midi:  # its times are seconds since the message before, tempo applied
            now += message.time
            if not message.is_meta:
                pairs.append((now, bytes(message.bytes())))
        return pairs
    if type(midi).__name__ == "MidiTrack":
        raise ValueError("midi: a mido MidiTrack's times are ticks; give the MidiFile, whose "
                         "messages come in seconds")
    if isinstance(midi, (bytes, bytearray)):
        raise ValueError("midi: give (seconds, bytes) pairs, mido messages or a MIDI file's "
                         "path, not bare bytes")
    try:
        items = list(midi)
    except TypeError:
        raise ValueError("midi: give (seconds, bytes) pairs, mido messages or a MIDI file's "
                         f"path, not {type(midi).__name__}") from None
    now, pairs = 0.0, []
    for index, item in enumerate(items):
        place = f"midi[{index}]"
        if _is_mido_message(item):
            now += _delta(item, place)
            if not item.is_meta:
                pairs.append((now, bytes(item.bytes())))
            continue
        try:
            seconds, message = item
        except (TypeError, ValueError):
            raise ValueError(f"{place}: not a (seconds, bytes) pair nor a mido message: "
                             f"{item!r}") from None
        if not isinstance(seconds, numbers.Real) or isinstance(seconds, bool):
            raise ValueError(f"{place}: the time is a number of seconds, not {seconds!r}")
        now = float(seconds)
        pairs.append((now, _message_bytes(message, place)))
    return pairs


def midi_channel(value: Optional[Any]) -> Optional[int]:
    """A MIDI channel, 1 to 16, or None; anything else refused, as --midi-channel refuses it."""
    if value is None:
        return None
    whole = isinstance(value, numbers.Integral) or (isinstance(value, float) and value.is_integer())
    if isinstance(value, bool) or not whole or not 1 <= value <= 16:
        raise ValueError(f"midi_channel {value!r}: MIDI channels are whole numbers from 1 to 16")
    return int(value)
