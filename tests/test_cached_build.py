"""release/cached_build.sh publishes a build into the cache only when every step of it succeeded."""
import pathlib
import subprocess

import pytest

SCRIPT = pathlib.Path(__file__).resolve().parent.parent / "release" / "cached_build.sh"


@pytest.mark.parametrize(
    "steps, published",
    [
        ('mkdir -p "$2"; touch "$2/marker"', True),
        # A failed step before the last must not be covered by the steps after it.
        ('mkdir -p "$2"; false; touch "$2/marker"', False),
        ('mkdir -p "$2"', False),
    ],
)
def test_only_a_whole_build_is_published(tmp_path: pathlib.Path, steps: str, published: bool) -> None:
    prefix = tmp_path / "prefix"
    script = f"""set -euo pipefail
. {SCRIPT}
build() {{ {steps}; }}
cached_build {tmp_path}/lock {prefix} marker build
"""
    result = subprocess.run(["bash", "-c", script], capture_output=True, text=True, timeout=30)
    assert (result.returncode == 0) == published
    assert (prefix / "marker").exists() == published
    assert (result.stdout.strip() == str(prefix)) == published
