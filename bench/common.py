"""Shared by the benchmarks: the machine's description and the streaming-pass baseline."""
import os
import platform
import statistics
import time

import numpy as np


def cpu_name():
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown CPU"


def cpu_flags():
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("flags"):
                    return set(line.split(":", 1)[1].split())
    except OSError:
        pass
    return set()


def kernel_path():
    """The instruction set the simulator picks on this CPU (it prefers the widest)."""
    flags = cpu_flags()
    if "avx512f" in flags:
        return "AVX-512"
    if "avx2" in flags:
        return "AVX2"
    return "plain x86-64"


def machine():
    return f"{cpu_name()}, {kernel_path()} kernels, Python {platform.python_version()}"


def apply_gates_at_once():
    """Registers made from now on apply each gate as it comes. Left alone, a large register
    defers its gates until something reads the state, then applies them tile by tile; a
    timing of one gate, or of a measurement on a prepared state, must not include that."""
    os.environ["ZELVANIC_TILE_QUBITS"] = "64"


def best_seconds(action, repeats):
    """The fastest of `repeats` timings of action(): the least disturbed by a shared machine."""
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        action()
        best = min(best, time.perf_counter() - start)
    return best


def paired(baseline, action, repeats):
    """(best seconds of action, median of action/baseline over back-to-back pairs). Timing
    each action right after its own baseline keeps a shared machine's drifting load out of
    the ratio."""
    seconds, ratios = [], []
    for _ in range(repeats):
        base = best_seconds(baseline, 1)
        took = best_seconds(action, 1)
        seconds.append(took)
        ratios.append(took / base)
    return min(seconds), statistics.median(ratios)


class StreamingPass:
    """An in-place read-and-write pass over the same bytes as a register of n qubits."""

    def __init__(self, n):
        self.array = np.ones(2 << n, dtype=np.float64)  # 2^n amplitudes of two doubles

    def __call__(self):
        np.multiply(self.array, -1.0, out=self.array)


def load_simulators(factories):
    """(simulators that loaded, texts naming those that did not) from (name, factory) pairs:
    a peer that is missing, or whose binary wheel is broken, is named and skipped."""
    loaded, missing = [], []
    for name, factory in factories:
        try:
            loaded.append(factory())
        except Exception as error:  # ImportError, or a broken binary wheel
            missing.append(f"{name} ({type(error).__name__}: {error})")
    return loaded, missing
