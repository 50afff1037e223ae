"""Expectation values and their parameter-shift gradients: zelvanic against other simulators
through the frameworks' own interfaces, with ratios measured in the same run.

Two problems at each n:
- hea: a hardware-efficient ansatz (Qiskit's efficient_su2, one repetition, linear
  entanglement: 4n parameters) with the open Heisenberg chain sum XX + YY + ZZ (3 groups of
  qubit-wise commuting terms);
- qaoa: one QAOA layer for MaxCut on a ring, cost sum ZZ (1 group). Its two angles are
  shared by n gates each; the parameter-shift rule shifts each gate on its own, so the
  circuit gives every gate its own parameter (2n), all bound to the layer's two values.

Columns:
- zelvanic: ZelvanicEstimator (one simulation per group of commuting terms);
- aer: qiskit-aer's EstimatorV2, state-vector method, one thread (reads the final state once);
- sv: Qiskit's StatevectorEstimator (skipped above --sv-max qubits, where it takes minutes);
- pl-zelvanic, pl-lightning: the same circuit and Hamiltonian as one PennyLane QNode on
  zelvanic.qubit and on lightning.qubit, when the plugins are installed (skipped above
  --pl-max qubits).

"value" is one expectation value; "gradient" is a whole parameter-shift gradient: 2P
shifted bindings as one broadcast PUB for the estimators, qml.grad with
diff_method="parameter-shift" for the QNodes. Rounds interleave the simulators; the table
gives medians and each peer's time over zelvanic's.

    python bench/expectations.py [--sizes 12 16 20] [--rounds 3] [--out FILE.md]
"""
import argparse
import os
import statistics
import sys
import time
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent))
from common import machine  # noqa: E402


def heisenberg(n):
    from qiskit.quantum_info import SparsePauliOp

    return SparsePauliOp.from_list(
        [("I" * (n - 2 - i) + p + p + "I" * i, 1.0) for i in range(n - 1) for p in "XYZ"])


def maxcut_ring(n):
    from qiskit.quantum_info import SparsePauliOp

    edges = [(i, (i + 1) % n) for i in range(n)]
    return SparsePauliOp.from_sparse_list([("ZZ", list(e), 0.5) for e in edges], n), edges


def problem(name, n):
    """(circuit, observable, parameter values) in Qiskit's terms."""
    from qiskit import QuantumCircuit
    from qiskit.circuit import ParameterVector
    from qiskit.circuit.library import efficient_su2

    rng = np.random.default_rng(n)
    if name == "hea":
        circuit = efficient_su2(n, reps=1, entanglement="linear")
        observable = heisenberg(n)
    else:
        observable, edges = maxcut_ring(n)
        gamma, beta = ParameterVector("g", n), ParameterVector("b", n)
        circuit = QuantumCircuit(n)
        circuit.h(range(n))
        for k, (a, b) in enumerate(edges):
            circuit.rzz(gamma[k], a, b)
        for q in range(n):
            circuit.rx(beta[q], q)
        angles = {p: v for p, v in zip("bg", rng.uniform(-np.pi, np.pi, 2))}
        values = np.array([angles[p.name[0]] for p in circuit.parameters])
        return circuit, observable, values
    values = rng.uniform(-np.pi, np.pi, circuit.num_parameters)
    return circuit, observable, values


def shifted(values):
    shifts = np.pi / 2 * np.eye(len(values))
    return np.concatenate([values + shifts, values - shifts])


def estimator_runner(estimator, circuit, observable, values):
    def value():
        return float(estimator.run([(circuit, observable, values)]).result()[0].data.evs)

    def gradient():
        evs = estimator.run([(circuit, observable, shifted(values))]).result()[0].data.evs
        return (evs[:len(values)] - evs[len(values):]) / 2

    return value, gradient


def qiskit_runners(circuit, observable, values, n, sv_max):
    from qiskit import transpile
    from qiskit.primitives import StatevectorEstimator

    from zelvanic_qiskit import ZelvanicEstimator

    runners = {"zelvanic": estimator_runner(ZelvanicEstimator(), circuit, observable, values)}
    try:
        from qiskit_aer.primitives import EstimatorV2 as AerEstimator

        aer = AerEstimator(options={"backend_options": {
            "method": "statevector", "max_parallel_threads": 1,
            "max_parallel_experiments": 1, "max_parallel_shots": 1}})
        # Aer takes only its own basis gates; the transpilation is not timed.
        aer_circuit = transpile(circuit, basis_gates=["u", "cx", "rz", "rx", "ry", "h", "rzz"])
        runners["aer"] = estimator_runner(aer, aer_circuit, observable, values)
    except ImportError:
        pass
    if n <= sv_max:
        runners["sv"] = estimator_runner(StatevectorEstimator(), circuit, observable, values)
    return runners


def pennylane_runners(circuit, observable, values):
    """The same problem as one QNode per device, when PennyLane and both plugins exist."""
    try:
        import pennylane as qml
        import pennylane.numpy as pnp
        import zelvanic_pennylane  # noqa: F401
    except ImportError:
        return {}
    from qiskit import transpile

    n = circuit.num_qubits
    flat = transpile(circuit, basis_gates=["ry", "rz", "rx", "h", "cx", "rzz"],
                     optimization_level=0)
    index = {p: i for i, p in enumerate(circuit.parameters)}
    hamiltonian = qml.dot([float(c.real) for c in observable.coeffs],
                          [qml.pauli.string_to_pauli_word(label[::-1], wire_map={q: q for q in range(n)})
                           for label in observable.paulis.to_labels()])

    def body(params):
        for instruction in flat.data:
            op = instruction.operation
            wires = [flat.find_bit(q).index for q in instruction.qubits]
            if op.name == "h":
                qml.Hadamard(wires)
            elif op.name == "cx":
                qml.CNOT(wires)
            else:
                angle = op.params[0]
                if hasattr(angle, "parameters") and angle.parameters:
                    (parameter,) = angle.parameters
                    scale = float(angle.gradient(parameter))
                    angle = scale * params[index[parameter]]
                else:
                    angle = float(angle)
                {"rx": qml.RX, "ry": qml.RY, "rz": qml.RZ,
                 "rzz": qml.IsingZZ}[op.name](angle, wires=wires)
        return qml.expval(hamiltonian)

    runners = {}
    for label, device in (("pl-zelvanic", "zelvanic.qubit"), ("pl-lightning", "lightning.qubit")):
        try:
            dev = qml.device(device, wires=n)
        except Exception:  # a plugin that is missing or will not load on this interpreter
            continue
        node = qml.QNode(body, dev, diff_method="parameter-shift")
        x = pnp.array(values, requires_grad=True)
        runners[label] = (lambda node=node, x=x: float(node(x)),
                          lambda node=node, x=x: qml.grad(node)(x))
    return runners


def measure(runners, rounds):
    """Medians over interleaved rounds, per runner and task, and the values they gave."""
    times = {(name, task): [] for name in runners for task in ("value", "gradient")}
    results = {}
    for _ in range(rounds):
        for task_index, task in enumerate(("value", "gradient")):
            for name, pair in runners.items():
                start = time.perf_counter()
                results[name, task] = pair[task_index]()
                times[name, task].append(time.perf_counter() - start)
    return {key: statistics.median(t) for key, t in times.items()}, results


def check(results, names):
    """Every simulator must give the same numbers: a fast wrong answer is no answer."""
    for task in ("value", "gradient"):
        reference = np.asarray(results["zelvanic", task])
        for name in names:
            got = np.asarray(results[name, task])
            if got.shape != reference.shape or not np.allclose(got, reference, atol=1e-8):
                raise SystemExit(f"{name} disagrees with zelvanic on the {task}: "
                                 f"{got} against {reference}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--sizes", type=int, nargs="+", default=[12, 16, 20])
    parser.add_argument("--problems", nargs="+", default=["hea", "qaoa"])
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--sv-max", type=int, default=16)
    parser.add_argument("--pl-max", type=int, default=16,
                        help="no PennyLane columns above this many qubits")
    parser.add_argument("--out", type=Path)
    args = parser.parse_args()
    os.environ.setdefault("OMP_NUM_THREADS", "1")

    rows = []
    for n in args.sizes:
        for name in args.problems:
            circuit, observable, values = problem(name, n)
            runners = qiskit_runners(circuit, observable, values, n, args.sv_max)
            if n <= args.pl_max:
                runners.update(pennylane_runners(circuit, observable, values))
            medians, results = measure(runners, args.rounds)
            check(results, runners)
            for task in ("value", "gradient"):
                base = medians["zelvanic", task]
                cells = {peer: medians[peer, task] for peer in runners}
                rows.append((name, n, task, circuit.num_parameters, cells, base))
                print(f"{name} n={n} {task}: " + ", ".join(
                    f"{peer} {t:.3f}s ({t / base:.2f}x)" for peer, t in cells.items()),
                    flush=True)
    table = render(rows, args)
    print(table)
    if args.out:
        args.out.write_text(table)


def render(rows, args):
    peers = []
    for row in rows:
        peers += [p for p in row[4] if p not in peers]
    lines = [f"# Expectation values: {machine()}", "",
             f"`python bench/expectations.py --sizes {' '.join(map(str, args.sizes))} "
             f"--rounds {args.rounds}`: medians of {args.rounds} interleaved rounds, in "
             "seconds; in brackets each simulator's time over zelvanic's (above 1: zelvanic "
             "is faster). Every simulator's values agree with zelvanic's to 1e-8.", "",
             "| problem | n | task | params | " + " | ".join(peers) + " |",
             "|---|---|---|---|" + "---|" * len(peers)]
    for name, n, task, params, cells, base in rows:
        row = [name, str(n), task, str(params)]
        for peer in peers:
            t = cells.get(peer)
            row.append("—" if t is None else
                       f"{t:.3f}" if peer == "zelvanic" else f"{t:.3f} ({t / base:.2f})")
        lines.append("| " + " | ".join(row) + " |")
    return "\n".join(lines) + "\n"


if __name__ == "__main__":
    main()
