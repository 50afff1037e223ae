"""Typed use of the module, run here and checked by `mypy --strict` against its stubs.

Every call in test_accepted_forms must type-check and run. Every call in REJECTED must be
refused twice: by the type checker (each line carries a `type: ignore` that --strict reports
once it becomes unused) and by the module at run time (TypeError).
"""
from fractions import Fraction
from typing import Callable, List

import pytest

from zelvanic import PyDiracKet, QuantumRegister

I = 1 + 0j
O = 0j


class Qubit:
    """Any object with __index__ names a qubit."""

    def __init__(self, index: int) -> None:
        self.index = index

    def __index__(self) -> int:
        return self.index


def test_accepted_forms() -> None:
    reg: QuantumRegister = QuantumRegister(n=3)
    same: QuantumRegister = reg.h(0).x(target=1).cnot(0, 1).ccnot(0, 1, 2).swap(q1=0, q2=2)
    assert same is reg
    reg.csswap(Qubit(0), True, 2).u(Qubit(1), I, O, O, I)
    reg.rx(0, 1).ry(0, 0.5).rz(target=Qubit(2), theta=Fraction(1, 3))
    for controls in ([0, 1], (Qubit(0),), range(2), b"\x00\x01"):
        reg.mcu(controls, 2, O, I, I, O)
    probabilities: List[float] = reg.god_observe()
    assert len(probabilities) == 8 and abs(sum(probabilities) - 1.0) < 1e-12
    one: PyDiracKet = reg.observe_one(Qubit(1))
    several: PyDiracKet = reg.observe_mul(targets=(2, Qubit(0)))
    whole: PyDiracKet = reg.observe()
    assert len(repr(one)) == 3 and len(str(several)) == 4 and len(repr(whole)) == 5


def subclass_register() -> None:
    class Register(QuantumRegister):  # type: ignore[misc]
        pass


def subclass_ket() -> None:
    class Ket(PyDiracKet):  # type: ignore[misc]
        pass


REJECTED: List[Callable[[QuantumRegister], object]] = [
    lambda reg: QuantumRegister(1.5),  # type: ignore[arg-type]
    lambda reg: reg.h(1.0),  # type: ignore[arg-type]
    lambda reg: reg.h("0"),  # type: ignore[arg-type]
    lambda reg: reg.h(0, 1),  # type: ignore[call-arg]
    lambda reg: reg.cnot(0),  # type: ignore[call-arg]
    lambda reg: reg.rx(0, phi=1.0),  # type: ignore[call-arg]
    lambda reg: reg.rx(0, "1"),  # type: ignore[arg-type]
    lambda reg: reg.observe(0),  # type: ignore[call-arg]
    lambda reg: reg.u(0, None, O, O, I),  # type: ignore[arg-type]
    lambda reg: reg.u(0, "1", O, O, I),  # type: ignore[arg-type]
    lambda reg: reg.mcu("01", 2, O, I, I, O),  # type: ignore[arg-type]
    lambda reg: reg.mcu(0, 2, O, I, I, O),  # type: ignore[arg-type]
    lambda reg: reg.mcu({0, 1}, 2, O, I, I, O),  # type: ignore[arg-type]
    lambda reg: reg.mcu([0.0], 2, O, I, I, O),  # type: ignore[list-item]
    lambda reg: reg.observe_mul(None),  # type: ignore[arg-type]
    lambda reg: subclass_register(),
    lambda reg: subclass_ket(),
]


@pytest.mark.parametrize("call", REJECTED)
def test_rejected_forms(call: Callable[[QuantumRegister], object]) -> None:
    reg = QuantumRegister(3)
    with pytest.raises(TypeError):
        call(reg)
    assert reg.god_observe()[0] == 1.0  # a refused call leaves the register as it was
