"""Starts a script of jobs/ as an MPI job and hands back what each rank printed."""
import os
import re
import subprocess
import sys
from pathlib import Path

JOBS = Path(__file__).parent / "jobs"
# The mpich wheel puts mpiexec beside the interpreter of the environment it is installed in.
MPIEXEC = str(Path(sys.executable).parent / "mpiexec")


def run_job(ranks, script, *args, timeout=180, env=None):
    """Runs jobs/`script` on `ranks` processes; returns (exit status, {rank: [lines]}, output).

    Each job prefixes its lines with "[rank R] ". A job that outlives `timeout` seconds is a
    hang: the whole process group is killed and the test fails."""
    command = [MPIEXEC, "-n", str(ranks), sys.executable, str(JOBS / script), *map(str, args)]
    environment = dict(os.environ, **(env or {}))
    # Standard error apart: the ranks' diagnostics would otherwise break into their lines.
    with subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                          env=environment, start_new_session=True) as job:
        try:
            output, errors = job.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(job.pid, 9)
            output, errors = job.communicate()
            raise AssertionError(f"{script} on {ranks} processes hung:\n{output}{errors}")
    # The ranks' output reaches mpiexec in pieces, so one rank's line may run into another's.
    lines = {}
    for match in re.finditer(r"\[rank (\d+)\] (.*?)(?=\[rank \d+\] |\n|$)", output):
        lines.setdefault(int(match.group(1)), []).append(match.group(2))
    return job.returncode, lines, output + errors
