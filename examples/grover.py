"""Grover search on 3, 4 and 5 qubits: find the one marked basis state in about sqrt(2**n) steps.

The oracle flips the sign of the marked state: X gates turn it into |1...1>, a multi-controlled
Z (mcu with n-1 controls) flips the sign of |1...1>, and the X gates are undone. The diffusion
step reflects about the uniform superposition the same way. After floor(pi/4 * sqrt(2**n))
rounds the marked state has probability above 0.94.
"""
import collections
import math

import zelvanic

Z = (1 + 0j, 0j, 0j, -1 + 0j)  # the Pauli Z matrix, row by row


def flip_sign_of(reg: zelvanic.QuantumRegister, n: int, state: int) -> None:
    zeros = [q for q in range(n) if not state >> q & 1]
    for q in zeros:
        reg.x(q)
    reg.mcu(range(n - 1), n - 1, *Z)  # -1 on |1...1> only
    for q in zeros:
        reg.x(q)


def grover(n: int, marked: int) -> zelvanic.QuantumRegister:
    reg = zelvanic.QuantumRegister(n)
    for q in range(n):
        reg.h(q)
    for _ in range(math.floor(math.pi / 4 * math.sqrt(2**n))):
        flip_sign_of(reg, n, marked)  # the oracle
        for q in range(n):
            reg.h(q)
        flip_sign_of(reg, n, 0)  # reflect about |0...0>, in the Hadamard basis
        for q in range(n):
            reg.h(q)
    return reg


for n, marked in ((3, 0b101), (4, 0b1011), (5, 0b10110)):
    probability = grover(n, marked).god_observe()[marked]
    shots = collections.Counter(repr(grover(n, marked).observe()) for _ in range(100))
    found, hits = shots.most_common(1)[0]
    print("%d qubits, marked |%s>: P = %.4f, found %s in %d of 100 shots"
          % (n, format(marked, "0%db" % n), probability, found, hits))
    assert probability > 0.94, probability
    assert found == "|" + format(marked, "0%db" % n) + ">", shots
