// Bernstein-Vazirani: one query to the oracle x -> s.x (mod 2) reveals the hidden string s.
// Here s = 1011 (q[3] q[2] q[1] q[0]); q[4] is the oracle's output qubit, prepared in |->.
OPENQASM 2.0;
include "qelib1.inc";

gate oracle a, b, c, d, out {
  cx a, out;
  cx b, out;
  cx d, out;
}

qreg q[5];
creg c[4];
x q[4];
h q;
oracle q[0], q[1], q[2], q[3], q[4];
h q[0];
h q[1];
h q[2];
h q[3];
measure q[0] -> c[0];
measure q[1] -> c[1];
measure q[2] -> c[2];
measure q[3] -> c[3];
