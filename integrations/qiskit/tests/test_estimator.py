"""ZelvanicEstimator against Qiskit's Statevector, the independent oracle: exact expectation
values under broadcasting, what it refuses, and an optimisation that needs every digit."""
import numpy as np
import pytest
from qiskit import QuantumCircuit
from qiskit.circuit import ParameterVector
from qiskit.circuit.library import real_amplitudes
from qiskit.circuit.random import random_circuit
from qiskit.quantum_info import SparsePauliOp, Statevector, random_pauli_list

from zelvanic_qiskit import UnsupportedInstruction, ZelvanicEstimator, ZelvanicSampler


def layered(n, seed):
    """A random circuit, then a parameterised layer of rotations on every qubit."""
    theta = ParameterVector("t", 2 * n)
    qc = random_circuit(n, 6, max_operands=3, seed=seed)
    for q in range(n):
        qc.ry(theta[2 * q], q)
        qc.rx(theta[2 * q + 1], q)
    for q in range(n - 1):
        qc.cx(q, q + 1)
    return qc


@pytest.mark.parametrize("n", [1, 5, 12])
def test_expectation_values_match_statevector(n):
    """Random Pauli sums (identity and Y terms included) over a (2, 1) array of bindings
    and a (3,) array of observables: a (2, 3) result, every entry to 1e-12."""
    rng = np.random.default_rng(n)
    qc = layered(n, seed=n)
    observables = []
    for k in range(3):
        labels = random_pauli_list(n, 12, seed=10 * n + k, phase=False).to_labels()
        labels += [labels[0], "I" * n, "Y" * n]  # a repeated term, the identity, all Y
        observables.append(SparsePauliOp(labels, rng.normal(size=len(labels))))
    values = rng.uniform(-np.pi, np.pi, size=(2, 1, qc.num_parameters))
    result = ZelvanicEstimator().run([(qc, observables, values)]).result()[0]
    assert result.data.evs.shape == result.data.stds.shape == (2, 3)
    assert result.metadata["target_precision"] == 0 and not result.data.stds.any()
    for i in range(2):
        state = Statevector(qc.assign_parameters(values[i, 0]))
        for k, op in enumerate(observables):
            assert abs(result.data.evs[i, k] - state.expectation_value(op).real) < 1e-12


@pytest.mark.parametrize("what", ["measure", "reset", "if_test"])
def test_non_unitary_circuits_are_refused(what):
    qc = QuantumCircuit(2, 1)
    qc.h(0)
    if what == "measure":
        qc.measure(0, 0)
    elif what == "reset":
        qc.reset(0)
    else:
        with qc.if_test((qc.clbits[0], 1)):
            qc.x(1)
    with pytest.raises(UnsupportedInstruction, match="unitary circuits only"):
        ZelvanicEstimator().run([(qc, "ZZ")]).result()


def heisenberg(n):
    return SparsePauliOp.from_list(
        [("I" * (n - 2 - i) + p + p + "I" * i, 1.0) for i in range(n - 1) for p in "XYZ"])


def test_vqe_reaches_the_ground_energy_of_a_heisenberg_chain():
    """Parameter-shift gradients from one broadcast PUB per step: a wrong sign, a wrong
    qubit order or a lost digit in any term keeps the minimum away from the exact one."""
    from scipy.optimize import minimize

    n = 4
    hamiltonian = heisenberg(n)
    ansatz = real_amplitudes(n, reps=3)
    estimator = ZelvanicEstimator()
    shifts = np.pi / 2 * np.eye(ansatz.num_parameters)

    def energy(x):
        return float(estimator.run([(ansatz, hamiltonian, x)]).result()[0].data.evs)

    def gradient(x):
        pub = (ansatz, hamiltonian, np.concatenate([x + shifts, x - shifts]))
        evs = estimator.run([pub]).result()[0].data.evs
        return (evs[:len(x)] - evs[len(x):]) / 2

    start = np.random.default_rng(7).uniform(-0.1, 0.1, ansatz.num_parameters)
    found = minimize(energy, start, jac=gradient, method="BFGS", options={"gtol": 1e-7})
    ground = np.linalg.eigvalsh(hamiltonian.to_matrix())[0]
    assert abs(found.fun - ground) < 1e-9, (found.fun, ground)


def test_threads_change_no_bit_of_values_or_counts():
    """At 18 qubits the register shares its tiles, lone gates and read-out over threads."""
    n = 18
    qc = layered(n, seed=3)
    values = np.random.default_rng(3).uniform(-np.pi, np.pi, qc.num_parameters)
    observable = SparsePauliOp(["Z" * n, "X" + "I" * (n - 2) + "Y"], [0.5, -1.0])
    one, many = (ZelvanicEstimator(max_parallel_threads=t).run([(qc, observable, values)])
                 .result()[0].data.evs for t in (1, 3))
    assert one.tobytes() == many.tobytes()
    measured = qc.assign_parameters(values)
    measured.measure_all()
    counts = [ZelvanicSampler(seed=5, max_parallel_threads=t).run([measured], shots=200)
              .result()[0].data.meas.get_counts() for t in (1, 0)]
    assert counts[0] == counts[1]
    with pytest.raises(ValueError, match="max_parallel_threads"):
        ZelvanicSampler(max_parallel_threads=-1)
