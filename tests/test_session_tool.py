"""orvik-session, the operator's command line, as people use it: the binary
the wheel installed into the venv, against the simulator in a child process."""

from __future__ import annotations

import json
import os
import shutil
import signal
import subprocess
import sys
import termios
import time
import uuid

import pytest

from orvik_gateway_sim.policy import CAPSET
from orvik_gateway_sim.scripted_gateway import ScriptedGateway

from session_tool import TOOL, arms, run

pytestmark = pytest.mark.timeout(60)

PASSWORD = "Pw-7f3k9q"  # typed at the prompt; found nowhere else


def test_capset_as_json_lists_the_capset_and_logs_out(orvik_gateway):
    done = run(orvik_gateway.port, "--guest", "capset", "--json")
    assert (done.returncode, done.stderr) == (0, "")
    document = json.loads(done.stdout)
    assert document["kind"] == "capsetList"
    assert [(e["name"], e["interface_id"], e["transfer_policy"]) for e in document["entries"]] == [
        (c.name, f"0x{c.interface_id:016x}", c.transfer_policy) for c in CAPSET
    ]
    assert arms(orvik_gateway) == ["guestLogin", "capsetList", "logout"]


# Whether to log in follows the command: methods never does, so a login
# option is no reason to log in, nor --user to read a password.
@pytest.mark.parametrize("login", [[], ["--guest"], ["--user", "operator"]])
def test_methods_in_aligned_columns_without_a_login(orvik_gateway, login):
    done = run(orvik_gateway.port, *login, "methods")
    assert (done.returncode, done.stderr) == (0, "")
    assert done.stdout == (
        "kind       label                          profile_hints        interactive  enabled\n"
        "password   Account name and password      operator, developer  true         true\n"
        "guest      Guest session                  operator, visitor    false        true\n"
        "anonymous  Anonymous session              operator, observer   false        true\n"
        "publicKey  Public key (not offered here)  operator             true         false\n"
    )
    assert arms(orvik_gateway) == ["authMethods"]  # no login, so no logout


WRONG = 'orvik-session: remote gateway denied request: code=authenticationDenied ' \
        'message="account name or password proof not accepted"\n'


@pytest.mark.parametrize(
    "args, env, status, stderr",
    [
        (["--user", "operator", "info"], {"ORVIK_PASSWORD": "nope"}, 4, WRONG),
        (["--guest", "request", "serviceCatalog"], {}, 4,
         'orvik-session: remote gateway denied request: code=serviceUnavailable '
         'message="serviceCatalog is not served by this gateway"\n'),
        (["--guest", "request", "paperclipsStatus"], {}, 5,
         "orvik-session: remote gateway schema mismatch: PaperclipsInitial/Command/Status/Projects are "
         "bridge-internal and cannot be encoded onto the current RemoteGatewayRequest schema; extend the "
         "schema in Path C\n"),
        (["--guest", "request", "chatJoin", "chanel=x"], {}, 2,
         "orvik-session: unknown field 'chanel'; the fields of chatJoin are: channel, handle\n"
         "try 'orvik-session --help'\n"),
        (["--user", "operator", "info"], {}, 2,
         "orvik-session: no password for --user operator: standard input is not a terminal; "
         "set ORVIK_PASSWORD or give --password-file\ntry 'orvik-session --help'\n"),
        (["--connect-deadline-ms", "0", "methods"], {}, 3, None),
    ],
    ids=["wrong-password", "refused-kind", "codec-refusal", "usage", "no-password", "closed-port"],
)
def test_exit_status_names_what_failed(orvik_gateway, closed_port, args, env, status, stderr):
    port = closed_port if status == 3 else orvik_gateway.port
    done = run(port, *args, env=env)
    assert (done.returncode, done.stdout) == (status, "")
    if stderr is None:
        assert done.stderr.startswith(f"orvik-session: timed out connecting to 127.0.0.1:{port}; last error: ")
        assert done.stderr.count("\n") == 1
    else:
        assert done.stderr == stderr


@pytest.mark.parametrize("source", ["file", "stdin"])
def test_password_file_drops_the_line_ending(tmp_path, source):
    gateway = ScriptedGateway(["--account", f"operator:{PASSWORD}"])
    try:
        path = tmp_path / "password"
        path.write_text(PASSWORD + "\r\n")
        with path.open() as stdin:
            done = run(gateway.port, "--user", "operator", "--password-file",
                       str(path) if source == "file" else "-", "info", "--json", stdin=stdin)
        assert (done.returncode, done.stderr) == (0, "")
        assert json.loads(done.stdout)["summary"]["principal_kind"] == "operator"
        assert gateway.requests()[0].payload["proof"] == PASSWORD.encode()
    finally:
        gateway.stop()


@pytest.mark.parametrize(
    "args, payload",
    [
        (["serviceLaunch", "profile=p", "grants=a", "grants=b,c"], {"profile": "p", "grants": ["a", "b,c"]}),
        (["chatPoll", "maxEvents=0x10"], {"maxEvents": 16}),
        (["capsetGet", "name=session", "expectedInterfaceId=18446744073709551615"],
         {"name": "session", "expectedInterfaceId": 2**64 - 1}),
    ],
    ids=["list-field", "hex-number", "u64"],
)
def test_request_fields_reach_the_gateway(orvik_gateway, args, payload):
    run(orvik_gateway.port, "--guest", "request", *args)
    assert orvik_gateway.requests()[1].arm == args[0]
    assert orvik_gateway.requests()[1].payload == payload


@pytest.mark.parametrize(
    "args, stderr",
    [
        (["--gust", "info"], "unknown option '--gust'"),
        (["--guest", "--user", "x", "info"], "options --guest and --user cannot be combined: one login per session"),
        (["info"], "info logs in first: give --guest, --anonymous or --user NAME"),
        (["--guest", "get", "session", "x12"],
         "INTERFACE_ID of get is a number (decimal or 0x hex), not 'x12'"),
        (["--guest", "request", "chatPoll", "maxEvents=65536"],
         "field maxEvents of chatPoll takes a number from 0 to 65535 (decimal or 0x hex), not '65536'"),
        (["--guest", "request", "chatWho", "channel=a", "channel=b"], "field channel of chatWho given twice"),
        (["--guest", "--password-file", "f", "info"], "option --password-file needs --user NAME"),
        (["--guest", "--connect-deadline-ms", "-1", "info"],
         "option --connect-deadline-ms takes a number from 0 to 18446744073709551615, not '-1'"),
        (["--guest", "--json", "--raw", "capset"], "options --json and --raw cannot be combined: one form of output"),
        (["--guest", "shell", "x"], "shell takes no arguments, not 'x'"),
        # A Text the gateway would not read: refused before anything is
        # sent, the bytes shown escaped.
        ([b"--guest", b"request", b"capsetGet", b"name=\xff\xfe", b"expectedInterfaceId=1"],
         "field name of capsetGet takes UTF-8 text, not '\\x{ff}\\x{fe}'"),
        ([b"--guest", b"get", b"a\xc3", b"1"], "NAME of get takes UTF-8 text, not 'a\\x{c3}'"),
        ([b"--guest", b"--profile", b"\xe2\x82", b"info"], "option --profile takes UTF-8 text, not '\\x{e2}\\x{82}'"),
        (["--guest", "get", "\x1b[2J", "x"], "INTERFACE_ID of get is a number (decimal or 0x hex), not 'x'"),
        (["--guest", "\x1b[2J"], "unknown command '\\u{1b}[2J'; the commands are: methods, info, motd, capset, get, "
         "request, ping, shell, tunnel"),
    ],
)
def test_usage_errors_send_nothing(orvik_gateway, args, stderr):
    done = run(orvik_gateway.port, *args)
    assert (done.returncode, done.stdout, done.stderr) == (2, "", f"orvik-session: {stderr}\ntry 'orvik-session --help'\n")
    assert orvik_gateway.requests() == []


LOGIN = ("sessionStarted", {"session": {"profile": "operator"}})
LOGOUT = ("loggedOut", True)


@pytest.mark.parametrize(
    "command, answers, status, stdout, stderr, sent",
    [
        # A text from the gateway must not reach the terminal as an escape sequence.
        (["motd"], [LOGIN, ("systemMotd", "two\nlines\x1b[2J"), LOGOUT], 0, 'two\n"lines\\u{1b}[2J"\n', "",
         ["guestLogin", "systemMotd", "logout"]),
        (["capset"], [LOGIN, ("capsetList", []), LOGOUT], 0, "(none)\n", "", ["guestLogin", "capsetList", "logout"]),
        (["request", "serviceCatalog"], [LOGIN, ("systemMotd", "hi"), LOGOUT], 5, "",
         "orvik-session: request serviceCatalog received unexpected response systemMotd\n",
         ["guestLogin", "serviceCatalog", "logout"]),
        # The session ended with the request: no second logout.
        (["request", "logout"], [], 0, "true\n", "", ["guestLogin", "logout"]),
        # The answer is out before the logout fails; the failure decides the status.
        (["info"], [LOGIN, ("sessionInfo", {"profile": "p"}), ("error", {"code": "staleSession", "message": "late"})],
         4, "profile                 p\nprincipal_kind          human\nprincipal_display_name  -\n"
         "auth_strength           none\nsession_id_hex          -\nexpires_at_ms           0\n", 'orvik-session: remote gateway denied request: code=staleSession '
         'message="late"\n', ["guestLogin", "sessionInfo", "logout"]),
    ],
    ids=["terminal-safe-text", "empty-list", "unexpected-kind", "request-logout", "failed-logout"],
)
def test_answers_and_logout(orvik_gateway, command, answers, status, stdout, stderr, sent):
    for arm, value in answers:
        orvik_gateway.respond(arm, value)
    done = run(orvik_gateway.port, "--guest", *command)
    assert (done.returncode, done.stderr) == (status, stderr)
    assert done.stdout == stdout
    assert arms(orvik_gateway) == sent


HOSTILE = "del\x7f c1\x85 rlo\u202e lri\u2066 esc\x1b[2J"
SHOWN = '"del\\u{7f} c1\\u{85} rlo\\u{202e} lri\\u{2066} esc\\u{1b}[2J"\n'


@pytest.mark.parametrize(
    "form, stdout",
    [
        ([], SHOWN),
        (["--raw"], SHOWN),
        (["--json"], '{\n  "kind": "systemMotd",\n  "text": "del\\u007f c1\\u0085 rlo\\u202e lri\\u2066 esc\\u001b[2J"\n}\n'),
    ],
    ids=["human", "raw", "json"],
)
def test_no_control_from_the_gateway_reaches_the_terminal(orvik_gateway, form, stdout):
    orvik_gateway.respond(*LOGIN)
    orvik_gateway.respond("systemMotd", HOSTILE)
    orvik_gateway.respond(*LOGOUT)
    done = run(orvik_gateway.port, "--guest", "motd", *form)
    assert (done.returncode, done.stderr, done.stdout) == (0, "", stdout)


def test_error_line_is_terminal_safe(closed_port):
    # The one line of every failure, whatever it quotes: a host name here,
    # Cap'n Proto's description of a hostile answer elsewhere.
    done = run(closed_port, "--host", "\x1b]0;owned\x07", "--connect-deadline-ms", "0", "methods")
    assert (done.returncode, done.stdout) == (3, "")
    assert done.stderr.startswith("orvik-session: timed out connecting to \\u{1b}]0;owned\\u{7}:")
    assert "\x1b" not in done.stderr and "\x07" not in done.stderr


@pytest.mark.parametrize("sink", ["full", "closed-pipe"])
def test_lost_output_is_a_failure_of_its_own(orvik_gateway, sink):
    if sink == "full":
        out, error = open("/dev/full", "w"), "No space left on device (os error 28)"
    else:
        read_end, write_end = os.pipe()
        os.close(read_end)
        out, error = os.fdopen(write_end, "w"), "Broken pipe (os error 32)"
    with out:
        done = run(orvik_gateway.port, "--guest", "info", stdout=out)
    assert (done.returncode, done.stderr) == (6, f"orvik-session: cannot write to standard output: {error}\n")
    assert arms(orvik_gateway) == ["guestLogin", "sessionInfo", "logout"]  # the session still ends


def test_lost_stderr_is_a_failure_too(orvik_gateway):
    with open("/dev/full", "w") as full:
        done = subprocess.run([str(TOOL), "--port", str(orvik_gateway.port), "--guest", "--transcript", "info"],
                              stdout=subprocess.DEVNULL, stderr=full, timeout=30)
    assert done.returncode == 6


def test_broken_stream_is_not_logged_out(orvik_gateway):
    orvik_gateway.respond(*LOGIN)
    orvik_gateway.close()
    started = time.monotonic()
    done = run(orvik_gateway.port, "--guest", "capset")
    assert (done.returncode, done.stdout) == (5, "")
    assert done.stderr == "orvik-session: frame I/O failed: failed to fill whole buffer\n"
    assert time.monotonic() - started < 4  # no logout waiting out the 5 s time-out
    assert arms(orvik_gateway) == ["guestLogin", "capsetList"]


LAUNCHER = [{
    "text0": "editor", "text1": "", "flag1": True, "textList": ["x"],
    "grantRequirements": [{"text0": "fs", "value": 7, "flag": True}],
    "serviceEntries": [{"text0": "svc", "value": 3, "textList0": ["a", "b"]}],
}]
EMPTY_SERVICE = {f"text{i}": "" for i in range(6)} | {"text_list0": [], "text_list1": [], "value": 0}


def test_request_shows_every_field_of_a_nested_answer(orvik_gateway):
    def answered(*args):
        orvik_gateway.respond("sessionStarted", {"session": {"profile": "operator"}})
        orvik_gateway.respond("launcherCatalog", LAUNCHER)
        orvik_gateway.respond("loggedOut", True)
        return run(orvik_gateway.port, "--guest", "request", "launcherCatalog", *args)

    document = json.loads(answered("--json").stdout)
    assert document == {"kind": "launcherCatalog", "entries": [{
        "text0": "editor", "text1": "", "text2": "", "text3": "", "text4": "",
        "grant_requirements": [{"text0": "fs", "text1": "", "text2": "", "text3": "", "value": 7, "flag": True}],
        "service_entries": [EMPTY_SERVICE | {"text0": "svc", "text_list0": ["a", "b"], "value": 3}],
        "text_list": ["x"], "flag0": False, "flag1": True,
    }]}
    assert answered().stdout == (
        "[1]\n"
        "  text0               editor\n"
        "  text1               -\n"
        "  text2               -\n"
        "  text3               -\n"
        "  text4               -\n"
        "  grant_requirements:\n"
        "    text0  text1  text2  text3  value  flag\n"
        "    fs     -      -      -      7      true\n"
        "  service_entries:\n"
        "    text0  text1  text2  text3  text4  text5  text_list0  text_list1  value\n"
        "    svc    -      -      -      -      -      a, b        -           3\n"
        "  text_list           x\n"
        "  flag0               false\n"
        "  flag1               true\n"
    )


# Runs the tool in the terminal it is given, then records how it ended and
# whether the terminal echoes again; Ctrl-C reaches the tool alone.
WRAPPER = """
import signal, subprocess, sys, termios
signal.signal(signal.SIGINT, signal.SIG_IGN)
status = subprocess.call(sys.argv[2:], preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
echo = bool(termios.tcgetattr(0)[3] & termios.ECHO)
open(sys.argv[1] + ".part", "w").write(f"{status} {echo}")
import os; os.rename(sys.argv[1] + ".part", sys.argv[1])
"""


def test_password_prompt_in_a_terminal(tmp_path):
    """Typed at the no-echo prompt, the password reaches neither the screen
    nor the transcript; Ctrl-C at the prompt gives the terminal its echo back."""
    if shutil.which("tmux") is None:
        pytest.fail("tmux is needed (make deps installs it)")
    gateway = ScriptedGateway(["--account", f"operator:{PASSWORD}"])
    socket = f"orvik-session-test-{uuid.uuid4().hex[:8]}"
    (tmp_path / "wrap.py").write_text(WRAPPER)
    transcript, ended = tmp_path / "transcript", tmp_path / "ended"

    def tmux(*args):
        return subprocess.run(["tmux", "-L", socket, "-f", "/dev/null", *args], check=True,
                              capture_output=True, text=True, timeout=10).stdout

    def until(condition):
        deadline = time.monotonic() + 15
        while not condition():
            assert time.monotonic() < deadline, tmux("capture-pane", "-p", "-t", "tool")
            time.sleep(0.05)

    def echo_on():
        fd = os.open(tmux("display-message", "-p", "-t", "tool", "#{pane_tty}").strip(), os.O_RDWR | os.O_NOCTTY)
        try:
            return bool(termios.tcgetattr(fd)[3] & termios.ECHO)
        finally:
            os.close(fd)

    def session(keys, args="info"):
        ended.unlink(missing_ok=True)
        command = (f"exec {sys.executable} {tmp_path / 'wrap.py'} {ended} "
                   f"{TOOL} --port {gateway.port} --user operator {args} 2>{transcript}")
        tmux("new-session", "-d", "-s", "tool", "-x", "120", "-y", "40", command, ";",
             "set-option", "-t", "tool", "remain-on-exit", "on")
        until(lambda: "Password for operator:" in tmux("capture-pane", "-p", "-t", "tool"))
        assert not echo_on()
        for key in keys:
            tmux("send-keys", "-t", "tool", *key)
        until(ended.exists)
        screen = tmux("capture-pane", "-p", "-t", "tool")
        tmux("kill-session", "-t", "tool")
        return ended.read_text(), screen

    try:
        outcome, screen = session([("-l", PASSWORD), ("Enter",)], "--transcript info")
        assert outcome == "0 True"
        assert "principal_kind          operator" in screen and PASSWORD not in screen
        logged = transcript.read_text()
        assert "passwordLogin profile=operator proof=<redacted>" in logged and PASSWORD not in logged

        outcome, _ = session([("C-c",)])
        assert outcome == f"{-signal.SIGINT} True"
    finally:
        subprocess.run(["tmux", "-L", socket, "kill-server"], capture_output=True, timeout=10)
        gateway.stop()
