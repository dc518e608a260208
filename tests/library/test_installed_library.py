"""The C++ library as a program outside this tree sees it once installed: the
example in examples/cpp built against the prefix through the CMake package and
through pkg-config, statically and dynamically, and run against the simulator
here and in a stock Debian 11 root; and what the prefix promises (what the
shared library needs and exports, headers, pkg-config, version rule).

`make lib-test` installs into build/lib-prefix and names it in ORVIK_LIB_PREFIX."""

from __future__ import annotations

import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

import pytest

PREFIX = Path(os.environ.get("ORVIK_LIB_PREFIX", "/nonexistent"))
pytestmark = pytest.mark.skipif(
    "ORVIK_LIB_PREFIX" not in os.environ, reason="needs an installed prefix (make lib-test)"
)
ROOT = Path(__file__).resolve().parents[2]
EXAMPLE = ROOT / "examples" / "cpp"
ROOTS = ROOT / "tests" / "roots"
SKIPPED = 77
CMAKE = str(Path(sys.executable).with_name("cmake"))
SHARED = "libremote_session_client.so.0"
BUILD_TIMEOUT_S = 300


def run(*args: str) -> str:
    done = subprocess.run(args, capture_output=True, text=True, timeout=BUILD_TIMEOUT_S)
    if done.returncode != 0:
        pytest.fail(f"{' '.join(args)} failed with status {done.returncode}:\n{done.stdout}{done.stderr}")
    return done.stdout


# How the program links: "shared", "static" (the static library, the C and
# C++ runtimes shared) or "full" (everything static).
def build_with_cmake(out: Path, link: str) -> Path:
    run(CMAKE, "-S", str(EXAMPLE), "-B", str(out), f"-DCMAKE_PREFIX_PATH={PREFIX}",
        f"-Dremote_session_client_USE_STATIC_LIBS={'OFF' if link == 'shared' else 'ON'}",
        f"-DCMAKE_EXE_LINKER_FLAGS={'-static' if link == 'full' else ''}")
    run(CMAKE, "--build", str(out))
    return out / "guest_session"


def build_with_pkg_config(out: Path, link: str) -> Path:
    pc_path = PREFIX / "lib" / "pkgconfig"
    static = {"shared": "0", "static": "1", "full": "full"}[link]
    run("make", "-C", str(EXAMPLE), f"OUT={out}", f"STATIC={static}", f"PKG_CONFIG_PATH={pc_path}")
    return out / "guest_session"


def needed(binary: Path) -> list[str]:
    return re.findall(r"\(NEEDED\).*\[(.+)\]", run("readelf", "-d", str(binary)))


def run_here(program: Path, host: str, port: int) -> subprocess.CompletedProcess[str]:
    return subprocess.run([str(program), host, str(port)], capture_output=True, text=True, timeout=30)


def run_in_bullseye(program: Path, host: str, port: int) -> subprocess.CompletedProcess[str]:
    """The program run in a stock Debian 11 root (tests/roots), which shares this machine's loopback."""
    made = subprocess.run([str(ROOTS / "make_root.sh"), "amd64"], stdout=subprocess.PIPE, text=True, timeout=3600)
    if made.returncode == SKIPPED:
        pytest.skip(made.stdout.strip())
    assert made.returncode == 0, made.stdout
    root = made.stdout.strip().splitlines()[-1]
    work = tempfile.mkdtemp(prefix="orvik-lib-test-", dir=os.path.join(root, "tmp"))
    try:
        shutil.copy(program, work)
        inside = "/" + os.path.relpath(os.path.join(work, program.name), root)
        done = subprocess.run([str(ROOTS / "in_root.sh"), root, inside, host, str(port)],
                              capture_output=True, text=True, timeout=30)
        if done.returncode == SKIPPED:
            pytest.skip(done.stdout.strip())
        return done
    finally:
        shutil.rmtree(work)


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


# Every way a program takes the library, and where it runs. A program built
# here with Debian 12's compiler needs its C and C++ runtimes (glibc 2.34 and
# later symbols, GCC 12's libstdc++), which Debian 11 lacks, and no compiler
# of Debian 11 knows C++23: so the cases in its root link the static library
# into a fully static program, which carries what it needs.
CASES = {
    "find_package-shared": (build_with_cmake, "shared", run_here),
    "find_package-static": (build_with_cmake, "static", run_here),
    "pkg-config-shared": (build_with_pkg_config, "shared", run_here),
    "pkg-config-static": (build_with_pkg_config, "static", run_here),
    "find_package-full-static-bullseye": (build_with_cmake, "full", run_in_bullseye),
    "pkg-config-full-static-bullseye": (build_with_pkg_config, "full", run_in_bullseye),
}


@pytest.mark.timeout(2 * BUILD_TIMEOUT_S)
@pytest.mark.parametrize("build, link, runner", CASES.values(), ids=CASES.keys())
def test_example_builds_out_of_tree_and_tours_the_gateway(build, link, runner, tmp_path, orvik_gateway):
    program = build(tmp_path / "build", link)
    # A static build must not lean on the shared library lying beside it; a
    # full one needs nothing at all.
    assert (SHARED in needed(program)) is (link == "shared")
    assert (needed(program) == []) is (link == "full")
    tour = runner(program, orvik_gateway.host, orvik_gateway.port)
    assert (tour.returncode, tour.stderr) == (0, "")
    assert tour.stdout == EXPECTED.format(port=orvik_gateway.port)


def public_header_words() -> set[str]:
    text = "".join(h.read_text() for h in (PREFIX / "include" / "remote_session_client").glob("*.h"))
    return set(re.findall(r"\w+", text))


def test_shared_library_needs_the_c_and_cpp_runtime_and_exports_the_public_api_only():
    library = PREFIX / "lib" / SHARED
    dynamic = run("readelf", "-d", str(library))
    assert f"Library soname: [{SHARED}]" in dynamic
    runtime = re.compile(r"(libstdc\+\+|libm|libgcc_s|libc|libpthread|ld-linux-[\w-]+)\.so\.\d+")
    assert [n for n in needed(library) if not runtime.fullmatch(n)] == []
    symbols = run("nm", "-D", "--defined-only", "--format=posix", "-C", str(library)).splitlines()
    own = re.compile(r"^((typeinfo|typeinfo name|vtable) for )?remote_session_client::")
    assert [s for s in symbols if not own.match(s)] == []
    assert any(s.startswith("remote_session_client::connect(") for s in symbols)
    # Each exported name is one the public headers declare: the library's
    # internals (the decoders' helpers among them) stay hidden.
    words = public_header_words()
    names = {re.sub(r"\[abi:\w+\]|\(.*", "", s.split(" for ")[-1].split(" ")[0]).split("::")[-1] for s in symbols}
    assert sorted(n for n in names if n not in words and not n.startswith(("~", "operator"))) == []


def test_pkg_config_needs_nothing_but_the_prefix():
    # Only the prefix's .pc files are visible: no capnp.pc, no libutf8proc.pc.
    env = dict(os.environ, PKG_CONFIG_LIBDIR=str(PREFIX / "lib" / "pkgconfig"))
    env.pop("PKG_CONFIG_PATH", None)
    for static in ([], ["--static"]):
        done = subprocess.run(["pkg-config", *static, "--cflags", "--libs", "remote_session_client"],
                              capture_output=True, text=True, env=env, timeout=30)
        assert (done.returncode, done.stderr) == (0, "")
        assert "-lremote_session_client" in done.stdout.split()


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
