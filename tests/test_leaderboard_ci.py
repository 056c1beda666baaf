"""Leaderboard intervals: bootstrap_dsr_ci and paired_dsr_diff over seed bands."""

import inspect
import json
import math

import pytest

from conftest import assert_same_bytes, fnv1a64

NAN = float("nan")
INF = float("inf")


def series(seed, n, drift):
    """A deterministic return series from integer arithmetic only (no libm)."""
    out = []
    state = seed
    for _ in range(n):
        state = (state * 6364136223846793005 + 1442695040888963407) % 2**64
        out.append(((state >> 40) % 2001 - 1000) / 50000.0 + drift)
    return out


def band(first_seed, n_seeds, n=252, drift=0.001):
    return [series(first_seed + i, n, drift) for i in range(n_seeds)]


STRONG = band(1, 5)
FLAT = band(100, 5, drift=0.0)
PAIR_OK = [[0.01, 0.02], [0.03, -0.01]]


@pytest.mark.parametrize(
    "name, signature",
    [
        ("bootstrap_dsr_ci",
         "(per_seed_returns, n_trials=0, n_boot=2000, resample_seed=1537679398, alpha=0.05, "
         "periods_per_year=252.0)"),
        ("paired_dsr_diff",
         "(a_per_seed_returns, b_per_seed_returns, n_trials=0, n_boot=2000, "
         "resample_seed=1537679398, alpha=0.05, periods_per_year=252.0)"),
    ],
)
def test_signatures(native, name, signature):
    assert str(inspect.signature(getattr(native, name))) == signature


SEEDS_MSG = "seed bootstrap requires at least two independent seed units"
NBOOT_MSG = "n_boot must be at least two"
ALPHA_MSG = "alpha must be finite and strictly between zero and one"
SEED_SERIES_MSG = "each seed requires at least two finite returns"
PAIRED_MSG = "paired seed bands and per-pair return lengths must match"
PPY_MSG = "periods_per_year must be finite and positive"


@pytest.mark.parametrize(
    "band_arg, kwargs, message",
    [
        ([[0.01, 0.02]], {"n_boot": 0, "alpha": NAN}, SEEDS_MSG),
        ([], {}, SEEDS_MSG),
        (PAIR_OK, {"n_boot": 0}, NBOOT_MSG),
        (PAIR_OK, {"n_boot": 1, "alpha": 0.0}, NBOOT_MSG),
        (PAIR_OK, {"alpha": 0.0, "periods_per_year": 0.0}, ALPHA_MSG),
        (PAIR_OK, {"alpha": 1.0}, ALPHA_MSG),
        (PAIR_OK, {"alpha": NAN}, ALPHA_MSG),
        (PAIR_OK, {"alpha": -INF}, ALPHA_MSG),
        ([[0.01], [0.02, 0.03]], {"periods_per_year": NAN}, SEED_SERIES_MSG),
        ([[0.01, 0.02], [0.02, NAN]], {}, SEED_SERIES_MSG),
        ([[0.01, 0.02], [INF, 0.03]], {}, SEED_SERIES_MSG),
        ([[0.01, 0.02], []], {}, SEED_SERIES_MSG),
        (PAIR_OK, {"periods_per_year": 0.0}, PPY_MSG),
        (PAIR_OK, {"periods_per_year": -252.0}, PPY_MSG),
        (PAIR_OK, {"periods_per_year": NAN}, PPY_MSG),
        (PAIR_OK, {"periods_per_year": INF}, PPY_MSG),
    ],
)
def test_interval_refusals(native, band_arg, kwargs, message):
    with pytest.raises(native.InvalidArgument) as info:
        native.bootstrap_dsr_ci(band_arg, **kwargs)
    assert str(info.value) == "[INVALID_ARGUMENT] " + message


@pytest.mark.parametrize(
    "a, b, kwargs, message",
    [
        ([[0.01, 0.02]], [[0.01]], {"n_boot": 0}, SEEDS_MSG),
        (PAIR_OK, PAIR_OK, {"n_boot": 1}, NBOOT_MSG),
        (PAIR_OK, PAIR_OK, {"alpha": 1.0}, ALPHA_MSG),
        # The A band's series are checked before B's seed count.
        ([[0.01, NAN], [0.02, 0.03]], [[0.01]], {}, SEED_SERIES_MSG),
        (PAIR_OK, [[0.01, 0.02]], {}, SEEDS_MSG),
        (PAIR_OK, [[0.01, 0.02], [0.5]], {}, SEED_SERIES_MSG),
        (band(1, 3, 10), band(1, 4, 10), {}, PAIRED_MSG),
        (PAIR_OK, [[0.01, 0.02], [0.03, -0.01, 0.02]], {"periods_per_year": 0.0}, PAIRED_MSG),
        (PAIR_OK, PAIR_OK, {"periods_per_year": 0.0}, PPY_MSG),
    ],
)
def test_paired_refusals(native, a, b, kwargs, message):
    with pytest.raises(native.InvalidArgument) as info:
        native.paired_dsr_diff(a, b, **kwargs)
    assert str(info.value) == "[INVALID_ARGUMENT] " + message


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda m: m.bootstrap_dsr_ci("0.1,0.2"), TypeError,
         "argument 'per_seed_returns': must be a sequence of sequences of floats, not str"),
        (lambda m: m.bootstrap_dsr_ci(["0.1", "0.2"]), TypeError,
         "argument 'per_seed_returns': item 0 must be a sequence of floats, not str"),
        (lambda m: m.paired_dsr_diff(PAIR_OK, [[0.1, "x"], [0.2, 0.3]]), TypeError,
         "argument 'b_per_seed_returns': item 0[1] must be real number, not str"),
        (lambda m: m.bootstrap_dsr_ci(PAIR_OK, n_trials=-1), OverflowError,
         "argument 'n_trials': can't convert negative int to unsigned"),
        (lambda m: m.bootstrap_dsr_ci(PAIR_OK, n_trials=2**32), OverflowError,
         "argument 'n_trials': int too big to convert"),
        (lambda m: m.paired_dsr_diff(PAIR_OK, PAIR_OK, n_boot=-2), OverflowError,
         "argument 'n_boot': can't convert negative int to unsigned"),
        (lambda m: m.bootstrap_dsr_ci(PAIR_OK, resample_seed=2**64), OverflowError,
         "argument 'resample_seed': int too big to convert"),
        (lambda m: m.bootstrap_dsr_ci(PAIR_OK, alpha="0.05"), TypeError,
         "argument 'alpha': must be real number, not str"),
        (lambda m: m.paired_dsr_diff(PAIR_OK, PAIR_OK, periods_per_year=None), TypeError,
         "argument 'periods_per_year': must be real number, not NoneType"),
    ],
)
def test_argument_errors_name_the_argument(native, call, error, message):
    with pytest.raises(error) as info:
        call(native)
    assert type(info.value) is error
    assert str(info.value) == message


@pytest.mark.parametrize("fn", ["bootstrap_dsr_ci", "paired_dsr_diff"])
def test_unholdable_replicate_count_is_a_memory_error(native, fn):
    bands = (PAIR_OK,) if fn == "bootstrap_dsr_ci" else (PAIR_OK, PAIR_OK)
    with pytest.raises(MemoryError):
        getattr(native, fn)(*bands, n_boot=2**64 - 1)


def test_point_is_the_kernels_deflated_sharpe(native):
    pooled = [v for s in STRONG for v in s]
    for n_trials, ppy in [(0, 252.0), (25, 52.0)]:
        ci = json.loads(native.bootstrap_dsr_ci(STRONG, n_trials=n_trials, n_boot=50,
                                                periods_per_year=ppy))
        score = json.loads(native.score_run(pooled, n_trials, ppy))
        assert ci["point"] == score["deflated_sharpe"]
        assert ci["lo"] <= ci["hi"]
        assert ci["width"] == ci["hi"] - ci["lo"]


def test_search_budget_saturates(native):
    def point(n_trials):
        return json.loads(native.bootstrap_dsr_ci(STRONG, n_trials=n_trials, n_boot=2))["point"]

    # 2**32 - 51 + 50 is already the largest budget; 2**32 - 1 must not wrap to 49.
    assert point(2**32 - 1) == point(2**32 - 51)
    assert point(2**32 - 1) < point(0)


def test_identical_seeds_give_a_zero_width_interval(native):
    same = [STRONG[0]] * 4
    ci = json.loads(native.bootstrap_dsr_ci(same, n_boot=20))
    assert ci["lo"] == ci["hi"] == ci["point"]
    assert ci["width"] == 0.0
    assert ci["confidence"] == 0.95
    assert ci["n_boot"] == 20


def test_identical_entries_are_tied(native):
    text = native.paired_dsr_diff(STRONG, STRONG, n_boot=40)
    assert text == ('{"point_diff":0.0,"lo":0.0,"hi":0.0,"p_value":1.0,"confidence":0.95,'
                    '"significant":false,"verdict":"tied","n_boot":40}')


def test_verdicts_follow_the_sign_of_a_significant_difference(native):
    a_first = json.loads(native.paired_dsr_diff(STRONG, FLAT, n_boot=400))
    b_first = json.loads(native.paired_dsr_diff(FLAT, STRONG, n_boot=400))
    assert a_first["significant"] and a_first["verdict"] == "a_better"
    assert a_first["lo"] > 0
    assert b_first["significant"] and b_first["verdict"] == "b_better"
    assert b_first["hi"] < 0
    assert b_first["point_diff"] == -a_first["point_diff"]
    assert b_first["p_value"] == a_first["p_value"]
    assert 0.0 <= a_first["p_value"] <= 1.0


def test_resample_seed_moves_only_the_bounds(native):
    one = json.loads(native.bootstrap_dsr_ci(FLAT, n_boot=200, resample_seed=1))
    two = json.loads(native.bootstrap_dsr_ci(FLAT, n_boot=200, resample_seed=2))
    assert one["point"] == two["point"]
    assert (one["lo"], one["hi"]) != (two["lo"], two["hi"])
    p_one = json.loads(native.paired_dsr_diff(STRONG, FLAT, n_boot=200, resample_seed=1))
    p_two = json.loads(native.paired_dsr_diff(STRONG, FLAT, n_boot=200, resample_seed=2))
    assert p_one["point_diff"] == p_two["point_diff"]
    assert (p_one["lo"], p_one["hi"]) != (p_two["lo"], p_two["hi"])


def test_keyword_and_positional_arguments_agree(native):
    by_position = native.paired_dsr_diff(STRONG, FLAT, 3, 30, 9, 0.1, 52.0)
    by_keyword = native.paired_dsr_diff(b_per_seed_returns=FLAT, a_per_seed_returns=STRONG,
                                        periods_per_year=52.0, alpha=0.1, resample_seed=9,
                                        n_boot=30, n_trials=3)
    assert by_position == by_keyword


# FNV-1a 64 of the returned JSON; a change means the resampling or a formula's
# order of operations changed.
GOLDEN = [
    ("ci_default", lambda m: m.bootstrap_dsr_ci(STRONG), "9dd506f565a5e33e"),
    ("ci_flat_weekly", lambda m: m.bootstrap_dsr_ci(FLAT, n_trials=10, n_boot=500,
                                                    resample_seed=7, alpha=0.1,
                                                    periods_per_year=52.0), "d64b77a3c177c047"),
    ("paired_default", lambda m: m.paired_dsr_diff(STRONG, FLAT), "ec8c2be6532b0f52"),
    ("paired_short", lambda m: m.paired_dsr_diff(band(7, 12, 21), band(40, 12, 21, 0.0005),
                                                 n_boot=300, resample_seed=3), "c83cb4cb4b949e9b"),
]


@pytest.mark.parametrize("name, call, expected", GOLDEN, ids=[g[0] for g in GOLDEN])
def test_golden_fingerprints(native, name, call, expected):
    text = assert_same_bytes(lambda: call(native))
    assert f"{fnv1a64(text):016x}" == expected, text
