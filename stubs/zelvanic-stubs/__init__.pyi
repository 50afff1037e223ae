# Types of the extension module `zelvanic`, in forms that Python 3.8 type checkers read.
#
# Qubit indices take anything with __index__ (int, bool, numpy integers); angles take anything
# float() accepts through __float__ or __index__; qubit lists take any sequence of indices but a
# str. Matrix entries must be `complex` instances at run time: type checkers let int and float
# through a `complex` annotation (numeric promotion), but the module refuses them with TypeError.
from typing import List, Sequence, SupportsFloat, SupportsIndex, Union, final

__all__ = ["QuantumRegister", "PyDiracKet"]

_Angle = Union[SupportsFloat, SupportsIndex]

@final
class QuantumRegister:
    """A register of n qubits: 2**n complex amplitudes, starting in |0...0>.

    Gates change the register in place and return it, so calls chain. Qubit 0 is the least
    significant bit of a basis-state index and the rightmost digit of a ket.
    """

    def __new__(cls, n: SupportsIndex) -> QuantumRegister: ...
    def observe(self) -> PyDiracKet:
        """Measure every qubit; the register collapses to the basis state found."""
    def observe_one(self, target: SupportsIndex) -> PyDiracKet:
        """Measure one qubit; the result is |0> or |1>."""
    def observe_mul(self, targets: Sequence[SupportsIndex]) -> PyDiracKet:
        """Measure a set of qubits jointly; digits follow the qubits sorted, highest leftmost."""
    def god_observe(self) -> List[float]:
        """The probability of every basis state, in index order; the register is unchanged."""
    def x(self, target: SupportsIndex) -> QuantumRegister:
        """NOT: exchange the amplitudes of target = 0 and target = 1."""
    def h(self, target: SupportsIndex) -> QuantumRegister:
        """Hadamard."""
    def u(
        self, target: SupportsIndex, u00: complex, u01: complex, u10: complex, u11: complex
    ) -> QuantumRegister:
        """Apply the matrix [[u00, u01], [u10, u11]] to target, as given (not checked)."""
    def cnot(self, control: SupportsIndex, target: SupportsIndex) -> QuantumRegister:
        """Flip target where control is 1."""
    def ccnot(
        self, control1: SupportsIndex, control2: SupportsIndex, target: SupportsIndex
    ) -> QuantumRegister:
        """Toffoli: flip target where both controls are 1."""
    def rz(self, target: SupportsIndex, theta: _Angle) -> QuantumRegister:
        """diag(exp(-i theta/2), exp(+i theta/2))."""
    def rx(self, target: SupportsIndex, theta: _Angle) -> QuantumRegister:
        """[[cos theta/2, -i sin theta/2], [-i sin theta/2, cos theta/2]]."""
    def ry(self, target: SupportsIndex, theta: _Angle) -> QuantumRegister:
        """[[cos theta/2, -sin theta/2], [sin theta/2, cos theta/2]]."""
    def swap(self, q1: SupportsIndex, q2: SupportsIndex) -> QuantumRegister:
        """Exchange the values of two qubits."""
    def csswap(
        self, control: SupportsIndex, target_1: SupportsIndex, target_2: SupportsIndex
    ) -> QuantumRegister:
        """Fredkin: exchange target_1 and target_2 where control is 1."""
    def mcu(
        self,
        control: Sequence[SupportsIndex],
        target: SupportsIndex,
        u00: complex,
        u01: complex,
        u10: complex,
        u11: complex,
    ) -> QuantumRegister:
        """Apply [[u00, u01], [u10, u11]] to target where every control qubit is 1."""

@final
class PyDiracKet:
    """A measurement outcome, shown as a ket such as |0101> (qubit 0 rightmost).

    Made only by the measurement methods of QuantumRegister; it cannot be constructed.
    """

    def __repr__(self) -> str: ...
