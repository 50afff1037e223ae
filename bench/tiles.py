"""How the tile size and the deferral threshold were chosen: circuit time for each tile size
(ZELVANIC_TILE_QUBITS) against gates applied at once, measured in the same run, rounds
interleaved, medians reported.

    python bench/tiles.py [--sizes 18 20 22 24] [--tiles 13 14 15 16 17] [--rounds 5]
"""
import argparse
import cmath
import math
import os
import random
import statistics
import time

from common import machine
from zelvanic import QuantumRegister


def random_layers(reg, n, layers=10, seed=1):
    rng = random.Random(seed)
    for _ in range(layers):
        for q in range(n):
            getattr(reg, rng.choice(("rx", "ry", "rz")))(q, rng.uniform(0, 2 * math.pi))
        order = rng.sample(range(n), n)
        for i in range(0, n - 1, 2):
            reg.cnot(order[i], order[i + 1])


def qft(reg, n):
    for t in reversed(range(n)):
        reg.h(t)
        for c in reversed(range(t)):
            reg.mcu([c], t, 1 + 0j, 0j, 0j, cmath.exp(1j * math.pi / 2 ** (t - c)))


def timed(circuit, n, tile_qubits):
    os.environ["ZELVANIC_TILE_QUBITS"] = str(tile_qubits)
    reg = QuantumRegister(n)
    start = time.perf_counter()
    circuit(reg, n)
    reg.observe_one(0)  # reads the state, so every deferred gate is applied
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--sizes", type=int, nargs="+", default=[18, 20, 22, 24])
    parser.add_argument("--tiles", type=int, nargs="+", default=[13, 14, 15, 16, 17])
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    print(f"# tiles: {machine()}")
    print("time with tiles of 2^q amplitudes / time with every gate applied at once;")
    print(f"median of {args.rounds} interleaved rounds\n")
    print("| circuit | n | " + " | ".join(f"q={q}" for q in args.tiles) + " |")
    print("|---|---|" + "---|" * len(args.tiles))
    for name, circuit in (("random", random_layers), ("qft", qft)):
        for n in args.sizes:
            ratios = {q: [] for q in args.tiles}
            for _ in range(args.rounds):
                eager = timed(circuit, n, 64)
                for q in args.tiles:
                    ratios[q].append(timed(circuit, n, q) / eager)
            cells = " | ".join(f"{statistics.median(ratios[q]):.2f}" for q in args.tiles)
            print(f"| {name} | {n} | {cells} |", flush=True)


if __name__ == "__main__":
    main()
