"""Fixtures for the end-to-end suites: clients of the installed `orvik`
extension, connected to the scripted gateway simulator (`orvik_gateway`, a
child process on 127.0.0.1)."""

from __future__ import annotations

import os
import socket
from typing import Callable

import pytest

import orvik

# Generous enough for a loaded machine, short enough that a hang fails fast.
IO_TIMEOUT_MS = 5000


@pytest.fixture
def connect(orvik_gateway) -> Callable[..., orvik.Client]:
    """Makes clients of the fixture's gateway; keyword arguments go to Client.
    The test owns each client: releasing it closes its connection."""

    def make(**kwargs: int) -> orvik.Client:
        kwargs.setdefault("connect_deadline_ms", 5000)
        kwargs.setdefault("io_timeout_ms", IO_TIMEOUT_MS)
        return orvik.Client(orvik_gateway.host, orvik_gateway.port, **kwargs)

    return make


@pytest.fixture
def client(connect) -> orvik.Client:
    return connect()


@pytest.fixture
def operator(client, orvik_gateway) -> orvik.Client:
    """A client logged in with the default account; the login is not recorded."""
    client.login_password("operator", "orvik")
    orvik_gateway.clear()
    return client


@pytest.fixture
def closed_port() -> int:
    """A loopback port with nothing listening on it (bound, then released)."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def open_sockets() -> int:
    """How many sockets this process holds (Linux /proc)."""
    count = 0
    for fd in os.listdir("/proc/self/fd"):
        try:
            count += os.readlink(f"/proc/self/fd/{fd}").startswith("socket:")
        except OSError:
            pass
    return count


@pytest.fixture
def socket_count() -> Callable[[], int]:
    if not os.path.isdir("/proc/self/fd"):
        pytest.skip("needs /proc to count sockets")
    return open_sockets
