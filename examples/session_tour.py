"""A tour of one remote session: authentication methods, a password login,
the session, the message of the day, the CapSet, one granted and one refused
entry, logout, and the same again as a `with` block.

    python examples/session_tour.py --host 127.0.0.1 --port 2327
"""

from __future__ import annotations

import argparse
import sys

import orvik

SESSION_INTERFACE_ID = 0x80B87169C39AAF1C
SYSTEM_INFO_INTERFACE_ID = 0xFBBDC602980CB986


def section(title: str) -> None:
    print(f"\n== {title}")


def show_session(info: orvik.SessionInfo) -> None:
    print(f"  profile          {info.profile}")
    print(f"  principal        {info.principal_kind} {info.principal_display_name!r}")
    print(f"  auth strength    {info.auth_strength}")
    print(f"  session id       {info.session_id_hex}")
    print(f"  expires at (ms)  {info.expires_at_ms}")


def tour(host: str, port: int) -> None:
    client = orvik.Client(host, port, connect_deadline_ms=5000, io_timeout_ms=10000)
    print(f"connected to {host}:{port}")

    section("authentication methods")
    for method in client.list_auth_methods():
        state = "enabled" if method.enabled else "disabled"
        hints = ", ".join(method.profile_hints) or "-"
        print(f"  {method.kind:<10} {state:<9} {method.label}  (profiles: {hints})")

    section("password login as operator")
    show_session(client.login_password("operator", "orvik"))

    section("session, as the gateway sees it now")
    print(f"  {client.session_info()!r}")

    section("message of the day")
    print(f"  {client.system_motd()}")

    section("CapSet")
    for entry in client.list_capset():
        print(f"  {entry.name:<12} {entry.interface_id:#018x}  {entry.transfer_policy}")

    section("fetch system_info with its own interface id")
    print(f"  {client.get_capset_entry('system_info', SYSTEM_INFO_INTERFACE_ID)!r}")

    section("fetch system_info claiming the session interface id")
    try:
        client.get_capset_entry("system_info", SESSION_INTERFACE_ID)
    except RuntimeError as refused:
        print(f"  RuntimeError: {refused}")

    section("logout")
    client.logout()
    print(f"  logged out: {client.is_logged_out()}")

    section("a with block: guest login, logged out on leaving")
    with orvik.Client(host, port, connect_deadline_ms=5000, io_timeout_ms=10000) as guest:
        info = guest.login_guest()
        print(f"  inside:  {info.principal_kind} session {info.session_id_hex}, "
              f"logged out: {guest.is_logged_out()}")
    print(f"  after:   logged out: {guest.is_logged_out()}")


def port_number(text: str) -> int:
    port = int(text)
    if not 0 <= port <= 65535:
        raise argparse.ArgumentTypeError(f"expected a port number from 0 to 65535, not {text!r}")
    return port


def main(argv: list[str] | None = None) -> int:
    # The docstring's first paragraph, whole: its first line alone stops mid-sentence.
    parser = argparse.ArgumentParser(description=" ".join(__doc__.split("\n\n")[0].split()))
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=port_number, default=2327)
    args = parser.parse_args(argv)
    try:
        tour(args.host, args.port)
    except (ConnectionError, RuntimeError) as failure:
        print(f"{type(failure).__name__}: {failure}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
