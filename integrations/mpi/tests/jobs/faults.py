"""Bad use of a spread register, one case per run (the first argument). Every rank prints what
it raised as "[rank R] raised <class>: <message>", then goes on where it can and prints
"[rank R] went on" when the job is still sound."""
import os
import resource
import signal
import sys

import zelvanic
import zelvanic_mpi

rank = zelvanic_mpi.rank()
case = sys.argv[1]


def report(error):
    print(f"[rank {rank}] raised {type(error).__name__}: {error}", flush=True)


def went_on(n=6):
    """A register that moves global qubits still agrees with one process."""
    spread = zelvanic_mpi.QuantumRegister(n).h(n - 1).cnot(n - 1, 0).ry(n - 2, 0.3)
    whole = zelvanic.QuantumRegister(n).h(n - 1).cnot(n - 1, 0).ry(n - 2, 0.3)
    assert spread.god_observe() == whole.god_observe()
    print(f"[rank {rank}] went on", flush=True)


if case == "size":  # run on a number of processes that is not a power of two
    try:
        zelvanic_mpi.QuantumRegister(6)
    except BaseException as error:
        report(error)

elif case == "memory":  # rank 1 cannot hold its block; the others can
    if rank == 1:
        limit = 2 << 30  # address space: enough to run, not for another 2 GiB block
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    try:
        zelvanic_mpi.QuantumRegister(28)
    except BaseException as error:
        report(error)
    went_on()

elif case == "argument":  # the same bad call everywhere
    register = zelvanic_mpi.QuantumRegister(6)
    try:
        register.cnot(5, 5)
    except BaseException as error:
        report(error)
    went_on()

elif case == "diverge":  # rank 1 calls another qubit, then everyone moves a global one
    register = zelvanic_mpi.QuantumRegister(6)
    register.h(0 if rank == 1 else 1)
    try:
        register.h(5)
    except BaseException as error:
        report(error)
    try:  # once diverged, always refused, with no messages sent
        register.x(5)
    except BaseException as error:
        report(error)

elif case == "leave":  # rank 1 ends its program while the others still call
    register = zelvanic_mpi.QuantumRegister(6)
    if rank != 1:
        try:
            register.h(5)
        except BaseException as error:
            report(error)

elif case == "die":  # rank 1 is killed while the others move a global qubit
    register = zelvanic_mpi.QuantumRegister(6)
    if rank == 1:
        os.kill(os.getpid(), signal.SIGKILL)
    register.h(5)
    went_on()
