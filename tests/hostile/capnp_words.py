"""Gateway responses assembled word by word, in shapes a builder never makes.

A message here is one segment: word 0 is the root pointer, then whatever the
test lays out. Offsets of pointers are computed from word indices.
"""

from __future__ import annotations

import struct
from typing import List

# List element sizes of the Cap'n Proto encoding.
VOID, BYTE, POINTER, INLINE_COMPOSITE = 0, 2, 6, 7

# The response arms the tests use.
ARM_CAPSET_LIST = 2
ARM_SYSTEM_MOTD = 5
ARM_LAUNCHER_CATALOG = 10
ARM_CHAT_WHO_MEMBERS = 19


def _offset(at: int, target: int) -> int:
    return ((target - at - 1) & 0x3FFFFFFF) << 2


class Message:
    def __init__(self) -> None:
        self.words: List[int] = [0]

    def alloc(self, count: int) -> int:
        at = len(self.words)
        self.words.extend([0] * count)
        return at

    def struct_pointer(self, at: int, target: int, data_words: int, pointers: int) -> None:
        self.words[at] = _offset(at, target) | (data_words << 32) | (pointers << 48)

    def list_pointer(self, at: int, target: int, element_size: int, count: int) -> None:
        self.words[at] = _offset(at, target) | 1 | (element_size << 32) | (count << 35)

    def composite_tag(self, at: int, elements: int, data_words: int, pointers: int) -> None:
        self.words[at] = ((elements & 0x3FFFFFFF) << 2) | (data_words << 32) | (pointers << 48)

    def text(self, at: int, content: bytes) -> int:
        """Stores `content` as Text after the current end; points word `at` at it."""
        target = self.alloc((len(content) + 1 + 7) // 8)
        self.list_pointer(at, target, BYTE, len(content) + 1)
        raw = bytearray(struct.pack(f"<{len(self.words)}Q", *self.words))
        raw[target * 8 : target * 8 + len(content)] = content
        self.words = list(struct.unpack(f"<{len(self.words)}Q", bytes(raw)))
        return target

    def serialise(self) -> bytes:
        return struct.pack("<II", 0, len(self.words)) + struct.pack(f"<{len(self.words)}Q", *self.words)


def envelope(arm: int, seq: int = 0, pointers: int = 1) -> "tuple[Message, int]":
    """A response root with `arm` and `seq`; returns the message and the index
    of the root's pointer 0."""
    message = Message()
    root = message.alloc(1 + pointers)
    message.struct_pointer(0, root, 1, pointers)
    message.words[root] = seq | (arm << 32)
    return message, root + 1


# Byte offset of the seq inside a frame made by `frame` from an `envelope`
# message: prefix, segment table, root pointer.
SEQ_OFFSET = 4 + 8 + 8


def frame(payload: bytes) -> bytes:
    return struct.pack(">I", len(payload)) + payload
