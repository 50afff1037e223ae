"""python -m zelvanic_qiskit FILE.qasm: sample an OpenQASM 2 or 3 file and show the counts."""
import argparse
import contextlib
import io
import json
import re
import sys
from pathlib import Path
from typing import Dict, List, Optional

import numpy as np
from qiskit import QuantumCircuit
from qiskit.primitives import BitArray

from . import memory
from .sampler import ZelvanicSampler

BAR_WIDTH = 50
# Each shot costs about 50 bytes on its way to the counts (its draw, its outcome, its bits,
# its key for counting): 10^8 shots take about 5 GB and half a minute.
MAX_SHOTS = 10**8
PLOT_FORMATS = ("png", "pdf", "svg", "jpg", "jpeg")


class InputError(Exception):
    """A file that cannot be read or parsed; its message is one line naming file and line."""


class _Parser(argparse.ArgumentParser):
    """Reports a bad argument in one line, like every other error of the command."""

    def error(self, message: str):
        self.exit(2, f"{self.prog}: error: {message} (see --help)\n")


def main(argv: Optional[List[str]] = None) -> int:
    parser = _Parser(
        prog="python -m zelvanic_qiskit",
        description="Loads an OpenQASM 2 file (or OpenQASM 3, with the optional qasm3 "
                    "importer installed), samples it on zelvanic and prints the counts.")
    parser.add_argument("file", type=Path, metavar="FILE.qasm")
    parser.add_argument("--shots", type=_shots, default=1024, metavar="N",
                        help=f"number of shots, 1 to {MAX_SHOTS} (default 1024)")
    parser.add_argument("--seed", type=_seed, metavar="S",
                        help="seed for the draws of a circuit measured only at its end "
                             "(circuits measured mid-way cannot be seeded)")
    parser.add_argument("--json", action="store_true", help='print {"counts": {...}}')
    parser.add_argument("--plot", type=Path, metavar="OUT.png",
                        help="also draw the histogram into an image, PNG, PDF, SVG or JPEG "
                             "by its extension (needs matplotlib)")
    args = parser.parse_args(argv)

    try:
        if args.plot:
            _check_plot(args.plot)
        circuit = load(args.file)
        # The register's own refusal also writes a diagnostic of its own to stderr.
        memory.require(circuit.num_qubits, memory.AMPLITUDE_BYTES, "a register")
        counts = sample(circuit, args.shots, args.seed)
    except InputError as error:
        return _fail(str(error))
    except MemoryError as error:
        return _fail(f"{args.file}: {_message(error) or 'not enough memory'}")
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
        try:
            plot(counts, args.plot, args.file.name)
        except (OSError, ValueError) as error:
            return _fail(f"cannot write {args.plot}: {_message(error)}")
        print(f"wrote {args.plot}", file=sys.stderr)  # stdout stays the counts alone
    return 0


def _integer(text: str) -> int:
    try:
        return int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not an integer: {text!r}") from None


def _shots(text: str) -> int:
    value = _integer(text)
    if not 1 <= value <= MAX_SHOTS:
        raise argparse.ArgumentTypeError(f"must be from 1 to {MAX_SHOTS}, not {value}")
    return value


def _seed(text: str) -> int:
    value = _integer(text)
    if value < 0:
        raise argparse.ArgumentTypeError(f"must be 0 or more, not {value}")
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
        # As QuantumCircuit.from_qasm_file reads it: qelib1.inc with the gates Qiskit has
        # always added to it (sx, swap, cswap, ...), so that every file Qiskit loads runs.
        circuit = qasm2.load(path, include_path=qasm2.LEGACY_INCLUDE_PATH,
                             custom_instructions=qasm2.LEGACY_CUSTOM_INSTRUCTIONS,
                             custom_classical=qasm2.LEGACY_CUSTOM_CLASSICAL, strict=False)
    except qasm2.QASM2Error as error:  # the message starts with "FILE:LINE,COLUMN:"
        raise InputError(_message(error)) from None
    if not circuit.num_qubits and not circuit.num_clbits:
        raise InputError(f"{path}: no circuit in the file: it declares no qreg or creg")
    return circuit


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
    if not circuit.cregs:
        return {}
    result = ZelvanicSampler(seed=seed).run([circuit], shots=shots).result()[0]
    return counts(result.join_data())


def counts(bits: BitArray) -> Dict[str, int]:
    """BitArray.get_counts, with the shots counted by numpy: Qiskit's own method makes a
    Python string of every shot, which takes most of the time of a run of many shots."""
    packed = bits.array.reshape(-1, bits.array.shape[-1])
    if packed.shape[1] <= 8:  # each shot as one integer, the first byte the highest
        keys = np.zeros(len(packed), dtype=np.uint64)
        for column in range(packed.shape[1]):
            keys = (keys << np.uint64(8)) | packed[:, column]
        values, tallies = np.unique(keys, return_counts=True)
        values = [int(value) for value in values]
    else:
        rows, tallies = np.unique(packed, axis=0, return_counts=True)
        values = [int.from_bytes(row.tobytes(), "big") for row in rows]
    found = {format(value, f"0{bits.num_bits}b"): int(tally)
             for value, tally in zip(values, tallies)}
    return dict(sorted(found.items()))


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


def _check_plot(out: Path) -> None:
    """What can be known before sampling: matplotlib, the folder and the format."""
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        raise InputError("--plot needs matplotlib: pip install matplotlib") from None
    folder = out.parent
    if not folder.is_dir():
        raise InputError(f"--plot {out}: no such folder: {folder}")
    if out.suffix.lower().lstrip(".") not in PLOT_FORMATS and not out.is_char_device():
        raise InputError(f"--plot {out}: the name must end in one of "
                         + ", ".join("." + f for f in PLOT_FORMATS))


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
    try:
        # Written in full before it is reported: a full disk fails at the flush, and a device
        # (/dev/full) has no extension to choose the format by.
        with open(out, "wb") as stream:
            figure.savefig(stream, format=_format(out))
    finally:
        plt.close(figure)


def _format(out: Path) -> str:
    suffix = out.suffix.lower().lstrip(".")
    return suffix if suffix in PLOT_FORMATS else "png"
