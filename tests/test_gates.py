"""Gates from Python, checked against the independent model in model.py."""
import cmath
import math
import random
import re
import struct

import pytest

from model import Model
from zelvanic import QuantumRegister


def bits(values):
    """Probabilities as raw bit patterns, so -0.0 != 0.0 and every NaN is one NaN."""
    return [b"nan" if v != v else struct.pack("<d", v) for v in values]


SPECIAL_ANGLES = [0.0, -0.0, math.pi, -math.pi / 3, 1e-300, 1e300, math.inf, -math.inf, math.nan]


def random_entry(rng):
    pick = rng.random()
    if pick < 0.05:
        return complex(rng.choice([math.inf, -math.inf, math.nan, 0.0, -0.0, 5e-324]),
                       rng.choice([0.0, -0.0, 1.0]))
    return complex(rng.uniform(-1.5, 1.5), rng.uniform(-1.5, 1.5))


def unitary_entries(rng):
    """A random unitary's four entries: a state that keeps its norm over a long circuit."""
    a, phi, lam = rng.uniform(0, math.pi), rng.uniform(-7, 7), rng.uniform(-7, 7)
    c, s = math.cos(a), math.sin(a)
    return (complex(c), -cmath.exp(1j * lam) * s, cmath.exp(1j * phi) * s,
            cmath.exp(1j * (phi + lam)) * c)


def random_gate(rng, n, finite=False):
    """A gate name and valid arguments for a register of n qubits; with `finite`, angles and
    matrices that neither blow up nor make NaN, so that long circuits stay informative."""
    qubits = list(range(n))
    rng.shuffle(qubits)
    choices = ["h", "x", "rx", "ry", "rz", "u", "mcu"]
    if n >= 2:
        choices += ["cnot", "swap"]
    if n >= 3:
        choices += ["ccnot", "csswap"]
    name = rng.choice(choices)
    if name in ("h", "x"):
        return name, (qubits[0],)
    if name in ("rx", "ry", "rz"):
        special = not finite and rng.random() < 0.1
        angle = rng.choice(SPECIAL_ANGLES) if special else rng.uniform(-7, 7)
        return name, (qubits[0], angle)
    entries = unitary_entries(rng) if finite else tuple(random_entry(rng) for _ in range(4))
    if name == "u":
        return name, (qubits[0],) + entries
    if name == "mcu":
        k = rng.randrange(n)
        return name, (qubits[1:1 + k], qubits[0]) + entries
    return name, tuple(qubits[:2 if name in ("cnot", "swap") else 3])


@pytest.mark.parametrize("seed", range(40))
def test_random_circuits_match_the_model_bit_for_bit(seed):
    rng = random.Random(seed)
    n = rng.randrange(1, 7)
    reg, model = QuantumRegister(n), Model(n)
    for _ in range(30):
        name, args = random_gate(rng, n)
        assert getattr(reg, name)(*args) is reg
        getattr(model, name)(*args)
        assert bits(reg.god_observe()) == bits(model.probabilities()), (name, args)


@pytest.mark.parametrize("n", [13, 14, 15])
def test_deferred_gates_match_the_model_bit_for_bit(monkeypatch, n):
    # Tiles of 2^12 amplitudes make these registers keep their gates pending: the read-outs
    # and measurements must see every gate given so far, and a stretch longer than the
    # pending list must fill it and go on. Measured outcomes are random; the model checks
    # that each one could be drawn and collapses the same way.
    monkeypatch.setenv("ZELVANIC_TILE_QUBITS", "12")
    rng = random.Random(n)
    reg, model = QuantumRegister(n), Model(n)
    readouts = {rng.randrange(1, 20), rng.randrange(20, 40), rng.randrange(297, 300)}
    for step in range(1, 301):
        name, args = random_gate(rng, n, finite=True)
        getattr(reg, name)(*args)
        getattr(model, name)(*args)
        if step not in readouts:
            continue
        kind = rng.choice(["god_observe", "observe_one", "observe_mul", "observe"])
        if kind == "god_observe":
            assert bits(reg.god_observe()) == bits(model.probabilities()), step
            continue
        targets = rng.sample(range(n), rng.randrange(1, 4))
        args, width = {"observe_one": ((targets[0],), 1), "observe_mul": ((targets,), len(targets)),
                       "observe": ((), n)}[kind]
        text = repr(getattr(reg, kind)(*args))
        assert re.fullmatch(r"\|[01]{%d}>" % width, text), text
        getattr(model, kind)(*args, int(text[1:-1], 2))
        # The measured qubit is now certain: after gates elsewhere, it must measure the same.
        q = targets[0]
        for other in rng.sample([p for p in range(n) if p != q], 3):
            reg.h(other)
            model.h(other)
        outcome = (int(text[1:-1], 2) >> sorted(targets).index(q) if kind == "observe_mul" else
                   int(text[1:-1], 2) >> q if kind == "observe" else int(text[1])) & 1
        assert repr(reg.observe_one(q)) == f"|{outcome}>", step
        model.observe_one(q, outcome)
        assert bits(reg.god_observe()) == bits(model.probabilities()), step
    assert bits(reg.god_observe()) == bits(model.probabilities())


@pytest.mark.parametrize("n", [1, 2, 3, 4])
def test_every_bad_argument_fails_with_the_model_and_changes_nothing(n):
    rng = random.Random(n)
    reg, model = QuantumRegister(n), Model(n)
    for _ in range(8):  # a non-trivial state first
        name, args = random_gate(rng, n)
        getattr(reg, name)(*args)
        getattr(model, name)(*args)
    before = bits(reg.god_observe())
    calls = []
    for q in range(n + 2):
        calls += [("h", (q,)), ("x", (q,)), ("rx", (q, 1.0)), ("u", (q, 1j, 0j, 0j, 1j))]
        for p in range(n + 2):
            calls += [("cnot", (q, p)), ("swap", (q, p))]
            for r in range(n + 2):
                calls += [("ccnot", (q, p, r)), ("csswap", (q, p, r)),
                          ("mcu", ([q, p], r, 0j, 1j, 1j, 0j))]
    for name, args in calls:
        try:
            getattr(model, name)(*args)
        except ValueError as expected:
            with pytest.raises(ValueError) as info:
                getattr(reg, name)(*args)
            assert info.value.args == expected.args, (name, args)
            assert bits(reg.god_observe()) == before, (name, args)
        else:
            getattr(reg, name)(*args)
            before = bits(reg.god_observe())
            assert before == bits(model.probabilities()), (name, args)


def test_messages():
    reg = QuantumRegister(3)
    with pytest.raises(ValueError, match=r"^\.\.\.$"):
        reg.h(3)
    assert reg.h(2) is reg
    with pytest.raises(ValueError, match=r"^input out of scope\.$"):
        reg.ccnot(0, 0, 1)
    with pytest.raises(ValueError, match=r"^\.\.\.$"):
        reg.mcu([0, 0], 1, 1j, 0j, 0j, 1j)
    for gate in ("h", "x"):
        with pytest.raises(ValueError):
            getattr(QuantumRegister(0), gate)(0)


def test_chaining_and_keywords():
    reg = QuantumRegister(3)
    assert reg.h(0).x(1).cnot(0, 2).swap(q1=0, q2=1).rx(theta=0.3, target=2) is reg
    twin = QuantumRegister(3)
    twin.h(0).x(1).cnot(0, 2).swap(0, 1).rx(2, 0.3)
    assert bits(reg.god_observe()) == bits(twin.god_observe())


def test_argument_kinds_accepted():
    class Index:
        def __index__(self):
            return 1

    class Angle:
        def __float__(self):
            return 1.0

    class Entry(complex):
        pass

    a, b = QuantumRegister(3), QuantumRegister(3)
    a.h(0).rx(Index(), 1).ry(True, Angle()).u(2, Entry(0.6), 0.8j, 0.8j, Entry(0.6))
    a.mcu(range(2), 2, 0j, 1 + 0j, 1 + 0j, 0j).mcu(b"\x00", 1, 1j, 0j, 0j, 1j)
    a.mcu((0, 1), 2, 1j, 0j, 0j, 1j)
    b.h(0).rx(1, 1.0).ry(1, 1.0).u(2, 0.6 + 0j, 0.8j, 0.8j, 0.6 + 0j)
    b.mcu([0, 1], 2, 0j, 1 + 0j, 1 + 0j, 0j).mcu([0], 1, 1j, 0j, 0j, 1j)
    b.mcu([0, 1], 2, 1j, 0j, 0j, 1j)
    assert bits(a.god_observe()) == bits(b.god_observe())


def test_entries_must_be_complex():
    reg = QuantumRegister(1)
    with pytest.raises(TypeError) as info:
        reg.u(0, 1, 0, 0, 1)
    assert str(info.value) == "argument 'u00': 'int' object is not an instance of 'complex'"
    with pytest.raises(TypeError) as info:
        reg.mcu([], 0, 1j, 0j, 1.5, 1j)
    assert str(info.value) == "argument 'u10': 'float' object is not an instance of 'complex'"


def test_the_first_bad_parameter_is_reported():
    reg = QuantumRegister(1)
    with pytest.raises(TypeError, match="^argument 'control'"):
        reg.mcu(7, "target", 1, 1, 1, 1)
    with pytest.raises(TypeError, match="^argument 'target'"):
        reg.mcu([], "target", 1, 1, 1, 1)


def test_hadamard_constant_and_rotations():
    reg = QuantumRegister(1).h(0).h(0)
    assert reg.god_observe() == [1.0000000000000004, 0.0]  # (1.0000000000000002)^2
    assert QuantumRegister(1).h(0).god_observe() == [0.5000000000000001] * 2
    probabilities = QuantumRegister(1).rx(0, math.pi).god_observe()
    assert probabilities == [math.cos(math.pi / 2) ** 2, 1.0]
    nan = QuantumRegister(2).rz(1, math.nan).god_observe()
    assert all(p != p for p in nan)
