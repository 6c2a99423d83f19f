"""Who may serve as a worker.

Any certificate of the cluster's CA lets its holder talk TLS to the scheduler;
only one that carries the worker role may register as a worker, so that a
user's own certificate cannot take other users' tasks and file paths. The
role is a subject alternative name the CA writes when it signs (not one a
signing request can ask for): the URI ``urn:varkel:cluster:worker``."""

from __future__ import annotations

import datetime
import logging
import time
from typing import Any, Optional

WORKER_ROLE = "urn:varkel:cluster:worker"

logger = logging.getLogger("varkel.cluster")


def worker_role_refusal(peer_certificate: Optional[dict[str, Any]]) -> Optional[str]:
    """Why a peer with this certificate (``getpeercert()``'s dict; None for a
    plain connection) may not be a worker, or None when it may."""
    if peer_certificate is None:
        return "a worker must connect over TLS with a certificate of the worker role"
    names = peer_certificate.get("subjectAltName", ())
    if ("URI", WORKER_ROLE) in names:
        return None
    subject = ", ".join("=".join(pair) for entry in peer_certificate.get("subject", ())
                        for pair in entry)
    return (f"the certificate of {subject or 'this peer'} has no worker role (subject "
            f"alternative name URI:{WORKER_ROLE}); it may be a client, not a worker")


def guard_worker_registration(scheduler: Any) -> None:
    """Makes the scheduler refuse to register workers without the role, over TLS."""
    register = scheduler.handlers["register-worker"]

    async def checked(comm: Any, **kwargs: Any) -> Any:
        if str(getattr(comm, "peer_address", "")).startswith("tls://"):
            why = worker_role_refusal(comm.extra_info.get("peercert"))
            if why is not None:
                logger.warning("refused worker %s: %s", kwargs.get("address"), why)
                await comm.write({"status": "error", "message": f"refused: {why}",
                                  "time": time.time()})
                return None
        return await register(comm, **kwargs)

    scheduler.handlers["register-worker"] = checked


def temporary_security() -> Any:
    """A ``distributed.Security`` for a cluster on this machine made for one run:
    one certificate, in memory, with the worker role, for every member."""
    from cryptography import x509
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import ec
    from distributed.security import Security

    key = ec.generate_private_key(ec.SECP256R1())
    name = x509.Name([x509.NameAttribute(x509.NameOID.COMMON_NAME, "varkel-local-cluster")])
    now = datetime.datetime.utcnow()
    certificate = (
        x509.CertificateBuilder().subject_name(name).issuer_name(name)
        .public_key(key.public_key()).serial_number(x509.random_serial_number())
        .not_valid_before(now - datetime.timedelta(minutes=5))
        .not_valid_after(now + datetime.timedelta(days=7))
        .add_extension(x509.SubjectAlternativeName([
            x509.DNSName("varkel-local-cluster"),
            x509.UniformResourceIdentifier(WORKER_ROLE)]), critical=False)
        .sign(key, hashes.SHA256()))
    pem = certificate.public_bytes(serialization.Encoding.PEM).decode()
    key_pem = key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                serialization.NoEncryption()).decode()
    roles = {f"tls_{role}_{part}": text for role in ("scheduler", "worker", "client")
             for part, text in (("cert", pem), ("key", key_pem))}
    return Security(tls_ca_file=pem, require_encryption=True, **roles)
