"""Shared pieces of the hostile-gateway tests: one simulator per module, a
fresh client per case, and the failure texts the client may show."""

from __future__ import annotations

import re
from typing import Iterator

import pytest

import orvik
from orvik_gateway_sim.scripted_gateway import ScriptedGateway

# Short enough that a client waiting for bytes that never come fails the test
# quickly; long enough for a loaded machine.
IO_TIMEOUT_MS = 5000

FILL_WHOLE_BUFFER = "frame I/O failed: failed to fill whole buffer"
FRAME_LIMIT = 1_048_576

# Every text a failed call may carry, one pattern per error kind.
FAILURE_TEXTS = re.compile(
    "|".join(
        [
            r"frame I/O failed: (failed to fill whole buffer|.+ \(os error \d+\))",
            r"empty Cap'n Proto frame is invalid",
            rf"Cap'n Proto frame length \d+ exceeds limit {FRAME_LIMIT}",
            r"Cap'n Proto protocol error: .+",
            r"Cap'n Proto text was not valid UTF-8: "
            r"(invalid utf-8 sequence of \d bytes from index \d+|incomplete utf-8 byte sequence from index \d+)",
            r"remote gateway schema mismatch: Enum value or union discriminant \d+ was not present in the schema\.",
            r"response seq \d+ did not match request seq \d+",
            r'remote gateway denied request: code=\w+ message=".*"',
            r"request \w+( \S+)* received unexpected response \w+",
        ]
    ),
    re.DOTALL,
)


def assert_failure_text(error: BaseException) -> None:
    assert isinstance(error, RuntimeError) and type(error) is RuntimeError
    assert len(error.args) == 1
    assert FAILURE_TEXTS.fullmatch(error.args[0]), error.args[0]


@pytest.fixture(scope="module")
def gateway() -> Iterator[ScriptedGateway]:
    simulator = ScriptedGateway()
    try:
        yield simulator
    finally:
        simulator.stop()


@pytest.fixture
def client_for(gateway: ScriptedGateway):
    """A function giving a fresh client of the module's simulator; the
    simulator's queue and record start empty for each test."""
    gateway.clear()

    def connect() -> orvik.Client:
        return orvik.Client(gateway.host, gateway.port, connect_deadline_ms=5000, io_timeout_ms=IO_TIMEOUT_MS)

    return connect
