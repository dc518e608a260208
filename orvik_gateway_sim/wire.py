"""Frames and envelopes as they travel between client and gateway.

A frame is a 4-byte big-endian payload length followed by one Cap'n Proto
message in the standard flat serialisation. This module moves bytes and
builds or reads envelopes; it knows no policy.
"""

from __future__ import annotations

import struct
from dataclasses import dataclass
from typing import Any, Optional, Protocol

from . import schema

# The client refuses response frames above 1 MiB; the gateway holds requests
# to the same bound so that a 4-byte prefix cannot make it allocate 4 GiB.
MAX_FRAME_LEN = 1 << 20
# Bounds for reading a request message: a hostile pointer graph must not make
# decoding walk or recurse without end.
TRAVERSAL_LIMIT_WORDS = 1 << 26
NESTING_LIMIT = 32

_PREFIX = struct.Struct(">I")


class FrameError(Exception):
    """The byte stream no longer holds a valid frame; the connection must go."""


class RequestError(Exception):
    """A frame whose payload is not a readable RemoteGatewayRequest."""


@dataclass(frozen=True)
class Request:
    seq: int
    arm: str
    payload: Any  # the arm's struct as plain Python (to_dict()), None for Void
    raw: bytes


@dataclass(frozen=True)
class Reply:
    """What the gateway does with one request: send `data` (if any), then maybe close."""

    data: Optional[bytes]
    kind: str  # the answer kind, for the log
    close: bool = False
    # Seconds between single-byte sends; None sends `data` in one go.
    drip: Optional[float] = None


def frame(payload: bytes) -> bytes:
    """The 4-byte big-endian length prefix followed by `payload`."""
    return _PREFIX.pack(len(payload)) + payload


class Readable(Protocol):
    """What a frame is read from: a socket's file or any buffered byte stream."""

    def read(self, size: int, /) -> bytes: ...


def read_frame(stream: Readable, limit: int = MAX_FRAME_LEN) -> Optional[bytes]:
    """The payload of the next frame, or None when the peer closed between frames."""
    prefix = stream.read(_PREFIX.size)
    if not prefix:
        return None
    if len(prefix) < _PREFIX.size:
        raise FrameError("peer closed inside a length prefix")
    (length,) = _PREFIX.unpack(prefix)
    if length == 0:
        raise FrameError("empty frame")
    if length > limit:
        raise FrameError(f"frame length {length} exceeds limit {limit}")
    payload = stream.read(length)
    if len(payload) < length:
        raise FrameError("peer closed inside a frame payload")
    return payload


def decode_request(payload: bytes) -> Request:
    """Read one RemoteGatewayRequest; any fault raises RequestError."""
    request_type = schema.load().RemoteGatewayRequest
    try:
        with request_type.from_bytes(
            payload, traversal_limit_in_words=TRAVERSAL_LIMIT_WORDS, nesting_limit=NESTING_LIMIT
        ) as message:
            arm = str(message.which())
            body = getattr(message, arm)
            return Request(
                seq=message.seq,
                arm=arm,
                payload=body.to_dict() if hasattr(body, "to_dict") else None,
                raw=bytes(payload),
            )
    except Exception as exc:  # pycapnp raises KjException, ValueError, UnicodeDecodeError...
        raise RequestError(first_line(exc)) from exc


def response_message(arm: str, value: object = None, *, seq: int) -> bytes:
    """A flat-serialised RemoteGatewayResponse with union arm `arm` set to `value`.

    `value` is what pycapnp accepts for the arm: None for Void, a bool, a str
    for Text, a dict for a struct, a list of dicts or str for a list; enum
    fields take their enumerant names.
    """
    # new_message initialises a struct arm from a dict; setattr on a builder does not.
    message = schema.load().RemoteGatewayResponse.new_message(**{"seq": seq, arm: value})
    return bytes(message.to_bytes())


def first_line(exc: BaseException) -> str:
    """The first line of an exception's text: pycapnp appends stack addresses."""
    text = str(exc).strip()
    return text.splitlines()[0] if text else type(exc).__name__
