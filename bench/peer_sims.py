"""The simulators that bench/peers.py compares, behind one small interface each.

Importing this module sizes every thread pool (bench_threads.py: one thread unless
BENCH_THREADS says otherwise), so import it before numpy or any simulator.

Each adapter offers:
  prepare(n) -> state            a register in a dense superposition, kept across timings
  gate_call(state, op, n) -> f   f() applies op once to that state
  run(ops, n, fused) -> probs    a whole circuit from |0...0> to the probability vector
and, where the peer builds circuit objects, circuit(ops, n) made before the clock starts.
qiskit-aer times gates with its own clock instead (AerSim.timed_circuit, experiment_seconds).
Operations come in one neutral form, (name, *qubits, angle?), with qubit k = bit k of the
basis-state index.
"""
import os

from bench_threads import THREADS  # first: thread pools are sized when a library loads

# qiskit-aer shares a state out over its threads only from this many qubits on: its own
# default (14) when the run has threads, never when it has one.
AER_PARALLEL_FROM = 64 if THREADS == 1 else 14

import cmath  # noqa: E402
import math  # noqa: E402
import time  # noqa: E402

import numpy as np  # noqa: E402

from common import load_simulators, not_a_script  # noqa: E402

import zelvanic  # noqa: E402

# The doubly controlled gate is Rx(2 acos 0.6): exact entries, and a form every peer can take.
MCU_THETA = 2 * math.acos(0.6)
MCU = np.array([[0.6, -0.8j], [-0.8j, 0.6]], dtype=complex)


class Zelvanic:
    name = "zelvanic"
    fusion = (False,)

    def version(self):
        return "work tree"

    def prepare(self, n):
        # A gate timed alone must run as it is called, not wait in the register's list of
        # deferred gates for the next read.
        os.environ["ZELVANIC_TILE_QUBITS"] = "64"
        try:
            reg = zelvanic.QuantumRegister(n)
        finally:
            del os.environ["ZELVANIC_TILE_QUBITS"]
        for q in range(n):
            reg.h(q)
        return reg

    def gate_call(self, reg, op, n):
        kind, *args = op
        if kind == "h":
            return lambda: reg.h(args[0])
        if kind == "rx":
            return lambda: reg.rx(args[0], args[1])
        if kind == "cnot":
            return lambda: reg.cnot(args[0], args[1])
        m = [complex(v) for v in MCU.flat]
        return lambda: reg.mcu([args[0], args[1]], args[2], *m)

    def run(self, ops, n, fused):
        reg = zelvanic.QuantumRegister(n)
        for kind, *args in ops:
            if kind == "cp":
                c, t, phi = args
                reg.mcu([c], t, 1 + 0j, 0j, 0j, cmath.exp(1j * phi))
            else:
                getattr(reg, kind)(*args)
        start = time.perf_counter()
        probabilities = reg.god_observe()
        # A list of 2^n Python floats, and the gates the register deferred until this read.
        self.observe_seconds = time.perf_counter() - start
        return probabilities


class QulacsSim:
    name = "qulacs"
    fusion = (False, True)

    def __init__(self):
        import qulacs
        from qulacs import QuantumCircuit, QuantumState, gate
        from qulacs.circuit import QuantumCircuitOptimizer
        self.lib, self.Circuit, self.State, self.gate = qulacs, QuantumCircuit, QuantumState, gate
        self.Optimizer = QuantumCircuitOptimizer

    def version(self):
        return getattr(self.lib, "__version__", "?")

    def prepare(self, n):
        state = self.State(n)
        for q in range(n):
            self.gate.H(q).update_quantum_state(state)
        return state

    def make_gate(self, op):
        g = self.gate
        kind, *args = op
        if kind == "h":
            return g.H(args[0])
        # qulacs' RX/RY/RZ turn the other way; RotX/RotY/RotZ are exp(-i theta/2 P).
        if kind in ("rx", "ry", "rz"):
            return {"rx": g.RotX, "ry": g.RotY, "rz": g.RotZ}[kind](args[0], args[1])
        if kind == "cnot":
            return g.CNOT(args[0], args[1])
        if kind == "swap":
            return g.SWAP(args[0], args[1])
        if kind == "cp":
            c, t, phi = args
            gate = g.DenseMatrix(t, np.diag([1, cmath.exp(1j * phi)]))
            gate.add_control_qubit(c, 1)
            return gate
        c1, c2, t = args
        gate = g.DenseMatrix(t, MCU)
        gate.add_control_qubit(c1, 1)
        gate.add_control_qubit(c2, 1)
        return gate

    def gate_call(self, state, op, n):
        gate = self.make_gate(op)
        return lambda: gate.update_quantum_state(state)

    def circuit(self, ops, n):
        circuit = self.Circuit(n)
        for op in ops:
            circuit.add_gate(self.make_gate(op))
        return circuit

    def run(self, circuit, n, fused):
        if fused:  # the fusion pass is part of the cost, as it is inside qiskit-aer's run
            self.Optimizer().optimize(circuit, 2)
        state = self.State(n)
        circuit.update_quantum_state(state)
        return np.abs(state.get_vector()) ** 2


class LightningSim:
    """lightning.qubit's state-vector class driven directly: no device, no tape. Its wire 0 is
    the most significant bit, so qubit k is wire n-1-k, which keeps the basis-state order."""
    name = "lightning"
    fusion = (False,)  # it has no gate fusion

    def __init__(self):
        import pennylane_lightning
        from pennylane_lightning import lightning_qubit_ops as ops
        self.ops, self.package = ops, pennylane_lightning

    def version(self):
        from importlib.metadata import version
        kernels = sorted(set(self.ops.StateVectorC128(1).kernel_map().values()))
        return f"{version('pennylane_lightning')} (kernels: {', '.join(kernels)})"

    def prepare(self, n):
        sv = self.ops.StateVectorC128(n)
        for w in range(n):
            sv.Hadamard([w], False, [])
        return sv

    def bind(self, sv, op, n):
        kind, *args = op
        w = [n - 1 - q for q in args if isinstance(q, int)]
        if kind == "h":
            return sv.Hadamard, (w, False, [])
        if kind in ("rx", "ry", "rz"):
            return getattr(sv, kind.upper()), (w, False, [args[1]])
        if kind == "cnot":
            return sv.CNOT, (w, False, [])
        if kind == "swap":
            return sv.SWAP, (w, False, [])
        if kind == "cp":
            return sv.ControlledPhaseShift, (w, False, [args[2]])
        return sv.applyControlledMatrix, (MCU, w[:2], [True, True], w[2:], False)

    def gate_call(self, sv, op, n):
        method, args = self.bind(sv, op, n)
        return lambda: method(*args)

    def run(self, ops, n, fused):
        sv = self.ops.StateVectorC128(n)
        for op in ops:
            method, args = self.bind(sv, op, n)
            method(*args)
        return self.ops.MeasurementsC128(sv).probs()


class AerSim:
    """qiskit-aer's state-vector method, one thread, qubit truncation off. Its qubit k is bit k,
    and its rotations and controlled phase are ours."""
    name = "qiskit-aer"
    fusion = (False, True)

    def __init__(self):
        import qiskit
        import qiskit_aer
        from qiskit import QuantumCircuit
        from qiskit.circuit import Gate
        from qiskit_aer import AerSimulator
        self.qiskit, self.aer, self.Circuit, self.Gate = qiskit, qiskit_aer, QuantumCircuit, Gate
        single = dict(method="statevector", max_parallel_threads=THREADS, max_parallel_experiments=1,
                      max_parallel_shots=1, statevector_parallel_threshold=AER_PARALLEL_FROM,
                      enable_truncation=False, shots=1)
        self.plain = AerSimulator(fusion_enable=False, **single)
        # Fusion forced on at every size (by default it starts at 14 qubits).
        self.fused = AerSimulator(fusion_enable=True, fusion_threshold=1, **single)

    def version(self):
        return f"{self.aer.__version__} (qiskit {self.qiskit.__version__})"

    def append(self, qc, op):
        kind, *args = op
        if kind in ("h", "swap"):
            getattr(qc, kind)(*args)
        elif kind in ("rx", "ry", "rz"):
            getattr(qc, kind)(args[1], args[0])
        elif kind == "cnot":
            qc.cx(*args)
        elif kind == "cp":
            qc.cp(args[2], args[0], args[1])
        else:  # aer's own multi-controlled U(theta, phi, lambda, gamma): Rx = U(t, -pi/2, pi/2)
            qc.append(self.Gate("mcu", 3, [MCU_THETA, -math.pi / 2, math.pi / 2, 0.0]), args)

    def circuit(self, ops, n):
        qc = self.Circuit(n)
        for op in ops:
            self.append(qc, op)
        qc.save_probabilities()
        return qc

    def run(self, circuit, n, fused):
        sim = self.fused if fused else self.plain
        return np.asarray(sim.run(circuit).result().data()["probabilities"])

    def timed_circuit(self, op, n, count):
        qc = self.Circuit(n)
        for _ in range(count):
            self.append(qc, op)
        return qc

    def experiment_seconds(self, qc):
        """The simulator's own clock for the experiment: no circuit conversion in Python."""
        return self.plain.run(qc).result().results[0].time_taken


def load_peers():
    return load_simulators((("qulacs", QulacsSim), ("qiskit-aer", AerSim),
                            ("lightning", LightningSim)))


class SamplerPair:
    """ZelvanicSampler and qiskit-aer's SamplerV2 on the same Qiskit circuits, measured at their
    end. Aer runs its state-vector method on one thread, with its default gate fusion; left to
    choose, it would simulate a Clifford circuit such as GHZ with its stabilizer method."""

    def __init__(self):
        import qiskit
        import qiskit_aer
        from qiskit_aer.primitives import SamplerV2
        from zelvanic_qiskit import ZelvanicSampler
        self.qiskit, self.aer = qiskit, qiskit_aer
        one_thread = dict(method="statevector", max_parallel_threads=THREADS,
                          max_parallel_experiments=1, max_parallel_shots=1,
                          statevector_parallel_threshold=AER_PARALLEL_FROM)
        self.samplers = {
            "zelvanic": ZelvanicSampler(seed=1),
            "qiskit-aer": SamplerV2(seed=1, options={"backend_options": one_thread}),
        }

    def version(self):
        return f"qiskit {self.qiskit.__version__}, qiskit-aer {self.aer.__version__}"

    def circuit(self, ops, n):
        qc = self.qiskit.QuantumCircuit(n)
        for kind, *args in ops:
            if kind == "cnot":
                qc.cx(*args)
            elif kind in ("rx", "ry", "rz"):
                getattr(qc, kind)(args[1], args[0])
            elif kind == "cp":
                qc.cp(args[2], args[0], args[1])
            else:
                getattr(qc, kind)(*args)
        qc.measure_all()
        return qc

    def counts(self, name, circuit, shots):
        result = self.samplers[name].run([circuit], shots=shots).result()
        return result[0].data.meas.get_counts()


if __name__ == "__main__":
    not_a_script(__doc__, "bench/peers.py")
