"""ZelvanicSampler: Qiskit's Sampler primitive (V2) on a zelvanic register."""
import warnings
from typing import Iterable, Optional, Union

import numpy as np
from qiskit.primitives import BaseSamplerV2, BitArray, DataBin, PrimitiveResult, SamplerPubResult
from qiskit.primitives.containers.sampler_pub import SamplerPub, SamplerPubLike
from qiskit.primitives.primitive_job import PrimitiveJob

from .execution import final_measurements, run_shots, sample_final, thread_count
from .lowering import compile_circuit, lower


class ZelvanicSampler(BaseSamplerV2):
    """Samples Qiskit circuits on zelvanic's exact state-vector simulator.

    A circuit whose measurements all come at the end is simulated once per parameter binding,
    and its shots are drawn from the probabilities of the final state with a numpy Generator:
    pass ``seed`` (an int, or a ``numpy.random.Generator`` to draw from) to make those draws
    reproducible. Each call of ``run`` starts again from an int seed, so the same call gives
    the same bits.

    A circuit with a mid-circuit measurement, a reset or classical control (``if_test``,
    ``while_loop``, ``switch``, or ``c_if`` on Qiskit 1.x) is simulated shot by shot, measuring
    with the register's own random source: those shots cannot be seeded.

    ``max_parallel_threads`` (as qiskit-aer's option of that name) lets each register's work
    spread over that many threads, 0 meaning every processor; None (the default) leaves the
    ``ZELVANIC_THREADS`` environment variable in charge, which unset means one thread. The
    counts and probabilities are the same, to the last bit, whatever the number.

    Gates without a direct counterpart are decomposed by Qiskit's transpiler. An instruction
    that cannot be run raises ``UnsupportedInstruction`` (a ``QiskitError`` and a
    ``ValueError``) naming it; a circuit too large for the memory raises the register's own
    memory-guard error.
    """

    def __init__(self, *, default_shots: int = 1024,
                 seed: Union[int, np.random.Generator, None] = None,
                 max_parallel_threads: Optional[int] = None):
        self._default_shots = default_shots
        self._seed = seed
        self._threads = thread_count(max_parallel_threads)

    @property
    def default_shots(self) -> int:
        return self._default_shots

    @property
    def seed(self) -> Union[int, np.random.Generator, None]:
        return self._seed

    def run(self, pubs: Iterable[SamplerPubLike], *,
            shots: Optional[int] = None) -> PrimitiveJob:
        if shots is None:
            shots = self._default_shots
        coerced = [SamplerPub.coerce(pub, shots) for pub in pubs]
        if any(not pub.circuit.cregs for pub in coerced):
            warnings.warn("One of your circuits has no output classical registers and so the "
                          "result will be empty. Did you mean to add measurement instructions?",
                          UserWarning, stacklevel=2)
        job = PrimitiveJob(self._run, coerced)
        job._submit()
        return job

    def _run(self, pubs) -> PrimitiveResult:
        rng = np.random.default_rng(self._seed)
        return PrimitiveResult([self._run_pub(pub, rng) for pub in pubs],
                               metadata={"version": 2})

    def _run_pub(self, pub: SamplerPub, rng: np.random.Generator) -> SamplerPubResult:
        circuit = pub.circuit
        metadata = {"shots": pub.shots, "circuit_metadata": circuit.metadata}
        if not circuit.cregs:  # nothing to return, so nothing to simulate
            return SamplerPubResult(DataBin(shape=pub.shape), metadata=metadata)
        lowered = lower(circuit)
        num_qubits, num_clbits = lowered.num_qubits, lowered.num_clbits
        registers = {creg.name: [circuit.find_bit(bit).index for bit in creg]
                     for creg in circuit.cregs}
        arrays = {name: np.zeros(pub.shape + (pub.shots, _bytes(len(bits))), dtype=np.uint8)
                  for name, bits in registers.items()}
        for index in np.ndindex(*pub.shape):
            bound = pub.parameter_values.bind(lowered, index) if lowered.parameters else lowered
            steps = compile_circuit(bound)
            measurements = final_measurements(steps)
            if measurements is None:
                bits = run_shots(steps, num_qubits, num_clbits, pub.shots, self._threads)
            else:
                bits = sample_final(steps, num_qubits, num_clbits, measurements, pub.shots, rng,
                                    self._threads)
            for name, indices in registers.items():
                arrays[name][index] = _pack(bits[:, indices])
        data = DataBin(**{name: BitArray(arrays[name], len(bits))
                          for name, bits in registers.items()}, shape=pub.shape)
        return SamplerPubResult(data, metadata=metadata)


def _bytes(num_bits: int) -> int:
    return -(-num_bits // 8)


def _pack(bits: np.ndarray) -> np.ndarray:
    """Qiskit's BitArray layout: each shot big-endian, bit 0 of the register in the lowest
    bit of the last byte, zeros padding the first byte."""
    shots, width = bits.shape
    padded = np.zeros((shots, _bytes(width) * 8), dtype=np.uint8)
    if width:
        padded[:, -width:] = bits[:, ::-1]
    return np.packbits(padded, axis=1)
