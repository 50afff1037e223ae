"""Seconds per measurement against an in-place streaming pass over the same bytes, and
god_observe against numpy's tolist() of as many doubles, measured in the same run.

    python bench/measure.py [--repeats R]
"""
import argparse
import time

import numpy as np

from common import StreamingPass, best_seconds, machine
from zelvanic import QuantumRegister


def uniform(n):
    reg = QuantumRegister(n)
    for q in range(n):
        reg.h(q)
    return reg


def timed_measurement(n, measure, repeats):
    """Best time of `measure` on a freshly prepared uniform superposition each time."""
    best = float("inf")
    for _ in range(repeats):
        reg = uniform(n)
        start = time.perf_counter()
        measure(reg)
        best = min(best, time.perf_counter() - start)
    return best


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--repeats", type=int, default=5)
    args = parser.parse_args()
    print(f"# measurements: {machine()}")
    print("ratio = seconds per call / seconds per baseline on the same number of amplitudes\n")
    print("| operation | n | seconds | baseline | ratio |")
    print("|---|---|---|---|---|")
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
            baseline = best_seconds(stream, args.repeats)
            seconds = timed_measurement(n, measure, args.repeats)
            print(f"| {label} | {n} | {seconds:.4g} | streaming pass {baseline:.4g} | "
                  f"{seconds / baseline:.2f} |")
        reg = uniform(n)
        array = np.full(1 << n, 1.0 / (1 << n))
        tolist = best_seconds(array.tolist, args.repeats)
        seconds = best_seconds(reg.god_observe, args.repeats)
        print(f"| god_observe() | {n} | {seconds:.4g} | tolist() {tolist:.4g} | "
              f"{seconds / tolist:.2f} |")


if __name__ == "__main__":
    main()
