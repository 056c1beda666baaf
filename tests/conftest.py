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


MASK = (1 << 64) - 1


class SplitMix64:
    """The engine's generator, for the reference models the tests compare with."""

    def __init__(self, seed):
        self.state = seed & MASK

    def next(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & MASK
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
        return z ^ (z >> 31)

    def uniform(self):
        """Uniform in [0, 1): the top 53 bits scaled by 2^-53."""
        return (self.next() >> 11) * 2.0**-53

    def symmetric(self, half_width):
        return ((self.uniform() - 0.5) * 2.0) * half_width


def uniforms(state):
    """The endless uniform stream of a generator starting at `state`."""
    rng = SplitMix64(state)
    while True:
        yield rng.uniform()
