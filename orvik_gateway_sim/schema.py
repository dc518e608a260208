"""Loading the gateway schema with pycapnp.

An installed wheel ships the schema next to this module; a source checkout
keeps it in ``orvik_config/`` beside the package.
"""

from __future__ import annotations

import functools
import os
from typing import Any

_HERE = os.path.dirname(os.path.abspath(__file__))
_CANDIDATES = (
    os.path.join(_HERE, "orvik.capnp"),
    os.path.join(os.path.dirname(_HERE), "orvik_config", "orvik.capnp"),
)


def schema_path() -> str:
    for path in _CANDIDATES:
        if os.path.isfile(path):
            return path
    raise FileNotFoundError("gateway schema orvik.capnp not found; looked in " + ", ".join(_CANDIDATES))


@functools.lru_cache(maxsize=None)
def load() -> Any:
    """The loaded schema module (loaded once per process)."""
    import capnp  # type: ignore[import-untyped]  # imported here so that the package imports without pycapnp

    # The schema imports /capnp/c++.capnp, which pycapnp ships beside its package.
    capnp_root = os.path.dirname(os.path.dirname(capnp.__file__))
    return capnp.load(schema_path(), imports=[capnp_root])
