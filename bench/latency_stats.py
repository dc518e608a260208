"""Per-call latency summaries, one definition for every client."""

import array
import math
from typing import Dict


def load_latencies(path: str) -> array.array:
    """Latencies in nanoseconds, as native int64 written by a measuring process."""
    latencies = array.array("q")
    with open(path, "rb") as f:
        latencies.frombytes(f.read())
    return latencies


def summarize(latencies) -> Dict[str, float]:
    """Median and 99th percentile (nearest rank), in nanoseconds."""
    ordered = sorted(latencies)
    n = len(ordered)
    if n == 0:
        raise ValueError("no latencies to summarize")
    middle = n // 2
    median = ordered[middle] if n % 2 else (ordered[middle - 1] + ordered[middle]) / 2
    p99 = ordered[max(0, math.ceil(0.99 * n) - 1)]
    return {"median_ns": float(median), "p99_ns": float(p99), "min_ns": float(ordered[0]), "max_ns": float(ordered[-1])}
