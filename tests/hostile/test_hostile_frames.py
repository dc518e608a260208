"""A gateway that breaks the framing: random bytes, hostile prefixes, frames
cut short, bytes dripped one at a time, connections closed mid-exchange.
Every call must end in RuntimeError with the client's own text."""

from __future__ import annotations

import random
import struct

import pytest

import orvik
from orvik_gateway_sim import wire

from capnp_words import SEQ_OFFSET, frame
from conftest import FILL_WHOLE_BUFFER, FRAME_LIMIT, assert_failure_text

MOTD = "Welcome to orvik \N{SNOWMAN}"
# The first request of a fresh client carries seq 1.
MOTD_FRAME = wire.frame(wire.response_message("systemMotd", MOTD, seq=1))


@pytest.mark.parametrize("seed", range(40))
def test_random_bytes_then_close(gateway, client_for, seed):
    rng = random.Random(seed)
    data = rng.randbytes(rng.randrange(0, 200))
    if seed % 2:  # a believable prefix, so that the payload reaches the decoder
        data = struct.pack(">I", len(data)) + data
    client = client_for()
    gateway.raw(data, close=True)
    with pytest.raises(RuntimeError) as caught:
        client.system_motd()
    assert_failure_text(caught.value)


@pytest.mark.parametrize("seed", range(40))
def test_mutated_valid_frame(gateway, client_for, seed):
    rng = random.Random(seed)
    data = bytearray(MOTD_FRAME)
    for _ in range(rng.randrange(1, 4)):
        data[rng.randrange(4, len(data))] ^= 1 << rng.randrange(8)
    client = client_for()
    gateway.raw(bytes(data), close=True)
    try:
        assert isinstance(client.system_motd(), str)  # a flipped text bit may still be a banner
    except RuntimeError as error:
        assert_failure_text(error)


@pytest.mark.parametrize(
    "prefix, text",
    [
        (0, "empty Cap'n Proto frame is invalid"),
        (FRAME_LIMIT + 1, f"Cap'n Proto frame length {FRAME_LIMIT + 1} exceeds limit {FRAME_LIMIT}"),
        (0x7FFFFFFF, f"Cap'n Proto frame length 2147483647 exceeds limit {FRAME_LIMIT}"),
        (0xFFFFFFFF, f"Cap'n Proto frame length 4294967295 exceeds limit {FRAME_LIMIT}"),
    ],
)
def test_refused_prefix(gateway, client_for, prefix, text):
    client = client_for()
    # The gateway stays connected: the refusal must not wait for a payload.
    gateway.raw(struct.pack(">I", prefix))
    with pytest.raises(RuntimeError) as caught:
        client.system_motd()
    assert caught.value.args == (text,)


def test_frame_of_exactly_the_limit_is_read(gateway, client_for):
    message = wire.response_message("systemMotd", "x" * (FRAME_LIMIT - 64), seq=1)
    padded = message + b"\0" * (FRAME_LIMIT - len(message))  # trailing bytes are ignored
    client = client_for()
    gateway.raw(frame(padded))
    assert client.system_motd() == "x" * (FRAME_LIMIT - 64)


@pytest.mark.parametrize("cut", range(len(MOTD_FRAME)))
def test_frame_cut_at_every_byte(gateway, client_for, cut):
    client = client_for()
    gateway.raw(MOTD_FRAME[:cut], close=True)
    with pytest.raises(RuntimeError) as caught:
        client.system_motd()
    assert caught.value.args == (FILL_WHOLE_BUFFER,)


def test_frame_dripped_one_byte_per_send(gateway, client_for):
    client = client_for()
    gateway.raw(MOTD_FRAME, drip=0.002)
    assert client.system_motd() == MOTD
    # The stream is still in step: the next answer is the simulator's own.
    assert client.system_motd()


@pytest.mark.parametrize(
    "call",
    [
        lambda c: c.list_auth_methods(),
        lambda c: c.login_guest(),
        lambda c: c.login_anonymous("operator"),
        lambda c: c.login_password("operator", "orvik"),
        lambda c: c.session_info(),
        lambda c: c.system_motd(),
        lambda c: c.list_capset(),
        lambda c: c.get_capset_entry("session", 0x80B87169C39AAF1C),
        lambda c: c.logout(),
    ],
    ids=["list_auth_methods", "login_guest", "login_anonymous", "login_password", "session_info",
         "system_motd", "list_capset", "get_capset_entry", "logout"],
)
def test_close_instead_of_answer(gateway, client_for, call):
    client = client_for()
    gateway.close()
    with pytest.raises(RuntimeError) as caught:
        call(client)
    assert caught.value.args == (FILL_WHOLE_BUFFER,)
    # The client is still an object that answers, with the same failure.
    assert client.is_logged_out() is False
    with pytest.raises(RuntimeError):
        call(client)


def test_answer_for_an_older_request_is_refused(gateway, client_for):
    client = client_for()
    late = bytearray(MOTD_FRAME)
    struct.pack_into("<I", late, SEQ_OFFSET, 0)
    gateway.raw(bytes(late))
    with pytest.raises(RuntimeError) as caught:
        client.system_motd()
    assert caught.value.args == ("response seq 0 did not match request seq 1",)


def test_gateway_gone_before_the_constructor(gateway):
    import socket

    with socket.socket() as probe:  # a port that nothing listens on
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    with pytest.raises(ConnectionError) as caught:
        orvik.Client("127.0.0.1", port, connect_deadline_ms=0, io_timeout_ms=1000)
    assert caught.value.args == (
        f"timed out connecting to 127.0.0.1:{port}; last error: "
        "remote session TCP I/O failed: Connection refused (os error 111)",
    )
