"""Failures of the system: the exception class, its whole text, and what the
client can still do afterwards."""

from __future__ import annotations

import socket
import struct
import time

import pytest
from orvik_gateway_sim.wire import frame, response_message

import orvik
from helpers import SEQ_OFFSET, motd_bytes, unknown_arm

pytestmark = pytest.mark.timeout(30)

BANNER = "Welcome to the orvik gateway simulator."
MIB = 1_048_576
# What a socket read time-out (SO_RCVTIMEO) reports on Linux.
READ_TIMED_OUT = "frame I/O failed: Resource temporarily unavailable (os error 11)"
OUT_OF_STEP = "connection is out of step after an earlier frame failure; create a new Client"


def smuggling_answer(size: int) -> bytes:
    """A frame of `size` payload bytes that starts and ends with a well-formed
    answer to the next request (seq 2)."""
    smuggled = frame(response_message("systemMotd", "smuggled", seq=2))
    return struct.pack(">I", size) + smuggled + b"\0" * (size - 2 * len(smuggled)) + smuggled


def raises_runtime(call) -> str:
    with pytest.raises(RuntimeError) as caught:
        call()
    assert type(caught.value) is RuntimeError and len(caught.value.args) == 1
    return caught.value.args[0]


@pytest.mark.parametrize(
    "call",
    [
        lambda c: c.session_info(),
        lambda c: c.list_capset(),
        lambda c: c.get_capset_entry("system_info", 1),
        lambda c: c.logout(),
    ],
    ids=["session_info", "list_capset", "get_capset_entry", "logout"],
)
def test_gateway_refusal_before_login(client, call):
    text = raises_runtime(lambda: call(client))
    assert text == 'remote gateway denied request: code=unauthenticated message="log in first"'
    assert client.system_motd() == BANNER


@pytest.mark.parametrize(
    "name, expected_id, text",
    [
        ("system_info", 0x80B87169C39AAF1C,
         'remote gateway denied request: code=interfaceMismatch '
         'message="system_info has interface 0xfbbdc602980cb986, not 0x80b87169c39aaf1c"'),
        ("__orvik_missing_remote_cap__", 1,
         'remote gateway denied request: code=unknownCap message="no CapSet entry named __orvik_missing_remote_cap__"'),
    ],
    ids=["interface-mismatch", "unknown-cap"],
)
def test_refused_capset_entry(operator, name, expected_id, text):
    assert raises_runtime(lambda: operator.get_capset_entry(name, expected_id)) == text
    assert operator.get_capset_entry("session", 0x80B87169C39AAF1C).name == "session"


def test_gateway_message_is_shown_quoted(operator, orvik_gateway):
    orvik_gateway.error("badRequest", 'say "no"\n\\ \x00 \u00a0 don\'t')
    text = raises_runtime(operator.session_info)
    assert text == r'remote gateway denied request: code=badRequest message="say \"no\"\n\\ \0 \u{a0} don' + "'t\""
    assert operator.session_info().profile == "operator"


@pytest.mark.parametrize(
    "call, arm, value, text",
    [
        (lambda c: c.list_auth_methods(), "loggedOut", True,
         "request authMethods received unexpected response loggedOut"),
        (lambda c: c.login_guest("visitor"), "systemMotd", "x",
         "request guestLogin profile=visitor received unexpected response systemMotd"),
        (lambda c: c.login_anonymous(), "authMethods", [],
         "request anonymousLogin profile=operator received unexpected response authMethods"),
        (lambda c: c.login_password("operator", "orvik"), "capsetList", [],
         "request passwordLogin profile=operator proof=<redacted> received unexpected response capsetList"),
        (lambda c: c.get_capset_entry("system_info", 1), "sessionInfo", {},
         "request capsetGet name=system_info expected=0x0000000000000001 received unexpected response sessionInfo"),
        (lambda c: c.session_info(), "capGranted", {}, "request sessionInfo received unexpected response capGranted"),
        (lambda c: c.system_motd(), "chatSent", True, "request systemMotd received unexpected response chatSent"),
        (lambda c: c.list_capset(), "adventureLook", "x",
         "request capsetList received unexpected response adventureLook"),
        (lambda c: c.logout(), "loggedOut", False, "request logout received unexpected response loggedOut(false)"),
    ],
    ids=["authMethods", "guest", "anonymous", "password", "capsetGet", "sessionInfo", "systemMotd", "capsetList",
         "logout-false"],
)
def test_unexpected_response_kind(client, orvik_gateway, call, arm, value, text):
    orvik_gateway.respond(arm, value)
    assert raises_runtime(lambda: call(client)) == text
    assert client.is_logged_out() is False
    assert client.system_motd() == BANNER


@pytest.mark.parametrize(
    "script, text",
    [
        (lambda g: g.respond("systemMotd", "x", seq=99), "response seq 99 did not match request seq 1"),
        (lambda g: g.error("badRequest", "x", seq=0), "response seq 0 did not match request seq 1"),
        (lambda g: g.raw(unknown_arm(23), seq_offset=SEQ_OFFSET),
         "remote gateway schema mismatch: Enum value or union discriminant 23 was not present in the schema."),
        (lambda g: g.raw(motd_bytes(b"\xff\xfe"), seq_offset=SEQ_OFFSET),
         "Cap'n Proto text was not valid UTF-8: invalid utf-8 sequence of 1 bytes from index 0"),
        (lambda g: g.raw(motd_bytes(b"ab\xe2\x82"), seq_offset=SEQ_OFFSET),
         "Cap'n Proto text was not valid UTF-8: incomplete utf-8 byte sequence from index 2"),
        (lambda g: g.raw(b"\x00\x00\x00\x00"), "empty Cap'n Proto frame is invalid"),
    ],
    ids=["seq", "seq-on-error", "unknown-arm", "invalid-utf8", "incomplete-utf8", "empty-frame"],
)
def test_bad_answers_keep_the_stream_in_step(client, orvik_gateway, script, text):
    # Each bad answer is consumed whole, so the next exchange is in step again.
    script(orvik_gateway)
    assert raises_runtime(client.system_motd) == text
    assert client.system_motd() == BANNER
    assert [r.seq for r in orvik_gateway.requests()] == [1, 2]


@pytest.mark.parametrize(
    "script, text",
    [
        (lambda g: g.raw(smuggling_answer(2 * MIB)), f"Cap'n Proto frame length {2 * MIB} exceeds limit 1048576"),
        (lambda g: g.raw(b"\x00\x10\x00\x01"), "Cap'n Proto frame length 1048577 exceeds limit 1048576"),
        (lambda g: g.raw(b"\xff\xff\xff\xff"), "Cap'n Proto frame length 4294967295 exceeds limit 1048576"),
        (lambda g: g.raw(b"\x00\x00\x01\x00" + b"x" * 10, close=True),
         "frame I/O failed: failed to fill whole buffer"),
        (lambda g: g.raw(b"\x00\x00\x01\x00" + b"x" * 10), READ_TIMED_OUT),
    ],
    ids=["smuggled-answer", "oversized", "oversized-max", "closed-mid-payload", "time-out-mid-payload"],
)
def test_failure_inside_a_frame_leaves_the_client_out_of_step(connect, orvik_gateway, script, text):
    # What follows on the stream is no longer cut into frames: nothing more
    # is sent or read, not even by logout or the end of a with block.
    client = connect(io_timeout_ms=300)
    script(orvik_gateway)
    assert raises_runtime(client.system_motd) == text
    for call in (client.system_motd, client.session_info, client.logout):
        assert raises_runtime(call) == OUT_OF_STEP
    with client:
        pass
    assert client.is_logged_out() is False
    assert [r.seq for r in orvik_gateway.requests()] == [1]


def test_message_the_codec_cannot_read(client, orvik_gateway):
    orvik_gateway.raw(frame(b"\x00" * 8))
    text = raises_runtime(client.system_motd)
    assert text.startswith("Cap'n Proto protocol error: ")
    assert text.endswith("Message did not contain a root pointer.")
    assert client.system_motd() == BANNER


def test_frame_at_the_limit_is_accepted(client, orvik_gateway):
    # 32 bytes of segment table, root pointer, data word and text pointer,
    # then the text and its NUL.
    text = b"x" * (MIB - 32 - 1)
    assert len(motd_bytes(text)) == 4 + MIB
    orvik_gateway.raw(motd_bytes(text), seq_offset=SEQ_OFFSET)
    assert client.system_motd() == text.decode()


def test_read_time_out(connect, orvik_gateway):
    client = connect(io_timeout_ms=300)
    orvik_gateway.silent()
    started = time.monotonic()
    assert raises_runtime(client.system_motd) == READ_TIMED_OUT
    assert 0.25 <= time.monotonic() - started < 5
    # The unanswered request left nothing on the stream.
    assert client.system_motd() == BANNER


@pytest.mark.orvik_gateway("--delay-ms", 300)
@pytest.mark.parametrize("io_timeout_ms, motd", [(100, None), (1000, BANNER)], ids=["shorter", "longer"])
def test_answer_delayed_by_the_gateway(connect, io_timeout_ms, motd):
    client = connect(io_timeout_ms=io_timeout_ms)
    if motd is None:
        assert raises_runtime(client.system_motd) == READ_TIMED_OUT
    else:
        assert client.system_motd() == motd


def test_stale_answer_is_refused_by_the_sequence_check(client, orvik_gateway):
    # Two answers to one request: the second waits on the stream and is what
    # the next exchange reads.
    orvik_gateway.raw(frame(response_message("systemMotd", "first", seq=1)) +
                      frame(response_message("systemMotd", "stale", seq=1)))
    assert client.system_motd() == "first"
    assert raises_runtime(client.system_motd) == "response seq 1 did not match request seq 2"


def test_peer_closing(client, orvik_gateway):
    orvik_gateway.close()
    assert raises_runtime(client.system_motd) == "frame I/O failed: failed to fill whole buffer"
    # The object survives the dead connection; further calls fail the same way.
    assert client.is_logged_out() is False
    assert raises_runtime(client.system_motd) in {
        "frame I/O failed: failed to fill whole buffer",
        "frame I/O failed: Broken pipe (os error 32)",
        "frame I/O failed: Connection reset by peer (os error 104)",
    }


@pytest.mark.parametrize(
    "options, last_error",
    [
        ({}, "remote session TCP I/O failed: Connection refused (os error 111)"),
        ({"io_timeout_ms": 0}, "remote session TCP I/O failed: cannot set a 0 duration timeout"),
    ],
    ids=["refused", "zero-io-timeout"],
)
def test_nothing_listening(closed_port, socket_count, options, last_error):
    before = socket_count()
    with pytest.raises(ConnectionError) as caught:
        orvik.Client("127.0.0.1", closed_port, connect_deadline_ms=0, **options)
    assert type(caught.value) is ConnectionError
    assert caught.value.args == (f"timed out connecting to 127.0.0.1:{closed_port}; last error: {last_error}",)
    assert socket_count() == before


def test_default_endpoint(closed_port):
    with pytest.raises(ConnectionError, match=f"^timed out connecting to 127\\.0\\.0\\.1:{closed_port}; "):
        orvik.Client(port=closed_port, connect_deadline_ms=0)
    with socket.socket() as probe:
        if probe.connect_ex(("127.0.0.1", 2327)) == 0:
            pytest.skip("something listens on the default port 2327")
    with pytest.raises(ConnectionError, match="^timed out connecting to 127\\.0\\.0\\.1:2327; "):
        orvik.Client(connect_deadline_ms=0)


def test_connect_retries_until_the_deadline(closed_port):
    started = time.monotonic()
    with pytest.raises(ConnectionError, match="^timed out connecting to 127.0.0.1:"):
        orvik.Client("127.0.0.1", closed_port, connect_deadline_ms=300, connect_retry_interval_ms=20)
    assert 0.3 <= time.monotonic() - started < 5


def test_unresolvable_host():
    with pytest.raises(ConnectionError) as caught:
        orvik.Client("nonexistent.invalid", 2327, connect_deadline_ms=0)
    assert str(caught.value).startswith(
        "timed out connecting to nonexistent.invalid:2327; last error: failed to resolve nonexistent.invalid:2327: "
        "failed to lookup address information: ")


def test_host_with_a_nul_byte_is_refused_unresolved():
    # Cut at the NUL, the name would reach this listener.
    with socket.socket() as listener:
        listener.bind(("127.0.0.1", 0))
        listener.listen()
        listener.setblocking(False)
        port = listener.getsockname()[1]
        target = f"127.0.0.1\0evil.example:{port}"
        with pytest.raises(ConnectionError) as caught:
            orvik.Client("127.0.0.1\0evil.example", port, connect_deadline_ms=0)
        assert caught.value.args == (
            f"timed out connecting to {target}; last error: failed to resolve {target}: "
            "host name contains a NUL byte",)
        with pytest.raises(BlockingIOError):
            listener.accept()


SECRET = "s3cr3t-Pa55"


@pytest.mark.parametrize(
    "script, kwargs",
    [
        (lambda g: None, {}),  # wrong password: the gateway refuses
        (lambda g: g.respond("systemMotd", "x"), {"profile": "operator"}),
        (lambda g: g.respond("sessionStarted", {}, seq=7), {}),
        (lambda g: g.close(), {}),
        (lambda g: None, {"profile": 5}),
        (lambda g: None, {"profile": "\ud800"}),
        (lambda g: None, {"profil": "x"}),
    ],
    ids=["refused", "unexpected", "seq", "closed", "bad-profile", "surrogate-profile", "bad-keyword"],
)
def test_password_appears_in_no_exception(client, orvik_gateway, script, kwargs):
    script(orvik_gateway)
    with pytest.raises(Exception) as caught:
        client.login_password("operator", SECRET, **kwargs)
    for shown in (str(caught.value), repr(caught.value), repr(caught.value.args)):
        assert SECRET not in shown
