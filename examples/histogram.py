"""Draw a histogram of 2000 measurements next to the exact probabilities, as a PNG.

    python3 examples/histogram.py [output.png]

Without a path, the PNG goes to a new temporary folder, so a run leaves nothing in the
checkout; either way the example prints where it wrote. Needs matplotlib: from a checkout,
python3 -m pip install ".[plot]". Without it the example says so and exits.
"""
import collections
import math
import os
import sys
import tempfile
from typing import Optional

import zelvanic

N = 3
SHOTS = 2000


def prepare() -> zelvanic.QuantumRegister:
    # Uneven odds: partial rotations, entangled by a CNOT.
    return zelvanic.QuantumRegister(N).ry(0, 1.2).ry(1, 2.1).cnot(1, 2).ry(2, 0.7)


def main(path: Optional[str]) -> None:
    try:
        import matplotlib

        matplotlib.use("Agg")  # draw to a file, no display needed
        import matplotlib.pyplot as plt
    except ImportError:
        print('histogram: matplotlib is not installed; python3 -m pip install ".[plot]" '
              "from a checkout to draw it")
        return

    if path is None:
        path = os.path.join(tempfile.mkdtemp(prefix="zelvanic-histogram-"), "histogram.png")
    exact = prepare().god_observe()
    counts = collections.Counter(repr(prepare().observe()) for _ in range(SHOTS))
    labels = ["|" + format(i, "0%db" % N) + ">" for i in range(2**N)]
    measured = [counts[label] for label in labels]
    for label, count, p in zip(labels, measured, exact):
        # Six standard deviations of the binomial count: a sound sampler never gets near it.
        assert abs(count - SHOTS * p) <= 6 * math.sqrt(SHOTS * p * (1 - p)) + 1, (label, count)

    figure, axes = plt.subplots(figsize=(7, 4))
    axes.bar(labels, measured, color="tab:blue", label="measured (%d shots)" % SHOTS)
    axes.plot(labels, [SHOTS * p for p in exact], "o", color="tab:red", label="exact probability x shots")
    axes.set_xlabel("outcome (qubit 0 rightmost)")
    axes.set_ylabel("count")
    axes.set_title("zelvanic: %d measurements of a %d-qubit register" % (SHOTS, N))
    axes.legend()
    figure.tight_layout()
    figure.savefig(path, dpi=100)
    plt.close(figure)
    print("histogram: %s; wrote %s" % (dict(zip(labels, measured)), path))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else None)
