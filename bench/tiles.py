"""How the tile size and the deferral threshold were chosen: circuit time for each tile size
(ZELVANIC_TILE_QUBITS) against gates applied at once, measured in the same run, rounds
interleaved, medians reported.

    python bench/tiles.py [--sizes 18 20 22 24] [--tiles 13 14 15 16 17] [--rounds 5]
"""
from circuits import random_layers  # first, through peer_sims: it pins the thread pools

import argparse  # noqa: E402
import os  # noqa: E402
import statistics  # noqa: E402
import time  # noqa: E402

from circuit_worker import apply  # noqa: E402
from common import machine  # noqa: E402
from peers import qft  # noqa: E402


def timed(circuit, n, tile_qubits):
    """Seconds from a fresh register through the circuit (the same ones bench/circuits.py
    times) to the end of a read, with tiles of 2^tile_qubits amplitudes."""
    os.environ["ZELVANIC_TILE_QUBITS"] = str(tile_qubits)
    ops = circuit(n)
    start = time.perf_counter()
    apply(n, ops).observe_one(0)  # reads the state, so every deferred gate is applied
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
    for name, circuit in (("random", random_layers), ("QFT", qft)):
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
