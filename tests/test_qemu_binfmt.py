"""tests/roots/qemu_binfmt.sh, each case against a binfmt_misc instance of its
own (a user namespace's, so the machine's registrations are not touched)."""

import os
import subprocess

import pytest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "roots", "qemu_binfmt.sh")
ENTRY = "/proc/sys/fs/binfmt_misc/qemu-aarch64"
HIDE = {"binfmt.d": "mount -t tmpfs none /usr/share/binfmts", "binfmts": "mount -t tmpfs none /usr/lib/binfmt.d"}
# qemu's own line, less the fix-binary flag.
WITHOUT_F = "sed 's/:[A-Z]*$/:P/' /usr/lib/binfmt.d/qemu-aarch64.conf > /proc/sys/fs/binfmt_misc/register"


def in_own_binfmt_misc(commands: str) -> subprocess.CompletedProcess:
    mount = "mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc"
    return subprocess.run(
        ["unshare", "--user", "--map-root-user", "--mount", "--propagation", "private", "sh", "-c",
         f"{mount} || exit 99; {commands}"],
        capture_output=True, text=True, timeout=30,
    )


@pytest.fixture(autouse=True)
def own_instance():
    if not (os.path.exists("/usr/share/binfmts/qemu-aarch64") and os.path.exists("/usr/lib/binfmt.d/qemu-aarch64.conf")):
        pytest.skip("qemu-user-static with both handler descriptions is not installed")
    if in_own_binfmt_misc("true").returncode != 0:
        pytest.skip("this kernel gives a user namespace no binfmt_misc of its own")


@pytest.mark.parametrize("source", sorted(HIDE))
def test_registers_with_fix_binary_and_keeps_it(source):
    done = in_own_binfmt_misc(f"{HIDE[source]} && {SCRIPT} arm64 && {SCRIPT} arm64 && cat {ENTRY}")
    assert done.returncode == 0, done.stdout + done.stderr
    lines = done.stdout.splitlines()
    assert lines[:2] == ["enabled", "interpreter /usr/libexec/qemu-binfmt/aarch64-binfmt-P"]
    assert "F" in lines[2].removeprefix("flags: ") and "magic 7f454c460201010000000000000000000200b700" in lines


def test_an_entry_without_fix_binary_is_a_skip():
    done = in_own_binfmt_misc(f"{WITHOUT_F} && {SCRIPT} arm64")
    assert (done.returncode, done.stdout) == (
        77, "skipped: binfmt_misc's qemu-aarch64 is registered without the fix-binary flag (F) that a chroot needs\n"
    )
