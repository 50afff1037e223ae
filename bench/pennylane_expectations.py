"""Expectation values and parameter-shift gradients through a PennyLane QNode: zelvanic.qubit
against lightning.qubit (one thread), on the same QNodes.

Two workloads at each size: a hardware-efficient ansatz (RY and RZ on every wire, a CNOT
ladder, RY again) measured on a Heisenberg chain, and one QAOA layer measured on the MaxCut
cost of a ring. For each, the time of one expectation value and of one gradient by
parameter shift. Rounds interleave the two devices (alternating which goes first); the
table gives medians and the ratio lightning / zelvanic (above 1: zelvanic is faster).

    OMP_NUM_THREADS=1 python bench/pennylane_expectations.py [--sizes 12 16 20] [--rounds 3]
        [--out bench/results/expectations-pennylane-epyc.md]

Needs pennylane, pennylane-lightning and zelvanic-pennylane.
"""
import argparse
import importlib.metadata
import os
import statistics
import sys
import time
from pathlib import Path

os.environ.setdefault("OMP_NUM_THREADS", "1")  # before lightning loads its OpenMP runtime

import numpy as np  # noqa: E402
import pennylane as qml  # noqa: E402
from pennylane import numpy as pnp  # noqa: E402

sys.path.insert(0, str(Path(__file__).resolve().parent))
from common import machine  # noqa: E402

DEVICES = ("zelvanic.qubit", "lightning.qubit")


def heisenberg(n):
    return qml.Hamiltonian(
        [1.0] * 3 * (n - 1),
        [P(i) @ P(i + 1) for i in range(n - 1) for P in (qml.X, qml.Y, qml.Z)])


def maxcut_ring(n):
    edges = [(i, (i + 1) % n) for i in range(n)]
    return edges, qml.Hamiltonian([0.5] * n, [qml.Z(a) @ qml.Z(b) for a, b in edges])


def hea_qnode(device, n):
    hamiltonian = heisenberg(n)

    @qml.qnode(device, diff_method="parameter-shift")
    def energy(params):
        for w in range(n):
            qml.RY(params[w], wires=w)
            qml.RZ(params[n + w], wires=w)
        for w in range(n - 1):
            qml.CNOT(wires=[w, w + 1])
        for w in range(n):
            qml.RY(params[2 * n + w], wires=w)
        return qml.expval(hamiltonian)

    return energy, 3 * n


def qaoa_qnode(device, n):
    edges, cost = maxcut_ring(n)

    @qml.qnode(device, diff_method="parameter-shift")
    def energy(params):
        for w in range(n):
            qml.Hadamard(wires=w)
        for a, b in edges:
            qml.IsingZZ(params[0], wires=[a, b])
        for w in range(n):
            qml.RX(params[1], wires=w)
        return qml.expval(cost)

    return energy, 2


WORKLOADS = {"HEA + Heisenberg": hea_qnode, "QAOA MaxCut ring": qaoa_qnode}


def timed(action):
    start = time.perf_counter()
    value = action()
    return time.perf_counter() - start, value


def run(sizes, rounds):
    rows = []
    for n in sizes:
        for label, make in WORKLOADS.items():
            nodes, params = {}, None
            for name in DEVICES:
                node, count = make(qml.device(name, wires=n), n)
                nodes[name] = node
                params = pnp.array(np.random.default_rng(n).uniform(-1, 1, count),
                                   requires_grad=True)
            times = {(name, what): [] for name in DEVICES for what in ("expval", "grad")}
            values = {}
            for r in range(rounds):
                order = DEVICES if r % 2 == 0 else DEVICES[::-1]
                for what in ("expval", "grad"):
                    for name in order:
                        node = nodes[name]
                        action = (lambda node=node: node(params)) if what == "expval" else \
                            (lambda node=node: qml.grad(node)(params))
                        seconds, value = timed(action)
                        times[(name, what)].append(seconds)
                        values[(name, what)] = np.asarray(value)
            for what in ("expval", "grad"):
                difference = float(np.max(np.abs(values[(DEVICES[0], what)]
                                                 - values[(DEVICES[1], what)])))
                ours = statistics.median(times[(DEVICES[0], what)])
                theirs = statistics.median(times[(DEVICES[1], what)])
                rows.append((n, label, what, ours, theirs, theirs / ours, difference))
                print(f"n={n:2d} {label:18s} {what:6s} zelvanic {ours:8.4f} s  lightning "
                      f"{theirs:8.4f} s  ratio {theirs / ours:5.2f}  |diff| {difference:.1e}",
                      flush=True)
    return rows


def report(rows, rounds):
    lightning = importlib.metadata.version("pennylane-lightning")
    lines = [
        "# Expectation values through PennyLane: zelvanic.qubit against lightning.qubit",
        "",
        f"Machine: {machine()}, {os.cpu_count()} cores shared with other work; "
        f"OMP_NUM_THREADS={os.environ.get('OMP_NUM_THREADS')}; "
        f"PennyLane {qml.__version__}, pennylane-lightning {lightning}.",
        f"Medians of {rounds} interleaved rounds; one gradient is by parameter shift on both "
        "devices. Ratio = lightning time / zelvanic time (above 1: zelvanic is faster).",
        "`python bench/pennylane_expectations.py`",
        "",
        "| n | workload | what | zelvanic (s) | lightning (s) | ratio | max abs difference |",
        "|---|---|---|---|---|---|---|",
    ]
    for n, label, what, ours, theirs, ratio, difference in rows:
        lines.append(f"| {n} | {label} | {what} | {ours:.4f} | {theirs:.4f} | {ratio:.2f} "
                     f"| {difference:.1e} |")
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", type=int, nargs="+", default=[12, 16, 20])
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--out", type=Path)
    args = parser.parse_args()
    print(machine(), flush=True)
    text = report(run(args.sizes, args.rounds), args.rounds)
    if args.out:
        args.out.write_text(text)
        print(f"wrote {args.out}")


if __name__ == "__main__":
    main()
