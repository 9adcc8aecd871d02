"""One device shared by threads, closing while calls run, and the context manager."""

from __future__ import annotations

import threading
from collections.abc import Callable

import pytest
from conftest import Simulator

import qx480

CALLS_PER_THREAD = 100


def test_two_threads_share_one_device(device: qx480.Device, sim: Simulator) -> None:
    failures: list[BaseException] = []
    temperatures: list[float] = []

    def work(channel: int) -> None:
        try:
            for i in range(1, CALLS_PER_THREAD + 1):
                device.set_delay_counts(channel, channel * 1000 + i)
                temperatures.append(device.read_temperature())
        except BaseException as error:  # kept for the main thread to report
            failures.append(error)

    threads = [threading.Thread(target=work, args=(channel,)) for channel in (2, 7)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []
    assert temperatures == [29.59375] * (2 * CALLS_PER_THREAD)
    t = device.read_timing()
    assert (t.channels[1].delay_counts, t.channels[6].delay_counts) == (2000 + CALLS_PER_THREAD, 7000 + CALLS_PER_THREAD)
    # Each call was one whole exchange: as many answers as requests, each answering its own.
    requests = sim.received(4 * CALLS_PER_THREAD + 1)
    answers = sim.sent(4 * CALLS_PER_THREAD + 1)
    assert len(requests) == len(answers) == 4 * CALLS_PER_THREAD + 1
    assert [r[4] for r in requests] == [a[4] for a in answers]


def test_close_waits_for_the_call_under_way_and_stops_later_ones(start_sim: Callable[..., Simulator]) -> None:
    sim = start_sim("--answer-delay", "200")
    dg = qx480.Device(sim.link)
    sent, answered = threading.Event(), threading.Event()
    directions = {qx480.TraceDirection.SENT: sent, qx480.TraceDirection.RECEIVED: answered}
    dg.set_trace(lambda direction, _data: directions[direction].set())
    outcome: list[object] = []

    def read_twice() -> None:
        outcome.append(dg.read_temperature())
        try:
            dg.read_temperature()
        except qx480.NotOpenError as error:
            outcome.append(error)

    reader = threading.Thread(target=read_twice)
    reader.start()
    assert sent.wait(10)
    dg.close()
    # The answer came 200 ms after the request: close returned only once the call had it.
    assert answered.is_set()
    reader.join()
    assert outcome[0] == 29.59375
    assert [type(e) for e in outcome[1:]] == [qx480.NotOpenError]
    # The port was let go: it opens again at once.
    with qx480.Device(sim.link) as again:
        assert again.read_temperature() == 29.59375


def test_two_threads_closing_at_once_close_once(sim: Simulator) -> None:
    dg = qx480.Device(sim.link)
    closers = [threading.Thread(target=dg.close) for _ in range(2)]
    for closer in closers:
        closer.start()
    for closer in closers:
        closer.join()
    assert dg.closed
    with qx480.Device(sim.link) as again:
        again.fire()


def test_the_context_manager_closes_the_port_when_the_block_raises(sim: Simulator) -> None:
    with pytest.raises(KeyError):
        with qx480.Device(sim.link) as dg:
            dg.set_delay(1, "1ns")
            raise KeyError("inside the block")
    assert dg.closed
    with pytest.raises(qx480.NotOpenError):
        dg.fire()
    with qx480.Device(sim.link) as again:
        assert again.read_timing().channels[0].delay_counts == 100


def test_a_device_left_unclosed_lets_its_port_go_when_it_is_collected(sim: Simulator) -> None:
    qx480.Device(sim.link).fire()
    with qx480.Device(sim.link) as again:
        again.fire()
