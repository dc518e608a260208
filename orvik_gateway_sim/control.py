"""The control channel between a test process and its scripted simulator child.

JSON lines: the test process writes one command per line to the child's
stdin; the child carries it out and only then writes one answer line to its
stdout. A script queued this way is therefore in effect before the test's
next client call can reach the gateway. End of input stops the child.

Commands and answers:

- ``{"op": "script", "script": {...}}`` (see ``scripting.parse_script``)
  -> ``{"ok": true}``, or ``{"ok": false, "error": TEXT}`` for a bad script;
- ``{"op": "requests"}`` -> ``{"ok": true, "requests": [{"seq", "arm",
  "payload", "raw"}, ...]}``, oldest first;
- ``{"op": "clear"}`` -> ``{"ok": true}``;
- ``{"op": "server_names"}`` -> ``{"ok": true, "server_names": [NAME or
  null, ...]}``: the server name (SNI) of every completed TLS handshake.

JSON has no bytes: a bytes value travels as ``{"__bytes__": BASE64}``.
This module needs no pycapnp, so the test side can import it anywhere.
"""

from __future__ import annotations

import base64
import json
from typing import TYPE_CHECKING, Any, Dict, Iterable, TextIO

if TYPE_CHECKING:
    from .scripting import ScriptBook
    from .tls import ServerNames

_BYTES = "__bytes__"


def to_json(value: Any) -> Any:
    if isinstance(value, (bytes, bytearray)):
        return {_BYTES: base64.b64encode(bytes(value)).decode("ascii")}
    if isinstance(value, dict):
        return {str(k): to_json(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [to_json(v) for v in value]
    return value


def from_json(value: Any) -> Any:
    if isinstance(value, dict):
        if set(value) == {_BYTES}:
            return base64.b64decode(value[_BYTES])
        return {k: from_json(v) for k, v in value.items()}
    if isinstance(value, list):
        return [from_json(v) for v in value]
    return value


def encode_line(message: Dict[str, Any]) -> str:
    return json.dumps(to_json(message), separators=(",", ":")) + "\n"


def decode_line(line: str) -> Dict[str, Any]:
    message: Dict[str, Any] = from_json(json.loads(line))
    return message


def _carry_out(book: "ScriptBook", server_names: "ServerNames", command: Dict[str, Any]) -> Dict[str, Any]:
    from .scripting import parse_script

    op = command.get("op")
    if op == "script":
        try:
            book.push(parse_script(command.get("script") or {}))
        except (ValueError, KeyError) as exc:
            return {"ok": False, "error": str(exc)}
        return {"ok": True}
    if op == "requests":
        recorded = [
            {"seq": r.seq, "arm": r.arm, "payload": r.payload, "raw": r.raw} for r in book.requests()
        ]
        return {"ok": True, "requests": recorded}
    if op == "clear":
        book.clear()
        return {"ok": True}
    if op == "server_names":
        return {"ok": True, "server_names": server_names.all()}
    return {"ok": False, "error": f"unknown command {op!r}"}


def serve(book: "ScriptBook", lines: Iterable[str], out: TextIO, server_names: "ServerNames") -> None:
    """Answer commands until `lines` ends."""
    for line in lines:
        if not line.strip():
            continue
        try:
            answer = _carry_out(book, server_names, decode_line(line))
        except ValueError as exc:  # not JSON
            answer = {"ok": False, "error": f"bad command line: {exc}"}
        out.write(encode_line(answer))
        out.flush()
