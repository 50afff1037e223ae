"""What every method shares: argument matching, the borrow flag and error mapping."""
import pytest

from zelvanic import QuantumRegister


def message(call):
    with pytest.raises(BaseException) as info:
        call()
    return type(info.value), str(info.value)


def test_matching_messages():
    reg = QuantumRegister(2)
    assert message(lambda: reg.h(0, 1)) == (
        TypeError, "QuantumRegister.h() takes 1 positional arguments but 2 were given")
    assert message(lambda: reg.cnot(0, 1, 2)) == (
        TypeError, "QuantumRegister.cnot() takes 2 positional arguments but 3 were given")
    assert message(lambda: reg.u(0, 1j)) == (
        TypeError,
        "QuantumRegister.u() missing 3 required positional arguments: 'u01', 'u10', and 'u11'")
    assert message(lambda: reg.cnot()) == (
        TypeError,
        "QuantumRegister.cnot() missing 2 required positional arguments: 'control' and 'target'")
    assert message(lambda: reg.mcu(target=0)) == (
        TypeError, "QuantumRegister.mcu() missing 5 required positional arguments: "
                   "'control', 'u00', 'u01', 'u10', and 'u11'")
    assert message(lambda: reg.rx(0, theta=1.0, phi=2)) == (
        TypeError, "QuantumRegister.rx() got an unexpected keyword argument 'phi'")
    assert message(lambda: reg.rx(0, target=1)) == (
        TypeError, "QuantumRegister.rx() got multiple values for argument 'target'")
    kind, text = message(lambda: reg.observe(1))  # the interpreter's own wording
    assert kind is TypeError and text.endswith("observe() takes no arguments (1 given)")
    assert message(lambda: reg.god_observe(x=1))[0] is TypeError


def test_matching_precedes_borrow_and_conversion():
    reg = QuantumRegister(1)

    class Loud:
        def __index__(self):
            raise AssertionError("converted")

    # A surplus argument is refused before any conversion runs.
    assert message(lambda: reg.h(Loud(), 1))[0] is TypeError
    assert message(lambda: reg.h(target=Loud(), bogus=1))[0] is TypeError


def test_conversion_errors_name_the_parameter():
    reg = QuantumRegister(2)
    assert message(lambda: reg.h(1.0)) == (
        TypeError, "argument 'target': 'float' object cannot be interpreted as an integer")
    assert message(lambda: reg.h(-1)) == (OverflowError, "can't convert negative int to unsigned")
    kind, text = message(lambda: reg.rx(0, "a"))
    assert kind is TypeError and text.startswith("argument 'theta':")
    assert message(lambda: reg.rx(0, 10**400))[0] is OverflowError
    assert message(lambda: reg.u(0, 1.0, 0j, 0j, 1j)) == (
        TypeError, "argument 'u00': 'float' object is not an instance of 'complex'")
    assert message(lambda: reg.u(0, 1j, 0j, 1, 1j)) == (
        TypeError, "argument 'u10': 'int' object is not an instance of 'complex'")
    assert message(lambda: reg.u(0, 1j, None, 0j, 1j)) == (
        TypeError, "argument 'u01': 'None' is not an instance of 'complex'")


def test_qubit_list_errors():
    reg = QuantumRegister(2)
    m = (1j, 0j, 0j, 1j)
    assert message(lambda: reg.mcu("01", 0, *m)) == (
        TypeError, "argument 'control': Can't extract `str` to `Vec`")
    for bad, name in ((0, "int"), ({1}, "set"), ({1: 1}, "dict")):
        assert message(lambda: reg.mcu(bad, 0, *m)) == (
            TypeError, f"argument 'control': '{name}' object is not an instance of 'Sequence'")
    assert message(lambda: reg.observe_mul(5)) == (
        TypeError, "argument 'targets': 'int' object is not an instance of 'Sequence'")
    assert message(lambda: reg.mcu([0, 1.5], 0, *m)) == (
        TypeError, "argument 'control': 'float' object cannot be interpreted as an integer")
    assert message(lambda: reg.mcu([-1], 0, *m))[0] is OverflowError
    # The first parameter that fails is the one reported.
    assert message(lambda: reg.mcu("x", 1.0, *m))[1].startswith("argument 'control'")


def test_qubit_list_iteration_errors_pass_through():
    reg = QuantumRegister(2)

    class Broken(list):
        def __iter__(self):
            yield 0
            raise KeyError("midway")

    assert message(lambda: reg.observe_mul(Broken()))[0] is KeyError

    class Lying(list):
        def __len__(self):
            return 2**62

    with pytest.raises(BaseException) as info:  # must not try to reserve 2^62 entries
        reg.observe_mul(Lying([5]))
    assert str(info.value) == "target out of scope!"


def test_type_error_cause_is_kept():
    reg = QuantumRegister(1)
    cause = ValueError("root")

    class Index:
        def __index__(self):
            raise TypeError("inner") from cause

    with pytest.raises(TypeError) as info:
        reg.h(Index())
    assert str(info.value) == "argument 'target': inner"
    assert info.value.__cause__ is cause


def test_reentrant_call_is_refused_and_flag_released():
    reg = QuantumRegister(2)
    seen = []

    class Reentrant:
        def __index__(self):
            try:
                reg.x(0)
            except RuntimeError as error:
                seen.append(str(error))
                raise
            return 0

    with pytest.raises(RuntimeError) as info:
        reg.h(Reentrant())
    assert str(info.value) == "Already borrowed"
    assert seen == ["Already borrowed"]
    # Nothing stays held after any of these paths.
    assert reg.x(1) is reg


def test_failures_leave_the_register_usable(panic):
    reg = QuantumRegister(1)
    with pytest.raises(ValueError) as info:
        reg.h(1)
    assert info.value.args == ("...",)
    with pytest.raises(panic):
        reg.observe_one(1)
    assert reg.h(0) is reg
