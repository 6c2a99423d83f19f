"""analyze's measurements as Python objects."""

from __future__ import annotations

import json
from collections.abc import Sequence
from typing import Any, Optional

from . import _varkel
from ._files import PluginLike, _plugin_and_settings
def analyze(
    plugin: PluginLike = None,
    *,
    vs: PluginLike = None,
    what: Optional[Sequence[str]] = None,
    rate: float = 44100.0,
    response_level: float = -30.0,
    tone_frequency: float = 1000.0,
    tone_level: float = -6.0,
    **params: float,
) -> dict[str, Any]:
    """Measures a plug-in as ``varkel-host analyze`` does and returns the numbers
    its analysis.json holds, as dicts, lists and floats (no plots).

    ``plugin`` and ``vs`` (a second plug-in to measure beside it) are module
    paths, processors (their location and current values) or None for Varkel;
    keywords set parameters of ``plugin``. ``what`` picks from "response",
    "harmonics", "distortion" and "transfer" (default all); ``rate`` (8000 to
    768000 Hz), ``response_level``, ``tone_frequency`` and ``tone_level`` are
    analyze's --rate, --level, --tone-frequency and --tone-level. Every render
    is a fresh instance on a fresh thread, so the numbers are the same each run."""
    location, settings = _plugin_and_settings(plugin)
    settings += [(name, float(value)) for name, value in params.items()]
    devices = [(location, settings)]
    if vs is not None:
        devices.append(_plugin_and_settings(vs))
    names = list(what) if what is not None else ["response", "harmonics", "distortion", "transfer"]
    text = _varkel.analyze(
        devices, float(rate), names, float(response_level), float(tone_frequency),
        float(tone_level),
    )
    return json.loads(text)
