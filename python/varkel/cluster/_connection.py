"""Reaching a Dask scheduler, and the rule for how.

A scheduler runs whatever its clients submit, so a connection that anyone on
the network could make or read is a way into every worker. Hence: TLS with
certificates (tls://, the client's own certificate signed by the cluster's
CA), or plain tcp:// only to this machine's loopback interface, or with an
explicit ``insecure``, which warns.
"""

from __future__ import annotations

import ipaddress
import socket
import time
import warnings
from typing import Optional
from urllib.parse import urlsplit

from ._roles import temporary_security

# How long a scheduler has to answer before the batch gives up on it.
CONNECT_SECONDS = 5


class InsecureConnectionWarning(UserWarning):
    """A plain connection to a scheduler beyond this machine."""


class CertificateRefused(OSError):
    """A TLS scheduler that answered, and ended the handshake: it did not take
    this client's certificate (another CA's, expired, or not for a client)."""


def _host(address: str) -> str:
    host = urlsplit(address).hostname
    if not host:
        raise ValueError(f"{address}: not a scheduler address (tls://HOST:PORT or tcp://HOST:PORT)")
    return host


def _on_loopback(host: str) -> bool:
    try:
        return ipaddress.ip_address(host).is_loopback
    except ValueError:
        pass
    try:
        found = socket.getaddrinfo(host, None, proto=socket.IPPROTO_TCP)
    except OSError:
        return False
    return bool(found) and all(ipaddress.ip_address(entry[4][0]).is_loopback for entry in found)


def check_address(address: str, tls_files: bool, insecure: bool) -> Optional[str]:
    """Raises ValueError for an address the rule refuses; returns the warning
    to give for one it allows only because of ``insecure``, else None."""
    if "://" not in address:
        address = "tcp://" + address
    scheme = address.split("://", 1)[0]
    host = _host(address)
    if scheme == "tls":
        if not tls_files:
            raise ValueError(f"{address}: a tls:// scheduler needs --tls-ca-file, --tls-cert and "
                             "--tls-key")
        return None
    if scheme != "tcp":
        raise ValueError(f"{address}: the scheduler's address must be tls:// or tcp://")
    if tls_files:
        raise ValueError(f"{address}: --tls-ca-file, --tls-cert and --tls-key need a tls:// address")
    if _on_loopback(host):
        return None
    if not insecure:
        raise ValueError(
            f"{address}: a plain tcp:// connection beyond this machine lets anyone who reaches "
            "the scheduler run code on its workers; use tls:// with --tls-ca-file, --tls-cert "
            "and --tls-key, or --insecure on a network you trust")
    return (f"{address}: --insecure: neither encrypted nor authenticated; anyone who reaches "
            "the scheduler can run code on its workers")


def connect(address: str, *, ca_file: Optional[str] = None, cert: Optional[str] = None,
            key: Optional[str] = None, insecure: bool = False,
            timeout: float = CONNECT_SECONDS):
    """A ``distributed.Client`` of the scheduler at ``address``, by the rule
    above: ``ca_file``, ``cert`` and ``key`` (PEM files) for tls://. Raises
    ValueError for an address the rule refuses and OSError when the scheduler
    does not answer within ``timeout`` seconds or refuses the certificate."""
    from distributed import Client
    from distributed.security import Security

    files = [ca_file, cert, key]
    if any(files) and not all(files):
        raise ValueError("TLS needs all three of --tls-ca-file, --tls-cert and --tls-key")
    warning = check_address(address, all(files), insecure)
    if warning:
        warnings.warn(warning, InsecureConnectionWarning, stacklevel=2)
    security = None
    if all(files):
        for path in files:
            with open(path, "rb"):  # a missing file is FileNotFoundError naming it
                pass
        security = Security(tls_ca_file=ca_file, tls_client_cert=cert, tls_client_key=key,
                            require_encryption=True)
    started = time.monotonic()
    try:
        return Client(address, security=security, timeout=timeout, set_as_default=False)
    except Exception as error:  # distributed's own too, say a TLS handshake it cannot finish
        text = " ".join(str(error).split()) or type(error).__name__
        # A scheduler that is not there refuses the connection or lets it time
        # out; one that ends the handshake well before the time is up has
        # looked at the certificate.
        quick = time.monotonic() - started < timeout / 2
        if security is not None and quick and not isinstance(error, ConnectionRefusedError) \
                and "refused" not in text.lower():
            raise CertificateRefused(text) from None
        if isinstance(error, OSError):
            raise
        raise OSError(text) from None


def local_cluster(workers: Optional[int] = None):
    """A cluster of worker processes on this machine, one per core by default,
    reachable only on the loopback interface, over TLS with a certificate made
    for it alone (other users of the machine cannot submit work to it); no
    dashboard, and no HTTP servers (the scheduler's preload and a plug-in on
    the workers close Dask's). Returns (cluster, client)."""
    import logging
    import os

    from distributed import Client, LocalCluster

    from .preload import ClosedHttpServer

    logging.getLogger("distributed.preloading").setLevel(logging.WARNING)  # "Creating preload"
    cluster = LocalCluster(n_workers=workers or os.cpu_count() or 1, threads_per_worker=1,
                           processes=True, host="127.0.0.1", security=temporary_security(),
                           dashboard_address="127.0.0.1:0",
                           scheduler_kwargs={"dashboard": False,
                                             "preload": ["varkel.cluster.preload"]},
                           worker_dashboard_address="127.0.0.1:0", silence_logs=logging.ERROR)
    client = Client(cluster, set_as_default=False)
    # A plug-in, not the preload: the worker processes would each log loading it.
    client.register_worker_plugin(ClosedHttpServer())
    return cluster, client
