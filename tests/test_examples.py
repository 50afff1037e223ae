"""Every example runs to completion and prints what it found."""
import re
import subprocess
import sys
from pathlib import Path
from typing import Sequence

import pytest

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"

# What each example must print, as regular expressions searched in its output.
EXPECTED = {
    "bell_pair.py": [r"Bell pair, 1000 shots: \{'\|00>': \d+, '\|11>': \d+\}"],
    "ghz.py": [
        r"P\(\|00000>\) = 0\.500000, P\(\|11111>\) = 0\.500000",
        r"GHZ state of 5 qubits, 500 shots: \{'\|00000>': \d+, '\|11111>': \d+\}",
        r"qubit 2 gave \|([01])>, the other four gave \|\1{4}>",
    ],
    "teleportation.py": [
        r"Teleported 100 states; Alice's measurements: \{'m0=0 m1=0': \d+, 'm0=0 m1=1': \d+, "
        r"'m0=1 m1=0': \d+, 'm0=1 m1=1': \d+\}",
    ],
    "deutsch_jozsa.py": [
        r"constant 0 +measured \|0000> -> constant",
        r"constant 1 +measured \|0000> -> constant",
        r"x0 xor x2 +measured \|0101> -> balanced",
        r"x3 +measured \|1000> -> balanced",
        r"x3 xor \(x0 and x1 and x2\) +measured \|1[01]{3}> -> balanced",
    ],
    "grover.py": [
        r"3 qubits, marked \|101>: P = 0\.945\d, found \|101>",
        r"4 qubits, marked \|1011>: P = 0\.961\d, found \|1011>",
        r"5 qubits, marked \|10110>: P = 0\.999\d, found \|10110>",
    ],
    "qft.py": [
        r"period-4 input: peaks at \[0, 8, 16, 24\] each with P = 0\.2500",
        r"largest difference from the DFT",
    ],
    "histogram.py": [r"wrote \S*histogram\.png"],
    "qiskit_estimator.py": [r"exact +-6\.464101615138"],
    "mpi_ghz.py": [
        r"GHZ state of 22 qubits over 1 process: P\(\|0{22}>\) = 0\.500000, P\(\|1{22}>\) = 0\.500000",
        r"rank 0 holds basis states 0 to 4194303, probability 1\.000000",
        r"measured \|(0{22}|1{22})>",
    ],
    "pennylane_vqe.py": [
        r"Heisenberg chain of 3 sites: VQE energy -?\d\.\d{12} after \d+ BFGS steps",
        r"exact ground energy \(numpy eigvalsh\): -4\.000000000000",
    ],
}


def run(args: Sequence[str], cwd: Path) -> str:
    done = subprocess.run(
        [sys.executable, *args], cwd=cwd, capture_output=True, text=True, timeout=300
    )
    assert done.returncode == 0, done.stdout + done.stderr
    return done.stdout


def test_every_example_is_checked() -> None:
    assert {path.name for path in EXAMPLES.glob("*.py")} == set(EXPECTED)


@pytest.mark.parametrize("name", sorted(EXPECTED))
def test_example(name: str, tmp_path: Path) -> None:
    if name == "histogram.py":
        pytest.importorskip("matplotlib", reason="the histogram needs matplotlib")
    if name == "pennylane_vqe.py":  # run by scripts/run-pennylane-tests
        pytest.importorskip("zelvanic_pennylane", reason="needs the PennyLane integration")
    if name == "mpi_ghz.py":  # run by scripts/run-mpi-tests, also under mpiexec
        pytest.importorskip("zelvanic_mpi", reason="needs the MPI integration")
    if name == "qiskit_estimator.py":  # run by the Qiskit integration's tests
        pytest.importorskip("zelvanic_qiskit", reason="needs the Qiskit integration")
    output = run([str(EXAMPLES / name), str(tmp_path / "histogram.png")], tmp_path)
    for pattern in EXPECTED[name]:
        assert re.search(pattern, output), (pattern, output)
    if name == "histogram.py":
        assert (tmp_path / "histogram.png").read_bytes().startswith(b"\x89PNG\r\n\x1a\n")


def test_histogram_without_matplotlib(tmp_path: Path) -> None:
    # A None entry in sys.modules makes `import matplotlib` fail as if it were not installed.
    script = EXAMPLES / "histogram.py"
    hide = (
        "import runpy, sys; sys.modules['matplotlib'] = None; sys.argv = sys.argv[1:]; "
        "runpy.run_path(sys.argv[0], run_name='__main__')"
    )
    output = run(["-c", hide, str(script), str(tmp_path / "out.png")], tmp_path)
    assert "matplotlib is not installed" in output
    assert not (tmp_path / "out.png").exists()
