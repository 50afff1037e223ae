"""zelvanic_mpi on 1 and 2 processes against zelvanic in one process, and the price of a gate on
a global qubit, measured in the same run.

The launcher (run it with any Python that has numpy) starts every measurement as a job of its
own, with the interpreter and mpiexec of a virtual environment that holds both zelvanic and
zelvanic_mpi, and writes the report:

    python3 -m venv build/venv-mpi
    build/venv-mpi/bin/pip install . ./integrations/mpi
    python3 bench/mpi.py [--venv build/venv-mpi] [--sizes 24 26] [--rounds 3] [--out FILE]
    python3 bench/mpi.py --quick       # n = 14 and 16, results under build/

Measured, from medians over interleaved rounds (each round runs every setting once, in an
order that rotates from round to round):
  - two circuits, a seeded random one of every gate kind and a QFT, from a fresh register to
    the end of observe_one(0), for zelvanic (one thread, and two), zelvanic_mpi on one process
    and on two (one thread each); ratios are taken round by round;
  - the first, untimed round checks that every setting gives the same probabilities to the
    last bit (SHA-256 of the doubles, block by block);
  - single gates on a dense state, applied as they are called, on one and two processes: a
    gate on a global qubit against the same gate on a local one, and against a memcpy of the
    process's block (the bytes the trade sends and receives), run by every process at once.

A job runs this file with --worker: it takes its task as JSON and writes what each process
measured to DIR/rank-R.json. It imports only the standard library and the module it times,
so the environment needs no numpy.
"""
import argparse
import cmath
import hashlib
import json
import math
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time
from array import array
from pathlib import Path

HERE = Path(__file__).resolve().parent
M = (0.6 + 0j, 0.8j, 0.8j, 0.6 + 0j)  # a unitary with no zero entry
CHUNK_BYTES = 4 << 20                 # what one MPI_Sendrecv_replace of a trade carries


# ---------------------------------------------------------------------------------------------
# Circuits, as (method, *arguments) calls; the worker and the launcher build the same lists.

def random_circuit(n, layers=4, seed=20261210):
    """Each layer: a one-qubit gate of random kind on every qubit (h, x, u, rx, ry, rz), then
    two-qubit gates (cnot, swap, mcu with one control) on a random pairing of the qubits, then
    three-qubit gates (ccnot, csswap, mcu with two controls) on random triples."""
    rng = random.Random(seed)
    ops = []
    for _ in range(layers):
        for q in range(n):
            kind = rng.choice(("h", "x", "u", "rx", "ry", "rz"))
            if kind in ("rx", "ry", "rz"):
                ops.append((kind, q, rng.uniform(0, 2 * math.pi)))
            else:
                ops.append((kind, q, *M) if kind == "u" else (kind, q))
        order = list(range(n))
        rng.shuffle(order)
        for a, b in zip(order[0::2], order[1::2]):
            kind = rng.choice(("cnot", "swap", "mcu"))
            ops.append(("mcu", [a], b, *M) if kind == "mcu" else (kind, a, b))
        rng.shuffle(order)
        for a, b, c in zip(order[0::3], order[1::3], order[2::3]):
            kind = rng.choice(("ccnot", "csswap", "mcu"))
            ops.append(("mcu", [a, b], c, *M) if kind == "mcu" else (kind, a, b, c))
    return ops


def qft(n):
    """Ry then Rz on every qubit, so that the result is neither uniform nor blind to the
    phases; then the Fourier transform from H and controlled phases (mcu with one control),
    and the qubit reversal by swaps."""
    ops = []
    for q in range(n):
        ops += [("ry", q, math.pi * (q + 1) / (n + 2)), ("rz", q, 0.7 * (q + 1))]
    for j in reversed(range(n)):
        ops.append(("h", j))
        for k in reversed(range(j)):
            ops.append(("mcu", [k], j, 1 + 0j, 0j, 0j, cmath.exp(1j * math.pi / 2 ** (j - k))))
    ops += [("swap", q, n - 1 - q) for q in range(n // 2)]
    return ops


CIRCUITS = {"random": random_circuit, "QFT": qft}


def moved_qubits(op):
    """The qubits a call moves: the target of every gate but rz, both qubits of a swap. Every
    gate that moves a global qubit trades it in and back; controls and rz move nothing."""
    kind, *args = op
    if kind == "rz":
        return set()
    if kind == "swap":
        return {args[0], args[1]}
    if kind == "csswap":
        return {args[1], args[2]}
    if kind == "ccnot":
        return {args[2]}
    if kind in ("cnot", "mcu"):
        return {args[1]}
    return {args[0]}


def global_gates(ops, n, p):
    """How many calls trade a global qubit on 2^p processes (the top p qubits are global)."""
    return sum(1 for op in ops if any(q >= n - p for q in moved_qubits(op)))


# ---------------------------------------------------------------------------------------------
# The worker: one job, run in every process of it.

class Worker:
    def __init__(self, mode):
        self.mode = mode
        if mode == "plain":
            import zelvanic as module
            self.rank, self.size = 0, 1
            self.lock = None
        else:
            import zelvanic_mpi as module
            self.rank, self.size = module.rank(), module.size()
            # A gate on the top qubit of a 3-qubit register spread over the job trades it:
            # every process waits for its partner, which makes it a barrier.
            self.lock = module.QuantumRegister(3)
        self.module = module

    def barrier(self):
        if self.lock is not None and self.size > 1:
            self.lock.h(2)

    def apply(self, n, ops):
        reg = self.module.QuantumRegister(n)
        for kind, *args in ops:
            getattr(reg, kind)(*args)
        return reg

    def circuits(self, task):
        """Seconds from a fresh register through each circuit to the end of observe_one(0),
        which makes every deferred gate run; a second observe_one(0) times the read alone."""
        n, out = task["n"], {}
        for name in task["circuits"]:
            ops = CIRCUITS[name](n)
            self.barrier()
            cpu, start = time.process_time(), time.perf_counter()
            reg = self.apply(n, ops)
            reg.observe_one(0)
            seconds, cpu = time.perf_counter() - start, time.process_time() - cpu
            start = time.perf_counter()
            reg.observe_one(0)
            read = time.perf_counter() - start
            out[name] = {"seconds": seconds, "read": read, "cpu": cpu}
            del reg
        return out

    def digests(self, task):
        """SHA-256 of the probabilities of each half of the basis states (each process's
        block on two processes), after each circuit."""
        n, out = task["n"], {}
        for name in task["circuits"]:
            reg = self.apply(n, CIRCUITS[name](n))
            if self.size == 1:
                values = array("d", reg.god_observe())
                halves = [(0, values[: len(values) // 2]), (1, values[len(values) // 2:])]
            else:
                first, block = self.module.block_probabilities(reg)
                values = array("d", block)
                halves = [(first // len(values), values)]
            out[name] = {str(i): hashlib.sha256(half.tobytes()).hexdigest()
                         for i, half in halves}
            del reg, values, halves
        return out

    def gates(self, task):
        """Seconds of single gates on a dense state, each applied as it is called, every case
        once a repetition in an order that rotates; the memcpy copies this process's block."""
        os.environ["ZELVANIC_TILE_QUBITS"] = "64"  # apply each gate at once: no deferral
        n = task["n"]
        reg = self.apply(n, [("h", q) for q in range(n)])
        block = 16 << (n - (self.size.bit_length() - 1))
        source, copy = bytearray(b"\x01") * block, bytearray(block)
        source_view, copy_view = memoryview(source), memoryview(copy)

        def memcpy():
            copy_view[:] = source_view

        memcpy()  # first touch of the copy's pages, outside the clock
        phase = 1 + 0j, 0j, 0j, cmath.exp(0.3j)
        cases = {
            "h(n-3)": lambda: reg.h(n - 3),
            "h(n-1)": lambda: reg.h(n - 1),
            "rz(n-1)": lambda: reg.rz(n - 1, 0.3),
            "cnot(n-1, n-3)": lambda: reg.cnot(n - 1, n - 3),
            "mcu([n-3], n-1) phase": lambda: reg.mcu([n - 3], n - 1, *phase),
            "mcu([n-1], n-3) phase": lambda: reg.mcu([n - 1], n - 3, *phase),
            "memcpy of the block": memcpy,
        }
        names = list(cases)
        out = {name: [] for name in names}
        for r in range(task["repeats"]):
            for name in names[r % len(names):] + names[:r % len(names)]:
                self.barrier()
                start = time.perf_counter()
                cases[name]()
                out[name].append(time.perf_counter() - start)
        return out

    def describe(self):
        import importlib.metadata as metadata
        text = {"python": sys.version.split()[0], "module": self.module.__file__}
        try:
            text["mpich"] = metadata.version("mpich")
        except metadata.PackageNotFoundError:
            text["mpich"] = None
        return text


def work(task_text, directory):
    task = json.loads(task_text)
    worker = Worker(task["mode"])
    result = {"rank": worker.rank, "size": worker.size, "about": worker.describe(),
              "result": getattr(worker, task["what"])(task)}
    Path(directory, f"rank-{worker.rank}.json").write_text(json.dumps(result))


# ---------------------------------------------------------------------------------------------
# The launcher.

class Setting:
    """One way of running: the module, the process count and the threads of each process."""

    def __init__(self, label, mode, processes, threads=1):
        self.label, self.mode = label, mode
        self.processes, self.threads = processes, threads


SETTINGS = [Setting("zelvanic", "plain", 1), Setting("zelvanic, 2 threads", "plain", 1, 2),
            Setting("mpi, 1 process", "mpi", 1), Setting("mpi, 2 processes", "mpi", 2)]


class Jobs:
    def __init__(self, venv):
        self.python = str(Path(venv, "bin", "python"))
        self.loads = []  # the 1-minute load average as each job starts
        self.mpiexec = str(Path(venv, "bin", "mpiexec"))
        self.about = None

    def run(self, setting, task):
        """Each process's result, in rank order."""
        task = dict(task, mode=setting.mode)
        self.loads.append(os.getloadavg()[0])
        env = dict(os.environ, ZELVANIC_THREADS=str(setting.threads))
        env.pop("ZELVANIC_TILE_QUBITS", None)
        with tempfile.TemporaryDirectory(prefix="zelvanic-mpi-bench-") as directory:
            command = [self.python, str(Path(__file__).resolve()), "--worker", json.dumps(task),
                       directory]
            if setting.mode == "mpi":
                command = [self.mpiexec, "-n", str(setting.processes)] + command
            subprocess.run(command, env=env, check=True, timeout=1800)
            results = [json.loads(Path(directory, f"rank-{r}.json").read_text())
                       for r in range(setting.processes)]
        if setting.mode == "mpi":
            self.about = results[0]["about"]
        return [r["result"] for r in results]


def rotated(items, r):
    return items[r % len(items):] + items[:r % len(items)]


def measure(args, log):
    jobs = Jobs(args.venv)
    names = list(CIRCUITS)
    seconds, reads, cpu, digests, gates = {}, {}, {}, {}, {}
    for n in args.sizes:
        started = time.perf_counter()
        for setting in SETTINGS:  # the check, which is also the warm-up
            per_rank = jobs.run(setting, {"what": "digests", "n": n, "circuits": names})
            digests[(n, setting.label)] = {name: {i: d for rank in per_rank
                                                  for i, d in rank[name].items()}
                                           for name in names}
        for r in range(args.rounds):
            for setting in rotated(SETTINGS, r):
                per_rank = jobs.run(setting, {"what": "circuits", "n": n, "circuits": names})
                for name in names:
                    key = (n, name, setting.label)
                    # The job ends with its slowest process.
                    seconds.setdefault(key, []).append(max(p[name]["seconds"] for p in per_rank))
                    reads.setdefault(key, []).append(max(p[name]["read"] for p in per_rank))
                    cpu.setdefault(key, []).append(
                        max(p[name]["cpu"] / p[name]["seconds"] for p in per_rank))
            for setting in rotated([s for s in SETTINGS if s.mode == "mpi"], r):
                per_rank = jobs.run(setting, {"what": "gates", "n": n,
                                              "repeats": args.gate_repeats})
                for case in per_rank[0]:
                    gates.setdefault((n, setting.processes, case), []).extend(
                        max(times) for times in zip(*(p[case] for p in per_rank)))
        log(f"n={n}: " + "; ".join(
            f"{name} " + ", ".join(f"{s.label} {statistics.median(seconds[(n, name, s.label)]):.3g}"
                                  f" s" for s in SETTINGS) for name in names) +
            f" ({(time.perf_counter() - started) / 60:.1f} min)")
    return jobs.about, jobs.loads, seconds, reads, cpu, digests, gates


def ratio(seconds, n, name, top, bottom):
    """The median of top/bottom, each quotient within one round."""
    return statistics.median(a / b for a, b in zip(seconds[(n, name, top)],
                                                   seconds[(n, name, bottom)]))


def write(report, args, about, jobs_load, seconds, reads, cpu, digests, gates):
    from common import cpu_name, kernel_path, vector_flags, work_tree_commit

    line = report.line
    names = list(CIRCUITS)
    line("# zelvanic_mpi: one machine split into processes\n")
    memory = os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE") / 2**30
    loads = jobs_load
    line(f"- Machine: {cpu_name()} ({vector_flags()}), {kernel_path()} kernels, "
         f"{os.cpu_count()} cores shared with other work, {memory:.0f} GiB. 1-minute load "
         f"average as each job started: median {statistics.median(loads):.1f}, least "
         f"{min(loads):.1f}, most {max(loads):.1f} (this benchmark adds up to 2).")
    venv = Path(args.venv).resolve()
    where = venv.relative_to(HERE.parent) if venv.is_relative_to(HERE.parent) else venv
    line(f"- zelvanic and zelvanic_mpi: work tree {work_tree_commit()}, installed in "
         f"`{where}`; Python {about['python']}; MPICH {about['mpich']} (the `mpich` wheel, "
         f"its own mpiexec). Written by `python3 {' '.join(sys.argv)}`.")
    line("- One thread a process unless named (ZELVANIC_THREADS=1): on this 2-core machine the "
         "two processes of a 2-process job each run one thread, one a core; \"zelvanic, 2 "
         "threads\" is one process on both cores, for comparison.")
    line(f"- Rounds: {args.rounds} timed rounds after one untimed check round; each round runs "
         "every setting once, in an order that rotates from round to round. Seconds are medians "
         "over rounds; ratios are medians of the quotients taken within one round. A job's "
         "time is its slowest process's.")
    line("\n## Whole circuits\n")
    line("From a fresh `QuantumRegister(n)` through every gate to the end of `observe_one(0)` "
         "(gates wait in the register until something reads the state; the read makes them "
         "run). \"read\" is a second `observe_one(0)`, timed alone: its sums run over the blocks "
         "rank after rank. \"global gates\" counts the calls that trade a global qubit on 2 "
         "processes (qubit n-1 is global; rz and controls move nothing).\n")
    labels = [s.label for s in SETTINGS]
    line("| circuit | n | gates | global gates | " + " | ".join(f"{x} s" for x in labels) +
         " | mpi 1 process / zelvanic | speed-up of 2 processes over 1 | speed-up of 2 threads "
         "over 1 | same bits |")
    line("|---|---|---|---|" + "---|" * len(labels) + "---|---|---|---|")
    for name in names:
        for n in args.sizes:
            ops = CIRCUITS[name](n)
            cells = " | ".join(f"{statistics.median(seconds[(n, name, x)]):.3g}" for x in labels)
            same = all(digests[(n, x)][name] == digests[(n, labels[0])][name] for x in labels)
            line(f"| {name} | {n} | {len(ops)} | {global_gates(ops, n, 1)} | {cells} | "
                 f"{ratio(seconds, n, name, 'mpi, 1 process', 'zelvanic'):.2f} | "
                 f"{ratio(seconds, n, name, 'mpi, 1 process', 'mpi, 2 processes'):.2f} | "
                 f"{ratio(seconds, n, name, 'zelvanic', 'zelvanic, 2 threads'):.2f} | "
                 f"{'yes' if same else 'NO'} |")
    line("\n\"same bits\": the probabilities of every setting equal zelvanic's on one thread, "
         "to the last bit (SHA-256 of each half of the doubles).\n")
    line("| circuit | n | " + " | ".join(f"{x}: read s" for x in labels) +
         " | " + " | ".join(f"{x}: CPU / wall" for x in labels) + " |")
    line("|---|---|" + "---|" * (2 * len(labels)))
    for name in names:
        for n in args.sizes:
            line(f"| {name} | {n} | " + " | ".join(
                f"{statistics.median(reads[(n, name, x)]):.3g}" for x in labels) + " | " +
                " | ".join(f"{statistics.median(cpu[(n, name, x)]):.2f}" for x in labels) + " |")
    line("\nCPU / wall is the largest process's CPU time over the job's wall time: about 1 for "
         "one thread a process, up to 2 for two threads; below 1, the process waited (for its "
         "partner, or for a core that other work held).")
    write_gates(report, args, gates)


def write_gates(report, args, gates):
    line = report.line
    line("\n## Single gates: a global qubit against a local one\n")
    line(f"A dense state of n qubits, each gate applied as it is called (ZELVANIC_TILE_QUBITS=64), "
         f"{args.gate_repeats} repetitions a round, every case once a repetition after a "
         "barrier, in an order that rotates; seconds are medians over all repetitions of the "
         "slowest process. On 2 processes qubit n-1 is global, n-3 local. A gate that moves the "
         "global qubit trades it for the top local qubit (each process sends half its block and "
         "receives the partner's, in 4 MiB MPI_Sendrecv_replace chunks), runs locally, and "
         "trades back: 16 x 2^(n-1) bytes sent and as many received by each process, per gate. "
         "The memcpy copies a process's whole block (16 x 2^(n-p) bytes) in every process at "
         "once.\n")
    cases = list(dict.fromkeys(case for (_, _, case) in gates))
    for n in args.sizes:
        line(f"### n = {n}\n")
        line("| gate | 1 process s | 2 processes s | 2 processes / h(n-3) there | "
             "2 processes / memcpy there | 2 processes / 1 process |")
        line("|---|---|---|---|---|---|")
        med = {(p, c): statistics.median(gates[(n, p, c)]) for p in (1, 2) for c in cases}
        for c in cases:
            line(f"| {c} | {med[(1, c)]:.4g} | {med[(2, c)]:.4g} | "
                 f"{med[(2, c)] / med[(2, 'h(n-3)')]:.2f} | "
                 f"{med[(2, c)] / med[(2, 'memcpy of the block')]:.2f} | "
                 f"{med[(2, c)] / med[(1, c)]:.2f} |")
        sent = 16 << (n - 1)
        trade = med[(2, "h(n-1)")] - med[(2, "h(n-3)")]
        copied = sent / med[(2, "memcpy of the block")] / 1e9
        line(f"\nBytes per global gate, per process: {size_text(sent)} sent and as much "
             f"received, in {max(1, sent // CHUNK_BYTES)} MPI_Sendrecv_replace calls (half of "
             f"them a trade). The two trades take h(n-1) - h(n-3) = {trade:.3g} s: " +
             (f"{sent / trade / 1e9:.2f} GB/s sent, and as much received, by each process, "
              f"while each process's memcpy copies {copied:.2f} GB/s when both run at once.\n"
              if trade > 0 else "too little to measure.\n"))


def size_text(count):
    for unit, shift in (("GiB", 30), ("MiB", 20), ("KiB", 10)):
        if count >= 1 << shift:
            return f"{count / (1 << shift):.0f} {unit}"
    return f"{count} bytes"


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--venv", default=str(HERE.parent / "build" / "venv-mpi"),
                        help="a virtual environment with zelvanic, zelvanic_mpi and mpiexec")
    parser.add_argument("--sizes", type=int, nargs="+", default=[24, 26])
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--gate-repeats", type=int, default=5)
    parser.add_argument("--quick", action="store_true",
                        help="n = 14 and 16, two rounds, results under build/")
    parser.add_argument("--out", help="default: bench/results/mpi-epyc.md "
                                      "(build/mpi-quick.md with --quick)")
    parser.add_argument("--worker", nargs=2, metavar=("TASK", "DIR"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.worker:
        return work(*args.worker)
    if args.quick:
        args.sizes, args.rounds = [14, 16], 2
    out = args.out or str(HERE.parent / "build" / "mpi-quick.md" if args.quick
                          else HERE / "results" / "mpi-epyc.md")
    if min(args.sizes) < 5:
        parser.error("the single-gate cases need n of at least 5")
    sys.path.insert(0, str(HERE))
    from common import Report  # numpy: the launcher's interpreter only

    report = Report(out)
    measured = measure(args, lambda text: print(text, flush=True))
    write(report, args, *measured)
    report.close()


if __name__ == "__main__":
    main()
