import pytest

import zelvanic

# The fatal-error exception is not a module attribute; it is whatever a refused register raises.
try:
    zelvanic.QuantumRegister(60)
except BaseException as error:  # noqa: B902 - it derives from BaseException on purpose
    PanicException = type(error)


@pytest.fixture
def panic():
    return PanicException
