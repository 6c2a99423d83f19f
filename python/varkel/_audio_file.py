"""Sound files a chunk at a time, for files longer than memory."""

from __future__ import annotations

import os
from typing import Any, Optional

import numpy as np

from . import _varkel
from ._processors import PathLike


class _Reading:
    """What a file read in chunks and its resampled reader share."""

    _stream: Any
    name: str

    def read(self, frames: int = -1) -> np.ndarray:
        """The next ``frames`` frames (all that are left for -1) as float32 of
        shape (channels, frames): fewer at the end, and none after it."""
        return self._stream.read(int(frames))

    def seek(self, frame: int) -> None:
        """Makes ``frame`` (0 to ``frames``) the one read next."""
        self._stream.seek(int(frame))

    def tell(self) -> int:
        """The frame read next."""
        return self._stream.tell()

    @property
    def frames(self) -> int:
        return self._stream.frames()

    @property
    def sample_rate(self) -> int:
        return self._stream.sample_rate()

    @property
    def channels(self) -> int:
        return self._stream.channels()

    @property
    def format(self) -> Optional[str]:
        """The file's sample format by the names ``read(..., with_format=True)`` gives."""
        return self._stream.format()

    def close(self) -> None:
        self._stream.close()

    def __enter__(self) -> Any:
        return self

    def __exit__(self, *exception: Any) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"<{type(self).__name__} {self.name!r}>"


class ResampledAudioFile(_Reading):
    """A file read at another sample rate, resampled on the way through libsoxr
    at its very high quality (linear phase, its delay taken out, so frame 0 is
    the file's frame 0). Reads as ``AudioFile`` does; ``seek`` reads again from
    the start when it goes back. Made by ``AudioFile.resampled_to``."""

    def __init__(self, path: PathLike, sample_rate: int) -> None:
        self.name = os.fspath(path)
        self._stream = _varkel.ResampledStream(self.name, _rate(sample_rate))


class AudioFile(_Reading):
    """A sound file read or written a chunk at a time, as a context manager.

    ``AudioFile(path)`` reads: ``read(n)`` gives the next n frames as float32 of
    shape (channels, n), fewer at the end and an empty array after it;
    ``seek(frame)``, ``tell()``; ``frames``, ``sample_rate``, ``channels`` and
    ``format`` (as ``read(..., with_format=True)`` names it);
    ``resampled_to(rate)`` a reader of the same file at another rate.

    ``AudioFile(path, "w", sample_rate=..., channels=..., format=None)`` writes:
    ``write(audio)`` takes float32 or float64 arrays of shape (channels, n).
    ``format`` as ``write`` takes it (an input's ``format`` keeps that input's
    sample format); None: 32-bit float where the container holds it. The file
    is written beside ``path`` and renamed into place on ``close()``; leaving
    the ``with`` block on an exception, or dropping the writer unclosed, leaves
    nothing. The bytes are those of one ``varkel.write`` of all the chunks
    joined (of the same dtype).

    Raises FileNotFoundError for a missing file, ValueError for a wrong mode,
    rate, channel count, format or shape, and RuntimeError for a file that
    cannot be read or written, or is used after ``close()``."""

    def __init__(
        self,
        path: PathLike,
        mode: str = "r",
        *,
        sample_rate: Optional[int] = None,
        channels: Optional[int] = None,
        format: Optional[str] = None,
    ) -> None:
        self.name = os.fspath(path)
        self.mode = mode
        if mode == "r":
            if sample_rate is not None or channels is not None or format is not None:
                raise ValueError("sample_rate, channels and format are for writing (mode \"w\")")
            self._stream = _varkel.InputStream(self.name)
        elif mode == "w":
            if sample_rate is None or channels is None:
                raise ValueError("writing needs sample_rate and channels")
            self._stream = _varkel.OutputStream(
                self.name, _rate(sample_rate), _whole(channels, "channels"), format)
        else:
            raise ValueError(f"mode {mode!r}: must be \"r\" or \"w\"")
        self._sample_rate = sample_rate
        self._channels = channels

    def resampled_to(self, sample_rate: int) -> ResampledAudioFile:
        """The same file read at ``sample_rate``; this reader keeps its place."""
        self._reading()
        self._stream.tell()  # a closed file raises
        return ResampledAudioFile(self.name, sample_rate)

    def write(self, audio: np.ndarray) -> None:
        """Appends audio of shape (channels, frames), float32 or float64."""
        self._writing()
        self._stream.write(audio)

    def read(self, frames: int = -1) -> np.ndarray:
        self._reading()
        return super().read(frames)

    def seek(self, frame: int) -> None:
        self._reading()
        super().seek(frame)

    def tell(self) -> int:
        return self._stream.frames() if self.mode == "w" else super().tell()

    @property
    def frames(self) -> int:
        """Frames in the file; when writing, frames written so far."""
        return self._stream.frames()

    @property
    def sample_rate(self) -> int:
        return int(self._sample_rate) if self.mode == "w" else self._stream.sample_rate()

    @property
    def channels(self) -> int:
        return int(self._channels) if self.mode == "w" else self._stream.channels()

    def __exit__(self, kind: Any, *exception: Any) -> None:
        if self.mode == "w" and kind is not None:
            self._stream.discard()
        else:
            self.close()

    def _reading(self) -> None:
        if self.mode != "r":
            raise RuntimeError(f"{self.name} is open for writing, not reading")

    def _writing(self) -> None:
        if self.mode != "w":
            raise RuntimeError(f"{self.name} is open for reading, not writing")


def _whole(value: Any, keyword: str) -> int:
    if (isinstance(value, bool) or not isinstance(value, (int, float)) or value != value
            or int(value) != value):
        raise ValueError(f"{keyword} {value}: must be a whole number")
    return int(value)


def _rate(value: Any) -> int:
    rate = _whole(value, "sample_rate")
    if rate < 1:
        raise ValueError(f"sample_rate {rate}: must be positive")
    return rate
