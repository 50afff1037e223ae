"""Entangle two qubits and measure them 1000 times: the two results always agree.

A Hadamard puts qubit 0 into an equal superposition and a CNOT copies it onto qubit 1, making
the Bell state (|00> + |11>)/sqrt(2). Each shot builds a fresh register and measures it once.
"""
import collections

import zelvanic

SHOTS = 1000

counts = collections.Counter(
    repr(zelvanic.QuantumRegister(2).h(0).cnot(0, 1).observe()) for _ in range(SHOTS)
)

print("Bell pair, %d shots:" % SHOTS, dict(sorted(counts.items())))
assert set(counts) <= {"|00>", "|11>"}, counts
# Both outcomes have probability 1/2; missing one in 1000 shots would take odds of 2**-999.
assert set(counts) == {"|00>", "|11>"}, counts
