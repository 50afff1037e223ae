"""ZelvanicSampler against Qiskit's own Statevector, the independent oracle: exact
probabilities, sampled counts and Qiskit's result layout."""

import numpy as np
import pytest
from qiskit import ClassicalRegister, QuantumCircuit, QuantumRegister
from qiskit.circuit import Instruction, Parameter
from qiskit.circuit.classical import expr
from qiskit.circuit.library import (CUGate, HGate, MCPhaseGate, MCXGate, RYGate, SwapGate,
                                    UGate, UnitaryGate)
from qiskit.circuit.random import random_circuit
from qiskit.quantum_info import Statevector, random_unitary

import zelvanic
from stats import assert_fits
from zelvanic_qiskit import UnsupportedInstruction, ZelvanicSampler
from zelvanic_qiskit import execution
from zelvanic_qiskit.execution import apply_gates, final_measurements
from zelvanic_qiskit.lowering import compile_circuit, lower

# Each sampled test makes at most this many chi-square checks; together they fail a correct
# build less than once in a million runs.
CHECKS = 10
ALPHA = 1e-6 / CHECKS


def probabilities(circuit):
    reg = zelvanic.QuantumRegister(circuit.num_qubits)
    apply_gates(reg, compile_circuit(lower(circuit)))
    return np.array(reg.god_observe())


def qft_circuit(n=6):
    """The library's QFT on a product state that is neither uniform nor blind to phases."""
    try:
        from qiskit.circuit.library import QFTGate
        qft = QFTGate(n)
    except ImportError:  # Qiskit before 1.2
        from qiskit.circuit.library import QFT
        qft = QFT(n)
    qc = QuantumCircuit(n)
    for q in range(n):
        qc.ry(np.pi * (q + 1) / (n + 2), q)
        qc.rz(0.7 * (q + 1), q)
    qc.append(qft, range(n))
    return qc


def controls_circuit():
    """Controlled gates of every kind that runs without the transpiler, open controls
    included."""
    qc = QuantumCircuit(5)
    for q in range(5):
        qc.ry(0.3 + 0.4 * q, q)
    qc.append(MCXGate(3, ctrl_state="010"), [0, 2, 4, 1])
    qc.append(CUGate(0.4, 1.1, -0.7, 0.9), [3, 0])  # its global phase is on the controlled block
    qc.append(HGate().control(2, ctrl_state="01", annotated=False), [1, 3, 2])
    qc.append(MCPhaseGate(0.8, 4), [4, 3, 2, 1, 0])
    qc.append(SwapGate().control(1, ctrl_state=0), [2, 0, 4])
    qc.cx(4, 1, ctrl_state=0)
    qc.append(RYGate(1.3).control(4, ctrl_state=5, annotated=False), [0, 1, 2, 3, 4])
    qc.append(UnitaryGate(random_unitary(2, seed=7)), [3])
    qc.ccx(0, 1, 2)
    qc.cswap(4, 0, 3)
    return qc


def transpiled_circuit():
    """Gates that only Qiskit's transpiler can lower for us."""
    qc = controls_circuit()
    qc.append(UnitaryGate(random_unitary(4, seed=8)), [4, 1])
    qc.rzz(0.6, 0, 2)
    qc.append(HGate().control(1, annotated=True), [2, 3])
    custom = QuantumCircuit(2, name="custom")
    custom.h(0)
    custom.cp(0.5, 0, 1)
    qc.append(custom.to_gate(), [1, 4])
    return qc


def phases_and_cu_circuit():
    """Phase gates, which run as rz, between gates that turn phases into probabilities; and
    CUGate(...).control(k), whose base gate cannot give its matrix, so the transpiler lowers
    it."""
    qc = QuantumCircuit(9)
    qc.h(range(9))
    qc.s(0)
    qc.t(1)
    qc.z(2)
    qc.p(0.7, 3)
    qc.tdg(4)
    qc.append(CUGate(0.4, 1.1, -0.7, 0.9).control(2), [5, 6, 7, 8])
    qc.append(CUGate(1.2, 0.3, 0.5, -0.4).control(7), range(9))
    qc.h(range(9))
    return qc


EXACT = {"qft": qft_circuit(), "controls": controls_circuit(),
         "transpiled": transpiled_circuit(), "phases-and-cu": phases_and_cu_circuit()}
EXACT.update({f"random-{seed}": random_circuit(7, 12, max_operands=3, seed=seed)
              for seed in (1, 2, 3)})


@pytest.mark.parametrize("name", sorted(EXACT))
def test_probabilities_match_statevector(name):
    circuit = EXACT[name]
    if name == "controls":
        assert lower(circuit) is circuit  # so that this one tests our own mapping
    expected = Statevector(circuit).probabilities()
    assert np.max(np.abs(probabilities(circuit) - expected)) < 1e-12


def test_qubit_0_is_the_least_significant_bit():
    qc = QuantumCircuit(3)
    qc.x(0)
    qc.ry(2 * np.arccos(np.sqrt(0.9)), 2)  # |0> with 0.9, |1> with 0.1
    qc.measure_all()
    counts = ZelvanicSampler().run([qc], shots=200).result()[0].data.meas.get_counts()
    assert set(counts) <= {"001", "101"} and counts["001"] > counts.get("101", 0), counts


def test_sampled_counts_and_layout():
    """Parameter arrays, shots per PUB, and registers that take a subset of the qubits in
    another order: every register's counts fit Statevector's marginal probabilities."""
    a, b = Parameter("a"), Parameter("b")
    qr = QuantumRegister(4)
    low, high = ClassicalRegister(2, "low"), ClassicalRegister(3, "high")
    unmeasured = QuantumCircuit(qr)
    qc = unmeasured
    qc.ry(a, 0)
    qc.h(1)
    qc.cx(1, 2)
    qc.rx(b, 3)
    qc.cp(b, 0, 3)
    qc.crx(a, 3, 2)
    qc = QuantumCircuit(qr, low, high)
    qc.reset(qr)                        # on |0...0>: still sampled from the final state
    qc.compose(unmeasured, inplace=True)
    qc.measure([3, 1], low)             # low = (qubit 3, qubit 1)
    qc.measure([0, 2, 3], high)         # high = (qubit 0, qubit 2, qubit 3)
    values = np.array([[0.4, 1.1], [2.0, -0.6], [np.pi, 0.0]])
    result = ZelvanicSampler().run([(qc, values, 3000), (unmeasured.measure_all(inplace=False),
                                                          values[:1])], shots=5).result()
    pub = result[0]
    assert final_measurements(compile_circuit(lower(qc.assign_parameters(values[0])))) is not None
    assert pub.data.low.shape == (3,) and pub.data.low.num_shots == 3000
    assert (pub.data.low.num_bits, pub.data.high.num_bits) == (2, 3)
    assert result[1].data.meas.num_shots == 5
    for i, (va, vb) in enumerate(values):
        state = Statevector(unmeasured.assign_parameters({a: va, b: vb}))
        for register, qargs in ((pub.data.low, [3, 1]), (pub.data.high, [0, 2, 3])):
            assert_fits(register.get_counts(i), state.probabilities_dict(qargs), ALPHA)


def test_seed_makes_draws_reproducible():
    qc = qft_circuit(5)
    qc.measure_all()
    bits = [ZelvanicSampler(seed=seed).run([qc], shots=300).result()[0].data.meas.array
            for seed in (11, 11, 12)]
    assert np.array_equal(bits[0], bits[1]) and not np.array_equal(bits[0], bits[2])


def teleportation(theta, style):
    """Teleports Ry(theta)|0> from qubit 0 to qubit 2 with mid-circuit measurements and
    classically controlled corrections; then resets qubit 0 and measures it again."""
    qc = QuantumCircuit(QuantumRegister(3), ClassicalRegister(2, "alice"),
                        ClassicalRegister(1, "bob"), ClassicalRegister(1, "again"))
    alice, bob, again = qc.cregs
    qc.ry(theta, 0)
    qc.h(1)
    qc.cx(1, 2)
    qc.cx(0, 1)
    qc.h(0)
    qc.measure(0, alice[0])
    qc.measure(1, alice[1])
    if style == "if_test":
        with qc.if_test((alice[1], 1)):
            qc.x(2)
        with qc.if_test((alice[0], 1)):
            qc.z(2)
    else:  # the c_if of Qiskit 1.x
        qc.x(2).c_if(alice[1], 1)
        qc.z(2).c_if(alice[0], 1)
    qc.measure(2, bob[0])
    qc.reset(0)
    qc.measure(0, again[0])
    return qc


@pytest.mark.parametrize("style", ["if_test", "c_if"])
def test_teleportation(style):
    if style == "c_if" and not hasattr(Instruction, "c_if"):
        pytest.skip("c_if is gone from this Qiskit")
    theta = 1.2
    circuit = teleportation(theta, style)
    assert final_measurements(compile_circuit(lower(circuit))) is None  # run shot by shot
    result = ZelvanicSampler().run([circuit], shots=4000).result()[0]
    assert result.data.again.get_counts() == {"0": 4000}
    p1 = np.sin(theta / 2) ** 2
    # Alice's two bits are uniform and independent of Bob's, whose qubit is Ry(theta)|0>.
    expected = {f"{b}{a:02b}": (p1 if b else 1 - p1) / 4 for a in range(4) for b in (0, 1)}
    joint = result.data.alice.get_counts()  # only to check that every outcome occurs
    assert len(joint) == 4
    combined = {}
    for a_bits, b_bits in zip(result.data.alice.get_bitstrings(),
                              result.data.bob.get_bitstrings()):
        key = b_bits + a_bits
        combined[key] = combined.get(key, 0) + 1
    assert_fits(combined, expected, ALPHA)


def test_control_flow():
    """Every kind of classical control we run, each with one possible outcome."""
    c = ClassicalRegister(4, "c")
    qc = QuantumCircuit(QuantumRegister(4), c)
    qc.x(0)
    qc.measure(0, c[0])                          # c = 0001
    with qc.if_test(expr.logic_not(c[0])):       # not taken
        qc.x(1)
    with qc.switch(c) as case:
        with case(1):
            qc.x(2)                              # taken
        with case(case.DEFAULT):
            qc.x(3)
    with qc.for_loop(range(3)):                  # three flips
        qc.x(1)
    qc.h(3)
    qc.measure(3, c[3])
    with qc.while_loop((c[3], 0)):               # until qubit 3 gives 1
        qc.h(3)
        qc.measure(3, c[3])
    qc.measure([1, 2], [c[1], c[2]])
    result = ZelvanicSampler().run([qc], shots=50).result()[0]
    assert result.data.c.get_counts() == {"1111": 50}


def test_what_cannot_run_is_refused_by_name():
    qc = QuantumCircuit(2, 1)
    qc.h(0)
    qc.append(Instruction("kick", 1, 0, []), [1])
    qc.measure(0, 0)
    with pytest.raises(UnsupportedInstruction, match="'kick'") as caught:
        ZelvanicSampler().run([qc]).result()
    assert isinstance(caught.value, ValueError)


@pytest.mark.parametrize("gate", [RYGate(float("inf")), UGate(float("nan"), 0, 0)],
                         ids=["ry-inf", "u-nan"])
def test_non_finite_parameters_are_refused(gate):
    qc = QuantumCircuit(1)
    qc.append(gate, [0])
    qc.measure_all()
    with pytest.raises(UnsupportedInstruction, match="not finite"):
        ZelvanicSampler().run([qc]).result()


def test_shot_by_shot_holds_one_register_at_a_time(monkeypatch):
    """Two registers of 30 qubits do not fit where one does: each shot's register must be
    gone before the next is made."""
    live, most = [0], [0]
    make = zelvanic.QuantumRegister

    class Counted:
        def __init__(self, n):
            self._reg = make(n)
            live[0] += 1
            most[0] = max(most[0], live[0])

        def __getattr__(self, name):  # the gates and measurements
            return getattr(self.__dict__["_reg"], name)

        def __del__(self):
            live[0] -= 1

    monkeypatch.setattr(execution.zelvanic, "QuantumRegister", Counted)
    ZelvanicSampler().run([teleportation(0.5, "if_test")], shots=5).result()
    assert most[0] == 1


def test_memory_guard_passes_through():
    qc = QuantumCircuit(40)
    qc.h(range(40))
    qc.measure_all()
    with pytest.raises(BaseException, match="Not enough memory") as caught:
        ZelvanicSampler().run([qc]).result()
    assert type(caught.value).__name__ == "PanicException"
