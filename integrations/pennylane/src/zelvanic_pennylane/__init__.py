"""The zelvanic simulator as a PennyLane device: ``qml.device("zelvanic.qubit", wires=...)``."""
from .device import ZelvanicQubit

__all__ = ["ZelvanicQubit"]
__version__ = "0.1.0"
