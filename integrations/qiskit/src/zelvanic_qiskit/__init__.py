"""Run Qiskit circuits and OpenQASM files on zelvanic: the ZelvanicSampler and
ZelvanicEstimator primitives, and
``python -m zelvanic_qiskit FILE.qasm``."""
from .estimator import ZelvanicEstimator
from .lowering import UnsupportedInstruction
from .sampler import ZelvanicSampler

__all__ = ["UnsupportedInstruction", "ZelvanicEstimator", "ZelvanicSampler"]
__version__ = "0.1.0"
