"""python -m zelvanic_qiskit on OpenQASM files, and the examples that use the integration."""
import json
import subprocess
import sys
from pathlib import Path

import pytest

EXAMPLES = Path(__file__).resolve().parents[3] / "examples"

GHZ2 = """OPENQASM 2.0;
include "qelib1.inc";
qreg q[4];
creg c[4];
h q[0];
cx q[0], q[1];
cx q[1], q[2];
cx q[2], q[3];
measure q -> c;
"""

BELL3 = """OPENQASM 3.0;
include "stdgates.inc";
qubit[2] q;
bit[2] c;
h q[0];
cx q[0], q[1];
c = measure q;
"""


def cli(*args, cwd):
    return subprocess.run([sys.executable, "-m", "zelvanic_qiskit", *map(str, args)], cwd=cwd,
                          capture_output=True, text=True, timeout=300)


def test_ghz_json_and_histogram(tmp_path):
    (tmp_path / "ghz.qasm").write_text(GHZ2)
    runs = [cli("ghz.qasm", "--json", "--shots", 500, "--seed", 9, cwd=tmp_path)
            for _ in range(2)]
    assert runs[0].returncode == 0, runs[0].stderr
    assert runs[0].stdout == runs[1].stdout  # the seed fixes the draws
    counts = json.loads(runs[0].stdout)["counts"]
    assert set(counts) == {"0000", "1111"} and sum(counts.values()) == 500
    text = cli("ghz.qasm", "--shots", 500, "--seed", 9, cwd=tmp_path).stdout
    assert text.splitlines()[1].startswith("0000  #") and f"  {counts['0000']}  " in text


def test_openqasm3(tmp_path):
    pytest.importorskip("qiskit_qasm3_import")
    (tmp_path / "bell.qasm").write_text(BELL3)
    done = cli("bell.qasm", "--json", cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    assert set(json.loads(done.stdout)["counts"]) == {"00", "11"}


@pytest.mark.parametrize("text", [GHZ2, BELL3], ids=["qasm2", "qasm3"])
def test_malformed_file_gives_one_line_with_its_line_number(tmp_path, text):
    if "OPENQASM 3" in text:
        pytest.importorskip("qiskit_qasm3_import")
    lines = text.splitlines()
    lines[5] = lines[5].replace(";", "")  # line 6 loses its semicolon: seen on line 7
    (tmp_path / "bad.qasm").write_text("\n".join(lines) + "\n")
    done = cli("bad.qasm", cwd=tmp_path)
    assert done.returncode != 0 and not done.stdout
    assert len(done.stderr.splitlines()) == 1 and "bad.qasm:7," in done.stderr, done.stderr


@pytest.mark.parametrize("width", [1, 8, 9, 64, 65, 100])
def test_counts_match_qiskits_own(width):
    """Our numpy count against BitArray.get_counts, across the byte and word boundaries."""
    import numpy as np
    from qiskit.primitives import BitArray

    from zelvanic_qiskit.cli import counts

    draws = np.random.default_rng(width).integers(0, 2**min(width, 62), 500)
    bits = BitArray.from_samples([int(d) for d in draws] + [2**width - 1] * 3, num_bits=width)
    assert counts(bits) == dict(sorted(bits.get_counts().items()))


LEGACY = """OPENQASM 2.0;
include "qelib1.inc";
qreg q[3];
creg c[3];
x q[0];
sx q[1];
sx q[1];
swap q[0], q[2];
cswap q[2], q[0], q[1];
u1(0.3) q[2];
measure q -> c;
"""


def test_qelib1_gates_that_qiskit_adds(tmp_path):
    """sx, swap and cswap are not in qelib1.inc, yet Qiskit's own loader takes them."""
    (tmp_path / "legacy.qasm").write_text(LEGACY)
    done = cli("legacy.qasm", "--json", cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    assert json.loads(done.stdout)["counts"] == {"101": 1024}


HEAD = 'OPENQASM 2.0;\ninclude "qelib1.inc";\n'


@pytest.mark.parametrize("text, args, message", [
    (GHZ2, ["--shots", "1000000000000"], "--shots: must be from 1 to"),
    (GHZ2, ["--seed", "-1"], "--seed: must be 0 or more"),
    ("", [], "no circuit in the file"),
    (HEAD + "qreg q[1];\ncreg c[1];\nrx(1e400) q[0];\nmeasure q -> c;\n", [], "not finite"),
    (HEAD + "qreg q[40];\ncreg c[1];\nh q[0];\nmeasure q[0] -> c[0];\n", [],
     "a register of 40 qubits needs"),
    (GHZ2, ["--plot", "missing/out.png"], "no such folder"),
    (GHZ2, ["--plot", "out.txt"], "the name must end in one of"),
    (GHZ2, ["--plot", "/dev/full"], "cannot write /dev/full"),
], ids=["huge-shots", "negative-seed", "empty", "infinite-angle", "40-qubits", "plot-folder",
        "plot-extension", "plot-full-device"])
def test_hostile_input_gives_one_line_and_fails(tmp_path, text, args, message):
    if "--plot" in args:
        pytest.importorskip("matplotlib")
        if args[1] == "/dev/full" and not Path("/dev/full").exists():
            pytest.skip("no /dev/full")
    (tmp_path / "in.qasm").write_text(text)
    done = cli("in.qasm", *args, cwd=tmp_path)
    assert done.returncode != 0
    assert len(done.stderr.splitlines()) == 1 and message in done.stderr, done.stderr
    assert "wrote" not in done.stderr


@pytest.mark.parametrize("script, expected", [
    ("openqasm/load_qasm.py", "5 qubits, 1000 shots: {'1011': 1000}"),
    ("qiskit_estimator.py", "exact       -6.464101615138"),
])
def test_examples_run(script, expected):
    script = EXAMPLES / script
    if not script.exists():
        pytest.skip("not run from a checkout")
    done = subprocess.run([sys.executable, str(script)], capture_output=True, text=True,
                          timeout=300)
    assert done.returncode == 0, done.stderr
    assert expected in done.stdout
