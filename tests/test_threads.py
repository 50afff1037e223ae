"""Opt-in threads (ZELVANIC_THREADS): the same bits whatever the count, and no thread at all
unless asked for. Each setting runs in its own interpreter, since a register reads the
variable when it is made."""
import os
import subprocess
import sys
import textwrap

import pytest

# Random circuits of every gate kind through god_observe, and the kets of certain
# measurements (with their collapses) after permutation circuits. The sizes reach every
# shared-out path: tiles (n > 12 with ZELVANIC_TILE_QUBITS=12), gates alone, read-outs
# and collapses on 2^18 amplitudes and more.
PROGRAM = textwrap.dedent("""
    import cmath, hashlib, math, os, random, struct
    from zelvanic import QuantumRegister

    def digest(reg):
        probabilities = reg.god_observe()
        return hashlib.sha256(struct.pack("%dd" % len(probabilities), *probabilities)).hexdigest()

    def gate(rng, reg, n):
        q = rng.sample(range(n), 3)
        name = rng.choice(["h", "x", "u", "rx", "ry", "rz", "cnot", "swap", "ccnot", "csswap",
                           "mcu"])
        a, phi = rng.uniform(-7, 7), rng.uniform(-7, 7)
        m = (complex(math.cos(a)), -cmath.exp(1j * phi) * math.sin(a),
             cmath.exp(1j * phi) * math.sin(a), complex(math.cos(a)))
        {"h": lambda: reg.h(q[0]), "x": lambda: reg.x(q[0]), "u": lambda: reg.u(q[0], *m),
         "rx": lambda: reg.rx(q[0], a), "ry": lambda: reg.ry(q[0], a),
         "rz": lambda: reg.rz(q[0], a), "cnot": lambda: reg.cnot(q[0], q[1]),
         "swap": lambda: reg.swap(q[0], q[1]), "ccnot": lambda: reg.ccnot(*q),
         "csswap": lambda: reg.csswap(*q), "mcu": lambda: reg.mcu(q[1:], q[0], *m)}[name]()

    for n in (13, 17, 19):
        rng = random.Random(n)
        reg = QuantumRegister(n)
        for step in range(120):
            gate(rng, reg, n)
            if step % 40 == 39:
                print(n, step, digest(reg))
        reg = QuantumRegister(n)
        for step in range(60):
            q = rng.sample(range(n), 3)
            rng.choice([lambda: reg.x(q[0]), lambda: reg.cnot(q[0], q[1]),
                        lambda: reg.swap(q[0], q[1]), lambda: reg.ccnot(*q),
                        lambda: reg.csswap(*q)])()
        print(n, reg.observe_mul(range(0, n, 2)), reg.observe_one(n - 1), reg.observe())
    print("threads", len(os.listdir("/proc/self/task")))
""")


def run(threads):
    env = dict(os.environ, ZELVANIC_TILE_QUBITS="12")
    env.pop("ZELVANIC_THREADS", None)
    if threads is not None:
        env["ZELVANIC_THREADS"] = threads
    done = subprocess.run([sys.executable, "-c", PROGRAM], capture_output=True, text=True,
                          env=env, timeout=600)
    assert done.returncode == 0, done.stderr[-3000:]
    assert done.stderr == ""
    *lines, threads_line = done.stdout.splitlines()
    return lines, int(threads_line.split()[1])


def test_every_thread_count_gives_the_same_bits_and_unset_starts_no_thread():
    one, started = run(None)
    assert started == 1  # the interpreter's own thread and nothing else
    assert run("1") == (one, 1)
    cpus = len(os.sched_getaffinity(0))
    for threads, expected in (("2", 2), ("auto", cpus), ("0", cpus), ("3", 3)):
        assert run(threads) == (one, expected), threads


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork()")
def test_a_child_forked_after_the_pool_ran_makes_its_own():
    # The parent's workers do not exist in the child: waiting on them would hang it.
    program = textwrap.dedent("""
        import os
        from zelvanic import QuantumRegister
        parent = QuantumRegister(17).h(16).h(0).cnot(0, 5).god_observe()
        pid = os.fork()
        if pid == 0:
            child = QuantumRegister(17).h(16).h(0).cnot(0, 5).god_observe()
            os._exit(0 if child == parent else 3)
        _, status = os.waitpid(pid, 0)
        print(os.waitstatus_to_exitcode(status) if hasattr(os, "waitstatus_to_exitcode")
              else status >> 8)
    """)
    env = dict(os.environ, ZELVANIC_TILE_QUBITS="12", ZELVANIC_THREADS="3")
    # Python 3.12 and later warn about fork() in a process with threads: that is the point.
    done = subprocess.run([sys.executable, "-W", "ignore::DeprecationWarning", "-c", program],
                          capture_output=True, text=True, env=env, timeout=120)
    assert (done.returncode, done.stdout.strip()) == (0, "0"), done.stderr


def test_a_malformed_thread_count_warns_once_and_runs_on_one_thread():
    program = ("from zelvanic import QuantumRegister\n"
               "import os\n"
               "for _ in range(3): QuantumRegister(17).h(3).god_observe()\n"
               "print(len(os.listdir('/proc/self/task')))\n")
    for value in ("-1", "two", "2.0", "1025"):
        env = dict(os.environ, ZELVANIC_THREADS=value)
        done = subprocess.run([sys.executable, "-c", program], capture_output=True, text=True,
                              env=env, timeout=120)
        assert done.returncode == 0, done.stderr
        assert done.stdout.strip() == "1"
        assert done.stderr.splitlines() == [
            f"zelvanic: ignoring ZELVANIC_THREADS={value!r}: wanted a whole number up to 1024, "
            f"or auto; using the default"]
