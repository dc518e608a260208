"""Hand-built gateway answers for the tests that need bytes pycapnp would
never produce."""

from __future__ import annotations

import struct

from orvik_gateway_sim.wire import frame

# A single-segment message: segment table (count - 1 = 0, size in words),
# then the root struct pointer at word 0 and the struct right after it.
_TABLE = struct.Struct("<II")
# Where the request's seq goes when a script writes it into a message built
# here: after the 4-byte frame prefix, the 8-byte table and the root pointer.
SEQ_OFFSET = 4 + 8 + 8


def _root_pointer(data_words: int, pointers: int) -> bytes:
    return struct.pack("<IHH", 0, data_words, pointers)


def unknown_arm(discriminant: int) -> bytes:
    """A framed response whose union discriminant names no arm."""
    segment = _root_pointer(1, 0) + struct.pack("<IHH", 0, discriminant, 0)
    return frame(_TABLE.pack(0, len(segment) // 8) + segment)


def motd_bytes(text: bytes) -> bytes:
    """A framed systemMotd response (arm 5) whose Text holds `text` verbatim,
    valid UTF-8 or not."""
    body = text + b"\x00"  # Text carries a NUL terminator inside its byte list
    padded = body + b"\x00" * (-len(body) % 8)
    list_pointer = struct.pack("<II", 1, (len(body) << 3) | 2)  # offset 0, byte elements
    segment = _root_pointer(1, 1) + struct.pack("<IHH", 0, 5, 0) + list_pointer + padded
    return frame(_TABLE.pack(0, len(segment) // 8) + segment)
