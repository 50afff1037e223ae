"""Deutsch-Jozsa: tell a constant function from a balanced one with a single oracle call.

f maps 4 input bits to one bit and is promised to be either constant or balanced (1 on exactly
half of the 16 inputs). The oracle flips the output qubit (qubit 4) by f(x). After Hadamards
around one oracle call, the input qubits read all zeros exactly when f is constant.
"""
from __future__ import annotations

from typing import Callable, Dict

import zelvanic

N = 4  # input qubits 0..3; qubit N is the output
Oracle = Callable[[zelvanic.QuantumRegister], None]
X = (0j, 1 + 0j, 1 + 0j, 0j)  # the NOT matrix, row by row


def constant_zero(reg: zelvanic.QuantumRegister) -> None:
    pass


def constant_one(reg: zelvanic.QuantumRegister) -> None:
    reg.x(N)


def parity_of_bits_0_and_2(reg: zelvanic.QuantumRegister) -> None:
    reg.cnot(0, N).cnot(2, N)


def top_bit(reg: zelvanic.QuantumRegister) -> None:
    reg.cnot(N - 1, N)


def top_bit_xor_and_of_the_rest(reg: zelvanic.QuantumRegister) -> None:
    # Still balanced: for each value of x0, x1, x2, flipping x3 flips f.
    reg.mcu([0, 1, 2], N, *X).cnot(3, N)


ORACLES: Dict[str, Oracle] = {
    "constant 0": constant_zero,
    "constant 1": constant_one,
    "x0 xor x2": parity_of_bits_0_and_2,
    "x3": top_bit,
    "x3 xor (x0 and x1 and x2)": top_bit_xor_and_of_the_rest,
}


def deutsch_jozsa(oracle: Oracle) -> tuple[str, float]:
    """Returns the measured input ket and the probability that the inputs read all zeros."""
    reg = zelvanic.QuantumRegister(N + 1).x(N)
    for q in range(N + 1):
        reg.h(q)
    oracle(reg)
    for q in range(N):
        reg.h(q)
    p_zero = sum(p for i, p in enumerate(reg.god_observe()) if i % (1 << N) == 0)
    return repr(reg.observe_mul(range(N))), p_zero


for name, oracle in ORACLES.items():
    ket, p_zero = deutsch_jozsa(oracle)
    verdict = "constant" if ket == "|" + "0" * N + ">" else "balanced"
    print("f(x) = %-26s measured %s -> %s (P(all zeros) = %.3f)" % (name, ket, verdict, p_zero))
    expected = "constant" if name.startswith("constant") else "balanced"
    assert verdict == expected, (name, ket)
    assert abs(p_zero - (1.0 if verdict == "constant" else 0.0)) < 1e-12
