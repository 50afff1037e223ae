"""The spread register under mpiexec on 1, 2 and 4 processes: the same bits as one process, and
bad use ending with the same clear error on every rank, never a hang."""
import pytest

from mpi_job import run_job

SIZES = [3, 5, 9, 14, 16]  # 3: too small to spread over 4; 16: blocks deferred into tiles


@pytest.mark.parametrize("ranks", [1, 2, 4])
def test_random_circuits_match_one_process_bit_for_bit(ranks):
    status, lines, output = run_job(ranks, "circuits.py", *SIZES,
                                    env={"ZELVANIC_TILE_QUBITS": "12"})
    assert status == 0, output
    for rank in range(ranks):
        assert lines.get(rank) == [f"ok {n}" for n in SIZES], output


def raised(lines, rank):
    return [line for line in lines.get(rank, []) if line.startswith("raised ")]


def same_error_everywhere(lines, ranks, kind):
    errors = {rank: raised(lines, rank) for rank in range(ranks)}
    assert all(errors[rank] and errors[rank] == errors[0] for rank in range(ranks)), errors
    assert errors[0][0].startswith(f"raised {kind}: "), errors
    return errors[0][0]


def test_a_job_of_three_processes_is_refused_on_every_rank():
    _, lines, _ = run_job(3, "faults.py", "size", timeout=60)
    error = same_error_everywhere(lines, 3, "PanicException")
    assert "power-of-two number of processes" in error and "not on 3" in error


def test_a_block_one_rank_cannot_hold_refuses_the_register_on_every_rank():
    status, lines, output = run_job(2, "faults.py", "memory", timeout=60)
    error = same_error_everywhere(lines, 2, "PanicException")
    assert error.startswith("raised PanicException: rank 1: memory allocation of ")
    assert status == 0 and all("went on" in lines[rank] for rank in range(2)), output


def test_a_bad_argument_is_refused_alike_and_the_job_goes_on():
    status, lines, output = run_job(4, "faults.py", "argument", timeout=60)
    assert same_error_everywhere(lines, 4, "ValueError") == "raised ValueError: ..."
    assert status == 0 and all("went on" in lines[rank] for rank in range(4)), output


def test_diverging_ranks_stop_together_naming_both_calls():
    _, lines, _ = run_job(4, "faults.py", "diverge", timeout=60)
    error = same_error_everywhere(lines, 4, "PanicException")
    assert ("rank 0 made call 2, register 1: h(1), where rank 1 made call 2, register 1: h(0)"
            in error)
    # Refused again, with no message sent, by every rank.
    assert all(len(raised(lines, rank)) == 2 for rank in range(4)), lines


def test_a_rank_that_ends_early_stops_the_others():
    _, lines, output = run_job(2, "faults.py", "leave", timeout=60)
    error = raised(lines, 0)
    assert error and "rank 1 made call 2, the end of the program" in error[0], output
    assert "zelvanic_mpi: the processes no longer make the same calls" in output


def test_a_rank_that_dies_ends_the_job():
    status, lines, output = run_job(2, "faults.py", "die", timeout=60)
    assert status != 0 and not any("went on" in lines.get(rank, []) for rank in range(2)), output
