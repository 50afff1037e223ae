"""A chi-square goodness-of-fit test with an exact tail, so bounds are chosen by probability.
(The same as tests/stats.py of the zelvanic module: this distribution is tested on its own.)"""
import math


def chi_square_tail(x, df):
    """P(X >= x) for X chi-square distributed with df degrees of freedom."""
    if df % 2 == 0:
        term, total = 1.0, 1.0
        for i in range(1, df // 2):
            term *= (x / 2) / i
            total += term
        return math.exp(-x / 2) * total
    tail = math.erfc(math.sqrt(x / 2))
    for k in range(1, df, 2):  # Q(x; k + 2) = Q(x; k) + (x/2)^(k/2) e^(-x/2) / Gamma(k/2 + 1)
        tail += math.exp((k / 2) * math.log(x / 2) - x / 2 - math.lgamma(k / 2 + 1))
    return tail


def chi_square(counts, probabilities):
    """The statistic and its degrees of freedom over outcomes of nonzero probability."""
    trials = sum(counts.values())
    statistic, cells = 0.0, 0
    for outcome, p in probabilities.items():
        if p > 0:
            expected = trials * p
            statistic += (counts.get(outcome, 0) - expected) ** 2 / expected
            cells += 1
    return statistic, cells - 1


def assert_fits(counts, probabilities, alpha=1e-6):
    """Fails when the counts are this unlikely (a correct build fails once in 1/alpha runs)."""
    impossible = [o for o in counts if probabilities.get(o, 0) == 0]
    assert not impossible, f"outcomes of probability zero: {impossible}"
    statistic, df = chi_square(counts, probabilities)
    assert df == 0 or chi_square_tail(statistic, df) > alpha, (statistic, df, counts)
