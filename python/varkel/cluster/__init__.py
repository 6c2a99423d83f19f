"""Rendering many files on a Dask cluster, as ``varkel-host render --out-dir``
renders them on one machine: the same plan, names and bytes.

- ``render_files(inputs, out_dir, plugin=None, settings=None, ...)``: one task
  per file on a ``distributed.Client`` (default: a cluster of one worker process
  per core on this machine); one result per file.
- ``connect(address, ca_file=..., cert=..., key=...)``: a client of a running
  scheduler, over TLS, or plain tcp:// on the loopback interface only unless
  ``insecure``.
- ``python3 -m varkel.cluster IN... --out-dir DIR [--scheduler ADDRESS]``: the
  command line, with varkel-host render's options.

Needs Dask's ``distributed`` (Debian: python3-distributed).
"""

from ._batch import FAILED, RENDERED, SKIPPED, FileResult, render_files
from ._connection import (CertificateRefused, InsecureConnectionWarning, check_address, connect,
                          local_cluster)

__all__ = [
    "CertificateRefused",
    "FAILED",
    "RENDERED",
    "SKIPPED",
    "FileResult",
    "InsecureConnectionWarning",
    "check_address",
    "connect",
    "local_cluster",
    "render_files",
]
