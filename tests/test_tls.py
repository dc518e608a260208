"""Encrypted connections as deployments make them: orvik-session and the
tunnel against stunnel in front of the plain simulator, and against the
simulator's own TLS, with certificates made for the run."""

from __future__ import annotations

import contextlib
import json
import os
import socket
import ssl
import subprocess
import sys
import time
from pathlib import Path

import pytest

pytest.importorskip("cryptography", reason="the TLS tests make their certificates with cryptography")

import orvik  # noqa: E402
import orvik_tunnel  # noqa: E402
from orvik_gateway_sim.policy import CAPSET  # noqa: E402
from orvik_gateway_sim.scripted_gateway import ScriptedGateway  # noqa: E402
from session_tool import TOOL  # noqa: E402
from tls_certificates import Certificates, make_certificates  # noqa: E402
from tls_servers import recording_relay, stunnel  # noqa: E402

pytestmark = pytest.mark.timeout(60)

PASSWORD = "Tls-s3cret-9d2m"
# A refusal must end connect at once, not wait out the connect deadline.
DEADLINE_MS = 30_000


@pytest.fixture(scope="module")
def certs(tmp_path_factory) -> Certificates:
    return make_certificates(tmp_path_factory.mktemp("certs"))


@pytest.fixture
def tls_gateway(tmp_path, certs):
    """Starts a TLS gateway: ("sim", ...) the simulator's own TLS, ("stunnel", ...)
    stunnel in front of a plain simulator. Returns (port, the simulator)."""
    with contextlib.ExitStack() as stack:

        def start(front: str, pair=None, client_ca=None, settings=()):
            pair = pair or certs.server
            if front == "sim":
                args = ["--account", f"operator:{PASSWORD}", "--tls-cert", pair.cert, "--tls-key", pair.key]
                args += ["--tls-client-ca", client_ca] if client_ca else []
                gateway = ScriptedGateway([str(a) for a in args])
                stack.callback(gateway.stop)
                return gateway.port, gateway
            gateway = ScriptedGateway(["--account", f"operator:{PASSWORD}"])
            stack.callback(gateway.stop)
            port = stack.enter_context(stunnel(tmp_path, gateway.port, pair.cert, pair.key, client_ca, settings))
            return port, gateway

        yield start


def session(port, *args, host="localhost", deadline_ms=DEADLINE_MS, io_timeout_ms=5000):
    return subprocess.run(
        [str(TOOL), "--host", host, "--port", str(port), "--connect-deadline-ms", str(deadline_ms),
         "--io-timeout-ms", str(io_timeout_ms), *map(str, args)],
        stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=45,
    )


def capset_json(done) -> list:
    assert (done.returncode, done.stderr) == (0, "")
    return [e["name"] for e in json.loads(done.stdout)["entries"]]


# (the server's certificate, client options, host, exit status, what stderr says)
REFUSED = [
    ("untrusted_server", [], "localhost", 3, "certificate verify failed (unable to get local issuer certificate)"),
    ("expired", [], "localhost", 3, "certificate verify failed (certificate has expired)"),
    ("wrong_name", [], "localhost", 3, "certificate verify failed (hostname mismatch)"),
    ("wrong_name", [], "127.0.0.1", 3, "certificate verify failed (IP address mismatch)"),
    ("server", ["--server-name", "elsewhere.test"], "127.0.0.1", 3, "certificate verify failed (hostname mismatch)"),
]


@pytest.mark.parametrize("front", ["stunnel", "sim"])
def test_verified_connections(tls_gateway, certs, front):
    """The good certificate by name and by IP address; each refused one ends connect at once with its reason."""
    port, gateway = tls_gateway(front)
    names = [c.name for c in CAPSET]
    assert capset_json(session(port, "--tls", "--ca-file", certs.ca, "--guest", "capset", "--json")) == names
    assert capset_json(session(port, "--tls", "--ca-file", certs.ca, "--guest", "capset", "--json",
                               host="127.0.0.1")) == names
    for pair_name, options, host, status, reason in REFUSED:
        port, _ = tls_gateway(front, getattr(certs, pair_name))
        started = time.monotonic()
        done = session(port, "--tls", "--ca-file", certs.ca, *options, "--guest", "capset", host=host)
        assert (done.returncode, done.stdout) == (status, ""), (pair_name, done.stderr)
        assert reason in done.stderr, (pair_name, done.stderr)
        assert time.monotonic() - started < DEADLINE_MS / 2000, "a refused certificate was retried"


def test_server_name_is_sent_and_checked(tls_gateway, certs):
    port, gateway = tls_gateway("sim")
    for options, host in (([], "127.0.0.1"), ([], "localhost"), (["--server-name", "gateway.test"], "127.0.0.1")):
        assert session(port, "--tls", "--ca-file", certs.ca, *options, "methods", host=host).returncode == 0
    # An IP-literal host sends no server name.
    assert gateway.server_names() == [None, "localhost", "gateway.test"]


@pytest.mark.parametrize("front", ["stunnel", "sim"])
def test_client_certificates(tls_gateway, certs, front):
    port, gateway = tls_gateway(front, client_ca=certs.ca)
    trusted = ["--tls", "--ca-file", certs.ca]
    done = session(port, *trusted, "--cert", certs.client.cert, "--key", certs.client.key, "--guest", "capset")
    assert (done.returncode, done.stderr) == (0, "")
    # Under TLS 1.3 the server refuses once the client's handshake is over: at the first answer.
    for options, reason in (([], "certificate required"),
                            (["--cert", certs.untrusted_client.cert, "--key", certs.untrusted_client.key],
                             "unknown ca")):
        started = time.monotonic()
        done = session(port, *trusted, *options, "--guest", "capset")
        # stunnel closes with the client's first request unread; where the network stack drops
        # what was received once the reset arrives (gVisor's does), the alert is lost with it.
        said = [reason] + (["Connection reset by peer"] if front == "stunnel" else [])
        assert done.returncode in (3, 5) and any(s in done.stderr for s in said), done.stderr
        assert time.monotonic() - started < DEADLINE_MS / 2000


def _speaks_tls11(port: int) -> bool:
    """Whether the server on `port` completes a TLS 1.1 handshake: this machine's
    OpenSSL may no longer speak it, even at security level 0."""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    context.check_hostname, context.verify_mode = False, ssl.CERT_NONE
    try:
        context.minimum_version = context.maximum_version = ssl.TLSVersion.TLSv1_1
        context.set_ciphers("DEFAULT:@SECLEVEL=0")
        with socket.create_connection(("127.0.0.1", port), timeout=5) as raw, context.wrap_socket(raw) as tls:
            return tls.version() == "TLSv1.1"
    except (ssl.SSLError, ValueError, OSError):
        return False


@pytest.mark.filterwarnings("ignore:ssl.TLSVersion.TLSv1_1 is deprecated:DeprecationWarning")
def test_a_server_offering_only_tls_1_1_is_refused(tls_gateway, certs):
    port, _ = tls_gateway("stunnel", settings=["sslVersionMin = TLSv1.1", "sslVersionMax = TLSv1.1",
                                               "ciphers = DEFAULT:@SECLEVEL=0"])
    if not _speaks_tls11(port):
        pytest.skip("this machine's OpenSSL cannot be made to offer TLS 1.1")
    done = session(port, "--tls", "--ca-file", certs.ca, "methods")
    assert done.returncode == 3 and "protocol" in done.stderr, done.stderr


def test_broken_peers_fail_with_one_clear_error(tls_gateway, certs, orvik_gateway):
    """A silent peer during the handshake, TLS to a plain port, plain to a TLS port, a frame cut short."""
    with socket.create_server(("127.0.0.1", 0), backlog=4) as silent:  # accepts in the kernel, never answers
        started = time.monotonic()
        done = session(silent.getsockname()[1], "--tls", "--ca-file", certs.ca, "methods", deadline_ms=1000,
                       io_timeout_ms=300)
        assert done.returncode == 3 and "timed out connecting" in done.stderr, done.stderr
        assert time.monotonic() - started < 10
    done = session(orvik_gateway.port, "--tls", "--ca-file", certs.ca, "methods", deadline_ms=1000,
                   io_timeout_ms=1000)
    assert done.returncode == 3 and done.stderr.count("\n") == 1, done.stderr
    port, gateway = tls_gateway("sim")
    done = session(port, "methods", io_timeout_ms=2000)
    assert done.returncode == 5 and done.stderr.count("\n") == 1, done.stderr
    gateway.raw(b"\x00\x00\x00\x40" + bytes(10), close=True)
    done = session(port, "--tls", "--ca-file", certs.ca, "methods")
    assert done.returncode == 5 and "frame I/O failed" in done.stderr, done.stderr


@pytest.mark.parametrize("front", ["stunnel", "sim"])
def test_python_session_through_the_tunnel_keeps_the_password_off_the_wire(tls_gateway, certs, front, tmp_path):
    port, gateway = tls_gateway(front)
    record = tmp_path / "wire.bin"
    with recording_relay(port, record) as relay_port:
        with orvik_tunnel.tunnel("localhost", relay_port, ca_file=str(certs.ca), program=str(TOOL)) as (host, local):
            client = orvik.Client(host, local, connect_deadline_ms=5000, io_timeout_ms=5000)
            with client:
                assert client.login_password("operator", PASSWORD).principal_kind
                # Nothing else rides on the tunnel once its one client is in.
                with pytest.raises(ConnectionRefusedError):
                    socket.create_connection((host, local), timeout=5).close()
                assert [c.name for c in client.list_capset()] == [c.name for c in CAPSET]
            del client
    arms = [r.arm for r in gateway.requests()]
    assert arms == ["passwordLogin", "capsetList", "logout"]
    wire = record.read_bytes()
    assert len(wire) > 1000  # the handshakes and the session went through the recorder
    for secret in (PASSWORD.encode(), PASSWORD.encode("utf-16-le"), b"operator", b"passwordLogin"):
        assert secret not in wire


def test_tunnel_reports_a_refused_certificate_before_it_listens(tls_gateway, certs):
    port, _ = tls_gateway("sim", certs.expired)
    with pytest.raises(orvik_tunnel.TunnelError, match=r"certificate has expired"):
        with orvik_tunnel.tunnel("localhost", port, ca_file=str(certs.ca), program=str(TOOL)):
            pass


@pytest.mark.parametrize("args, says", [
    (["--ca-file", "ca.pem", "methods"], "options --ca-file, --cert, --key and --server-name need --tls"),
    (["--tls", "--cert", "client.pem", "methods"], "options --cert and --key go together"),
    (["tunnel"], "tunnel needs --tls"),
    (["--tls", "--guest", "tunnel"], "tunnel carries its clients' own logins"),
    (["--tls", "tunnel", "--listen", "1:2:x"], "option --listen takes [HOST:]PORT"),
    (["--tls", "tunnel", "--listen", ":5"], "option --listen takes [HOST:]PORT"),
])
def test_tls_usage_errors_are_found_before_connecting(closed_port, args, says):
    done = session(closed_port, *args, deadline_ms=0)
    assert (done.returncode, done.stdout) == (2, "") and done.stderr.startswith("orvik-session: " + says), done.stderr


def test_tunnel_serves_clients_side_by_side_until_sigterm(tls_gateway, certs):
    port, gateway = tls_gateway("sim")
    tunnel = subprocess.Popen([str(TOOL), "--host", "localhost", "--port", str(port), "--tls", "--ca-file",
                               str(certs.ca), "tunnel", "--listen", "0"], stdout=subprocess.PIPE, text=True)
    try:
        local = int(tunnel.stdout.readline())
        first, second = (orvik.Client("127.0.0.1", local, io_timeout_ms=5000) for _ in range(2))
        assert first.system_motd() == second.system_motd()
        del first, second
        tunnel.terminate()
        assert tunnel.wait(timeout=10) == 0
    finally:
        tunnel.kill()
        tunnel.stdout.close()
    assert [r.arm for r in gateway.requests()] == ["systemMotd", "systemMotd"]


@pytest.mark.parametrize("args, status, says", [
    (["--tls-cert", "server.pem"], 2, "--tls-cert and --tls-key go together"),
    (["--tls-client-ca", "ca.pem"], 2, "--tls-client-ca needs --tls-cert and --tls-key"),
    (["--tls-cert", "missing.pem", "--tls-key", "missing.key"], 1, "cannot use the TLS certificate missing.pem"),
])
def test_simulator_tls_options_are_checked(tmp_path, args, status, says):
    done = subprocess.run([sys.executable, "-m", "orvik_gateway_sim", "--port", "0", *args], cwd=tmp_path,
                          env={**os.environ, "PYTHONPATH": str(Path(__file__).resolve().parent.parent)},
                          capture_output=True, text=True, timeout=30)
    assert done.returncode == status and says in done.stderr, done.stderr
