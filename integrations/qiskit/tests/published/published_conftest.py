"""Points Qiskit's tests of StatevectorSampler and StatevectorEstimator at ZelvanicSampler and
ZelvanicEstimator. The subtests where ours differ on purpose (each listed with its reason in
the integration's README) are reported as skipped when they fail, and fail when they pass, so
that the list stays true; every other case and subtest must pass."""
import contextlib
import unittest

import qiskit.primitives
import qiskit.primitives.statevector_estimator
import qiskit.primitives.statevector_sampler

from zelvanic_qiskit import ZelvanicEstimator, ZelvanicSampler

# The test modules import these names when they are collected, after this file has run.
qiskit.primitives.StatevectorSampler = ZelvanicSampler
qiskit.primitives.StatevectorEstimator = ZelvanicEstimator
qiskit.primitives.statevector_sampler.StatevectorSampler = ZelvanicSampler
qiskit.primitives.statevector_estimator.StatevectorEstimator = ZelvanicEstimator

RESET = ("a reset after a gate is refused: the register measures with its own random source, "
         "which cannot be seeded, so a stochastic reset could not be reproduced")
DIFFERENCES = {
    ("TestStatevectorSampler", "test_run_errors", "with control flow"):
        "control flow runs here, where StatevectorSampler refuses a for loop",
    ("TestStatevectorEstimator", "test_reset", "precision=0"): RESET,
    ("TestStatevectorEstimator", "test_reset", "precision=0.01"): RESET,
}

_sub_test = unittest.TestCase.subTest


@contextlib.contextmanager
def _sub_test_with_differences(self, msg=None, **params):
    reason = DIFFERENCES.get((type(self).__name__, self._testMethodName, msg))
    with (_sub_test(self, **params) if msg is None else _sub_test(self, msg, **params)):
        if reason is None:
            yield
            return
        try:
            yield
        except Exception as error:
            raise unittest.SkipTest(f"differs on purpose: {reason} ({error!r:.200})") from None
        raise AssertionError(f"listed as differing ({reason}), but passed")


unittest.TestCase.subTest = _sub_test_with_differences
