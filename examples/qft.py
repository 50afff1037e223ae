"""The quantum Fourier transform on 5 qubits, checked against a direct DFT of the amplitudes.

QFT|x> = 2**(-n/2) * sum_y exp(2 pi i x y / 2**n) |y>. The circuit is Hadamards and controlled
phase rotations (mcu with one control) followed by swaps that reverse the qubit order.

1. A state with period 4 (qubits 0 and 1 left at 0, the rest in superposition) transforms into
   four equal peaks at multiples of 2**n / 4, as period finding needs.
2. A product state with uneven amplitudes and phases, whose amplitudes we know in closed form,
   gives exactly the probabilities of its discrete Fourier transform computed here in Python.
"""
from __future__ import annotations

import cmath
import math
from typing import List

import zelvanic

N = 5
DIM = 2**N


def qft(reg: zelvanic.QuantumRegister, n: int) -> zelvanic.QuantumRegister:
    for j in reversed(range(n)):
        reg.h(j)
        for k in reversed(range(j)):
            phase = cmath.exp(1j * math.pi / 2 ** (j - k))
            reg.mcu([k], j, 1 + 0j, 0j, 0j, phase)  # controlled phase between k and j
    for q in range(n // 2):
        reg.swap(q, n - 1 - q)
    return reg


def dft_probabilities(amplitudes: List[complex]) -> List[float]:
    dim = len(amplitudes)
    return [
        abs(sum(a * cmath.exp(2j * math.pi * x * y / dim) for x, a in enumerate(amplitudes))) ** 2
        / dim
        for y in range(dim)
    ]


# 1. Period finding in miniature.
reg = zelvanic.QuantumRegister(N).x(0)  # offset 1: the input is |1>, |5>, |9>, ... |29>
for q in range(2, N):
    reg.h(q)
peaks = qft(reg, N).god_observe()
found = [y for y, p in enumerate(peaks) if p > 1e-9]
print("period-4 input: peaks at", found, "each with P = %.4f" % peaks[found[0]])
assert found == [0, 8, 16, 24], found
assert all(abs(peaks[y] - 0.25) < 1e-12 for y in found)

# 2. A general product state: qubit q is cos(t_q/2) e^(-i p_q/2) |0> + sin(t_q/2) e^(i p_q/2) |1>.
angles = [(0.4 + 0.5 * q, 1.1 - 0.6 * q) for q in range(N)]
reg = zelvanic.QuantumRegister(N)
for q, (theta, phi) in enumerate(angles):
    reg.ry(q, theta).rz(q, phi)
amplitudes = []
for x in range(DIM):
    amplitude = 1 + 0j
    for q, (theta, phi) in enumerate(angles):
        if x >> q & 1:
            amplitude *= math.sin(theta / 2) * cmath.exp(0.5j * phi)
        else:
            amplitude *= math.cos(theta / 2) * cmath.exp(-0.5j * phi)
    amplitudes.append(amplitude)
before = reg.god_observe()
assert max(abs(p - abs(a) ** 2) for p, a in zip(before, amplitudes)) < 1e-12

simulated = qft(reg, N).god_observe()
expected = dft_probabilities(amplitudes)
error = max(abs(s - e) for s, e in zip(simulated, expected))
top = max(range(DIM), key=simulated.__getitem__)
print("product state: most likely outcome %d (P = %.4f); largest difference from the DFT %.2g"
      % (top, simulated[top], error))
assert error < 1e-12, error
assert abs(sum(simulated) - 1.0) < 1e-12
