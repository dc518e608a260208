"""Not the orvik module: this folder holds the C++ sources of the extension.

Python started in the repository's root finds this folder first. It hands
over to the installed extension, or says that none is installed, instead of
letting the folder pass for an empty package.
"""

import importlib.machinery
import importlib.util
import os
import sys

# The hand-over ends at once: only a compiled extension is accepted, never another copy of this
# folder (the same checkout under a second spelling, or a second checkout), which would hand back.
_checkout = os.path.realpath(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def _installed_extension():
    for entry in sys.path:
        if not isinstance(entry, str) or os.path.realpath(entry or os.curdir) == _checkout:
            continue
        spec = importlib.machinery.PathFinder.find_spec(__name__, [entry])
        if spec is not None and isinstance(spec.loader, importlib.machinery.ExtensionFileLoader):
            return spec
    return None


_spec = _installed_extension()
if _spec is None:
    raise ImportError(
        f"the orvik extension is not installed for {sys.executable}; {os.path.dirname(__file__)} holds "
        "only its sources (install it with `pip install dist/orvik-*.whl` after `make wheel`, or run `make demo`)",
        name=__name__,
    )
_extension = importlib.util.module_from_spec(_spec)
sys.modules[__name__] = _extension
_spec.loader.exec_module(_extension)
