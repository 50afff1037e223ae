"""Expectation values of Pauli strings from the probabilities of basis states.

A Pauli string whose qubits are all measured in the Z basis has the expectation value
sum_i p_i (-1)^(parity of i on the string's qubits). A group of strings that commute qubit by
qubit is brought to that basis by one rotation per qubit, after which every string of the
group is read from the same probabilities.
"""
import math
from typing import Dict, List, Sequence

import numpy as np

from .lowering import Step

_R = 1 / math.sqrt(2)
# Into the Z basis: H for X; for Y, S-dagger then H, as one matrix, H S-dagger.
_ROTATIONS = {
    "X": ("h", ()),
    "Y": ("u", (complex(_R), complex(0, -_R), complex(_R), complex(0, _R))),
}


def rotations(labels: Sequence[str]) -> List[Step]:
    """The steps that bring every Pauli string of `labels` (Qiskit's labels, qubit 0 last),
    which must commute qubit by qubit, into the Z basis."""
    basis: Dict[int, str] = {}
    for label in labels:
        for qubit, pauli in enumerate(reversed(label)):
            if pauli != "I":
                if basis.setdefault(qubit, pauli) != pauli:
                    raise ValueError(f"{labels} do not commute qubit by qubit")
    steps = []
    for qubit, pauli in sorted(basis.items()):
        if pauli in _ROTATIONS:
            method, entries = _ROTATIONS[pauli]
            steps.append(Step("gate", (method, (qubit, *entries))))
    return steps


def mask(label: str) -> int:
    """The qubits on which a Pauli string is not the identity, as bits."""
    return sum(1 << qubit for qubit, pauli in enumerate(reversed(label)) if pauli != "I")


def parity_expectations(probabilities: np.ndarray, num_qubits: int,
                        masks: Sequence[int]) -> List[float]:
    """sum_i p_i (-1)^popcount(i & m) for each m of `masks`.

    The qubits outside every mask are summed out first; a Walsh-Hadamard transform of what
    is left gives the parity sums for all masks on the remaining qubits at once, in a few
    passes over an array no longer than the probabilities.
    """
    support = 0
    for m in masks:
        support |= m
    kept = [q for q in range(num_qubits) if support >> q & 1]
    if not kept:
        total = float(probabilities.sum())
        return [total for _ in masks]
    # Axis j of the reshaped array is qubit num_qubits - 1 - j.
    tensor = probabilities.reshape((2,) * num_qubits)
    dropped = tuple(num_qubits - 1 - q for q in range(num_qubits) if not support >> q & 1)
    marginal = tensor.sum(axis=dropped) if dropped else tensor.copy()
    walsh = np.ascontiguousarray(marginal, dtype=np.float64).reshape(-1)
    for k in range(len(kept)):
        pairs = walsh.reshape(-1, 2, 1 << k)
        low, high = pairs[:, 0, :], pairs[:, 1, :]
        total = low + high
        np.subtract(low, high, out=high)
        low[...] = total
    position = {q: i for i, q in enumerate(kept)}
    return [float(walsh[_compress(m, position)]) for m in masks]


def _compress(m: int, position: Dict[int, int]) -> int:
    index = 0
    for qubit, i in position.items():
        if m >> qubit & 1:
            index |= 1 << i
    return index
