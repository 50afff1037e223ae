"""The markdown tables and the plot that bench/peers.py writes.

Both take `run`, a namespace of what peers.py measured: quick, gate_sizes, circuit_sizes,
gate_names, circuit_names, bound, load (average at start and end), elapsed, peers, missing,
clocks, gates {(gate, target, n): {simulator or "stream": [seconds, one a round]}}, circuits
{(circuit, n): {(simulator, fused): [seconds, one a round]}} and agreement {(circuit, n, peer,
fused): largest |p_peer - p_zelvanic|}.
"""
import math
import os
import platform
import statistics

import numpy as np

from common import cpu_name, not_a_script, vector_flags


def table_header(columns, sizes):
    """A markdown header: the named columns, then one column per register size."""
    names = list(columns) + [f"n={n}" for n in sizes]
    return "| " + " | ".join(names) + " |\n|" + "---|" * len(names)


def median(samples):
    return statistics.median(samples) if samples else math.nan


def paired(top, bottom):
    """The median of top / bottom over the rounds in which both were timed: a load that
    comes and goes on the shared machine touches both sides of each quotient alike."""
    return statistics.median(a / b for a, b in zip(top, bottom)) if top and bottom else None


def cell(value, digits=2):
    return "-" if value is None else f"{value:.{digits}f}"


def write_markdown(path, run):
    """Writes the report; returns whether every probability vector agreed."""
    gates, circuits, agreement, peers = run.gates, run.circuits, run.agreement, run.peers
    gate_sizes, circuit_sizes, clocks = run.gate_sizes, run.circuit_sizes, run.clocks
    names = ["zelvanic"] + [p.name for p in peers]
    out = []
    w = out.append
    w("# zelvanic against other state-vector simulators" + (" (quick run)" if run.quick else ""))
    w("")
    w(f"- Machine: {cpu_name()} ({vector_flags()}), {os.cpu_count()} cores shared with other "
      f"work, {platform.system()} {platform.release()}; Python {platform.python_version()}, "
      f"numpy {np.__version__}.")
    w("- Peers: " + "; ".join(f"{p.name} {p.version()}" for p in peers) + ".")
    if run.missing:
        w("- Not installed, skipped: " + "; ".join(run.missing) + ".")
    w("- One thread each: OMP_NUM_THREADS=1 before any import; qiskit-aer with "
      "max_parallel_threads=1, max_parallel_experiments=1, max_parallel_shots=1, "
      "statevector_parallel_threshold=64. Process CPU time / wall time over each simulator's "
      "timed calls: " + ", ".join(f"{k} {clocks[k].ratio():.2f}" for k in names) +
      " (not above 1: no second thread; below 1: the process waited for a core).")
    w("- The machine is shared and noisy (1-minute load average " +
      " at the start, ".join(f"{load:.1f}" for load in run.load) + " at the end). So the "
      "simulators take turns within each round of timing, the streaming-pass baseline is timed "
      "in the same rounds, a time is the median over rounds, and a ratio or fraction is the "
      "median of the quotients taken round by round. Total time "
      f"{run.elapsed / 60:.1f} min.")
    w("")

    w("## Per gate: peer seconds / zelvanic seconds")
    w("")
    w("Above 1: zelvanic is faster. Every simulator applies the gate to a preallocated state "
      "held in a dense superposition: qulacs `gate.update_quantum_state`, lightning's "
      "`StateVectorC128` methods and `applyControlledMatrix`, zelvanic's methods. qiskit-aer: "
      "its own experiment clock (no Python) for a circuit of k copies of the gate, fusion off, "
      "minus that of an empty circuit, divided by k; its register starts at |0...0>. Targets: "
      "low 0, mid n/2, high n-1; CNOT's control is 0, or n-1 for target 0; MCU = doubly "
      "controlled Rx(2 acos 0.6), its controls the other two of {0, n/2, n-1}.")
    w("")
    w(table_header(["gate", "target", "peer"], gate_sizes))
    for gate in run.gate_names:
        for label in ("low", "mid", "high"):
            for peer in names[1:]:
                cells = [cell(paired(gates[gate, label, n].get(peer),
                                     gates[gate, label, n]["zelvanic"])) for n in gate_sizes]
                w(f"| {gate} | {label} | {peer} | " + " | ".join(cells) + " |")
    w("")

    w("## Per gate: zelvanic milliseconds, and every simulator's fraction of the streaming-pass "
      "bandwidth")
    w("")
    w("Fraction = seconds of `np.multiply(x, -1.0, out=x)` over the register's bytes "
      "(2^(n+1) float64) / seconds per gate. A controlled gate touches only the half (CNOT) or "
      "quarter (MCU) of the amplitudes whose controls are 1, so it can pass 1.")
    w("")
    w(table_header(["gate", "target"], gate_sizes))
    w("| streaming pass | ms | " + " | ".join(
        f"{median(gates['h', 'low', n]['stream']) * 1e3:.3g}" for n in gate_sizes) + " |")
    for gate in run.gate_names:
        for label in ("low", "mid", "high"):
            w(f"| {gate} | {label}: zelvanic ms | " + " | ".join(
                f"{median(gates[gate, label, n]['zelvanic']) * 1e3:.3g}" for n in gate_sizes) +
              " |")
            for name in names:
                w(f"| | {name} fraction | " + " | ".join(
                    cell(paired(gates[gate, label, n]["stream"], gates[gate, label, n].get(name)))
                    for n in gate_sizes) + " |")
    w("")

    w("## Circuits: peer seconds / zelvanic seconds, from |0...0> to the probability vector")
    w("")
    w("zelvanic: `QuantumRegister(n)`, its gate methods (controlled phase through `mcu` with "
      "one control), `god_observe()` (a Python list). qulacs: a prebuilt `QuantumCircuit` "
      "(RotX/RY/RZ for our rotation sense), `update_quantum_state` on a new state, |amplitude|^2 "
      "in numpy; fusion = `QuantumCircuitOptimizer().optimize(circuit, 2)`, timed with the run. "
      "qiskit-aer: `run` of a prebuilt circuit with `save_probabilities` (wall clock, circuit "
      "conversion included); fusion forced on at every n (`fusion_threshold=1`). lightning: "
      "`StateVectorC128` and `MeasurementsC128.probs()`, no fusion exists. QFT: Ry(pi(k+1)/(n+2)) "
      "then Rz(0.7(k+1)) on qubit k first, so the result is neither uniform nor blind to the "
      "sense of the phases. Random: 20 layers of an Rx/Ry/Rz of "
      "random angle on every qubit and CNOTs on a random pairing (seed fixed).")
    w("")
    w(table_header(["circuit", "simulator"], circuit_sizes))
    for name in run.circuit_names:
        w(f"| {name} | runs | " + " | ".join(
            str(len(circuits[name, n]["zelvanic", False])) for n in circuit_sizes) + " |")
        w("| | zelvanic seconds | " + " | ".join(
            f"{median(circuits[name, n]['zelvanic', False]):.3g}" for n in circuit_sizes) + " |")
        w("| | of which `god_observe` (with the deferred gates) | " + " | ".join(
            f"{median(circuits[name, n]['god_observe', False]):.3g}" for n in circuit_sizes) +
          " |")
        for peer in peers:
            for fused in peer.fusion:
                label = f"{peer.name}, fusion {'on' if fused else 'off'}"
                if peer.fusion == (False,):
                    label = f"{peer.name} (no fusion)"
                w(f"| | {label} | " + " | ".join(
                    cell(paired(circuits[name, n][peer.name, fused],
                                circuits[name, n]["zelvanic", False])) for n in circuit_sizes) +
                  " |")
    w("")

    worst = max(agreement.values(), default=0.0)
    bad = {k: v for k, v in agreement.items() if not v <= run.bound}
    w("## Agreement of the probability vectors")
    w("")
    w(f"Largest |p_peer - p_zelvanic| over every circuit, size, peer and fusion setting: "
      f"{worst:.2e} (bound {run.bound:g}). " +
      ("All agree." if not bad else f"{len(bad)} disagree:"))
    if bad:
        w("")
        w("| circuit | n | peer | fusion | max abs difference |")
        w("|---|---|---|---|---|")
        for (name, n, peer, fused), v in sorted(bad.items()):
            w(f"| {name} | {n} | {peer} | {'on' if fused else 'off'} | {v:.2e} |")
    w("")
    w(table_header(["circuit", "peer"], circuit_sizes))
    for name in run.circuit_names:
        for peer in peers:
            for fused in peer.fusion:
                w(f"| {name} | {peer.name}{', fusion' if fused else ''} | " + " | ".join(
                    f"{agreement[name, n, peer.name, fused]:.1e}" for n in circuit_sizes) + " |")
    path.write_text("\n".join(out) + "\n")
    return not bad


def write_plot(path, run):
    gate_sizes, gates = run.gate_sizes, run.gates
    names = ["zelvanic"] + [p.name for p in run.peers]
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.ticker import EngFormatter

    colours = {"zelvanic": "tab:red", "qulacs": "tab:blue", "qiskit-aer": "tab:purple",
               "lightning": "tab:green"}
    figure, axes = plt.subplots(2, 2, figsize=(12, 9), sharex=True)
    titles = {"h": "H", "rx": "RX", "cnot": "CNOT", "mcu": "doubly controlled U"}
    for ax, gate in zip(axes.flat, run.gate_names):
        for name in names + ["stream"]:
            per_target = [[median(gates[gate, label, n].get(name)) for n in gate_sizes]
                          for label in ("low", "mid", "high")]
            middle = np.nanmedian(per_target, axis=0)
            if name == "stream":
                ax.plot(gate_sizes, middle, "k--", label="numpy in-place pass, same bytes")
                continue
            ax.plot(gate_sizes, middle, "o-", color=colours.get(name), label=name)
            ax.fill_between(gate_sizes, np.nanmin(per_target, axis=0),
                            np.nanmax(per_target, axis=0), color=colours.get(name), alpha=0.2)
        ax.set_yscale("log")
        ax.set_title(titles[gate])
        ax.set_xticks(gate_sizes)
        ax.grid(True, which="both", alpha=0.3)
        ax.yaxis.set_major_formatter(EngFormatter(unit="s"))
        ax.set_ylabel("time per gate")
    for ax in axes[1]:
        ax.set_xlabel("qubits n")
    axes[0][0].legend(loc="upper left")
    figure.suptitle("Seconds per gate, one thread each: median over targets 0, n/2, n-1 "
                    "(band: fastest to slowest target)")
    figure.tight_layout()
    figure.savefig(path, dpi=110)


if __name__ == "__main__":
    not_a_script(__doc__, "bench/peers.py")
