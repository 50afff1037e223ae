"""Seconds per gate against an in-place streaming pass over the same bytes, and the cost of
a call from Python against a builtin call, measured in the same run.

    python bench/gates.py [--big] [--repeats R] [--out bench/results/gates-MACHINE.md]
"""
import argparse
import math
import statistics
import timeit

from common import apply_gates_at_once, Report, StreamingPass, paired
from zelvanic import QuantumRegister

M = (0.6 + 0j, 0.8j, 0.8j, 0.6 + 0j)  # a unitary with no zero entry


def gates(n):
    """(gate, placement, call) for every gate at low, middle and high targets; a placement
    names qubits by role (0, 1, m = n/2, h = n - 1) so rows line up across sizes."""
    role = {"0": 0, "1": 1, "m": n // 2, "h": n - 1}
    for t in ("0", "1", "m", "h"):
        q = role[t]
        yield "h", t, lambda r, q=q: r.h(q)
        yield "x", t, lambda r, q=q: r.x(q)
        yield "u", t, lambda r, q=q: r.u(q, *M)
        yield "rx", t, lambda r, q=q: r.rx(q, 0.3)
        yield "ry", t, lambda r, q=q: r.ry(q, 0.3)
        yield "rz", t, lambda r, q=q: r.rz(q, 0.3)
    for c, t in (("0", "h"), ("h", "0"), ("m", "0"), ("0", "1")):
        yield "cnot", f"{c}->{t}", lambda r, c=role[c], t=role[t]: r.cnot(c, t)
        yield "swap", f"{c},{t}", lambda r, c=role[c], t=role[t]: r.swap(c, t)
    for a, b, t in (("0", "1", "m"), ("h", "m", "0"), ("0", "m", "h")):
        qubits = (role[a], role[b], role[t])
        yield "ccnot", f"{a},{b}->{t}", lambda r, q=qubits: r.ccnot(*q)
        yield "csswap", f"{a}:{b},{t}", lambda r, q=qubits: r.csswap(*q)
    layouts = ((), "0"), ((), "h"), (("h",), "0"), (("0",), "h"), (("0", "1"), "m"), \
        (("m", "h"), "0")
    for controls, t in layouts:
        qubits = [role[c] for c in controls]
        yield "mcu", f"{','.join(controls) or '-'}->{t}", \
            lambda r, c=qubits, t=role[t]: r.mcu(c, t, *M)
    yield "mcu", "1..m-1->0", lambda r: r.mcu(list(range(1, n // 2)), 0, *M)


def gate_table(sizes, repeats):
    """{(gate, placement): {n: (best seconds, median ratio to the streaming pass)}}."""
    rows = {}
    for n in sizes:
        reg = QuantumRegister(n)
        for q in range(n):  # a dense state, every page touched before timing
            reg.h(q)
        stream = StreamingPass(n)
        for name, placement, call in gates(n):
            rows.setdefault((name, placement), {})[n] = paired(stream, lambda: call(reg), repeats)
    return rows


def call_overhead(repeats):
    """{call: (best ns per call, median over rounds of its time / the builtin's)}. Each round
    times the builtin and both methods back to back, so a shared machine's load falls on all
    three alike."""
    reg = QuantumRegister(2)
    number = 100_000
    calls = {
        "math.copysign(1.0, 2.0)": lambda: math.copysign(1.0, 2.0),
        "reg.h(0)": lambda: reg.h(0),
        "reg.cnot(control=0, target=1)": lambda: reg.cnot(control=0, target=1),
    }
    rounds = [{label: timeit.timeit(call, number=number) for label, call in calls.items()}
              for _ in range(repeats)]
    builtin = "math.copysign(1.0, 2.0)"
    return {label: (min(r[label] for r in rounds) / number * 1e9,
                    statistics.median(r[label] / r[builtin] for r in rounds))
            for label in calls}


def main():
    apply_gates_at_once()
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--big", action="store_true", help="also n = 26 (1 GiB of amplitudes)")
    parser.add_argument("--repeats", type=int, default=11)
    parser.add_argument("--out", metavar="FILE.md", help="also write the report to this file")
    args = parser.parse_args()
    sizes = [20, 24] + ([26] if args.big else [])

    report = Report(args.out)
    report.line("# Single gates and the cost of a call")
    report.line()
    report.machine("python bench/gates.py" + (" --big" if args.big else "") +
                   f" --repeats {args.repeats}")
    report.line("- Every gate is applied as it is called (ZELVANIC_TILE_QUBITS=64), to a dense "
                "superposition.")
    report.line()
    report.line("## Seconds per gate against an in-place streaming pass")
    report.line()
    report.line("ratio = median over repeats of (seconds per gate / seconds of "
                "`np.multiply(x, -1.0, out=x)` over the same bytes, timed just before it); "
                "seconds = best of the repeats; qubits by role: 0, 1, m = n/2, h = n - 1. A "
                "controlled gate touches only the amplitudes whose controls are 1, so its "
                "ratio can fall well below 1.")
    report.line()
    report.line("| gate | qubits | " +
                " | ".join(f"n={n} s | n={n} ratio" for n in sizes) + " |")
    report.line("|---|---|" + "---|---|" * len(sizes))
    for (name, target), by_n in gate_table(sizes, args.repeats).items():
        cells = " | ".join(f"{by_n[n][0]:.4g} | {by_n[n][1]:.2f}" if n in by_n else "- | -"
                           for n in sizes)
        report.line(f"| {name} | {target} | {cells} |")

    report.line()
    report.line("## A call from Python against a builtin call")
    report.line()
    report.line("ns per call = best over rounds of 100,000 calls each; ratio = median over "
                "rounds of the call's time / the builtin's in the same round.")
    report.line()
    report.line("| call on a 2-qubit register | ns per call | ratio to math.copysign(1.0, 2.0) |")
    report.line("|---|---|---|")
    for label, (ns, ratio) in call_overhead(args.repeats).items():
        report.line(f"| {label} | {ns:.1f} | {ratio:.2f} |")
    report.close()


if __name__ == "__main__":
    main()
