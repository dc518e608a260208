"""A fast local gateway for the leak loop: answers each request with the next
pre-encoded answer of `canned_answers.CYCLE`, writing in only the seq.

    python canned_responder.py   ->  prints "listening PORT", serves until stdin closes
"""

from __future__ import annotations

import os
import socket
import struct
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from canned_answers import CLOSE_EVERY, CYCLE, SEQ_OFFSET  # noqa: E402

# Requests are tens of bytes; a 4-byte prefix could otherwise ask for 4 GiB.
MAX_REQUEST = 1 << 16
_SEQ = struct.Struct("<I")


def _read_exact(conn: socket.socket, size: int) -> bytes:
    data = b""
    while len(data) < size:
        chunk = conn.recv(size - len(data))
        if not chunk:
            raise EOFError
        data += chunk
    return data


def _serve(listener: socket.socket) -> None:
    answers = [step.answer for step in CYCLE if step.answer is not None]
    position = 0  # answers given, over all connections
    while True:
        conn, _ = listener.accept()
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        with conn:
            try:
                while True:
                    (length,) = struct.unpack(">I", _read_exact(conn, 4))
                    if not 0 < length <= MAX_REQUEST:
                        break
                    request = _read_exact(conn, length)
                    (seq,) = _SEQ.unpack_from(request, 16)
                    index = position % len(answers)
                    cycle = position // len(answers)
                    position += 1
                    if index == 0 and cycle % CLOSE_EVERY == CLOSE_EVERY - 1:
                        break  # the client sees the connection end and connects anew
                    answer = answers[index]
                    data = bytearray(answer.data)
                    if answer.seq != "none":
                        _SEQ.pack_into(data, SEQ_OFFSET, (seq + (answer.seq == "next")) & 0xFFFFFFFF)
                    conn.sendall(data)
            except (EOFError, ConnectionError):
                pass


def main() -> None:
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    threading.Thread(target=_serve, args=(listener,), daemon=True).start()
    print(f"listening {listener.getsockname()[1]}", flush=True)
    sys.stdin.read()  # until the parent goes


if __name__ == "__main__":
    main()
