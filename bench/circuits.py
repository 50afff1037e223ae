"""Whole circuits: zelvanic against other simulators, and against its own previous release.

Two circuits at n = 20, 22, 24 and 26: a seeded random circuit (10 layers: an Rx, Ry or Rz of
random angle on every qubit, then CNOTs on a random pairing of the qubits) and a QFT (after a
layer of Ry and Rz, so that the result is neither uniform nor blind to the phases). Every
simulator runs from |0...0> through the circuit to one cheap read that makes it finish and
show a result (see circuit_sims.py), on one thread, or with BENCH_THREADS=all on every
processor (bench_threads.py): then zelvanic also runs on one thread in the same rounds, for
its scaling efficiency T(1) / (N x T(N)). Reported, from medians over interleaved rounds:
  - peer seconds / zelvanic seconds, each quotient taken within one round;
  - passes per gate: zelvanic seconds / (gates x one streaming pass over the same bytes);
  - with --baseline-venv, the speed-up over an earlier release (bench/setup-baseline.sh),
    which runs in a child process driven by the same code (circuit_worker.py);
  - agreement: every peer's probabilities against zelvanic's (1e-12, 1e-5 for float32), and
    the earlier release's bit for bit.

Runs in the environment made by bench/setup-peers.sh; a peer that is not installed is skipped
and named in the report.

    build/venv-peers/bin/python bench/circuits.py [--quick] [--baseline-venv build/venv-baseline]
    BENCH_THREADS=all build/venv-peers/bin/python bench/circuits.py --name circuits-epyc-threads
"""
from circuit_sims import Baseline, Zelvanic, load_peers  # first: it sizes the thread pools

import argparse  # noqa: E402
import gc  # noqa: E402
import hashlib  # noqa: E402
import json  # noqa: E402
import math  # noqa: E402
import os  # noqa: E402
import statistics  # noqa: E402
import sys  # noqa: E402
import time  # noqa: E402
from pathlib import Path  # noqa: E402
from types import SimpleNamespace  # noqa: E402

import numpy as np  # noqa: E402

from bench_threads import THREADS  # noqa: E402
from circuit_report import write_markdown, write_plot  # noqa: E402
from common import StreamingPass, work_tree_commit  # noqa: E402
from peers import qft, random_circuit  # noqa: E402

HERE = Path(__file__).resolve().parent
EXACT, SINGLE = 1e-12, 1e-5  # agreement bounds for float64 and float32 peers


def random_layers(n):
    return random_circuit(n, layers=10)


CIRCUITS = {"random": random_layers, "QFT": qft}


class Entry:
    """One simulator at one setting, with what it measured: {(circuit, n): [seconds, one a
    round]}, and process CPU and wall time over its runs (CPU / wall above 1 would mean a
    second thread)."""

    def __init__(self, sim, setting):
        self.sim, self.setting = sim, setting
        self.label = sim.label(setting)
        self.seconds = {}
        self.cpu = self.wall = 0.0

    def time(self, key, ops, n):
        job = self.sim.prepare(ops, n, self.setting)
        if isinstance(self.sim, Baseline):  # it keeps its child's clocks itself
            seconds = self.sim.run(job)
        else:
            cpu, wall = time.process_time(), time.perf_counter()
            seconds = self.sim.run(job)
            self.wall += time.perf_counter() - wall
            self.cpu += time.process_time() - cpu
        self.seconds.setdefault(key, []).append(seconds)

    def cpu_and_wall(self):
        if isinstance(self.sim, Baseline):  # its work happens in the child process
            return self.sim.cpu + self.cpu, self.sim.wall + self.wall
        return self.cpu, self.wall

    def thread_ratio(self):
        cpu, wall = self.cpu_and_wall()
        return cpu / wall if wall else math.nan


def stream_seconds(stream):
    """The median of three passes: one figure a round, beside the simulators' runs."""
    times = []
    for _ in range(3):
        start = time.perf_counter()
        stream()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def check(key, ops, n, zel, baseline, peers, run):
    """Agreement of every simulator with zelvanic on one circuit; also the warm-up."""
    reference = zel.probabilities(ops, n, None)
    mine = hashlib.sha256(memoryview(np.ascontiguousarray(reference, np.float64))).hexdigest()
    if baseline:
        run.identical[key] = baseline.digest(ops, n) == mine
    if run.one_thread:
        run.same_bits_one_thread[key] = run.one_thread.digest(ops, n) == mine
    for peer in peers:
        for setting in peer.settings:
            difference = np.max(np.abs(peer.probabilities(ops, n, setting) - reference))
            run.agreement[key + (peer.label(setting),)] = float(difference)
            gc.collect()
    del reference
    gc.collect()


def measure_size(n, repeats, entries, zel, baseline, peers, run, log):
    stream = StreamingPass(n)
    for name, build in CIRCUITS.items():
        key = (name, n)
        ops = build(n)
        run.gates[key] = len(ops)
        check(key, ops, n, zel, baseline, peers, run)
        zel.read_seconds.clear()
        if baseline:
            baseline.read_seconds.clear()
        for r in range(repeats):
            # Each round every simulator runs once, starting one further along each time, so
            # none always follows the same neighbour on a machine whose load drifts.
            order = entries[r % len(entries):] + entries[:r % len(entries)]
            run.stream.setdefault(key, []).append(stream_seconds(stream))
            for entry in order:
                entry.time(key, ops, n)
                gc.collect()
        run.read[key] = statistics.median(zel.read_seconds)
        if baseline:
            run.baseline_read[key] = statistics.median(baseline.read_seconds)
        log(f"  n={n} {name} ({len(ops)} gates, {repeats} rounds): " + ", ".join(
            f"{e.label} {statistics.median(e.seconds[key]):.3g} s" for e in entries) +
            f"; stream {statistics.median(run.stream[key]) * 1e3:.3g} ms")
    del stream
    gc.collect()


def write_samples(path, run):
    """Every timing and check as measured: for a look beyond the report's medians, and for
    --resume."""
    def flat(table):
        return {" ".join(map(str, key)): value for key, value in table.items()}
    path.write_text(json.dumps({
        "sizes": run.sizes, "elapsed": run.elapsed,
        "seconds": {e.label: flat(e.seconds) for e in run.entries},
        "cpu and wall": {e.label: e.cpu_and_wall() for e in run.entries},
        "stream": flat(run.stream), "gates": flat(run.gates), "read": flat(run.read),
        "baseline read": flat(run.baseline_read), "agreement": flat(run.agreement),
        "identical": flat(run.identical),
        "same bits on one thread": flat(run.same_bits_one_thread)}, indent=1) + "\n")


def resume(path, run):
    """Takes over the sizes that an earlier run measured into the same report, so that a size
    which takes most of an hour can be added, or measured again, in a run of its own."""
    saved = json.loads(path.read_text())

    def table(name):
        rows = {}
        for text, value in saved.get(name, {}).items():
            circuit, n, *label = text.split(" ", 2)  # labels may hold spaces
            rows[(circuit, int(n), *label)] = value
        return rows

    run.stream, run.gates, run.read = table("stream"), table("gates"), table("read")
    run.baseline_read, run.agreement = table("baseline read"), table("agreement")
    run.identical = table("identical")
    run.same_bits_one_thread = table("same bits on one thread")
    run.sizes = sorted({n for _, n in run.gates})
    run.elapsed = saved.get("elapsed", 0.0)
    for entry in run.entries:
        entry.seconds = {(c, int(n)): v for text, v in saved["seconds"].get(entry.label, {}).items()
                         for c, n in [text.split(" ")]}
        entry.cpu, entry.wall = saved.get("cpu and wall", {}).get(entry.label, (0.0, 0.0))


def forget(n, run):
    """Drops size n from what --resume took over, before it is measured again."""
    run.sizes = [m for m in run.sizes if m != n]
    for rows in (run.stream, run.gates, run.read, run.baseline_read, run.agreement,
                 run.identical, run.same_bits_one_thread, *(e.seconds for e in run.entries)):
        for key in [k for k in rows if k[1] == n]:
            del rows[key]


def default_repeats(n):
    """Fewer rounds where one round takes minutes."""
    return 5 if n <= 22 else 3


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true",
                        help="n = 12 and 14, three rounds, results under build/")
    parser.add_argument("--sizes", type=int, nargs="*", metavar="N",
                        help="register sizes; none with --resume: only write the report again")
    parser.add_argument("--repeats", type=int, help="rounds per circuit and size")
    parser.add_argument("--baseline-venv", type=Path, metavar="PATH",
                        help="a venv holding an earlier zelvanic (bench/setup-baseline.sh)")
    parser.add_argument("--out", type=Path,
                        help="directory for the report, the plot and the samples")
    parser.add_argument("--name", default="circuits", help="file name of all three, no suffix")
    parser.add_argument("--note", help="a line under the report's title")
    parser.add_argument("--resume", action="store_true",
                        help="keep the sizes already in the report's samples (NAME.json), "
                             "measure --sizes again or anew")
    args = parser.parse_args()
    sizes = args.sizes if args.sizes is not None else (
        [12, 14] if args.quick else [20, 22, 24, 26])
    out = args.out or (HERE.parent / "build" / "circuits-quick" if args.quick
                       else HERE / "results")
    out.mkdir(parents=True, exist_ok=True)

    def log(text):
        print(text, flush=True)

    peers, missing = load_peers()
    zel = Zelvanic()
    baseline = Baseline(args.baseline_venv) if args.baseline_venv else None
    # With threads, zelvanic on one thread too, last: its column gives the scaling efficiency.
    one_thread = Zelvanic(threads=1) if THREADS > 1 else None
    sims = [zel] + ([baseline] if baseline else []) + peers + ([one_thread] if one_thread else [])
    entries = [Entry(sim, setting) for sim in sims for setting in sim.settings]
    run = SimpleNamespace(
        quick=args.quick, note=args.note, sizes=[], circuit_names=list(CIRCUITS),
        zelvanic=f"work tree {work_tree_commit()}", baseline=baseline, peers=peers,
        missing=missing, entries=entries, gates={}, stream={}, read={}, baseline_read={},
        agreement={}, identical={}, bounds=(EXACT, SINGLE), load=[os.getloadavg()[0]],
        elapsed=0.0, threads=THREADS, one_thread=one_thread, same_bits_one_thread={})
    log(f"zelvanic: {run.zelvanic}")
    if baseline:
        log(f"previous release: {baseline.version()}")
    log("peers: " + ", ".join(f"{p.name} {p.version()}" for p in peers))
    for text in missing:
        log(f"skipped, not installed: {text}")

    samples = out / f"{args.name}.json"
    if args.resume and samples.exists():
        resume(samples, run)
        log(f"resumed from {samples}: n = {run.sizes}")
    began = time.perf_counter() - run.elapsed
    def report():
        run.elapsed = time.perf_counter() - began
        run.load = run.load[:1] + [os.getloadavg()[0]]
        write_plot(out / f"{args.name}.png", run)
        write_samples(samples, run)
        return write_markdown(out / f"{args.name}.md", run)

    agree = report() if run.sizes and not sizes else True
    for n in sizes:
        repeats = args.repeats or (3 if args.quick else default_repeats(n))
        forget(n, run)
        measure_size(n, repeats, entries, zel, baseline, peers, run, log)
        # The report is rewritten after every size, so a long run shows what it has so far.
        run.sizes = sorted(run.sizes + [n])
        agree = report()
    if baseline:
        baseline.close()
    log(f"wrote {out / args.name}.md, .png and .json in {run.elapsed / 60:.1f} min")
    if not agree:
        log("results disagree: see the agreement section")
    return 0 if agree else 1


if __name__ == "__main__":
    sys.exit(main())
