"""Results of a circuit's measurements from the register's probabilities.

The probabilities come from `god_observe()` in PennyLane's order already: the first wire of
`wire_order` runs on the register's highest qubit, so a basis-state index reads the wires
from left (most significant) to right.
"""
from typing import Sequence

import numpy as np
import pennylane as qml
from pennylane.measurements import (
    ExpectationMP,
    MeasurementProcess,
    ProbabilityMP,
    StateMeasurement,
    VarianceMP,
)
from pennylane.wires import Wires


def marginal(probs: np.ndarray, wire_order: Wires, wires: Wires) -> np.ndarray:
    """The probabilities of the values of `wires`, in their order, summed over the rest."""
    if len(wires) == 0:
        return probs
    axis = {w: i for i, w in enumerate(wire_order)}
    kept = [axis[w] for w in wires]
    others = tuple(i for i in range(len(wire_order)) if i not in kept)
    tensor = probs.reshape((2,) * len(wire_order)).sum(axis=others)
    # after the sum, the kept axes stand in increasing order
    return np.transpose(tensor, np.argsort(np.argsort(kept))).reshape(-1)


def analytic(mp: MeasurementProcess, probs: np.ndarray, wire_order: Wires, state=None):
    """The exact value of one measurement whose observable, if any, is diagonal."""
    if isinstance(mp, StateMeasurement) and not isinstance(
            mp, (ExpectationMP, VarianceMP, ProbabilityMP)):
        return mp.process_state(state, wire_order)
    if isinstance(mp, ProbabilityMP):
        return marginal(probs, wire_order, mp.wires)
    eigvals = _eigvals(mp)
    if len(mp.wires) == 0:  # a constant, such as an Identity without wires
        return np.squeeze(eigvals)
    p = marginal(probs, wire_order, mp.wires)
    mean = np.dot(p, eigvals)
    if isinstance(mp, ExpectationMP):
        return mean
    if isinstance(mp, VarianceMP):
        return np.dot(p, eigvals ** 2) - mean ** 2
    raise qml.DeviceError(f"zelvanic.qubit cannot compute {mp} exactly")


def _eigvals(mp: MeasurementProcess) -> np.ndarray:
    """The eigenvalues over `mp.wires`: for a sum of Z products straight from its Pauli
    terms (a sign per parity), which PennyLane would otherwise build from Kronecker
    products term by term."""
    obs = mp.obs
    rep = obs.pauli_rep if obs is not None else None
    if rep is None or not all(p in ("I", "Z") for word in rep for p in word.values()):
        return np.asarray(mp.eigvals(), dtype=np.float64)
    k = len(mp.wires)
    position = {w: k - 1 - i for i, w in enumerate(mp.wires)}
    index = np.arange(2 ** k, dtype=np.int64)
    eigvals = np.zeros(2 ** k)
    for word, coeff in rep.items():
        mask = 0
        for w, p in word.items():
            if p == "Z":
                mask |= 1 << position[w]
        parity = np.zeros(2 ** k, dtype=np.int64)
        bits = index & mask
        while mask:
            parity ^= bits & 1
            bits >>= 1
            mask >>= 1
        eigvals += float(np.real(coeff)) * (1 - 2 * parity)
    return eigvals


def exact_state(probs: np.ndarray, phase: complex) -> np.ndarray:
    """The state after permutation gates: the one basis state of probability 1, with the
    circuit's global phase."""
    state = np.zeros(len(probs), dtype=complex)
    state[int(np.argmax(probs))] = phase
    return state


def draw(probs: np.ndarray, shots: int, rng: np.random.Generator) -> np.ndarray:
    """Basis-state indices drawn by inverting the cumulative distribution. The draws are
    scaled by the total, which may differ from 1 in the last bits; an outcome of probability
    zero is never drawn."""
    cumulative = np.cumsum(probs)
    total = cumulative[-1]
    drawn = np.searchsorted(cumulative, rng.random(shots) * total, side="right")
    # u * total may round up to total itself: that draw goes to the last possible outcome
    last = np.searchsorted(cumulative, total, side="left")
    return np.minimum(drawn, last)


def bits(indices: np.ndarray, num_wires: int) -> np.ndarray:
    """Samples as PennyLane takes them: one row per shot, one 0/1 column per wire."""
    shifts = np.arange(num_wires - 1, -1, -1, dtype=np.int64)
    return ((indices[:, None].astype(np.int64) >> shifts) & 1).astype(np.int64)


def from_samples(measurements: Sequence[MeasurementProcess], samples: np.ndarray,
                 wire_order: Wires, bins):
    """Each measurement processed over each bin of shots, shaped as PennyLane returns them."""
    results = []
    for lower, upper in bins:
        values = tuple(mp.process_samples(samples[lower:upper], wire_order)
                       for mp in measurements)
        results.append(values[0] if len(measurements) == 1 else values)
    return results
