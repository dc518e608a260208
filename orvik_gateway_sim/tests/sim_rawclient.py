"""A bare socket client for talking to the simulator byte by byte."""

from __future__ import annotations

import socket
import struct
from typing import Any, Dict, Optional

import pytest

capnp = pytest.importorskip("capnp")

from orvik_gateway_sim import schema, wire  # noqa: E402
from orvik_gateway_sim.scripted_gateway import ScriptedGateway  # noqa: E402

TIMEOUT = 5.0


def connect(port: int, timeout: float = TIMEOUT) -> socket.socket:
    return socket.create_connection(("127.0.0.1", port), timeout=timeout)


def closed_by_peer(sock: socket.socket) -> bool:
    """True once the gateway has closed; a reset counts (it closed with our bytes unread)."""
    try:
        return sock.recv(1) == b""
    except ConnectionResetError:
        return True


def request(seq: int, arm: str, value: object = None) -> bytes:
    return schema.load().RemoteGatewayRequest.new_message(**{"seq": seq, arm: value}).to_bytes()


def read_exactly(sock: socket.socket, n: int) -> bytes:
    data = b""
    while len(data) < n:
        chunk = sock.recv(n - len(data))
        if not chunk:
            break
        data += chunk
    return data


def read_response(sock: socket.socket) -> Optional[Dict[str, Any]]:
    """The next response as a dict, or None when the gateway closed the connection."""
    prefix = read_exactly(sock, 4)
    if not prefix:
        return None
    payload = read_exactly(sock, struct.unpack(">I", prefix)[0])
    with schema.load().RemoteGatewayResponse.from_bytes(payload) as message:
        return message.to_dict()


def exchange(sock: socket.socket, seq: int, arm: str, value: object = None) -> Dict[str, Any]:
    sock.sendall(wire.frame(request(seq, arm, value)))
    response = read_response(sock)
    assert response is not None, "the gateway closed the connection"
    return response


def password(account: str, proof: str, profile: str = "operator") -> Dict[str, Any]:
    return {"selector": {"accountName": account.encode()}, "profile": profile, "proof": proof.encode()}
