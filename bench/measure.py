"""Seconds per measurement against an in-place streaming pass over the same bytes, and
god_observe against numpy's tolist() of as many doubles, measured in the same run.

    python bench/measure.py [--repeats R] [--out bench/results/measure-MACHINE.md]
"""
import argparse
import statistics
import time

import numpy as np

from common import apply_gates_at_once, Report, StreamingPass, best_seconds, paired
from zelvanic import QuantumRegister


def uniform(n):
    reg = QuantumRegister(n)
    for q in range(n):
        reg.h(q)
    return reg


def timed_measurement(n, measure, baseline, repeats):
    """(best seconds, median ratio to the baseline timed just before) of `measure` on a
    freshly prepared uniform superposition each time."""
    seconds, ratios = [], []
    for _ in range(repeats):
        reg = uniform(n)
        base = best_seconds(baseline, 1)
        start = time.perf_counter()
        measure(reg)
        took = time.perf_counter() - start
        seconds.append(took)
        ratios.append(took / base)
    return min(seconds), statistics.median(ratios)


def main():
    apply_gates_at_once()
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--repeats", type=int, default=7)
    parser.add_argument("--out", metavar="FILE.md", help="also write the report to this file")
    args = parser.parse_args()
    report = Report(args.out)
    report.line("# Measurements")
    report.line()
    report.machine(f"python bench/measure.py --repeats {args.repeats}")
    report.line("- Every measurement starts from a fresh uniform superposition, made with gates "
                "applied as they are called (ZELVANIC_TILE_QUBITS=64).")
    report.line()
    report.line("ratio = median over repeats of (seconds per call / seconds of the baseline on "
                "the same number of amplitudes, timed just before it); the baseline is an "
                "in-place streaming pass (`np.multiply(x, -1.0, out=x)` over the register's "
                "bytes) or numpy's `tolist()` of 2^n doubles; seconds = best of the repeats.")
    report.line()
    report.line("| operation | n | best seconds | baseline | ratio |")
    report.line("|---|---|---|---|---|")
    for n in (20, 24):
        stream = StreamingPass(n)
        cases = [
            ("observe()", lambda r: r.observe()),
            ("observe_one(0)", lambda r: r.observe_one(0)),
            (f"observe_one({n - 1})", lambda r, t=n - 1: r.observe_one(t)),
            ("observe_mul([0, n/2, n-1])", lambda r, n=n: r.observe_mul([0, n // 2, n - 1])),
            ("observe_mul(8 qubits)", lambda r, n=n: r.observe_mul(range(0, n, n // 8))),
        ]
        for label, measure in cases:
            seconds, ratio = timed_measurement(n, measure, stream, args.repeats)
            report.line(f"| {label} | {n} | {seconds:.4g} | streaming pass | {ratio:.2f} |")
        reg = uniform(n)
        array = np.full(1 << n, 1.0 / (1 << n))
        seconds, ratio = paired(array.tolist, reg.god_observe, args.repeats)
        report.line(f"| god_observe() | {n} | {seconds:.4g} | numpy tolist() | {ratio:.2f} |")
    report.close()


if __name__ == "__main__":
    main()
