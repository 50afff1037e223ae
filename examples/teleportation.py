"""Quantum teleportation: move an arbitrary qubit state from qubit 0 to qubit 2.

Qubit 0 holds the message cos(t/2)|0> + e^(i p) sin(t/2)|1> (up to a global phase). Qubits 1
and 2 share a Bell pair. Alice entangles the message with her half, measures qubits 0 and 1,
and Bob fixes qubit 2 with X and Z according to the two bits. To check that qubit 2 now holds
the message, we undo the preparation on it: it must then be |0> with certainty.
"""
from __future__ import annotations

import collections

import zelvanic

Z = (1 + 0j, 0j, 0j, -1 + 0j)  # the Pauli Z matrix, row by row


def bit(ket: zelvanic.PyDiracKet) -> int:
    return int(repr(ket)[1:-1], 2)


def probability_of_one(reg: zelvanic.QuantumRegister, qubit: int) -> float:
    return sum(p for i, p in enumerate(reg.god_observe()) if i >> qubit & 1)


def teleport(theta: float, phi: float) -> tuple[int, int, float]:
    reg = zelvanic.QuantumRegister(3)
    reg.ry(0, theta).rz(0, phi)  # the message
    reg.h(1).cnot(1, 2)  # the Bell pair shared by Alice (1) and Bob (2)
    reg.cnot(0, 1).h(0)  # Alice's side
    m0 = bit(reg.observe_one(0))
    m1 = bit(reg.observe_one(1))
    if m1:
        reg.x(2)
    if m0:
        reg.u(2, *Z)
    reg.rz(2, -phi).ry(2, -theta)  # undo the preparation on Bob's qubit
    return m0, m1, probability_of_one(reg, 2)


branches: collections.Counter[str] = collections.Counter()
worst = 0.0
for run in range(100):
    theta, phi = 0.3 + 0.05 * run, 2.0 - 0.07 * run
    m0, m1, leftover = teleport(theta, phi)
    branches["m0=%d m1=%d" % (m0, m1)] += 1
    worst = max(worst, leftover)

print("Teleported 100 states; Alice's measurements:", dict(sorted(branches.items())))
print("largest probability of qubit 2 differing from the message: %.3g" % worst)
assert worst < 1e-12, worst
assert len(branches) == 4, branches  # each branch has odds 1/4 on every run
