"""The module object, its classes as types, and the stub file."""

from __future__ import annotations

import importlib.metadata
import os
import re
import shutil
import subprocess
import sys
import textwrap
import weakref
from pathlib import Path

import pytest

import orvik
import orvik_gateway_sim

VALUE_CLASSES = [orvik.AuthMethod, orvik.SessionInfo, orvik.CapInfo]
ALL_CLASSES = [orvik.Client, *VALUE_CLASSES]
STUB_DIR = Path(__file__).resolve().parent.parent / "orvik"


def test_module_attributes():
    assert orvik.__name__ == "orvik"
    assert orvik.__doc__ == "`orvik` Python module."
    assert orvik.__version__ == "0.1.4"
    assert orvik.__all__ == ["__version__", "Client", "CapInfo", "SessionInfo", "AuthMethod"]
    public = [name for name in vars(orvik) if not name.startswith("_")]
    assert sorted(public) == sorted(orvik.__all__[1:])


def test_the_version_stands_once():
    # CMakeLists.txt's project() is its one source: the distribution's
    # metadata, the extension, orvik-session and the simulator take it from there.
    source = (STUB_DIR.parent / "CMakeLists.txt").read_text()
    version = re.search(r"^project\(orvik VERSION ([0-9.]+)", source, re.M).group(1)
    tool = subprocess.run([str(Path(sys.executable).with_name("orvik-session")), "--version"],
                          capture_output=True, text=True, timeout=30)
    assert tool.stdout == f"orvik-session {version}\n"
    assert orvik.__version__ == importlib.metadata.version("orvik") == orvik_gateway_sim.__version__ == version


def test_the_extension_is_the_installed_one():
    # Not the source directory of the same name seen as a namespace package.
    assert orvik.__file__ is not None and ".abi3." in os.path.basename(orvik.__file__)


def test_import_again_gives_the_same_module():
    saved = sys.modules.pop("orvik")
    try:
        import orvik as again

        assert again is saved
        assert again.Client is saved.Client
    finally:
        sys.modules["orvik"] = saved


@pytest.mark.parametrize("cls", ALL_CLASSES, ids=lambda c: c.__name__)
def test_type_names(cls):
    name = cls.__name__
    assert getattr(orvik, name) is cls
    assert cls.__module__ == "builtins"
    assert cls.__qualname__ == name
    assert repr(cls) == f"<class 'builtins.{name}'>"
    assert cls.__bases__ == (object,)


@pytest.mark.parametrize("cls", ALL_CLASSES, ids=lambda c: c.__name__)
def test_no_subclassing_and_no_bare_instances(cls):
    with pytest.raises(TypeError):
        type("Derived", (cls,), {})
    # An instance whose C++ part was never built must not come to exist.
    with pytest.raises(TypeError):
        object.__new__(cls)


@pytest.mark.parametrize("cls", VALUE_CLASSES, ids=lambda c: c.__name__)
@pytest.mark.parametrize(
    "args, kwargs", [((), {}), ((1, 2), {}), ((), {"name": "x"})], ids=["none", "positional", "keyword"]
)
def test_value_classes_have_no_constructor(cls, args, kwargs):
    with pytest.raises(TypeError) as caught:
        cls(*args, **kwargs)
    assert str(caught.value) == f"No constructor defined for {cls.__name__}"


@pytest.mark.parametrize(
    "cls, doc",
    [
        (orvik.AuthMethod, "One advertised authentication method."),
        (orvik.SessionInfo, "Metadata describing an authenticated remote session."),
        (orvik.CapInfo, "One forwarded capability in a remote session's CapSet."),
    ],
    ids=lambda v: getattr(v, "__name__", ""),
)
def test_value_class_docs(cls, doc):
    assert cls.__doc__ == doc
    assert cls.__text_signature__ is None


ATTRIBUTE_DOCS = {
    orvik.AuthMethod: [
        ("kind", "Method kind (e.g. anonymous, guest, password)."),
        ("label", "Human-readable label."),
        ("profile_hints", "Profile hints the server offers for this method."),
        ("interactive", "Whether the method needs interactive input."),
        ("enabled", "Whether the method is currently enabled."),
    ],
    orvik.SessionInfo: [
        ("profile", "Granted profile name."),
        ("principal_kind", "Principal kind (e.g. anonymous, guest, account)."),
        ("principal_display_name", "Human-readable principal name."),
        ("auth_strength", "Authentication strength label."),
        ("session_id_hex", "Hex-encoded session id."),
        ("expires_at_ms", "Session expiry in milliseconds since the orvik boot clock base."),
    ],
    orvik.CapInfo: [
        ("name", "CapSet entry name."),
        ("interface_id", "Cap'n Proto interface id of the forwarded capability."),
        ("transfer_policy", "Transfer policy the server attached to this entry."),
        ("lease_expires_at_ms", "Lease expiry in milliseconds since the orvik boot clock base."),
    ],
}


@pytest.mark.parametrize("cls", VALUE_CLASSES, ids=lambda c: c.__name__)
def test_value_attributes_in_order_with_docs(cls):
    descriptors = [(k, v) for k, v in vars(cls).items() if hasattr(v, "__get__") and not k.startswith("__")]
    assert [(k, v.__doc__) for k, v in descriptors] == ATTRIBUTE_DOCS[cls]
    for _, descriptor in descriptors:
        # read-only data descriptors: a __set__ that refuses
        assert hasattr(descriptor, "__set__")


def test_client_signature_and_doc():
    assert orvik.Client.__doc__ == (
        "Host-side client for a running orvik remote session.\n\n"
        "Construct it to connect the TCP transport, then authenticate with one of the\n"
        "`login_*` methods before listing the CapSet or reading session metadata."
    )
    if sys.version_info >= (3, 10):  # 3.9 drops a heap type's text signature
        assert orvik.Client.__text_signature__ == (
            "(host=..., port=2327, *, connect_deadline_ms=10000, io_timeout_ms=60000, "
            "connect_retry_interval_ms=100)"
        )


CLIENT_METHODS = [
    ("list_auth_methods", "($self)", "List the authentication methods the server advertises."),
    ("login_anonymous", "($self, profile=...)", "Authenticate anonymously, requesting `profile`."),
    ("login_guest", "($self, profile=...)", "Authenticate as a guest, requesting `profile`."),
    (
        "login_password",
        "($self, account_name, password, profile=...)",
        "Authenticate with an account name and password proof, requesting `profile`.",
    ),
    ("list_capset", "($self)", "List the capabilities forwarded into the current session's CapSet."),
    (
        "get_capset_entry",
        "($self, name, expected_interface_id)",
        "Fetch one CapSet entry by name, asserting its interface id.",
    ),
    ("session_info", "($self)", "Read metadata for the current session."),
    ("system_motd", "($self)", "Read the system message-of-the-day banner."),
    ("is_logged_out", "($self)", "Whether the session has been logged out."),
    ("logout", "($self)", "Log out and end the session."),
    ("__enter__", "($self)", None),
    ("__exit__", "($self, _exc_type=None, _exc_value=None, _traceback=None)", None),
]


def test_client_methods_in_order():
    own = [k for k, v in vars(orvik.Client).items() if callable(v) and k not in ("__new__",)]
    assert own == [name for name, _, _ in CLIENT_METHODS]


@pytest.mark.parametrize("name, signature, doc", CLIENT_METHODS, ids=[m[0] for m in CLIENT_METHODS])
def test_client_method_signatures(name, signature, doc):
    method = getattr(orvik.Client, name)
    assert method.__text_signature__ == signature
    assert method.__doc__ == doc


def test_sub_interpreter_is_refused(tmp_path):
    pytest.importorskip("_testcapi")
    # The main interpreter imports first; the sub-interpreter then must fail
    # with ImportError, which it writes down for us.
    out = tmp_path / "result.txt"
    script = textwrap.dedent(
        f"""
        import _testcapi, orvik
        code = '''
        try:
            import orvik
        except ImportError as exc:
            result = "ImportError: " + str(exc)
        else:
            result = "imported"
        open({str(out)!r}, "w").write(result)
        '''
        _testcapi.run_in_subinterp(code)
        """
    )
    subprocess.run([sys.executable, "-c", script], check=True, timeout=60)
    assert out.read_text() == "ImportError: the orvik module does not support sub-interpreters"


def test_stubs_match_the_extension(tmp_path):
    pytest.importorskip("mypy")
    env = dict(os.environ, MYPYPATH=str(STUB_DIR))
    # Run away from the source tree, where `orvik/` would shadow the extension.
    result = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "orvik", "--mypy-config-file", os.devnull],
        cwd=tmp_path,
        env=env,
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert result.returncode == 0, result.stdout + result.stderr


@pytest.mark.parametrize(
    "flags, expected",
    [([], "0.1.4"), (["-S"], "ImportError: the orvik extension is not installed for ")],
    ids=["installed", "site-packages hidden"],
)
def test_the_checkout_root_does_not_shadow_the_extension(flags, expected):
    # Started in the repository's root, Python finds the source folder orvik/ first.
    script = "try:\n import orvik; print(orvik.__version__)\nexcept ImportError as e:\n print('ImportError:', e)"
    done = subprocess.run([sys.executable, *flags, "-c", script], cwd=STUB_DIR.parent,
                          capture_output=True, text=True, timeout=60)
    assert done.stdout.startswith(expected), done.stdout + done.stderr


@pytest.mark.parametrize("second", ["symlink", "copy"])
def test_a_second_checkout_on_the_path_does_not_hand_back(tmp_path, second):
    # Each copy of the source folder must look past the other, not hand over to it.
    other = tmp_path / "other"
    if second == "symlink":
        other.symlink_to(STUB_DIR.parent, target_is_directory=True)
    else:
        (other / "orvik").mkdir(parents=True)
        shutil.copy(STUB_DIR / "__init__.py", other / "orvik")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(STUB_DIR.parent), str(other)]))
    done = subprocess.run([sys.executable, "-c", "import orvik; print(orvik.__file__)"], cwd=tmp_path, env=env,
                          capture_output=True, text=True, timeout=60)
    assert ".abi3." in done.stdout, done.stdout + done.stderr
