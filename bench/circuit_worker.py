"""How bench/circuits.py runs a circuit on zelvanic, in its own process or in another venv's.

bench/circuits.py imports this module for the build under test, and starts it as a child
process with another environment's interpreter for an earlier release, so that both builds are
driven by the same code. As a child it answers one JSON request per line on stdin:

    {"what": "time", "n": 20, "ops": [...]}    -> {"seconds": s, "read": r, "cpu": c}
    {"what": "digest", "n": 20, "ops": [...]}  -> {"sha256": "..."}

Operations come in the neutral form of bench/peers.py, (name, *qubits, angle?), with qubit
k = bit k of the basis index. Only the standard library and zelvanic are needed here.
"""
import argparse
import cmath
import hashlib
import json
import sys
import time
from array import array
from pathlib import Path

import zelvanic


def apply(n, ops):
    """A fresh register of n qubits with every operation called on it."""
    reg = zelvanic.QuantumRegister(n)
    for kind, *args in ops:
        if kind == "cp":  # controlled phase: the one-control form of mcu
            control, target, phi = args
            reg.mcu([control], target, 1 + 0j, 0j, 0j, cmath.exp(1j * phi))
        else:
            getattr(reg, kind)(*args)
    return reg


def timed_run(n, ops):
    """(seconds from an empty register to the end of a first read, seconds of a second read).

    A gate may wait in the register until something reads the state, so the clock runs until
    a read has returned. observe_one(0) is the cheapest read: a sum over the amplitudes and
    the collapse of half of them, about two streaming passes. The second read, on a register
    with nothing left to apply, shows what the first one cost on its own.
    """
    start = time.perf_counter()
    reg = apply(n, ops)
    reg.observe_one(0)
    total = time.perf_counter() - start
    start = time.perf_counter()
    reg.observe_one(0)
    return total, time.perf_counter() - start


def probabilities(n, ops):
    """The probability of every basis state after the circuit, as a Python list."""
    return apply(n, ops).god_observe()


def digest(values):
    """SHA-256 of the doubles' bytes: equal digests mean equal probabilities to the last bit."""
    return hashlib.sha256(array("d", values).tobytes()).hexdigest()


def describe():
    """Where this interpreter's zelvanic comes from; setup-baseline.sh leaves the commit."""
    marker = Path(sys.prefix) / "ZELVANIC_COMMIT"
    commit = marker.read_text().strip() if marker.exists() else None
    return {"module": zelvanic.__file__, "commit": commit,
            "python": sys.version.split()[0]}


def serve():
    print(json.dumps(describe()), flush=True)
    for line in sys.stdin:
        request = json.loads(line)
        n, ops = request["n"], request["ops"]
        if request["what"] == "time":
            cpu = time.process_time()
            seconds, read = timed_run(n, ops)
            reply = {"seconds": seconds, "read": read, "cpu": time.process_time() - cpu}
        else:
            reply = {"sha256": digest(probabilities(n, ops))}
        print(json.dumps(reply), flush=True)


if __name__ == "__main__":
    # Nothing to set: --help shows what the worker answers, anything else is refused.
    argparse.ArgumentParser(description=__doc__,
                            formatter_class=argparse.RawDescriptionHelpFormatter).parse_args()
    serve()
