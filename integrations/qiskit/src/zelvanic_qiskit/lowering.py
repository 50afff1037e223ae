"""From a Qiskit circuit to the register calls that run it.

`lower` rewrites a circuit, once per PUB and before any parameter is bound, so that every
instruction is one we can run; `compile_circuit` turns a bound circuit into `Step`s.

What runs as it stands:
- H, X, RX, RY, RZ, CX, CCX, SWAP and CSWAP, on the register's own methods;
- any other one-qubit gate with a matrix, through `u`, or through `rz` when it only shifts
  the phase of |1> (p, s, t, z, u1);
- any controlled gate with one target and a matrix, through `mcu`, whatever its control state;
- measure, reset, barrier and delay; if/else, box, for and while loops and switch.
Everything else goes through Qiskit's transpiler, into that set; so does a gate whose
matrix Qiskit cannot give once it is bound.
"""
import cmath
import warnings
from typing import Dict, List, NamedTuple, Sequence, Tuple

from qiskit import QuantumCircuit, transpile
from qiskit.circuit import ClassicalRegister, Clbit, ControlFlowOp, ControlledGate, Gate, Instruction
from qiskit.circuit.controlflow import CASE_DEFAULT
from qiskit.circuit.library import (
    CCXGate,
    CSwapGate,
    CXGate,
    HGate,
    RXGate,
    RYGate,
    RZGate,
    SwapGate,
    XGate,
)
from qiskit.circuit.library.standard_gates import get_standard_gate_name_mapping
from qiskit.exceptions import QiskitError
from qiskit.transpiler.exceptions import TranspilerError


class UnsupportedInstruction(QiskitError, ValueError):
    """An instruction that zelvanic cannot run and Qiskit's transpiler cannot decompose."""

    def __str__(self) -> str:
        return self.message  # QiskitError would quote it


# What the transpiler lowers into: our native gates, and `u` and controlled phases, which
# arrive as `u` and `mcu`.
BASIS = ("h", "x", "rx", "ry", "rz", "u", "p", "cx", "cp", "ccx", "swap", "cswap",
         "measure", "reset")
STANDARD_NAMES = frozenset(get_standard_gate_name_mapping())
IGNORED = frozenset({"barrier", "delay", "id", "global_phase"})
CONTROL_FLOW = frozenset({"if_else", "box", "for_loop", "while_loop", "switch_case"})
# Above this many controls the full matrix of a controlled gate (2^(k+1) squared) is too
# large to build, and the controlled block is taken from the base gate's matrix instead.
FULL_MATRIX_CONTROLS = 6


class Step(NamedTuple):
    """One thing to do to the register or the classical bits.

    kind "gate": `args` = (method name, arguments); "measure": (qubit, clbit);
    "reset": (qubit,); "if": (condition, then steps, else steps); "while": (condition, steps);
    "switch": (target, [(values or None for the default, steps), ...]).
    """
    kind: str
    args: tuple


def _has_matrix(gate: Instruction) -> bool:
    # Gate.to_matrix works exactly when the class defines __array__; unbound parameters are
    # checked later, once they are bound.
    return isinstance(gate, Gate) and hasattr(type(gate), "__array__")


def _runs_as_is(op: Instruction) -> bool:
    if op.name in IGNORED or op.name in ("measure", "reset"):
        return True
    if isinstance(op, ControlledGate):
        return op.num_qubits - op.num_ctrl_qubits == 1 and (
            _has_matrix(op) or _has_matrix(op.base_gate)) or isinstance(op, CSwapGate)
    return isinstance(op, SwapGate) or (op.num_qubits == 1 and op.num_clbits == 0
                                        and _has_matrix(op))


def _unsupported(circuit: QuantumCircuit) -> List[Instruction]:
    found = []
    for instruction in circuit.data:
        op = instruction.operation
        if isinstance(op, ControlFlowOp) and op.name in CONTROL_FLOW:
            for block in op.blocks:
                found += _unsupported(block)
        elif not _runs_as_is(op):
            found.append(op)
    return found


def _names(ops: Sequence[Instruction]) -> str:
    return ", ".join(sorted({repr(op.name) for op in ops}))


def lower(circuit: QuantumCircuit) -> QuantumCircuit:
    """The circuit itself if we can run all of it, else Qiskit's transpilation of it into
    what we run. Raises UnsupportedInstruction naming what neither can."""
    missing = _unsupported(circuit)
    if not missing:
        return circuit
    # Keep the standard gates that we already run, so that they are not needlessly rewritten.
    kept = {ins.operation.name for ins in circuit.data if _runs_as_is(ins.operation)}
    basis = sorted(set(BASIS) | (kept & STANDARD_NAMES))
    try:
        lowered = transpile(circuit, basis_gates=basis, optimization_level=0)
    except (TranspilerError, QiskitError) as error:
        raise UnsupportedInstruction(
            f"zelvanic cannot run {_names(missing)}, and Qiskit's transpiler could not "
            f"decompose it: {getattr(error, 'message', error)}") from error
    still = _unsupported(lowered)
    if still:
        raise UnsupportedInstruction(f"zelvanic cannot run {_names(still)}")
    return lowered


# ---------------------------------------------------------------------------------------------
# Bound circuit -> steps

Clbits = Dict[object, int]  # Clbit -> index in the circuit's classical bits


def compile_circuit(circuit: QuantumCircuit) -> List[Step]:
    """The steps of a lowered circuit whose parameters are all bound."""
    qubits = {bit: i for i, bit in enumerate(circuit.qubits)}
    clbits = {bit: i for i, bit in enumerate(circuit.clbits)}
    with warnings.catch_warnings():
        # Qiskit 1.3 and 1.4 warn on every read of Instruction.condition (c_if), which they
        # still honour, and so do we.
        warnings.simplefilter("ignore", DeprecationWarning)
        return _compile(circuit, qubits, clbits)


def _compile(circuit: QuantumCircuit, qubits: Dict, clbits: Clbits) -> List[Step]:
    steps: List[Step] = []
    for instruction in circuit.data:
        op = instruction.operation
        qs = [qubits[q] for q in instruction.qubits]
        cs = [clbits[c] for c in instruction.clbits]
        if isinstance(op, ControlFlowOp):
            steps += _control_flow(op, instruction, qubits, clbits)
            continue
        condition = getattr(op, "condition", None)  # the c_if of Qiskit before 2.0
        if condition is not None:
            inner = _instruction_steps(op, qs, cs)
            steps.append(Step("if", (_condition(condition, clbits), inner, [])))
        else:
            steps += _instruction_steps(op, qs, cs)
    return steps


def _block_maps(block: QuantumCircuit, instruction, qubits: Dict, clbits: Clbits):
    inner_q = {b: qubits[q] for b, q in zip(block.qubits, instruction.qubits)}
    inner_c = dict(clbits)  # conditions may name registers of the outer circuit
    inner_c.update({b: clbits[c] for b, c in zip(block.clbits, instruction.clbits)})
    return inner_q, inner_c


def _control_flow(op, instruction, qubits: Dict, clbits: Clbits) -> List[Step]:
    def body(block):
        return _compile(block, *_block_maps(block, instruction, qubits, clbits))

    if op.name == "if_else":
        then, otherwise = op.blocks[0], (op.blocks[1] if len(op.blocks) > 1 else None)
        return [Step("if", (_condition(op.condition, clbits), body(then),
                            body(otherwise) if otherwise is not None else []))]
    if op.name == "box":
        return body(op.blocks[0])
    if op.name == "for_loop":
        indexset, parameter, block = op.params
        steps = []
        for value in indexset:  # unrolled: each pass binds the loop variable
            bound = block if parameter is None else block.assign_parameters({parameter: value})
            steps += body(bound)
        return steps
    if op.name == "while_loop":
        return [Step("while", (_condition(op.condition, clbits), body(op.blocks[0])))]
    if op.name == "switch_case":
        cases = [(None if CASE_DEFAULT in values else tuple(values), body(block))
                 for values, block in op.cases_specifier()]
        return [Step("switch", (_target(op.target, clbits), cases))]
    raise UnsupportedInstruction(f"zelvanic cannot run {op.name!r}")


def _instruction_steps(op: Instruction, qs: List[int], cs: List[int]) -> List[Step]:
    name = op.name
    if name in IGNORED:
        return []
    if name == "measure":
        return [Step("measure", (qs[0], cs[0]))]
    if name == "reset":
        return [Step("reset", (qs[0],))]
    try:
        steps = _gate_steps(op, qs)
    except (TypeError, ValueError, QiskitError) as error:
        # Some gates that look runnable cannot give their matrix (a multi-controlled CU's
        # base gate takes CU's four parameters): Qiskit's transpiler decomposes those.
        steps = _decomposed_steps(op, qs, error)
    _check_finite(name, steps)
    return steps


def _decomposed_steps(op: Instruction, qs: List[int], error: Exception) -> List[Step]:
    circuit = QuantumCircuit(op.num_qubits)
    circuit.append(op, range(op.num_qubits))
    try:
        lowered = transpile(circuit, basis_gates=list(BASIS), optimization_level=0)
        steps = []
        for instruction in lowered.data:
            inner = instruction.operation
            if inner.name not in IGNORED:
                steps += _gate_steps(inner, [qs[lowered.find_bit(q).index]
                                             for q in instruction.qubits])
        return steps
    except (TypeError, ValueError, QiskitError, TranspilerError):  # e.g. an unbound parameter
        raise UnsupportedInstruction(
            f"zelvanic cannot run {op.name!r}: {getattr(error, 'message', error)}") from error


def _check_finite(name: str, steps: List[Step]) -> None:
    """An angle or matrix entry of inf or nan would run and give meaningless counts."""
    for step in steps:
        for value in step.args[1]:
            if isinstance(value, (float, complex)) and not cmath.isfinite(value):
                raise UnsupportedInstruction(
                    f"zelvanic cannot run {name!r} with a parameter that is not finite")


def _gate(method: str, *args) -> Step:
    return Step("gate", (method, args))


def _entries(matrix) -> Tuple[complex, complex, complex, complex]:
    return (complex(matrix[0][0]), complex(matrix[0][1]),
            complex(matrix[1][0]), complex(matrix[1][1]))


def _gate_steps(op: Instruction, qs: List[int]) -> List[Step]:
    if isinstance(op, ControlledGate) and op.ctrl_state == (1 << op.num_ctrl_qubits) - 1:
        if isinstance(op, CXGate):
            return [_gate("cnot", qs[0], qs[1])]
        if isinstance(op, CCXGate):
            return [_gate("ccnot", qs[0], qs[1], qs[2])]
        if isinstance(op, CSwapGate):
            return [_gate("csswap", qs[0], qs[1], qs[2])]
    if isinstance(op, CSwapGate):  # open control
        return [_gate("x", qs[0]), _gate("csswap", qs[0], qs[1], qs[2]), _gate("x", qs[0])]
    if isinstance(op, ControlledGate):
        return _controlled_steps(op, qs)
    if isinstance(op, SwapGate):
        return [_gate("swap", qs[0], qs[1])]
    (q,) = qs
    if isinstance(op, HGate):
        return [_gate("h", q)]
    if isinstance(op, XGate):
        return [_gate("x", q)]
    for kind, method in ((RXGate, "rx"), (RYGate, "ry"), (RZGate, "rz")):
        if isinstance(op, kind):
            return [_gate(method, q, float(op.params[0]))]
    u00, u01, u10, u11 = _entries(op.to_matrix())
    if u01 == 0 and u10 == 0 and _unit(u00) and _unit(u11) and cmath.isfinite(u11 / u00):
        # A phase gate (p, s, t, z, u1 and their kin): up to a global phase, which no
        # probability sees, it is rz, which the register applies as a diagonal, far cheaper
        # than a full matrix.
        return [_gate("rz", q, cmath.phase(u11 / u00))]
    return [_gate("u", q, u00, u01, u10, u11)]


def _unit(z: complex) -> bool:
    return abs(abs(z) - 1) < 1e-12


def _controlled_steps(op: ControlledGate, qs: List[int]) -> List[Step]:
    """`mcu` on the gate's own controlled block. Controls whose state is 0 are wrapped in X,
    which only moves amplitudes, so the result stays exact."""
    k = op.num_ctrl_qubits
    controls, target, state = qs[:k], qs[k], op.ctrl_state
    if k <= FULL_MATRIX_CONTROLS and _has_matrix(op):
        # The full matrix, not the base gate's: some gates (CU's global phase) differ.
        full = op.to_matrix()
        u = [[full[state | a << k][state | b << k] for b in (0, 1)] for a in (0, 1)]
    else:
        u = op.base_gate.to_matrix()
    flips = [_gate("x", c) for i, c in enumerate(controls) if not state >> i & 1]
    return flips + [_gate("mcu", controls, target, *_entries(u))] + flips


# ---------------------------------------------------------------------------------------------
# Classical conditions, evaluated on the classical bits of one shot.

def _condition(condition, clbits: Clbits):
    """A callable of the bits (a list of 0/1 by clbit index) giving an int or bool."""
    if isinstance(condition, tuple):  # (Clbit or ClassicalRegister, value)
        target, value = condition
        read = _reader(target, clbits)
        return lambda bits: read(bits) == value
    return _expression(condition, clbits)


def _target(target, clbits: Clbits):
    """A switch's target: a Clbit, a ClassicalRegister or an expression."""
    if isinstance(target, (Clbit, ClassicalRegister)):
        return _reader(target, clbits)
    return _expression(target, clbits)


def _reader(target, clbits: Clbits):
    if target in clbits:  # a Clbit
        index = clbits[target]
        return lambda bits: bits[index]
    indices = [clbits[bit] for bit in target]  # a ClassicalRegister, bit 0 least significant
    return lambda bits: sum(bits[i] << k for k, i in enumerate(indices))


def _expression(node, clbits: Clbits):
    from qiskit.circuit.classical import expr, types

    if isinstance(node, expr.Var):
        if isinstance(node.var, ClassicalRegister) or node.var in clbits:
            return _reader(node.var, clbits)
        raise UnsupportedInstruction(f"zelvanic cannot read the classical variable {node}")
    if isinstance(node, expr.Value):
        value = node.value
        return lambda bits: value
    if isinstance(node, expr.Cast):
        inner = _expression(node.operand, clbits)
        if isinstance(node.type, types.Bool):
            return lambda bits: bool(inner(bits))
        return lambda bits: int(inner(bits))
    if isinstance(node, expr.Unary):
        inner = _expression(node.operand, clbits)
        if node.op.name == "LOGIC_NOT":
            return lambda bits: not inner(bits)
        if node.op.name == "BIT_NOT":
            if isinstance(node.type, types.Bool):
                return lambda bits: not inner(bits)
            mask = (1 << node.type.width) - 1
            return lambda bits: ~inner(bits) & mask
    if isinstance(node, expr.Binary):
        left, right = _expression(node.left, clbits), _expression(node.right, clbits)
        operation = _BINARY.get(node.op.name)
        if operation is not None:
            return lambda bits: operation(left(bits), right(bits))
    raise UnsupportedInstruction(f"zelvanic cannot evaluate the classical expression {node}")


_BINARY = {
    "BIT_AND": lambda a, b: a & b,
    "BIT_OR": lambda a, b: a | b,
    "BIT_XOR": lambda a, b: a ^ b,
    "LOGIC_AND": lambda a, b: bool(a) and bool(b),
    "LOGIC_OR": lambda a, b: bool(a) or bool(b),
    "EQUAL": lambda a, b: a == b,
    "NOT_EQUAL": lambda a, b: a != b,
    "LESS": lambda a, b: a < b,
    "LESS_EQUAL": lambda a, b: a <= b,
    "GREATER": lambda a, b: a > b,
    "GREATER_EQUAL": lambda a, b: a >= b,
}
