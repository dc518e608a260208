"""Scripted answers that override the gateway's policy, for tests.

Scripts wait in one FIFO queue and each received request (on any connection)
consumes the oldest one; with the queue empty the policy answers. Every
request that decodes is recorded before it is answered, so a test that saw
its call return finds the request in the record. A frame that does not
decode is neither recorded nor consumes a script: the connection closes.

A script is built from a plain description (see ``parse_script``), checked at
once so that a test learns of a bad arm name or value when it queues it, not
as a dead connection later:

- ``{"kind": "respond", "arm": A, "value": V, "seq": S}``: answer with
  response arm A set to V (as pycapnp sets it); S, if not None, replaces the
  echoed sequence number.
- ``{"kind": "raw", "data": B, "seq_offset": O, "close": C, "drip": D}``: send
  the bytes B verbatim (the test includes whatever prefix it wants); with O
  not None the request's seq is first written little-endian (u32) at byte
  offset O of B. With C true the connection closes once B is sent; with D not
  None, B leaves one byte per send, D seconds apart (Nagle's algorithm off).
- ``{"kind": "close"}``: close the connection instead of answering.
- ``{"kind": "silent"}``: read the request and send nothing; the connection
  stays open and later requests on it are answered as usual.
"""

from __future__ import annotations

import struct
import threading
from collections import deque
from dataclasses import dataclass
from typing import Any, Deque, List, Mapping, Optional

from . import wire

_SEQ = struct.Struct("<I")


class Script:
    def reply(self, request: wire.Request) -> wire.Reply:
        raise NotImplementedError


@dataclass(frozen=True)
class Respond(Script):
    arm: str
    value: Any
    seq: Optional[int]

    def reply(self, request: wire.Request) -> wire.Reply:
        seq = request.seq if self.seq is None else self.seq
        data = wire.frame(wire.response_message(self.arm, self.value, seq=seq))
        return wire.Reply(data, kind="scripted " + self.arm)


@dataclass(frozen=True)
class Raw(Script):
    data: bytes
    seq_offset: Optional[int]
    close: bool = False
    drip: Optional[float] = None

    def reply(self, request: wire.Request) -> wire.Reply:
        data = bytearray(self.data)
        if self.seq_offset is not None:
            _SEQ.pack_into(data, self.seq_offset, request.seq)
        return wire.Reply(bytes(data), kind=f"scripted raw ({len(data)} bytes)", close=self.close, drip=self.drip)


class Close(Script):
    def reply(self, request: wire.Request) -> wire.Reply:
        return wire.Reply(None, kind="scripted close", close=True)


class Silent(Script):
    def reply(self, request: wire.Request) -> wire.Reply:
        return wire.Reply(None, kind="scripted silence")


def parse_script(spec: Mapping[str, Any]) -> Script:
    """Build a script from its description; ValueError names what is wrong."""
    kind = spec.get("kind")
    if kind == "respond":
        script = Respond(str(spec["arm"]), spec.get("value"), spec.get("seq"))
        try:
            wire.response_message(script.arm, script.value, seq=script.seq or 0)
        except Exception as exc:  # pycapnp's KjException, TypeError, OverflowError...
            raise ValueError(f"cannot answer with arm {script.arm}: {wire.first_line(exc)}") from exc
        return script
    if kind == "raw":
        data, offset = spec["data"], spec.get("seq_offset")
        if not isinstance(data, bytes):
            raise ValueError("raw data must be bytes")
        if offset is not None and not 0 <= offset <= len(data) - _SEQ.size:
            raise ValueError(f"seq_offset {offset} does not leave 4 bytes inside {len(data)} bytes of data")
        drip = spec.get("drip")
        if drip is not None and not (isinstance(drip, (int, float)) and 0 <= drip <= 1):
            raise ValueError(f"drip must be a pause of 0 to 1 seconds, not {drip!r}")
        return Raw(data, offset, bool(spec.get("close", False)), None if drip is None else float(drip))
    if kind == "close":
        return Close()
    if kind == "silent":
        return Silent()
    raise ValueError(f"unknown script kind {kind!r}")


class ScriptBook:
    """The queued scripts and the recorded requests, shared by all connections."""

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self._scripts: Deque[Script] = deque()
        self._requests: List[wire.Request] = []

    def push(self, script: Script) -> None:
        with self._lock:
            self._scripts.append(script)

    def next_for(self, request: wire.Request) -> Optional[Script]:
        """Record `request` and hand out the script that answers it, if any."""
        with self._lock:
            self._requests.append(request)
            return self._scripts.popleft() if self._scripts else None

    def requests(self) -> List[wire.Request]:
        with self._lock:
            return list(self._requests)

    def clear(self) -> None:
        with self._lock:
            self._scripts.clear()
            self._requests.clear()
