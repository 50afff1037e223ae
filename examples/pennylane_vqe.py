"""The ground energy of a Heisenberg chain found variationally on zelvanic through PennyLane
(needs the zelvanic-pennylane integration).

H = sum over neighbours i, i+1 of X_i X_i+1 + Y_i Y_i+1 + Z_i Z_i+1 on three qubits. A
real-amplitude ansatz (RY layers between CNOT ladders) is trained by BFGS with gradients from
PennyLane's parameter-shift rule; every energy is an exact expectation value, one simulation
for each group of qubit-wise commuting terms (here three: XX, YY and ZZ). The result is
checked against the lowest eigenvalue of H's matrix.
"""
import numpy as np
import pennylane as qml
from pennylane import numpy as pnp
from scipy.optimize import minimize

SITES, LAYERS = 3, 2

hamiltonian = qml.Hamiltonian(
    [1.0] * 3 * (SITES - 1),
    [P(i) @ P(i + 1) for i in range(SITES - 1) for P in (qml.X, qml.Y, qml.Z)])
exact = np.linalg.eigvalsh(qml.matrix(hamiltonian, wire_order=range(SITES))).min()

dev = qml.device("zelvanic.qubit", wires=SITES)


@qml.qnode(dev, diff_method="parameter-shift")
def energy(params):
    for layer in range(LAYERS + 1):
        for w in range(SITES):
            qml.RY(params[layer * SITES + w], wires=w)
        if layer < LAYERS:
            for w in range(SITES - 1):
                qml.CNOT(wires=[w, w + 1])
    return qml.expval(hamiltonian)


gradient = qml.grad(energy)
start = np.random.default_rng(1).uniform(-0.5, 0.5, (LAYERS + 1) * SITES)
result = minimize(
    lambda p: float(energy(pnp.array(p, requires_grad=False))), start,
    jac=lambda p: np.asarray(gradient(pnp.array(p, requires_grad=True))),
    method="BFGS", options={"gtol": 1e-9})

print("Heisenberg chain of %d sites: VQE energy %.12f after %d BFGS steps"
      % (SITES, result.fun, result.nit))
print("exact ground energy (numpy eigvalsh): %.12f" % exact)
assert abs(result.fun - exact) < 1e-9, result.fun - exact
print("difference: %.1e" % abs(result.fun - exact))
