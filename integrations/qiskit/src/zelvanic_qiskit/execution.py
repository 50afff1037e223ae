"""Running compiled steps on a zelvanic register, for a number of shots.

Both runners return the classical bits of every shot: an array of shape (shots, clbits) of 0
and 1, in the circuit's clbit order.
"""
import array
import os
import threading
from typing import List, Optional, Sequence, Tuple

import numpy as np

import zelvanic

from . import memory
from .lowering import Step


def final_measurements(steps: Sequence[Step]) -> Optional[List[Tuple[int, int]]]:
    """The (qubit, clbit) pairs, in order, when every measurement comes after the last gate on
    its qubit and nothing else is classical; None when the circuit must run shot by
    shot (a mid-circuit measurement, a reset, or classical control)."""
    steps = without_leading_resets(steps)
    touched = set()
    for step in reversed(steps):
        if step.kind == "gate":
            touched.update(_qubits(step))
        elif step.kind == "measure":
            # A second measurement of a qubit that no gate touched in between repeats the
            # first, so both may be read from the same drawn outcome.
            if step.args[0] in touched:
                return None
        else:
            return None
    return [step.args for step in steps if step.kind == "measure"]


def without_leading_resets(steps: Sequence[Step]) -> List[Step]:
    """A reset of a qubit that nothing has touched yet finds it in |0> and does nothing (files
    exported from other tools often begin so)."""
    touched, kept = set(), []
    for step in steps:
        if step.kind == "reset" and step.args[0] not in touched:
            continue
        kept.append(step)
        if step.kind == "gate":
            touched.update(_qubits(step))
        elif step.kind == "measure":
            touched.add(step.args[0])
    return kept


def _qubits(step: Step):
    method, args = step.args
    if method == "mcu":
        return [*args[0], args[1]]
    return [a for a in args if isinstance(a, int)]


_SETTING_LOCK = threading.Lock()


def new_register(num_qubits: int, threads: Optional[int] = None):
    """A register of `num_qubits`. With `threads`, its work may spread over that many threads
    (0: every processor this process may run on): ZELVANIC_THREADS, which a register reads
    when it is made, is set for that moment alone. None leaves the environment's setting."""
    if threads is None:
        return zelvanic.QuantumRegister(num_qubits)
    with _SETTING_LOCK:  # two primitives making registers at once each get their own count
        saved = os.environ.get("ZELVANIC_THREADS")
        os.environ["ZELVANIC_THREADS"] = str(threads)
        try:
            return zelvanic.QuantumRegister(num_qubits)
        finally:
            if saved is None:
                del os.environ["ZELVANIC_THREADS"]
            else:
                os.environ["ZELVANIC_THREADS"] = saved


def thread_count(value: Optional[int]) -> Optional[int]:
    """`max_parallel_threads` of a primitive, checked: None, or a whole number >= 0."""
    if value is None:
        return None
    if isinstance(value, bool) or not isinstance(value, int) or value < 0:
        raise ValueError(f"max_parallel_threads must be a whole number >= 0 (0: every "
                         f"processor) or None, not {value!r}")
    return value


def apply_gates(reg, steps: Sequence[Step]) -> None:
    for step in steps:
        if step.kind == "gate":
            method, args = step.args
            getattr(reg, method)(*args)


def sample_final(steps: Sequence[Step], num_qubits: int, num_clbits: int,
                 measurements: Sequence[Tuple[int, int]], shots: int,
                 rng: np.random.Generator, threads: Optional[int] = None) -> np.ndarray:
    """Simulates once, then draws every shot from the probabilities of the final state."""
    bits = np.zeros((shots, num_clbits), dtype=np.uint8)
    if not measurements:
        return bits
    probabilities = final_probabilities(steps, num_qubits, threads)
    outcomes = draw(probabilities, shots, rng)
    for qubit, clbit in measurements:  # in circuit order: a later write to a clbit wins
        bits[:, clbit] = (outcomes >> qubit) & 1
    return bits


def final_probabilities(steps: Sequence[Step], num_qubits: int,
                        threads: Optional[int] = None) -> np.ndarray:
    """The probabilities of the basis states after the gates of `steps`, in index order.
    Refuses with MemoryError, before any gate runs, when the read-out would not fit."""
    memory.require_readout(num_qubits)
    reg = new_register(num_qubits, threads)
    apply_gates(reg, steps)
    listed = reg.god_observe()
    del reg  # the amplitudes, then the list of 2^n floats, go as soon as they are read
    probabilities = as_array(listed)
    del listed
    return probabilities


def as_array(listed: List[float]) -> np.ndarray:
    """A writable float64 copy of a list of floats. array.array reads the floats in one C
    loop, faster than numpy's own conversion of a list; numpy then shares its buffer."""
    return np.frombuffer(array.array("d", listed), dtype=np.float64)


def draw(probabilities: np.ndarray, shots: int, rng: np.random.Generator) -> np.ndarray:
    """Basis-state indices drawn by inverting the cumulative distribution, which overwrites
    `probabilities` (a second array of 2^n doubles would cost more than the sum itself). The
    draws are scaled by the total, which may differ from 1 in the last bits; an outcome of
    probability zero is never drawn."""
    cumulative = np.cumsum(probabilities, out=probabilities)
    total = cumulative[-1]
    drawn = np.searchsorted(cumulative, rng.random(shots) * total, side="right")
    # u * total may round up to total itself: that draw goes to the last possible outcome,
    # the first whose running sum reaches the total.
    last = np.searchsorted(cumulative, total, side="left")
    return np.minimum(drawn, last)


def run_shots(steps: Sequence[Step], num_qubits: int, num_clbits: int,
              shots: int, threads: Optional[int] = None) -> np.ndarray:
    """Simulates every shot from |0...0>, measuring with the register's own random source."""
    bits = np.zeros((shots, num_clbits), dtype=np.uint8)
    for shot in range(shots):
        reg = new_register(num_qubits, threads)
        clbits = [0] * num_clbits
        _run(reg, steps, clbits)
        bits[shot] = clbits
        del reg  # before the next shot makes its register: two may not fit at once
    return bits


def _measure(reg, qubit: int) -> int:
    return 1 if repr(reg.observe_one(qubit)) == "|1>" else 0


def _run(reg, steps: Sequence[Step], clbits: List[int]) -> None:
    for kind, args in steps:
        if kind == "gate":
            getattr(reg, args[0])(*args[1])
        elif kind == "measure":
            clbits[args[1]] = _measure(reg, args[0])
        elif kind == "reset":
            if _measure(reg, args[0]):
                reg.x(args[0])
        elif kind == "if":
            condition, then, otherwise = args
            _run(reg, then if condition(clbits) else otherwise, clbits)
        elif kind == "while":
            condition, body = args
            while condition(clbits):
                _run(reg, body, clbits)
        elif kind == "switch":
            target, cases = args
            value = target(clbits)
            for values, body in cases:
                if values is None or value in values:
                    _run(reg, body, clbits)
                    break
