import pytest

from conftest import fnv1a64
from corvane import corvane_py as m

MASK = (1 << 64) - 1


def fmix(z):
    z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK
    z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
    return z ^ (z >> 31)


def reference_seed(salt: bytes, slot: int) -> int:
    h = fnv1a64(salt)
    h = ((h ^ len(salt)) * 0x100000001B3) & MASK
    a = fmix(h ^ 0x5365616C65644576)
    b = fmix(a ^ ((slot * 0x9E3779B97F4A7C15) & MASK))
    c = fmix(b ^ (((h << 32) | (h >> 32)) & MASK))
    return 1000000 + c % ((1 << 64) - 1 - 1000000)


SALTS = [
    b"\x00" * 16,
    b"0123456789abcdef",
    b"leaderboard-salt-2026",
    bytes(range(256)),
    b"\xff" * 1_000_000,  # a megabyte salt works like any other
]
SLOTS = [0, 1, 2, 999, (1 << 63) + 5, (1 << 64) - 1]


@pytest.mark.parametrize("salt", SALTS, ids=lambda s: f"len{len(s)}")
def test_matches_the_published_derivation(salt):
    for slot in SLOTS:
        seed = m.sealed_seed(salt, slot)
        assert seed == reference_seed(salt, slot)
        assert m.EVAL_SEED_BASE <= seed <= (1 << 64) - 2


def test_salt_length_and_slot_both_change_the_seed():
    seeds = {m.sealed_seed(b"\x00" * n, slot) for n in (16, 17, 32) for slot in range(50)}
    assert len(seeds) == 150
    assert m.sealed_seed(salt=b"k" * 16, slot=3) == m.sealed_seed(b"k" * 16, 3)


def test_golden_fingerprint():
    text = ",".join(str(m.sealed_seed(salt, slot)) for salt in SALTS[:4] for slot in SLOTS)
    assert fnv1a64(text) == 0xC7DF5F543FDA0298


@pytest.mark.parametrize("length", [0, 5, 15])
def test_short_salt_is_refused(length):
    with pytest.raises(m.InvalidSalt) as info:
        m.sealed_seed(b"s" * length, 0)
    assert type(info.value) is m.InvalidSalt
    assert str(info.value) == (
        f"[INVALID_SALT] sealed-seed salt must be at least 16 bytes (got {length})"
    )


@pytest.mark.parametrize(
    "salt,slot,exc,text",
    [
        # The type check comes before the length check.
        ("short", 0, TypeError, "argument 'salt': must be bytes, not str"),
        (bytearray(b"x" * 16), 0, TypeError, "argument 'salt': must be bytes, not bytearray"),
        (b"x" * 16, -1, OverflowError, "argument 'slot': can't convert negative int to unsigned"),
        (b"x" * 16, 1 << 64, OverflowError, "argument 'slot': int too big to convert"),
        (b"x" * 16, 1.0, TypeError,
         "argument 'slot': 'float' object cannot be interpreted as an integer"),
    ],
)
def test_argument_errors(salt, slot, exc, text):
    with pytest.raises(exc) as info:
        m.sealed_seed(salt, slot)
    assert str(info.value) == text


def test_doc_states_the_guarantees():
    doc = m.sealed_seed.__doc__
    assert "EVAL_SEED_BASE" in doc and "MIN_SEALED_SALT_BYTES" in doc
