"""The engine's messages in the Python interface's words.

The engine words a failure for varkel-host's command line ("--set PreGain=1.5:
..."); a Python caller gave a keyword, not a flag, so the flags become the
names the caller used. The cluster's command line keeps the flags."""

from __future__ import annotations

import functools
import re
from typing import Any, Callable, TypeVar

_Function = TypeVar("_Function", bound=Callable[..., Any])

_FLAGS = [
    (re.compile(r"^--set "), ""),
    (re.compile(r"^--automate "), "automation "),
    (re.compile(r"^--preset "), "preset "),
    (re.compile(r"^--sidechain "), "sidechain "),
    (re.compile(r" \(--format\)"), " (format)"),
    (re.compile(r"\(--overwrite replaces it\)"), "(overwrite=True replaces it)"),
]


def in_python_terms(text: str) -> str:
    for flag, words in _FLAGS:
        text = flag.sub(words, text)
    return text


def speaks_python(function: _Function) -> _Function:
    """Raises the engine's failures of ``function`` in the caller's words."""

    @functools.wraps(function)
    def wrapped(*args: Any, **kwargs: Any) -> Any:
        try:
            return function(*args, **kwargs)
        except (ValueError, RuntimeError, OSError) as error:
            if len(error.args) != 1 or not isinstance(error.args[0], str):
                raise
            worded = in_python_terms(error.args[0])
            if worded == error.args[0]:
                raise
            raise type(error)(worded) from None

    return wrapped  # type: ignore[return-value]
