"""pytest plugin: the ``orvik_gateway`` fixture, a scripted gateway simulator.

The fixture yields a ``ScriptedGateway`` (see ``scripted_gateway``) whose
simulator runs in a child process on 127.0.0.1 and an ephemeral port, and
stops it at teardown. This module imports nothing beyond pytest and the
standard library at load time: installed as a pytest11 plugin it is loaded by
every pytest run, and must never break one where pycapnp is missing; the
fixture then skips.

The simulator's command-line options (``python -m orvik_gateway_sim
--help``) come from the fixture ``orvik_gateway_args``: by default the
arguments of the test's closest ``@pytest.mark.orvik_gateway(...)`` marker,
none without one. A module or conftest.py may override the fixture, and a
test may parametrize it by name.
"""

from __future__ import annotations

import importlib.util
from typing import Iterator, List, TYPE_CHECKING

import pytest

if TYPE_CHECKING:
    from .scripted_gateway import ScriptedGateway


def _have_pycapnp() -> bool:
    return importlib.util.find_spec("capnp") is not None


def pytest_configure(config: pytest.Config) -> None:
    config.addinivalue_line(
        "markers", "orvik_gateway(*args): command-line options of the orvik_gateway fixture's simulator"
    )


@pytest.fixture
def orvik_gateway_args(request: pytest.FixtureRequest) -> List[str]:
    marker = request.node.get_closest_marker("orvik_gateway")
    return [str(arg) for arg in marker.args] if marker is not None else []


@pytest.fixture
def orvik_gateway(orvik_gateway_args: List[str]) -> "Iterator[ScriptedGateway]":
    if not _have_pycapnp():
        pytest.skip("the orvik_gateway fixture needs pycapnp (pip install 'orvik[sim]')")
    from .scripted_gateway import ScriptedGateway

    gateway = ScriptedGateway(orvik_gateway_args)
    try:
        yield gateway
    finally:
        gateway.stop()
