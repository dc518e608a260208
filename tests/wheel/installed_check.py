"""Run by each interpreter the repaired wheel was installed for (see
check_interpreters.py): the extension loads no library from outside the wheel
but the manylinux policy's, and one short session against the simulator
works, the quoted form's Unicode properties included; so does orvik-session,
the command line the wheel puts on PATH.

    python installed_check.py PORT
"""

import json
import os
import socket
import subprocess
import sys
import sysconfig

import orvik

# What a manylinux wheel may take from the system (the policy's libraries, less the graphical ones).
POLICY_LIBRARIES = {
    "linux-vdso.so.1", "ld-linux-x86-64.so.2", "ld-linux-aarch64.so.1", "libc.so.6", "libm.so.6", "libdl.so.2", "librt.so.1",
    "libpthread.so.0", "libresolv.so.2", "libutil.so.1", "libnsl.so.1", "libgcc_s.so.1", "libstdc++.so.6",
}
# A combining acute accent and a no-break space: the quoted form escapes both.
ACCOUNT = "e\u0301ve\u00a0x"
QUOTED_ACCOUNT = 'principal_display_name="e\\u{301}ve\\u{a0}x"'
SESSION_INTERFACE_ID = 0x80B87169C39AAF1C
# The simulator's defaults, compared whole.
MOTD = "Welcome to the orvik gateway simulator."
AUTH_KINDS = ["password", "guest", "anonymous", "publicKey"]
CAPSET_NAMES = ["session", "system_info"]
REFUSED_FETCH = (
    'remote gateway denied request: code=interfaceMismatch'
    ' message="system_info has interface 0xfbbdc602980cb986, not 0x80b87169c39aaf1c"'
)
# A CapSet name holding one character of each property the quoted form's rule
# reads (Cf U+200B, Zs U+3000, Grapheme_Extend U+0301, unassigned U+0378) and
# two it leaves alone (the skin-tone modifier U+1F3FB, which is a grapheme
# extender but not Grapheme_Extend, and é): the gateway's refusal echoes it.
PROBE_NAME = "x\u200b\u3000e\u0301\u0378\U0001f3fb\u00e9"
PROBE_REFUSAL = (
    'remote gateway denied request: code=unknownCap message="no CapSet entry named '
    'x\\u{200b}\\u{3000}e\\u{301}\\u{378}\U0001f3fb\u00e9"'
)


def foreign_libraries(binary: str = orvik.__file__) -> list:
    """The libraries a binary of the wheel resolves outside the wheel and the policy."""
    inside = os.path.dirname(os.path.abspath(orvik.__file__))
    ldd = subprocess.run(["ldd", binary], capture_output=True, text=True, timeout=30)
    if "not a dynamic executable" in ldd.stdout + ldd.stderr:
        return []  # a static executable (the release wheels' orvik-session) loads nothing
    ldd.check_returncode()
    foreign = []
    for line in ldd.stdout.splitlines():
        name, _, where = line.strip().partition(" => ")
        path = (where or name).split(" (")[0]  # "not found" stays foreign
        if not (path.startswith(inside + os.sep) or os.path.basename(path) in POLICY_LIBRARIES):
            foreign.append(line.strip())
    return foreign


def session(port: int) -> list:
    """The session's failed expectations: a guest tour, then a password login."""
    failures = []

    def expect(what: str, got: object, wanted: object) -> None:
        if got != wanted:
            failures.append(f"{what}: {got!r}, not {wanted!r}")

    with orvik.Client("127.0.0.1", port, connect_deadline_ms=5000, io_timeout_ms=10000) as client:
        expect("auth methods", [method.kind for method in client.list_auth_methods()], AUTH_KINDS)
        expect("guest principal", client.login_guest().principal_kind, "guest")
        info = client.session_info()
        expect("session info", (info.principal_kind, info.profile, len(info.session_id_hex)), ("guest", "operator", 32))
        expect("message of the day", client.system_motd(), MOTD)
        expect("CapSet", [entry.name for entry in client.list_capset()], CAPSET_NAMES)
        try:
            client.get_capset_entry("system_info", SESSION_INTERFACE_ID)
            failures.append("a fetch with the wrong interface id was granted")
        except RuntimeError as refused:
            expect("refused fetch", str(refused), REFUSED_FETCH)
        try:
            client.get_capset_entry(PROBE_NAME, SESSION_INTERFACE_ID)
            failures.append(f"a fetch of {PROBE_NAME!r} was granted")
        except RuntimeError as refused:
            expect("refused probe fetch", str(refused), PROBE_REFUSAL)
        client.logout()
        expect("logged out", client.is_logged_out(), True)
        client.login_password(ACCOUNT, "orvik")
        info = repr(client.session_info())
        if QUOTED_ACCOUNT not in info:
            failures.append(f"session info {info} lacks {QUOTED_ACCOUNT}")
    return failures


def session_tool(port: int) -> list:
    """orvik-session as pip put it on PATH: its failed expectations."""
    tool = os.path.join(os.path.dirname(sys.executable), "orvik-session")
    if not os.path.exists(tool):
        return [f"{tool} was not installed"]
    # A repair that grafted libraries moves the program beside the extension
    # and leaves a launcher in its place; otherwise the program is on PATH.
    moved = os.path.join(sysconfig.get_path("platlib"), "orvik.scripts", "orvik-session")
    binary = moved if os.path.exists(moved) else tool
    failures = [f"orvik-session loads {line}" for line in foreign_libraries(binary)]
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        closed_port = probe.getsockname()[1]
    runs = [
        (["--port", str(port), "--guest", "capset", "--json"], {}, 0),
        (["--port", str(port), "--user", ACCOUNT, "info"], {"ORVIK_PASSWORD": "wrong"}, 4),
        (["--port", str(closed_port), "--connect-deadline-ms", "0", "methods"], {}, 3),
    ]
    for args, env, status in runs:
        done = subprocess.run([tool, *args], env={**os.environ, **env}, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=30)
        if done.returncode != status:
            failures.append(f"orvik-session {' '.join(args)} exited {done.returncode}, not {status}: {done.stderr}")
        elif status == 0 and "system_info" not in [e["name"] for e in json.loads(done.stdout)["entries"]]:
            failures.append(f"orvik-session capset --json printed {done.stdout}")
    return failures


def main() -> int:
    port = int(sys.argv[1])
    failures = ([f"loads {line}" for line in foreign_libraries()]
                + session(port) + session_tool(port))
    for failure in failures:
        print(f"  {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
