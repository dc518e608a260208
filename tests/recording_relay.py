"""A TCP relay that records every byte it carries, for a test to search.

    python recording_relay.py TARGET_PORT RECORD_FILE

Listens on 127.0.0.1 and a free port, prints that port on stdout, and
carries each connection to 127.0.0.1:TARGET_PORT, appending what passes in
either direction to RECORD_FILE. Runs until it is killed.
"""

from __future__ import annotations

import socket
import sys
import threading
from typing import BinaryIO


def _pump(source: socket.socket, sink: socket.socket, record: BinaryIO, lock: threading.Lock) -> None:
    try:
        while data := source.recv(65536):
            with lock:
                record.write(data)
                record.flush()
            sink.sendall(data)
    except OSError:
        pass
    finally:
        for end in (sink, source):
            try:
                end.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


def main(target_port: int, record_path: str) -> None:
    listener = socket.create_server(("127.0.0.1", 0))
    print(listener.getsockname()[1], flush=True)
    lock = threading.Lock()
    with open(record_path, "ab") as record:
        while True:
            client, _ = listener.accept()
            server = socket.create_connection(("127.0.0.1", target_port))
            for source, sink in ((client, server), (server, client)):
                threading.Thread(target=_pump, args=(source, sink, record, lock), daemon=True).start()


if __name__ == "__main__":
    main(int(sys.argv[1]), sys.argv[2])
