"""A gateway client in pure Python, on pycapnp and the socket module.

This is the client a Python user would write without orvik: build the request
with pycapnp, send it as one length-prefixed frame, read the answer frame,
let pycapnp read the message and copy the fields into plain Python objects.
It covers systemMotd, sessionInfo and capsetList and returns values with the
same attributes as orvik's (SessionInfo-like and CapInfo-like objects).
"""

import os
import socket
import struct
from typing import Any, Callable, List, NamedTuple, TypeVar

import capnp

SCHEMA_PATH = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "orvik_config", "orvik.capnp")

# The largest answer accepted, as orvik's default: a 4-byte prefix could
# otherwise ask for 4 GiB.
MAX_FRAME_LEN = 1 << 20

_PRINCIPAL_KINDS = ("human", "operator", "service", "guest", "anonymous", "pseudonymous")
_AUTH_STRENGTHS = ("none", "localPresence", "password", "hardwareKey", "multiParty", "publicKey")
_PREFIX = struct.Struct(">I")

T = TypeVar("T")


class SessionInfo(NamedTuple):
    profile: str
    principal_kind: str
    principal_display_name: str
    auth_strength: str
    session_id_hex: str
    expires_at_ms: int


class CapInfo(NamedTuple):
    name: str
    interface_id: int
    transfer_policy: str
    lease_expires_at_ms: int


class GatewayError(RuntimeError):
    """The gateway answered with something other than what was asked for."""


def load_schema():
    # The schema imports /capnp/c++.capnp, which pycapnp ships beside itself.
    return capnp.load(SCHEMA_PATH, imports=[os.path.dirname(os.path.dirname(capnp.__file__))])


def _enum_name(names, value) -> str:
    raw = value.raw
    return names[raw] if raw < len(names) else "unknown"


class PycapnpClient:
    def __init__(self, host: str = "127.0.0.1", port: int = 2327, io_timeout: float = 60.0):
        self._schema = load_schema()
        self._sock = socket.create_connection((host, port), timeout=io_timeout)
        self._next_seq = 1
        self._prefix = bytearray(4)

    def close(self) -> None:
        self._sock.close()

    def __enter__(self) -> "PycapnpClient":
        return self

    def __exit__(self, *exc_info) -> None:
        self.close()

    def system_motd(self) -> str:
        return self._transact("systemMotd", lambda response: response.systemMotd)

    def session_info(self) -> SessionInfo:
        return self._transact("sessionInfo", _session_info)

    def list_capset(self) -> List[CapInfo]:
        return self._transact("capsetList", _capset)

    def _transact(self, arm: str, convert: Callable[[Any], T]) -> T:
        seq = self._next_seq
        self._next_seq = (seq + 1) & 0xFFFFFFFF
        request = self._schema.RemoteGatewayRequest.new_message(seq=seq, **{arm: None}).to_bytes()
        self._sock.sendall(_PREFIX.pack(len(request)) + request)

        self._recv_exactly(memoryview(self._prefix))
        (length,) = _PREFIX.unpack(self._prefix)
        if length == 0 or length > MAX_FRAME_LEN:
            raise GatewayError("answer frame of %d bytes" % length)
        payload = bytearray(length)
        self._recv_exactly(memoryview(payload))

        with self._schema.RemoteGatewayResponse.from_bytes(payload) as response:
            if response.seq != seq:
                raise GatewayError("response seq %d did not match request seq %d" % (response.seq, seq))
            which = response.which()
            if which == "error":
                error = response.error
                raise GatewayError("remote gateway denied request: code=%s message=%r" % (error.code, error.message))
            if which != arm:
                raise GatewayError("request %s received unexpected response %s" % (arm, which))
            return convert(response)

    def _recv_exactly(self, view: memoryview) -> None:
        while view:
            got = self._sock.recv_into(view)
            if got == 0:
                raise GatewayError("connection closed by the gateway")
            view = view[got:]


def _session_info(response) -> SessionInfo:
    info = response.sessionInfo
    principal = info.principal
    return SessionInfo(
        profile=info.profile,
        principal_kind=_enum_name(_PRINCIPAL_KINDS, principal.kind),
        principal_display_name=principal.displayName,
        auth_strength=_enum_name(_AUTH_STRENGTHS, info.authStrength),
        session_id_hex=info.sessionId.hex(),
        expires_at_ms=info.expiresAtMs,
    )


def _capset(response) -> List[CapInfo]:
    return [
        CapInfo(entry.name, entry.interfaceId, entry.transferPolicy, entry.leaseExpiresAtMs)
        for entry in response.capsetList
    ]
