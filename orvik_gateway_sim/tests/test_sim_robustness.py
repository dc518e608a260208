"""Bad clients lose their own connection and nothing else; the command line exits cleanly."""

from __future__ import annotations

import importlib.metadata
import os
import signal
import socket
import subprocess
import sys
from typing import Iterator

import pytest

from sim_rawclient import ScriptedGateway, closed_by_peer, connect, exchange, password, request
from orvik_gateway_sim import wire

PACKAGE_PARENT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


@pytest.fixture(scope="module")
def gateway() -> Iterator[ScriptedGateway]:
    child = ScriptedGateway()
    yield child
    child.stop()


def _unknown_arm() -> bytes:
    message = bytearray(request(5, "systemMotd"))
    message[20:22] = (99).to_bytes(2, "little")  # discriminant past the last request arm
    return wire.frame(bytes(message))


@pytest.mark.parametrize(
    "garbage",
    [
        pytest.param(b"\x00\x00\x00\x00", id="zero-frame"),
        pytest.param(b"\x00\x10\x00\x01", id="above-1MiB"),
        pytest.param(b"\xff\xff\xff\xff" + b"x" * 64, id="4GiB-prefix"),
        pytest.param(wire.frame(b"hello world!"), id="not-capnp"),
        pytest.param(wire.frame(b"\xff" * 16), id="bad-segment-table"),
        pytest.param(_unknown_arm(), id="unknown-arm"),
        pytest.param(b"\x00\x00", id="short-prefix"),
        pytest.param(b"\x00\x00\x00\x40" + b"\x00" * 8, id="short-payload"),
    ],
)
def test_garbage_closes_only_its_connection(gateway: ScriptedGateway, garbage: bytes) -> None:
    with connect(gateway.port) as bystander, connect(gateway.port) as sock:
        assert "sessionStarted" in exchange(bystander, 1, "passwordLogin", password("operator", "orvik"))
        sock.sendall(garbage)
        sock.shutdown(socket.SHUT_WR)  # the cut-short cases end here
        assert closed_by_peer(sock)
        assert "sessionInfo" in exchange(bystander, 2, "sessionInfo")
    assert not [r for r in gateway.requests() if r.seq == 5], "an undecodable request was recorded"


def test_frame_at_the_limit_is_read_before_judging_it(gateway: ScriptedGateway) -> None:
    # 1 MiB exactly passes the frame check; it then fails to decode as a request.
    with connect(gateway.port) as sock:
        sock.sendall(wire.frame(b"\x00" * wire.MAX_FRAME_LEN))
        assert closed_by_peer(sock)


def _default_dispositions() -> None:
    # A shell starts a background job with SIGINT ignored, and the child would inherit that.
    for signum in (signal.SIGINT, signal.SIGTERM):
        signal.signal(signum, signal.SIG_DFL)


@pytest.mark.parametrize("signum", [signal.SIGINT, signal.SIGTERM])
def test_command_line_logs_without_secrets_and_exits_cleanly_on_signal(signum: int) -> None:
    env = dict(os.environ, PYTHONPATH=PACKAGE_PARENT)
    process = subprocess.Popen(
        [sys.executable, "-m", "orvik_gateway_sim", "--port", "0", "--account", "alice-acct:pw-S3CRET:x"],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, text=True,
        preexec_fn=_default_dispositions,
    )
    try:
        assert process.stdout is not None
        banner = process.stdout.readline()
        assert banner.startswith("orvik gateway simulator listening on 127.0.0.1:")
        with connect(int(banner.rsplit(":", 1)[1])) as sock:
            peer = "%s:%d" % sock.getsockname()
            assert "sessionStarted" in exchange(sock, 1, "passwordLogin", password("alice-acct", "pw-S3CRET:x"))
            assert "error" in exchange(sock, 2, "chatSend", {"channel": "#lobby", "text": "chat-S3CRET"})
        assert process.stderr is not None
        lines = [process.stderr.readline()]
        while not lines[-1].endswith(f" {peer} closed\n"):  # the connection's thread logs it after we close
            lines.append(process.stderr.readline())
            assert lines[-1], "the log ended before the connection's close"
        process.send_signal(signum)
        log = "".join(lines) + process.communicate(timeout=10)[1]
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
    assert process.returncode == 0
    assert f" {peer} opened\n" in lines[0]
    assert "seq=1 passwordLogin profile=operator proof=<redacted> -> sessionStarted" in log
    assert "seq=2 chatSend channel=#lobby text=<redacted-length> -> error(serviceUnavailable)" in log
    assert "S3CRET" not in log and "alice" not in log and "Traceback" not in log


@pytest.mark.parametrize(
    "args, code, out, err",
    [
        (["--port", "70000"], 2, "", "error: argument --port: expected a port number from 0 to 65535, not '70000'"),
        (["--port", "-1"], 2, "", "error: argument --port: expected a port number from 0 to 65535, not '-1'"),
        (["--delay-ms", "-5"], 2, "", "error: argument --delay-ms: expected a delay in milliseconds from 0 to 3600000, not '-5'"),
        (["--version"], 0, importlib.metadata.version("orvik"), ""),
    ],
    ids=["port-too-large", "port-negative", "negative-delay", "version"],
)
def test_command_line_answers_in_one_line(args, code, out, err) -> None:
    done = subprocess.run([sys.executable, "-m", "orvik_gateway_sim", *args], capture_output=True, text=True,
                          env=dict(os.environ, PYTHONPATH=PACKAGE_PARENT), timeout=30)
    prog = "python -m orvik_gateway_sim"
    expected_out, expected_err = (f"{prog} {out}\n" if out else ""), (f"{prog}: {err} (see --help)\n" if err else "")
    assert (done.returncode, done.stdout, done.stderr) == (code, expected_out, expected_err)
