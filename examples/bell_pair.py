"""Entangle two qubits and measure them: the two results always agree."""
import collections

import zelvanic

counts = collections.Counter()
for _ in range(1000):
    reg = zelvanic.QuantumRegister(2).h(0).cnot(0, 1)
    counts[repr(reg.observe())] += 1

print("Bell pair, 1000 shots:", dict(sorted(counts.items())))
assert set(counts) <= {"|00>", "|11>"}, counts
