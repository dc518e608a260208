"""Running orvik-session as people do: in a subprocess, with a clean
environment, and in a terminal (tmux) when a test needs one.

The binary is the one the wheel installed into the venv, or the one named by
ORVIK_SESSION_TOOL (the Makefile's py-test names the developer build, which
has line editing)."""

from __future__ import annotations

import os
import shlex
import shutil
import subprocess
import sys
import tempfile
import time
import uuid
from pathlib import Path
from typing import Callable, Optional, Sequence

import pytest

TOOL = Path(os.environ.get("ORVIK_SESSION_TOOL") or Path(sys.executable).parent / "orvik-session")
# Variables the tool reads: a test sets the ones it means.
TOOL_VARIABLES = ("ORVIK_PASSWORD", "ORVIK_HOST", "ORVIK_PORT", "ORVIK_USER")


def environment(env: Optional[dict] = None) -> dict:
    clean = {k: v for k, v in os.environ.items() if k not in TOOL_VARIABLES}
    clean.update(env or {})
    return clean


def run(gateway_port, *args, env=None, stdin=subprocess.DEVNULL, input=None, stdout=subprocess.PIPE):
    """The tool against 127.0.0.1:gateway_port (None: no --port given)."""
    assert TOOL.exists(), f"{TOOL} is missing: the wheel did not install orvik-session"
    port = [] if gateway_port is None else ["--port", str(gateway_port)]
    return subprocess.run(
        [str(TOOL), *port, "--io-timeout-ms", "5000", *args],
        env=environment(env), stdin=None if input is not None else stdin, input=input,
        stdout=stdout, stderr=subprocess.PIPE, text=True, timeout=30,
    )


def arms(gateway):
    return [r.arm for r in gateway.requests()]


class Terminal:
    """A tmux server of its own with one window running `command`."""

    def __init__(self, command: str, env: Optional[dict] = None) -> None:
        if shutil.which("tmux") is None:
            pytest.fail("tmux is needed (make deps installs it)")
        self.socket = f"orvik-session-test-{uuid.uuid4().hex[:8]}"
        exports = " ".join(f"{k}={v}" for k, v in (env or {}).items())
        # tmux does not always learn a pane's exit status (it can mark the
        # pane dead and never report the status), so a shell writes it to a
        # file. Its trap outlives a Ctrl-C meant for the command, and is reset
        # to the default in the command itself.
        self.status_file = Path(tempfile.mkdtemp()) / "status"
        wrapped = f"trap : INT; env {exports} {command}; echo $? > {self.status_file}"
        self.tmux("new-session", "-d", "-s", "tool", "-x", "120", "-y", "40",
                  f"exec sh -c {shlex.quote(wrapped)}", ";",
                  "set-option", "-t", "tool", "remain-on-exit", "on")

    def tmux(self, *args: str) -> str:
        return subprocess.run(["tmux", "-L", self.socket, "-f", "/dev/null", *args], check=True,
                              capture_output=True, text=True, timeout=10).stdout

    def screen(self) -> str:
        return self.tmux("capture-pane", "-p", "-J", "-t", "tool")  # wrapped lines joined

    def keys(self, *keys: str, literal: bool = False) -> None:
        self.tmux("send-keys", "-t", "tool", *(["-l"] if literal else []), *keys)

    def until(self, condition: Callable[[], bool]) -> None:
        deadline = time.monotonic() + 15
        while not condition():
            assert time.monotonic() < deadline, self.screen()
            time.sleep(0.05)

    def until_shown(self, text: str) -> None:
        self.until(lambda: text in self.screen())

    def exit_status(self) -> str:
        """Once the command has ended, its exit status."""
        self.until(lambda: self.status_file.is_file() and self.status_file.read_text().endswith("\n"))
        return self.status_file.read_text().strip()

    def close(self) -> None:
        subprocess.run(["tmux", "-L", self.socket, "kill-server"], capture_output=True, timeout=10)
        shutil.rmtree(self.status_file.parent, ignore_errors=True)


def tool_command(*args: Sequence[str]) -> str:
    return " ".join([str(TOOL), *args])
