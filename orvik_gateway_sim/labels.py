"""One-line, secret-free labels of requests and answers for the gateway's log.

A label names the request arm and shows only fields known to be harmless:
never a password proof, an account selector or a chat text. Arms without an
entry below are labelled by their name alone, so a new arm cannot leak a
secret by default.
"""

from __future__ import annotations

from typing import Any, Callable, Dict

from .wire import Request


def _escaped(value: Any) -> str:
    # Values come from the peer: keep one exchange on one log line.
    text = value if isinstance(value, str) else str(value)
    return text.encode("unicode_escape").decode("ascii") if not text.isprintable() else text


def _profile(payload: Dict[str, Any]) -> str:
    return "profile=" + _escaped(payload.get("profile", ""))


_LABELS: Dict[str, Callable[[Dict[str, Any]], str]] = {
    "passwordLogin": lambda p: _profile(p) + " proof=<redacted>",
    "anonymousLogin": _profile,
    "guestLogin": _profile,
    "capsetGet": lambda p: "name={} expected=0x{:016x}".format(
        _escaped(p.get("name", "")), p.get("expectedInterfaceId", 0)
    ),
    "chatSend": lambda p: "channel={} text=<redacted-length>".format(_escaped(p.get("channel", ""))),
}


def request_label(request: Request) -> str:
    describe = _LABELS.get(request.arm)
    if describe is None:
        return request.arm
    return request.arm + " " + describe(request.payload or {})


def answer_label(arm: str, value: object) -> str:
    """The answer kind; an error also names its code."""
    if arm == "error" and isinstance(value, dict):
        return "error(" + str(value.get("code", "badRequest")) + ")"
    return arm
