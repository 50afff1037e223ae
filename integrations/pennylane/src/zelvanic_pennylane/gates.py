"""From PennyLane operations to the register's gate methods.

What runs as it stands:
- Hadamard, PauliX, RX, RY, RZ, CNOT, Toffoli, SWAP and CSWAP, on the register's own methods;
- any other one-wire operation with a matrix, through `u`;
- any controlled operation whose target is one wire with a matrix, through `mcu`: controls
  that must be 0 are flipped by X before and after;
- Identity and GlobalPhase, which change no probability, and Projector on one wire, which
  postselection leaves behind (the probabilities are renormalised afterwards).
Everything else is decomposed by PennyLane first.
"""
from typing import Dict, Hashable

import numpy as np
import pennylane as qml
from pennylane.operation import Operator
from pennylane.ops.op_math import Controlled

# Names for PennyLane's graph-based decomposition to aim at; `runs_natively` is the rule.
TARGET_GATES = frozenset({
    "Hadamard", "PauliX", "PauliY", "PauliZ", "S", "T", "SX", "RX", "RY", "RZ", "PhaseShift",
    "Rot", "U1", "U2", "U3", "QubitUnitary", "CNOT", "CY", "CZ", "CH", "CRX", "CRY", "CRZ",
    "CRot", "ControlledPhaseShift", "Toffoli", "MultiControlledX", "ControlledQubitUnitary",
    "SWAP", "CSWAP", "Identity", "GlobalPhase",
})

_NAMED = frozenset({"Hadamard", "PauliX", "RX", "RY", "RZ", "CNOT", "Toffoli", "SWAP", "CSWAP",
                    "Identity", "GlobalPhase"})

# Operations that take a basis state to a basis state with the same amplitude: after only
# these (and global phases) the state is known exactly from the probabilities.
PERMUTATIONS = frozenset({"PauliX", "CNOT", "Toffoli", "SWAP", "CSWAP", "MultiControlledX",
                          "Identity", "GlobalPhase"})


def runs_natively(op: Operator) -> bool:
    if op.name in _NAMED:
        return True
    if isinstance(op, Controlled):
        return len(op.base.wires) == 1 and op.base.has_matrix
    return len(op.wires) == 1 and op.has_matrix


def apply(reg, op: Operator, qubit: Dict[Hashable, int]) -> None:
    """Applies one operation for which `runs_natively` holds; `qubit` maps wires to qubits."""
    name = op.name
    if name in ("Identity", "GlobalPhase"):
        return
    wires = [qubit[w] for w in op.wires]
    if name == "Hadamard":
        reg.h(wires[0])
    elif name == "PauliX":
        reg.x(wires[0])
    elif name in ("RX", "RY", "RZ"):
        getattr(reg, name.lower())(wires[0], float(op.data[0]))
    elif name == "CNOT":
        reg.cnot(*wires)
    elif name == "Toffoli":
        reg.ccnot(*wires)
    elif name == "SWAP":
        reg.swap(*wires)
    elif name == "CSWAP":
        reg.csswap(*wires)
    elif isinstance(op, Controlled):
        _apply_controlled(reg, op, qubit)
    else:
        reg.u(wires[0], *_entries(op))


def _apply_controlled(reg, op: Controlled, qubit: Dict[Hashable, int]) -> None:
    controls = [qubit[w] for w in op.control_wires]
    zeros = [q for q, value in zip(controls, op.control_values) if not value]
    for q in zeros:
        reg.x(q)
    reg.mcu(controls, qubit[op.base.wires[0]], *_entries(op.base))
    for q in zeros:
        reg.x(q)


def _entries(op: Operator):
    matrix = np.asarray(qml.matrix(op), dtype=complex)
    if matrix.shape != (2, 2):
        raise ValueError(f"{op.name} has no single 2x2 matrix (a parameter broadcast?)")
    return [complex(v) for v in matrix.ravel()]


def global_phase(tape) -> complex:
    """The product of the tape's global phases, e^(-i phi) each."""
    phase = 1 + 0j
    for op in tape.operations:
        if op.name == "GlobalPhase":
            phase *= complex(np.exp(-1j * float(op.data[0])))
    return phase
