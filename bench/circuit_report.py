"""The markdown report and the plot that bench/circuits.py writes.

Both take `run`, a namespace of what circuits.py measured: sizes and circuit_names done so
far; entries (each with a label and seconds {(circuit, n): [one a round]}), the first being
zelvanic and, when present, the second the previous release; gates, stream (seconds of one
streaming pass, one a round), read and baseline_read (seconds of the read alone) per
(circuit, n); agreement {(circuit, n, label): largest |p_peer - p_zelvanic|}; identical
{(circuit, n): the previous release's probabilities equal to the last bit}; and the run's
description (zelvanic, baseline, peers, missing, bounds, load, elapsed, quick, note).
"""
import math
import os
import platform
import statistics

import numpy as np

from common import cpu_flags, machine, not_a_script


def median(samples):
    return statistics.median(samples) if samples else math.nan


def paired(top, bottom):
    """The median of top / bottom over the rounds in which both ran: a load that comes and
    goes on a shared machine touches both sides of each quotient alike."""
    return statistics.median(a / b for a, b in zip(top, bottom)) if top and bottom else None


def cell(value, digits=2):
    return "-" if value is None or math.isnan(value) else f"{value:.{digits}f}"


def passes_per_gate(run, entry, key):
    gates = run.gates[key]
    return paired(entry.seconds[key], [s * gates for s in run.stream[key]])


def bound(run, label):
    return run.bounds[1] if "float32" in label else run.bounds[0]


def write_markdown(path, run):
    """Writes the report; returns whether every simulator agreed."""
    zel, *others = run.entries
    base = others[0] if run.baseline else None
    peers = others[1:] if base else others
    threads = getattr(run, "threads", 1)
    one_thread = peers.pop() if getattr(run, "one_thread", None) else None
    flags = cpu_flags()
    out = []
    w = out.append
    w("# Whole circuits: zelvanic against its previous release and other simulators" +
      (" (quick run)" if run.quick else ""))
    w("")
    if run.note:
        w(f"**{run.note}**")
        w("")
    w(f"- Machine: {machine()}; AVX2 {'yes' if 'avx2' in flags else 'no'}, AVX-512 "
      f"{'yes' if 'avx512f' in flags else 'no'}; {os.cpu_count()} cores shared with other "
      f"work; {platform.system()} {platform.release()}; numpy {np.__version__}.")
    w(f"- zelvanic: {run.zelvanic}." + (
        f" Previous release: {run.baseline.version()}, in its own venv and process, driven by "
        "the same code (bench/circuit_worker.py)." if run.baseline else
        " No previous release given (--baseline-venv), so no speed-up column."))
    w("- Peers: " + "; ".join(f"{p.name} {p.version()}" for p in run.peers) + ".")
    if run.missing:
        w("- Not installed, skipped: " + "; ".join(run.missing) + ".")
    if threads == 1:
        w("- One thread each (OMP_NUM_THREADS=1 before any import, qiskit-aer's parallel "
          "options at 1, qsim cpu_threads=1). Process CPU time / wall time over each one's "
          "timed runs: " + ", ".join(f"{e.label} {e.thread_ratio():.2f}" for e in run.entries) +
          " (not above 1: no second thread).")
    else:
        w(f"- {threads} threads each, every processor this process may run on "
          f"(BENCH_THREADS=all: ZELVANIC_THREADS={threads}, OMP_NUM_THREADS={threads} before any "
          f"import, qiskit-aer max_parallel_threads={threads}, qsim cpu_threads={threads}); "
          "zelvanic also on one thread in the same rounds. Process CPU time / wall time over "
          "each one's timed runs: " +
          ", ".join(f"{e.label} {e.thread_ratio():.2f}" for e in run.entries) + ".")
    w("- Shared, noisy machine (1-minute load average " +
      " at the start, ".join(f"{x:.1f}" for x in run.load) + " at the end): each round runs "
      "every simulator once, in an order that rotates from round to round, beside a "
      "streaming pass; times are medians over rounds, and ratios medians of the quotients "
      f"taken round by round. Total time {run.elapsed / 60:.1f} min.")
    w("")
    w("What is timed: from a fresh |0...0> through the whole circuit to one cheap read, which "
      "makes the simulator finish and show a result. zelvanic: `QuantumRegister(n)`, its gate "
      "methods (controlled phase = `mcu` with one control), then `observe_one(0)` (a sum and a "
      "collapse: about two streaming passes; its cost alone is the \"read\" column, timed by a "
      "second `observe_one(0)`). qulacs: fusion `QuantumCircuitOptimizer().optimize(c, 2)` on "
      "a fresh copy of the prebuilt circuit, `update_quantum_state` on a new state, "
      "`get_zero_probability(0)`. qiskit-aer: `run` with fusion on at every size and "
      "`save_probabilities([0])`, timed by its own experiment clock (leaves out the conversion "
      "in Python, keeps the fusion pass). lightning: `StateVectorC128` methods and `probs` of "
      "one wire; it has no fusion. qsim: float32, fusion of up to 2 or 4 qubits, the circuit "
      "translated before the clock, its run up to the amplitude of |0...0>. Passes per gate = "
      "seconds / (gates x seconds of `np.multiply(x, -1.0, out=x)` over the register's "
      "2^(n+1) doubles).")
    w("")
    for name in run.circuit_names:
        w(f"## {name}")
        w("")
        head = ["n", "gates", "rounds", "zelvanic s", "read s", "passes per gate"]
        if base:
            head += ["previous release s", "speed-up over previous release",
                     "previous release passes per gate"]
        head += [f"{p.label} / zelvanic" for p in peers]
        if one_thread:
            head += ["zelvanic 1 thread / zelvanic", f"scaling efficiency T(1) / ({threads} T)"]
        w("| " + " | ".join(head) + " |")
        w("|" + "---|" * len(head))
        for n in run.sizes:
            key = (name, n)
            row = [str(n), str(run.gates[key]), str(len(zel.seconds[key])),
                   f"{median(zel.seconds[key]):.3g}", f"{run.read[key]:.2g}",
                   cell(passes_per_gate(run, zel, key))]
            if base:
                row += [f"{median(base.seconds[key]):.3g}",
                        cell(paired(base.seconds[key], zel.seconds[key])),
                        cell(passes_per_gate(run, base, key))]
            row += [cell(paired(p.seconds[key], zel.seconds[key])) for p in peers]
            if one_thread:
                speedup = paired(one_thread.seconds[key], zel.seconds[key])
                row += [cell(speedup), cell(None if speedup is None else speedup / threads)]
            w("| " + " | ".join(row) + " |")
        w("")
        w("Seconds, median over rounds:")
        w("")
        w("| n | streaming pass | " + " | ".join(e.label for e in run.entries) + " |")
        w("|" + "---|" * (len(run.entries) + 2))
        for n in run.sizes:
            key = (name, n)
            w(f"| {n} | {median(run.stream[key]):.3g} | " + " | ".join(
                f"{median(e.seconds[key]):.3g}" for e in run.entries) + " |")
        w("")

    bad = {k: v for k, v in run.agreement.items() if not v <= bound(run, k[2])}
    differ = [k for k, same in run.identical.items() if not same]
    w("## Agreement")
    w("")
    w(f"Largest |p_peer - p_zelvanic| over all 2^n probabilities (bound {run.bounds[0]:g}, "
      f"{run.bounds[1]:g} for float32). " +
      ("All within bounds." if not bad else f"{len(bad)} outside: " + ", ".join(
          f"{c} n={n} {label} {v:.1e}" for (c, n, label), v in sorted(bad.items())) + "."))
    if one_thread:
        same = getattr(run, "same_bits_one_thread", {})
        w(f"`god_observe` on {threads} threads bit for bit equal to one thread's (SHA-256 of the "
          "doubles): " + ("yes, in every case." if all(same.values()) else "NO for " + ", ".join(
              f"{c} n={n}" for (c, n), ok in same.items() if not ok) + "."))
        differ += [k for k, ok in same.items() if not ok]
    if run.baseline:
        w(f"Previous release's `god_observe` bit for bit equal to this build's (SHA-256 of the "
          f"doubles): " + ("yes, in every case." if not differ else
                          "NO for " + ", ".join(f"{c} n={n}" for c, n in differ) + "."))
    w("")
    labels = [p.label for p in peers]
    w("| circuit | n | " + " | ".join(labels) +
      (" | previous release bit-identical" if run.baseline else "") + " |")
    w("|" + "---|" * (len(labels) + 2 + bool(run.baseline)))
    for name in run.circuit_names:
        for n in run.sizes:
            row = [f"{run.agreement[name, n, label]:.1e}" for label in labels]
            if run.baseline:
                row.append("yes" if run.identical[name, n] else "NO")
            w(f"| {name} | {n} | " + " | ".join(row) + " |")
    path.write_text("\n".join(out) + "\n")
    return not bad and not differ


def write_plot(path, run):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.ticker import FormatStrFormatter, FuncFormatter

    def two_and_five(value, _):
        """Labels the minor ticks at 2 and 5 times a power of ten, and no others."""
        leading = round(value / 10 ** math.floor(math.log10(value))) if value > 0 else 0
        return f"{value:g}" if leading in (2, 5) else ""

    zel = run.entries[0]
    colours = {"zelvanic": "tab:red", "previous release": "tab:orange", "qulacs": "tab:blue",
               "qiskit-aer": "tab:purple", "lightning": "tab:green", "qsim": "tab:gray"}
    styles = {"qsim float32, fusion 4": "s--", "zelvanic, 1 thread": "o:"}
    sizes = run.sizes
    figure, axes = plt.subplots(2, len(run.circuit_names), figsize=(12, 9), sharex=True,
                                squeeze=False)
    for column, name in enumerate(run.circuit_names):
        top, bottom = axes[0][column], axes[1][column]
        keys = [(name, n) for n in sizes]
        for entry in run.entries:
            colour = colours.get(entry.sim.name)
            style = styles.get(entry.label, "o-")
            top.plot(sizes, [median(entry.seconds[k]) for k in keys], style, color=colour,
                     label=entry.label)
            if entry is not zel:
                ratios = [paired(entry.seconds[k], zel.seconds[k]) for k in keys]
                bottom.plot(sizes, [math.nan if r is None else r for r in ratios], style,
                            color=colour, label=entry.label)
        top.plot(sizes, [median(run.stream[k]) * run.gates[k] for k in keys], "k:",
                 label="one streaming pass per gate")
        top.set_yscale("log")
        top.set_title(f"{name}: seconds from |0...0> to a read")
        top.set_ylabel("seconds")
        bottom.axhline(1.0, color="tab:red", linewidth=1)
        bottom.set_yscale("log")
        bottom.yaxis.set_major_formatter(FormatStrFormatter("%g"))
        bottom.yaxis.set_minor_formatter(FuncFormatter(two_and_five))
        bottom.set_title(f"{name}: seconds / zelvanic's, same round (above 1: zelvanic faster)")
        bottom.set_xlabel("qubits n")
        for ax in (top, bottom):
            ax.set_xticks(sizes)
            ax.grid(True, which="both", alpha=0.3)
    axes[0][0].legend(loc="upper left", fontsize="small")
    threads = getattr(run, "threads", 1)
    each = "One thread each" if threads == 1 else f"{threads} threads each"
    figure.suptitle(f"{each}. {machine()}" + (f"\n{run.note}" if run.note else ""))
    figure.tight_layout()
    figure.savefig(path, dpi=110)
    plt.close(figure)


if __name__ == "__main__":
    not_a_script(__doc__, "bench/circuits.py")
