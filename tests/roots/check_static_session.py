"""The static orvik-session of each architecture (dist/orvik-session-ARCH, made
by make release) where nothing of a C library is there to help it: in the
stock Debian 11 root of its architecture (make_root.sh), and in an empty
root that holds the executable alone (no libc, no loader, no /dev, no
/proc); aarch64 under qemu user emulation. In each it runs a guest session
against one simulator on the host's loopback, which a chroot shares, and
reports a closed port with the system's text of the error. Checks first that each executable is
under its size limit and matches dist/SHA256SUMS. Prints one line per case,
then the count.

    python tests/roots/check_static_session.py DIST

Runs as root. Exits 77 after a line "skipped: REASON" when no case failed but
one could not run here (not root, no debootstrap, no qemu, no binfmt_misc).
"""

from __future__ import annotations

import hashlib
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
from typing import Callable, Dict, List, Tuple

from check_roots import HERE, ROOT_TIMEOUT_S, SKIPPED, Skipped, script  # noqa: E402
from orvik_gateway_sim.scripted_gateway import ScriptedGateway  # noqa: E402

MAX_BYTES = 8 * 1024 * 1024
DEBIAN_ARCH = {"x86_64": "amd64", "aarch64": "arm64"}
CAPSET_NAMES = ["session", "system_info"]
RUN_TIMEOUT_S = 120  # a first run under qemu on a busy machine


def placed(binary: str, folder: str) -> str:
    shutil.copy(binary, os.path.join(folder, "orvik-session"))
    return folder


def in_bullseye(arch: str, binary: str) -> Tuple[List[str], str]:
    """The command that runs BINARY in the Debian 11 root, and the folder made there for it."""
    root = script("make_root.sh", DEBIAN_ARCH[arch], timeout=ROOT_TIMEOUT_S)
    folder = placed(binary, tempfile.mkdtemp(prefix="orvik-static-", dir=os.path.join(root, "tmp")))
    return [os.path.join(HERE, "in_root.sh"), root, "/" + os.path.relpath(folder, root) + "/orvik-session"], folder


def in_empty(arch: str, binary: str) -> Tuple[List[str], str]:
    """The command that runs BINARY in a root that holds it and nothing else, and that root."""
    if os.geteuid() != 0:
        raise Skipped(f"chroot needs root (running as uid {os.geteuid()})")
    if arch != os.uname().machine:
        script("qemu_binfmt.sh", DEBIAN_ARCH[arch], timeout=60)
    folder = placed(binary, tempfile.mkdtemp(prefix="orvik-empty-root-"))
    return ["chroot", folder, "/orvik-session"], folder


# (architecture, where, how that root is entered): one session each.
CASES: List[tuple] = [
    ("x86_64", "bullseye", in_bullseye),
    ("aarch64", "bullseye", in_bullseye),
    ("x86_64", "empty root", in_empty),
    ("aarch64", "empty root", in_empty),
]


def release_problems(dist: str) -> List[str]:
    """Each executable under its limit, and listed in SHA256SUMS with its checksum."""
    with open(os.path.join(dist, "SHA256SUMS"), encoding="utf-8") as sums:
        listed = dict(reversed(line.split()) for line in sums if line.strip())
    problems = []
    for arch in DEBIAN_ARCH:
        name = f"orvik-session-{arch}"
        with open(os.path.join(dist, name), "rb") as executable:
            data = executable.read()
        if len(data) >= MAX_BYTES:
            problems.append(f"{name}: {len(data)} bytes, not under {MAX_BYTES}")
        if listed.get(name) != hashlib.sha256(data).hexdigest():
            problems.append(f"{name}: SHA256SUMS gives {listed.get(name)}, not its checksum")
    return problems


def run_case(dist: str, arch: str, enter: Callable, port: int, closed_port: int) -> List[str]:
    command, folder = enter(arch, os.path.join(dist, f"orvik-session-{arch}"))
    try:
        problems = []
        # The system's text of an error comes from musl here, through the
        # POSIX strerror_r.
        runs = [(["--port", str(port), "--guest", "capset", "--json"], 0, ""),
                (["--port", str(closed_port), "--connect-deadline-ms", "0", "methods"], 3,
                 "Connection refused (os error 111)")]
        for args, status, said in runs:
            done = subprocess.run([*command, "--io-timeout-ms", "10000", *args], stdin=subprocess.DEVNULL,
                                  capture_output=True, text=True, timeout=RUN_TIMEOUT_S)
            if done.returncode == SKIPPED:
                raise Skipped(done.stdout.strip().removeprefix("skipped: "))
            if done.returncode != status or said not in done.stderr:
                problems.append(f"{' '.join(args)} exited {done.returncode}, not {status}: {done.stderr.strip()}")
            elif status == 0 and [e["name"] for e in json.loads(done.stdout)["entries"]] != CAPSET_NAMES:
                problems.append(f"capset --json printed {done.stdout}")
        return problems
    finally:
        shutil.rmtree(folder)


def main() -> int:
    dist = os.path.abspath(sys.argv[1])
    release = release_problems(dist)
    for problem in release:
        print(f"release: {problem}")
    failed = 0
    skipped: Dict[str, List[str]] = {}
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        closed_port = probe.getsockname()[1]
    gateway = ScriptedGateway([])
    try:
        for arch, where, enter in CASES:
            try:
                problems = run_case(dist, arch, enter, gateway.port, closed_port)
                verdict = "FAILED" if problems else "passed"
            except Skipped as reason:
                skipped.setdefault(str(reason), []).append(f"{arch} in {where}")
                verdict, problems = f"skipped: {reason}", []
            except (RuntimeError, OSError, subprocess.TimeoutExpired) as failure:
                verdict, problems = "FAILED", [str(failure)]
            failed += bool(problems)
            print(f"orvik-session {arch} in {where}: {verdict}", flush=True)
            for problem in problems:
                print(f"    {problem}")
    finally:
        gateway.stop()
    stopped = sum(len(cases) for cases in skipped.values())
    print(f"static orvik-session: {len(CASES) - failed - stopped} passed, {failed} failed, {stopped} skipped")
    if failed or release:
        return 1
    if skipped:
        print("skipped: " + "; ".join(f"{' and '.join(cases)}: {reason}" for reason, cases in skipped.items()))
        return SKIPPED
    return 0


if __name__ == "__main__":
    sys.exit(main())
