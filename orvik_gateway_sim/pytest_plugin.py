"""pytest plugin: the ``orvik_gateway`` fixture, a scripted gateway simulator.

The fixture yields a ``ScriptedGateway`` (see ``scripted_gateway``) whose
simulator runs in a child process on 127.0.0.1 and an ephemeral port, and
stops it at teardown. This module imports nothing beyond pytest and the
standard library at load time: installed as a pytest11 plugin it is loaded by
every pytest run, and must never break one where pycapnp is missing; the
fixture then skips.
"""

from __future__ import annotations

import importlib.util
from typing import Iterator, TYPE_CHECKING

import pytest

if TYPE_CHECKING:
    from .scripted_gateway import ScriptedGateway


def _have_pycapnp() -> bool:
    return importlib.util.find_spec("capnp") is not None


@pytest.fixture
def orvik_gateway() -> "Iterator[ScriptedGateway]":
    if not _have_pycapnp():
        pytest.skip("the orvik_gateway fixture needs pycapnp (pip install 'orvik[sim]')")
    from .scripted_gateway import ScriptedGateway

    gateway = ScriptedGateway()
    try:
        yield gateway
    finally:
        gateway.stop()
