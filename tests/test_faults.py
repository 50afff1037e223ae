"""Faults from outside the process: an odd or unreadable /proc/meminfo, memory that the guard
promised but the system will not map, an address space with no room left, an outcome table
too large to allocate, an operating system that refuses random bytes, and an instance made
without its register. The file faults are made real for a child interpreter by binding other
files over the system's in a private mount namespace; the refused system calls by a seccomp
filter the child installs on itself."""
import ast
import contextlib
import ctypes
import os
import re
import shlex
import subprocess
import sys
import tempfile
import textwrap

import pytest

from zelvanic import PyDiracKet, QuantumRegister

SANITIZED = bool(os.environ.get("ZELVANIC_SANITIZED"))

# What every child runs first: outcome(call) gives ("ok", result) or (exception name, text).
PRELUDE = """
import sys
from zelvanic import QuantumRegister

def outcome(call):
    try:
        return ("ok", call())
    except BaseException as error:
        return (type(error).__name__, str(error))

results = []
"""


def run_child(code, binds=(), tmpfs=(), timeout=120):
    """Runs PRELUDE + code in a new interpreter, inside a private mount namespace where each
    (source, target) of `binds` is bound over target and each path of `tmpfs` is hidden
    behind an empty file system. Returns the child's `results` list."""
    mounts = [f"mount --bind {shlex.quote(s)} {shlex.quote(t)}" for s, t in binds]
    mounts += [f"mount -t tmpfs none {shlex.quote(p)}" for p in tmpfs]
    program = PRELUDE + textwrap.dedent(code) + "\nprint(repr(results))\n"
    command = [sys.executable, "-c", program]
    if mounts:
        shell = "set -e; " + "; ".join(mounts) + '; exec "$@"'
        command = ["unshare", "-m", "--", "sh", "-c", shell, "sh"] + command
    done = subprocess.run(command, capture_output=True, text=True, timeout=timeout)
    assert done.returncode == 0, done.stderr[-3000:]
    return ast.literal_eval(done.stdout.strip().splitlines()[-1])


def _mount_namespaces_work():
    if not hasattr(os, "geteuid") or os.geteuid() != 0:
        return "binding files over /proc/meminfo needs root"
    with tempfile.NamedTemporaryFile("w", suffix=".meminfo") as fake:
        fake.write("MemAvailable: 7 kB\n")
        fake.flush()
        try:
            done = subprocess.run(
                ["unshare", "-m", "--", "sh", "-c",
                 f"mount --bind {shlex.quote(fake.name)} /proc/meminfo && cat /proc/meminfo"],
                capture_output=True, text=True, timeout=30)
        except OSError as error:
            return f"unshare is not available: {error}"
    if done.returncode != 0 or "7 kB" not in done.stdout:
        return f"this machine refuses private mount namespaces: {done.stderr.strip()}"
    return None


NO_MOUNTS = _mount_namespaces_work()
needs_mounts = pytest.mark.skipif(NO_MOUNTS is not None, reason=str(NO_MOUNTS))


@pytest.fixture
def fake_file(tmp_path):
    """fake_file(text) -> the path of a new file holding text."""
    count = iter(range(1000))

    def make(text):
        path = tmp_path / f"fake-{next(count)}"
        path.write_text(text)
        return str(path)

    return make


def guard_text(available, n):
    needed = 16 << n
    return (f"You have {available} bytes of memory and Not enough memory to simulate {n} "
            f"qubits! This which needs.. {needed} bytes of memory! This need "
            f"{needed - available} more memory")


# -- /proc/meminfo -----------------------------------------------------------------------------

# Like the kernel's file, with numbers chosen so that each rule shows.
ESTIMATED = ("MemTotal:       100 kB\nMemFree:         10 kB\nBuffers:          2 kB\n"
             "Cached:           3 kB\nSwapCached:     999 kB\nShmem:            1 kB\n"
             "SReclaimable:     4 kB\n")


@needs_mounts
@pytest.mark.parametrize("meminfo, available, refused, accepted", [
    ("MemTotal: 8 kB\nMemFree: 4 kB\nMemAvailable: 1 kB\n", 1024, 10, 6),
    (ESTIMATED, 18 * 1024, 11, 10),                       # no MemAvailable: the estimate
    ("MemAvailable: 0 kB\nMemFree: 100 kB\n", 0, 0, None),  # present, so no estimate
    ("MemAvailable: lots\nMemFree: 2 kB\n", 2048, 8, 7),    # unparsable, so not present
    ("MemFree: 1 kB\nShmem: 5 kB\n", 0, 0, None),           # the difference stops at 0
    ("", 0, 0, None),
    ("\0\n\n:::\nMemAvailable\n", 0, 0, None),
])
def test_memory_guard_uses_the_figure_in_the_file(fake_file, meminfo, available, refused,
                                                  accepted):
    results = run_child(f"""
        results.append(outcome(lambda: QuantumRegister({refused})))
        if {accepted} is not None:
            results.append(outcome(lambda: repr(QuantumRegister({accepted}).x(0).observe_one(0))))
        """, binds=[(fake_file(meminfo), "/proc/meminfo")])
    assert results[0] == ("PanicException", guard_text(available, refused))
    if accepted is not None:  # needing exactly what is available passes
        assert results[1] == ("ok", "|1>")


@needs_mounts
@pytest.mark.skipif(not os.path.exists("/proc/sys/vm/compact_memory"),
                    reason="this kernel has no write-only sysctl to stand for an unreadable file")
def test_unreadable_meminfo_means_no_memory():
    # A write-only sysctl cannot be opened for reading, not even by root.
    results = run_child("results.append(outcome(lambda: QuantumRegister(0)))",
                        binds=[("/proc/sys/vm/compact_memory", "/proc/meminfo")])
    assert results == [("PanicException", guard_text(0, 0))]


@needs_mounts
def test_meminfo_is_read_for_every_register(fake_file):
    path = fake_file("MemAvailable: 1 kB\n")
    results = run_child(f"""
        results.append(outcome(lambda: QuantumRegister(7)))
        open({path!r}, "w").write("MemAvailable: 2 kB\\n")
        results.append(outcome(lambda: repr(QuantumRegister(7).observe())))
        """, binds=[(path, "/proc/meminfo")])
    assert results[0] == ("PanicException", guard_text(1024, 7))
    assert results[1] == ("ok", "|0000000>")


@needs_mounts
def test_saturated_figure_lets_the_size_check_speak(fake_file):
    # 2^54 KiB and more saturate at 2^64 - 1 bytes: 59 qubits then pass the guard and are
    # refused as a size no allocation can have; 47 qubits (2 PiB) are beyond any address
    # space, so the guard passes and the allocation itself fails.
    results = run_child("""
        results.append(outcome(lambda: QuantumRegister(59)))
        results.append(outcome(lambda: QuantumRegister(47)))
        results.append(outcome(lambda: QuantumRegister(2).x(1).god_observe()))
        """, binds=[(fake_file("MemAvailable: 18014398509481984 kB\n"), "/proc/meminfo")])
    assert results == [("PanicException", "capacity overflow"),
                       ("PanicException", "memory allocation of 2251799813685248 bytes failed"),
                       ("ok", [0.0, 0.0, 1.0, 0.0])]


@needs_mounts
@pytest.mark.skipif(SANITIZED, reason="the sanitizer's shadow memory needs an unlimited "
                                      "address space; 47 qubits above cover the same path")
def test_register_the_guard_allows_but_the_system_cannot_map(fake_file):
    results = run_child("""
        import resource
        # Room for the interpreter, not for 16 GiB of amplitudes.
        resource.setrlimit(resource.RLIMIT_AS, (4 << 30, resource.RLIM_INFINITY))
        results.append(outcome(lambda: QuantumRegister(30)))
        results.append(outcome(lambda: QuantumRegister(16).h(15).observe_one(15).__repr__()))
        """, binds=[(fake_file("MemAvailable: 1099511627776 kB\n"), "/proc/meminfo")])
    assert results[0] == ("PanicException", "memory allocation of 17179869184 bytes failed")
    assert results[1][0] == "ok" and results[1][1] in ("|0>", "|1>")


@needs_mounts
def test_large_probability_list_is_checked_against_the_memory_figure(fake_file):
    # 2^21 amplitudes take the 32 MiB there are; their list of floats (80 MiB) does not fit.
    results = run_child("""
        reg = QuantumRegister(21)
        results.append(outcome(lambda: reg.god_observe()))
        results.append(outcome(lambda: repr(reg.x(20).observe_one(20))))
        """, binds=[(fake_file("MemAvailable: 32768 kB\n"), "/proc/meminfo")])
    assert results[0] == ("PanicException", "Not enough memory to read out the probabilities of "
                          "2097152 basis states: this needs 83886080 bytes of memory (40 per basis "
                          "state, the list included) and 33554432 bytes are available")
    assert results[1] == ("ok", "|1>")


@pytest.mark.skipif(SANITIZED, reason="the sanitizer's shadow memory needs an unlimited "
                                      "address space")
def test_no_address_space_left_is_a_memory_error():
    # Every byte the limit allows is taken, then the call runs: the C++ side must turn its
    # std::bad_alloc (the /proc/meminfo read comes first) into MemoryError, not abort.
    results = run_child("""
        import resource

        def in_use():
            with open("/proc/self/statm") as statm:
                return int(statm.read().split()[0]) * resource.getpagesize()

        def starved(call):
            hold = []
            try:
                try:
                    resource.setrlimit(resource.RLIMIT_AS, (in_use(), resource.RLIM_INFINITY))
                    size = 1 << 20
                    while size >= 8:
                        try:
                            hold.append(bytearray(size))
                        except MemoryError:
                            size //= 2
                    call()
                finally:
                    hold.clear()
                    resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY,) * 2)
                return "ok"
            except BaseException as error:
                return type(error).__name__

        reg = QuantumRegister(3)
        # The generator's thread-local block is made by the C library on a thread's first draw,
        # and the C library aborts when it has no memory for it: draw once before starving.
        reg.observe()
        results.append([starved(lambda: QuantumRegister(1)) for _ in range(3)])
        results.append([starved(lambda: reg.h(0).observe()) for _ in range(3)])
        results.append(outcome(lambda: repr(reg.x(1).observe_one(1))))
        """)
    assert "MemoryError" in results[0] and set(results[0] + results[1]) <= {"ok", "MemoryError"}
    assert results[2] == ("ok", "|1>")


def test_instance_without_a_register_refuses_every_method():
    # The class is not immutable, so __new__ can be replaced; what it makes has no register.
    results = run_child("""
        import gc
        QuantumRegister.__new__ = staticmethod(object.__new__)
        reg = QuantumRegister()
        m = [1j, 0j, 0j, 1j]
        for name, args in [("observe", []), ("observe_one", [0]), ("observe_mul", [[0]]),
                           ("god_observe", []), ("x", [0]), ("h", [0]), ("u", [0] + m),
                           ("cnot", [0, 1]), ("ccnot", [0, 1, 2]), ("rz", [0, 1.0]),
                           ("rx", [0, 1.0]), ("ry", [0, 1.0]), ("swap", [0, 1]),
                           ("csswap", [0, 1, 2]), ("mcu", [[0], 1] + m)]:
            results.append(outcome(lambda: getattr(reg, name)(*args)))
        del reg
        gc.collect()
        """)
    assert results == [("TypeError", "QuantumRegister object is not initialized")] * 15


def test_outcome_table_too_large_to_allocate(panic):
    reg = QuantumRegister(2).h(0).cnot(0, 1)
    before = reg.god_observe()
    for k, text in ((50, "memory allocation of 9007199254740992 bytes failed (outcome table "
                         "of 50 measured qubits)"),
                    (59, "memory allocation of 4611686018427387904 bytes failed (outcome "
                         "table of 59 measured qubits)")):
        with pytest.raises(panic) as info:
            reg.observe_mul([0] * k)
        assert str(info.value) == text
        assert reg.god_observe() == before
    assert repr(reg.observe_mul([1, 0])) in ("|00>", "|11>")


@contextlib.contextmanager
def kets_refused():
    """Makes every PyDiracKet allocation fail with MemoryError while it lasts: the type's
    tp_alloc slot points at PyErr_NoMemory, which ignores the arguments, sets MemoryError and
    returns null, as an interpreter out of memory would."""
    api = ctypes.pythonapi
    api.PyType_GetSlot.restype = ctypes.c_void_p
    api.PyType_GetSlot.argtypes = [ctypes.py_object, ctypes.c_int]
    alloc = api.PyType_GetSlot(PyDiracKet, 47)  # Py_tp_alloc
    # tp_alloc is the 39th pointer-sized field of a type object on every supported version.
    slot = ctypes.c_void_p.from_address(id(PyDiracKet) + 38 * ctypes.sizeof(ctypes.c_void_p))
    assert slot.value == alloc
    slot.value = ctypes.cast(api.PyErr_NoMemory, ctypes.c_void_p).value
    try:
        yield
    finally:
        slot.value = alloc


@pytest.mark.parametrize("method, args", [("observe", ()), ("observe_one", (3,)),
                                          ("observe_mul", ([11, 0, 5],))])
def test_measurement_without_memory_for_its_ket_leaves_the_register_alone(monkeypatch, method,
                                                                          args):
    # The outcome cannot be handed back, so the register must not have collapsed either; with
    # gates pending (tiles of 2^12) and without.
    for tile_qubits in ("12", "64"):
        monkeypatch.setenv("ZELVANIC_TILE_QUBITS", tile_qubits)
        reg, twin = QuantumRegister(13), QuantumRegister(13)
        for q in range(13):
            reg.h(q).rx(q, 0.1 * q)
            twin.h(q).rx(q, 0.1 * q)
        with kets_refused():
            with pytest.raises(MemoryError):
                getattr(reg, method)(*args)
        assert reg.god_observe() == twin.god_observe()
        assert re.fullmatch(r"\|[01]+>", repr(getattr(reg, method)(*args)))


# -- the operating system's random source --------------------------------------------------

# Installs a seccomp filter that makes getrandom fail with `errno` for this process.
REFUSE_GETRANDOM = """
import ctypes

def refuse_getrandom(errno):
    class Filter(ctypes.Structure):
        _fields_ = [("code", ctypes.c_ushort), ("jt", ctypes.c_ubyte), ("jf", ctypes.c_ubyte),
                    ("k", ctypes.c_uint)]

    class Program(ctypes.Structure):
        _fields_ = [("len", ctypes.c_ushort), ("filter", ctypes.POINTER(Filter))]

    load, jump_if, ret = 0x20, 0x15, 0x06
    allow, fail = 0x7FFF0000, 0x00050000 | errno
    steps = [Filter(load, 0, 0, 4), Filter(jump_if, 1, 0, 0xC000003E), Filter(ret, 0, 0, allow),
             Filter(load, 0, 0, 0), Filter(jump_if, 0, 1, 318), Filter(ret, 0, 0, fail),
             Filter(ret, 0, 0, allow)]
    program = Program(len(steps), (Filter * len(steps))(*steps))
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(38, 1, 0, 0, 0) != 0 or libc.prctl(22, 2, ctypes.byref(program), 0, 0) != 0:
        raise OSError(ctypes.get_errno(), "seccomp filter refused")
    buffer = ctypes.create_string_buffer(32)
    assert libc.syscall(318, buffer, 32, 0) == -1 and ctypes.get_errno() == errno
"""


def _seccomp_works():
    try:
        run_child(REFUSE_GETRANDOM + "refuse_getrandom(38)")
    except AssertionError as error:
        return f"this machine refuses seccomp filters: {error}"
    return None


NO_SECCOMP = _seccomp_works()
needs_seccomp = pytest.mark.skipif(NO_SECCOMP is not None, reason=str(NO_SECCOMP))

# Measures on this thread and on a new one; every outcome is recorded with the state after it.
MEASURE_EVERYWHERE = """
import threading
reg = QuantumRegister(2).h(0).h(1)
before = reg.god_observe()
results.append(outcome(lambda: repr(reg.observe_one(0))))
results.append(outcome(lambda: repr(reg.observe_mul([1]))))
results.append(outcome(lambda: repr(reg.observe())))
results.append(reg.god_observe() == before)
thread = threading.Thread(target=lambda: results.append(outcome(lambda: repr(reg.observe()))))
thread.start()
thread.join()
results.append(outcome(lambda: reg.x(0).h(1).god_observe() is not None))
"""


@needs_seccomp
@pytest.mark.parametrize("refusal", [38, 1], ids=["ENOSYS", "EPERM"])
def test_refused_getrandom_falls_back_to_the_device(refusal):
    results = run_child(REFUSE_GETRANDOM + f"refuse_getrandom({refusal})" + MEASURE_EVERYWHERE)
    assert [r[0] for r in results[:3]] == ["ok"] * 3
    assert results[3] is False  # the measurements collapsed the register
    assert results[4][0] == "ok" and results[5] == ("ok", True)


def seed_failures(results, text):
    """Every measurement refused with `text`, the register unchanged and still usable."""
    panic = ("PanicException", "could not initialize ThreadRng: " + text)
    assert results == [panic, panic, panic, True, panic, ("ok", True)]


@needs_seccomp
@needs_mounts
def test_no_random_source_at_all_is_a_fatal_error_per_measurement():
    # getrandom refused and /dev empty: neither /dev/random nor /dev/urandom exists.
    results = run_child(REFUSE_GETRANDOM + "refuse_getrandom(38)" + MEASURE_EVERYWHERE,
                        tmpfs=["/dev"])
    seed_failures(results, "No such file or directory (os error 2)")


@needs_seccomp
def test_other_getrandom_errors_are_not_worked_around():
    results = run_child(REFUSE_GETRANDOM + "refuse_getrandom(5)" + MEASURE_EVERYWHERE)
    seed_failures(results, "Input/output error (os error 5)")


@needs_seccomp
@needs_mounts
def test_a_device_that_runs_dry_fails_and_seeding_is_tried_again(fake_file):
    # /dev/urandom replaced by a file that ends at once: a read of 0 bytes is no key. Once it
    # holds 32 bytes, the next measurement on the same thread seeds from them.
    device = fake_file("")
    refill = textwrap.dedent(f"""
        open({device!r}, "wb").write(bytes(range(32)))
        results.append(outcome(lambda: repr(QuantumRegister(1).h(0).observe())))
        """)
    results = run_child(REFUSE_GETRANDOM + "refuse_getrandom(38)" + MEASURE_EVERYWHERE + refill,
                        binds=[(device, "/dev/urandom")])
    seed_failures(results[:-1], "unexpected situation")
    assert results[-1][0] == "ok"


# -- the environment -----------------------------------------------------------------------------

@pytest.mark.parametrize("value, refused", [
    ("-1", True), ("-12", True), ("11", True), ("12abc", True), (" 13", True),
    ("99999999999999999999", True), ("1\n2", True), ("12", False), ("", False),
])
def test_tile_qubits_setting_is_parsed_strictly(value, refused):
    # A refused value is named once on standard error, however many registers are made, and
    # the registers behave as without it.
    program = PRELUDE + textwrap.dedent("""
        for _ in range(3):
            results.append(QuantumRegister(13).x(12).cnot(12, 0).swap(0, 5).god_observe()[4128])
        print(repr(results))
        """)
    done = subprocess.run([sys.executable, "-c", program], capture_output=True, text=True,
                          env=dict(os.environ, ZELVANIC_TILE_QUBITS=value), timeout=120)
    assert done.returncode == 0, done.stderr[-3000:]
    assert ast.literal_eval(done.stdout.strip()) == [1.0] * 3
    lines = done.stderr.splitlines()
    if refused:
        assert lines == [f"zelvanic: ignoring ZELVANIC_TILE_QUBITS={value!r}: wanted a whole "
                         f"number of at least 12; using the default"]
    else:
        assert lines == []
