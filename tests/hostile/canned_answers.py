"""A fixed cycle of calls and the answers a responder gives them, one per
failure class and one per kind of success, pre-encoded once.

The client side makes the calls of `CYCLE` in order and the responder answers
the requests in the same order, so neither needs to look at what the other
sent beyond the request's seq.
"""

from __future__ import annotations

import struct
from dataclasses import dataclass
from typing import Callable, Optional

from orvik_gateway_sim import wire

# Where the seq sits in a frame built by the gateway's builder: prefix,
# segment table, root pointer.
SEQ_OFFSET = 4 + 8 + 8

SESSION = {
    "authStrength": "password",
    "expiresAtMs": 1_700_000_000_000,
    "sessionId": b"\x01\x02\x03",
    "principal": {"kind": "human", "displayName": "console"},
    "profile": "operator",
}
CAP = {"interfaceId": 0x80B87169C39AAF1C, "leaseExpiresAtMs": 5, "name": "session", "transferPolicy": "copy"}


@dataclass(frozen=True)
class Answer:
    data: bytes
    seq: str = "echo"  # "echo" the request's seq, "next" (one too many), "none" (leave as is)
    close: bool = False  # close the connection instead of answering


def _respond(arm: str, value: object) -> bytes:
    return wire.frame(wire.response_message(arm, value, seq=0))


def _motd_bytes(text: bytes) -> bytes:
    # A systemMotd answer with arbitrary text bytes, patched into a built one.
    built = bytearray(_respond("systemMotd", "?" * len(text)))
    start = built.rindex(b"?" * len(text))
    built[start : start + len(text)] = text
    return bytes(built)


def _arm(arm: int) -> bytes:
    data = bytearray(_respond("systemMotd", ""))
    struct.pack_into("<H", data, SEQ_OFFSET + 4, arm)
    return bytes(data)


@dataclass(frozen=True)
class Step:
    name: str
    call: Callable[[object], object]
    answer: Optional[Answer]  # None: the call fails before sending
    fails: bool
    # The client is out of step after this step and is replaced by a new one.
    replaces_client: bool = False


CYCLE = [
    Step("motd", lambda c: c.system_motd(), Answer(_respond("systemMotd", "Welcome " * 20)), False),
    Step("session_info", lambda c: c.session_info(), Answer(_respond("sessionInfo", SESSION)), False),
    Step("capset", lambda c: c.list_capset(), Answer(_respond("capsetList", [CAP] * 3)), False),
    Step("auth_methods", lambda c: c.list_auth_methods(),
         Answer(_respond("authMethods", [{"kind": "guest", "enabled": True, "label": "Guest",
                                          "profileHints": ["operator", "viewer"]}] * 2)), False),
    Step("login", lambda c: c.login_guest(), Answer(_respond("sessionStarted", {"summaryValue": 2, "session": SESSION})), False),
    Step("capset_get", lambda c: c.get_capset_entry("session", CAP["interfaceId"]), Answer(_respond("capGranted", CAP)), False),
    Step("logout", lambda c: c.logout(), Answer(_respond("loggedOut", True)), False),
    Step("remote_error", lambda c: c.session_info(),
         Answer(_respond("error", {"code": "unauthenticated", "message": "log in \"first\""})), True),
    Step("unexpected", lambda c: c.system_motd(), Answer(_respond("loggedOut", False)), True),
    Step("seq_mismatch", lambda c: c.system_motd(), Answer(_respond("systemMotd", "late"), seq="next"), True),
    Step("utf8", lambda c: c.system_motd(), Answer(_motd_bytes(b"ok\xff\xfe")), True),
    Step("unknown_arm", lambda c: c.system_motd(), Answer(_arm(23)), True),
    Step("capnp", lambda c: c.system_motd(), Answer(wire.frame(b"\xff\xff\xff\x7f" + b"\0" * 12), seq="none"), True),
    Step("empty_frame", lambda c: c.system_motd(), Answer(b"\0\0\0\0", seq="none"), True),
    Step("too_large", lambda c: c.system_motd(), Answer(b"\xff\xff\xff\xff", seq="none"), True),
    # The refused length left the stream inside a frame: refused unsent.
    Step("out_of_step", lambda c: c.system_motd(), None, True, replaces_client=True),
    Step("bad_argument", lambda c: c.get_capset_entry("x", -1), None, True),
]

# Once every this many cycles the responder closes instead of answering the
# first step, and the client connects anew.
CLOSE_EVERY = 25
