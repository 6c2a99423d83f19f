"""Threads: one instance serves one thread at a time; instances run in parallel."""

import threading
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest
import varkel
from conftest import MODULE, RATE, material

KINDS = [lambda: varkel.Varkel(RATE), lambda: varkel.load_plugin(MODULE, RATE)]


@pytest.mark.parametrize("make", KINDS)
def test_a_second_thread_gets_an_error_not_a_crash(make):
    p = make()
    long = np.zeros((2, RATE * 20), np.float32)
    started, errors = threading.Event(), []

    def hold():
        started.set()
        p.process(long)

    holder = threading.Thread(target=hold)
    holder.start()
    started.wait()
    while holder.is_alive():
        try:
            p.parameters["PreGain"].value = 0.5
        except RuntimeError as error:
            errors.append(str(error))
            break
    holder.join()
    assert errors and "in use by another thread" in errors[0]


@pytest.mark.parametrize("make", KINDS)
def test_many_threads_on_instances_of_their_own(make):
    audio = material(2, frames=20000)
    expected = make().process(audio)

    def run(_):
        p = make()
        return np.concatenate([p.process(audio[:, a:a + 1500]) for a in range(0, 20000, 1500)], axis=1)

    with ThreadPoolExecutor(8) as pool:
        results = list(pool.map(run, range(24)))
    assert all(r.tobytes() == expected.tobytes() for r in results)


def test_threads_sharing_one_instance_get_results_or_errors():
    p = varkel.Varkel(RATE)
    chunk = material(2, frames=2000)
    outcomes = []

    def hammer():
        for _ in range(200):
            try:
                p.process(chunk)
                outcomes.append("ok")
            except RuntimeError as error:
                assert "in use" in str(error)
                outcomes.append("busy")

    threads = [threading.Thread(target=hammer) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(outcomes) == 800 and "ok" in outcomes
