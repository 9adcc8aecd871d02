"""The package and the qx480 tool read the same times and rates alike: each string the tool takes gives the
same count or period here, and each one it refuses is refused here for the same reason, in the same words.

The tool is the one QX480_TOOL names (scripts/test-python: build/native/bin/qx480); it runs on its own
simulated device (--simulate).
"""

from __future__ import annotations

import os
import re
import subprocess

import pytest

import qx480

TIMES = [
    "10ns", "10", "10ps", "1.5us", "1.5µs", "1.5μs", "2ms", "3s", "100 ns", "0.01ns", "1.23456789012s", "1e3ns",
    "1E3", "1e+3ns", "1e-2ns", "2.5e-1us", ".5ns", "5.ns", "0", "0e999999999999999999ns", "184467440737095516.15ns",
    "184467440.73709551615s", "5ps", "15ps", "0.001ns", "1.000000000001s", "2.5e-2ns", "12.345ns", "999.995ns",
    "184467440737095516.155ns", "184467440737095516.16ns", "184467440737095516.165ns", "1e30s", "1" * 30 + ".5ps",
    "1e999999999999999999999s", "-5ns", "-0", "-5xyz", "", "ns", ".", "-", "1e", "1e+ns", "1.2.3", "+5ns", "5-3",
    " 5ns", "10xs", "10ns ", "10sec", "1,5ns", "10Hz", "0x10", "5٣", "1.5ΜS", "10 NS", "10nS", "1.5US", "3S",
]
RATES = [
    "1000", "1000Hz", "1kHz", "2.5MHz", "3MHz", "250MHz", "0.1Hz", "1e3 Hz", "0.06", "0", "0.000kHz",
    "250.000001MHz", "1e999999MHz", "0.0582Hz", "1e-999999Hz", "-1kHz", "1s", "fast", "1.2.3kHz", "1khz", "10 HZ",
    "1MHZ", "1mHz",
]
# The time the tool sent: printed once set, or named when the device refused it (past its own limit).
SENT_TIME = re.compile(r"^channel 1 delay (.+)$|refused the delay (.+) for channel 1$", re.MULTILINE)
PERIOD = re.compile(r"\(period (\d+) x 4 ns\)")


def run_tool(*words: str) -> subprocess.CompletedProcess[str]:
    tool = os.environ.get("QX480_TOOL")
    if not tool:
        pytest.skip("QX480_TOOL names no qx480 tool (scripts/test-python sets it)")
    return subprocess.run([tool, "--simulate", *words], capture_output=True, text=True, timeout=30)


def reason(message: str) -> str:
    """A refusal up to its first colon: what is wrong, without the hint after it."""
    return message.split(":", 1)[0].strip()


@pytest.mark.parametrize("text", TIMES)
def test_a_time_reads_as_the_tool_reads_it(text: str) -> None:
    tool = run_tool("delay", "1", text)
    try:
        counts = qx480.parse_time(text, "delay")
    except ValueError as refused:
        assert tool.returncode == 2, tool.stdout
        assert reason(str(refused)) == reason(tool.stderr)
    else:
        sent = SENT_TIME.search(tool.stdout + tool.stderr)
        assert sent, tool.stdout + tool.stderr
        assert (sent.group(1) or sent.group(2)) == qx480.format_time(counts)


@pytest.mark.parametrize("text", RATES)
def test_a_rate_reads_as_the_tool_reads_it(text: str) -> None:
    tool = run_tool("rate", text)
    try:
        ticks = qx480.parse_rate(text)
    except ValueError as refused:
        assert tool.returncode == 2, tool.stdout
        assert reason(str(refused)) == reason(tool.stderr)
    else:
        period = PERIOD.search(tool.stdout + tool.stderr)
        assert period, tool.stdout + tool.stderr
        assert int(period.group(1)) == ticks
