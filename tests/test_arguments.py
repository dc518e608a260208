"""Argument binding and conversion: exact exception types and texts, the
order of the checks, nothing sent for a refused call, and the use rule under
re-entry."""

from __future__ import annotations

import json
import os

import pytest

import orvik

pytestmark = pytest.mark.timeout(30)

SYSTEM_INFO_ID = 0xFBBDC602980CB986
SESSION_ID = 0x80B87169C39AAF1C
NOT_AN_INTEGER = "'{}' object cannot be interpreted as an integer"
REFUSED = "Client was created in another process; create a new Client in this process"


def not_str(parameter, type_name):
    return f"argument '{parameter}': '{type_name}' object cannot be converted to 'PyString'"


# (arguments, keyword arguments, exception class, whole text)
CONSTRUCTOR_CASES = {
    "too-many-positional": (("h", 1, 2), {}, TypeError,
                            "Client.__new__() takes from 0 to 2 positional arguments but 3 were given"),
    "too-many-before-keywords": ((1, 2, 3, 4), {"bogus": 1}, TypeError,
                                 "Client.__new__() takes from 0 to 2 positional arguments but 4 were given"),
    "unexpected-keyword": ((), {"hostt": "x"}, TypeError, "Client.__new__() got an unexpected keyword argument 'hostt'"),
    "non-ascii-keyword": ((), {"hôst": "x"}, TypeError, "Client.__new__() got an unexpected keyword argument 'hôst'"),
    "multiple-values": (("x",), {"host": "y"}, TypeError, "Client.__new__() got multiple values for argument 'host'"),
    "keywords-in-order": ((1, 2), {"bogus": 1, "host": "x"}, TypeError,
                          "Client.__new__() got an unexpected keyword argument 'bogus'"),
    "keyword-only-by-position": ((), {"port": 1, "timeout": 1}, TypeError,
                                 "Client.__new__() got an unexpected keyword argument 'timeout'"),
    "binding-before-conversion": ((5,), {"bogus": 1}, TypeError,
                                  "Client.__new__() got an unexpected keyword argument 'bogus'"),
    "host-int": ((), {"host": 5}, TypeError, not_str("host", "int")),
    "host-none": ((None,), {}, TypeError, not_str("host", "NoneType")),
    "host-bytes": ((b"localhost",), {}, TypeError, not_str("host", "bytes")),
    "host-surrogate": (("\ud800",), {}, UnicodeEncodeError,
                       "'utf-8' codec can't encode character '\\ud800' in position 0: surrogates not allowed"),
    "host-before-port": ((5, "x"), {}, TypeError, not_str("host", "int")),
    "port-str": ((), {"port": "x"}, TypeError, "argument 'port': " + NOT_AN_INTEGER.format("str")),
    "port-float": ((), {"port": 1.5}, TypeError, "argument 'port': " + NOT_AN_INTEGER.format("float")),
    "port-above": ((), {"port": 70000}, OverflowError, "out of range integral type conversion attempted"),
    "port-65536": ((), {"port": 65536}, OverflowError, "out of range integral type conversion attempted"),
    "port-negative": ((), {"port": -1}, OverflowError, "out of range integral type conversion attempted"),
    "port-huge": ((), {"port": 2**70}, OverflowError, "Python int too large to convert to C long"),
    "deadline-str": ((), {"connect_deadline_ms": "1"}, TypeError,
                     "argument 'connect_deadline_ms': " + NOT_AN_INTEGER.format("str")),
    "io-negative": ((), {"io_timeout_ms": -1}, OverflowError, "can't convert negative int to unsigned"),
    "io-too-big": ((), {"io_timeout_ms": 2**64}, OverflowError, "int too big to convert"),
    "retry-none": ((), {"connect_retry_interval_ms": None}, TypeError,
                   "argument 'connect_retry_interval_ms': " + NOT_AN_INTEGER.format("NoneType")),
    "first-bad-parameter-wins": ((), {"io_timeout_ms": "x", "connect_deadline_ms": -1}, OverflowError,
                                 "can't convert negative int to unsigned"),
}


@pytest.mark.parametrize("args, kwargs, error, text", CONSTRUCTOR_CASES.values(), ids=CONSTRUCTOR_CASES.keys())
def test_constructor_arguments(args, kwargs, error, text):
    # Every case fails before any connection attempt.
    with pytest.raises(error) as caught:
        orvik.Client(*args, **kwargs)
    assert type(caught.value) is error
    assert str(caught.value) == text


METHOD_CASES = {
    "password-missing-one": ("login_password", ("x",), {}, TypeError,
                             "Client.login_password() missing 1 required positional argument: 'password'"),
    "password-missing-two": ("login_password", (), {"profile": "p"}, TypeError,
                             "Client.login_password() missing 2 required positional arguments: "
                             "'account_name' and 'password'"),
    "password-too-many": ("login_password", (1, 2, 3, 4), {}, TypeError,
                          "Client.login_password() takes from 2 to 3 positional arguments but 4 were given"),
    "password-account-type": ("login_password", (1, 2), {}, TypeError, not_str("account_name", "int")),
    "password-password-type": ("login_password", ("a", b"pw"), {}, TypeError, not_str("password", "bytes")),
    "password-profile-type": ("login_password", ("a", "b", 3.0), {}, TypeError, not_str("profile", "float")),
    "get-missing-both": ("get_capset_entry", (), {}, TypeError,
                         "Client.get_capset_entry() missing 2 required positional arguments: "
                         "'name' and 'expected_interface_id'"),
    "get-missing-id": ("get_capset_entry", (), {"name": "x"}, TypeError,
                       "Client.get_capset_entry() missing 1 required positional argument: 'expected_interface_id'"),
    "get-too-many": ("get_capset_entry", ("a", 1, 2), {}, TypeError,
                     "Client.get_capset_entry() takes 2 positional arguments but 3 were given"),
    "get-unexpected-before-missing": ("get_capset_entry", (), {"nam": "x"}, TypeError,
                                      "Client.get_capset_entry() got an unexpected keyword argument 'nam'"),
    "get-name-first": ("get_capset_entry", (1, "1"), {}, TypeError, not_str("name", "int")),
    "get-id-str": ("get_capset_entry", ("x", "1"), {}, TypeError,
                   "argument 'expected_interface_id': " + NOT_AN_INTEGER.format("str")),
    "get-id-float": ("get_capset_entry", (), {"name": "x", "expected_interface_id": 1.0}, TypeError,
                     "argument 'expected_interface_id': " + NOT_AN_INTEGER.format("float")),
    "get-id-negative": ("get_capset_entry", ("x", -1), {}, OverflowError, "can't convert negative int to unsigned"),
    "get-id-too-big": ("get_capset_entry", ("x", 2**64), {}, OverflowError, "int too big to convert"),
    "guest-too-many": ("login_guest", ("a", "b"), {}, TypeError,
                       "Client.login_guest() takes from 0 to 1 positional arguments but 2 were given"),
    "guest-three": ("login_guest", ("a", "b", "c"), {}, TypeError,
                        "Client.login_guest() takes from 0 to 1 positional arguments but 3 were given"),
    "guest-unexpected": ("login_guest", (), {"profile": "x", "profil": "y"}, TypeError,
                         "Client.login_guest() got an unexpected keyword argument 'profil'"),
    "guest-multiple": ("login_guest", ("x",), {"profile": "y"}, TypeError,
                       "Client.login_guest() got multiple values for argument 'profile'"),
    "guest-none": ("login_guest", (None,), {}, TypeError, not_str("profile", "NoneType")),
    "anonymous-too-many": ("login_anonymous", ("a", "b"), {}, TypeError,
                           "Client.login_anonymous() takes from 0 to 1 positional arguments but 2 were given"),
    "anonymous-profile-type": ("login_anonymous", (), {"profile": ["x"]}, TypeError, not_str("profile", "list")),
    "anonymous-surrogate": ("login_anonymous", ("\udcff",), {}, UnicodeEncodeError,
                            "'utf-8' codec can't encode character '\\udcff' in position 0: surrogates not allowed"),
    "exit-too-many": ("__exit__", (1, 2, 3, 4), {}, TypeError,
                      "Client.__exit__() takes from 0 to 3 positional arguments but 4 were given"),
    "exit-unexpected": ("__exit__", (), {"exc_type": None}, TypeError,
                        "Client.__exit__() got an unexpected keyword argument 'exc_type'"),
    "exit-multiple": ("__exit__", (None,), {"_exc_type": None}, TypeError,
                      "Client.__exit__() got multiple values for argument '_exc_type'"),
}


@pytest.mark.parametrize("method, args, kwargs, error, text", METHOD_CASES.values(), ids=METHOD_CASES.keys())
def test_method_arguments(client, orvik_gateway, method, args, kwargs, error, text):
    with pytest.raises(error) as caught:
        getattr(client, method)(*args, **kwargs)
    assert type(caught.value) is error
    assert str(caught.value) == text
    assert orvik_gateway.requests() == []  # refused before anything was sent
    assert client.is_logged_out() is False


def interpreter_no_arguments_text(method: str, **kwargs: object) -> str:
    """What the interpreter says for a no-argument method given arguments,
    learned from a built-in one and renamed."""
    try:
        [].copy(*([1] if not kwargs else []), **kwargs)
    except TypeError as exc:
        return str(exc).replace("list.copy()", f"Client.{method}()").replace("copy()", f"{method}()")
    raise AssertionError("list.copy accepted an argument")


NO_ARGUMENT_METHODS = ["list_auth_methods", "list_capset", "session_info", "system_motd", "is_logged_out",
                       "logout", "__enter__"]


@pytest.mark.parametrize("method", NO_ARGUMENT_METHODS)
@pytest.mark.parametrize("keyword", [False, True], ids=["positional", "keyword"])
def test_no_argument_methods_refuse_arguments(client, orvik_gateway, method, keyword):
    kwargs = {"x": 1} if keyword else {}
    with pytest.raises(TypeError) as caught:
        getattr(client, method)(*([] if keyword else [1]), **kwargs)
    assert str(caught.value) == interpreter_no_arguments_text(method, **kwargs)
    assert orvik_gateway.requests() == []


@pytest.mark.parametrize("method", ["logout", "is_logged_out", "__enter__", "login_guest"])
def test_foreign_self_is_refused(method):
    with pytest.raises(TypeError):
        getattr(orvik.Client, method)(5)


class Index:
    """An expected_interface_id whose __index__ raises `error`."""

    def __init__(self, error):
        self.error = error

    def __index__(self):
        raise self.error


def test_type_error_from_index_is_renamed_and_keeps_its_cause(client):
    cause = KeyError("k")
    error = TypeError("boom")
    error.__cause__ = cause
    with pytest.raises(TypeError) as caught:
        client.get_capset_entry("x", Index(error))
    assert str(caught.value) == "argument 'expected_interface_id': boom"
    assert caught.value is not error and caught.value.__cause__ is cause


@pytest.mark.parametrize("error", [ValueError("v"), OverflowError("o"), RuntimeError("r")], ids=type)
def test_other_errors_from_index_pass_through(client, orvik_gateway, error):
    with pytest.raises(type(error)) as caught:
        client.get_capset_entry("x", Index(error))
    assert caught.value is error
    assert orvik_gateway.requests() == []


class Reentrant:
    """An expected_interface_id whose __index__ calls back into a client
    and keeps what that call raised."""

    def __init__(self, call):
        self.call = call
        self.raised = None

    def __index__(self):
        try:
            self.call()
        except RuntimeError as exc:
            self.raised = exc
        return SYSTEM_INFO_ID


@pytest.mark.parametrize(
    "inner, text",
    [
        (lambda c: c.is_logged_out(), "Already mutably borrowed"),
        (lambda c: c.logout(), "Already borrowed"),
        (lambda c: c.list_auth_methods(), "Already borrowed"),
        (lambda c: c.login_guest(), "Already borrowed"),
        (lambda c: c.get_capset_entry("session", 1), "Already borrowed"),
        (lambda c: c.__exit__(), "Already borrowed"),
    ],
    ids=["is_logged_out", "logout", "list_auth_methods", "login_guest", "get_capset_entry", "__exit__"],
)
def test_reentry_fails_at_once(operator, orvik_gateway, inner, text):
    index = Reentrant(lambda: inner(operator))
    entry = operator.get_capset_entry("system_info", index)
    assert type(index.raised) is RuntimeError and index.raised.args == (text,)
    assert entry.name == "system_info"
    # Only the outer call reached the gateway; the use was released after it.
    assert [r.arm for r in orvik_gateway.requests()] == ["capsetGet"]
    assert operator.is_logged_out() is False
    operator.logout()
    assert operator.is_logged_out() is True


def test_reentry_error_propagates_when_not_caught(operator, orvik_gateway):
    class Index:
        def __index__(self):
            operator.logout()
            return 1

    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        operator.get_capset_entry("system_info", Index())
    assert orvik_gateway.requests() == []
    assert operator.session_info().profile == "operator"


def test_forked_child_cannot_use_the_parents_connection(connect, orvik_gateway):
    client = connect()
    client.login_password("operator", "orvik")
    orvik_gateway.clear()
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        try:
            seen = [client.is_logged_out()]

            def block():
                with client:
                    raise KeyError("the block's own")

            for call in (lambda: client.get_capset_entry("system_info", SYSTEM_INFO_ID), client.logout,
                         client.__exit__, block):
                try:
                    seen.append(repr(call()))
                except (RuntimeError, KeyError) as error:
                    seen.append(error.args[0])
            del call, client  # the child's copy: its descriptor closes, nothing is sent
            os.write(write_end, json.dumps(seen).encode())
        finally:
            os._exit(0)
    os.close(write_end)
    assert os.waitpid(pid, 0)[1] == 0
    with os.fdopen(read_end) as pipe:
        # __exit__ sends nothing either, and refuses nothing: it returns False,
        # and the with block's own exception comes through.
        assert json.load(pipe) == [False, REFUSED, REFUSED, "False", "the block's own"]
    for i in range(200):
        name, interface_id = [("session", SESSION_ID), ("system_info", SYSTEM_INFO_ID)][i % 2]
        assert client.get_capset_entry(name, interface_id).name == name
    assert len(orvik_gateway.requests()) == 200


def test_fork_during_argument_conversion_sends_from_the_parent_only(operator, orvik_gateway):
    read_end, write_end = os.pipe()
    forked = []

    class ForkingIndex:
        def __index__(self):
            forked.append(os.fork())
            return SESSION_ID

    try:
        outcome = repr(operator.get_capset_entry("session", ForkingIndex()).name)
    except BaseException as error:  # the child must reach its exit whatever it got
        outcome = repr(error)
    if forked[0] == 0:
        try:
            os.write(write_end, outcome.encode())
        finally:
            os._exit(0)
    os.close(write_end)
    assert os.waitpid(forked[0], 0)[1] == 0
    with os.fdopen(read_end) as pipe:
        assert pipe.read() == f"RuntimeError({REFUSED!r})"
    assert outcome == "'session'" and len(orvik_gateway.requests()) == 1


def test_enter_during_use_and_other_clients_do_not_conflict(operator, connect, orvik_gateway):
    other = connect()
    seen = []
    index = Reentrant(lambda: seen.extend([operator.__enter__() is operator, other.list_auth_methods()]))
    operator.get_capset_entry("system_info", index)
    assert index.raised is None and seen[0] is True and len(seen[1]) == 4
