"""Measures one Python client in a process of its own.

    measure_client.py --client pyfloor|orvik|pycapnp --port P --op motd|session|capset
                      --calls N --warmup W --latencies PATH [--result PATH]
    measure_client.py --client orvik --port P [--op OP] --rss-calls M
    measure_client.py --client sslfloor --port P --ca-file F ...

The sslfloor client is the Python floor over the standard library's ssl
(python_floor.Client(stream=...)), verified against --ca-file; P is a TLS
port. With --fresh, each timed call is a new connection (and handshake) and
its first system_motd() and its close.

The first form times N calls of one operation (after W untimed ones), writes
the per-call latencies in nanoseconds (native int64) to PATH, optionally the
last call's result as JSON to --result, and prints one JSON line with the CPU
time (user, system) of the timed calls. The second form reads the resident set
size before and after M calls of the operation (system_motd() by default).
The Python floor (pyfloor) is the extension bench/python_floor.c, built into
build/bench; it has system_motd() and list_capset() only. run.py starts this script pinned
to the CPU it chose; it never measures in its own process.
"""

import argparse
import array
import json
import os
import resource
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

OPS = {"motd": "system_motd", "session": "session_info", "capset": "list_capset"}


def connect(client: str, port: int, ca_file=None):
    if client in ("pyfloor", "sslfloor"):
        sys.path.insert(0, os.path.join(os.path.dirname(HERE), "build", "bench"))
        import python_floor

        if client == "pyfloor":
            return python_floor.Client(port)
        import socket
        import ssl

        context = ssl.create_default_context(cafile=ca_file)
        stream = context.wrap_socket(socket.create_connection(("127.0.0.1", port)), server_hostname="localhost")
        stream.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        return python_floor.Client(stream=stream)
    if client == "orvik":
        import orvik

        return orvik.Client(host="127.0.0.1", port=port, connect_deadline_ms=5000)
    from pycapnp_client import PycapnpClient

    return PycapnpClient(port=port)


def plain(result):
    """A result as JSON-ready data, with orvik's and pycapnp's field names."""
    if isinstance(result, str):
        return result
    if isinstance(result, list):
        return [plain(item) for item in result]
    if hasattr(result, "interface_id"):
        return [result.name, result.interface_id, result.transfer_policy, result.lease_expires_at_ms]
    return [
        result.profile,
        result.principal_kind,
        result.principal_display_name,
        result.auth_strength,
        result.session_id_hex,
        result.expires_at_ms,
    ]


def cpu_ns() -> tuple:
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return int(usage.ru_utime * 1e9), int(usage.ru_stime * 1e9)


def rss_kib(field: str = "VmRSS") -> int:
    """Resident set size (VmRSS) or its peak (VmHWM) of this process, in KiB."""
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise RuntimeError("no %s in /proc/self/status" % field)


def time_calls(call, calls: int, warmup: int):
    for _ in range(warmup):
        call()
    latencies = array.array("q", bytes(8 * calls))
    clock = time.perf_counter_ns
    user0, sys0 = cpu_ns()
    for i in range(calls):
        start = clock()
        call()
        latencies[i] = clock() - start
    user1, sys1 = cpu_ns()
    return latencies, user1 - user0, sys1 - sys0


def measure_latency(args) -> dict:
    if args.fresh:
        def call():
            return connect(args.client, args.port, args.ca_file).system_motd()
    else:
        call = getattr(connect(args.client, args.port, args.ca_file), OPS[args.op])
    rss_before = rss_kib()
    latencies, user_ns, sys_ns = time_calls(call, args.calls, args.warmup)
    rss_after, rss_peak = rss_kib(), rss_kib("VmHWM")
    with open(args.latencies, "wb") as out:
        latencies.tofile(out)
    if args.result:
        with open(args.result, "w") as out:
            json.dump(plain(call()), out)
    return {
        "calls": args.calls,
        "user_ns": user_ns,
        "sys_ns": sys_ns,
        "rss_before_kib": rss_before,
        "rss_after_kib": rss_after,
        "rss_peak_kib": rss_peak,
    }


def measure_rss(args) -> dict:
    client = connect(args.client, args.port)
    call = getattr(client, OPS[args.op])
    # Settle allocator pools and the interpreter's caches before the baseline.
    for _ in range(args.warmup):
        call()
    before = rss_kib()
    user0, sys0 = cpu_ns()
    for _ in range(args.rss_calls):
        call()
    user1, sys1 = cpu_ns()
    after = rss_kib()
    return {
        "calls": args.rss_calls,
        "rss_before_kib": before,
        "rss_after_kib": after,
        "user_ns": user1 - user0,
        "sys_ns": sys1 - sys0,
    }


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--client", choices=("pyfloor", "sslfloor", "orvik", "pycapnp"), required=True)
    parser.add_argument("--ca-file", help="the CA the sslfloor client trusts")
    parser.add_argument("--fresh", action="store_true", help="time a new connection and its first answer")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--op", choices=sorted(OPS), default="motd")
    parser.add_argument("--calls", type=int, default=20_000)
    parser.add_argument("--warmup", type=int, default=1_000)
    parser.add_argument("--latencies")
    parser.add_argument("--result")
    parser.add_argument("--rss-calls", type=int)
    args = parser.parse_args()
    if args.rss_calls is not None:
        report = measure_rss(args)
    elif args.latencies:
        report = measure_latency(args)
    else:
        parser.error("give --latencies PATH or --rss-calls M")
    print(json.dumps(report))
    return 0


if __name__ == "__main__":
    sys.exit(main())
