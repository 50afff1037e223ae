"""ZelvanicSampler on transpiled circuits: the swap test of two random product states, in
the gate sets that transpiled OpenQASM files come in (u1/u2/u3 + cx, and rz/sx/x + cx),
against qiskit-aer's SamplerV2 (state-vector method, one thread) in the same run.

"zelvanic" is the sampler as it is; "zelvanic-before" the same process with the two costs
this benchmark was written to find put back: phase gates (u1, p, s, t, z) through the
register's full-matrix `u` instead of its diagonal `rz`, and the read-out list copied to
numpy by numpy.fromiter instead of array.array. Rounds interleave the three; the table gives
medians and each time over zelvanic's.

    python bench/transpiled_sampler.py [--sizes 21 23 25] [--rounds 3] [--out FILE.md]
"""
import argparse
import statistics
import sys
import time
from contextlib import contextmanager
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent))
from common import machine  # noqa: E402

BASES = {"u1-u2-u3-cx": ["u1", "u2", "u3", "cx"], "rz-sx-x-cx": ["rz", "sx", "x", "cx"]}


def swap_test(n, basis):
    from qiskit import QuantumCircuit, transpile

    m = (n - 1) // 2
    rng = np.random.default_rng(n)
    qc = QuantumCircuit(n, 1)
    for q in range(1, n):
        qc.ry(rng.uniform(0, np.pi), q)
        qc.rz(rng.uniform(0, np.pi), q)
    qc.h(0)
    for i in range(m):
        qc.cswap(0, 1 + i, 1 + m + i)
    qc.h(0)
    qc.measure(0, 0)
    return transpile(qc, basis_gates=BASES[basis], optimization_level=1, seed_transpiler=1)


@contextmanager
def before():
    """The lowering and read-out as they were: phase gates as full matrices, and
    numpy.fromiter for the copy of the read-out list."""
    from zelvanic_qiskit import execution, lowering

    saved = lowering._unit, execution.as_array
    lowering._unit = lambda z: False
    execution.as_array = lambda listed: np.fromiter(listed, dtype=np.float64, count=len(listed))
    try:
        yield
    finally:
        lowering._unit, execution.as_array = saved


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--sizes", type=int, nargs="+", default=[21, 23, 25])
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--shots", type=int, default=1000)
    parser.add_argument("--out", type=Path)
    args = parser.parse_args()

    from qiskit_aer.primitives import SamplerV2 as AerSampler

    from zelvanic_qiskit import ZelvanicSampler

    aer = AerSampler(options={"backend_options": {
        "method": "statevector", "max_parallel_threads": 1, "max_parallel_experiments": 1,
        "max_parallel_shots": 1}})
    runs = {
        "zelvanic": lambda qc: ZelvanicSampler(seed=1).run([qc], shots=args.shots).result(),
        "zelvanic-before": lambda qc: _before(ZelvanicSampler(seed=1), qc, args.shots),
        "aer": lambda qc: aer.run([qc], shots=args.shots).result(),
    }
    rows = []
    for n in args.sizes:
        for basis in BASES:
            qc = swap_test(n, basis)
            times = {name: [] for name in runs}
            for _ in range(args.rounds):
                for name, run in runs.items():
                    start = time.perf_counter()
                    run(qc)
                    times[name].append(time.perf_counter() - start)
            medians = {name: statistics.median(t) for name, t in times.items()}
            rows.append((n, basis, qc.size(), medians))
            base = medians["zelvanic"]
            print(f"n={n} {basis} ({qc.size()} gates): " + ", ".join(
                f"{k} {v:.2f}s ({v / base:.2f})" for k, v in medians.items()), flush=True)
    lines = [f"# ZelvanicSampler on transpiled circuits: {machine()}", "",
             f"`python bench/transpiled_sampler.py --sizes {' '.join(map(str, args.sizes))} "
             f"--rounds {args.rounds}`: {args.shots} shots of a transpiled swap test, medians "
             f"of {args.rounds} interleaved rounds in seconds; in brackets each time over "
             "zelvanic's. zelvanic-before puts back phase gates as full matrices and the "
             "numpy.fromiter copy of the read-out.", "",
             "| n | gate set | gates | zelvanic | zelvanic-before | aer (1 thread) |",
             "|---|---|---|---|---|---|"]
    for n, basis, size, m in rows:
        base = m["zelvanic"]
        lines.append(f"| {n} | {basis} | {size} | {base:.2f} | "
                     f"{m['zelvanic-before']:.2f} ({m['zelvanic-before'] / base:.2f}) | "
                     f"{m['aer']:.2f} ({m['aer'] / base:.2f}) |")
    table = "\n".join(lines) + "\n"
    print(table)
    if args.out:
        args.out.write_text(table)


def _before(sampler, qc, shots):
    with before():
        return sampler.run([qc], shots=shots).result()


if __name__ == "__main__":
    main()
