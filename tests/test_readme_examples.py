"""The README's examples, run as written: each fenced block after a line
`<!-- example: KIND -->`. The simulator block is started (on a free port,
which then takes the place of 2327 in the others), the Python and orvik-session blocks run against it, and the
pytest blocks run under pytest with the fixture."""

from __future__ import annotations

import re
import shlex
import subprocess
import sys
from pathlib import Path

import pytest

from session_tool import TOOL, environment

pytestmark = pytest.mark.timeout(120)

README = Path(__file__).resolve().parent.parent / "README.md"
EXAMPLE = re.compile(r"<!-- example: ([\w-]+) -->\n```\w*\n(.*?)```", re.S)
DEFAULT_PORT = "2327"


def examples(kind: str) -> list:
    found = [body for k, body in EXAMPLE.findall(README.read_text()) if k == kind]
    assert found, f"README.md marks no {kind} example"
    return found


@pytest.fixture(scope="module")
def readme_gateway():
    (command,) = examples("simulator")
    words = shlex.split(command.replace(DEFAULT_PORT, "0"))
    assert words[:3] == ["python", "-m", "orvik_gateway_sim"]
    simulator = subprocess.Popen([sys.executable, *words[1:]], stdout=subprocess.PIPE, text=True)
    try:
        assert simulator.stdout is not None
        line = simulator.stdout.readline()
        assert "listening on 127.0.0.1:" in line, line
        yield line.strip().rsplit(":", 1)[1]
    finally:
        simulator.terminate()
        simulator.wait(timeout=10)


def test_python_example(readme_gateway):
    for code in examples("python"):
        done = subprocess.run([sys.executable, "-c", code.replace(DEFAULT_PORT, readme_gateway)],
                              capture_output=True, text=True, timeout=60)
        assert done.returncode == 0, done.stderr
        assert "code=interfaceMismatch" in done.stdout


def test_orvik_session_examples(readme_gateway):
    env = environment({"ORVIK_PORT": readme_gateway, "ORVIK_PASSWORD": "secret",
                       "PATH": f"{TOOL.parent}:{environment()['PATH']}"})
    (block,) = examples("orvik-session")
    lines = [line for line in block.splitlines() if line.strip()]
    assert len(lines) >= 8
    for line in lines:
        done = subprocess.run(["bash", "-o", "pipefail", "-c", line.replace(DEFAULT_PORT, readme_gateway)],
                              env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
        assert (done.returncode, done.stderr) == (0, ""), line
        assert done.stdout, line


def test_pytest_examples(tmp_path):
    # The later blocks go on from the first one's imports.
    (tmp_path / "test_examples.py").write_text("\n\n".join(examples("pytest")))
    done = subprocess.run([sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", str(tmp_path)],
                          cwd=tmp_path, capture_output=True, text=True, timeout=100)
    assert done.returncode == 0, done.stdout
    assert f"{len(examples('pytest'))} passed" in done.stdout
