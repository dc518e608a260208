"""Every Client operation against the simulator's normal policy: results,
the requests that went out, session state, the with block and release."""

from __future__ import annotations

import gc

import pytest

import orvik

pytestmark = pytest.mark.timeout(30)

SESSION_ID = 0x80B87169C39AAF1C
SYSTEM_INFO_ID = 0xFBBDC602980CB986


def arms(gateway):
    return [r.arm for r in gateway.requests()]


def test_list_auth_methods(client, orvik_gateway):
    methods = client.list_auth_methods()
    assert all(type(m) is orvik.AuthMethod for m in methods)
    assert [(m.kind, m.label, m.profile_hints, m.interactive, m.enabled) for m in methods] == [
        ("password", "Account name and password", ["operator", "developer"], True, True),
        ("guest", "Guest session", ["operator", "visitor"], False, True),
        ("anonymous", "Anonymous session", ["operator", "observer"], False, True),
        ("publicKey", "Public key (not offered here)", ["operator"], True, False),
    ]
    assert orvik_gateway.requests()[0].seq == 1 and arms(orvik_gateway) == ["authMethods"]


def test_empty_method_list(client, orvik_gateway):
    orvik_gateway.respond("authMethods", [])
    assert client.list_auth_methods() == []


@pytest.mark.parametrize(
    "login, arm, payload, principal",
    [
        (lambda c: c.login_password("operator", "orvik"), "passwordLogin",
         {"selector": {"accountName": b"operator"}, "profile": "operator", "proof": b"orvik"},
         ("operator", "operator", "password")),
        (lambda c: c.login_password("operator", "orvik", "developer"), "passwordLogin",
         {"selector": {"accountName": b"operator"}, "profile": "developer", "proof": b"orvik"},
         ("human", "operator", "password")),
        (lambda c: c.login_guest(), "guestLogin", {"profile": "operator"}, ("guest", "guest", "none")),
        (lambda c: c.login_guest(profile="visitor"), "guestLogin", {"profile": "visitor"}, ("guest", "guest", "none")),
        (lambda c: c.login_anonymous(), "anonymousLogin", {"profile": "operator"}, ("anonymous", "", "none")),
        (lambda c: c.login_anonymous("observer"), "anonymousLogin", {"profile": "observer"},
         ("anonymous", "", "none")),
    ],
    ids=["password", "password-profile", "guest", "guest-profile", "anonymous", "anonymous-profile"],
)
def test_logins(client, orvik_gateway, login, arm, payload, principal):
    info = login(client)
    assert type(info) is orvik.SessionInfo
    assert (info.principal_kind, info.principal_display_name, info.auth_strength) == principal
    assert info.profile == payload["profile"]
    assert len(info.session_id_hex) == 32 and int(info.session_id_hex, 16) >= 0
    assert info.session_id_hex == info.session_id_hex.lower()
    (request,) = orvik_gateway.requests()
    assert (request.arm, request.payload) == (arm, payload)
    # session_info asks the gateway again and gets the same session
    assert repr(client.session_info()) == repr(info)


def test_login_strings_travel_unchanged(client, orvik_gateway):
    orvik_gateway.error("authenticationDenied", "no")
    with pytest.raises(RuntimeError):
        client.login_password("ünï\x00", "pä ss", "prof\u00a0ile")
    (request,) = orvik_gateway.requests()
    assert request.payload == {
        "selector": {"accountName": "ünï\x00".encode()}, "profile": "prof\u00a0ile", "proof": "pä ss".encode()}


def test_session_operations(operator, orvik_gateway):
    assert operator.system_motd() == "Welcome to the orvik gateway simulator."
    capset = operator.list_capset()
    assert all(type(c) is orvik.CapInfo for c in capset)
    assert [(c.name, c.interface_id, c.transfer_policy) for c in capset] == [
        ("session", SESSION_ID, "non-transferable"),
        ("system_info", SYSTEM_INFO_ID, "copy-within-session"),
    ]
    expiry = operator.session_info().expires_at_ms
    assert all(c.lease_expires_at_ms == expiry for c in capset)
    entry = operator.get_capset_entry("system_info", SYSTEM_INFO_ID)
    assert repr(entry) == repr(capset[1])
    assert operator.logout() is None
    assert arms(orvik_gateway) == ["systemMotd", "capsetList", "sessionInfo", "capsetGet", "logout"]
    assert [r.seq for r in orvik_gateway.requests()] == [2, 3, 4, 5, 6]  # the login was seq 1
    assert orvik_gateway.requests()[3].payload == {"name": "system_info", "expectedInterfaceId": SYSTEM_INFO_ID}


@pytest.mark.parametrize(
    "motd", ["", "multi\nline\tbanner with \"quotes\" and ünïcode \u00a0"], ids=["empty", "escapes"]
)
def test_motd_text_unchanged(client, orvik_gateway, motd):
    orvik_gateway.respond("systemMotd", motd)
    assert client.system_motd() == motd


def test_empty_capset(operator, orvik_gateway):
    orvik_gateway.respond("capsetList", [])
    assert operator.list_capset() == []


def test_granted_entry_is_returned_as_the_gateway_sent_it(operator, orvik_gateway):
    # The client compares nothing: the gateway enforces the expected id.
    orvik_gateway.respond("capGranted", {"name": "other", "interfaceId": 5})
    entry = operator.get_capset_entry("system_info", SYSTEM_INFO_ID)
    assert (entry.name, entry.interface_id, entry.transfer_policy, entry.lease_expires_at_ms) == ("other", 5, "", 0)


@pytest.mark.parametrize(
    "argument, sent",
    [(True, 1), (False, 0), (2**64 - 1, 2**64 - 1)],
    ids=["true", "false", "u64-max"],
)
def test_expected_interface_id_conversions(operator, orvik_gateway, argument, sent):
    with pytest.raises(RuntimeError):
        operator.get_capset_entry("system_info", argument)
    assert orvik_gateway.requests()[0].payload["expectedInterfaceId"] == sent


def test_index_and_str_subclasses_are_accepted(operator, orvik_gateway):
    class Name(str):
        pass

    class Id:
        def __index__(self):
            return SYSTEM_INFO_ID

    assert operator.get_capset_entry(Name("system_info"), Id()).interface_id == SYSTEM_INFO_ID
    assert operator.get_capset_entry(name="session", expected_interface_id=SESSION_ID).name == "session"


def test_logged_out_transitions(client, orvik_gateway):
    assert client.is_logged_out() is False
    client.login_guest()
    assert client.is_logged_out() is False
    client.logout()
    assert client.is_logged_out() is True
    client.login_anonymous()  # granted
    assert client.is_logged_out() is False
    client.logout()
    with pytest.raises(RuntimeError):
        client.login_password("operator", "wrong")  # refused, but answered
    assert client.is_logged_out() is False
    orvik_gateway.respond("loggedOut", False)
    with pytest.raises(RuntimeError):
        client.logout()
    assert client.is_logged_out() is False
    assert orvik_gateway.requests()[-1].arm == "logout"


def test_second_logout_is_sent_and_keeps_the_state(operator, orvik_gateway):
    operator.logout()
    orvik_gateway.respond("loggedOut", True)
    operator.logout()
    assert operator.is_logged_out() is True
    assert arms(orvik_gateway) == ["logout", "logout"]


def test_is_logged_out_sends_nothing(client, orvik_gateway):
    for _ in range(3):
        client.is_logged_out()
    assert orvik_gateway.requests() == []


def test_enter_returns_the_same_client_and_sends_nothing(client, orvik_gateway):
    assert client.__enter__() is client
    assert orvik_gateway.requests() == []


def test_exit_returns_false(operator):
    assert operator.__exit__() is False
    assert operator.__exit__(ValueError, ValueError("x"), None) is False


def test_with_block_logs_out_once(connect, orvik_gateway):
    with connect() as c:
        c.login_guest()
    assert arms(orvik_gateway) == ["guestLogin", "logout"]
    assert c.is_logged_out() is True
    # the connection stays open after the block
    assert c.system_motd()


@pytest.mark.parametrize("refusal", [None, "error", "close"])
def test_with_block_reraises_and_ignores_the_logout_outcome(connect, orvik_gateway, refusal):
    with pytest.raises(ValueError, match="^inside$"):
        with connect() as c:
            c.login_guest()
            if refusal == "error":
                orvik_gateway.error("staleSession", "gone")
            elif refusal == "close":
                orvik_gateway.close()
            raise ValueError("inside")
    assert arms(orvik_gateway) == ["guestLogin", "logout"]


def test_with_block_after_explicit_logout_sends_a_second_one(connect, orvik_gateway):
    with connect() as c:
        c.login_guest()
        c.logout()
    assert arms(orvik_gateway) == ["guestLogin", "logout", "logout"]


def test_release_closes_the_socket_without_logout(connect, orvik_gateway, socket_count):
    gc.collect()  # a client an earlier test left in a cycle would close its socket below
    before = socket_count()
    c = connect()
    c.login_guest()
    assert socket_count() == before + 1
    del c
    gc.collect()
    assert socket_count() == before
    assert arms(orvik_gateway) == ["guestLogin"]
