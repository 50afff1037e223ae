"""The ground energy of a four-site Heisenberg chain, found through Qiskit's Estimator
primitive on zelvanic, and checked against the lowest eigenvalue of the Hamiltonian.

Needs the Qiskit integration: python3 -m pip install . ./integrations/qiskit
"""
import numpy as np
from qiskit.circuit.library import real_amplitudes
from qiskit.quantum_info import SparsePauliOp
from scipy.optimize import minimize

from zelvanic_qiskit import ZelvanicEstimator

n = 4
# XX + YY + ZZ on each neighbouring pair; Qiskit's labels put qubit 0 last.
hamiltonian = SparsePauliOp.from_list(
    [("I" * (n - 2 - i) + p + p + "I" * i, 1.0) for i in range(n - 1) for p in "XYZ"])
ansatz = real_amplitudes(n, reps=3)
estimator = ZelvanicEstimator()


def energy(x):
    return float(estimator.run([(ansatz, hamiltonian, x)]).result()[0].data.evs)


def gradient(x):
    # The parameter-shift rule: every shifted binding in one PUB, one result array.
    shifts = np.pi / 2 * np.eye(len(x))
    pub = (ansatz, hamiltonian, np.concatenate([x + shifts, x - shifts]))
    evs = estimator.run([pub]).result()[0].data.evs
    return (evs[:len(x)] - evs[len(x):]) / 2


start = np.random.default_rng(7).uniform(-0.1, 0.1, ansatz.num_parameters)
found = minimize(energy, start, jac=gradient, method="BFGS", options={"gtol": 1e-7})
exact = np.linalg.eigvalsh(hamiltonian.to_matrix())[0]
print(f"VQE energy  {found.fun:.12f} after {found.nit} steps")
print(f"exact       {exact:.12f}")
assert abs(found.fun - exact) < 1e-9

# precision > 0 adds Gaussian noise of that standard deviation, reproducible with a seed.
noisy = ZelvanicEstimator(seed=1).run([(ansatz, hamiltonian, found.x)], precision=0.01)
result = noisy.result()[0]
print(f"with precision 0.01: {float(result.data.evs):.4f} "
      f"(stds {float(result.data.stds)}, metadata {result.metadata})")
assert abs(result.data.evs - exact) < 0.1
