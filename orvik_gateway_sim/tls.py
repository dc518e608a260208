"""The simulator's own TLS: the server context built from its options.

With a client CA the simulator asks every client for a certificate and
refuses a handshake without one that CA signed. The server name each client
sent (SNI) is kept, so that a test can see what its client asked for.
"""

from __future__ import annotations

import ssl
import threading
import weakref
from typing import List, Optional


class ServerNames:
    """The server name of every completed handshake, in order (None: the client sent none)."""

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self._asked: "weakref.WeakKeyDictionary[ssl.SSLSocket, str]" = weakref.WeakKeyDictionary()
        self._names: List[Optional[str]] = []

    def watch(self, context: ssl.SSLContext) -> None:
        def note(connection: ssl.SSLSocket, name: Optional[str], _: ssl.SSLContext) -> None:
            if name is not None:
                with self._lock:
                    self._asked[connection] = name

        context.sni_callback = note  # type: ignore[assignment]  # typeshed names the SSLObject form only

    def completed(self, connection: ssl.SSLSocket) -> Optional[str]:
        """Record the handshake of `connection` and return the name its client asked for."""
        with self._lock:
            name = self._asked.pop(connection, None)
            self._names.append(name)
        return name

    def all(self) -> List[Optional[str]]:
        with self._lock:
            return list(self._names)


def server_context(cert: str, key: str, client_ca: Optional[str]) -> ssl.SSLContext:
    """OSError or ssl.SSLError when a file cannot be read or the key does not fit the certificate."""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(cert, key)
    if client_ca is not None:
        context.load_verify_locations(cafile=client_ca)
        context.verify_mode = ssl.CERT_REQUIRED
    return context


def handshake_text(connection: ssl.SSLSocket, name: Optional[str]) -> str:
    """What a log line says of a completed handshake: version, cipher, the name asked for."""
    cipher = connection.cipher()
    return f"{connection.version()} {cipher[0] if cipher else '?'}" + (f", server name {name}" if name else "")
