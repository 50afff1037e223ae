"""python -m zelvanic_qiskit FILE.qasm: sample an OpenQASM 2 or 3 file and show the counts."""
import argparse
import contextlib
import io
import json
import re
import sys
from pathlib import Path
from typing import Dict, List, Optional

from qiskit import QuantumCircuit

from .sampler import ZelvanicSampler

BAR_WIDTH = 50


class InputError(Exception):
    """A file that cannot be read or parsed; its message is one line naming file and line."""


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(
        prog="python -m zelvanic_qiskit",
        description="Loads an OpenQASM 2 file (or OpenQASM 3, with the optional qasm3 "
                    "importer installed), samples it on zelvanic and prints the counts.")
    parser.add_argument("file", type=Path, metavar="FILE.qasm")
    parser.add_argument("--shots", type=_positive, default=1024, metavar="N",
                        help="number of shots (default 1024)")
    parser.add_argument("--seed", type=int, metavar="S",
                        help="seed for the draws of a circuit measured only at its end "
                             "(circuits measured mid-way cannot be seeded)")
    parser.add_argument("--json", action="store_true", help='print {"counts": {...}}')
    parser.add_argument("--plot", type=Path, metavar="OUT.png",
                        help="also draw the histogram into a PNG (needs matplotlib)")
    args = parser.parse_args(argv)

    try:
        if args.plot:
            _require_matplotlib()
        circuit = load(args.file)
        counts = sample(circuit, args.shots, args.seed)
    except InputError as error:
        return _fail(str(error))
    except (ValueError, RuntimeError) as error:  # UnsupportedInstruction is a ValueError
        return _fail(f"{args.file}: {_message(error)}")
    except BaseException as error:
        if type(error).__name__ != "PanicException":  # the register's memory guard
            raise
        return _fail(f"{args.file}: {error}")

    if args.json:
        print(json.dumps({"counts": counts}, sort_keys=True))
    else:
        print(histogram(counts, args.shots, args.file.name))
    if args.plot:
        plot(counts, args.plot, args.file.name)
    return 0


def _positive(text: str) -> int:
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError("must be at least 1")
    return value


def _fail(message: str) -> int:
    print(f"error: {message}", file=sys.stderr)
    return 1


def load(path: Path) -> QuantumCircuit:
    """The circuit in an OpenQASM file, version 2 unless its header says 3."""
    try:
        text = path.read_text()
    except (OSError, UnicodeDecodeError) as error:
        raise InputError(f"{path}: cannot read the file: {error}") from None
    header = re.match(r"\s*(?:(?://[^\n]*|/\*.*?\*/)\s*)*OPENQASM\s+(\d+)", text, re.S)
    if header and header.group(1) == "3":
        return _load_qasm3(path)
    from qiskit import qasm2

    try:
        return qasm2.load(path)
    except qasm2.QASM2Error as error:  # the message starts with "FILE:LINE,COLUMN:"
        raise InputError(_message(error)) from None


def _load_qasm3(path: Path) -> QuantumCircuit:
    from qiskit import qasm3
    from qiskit.exceptions import MissingOptionalLibraryError

    # The importer's parser also prints what it finds wrong to stderr, beside the error it
    # raises (seen with a newer parser release); the error alone becomes our one line.
    try:
        with contextlib.redirect_stderr(io.StringIO()):
            return qasm3.load(path)
    except MissingOptionalLibraryError:
        raise InputError(f"{path}: OpenQASM 3 needs Qiskit's optional importer: "
                         "pip install 'zelvanic-qiskit[qasm3]'") from None
    except Exception as error:  # the importer's and its parser's own errors
        raise InputError(_qasm3_message(path, error)) from None


def _qasm3_message(path: Path, error: BaseException) -> str:
    """FILE:LINE,COLUMN: what went wrong. The importer puts LINE,COLUMN at the start of its
    messages; the parser's syntax errors carry the token where it stopped instead."""
    message = _message(error)
    token = _offending_token(error)
    if token is not None:
        where = f"{path}:{token.line},{token.column}: syntax error at {token.text!r}"
        return f"{where}: {message}" if message else where
    if re.match(r"\d+,\d+:", message):
        return f"{path}:{message}"
    return f"{path}: {message or type(error).__name__}"


def _offending_token(error: Optional[BaseException]):
    seen = set()
    while error is not None and id(error) not in seen:
        seen.add(id(error))
        for candidate in (error, *error.args):
            token = getattr(candidate, "offendingToken", None)
            if token is not None:
                return token
        error = error.__cause__ or error.__context__
    return None


def _message(error: BaseException) -> str:
    """Qiskit's errors quote their str(); their .message is the plain text."""
    return _one_line(str(getattr(error, "message", error)))


def _one_line(text: str) -> str:
    return " ".join(text.split())


def sample(circuit: QuantumCircuit, shots: int, seed: Optional[int]) -> Dict[str, int]:
    """Counts over all classical registers together, in Qiskit's bit order."""
    result = ZelvanicSampler(seed=seed).run([circuit], shots=shots).result()[0]
    if not circuit.cregs:
        return {}
    return dict(sorted(result.join_data().get_counts().items()))


def histogram(counts: Dict[str, int], shots: int, title: str) -> str:
    lines = [f"{title}: {shots} shots"]
    if not counts:
        return lines[0] + ", nothing measured"
    most = max(counts.values())
    for outcome, count in counts.items():
        bar = "#" * max(1, round(BAR_WIDTH * count / most))
        lines.append(f"{outcome}  {bar:<{BAR_WIDTH}}  {count:>{len(str(shots))}}  "
                     f"{100 * count / shots:5.1f}%")
    return "\n".join(lines)


def _require_matplotlib() -> None:
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        raise InputError("--plot needs matplotlib: pip install matplotlib") from None


def plot(counts: Dict[str, int], out: Path, title: str) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    figure, axes = plt.subplots(figsize=(max(4.0, 0.5 * len(counts) + 2), 3.5))
    axes.bar(list(counts), list(counts.values()))
    axes.set_xlabel("outcome")
    axes.set_ylabel("count")
    axes.set_title(title)
    axes.tick_params(axis="x", labelrotation=90 if len(counts) > 8 else 0)
    figure.tight_layout()
    figure.savefig(out)
    plt.close(figure)
    print(f"wrote {out}", file=sys.stderr)  # stdout stays the counts alone, JSON with --json
