"""Every method, on its success path and on each way it can fail, called thousands of times:
the reference counts of the instance, the arguments and the classes stay put, and neither
the interpreter's allocations (tracemalloc) nor the C heap (malloc's bytes in use) nor the
process's resident size grow."""
import ctypes
import gc
import os
import sys
import tracemalloc

import pytest

from zelvanic import PyDiracKet, QuantumRegister

CALLS = 2000
WARMUP = 200
# Average growth allowed per call; a leaked object or vector of the smallest kind is larger.
PYTHON_BYTES_PER_CALL = 4
MALLOC_BYTES_PER_CALL = 4
RSS_BYTES = 1 << 20
# The sanitizer's allocator answers mallinfo with zeros and parks freed memory in a
# quarantine, so under it only the reference counts and the interpreter's figures count.
SANITIZED = bool(os.environ.get("ZELVANIC_SANITIZED"))


class _MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks",
        "fordblks", "keepcost")]


def _malloc_in_use_reader():
    try:
        mallinfo2 = ctypes.CDLL(None).mallinfo2
    except AttributeError:  # not glibc, or older than 2.33
        return lambda: 0
    mallinfo2.restype = _MallInfo2
    return lambda: (lambda info: info.uordblks + info.hblkhd)(mallinfo2())


malloc_in_use = _malloc_in_use_reader()


def rss():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.fixture(scope="module", autouse=True)
def traced():
    tracemalloc.start()
    yield
    tracemalloc.stop()


def _panic_class():
    try:
        QuantumRegister(60)
    except BaseException as error:  # noqa: B902 - it derives from BaseException
        return type(error)


PANIC = _panic_class()
M = (1 + 0j, 0j, 0j, 1 + 0j)


class Complexish(complex):
    pass


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Real:
    def __float__(self):
        return 0.25


class TypeErrorWithCause:
    cause = KeyError("root")

    def __index__(self):
        raise TypeError("no index") from self.cause


class NotAnInt:
    def __index__(self):
        return "0"


class DividesByZero:
    def __index__(self):
        return 1 // 0


class BrokenFloat:
    def __float__(self):
        raise ValueError("no float")


class IterationFails(list):
    def __iter__(self):
        yield from range(100)
        raise KeyError("midway")


class LongSequence(list):
    """Reports a length far beyond its contents."""

    def __len__(self):
        return 1 << 40


def cases():
    """(id, call, expected (type, text prefix) or None, objects whose counts must not move)."""
    reg = QuantumRegister(3)
    control = [1, 2]
    long_control = [0] * 200
    sub = Complexish(1, 0)
    idx0, idx1 = Index(0), Index(1)
    real = Real()
    cause_holder = TypeErrorWithCause()
    rng, blob = range(3), b"\x00\x02"
    big = 2**64

    class Reentrant:
        """Calls a method of the register it is converted for; the inner call is refused."""

        def __init__(self, swallow):
            self.swallow = swallow

        def __index__(self):
            try:
                reg.x(0)
            except RuntimeError:
                if not self.swallow:
                    raise
            return 0

    swallowing, raising = Reentrant(True), Reentrant(False)
    iteration_fails, lying = IterationFails(), LongSequence([0, 1])
    always = [reg, QuantumRegister, PyDiracKet, PANIC, *M]
    T, O, V, R, P = TypeError, OverflowError, ValueError, RuntimeError, PANIC
    c = [
        # -- success paths
        ("observe", lambda: reg.observe(), None, []),
        ("observe_one", lambda: reg.observe_one(idx1), None, [idx1]),
        ("observe_mul", lambda: reg.observe_mul(control), None, [control]),
        ("observe_mul-range", lambda: reg.observe_mul(rng), None, [rng]),
        ("observe_mul-bytes", lambda: reg.observe_mul(blob), None, [blob]),
        ("observe_mul-lying-len", lambda: reg.observe_mul(lying), None, [lying]),
        ("god_observe", lambda: reg.god_observe(), None, []),
        ("ket-repr", lambda: repr(reg.observe()), None, []),
        ("x", lambda: reg.x(idx0), None, [idx0]),
        ("h", lambda: reg.h(target=1), None, []),
        ("u", lambda: reg.u(0, sub, *M[1:]), None, [sub]),
        ("cnot", lambda: reg.cnot(0, 1), None, []),
        ("ccnot", lambda: reg.ccnot(0, 1, 2), None, []),
        ("rz", lambda: reg.rz(0, 0.3), None, []),
        ("rx", lambda: reg.rx(theta=real, target=1), None, [real]),
        ("ry", lambda: reg.ry(2, 7), None, []),
        ("swap", lambda: reg.swap(0, 2), None, []),
        ("csswap", lambda: reg.csswap(0, 1, 2), None, []),
        ("mcu", lambda: reg.mcu(control, 0, *M), None, [control]),
        ("mcu-tuple", lambda: reg.mcu((idx1,), 0, *M), None, [idx1]),
        ("new", lambda: QuantumRegister(n=idx1), None, [idx1]),
        ("inner-borrow-refused", lambda: reg.h(swallowing), None, [swallowing]),
        # -- argument matching
        ("too-many", lambda: reg.h(0, 1), (T, "QuantumRegister.h() takes"), []),
        ("missing", lambda: reg.u(0, sub), (T, "QuantumRegister.u() missing 3"), [sub]),
        ("unexpected-kw", lambda: reg.rx(0, theta=1.0, phi=2), (T, "QuantumRegister.rx() got an"),
         []),
        ("twice", lambda: reg.rx(0, target=1), (T, "QuantumRegister.rx() got multiple"), []),
        ("noargs", lambda: reg.observe(control), (T, ""), [control]),
        ("noargs-kw", lambda: reg.god_observe(x=1), (T, ""), []),
        ("new-missing", lambda: QuantumRegister(), (T, "QuantumRegister.__new__() missing"), []),
        ("new-too-many", lambda: QuantumRegister(1, idx1), (T, "QuantumRegister.__new__() takes"),
         [idx1]),
        # -- conversion TypeErrors
        ("float-index", lambda: reg.h(1.0), (T, "argument 'target': 'float' object"), []),
        ("none-index", lambda: reg.cnot(0, None), (T, "argument 'target': 'NoneType'"), []),
        ("non-int-index", lambda: reg.x(NotAnInt()), (T, "argument 'target': __index__ returned"),
         []),
        ("index-cause", lambda: reg.x(cause_holder), (T, "argument 'target': no index"),
         [cause_holder, TypeErrorWithCause.cause]),
        ("str-angle", lambda: reg.rx(0, "a"), (T, "argument 'theta':"), []),
        ("float-entry", lambda: reg.u(0, *M[:3], 1.0), (T, "argument 'u11': 'float' object"), []),
        ("none-entry", lambda: reg.u(0, None, *M[1:]), (T, "argument 'u00': 'None' is"), []),
        ("str-list", lambda: reg.mcu("01", 0, *M), (T, "argument 'control': Can't extract"), []),
        ("set-list", lambda: reg.observe_mul({1}), (T, "argument 'targets': 'set' object"), []),
        ("bad-element", lambda: reg.mcu([0, 1.5], 0, *M), (T, "argument 'control': 'float'"), []),
        ("entry-after-list", lambda: reg.mcu(long_control, 0, *M[:3], 1),
         (T, "argument 'u11': 'int' object"), [long_control]),
        ("new-float", lambda: QuantumRegister(2.0), (T, "argument 'n':"), []),
        # -- OverflowError
        ("negative", lambda: reg.h(-1), (O, "can't convert negative int"), []),
        ("too-big", lambda: reg.h(big), (O, "int too big"), [big]),
        ("huge-angle", lambda: reg.ry(0, 10**400), (O, ""), []),
        ("huge-element", lambda: reg.observe_mul([0, 1, big]), (O, "int too big"), [big]),
        ("target-after-list", lambda: reg.mcu(long_control, -1, *M), (O, ""), [long_control]),
        ("new-negative", lambda: QuantumRegister(-1), (O, ""), []),
        # -- other errors raised by the caller's objects pass through
        ("index-raises", lambda: reg.h(DividesByZero()), (ZeroDivisionError, ""), []),
        ("float-raises", lambda: reg.rz(0, BrokenFloat()), (V, "no float"), []),
        ("iteration-raises", lambda: reg.mcu(iteration_fails, 0, *M), (KeyError, ""),
         [iteration_fails]),
        # -- core failures
        ("h-out-of-range", lambda: reg.h(3), (V, "..."), []),
        ("u-out-of-range", lambda: reg.u(big - 1, *M), (V, "..."), []),
        ("cnot-same", lambda: reg.cnot(1, 1), (V, "..."), []),
        ("ccnot-same", lambda: reg.ccnot(0, 0, 1), (V, "input out of scope."), []),
        ("csswap-out", lambda: reg.csswap(0, 1, 9), (V, "..."), []),
        ("rx-out", lambda: reg.rx(4, 0.5), (V, "..."), []),
        ("mcu-repeated", lambda: reg.mcu(long_control, 1, *M), (V, "..."), [long_control]),
        # -- the borrow flag
        ("already-borrowed", lambda: reg.h(raising), (R, "Already borrowed"), [raising]),
        # -- fatal errors
        ("observe_one-out", lambda: reg.observe_one(3), (P, "target out of scope!"), []),
        ("observe_mul-out", lambda: reg.observe_mul(long_control + [7]),
         (P, "target out of scope!"), [long_control]),
        ("observe_mul-60", lambda: reg.observe_mul(long_control[:60]), (P, "capacity overflow"),
         [long_control]),
        ("observe_mul-table", lambda: reg.observe_mul(long_control[:50]),
         (P, "memory allocation of 9007199254740992 bytes failed"), [long_control]),
        ("new-capacity", lambda: QuantumRegister(60), (P, "capacity overflow"), []),
        ("new-guard", lambda: QuantumRegister(58), (P, "You have "), []),
    ]
    return [(name, call, expected, always + tracked) for name, call, expected, tracked in c]


CASES = cases()


def repeat(call, expected, times):
    for _ in range(times):
        if expected is None:
            call()
            continue
        try:
            call()
        except expected[0] as error:
            if not str(error).startswith(expected[1]):
                raise AssertionError(f"{type(error).__name__}: {error}") from None
        else:
            raise AssertionError(f"no {expected[0].__name__}")


def settle():
    gc.collect()
    # The interpreter's attribute cache keeps a reference to each name it was asked for, up
    # to 4096 of them: a name made afresh for every lookup (as the type's __qualname__ for
    # an error message is) lives on there. Bounded, so no leak, but it must not count as one.
    sys._clear_type_cache()


@pytest.mark.parametrize("name, call, expected, tracked", CASES, ids=[c[0] for c in CASES])
def test_repeated_calls_keep_everything_flat(name, call, expected, tracked, capfd):
    repeat(call, expected, WARMUP)
    settle()
    counts = [sys.getrefcount(o) for o in tracked]
    python0, malloc0, rss0 = tracemalloc.get_traced_memory()[0], malloc_in_use(), rss()
    repeat(call, expected, CALLS)
    settle()
    python1, malloc1, rss1 = tracemalloc.get_traced_memory()[0], malloc_in_use(), rss()
    capfd.readouterr()  # the fatal errors' diagnostics, thousands of them

    assert [sys.getrefcount(o) for o in tracked] == counts
    assert python1 - python0 < PYTHON_BYTES_PER_CALL * CALLS
    if not SANITIZED:
        assert malloc1 - malloc0 < MALLOC_BYTES_PER_CALL * CALLS
        assert rss1 - rss0 < RSS_BYTES
