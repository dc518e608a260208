"""Type-checked, never run: every public name of orvik as a program uses it,
and the simulator's fixture class. mypy --strict must find nothing here (see
check_interpreters.py)."""

from __future__ import annotations

from types import TracebackType
from typing import List, Optional

import orvik
from orvik_gateway_sim.scripted_gateway import ScriptedGateway

VERSION: str = orvik.__version__
EXPORTED: List[str] = orvik.__all__


def describe(method: orvik.AuthMethod) -> str:
    hints: List[str] = method.profile_hints
    flags: List[bool] = [method.interactive, method.enabled]
    return f"{method.kind} {method.label} {hints} {flags}"


def summary(info: orvik.SessionInfo) -> str:
    expires: int = info.expires_at_ms
    return " ".join([info.profile, info.principal_kind, info.principal_display_name, info.auth_strength,
                     info.session_id_hex, str(expires)])


def entry(cap: orvik.CapInfo) -> int:
    name: str = cap.name
    policy: str = cap.transfer_policy
    return cap.interface_id + cap.lease_expires_at_ms + len(name + policy)


def tour(gateway: ScriptedGateway, traceback: Optional[TracebackType]) -> List[str]:
    client = orvik.Client(gateway.host, gateway.port, connect_deadline_ms=5000, io_timeout_ms=1000,
                          connect_retry_interval_ms=50)
    lines = [describe(method) for method in client.list_auth_methods()]
    lines.append(summary(client.login_password("operator", "orvik", profile="operator")))
    lines.append(summary(client.login_guest()))
    lines.append(summary(client.login_anonymous("operator")))
    lines.append(summary(client.session_info()))
    motd: str = client.system_motd()
    lines.append(motd)
    lines.extend(str(entry(cap)) for cap in client.list_capset())
    lines.append(str(entry(client.get_capset_entry("system_info", 0xFBBDC602980CB986))))
    client.logout()
    done: bool = client.is_logged_out()
    with orvik.Client() as again:
        lines.append(str(again.is_logged_out() or done))
    suppressed: bool = client.__exit__(None, None, traceback)
    return lines + [str(suppressed)]
