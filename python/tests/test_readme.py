"""Every Python example of the README's Python section runs against a simulated device and prints what it says.

An example's "# -> TEXT" comments are the lines it prints, in order, with
/dev/ttyUSB0 standing for the device's port.
"""

from __future__ import annotations

import contextlib
import io
import re
from pathlib import Path

import pytest
from conftest import Simulator

README = Path(__file__).resolve().parents[2] / "README.md"
SECTION = re.search(r"^## Python\n(.*?)^## ", README.read_text(encoding="utf-8"), re.MULTILINE | re.DOTALL)
EXAMPLES = re.findall(r"^```python\n(.*?)^```", SECTION.group(1) if SECTION else "", re.MULTILINE | re.DOTALL)
PORT = "/dev/ttyUSB0"


def test_the_section_has_its_examples() -> None:
    assert len(EXAMPLES) == 3


@pytest.mark.parametrize("example", EXAMPLES, ids=[f"example-{n}" for n in range(1, len(EXAMPLES) + 1)])
def test_an_example_runs_and_prints_what_it_says(sim: Simulator, example: str) -> None:
    expected = [line.replace(PORT, sim.link) for line in re.findall(r"# -> (.*)$", example, re.MULTILINE)]
    printed = io.StringIO()
    with contextlib.redirect_stdout(printed):
        exec(compile(example.replace(PORT, sim.link), str(README), "exec"), {})
    assert printed.getvalue().splitlines() == expected
    assert expected
