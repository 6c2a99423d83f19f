"""The preload of a varkel cluster's scheduler and workers:

    dask scheduler ... --preload varkel.cluster.preload
    dask worker ... --preload varkel.cluster.preload

On the scheduler, a worker whose certificate lacks the worker role is refused
(see ``_roles``). On both, Dask's HTTP server, which it opens even without a
dashboard and which shows logs, task names and file paths (``/info``,
``/eventstream``), is closed when the dashboard is off; with the dashboard on,
it stays only where it listens on the loopback interface alone.
"""

from __future__ import annotations

import ipaddress
import logging
from typing import Any

from ._roles import guard_worker_registration

logger = logging.getLogger("varkel.cluster")


def _dashboard_on(server: Any) -> bool:
    if hasattr(server, "_dashboard"):  # a worker keeps what it was told
        return bool(server._dashboard)
    return bool(getattr(server.http_application, "applications", None))  # Bokeh's, when on


def _on_loopback(http_server: Any) -> bool:
    addresses = [s.getsockname()[0] for s in http_server._sockets.values()]
    return all(ipaddress.ip_address(a.split("%")[0]).is_loopback for a in addresses)


def close_http_server(server: Any) -> None:
    """Stops the server's HTTP listener unless a dashboard on loopback needs it."""
    http_server = getattr(server, "http_server", None)
    if http_server is None:
        return
    if _dashboard_on(server):
        if _on_loopback(http_server):
            return
        logger.warning("the dashboard is closed: it listened beyond the loopback interface "
                       "(--dashboard-address 127.0.0.1:PORT keeps it on this machine)")
    http_server.stop()


class ClosedHttpServer:
    """The same for the workers of a cluster, as a worker plug-in."""

    name = "varkel-closed-http-server"

    def setup(self, worker: Any) -> None:
        close_http_server(worker)


def dask_setup(server: Any) -> None:
    from distributed import Scheduler

    if isinstance(server, Scheduler):
        guard_worker_registration(server)
    close_http_server(server)
