"""The benchmark's tables and target checks, as text for the terminal and as
Markdown for RESULTS.md, both built from the same rows."""

from typing import Dict, List, Optional, Sequence

# floor: the bare round trip in C; pyfloor: the least a Python extension
# must do (round trip, seq check, the result's objects); library: the C++
# client library without Python; orvik: the extension; pycapnp: the
# pure-Python alternative.
CLIENTS = ("floor", "pyfloor", "library", "orvik", "pycapnp")
# The operations of a client that has not all of them.
CLIENT_OPS = {"pyfloor": ("motd", "capset")}

# (numerator, denominator) of each ratio column.
RATIOS = (("library", "floor"), ("orvik", "floor"), ("orvik", "pyfloor"), ("pycapnp", "orvik"))

# The goals orvik is held to. They are reported, never asserted: a missed
# target is a finding, not a failed run.
MOTD_MEDIAN_VS_FLOOR = 1.10
MOTD_P99_VS_MEDIAN = 2.0
CAPSET_10K_PYCAPNP_VS_ORVIK = 5.0
MOTD_CPU_VS_FLOOR = 1.5
RSS_GROWTH_LIMIT_KIB = 1024


def _us(ns: Optional[float]) -> str:
    return "-" if ns is None else "%.1f" % (ns / 1000.0)


def _ratio(numerator: Optional[float], denominator: Optional[float]) -> str:
    if numerator is None or not denominator:
        return "-"
    return "%.2fx" % (numerator / denominator)


def _field(measurement: Dict, client: str, key: str) -> Optional[float]:
    entry = measurement.get(client) or {}
    return entry.get(key)


def latency_rows(measurements: Dict[str, Dict]) -> List[List[str]]:
    header = ["operation"]
    for client in CLIENTS:
        header += ["%s median" % client, "%s p99" % client]
    header += ["%s/%s" % pair for pair in RATIOS]
    rows = [header]
    for op, m in measurements.items():
        row = [op]
        for client in CLIENTS:
            row += [_us(_field(m, client, "median_ns")), _us(_field(m, client, "p99_ns"))]
        row += [_ratio(_field(m, a, "median_ns"), _field(m, b, "median_ns")) for a, b in RATIOS]
        rows.append(row)
    return rows


def cpu_rows(measurements: Dict[str, Dict]) -> List[List[str]]:
    rows = [["operation", *CLIENTS] + ["%s/%s" % pair for pair in RATIOS]]
    for op, m in measurements.items():
        cpu = {client: _field(m, client, "cpu_ns_per_call") for client in CLIENTS}
        rows.append([op] + [_us(cpu[client]) for client in CLIENTS] + [_ratio(cpu[a], cpu[b]) for a, b in RATIOS])
    return rows


def memory_rows(measurements: Dict[str, Dict]) -> List[List[str]]:
    """Resident set size of the Python clients after each measurement, and its peak."""
    rows = [["operation", "orvik RSS after (MiB)", "orvik peak", "pycapnp RSS after (MiB)", "pycapnp peak"]]

    def mib(kib: Optional[float]) -> str:
        return "-" if kib is None else "%.1f" % (kib / 1024.0)

    for op, m in measurements.items():
        row = [op]
        for client in ("orvik", "pycapnp"):
            row += [mib(_field(m, client, "rss_after_kib")), mib(_field(m, client, "rss_peak_kib"))]
        rows.append(row)
    return rows


def calls_rows(measurements: Dict[str, Dict]) -> List[List[str]]:
    rows = [["operation", *CLIENTS]]
    for op, m in measurements.items():
        rows.append([op] + [str((m.get(c) or {}).get("calls", "-")) for c in CLIENTS])
    return rows


def evaluate_targets(measurements: Dict[str, Dict], rss: Optional[Dict], content_equal: Optional[bool]) -> List[Dict]:
    """Each target with the measured value and whether it was met (None: not measured)."""

    def check(name: str, value: Optional[float], limit: float, at_most: bool, fmt: str) -> Dict:
        if value is None:
            return {"target": name, "value": "not measured", "met": None}
        met = value <= limit if at_most else value >= limit
        return {"target": name, "value": fmt % value, "met": met}

    def ratio(a: Optional[float], b: Optional[float]) -> Optional[float]:
        return None if a is None or not b else a / b

    motd = measurements.get("system_motd()", {})
    big = measurements.get("list_capset() 10,000", {})
    targets = [
        check(
            "system_motd() median within %.2fx of the floor" % MOTD_MEDIAN_VS_FLOOR,
            ratio(_field(motd, "orvik", "median_ns"), _field(motd, "floor", "median_ns")),
            MOTD_MEDIAN_VS_FLOOR,
            True,
            "%.2fx",
        ),
        check(
            "system_motd() p99 within %.0fx of its own median" % MOTD_P99_VS_MEDIAN,
            ratio(_field(motd, "orvik", "p99_ns"), _field(motd, "orvik", "median_ns")),
            MOTD_P99_VS_MEDIAN,
            True,
            "%.2fx",
        ),
        check(
            "list_capset() of 10,000 entries at least %.0fx faster than pycapnp" % CAPSET_10K_PYCAPNP_VS_ORVIK,
            ratio(_field(big, "pycapnp", "median_ns"), _field(big, "orvik", "median_ns")),
            CAPSET_10K_PYCAPNP_VS_ORVIK,
            False,
            "%.1fx",
        ),
        check(
            "client CPU per system_motd() within %.1fx of the floor's" % MOTD_CPU_VS_FLOOR,
            ratio(_field(motd, "orvik", "cpu_ns_per_call"), _field(motd, "floor", "cpu_ns_per_call")),
            MOTD_CPU_VS_FLOOR,
            True,
            "%.2fx",
        ),
    ]
    if rss is None or "rss_before_kib" not in rss:
        targets.append({"target": "RSS growth under 1 MiB", "value": "not measured", "met": None})
    else:
        growth = rss["rss_after_kib"] - rss["rss_before_kib"]
        targets.append(
            check(
                "RSS growth under 1 MiB across %s system_motd() calls" % format(rss["calls"], ","),
                growth,
                RSS_GROWTH_LIMIT_KIB - 1,
                True,
                "%d KiB",
            )
        )
    if content_equal is not None and targets[2]["met"] is not None:
        targets[2]["met"] = targets[2]["met"] and content_equal
        if not content_equal:
            targets[2]["value"] += " (content differs)"
    return targets


# Against the Python floor: orvik's median at most this many times the
# floor's, per operation; the large banners also at least this much faster
# than pycapnp.
FLOOR_TARGETS = (
    ("system_motd()", 1.05),
    ("list_capset() 10", 1.15),
    ("list_capset() 1,000", 1.5),
    ("list_capset() 10,000", 1.5),
    ("system_motd() 64 KiB", 1.3),
    ("system_motd() 1 MiB", 1.3),
)
LARGE_BANNER_PYCAPNP_VS_ORVIK = 1.5
LARGE_BANNERS = ("system_motd() 64 KiB", "system_motd() 1 MiB")


def evaluate_floor_targets(measurements: Dict[str, Dict], rss_capset: Optional[Dict]) -> List[Dict]:
    """The targets against the Python floor and pycapnp, and the RSS across
    list_capset() calls of 10,000 entries; shaped as evaluate_targets'."""

    def ratio_target(name: str, op: str, a: str, b: str, limit: float, at_most: bool) -> Dict:
        m = measurements.get(op, {})
        num, den = _field(m, a, "median_ns"), _field(m, b, "median_ns")
        if num is None or not den:
            return {"target": name, "value": "not measured", "met": None}
        value = num / den
        return {"target": name, "value": "%.2fx" % value, "met": value <= limit if at_most else value >= limit}

    targets = [
        ratio_target("%s median within %.2fx of the Python floor" % (op, limit), op, "orvik", "pyfloor", limit, True)
        for op, limit in FLOOR_TARGETS
    ]
    targets += [
        ratio_target("%s at least %.1fx faster than pycapnp" % (op, LARGE_BANNER_PYCAPNP_VS_ORVIK), op, "pycapnp",
                     "orvik", LARGE_BANNER_PYCAPNP_VS_ORVIK, False)
        for op in LARGE_BANNERS
    ]
    name = "RSS growth under 1 MiB across list_capset() calls of 10,000 entries"
    if rss_capset is None or "rss_before_kib" not in rss_capset:
        targets.append({"target": name, "value": "not measured", "met": None})
    else:
        growth = rss_capset["rss_after_kib"] - rss_capset["rss_before_kib"]
        targets.append({"target": name.replace("across", "across %s" % format(rss_capset["calls"], ",")),
                        "value": "%d KiB" % growth, "met": growth < RSS_GROWTH_LIMIT_KIB})
    return targets


def target_rows(targets: Sequence[Dict]) -> List[List[str]]:
    rows = [["target", "measured", "met"]]
    for t in targets:
        met = {True: "yes", False: "NO", None: "-"}[t["met"]]
        rows.append([t["target"], t["value"], met])
    return rows


def render_text(rows: List[List[str]]) -> str:
    widths = [max(len(row[i]) for row in rows) for i in range(len(rows[0]))]
    lines = []
    for n, row in enumerate(rows):
        cells = [row[0].ljust(widths[0])] + [cell.rjust(w) for cell, w in zip(row[1:], widths[1:])]
        lines.append("  ".join(cells).rstrip())
        if n == 0:
            lines.append("  ".join("-" * w for w in widths))
    return "\n".join(lines)


def render_markdown(rows: List[List[str]]) -> str:
    lines = ["| " + " | ".join(rows[0]) + " |", "|" + "|".join(["---"] + ["---:"] * (len(rows[0]) - 1)) + "|"]
    lines += ["| " + " | ".join(row) + " |" for row in rows[1:]]
    return "\n".join(lines)
