"""The gateway's answers, exchanged over real sockets with a simulator child."""

from __future__ import annotations

import threading
from typing import Any, Iterator, List, Tuple

import pytest

from sim_rawclient import ScriptedGateway, connect, exchange, password, read_response

SESSION_ID = 0x80B87169C39AAF1C
SYSTEM_INFO_ID = 0xFBBDC602980CB986
Step = Tuple[str, Any]
LOGIN = ("passwordLogin", password("operator", "orvik"))


@pytest.fixture(scope="module")
def gateway() -> Iterator[ScriptedGateway]:
    # The policy cases queue no scripts, so one child serves the whole module.
    child = ScriptedGateway(["--disable-method", "anonymous"])
    yield child
    child.stop()


def run(gateway: ScriptedGateway, steps: List[Step]) -> List[dict]:
    with connect(gateway.port) as sock:
        return [exchange(sock, seq, arm, value) for seq, (arm, value) in enumerate(steps, start=1)]


def answer_of(response: dict) -> str:
    arm = next(k for k in response if k != "seq")
    return f"error({response['error']['code']})" if arm == "error" else arm


def test_hand_built_motd_request_is_answered(gateway: ScriptedGateway) -> None:
    message = bytes.fromhex(
        "00000000 03000000"  # one segment of 3 words
        "00000000 01000100"  # root pointer: struct, 1 data word, 1 pointer
        "07000000 06000000"  # seq 7, arm 6 systemMotd
        "00000000 00000000"  # null payload pointer
    )
    with connect(gateway.port) as sock:
        sock.sendall(bytes.fromhex("00000020") + message)
        assert read_response(sock) == {"seq": 7, "systemMotd": "Welcome to the orvik gateway simulator."}


@pytest.mark.parametrize(
    "steps, expected",
    [
        pytest.param([LOGIN], "sessionStarted", id="password"),
        pytest.param([("passwordLogin", password("operator", "orvi"))], "error(authenticationDenied)", id="wrong-proof"),
        pytest.param([("passwordLogin", password("nobody", "orvik"))], "error(authenticationDenied)", id="no-account"),
        pytest.param(
            [("passwordLogin", {"selector": {"opaqueSelector": b"operator"}, "profile": "operator", "proof": b"orvik"})],
            "error(authenticationDenied)",
            id="opaque-selector",
        ),
        pytest.param([("passwordLogin", password("operator", "orvik", "root"))], "error(authenticationDenied)", id="password-bad-profile"),
        pytest.param([("guestLogin", {"profile": "visitor"})], "sessionStarted", id="guest"),
        pytest.param([("guestLogin", {"profile": ""})], "error(authenticationDenied)", id="guest-empty-profile"),
        pytest.param([("anonymousLogin", {"profile": "operator"})], "error(disabledAuthMethod)", id="disabled-anonymous"),
        pytest.param([("sessionInfo", None)], "error(unauthenticated)", id="info-before-login"),
        pytest.param([("capsetList", None)], "error(unauthenticated)", id="list-before-login"),
        pytest.param([("capsetGet", {"name": "session", "expectedInterfaceId": SESSION_ID})], "error(unauthenticated)", id="get-before-login"),
        pytest.param([("logout", None)], "error(unauthenticated)", id="logout-before-login"),
        pytest.param([LOGIN, ("logout", None), ("capsetList", None)], "error(unauthenticated)", id="list-after-logout"),
        pytest.param([("passwordLogin", password("operator", "x")), ("sessionInfo", None)], "error(unauthenticated)", id="info-after-denied-login"),
        pytest.param([("systemMotd", None)], "systemMotd", id="motd-before-login"),
        pytest.param([("authMethods", None)], "authMethods", id="methods-before-login"),
        pytest.param([LOGIN, ("logout", None)], "loggedOut", id="logout"),
        pytest.param([LOGIN, ("capsetGet", {"name": "__missing__", "expectedInterfaceId": SESSION_ID})], "error(unknownCap)", id="get-unknown"),
        pytest.param([LOGIN, ("capsetGet", {"name": "system_info", "expectedInterfaceId": SESSION_ID})], "error(interfaceMismatch)", id="get-mismatch"),
        pytest.param([LOGIN, ("capsetGet", {"name": "system_info", "expectedInterfaceId": SYSTEM_INFO_ID})], "capGranted", id="get-granted"),
        pytest.param([LOGIN, ("chatJoin", {"channel": "#lobby", "handle": "me"})], "error(serviceUnavailable)", id="unserved-arm"),
    ],
)
def test_policy(gateway: ScriptedGateway, steps: List[Step], expected: str) -> None:
    responses = run(gateway, steps)
    assert [r["seq"] for r in responses] == list(range(1, len(steps) + 1))
    assert answer_of(responses[-1]) == expected


def test_auth_methods_advertise_enabled_and_disabled_methods(gateway: ScriptedGateway) -> None:
    (response,) = run(gateway, [("authMethods", None)])
    methods = {m["kind"]: (m["enabled"], m["interactive"], "operator" in m["profileHints"]) for m in response["authMethods"]}
    assert methods == {
        "password": (True, True, True),
        "guest": (True, False, True),
        "anonymous": (False, False, True),  # switched off with --disable-method
        "publicKey": (False, True, True),
    }


def test_session_and_capset_describe_the_login(gateway: ScriptedGateway) -> None:
    started, info, listed, granted = run(
        gateway,
        [LOGIN, ("sessionInfo", None), ("capsetList", None), ("capsetGet", {"name": "session", "expectedInterfaceId": SESSION_ID})],
    )
    summary = started["sessionStarted"]
    session = summary["session"]
    assert summary["summaryValue"] == 2
    assert session["principal"] == {"kind": "operator", "displayName": "operator"}
    assert (session["authStrength"], session["profile"], len(session["sessionId"])) == ("password", "operator", 16)
    assert session["expiresAtMs"] - session["createdAtMs"] == 3_600_000
    assert info["sessionInfo"] == session
    caps = {c["name"]: (c["interfaceId"], c["leaseExpiresAtMs"]) for c in listed["capsetList"]}
    assert caps == {"session": (SESSION_ID, session["expiresAtMs"]), "system_info": (SYSTEM_INFO_ID, session["expiresAtMs"])}
    assert all(c["transferPolicy"] for c in listed["capsetList"])
    assert granted["capGranted"] == listed["capsetList"][0]


def test_guest_and_second_login_get_fresh_sessions(gateway: ScriptedGateway) -> None:
    first, second = run(gateway, [LOGIN, ("guestLogin", {"profile": "operator"})])
    guest = second["sessionStarted"]["session"]
    assert (guest["principal"]["kind"], guest["authStrength"]) == ("guest", "none")
    assert guest["sessionId"] != first["sessionStarted"]["session"]["sessionId"]


def test_connections_are_served_at_once_and_keep_their_own_sessions(gateway: ScriptedGateway) -> None:
    socks = [connect(gateway.port) for _ in range(6)]
    try:
        # A gateway serving one connection at a time would wait on the first
        # socket forever while the others' requests are pending.
        for sock in socks[::-1]:
            assert answer_of(exchange(sock, 1, *LOGIN)) == "sessionStarted"
        with connect(gateway.port) as stranger:
            assert answer_of(exchange(stranger, 1, "sessionInfo")) == "error(unauthenticated)"
        errors: List[BaseException] = []

        def session_info(sock: Any) -> None:
            try:
                for seq in range(2, 12):
                    assert answer_of(exchange(sock, seq, "sessionInfo")) == "sessionInfo"
            except BaseException as exc:  # pragma: no cover - reported below
                errors.append(exc)

        threads = [threading.Thread(target=session_info, args=(s,)) for s in socks]
        for t in threads:
            t.start()
        for t in threads:
            t.join(10)
        assert not errors
    finally:
        for sock in socks:
            sock.close()
