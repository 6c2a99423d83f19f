"""Processors: Varkel itself, loaded plug-ins, and chains of them."""

from __future__ import annotations

import math
import os
from collections.abc import Iterator, Mapping, Sequence
from typing import Any, Optional, Union

import numpy as np

from . import _varkel
from ._midi import midi_pairs

PathLike = Union[str, "os.PathLike[str]"]

DEFAULT_BLOCK_SIZE = 512
# Seconds each call to an isolated plug-in may take, as varkel-host's --plugin-timeout.
DEFAULT_PLUGIN_TIMEOUT = 10.0


def default_plugin_path() -> str:
    """The Varkel module that came with this package, or "" for the engine's default
    (the installed varkel-host's, else the build tree's)."""
    beside = os.path.join(os.path.dirname(os.path.abspath(__file__)), "vst", "Varkel.so")
    return beside if os.path.isfile(beside) else ""


class Parameter:
    """One parameter of a processor: value (normalised 0..1 for VST 2.4, in the
    port's own units for LV2), range, default, unit and the text the plug-in shows
    for the value. Setting ``value`` changes the processor."""

    # The instance, not the processor: a processor is freed with its last reference.
    __slots__ = ("_instance", "index", "name")

    def __init__(self, instance: Any, index: int) -> None:
        self._instance = instance
        self.index = index
        self.name: str = instance.parameter_name(index)

    @property
    def value(self) -> float:
        """The current value, in the parameter's own units."""
        return self._instance.parameter(self.index)

    @value.setter
    def value(self, value: float) -> None:
        self._instance.set_parameter(self.index, float(value))

    @property
    def range(self) -> tuple[float, float]:
        """The lowest and highest value: 0 to 1 for VST 2.4, the port's range for LV2."""
        return tuple(self._instance.parameter_range(self.index))

    @property
    def default(self) -> float:
        """The parameter's default: the value it had when a VST 2.4 effect was opened,
        the port's default for LV2."""
        return self._instance.default(self.index)

    @property
    def unit(self) -> str:
        """The unit the plug-in reports for the shown value (e.g. "dB"), or ""."""
        return self._instance.parameter_unit(self.index)

    @property
    def display(self) -> str:
        """The value as the plug-in shows it, in its unit (e.g. "6.02")."""
        return self._instance.parameter_display(self.index).strip()

    def __repr__(self) -> str:
        unit = f" {self.unit}" if self.unit else ""
        return f"<Parameter {self.name}={self.value:g} ({self.display}{unit})>"


class Parameters(Mapping[str, Parameter]):
    """A processor's parameters by name (exact, else ignoring case) or index.
    ``parameters["PreGain"] = 0.8`` sets a value."""

    def __init__(self, instance: Any) -> None:
        self._items = [Parameter(instance, i) for i in range(instance.parameter_count())]
        self._instance = instance

    def _find(self, key: Union[str, int]) -> Parameter:
        if isinstance(key, int) and not isinstance(key, bool):
            if not 0 <= key < len(self._items):
                raise KeyError(key)
            return self._items[key]
        if not isinstance(key, str):
            raise KeyError(key)
        try:
            return self._items[self._instance.parameter_index(key)]
        except ValueError as error:
            raise KeyError(str(error)) from None

    def __getitem__(self, key: Union[str, int]) -> Parameter:  # type: ignore[override]
        return self._find(key)

    def __setitem__(self, key: Union[str, int], value: float) -> None:
        self._find(key).value = value

    def __contains__(self, key: object) -> bool:
        try:
            self._find(key)  # type: ignore[arg-type]
        except KeyError:
            return False
        return True

    def __iter__(self) -> Iterator[str]:
        return (p.name for p in self._items)

    def __len__(self) -> int:
        return len(self._items)

    def values_dict(self) -> dict[str, float]:
        """Every parameter's current value by name."""
        return {p.name: p.value for p in self._items}

    def __repr__(self) -> str:
        return "{" + ", ".join(f"{p.name!r}: {p.value:g}" for p in self._items) + "}"


class _Processor:
    """What Varkel and loaded plug-ins share: parameters, streaming process,
    automation and reset.

    A processor is freed as soon as its last reference goes. It may cross into
    another process: a pickled one (a process pool's argument) and one used in a
    forked child (a data loader's worker) open the plug-in afresh there, at the
    same rate with the parameter values it had, and start as a new processor
    does (as after ``reset()``; pending automation stays behind). A plug-in
    that does not open again raises RuntimeError there."""

    _instance: Any

    def __init__(self, instance: Any, opening: tuple[Any, ...], params: dict[str, float]) -> None:
        object.__setattr__(self, "_instance", instance)
        object.__setattr__(self, "_opening", opening)  # what a copy in another process opens
        object.__setattr__(self, "_parameters", Parameters(instance))
        for name, value in params.items():
            self._parameter(name).value = value

    def _parameter(self, name: str) -> Parameter:
        # An unknown name raises ValueError with the valid names.
        return self._parameters[self._instance.parameter_index(name)]

    # -- identity ---------------------------------------------------------
    @property
    def name(self) -> str:
        """The plug-in's name."""
        return self._instance.name()

    @property
    def sample_rate(self) -> float:
        """The rate in hertz the processor runs at, fixed for its life."""
        return self._instance.sample_rate()

    @property
    def inputs(self) -> int:
        """Audio inputs of one instance."""
        return self._instance.inputs()

    @property
    def outputs(self) -> int:
        """Audio outputs of one instance."""
        return self._instance.outputs()

    @property
    def latency(self) -> int:
        """Frames of delay the plug-in reports with its current settings (0 for Varkel)."""
        return self._instance.latency()

    @property
    def control_outputs(self) -> dict[str, float]:
        """What the plug-in reported from its latest run, by name: an LV2 plug-in's
        meters, gain reduction and latency (its control outputs). Empty for VST 2.4."""
        return dict(self._instance.control_outputs())

    @property
    def presets(self) -> list[str]:
        """The plug-in's presets by name: LV2 presets, or a VST 2.4 module's programs."""
        return list(self._instance.presets())
    def load_preset(self, name: str) -> None:
        """Loads a preset by name (an LV2 preset's label or URI, a VST 2.4 program's
        name or number); raises ValueError naming those there for one it lacks."""
        self._instance.load_preset(name)

    # -- state ------------------------------------------------------------
    @property
    def state(self) -> bytes:
        """The plug-in's raw state: a VST 2.4 plug-in's program chunk (where its
        programs are chunks) or its parameters as big-endian float32 values (as a
        .fxp's 'FxCk' holds them), or an LV2 plug-in's state as Turtle text (the
        files it refers to are not in the bytes). Setting it loads such bytes,
        then the parameters stand as the state left them."""
        return self._instance.state()

    @state.setter
    def state(self, value: bytes) -> None:
        self._instance.set_state(bytes(value))

    def save_state(self, path: PathLike) -> None:
        """Saves the state as varkel-host state --save does: a VST 2.4 .fxp (a
        program) or .fxb (a bank), or an LV2 bundle folder with the files it refers
        to copied in."""
        self._instance.save_state(os.fspath(path))

    def load_state(self, path: PathLike) -> None:
        """Loads a state as --state does (a .fxp, .fxb, LV2 bundle folder or .ttl).
        Applied when called: a preset or parameters set afterwards change it, as
        --preset and --set do after --state. Raises RuntimeError for a file that is
        another plug-in's or is damaged, FileNotFoundError for a missing one."""
        self._instance.load_state(os.fspath(path))

    # -- parameters -------------------------------------------------------
    @property
    def parameters(self) -> Parameters:
        """The parameters by name or index, each with value, range, default, unit
        and display text; ``parameters["PreGain"] = 0.8`` sets one."""
        return self._parameters

    def _no_attribute(self, name: str) -> AttributeError:
        names = ", ".join(self._parameters)
        return AttributeError(f"{type(self).__name__} has no attribute or parameter {name!r}; "
                              f"valid names: {names}")

    def __getattr__(self, name: str) -> float:
        if name.startswith("_"):
            raise AttributeError(name)
        if name not in self._parameters:
            raise self._no_attribute(name)
        return self._parameters[name].value

    def __setattr__(self, name: str, value: Any) -> None:
        if not name.startswith("_") and name in self._parameters:
            self._parameters[name].value = value
            return
        if hasattr(type(self), name) or name.startswith("_"):
            object.__setattr__(self, name, value)
            return
        raise self._no_attribute(name)

    # -- audio ------------------------------------------------------------
    def output_channels(self, channels: int) -> int:
        """The channels that audio of ``channels`` channels comes out with."""
        return self._instance.output_channels(channels)

    def process(
        self,
        audio: Optional[np.ndarray] = None,
        block_size: int = DEFAULT_BLOCK_SIZE,
        sidechain: Optional[np.ndarray] = None,
        latency_compensation: bool = True,
        *,
        midi: Any = None,
        duration: Optional[float] = None,
        dtype: Any = None,
    ) -> np.ndarray:
        """Processes ``audio`` of shape (channels, frames), float32 or float64, and
        returns a new array of the same dtype and frames; or plays ``midi``
        through an instrument (no ``audio``), see MIDI below.

        With ``latency_compensation`` (the default) each call is a whole signal, as
        ``render`` treats a file: the plug-in's ``latency`` in frames of silence
        follows the audio and as many frames are dropped from the start, so the
        result is aligned with the input and as long. With ``False`` calls stream:
        nothing is added or dropped (the result is ``latency`` frames late), and a
        signal cut into calls of any size gives the same result as one call. For a plug-in without latency (Varkel) both are the same.

        A plug-in's side-chain inputs (a compressor's key input) get silence, or
        ``sidechain``: an array of the audio's dtype and frames whose channels feed
        them (one channel feeds every side-chain input). The channel mapping below
        applies to the main inputs only.

        Channels are mapped as varkel-host maps a file's: as many channels as the
        plug-in has inputs go through one instance; one channel feeds every input
        (mono in, stereo out for Varkel); more channels go through one instance per
        group of inputs (4 channels through 2 stereo instances); others raise
        ValueError. Filter state and noise run on from call to call. The first call
        after making or resetting the processor fixes the channel count, the dtype
        and ``block_size`` (frames per plug-in call, 1 to 65536; the result does not
        depend on it) until ``reset()``.

        A C-contiguous array (or the transpose of an interleaved one) is read
        where it is, without a copy (with latency compensation and a latency, one
        copy). The interpreter lock is released while the audio runs, so threads
        with processors of their own run in parallel; one processor serves one
        thread at a time (a second raises RuntimeError). Raises ValueError for a
        wrong shape or dtype, or NaN or infinite samples.

        MIDI: ``midi`` goes to a plug-in that takes it (``takes_midi``; else
        ValueError), each message on the frame nearest its time, counted from this
        call's first frame. It is one of:

        - (seconds, message) pairs in order of time, a message as ``bytes``, a list
          of byte values or a ``mido.Message`` (whose own ``time`` is not read);
        - ``mido`` messages, each ``time`` the seconds since the message before it
          (the first: since the call's first frame), as iterating a
          ``mido.MidiFile`` gives them; meta messages are not sent but their times
          count, so ``list(mido.MidiFile(path))`` plays as the file does;
        - a ``mido.MidiFile``, played as iterating it gives;
        - a MIDI file's path (``str`` or path-like), read by varkel-host's reader,
          so the result equals ``varkel-host render`` of the file byte for byte.

        A message is one whole MIDI message: a status byte, then its data bytes;
        system-exclusive from F0 to F7. Bytes that are not one, a time that is
        negative, not a number or before the one before it raise ValueError
        naming the message (``midi[3]: ...``); a damaged file RuntimeError.
        Messages past the call's end wait for the calls after it, landing on
        their frames there; notes held across calls keep sounding.

        Without ``audio`` an instrument plays alone (any audio inputs get
        silence): for ``duration`` seconds (round(duration × sample_rate)
        frames), or without it up to the last message still to come and on
        until the sound stays below -96 dBFS for 100 ms (at most 30 s more), as
        ``varkel-host render`` ends a MIDI file's render. ``midi=[]`` plays out
        what earlier calls left sounding. ``dtype`` (float32, the default, or
        float64) is the result's then, and the precision the plug-in runs at.
        With ``audio`` the result has the audio's frames: ``duration`` is refused.
        """
        events = None if midi is None else midi_pairs(midi)
        frames = None
        if duration is not None:
            seconds = float(duration)
            if not math.isfinite(seconds) or seconds < 0:
                raise ValueError(f"duration {duration!r}: must be a number of seconds, 0 or more")
            frames = round(seconds * self.sample_rate)
        wide = False
        if dtype is not None:
            wide = np.dtype(dtype) == np.dtype(np.float64)
            if not wide and np.dtype(dtype) != np.dtype(np.float32):
                raise ValueError(f"dtype {np.dtype(dtype)}: must be float32 or float64")
            if audio is not None and np.dtype(dtype) != np.asarray(audio).dtype:
                raise ValueError("dtype: the audio's dtype is the result's; give dtype only "
                                 "without audio")
        return self._instance.process(audio, int(block_size), sidechain,
                                      bool(latency_compensation), events, frames, wide)

    @property
    def takes_midi(self) -> bool:
        """Whether the plug-in takes MIDI (``process(..., midi=...)``): a VST 2.4
        synth or one that says it receives MIDI, an LV2 plug-in with a MIDI input."""
        return self._instance.takes_midi()

    @property
    def is_instrument(self) -> bool:
        """Whether it is an instrument: it takes MIDI and has no audio inputs (or
        says it is one), so ``process(midi=..., duration=...)`` plays it alone."""
        return self._instance.is_instrument()

    def automate(
        self,
        parameter: Union[str, int],
        times: Sequence[float],
        values: Sequence[float],
        ramp: bool = False,
    ) -> None:
        """Schedules changes of a parameter for the next ``process`` call.

        ``times`` are seconds from that call's first frame (not going back),
        ``values`` in the parameter's range (``parameters[name].range``: normalised
        0 to 1 for VST 2.4, the port's own units for LV2). A point lands on frame
        round(time × rate) whatever the block size; each value holds until the
        next point, or with ``ramp`` moves to it in steps every 32 frames, as
        varkel-host render --automate does. Points past the end of that call land in later calls.
        The lanes given before a call (one per parameter; all ramp or all hold)
        replace the automation running.
        """
        index = parameter if isinstance(parameter, int) else self._parameter(parameter).index
        self._instance.automate(
            index,
            [float(t) for t in np.asarray(times, dtype=float).ravel()],
            [float(v) for v in np.asarray(values, dtype=float).ravel()],
            bool(ramp),
        )

    def reset(self) -> None:
        """Starts afresh, as a new processor with the current parameter values:
        filters, noise and automation start over, and the next call may have
        another channel count, dtype or block size."""
        self._instance.reset()

    @property
    def location(self) -> str:
        """Where the plug-in was loaded from."""
        return self._instance.location()

    def __repr__(self) -> str:
        return f"<{type(self).__name__} {self.name} at {self.sample_rate:g} Hz {self.parameters!r}>"

    def __reduce__(self) -> tuple[Any, ...]:
        # Another process opens the plug-in afresh, with its state (where it
        # keeps one beyond its parameters), then these values.
        return (_reopened, (type(self), self._opening,
                            [p.value for p in self._parameters.values()],
                            self._instance.carried_state()))


def _reopened(kind: type, opening: tuple[Any, ...], values: list[float],
              state: bytes = b"") -> "_Processor":
    processor = kind(*opening)
    if state:
        processor._instance.set_state(state)
    for index, value in enumerate(values):
        processor._instance.set_parameter(index, value)
    return processor


class Varkel(_Processor):
    """Varkel's processor itself, with no plug-in module loaded.

    ``Varkel(sample_rate, PreGain=0.8, LPCutOff=1.0, PostGain=0.25)`` makes one;
    the parameters are normalised 0 to 1 as in the plug-in: a gain's dB is
    20·log10(value) + 12 (0.25118864 is 0 dB, the default; 1 is +12 dB) and the
    bandwidth low-pass's corner is 12000 × LPCutOff Hz (default 1). They are
    attributes too: ``v.PreGain = 1.0``.

    ``process(audio)`` takes (channels, frames) float32 or float64 arrays: two
    channels are left and right, one channel feeds both inputs and gives stereo,
    four channels run as two stereo pairs. The result is bit for bit what the
    VST 2.4 module renders (``varkel-host render``; float64 as its 64-bit
    process), at any call and block size. Each processor draws its own noise
    sequence for its whole life, whatever thread calls it and whatever other
    processors did before, so a new processor's first call equals a fresh render.

    Example::

        import numpy as np, varkel
        drive = varkel.Varkel(44100, PreGain=0.9, PostGain=0.2)
        stereo = np.random.default_rng(1).uniform(-0.5, 0.5, (2, 44100)).astype(np.float32)
        out = drive.process(stereo)           # same shape and dtype
        drive.reset()                         # start afresh for the next clip
    """

    def __init__(self, sample_rate: float, **params: float) -> None:
        rate = float(sample_rate)
        super().__init__(_varkel.Instance.processor(rate), (rate,), params)

    @property
    def location(self) -> str:
        """The Varkel module that renders the same bits (used by render and analyze)."""
        return default_plugin_path()


class Plugin(_Processor):
    """A plug-in loaded through the engine (a VST 2.4 module or an LV2 plug-in);
    see ``load_plugin``.

    Processing runs on a thread of the plug-in's own, so a plug-in whose noise is
    per thread (Varkel's module is) draws its own sequence for its whole life."""

    def __init__(self, path_or_uri: PathLike, sample_rate: float, isolated: bool = False,
                 plugin_timeout: float = DEFAULT_PLUGIN_TIMEOUT, **params: float) -> None:
        location = os.fspath(path_or_uri)
        if not location:
            raise ValueError("load_plugin needs a plug-in: a VST 2.4 module's path, or an LV2 "
                             "plug-in's URI or bundle folder (varkel.Varkel is Varkel's own)")
        if os.path.exists(location):  # the same file from another process's folder
            location = os.path.abspath(location)
        rate = float(sample_rate)
        timeout = float(plugin_timeout)
        super().__init__(
            _varkel.Instance.load(location, rate, DEFAULT_BLOCK_SIZE, bool(isolated), timeout),
            (location, rate, bool(isolated), timeout), params
        )


def load_plugin(path_or_uri: PathLike, sample_rate: float, *, isolated: bool = False,
                plugin_timeout: float = DEFAULT_PLUGIN_TIMEOUT, **params: float) -> Plugin:
    """Opens a plug-in at a sample rate (fixed for the instance), with parameters
    given as keywords: ``load_plugin("/usr/lib/vst/Varkel.so", 48000, PreGain=0.8)``.

    ``isolated=True`` runs it in a process of its own, as ``varkel-host --isolate``
    does: a crash, an abort or a hang in the plug-in (a call taking longer than
    ``plugin_timeout`` seconds) raises RuntimeError and this interpreter goes on;
    the instance is unusable after that.

    Takes what varkel-host's --plugin takes: a VST 2.4 module's path, or an LV2
    plug-in's URI or bundle folder (LV2 values are in the port's own units).
    Raises ValueError for an empty path, an unknown parameter or a value out of
    range, FileNotFoundError for a missing file, RuntimeError for a file that is
    no plug-in or a plug-in that fails."""
    return Plugin(path_or_uri, sample_rate, isolated, plugin_timeout, **params)


class Chain:
    """Processors in series: ``Chain([a, b]).process(x)`` is ``b.process(a.process(x))``.

    All must run at one sample rate. ``latency`` is the sum of the members';
    ``reset()`` resets each."""

    def __init__(self, processors: Sequence[_Processor]) -> None:
        self.processors = list(processors)
        if not self.processors:
            raise ValueError("a chain needs at least one processor")
        for p in self.processors:
            if not isinstance(p, _Processor):
                raise ValueError(f"a chain holds processors, not {type(p).__name__}")
        rates = {p.sample_rate for p in self.processors}
        if len(rates) > 1:
            raise ValueError(f"a chain runs at one sample rate; got {sorted(rates)}")

    @property
    def sample_rate(self) -> float:
        return self.processors[0].sample_rate

    @property
    def latency(self) -> int:
        """Frames of delay of the whole chain: the members' latencies added."""
        return sum(p.latency for p in self.processors)

    def process(self, audio: np.ndarray, block_size: int = DEFAULT_BLOCK_SIZE,
                latency_compensation: bool = True) -> np.ndarray:
        """Each processor's ``process`` in turn on the previous one's output. With
        ``latency_compensation`` each member compensates its own latency, so the
        result is aligned with the input; with ``False`` it is ``latency`` frames late."""
        for p in self.processors:
            audio = p.process(audio, block_size, latency_compensation=latency_compensation)
        return audio

    def reset(self) -> None:
        for p in self.processors:
            p.reset()

    def __len__(self) -> int:
        return len(self.processors)

    def __getitem__(self, index: int) -> _Processor:
        return self.processors[index]

    def __repr__(self) -> str:
        return "<Chain " + " -> ".join(p.name for p in self.processors) + ">"
