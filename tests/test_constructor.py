"""QuantumRegister(n): argument matching, conversion and the memory guard."""
import os
import re
import subprocess
import sys

import pytest

from zelvanic import QuantumRegister


def raised(call):
    try:
        call()
    except BaseException as error:
        return type(error), str(error)
    return None


@pytest.mark.parametrize("call, kind, message", [
    (lambda: QuantumRegister(), TypeError,
     "QuantumRegister.__new__() missing 1 required positional argument: 'n'"),
    (lambda: QuantumRegister(1, 2), TypeError,
     "QuantumRegister.__new__() takes 1 positional arguments but 2 were given"),
    (lambda: QuantumRegister(m=1), TypeError,
     "QuantumRegister.__new__() got an unexpected keyword argument 'm'"),
    (lambda: QuantumRegister(1, n=1), TypeError,
     "QuantumRegister.__new__() got multiple values for argument 'n'"),
    (lambda: QuantumRegister(2.0), TypeError,
     "argument 'n': 'float' object cannot be interpreted as an integer"),
    (lambda: QuantumRegister("3"), TypeError,
     "argument 'n': 'str' object cannot be interpreted as an integer"),
    (lambda: QuantumRegister(-1), OverflowError, "can't convert negative int to unsigned"),
    (lambda: QuantumRegister(2**64), OverflowError, "int too big to convert"),
])
def test_argument_errors(call, kind, message):
    assert raised(call) == (kind, message)


def test_accepted_forms():
    for reg in (QuantumRegister(n=3), QuantumRegister(True), QuantumRegister(0)):
        assert isinstance(reg, QuantumRegister)

    class Index:
        def __index__(self):
            return 2

    assert QuantumRegister(Index()).god_observe() == [1.0, 0.0, 0.0, 0.0]


GUARD = re.compile(r"You have (\d+) bytes of memory and Not enough memory to simulate (\d+) "
                   r"qubits! This which needs\.\. (\d+) bytes of memory! This need (\d+) "
                   r"more memory")


@pytest.mark.parametrize("n", [40, 59])
def test_memory_guard(panic, n):
    with pytest.raises(panic) as info:
        QuantumRegister(n)
    match = GUARD.fullmatch(str(info.value))
    assert match, str(info.value)
    available, qubits, needed, shortfall = map(int, match.groups())
    assert (qubits, needed) == (n, 16 << n)
    assert shortfall == needed - available


@pytest.mark.parametrize("n", [60, 64, 2**64 - 1])
def test_capacity_overflow(panic, n):
    with pytest.raises(panic) as info:
        QuantumRegister(n)
    assert str(info.value) == "capacity overflow"


def test_fatal_error_escapes_except_exception():
    script = (
        "import zelvanic\n"
        "try:\n"
        "    zelvanic.QuantumRegister(40)\n"
        "except Exception:\n"
        "    print('caught')\n"
    )
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
    assert run.returncode != 0 and "caught" not in run.stdout
    assert "pyo3_runtime.PanicException: You have" in run.stderr
    # The diagnostic names the thread, where the core stopped (relative to the project, not
    # where it was built), and the text.
    where = re.search(r"thread '.*' \(\d+\) stopped at (\S*register\.cpp):\d+:\nYou have",
                      run.stderr)
    assert where and not where.group(1).startswith("/"), run.stderr


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGESIZE")


def test_amplitudes_are_committed_when_the_register_is_built():
    # Pages left for the first gate to touch would not count against the available memory
    # that the guard of the next register reads.
    before = resident_bytes()
    reg = QuantumRegister(22)
    assert resident_bytes() - before >= 0.9 * (16 << 22)
    del reg
