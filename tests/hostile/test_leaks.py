"""Memory over many calls: a long loop of every success and failure class
whose resident size must stay flat, and a short session under valgrind's
memcheck with no definite leak in our code."""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import textwrap
import xml.etree.ElementTree as ElementTree
from typing import Iterator, List

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from canned_answers import CLOSE_EVERY, CYCLE  # noqa: E402

CALLS = 200_000
WARM_UP_CALLS = 20_000
RSS_GROWTH_LIMIT = 2 * 1024 * 1024


@pytest.fixture
def responder() -> Iterator[int]:
    process = subprocess.Popen(
        [sys.executable, os.path.join(HERE, "canned_responder.py")],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
    )
    try:
        line = process.stdout.readline()
        assert line.startswith("listening "), line
        yield int(line.split()[1])
    finally:
        process.stdin.close()
        process.kill()
        process.wait(timeout=10)
        process.stdout.close()


def _resident_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def run_calls(port: int, calls: int, on_checkpoint=None) -> None:
    """Drives `calls` calls of the cycle, in step with the responder."""
    import orvik

    def connect():
        return orvik.Client("127.0.0.1", port, connect_deadline_ms=5000, io_timeout_ms=5000)

    client = connect()
    done = 0
    cycle = 0
    while done < calls:
        for index, step in enumerate(CYCLE):
            if index == 0 and cycle % CLOSE_EVERY == CLOSE_EVERY - 1:
                # The responder closes here: the client fails and is replaced.
                with pytest.raises(RuntimeError, match="^frame I/O failed: failed to fill whole buffer$"):
                    step.call(client)
                client = connect()
                done += 1
                continue
            try:
                step.call(client)
                assert not step.fails, step.name
            except (RuntimeError, OverflowError):
                assert step.fails, step.name
            done += 1
            if step.replaces_client:
                client = connect()
            if on_checkpoint is not None:
                on_checkpoint(done)
        cycle += 1
    del client


@pytest.mark.timeout(600)
def test_resident_size_stays_flat(responder):
    samples = {}

    def checkpoint(done: int) -> None:
        if done in (WARM_UP_CALLS, CALLS):
            samples[done] = _resident_bytes()

    run_calls(responder, CALLS + len(CYCLE), checkpoint)
    growth = samples[CALLS] - samples[WARM_UP_CALLS]
    print(f"resident size after warm-up {samples[WARM_UP_CALLS]} bytes, growth over "
          f"{CALLS - WARM_UP_CALLS} calls {growth} bytes")
    assert growth < RSS_GROWTH_LIMIT


def _our_frame(frame: ElementTree.Element) -> bool:
    obj = os.path.basename(frame.findtext("obj") or "")
    fn = frame.findtext("fn") or ""
    return obj.startswith("orvik") or "remote_session_client" in fn or "orvik" in fn


def _definite_leaks_in_our_code(xml_path: str) -> List[str]:
    root = ElementTree.parse(xml_path).getroot()
    # A memcheck run that ended early would report nothing at all.
    assert "FINISHED" in [status.findtext("state") for status in root.iter("status")]
    found = []
    for error in root.iter("error"):
        kind = error.findtext("kind") or ""
        frames = error.findall("./stack/frame")
        if not any(_our_frame(f) for f in frames):
            continue
        if kind == "Leak_DefinitelyLost" or not kind.startswith("Leak_"):
            what = error.findtext("./xwhat/text") or error.findtext("what") or kind
            stack = " <- ".join(f.findtext("fn") or f.findtext("obj") or "?" for f in frames[:8])
            found.append(f"{kind}: {what}: {stack}")
    return found


@pytest.mark.timeout(900)
@pytest.mark.skipif(shutil.which("valgrind") is None, reason="valgrind is not installed")
def test_session_under_valgrind(responder, tmp_path):
    script = textwrap.dedent(
        f"""
        import sys
        sys.path.insert(0, {HERE!r})
        import pytest  # for pytest.raises in run_calls
        from test_leaks import run_calls
        run_calls({responder}, {len(CYCLE) * 3})
        """
    )
    xml_path = tmp_path / "memcheck.xml"
    env = dict(os.environ, PYTHONMALLOC="malloc")
    done = subprocess.run(
        ["valgrind", "--tool=memcheck", "--leak-check=full", "--show-leak-kinds=definite",
         "--xml=yes", f"--xml-file={xml_path}", "--num-callers=30",
         sys.executable, "-c", script],
        env=env, capture_output=True, text=True, timeout=840,
    )
    assert done.returncode == 0, done.stderr[-3000:]
    assert _definite_leaks_in_our_code(str(xml_path)) == []
