"""An independent model of a register: every amplitude a pair of Python floats, every gate
written the slow, obvious way (a loop over all basis states testing bits), with the same
rounding as the simulator's arithmetic, so probabilities can be compared bit for bit."""
import ctypes
import math
import operator

K = float.fromhex("0x1.6a09e667f3bcdp-1")  # 1/sqrt(2) correctly rounded


def sin(x):
    """libm's sine: NaN for an infinite angle, where Python's math module raises instead."""
    return math.nan if math.isinf(x) else math.sin(x)


def cos(x):
    return math.nan if math.isinf(x) else math.cos(x)


def cmul(m, a):
    return (m[0] * a[0] - m[1] * a[1], m[0] * a[1] + m[1] * a[0])


def cadd(a, b):
    return (a[0] + b[0], a[1] + b[1])


class Model:
    def __init__(self, n):
        self.n = n
        self.state = [(0.0, 0.0)] * (1 << n)
        self.state[0] = (1.0, 0.0)

    def probabilities(self):
        return [re * re + im * im for re, im in self.state]

    # -- single-qubit gates --------------------------------------------------------------
    def _pairs(self, t, controls=()):
        mask = sum(1 << c for c in controls)
        for i in range(len(self.state)):
            if not i >> t & 1 and i & mask == mask:
                yield i, i | 1 << t

    def _check(self, *qubits, message="..."):
        if any(q >= self.n for q in qubits) or len(set(qubits)) != len(qubits):
            raise ValueError(message)

    def matrix(self, t, m00, m01, m10, m11, controls=()):
        self._check(t, *controls)
        s = self.state
        for i0, i1 in self._pairs(t, controls):
            a0, a1 = s[i0], s[i1]
            s[i0] = cadd(cmul(m00, a0), cmul(m01, a1))
            s[i1] = cadd(cmul(m10, a0), cmul(m11, a1))

    def h(self, t):
        self._check(t)
        s = self.state
        for i0, i1 in self._pairs(t):
            a0, a1 = s[i0], s[i1]
            s[i0] = ((a0[0] + a1[0]) * K, (a0[1] + a1[1]) * K)
            s[i1] = ((a0[0] - a1[0]) * K, (a0[1] - a1[1]) * K)

    def x(self, t):
        self._check(t)
        for i0, i1 in self._pairs(t):
            self.state[i0], self.state[i1] = self.state[i1], self.state[i0]

    def u(self, t, u00, u01, u10, u11):
        self.matrix(t, *((z.real, z.imag) for z in (u00, u01, u10, u11)))

    def rx(self, t, theta):
        self._check(t)
        s, c = sin(theta * 0.5), cos(theta * 0.5)
        self.matrix(t, (c, 0.0), (0.0, -s), (0.0, -s), (c, 0.0))

    def ry(self, t, theta):
        self._check(t)
        s, c = sin(theta * 0.5), cos(theta * 0.5)
        self.matrix(t, (c, 0.0), (-s, -0.0), (s, 0.0), (c, 0.0))

    def rz(self, t, theta):
        self._check(t)
        h0, h1 = theta * -0.5, 0.5 * theta
        p0 = (cos(h0), sin(h0))
        p1 = (cos(h1), sin(h1))
        s = self.state
        for i0, i1 in self._pairs(t):
            s[i0], s[i1] = cmul(p0, s[i0]), cmul(p1, s[i1])

    def mcu(self, controls, t, u00, u01, u10, u11):
        self._check(t, *controls)
        self.matrix(t, *((z.real, z.imag) for z in (u00, u01, u10, u11)), controls=controls)

    # -- permutations ----------------------------------------------------------------------
    def _permute(self, qubits, mapping, message="..."):
        """Move amplitude i to mapping(i) for every basis state i."""
        self._check(*qubits, message=message)
        old = list(self.state)
        for i, a in enumerate(old):
            self.state[mapping(i)] = a

    @staticmethod
    def _bit(i, q):
        return i >> q & 1

    def cnot(self, c, t):
        self._permute((c, t), lambda i: i ^ (self._bit(i, c) << t))

    def swap(self, a, b):
        def move(i):
            if self._bit(i, a) != self._bit(i, b):
                return i ^ (1 << a) ^ (1 << b)
            return i
        self._permute((a, b), move)

    def ccnot(self, c1, c2, t):
        self._permute((c1, c2, t), lambda i: i ^ ((self._bit(i, c1) & self._bit(i, c2)) << t),
                      message="input out of scope.")

    def csswap(self, c, t1, t2):
        def move(i):
            if self._bit(i, c) and self._bit(i, t1) != self._bit(i, t2):
                return i ^ (1 << t1) ^ (1 << t2)
            return i
        self._permute((c, t1, t2), move)


# -- measurements -------------------------------------------------------------------------------
# The simulator draws r, a multiple of 2^-53 in [0, 1), and nobody can see it; a model can only
# say which outcomes some r leads to, and, given the outcome the simulator reports, collapse the
# same way. Selection: the first outcome with a positive probability whose running sum reaches
# r; when none does, the last outcome with a positive probability; with none at all, 0.

LAST_DRAW = 1.0 - 2.0**-53


def _some_draw_in(low, high):
    """True when a draw r with low < r <= high exists (low None: 0 <= r <= high)."""
    if not high >= 0.0:  # NaN, or below every draw
        return False
    k = math.floor(math.ldexp(min(high, LAST_DRAW), 53))  # the largest draw not above high
    return low is None or math.ldexp(k, -53) > low


def possible_selections(probabilities):
    """The outcomes the running-sum selection can give for some draw."""
    possible, s, reached = set(), 0.0, None  # reached: largest running sum so far of a choice
    last = None
    for i, p in enumerate(probabilities):
        s = s + p
        if not p > 0.0:
            continue
        last = i
        if s == s and _some_draw_in(reached, s):
            possible.add(i)
        if s == s:
            reached = s if reached is None else max(reached, s)
    if last is None:
        return {0}
    if reached is None or reached < LAST_DRAW:  # a draw beyond every sum falls back
        possible.add(last)
    return possible


def fsqrt(x):
    """libm's square root: NaN below zero, where Python's math module raises."""
    return math.sqrt(x) if x >= 0.0 or x != x else math.nan


def fdiv(a, b):
    """IEEE division: a division by zero gives an infinity or NaN instead of an exception."""
    if b != 0.0:
        return a / b
    if a != a or a == 0.0:
        return math.nan
    return math.copysign(math.inf, a) * math.copysign(1.0, b)


def _divided(a, g):
    return (fdiv(a[0], g), fdiv(a[1], g))


def _observe(self, outcome):
    """Collapse to the outcome observe() reported, after checking it could be drawn."""
    assert outcome in possible_selections(self.probabilities()), outcome
    self.state = [(0.0, 0.0)] * len(self.state)
    self.state[outcome] = (1.0, 0.0)


def _observe_one(self, t, outcome):
    if t >= self.n:
        raise AssertionError("target out of scope!")
    p1 = comp = 0.0
    zero_half_empty = True
    for i, (re, im) in enumerate(self.state):
        p = re * re + im * im
        if i >> t & 1:  # compensated sum, ascending
            y = p - comp
            s = p1 + y
            comp = (s - p1) - y
            p1 = s
        elif p != 0.0:
            zero_half_empty = False
    forced_one = zero_half_empty and p1 > 0.0  # nothing to keep in the 0 half
    possible = set()
    if p1 > 0.0:
        possible.add(1)
    if not forced_one and (p1 != p1 or p1 <= LAST_DRAW):
        possible.add(0)
    assert outcome in possible, (outcome, p1)
    g = fsqrt(p1) if outcome else fsqrt(1.0 - p1)
    self.state = [_divided(a, g) if (i >> t & 1) == outcome else (0.0, 0.0)
                  for i, a in enumerate(self.state)]


def _observe_mul(self, targets, outcome):
    targets = sorted(targets)
    table = [0.0] * (1 << len(targets))
    for j, (re, im) in enumerate(self.state):
        l = sum((j >> t & 1) << m for m, t in enumerate(targets))
        table[l] = table[l] + (re * re + im * im)
    assert outcome in possible_selections(table), (outcome, table)
    if not any(p > 0.0 for p in table):
        return  # nothing to renormalise by: the state is left alone
    g = fsqrt(table[outcome])
    mask = pattern = 0
    for m, t in enumerate(targets):
        mask |= 1 << t
        pattern |= (outcome >> m & 1) << t
    self.state = [_divided(a, g) if j & mask == pattern else (0.0, 0.0)
                  for j, a in enumerate(self.state)]


Model.observe = _observe
Model.observe_one = _observe_one
Model.observe_mul = _observe_mul


# -- the Python call protocol --------------------------------------------------------------------
# What a call of a QuantumRegister method should raise, worked out from the arguments alone:
# matching, conversion in parameter order (the caller's objects run their own code, so the
# oracle must be given copies of its own), then the core's checks.
_as_double = ctypes.pythonapi.PyFloat_AsDouble
_as_double.restype, _as_double.argtypes = ctypes.c_double, [ctypes.py_object]
_is_sequence = ctypes.pythonapi.PySequence_Check
_is_sequence.restype, _is_sequence.argtypes = ctypes.c_int, [ctypes.py_object]

# Parameter names and kinds: i qubit index, a angle, c matrix entry, l qubit list.
SIGNATURES = {
    "observe": (), "god_observe": (),
    "observe_one": (("target", "i"),), "observe_mul": (("targets", "l"),),
    "x": (("target", "i"),), "h": (("target", "i"),),
    "u": (("target", "i"), ("u00", "c"), ("u01", "c"), ("u10", "c"), ("u11", "c")),
    "cnot": (("control", "i"), ("target", "i")),
    "ccnot": (("control1", "i"), ("control2", "i"), ("target", "i")),
    "rz": (("target", "i"), ("theta", "a")), "rx": (("target", "i"), ("theta", "a")),
    "ry": (("target", "i"), ("theta", "a")),
    "swap": (("q1", "i"), ("q2", "i")),
    "csswap": (("control", "i"), ("target_1", "i"), ("target_2", "i")),
    "mcu": (("control", "l"), ("target", "i"), ("u00", "c"), ("u01", "c"), ("u10", "c"),
            ("u11", "c")),
    "__new__": (("n", "i"),),
}


class Expected(Exception):
    """The exception a call should end with: its class name and its exact text."""

    def __init__(self, kind, text):
        super().__init__(kind, text)
        self.kind, self.text = kind, text


def _index(value):
    if not isinstance(value, int):
        value = operator.index(value)
    value = int.__index__(value)  # an int subclass counts as its value, whatever it overrides
    if value < 0:
        raise OverflowError("can't convert negative int to unsigned")
    if value >= 1 << 64:
        raise OverflowError("int too big to convert")
    return value


def _not_an_instance(value, expected):
    if value is None:
        return TypeError(f"'None' is not an instance of '{expected}'")
    return TypeError(f"'{type(value).__qualname__}' object is not an instance of '{expected}'")


def _convert(kind, value):
    if kind == "i":
        return _index(value)
    if kind == "a":
        return value if type(value) is float else _as_double(value)
    if kind == "c":
        if not isinstance(value, complex):
            raise _not_an_instance(value, "complex")
        return complex(complex.real.__get__(value), complex.imag.__get__(value))
    if isinstance(value, str):
        raise TypeError("Can't extract `str` to `Vec`")
    if not _is_sequence(value):
        raise _not_an_instance(value, "Sequence")
    return [_index(item) for item in value]


def _join(names):
    quoted = [f"'{name}'" for name in names]
    if len(quoted) <= 2:
        return " and ".join(quoted)
    return ", ".join(quoted[:-1]) + ", and " + quoted[-1]


def _match(method, args, kwargs):
    params = [name for name, _ in SIGNATURES[method]]
    function = f"QuantumRegister.{method}()"
    if not params:
        if args or kwargs:
            raise Expected("TypeError", None)  # the interpreter's own words, by version
        return []
    if len(args) > len(params):
        were = "was" if len(args) == 1 else "were"
        raise Expected("TypeError", f"{function} takes {len(params)} positional arguments but "
                                    f"{len(args)} {were} given")
    given = dict(zip(params, args))
    for name, value in kwargs.items():
        if name not in params:
            raise Expected("TypeError", f"{function} got an unexpected keyword argument '{name}'")
        if name in given:
            raise Expected("TypeError", f"{function} got multiple values for argument '{name}'")
        given[name] = value
    missing = [name for name in params if name not in given]
    if missing:
        words = "argument" if len(missing) == 1 else "arguments"
        raise Expected("TypeError", f"{function} missing {len(missing)} required positional "
                                    f"{words}: {_join(missing)}")
    return [given[name] for name in params]


def convert_call(method, args, kwargs):
    """The converted arguments of a call, or Expected with the error the call should raise."""
    values = []
    for (name, kind), value in zip(SIGNATURES[method], _match(method, args, kwargs)):
        try:
            values.append(_convert(kind, value))
        except BaseException as error:  # noqa: B902 - the caller's objects may raise anything
            if type(error) is TypeError:
                raise Expected("TypeError", f"argument '{name}': {error}") from None
            raise Expected(type(error).__name__, str(error)) from None
    return values


def core_failure(n, method, values):
    """The core's refusal of converted arguments on a register of n qubits, or None."""
    def bad(*qubits):
        return any(q >= n for q in qubits) or len(set(qubits)) != len(qubits)

    if method in ("h", "x", "u", "rx", "ry", "rz", "cnot", "swap", "csswap") and \
            bad(*(v for v, (_, kind) in zip(values, SIGNATURES[method]) if kind == "i")):
        return Expected("ValueError", "...")
    if method == "ccnot" and bad(*values):
        return Expected("ValueError", "input out of scope.")
    if method == "mcu" and bad(values[1], *values[0]):
        return Expected("ValueError", "...")
    if method == "observe_one" and values[0] >= n:
        return Expected("PanicException", "target out of scope!")
    if method == "observe_mul":
        k = len(values[0])
        if any(q >= n for q in values[0]):
            return Expected("PanicException", "target out of scope!")
        if k >= 60:
            return Expected("PanicException", "capacity overflow")
        if k >= 50:  # 8 PiB and more of outcome table: no machine has it
            return Expected("PanicException", f"memory allocation of {8 << k} bytes failed "
                                              f"(outcome table of {k} measured qubits)")
    return None


def expected_error(n, method, args, kwargs):
    """Expected(kind, text) for a call that must fail on a register of n qubits, else None.
    The arguments are converted here: give copies that the call itself will not see."""
    try:
        values = convert_call(method, args, kwargs)
    except Expected as error:
        return error
    return core_failure(n, method, values)
