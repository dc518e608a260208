#!/usr/bin/env python3
"""What TLS costs a Python program, against the floor of Python over the
standard library's ssl, on the same loopback.

    python bench/tls_run.py [--calls N] [--fresh-calls M] [--smoke]

Starts the canned gateways of run.py, stunnel (TLS 1.3, a self-signed P-256
certificate made with the openssl command) in front of the 22-byte banner's
and the 10,000-entry CapSet's, and `orvik-session tunnel` to each stunnel.
Then measures, each client in a process of its own pinned to one CPU:

- pyfloor and orvik on the plain gateway (the plain ratio);
- sslfloor (the Python floor through ssl.SSLSocket) on stunnel, and orvik
  through the tunnel on stunnel (the TLS ratio): orvik reaches TLS only
  through the tunnel, whose hop is part of what it costs;
- with --fresh-calls, a new connection, its first system_motd() and its
  close: the handshake (Python's own ssl against the tunnel's).

Prints one Markdown table of medians and p99s with the ratios. The
orvik-session it runs is ORVIK_SESSION_TOOL (the developer build, which links TLS), else the one beside this Python.
"""

import argparse
import contextlib
import os
import subprocess
import sys
import tempfile
from pathlib import Path
from typing import Dict, Iterator, List

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(os.path.dirname(HERE), "tests")]

import run  # noqa: E402
from latency_stats import load_latencies, summarize  # noqa: E402
from tls_servers import stunnel  # noqa: E402

TOOL = os.environ.get("ORVIK_SESSION_TOOL") or os.path.join(os.path.dirname(sys.executable), "orvik-session")
# As the canned gateway does: an answer leaves at once, in full.
NODELAY = ("socket = l:TCP_NODELAY=1", "socket = r:TCP_NODELAY=1")
OPERATIONS = (("system_motd()", "motd", run.banner_gateway(22)), ("list_capset() 10,000", "capset", 10_000))


def self_signed(folder: str):
    cert, key = os.path.join(folder, "gateway.pem"), os.path.join(folder, "gateway.key")
    subprocess.run(
        ["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
         "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=localhost",
         "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1"],
        check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


@contextlib.contextmanager
def tunnel(port: int, ca_file: str) -> Iterator[int]:
    """orvik-session tunnel (a child per connection) to the TLS port; yields its own port."""
    process = subprocess.Popen(
        [TOOL, "--host", "localhost", "--port", str(port), "--tls", "--ca-file", ca_file,
         "tunnel", "--listen", "127.0.0.1:0"], stdout=subprocess.PIPE, text=True)
    try:
        line = process.stdout.readline()
        if not line.strip().isdigit():
            raise run.MeasurementError("orvik-session tunnel did not start (%r); ORVIK_SESSION_TOOL=%s" % (line, TOOL))
        yield int(line)
    finally:
        process.terminate()
        process.wait(timeout=10)
        process.stdout.close()


def measure(client: str, op: str, port: int, calls: int, warmup: int, cpu: int, workdir: str,
            extra: List[str]) -> Dict:
    latencies = os.path.join(workdir, "latencies.bin")
    run.run_measuring([sys.executable, os.path.join(HERE, "measure_client.py"), "--client", client,
                       "--port", str(port), "--op", op, "--calls", str(calls), "--warmup", str(warmup),
                       "--latencies", latencies, *extra], cpu)
    return summarize(load_latencies(latencies))


def main(argv: List[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--calls", type=int, default=5_000)
    parser.add_argument("--warmup", type=int, default=200)
    parser.add_argument("--fresh-calls", type=int, default=300)
    parser.add_argument("--smoke", action="store_true", help="50 calls of each")
    parser.add_argument("--no-build", action="store_true")
    args = parser.parse_args(argv)
    if args.smoke:
        args.calls, args.warmup, args.fresh_calls = 50, 5, 20
    if not args.no_build:
        run.build(2)
    cpu = run.choose_cpus("same", None)["client"]
    os.sched_setaffinity(0, {cpu})  # stunnel and the tunnel inherit it, as the gateways are pinned
    rows = [["operation", "pyfloor", "orvik", "orvik/pyfloor", "sslfloor", "orvik tunnel", "orvik tunnel/sslfloor",
             "sslfloor/pyfloor", "orvik tunnel/orvik"]]
    with contextlib.ExitStack() as stack:
        workdir = stack.enter_context(tempfile.TemporaryDirectory(prefix="orvik-tls-bench-"))
        gateways = stack.enter_context(run.Gateways(cpu))
        cert, key = self_signed(workdir)
        plans = []
        for label, op, gateway in OPERATIONS:
            plain = gateways.ports[gateway]
            tls = stack.enter_context(stunnel(Path(workdir), plain, Path(cert), Path(key), settings=NODELAY))
            plans.append((label, op, [], plain, tls, stack.enter_context(tunnel(tls, cert))))
        plans.append(("new connection + system_motd()", "motd", ["--fresh"], *plans[0][3:]))
        for label, op, fresh, plain, tls, through in plans:
            calls, warmup = (args.fresh_calls, 5) if fresh else (args.calls, args.warmup)
            median, p99 = {}, {}
            for name, client, port, extra in (("pyfloor", "pyfloor", plain, []), ("orvik", "orvik", plain, []),
                                              ("sslfloor", "sslfloor", tls, ["--ca-file", cert]),
                                              ("tunnel", "orvik", through, [])):
                m = measure(client, op, port, calls, warmup, cpu, workdir, fresh + extra)
                median[name], p99[name] = m["median_ns"] / 1e3, m["p99_ns"] / 1e3

            def cell(name: str) -> str:
                return "%.1f (p99 %.1f)" % (median[name], p99[name])

            def ratio(a: str, b: str) -> str:
                return "%.2fx" % (median[a] / median[b])

            rows.append([label, cell("pyfloor"), cell("orvik"), ratio("orvik", "pyfloor"), cell("sslfloor"),
                         cell("tunnel"), ratio("tunnel", "sslfloor"), ratio("sslfloor", "pyfloor"),
                         ratio("tunnel", "orvik")])
            print(" | ".join(rows[-1]), flush=True)
    print()
    print("| " + " | ".join(rows[0]) + " |")
    print("|---" + "|---:" * (len(rows[0]) - 1) + "|")
    for row in rows[1:]:
        print("| " + " | ".join(row) + " |")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
