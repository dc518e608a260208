"""TLS servers and a recorder for the encrypted-connection tests, each a
process of its own on 127.0.0.1: stunnel in front of a plain simulator, and
the relay that records the bytes between a client and a TLS server."""

from __future__ import annotations

import contextlib
import select
import shutil
import socket
import subprocess
import sys
import time
from pathlib import Path
from typing import Iterator, Optional, Sequence

import pytest

STUNNEL = shutil.which("stunnel4") or shutil.which("stunnel")
START_TIMEOUT_S = 10.0


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return int(probe.getsockname()[1])


def _wait_listening(port: int, process: subprocess.Popen, what: str) -> None:
    deadline = time.monotonic() + START_TIMEOUT_S
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise RuntimeError(f"{what} exited with status {process.returncode}")
        with contextlib.suppress(OSError), socket.create_connection(("127.0.0.1", port), timeout=1):
            return
        time.sleep(0.05)
    raise RuntimeError(f"{what} did not listen on port {port} within {START_TIMEOUT_S} s")


def _stop(process: subprocess.Popen) -> None:
    process.terminate()
    try:
        process.wait(timeout=5)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


@contextlib.contextmanager
def stunnel(folder: Path, backend_port: int, cert: Path, key: Path, client_ca: Optional[Path] = None,
            settings: Sequence[str] = ()) -> Iterator[int]:
    """stunnel in the foreground, terminating TLS for the plain gateway on
    `backend_port`; yields the port it accepts TLS on. With `client_ca` it
    requires a client certificate that CA signed. `settings` are more lines of
    the service's section."""
    if STUNNEL is None:
        pytest.skip("stunnel4 is not installed (make deps installs it)")
    port = free_port()
    lines = ["foreground = yes", "pid =", f"output = {folder / f'stunnel-{port}.log'}", "debug = info",
             "[gateway]", f"accept = 127.0.0.1:{port}", f"connect = 127.0.0.1:{backend_port}",
             f"cert = {cert}", f"key = {key}", *settings]
    if client_ca is not None:
        lines += [f"CAfile = {client_ca}", "requireCert = yes", "verifyChain = yes"]
    config = folder / f"stunnel-{port}.conf"
    config.write_text("\n".join(lines) + "\n")
    process = subprocess.Popen([STUNNEL, str(config)], stdin=subprocess.DEVNULL)
    try:
        _wait_listening(port, process, "stunnel")
        yield port
    finally:
        _stop(process)


@contextlib.contextmanager
def recording_relay(target_port: int, record: Path) -> Iterator[int]:
    """A relay to 127.0.0.1:`target_port` that appends every byte it carries
    to `record`; yields the port to connect to instead."""
    script = Path(__file__).with_name("recording_relay.py")
    process = subprocess.Popen([sys.executable, str(script), str(target_port), str(record)],
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
    try:
        assert process.stdout is not None
        if not select.select([process.stdout], [], [], START_TIMEOUT_S)[0]:
            raise RuntimeError("the recording relay did not start")
        yield int(process.stdout.readline())
    finally:
        _stop(process)
        assert process.stdout is not None
        process.stdout.close()
