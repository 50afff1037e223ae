"""zelvanic.qubit against default.qubit, the independent oracle, on what PennyLane's device
suite does not reach: large random circuits and Hamiltonians, odd wire labels, mid-circuit
measurements, the exact-state boundary, seeding and the memory refusal."""

import numpy as np
import pennylane as qml
import pytest
from pennylane.exceptions import DeviceError


def random_circuit(wires, depth, rng):
    """Native gates, gates the device lowers itself (matrices, open controls) and gates that
    PennyLane decomposes, on random wires."""
    n = len(wires)
    for _ in range(depth):
        kind = rng.integers(8 if n >= 3 else 5)
        angles = rng.uniform(-np.pi, np.pi, 3)
        pick = [wires[i] for i in rng.permutation(n)]
        if kind == 0:
            qml.Hadamard(pick[0])
            qml.RX(angles[0], pick[0])
        elif kind == 1:
            qml.RY(angles[0], pick[0])
            qml.RZ(angles[1], pick[0])
        elif kind == 2:
            qml.Rot(*angles, wires=pick[0])
            qml.S(pick[0])
        elif kind == 3 and n >= 2:
            qml.CNOT(pick[:2])
            qml.CRY(angles[0], pick[1:3] if n >= 3 else pick[1::-1])
        elif kind == 4 and n >= 2:
            qml.IsingXY(angles[0], pick[:2])
            qml.SWAP(pick[:2])
        elif kind == 5:
            qml.ctrl(qml.Rot(*angles, wires=pick[0]), pick[1:3], control_values=[0, 1])
        elif kind == 6:
            qml.Toffoli(pick[:3])
            qml.CSWAP(pick[:3])
        elif kind == 7:
            qml.MultiControlledX(wires=pick[: min(n, 4)], control_values=[1, 0, 1][: min(n, 4) - 1])
            qml.QubitUnitary(qml.matrix(qml.Rot(*angles, wires=0)), wires=pick[0])
        else:
            qml.PauliY(pick[0])


def random_hamiltonian(wires, terms, rng):
    paulis = [qml.PauliX, qml.PauliY, qml.PauliZ]
    ops = []
    for _ in range(terms):
        chosen = rng.choice(len(wires), size=rng.integers(1, min(4, len(wires)) + 1),
                            replace=False)
        ops.append(qml.prod(*(paulis[rng.integers(3)](wires[i]) for i in chosen)))
    return qml.Hamiltonian(rng.normal(size=terms), ops)


@pytest.mark.parametrize("wires", [["a"], [3, "b", 0, 1.5], list(range(7)),
                                   [f"q{i}" for i in range(12)]])
def test_exact_results_equal_default_qubit(wires):
    """Expectation values of Pauli sums and a Hermitian matrix, variances and marginal
    probabilities on wires out of order, to 1e-12. A wrong wire-to-qubit map, a lost group
    of non-commuting terms or a wrong diagonalizing rotation each breaks it."""
    rng = np.random.default_rng(len(wires))
    n = len(wires)
    hamiltonian = random_hamiltonian(wires, 4 * n, rng)
    a = rng.normal(size=(2, 2)) + 1j * rng.normal(size=(2, 2))
    hermitian = qml.Hermitian(a + a.conj().T, wires=wires[-1])
    order = [wires[i] for i in rng.permutation(n)][: min(n, 4)]

    def circuit():
        random_circuit(wires, 6 * n, rng)
        return (qml.expval(hamiltonian), qml.expval(hermitian),
                qml.var(qml.PauliX(wires[0]) @ qml.PauliY(wires[-1]) if n > 1
                        else qml.PauliX(wires[0])),
                qml.probs(wires=order))

    tape = qml.tape.make_qscript(circuit)()
    ours = qml.execute([tape], qml.device("zelvanic.qubit", wires=wires))[0]
    theirs = qml.execute([tape], qml.device("default.qubit", wires=wires))[0]
    for a_value, b_value in zip(ours, theirs):
        np.testing.assert_allclose(a_value, b_value, rtol=0, atol=1e-12)


def test_mid_circuit_measurements_equal_default_qubit():
    """Deferred measurements, classical control, a reset and a postselection."""
    def circuit(x):
        qml.RX(x, 0)
        qml.CNOT([0, 1])
        m0 = qml.measure(1, reset=True)
        qml.cond(m0, qml.RY)(0.8, 2)
        qml.cond(~m0, qml.Hadamard)(1)
        m1 = qml.measure(0, postselect=1)
        qml.cond(m1, qml.CRZ)(0.4, [2, 1])
        return qml.expval(qml.X(1) @ qml.Z(2)), qml.probs(wires=[2, 1]), qml.expval(m0)

    x = 1.1
    ours = qml.QNode(circuit, qml.device("zelvanic.qubit", wires=6))(x)
    theirs = qml.QNode(circuit, qml.device("default.qubit", wires=6),
                       mcm_method="deferred")(x)
    for a_value, b_value in zip(ours, theirs):
        np.testing.assert_allclose(a_value, b_value, rtol=0, atol=1e-12)


def test_state_only_where_exact():
    """After basis permutations and global phases the state is exact; after any other gate
    it is refused, never given with a made-up phase."""
    def permutations():
        qml.PauliX(0)
        qml.CNOT([0, 2])
        qml.GlobalPhase(0.3)
        qml.Toffoli([0, 2, 1])
        qml.SWAP([1, 3])
        return qml.state()

    ours = qml.QNode(permutations, qml.device("zelvanic.qubit", wires=4))()
    theirs = qml.QNode(permutations, qml.device("default.qubit", wires=4))()
    np.testing.assert_array_equal(ours, theirs)

    @qml.qnode(qml.device("zelvanic.qubit", wires=2))
    def phases():
        qml.Hadamard(0)
        qml.PauliZ(0)
        return qml.state()

    with pytest.raises(DeviceError, match="StateMP is not supported .* after Hadamard"):
        phases()


def test_shots_are_reproducible_with_a_seed():
    """The same seed gives the same samples; the draws follow the probabilities."""
    def circuit():
        qml.RY(1.0, "a")
        qml.CNOT(["a", "b"])
        return qml.sample(wires=["b", "a"]), qml.expval(qml.PauliX("a"))

    def run(seed):
        dev = qml.device("zelvanic.qubit", wires=["a", "b"], seed=seed)
        return qml.set_shots(qml.QNode(circuit, dev), shots=2000)()

    first, second, other = run(7), run(7), run(8)
    np.testing.assert_array_equal(first[0], second[0])
    assert first[1] == second[1]
    assert not np.array_equal(first[0], other[0])
    assert set(map(tuple, first[0])) == {(0, 0), (1, 1)}


def test_too_large_a_circuit_raises_the_registers_panic():
    """The register's refusal reaches the caller unchanged, not wrapped or swallowed."""
    @qml.qnode(qml.device("zelvanic.qubit", wires=60))
    def circuit():
        qml.Hadamard(0)
        return qml.expval(qml.Z(0))

    with pytest.raises(BaseException) as caught:
        circuit()
    assert type(caught.value).__name__ == "PanicException"


def test_vqe_reaches_the_heisenberg_ground_energy():
    """Parameter-shift gradients through autograd train a real-amplitude ansatz on a
    three-site Heisenberg chain down to the lowest eigenvalue of its matrix."""
    minimize = pytest.importorskip("scipy.optimize").minimize
    n, layers = 3, 2
    hamiltonian = qml.Hamiltonian(
        [1.0] * 3 * (n - 1),
        [P(i) @ P(i + 1) for i in range(n - 1) for P in (qml.X, qml.Y, qml.Z)])
    exact = np.linalg.eigvalsh(qml.matrix(hamiltonian, wire_order=range(n))).min()

    @qml.qnode(qml.device("zelvanic.qubit", wires=n), diff_method="parameter-shift")
    def energy(params):
        for layer in range(layers + 1):
            for w in range(n):
                qml.RY(params[layer * n + w], w)
            if layer < layers:
                for w in range(n - 1):
                    qml.CNOT([w, w + 1])
        return qml.expval(hamiltonian)

    gradient = qml.grad(energy)
    start = np.random.default_rng(1).uniform(-0.5, 0.5, (layers + 1) * n)
    result = minimize(
        lambda p: float(energy(qml.numpy.array(p, requires_grad=False))), start,
        jac=lambda p: np.asarray(gradient(qml.numpy.array(p, requires_grad=True))),
        method="BFGS", options={"gtol": 1e-9})
    assert abs(result.fun - exact) < 1e-9
