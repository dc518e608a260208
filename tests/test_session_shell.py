"""orvik-session for many commands and for pipelines: the shell at a
terminal (tmux) and fed from stdin, the target from the environment, ping,
--raw into cut, and the generated completion and manual."""

from __future__ import annotations

import re
import shutil
import subprocess

import pytest

from orvik_gateway_sim.policy import CAPSET
from orvik_gateway_sim.scripted_gateway import ScriptedGateway
from session_tool import TOOL, Terminal, arms, environment, run, tool_command

pytestmark = pytest.mark.timeout(60)

SYSTEM_INFO = "get system_info 0xfbbdc602980cb986"


def test_shell_at_a_terminal(tmp_path):
    """One login for every command; the Up arrow recalls from the history
    file, Tab completes a CapSet name, Ctrl-C drops the line, Ctrl-D logs out
    and leaves."""
    gateway = ScriptedGateway()
    state = tmp_path / "state"
    terminal = Terminal(tool_command("--port", str(gateway.port), "shell", "--guest"),
                        env={"XDG_STATE_HOME": state})
    try:
        terminal.until_shown("orvik>")
        terminal.keys("info", "Enter")
        terminal.until_shown("principal_kind")
        terminal.keys("get sys", literal=True)
        terminal.keys("Tab")
        terminal.until_shown("orvik> get system_info")
        terminal.keys("0xfbbdc602980cb986", literal=True)
        terminal.keys("Enter")
        terminal.keys("Enter")
        terminal.until(lambda: terminal.screen().count("orvik>") == 4)
        terminal.keys("Up", "Up", "Enter")  # the empty line is no history: info again
        terminal.until(lambda: terminal.screen().count("principal_kind") == 2)
        terminal.keys("capset", literal=True)
        terminal.keys("C-c")
        terminal.until(lambda: terminal.screen().count("orvik>") == 6)
        terminal.keys("C-d")
        assert terminal.exit_status() == "0", terminal.screen()
        # The CapSet was listed once, for the Tab; the dropped line sent nothing.
        assert arms(gateway) == ["guestLogin", "sessionInfo", "capsetList", "capsetGet", "sessionInfo", "logout"]
        # libedit writes its history with blanks as \040.
        history = (state / "orvik" / "session_history").read_text().replace("\\040", " ")
        assert history.splitlines()[-3:] == ["info", SYSTEM_INFO, "info"]
    finally:
        terminal.close()
        gateway.stop()


def test_password_prompt_comes_after_connecting(closed_port):
    """Nobody types a password to then wait out a closed port."""
    terminal = Terminal(tool_command("--port", str(closed_port), "--connect-deadline-ms", "0",
                                     "--user", "operator", "info"))
    try:
        assert terminal.exit_status() == "3"
        assert "error 111" in terminal.screen() and "Password" not in terminal.screen()
    finally:
        terminal.close()


G = "guestLogin"


@pytest.mark.parametrize(
    "script, options, status, sent",
    [
        (f"info\ncapset\n{SYSTEM_INFO}\n", [], 0, [G, "sessionInfo", "capsetList", "capsetGet", "logout"]),
        ("get missing 1\ninfo\n", [], 4, [G, "capsetGet", "logout"]),
        ("get missing 1\ninfo\n", ["--keep-going"], 4, [G, "capsetGet", "sessionInfo", "logout"]),
        ("bogus\ninfo\n", [], 2, [G, "logout"]),
        ("# a comment\n\n  request logout\ninfo --json\n", [], 4, [G, "logout", "sessionInfo"]),
        ("motd\nquit\ninfo\n", [], 0, [G, "systemMotd", "logout"]),
    ],
    ids=["one-login", "stops-at-failure", "keep-going", "usage-stops", "logged-out-by-request", "quit"],
)
def test_script_on_stdin(orvik_gateway, script, options, status, sent):
    done = run(orvik_gateway.port, "--guest", *options, "shell", input=script)
    assert done.returncode == status, done.stderr
    assert arms(orvik_gateway) == sent
    assert "orvik>" not in done.stdout
    assert done.stderr.count("\n") == (0 if status == 0 else 1 + (status == 2))


def test_script_prints_each_answer(orvik_gateway):
    done = run(orvik_gateway.port, "--guest", "shell", input=f"capset --raw\n{SYSTEM_INFO} --json\n")
    assert done.returncode == 0
    rows, document = done.stdout.split("{", 1)
    assert [line.split("\t")[0] for line in rows.splitlines()] == [c.name for c in CAPSET]
    assert '"name": "system_info"' in document


def test_ping_from_the_environment(orvik_gateway):
    done = run(None, "--guest", "ping", "-c", "5", env={"ORVIK_PORT": str(orvik_gateway.port)})
    assert (done.returncode, done.stderr) == (0, "")
    lines = done.stdout.splitlines()
    target = f"127.0.0.1:{orvik_gateway.port}"
    assert [re.sub(r"time=\d+\.\d{3}", "time=T", line) for line in lines[:5]] == [
        f"authMethods from {target}: round trip {n} time=T ms" for n in range(1, 6)]
    assert re.fullmatch(r"5 round trips, min/avg/max = (\d+\.\d{3}/){2}\d+\.\d{3} ms", lines[5])
    assert len(lines) == 6
    assert arms(orvik_gateway) == ["authMethods"] * 5  # no login


def test_ping_fails_as_a_connection_does(orvik_gateway, closed_port):
    orvik_gateway.close()
    assert run(orvik_gateway.port, "ping").returncode == 5
    assert run(closed_port, "--connect-deadline-ms", "0", "ping").returncode == 3


@pytest.mark.parametrize(
    "env, args, sent",
    [
        ({"ORVIK_USER": "nobody"}, ["--guest", "info"], [G, "sessionInfo", "logout"]),
        ({"ORVIK_HOST": "host.invalid"}, ["-h", "127.0.0.1", "--guest", "info"], [G, "sessionInfo", "logout"]),
        ({"ORVIK_USER": "operator", "ORVIK_PASSWORD": "orvik"}, ["info"],
         ["passwordLogin", "sessionInfo", "logout"]),
        ({}, ["-U", "operator", "--password-file=-", "-kV"], []),
    ],
    ids=["login-option-wins", "host-option-wins", "user-from-environment", "short-options"],
)
def test_options_win_over_the_environment(orvik_gateway, closed_port, env, args, sent):
    done = run(None, "-p", str(orvik_gateway.port), *args, env={"ORVIK_PORT": str(closed_port), **env})
    assert done.returncode == 0, done.stderr
    assert arms(orvik_gateway) == sent


def test_raw_rows_into_cut(orvik_gateway):
    done = subprocess.run(
        ["bash", "-o", "pipefail", "-c", f"'{TOOL}' -p {orvik_gateway.port} --guest --raw capset | cut -f1,2"],
        env=environment(), capture_output=True, text=True, timeout=30)
    assert (done.returncode, done.stderr) == (0, "")
    assert done.stdout == "".join(f"{c.name}\t0x{c.interface_id:016x}\n" for c in CAPSET)


def completions(*words: str) -> list:
    """What bash offers for the last of `words` after orvik-session."""
    script = subprocess.run([str(TOOL), "--completion", "bash"], capture_output=True, text=True, check=True).stdout
    words_array = " ".join(f"'{w}'" for w in ("orvik-session", *words))
    probe = f'{script}\nCOMP_WORDS=({words_array}); COMP_CWORD={len(words)}; _orvik_session; printf "%s\\n" "${{COMPREPLY[@]}}"'
    return subprocess.run(["bash", "-c", probe], capture_output=True, text=True, check=True).stdout.split()


@pytest.mark.parametrize(
    "words, offered",
    [
        (["--gu"], ["--guest"]),
        (["-p", "2327", "pi"], ["ping"]),
        (["--guest", "request", "capset"], ["capsetList", "capsetGet"]),
        (["request", "chatJoin", "h"], ["handle="]),
        (["--completion", ""], ["bash", "zsh"]),
    ],
)
def test_bash_completion_from_the_tables(words, offered):
    assert completions(*words) == offered


def test_manual_page_is_clean_roff():
    if shutil.which("groff") is None:
        pytest.fail("groff is needed (make deps installs groff-base)")
    page = subprocess.run([str(TOOL), "--man"], capture_output=True, text=True, check=True).stdout
    shown = subprocess.run(["groff", "-man", "-Tutf8", "-ww", "-P-cbou"], input=page, capture_output=True, text=True,
                           timeout=30)
    assert shown.stderr == ""
    for section in ("COMMANDS", "OPTIONS", "ENVIRONMENT", "FILES", "EXIT STATUS"):
        assert section in shown.stdout


@pytest.mark.parametrize("shell", ["bash", "zsh"])
def test_completion_scripts_parse(shell):
    if shutil.which(shell) is None:
        pytest.fail(f"{shell} is needed (make deps installs it)")
    script = subprocess.run([str(TOOL), "--completion", shell], capture_output=True, text=True, check=True).stdout
    checked = subprocess.run([shell, "-n"], input=script, capture_output=True, text=True, timeout=30)
    assert (checked.returncode, checked.stderr) == (0, "")
