"""Run Qiskit circuits and OpenQASM files on zelvanic: the ZelvanicSampler primitive, and
``python -m zelvanic_qiskit FILE.qasm``."""
from .lowering import UnsupportedInstruction
from .sampler import ZelvanicSampler

__all__ = ["UnsupportedInstruction", "ZelvanicSampler"]
__version__ = "0.1.0"
