"""Differential fuzzing of the whole Python surface: random sequences of calls, with valid and
invalid arguments of every shape, on a few registers at once, each checked against the model.
Every call either succeeds with exactly the model's probabilities (compared bit for bit) and,
for a measurement, an outcome the model can draw, or raises exactly the error the model
expects and leaves the register as it was.

Profiles: "ci" (the default, about twenty seconds), "sanitized" (fewer examples, for the slow
instrumented build) and "deep" (ZELVANIC_FUZZ=deep, some 75 000 calls in about five minutes).
"""
import collections
import math
import os
import re
import struct

from hypothesis import HealthCheck, settings
from hypothesis import strategies as st
from hypothesis.stateful import Bundle, RuleBasedStateMachine, initialize, invariant, rule

import model
from model import Model
from zelvanic import QuantumRegister

settings.register_profile(
    "ci", max_examples=300, stateful_step_count=40, deadline=None, database=None,
    print_blob=True, suppress_health_check=list(HealthCheck))
settings.register_profile("sanitized", parent=settings.get_profile("ci"), max_examples=100)
settings.register_profile("deep", parent=settings.get_profile("ci"), max_examples=2000,
                          stateful_step_count=80)
PROFILE = os.environ.get("ZELVANIC_FUZZ") or (
    "sanitized" if os.environ.get("ZELVANIC_SANITIZED") else "ci")

MAX_QUBITS = 5
STATS = collections.Counter()


def bits(values):
    """Probabilities as raw bit patterns: -0.0 differs from 0.0, and NaN equals NaN."""
    return [b"nan" if v != v else struct.pack("<d", v) for v in values]


# -- argument objects ----------------------------------------------------------------------------
# A recipe is a tuple naming what to build. The call and the oracle each get an object of their
# own, so iterators and objects with side effects are consumed once by each.

class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class LyingInt(int):
    """An int whose __index__ lies: an int is taken by its value."""

    def __index__(self):
        return 0


class Real:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class RealAndIndex(Index):
    """__float__ wins over __index__ for an angle."""

    def __float__(self):
        return 0.5


class LyingComplex(complex):
    """Its parts are read from the object, not through what it overrides."""

    real = property(lambda self: 99.0)
    imag = property(lambda self: -99.0)

    def __complex__(self):
        return 7j


class Raises:
    def __init__(self, error):
        self.error = error

    def __index__(self):
        raise self.error

    def __float__(self):
        raise self.error


class Returns:
    """__index__ and __float__ returning something of the wrong type."""

    def __index__(self):
        return "0"

    def __float__(self):
        return "0.5"


class IterationFails(list):
    def __init__(self, items, error):
        super().__init__(items)
        self.error = error

    def __iter__(self):
        yield from list.__iter__(self)
        raise self.error


class LengthFails(list):
    """A failing length is only a size hint, and is ignored."""

    def __len__(self):
        raise ValueError("no length")


class Indexable:
    """A sequence by the interpreter's check (it has __getitem__), iterated through it."""

    def __init__(self, items):
        self.items = items

    def __getitem__(self, i):
        return self.items[i]


class Reenter:
    """Converting it calls the register it is converted for; the register is held, so that
    inner call is refused and its RuntimeError ends the outer one."""

    def __init__(self, reg):
        self.reg = reg

    def __index__(self):
        self.reg.x(0)
        return 0

    def __float__(self):
        self.reg.h(0)
        return 0.0


ERRORS = {"TypeError": lambda: TypeError("conversion refused"),
          "ValueError": lambda: ValueError("bad value"),
          "KeyError": lambda: KeyError("k"),
          "ZeroDivisionError": lambda: ZeroDivisionError("zero")}


def build(recipe, reg, for_oracle):
    kind, *rest = recipe
    value = rest[0] if rest else None
    if kind == "plain":
        return value
    if kind == "index":
        return Index(value)
    if kind == "lying_int":
        return LyingInt(value)
    if kind == "real":
        return Real(value)
    if kind == "real_and_index":
        return RealAndIndex(value)
    if kind == "lying_complex":
        return LyingComplex(value)
    if kind == "raises":
        return Raises(ERRORS[value]())
    if kind == "returns":
        return Returns()
    if kind == "reenter":
        return Raises(RuntimeError("Already borrowed")) if for_oracle else Reenter(reg)
    items = [build(s, reg, for_oracle) for s in value]
    if kind == "list":
        return items
    if kind == "tuple":
        return tuple(items)
    if kind == "generator":
        return (item for item in items)
    if kind == "iteration_fails":
        return IterationFails(items, ERRORS[rest[1]]())
    if kind == "length_fails":
        return LengthFails(items)
    if kind == "indexable":
        return Indexable(items)
    raise AssertionError(recipe)


# -- strategies -----------------------------------------------------------------------------------

def plain(strategy):
    return strategy.map(lambda v: ("plain", v))


WRONG_TYPES = st.one_of(
    plain(st.sampled_from([None, "0", b"", 1.5, -0.0, math.nan, [0], {}, 2j, object()])),
    st.tuples(st.just("raises"), st.sampled_from(sorted(ERRORS))),
    st.just(("returns",)),
)


def index_recipes(n):
    valid = st.integers(0, max(n - 1, 0))
    wide = st.one_of(
        st.integers(n, n + 3), st.integers(-3, -1),
        st.sampled_from([2**63, 2**64 - 1, 2**64, 2**100, -(2**64)]))
    return st.one_of(
        plain(valid), plain(valid), plain(valid), plain(wide), plain(st.booleans()),
        valid.map(lambda v: ("index", v)), wide.map(lambda v: ("index", v)),
        valid.map(lambda v: ("lying_int", v)),
        WRONG_TYPES, st.just(("reenter",)))


SPECIAL_ANGLES = st.sampled_from([math.inf, -math.inf, math.nan, -0.0, 1e300, 5e-324])
ANGLES = st.one_of(st.floats(-8, 8), st.floats(-8, 8), st.floats(-8, 8), st.floats(),
                   SPECIAL_ANGLES)
ANGLE_RECIPES = st.one_of(
    plain(ANGLES), plain(ANGLES), plain(st.integers(-8, 8)), plain(st.just(10**400)),
    ANGLES.map(lambda v: ("real", v)), st.integers(-3, 3).map(lambda v: ("index", v)),
    st.integers(0, 3).map(lambda v: ("real_and_index", v)),
    plain(st.sampled_from([None, "1.0", 1j, []])),
    st.tuples(st.just("raises"), st.sampled_from(sorted(ERRORS))), st.just(("returns",)),
    st.just(("reenter",)))

PARTS = st.one_of(st.floats(-1.5, 1.5), st.floats(-1.5, 1.5),
                  st.sampled_from([0.0, -0.0, 1.0, math.inf, -math.inf, math.nan, 5e-324]))
COMPLEXES = st.builds(complex, PARTS, PARTS)


@st.composite
def unitaries(draw):
    """The four entries of a unitary matrix: states stay normalised for many steps."""
    a, b, c, d = (draw(st.floats(-math.pi, math.pi)) for _ in range(4))
    phase = complex(math.cos(a), math.sin(a))
    eb, ed = complex(math.cos(b), math.sin(b)), complex(math.cos(d), math.sin(d))
    cc, sc = math.cos(c), math.sin(c)
    return [phase * eb * cc, phase * ed * sc, -phase * sc / ed, phase * cc / eb]


ENTRY_RECIPES = st.one_of(
    plain(COMPLEXES), plain(COMPLEXES), plain(COMPLEXES),
    COMPLEXES.map(lambda z: ("lying_complex", z)),
    plain(st.sampled_from([1, 0.5, True, None, "1j", Index(1), [1j]])))


def list_recipes(n, long_lists):
    items = st.lists(index_recipes(n), max_size=6)
    valid_items = st.lists(st.integers(0, max(n - 1, 0)).map(lambda v: ("plain", v)), max_size=6)
    shapes = [
        valid_items.map(lambda s: ("list", s)), valid_items.map(lambda s: ("list", s)),
        items.map(lambda s: ("list", s)), valid_items.map(lambda s: ("tuple", s)),
        valid_items.map(lambda s: ("length_fails", s)), valid_items.map(lambda s: ("indexable", s)),
        st.tuples(st.just("iteration_fails"), valid_items, st.sampled_from(sorted(ERRORS))),
        items.map(lambda s: ("generator", s)),
        plain(st.builds(range, st.integers(0, n), st.integers(0, n + 1))),
        plain(st.lists(st.integers(0, max(n, 1)), max_size=4).map(bytes)),
        plain(st.lists(st.integers(0, max(n, 1)), max_size=4).map(bytearray)),
        plain(st.sampled_from(["01", "", 0, None, {0}, {0: 1}, 1.0])),
    ]
    if long_lists:  # duplicates make long lists on small registers: capacity and allocation
        shapes.append(st.tuples(st.integers(0, n), st.integers(50, 66)).map(
            lambda qk: ("list", [("plain", qk[0])] * qk[1])))
    return st.one_of(shapes)


def clean_recipe_for(kind, n):
    """Arguments that convert: plain values mostly, the other accepted forms now and then."""
    valid = st.integers(0, max(n - 1, 0))
    if kind == "i":
        return st.one_of(plain(valid), plain(valid), plain(valid),
                         valid.map(lambda v: ("index", v)))
    if kind == "a":
        return st.one_of(plain(ANGLES), plain(ANGLES), ANGLES.map(lambda v: ("real", v)))
    if kind == "c":
        return st.one_of(plain(COMPLEXES), plain(COMPLEXES),
                         COMPLEXES.map(lambda z: ("lying_complex", z)))
    return st.one_of(
        st.lists(valid.map(lambda v: ("plain", v)), max_size=4).map(lambda s: ("list", s)),
        st.lists(valid.map(lambda v: ("plain", v)), max_size=4).map(lambda s: ("tuple", s)),
        st.lists(valid, max_size=4).map(lambda s: ("plain", bytes(s))))


def recipe_for(kind, n, method):
    if kind == "i":
        return index_recipes(n)
    if kind == "a":
        return ANGLE_RECIPES
    if kind == "c":
        return ENTRY_RECIPES
    return list_recipes(n, long_lists=method == "observe_mul")


@st.composite
def call_shapes(draw, params, clean=False):
    """How the arguments are passed: (positional recipes, keyword name -> recipe)."""
    recipes = list(params)
    cut = draw(st.integers(0, len(recipes)))
    positional, keywords = recipes[:cut], recipes[cut:]
    keywords = draw(st.permutations(keywords))
    args = [recipe for _, recipe in positional]
    kwargs = {name: recipe for name, recipe in keywords}
    odd = 99 if clean else draw(st.integers(0, 9))
    if odd == 0:
        args.append(("plain", 0))  # one too many, or one for a method that takes none
    elif odd == 1 and kwargs:
        del kwargs[draw(st.sampled_from(sorted(kwargs)))]  # missing
    elif odd == 2:
        kwargs[draw(st.sampled_from(["qubit", "targets_", "Target", "1x"]))] = ("plain", 0)
    elif odd == 3 and args and params:
        kwargs[params[0][0]] = ("plain", 0)  # given twice
    return args, kwargs


# -- the state machine -----------------------------------------------------------------------------

class Pair:
    def __init__(self, n):
        self.reg, self.model, self.n = QuantumRegister(n), Model(n), n


def raised(call):
    try:
        return None, call()
    except BaseException as error:  # noqa: B902 - PanicException is a BaseException
        return error, None


def error_kind(error):
    name = type(error).__name__
    if name == "PanicException":
        assert type(error).__module__ == "pyo3_runtime"
    return name


def ket_text(value, width):
    return "|" + format(value, "b").zfill(width) + ">"


class Calls(RuleBasedStateMachine):
    pairs = Bundle("pairs")

    def __init__(self):
        super().__init__()
        self.every_pair = []

    def new_pair(self, n):
        pair = Pair(n)
        self.every_pair.append(pair)
        return pair

    @initialize(target=pairs, n=st.integers(0, MAX_QUBITS))
    def first_register(self, n):
        return self.new_pair(n)

    @rule(target=pairs, n=st.integers(0, MAX_QUBITS))
    def another_register(self, n):
        return self.new_pair(n)

    @rule(data=st.data())
    def construct(self, data):
        """The constructor's own errors: matching, conversion, the guard, capacity."""
        n_recipe = data.draw(st.one_of(index_recipes(0).filter(lambda s: s[0] != "reenter"),
                                       plain(st.integers(40, 70))))
        args, kwargs = data.draw(call_shapes((("n", n_recipe),)))
        try:
            values = model.convert_call("__new__", [build(s, None, True) for s in args],
                                        {k: build(s, None, True) for k, s in kwargs.items()})
        except model.Expected as wanted:
            expected = (wanted.kind, wanted.text)
        else:
            n = values[0]
            if n >= 60:
                expected = ("PanicException", "capacity overflow")
            elif n > MAX_QUBITS + 2:  # only the guard's numbers that are not the machine's
                expected = ("PanicException", re.compile(
                    r"You have \d+ bytes of memory and Not enough memory to simulate " +
                    re.escape(f"{n} qubits! This which needs.. {16 << n} bytes of memory! ") +
                    r"This need \d+ more memory"))
            else:
                expected = None
        error, reg = raised(lambda: QuantumRegister(
            *[build(s, None, False) for s in args],
            **{k: build(s, None, False) for k, s in kwargs.items()}))
        STATS["constructions"] += 1
        self.check_error(error, expected, "__new__")
        if expected is None:
            assert reg.god_observe() == Model(values[0]).probabilities()

    @rule(pair=pairs, data=st.data())
    def call(self, pair, data):
        method = data.draw(st.sampled_from(sorted(k for k in model.SIGNATURES if k != "__new__")))
        clean = data.draw(st.integers(0, 2)) > 0
        params = [(name, data.draw(clean_recipe_for(kind, pair.n) if clean else
                                   recipe_for(kind, pair.n, method)))
                  for name, kind in model.SIGNATURES[method]]
        if clean and method in ("u", "mcu") and data.draw(st.booleans()):
            entries = iter(data.draw(unitaries()))
            params = [(name, ("plain", next(entries)) if name.startswith("u") else recipe)
                      for name, recipe in params]
        args, kwargs = data.draw(call_shapes(params, clean))

        wanted = model.expected_error(pair.n, method, [build(s, pair.reg, True) for s in args],
                                      {k: build(s, pair.reg, True) for k, s in kwargs.items()})
        before = pair.reg.god_observe()
        error, result = raised(lambda: getattr(pair.reg, method)(
            *[build(s, pair.reg, False) for s in args],
            **{k: build(s, pair.reg, False) for k, s in kwargs.items()}))
        STATS["calls"] += 1

        if wanted is not None:
            self.check_error(error, (wanted.kind, wanted.text), method)
            assert bits(pair.reg.god_observe()) == bits(before), "a failed call changed the state"
            return
        assert error is None, f"{method}: unexpected {type(error).__name__}: {error}"
        STATS["succeeded"] += 1
        STATS[f"ok {method}"] += 1
        if all(math.isfinite(p) for p in before) and max(before) < 1.0:
            STATS["ok on a spread state"] += 1
        values = model.convert_call(method, [build(s, pair.reg, True) for s in args],
                                    {k: build(s, pair.reg, True) for k, s in kwargs.items()})
        self.apply(pair, method, values, result)
        assert bits(pair.reg.god_observe()) == bits(pair.model.probabilities()), method

    def apply(self, pair, method, values, result):
        if method == "god_observe":
            assert bits(result) == bits(pair.model.probabilities())
            return
        if method.startswith("observe"):
            text = repr(result)
            match = re.fullmatch(r"\|([01]+)>", text)
            assert match, text
            value = int(match.group(1), 2)
            if method == "observe_mul":
                width = len(values[0])
            else:
                width = pair.n if method == "observe" else 1
            assert text == ket_text(value, width)
            getattr(pair.model, method)(*values, value)
            return
        assert result is pair.reg, "a gate returns its register"
        getattr(pair.model, method)(*values)

    @staticmethod
    def check_error(error, expected, method):
        if expected is None:
            assert error is None, f"{method}: unexpected {type(error).__name__}: {error}"
            return
        kind, text = expected
        STATS[kind] += 1
        assert error is not None, f"{method}: no {kind} ({text})"
        assert error_kind(error) == kind, f"{method}: {type(error).__name__}: {error}"
        if text is None:
            assert "takes no" in str(error)
        elif isinstance(text, re.Pattern):
            assert text.fullmatch(str(error)), str(error)
        else:
            assert str(error) == text

    @invariant()
    def every_register_matches_its_model(self):
        for pair in self.every_pair:
            assert bits(pair.reg.god_observe()) == bits(pair.model.probabilities())


Calls.TestCase.settings = settings.get_profile(PROFILE)
TestCalls = Calls.TestCase


def teardown_module():
    if STATS:
        summary = ", ".join(f"{key} {value}" for key, value in sorted(STATS.items()))
        print(f"\nfuzzed with profile {PROFILE!r}: {summary}")
