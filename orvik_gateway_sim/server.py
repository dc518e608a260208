"""Listening for clients: one thread per connection, one log line per exchange
and one each when a connection opens and when it closes.

A connection lives until the client closes it, sends a bad frame (zero
length, above the frame limit, cut short) or a payload that is no
RemoteGatewayRequest, or a script closes it. None of these reaches beyond
its own connection. A delay, if set, holds back every answer (and every
scripted close) so that a client's time-outs can be tried against it.

With a TLS context every connection is a TLS session: the handshake runs in
the connection's own thread, so a client that never finishes it holds up no
other, and a failed handshake is logged and ends only its connection.
"""

from __future__ import annotations

import logging
import socket
import socketserver
import ssl
import time
from typing import Any, Optional, Tuple

from . import labels, tls, wire
from .policy import Conversation, Gateway
from .scripting import ScriptBook

log = logging.getLogger("orvik_gateway_sim")

# How long a refused TLS client is given to read the alert and close.
LINGER_S = 1.0


def _peer_text(address: Tuple[Any, ...]) -> str:
    return f"{address[0]}:{address[1]}"


class GatewayServer(socketserver.ThreadingTCPServer):
    daemon_threads = True  # an idle client must not keep the simulator from exiting
    allow_reuse_address = True
    block_on_close = False

    def __init__(
        self,
        host: str,
        port: int,
        gateway: Gateway,
        book: Optional[ScriptBook] = None,
        delay: float = 0.0,
        tls_context: Optional[ssl.SSLContext] = None,
    ) -> None:
        self.address_family = socket.AF_INET6 if ":" in host else socket.AF_INET
        self.gateway = gateway
        self.book = book
        self.delay = delay  # seconds before each answer
        self.tls_context = tls_context
        self.server_names = tls.ServerNames()
        if tls_context is not None:
            self.server_names.watch(tls_context)
        super().__init__((host, port), _ConnectionHandler)

    def get_request(self) -> Tuple[socket.socket, Any]:
        connection, address = super().get_request()
        if self.tls_context is None:
            return connection, address
        return self.tls_context.wrap_socket(connection, server_side=True, do_handshake_on_connect=False), address

    def shutdown_request(self, request: Any) -> None:
        if isinstance(request, ssl.SSLSocket):
            # Our own close says so (close_notify), so that the client can tell it from a cut; the
            # client's answering alert is not awaited.
            try:
                request.setblocking(False)
                request.unwrap()
            except (ssl.SSLError, OSError, ValueError):
                pass
        super().shutdown_request(request)

    @property
    def address_text(self) -> str:
        return _peer_text(self.server_address)

    def reply_to(self, conversation: Conversation, request: wire.Request) -> wire.Reply:
        script = self.book.next_for(request) if self.book is not None else None
        if script is not None:
            return script.reply(request)
        arm, value = conversation.answer(request)
        data = wire.frame(wire.response_message(arm, value, seq=request.seq))
        return wire.Reply(data, kind=labels.answer_label(arm, value))


class _ConnectionHandler(socketserver.StreamRequestHandler):
    server: GatewayServer

    def handle(self) -> None:
        peer = _peer_text(self.client_address)
        if isinstance(self.connection, ssl.SSLSocket):
            try:
                self.connection.do_handshake()
            except (ssl.SSLError, OSError) as exc:
                log.info("%s TLS handshake failed: %s", peer, exc)
                self._linger()
                return
            name = self.server.server_names.completed(self.connection)
            log.info("%s opened (%s)", peer, tls.handshake_text(self.connection, name))
        else:
            log.info("%s opened", peer)
        conversation = self.server.gateway.conversation()
        try:
            why: Optional[str] = None
            while why is None:
                why = self._exchange(peer, conversation)
        except OSError as exc:  # reset by the peer, or a send into a closed socket
            why = str(exc)
        if why:
            log.info("%s closed: %s", peer, why)
        else:
            log.info("%s closed", peer)

    def _linger(self) -> None:
        """After a refused handshake: let the alert reach the client. Under TLS 1.3 the client has
        sent its first request by then; closing with it unread would reset the connection, and
        the reset would overtake the alert."""
        raw = self.connection
        try:
            raw.settimeout(LINGER_S)
            socket.socket.shutdown(raw, socket.SHUT_WR)
            while socket.socket.recv(raw, 65536):
                pass
        except OSError:
            pass

    def _exchange(self, peer: str, conversation: Conversation) -> Optional[str]:
        """Serve one request; when the connection is done, why ("" for an orderly end)."""
        try:
            payload = wire.read_frame(self.rfile)
        except wire.FrameError as exc:
            return str(exc)
        if payload is None:
            return ""
        try:
            request = wire.decode_request(payload)
        except wire.RequestError as exc:
            return f"request did not decode: {exc}"
        reply = self.server.reply_to(conversation, request)
        log.info("%s seq=%d %s -> %s", peer, request.seq, labels.request_label(request), reply.kind)
        if self.server.delay and (reply.data or reply.close):
            time.sleep(self.server.delay)
        if reply.data and reply.drip is not None:
            self._drip(reply.data, reply.drip)
        elif reply.data:
            self.wfile.write(reply.data)
        return "" if reply.close else None

    def _drip(self, data: bytes, pause: float) -> None:
        """One byte per send, so that the client receives them one by one."""
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        for i in range(len(data)):
            self.wfile.write(data[i : i + 1])
            time.sleep(pause)
