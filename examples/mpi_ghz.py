"""A GHZ state of 22 qubits spread over the processes of an MPI job:

    mpiexec -n 4 python examples/mpi_ghz.py

Every process runs this same script, making the same calls in the same order; each holds its
share of the amplitudes (a quarter on 4 processes), and the results are those of one process
to the last bit. Only rank 0 prints. Needs the MPI integration (integrations/mpi).
"""
import zelvanic_mpi

n = 22
register = zelvanic_mpi.QuantumRegister(n)
register.h(n - 1)  # the top qubit, which picks the process once there are two or more
for q in range(n - 1, 0, -1):
    register.cnot(q, q - 1)

# This process's share alone, without gathering the whole list: what a register too large for
# one machine's list would use.
first, block = zelvanic_mpi.block_probabilities(register)
probabilities = register.god_observe()  # the whole list, on every process
ket = register.observe()

if zelvanic_mpi.rank() == 0:
    size = zelvanic_mpi.size()
    print(f"GHZ state of {n} qubits over {size} process{'es' if size > 1 else ''}: "
          f"P(|{'0' * n}>) = {probabilities[0]:.6f}, P(|{'1' * n}>) = {probabilities[-1]:.6f}")
    print(f"rank 0 holds basis states {first} to {first + len(block) - 1}, "
          f"probability {sum(block):.6f}")
    print(f"measured {ket}")
