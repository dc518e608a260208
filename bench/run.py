#!/usr/bin/env python3
"""Measures orvik against the floors and a pycapnp client, on a canned gateway.

    python bench/run.py                 # full run (make bench)
    python bench/run.py --smoke         # a few hundred calls, to see it work
    python bench/run.py --placement split

Builds the canned C++ gateway, the C floor client and the Python floor
extension (CMake, build/bench), starts one gateway per CapSet size and per
banner size, and for system_motd() with banners of 22 bytes, 64 KiB and the
largest that fits the 1 MiB frame limit, session_info() and list_capset()
with 10, 1,000 and 10,000 entries measures per-call latency (median, p99) and
client CPU time per call for the C floor (bench/floor_client.cpp), the Python
floor (bench/python_floor.c), the C++ client library alone
(bench/library_client.cpp, to tell the library's cost from the Python
layer's), orvik, and a pure-Python client on pycapnp. Then it reads orvik's
resident set size before and after --rss-calls system_motd() calls and
--rss-capset-calls list_capset() calls of 10,000 entries. Every client runs in
a process of its own, pinned to one CPU.

Prints the tables and the targets, writes them as JSON (bench/results.json)
and, on a full run, as bench/RESULTS.md. Exits non-zero when a measurement
fails or two clients decode different content; a missed target is reported,
not an error.
"""

import argparse
import json
import os
import platform
import shlex
import subprocess
import sys
import tempfile
import time
from typing import Dict, List, Optional, Sequence

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)

import canned_content  # noqa: E402
import report  # noqa: E402
from latency_stats import load_latencies, summarize  # noqa: E402

BUILD_DIR = os.path.join(ROOT, "build", "bench")
CAPSET_SIZES = (10, 1_000, 10_000)
BANNER_SIZES = (22, 64 * 1024, canned_content.LARGEST_BANNER)


def banner_gateway(size: int):
    """The key, in Gateways.ports, of the gateway serving the banner of `size` bytes."""
    return ("banner", size)


# (label, operation, the key of the gateway that serves it: its CapSet size
# or banner_gateway(bytes))
OPERATIONS = (
    ("system_motd()", "motd", banner_gateway(22)),
    ("system_motd() 64 KiB", "motd", banner_gateway(64 * 1024)),
    ("system_motd() 1 MiB", "motd", banner_gateway(canned_content.LARGEST_BANNER)),
    ("session_info()", "session", 10),
    ("list_capset() 10", "capset", 10),
    ("list_capset() 1,000", "capset", 1_000),
    ("list_capset() 10,000", "capset", 10_000),
)

# No measuring process runs unbounded: each gets this long before it counts
# as failed.
PROCESS_TIMEOUT_S = 3600


class MeasurementError(Exception):
    pass


def parse_args(argv: Sequence[str]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--calls", type=int, default=20_000, help="timed calls per measurement (default 20,000)")
    parser.add_argument("--warmup", type=int, default=1_000, help="untimed calls before each measurement")
    parser.add_argument(
        "--pycapnp-large-calls",
        type=int,
        default=1_000,
        help="timed calls of the pycapnp client's list_capset() with 10,000 entries, which takes "
        "tens of milliseconds a call (default 1,000)",
    )
    parser.add_argument("--rss-calls", type=int, default=1_000_000, help="system_motd() calls of the RSS check")
    parser.add_argument(
        "--rss-capset-calls",
        type=int,
        default=10_000,
        help="list_capset() calls of 10,000 entries in the second RSS check (default 10,000)",
    )
    parser.add_argument("--smoke", action="store_true", help="a quick run: 200 calls, 2,000 for the RSS check")
    parser.add_argument(
        "--placement",
        choices=("same", "split"),
        default="same",
        help="same: gateway and client on one CPU (default); split: on two different CPUs",
    )
    parser.add_argument("--cpu", type=int, help="the client's CPU (default: the last one allowed)")
    parser.add_argument(
        "--clients", default=",".join(report.CLIENTS), help="comma-separated subset of the clients (default: all)"
    )
    parser.add_argument("--json", default=os.path.join(HERE, "results.json"), help="where to write the JSON")
    parser.add_argument("--markdown", help="where to write the Markdown tables (default: bench/RESULTS.md on a full run)")
    parser.add_argument("--no-build", action="store_true", help="use build/bench as it is")
    parser.add_argument("--jobs", type=int, default=2, help="parallel build jobs")
    args = parser.parse_args(argv)
    if args.smoke:
        args.calls, args.warmup, args.pycapnp_large_calls, args.rss_calls = 200, 20, 20, 2_000
        args.rss_capset_calls = 20
    args.clients = [c for c in args.clients.split(",") if c]
    unknown = set(args.clients) - set(report.CLIENTS)
    if unknown:
        parser.error("unknown clients: %s" % ", ".join(sorted(unknown)))
    if min(args.calls, args.pycapnp_large_calls, args.rss_calls, args.rss_capset_calls) <= 0 or args.warmup < 0:
        parser.error("call counts must be positive")
    if args.markdown is None and not args.smoke:
        args.markdown = os.path.join(HERE, "RESULTS.md")
    return args


def build(jobs: int) -> bool:
    """Builds the gateway and the two floors (required) and library_client.

    Returns False when only library_client failed to build: it compiles the
    client library from the working tree, which may be mid-change; the run
    then goes on without that diagnostic client.
    """
    # Configured every time: the Python floor is built for this interpreter.
    # The client library compiles utf8proc from its pinned source, as every
    # other build of it does.
    utf8proc = subprocess.run(
        [os.path.join(HERE, "..", "third_party", "fetch.sh"), "utf8proc"],
        check=True, stdout=subprocess.PIPE, text=True,
    ).stdout.strip()
    subprocess.run(
        ["cmake", "-S", HERE, "-B", BUILD_DIR, "-DCMAKE_BUILD_TYPE=Release",
         "-DPython3_EXECUTABLE=" + sys.executable, "-DORVIK_UTF8PROC_SOURCE_DIR=" + utf8proc],
        check=True,
        stdout=subprocess.DEVNULL,
    )
    subprocess.run(
        ["cmake", "--build", BUILD_DIR, "-j", str(jobs), "--target", "canned_gateway", "floor_client",
         "python_floor"],
        check=True,
        stdout=subprocess.DEVNULL,
    )
    library = subprocess.run(
        ["cmake", "--build", BUILD_DIR, "-j", str(jobs), "--target", "library_client"],
        stdout=subprocess.DEVNULL,
        stderr=subprocess.PIPE,
        text=True,
    )
    if library.returncode != 0:
        print("library_client did not build; measuring without it:\n" + library.stderr[-2000:], file=sys.stderr)
        return False
    return True


def choose_cpus(placement: str, client_cpu: Optional[int]) -> Dict[str, int]:
    allowed = sorted(os.sched_getaffinity(0))
    client = allowed[-1] if client_cpu is None else client_cpu
    if client not in allowed:
        raise SystemExit("CPU %d is not available to this process (allowed: %s)" % (client, allowed))
    if placement == "same":
        return {"client": client, "gateway": client}
    others = [cpu for cpu in allowed if cpu != client]
    if not others:
        raise SystemExit("--placement split needs two CPUs; only %s is allowed" % allowed)
    return {"client": client, "gateway": others[0]}


def pinned(cpu: int):
    def pin() -> None:
        os.sched_setaffinity(0, {cpu})

    return pin


class Gateways:
    """One canned gateway per CapSet size (with the default banner) and one per
    banner size (with 10 entries), all pinned to one CPU; `ports` by the keys
    of OPERATIONS."""

    def __init__(self, cpu: int):
        self._processes: List[subprocess.Popen] = []
        self.ports: Dict[object, int] = {}
        try:
            for entries in CAPSET_SIZES:
                self.ports[entries] = self._start(["--capset-entries", str(entries)], cpu)
            for size in BANNER_SIZES:
                self.ports[banner_gateway(size)] = self._start(["--motd-bytes", str(size)], cpu)
        except BaseException:
            self.stop()
            raise

    def _start(self, options: List[str], cpu: int) -> int:
        process = subprocess.Popen(
            [os.path.join(BUILD_DIR, "canned_gateway")] + options,
            stdout=subprocess.PIPE,
            text=True,
            preexec_fn=pinned(cpu),
        )
        self._processes.append(process)
        line = process.stdout.readline()
        if not line.startswith("listening 127.0.0.1:"):
            raise MeasurementError("canned gateway (%s) did not start: %r" % (" ".join(options), line))
        return int(line.rsplit(":", 1)[1])

    def stop(self) -> None:
        for process in self._processes:
            process.terminate()
        for process in self._processes:
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
            if process.stdout:
                process.stdout.close()

    def __enter__(self) -> "Gateways":
        return self

    def __exit__(self, *exc_info) -> None:
        self.stop()


def run_measuring(command: List[str], cpu: int) -> Dict:
    """Runs one measuring process pinned to `cpu`; returns its JSON line."""
    # Outside the source tree, so that the orvik/ source folder cannot stand
    # in for the installed extension.
    done = subprocess.run(
        command, capture_output=True, text=True, preexec_fn=pinned(cpu), timeout=PROCESS_TIMEOUT_S, cwd=HERE
    )
    if done.returncode != 0:
        raise MeasurementError(
            "%s exited with %d: %s" % (os.path.basename(command[1 if command[0] == sys.executable else 0]),
                                       done.returncode, done.stderr.strip()[-2000:])
        )
    return json.loads(done.stdout.strip().splitlines()[-1])


def measure(client: str, op: str, port: int, calls: int, warmup: int, cpu: int, workdir: str,
            result_path: Optional[str]) -> Dict:
    latencies_path = os.path.join(workdir, "latencies-%s-%s-%d.bin" % (client, op, port))
    if client in ("floor", "library"):
        command = [os.path.join(BUILD_DIR, "%s_client" % client)]
    else:
        command = [sys.executable, os.path.join(HERE, "measure_client.py"), "--client", client]
        if result_path:
            command += ["--result", result_path]
    command += ["--port", str(port), "--op", op, "--calls", str(calls), "--warmup", str(warmup),
                "--latencies", latencies_path]
    out = run_measuring(command, cpu)
    latencies = load_latencies(latencies_path)
    if len(latencies) != calls:
        raise MeasurementError("%s wrote %d latencies for %d calls" % (client, len(latencies), calls))
    entry = {key: value for key, value in out.items() if key != "calls"}
    entry["calls"] = calls
    entry["cpu_ns_per_call"] = (out["user_ns"] + out["sys_ns"]) / calls
    entry.update(summarize(latencies))
    return entry


# The clients that run in Python and hand back results to check.
PYTHON_CLIENTS = ("pyfloor", "orvik", "pycapnp")


def rss_line(rss: Optional[Dict], what: str) -> str:
    if not rss or "rss_before_kib" not in rss:
        return "orvik RSS across %s: not measured" % what
    return "orvik RSS before / after %s %s: %s KiB / %s KiB (growth %+d KiB); CPU %.1f µs/call" % (
        format(rss["calls"], ","), what, format(rss["rss_before_kib"], ","), format(rss["rss_after_kib"], ","),
        rss["rss_after_kib"] - rss["rss_before_kib"], (rss["user_ns"] + rss["sys_ns"]) / rss["calls"] / 1e3)


def expected_content(op: str, gateway):
    if op == "motd":
        return canned_content.banner(gateway[1]) if isinstance(gateway, tuple) else canned_content.MOTD
    if op == "session":
        return list(canned_content.SESSION_INFO)
    return [list(entry) for entry in canned_content.capset(gateway)]


def machine() -> Dict:
    model = "unknown"
    with open("/proc/cpuinfo") as cpuinfo:
        for line in cpuinfo:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    return {
        "nproc": os.cpu_count(),
        "cpu_model": model,
        "kernel": platform.release(),
        "python": platform.python_version(),
    }


def versions(clients: Sequence[str]) -> Dict[str, str]:
    found = {}
    probes = {"orvik": "import orvik; print(orvik.__version__)", "pycapnp": "import capnp; print(capnp.__version__)"}
    for client in clients:
        if client in probes:
            done = subprocess.run([sys.executable, "-c", probes[client]], capture_output=True, text=True, cwd=HERE)
            found[client] = done.stdout.strip() if done.returncode == 0 else "not importable"
    return found


# Everything in RESULTS.md from this line on is written by hand (analysis,
# profiles) and survives a rerun that rewrites the tables above it.
NOTES_MARKER = "<!-- hand-written notes below; run.py keeps them -->"


def kept_notes(path: str) -> str:
    try:
        with open(path) as f:
            text = f.read()
    except FileNotFoundError:
        return NOTES_MARKER + "\n"
    at = text.find(NOTES_MARKER)
    return text[at:] if at >= 0 else NOTES_MARKER + "\n"


def content_summary(checks: Dict[str, Dict[str, bool]]) -> str:
    failed = ["%s (%s)" % (op, name) for op, by in checks.items() for name, ok in by.items() if not ok]
    if failed:
        return "DIFFERS in " + ", ".join(failed)
    return "each Python client returned exactly what the gateway sent, in every measurement"


def write_markdown(path: str, results: Dict, tables: Dict[str, str]) -> None:
    m = results["machine"]
    lines = [
        "# Benchmark results",
        "",
        "Produced by `%s` on %s." % (results["command"], results["finished"]),
        "",
        "- machine: %d CPUs (`nproc`), %s, Linux %s, Python %s" % (m["nproc"], m["cpu_model"], m["kernel"], m["python"]),
        "- clients: %s" % ", ".join("%s %s" % item for item in results["versions"].items()),
        "- placement: %s" % results["placement"]["text"],
        "- load average (1 min) before / after: %.2f / %.2f" % (results["load_before"], results["load_after"]),
        "- timed calls per measurement: %s (pycapnp list_capset() of 10,000 entries: %s); %s untimed warm-up calls"
        % (format(results["calls"], ","), format(results["pycapnp_large_calls"], ","), format(results["warmup"], ",")),
        "- decoded content: %s" % content_summary(results["content_checks"]),
        "",
        "## Latency per call (µs)",
        "",
        tables["latency_md"],
        "",
        "## Client CPU time per call (µs, user + system)",
        "",
        tables["cpu_md"],
        "",
        "## Memory",
        "",
        results["rss_text"],
        "",
        "Resident set size of each measuring process after its timed calls, and its peak:",
        "",
        tables["memory_md"],
        "",
        "## Targets",
        "",
        tables["targets_md"],
        "",
    ]
    notes = kept_notes(path)
    with open(path, "w") as out:
        out.write("\n".join(lines) + "\n" + notes)


def main(argv: Sequence[str]) -> int:
    args = parse_args(argv)
    command = "python bench/run.py" + ("" if not argv else " " + " ".join(shlex.quote(a) for a in argv))
    if os.environ.get("MAKELEVEL"):
        command = "make bench" + (" BENCH_ARGS=%s" % shlex.quote(" ".join(argv)) if argv else "")
    load_before = os.getloadavg()[0]
    print("load average (1 min): %.2f on %d CPUs%s" % (
        load_before, os.cpu_count(), "  -- above 0.5: other work may add noise" if load_before > 0.5 else ""))

    if not args.no_build and not build(args.jobs):
        args.clients = [c for c in args.clients if c != "library"]
    cpus = choose_cpus(args.placement, args.cpu)
    placement = ("gateway and client pinned to CPU %d" % cpus["client"] if args.placement == "same"
                 else "client pinned to CPU %d, gateway to CPU %d" % (cpus["client"], cpus["gateway"]))
    print("placement: %s" % placement)

    failures: List[str] = []
    measurements: Dict[str, Dict] = {label: {} for label, _, _ in OPERATIONS}
    content: Dict[str, Dict[str, bool]] = {}
    rss: Optional[Dict] = None
    rss_capset: Optional[Dict] = None

    with tempfile.TemporaryDirectory(prefix="orvik-bench-") as workdir, Gateways(cpus["gateway"]) as gateways:
        for n, (label, op, gateway) in enumerate(OPERATIONS):
            port = gateways.ports[gateway]
            results_seen = {}
            for client in args.clients:
                if op not in report.CLIENT_OPS.get(client, (op,)):
                    continue
                calls = args.calls
                if client == "pycapnp" and op == "capset" and gateway >= 10_000:
                    calls = min(calls, args.pycapnp_large_calls)
                result_path = os.path.join(workdir, "result-%s-%d.json" % (client, n))
                try:
                    measurements[label][client] = measure(
                        client, op, port, calls, args.warmup, cpus["client"], workdir,
                        result_path if client in PYTHON_CLIENTS else None,
                    )
                except (MeasurementError, subprocess.TimeoutExpired, ValueError, OSError) as error:
                    failures.append("%s %s: %s" % (label, client, error))
                    measurements[label][client] = {"error": str(error)}
                    continue
                if client in PYTHON_CLIENTS:
                    with open(result_path) as f:
                        results_seen[client] = json.load(f)
                m = measurements[label][client]
                print("  %-22s %-8s %7s calls  median %8.1f us  p99 %8.1f us  cpu %8.1f us/call" % (
                    label, client, format(calls, ","), m["median_ns"] / 1e3, m["p99_ns"] / 1e3,
                    m["cpu_ns_per_call"] / 1e3), flush=True)
            expected = expected_content(op, gateway)
            checks = {client: seen == expected for client, seen in results_seen.items()}
            if {"orvik", "pycapnp"} <= results_seen.keys():
                checks["orvik == pycapnp"] = results_seen["orvik"] == results_seen["pycapnp"]
            content[label] = checks
            for name, ok in checks.items():
                if not ok:
                    failures.append("%s: %s content differs from what the gateway sent" % (label, name))

        if "orvik" in args.clients:
            try:
                rss = run_measuring(
                    [sys.executable, os.path.join(HERE, "measure_client.py"), "--client", "orvik",
                     "--port", str(gateways.ports[10]), "--warmup", str(max(args.warmup, 10_000 if not args.smoke else 0)),
                     "--rss-calls", str(args.rss_calls)],
                    cpus["client"],
                )
            except (MeasurementError, subprocess.TimeoutExpired, ValueError) as error:
                failures.append("RSS check: %s" % error)
                rss = {"error": str(error)}
            try:
                rss_capset = run_measuring(
                    [sys.executable, os.path.join(HERE, "measure_client.py"), "--client", "orvik",
                     "--port", str(gateways.ports[10_000]), "--op", "capset",
                     "--warmup", str(100 if not args.smoke else 0), "--rss-calls", str(args.rss_capset_calls)],
                    cpus["client"],
                )
            except (MeasurementError, subprocess.TimeoutExpired, ValueError) as error:
                failures.append("RSS check (list_capset): %s" % error)
                rss_capset = {"error": str(error)}

    capset_equal = content.get("list_capset() 10,000", {}).get("orvik == pycapnp")
    targets = report.evaluate_targets(measurements, rss, capset_equal)
    targets += report.evaluate_floor_targets(measurements, rss_capset)
    rss_text = "\n\n".join([rss_line(rss, "system_motd() calls"),
                            rss_line(rss_capset, "list_capset() calls of 10,000 entries")])

    tables = {
        "latency": report.render_text(report.latency_rows(measurements)),
        "cpu": report.render_text(report.cpu_rows(measurements)),
        "calls": report.render_text(report.calls_rows(measurements)),
        "memory": report.render_text(report.memory_rows(measurements)),
        "memory_md": report.render_markdown(report.memory_rows(measurements)),
        "targets": report.render_text(report.target_rows(targets)),
        "latency_md": report.render_markdown(report.latency_rows(measurements)),
        "cpu_md": report.render_markdown(report.cpu_rows(measurements)),
        "targets_md": report.render_markdown(report.target_rows(targets)),
    }
    print("\nlatency per call (us)\n" + tables["latency"])
    print("\nclient CPU per call (us, user+sys)\n" + tables["cpu"])
    print("\ntimed calls\n" + tables["calls"])
    print("\nresident set size of the measuring process\n" + tables["memory"])
    print("\n" + rss_text)
    print("\ntargets (reported, not enforced)\n" + tables["targets"])

    load_after = os.getloadavg()[0]
    results = {
        "command": command,
        "finished": time.strftime("%Y-%m-%d %H:%M:%S %Z"),
        "machine": machine(),
        "versions": versions(args.clients),
        "placement": {"mode": args.placement, "client_cpu": cpus["client"], "gateway_cpu": cpus["gateway"],
                      "text": placement},
        "load_before": load_before,
        "load_after": load_after,
        "calls": args.calls,
        "warmup": args.warmup,
        "pycapnp_large_calls": args.pycapnp_large_calls,
        "measurements": measurements,
        "content_checks": content,
        "rss": rss,
        "rss_capset": rss_capset,
        "rss_text": rss_text,
        "targets": targets,
        "failures": failures,
    }
    with open(args.json, "w") as out:
        json.dump(results, out, indent=2)
        out.write("\n")
    print("\nwrote %s" % args.json)
    if args.markdown:
        write_markdown(args.markdown, results, tables)
        print("wrote %s" % args.markdown)

    if failures:
        print("\nFAILED measurements:\n  " + "\n  ".join(failures), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
