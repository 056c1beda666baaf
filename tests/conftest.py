"""Shared helpers for the test suite."""

import pytest

from corvane import corvane_py


@pytest.fixture(scope="session")
def native():
    return corvane_py


def assert_same_bytes(make):
    """Runs `make` twice and checks both results are identical, byte for byte.

    `make` builds everything it needs from scratch, so the check covers the
    whole path from construction to the returned text.
    """
    first, second = make(), make()
    assert first == second
    return first


def fnv1a64(data) -> int:
    """64-bit FNV-1a of a str (UTF-8) or bytes, as the golden fingerprints pin."""
    if isinstance(data, str):
        data = data.encode("utf-8")
    h = 0xCBF29CE484222325
    for b in data:
        h ^= b
        h = (h * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return h
