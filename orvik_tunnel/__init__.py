"""A TLS tunnel for ``orvik.Client``: the client speaks plain TCP to a local
``orvik-session tunnel --once``, which carries the bytes to the gateway over a
verified TLS connection.

    import orvik, orvik_tunnel

    with orvik_tunnel.tunnel("gateway.example.net", 2327, ca_file="ca.pem") as (host, port):
        with orvik.Client(host, port) as client:
            client.login_password("alice", password)

The tunnel connects to the gateway before it listens, so a refused
certificate or an unreachable gateway raises ``TunnelError`` (a
``ConnectionError``) from the ``with`` line, with ``orvik-session``'s own
text. It listens on 127.0.0.1 and a port the system picks, accepts one
connection and exits when that connection ends; leaving the block stops it
if it is still running. No other local process can ride on its certificate:
once the one client is in, nothing listens.
"""

from __future__ import annotations

import contextlib
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from typing import IO, Iterator, List, Optional, Tuple

__all__ = ["TunnelError", "tunnel", "find_orvik_session"]

# How long the tunnel may take to connect to the gateway and report its port,
# over the connect deadline it was given.
_START_MARGIN_S = 5.0
# How long a tunnel whose client is gone may take to end by itself.
_STOP_GRACE_S = 2.0


class TunnelError(ConnectionError):
    """The tunnel did not start: its own error text, or why it could not run."""


def find_orvik_session() -> str:
    """The orvik-session beside this interpreter (a venv's, or the scripts folder pip
    installed it into), else the first on PATH."""
    beside = os.path.join(os.path.dirname(sys.executable), "orvik-session")
    found = beside if os.access(beside, os.X_OK) else shutil.which("orvik-session")
    if found is None:
        raise TunnelError("orvik-session is not installed beside this Python nor on PATH")
    return found


def _command(
    program: str,
    host: str,
    port: int,
    ca_file: Optional[str],
    cert: Optional[str],
    key: Optional[str],
    server_name: Optional[str],
    connect_deadline_ms: int,
    io_timeout_ms: int,
) -> List[str]:
    command = [program, "--host", host, "--port", str(port), "--connect-deadline-ms", str(connect_deadline_ms),
               "--io-timeout-ms", str(io_timeout_ms), "--tls"]
    for option, value in (("--ca-file", ca_file), ("--cert", cert), ("--key", key), ("--server-name", server_name)):
        if value is not None:
            command += [option, os.fspath(value)]
    return command + ["tunnel", "--once", "--listen", "127.0.0.1:0"]


def _read_port(process: "subprocess.Popen[bytes]", errors: IO[bytes], timeout: float) -> int:
    """The port the tunnel prints once it listens; TunnelError with its stderr if it exits instead."""
    assert process.stdout is not None
    deadline = time.monotonic() + timeout
    line = b""
    while not line.endswith(b"\n"):
        remaining = deadline - time.monotonic()
        if remaining <= 0 or not select.select([process.stdout], [], [], remaining)[0]:
            raise TunnelError(f"orvik-session tunnel did not report its port within {timeout:.0f} s")
        chunk = os.read(process.stdout.fileno(), 64)
        if not chunk:
            process.wait()
            errors.seek(0)
            text = errors.read().decode("utf-8", "replace").strip()
            raise TunnelError(text or f"orvik-session tunnel exited with status {process.returncode}")
        line += chunk
    try:
        return int(line)
    except ValueError:
        raise TunnelError(f"orvik-session tunnel printed {line!r} where its port was expected") from None


def _stop(process: "subprocess.Popen[bytes]") -> None:
    try:
        process.wait(timeout=_STOP_GRACE_S)
    except subprocess.TimeoutExpired:
        # Its client is still connected: SIGTERM ends the TLS session in order.
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=_STOP_GRACE_S)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


@contextlib.contextmanager
def tunnel(
    host: str,
    port: int = 2327,
    *,
    ca_file: Optional[str] = None,
    cert: Optional[str] = None,
    key: Optional[str] = None,
    server_name: Optional[str] = None,
    connect_deadline_ms: int = 10_000,
    io_timeout_ms: int = 60_000,
    program: Optional[str] = None,
) -> Iterator[Tuple[str, int]]:
    """Start ``orvik-session tunnel --once`` to the gateway at `host`:`port` and yield the
    local (host, port) to give ``orvik.Client``.

    `ca_file` names the CA (or the self-signed certificate) to trust instead of
    the machine's store; `cert` and `key` a client certificate (PEM);
    `server_name` the name to verify and send instead of `host`. `program`
    is the orvik-session to run (default: ``find_orvik_session()``).
    """
    command = _command(program or find_orvik_session(), host, port, ca_file, cert, key, server_name,
                       connect_deadline_ms, io_timeout_ms)
    with tempfile.TemporaryFile() as errors:
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=errors)
        try:
            local_port = _read_port(process, errors, connect_deadline_ms / 1000 + _START_MARGIN_S)
            yield "127.0.0.1", local_port
        finally:
            _stop(process)
            assert process.stdout is not None
            process.stdout.close()
