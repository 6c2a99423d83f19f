"""A batch on a Dask cluster: planned as varkel-host plans it, one task per
file, results gathered as they come, the job's own folders removed at the end."""

from __future__ import annotations

import contextlib
import dataclasses
import os
import secrets
import shutil
import signal
import sys
import tempfile
import threading
import time
from collections.abc import Callable, Iterable, Mapping, Sequence
from typing import Any, Optional, Union

from .. import _varkel
from .._files import _whole
from .._midi import midi_channel as midi_channel_checked
from .._processors import PathLike, default_plugin_path
from ._connection import local_cluster
from ._task import RenderOptions, TaskItem, placed_summary, render_item

RENDERED, SKIPPED, FAILED = "rendered", "skipped", "failed"


@dataclasses.dataclass(frozen=True)
class FileResult:
    """What became of one input: ``status`` is "rendered", "skipped" (its output
    exists) or "failed" with ``reason``; ``summary`` is ``varkel.render``'s,
    with the line varkel-host prints (``summary["summary"]``) and any warning."""

    input: str
    output: Optional[str]
    status: str
    reason: str = ""
    summary: Optional[dict[str, Any]] = None


def render_files(
    inputs: Iterable[PathLike],
    out_dir: PathLike,
    plugin: Optional[PathLike] = None,
    settings: Union[None, Mapping[str, float], Sequence[tuple[str, float]]] = None,
    automation: Union[None, Mapping[str, tuple[Sequence[float], Sequence[float]]],
                      Sequence[tuple[str, Sequence[float], Sequence[float]]]] = None,
    name: Optional[str] = None,
    ext: Optional[str] = None,
    skip_existing: bool = False,
    client: Any = None,
    *,
    workers: Optional[int] = None,
    overwrite: bool = False,
    recursive: bool = False,
    state: Optional[PathLike] = None,
    preset: Optional[str] = None,
    ramp: bool = False,
    precision: int = 32,
    block_size: int = 512,
    format: Optional[str] = None,
    dither: bool = False,
    compensate_latency: bool = True,
    tail: Optional[float] = None,
    sidechain: Optional[PathLike] = None,
    sample_rate: Optional[int] = None,
    loudness: Optional[float] = None,
    true_peak_max: Optional[float] = None,
    measure: bool = False,
    midi: Optional[PathLike] = None,
    midi_channel: Optional[int] = None,
    in_process: bool = False,
    plugin_timeout: float = 10.0,
    progress: Optional[bool] = None,
    on_plan: Optional[Callable[[int], None]] = None,
    on_result: Optional[Callable[[FileResult], None]] = None,
) -> list[FileResult]:
    """Renders files and folders into ``out_dir`` as ``varkel-host render IN...
    --out-dir DIR`` does, byte for byte, each file a task on a Dask cluster.

    ``client``: a ``distributed.Client`` (see ``connect``); None starts a cluster
    of ``workers`` processes (default: one per core) on this machine for this
    call, once the plan holds a file to render. Every worker
    must see the inputs and ``out_dir`` under the same paths (shared storage)
    and open ``plugin``: a module path, an LV2 URI or bundle, or None for the
    Varkel module of the package. The other arguments are varkel-host's render
    options: ``state`` as ``--state`` (applied first, then ``preset``, then
    ``settings``), ``settings`` as ``--set`` (name to value, or (name, value)
    pairs applied in order), ``automation`` as ``--automate`` (name to (times, values),
    or (name, times, values) triples), ``name`` as ``--name``, ``sample_rate``
    as ``--rate``, ``loudness`` as ``--loudness``, ``true_peak_max`` as
    ``--true-peak-max``, ``midi`` as ``--midi``, ``midi_channel`` as
    ``--midi-channel`` and so on. MIDI files among the inputs (.mid, .midi)
    render through an instrument ``plugin`` at ``sample_rate``, as varkel-host
    renders them. Each file's plug-in runs in a process of its
    own, so that its crash or hang (a call longer than ``plugin_timeout``
    seconds) fails that file, not the worker; ``in_process=True`` loads it into
    the worker instead, which is faster.

    Returns one result per file, in the plan's order, then one per input that
    gave none (a folder without sound files). ``on_plan`` is told how many
    results there will be before any file renders, ``on_result`` given each as
    it comes; ``progress`` shows Dask's progress bar (default: when stdout is a
    terminal). Raises ValueError for options varkel-host refuses and
    RuntimeError for a plug-in that does not open, before any file renders.
    """
    options = _options(plugin, settings, automation, state, preset, ramp, precision, block_size,
                       format, dither, compensate_latency, tail, sidechain)
    options = dataclasses.replace(
        options, sample_rate=_whole(sample_rate, "sample_rate"),
        loudness=None if loudness is None else float(loudness),
        true_peak_max=None if true_peak_max is None else float(true_peak_max),
        measure=bool(measure), midi=os.path.abspath(midi) if midi else "",
        midi_channel=midi_channel_checked(midi_channel), in_process=bool(in_process),
        plugin_timeout=float(plugin_timeout))
    plan = _varkel.prepare_batch(
        [os.fspath(i) for i in inputs], os.fspath(out_dir), recursive, name or "", ext or "",
        overwrite, skip_existing, options.plugin or default_plugin_path(), options.state,
        options.preset,
        list(options.settings), list(options.automation), options.block_size,
        not options.in_process, options.plugin_timeout, options.sample_rate)
    report = on_result or (lambda result: None)
    if on_plan is not None:
        on_plan(len(plan["items"]) + len(plan["problems"]))
    extra = [FileResult(p.partition(": no sound files")[0], None, FAILED, p)
             for p in plan["problems"]]
    for result in extra:
        report(result)
    results: list[Optional[FileResult]] = [None] * len(plan["items"])
    job = None
    tasks: dict[int, TaskItem] = {}
    try:
        # An interrupt that lands between the job's folders being made and
        # their removal being due would leave them behind: it waits.
        with _interrupts_held():
            job = _Job(plan["folders"])
        for index, (source, output, problem, skip) in enumerate(plan["items"]):
            if problem or skip:
                results[index] = FileResult(source, output, FAILED if problem else SKIPPED, problem)
                report(results[index])
                continue
            task = job.task(index, source, output, overwrite)
            if isinstance(task, str):
                results[index] = FileResult(source, output, FAILED, task)
                report(results[index])
            else:
                tasks[index] = task
        _run(job.tag, tasks, options, client or workers, progress, results, report)
    except BaseException:
        # Interrupted: files already in place count, though their results never came.
        for index, task in tasks.items():
            if results[index] is None:
                summary = placed_summary(task)
                if summary is not None:
                    results[index] = FileResult(task.shown_input, task.shown_output, RENDERED,
                                                summary=summary)
                    report(results[index])
        raise
    finally:
        if job is not None:
            with _interrupts_held():
                job.remove()
    return [r for r in results if r is not None] + extra


@contextlib.contextmanager
def _interrupts_held():
    """SIGINT, SIGTERM and SIGHUP held back until the block is done, then handled
    as they would have been. Python runs signal handlers on the main thread, so
    there the handlers are swapped for ones that only take note; blocking the
    signals would not do, as another thread of the process may receive them."""
    if threading.current_thread() is not threading.main_thread():
        yield
        return
    noted: list[int] = []
    previous = {signum: signal.signal(signum, lambda signum, frame: noted.append(signum))
                for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)}
    try:
        yield
    finally:
        for signum, handler in previous.items():
            signal.signal(signum, handler)
        if noted:
            handler = previous[noted[0]]
            if callable(handler):
                handler(noted[0], None)
            elif handler == signal.SIG_DFL:
                signal.raise_signal(noted[0])


def _options(plugin, settings, automation, state, preset, ramp, precision, block_size, format, dither,
             compensate_latency, tail, sidechain) -> RenderOptions:
    location = os.fspath(plugin) if plugin is not None else ""
    # A path for the workers, whatever their folder; a URI as it is.
    if location and os.path.exists(location):
        location = os.path.abspath(location)
    return RenderOptions(
        plugin=location, preset=preset or "",
        # A path for the workers, as the plug-in's; an LV2 state bundle too.
        state=os.path.abspath(state) if state else "",
        settings=tuple((str(k), float(v)) for k, v in _pairs(settings or ())),
        automation=tuple((str(k), tuple(map(float, t)), tuple(map(float, v)))
                         for k, (t, v) in _pairs(automation or (), lanes=True)),
        ramp=bool(ramp), precision=int(precision), block_size=int(block_size), format=format,
        dither=bool(dither), compensate_latency=bool(compensate_latency), tail=None if tail is None else float(tail),
        sidechain=os.path.abspath(sidechain) if sidechain else "",
        wording=_varkel.wording_in_use())


def _pairs(given, lanes=False):
    if isinstance(given, Mapping):
        return list(given.items())
    return [(entry[0], tuple(entry[1:])) for entry in given] if lanes else list(given)


class _Job:
    """The job's own hidden folder in each output folder, named as the engine
    names temporaries (so a later render on this machine removes what a killed
    driver left); everything a task writes before its output is in place, and
    whatever a dead worker left, is in there."""

    def __init__(self, folders: Sequence[str]):
        self.tag = secrets.token_hex(6)  # the job's tasks' keys
        self.stages: dict[str, str] = {}
        self.missing: dict[str, str] = {}
        for folder in folders:
            try:
                os.makedirs(folder, exist_ok=True)
                prefix = os.path.basename(_varkel.temporary_pattern(folder))[: -len("XXXXXX")]
                self.stages[folder] = tempfile.mkdtemp(prefix=prefix, dir=folder)
            except OSError as error:
                self.missing[folder] = f"cannot create the output folder {folder} ({error.strerror})"

    def task(self, index: int, source: str, output: str, overwrite: bool) -> TaskItem | str:
        """The task for one planned file, or why it cannot have one."""
        folder = os.path.dirname(output)
        if folder in self.missing:
            return self.missing[folder]
        return TaskItem(os.path.abspath(source), os.path.abspath(output), source, output,
                        os.path.abspath(os.path.join(self.stages[folder], str(index))), overwrite)

    def remove(self) -> None:
        # Workers of another machine may still be finishing a cancelled task in there.
        for stage in self.stages.values():
            for _ in range(50):
                shutil.rmtree(stage, ignore_errors=True)
                if not os.path.lexists(stage):
                    break
                time.sleep(0.1)


def _run(tag, tasks, options, client, progress, results, report) -> None:
    if not tasks:
        return
    own = None
    if client is None or isinstance(client, int):
        own, client = local_cluster(client)
    from distributed import as_completed

    futures = {}
    try:
        _check_workers_import_varkel(client)
        for index, task in tasks.items():
            future = client.submit(render_item, task, options, key=f"varkel-render-{tag}-{index}",
                                   pure=False)
            futures[future] = index
        bar = _progress_bar(list(futures), client, progress)
        for future in as_completed(futures, loop=client.loop):
            index = futures[future]
            task = tasks[index]
            outcome = _outcome(future, task.shown_input)
            results[index] = FileResult(task.shown_input, task.shown_output, outcome["status"],
                                        outcome.get("reason", ""), outcome.get("summary"))
            report(results[index])
        if bar is not None:
            bar.join(timeout=1)
    finally:
        client.cancel(list(futures))
        if own is not None:
            client.close()
            own.close()


def _check_workers_import_varkel(client) -> None:
    """Once, before any task: a worker without the package would fail every file."""
    try:
        # A built-in, so that the call itself needs nothing of varkel on the worker.
        client.run(exec, "import varkel._varkel")
    except Exception as error:
        text = " ".join(str(error).split()) or type(error).__name__
        raise RuntimeError(f"the cluster's workers cannot import varkel ({text}); start them with "
                           "the Python that has it, as the README shows") from None


def _outcome(future, shown_input: str) -> dict[str, Any]:
    from distributed import KilledWorker

    try:
        return future.result()
    except KilledWorker as error:  # its workers died, again and again
        text = " ".join(str(error).split())
        return {"status": FAILED, "reason": f"{shown_input}: the workers rendering it died ({text})"}
    except Exception as error:  # the task never ran: say, a worker could not load it
        text = " ".join(str(error).split()) or type(error).__name__
        return {"status": FAILED, "reason": f"{shown_input}: the workers could not render it "
                                            f"({type(error).__name__}: {text})"}


def _progress_bar(futures, client, shown: Optional[bool]):
    if not (sys.stdout.isatty() if shown is None else shown):
        return None
    from distributed import progress

    bar = threading.Thread(target=progress, args=(futures,),
                           kwargs={"notebook": False, "multi": False,
                                   "scheduler": client.scheduler.address}, daemon=True)
    bar.start()
    return bar
