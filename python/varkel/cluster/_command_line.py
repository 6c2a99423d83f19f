"""python3 -m varkel.cluster IN... --out-dir DIR [--scheduler ADDRESS] [options]

varkel-host render --out-dir on a Dask cluster: the same options, lines, summary
and exit status (0; 1 when a file failed; 2 for a wrong command line; 128 + the
signal when interrupted)."""

from __future__ import annotations

import argparse
import math
import signal
import sys
import time
import warnings
from typing import Optional

from .. import _varkel
from ._batch import FAILED, RENDERED, SKIPPED, FileResult, render_files
from ._connection import CONNECT_SECONDS, CertificateRefused, connect

PROGRAM = "varkel.cluster"
HELP = "python3 -m varkel.cluster --help"


class _Interrupted(BaseException):
    def __init__(self, signum: int):
        super().__init__(signum)
        self.signum = signum


class _Usage(Exception):
    pass


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        """One line, as varkel-host says it."""
        print(f"{PROGRAM}: {message} (see {HELP})", file=sys.stderr)
        sys.exit(2)


def _setting(text: str) -> tuple[str, float]:
    name, equals, number = text.rpartition("=")
    if not equals or not name or not number:
        raise argparse.ArgumentTypeError(f"needs NAME=VALUE, got '{text}'")
    try:
        value = float(number)
    except ValueError:
        value = math.nan
    if not math.isfinite(value) or "_" in number or number != number.strip():
        raise argparse.ArgumentTypeError(f"{text}: '{number}' is not a number")
    return name, value


def _automation(text: str):
    try:
        return _varkel.parse_automation(text)
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error)) from None


def _number(low: float, high: float, kind=float):
    def parse(text: str):
        try:
            value = kind(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"'{text}' is not a number") from None
        if not low <= value <= high:
            # Bounds of a whole-number option as whole numbers, as varkel-host shows them.
            raise argparse.ArgumentTypeError(f"must be between {kind(low)} and {kind(high)}, "
                                             f"got {text}")
        return value
    return parse


def _add_render_option(group, field: dict) -> None:
    """One of render's options, as the engine declares it."""
    flag, keyword, kind = "--" + field["name"], field["keyword"], field["kind"]
    common = {"dest": keyword, "help": field["help"]}
    if field["metavar"]:
        common["metavar"] = field["metavar"]
    if kind == "flag":
        # A flag that turns a default off ("no-..."): the keyword holds what is left on.
        negative = field["name"].startswith("no-")
        group.add_argument(flag, action="store_false" if negative else "store_true",
                           dest=keyword, help=field["help"])
    elif kind == "setting":
        group.add_argument(flag, type=_setting, action="append", default=[], **common)
    elif kind == "automation":
        group.add_argument(flag, type=_automation, action="append", default=[], **common)
    elif kind == "choice":
        group.add_argument(flag, choices=field["choices"], default=field["default"] or None,
                           **common)
    elif kind in ("integer", "number"):
        parse = _number(field["minimum"], field["maximum"], int if kind == "integer" else float)
        # No default: the option is off unless given.
        default = parse(field["default"]) if field["default"] else None
        group.add_argument(flag, type=parse, default=default, **common)
    else:
        group.add_argument(flag, **common)


def _render_options(arguments) -> dict:
    """The render options given, by their keywords."""
    options = {field["keyword"]: getattr(arguments, field["keyword"])
               for field in _varkel.render_option_fields()}
    options["precision"] = int(options["precision"])
    options["in_process"] = arguments.in_process
    return options


def _parser() -> argparse.ArgumentParser:
    parser = _Parser(
        prog="python3 -m varkel.cluster",
        description="Renders every IN (files and folders) into DIR through the plug-in, "
                    "each file a task on a Dask cluster, as varkel-host render --out-dir does.")
    parser.add_argument("inputs", nargs="+", metavar="IN")
    parser.add_argument("--out-dir", required=True, metavar="DIR")
    cluster = parser.add_argument_group("cluster")
    cluster.add_argument("--scheduler", metavar="ADDRESS",
                         help="tls://HOST:PORT of a running scheduler (tcp:// on the loopback "
                              "interface, or with --insecure); default: worker processes on "
                              "this machine")
    cluster.add_argument("--tls-ca-file", metavar="PEM", help="the CA that signed the cluster's "
                                                              "certificates")
    cluster.add_argument("--tls-cert", metavar="PEM", help="this client's certificate")
    cluster.add_argument("--tls-key", metavar="PEM", help="this client's private key")
    cluster.add_argument("--insecure", action="store_true",
                         help="allow plain tcp:// beyond this machine (anyone who reaches the "
                              "scheduler can run code on its workers)")
    cluster.add_argument("-j", "--jobs", type=_number(1, 1024, int), metavar="N",
                         help="worker processes without --scheduler (default: cores)")
    render = parser.add_argument_group("render (as varkel-host render)")
    for field in _varkel.render_option_fields():
        _add_render_option(render, field)
    render.add_argument("-r", "--recursive", action="store_true")
    render.add_argument("--name", metavar="PATTERN")
    render.add_argument("--ext", metavar="EXT")
    existing = render.add_mutually_exclusive_group()
    existing.add_argument("--overwrite", action="store_true")
    existing.add_argument("--skip-existing", action="store_true")
    render.add_argument("--in-process", action="store_true",
                        help="load the plug-in into the workers (faster) rather than into a "
                             "process of its own for each file, whose crash fails only that file")
    render.add_argument("--quiet", action="store_true", help="no progress and no summary")
    return parser


class _Report:
    """Prints each file's line as it comes and the totals, as varkel-host does."""

    def __init__(self, quiet: bool):
        self.quiet = quiet
        self.counts = {RENDERED: 0, SKIPPED: 0, FAILED: 0}
        # Dask's progress bar redraws its line; a summary line first clears it.
        self.clear = "\r\x1b[2K" if sys.stdout.isatty() and not quiet else ""

    def __call__(self, result: FileResult) -> None:
        self.counts[result.status] += 1
        if result.status == FAILED:
            sys.stdout.flush()
            print(f"{self.clear}{PROGRAM}: {result.reason}", file=sys.stderr, flush=True)
        elif result.status == RENDERED and not self.quiet:
            print(self.clear + result.summary["summary"], flush=True)
            if result.summary["warning"]:
                print(result.summary["warning"], file=sys.stderr, flush=True)

    def totals(self, files: Optional[int], seconds: float) -> None:
        done = sum(self.counts.values())
        files = done if files is None else files
        if self.quiet and not self.counts[FAILED] and files == done:
            return
        print(_varkel.totals_line(files, self.counts[RENDERED], self.counts[SKIPPED],
                                  self.counts[FAILED], files - done, seconds), flush=True)


def main(argv: list[str]) -> int:
    # Failures name varkel-host's flags, which this command takes, here and on
    # the workers; a caller in the same process gets its own words back after.
    before = _varkel.wording_in_use()
    _varkel.use_wording("command line")
    try:
        return _main(argv)
    finally:
        _varkel.use_wording(before)


def _main(argv: list[str]) -> int:
    arguments = _parser().parse_args(argv)
    for signum in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, _raise_interrupted)
    warnings.showwarning = lambda message, *_: print(
        f"{PROGRAM}: warning: {message}", file=sys.stderr, flush=True)
    try:
        return _run(arguments)
    except _Usage as error:
        print(f"{PROGRAM}: {error} (see {HELP})", file=sys.stderr)
        return 2
    except (OSError, RuntimeError) as error:
        print(f"{PROGRAM}: {_one_line(error)}", file=sys.stderr)
        return 1


def _run(arguments) -> int:
    started = time.monotonic()
    report = _Report(arguments.quiet)
    planned: list[int] = []
    client = None
    try:
        if arguments.scheduler:
            if arguments.jobs:
                raise _Usage("-j sets the workers of a cluster on this machine; a scheduler has "
                             "its own")
            try:
                client = connect(arguments.scheduler, ca_file=arguments.tls_ca_file,
                                 cert=arguments.tls_cert, key=arguments.tls_key,
                                 insecure=arguments.insecure)
            except ValueError as error:
                raise _Usage(str(error)) from None
            except CertificateRefused as error:
                raise OSError(f"the scheduler at {arguments.scheduler} refused this client's "
                              f"certificate {arguments.tls_cert} ({_one_line(error)})") from None
            except OSError as error:
                raise OSError(f"cannot reach the scheduler at {arguments.scheduler} within "
                              f"{CONNECT_SECONDS} s ({_one_line(error)})") from None
        elif arguments.tls_ca_file or arguments.tls_cert or arguments.tls_key or arguments.insecure:
            raise _Usage("--tls-ca-file, --tls-cert, --tls-key and --insecure go with --scheduler")
        try:
            results = render_files(
                arguments.inputs, arguments.out_dir, name=arguments.name, ext=arguments.ext,
                skip_existing=arguments.skip_existing, client=client, workers=arguments.jobs,
                overwrite=arguments.overwrite, recursive=arguments.recursive,
                progress=False if arguments.quiet else None, on_plan=planned.append,
                on_result=report, **_render_options(arguments))
        except ValueError as error:
            raise _Usage(str(error)) from None
    except (KeyboardInterrupt, _Interrupted) as interruption:
        signum = getattr(interruption, "signum", signal.SIGINT)
        report.totals(planned[0] if planned else None, time.monotonic() - started)
        print(f"{PROGRAM}: interrupted; the unfinished files were removed", file=sys.stderr)
        return 128 + signum
    finally:
        if client is not None:
            client.close()
    report.totals(len(results), time.monotonic() - started)
    return 1 if report.counts[FAILED] else 0


def _raise_interrupted(signum, frame):
    raise _Interrupted(signum)


def _one_line(error: BaseException) -> str:
    text = " ".join(str(error).split())
    return text or type(error).__name__
