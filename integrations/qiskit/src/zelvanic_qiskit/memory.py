"""Whether a simulation fits in memory, checked before any gate runs.

The register refuses itself when its amplitudes do not fit, but reading the probabilities out
costs more than the amplitudes: `god_observe()` builds a list of 2^n Python floats (a pointer
and a float object, 32 bytes each) while the register is alive, and numpy then copies the
list (8 bytes each) after the register is gone. Without this check a circuit of 29 or 30
qubits on 24 GiB runs every gate and is refused only at the read-out.
"""
from typing import Optional

AMPLITUDE_BYTES = 16
LISTED_FLOAT_BYTES = 32
ARRAY_FLOAT_BYTES = 8
# The peak of a read-out, per basis state: the register with the list, or the list with the
# numpy copy.
READOUT_BYTES = max(AMPLITUDE_BYTES + LISTED_FLOAT_BYTES, LISTED_FLOAT_BYTES + ARRAY_FLOAT_BYTES)


def available_bytes() -> Optional[int]:
    """MemAvailable from /proc/meminfo, read afresh; None where there is no such file."""
    try:
        with open("/proc/meminfo") as meminfo:
            for line in meminfo:
                if line.startswith("MemAvailable:"):
                    return int(line.split()[1]) * 1024
    except (OSError, ValueError, IndexError):
        pass
    return None


def require(num_qubits: int, bytes_per_state: int, what: str) -> None:
    """Raises MemoryError, naming what needs how much, when it does not fit now."""
    needed = bytes_per_state << num_qubits
    available = available_bytes()
    if available is not None and needed > available:
        raise MemoryError(
            f"{what} of {num_qubits} qubits needs {_gib(needed)} of memory, and "
            f"{_gib(available)} is available")


# Below this a read-out is not worth reading /proc/meminfo for (the estimator reads out many
# small registers).
SMALL_BYTES = 1 << 28


def require_readout(num_qubits: int) -> None:
    """Refuses a read-out that would not fit, where the register itself would: a register
    too large for the memory is left to refuse itself, with the register's own error."""
    if READOUT_BYTES << num_qubits <= SMALL_BYTES:
        return
    available = available_bytes()
    if available is not None and AMPLITUDE_BYTES << num_qubits <= available:
        require(num_qubits, READOUT_BYTES, "reading out the probabilities of a register")


def _gib(count: int) -> str:
    return f"{count / 2**30:.1f} GiB"
