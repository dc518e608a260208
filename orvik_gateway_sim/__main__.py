"""python -m orvik_gateway_sim: serve the simulated gateway until interrupted."""

from __future__ import annotations

import argparse
import logging
import signal
import sys
import threading
from typing import Callable, Dict, List, NoReturn, Optional, Tuple

from . import __version__
from .policy import AUTH_METHODS, DEFAULT_MOTD, Gateway

# Long enough for any time-out worth trying, short enough that time.sleep takes it.
MAX_DELAY_MS = 3_600_000


def _account(text: str) -> Tuple[str, str]:
    name, colon, password = text.partition(":")
    if not name or not colon:
        raise argparse.ArgumentTypeError("expected NAME:PASSWORD")
    return name, password


def _bounded(low: int, high: int, what: str) -> Callable[[str], int]:
    """An argument type: a whole number from `low` to `high`."""

    def convert(text: str) -> int:
        try:
            value: Optional[int] = int(text)
        except ValueError:
            value = None
        if value is None or not low <= value <= high:
            raise argparse.ArgumentTypeError(f"expected {what} from {low} to {high}, not {text!r}")
        return value

    return convert


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        # One line, not the whole usage: the mistake is what a user needs to see.
        self.exit(2, f"{self.prog}: error: {message} (see --help)\n")


def _arguments(argv: Optional[List[str]]) -> argparse.Namespace:
    parser = _Parser(prog="python -m orvik_gateway_sim", description=__doc__)
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument(
        "--port", type=_bounded(0, 65535, "a port number"), default=2327, help="0 picks a free port"
    )
    parser.add_argument("--motd", default=DEFAULT_MOTD, help="the system message of the day")
    parser.add_argument(
        "--account", type=_account, action="append", metavar="NAME:PASSWORD",
        help="a password account (repeatable); without any: operator:orvik",
    )
    parser.add_argument(
        "--disable-method", action="append", default=[], metavar="KIND",
        choices=[m.kind for m in AUTH_METHODS], help="advertise an authentication method as disabled",
    )
    parser.add_argument(
        "--delay-ms", type=_bounded(0, MAX_DELAY_MS, "a delay in milliseconds"), default=0, metavar="N",
        help="hold back every answer N milliseconds, to try a client's time-outs",
    )
    parser.add_argument(
        "--scripted", action="store_true",
        help="take scripted answers as JSON lines on stdin (the pytest fixture's channel); stop at end of input",
    )
    tls = parser.add_argument_group("TLS", "serve every connection as a TLS session (TLS 1.2 at least)")
    tls.add_argument("--tls-cert", metavar="F", help="the server's certificate chain (PEM)")
    tls.add_argument("--tls-key", metavar="F", help="its private key (PEM)")
    tls.add_argument(
        "--tls-client-ca", metavar="F",
        help="require a client certificate signed by a CA of this file (PEM)",
    )
    args = parser.parse_args(argv)
    if (args.tls_cert is None) != (args.tls_key is None):
        parser.error("--tls-cert and --tls-key go together")
    if args.tls_client_ca is not None and args.tls_cert is None:
        parser.error("--tls-client-ca needs --tls-cert and --tls-key")
    return args


def _interrupt(signum: int, frame: object) -> None:
    raise KeyboardInterrupt


def main(argv: Optional[List[str]] = None) -> int:
    args = _arguments(argv)
    logging.basicConfig(stream=sys.stderr, level=logging.INFO, format="%(asctime)s %(message)s")
    from .scripting import ScriptBook  # pycapnp is needed from here on
    from .server import GatewayServer

    accounts: Optional[Dict[str, str]] = dict(args.account) if args.account else None
    gateway = Gateway(motd=args.motd, accounts=accounts, disabled=args.disable_method)
    book = ScriptBook() if args.scripted else None
    tls_context = None
    if args.tls_cert is not None:
        import ssl

        from .tls import server_context

        try:
            tls_context = server_context(args.tls_cert, args.tls_key, args.tls_client_ca)
        except (OSError, ssl.SSLError) as exc:
            print(f"cannot use the TLS certificate {args.tls_cert} and key {args.tls_key}: {exc}", file=sys.stderr)
            return 1
    try:
        server = GatewayServer(args.host, args.port, gateway, book, delay=args.delay_ms / 1000, tls_context=tls_context)
    except OSError as exc:
        print(f"cannot listen on {args.host}:{args.port}: {exc}", file=sys.stderr)
        return 1
    # The one line on stdout before any control answer: a parent reads the real port here.
    print(f"orvik gateway simulator listening on {server.address_text}", flush=True)
    signal.signal(signal.SIGTERM, _interrupt)
    try:
        if book is None:
            server.serve_forever()
        else:
            from . import control

            # A short poll keeps shutdown() at the end of input quick: tests start and stop many children.
            threading.Thread(target=server.serve_forever, args=(0.05,), daemon=True).start()
            control.serve(book, sys.stdin, sys.stdout, server.server_names)
            server.shutdown()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
