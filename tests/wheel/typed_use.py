"""Type-checked, never run: every public name of orvik as a program uses it,
the simulator's fixture class and the TLS tunnel helper (each typed by its
py.typed). mypy --strict must
find nothing here (see check_interpreters.py)."""

from __future__ import annotations

from typing import List

import orvik
import orvik_tunnel
from orvik_gateway_sim.scripted_gateway import ScriptedGateway

EXPORTED: List[str] = [orvik.__version__, *orvik.__all__]


def texts(method: orvik.AuthMethod, info: orvik.SessionInfo, cap: orvik.CapInfo) -> List[str]:
    flags: List[bool] = [method.interactive, method.enabled]
    numbers: List[int] = [info.expires_at_ms, cap.interface_id, cap.lease_expires_at_ms]
    return [method.kind, method.label, *method.profile_hints, info.profile, info.principal_kind,
            info.principal_display_name, info.auth_strength, info.session_id_hex, cap.name,
            cap.transfer_policy, str(flags), str(numbers)]


def tour(gateway: ScriptedGateway) -> List[str]:
    client = orvik.Client(gateway.host, gateway.port, connect_deadline_ms=5000, io_timeout_ms=1000,
                          connect_retry_interval_ms=50)
    methods = client.list_auth_methods()
    sessions = [client.login_password("operator", "orvik", profile="operator"), client.login_guest(),
                client.login_anonymous("operator"), client.session_info()]
    caps = client.list_capset() + [client.get_capset_entry("system_info", 0xFBBDC602980CB986)]
    motd: str = client.system_motd()
    client.logout()
    with orvik.Client() as again:
        done: bool = again.is_logged_out() or client.is_logged_out()
    suppressed: bool = client.__exit__(None, None, None)
    return texts(methods[0], sessions[0], caps[0]) + [motd, str(done), str(suppressed)]


def through_tunnel(gateway: ScriptedGateway) -> str:
    try:
        with orvik_tunnel.tunnel(gateway.host, gateway.port, ca_file="ca.pem", server_name="gateway.test",
                                 io_timeout_ms=1000) as (host, port):
            with orvik.Client(host, port) as client:
                return client.system_motd()
    except orvik_tunnel.TunnelError as refused:
        return str(refused) + orvik_tunnel.find_orvik_session()
