"""Every rank runs the same random circuits on a spread register and on a one-process register
of its own, and checks that they agree to the last bit: god_observe after the gates, each
rank's block, and the state after a measurement of each kind (the one-process copy is replayed
until its measurement gives the spread register's outcome). Prints "[rank R] ok N" per size."""
import random
import struct
import sys

import zelvanic
import zelvanic_mpi

rank = zelvanic_mpi.rank()


def bits(values):
    return struct.pack(f"{len(values)}d", *values)


def random_gates(n, count, rng):
    """Gates of every kind, half of their qubits among the top three (global on 2 to 8 ranks)."""
    top = list(range(max(0, n - 3), n))
    gates = []
    for _ in range(count):
        pool = top if rng.random() < 0.5 else list(range(n))
        q = rng.sample(pool, 1)
        q += rng.sample([x for x in range(n) if x not in q], 2)
        rng.shuffle(q)
        theta = rng.uniform(-7, 7)
        m = [complex(rng.uniform(-1, 1), rng.uniform(-1, 1)) for _ in range(4)]
        kind = rng.randrange(11)
        gates.append([("h", q[0]), ("x", q[0]), ("u", q[0], *m), ("rx", q[0], theta),
                      ("ry", q[0], theta), ("rz", q[0], theta), ("cnot", q[0], q[1]),
                      ("swap", q[0], q[1]), ("ccnot", *q), ("csswap", *q),
                      ("mcu", q[1:1 + rng.randrange(3)], q[0], *m)][kind])
    return gates


def run(register, gates):
    for name, *args in gates:
        getattr(register, name)(*args)
    return register


def matched(n, gates, measure, outcome):
    """A one-process register after `gates` and a measurement that gave `outcome`."""
    if measure is observe:  # one basis state: prepared directly
        basis = outcome.strip("|>")[::-1]
        return run(zelvanic.QuantumRegister(n), [("x", q) for q in range(n) if basis[q] == "1"])
    for _ in range(500):
        single = run(zelvanic.QuantumRegister(n), gates)
        if str(measure(single)) == outcome:
            return single
    raise AssertionError(f"the outcome {outcome} never came in one process")


def observe(register):
    return register.observe()


def check(n, seed):
    rng = random.Random(seed)
    gates = random_gates(n, 120, rng)
    spread = run(zelvanic_mpi.QuantumRegister(n), gates)
    whole = run(zelvanic.QuantumRegister(n), gates).god_observe()
    assert bits(spread.god_observe()) == bits(whole), "god_observe"
    first, block = zelvanic_mpi.block_probabilities(spread)
    assert bits(block) == bits(whole[first:first + len(block)]), "block_probabilities"

    targets = sorted(rng.sample(range(n), 3)) + [n - 1]  # a global qubit, listed twice too
    measurements = [lambda r: r.observe_one(n - 1), lambda r: r.observe_one(0),
                    lambda r: r.observe_mul(targets), observe]
    after = random_gates(n, 10, rng)  # so that the next read mixes the collapsed amplitudes
    for measure in measurements:
        spread = run(zelvanic_mpi.QuantumRegister(n), gates)
        outcome = str(measure(spread))
        single = matched(n, gates, measure, outcome)
        assert bits(run(spread, after).god_observe()) == bits(run(single, after).god_observe()), \
            f"after the outcome {outcome}"


for n in map(int, sys.argv[1:]):
    check(n, seed=n)
    print(f"[rank {rank}] ok {n}", flush=True)
