"""The repaired wheel in every CPython >= 3.9 on this machine: each found
interpreter (python3.N on PATH or under pyenv) gets a fresh venv, the wheel
installed with no build step and no dependencies, and installed_check.py run
against one simulator. In the venv of the oldest one, mypy from PyPI must
find the stubs (typed_use.py passes --strict, typed_misuse.py's wrong-type
call is reported). Prints one line per interpreter, found or skipped.

    python tests/wheel/check_interpreters.py WHEEL

Runs with the interpreter that has the simulator (and pycapnp) installed.
"""

from __future__ import annotations

import glob
import os
import shutil
import subprocess
import sys
import tempfile
from typing import List, Optional, Tuple

from orvik_gateway_sim.scripted_gateway import ScriptedGateway

from installed_check import ACCOUNT

MINORS = range(9, 15)
HERE = os.path.dirname(os.path.abspath(__file__))
# The newest mypy that still runs on CPython 3.9. The stubs are one file for
# every interpreter, so one venv, the oldest's, is checked: mypy's typeshed
# for the floor is where a stub could use what the floor lacks.
MYPY = "mypy==1.19.1"
MISUSE_REPORT = 'typed_misuse.py:5: error: Argument "port" to "Client" has incompatible type "str"; expected "int"  [arg-type]'
IS_CPYTHON = "import platform, sys; print(platform.python_implementation(), platform.python_version())"


def find(minor: int) -> Optional[Tuple[str, str]]:
    """The first working CPython 3.minor: its path and full version."""
    pyenv = os.environ.get("PYENV_ROOT", os.path.expanduser("~/.pyenv"))
    candidates = sorted(glob.glob(f"{pyenv}/versions/3.{minor}.*/bin/python3.{minor}"), reverse=True)
    candidates += [path for path in [shutil.which(f"python3.{minor}")] if path]
    for path in candidates:
        try:
            probe = subprocess.run([path, "-c", IS_CPYTHON], capture_output=True, text=True, timeout=30)
        except OSError:
            continue
        implementation, _, version = probe.stdout.strip().partition(" ")
        if probe.returncode == 0 and implementation == "CPython" and version.startswith(f"3.{minor}."):
            return path, version
    return None


def run(command: List[str], **kwargs) -> subprocess.CompletedProcess:
    return subprocess.run(command, capture_output=True, text=True, timeout=300, **kwargs)


def check(python: str, wheel: str, port: int, work: str, typecheck: bool) -> List[str]:
    """What went wrong with this interpreter; nothing when all went well."""
    venv = os.path.join(work, "venv")
    venv_python = os.path.join(venv, "bin", "python")
    steps = [
        [python, "-m", "venv", venv],
        [venv_python, "-m", "pip", "install", "-q", "--no-deps", "--no-index", wheel],
        # From an empty folder: nothing but the installed wheel can be imported as orvik.
        [venv_python, os.path.join(HERE, "installed_check.py"), str(port)],
    ]
    if typecheck:
        steps += [[venv_python, "-m", "pip", "install", "-q", MYPY], mypy(venv_python, "typed_use.py", "--strict")]
    for step in steps:
        done = run(step, cwd=work)
        if done.returncode != 0:
            return [f"{os.path.basename(step[0])} {' '.join(step[1:3])} failed:"] + (done.stdout + done.stderr).splitlines()[-15:]
    if typecheck:
        done = run(mypy(venv_python, "typed_misuse.py"), cwd=work)
        report = [line.replace(HERE + os.sep, "") for line in done.stdout.splitlines()]
        if done.returncode != 1 or report != [MISUSE_REPORT, "Found 1 error in 1 file (checked 1 source file)"]:
            return ["mypy did not report exactly the wrong-type call of typed_misuse.py:"] + report[-15:]
    return []


def mypy(venv_python: str, script: str, *flags: str) -> List[str]:
    """mypy on one script beside this file, with no configuration but the flags."""
    return [venv_python, "-m", "mypy", "--config-file", os.devnull, *flags, os.path.join(HERE, script)]


def main() -> int:
    wheel = os.path.abspath(sys.argv[1])
    found, failed = 0, 0
    gateway = ScriptedGateway(["--account", f"{ACCOUNT}:orvik"])
    try:
        for minor in MINORS:
            interpreter = find(minor)
            if interpreter is None:
                print(f"python3.{minor}: not found, skipped")
                continue
            path, version = interpreter
            found += 1
            typecheck = found == 1
            with tempfile.TemporaryDirectory(prefix=f"orvik-py3{minor}-") as work:
                problems = check(path, wheel, gateway.port, work, typecheck)
            failed += bool(problems)
            verdict = "FAILED" if problems else "passed" + (f", stubs checked with {MYPY}" if typecheck else "")
            print(f"python3.{minor}: CPython {version} ({path}): {verdict}")
            for problem in problems:
                print(f"    {problem}")
    finally:
        gateway.stop()
    print(f"interpreters: {found - failed} passed, {failed} failed, {len(MINORS) - found} not found")
    return 1 if failed or not found else 0


if __name__ == "__main__":
    sys.exit(main())
