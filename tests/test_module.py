"""The module's face: its attributes, both classes and their flags."""
import inspect
import weakref

import pytest

import zelvanic
from zelvanic import PyDiracKet, QuantumRegister


def test_module_attributes():
    assert zelvanic.__all__ == ["QuantumRegister", "PyDiracKet"]
    assert zelvanic.__doc__ == ""
    own = {name for name in vars(zelvanic) if not name.startswith("__")}
    assert own == {"QuantumRegister", "PyDiracKet"}
    assert not hasattr(zelvanic, "PanicException")


def test_classes_report_builtins():
    for cls, name in ((QuantumRegister, "QuantumRegister"), (PyDiracKet, "PyDiracKet")):
        assert cls.__module__ == "builtins"
        assert cls.__qualname__ == name
        assert cls.__bases__ == (object,)


def test_register_advertises_its_signature_only():
    assert QuantumRegister.__text_signature__ == "(n)"
    assert str(inspect.signature(QuantumRegister)) == "(n)"
    assert not QuantumRegister.__doc__
    assert PyDiracKet.__doc__ is None


METHODS = {
    "observe": "()", "observe_one": "(target)", "observe_mul": "(targets)",
    "god_observe": "()", "x": "(target)", "h": "(target)",
    "u": "(target, u00, u01, u10, u11)", "cnot": "(control, target)",
    "ccnot": "(control1, control2, target)", "rz": "(target, theta)",
    "rx": "(target, theta)", "ry": "(target, theta)", "swap": "(q1, q2)",
    "csswap": "(control, target_1, target_2)",
    "mcu": "(control, target, u00, u01, u10, u11)",
}


def test_method_table_order_and_signatures():
    own = [name for name in vars(QuantumRegister) if not name.startswith("__")]
    assert own == list(METHODS)
    reg = QuantumRegister(1)
    for name, sig in METHODS.items():
        method = getattr(reg, name)
        assert str(inspect.signature(method)) == sig, name
        assert method.__doc__ is None, name
        assert getattr(QuantumRegister, name).__text_signature__ == "($self" + (
            ", " + sig[1:] if sig != "()" else ")"), name


def test_instances_are_closed():
    reg = QuantumRegister(1)
    ket = reg.observe()
    for obj in (reg, ket):
        with pytest.raises(AttributeError):
            obj.extra = 1
        with pytest.raises(TypeError):
            weakref.ref(obj)


def test_classes_cannot_be_subclassed():
    for base in (QuantumRegister, PyDiracKet):
        with pytest.raises(TypeError):
            type("Sub", (base,), {})


def test_ket_cannot_be_made_directly():
    for args in ((), (1,), (1, 2)):
        with pytest.raises(TypeError) as info:
            PyDiracKet(*args)
        assert str(info.value) == "cannot create 'builtins.PyDiracKet' instances"


def test_panic_exception_class(panic):
    assert panic.__module__ == "pyo3_runtime"
    assert panic.__qualname__ == "PanicException"
    assert panic.__bases__ == (BaseException,)
    assert not issubclass(panic, Exception)
    assert "BaseException" in panic.__doc__
    with pytest.raises(BaseException) as info:
        QuantumRegister(61)
    assert type(info.value) is panic  # one class per process
