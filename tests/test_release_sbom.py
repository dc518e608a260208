"""The release wheels' SBOM as release/wheel_metadata.py writes it, and the
release-wheel check that holds it to third_party/pins: a document that drifts
from the pins in any way a scanner would be misled by is refused."""

from __future__ import annotations

import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "wheel"))

from check_release_wheels import SBOM, sbom_problems  # noqa: E402

ziglang = pytest.importorskip("ziglang")


@pytest.fixture(scope="module")
def metadata(tmp_path_factory):
    out = tmp_path_factory.mktemp("metadata")
    zig_lib = Path(ziglang.__file__).parent / "lib"
    subprocess.run([sys.executable, str(ROOT / "release" / "wheel_metadata.py"), str(zig_lib), str(out)],
                   check=True, timeout=120)
    files = sorted(str(p.relative_to(out)) for p in out.rglob("*") if p.is_file())
    return json.loads((out / SBOM).read_text()), files


def named(bom, name):
    return next(c for c in bom["components"] if c["name"] == name)


def set_hash(bom, files):
    named(bom, "openssl")["externalReferences"][0]["hashes"][0]["content"] = "0" * 64


def set_debian_version(bom, files):
    named(bom, "ncurses")["properties"][0]["value"] = "ncurses 6.4-4"


def drop_pinned(bom, files):
    bom["components"].remove(named(bom, "libedit"))


def drop_musl(bom, files):
    bom["components"].remove(named(bom, "musl"))


def drop_licence_text(bom, files):
    files[:] = [f for f in files if not f.startswith("licenses/openssl/")]


def drop_licence_id(bom, files):
    named(bom, "utf8proc")["licenses"] = []


@pytest.mark.parametrize("tamper, problem", [
    (None, None),
    (set_hash, "SBOM names openssl 3.5"),
    (set_debian_version, "SBOM lacks the pinned ncurses"),
    (drop_pinned, "SBOM lacks the pinned libedit"),
    (drop_musl, "beside the pins"),
    (drop_licence_text, "lacks licenses/openssl/"),
    (drop_licence_id, "utf8proc lacks a version or a licence"),
])
def test_sbom_is_held_to_the_pins(metadata, tamper, problem):
    bom, files = json.loads(json.dumps(metadata[0])), list(metadata[1])
    if tamper:
        tamper(bom, files)
    problems = sbom_problems(bom, files)
    if problem is None:
        assert problems == []
    else:
        assert any(problem in p for p in problems), problems


def test_sbom_names_the_bundled_openssl_for_scanners(metadata):
    openssl = named(metadata[0], "openssl")
    version = openssl["version"]
    assert openssl["cpe"] == f"cpe:2.3:a:openssl:openssl:{version}:*:*:*:*:*:*:*"
    assert openssl["purl"] == f"pkg:generic/openssl@{version}"
    assert openssl["licenses"] == [{"license": {"id": "Apache-2.0"}}]
