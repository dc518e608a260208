"""AuthMethod, SessionInfo and CapInfo as built from gateway answers:
attribute values and types, read-only snapshots, reprs and their escapes."""

from __future__ import annotations

import copy
import pickle
import sys
import weakref

import pytest

import orvik

pytestmark = pytest.mark.timeout(30)

U64_MAX = 2**64 - 1


def cap_entry(name="system_info", interface_id=0xFBBDC602980CB986, policy="copy-within-session", lease=7):
    return {"name": name, "interfaceId": interface_id, "transferPolicy": policy, "leaseExpiresAtMs": lease}


def session_struct(profile="operator", kind="human", display="console", strength="password",
                   session_id=b"\x00\x01\xab\xff", expires=1234):
    return {
        "authStrength": strength,
        "expiresAtMs": expires,
        "sessionId": session_id,
        "principal": {"kind": kind, "displayName": display},
        "profile": profile,
    }


def auth_method(kind="guest", label="Guest session", hints=("visitor",), interactive=False, enabled=True):
    return {"kind": kind, "label": label, "profileHints": list(hints), "interactive": interactive,
            "enabled": enabled}


@pytest.fixture
def granted(operator, orvik_gateway):
    """Fetches one CapInfo built from the given entry."""
    def fetch(**fields):
        orvik_gateway.respond("capGranted", cap_entry(**fields))
        return operator.get_capset_entry("anything", 1)
    return fetch


@pytest.fixture
def method(client, orvik_gateway):
    """Fetches one AuthMethod built from the given method."""
    def fetch(**fields):
        orvik_gateway.respond("authMethods", [auth_method(**fields)])
        (only,) = client.list_auth_methods()
        return only
    return fetch


@pytest.fixture
def session(operator, orvik_gateway):
    """Fetches one SessionInfo built from the given session struct."""
    def fetch(**fields):
        orvik_gateway.respond("sessionInfo", session_struct(**fields))
        return operator.session_info()
    return fetch


def test_auth_method_fields(method):
    m = method(kind="password", label="Account", hints=("operator", "developer"), interactive=True, enabled=False)
    assert (m.kind, m.label, m.profile_hints, m.interactive, m.enabled) == (
        "password", "Account", ["operator", "developer"], True, False)
    assert m.interactive is True and m.enabled is False
    assert repr(m) == 'AuthMethod(kind="password", label="Account", interactive=true, enabled=false)'
    assert str(m) == repr(m)


def test_profile_hints_are_a_fresh_list_per_read(method):
    m = method(hints=("a", "b"))
    first, second = m.profile_hints, m.profile_hints
    assert first == second == ["a", "b"] and first is not second
    first.append("c")
    assert m.profile_hints == ["a", "b"]


def test_no_hints_is_an_empty_list(method):
    m = method(hints=())
    assert m.profile_hints == []
    assert repr(m) == 'AuthMethod(kind="guest", label="Guest session", interactive=false, enabled=true)'


def test_session_info_fields(session):
    s = session()
    assert (s.profile, s.principal_kind, s.principal_display_name, s.auth_strength, s.session_id_hex,
            s.expires_at_ms) == ("operator", "human", "console", "password", "0001abff", 1234)
    assert repr(s) == ('SessionInfo(profile="operator", principal_kind="human", principal_display_name="console", '
                       'auth_strength="password", session_id_hex="0001abff", expires_at_ms=1234)')


@pytest.mark.parametrize("expires", [0, U64_MAX])
def test_session_info_extremes(session, expires):
    s = session(session_id=b"", expires=expires)
    assert s.session_id_hex == "" and s.expires_at_ms == expires and type(s.expires_at_ms) is int
    assert repr(s).endswith(f'session_id_hex="", expires_at_ms={expires})')


def test_cap_info_fields(granted):
    c = granted()
    assert (c.name, c.interface_id, c.transfer_policy, c.lease_expires_at_ms) == (
        "system_info", 0xFBBDC602980CB986, "copy-within-session", 7)
    assert repr(c) == ('CapInfo(name="system_info", interface_id=0xfbbdc602980cb986, '
                       'transfer_policy="copy-within-session", lease_expires_at_ms=7)')


@pytest.mark.parametrize(
    "interface_id, lease, shown",
    [(0, 0, "interface_id=0x0"), (31, 1, "interface_id=0x1f"), (U64_MAX, U64_MAX, "interface_id=0xffffffffffffffff")],
)
def test_cap_info_numbers(granted, interface_id, lease, shown):
    c = granted(interface_id=interface_id, lease=lease)
    assert c.interface_id == interface_id and c.lease_expires_at_ms == lease
    assert f", {shown}, " in repr(c) and repr(c).endswith(f"lease_expires_at_ms={lease})")


@pytest.mark.parametrize(
    "text, quoted",
    [
        ('a"b\nc', r'"a\"b\nc"'),
        ("back\\slash", r'"back\\slash"'),
        ("nul\x00", r'"nul\0"'),
        ("tab\tcr\r", r'"tab\tcr\r"'),
        ("esc\x1b del\x7f", r'"esc\u{1b} del\u{7f}"'),
        ("nbsp\u00a0", r'"nbsp\u{a0}"'),
        ("e\u0301", r'"e\u{301}"'),
        ("zwj\u200d ls\u2028", r'"zwj\u{200d} ls\u{2028}"'),
        ("don't", '"don\'t"'),
        ("é ü 日本", '"é ü 日本"'),
        ("", '""'),
    ],
    ids=["quote-newline", "backslash", "nul", "tab-cr", "controls", "nbsp", "combining", "format-separator",
         "apostrophe", "non-ascii", "empty"],
)
def test_repr_escapes(granted, method, text, quoted):
    c = granted(name=text, policy=text)
    assert c.name == text
    assert repr(c) == f"CapInfo(name={quoted}, interface_id=0xfbbdc602980cb986, transfer_policy={quoted}, lease_expires_at_ms=7)"
    m = method(kind="guest", label=text)
    assert m.label == text
    assert repr(m) == f'AuthMethod(kind="guest", label={quoted}, interactive=false, enabled=true)'


READ_ONLY = [
    ("method", "kind"), ("method", "profile_hints"), ("method", "enabled"),
    ("session", "profile"), ("session", "expires_at_ms"),
    ("granted", "name"), ("granted", "interface_id"),
]


@pytest.mark.parametrize("maker, attribute", READ_ONLY)
def test_attributes_are_read_only(request, maker, attribute):
    value = request.getfixturevalue(maker)()
    before = getattr(value, attribute)
    with pytest.raises(AttributeError):
        setattr(value, attribute, before)
    with pytest.raises(AttributeError):
        delattr(value, attribute)
    assert getattr(value, attribute) == before


@pytest.mark.parametrize("maker", ["method", "session", "granted"])
def test_no_instance_dict_no_weakref_identity_equality(request, maker):
    make = request.getfixturevalue(maker)
    value, twin = make(), make()
    with pytest.raises(AttributeError):
        value.extra = 1
    assert not hasattr(value, "__dict__")
    with pytest.raises(TypeError):
        weakref.ref(value)
    assert value == value and value != twin and hash(value) != hash(twin)
    assert repr(value) == repr(twin)
    # Copying would need an object built outside the module: refused.
    for duplicate in (copy.copy, copy.deepcopy, pickle.dumps):
        with pytest.raises(TypeError):
            duplicate(value)


def test_client_has_no_instance_dict_no_weakref_no_copy(client):
    with pytest.raises(AttributeError):
        client.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(client)
    for duplicate in (copy.copy, pickle.dumps):
        with pytest.raises(TypeError):
            duplicate(client)
    assert repr(client).startswith("<builtins.Client object at 0x")


def test_value_objects_outlive_their_client(connect, orvik_gateway):
    c = connect()
    methods = c.list_auth_methods()
    del c
    assert [m.kind for m in methods] == ["password", "guest", "anonymous", "publicKey"]


def test_released_objects_give_back_their_type_reference(connect, orvik_gateway):
    # Each instance of a heap type holds a reference to its type; a missed
    # release in a deallocator shows up as a count that only grows.
    types = [orvik.Client, orvik.AuthMethod, orvik.SessionInfo, orvik.CapInfo]
    before = [sys.getrefcount(t) for t in types]
    for _ in range(5):
        c = connect()
        c.list_auth_methods()
        c.login_guest()
        c.list_capset()
        del c
    assert [sys.getrefcount(t) for t in types] == before
