"""Well-framed messages built to hurt: nesting as deep as the schema goes and
pointer graphs deeper than the nesting limit, lists at the traversal limit,
and text shared by many pointers. Each runs in a child interpreter so that
its peak memory can be measured: decoding may use memory in proportion to
the frame, never in proportion to what the frame claims."""

from __future__ import annotations

import json
import subprocess
import sys
import textwrap

import pytest

from orvik_gateway_sim import wire

from capnp_words import (
    ARM_CAPSET_LIST, ARM_CHAT_WHO_MEMBERS, ARM_SYSTEM_MOTD, INLINE_COMPOSITE, POINTER, SEQ_OFFSET, envelope, frame,
)
from conftest import IO_TIMEOUT_MS

TRAVERSAL_LIMIT_WORDS = 1 << 26
# What one call may add to the peak memory of the interpreter: the frame
# (1 MiB), records for every element it can hold (at most ~16 MiB) and the
# interpreter's own noise.
PEAK_GROWTH_LIMIT_KIB = 32 * 1024

_CHILD = textwrap.dedent(
    """
    import json, re, sys
    import orvik

    # ru_maxrss would keep the parent's peak across exec; the peak of this
    # process's own memory, reset to its current size, sees every call.
    def peak_kib():
        with open("/proc/self/status") as status:
            return int(re.search(r"VmHWM:\\s+(\\d+)", status.read()).group(1))

    port, timeout, calls = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
    client = orvik.Client("127.0.0.1", port, connect_deadline_ms=5000, io_timeout_ms=timeout)
    with open("/proc/self/clear_refs", "w") as clear_refs:
        clear_refs.write("5")
    before = peak_kib()
    outcomes = []
    for _ in range(calls):
        try:
            outcomes.append({"ok": repr(client.system_motd())[:200]})
        except RuntimeError as error:
            outcomes.append({"error": error.args[0]})
    assert all(outcome == outcomes[0] for outcome in outcomes), outcomes
    result = outcomes[0]
    result["peak_growth_kib"] = peak_kib() - before
    print(json.dumps(result))
    """
)


def call_in_child(gateway, calls: int = 1, peak_growth_limit_kib: int = PEAK_GROWTH_LIMIT_KIB) -> dict:
    """`calls` system_motd() calls in a fresh interpreter, all with the same
    outcome; that outcome and the peak memory growth."""
    done = subprocess.run(
        [sys.executable, "-c", _CHILD, str(gateway.port), str(IO_TIMEOUT_MS), str(calls)],
        capture_output=True, text=True, timeout=120,
    )
    assert done.returncode == 0, f"the interpreter died ({done.returncode}): {done.stderr[-2000:]}"
    result = json.loads(done.stdout)
    assert result["peak_growth_kib"] < peak_growth_limit_kib, result
    return result


def deepest_catalogue() -> bytes:
    """launcherCatalog -> entry -> serviceEntries -> entry -> textList -> text:
    the deepest nesting the response schema has, built by the gateway's own
    builder."""
    service = {"text0": "svc", "textList0": ["a" * 10] * 3, "textList1": ["b"]}
    entry = {
        "text0": "launcher",
        "grantRequirements": [{"text0": "grant", "value": 1}],
        "serviceEntries": [service] * 3,
        "textList": ["t"],
    }
    return wire.frame(wire.response_message("launcherCatalog", [entry] * 3, seq=1))


def chain_beyond_nesting_limit(depth: int) -> bytes:
    """A systemMotd answer whose root has a second pointer, unknown to the
    schema, leading into a chain of `depth` structs, the last pointing at
    itself. The client must read the banner and never walk the chain."""
    message, pointer0 = envelope(ARM_SYSTEM_MOTD, seq=1, pointers=2)
    message.text(pointer0, b"deep")
    at = pointer0 + 1
    for _ in range(depth):
        link = message.alloc(1)
        message.struct_pointer(at, link, 0, 1)
        at = link
    message.struct_pointer(at, at, 0, 1)
    return frame(message.serialise())


def zero_sized_structs(elements: int) -> bytes:
    """A capsetList answer of `elements` zero-sized structs: a few words that
    claim any number of entries."""
    message, pointer0 = envelope(ARM_CAPSET_LIST, seq=1)
    tag = message.alloc(1)
    message.list_pointer(pointer0, tag, INLINE_COMPOSITE, 0)
    message.composite_tag(tag, elements, 0, 0)
    return frame(message.serialise())


def shared_text(pointers: int, text_bytes: int) -> bytes:
    """A chatWhoMembers answer whose `pointers` members all point at one text
    of `text_bytes` bytes: read once per pointer, stored once."""
    message, pointer0 = envelope(ARM_CHAT_WHO_MEMBERS, seq=1)
    result = message.alloc(1)
    message.struct_pointer(pointer0, result, 0, 1)
    members = message.alloc(pointers)
    message.list_pointer(result, members, POINTER, pointers)
    text_at = message.text(members, b"m" * text_bytes)
    for i in range(1, pointers):
        message.words[members + i] = message.words[members] - (i << 2)
    assert text_at
    return frame(message.serialise())


def test_deepest_schema_nesting_decodes(gateway):
    gateway.raw(deepest_catalogue())
    result = call_in_child(gateway)
    assert result["error"] == "request systemMotd received unexpected response launcherCatalog"


@pytest.mark.parametrize("depth", [31, 32, 33, 200])
def test_pointer_graph_beyond_nesting_limit_is_not_walked(gateway, depth):
    gateway.raw(chain_beyond_nesting_limit(depth))
    assert call_in_child(gateway) == {"ok": "'deep'", "peak_growth_kib": pytest.approx(0, abs=PEAK_GROWTH_LIMIT_KIB)}


@pytest.mark.parametrize(
    "elements",
    [TRAVERSAL_LIMIT_WORDS - 16, TRAVERSAL_LIMIT_WORDS, TRAVERSAL_LIMIT_WORDS + 1, (1 << 30) - 1],
    ids=["below-limit", "at-limit", "above-limit", "largest-count"],
)
def test_zero_sized_struct_list_at_traversal_limit(gateway, elements):
    gateway.raw(zero_sized_structs(elements))
    result = call_in_child(gateway)
    assert result["error"].startswith("Cap'n Proto protocol error: "), result


def test_small_answer_claiming_many_empty_entries_costs_little(gateway):
    # 44 bytes claiming 65,536 entries, the answer to each of 60 calls: the
    # frame's own size, not the claim, bounds the records built.
    for _ in range(60):
        gateway.raw(zero_sized_structs(65536), seq_offset=SEQ_OFFSET)
    result = call_in_child(gateway, calls=60, peak_growth_limit_kib=4 * 1024)
    assert result["error"] == (
        "Cap'n Proto protocol error: "
        "Message lists more elements than it can hold (amplified list pointers)."
    ), result


# Read once per pointer, one 512 KiB text would be copied up to the traversal
# limit (512 MiB); the decoder copies no more text than the frame holds.
@pytest.mark.parametrize(
    "pointers, text_bytes",
    [(1023, 512 * 1024 - 9), (1030, 512 * 1024 - 9)],
    ids=["512MiB-below-limit", "above-limit"],
)
def test_text_shared_by_many_pointers(gateway, pointers, text_bytes):
    gateway.raw(shared_text(pointers, text_bytes))
    result = call_in_child(gateway)
    assert result["error"] == (
        "Cap'n Proto protocol error: "
        "Message holds less text than it lists (amplified text pointers)."
    ), result
