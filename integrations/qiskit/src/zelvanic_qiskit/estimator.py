"""ZelvanicEstimator: Qiskit's Estimator primitive (V2) on a zelvanic register."""
from typing import Dict, Iterable, List, Optional, Tuple, Union

import numpy as np
from qiskit.primitives import BaseEstimatorV2, DataBin, PrimitiveResult, PubResult
from qiskit.primitives.containers.estimator_pub import EstimatorPub, EstimatorPubLike
from qiskit.primitives.primitive_job import PrimitiveJob
from qiskit.quantum_info import SparsePauliOp

from .execution import final_probabilities, thread_count, without_leading_resets
from .lowering import Step, UnsupportedInstruction, compile_circuit, lower
from .paulis import mask, parity_expectations, rotations


class ZelvanicEstimator(BaseEstimatorV2):
    """Exact expectation values of Pauli observables on zelvanic's state-vector simulator.

    For every binding of the parameters, the Pauli strings of the observables that meet it
    are grouped into sets that commute qubit by qubit (``SparsePauliOp.group_commuting``).
    Each group costs one simulation: the circuit, a rotation of every measured qubit into the
    Z basis, and a read-out of the probabilities, whose parity-weighted sums give the
    expectation value of every string of the group.

    ``precision`` 0 (the default) gives the exact values, with ``stds`` 0. Above 0, each value
    has Gaussian noise of that standard deviation added, drawn by a numpy Generator that
    ``seed`` makes reproducible (an int, or a ``numpy.random.Generator`` to draw from), as
    Qiskit's ``StatevectorEstimator`` does; ``stds`` is then the precision.

    ``max_parallel_threads`` spreads each simulation over that many threads, as for
    ``ZelvanicSampler``; the values do not depend on it.

    Circuits must be unitary: a measurement, a reset after a gate or classical control raises
    ``UnsupportedInstruction``, as do observables other than sums of Pauli strings with real
    coefficients. Gates are run as by ``ZelvanicSampler``.
    """

    def __init__(self, *, default_precision: float = 0.0,
                 seed: Union[int, np.random.Generator, None] = None,
                 max_parallel_threads: Optional[int] = None):
        self._default_precision = default_precision
        self._seed = seed
        self._threads = thread_count(max_parallel_threads)

    @property
    def default_precision(self) -> float:
        return self._default_precision

    @property
    def seed(self) -> Union[int, np.random.Generator, None]:
        return self._seed

    def run(self, pubs: Iterable[EstimatorPubLike], *,
            precision: Optional[float] = None) -> PrimitiveJob:
        if precision is None:
            precision = self._default_precision
        coerced = [EstimatorPub.coerce(pub, precision) for pub in pubs]
        job = PrimitiveJob(self._run, coerced)
        job._submit()
        return job

    def _run(self, pubs: List[EstimatorPub]) -> PrimitiveResult:
        return PrimitiveResult([self._run_pub(pub) for pub in pubs], metadata={"version": 2})

    def _run_pub(self, pub: EstimatorPub) -> PubResult:
        rng = np.random.default_rng(self._seed)  # each PUB from the seed, as Qiskit's does
        precision = pub.precision
        bindings, observables = pub.parameter_values, pub.observables
        shape = np.broadcast_shapes(bindings.shape, observables.shape)
        binding_of = np.broadcast_to(np.arange(bindings.size).reshape(bindings.shape), shape)
        observable_of = np.broadcast_to(
            np.arange(observables.size).reshape(observables.shape), shape)
        terms = [_pauli_terms(observables[np.unravel_index(i, observables.shape)])
                 for i in range(observables.size)]
        lowered = lower(pub.circuit)

        groups = _Groups()
        by_binding: Dict[int, list] = {}
        for index in np.ndindex(*shape):
            by_binding.setdefault(int(binding_of[index]), []).append(index)
        evs = np.zeros(shape, dtype=np.float64)
        for binding, indices in by_binding.items():
            needed = {label for index in indices for label in terms[observable_of[index]]}
            bound = (bindings.bind(lowered, np.unravel_index(binding, bindings.shape))
                     if lowered.parameters else lowered)
            values = pauli_expectations(_unitary_steps(bound), bound.num_qubits, needed, groups,
                                        self._threads)
            for index in indices:
                evs[index] = sum(coefficient * values[label] for label, coefficient
                                 in terms[observable_of[index]].items())
        stds = np.zeros(shape, dtype=np.float64)
        if precision != 0:
            for index in np.ndindex(*shape):
                evs[index] = rng.normal(evs[index], precision)
            stds[...] = precision
        return PubResult(DataBin(evs=evs, stds=stds, shape=shape), metadata={
            "target_precision": precision, "circuit_metadata": pub.circuit.metadata})


class _Groups:
    """The groups of a set of Pauli strings, each with its rotation and its masks, kept for
    the next binding of the same PUB, which usually needs the same strings."""

    def __init__(self):
        self._known: Dict[Tuple[str, ...], list] = {}

    def __call__(self, labels: Tuple[str, ...]) -> List[Tuple[List[str], List[Step], List[int]]]:
        if labels not in self._known:
            groups = []
            rest = [label for label in labels if set(label) != {"I"}]
            if rest:
                for group in SparsePauliOp(rest).group_commuting(qubit_wise=True):
                    group_labels = group.paulis.to_labels()
                    groups.append((group_labels, rotations(group_labels),
                                   [mask(label) for label in group_labels]))
            self._known[labels] = groups
        return self._known[labels]


def pauli_expectations(steps: List[Step], num_qubits: int, labels: Iterable[str],
                       groups: Optional[_Groups] = None,
                       threads: Optional[int] = None) -> Dict[str, float]:
    """The exact expectation value of every Pauli string of `labels` (Qiskit's labels) in the
    state that the gate steps make from |0...0>: one simulation per group of strings that
    commute qubit by qubit."""
    labels = tuple(sorted(set(labels)))
    values = {label: 1.0 for label in labels if set(label) <= {"I"}}
    for group_labels, rotation, masks in (groups or _Groups())(labels):
        probabilities = final_probabilities(steps + rotation, num_qubits, threads)
        values.update(zip(group_labels,
                          parity_expectations(probabilities, num_qubits, masks)))
    return values


def _unitary_steps(circuit) -> List[Step]:
    steps = without_leading_resets(compile_circuit(circuit))
    for step in steps:
        if step.kind != "gate":
            what = "a measurement" if step.kind == "measure" else (
                "a reset" if step.kind == "reset" else "classical control")
            raise UnsupportedInstruction(
                f"ZelvanicEstimator runs unitary circuits only, and this one has {what}")
    return steps


def _pauli_terms(observable) -> Dict[str, float]:
    """{Pauli label: real coefficient} of one observable of an ObservablesArray."""
    terms = {}
    for label, coefficient in observable.items():
        label = str(label)
        if not set(label) <= set("IXYZ"):
            raise UnsupportedInstruction(
                f"ZelvanicEstimator takes sums of Pauli strings, not the term {label!r}")
        coefficient = complex(coefficient)
        if coefficient.imag != 0:
            raise ValueError(f"the observable is not Hermitian: the coefficient of {label!r} "
                             f"is {coefficient}")
        terms[label] = terms.get(label, 0.0) + coefficient.real
    return terms
