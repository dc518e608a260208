"""The test side of a scripted simulator: a child process and its control channel.

The simulator runs in a child process, never in a thread of the test
process: a client call that blocks on its socket may hold the interpreter
lock, and a gateway thread in the same interpreter could then never answer.
Every method below returns only after the child has carried it out. This
module needs no pycapnp; the child does.
"""

from __future__ import annotations

import os
import select
import subprocess
import sys
import time
from dataclasses import dataclass
from typing import Any, Dict, List, Optional, Sequence

from . import control

_PACKAGE_PARENT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class GatewayProcessError(RuntimeError):
    """The simulator child died, did not start, or stopped answering."""


@dataclass(frozen=True)
class RecordedRequest:
    seq: int
    arm: str  # camelCase request arm name, e.g. "passwordLogin"
    payload: object  # the arm's struct as plain Python (pycapnp to_dict()); None for Void
    raw: bytes  # the frame payload as received, without the length prefix


class _LineReader:
    """Lines from a pipe, each awaited at most `timeout` seconds."""

    def __init__(self, fd: int) -> None:
        self._fd = fd
        self._buffer = b""

    def readline(self, timeout: float) -> str:
        deadline = time.monotonic() + timeout
        while b"\n" not in self._buffer:
            remaining = deadline - time.monotonic()
            if remaining <= 0 or not select.select([self._fd], [], [], remaining)[0]:
                raise GatewayProcessError(f"the gateway simulator did not answer within {timeout} s")
            chunk = os.read(self._fd, 65536)
            if not chunk:
                raise GatewayProcessError("the gateway simulator exited")
            self._buffer += chunk
        line, _, self._buffer = self._buffer.partition(b"\n")
        return line.decode("utf-8")


class ScriptedGateway:
    """A simulator child on 127.0.0.1 and an ephemeral port, steered by the test.

    Scripted answers are queued FIFO and consumed one per received request
    (on any connection); with the queue empty the simulator's normal policy
    answers. ``extra_args`` go to ``python -m orvik_gateway_sim`` (for
    example ``["--disable-method", "guest"]``).
    """

    host = "127.0.0.1"

    def __init__(self, extra_args: Sequence[str] = (), timeout: float = 10.0) -> None:
        self._timeout = timeout
        env = dict(os.environ)
        # The child must import this very copy of the package, installed or not.
        env["PYTHONPATH"] = os.pathsep.join(p for p in (_PACKAGE_PARENT, env.get("PYTHONPATH")) if p)
        command = [sys.executable, "-m", "orvik_gateway_sim", "--host", self.host, "--port", "0", "--scripted"]
        # stderr is inherited: the child's exchange log lands in pytest's captured output.
        self._process = subprocess.Popen(
            command + list(extra_args), stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env
        )
        assert self._process.stdout is not None
        self._lines = _LineReader(self._process.stdout.fileno())
        try:
            banner = self._lines.readline(timeout)
            self.port = int(banner.rsplit(":", 1)[1])
        except (GatewayProcessError, IndexError, ValueError) as exc:
            self.stop()
            raise GatewayProcessError(f"the gateway simulator did not start: {exc}") from exc

    def respond(self, arm: str, value: object = None, *, seq: Optional[int] = None) -> None:
        """Answer the next request with response arm `arm` set to `value` (as pycapnp sets it:
        None for Void, bool, str for Text, dict for a struct, list for a list); `seq`
        replaces the echoed sequence number."""
        self._script({"kind": "respond", "arm": arm, "value": value, "seq": seq})

    def error(self, code: str, message: str, *, seq: Optional[int] = None) -> None:
        """Answer the next request with the `error` arm; `code` is a RemoteErrorCode name."""
        self.respond("error", {"code": code, "message": message}, seq=seq)

    def raw(
        self, data: bytes, *, seq_offset: Optional[int] = None, close: bool = False, drip: Optional[float] = None
    ) -> None:
        """Send `data` verbatim (with whatever prefix it holds, or none); with `seq_offset`,
        the request's seq is first written little-endian (u32) at that offset. With `close`,
        the connection closes once `data` is sent; with `drip`, `data` leaves one byte per
        send, `drip` seconds apart."""
        script: Dict[str, Any] = {"kind": "raw", "data": bytes(data), "seq_offset": seq_offset}
        if close:
            script["close"] = True
        if drip is not None:
            script["drip"] = drip
        self._script(script)

    def close(self) -> None:
        """Close the connection instead of answering the next request."""
        self._script({"kind": "close"})

    def silent(self) -> None:
        """Read the next request and never answer it; the connection stays open."""
        self._script({"kind": "silent"})

    def requests(self) -> List[RecordedRequest]:
        """Every request received so far, oldest first."""
        return [RecordedRequest(**r) for r in self._call({"op": "requests"})["requests"]]

    def server_names(self) -> List[Optional[str]]:
        """The server name (SNI) each TLS client sent, one per completed handshake, oldest first."""
        names: List[Optional[str]] = self._call({"op": "server_names"})["server_names"]
        return names

    def clear(self) -> None:
        """Forget recorded requests and queued scripts."""
        self._call({"op": "clear"})

    def stop(self) -> None:
        """End the child: end of input first, then a signal if it lingers."""
        process = self._process
        if process.poll() is None:
            try:
                assert process.stdin is not None
                process.stdin.close()
                process.wait(timeout=5)
            except (OSError, subprocess.TimeoutExpired):
                process.kill()
                process.wait()
        if process.stdout is not None:
            process.stdout.close()

    def _script(self, script: Dict[str, Any]) -> None:
        self._call({"op": "script", "script": script})

    def _call(self, command: Dict[str, Any]) -> Dict[str, Any]:
        stdin = self._process.stdin
        assert stdin is not None
        try:
            stdin.write(control.encode_line(command).encode("utf-8"))
            stdin.flush()
        except OSError as exc:
            raise GatewayProcessError(f"the gateway simulator is gone: {exc}") from exc
        answer = control.decode_line(self._lines.readline(self._timeout))
        if not answer.get("ok"):
            raise ValueError(answer.get("error", "the gateway simulator refused the command"))
        return answer
