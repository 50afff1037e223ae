"""An independent model of a register: every amplitude a pair of Python floats, every gate
written the slow, obvious way (a loop over all basis states testing bits), with the same
rounding as the simulator's arithmetic, so probabilities can be compared bit for bit."""
import math

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
