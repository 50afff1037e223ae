"""A five-qubit GHZ state: all qubits agree, and they are all 0 or all 1 with equal odds.

(|00000> + |11111>)/sqrt(2) is made by one Hadamard and a chain of CNOTs. god_observe shows the
two probabilities without disturbing the register; measurements show the correlation.
"""
import collections

import zelvanic

N = 5
ALL_ONES = (1 << N) - 1


def ghz(n: int) -> zelvanic.QuantumRegister:
    reg = zelvanic.QuantumRegister(n).h(0)
    for q in range(1, n):
        reg.cnot(q - 1, q)
    return reg


probabilities = ghz(N).god_observe()
print("P(|%s>) = %.6f, P(|%s>) = %.6f" % ("0" * N, probabilities[0], "1" * N, probabilities[-1]))
assert len(probabilities) == 2**N
assert abs(probabilities[0] - 0.5) < 1e-12 and abs(probabilities[ALL_ONES] - 0.5) < 1e-12
assert all(p == 0.0 for i, p in enumerate(probabilities) if i not in (0, ALL_ONES))

counts = collections.Counter(repr(ghz(N).observe()) for _ in range(500))
print("GHZ state of %d qubits, 500 shots:" % N, dict(sorted(counts.items())))
assert set(counts) == {"|" + "0" * N + ">", "|" + "1" * N + ">"}, counts

# Measuring one qubit decides all the others.
reg = ghz(N)
first = repr(reg.observe_one(2))
rest = repr(reg.observe_mul([0, 1, 3, 4]))
print("qubit 2 gave %s, the other four gave %s" % (first, rest))
assert rest == "|" + first[1] * 4 + ">"
