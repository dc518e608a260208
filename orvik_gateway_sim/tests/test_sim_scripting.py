"""Scripted answers through the orvik_gateway fixture (a simulator child per test)."""

from __future__ import annotations

import os
import socket
import subprocess
import sys

import pytest

from sim_rawclient import ScriptedGateway, closed_by_peer, connect, exchange, password, read_exactly, read_response, request
from orvik_gateway_sim import pytest_plugin, wire

# Where the seq of a single-segment response sits in its frame: the prefix,
# the segment table and the root pointer come first.
SEQ_OFFSET = 4 + 8 + 8


@pytest.mark.parametrize(
    "script, expected",
    [
        pytest.param(lambda g: g.respond("systemMotd", "scripted"), {"seq": 3, "systemMotd": "scripted"}, id="respond"),
        pytest.param(lambda g: g.respond("loggedOut", False, seq=40), {"seq": 40, "loggedOut": False}, id="respond-seq"),
        pytest.param(
            lambda g: g.respond("capGranted", {"name": "x", "interfaceId": 2**64 - 1}),
            {"seq": 3, "capGranted": {"name": "x", "interfaceId": 2**64 - 1, "leaseExpiresAtMs": 0}},
            id="respond-struct",
        ),
        pytest.param(
            lambda g: g.error("staleSession", "gone"), {"seq": 3, "error": {"code": "staleSession", "message": "gone"}}, id="error"
        ),
        pytest.param(
            lambda g: g.raw(wire.frame(wire.response_message("systemMotd", "raw", seq=0)), seq_offset=SEQ_OFFSET),
            {"seq": 3, "systemMotd": "raw"},
            id="raw-seq-offset",
        ),
    ],
)
def test_scripted_answer_replaces_policy_once(orvik_gateway: ScriptedGateway, script, expected) -> None:
    script(orvik_gateway)
    with connect(orvik_gateway.port) as sock:
        assert exchange(sock, 3, "sessionInfo") == expected
        assert exchange(sock, 4, "sessionInfo")["error"]["code"] == "unauthenticated"


def test_raw_bytes_are_sent_verbatim(orvik_gateway: ScriptedGateway) -> None:
    orvik_gateway.raw(b"\x00\x00\x00\x02ab\x07")
    with connect(orvik_gateway.port) as sock:
        sock.sendall(wire.frame(request(1, "systemMotd")))
        assert read_exactly(sock, 7) == b"\x00\x00\x00\x02ab\x07"


def test_close_ends_the_connection_instead_of_answering(orvik_gateway: ScriptedGateway) -> None:
    orvik_gateway.close()
    with connect(orvik_gateway.port) as sock:
        sock.sendall(wire.frame(request(1, "systemMotd")))
        assert closed_by_peer(sock)
    assert [r.arm for r in orvik_gateway.requests()] == ["systemMotd"]


def test_silent_leaves_the_connection_open_and_unanswered(orvik_gateway: ScriptedGateway) -> None:
    orvik_gateway.silent()
    with connect(orvik_gateway.port, timeout=0.3) as sock:
        sock.sendall(wire.frame(request(1, "systemMotd")))
        with pytest.raises(socket.timeout):
            sock.recv(1)
        sock.settimeout(5)
        assert exchange(sock, 2, "systemMotd")["seq"] == 2


def test_scripts_are_consumed_in_order_across_connections(orvik_gateway: ScriptedGateway) -> None:
    orvik_gateway.respond("systemMotd", "first")
    orvik_gateway.respond("systemMotd", "second")
    with connect(orvik_gateway.port) as a, connect(orvik_gateway.port) as b:
        assert exchange(b, 1, "authMethods")["systemMotd"] == "first"
        assert exchange(a, 1, "authMethods")["systemMotd"] == "second"
        assert "authMethods" in exchange(a, 2, "authMethods")


def test_requests_are_recorded_with_payload_and_raw_bytes(orvik_gateway: ScriptedGateway) -> None:
    login = request(7, "passwordLogin", password("operator", "orvik", "developer"))
    with connect(orvik_gateway.port) as sock:
        sock.sendall(wire.frame(login))
        assert read_response(sock)["sessionStarted"]["session"]["profile"] == "developer"
        exchange(sock, 8, "capsetGet", {"name": "session", "expectedInterfaceId": 1})
    first, second = orvik_gateway.requests()
    assert (first.seq, first.arm, first.raw) == (7, "passwordLogin", login)
    assert first.payload == password("operator", "orvik", "developer")
    assert (second.seq, second.arm, second.payload) == (8, "capsetGet", {"name": "session", "expectedInterfaceId": 1})
    orvik_gateway.respond("systemMotd", "queued")
    orvik_gateway.clear()
    assert orvik_gateway.requests() == []
    with connect(orvik_gateway.port) as sock:
        assert "authMethods" in exchange(sock, 1, "authMethods"), "clear() left a script queued"


@pytest.mark.parametrize(
    "bad_script",
    [
        pytest.param(lambda g: g.respond("noSuchArm"), id="unknown-arm"),
        pytest.param(lambda g: g.respond("systemMotd", 5), id="wrong-value-type"),
        pytest.param(lambda g: g.error("noSuchCode", "x"), id="unknown-error-code"),
        pytest.param(lambda g: g.respond("systemMotd", "x", seq=2**32), id="seq-out-of-range"),
        pytest.param(lambda g: g.raw(b"\x00" * 6, seq_offset=3), id="seq-offset-past-end"),
    ],
)
def test_bad_script_is_refused_when_queued(orvik_gateway: ScriptedGateway, bad_script) -> None:
    with pytest.raises(ValueError):
        bad_script(orvik_gateway)
    with connect(orvik_gateway.port) as sock:
        assert "systemMotd" in exchange(sock, 1, "systemMotd")


def test_plugin_imports_without_pycapnp_and_the_fixture_skips(monkeypatch, request) -> None:
    blocked = "import sys; sys.modules['capnp'] = None; import orvik_gateway_sim.pytest_plugin, orvik_gateway_sim.scripted_gateway"
    package_parent = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    subprocess.run([sys.executable, "-c", blocked], check=True, timeout=30, env=dict(os.environ, PYTHONPATH=package_parent))
    monkeypatch.setattr(pytest_plugin, "_have_pycapnp", lambda: False)
    with pytest.raises(pytest.skip.Exception, match="pycapnp"):
        request.getfixturevalue("orvik_gateway")
