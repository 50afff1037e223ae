"""The thread count of a benchmark run, for every simulator in it: BENCH_THREADS=1 (the
default) or all (every processor this process may run on), or a number. Read once, at import,
and written into the variables that size the peers' thread pools, so import this module before
numpy or any simulator. numpy and BLAS stay on one thread: they are not what is timed."""
import os


def _threads():
    text = os.environ.get("BENCH_THREADS", "1")
    if text == "all":
        return len(os.sched_getaffinity(0))
    if not text.isdigit() or int(text) < 1:
        raise SystemExit(f"BENCH_THREADS={text!r}: want a whole number of at least 1, or all")
    return int(text)


THREADS = _threads()
os.environ["OMP_NUM_THREADS"] = str(THREADS)  # lightning and qulacs size their pools from it
for _variable in ("OPENBLAS_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ[_variable] = "1"


if __name__ == "__main__":
    from common import not_a_script
    not_a_script(__doc__, "bench/circuits.py or bench/peers.py")
