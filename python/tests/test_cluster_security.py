"""Who may use a scheduler: TLS clients with a certificate of the cluster's CA;
plain tcp:// on the loopback interface only, or with --insecure."""

import asyncio
import datetime
import socket
import ssl
import time

import pytest
from conftest import MODULE, cluster_batch, folder_bytes, host_batch, sound_files

distributed = pytest.importorskip("distributed")
x509 = pytest.importorskip("cryptography.x509")
from cryptography.hazmat.primitives import hashes, serialization  # noqa: E402
from cryptography.hazmat.primitives.asymmetric import ec  # noqa: E402
from varkel.cluster import check_address  # noqa: E402
from varkel.cluster._roles import WORKER_ROLE  # noqa: E402


def certify(folder, name, authority=None, role=None):
    """A key and a certificate for name, signed by authority (its key and certificate), else a
    CA; role: a URI the CA writes in as a subject alternative name."""
    key = ec.generate_private_key(ec.SECP256R1())
    subject = x509.Name([x509.NameAttribute(x509.NameOID.COMMON_NAME, name)])
    signer_key, signer = authority or (key, None)
    now = datetime.datetime.utcnow()
    builder = (x509.CertificateBuilder().subject_name(subject)
               .issuer_name(signer.subject if signer else subject).public_key(key.public_key())
               .serial_number(x509.random_serial_number())
               .not_valid_before(now - datetime.timedelta(minutes=5))
               .not_valid_after(now + datetime.timedelta(days=1))
               .add_extension(x509.BasicConstraints(ca=authority is None, path_length=None), True))
    if role:
        builder = builder.add_extension(
            x509.SubjectAlternativeName([x509.UniformResourceIdentifier(role)]), False)
    certificate = builder.sign(signer_key, hashes.SHA256())
    (folder / f"{name}.key").write_bytes(key.private_bytes(
        serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
        serialization.NoEncryption()))
    (folder / f"{name}.pem").write_bytes(certificate.public_bytes(serialization.Encoding.PEM))
    return key, certificate


@pytest.fixture(scope="module")
def tls_cluster(tmp_path_factory):
    """A scheduler and a worker over TLS with the CA's certificates, and files of
    a client the CA signed and of one another CA signed."""
    folder = tmp_path_factory.mktemp("certificates")
    ca = certify(folder, "ca")
    certify(folder, "node", ca, role=WORKER_ROLE)
    certify(folder, "client", ca)
    certify(folder, "stranger", certify(folder, "other-ca"))
    paths = {name: (str(folder / f"{name}.pem"), str(folder / f"{name}.key"))
             for name in ("node", "client", "stranger")}
    node = paths["node"]
    security = distributed.security.Security(
        tls_ca_file=str(folder / "ca.pem"), tls_scheduler_cert=node[0], tls_scheduler_key=node[1],
        tls_worker_cert=node[0], tls_worker_key=node[1], tls_client_cert=node[0],
        tls_client_key=node[1], require_encryption=True)
    cluster = distributed.LocalCluster(
        n_workers=1, threads_per_worker=2, processes=False, protocol="tls://", host="127.0.0.1",
        security=security, dashboard_address="127.0.0.1:0",
        scheduler_kwargs={"dashboard": False, "preload": ["varkel.cluster.preload"]})
    yield cluster.scheduler_address, str(folder / "ca.pem"), paths
    cluster.close(timeout=10)


def test_a_client_with_the_cas_certificate_renders(tls_cluster, tmp_path):
    address, ca, paths = tls_cluster
    takes = sound_files(tmp_path / "takes", 3, 0.5)
    host_batch([takes], tmp_path / "host", "--set", "PreGain=0.7")
    cert, key = paths["client"]
    run = cluster_batch([takes], tmp_path / "ours", "--scheduler", address, "--tls-ca-file", ca,
                        "--tls-cert", cert, "--tls-key", key, "--plugin", MODULE,
                        "--set", "PreGain=0.7")
    assert run.returncode == 0, run.stderr
    assert folder_bytes(tmp_path / "ours") == folder_bytes(tmp_path / "host")


def tls_answer(address, ca, certificate=None):
    """"refused", or "taken" when the scheduler speaks to the client or waits for it."""
    host, port = address.removeprefix("tls://").rsplit(":", 1)
    context = ssl.create_default_context(cafile=ca)
    context.check_hostname = False
    if certificate:
        context.load_cert_chain(*certificate)
    with socket.create_connection((host, int(port)), timeout=5) as plain:
        with context.wrap_socket(plain) as tls:
            tls.settimeout(1)
            try:
                # TLS 1.3 tells a client that it was refused on its first read.
                return "refused" if tls.recv(1) == b"" else "taken"
            except (ssl.SSLError, ConnectionError):
                return "refused"
            except TimeoutError:
                return "taken"


@pytest.mark.parametrize("client, answer", [(None, "refused"), ("stranger", "refused"),
                                            ("client", "taken")])
def test_only_certificates_of_the_ca_are_taken(tls_cluster, client, answer):
    address, ca, paths = tls_cluster
    assert tls_answer(address, ca, paths.get(client)) == answer


@pytest.mark.parametrize("certificate, joins", [("node", True), ("client", False)])
def test_only_a_certificate_of_the_worker_role_joins_as_a_worker(tls_cluster, certificate, joins):
    address, ca, paths = tls_cluster
    cert, key = paths[certificate]
    security = distributed.security.Security(tls_ca_file=ca, tls_worker_cert=cert,
                                             tls_worker_key=key, require_encryption=True)

    async def join():
        try:
            async with distributed.Worker(address, security=security, host="127.0.0.1",
                                          dashboard_address="127.0.0.1:0", death_timeout=10):
                return "joined"
        except Exception as error:  # the registration's refusal, as the worker gives it
            return " ".join(str(e) for e in (error, error.__cause__) if e)

    outcome = asyncio.run(join())
    assert outcome == "joined" if joins else "has no worker role" in outcome


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


@pytest.mark.parametrize("preload, listening", [([], True), (["varkel.cluster.preload"], False)])
def test_no_http_listener_without_the_dashboard(preload, listening):
    port = free_port()

    async def probe():
        async with distributed.Scheduler(host="127.0.0.1", port=0, dashboard=False,
                                         dashboard_address=f"127.0.0.1:{port}", preload=preload):
            try:
                _, writer = await asyncio.open_connection("127.0.0.1", port)
            except ConnectionRefusedError:
                return False
            writer.close()
            return True

    assert asyncio.run(probe()) == listening


def test_a_certificate_of_another_ca_is_refused(tls_cluster, tmp_path):
    address, ca, paths = tls_cluster
    cert, key = paths["stranger"]
    started = time.monotonic()
    run = cluster_batch([tmp_path], tmp_path / "out", "--scheduler", address, "--tls-ca-file", ca,
                        "--tls-cert", cert, "--tls-key", key)
    assert time.monotonic() - started < 10
    assert run.returncode == 1
    assert run.stderr.startswith(f"varkel.cluster: the scheduler at {address} refused this "
                                 f"client's certificate {cert} (")
    assert len(run.stderr.splitlines()) == 1


@pytest.mark.parametrize("address, tls, insecure, outcome", [
    ("tcp://127.0.0.1:8786", False, False, None),
    ("tcp://localhost:8786", False, False, None),
    ("tcp://[::1]:8786", False, False, None),
    ("127.0.0.2:8786", False, False, None),
    ("tls://192.0.2.7:8786", True, False, None),
    ("tcp://192.0.2.7:8786", False, False, "beyond this machine"),
    ("tcp://192.0.2.7:8786", False, True, "warning: neither encrypted nor authenticated"),
    ("tls://192.0.2.7:8786", False, False, "needs --tls-ca-file"),
    ("tcp://127.0.0.1:8786", True, False, "need a tls:// address"),
    ("ws://127.0.0.1:8786", False, False, "must be tls:// or tcp://"),
])
def test_address_rule(address, tls, insecure, outcome):
    if outcome is None or outcome.startswith("warning: "):
        warning = check_address(address, tls, insecure)
        assert warning is None if outcome is None else outcome[len("warning: "):] in warning
    else:
        with pytest.raises(ValueError, match=outcome):
            check_address(address, tls, insecure)


def test_a_name_is_local_only_when_every_address_it_resolves_to_is(monkeypatch):
    def resolve(host, *args, **kwargs):
        found = {"both.test": ["127.0.0.1", "192.0.2.7"], "local.test": ["127.0.0.1", "::1"]}[host]
        return [(socket.AF_INET, socket.SOCK_STREAM, 6, "", (a, 0)) for a in found]

    monkeypatch.setattr(socket, "getaddrinfo", resolve)
    assert check_address("tcp://local.test:8786", False, False) is None
    with pytest.raises(ValueError, match="beyond this machine"):
        check_address("tcp://both.test:8786", False, False)


def test_plain_tcp_beyond_loopback_is_refused_before_connecting(tmp_path):
    started = time.monotonic()
    run = cluster_batch([tmp_path], tmp_path / "out", "--scheduler", "tcp://192.0.2.7:8786")
    assert time.monotonic() - started < 5
    assert run.returncode == 2
    assert "tls://" in run.stderr and "--insecure" in run.stderr
    assert len(run.stderr.splitlines()) == 1
