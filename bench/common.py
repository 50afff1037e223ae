"""Shared by the benchmarks: the machine's description, the streaming-pass baseline and the
markdown file a benchmark's results go to."""
import os
import platform
import statistics
import subprocess
import sys
import time
from pathlib import Path

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


def vector_flags():
    """The CPU's vector extensions that decide the kernels, as /proc/cpuinfo names them."""
    flags = cpu_flags()
    return ", ".join(f for f in ("avx2", "avx512f") if f in flags) or "no AVX2"


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


def work_tree_commit():
    """The commit the benchmarked sources come from, marked -dirty when they differ from it."""
    try:
        return subprocess.run(["git", "-C", str(Path(__file__).parent), "describe", "--always",
                               "--dirty"], capture_output=True, text=True,
                              check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "unknown"


class Report:
    """A markdown report that is printed as it grows and, given a path, written there too."""

    def __init__(self, path):
        self.path = Path(path) if path else None
        self.lines = []
        self.began = time.perf_counter()
        self.load_at_start = os.getloadavg()[0]

    def line(self, text=""):
        print(text, flush=True)
        self.lines.append(text)

    def machine(self, command):
        """The lines that say where, on what and how the figures below were measured."""
        self.line(f"- Machine: {cpu_name()} ({vector_flags()}), {kernel_path()} kernels, "
                  f"{os.cpu_count()} cores shared with other work, {platform.system()} "
                  f"{platform.release()}; Python {platform.python_version()}, numpy "
                  f"{np.__version__}.")
        self.line(f"- zelvanic: work tree {work_tree_commit()}; one thread. Written by "
                  f"`{command}`.")

    def close(self):
        minutes = (time.perf_counter() - self.began) / 60
        self.line(f"\n1-minute load average {self.load_at_start:.1f} at the start, "
                  f"{os.getloadavg()[0]:.1f} at the end; total time {minutes:.1f} min.")
        if self.path:
            self.path.parent.mkdir(parents=True, exist_ok=True)
            self.path.write_text("\n".join(self.lines) + "\n")
            print(f"wrote {self.path}")


def not_a_script(doc, runner):
    """What a helper module does when it is run rather than imported: it says what it holds
    and which benchmark to run instead (with --help on stdout, otherwise as an error)."""
    text = f"{doc.strip()}\n\nThis module is imported by {runner}; run that instead."
    if any(arg in ("-h", "--help") for arg in sys.argv[1:]):
        print(text)
        sys.exit(0)
    print(text, file=sys.stderr)
    sys.exit(2)


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


if __name__ == "__main__":
    not_a_script(__doc__, "every benchmark in bench/ (gates.py, measure.py, peers.py, "
                          "circuits.py, tiles.py)")
