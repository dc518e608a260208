"""A stand-in for the orvik remote session gateway, for demos and tests.

- ``python -m orvik_gateway_sim [--host H] [--port P] [--motd TEXT]
  [--account NAME:PASSWORD ...] [--disable-method KIND ...] [--delay-ms N]``
  serves until SIGINT or SIGTERM; it prints its listening address once on
  stdout and logs one secret-free line per exchange, and one per connection
  opened and closed, on stderr. The default account is "operator" with
  password "orvik"; ``--delay-ms`` holds back every answer. ``--version``
  prints the version.
- ``policy`` holds what the gateway answers, ``wire`` the frames and
  envelopes, ``server`` the connections, ``scripting`` the scripted answers.
- The pytest fixture ``orvik_gateway`` (``pytest_plugin``, registered as the
  pytest11 entry point ``orvik_gateway_sim``) yields a ``ScriptedGateway``
  (``scripted_gateway``): a simulator in a child process whose answers a test
  can script with ``respond``, ``error``, ``raw``, ``close`` and ``silent``
  and whose received requests it reads with ``requests`` (``clear`` forgets
  both). Simulator options for it come from the ``orvik_gateway_args``
  fixture or the ``orvik_gateway`` marker.

Importing the package needs no pycapnp; serving does.
"""

from importlib.metadata import PackageNotFoundError, version

# The simulator ships only inside the orvik distribution: its version is that
# distribution's.
try:
    __version__ = version("orvik")
except PackageNotFoundError:  # run from a checkout without orvik installed
    __version__ = "unknown"
