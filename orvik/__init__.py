"""Not the orvik module: this folder holds the C++ sources of the extension.

Python started in the repository's root finds this folder first. It hands
over to the installed extension, or says that none is installed, instead of
letting the folder pass for an empty package.
"""

import importlib.machinery
import importlib.util
import os
import sys

_checkout = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
_elsewhere = [entry for entry in sys.path if os.path.abspath(entry or os.curdir) != _checkout]
_spec = importlib.machinery.PathFinder.find_spec(__name__, _elsewhere)
if _spec is None or _spec.loader is None:
    raise ImportError(
        f"the orvik extension is not installed for {sys.executable}; {os.path.dirname(__file__)} holds "
        "only its sources (install it with `pip install dist/orvik-*.whl` after `make wheel`, or run `make demo`)",
        name=__name__,
    )
_extension = importlib.util.module_from_spec(_spec)
sys.modules[__name__] = _extension
_spec.loader.exec_module(_extension)
