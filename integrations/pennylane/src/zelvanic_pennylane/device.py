"""`zelvanic.qubit`: PennyLane circuits on a zelvanic register.

Each circuit is simulated once; every result comes from the register's probabilities
(`god_observe()`). Analytic results are exact to the last bit of those probabilities; finite
shots are drawn from them by the device's numpy Generator.
"""
from dataclasses import replace
from typing import Optional

import numpy as np
import zelvanic
from pennylane import math
from pennylane.devices import Device, ExecutionConfig
from pennylane.devices.modifiers import simulator_tracking, single_tape_support
from pennylane.devices.preprocess import (
    decompose,
    device_resolve_dynamic_wires,
    validate_device_wires,
    validate_measurements,
)
from pennylane.exceptions import DeviceError
from pennylane.measurements import (
    ClassicalShadowMP,
    CountsMP,
    SampleMeasurement,
    ShadowExpvalMP,
    StateMeasurement,
)
from pennylane.transforms import (
    broadcast_expand,
    defer_measurements,
    split_non_commuting,
)
from pennylane.transforms.core import CompilePipeline, transform
from pennylane.wires import Wires

from . import gates, readout
from .transforms import (
    decompose_or_matrix,
    diagonalize_other_observables,
    diagonalize_pauli_measurements,
    is_permutation,
    pauli_sums_for_matrix_observables,
    refuse_inexact_state,
)


def _sampled(mp) -> bool:
    return isinstance(mp, SampleMeasurement) and not isinstance(
        mp, (ClassicalShadowMP, ShadowExpvalMP))


@transform
def _no_counts(tape):
    if any(isinstance(mp, CountsMP) for mp in tape.measurements):
        raise NotImplementedError("The JAX-JIT interface doesn't support qml.counts.")
    return (tape,), lambda results: results[0]


@simulator_tracking
@single_tape_support
class ZelvanicQubit(Device):
    """A state-vector simulator of qubits, exact to the bit on every CPU.

    Args:
        wires (int, Iterable[Hashable]): the number of wires, or their labels; ``None`` takes
            the wires of each circuit, in the order the circuit names them.
        shots: default shots for the circuits (PennyLane prefers ``qml.set_shots``).
        seed: seeds the numpy Generator that draws the shots. ``"global"`` (the default) takes
            the seed from numpy's global generator, as ``default.qubit`` does; ``None`` from
            the operating system; an int, SeedSequence or Generator as numpy takes them.

    Mid-circuit measurements run through PennyLane's deferred-measurement transform: each one
    becomes an extra qubit, and the whole circuit is simulated once.
    """

    name = "zelvanic.qubit"

    def __init__(self, wires=None, shots=None, seed="global"):
        super().__init__(wires=wires, shots=shots)
        if isinstance(seed, str) and seed == "global":
            seed = np.random.randint(0, high=10_000_000)
        self._rng = np.random.default_rng(seed)

    def setup_execution_config(self, config: Optional[ExecutionConfig] = None,
                               circuit=None) -> ExecutionConfig:
        config = config or ExecutionConfig()
        method = config.mcm_config.mcm_method
        if method in (None, "deferred"):
            mcm = replace(config.mcm_config, mcm_method="deferred")
            config = replace(config, mcm_config=mcm)
        else:
            name = getattr(method, "value", method)
            raise DeviceError(f"zelvanic.qubit runs mid-circuit measurements by deferring them "
                              f"(mcm_method='deferred'), not by mcm_method={name!r}")
        if config.gradient_method == "best":
            # no device gradients: PennyLane's own rules differentiate
            config = replace(config, gradient_method="parameter-shift")
        return replace(config, use_device_gradient=False, use_device_jacobian_product=False,
                       grad_on_execution=False)

    def supports_derivatives(self, execution_config=None, circuit=None) -> bool:
        return False

    def preprocess_transforms(self, execution_config: Optional[ExecutionConfig] = None
                              ) -> CompilePipeline:
        config = execution_config or ExecutionConfig()
        program = CompilePipeline()
        if config.interface == math.Interface.JAX_JIT:
            program.add_transform(_no_counts)
        program.add_transform(defer_measurements, allow_postselect=True)
        program.add_transform(decompose, stopping_condition=gates.runs_natively,
                              skip_initial_state_prep=False, decomposer=decompose_or_matrix,
                              device_wires=self.wires, target_gates=set(gates.TARGET_GATES),
                              name=self.name)
        program.add_transform(device_resolve_dynamic_wires, wires=self.wires,
                              allow_resets=False)
        program.add_transform(validate_device_wires, self.wires, name=self.name)
        program.add_transform(validate_measurements,
                              analytic_measurements=lambda mp: isinstance(mp, StateMeasurement),
                              sample_measurements=_sampled, name=self.name)
        # One simulation for each group of qubit-wise commuting observables, measured in the
        # computational basis after the group's rotations.
        program.add_transform(pauli_sums_for_matrix_observables)
        program.add_transform(split_non_commuting, grouping_strategy="qwc")
        program.add_transform(diagonalize_pauli_measurements)
        program.add_transform(diagonalize_other_observables)
        program.add_transform(decompose, stopping_condition=gates.runs_natively,
                              skip_initial_state_prep=False, decomposer=decompose_or_matrix,
                              device_wires=self.wires, target_gates=set(gates.TARGET_GATES),
                              name=self.name)
        program.add_transform(broadcast_expand)
        program.add_transform(refuse_inexact_state)
        return program

    def execute(self, circuits, execution_config: Optional[ExecutionConfig] = None):
        config = execution_config or ExecutionConfig()
        return tuple(self._run(tape, config) for tape in circuits)

    def _run(self, tape, config):
        wire_order = self.wires if self.wires is not None else tape.wires
        if not isinstance(wire_order, Wires):
            wire_order = Wires(wire_order)
        probs = _probabilities(tape, wire_order)
        bins = list(tape.shots)  # the number of shots of each bin, in order
        if any(op.name == "Projector" for op in tape.operations):  # a postselection
            probs, bins = self._postselect(probs, bins, config)
        if not tape.shots:
            state = None
            if all(is_permutation(op) for op in tape.operations):
                state = readout.exact_state(probs, gates.global_phase(tape))
            values = tuple(readout.analytic(mp, probs, wire_order, state)
                           for mp in tape.measurements)
            return values[0] if len(values) == 1 else values
        total = sum(bins)
        indices = readout.draw(probs, total, self._rng) if total else np.zeros(0, np.int64)
        samples = readout.bits(indices, len(wire_order))
        edges = np.cumsum([0] + bins)
        results = readout.from_samples(tape.measurements, samples, wire_order,
                                       zip(edges[:-1], edges[1:]))
        return tuple(results) if tape.shots.has_partitioned_shots else results[0]

    def _postselect(self, probs, bins, config):
        """After a postselecting projector the probabilities sum to the chance of the
        selected outcome: renormalise them, and with hardware-like postselection keep, of
        each bin, only the shots that would have passed (possibly none)."""
        norm = float(np.sum(probs))
        if np.isclose(norm, 0.0, rtol=0.0, atol=1e-14):
            if bins and config.mcm_config.postselect_mode == "fill-shots":
                raise RuntimeError(
                    "The probability of the postselected mid-circuit measurement outcome is 0. "
                    "This leads to invalid results when using postselect_mode='fill-shots'.")
            norm = 0.0
        with np.errstate(invalid="ignore", divide="ignore"):
            probs = probs / norm
        if config.mcm_config.postselect_mode != "fill-shots":
            bins = [int(self._rng.binomial(s, norm)) for s in bins]
        return probs, bins


def _probabilities(tape, wire_order: Wires) -> np.ndarray:
    """Runs the tape once on a fresh register and reads its probabilities."""
    n = len(wire_order)
    qubit = {w: n - 1 - i for i, w in enumerate(wire_order)}
    reg = zelvanic.QuantumRegister(n)
    for op in tape.operations:
        gates.apply(reg, op, qubit)
    listed = reg.god_observe()
    del reg  # the amplitudes go before numpy copies the list
    return np.fromiter(listed, dtype=np.float64, count=len(listed))
