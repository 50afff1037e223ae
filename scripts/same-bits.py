"""Prints a digest of god_observe() after random circuits of every gate kind, and the kets of
certain measurements after permutation circuits. Run it under two builds, or one process
against an MPI job, and compare the output: any change in the arithmetic, in any amplitude,
changes a digest.

    python scripts/same-bits.py > a.txt   # one build
    python scripts/same-bits.py > b.txt   # the other (ZELVANIC_TILE_QUBITS=12 for small tiles)
    diff a.txt b.txt

    python scripts/same-bits.py --sizes 14,15,16,17,18 > one.txt
    mpiexec -n 4 python scripts/same-bits.py --module zelvanic_mpi --sizes 14,15,16,17,18 > four.txt
    diff one.txt four.txt                 # only rank 0 prints
"""
import argparse
import hashlib
import importlib
import random
import struct

parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
parser.add_argument("--module", default="zelvanic", help="zelvanic or zelvanic_mpi")
parser.add_argument("--sizes", default="12,17,20,22", help="register sizes, comma-separated")
options = parser.parse_args()
zelvanic = importlib.import_module(options.module)
printing = getattr(zelvanic, "rank", lambda: 0)() == 0

def random_circuit(reg, n, gates, rng):
    for _ in range(gates):
        k = rng.randrange(11)
        q = rng.sample(range(n), 3)
        th = rng.uniform(-7, 7)
        m = [complex(rng.uniform(-1, 1), rng.uniform(-1, 1)) for _ in range(4)]
        if k == 0: reg.h(q[0])
        elif k == 1: reg.x(q[0])
        elif k == 2: reg.u(q[0], *m)
        elif k == 3: reg.rx(q[0], th)
        elif k == 4: reg.ry(q[0], th)
        elif k == 5: reg.rz(q[0], th)
        elif k == 6: reg.cnot(q[0], q[1])
        elif k == 7: reg.swap(q[0], q[1])
        elif k == 8: reg.ccnot(q[0], q[1], q[2])
        elif k == 9: reg.csswap(q[0], q[1], q[2])
        else: reg.mcu(rng.sample([x for x in range(n) if x != q[0]], rng.randrange(4)), q[0], *m)

for n in (int(size) for size in options.sizes.split(",")):
    for seed in range(3):
        rng = random.Random(1000 * n + seed)
        reg = zelvanic.QuantumRegister(n)
        random_circuit(reg, n, 300, rng)
        p = reg.god_observe()
        if printing:
            print(n, seed, hashlib.sha256(struct.pack(f"{len(p)}d", *p)).hexdigest()[:32])
    # permutation circuits from a basis state: every measurement is certain
    rng = random.Random(n)
    reg = zelvanic.QuantumRegister(n)
    for q in rng.sample(range(n), n // 2): reg.x(q)
    for _ in range(400):
        q = rng.sample(range(n), 3)
        k = rng.randrange(5)
        if k == 0: reg.x(q[0])
        elif k == 1: reg.cnot(q[0], q[1])
        elif k == 2: reg.swap(q[0], q[1])
        elif k == 3: reg.ccnot(*q)
        else: reg.csswap(*q)
    kets = reg.observe_mul(rng.sample(range(n), 5)), reg.observe_one(rng.randrange(n)), reg.observe()
    if printing:
        print(n, "kets", *kets)
