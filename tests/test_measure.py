"""Measurements from Python: outcomes, kets, collapse, statistics and their errors."""
import collections
import math
import os
import random
import threading

import pytest

from stats import assert_fits
from zelvanic import PyDiracKet, QuantumRegister


def prepared(n, seed):
    """A register in a random (normalised) state, and nothing else touched."""
    rng = random.Random(seed)
    reg = QuantumRegister(n)
    for _ in range(4 * n):
        q = rng.randrange(n)
        getattr(reg, rng.choice(["rx", "ry", "rz"]))(q, rng.uniform(-3, 3))
        if n > 1:
            a, b = rng.sample(range(n), 2)
            reg.cnot(a, b)
    return reg


def test_fresh_register():
    reg = QuantumRegister(3)
    ket = reg.observe()
    assert isinstance(ket, PyDiracKet) and repr(ket) == str(ket) == "|000>"
    assert repr(reg.observe_one(0)) == "|0>"
    assert repr(reg.observe_mul([2, 0])) == "|00>"
    assert reg.god_observe() == [1.0] + [0.0] * 7
    assert reg.god_observe() == reg.god_observe()


def test_zero_qubits(panic):
    reg = QuantumRegister(0)
    assert repr(reg.observe()) == "|0>"
    assert repr(reg.observe_mul([])) == "|0>"
    with pytest.raises(panic) as info:
        reg.observe_one(0)
    assert str(info.value) == "target out of scope!"
    assert reg.god_observe() == [1.0]


def test_certain_outcomes():
    reg = QuantumRegister(4).x(1).x(3)
    for _ in range(20):
        assert repr(reg.observe_one(1)) == "|1>"
        assert repr(reg.observe_one(0)) == "|0>"
        assert repr(reg.observe_mul([3, 0, 1])) == "|110>"
        assert repr(reg.observe()) == "|1010>"
    assert reg.god_observe()[0b1010] == 1.0


def test_duplicates_and_order_in_observe_mul():
    seen = collections.Counter()
    for seed in range(200):
        reg = QuantumRegister(3).h(0).h(1).h(2)
        ket = repr(reg.observe_mul([1, 1]))
        seen[ket] += 1
        assert ket in ("|00>", "|11>")
    assert set(seen) == {"|00>", "|11>"}
    # The caller's order does not matter: bit m is the m-th lowest qubit listed.
    reg = QuantumRegister(3).x(2)
    assert repr(reg.observe_mul([2, 0])) == repr(reg.observe_mul((0, 2))) == "|10>"
    assert repr(reg.observe_mul(range(3))) == "|100>"


def test_errors_leave_the_register_unchanged(panic):
    reg = prepared(3, 1)
    before = reg.god_observe()
    for call, text in ((lambda: reg.observe_one(3), "target out of scope!"),
                       (lambda: reg.observe_mul([0, 1, 3]), "target out of scope!"),
                       (lambda: reg.observe_mul([0] * 60), "capacity overflow"),
                       (lambda: reg.observe_mul([0] * 100 + [7]), "target out of scope!")):
        with pytest.raises(panic) as info:
            call()
        assert str(info.value) == text
        assert reg.god_observe() == before


def test_an_outcome_table_too_large_to_allocate_is_a_fatal_error(panic):
    reg = prepared(2, 2)
    before = reg.god_observe()
    with pytest.raises(panic) as info:
        reg.observe_mul([0] * 50)  # 2^50 doubles
    assert "9007199254740992 bytes" in str(info.value)
    assert reg.god_observe() == before


def expected_after(probabilities, targets, outcome):
    """The probabilities after measuring `targets` with joint `outcome`, computed directly."""
    ordered = sorted(targets)

    def joint(i):
        return sum(((i >> t) & 1) << m for m, t in enumerate(ordered))

    kept = [p if joint(i) == outcome else 0.0 for i, p in enumerate(probabilities)]
    total = sum(kept)
    return [p / total for p in kept]


@pytest.mark.parametrize("seed", range(12))
def test_collapse_matches_an_independent_calculation(seed):
    rng = random.Random(seed)
    n = rng.randrange(1, 7)
    reg = prepared(n, seed)
    before = reg.god_observe()
    which = rng.choice(["observe", "observe_one", "observe_mul"])
    if which == "observe":
        targets = list(range(n))
        ket = reg.observe()
    elif which == "observe_one":
        targets = [rng.randrange(n)]
        ket = reg.observe_one(targets[0])
    else:
        targets = [rng.randrange(n) for _ in range(rng.randrange(4))]
        ket = reg.observe_mul(targets)
    outcome = int(repr(ket)[1:-1], 2)
    after = reg.god_observe()
    assert after == pytest.approx(expected_after(before, targets, outcome), abs=1e-12)
    assert before[[i for i, p in enumerate(after) if p > 0][0]] > 0


def sample(make, measure, trials):
    counts = collections.Counter()
    for _ in range(trials):
        counts[repr(measure(make()))] += 1
    return counts


def ket_probabilities(probabilities, targets):
    ordered = sorted(targets)
    out = collections.Counter()
    for i, p in enumerate(probabilities):
        value = sum(((i >> t) & 1) << m for m, t in enumerate(ordered))
        out["|" + format(value, "b").zfill(len(ordered)) + ">"] += p
    return out


@pytest.mark.parametrize("how", ["observe", "observe_one", "observe_mul"])
def test_outcomes_follow_the_born_rule(how):
    def make():
        return QuantumRegister(3).ry(0, 1.1).ry(1, 2.3).cnot(1, 2).rx(2, 0.7)

    probabilities = make().god_observe()
    if how == "observe":
        counts = sample(make, lambda r: r.observe(), 20000)
        expected = ket_probabilities(probabilities, [0, 1, 2])
    elif how == "observe_one":
        counts = sample(make, lambda r: r.observe_one(2), 20000)
        expected = ket_probabilities(probabilities, [2])
    else:
        counts = sample(make, lambda r: r.observe_mul([2, 0]), 20000)
        expected = ket_probabilities(probabilities, [0, 2])
    assert_fits(counts, expected)


def test_unnormalised_registers_never_give_an_impossible_outcome():
    # Amplitude 0.1 on |1> and nothing on |0>: a total of 0.01 that most draws exceed.
    def make():
        return QuantumRegister(1).x(0).u(0, 0.1 + 0j, 0j, 0j, 0.1 + 0j)

    for _ in range(300):
        assert repr(make().observe()) == "|1>"
        assert repr(make().observe_mul([0])) == "|1>"
        assert repr(make().observe_one(0)) == "|1>"
    # Nothing at all to measure: the outcome is 0, and observe leaves |0>.
    empty = QuantumRegister(2).u(0, 0j, 0j, 0j, 0j)
    assert repr(empty.observe_mul([1])) == "|0>"
    assert empty.god_observe() == [0.0] * 4
    assert repr(empty.observe()) == "|00>"
    assert empty.god_observe() == [1.0, 0.0, 0.0, 0.0]


def uniform_draws(count):
    """`count` measurements of eight fair qubits: 2^(8 count) equally likely sequences."""
    return tuple(repr(QuantumRegister(8).h(0).h(1).h(2).h(3).h(4).h(5).h(6).h(7).observe())
                 for _ in range(count))


def test_threads_measure_independently():
    results = []
    threads = [threading.Thread(target=lambda: results.append(uniform_draws(50)))
               for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert len(set(results)) == 4  # equal sequences would mean a shared or replayed stream


def test_a_forked_child_does_not_replay_its_parents_stream():
    uniform_draws(1)  # the parent's generator exists before the fork
    reader, writer = os.pipe()
    pid = os.fork()
    if pid == 0:
        try:
            os.write(writer, "".join(uniform_draws(20)).encode())
        finally:
            os._exit(0)
    os.close(writer)
    child = b""
    while chunk := os.read(reader, 4096):
        child += chunk
    os.close(reader)
    os.waitpid(pid, 0)
    assert child and child.decode() != "".join(uniform_draws(20))


def test_ket_outlives_its_register():
    reg = QuantumRegister(4).x(0).x(2)
    ket = reg.observe()
    del reg
    assert repr(ket) == "|0101>"


def test_hadamard_probabilities_and_read_out_leaves_state():
    reg = QuantumRegister(1).h(0)
    assert reg.god_observe() == [0.5000000000000001, 0.5000000000000001]
    assert reg.god_observe() == [0.5000000000000001, 0.5000000000000001]
    assert math.isclose(sum(QuantumRegister(5).h(3).god_observe()), 1.0)
