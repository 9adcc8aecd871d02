"""qx480.parse_time, parse_rate and format_time reach the C library and carry its sentences."""

from __future__ import annotations

import pytest

import qx480


def test_the_unit_functions_give_the_library_s_values() -> None:
    assert qx480.parse_time("1.5 us") == 150000
    assert qx480.parse_time("1.5µs") == 150000
    assert qx480.parse_rate("3MHz") == 83
    assert qx480.format_time(123400) == "1.234 us"


def test_a_refusal_is_the_library_s_sentence_after_what_was_named() -> None:
    with pytest.raises(qx480.ArgumentError, match=r"^width '5ps' is not a whole number of 10 ps steps: the nearest are 0ns and 10ps$"):
        qx480.parse_time("5ps", "width")
    with pytest.raises(qx480.ArgumentError, match=r"^rate '1khz' has an unknown unit: did you mean kHz\?$"):
        qx480.parse_rate("1khz")


def test_a_text_the_c_string_would_cut_short_is_refused() -> None:
    with pytest.raises(qx480.ArgumentError, match="NUL"):
        qx480.parse_time("10ns\0junk")
