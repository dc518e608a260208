"""The gateway's answers, one rule per request arm.

- ``authMethods`` and ``systemMotd`` are answered in every state: the method
  table below (password, guest, anonymous enabled; publicKey disabled, as are
  methods switched off with ``--disable-method``) and the configured banner.
- ``passwordLogin``, ``guestLogin``, ``anonymousLogin``: a disabled method is
  refused with ``disabledAuthMethod``; a profile outside the method's profile
  hints, an unknown account or a wrong password proof with
  ``authenticationDenied`` (one message for both, so that a caller cannot
  probe account names). A granted login answers ``sessionStarted`` and starts
  a session that replaces any earlier one of the connection: a random 16-byte
  session id, a principal that fits the method (password: ``operator`` when
  the profile is "operator", else ``human``, named after the account; guest:
  ``guest``; anonymous: ``anonymous`` without a name), auth strength
  ``password`` or ``none``, and an expiry one hour ahead on the boot clock
  (milliseconds since the simulator started). ``summaryValue`` is the number
  of CapSet entries the session starts with.
- ``sessionInfo``, ``capsetList``, ``capsetGet`` and ``logout`` need a
  session: without one (before login, after logout) they are refused with
  ``unauthenticated``; once the session has expired, with ``staleSession``
  (and the session is dropped).
- ``capsetGet``: a name outside the CapSet is ``unknownCap``, a known name
  asked for with another interface id ``interfaceMismatch``, else
  ``capGranted`` with the entry.
- ``logout`` ends the session and answers ``loggedOut`` true.
- Every other arm is refused with ``serviceUnavailable``.

A session belongs to the connection that started it. Nothing here does I/O.
"""

from __future__ import annotations

import hmac
import os
import time
from dataclasses import dataclass, replace
from typing import Any, Callable, Dict, Iterable, Mapping, Optional, Tuple

from .wire import Request

Answer = Tuple[str, Any]  # (response arm, value as pycapnp sets it)

DEFAULT_MOTD = "Welcome to the orvik gateway simulator."
DEFAULT_ACCOUNTS: Mapping[str, str] = {"operator": "orvik"}
SESSION_LIFETIME_MS = 60 * 60 * 1000


@dataclass(frozen=True)
class AuthMethod:
    kind: str
    label: str
    interactive: bool
    enabled: bool
    profile_hints: Tuple[str, ...]

    def to_wire(self) -> Dict[str, Any]:
        return {
            "kind": self.kind,
            "label": self.label,
            "interactive": self.interactive,
            "enabled": self.enabled,
            "profileHints": list(self.profile_hints),
        }


# Every method offers "operator": it is the profile a client asks for unless told otherwise.
AUTH_METHODS: Tuple[AuthMethod, ...] = (
    AuthMethod("password", "Account name and password", True, True, ("operator", "developer")),
    AuthMethod("guest", "Guest session", False, True, ("operator", "visitor")),
    AuthMethod("anonymous", "Anonymous session", False, True, ("operator", "observer")),
    AuthMethod("publicKey", "Public key (not offered here)", True, False, ("operator",)),
)
LOGIN_ARMS = {"passwordLogin": "password", "guestLogin": "guest", "anonymousLogin": "anonymous"}


@dataclass(frozen=True)
class CapEntry:
    name: str
    interface_id: int
    transfer_policy: str


CAPSET: Tuple[CapEntry, ...] = (
    CapEntry("session", 0x80B87169C39AAF1C, "non-transferable"),
    CapEntry("system_info", 0xFBBDC602980CB986, "copy-within-session"),
)


def error(code: str, message: str) -> Answer:
    return "error", {"code": code, "message": message}


@dataclass
class Session:
    info: Dict[str, Any]  # the SessionInfo struct as sent

    @property
    def expires_at_ms(self) -> int:
        return int(self.info["expiresAtMs"])


class Gateway:
    """What all connections share: accounts, methods, banner and the boot clock."""

    def __init__(
        self,
        motd: str = DEFAULT_MOTD,
        accounts: Optional[Mapping[str, str]] = None,
        disabled: Iterable[str] = (),
        clock: Callable[[], float] = time.monotonic,
    ) -> None:
        self.motd = motd
        self._accounts = {
            name.encode(): password.encode()
            for name, password in (DEFAULT_ACCOUNTS if accounts is None else accounts).items()
        }
        off = set(disabled)
        self.methods = tuple(replace(m, enabled=False) if m.kind in off else m for m in AUTH_METHODS)
        self._clock = clock
        self._boot = clock()

    def now_ms(self) -> int:
        return int((self._clock() - self._boot) * 1000)

    def method(self, kind: str) -> AuthMethod:
        return next(m for m in self.methods if m.kind == kind)

    def account_matches(self, name: bytes, proof: bytes) -> bool:
        expected = self._accounts.get(name)
        # compare_digest: the answer time must not tell how much of a password was right.
        return expected is not None and hmac.compare_digest(expected, proof)

    def conversation(self) -> "Conversation":
        return Conversation(self)


class Conversation:
    """The gateway's side of one connection."""

    def __init__(self, gateway: Gateway) -> None:
        self.gateway = gateway
        self.session: Optional[Session] = None

    def answer(self, request: Request) -> Answer:
        payload = request.payload or {}
        if request.arm == "authMethods":
            return "authMethods", [m.to_wire() for m in self.gateway.methods]
        if request.arm == "systemMotd":
            return "systemMotd", self.gateway.motd
        if request.arm in LOGIN_ARMS:
            return self._login(LOGIN_ARMS[request.arm], payload)
        handler = _SESSION_HANDLERS.get(request.arm)
        if handler is None:
            return error("serviceUnavailable", request.arm + " is not served by this gateway")
        refusal = self._session_refusal()
        return refusal if refusal is not None else handler(self, payload)

    def _login(self, kind: str, payload: Dict[str, Any]) -> Answer:
        method = self.gateway.method(kind)
        if not method.enabled:
            return error("disabledAuthMethod", kind + " login is disabled on this gateway")
        profile = payload.get("profile", "")
        if profile not in method.profile_hints:
            return error("authenticationDenied", f"profile {profile} is not offered for {kind} login")
        account = b""
        if kind == "password":
            account = payload.get("selector", {}).get("accountName", b"")
            if not self.gateway.account_matches(account, payload.get("proof", b"")):
                return error("authenticationDenied", "account name or password proof not accepted")
        self.session = Session(self._new_session_info(kind, profile, account.decode("utf-8", "replace")))
        return "sessionStarted", {"summaryValue": len(CAPSET), "session": self.session.info}

    def _new_session_info(self, kind: str, profile: str, account: str) -> Dict[str, Any]:
        if kind == "password":
            principal = {"kind": "operator" if profile == "operator" else "human", "displayName": account}
        else:
            principal = {"kind": kind, "displayName": "guest" if kind == "guest" else ""}
        now = self.gateway.now_ms()
        return {
            "authStrength": "password" if kind == "password" else "none",
            "generation": 1,
            "createdAtMs": now,
            "expiresAtMs": now + SESSION_LIFETIME_MS,
            "sessionId": os.urandom(16),
            "principal": principal,
            "profile": profile,
        }

    def _session_refusal(self) -> Optional[Answer]:
        if self.session is None:
            return error("unauthenticated", "log in first")
        if self.gateway.now_ms() >= self.session.expires_at_ms:
            self.session = None
            return error("staleSession", "the session has expired; log in again")
        return None

    def _session_info(self, payload: Dict[str, Any]) -> Answer:
        assert self.session is not None
        return "sessionInfo", self.session.info

    def _capset_list(self, payload: Dict[str, Any]) -> Answer:
        return "capsetList", [self._cap_entry(cap) for cap in CAPSET]

    def _capset_get(self, payload: Dict[str, Any]) -> Answer:
        name = payload.get("name", "")
        expected = payload.get("expectedInterfaceId", 0)
        cap = next((c for c in CAPSET if c.name == name), None)
        if cap is None:
            return error("unknownCap", f"no CapSet entry named {name}")
        if cap.interface_id != expected:
            return error(
                "interfaceMismatch",
                f"{name} has interface 0x{cap.interface_id:016x}, not 0x{expected:016x}",
            )
        return "capGranted", self._cap_entry(cap)

    def _logout(self, payload: Dict[str, Any]) -> Answer:
        self.session = None
        return "loggedOut", True

    def _cap_entry(self, cap: CapEntry) -> Dict[str, Any]:
        assert self.session is not None
        return {
            "name": cap.name,
            "interfaceId": cap.interface_id,
            "leaseExpiresAtMs": self.session.expires_at_ms,
            "transferPolicy": cap.transfer_policy,
        }


_SESSION_HANDLERS: Dict[str, Callable[[Conversation, Dict[str, Any]], Answer]] = {
    "sessionInfo": Conversation._session_info,
    "capsetList": Conversation._capset_list,
    "capsetGet": Conversation._capset_get,
    "logout": Conversation._logout,
}
