"""The simulators that bench/circuits.py times on whole circuits, behind one interface each.

Importing this module sizes every thread pool (through peer_sims and bench_threads.py), so import it
before numpy or any simulator.

Each simulator offers one or more settings (its fusion on, a fusion size, ...) and:
  prepare(ops, n, setting) -> job   everything that is not simulation: circuit objects,
                                    translations, copies; made before the clock starts
  run(job) -> seconds               from |0...0> through the circuit to one cheap read
  probabilities(ops, n, setting)    the whole probability vector, for the agreement check

The cheap read is what makes a simulator finish the circuit and show a result, at the cost
of about one pass over the state: zelvanic observe_one(0); qulacs get_zero_probability(0);
lightning probs of one wire; qiskit-aer save_probabilities of qubit 0; qsim the amplitude of
|0...0>.
"""
import json
import os
import subprocess
import time
from pathlib import Path

from peer_sims import AerSim, LightningSim, QulacsSim  # first: it sizes the thread pools

import numpy as np  # noqa: E402

import circuit_worker  # noqa: E402
from bench_threads import THREADS  # noqa: E402
from common import load_simulators, not_a_script  # noqa: E402


class Zelvanic:
    """The build this interpreter imports: the work tree's, on `threads` threads
    (ZELVANIC_THREADS, set while its registers are made)."""
    name = "zelvanic"
    settings = (None,)

    def __init__(self, threads=THREADS):
        self.threads = threads
        self.read_seconds = []

    def version(self):
        return "this work tree"

    def label(self, setting):
        return self.name if self.threads == THREADS else f"{self.name}, {self.threads} thread" + (
            "s" if self.threads > 1 else "")

    def prepare(self, ops, n, setting):
        return n, ops

    def run(self, job):
        os.environ["ZELVANIC_THREADS"] = str(self.threads)
        try:
            seconds, read = circuit_worker.timed_run(*job)
        finally:
            del os.environ["ZELVANIC_THREADS"]
        self.read_seconds.append(read)
        return seconds

    def probabilities(self, ops, n, setting):
        return np.asarray(self.listed_probabilities(ops, n))

    def listed_probabilities(self, ops, n):
        os.environ["ZELVANIC_THREADS"] = str(self.threads)
        try:
            return circuit_worker.probabilities(n, ops)
        finally:
            del os.environ["ZELVANIC_THREADS"]

    def digest(self, ops, n):
        return circuit_worker.digest(self.listed_probabilities(ops, n))


class Baseline:
    """An earlier zelvanic, installed in a venv of its own and driven by circuit_worker.py in a
    child process, so both builds run the same driver code."""
    name = "previous release"
    settings = (None,)

    def __init__(self, venv):
        python = Path(venv) / "bin" / "python"
        worker = Path(__file__).resolve().parent / "circuit_worker.py"
        env = dict(os.environ, PYTHONPATH="")  # its own zelvanic, not this tree's
        self.process = subprocess.Popen([str(python), str(worker)], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True, env=env)
        self.about = self.receive()
        self.read_seconds, self.cpu, self.wall = [], 0.0, 0.0

    def receive(self):
        line = self.process.stdout.readline()
        if not line:
            raise RuntimeError(f"the baseline worker stopped (exit {self.process.wait()})")
        return json.loads(line)

    def ask(self, request):
        self.process.stdin.write(json.dumps(request) + "\n")
        self.process.stdin.flush()
        return self.receive()

    def version(self):
        return f"commit {self.about['commit'] or 'unknown'} (Python {self.about['python']})"

    def label(self, setting):
        return self.name

    def prepare(self, ops, n, setting):
        return n, ops

    def run(self, job):
        n, ops = job
        reply = self.ask({"what": "time", "n": n, "ops": ops})
        self.read_seconds.append(reply["read"])
        self.cpu += reply["cpu"]
        self.wall += reply["seconds"] + reply["read"]
        return reply["seconds"]

    def digest(self, ops, n):
        return self.ask({"what": "digest", "n": n, "ops": ops})["sha256"]

    def close(self):
        self.process.stdin.close()
        self.process.wait()


def wall_clock(action):
    start = time.perf_counter()
    action()
    return time.perf_counter() - start


class Qulacs(QulacsSim):
    settings = (True,)

    def label(self, fused):
        return "qulacs, fusion"

    def prepare(self, ops, n, fused):
        return n, self.circuit(ops, n)  # a fresh circuit each time: fusion rewrites it

    def simulate(self, job):
        n, circuit = job
        self.Optimizer().optimize(circuit, 2)  # the fusion pass is part of the cost
        state = self.State(n)
        circuit.update_quantum_state(state)
        return state

    def run(self, job):
        return wall_clock(lambda: self.simulate(job).get_zero_probability(0))

    def probabilities(self, ops, n, fused):
        return np.abs(self.simulate(self.prepare(ops, n, fused)).get_vector()) ** 2


class Aer(AerSim):
    """Timed by its own experiment clock, which leaves out the conversion of the circuit in
    Python but keeps the fusion pass and the allocation of the state."""
    settings = (True,)

    def label(self, fused):
        return "qiskit-aer, fusion"

    def build(self, ops, n, qubits):
        qc = self.Circuit(n)
        for op in ops:
            self.append(qc, op)
        qc.save_probabilities(qubits)
        return qc

    def prepare(self, ops, n, fused):
        return self.build(ops, n, [0])

    def run(self, qc):
        return self.fused.run(qc).result().results[0].time_taken

    def probabilities(self, ops, n, fused):
        result = self.fused.run(self.build(ops, n, None)).result()
        return np.asarray(result.data()["probabilities"])


class Lightning(LightningSim):
    settings = (False,)

    def label(self, fused):
        return "lightning (no fusion)"

    def prepare(self, ops, n, fused):
        return n, ops

    def simulate(self, job):
        n, ops = job
        sv = self.ops.StateVectorC128(n)
        for op in ops:
            method, args = self.bind(sv, op, n)
            method(*args)
        return sv

    def run(self, job):
        n = job[0]

        def action():
            sv = self.simulate(job)
            self.ops.MeasurementsC128(sv).probs([n - 1])  # wire n-1 is qubit 0
        return wall_clock(action)

    def probabilities(self, ops, n, fused):
        sv = self.simulate((n, ops))
        return np.asarray(self.ops.MeasurementsC128(sv).probs())


class Qsim:
    """qsimcirq in float32, one thread, gates fused into blocks of up to 2 or 4 qubits. The
    circuit is translated before the clock starts, and the clock covers qsim's own run (fusion
    included) up to the amplitude of |0...0>: what its compute_amplitudes does after the
    translation. Cirq's first qubit is the most significant bit, so qubit k is LineQubit(n-1-k),
    which keeps the basis-state order."""
    name = "qsim"
    settings = (2, 4)

    def __init__(self):
        import cirq
        import qsimcirq
        self.cirq, self.qsimcirq = cirq, qsimcirq

    def version(self):
        return f"{self.qsimcirq.__version__} ({self.qsimcirq.qsim.__name__.split('.')[-1]})"

    def label(self, size):
        return f"qsim float32, fusion {size}"

    def options(self, size):
        return self.qsimcirq.QSimOptions(max_fused_gate_size=size, cpu_threads=THREADS)

    def circuit(self, ops, n):
        cirq = self.cirq
        qubit = [cirq.LineQubit(n - 1 - k) for k in range(n)]
        gates = {"h": cirq.H, "cnot": cirq.CNOT, "swap": cirq.SWAP}
        operations = []
        for kind, *args in ops:
            if kind in ("rx", "ry", "rz"):  # exp(-i theta/2 P), as ours
                operations.append(getattr(cirq, kind)(args[1])(qubit[args[0]]))
            elif kind == "cp":  # CZ^(phi/pi) = diag(1, 1, 1, e^(i phi))
                operations.append((cirq.CZ ** (args[2] / np.pi))(qubit[args[0]], qubit[args[1]]))
            else:
                operations.append(gates[kind](*(qubit[q] for q in args)))
        # Every qubit appears, so the translation knows all n of them.
        return cirq.Circuit(operations), qubit

    def prepare(self, ops, n, size):
        circuit, qubit = self.circuit(ops, n)
        order = list(reversed(qubit))  # LineQubit(0) first: cirq's default order
        translated, _ = self.qsimcirq.QSimCircuit(circuit).translate_cirq_to_qsim(order)
        options = self.options(size).as_dict()
        options.update({"c": translated, "i": "0" * n, "s": 1})
        return options

    def run(self, options):
        return wall_clock(lambda: self.qsimcirq.qsim.qsim_simulate(options))

    def probabilities(self, ops, n, size):
        circuit, _ = self.circuit(ops, n)
        simulator = self.qsimcirq.QSimSimulator(self.options(size))
        return np.abs(simulator.simulate(circuit).final_state_vector.astype(np.complex128)) ** 2


def load_peers():
    """(simulators that loaded, texts naming those that did not)."""
    return load_simulators((("qulacs", Qulacs), ("qiskit-aer", Aer), ("lightning", Lightning),
                            ("qsimcirq", Qsim)))


if __name__ == "__main__":
    not_a_script(__doc__, "bench/circuits.py")
