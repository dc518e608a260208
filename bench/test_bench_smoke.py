"""Smoke tests of the benchmark tooling (not part of the main pytest run).

    .venv/bin/python -m pytest -q bench/test_bench_smoke.py

They check that the canned gateway sends what canned_content.py says, that the
pycapnp client reads it back exactly, that the summaries and target checks
compute what they claim, and that run.py --smoke completes. Nothing here
asserts a time.
"""

import json
import os
import socket
import struct
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import canned_content  # noqa: E402
import report  # noqa: E402
import run  # noqa: E402
from latency_stats import summarize  # noqa: E402

capnp = pytest.importorskip("capnp")
from pycapnp_client import PycapnpClient, load_schema  # noqa: E402


@pytest.fixture(scope="module")
def built():
    run.build(jobs=2)


@pytest.fixture
def gateway(built):
    with run.Gateways(cpu=sorted(os.sched_getaffinity(0))[0]) as gateways:
        yield gateways


def exchange(port, arm, seq):
    schema = load_schema()
    request = schema.RemoteGatewayRequest.new_message(seq=seq, **{arm: None}).to_bytes()
    with socket.create_connection(("127.0.0.1", port), timeout=10) as sock:
        sock.sendall(struct.pack(">I", len(request)) + request)
        length = struct.unpack(">I", sock.recv(4, socket.MSG_WAITALL))[0]
        payload = sock.recv(length, socket.MSG_WAITALL)
    with schema.RemoteGatewayResponse.from_bytes(payload) as response:
        which = response.which()
        if which == "error":
            return response.seq, which, (str(response.error.code), response.error.message)
        return response.seq, which, getattr(response, which)


@pytest.mark.parametrize("entries", run.CAPSET_SIZES)
def test_pycapnp_client_reads_the_canned_answers(gateway, entries):
    with PycapnpClient(port=gateway.ports[entries]) as client:
        assert client.system_motd() == canned_content.MOTD
        assert tuple(client.session_info()) == canned_content.SESSION_INFO
        assert [tuple(e) for e in client.list_capset()] == canned_content.capset(entries)
        # The seq advances per call and the gateway echoes it each time.
        assert client.system_motd() == canned_content.MOTD


@pytest.mark.parametrize("size", run.BANNER_SIZES)
def test_banner_gateways_and_the_python_floor_agree_with_canned_content(gateway, size):
    sys.path.insert(0, run.BUILD_DIR)
    import python_floor

    port = gateway.ports[run.banner_gateway(size)]
    with PycapnpClient(port=port) as client:
        assert client.system_motd() == canned_content.banner(size)
    floor = python_floor.Client(port)
    assert [floor.system_motd() for _ in range(2)] == [canned_content.banner(size)] * 2
    entries = [(e.name, e.interface_id, e.transfer_policy, e.lease_expires_at_ms) for e in floor.list_capset()]
    assert entries == canned_content.capset(10)


def test_gateway_echoes_large_seq_and_refuses_other_arms(gateway):
    port = gateway.ports[10]
    assert exchange(port, "systemMotd", 0xFFFFFFFF)[:2] == (0xFFFFFFFF, "systemMotd")
    assert exchange(port, "logout", 9) == (9, "loggedOut", True)
    seq, which, (code, message) = exchange(port, "authMethods", 12)
    assert (seq, which, code) == (12, "error", "methodDenied")
    assert "canned gateway" in message


def test_gateway_drops_an_empty_frame_and_keeps_serving(gateway):
    port = gateway.ports[10]
    with socket.create_connection(("127.0.0.1", port), timeout=10) as sock:
        sock.sendall(b"\x00\x00\x00\x00")
        assert sock.recv(1) == b""
    assert exchange(port, "systemMotd", 3)[:2] == (3, "systemMotd")


def test_summaries_use_the_middle_and_nearest_rank():
    s = summarize(list(range(1, 101)))
    assert s["median_ns"] == 50.5
    assert s["p99_ns"] == 99
    assert summarize([7])["p99_ns"] == 7
    assert summarize([3, 1, 2])["median_ns"] == 2


def test_targets_report_misses_and_unmeasured():
    measurements = {
        "system_motd()": {
            "floor": {"median_ns": 10_000, "p99_ns": 12_000, "cpu_ns_per_call": 7_000},
            "orvik": {"median_ns": 12_000, "p99_ns": 30_000, "cpu_ns_per_call": 8_000},
        },
        "list_capset() 10,000": {
            "orvik": {"median_ns": 1_000_000},
            "pycapnp": {"median_ns": 9_000_000},
        },
    }
    targets = report.evaluate_targets(measurements, {"calls": 10, "rss_before_kib": 100, "rss_after_kib": 1200}, False)
    assert [t["met"] for t in targets] == [False, False, False, True, False]
    assert targets[2]["value"] == "9.0x (content differs)"
    assert [t["met"] for t in report.evaluate_targets({}, None, None)] == [None] * 5


def test_smoke_run_completes(built, tmp_path):
    clients = "floor,library,pycapnp"
    probe = subprocess.run([sys.executable, "-c", "import orvik; orvik.Client"], cwd=HERE, capture_output=True)
    if probe.returncode == 0:
        clients += ",orvik"
    out = tmp_path / "results.json"
    done = subprocess.run(
        [sys.executable, os.path.join(HERE, "run.py"), "--smoke", "--no-build", "--clients", clients, "--json", str(out)],
        capture_output=True,
        text=True,
        timeout=600,
    )
    assert done.returncode == 0, done.stderr
    results = json.loads(out.read_text())
    assert results["failures"] == []
    for label, _, _ in run.OPERATIONS:
        for client in clients.split(","):
            assert results["measurements"][label][client]["calls"] > 0
    assert all(all(checks.values()) for checks in results["content_checks"].values())
