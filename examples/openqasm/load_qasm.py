"""An OpenQASM 2 file run on zelvanic through Qiskit (needs the zelvanic-qiskit integration).

bernstein_vazirani.qasm, beside this script, hides the string 1011 in an oracle defined in the
file itself; Qiskit's transpiler takes that gate apart, zelvanic runs the result, and every
shot reads the hidden string. Counts are in Qiskit's order: c[3] leftmost, c[0] rightmost.
The same file runs from the command line: python -m zelvanic_qiskit bernstein_vazirani.qasm
"""
from pathlib import Path

from qiskit import qasm2

from zelvanic_qiskit import ZelvanicSampler

circuit = qasm2.load(Path(__file__).with_name("bernstein_vazirani.qasm"))
result = ZelvanicSampler(seed=2024).run([circuit], shots=1000).result()[0]
counts = result.data.c.get_counts()
print("%d qubits, 1000 shots: %s" % (circuit.num_qubits, counts))
assert counts == {"1011": 1000}, counts
print("hidden string: 1011")
