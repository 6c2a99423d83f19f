"""Varkel for Python: the op-amp gain stage, VST 2.4 and LV2 plug-ins and sound
files on Varkel's host engine, for processing audio in numpy arrays.

- ``Varkel(sample_rate, **params)``: Varkel's processor itself, bit for bit the
  plug-in's output.
- ``load_plugin(path, sample_rate, **params)``: any plug-in varkel-host opens.
- ``Chain([...])``: processors in series.
- ``read``, ``write``, ``render``: sound files; ``render`` equals varkel-host render.
- ``AudioFile``: a sound file read, resampled or written a chunk at a time, for
  files longer than memory.
- ``loudness``: integrated loudness, loudness range and true peak of an array.
- ``analyze``: the measurements of varkel-host analyze as Python objects.

Audio is a numpy array of shape (channels, frames), float32 or float64.
Failures raise FileNotFoundError (a missing file), ValueError (a wrong
parameter, name, value, shape or dtype) or RuntimeError (a plug-in or file
that fails), with the message varkel-host prints.
"""

from ._analysis import analyze
from ._audio_file import AudioFile, ResampledAudioFile
from ._files import loudness, read, render, write
from ._processors import Chain, Parameter, Parameters, Plugin, Varkel, load_plugin

__version__ = "1.0.0"

__all__ = [
    "AudioFile",
    "Chain",
    "Parameter",
    "Parameters",
    "Plugin",
    "ResampledAudioFile",
    "Varkel",
    "analyze",
    "load_plugin",
    "loudness",
    "read",
    "render",
    "write",
]
