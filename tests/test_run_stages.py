"""tests/run_stages.sh: a stage counts as skipped only when its command exits
77 and says why; every other failure counts as failed."""

import os
import re
import subprocess

import pytest

RUN_STAGES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "run_stages.sh")
MAKEFILE = """\
ok:
\t@echo "3 passed"
bad:
\t@false
skip:
\t@echo "skipped: no qemu here"; exit 77
mute77:
\t@exit 77
says-skip-but-fails:
\t@echo "skipped: not really"; exit 1
"""


# Each verdict is a pattern that some line must match from its start.
@pytest.mark.parametrize(
    "stages, verdicts, closing, status",
    [
        (["ok"], [r"stage ok: passed in \d+ s \(3 passed\)"], "stages: 1 passed, 0 failed", 0),
        (["ok", "skip"], [r"stage skip: skipped after \d+ s \(no qemu here\)"], "stages: 1 passed, 0 failed, 1 skipped", 0),
        (["skip", "bad"], ["stage bad: FAILED in "], "stages: 0 passed, 1 failed, 1 skipped", 1),
        (["mute77", "says-skip-but-fails"], ["stage mute77: FAILED in ", "stage says-skip-but-fails: FAILED in "],
         "stages: 0 passed, 2 failed", 1),
    ],
)
def test_verdicts(tmp_path, stages, verdicts, closing, status):
    (tmp_path / "Makefile").write_text(MAKEFILE)
    done = subprocess.run(["bash", RUN_STAGES, *stages], cwd=tmp_path, capture_output=True, text=True, timeout=30)
    lines = done.stdout.splitlines()
    for verdict in verdicts:
        assert any(re.match(verdict, line) for line in lines), done.stdout
    assert (lines[-1], done.returncode) == (closing, status)
