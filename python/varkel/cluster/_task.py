"""One file of a batch, as a worker renders it.

A task renders into the job's own folder beside the output (``<stage>/`` below
a ``.vk-`` folder that the driver made and removes at the end), keeps the
summary there, and only then puts the output in place with a hard link. Dask
runs a task again when the worker holding its result dies, so a task must
tell its own finished work from anybody else's: an output that is the same
file as the job's staged copy (or, where links are missing, has its bytes)
is this job's, and counts as rendered. Nothing but a complete file ever
appears under the output's name, and a killed task leaves its debris only
inside the job's folder.
"""

from __future__ import annotations

import dataclasses
import errno
import filecmp
import json
import os
from contextlib import suppress
from typing import Any, Optional

from .. import _varkel
from .._processors import default_plugin_path

_SUMMARY = "summary.json"
_PLACING = ".placing"
# Errors a file system without hard links answers os.link with.
_NO_LINKS = {errno.EPERM, errno.ENOTSUP, errno.EOPNOTSUPP, errno.EMLINK}


@dataclasses.dataclass(frozen=True)
class RenderOptions:
    """How every file of a batch renders; sent to each task."""

    plugin: str = ""  # empty: the Varkel module of the package on each worker
    state: str = ""  # loaded first, then the preset, then the settings
    preset: str = ""
    settings: tuple[tuple[str, float], ...] = ()
    automation: tuple[tuple[str, tuple[float, ...], tuple[float, ...]], ...] = ()
    ramp: bool = False
    precision: int = 32
    block_size: int = 512
    format: Optional[str] = None
    dither: bool = False
    compensate_latency: bool = True
    tail: Optional[float] = None  # none: 0 s after audio, until quiet after MIDI
    sidechain: str = ""
    sample_rate: Optional[int] = None
    loudness: Optional[float] = None
    true_peak_max: Optional[float] = None
    measure: bool = False
    midi: str = ""  # played into an effect alongside each file
    midi_channel: Optional[int] = None
    # Each file's plug-in in a process of its own, so that its crash fails
    # that file, not the worker (which Dask would restart and retry on).
    in_process: bool = False
    plugin_timeout: float = 10.0
    # How a failure names the options: "python" (keywords) or "command line"
    # (varkel-host's flags, for the cluster's command line).
    wording: str = "python"


@dataclasses.dataclass(frozen=True)
class TaskItem:
    """One planned file: absolute paths to work with, the plan's to report."""

    input: str
    output: str
    shown_input: str
    shown_output: str
    stage: str  # this file's folder inside the job's folder
    overwrite: bool


def render_item(item: TaskItem, options: RenderOptions) -> dict[str, Any]:
    """Renders one file; never raises: a failure is a result with its reason."""
    try:
        return {"status": "rendered", "summary": _render(item, options)}
    except Exception as error:  # one bad file must not stop the rest
        # The engine names the files as it was given them; the user gave the plan's names.
        staged = os.path.join(item.stage, os.path.basename(item.output))
        reason = str(error).replace(staged, item.shown_output).replace(item.input, item.shown_input)
        return {"status": "failed", "reason": reason}


def _render(item: TaskItem, options: RenderOptions) -> dict[str, Any]:
    staged = os.path.join(item.stage, os.path.basename(item.output))
    summary_path = os.path.join(item.stage, _SUMMARY)
    if _same_file(item.output, staged):
        return _read_summary(summary_path)
    # No parents: once the driver has removed the job's folder, nothing is made again.
    with suppress(FileExistsError):
        os.mkdir(item.stage)
    if not (os.path.exists(staged) and os.path.exists(summary_path)):
        summary = _varkel.render_item(
            item.input, staged, item.shown_input, item.shown_output,
            **{**dataclasses.asdict(options), "plugin": options.plugin or default_plugin_path(),
               "settings": list(options.settings), "automation": list(options.automation)})
        _write_summary(summary_path, summary)
    _place(staged, item)
    return _read_summary(summary_path)


def placed_summary(item: TaskItem) -> Optional[dict[str, Any]]:
    """The summary of a file this job has put in place, else None."""
    staged = os.path.join(item.stage, os.path.basename(item.output))
    if not _same_file(item.output, staged):
        return None
    try:
        return _read_summary(os.path.join(item.stage, _SUMMARY))
    except (OSError, ValueError):
        return None


def _place(staged: str, item: TaskItem) -> None:
    try:
        if item.overwrite:
            placing = os.path.join(item.stage, _PLACING)
            with suppress(FileNotFoundError):
                os.unlink(placing)
            os.link(staged, placing)
            os.replace(placing, item.output)
        else:
            os.link(staged, item.output)
        return
    except FileExistsError:
        pass
    except OSError as error:
        if error.errno not in _NO_LINKS:
            raise RuntimeError(f"{item.shown_output}: cannot put the finished file in place "
                               f"({error.strerror})") from None
        if item.overwrite or not os.path.exists(item.output):
            os.replace(staged, item.output)
            return
    if not (_same_file(item.output, staged) or _same_bytes(item.output, staged)):
        raise RuntimeError(f"{item.shown_output} already exists (--overwrite replaces it)")


def _same_file(a: str, b: str) -> bool:
    try:
        return os.path.samefile(a, b)
    except OSError:
        return False


def _same_bytes(a: str, b: str) -> bool:
    try:
        return filecmp.cmp(a, b, shallow=False)
    except OSError:
        return False


def _write_summary(path: str, summary: dict[str, Any]) -> None:
    partial = path + ".part"
    with open(partial, "w", encoding="utf-8") as file:
        json.dump(summary, file)
    os.replace(partial, path)


def _read_summary(path: str) -> dict[str, Any]:
    with open(path, encoding="utf-8") as file:
        return json.load(file)
