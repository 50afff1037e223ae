"""The device's own preprocessing steps, around PennyLane's transforms."""
import numpy as np
import pennylane as qml
from pennylane.exceptions import DeviceError
from pennylane.measurements import (
    ExpectationMP,
    ProbabilityMP,
    StateMeasurement,
    VarianceMP,
)
from pennylane.ops.op_math import Controlled
from pennylane.transforms import transform

from .gates import PERMUTATIONS


def _null_postprocessing(results):
    return results[0]


def decompose_or_matrix(op):
    """An operation's decomposition, or, where it has none but a unitary matrix, that matrix
    as a QubitUnitary, which PennyLane decomposes in turn. A matrix that is not unitary (a
    projector on several wires) has no such decomposition: PennyLane's error names it."""
    if not op.has_decomposition and op.has_matrix:
        matrix = qml.matrix(op)
        if np.allclose(matrix @ matrix.conj().T, np.eye(len(matrix)), rtol=0, atol=1e-10):
            return [qml.QubitUnitary(matrix, wires=op.wires)]
    return op.decomposition()


def _has_diagonalizing_gates(obs) -> bool:
    # A Pauli sum's own diagonalizing gates would come from its full matrix: the grouping
    # and diagonalizing transforms handle it term by term instead.
    return obs.pauli_rep is not None or obs.has_diagonalizing_gates


def _is_diagonal(obs) -> bool:
    """Diagonal in the computational basis, found without building a matrix where possible."""
    if obs.pauli_rep is not None:
        return all(p in ("I", "Z") for word in obs.pauli_rep for p in word.values())
    return not obs.diagonalizing_gates()


@transform
def pauli_sums_for_matrix_observables(tape):
    """An expectation value of an observable known only by its matrix (a SparseHamiltonian)
    becomes one of its Pauli decomposition, which the grouping below measures term by term."""
    measurements, changed = [], False
    for mp in tape.measurements:
        obs = mp.obs
        if obs is None or _has_diagonalizing_gates(obs):
            measurements.append(mp)
            continue
        if not isinstance(mp, ExpectationMP):
            raise DeviceError(f"{type(mp).__name__} of {obs.name} is not supported on "
                              "zelvanic.qubit: the observable has no diagonalizing gates")
        matrix = obs.sparse_matrix(wire_order=obs.wires).toarray() \
            if obs.has_sparse_matrix else qml.matrix(obs, wire_order=obs.wires)
        measurements.append(qml.expval(qml.pauli_decompose(matrix, wire_order=obs.wires)))
        changed = True
    if not changed:
        return (tape,), _null_postprocessing
    return (tape.copy(measurements=measurements),), _null_postprocessing


# Rotations found by `diagonalize_measurements`, by the hashes of the measurements they
# serve: a gradient's shifted circuits all measure the same groups.
_ROTATIONS = {}
_ROTATIONS_KEPT = 256


@transform
def diagonalize_pauli_measurements(tape):
    """PennyLane's `diagonalize_measurements`, which costs more than a simulation of a dozen
    qubits: skipped where every observable is a product of Z already (a QAOA cost, or the ZZ
    group of a Heisenberg chain), and otherwise run once for each set of measurements, on
    the measurements alone, whose rotations then go to the end of every circuit with them."""
    if all(mp.obs is None or _is_diagonal(mp.obs) for mp in tape.measurements):
        return (tape,), _null_postprocessing
    key = tuple(mp.hash for mp in tape.measurements)
    found = _ROTATIONS.get(key)
    if found is None:
        probe = qml.tape.QuantumScript([], tape.measurements, shots=tape.shots)
        (rotated,), _ = qml.transforms.diagonalize_measurements(probe)
        found = (tuple(rotated.operations), tuple(rotated.measurements))
        if len(_ROTATIONS) >= _ROTATIONS_KEPT:
            _ROTATIONS.clear()
        _ROTATIONS[key] = found
    gates, measurements = found
    new = tape.copy(operations=tape.operations + list(gates), measurements=list(measurements))
    return (new,), _null_postprocessing


@transform
def diagonalize_other_observables(tape):
    """Measures in its eigenbasis every observable that `diagonalize_measurements` leaves as it
    is (Hermitian, a projector onto a state, a sparse Hamiltonian...): its diagonalizing gates
    go to the end of the circuit, and the measurement reads its eigenvalues on its wires."""
    gates, measurements, busy = [], [], set()
    for mp in tape.measurements:
        obs = mp.obs
        if obs is None or _is_diagonal(obs):
            measurements.append(mp)
            continue
        if busy & set(obs.wires) or any(
                set(obs.wires) & set(other.wires) for other in tape.measurements
                if other is not mp):
            raise DeviceError(f"{obs} is not supported on zelvanic.qubit together with "
                              "another measurement on its wires")
        busy |= set(obs.wires)
        gates.extend(obs.diagonalizing_gates())
        if isinstance(mp, ProbabilityMP):
            measurements.append(qml.measurements.ProbabilityMP(wires=obs.wires))
        else:
            measurements.append(type(mp)(eigvals=obs.eigvals(), wires=obs.wires))
    if not gates:
        return (tape,), _null_postprocessing
    new = tape.copy(operations=tape.operations + gates, measurements=measurements)
    return (new,), _null_postprocessing


def is_permutation(op) -> bool:
    return op.name in PERMUTATIONS or (isinstance(op, Controlled) and op.base.name == "PauliX")


@transform
def refuse_inexact_state(tape):
    """The register shows probabilities, not amplitudes. The state is known exactly only while
    every gate maps basis states to basis states (X, CNOT, Toffoli, SWAP, CSWAP, multi-
    controlled X) or is a global phase: then it is one basis state times the phase. A
    measurement that needs the state of any other circuit is refused."""
    for mp in tape.measurements:
        if isinstance(mp, StateMeasurement) and not isinstance(
                mp, (ExpectationMP, VarianceMP, ProbabilityMP)):
            for op in tape.operations:
                if not is_permutation(op):
                    raise DeviceError(
                        f"{type(mp).__name__} is not supported on zelvanic.qubit after {op.name}: "
                        "the register gives probabilities, not amplitudes, so the state is "
                        "known exactly only after basis permutations (X, CNOT, Toffoli, SWAP, "
                        "CSWAP) and global phases")
    return (tape,), _null_postprocessing
