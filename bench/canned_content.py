"""What the canned gateway answers, computed the way canned_messages.cpp builds it.

The benchmark checks every client's decoded results against these values, so
a client (or a gateway) that measures fast by reading the wrong thing fails
the run instead of winning it.
"""

from typing import List, Tuple

MOTD = "Welcome to orvik. Every authority here is a capability; ask for what you need."

# The largest banner whose answer fits the 1 MiB frame limit (canned_messages.h).
LARGEST_BANNER = (1 << 20) - 32 - 1


def banner(size: int) -> str:
    """The canned gateway's --motd-bytes banner: MOTD and a line feed, repeated and cut."""
    line = MOTD + "\n"
    return (line * (size // len(line) + 1))[:size]

# SessionInfo as (profile, principal_kind, principal_display_name,
# auth_strength, session_id_hex, expires_at_ms).
SESSION_INFO = (
    "operator",
    "operator",
    "console operator",
    "password",
    "000aff1032547698badcfe0123456789",
    1_700_003_600_000,
)

_TRANSFER_POLICIES = ("copy", "move", "pinned")
_U64 = (1 << 64) - 1


def capset_entry(i: int) -> Tuple[str, int, str, int]:
    """Entry i as (name, interface_id, transfer_policy, lease_expires_at_ms)."""
    return (
        "cap.%05d" % i,
        0x80B87169C39AAF1C ^ ((i * 0x9E3779B97F4A7C15) & _U64),
        _TRANSFER_POLICIES[i % 3],
        1_700_000_000_000 + i * 1000,
    )


def capset(entries: int) -> List[Tuple[str, int, str, int]]:
    return [capset_entry(i) for i in range(entries)]
