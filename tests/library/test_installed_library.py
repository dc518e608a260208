"""The C++ library as a program outside this tree sees it once installed: the
example in examples/cpp built against the prefix through the CMake package and
through pkg-config, statically and dynamically, and run against the simulator;
and what the prefix promises (exports, headers, version rule).

`make lib-test` installs into build/lib-prefix and names it in ORVIK_LIB_PREFIX."""

from __future__ import annotations

import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

PREFIX = Path(os.environ.get("ORVIK_LIB_PREFIX", "/nonexistent"))
pytestmark = pytest.mark.skipif(
    "ORVIK_LIB_PREFIX" not in os.environ, reason="needs an installed prefix (make lib-test)"
)
EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "cpp"
CMAKE = str(Path(sys.executable).with_name("cmake"))
SHARED = "libremote_session_client.so.0"
BUILD_TIMEOUT_S = 300


def run(*args: str) -> str:
    done = subprocess.run(args, capture_output=True, text=True, timeout=BUILD_TIMEOUT_S)
    if done.returncode != 0:
        pytest.fail(f"{' '.join(args)} failed with status {done.returncode}:\n{done.stdout}{done.stderr}")
    return done.stdout


def build_with_cmake(out: Path, static: bool) -> Path:
    run(CMAKE, "-S", str(EXAMPLE), "-B", str(out), f"-DCMAKE_PREFIX_PATH={PREFIX}",
        f"-Dremote_session_client_USE_STATIC_LIBS={'ON' if static else 'OFF'}")
    run(CMAKE, "--build", str(out))
    return out / "guest_session"


def build_with_pkg_config(out: Path, static: bool) -> Path:
    pc_path = PREFIX / "lib" / "pkgconfig"
    run("make", "-C", str(EXAMPLE), f"OUT={out}", f"STATIC={int(static)}", f"PKG_CONFIG_PATH={pc_path}")
    return out / "guest_session"


def needed(binary: Path) -> list[str]:
    return re.findall(r"\(NEEDED\).*\[(.+)\]", run("readelf", "-d", str(binary)))


EXPECTED = """\
method password enabled=yes profiles=operator,developer
method guest enabled=yes profiles=operator,visitor
method anonymous enabled=yes profiles=operator,observer
method publicKey enabled=no profiles=operator
logged in as guest with profile operator
cap session 0x80b87169c39aaf1c non-transferable
cap system_info 0xfbbdc602980cb986 copy-within-session
transcript:
  connect 127.0.0.1:{port}
  connected 127.0.0.1:{port}
  request 1 authMethods
  response 1 authMethods
  auth methods enabled=password,guest,anonymous count=4
  request 2 guestLogin profile=operator
  response 2 sessionStarted
  session started profile=operator principal=guest summary=2
  request 3 capsetList
  response 3 capsetList
  capset list session:0x80b87169c39aaf1c,system_info:0xfbbdc602980cb986 count=2
"""


@pytest.mark.timeout(2 * BUILD_TIMEOUT_S)
@pytest.mark.parametrize("build", [build_with_cmake, build_with_pkg_config], ids=["find_package", "pkg-config"])
@pytest.mark.parametrize("static", [False, True], ids=["shared", "static"])
def test_example_builds_out_of_tree_and_tours_the_gateway(build, static, tmp_path, orvik_gateway):
    program = build(tmp_path / "build", static)
    # The static build must not lean on the shared library lying beside it.
    assert (SHARED in needed(program)) is not static
    tour = subprocess.run([str(program), orvik_gateway.host, str(orvik_gateway.port)],
                          capture_output=True, text=True, timeout=30)
    assert (tour.returncode, tour.stderr) == (0, "")
    assert tour.stdout == EXPECTED.format(port=orvik_gateway.port)


def test_shared_library_exports_its_own_namespace_only():
    library = PREFIX / "lib" / SHARED
    assert f"Library soname: [{SHARED}]" in run("readelf", "-d", str(library))
    symbols = run("nm", "-D", "--defined-only", "--format=posix", "-C", str(library)).splitlines()
    own = re.compile(r"^((typeinfo|typeinfo name|vtable) for )?remote_session_client::")
    assert [s for s in symbols if not own.match(s)] == []
    assert any(s.startswith("remote_session_client::connect(") for s in symbols)


def test_public_headers_include_only_the_standard_library_and_each_other():
    headers = PREFIX / "include" / "remote_session_client"
    foreign = []
    for header in sorted(headers.glob("*.h")):
        for target in re.findall(r'^#include\s+(\S+)', header.read_text(), re.M):
            ours = target.startswith('"remote_session_client/')
            if not (ours and (PREFIX / "include" / target.strip('"')).is_file()) and not re.fullmatch(r"<\w+>", target):
                foreign.append(f"{header.name}: {target}")
    assert len(list(headers.glob("*.h"))) > 10
    assert foreign == []


@pytest.mark.parametrize("asked, found", [("0.1", True), ("0.1.4", True), ("0.1.5", False), ("0.2", False)])
def test_package_version_rule(asked, found, tmp_path):
    (tmp_path / "CMakeLists.txt").write_text(
        "cmake_minimum_required(VERSION 3.20)\nproject(probe LANGUAGES NONE)\n"
        f"find_package(remote_session_client {asked} CONFIG QUIET)\n"
        'if(remote_session_client_FOUND)\n  message(STATUS "found=1")\nelse()\n  message(STATUS "found=0")\nendif()\n')
    configured = run(CMAKE, "-S", str(tmp_path), "-B", str(tmp_path / "build"), f"-DCMAKE_PREFIX_PATH={PREFIX}")
    assert f"found={1 if found else 0}" in configured
