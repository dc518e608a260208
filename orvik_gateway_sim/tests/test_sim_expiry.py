"""Session expiry on the boot clock: a pure policy check with a hand-turned clock."""

from __future__ import annotations

from orvik_gateway_sim.policy import Gateway
from orvik_gateway_sim.wire import Request


def test_expired_session_is_stale_once_then_unauthenticated() -> None:
    now = [100.0]
    conversation = Gateway(clock=lambda: now[0]).conversation()

    def ask(arm: str, payload: object = None) -> str:
        answer_arm, value = conversation.answer(Request(1, arm, payload, b""))
        return value["code"] if answer_arm == "error" else answer_arm

    assert ask("guestLogin", {"profile": "operator"}) == "sessionStarted"
    now[0] += 3599.0
    assert ask("capsetList") == "capsetList"
    now[0] += 1.0
    assert [ask("capsetList"), ask("capsetList")] == ["staleSession", "unauthenticated"]
