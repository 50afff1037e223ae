"""zelvanic against other state-vector simulators, every one on a single thread.

Per gate: seconds per H, RX, CNOT and doubly controlled U at a low, middle and high target,
n = 16..26, against an in-place numpy pass over the same bytes measured in the same run.
Circuits: GHZ, QFT and a seeded random circuit, n = 10..24, from a fresh |0...0> to the
probability vector, with the peers' gate fusion off and on; every peer's probabilities must
agree with zelvanic's to 1e-12.
Samplers: ZelvanicSampler against qiskit-aer's SamplerV2, 1000 shots of the same circuits built
in Qiskit and measured at their end, n = 16, 20, 24 (--only-sampler runs just these).

Runs in the environment made by bench/setup-peers.sh; a peer that is not installed is skipped
and named in the output.

    build/venv-peers/bin/python bench/peers.py [--quick] [--out DIR]
"""
from peer_sims import AerSim, SamplerPair, Zelvanic, load_peers  # first: it pins the thread pools

import argparse  # noqa: E402
import gc  # noqa: E402
import math  # noqa: E402
import os  # noqa: E402
import random  # noqa: E402
import statistics  # noqa: E402
import sys  # noqa: E402
import time  # noqa: E402
from pathlib import Path  # noqa: E402
from types import SimpleNamespace  # noqa: E402

import numpy as np  # noqa: E402

from common import StreamingPass  # noqa: E402
from peer_report import write_markdown, write_plot  # noqa: E402

HERE = Path(__file__).resolve().parent
AGREEMENT = 1e-12
THETA = 0.3
GATES = ("h", "rx", "cnot", "mcu")
SIMULATORS = ("zelvanic", "qulacs", "qiskit-aer", "lightning")
SAMPLER_SHOTS = 1000


# ---------------------------------------------------------------------------------------------
# Gates and circuits in one neutral form: (name, *qubits, angle?) with qubit k = bit k.

def gate_ops(name, target, n):
    """The gate `name` at `target`. CNOT's control is qubit 0 (n-1 for target 0); the doubly
    controlled U's controls are the other two of {0, n/2, n-1}."""
    mid = n // 2
    if name == "h":
        return ("h", target)
    if name == "rx":
        return ("rx", target, THETA)
    if name == "cnot":
        return ("cnot", n - 1 if target == 0 else 0, target)
    controls = [q for q in (0, mid, n - 1) if q != target]
    return ("mcu", controls[0], controls[1], target)


def ghz(n):
    return [("h", 0)] + [("cnot", q, q + 1) for q in range(n - 1)]


def qft(n):
    """A product state of Ry then Rz on every qubit, so that the output is neither uniform nor
    blind to the sense of the phases; then the Fourier transform from H and controlled phases,
    and the qubit reversal."""
    ops = []
    for q in range(n):
        ops += [("ry", q, math.pi * (q + 1) / (n + 2)), ("rz", q, 0.7 * (q + 1))]
    for j in reversed(range(n)):
        ops.append(("h", j))
        for k in reversed(range(j)):
            ops.append(("cp", k, j, math.pi / 2 ** (j - k)))
    ops += [("swap", q, n - 1 - q) for q in range(n // 2)]
    return ops


def random_circuit(n, layers=20, seed=20240607):
    """Each layer: a rotation of random axis and angle on every qubit, then CNOTs on a random
    pairing of the qubits."""
    rng = random.Random(seed)
    ops = []
    for _ in range(layers):
        for q in range(n):
            ops.append((rng.choice(("rx", "ry", "rz")), q, rng.uniform(0, 2 * math.pi)))
        order = list(range(n))
        rng.shuffle(order)
        ops += [("cnot", order[i], order[i + 1]) for i in range(0, n - 1, 2)]
    return ops


CIRCUITS = {"GHZ": ghz, "QFT": qft, "random": random_circuit}


# ---------------------------------------------------------------------------------------------
# Timing


class Clock:
    """Wall time and process CPU time spent in one simulator's timed calls: CPU / wall well
    above 1 would mean it used a second thread."""

    def __init__(self):
        self.wall = self.cpu = 0.0

    def time(self, action, number=1):
        """Seconds per call of action(), over `number` calls in a row."""
        return self.call(lambda: [action() for _ in range(number)])[0] / number

    def call(self, action):
        """(seconds, result) of one call of action()."""
        cpu, wall = time.process_time(), time.perf_counter()
        result = action()
        wall = time.perf_counter() - wall
        self.wall += wall
        self.cpu += time.process_time() - cpu
        return wall, result

    def ratio(self):
        return self.cpu / self.wall if self.wall else math.nan


def batch_size(estimate, target=0.02, most=256):
    """Calls per timing so that one timing lasts about `target` seconds."""
    return max(1, min(most, math.ceil(target / max(estimate, 1e-9))))


def gate_table(sizes, repeats, peers, clocks, log):
    """{(gate, target label, n): {simulator or "stream": [seconds per gate, one a round]}}."""
    table = {}
    for n in sizes:
        table.update(gate_rows(n, repeats, peers, clocks, log))
        gc.collect()  # this size's registers go before the next size's arrive
    return table


def gate_rows(n, repeats, peers, clocks, log):
    in_process = [Zelvanic()] + [p for p in peers if not isinstance(p, AerSim)]
    aer = next((p for p in peers if isinstance(p, AerSim)), None)
    states = {sim.name: sim.prepare(n) for sim in in_process}
    stream = StreamingPass(n)
    number = batch_size(clocks["stream"].time(stream))
    rows = {}
    for name in GATES:
        for label, target in (("low", 0), ("mid", n // 2), ("high", n - 1)):
            op = gate_ops(name, target, n)
            calls = {sim.name: sim.gate_call(states[sim.name], op, n) for sim in in_process}
            for call in calls.values():
                call()  # code paths warmed
            samples = {key: [] for key in ["stream", *calls]}
            if aer:
                samples[aer.name] = []
                count = max(4, batch_size(clocks["stream"].time(stream), target=0.05))
                full = aer.timed_circuit(op, n, count)
                empty = aer.timed_circuit(op, n, 0)
            # Round-robin, so that every simulator meets the same load on a shared machine.
            for _ in range(repeats):
                samples["stream"].append(clocks["stream"].time(stream, number))
                for key, call in calls.items():
                    samples[key].append(clocks[key].time(call, number))
                if aer:
                    _, (with_gates, without) = clocks[aer.name].call(lambda: (
                        aer.experiment_seconds(full), aer.experiment_seconds(empty)))
                    samples[aer.name].append((with_gates - without) / count)
            rows[name, label, n] = samples
            log(f"  n={n} {name} {label}: " + ", ".join(
                f"{k} {statistics.median(v) * 1e3:.3g} ms" for k, v in samples.items()))
    return rows


def circuit_runs(n, repeats):
    """More runs where a run takes milliseconds, fewer where it takes tens of seconds."""
    if n <= 16:
        return 3 * repeats
    return repeats if n <= 20 else max(1, repeats - 2)


def circuit_table(sizes, repeats, peers, clocks, log):
    """{(circuit, n): {(simulator, fused): [seconds, one a round]}} and
    {(circuit, n, peer, fused): largest |p_peer - p_zelvanic|}."""
    times, agreement = {}, {}
    for n in sizes:
        runs = circuit_runs(n, repeats)
        for name, build in CIRCUITS.items():
            ops = build(n)
            times[name, n] = circuit_row(name, ops, n, runs, peers, clocks, agreement)
            log(f"  n={n} {name} ({len(ops)} gates, {runs} runs): " + ", ".join(
                f"{k[0]}{'+fusion' if k[1] else ''} {statistics.median(v):.3g} s"
                for k, v in times[name, n].items()))
            gc.collect()
    return times, agreement


def circuit_row(name, ops, n, runs, peers, clocks, agreement):
    zel = Zelvanic()
    samples = {}
    reference = None
    for _ in range(runs):
        seconds, probabilities = clocks[zel.name].call(lambda: zel.run(ops, n, False))
        samples.setdefault((zel.name, False), []).append(seconds)
        samples.setdefault(("god_observe", False), []).append(zel.observe_seconds)
        if reference is None:
            reference = np.asarray(probabilities)
        del probabilities  # 2^n Python floats
        for peer in peers:
            for fused in peer.fusion:
                made = peer.circuit(ops, n) if hasattr(peer, "circuit") else ops
                seconds, probabilities = clocks[peer.name].call(
                    lambda: peer.run(made, n, fused))
                samples.setdefault((peer.name, fused), []).append(seconds)
                key = (name, n, peer.name, fused)
                error = float(np.max(np.abs(np.asarray(probabilities) - reference)))
                agreement[key] = max(agreement.get(key, 0.0), error)
    return samples


def sampler_table(pair, sizes, repeats, log):
    """{(circuit, n): {sampler: [seconds for SAMPLER_SHOTS shots, one a round]}}."""
    times = {}
    for n in sizes:
        for name, build in CIRCUITS.items():
            circuit = pair.circuit(build(n), n)
            row = times[name, n] = {key: [] for key in pair.samplers}
            for _ in range(circuit_runs(n, repeats)):
                for key in pair.samplers:  # interleaved rounds
                    start = time.perf_counter()
                    counts = pair.counts(key, circuit, SAMPLER_SHOTS)
                    row[key].append(time.perf_counter() - start)
                    assert sum(counts.values()) == SAMPLER_SHOTS
                    del counts
                gc.collect()
            log(f"  n={n} {name}: " + ", ".join(
                f"{k} {statistics.median(v):.3g} s" for k, v in row.items()))
    return times


def write_sampler_markdown(path, pair, times, repeats, load):
    lines = [
        "# ZelvanicSampler against qiskit-aer's SamplerV2",
        "",
        f"{pair.version()}. {SAMPLER_SHOTS} shots of each circuit of `bench/peers.py` (GHZ, "
        "QFT, random), built in Qiskit and measured at its end; each sampler on one thread "
        "(Aer: state-vector method, its default gate fusion). Seconds for the whole `run()`, "
        f"median of up to {repeats * 3} interleaved rounds; the ratio is Aer's time over "
        "zelvanic's (above 1: zelvanic is faster). Load average on this 2-core machine: "
        f"{load[0]:.1f} at the start, {load[1]:.1f} at the end.",
        "",
        "| circuit | n | zelvanic (s) | qiskit-aer (s) | aer / zelvanic |",
        "|---|---:|---:|---:|---:|",
    ]
    for (name, n), row in sorted(times.items(), key=lambda item: (item[0][1], item[0][0])):
        ours, aer = (statistics.median(row[k]) for k in ("zelvanic", "qiskit-aer"))
        lines.append(f"| {name} | {n} | {ours:.3g} | {aer:.3g} | {aer / ours:.2f} |")
    path.write_text("\n".join(lines) + "\n")


def run_samplers(sizes, repeats, out, log):
    try:
        pair = SamplerPair()
    except Exception as error:  # the integration or qiskit-aer missing
        log(f"skipped the samplers ({type(error).__name__}: {error})")
        return
    log(f"samplers: {pair.version()}")
    load_at_start = os.getloadavg()[0]
    times = sampler_table(pair, sizes, repeats, log)
    write_sampler_markdown(out / "peers-sampler.md", pair, times, repeats,
                           (load_at_start, os.getloadavg()[0]))
    log(f"wrote {out / 'peers-sampler.md'}")


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true",
                        help="small registers and few repeats, results under build/")
    parser.add_argument("--out", type=Path, help="directory for peers.md and peers-gates.png")
    parser.add_argument("--gate-sizes", type=int, nargs="+", metavar="N")
    parser.add_argument("--circuit-sizes", type=int, nargs="+", metavar="N")
    parser.add_argument("--sampler-sizes", type=int, nargs="+", metavar="N")
    parser.add_argument("--only-sampler", action="store_true",
                        help="only the samplers, into peers-sampler.md")
    parser.add_argument("--repeats", type=int)
    args = parser.parse_args()
    if args.quick:
        gate_sizes, circuit_sizes, repeats = [12, 14], [6, 8], 3
        out = args.out or HERE.parent / "build" / "peers-quick"
    else:
        gate_sizes, circuit_sizes, repeats = list(range(16, 27, 2)), list(range(10, 25, 2)), 5
        out = args.out or HERE / "results"
    sampler_sizes = args.sampler_sizes or ([8, 10] if args.quick else [16, 20, 24])
    gate_sizes = args.gate_sizes or gate_sizes
    circuit_sizes = args.circuit_sizes or circuit_sizes
    args.repeats = args.repeats or repeats
    out.mkdir(parents=True, exist_ok=True)

    def log(text):
        print(text, flush=True)

    if args.only_sampler:
        run_samplers(sampler_sizes, args.repeats, out, log)
        return 0

    began = time.perf_counter()
    load_at_start = os.getloadavg()[0]
    peers, missing = load_peers()
    log("peers: " + ", ".join(f"{p.name} {p.version()}" for p in peers))
    for text in missing:
        log(f"skipped, not installed: {text}")
    clocks = {name: Clock() for name in SIMULATORS + ("stream",)}

    log("per gate")
    gates = gate_table(gate_sizes, args.repeats, peers, clocks, log)
    log("circuits")
    circuits, agreement = circuit_table(circuit_sizes, args.repeats, peers, clocks, log)

    run = SimpleNamespace(
        quick=args.quick, repeats=args.repeats, gate_sizes=gate_sizes,
        circuit_sizes=circuit_sizes, gate_names=GATES, circuit_names=list(CIRCUITS),
        bound=AGREEMENT, gates=gates, circuits=circuits, agreement=agreement, peers=peers,
        missing=missing, clocks=clocks, elapsed=time.perf_counter() - began,
        load=(load_at_start, os.getloadavg()[0]))
    write_plot(out / "peers-gates.png", run)
    agree = write_markdown(out / "peers.md", run)
    log(f"wrote {out / 'peers.md'} and {out / 'peers-gates.png'} "
        f"in {(time.perf_counter() - began) / 60:.1f} min")
    log("samplers")
    run_samplers(sampler_sizes, args.repeats, out, log)
    if not agree:
        log("probability vectors disagree: see the agreement section")
    return 0 if agree else 1


if __name__ == "__main__":
    sys.exit(main())
