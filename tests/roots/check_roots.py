"""The release wheels in stock Debian 11 roots: for each architecture, the
wheel of that architecture from DIST is installed with no build step, no index
and no dependencies into a fresh venv inside a bullseye root of that
architecture (make_root.sh; a foreign one runs under qemu user emulation), and
tests/wheel/installed_check.py runs there against one simulator on the host's
loopback, which a chroot shares. The venv lives in a folder of the root's /tmp
made for this run and removed after it, so the cached root stays stock.
Prints one line per architecture, then the count.

    python tests/roots/check_roots.py DIST

Runs as root, with the interpreter that has the simulator (and pycapnp). Exits
77 after a line "skipped: REASON" when no architecture failed but one could
not be run on this machine (not root, no debootstrap, no qemu, no binfmt_misc).
"""

from __future__ import annotations

import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time
from typing import Dict, List, Optional, Tuple

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "wheel"))

from installed_check import ACCOUNT  # noqa: E402
from orvik_gateway_sim.scripted_gateway import ScriptedGateway  # noqa: E402

# The wheel's machine tag and the root's Debian architecture.
ARCHITECTURES = (("x86_64", "amd64"), ("aarch64", "arm64"))
SKIPPED = 77
# Under emulation on a busy machine pip alone can take minutes.
STEP_TIMEOUT_S = 900
ROOT_TIMEOUT_S = 3600
# Nothing written beside the run's own folder: no bytecode in the root's
# Python, no pip cache, no temporary files elsewhere.
QUIET = ["PYTHONDONTWRITEBYTECODE=1", "PIP_NO_CACHE_DIR=1", "PIP_DISABLE_PIP_VERSION_CHECK=1", "PYTHONIOENCODING=utf-8"]


class Skipped(Exception):
    """This machine cannot make or enter the root; the message says why."""


def script(name: str, *args: str, timeout: float) -> str:
    """stdout of one of this folder's scripts; its stderr goes to ours."""
    done = subprocess.run(
        [os.path.join(HERE, name), *args], stdout=subprocess.PIPE, text=True, timeout=timeout
    )
    if done.returncode == SKIPPED:
        raise Skipped(done.stdout.strip().removeprefix("skipped: "))
    if done.returncode != 0:
        raise RuntimeError(f"{name} {' '.join(args)} failed with status {done.returncode}: {done.stdout.strip()}")
    return (done.stdout.strip().splitlines() or [""])[-1]


def wheel_for(dist: str, machine: str) -> str:
    found = glob.glob(os.path.join(dist, f"orvik-*-cp39-abi3-*_{machine}.whl"))
    if len(found) != 1:
        raise RuntimeError(f"expected one {machine} wheel in {dist}, found {len(found)}")
    return found[0]


def check(root: str, wheel: str, port: int) -> List[str]:
    """What went wrong in this root; nothing when all went well."""
    work = tempfile.mkdtemp(prefix="orvik-root-test-", dir=os.path.join(root, "tmp"))
    try:
        inside = "/" + os.path.relpath(work, root)
        shutil.copy(wheel, work)
        shutil.copy(os.path.join(os.path.dirname(HERE), "wheel", "installed_check.py"), work)
        python = f"{inside}/venv/bin/python"
        environment = ["/usr/bin/env", f"HOME={inside}", f"TMPDIR={inside}", *QUIET]
        steps = [
            ["python3", "-m", "venv", f"{inside}/venv"],
            [python, "-m", "pip", "install", "-q", "--no-deps", "--no-index", f"{inside}/{os.path.basename(wheel)}"],
            [python, f"{inside}/installed_check.py", str(port)],
        ]
        for step in steps:
            done = subprocess.run(
                [os.path.join(HERE, "in_root.sh"), root, *environment, *step],
                capture_output=True, text=True, timeout=STEP_TIMEOUT_S,
            )
            if done.returncode == SKIPPED:
                raise Skipped(done.stdout.strip().removeprefix("skipped: "))
            if done.returncode != 0:
                label = " ".join([os.path.basename(step[0])] + step[1:3])
                return [f"{label} failed:"] + (done.stdout + done.stderr).splitlines()[-15:]
        return []
    finally:
        shutil.rmtree(work)


def prepare(dist: str, machine: str, arch: str) -> Tuple[str, str]:
    """The root and the wheel of one architecture; Skipped or RuntimeError when it cannot run."""
    return script("make_root.sh", arch, timeout=ROOT_TIMEOUT_S), wheel_for(dist, machine)


def main() -> int:
    dist = os.path.abspath(sys.argv[1])
    verdicts: List[str] = []  # "passed", "FAILED" or "skipped: REASON", one per architecture
    gateway: Optional[ScriptedGateway] = None  # started for the first root that can run
    try:
        for machine, arch in ARCHITECTURES:
            problems: List[str] = []
            start = time.monotonic()
            try:
                root, wheel = prepare(dist, machine, arch)
                gateway = gateway or ScriptedGateway(["--account", f"{ACCOUNT}:orvik"])
                problems = check(root, wheel, gateway.port)
                verdict = f"{'FAILED' if problems else 'passed'} ({os.path.basename(wheel)})"
            except Skipped as reason:
                verdict = f"skipped: {reason}"
            except (RuntimeError, OSError, subprocess.TimeoutExpired) as failure:
                verdict, problems = "FAILED", [str(failure)]
            verdicts.append(verdict)
            print(f"bullseye {machine} ({time.monotonic() - start:.0f} s): {verdict}", flush=True)
            for problem in problems:
                print(f"    {problem}")
    finally:
        if gateway is not None:
            gateway.stop()
    failed = sum(verdict.startswith("FAILED") for verdict in verdicts)
    # One reason once, with the architectures it stopped.
    skipped: Dict[str, List[str]] = {}
    for (machine, _), verdict in zip(ARCHITECTURES, verdicts):
        if verdict.startswith("skipped: "):
            skipped.setdefault(verdict.removeprefix("skipped: "), []).append(machine)
    stopped = sum(len(machines) for machines in skipped.values())
    print(f"roots: {len(verdicts) - failed - stopped} passed, {failed} failed, {stopped} skipped")
    if failed:
        return 1
    if skipped:
        print("skipped: " + "; ".join(f"{' and '.join(machines)}: {reason}" for reason, machines in skipped.items()))
        return SKIPPED
    return 0


if __name__ == "__main__":
    sys.exit(main())
