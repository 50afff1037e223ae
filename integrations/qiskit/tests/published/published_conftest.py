"""Points Qiskit's tests of StatevectorSampler and StatevectorEstimator at ZelvanicSampler and
ZelvanicEstimator, and marks the cases where ours differ on purpose (each listed with its
reason in the integration's README)."""
import pytest
import qiskit.primitives
import qiskit.primitives.statevector_estimator
import qiskit.primitives.statevector_sampler

from zelvanic_qiskit import ZelvanicEstimator, ZelvanicSampler

# The test modules import these names when they are collected, after this file has run.
qiskit.primitives.StatevectorSampler = ZelvanicSampler
qiskit.primitives.StatevectorEstimator = ZelvanicEstimator
qiskit.primitives.statevector_sampler.StatevectorSampler = ZelvanicSampler
qiskit.primitives.statevector_estimator.StatevectorEstimator = ZelvanicEstimator

DIFFERENCES = {
    "TestStatevectorEstimator.test_reset":
        "a reset after a gate is refused: the register measures with its own random source, "
        "which cannot be seeded, so a stochastic reset could not be reproduced",
    "TestStatevectorSampler.test_run_errors":
        "its subtest 'with control flow' expects a for loop to be refused; it runs here",
}


def pytest_collection_modifyitems(items):
    for item in items:
        reason = DIFFERENCES.get(f"{item.cls.__name__}.{item.name}" if item.cls else item.name)
        if reason:
            item.add_marker(pytest.mark.xfail(reason=reason, strict=False))
