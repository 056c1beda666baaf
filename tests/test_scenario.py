"""Procedural scenarios: the five families, both overlays, the calibration preset."""

import inspect
import json
import math

import pytest

from conftest import SplitMix64, assert_same_bytes, fnv1a64
from corvane import corvane_py as m

MASK = (1 << 64) - 1
MODES = ["calm", "hard", "extreme", "cointegrated_pairs", "regime_shift"]
EXPECTED_MODES = " (expected calm | hard | extreme | cointegrated_pairs | regime_shift)"


# --- An independent reference of the generator, written from its formulas. ---


def fmax(a, b):
    return b if math.isnan(a) else a if math.isnan(b) or a > b else b


def synthetic(n_symbols, n_days, seed):
    rng = SplitMix64(seed ^ 0x123456789ABCDEF0)
    closes = {}
    for k in range(n_symbols):
        mu = (float(k) / float(n_symbols)) * 0.0004 + 0.0002
        p, sm, series = 100.0, 0.0, []
        for _ in range(n_days):
            e = ((rng.uniform() - 0.5) * 0.02) * 1.0
            sm = e * 0.1 + sm * 0.9
            p = p * fmax(e * 0.5 + (mu + sm) + 1.0, 1e-9)
            series.append(p)
        closes["SYM%02d" % k] = series
    dates = ["2025-%03d" % (i + 1) for i in range(n_days)]
    return dates, dict(sorted(closes.items(), key=lambda kv: kv[0].encode()))


def returns(p):
    return [p[i + 1] / p[i] - 1.0 for i in range(len(p) - 1)]


def mean(values):
    total = -0.0
    for v in values:
        total += v
    return total / float(len(values))


def amplify(closes, seed, tag, scale, q, size):
    rng = SplitMix64(seed ^ tag ^ 0x123456789ABCDEF0)
    for p in closes.values():
        if len(p) < 2:
            continue
        r = returns(p)
        mu = mean(r)
        for i in range(1, len(p)):
            j = 0.0
            if rng.uniform() < q:
                j = size if rng.uniform() < 0.5 else -size
            p[i] = p[i - 1] * (fmax(j + ((r[i - 1] - mu) * scale + mu), -0.95) + 1.0)


def cointegrated_pairs(closes, seed):
    rng = SplitMix64(seed ^ 0x515B0619F3CEADAF)
    series = list(closes.values())
    k = 0
    while k + 1 < len(series):
        a, b = series[k], series[k + 1]
        beta_a = 0.8 + 0.4 * rng.uniform()
        beta_b = 0.8 + 0.4 * rng.uniform()
        common, spread = 100.0, 0.0
        for j in range(min(len(a), len(b))):
            if j > 0:
                common = fmax(common + rng.symmetric(1.5), 0.01)
            a[j] = fmax(beta_a * common + rng.symmetric(0.6), 0.01)
            nb = rng.symmetric(0.6)
            spread = spread * 0.85 + (rng.uniform() - 0.5) * 2.0
            b[j] = fmax((beta_b * common + nb) + spread, 0.01)
        k += 2
    if k < len(series) and series[k]:
        p = series[k]
        p[0] = 100.0
        for i in range(1, len(p)):
            p[i] = fmax(p[i - 1] + rng.symmetric(1.5), 0.01)


def regime_shift(closes, seed):
    rng = SplitMix64(seed ^ 0x40513115C9D4B884)
    for p in closes.values():
        n = len(p)
        if n < 2:
            continue
        w = max((2 * n) // 3 - n // 3, 1)
        switch = n // 3 + int(rng.uniform() * float(w))
        p[0], x = 100.0, 0.0
        for i in range(1, n):
            if i < switch:
                x = (x * 0.7 + 0.004) + rng.symmetric(0.01)
            else:
                x = x * -0.6 + rng.symmetric(0.03)
            x = fmax(x, -0.95)
            p[i] = p[i - 1] * (x + 1.0)


def vol_clustering(closes, c):
    for p in closes.values():
        if len(p) < 2:
            continue
        r = returns(p)
        mu = mean(r)
        total = -0.0
        for v in r:
            total += abs(v - mu)
        d = fmax(total / float(len(r)), 1e-9)
        level = d
        for i in range(1, len(p)):
            f = fmax(((level / d) + (-1.0)) * c + 1.0, 0.05)
            x = fmax((r[i - 1] - mu) * f + mu, -0.95)
            p[i] = p[i - 1] * (x + 1.0)
            level = level * 0.85 + abs(x - mu) * (1.0 - 0.85)


def jump_bursts(closes, seed, probability, persistence, size):
    start = min(probability, 1.0)
    keep = min(fmax(persistence, 0.0), 1.0)
    rng = SplitMix64(seed ^ 0x58611B28D8E98CA3)
    for p in closes.values():
        if len(p) < 2:
            continue
        r = returns(p)
        burst = False
        for i in range(1, len(p)):
            burst = (keep if burst else start) > rng.uniform()
            j = (size if rng.uniform() < 0.5 else -size) if burst else 0.0
            p[i] = p[i - 1] * (fmax(j + r[i - 1], -0.95) + 1.0)


def reference(seed, n_symbols, n_days, mode, vc=0.0, jp=0.0, jpers=0.0, js=0.0):
    dates, closes = synthetic(n_symbols, n_days, seed)
    if mode == "hard":
        amplify(closes, seed, 0x486172645F5F5F5F, 1.8, 0.02, 0.06)
    elif mode == "extreme":
        amplify(closes, seed, 0x457874725F5F5F5F, 3.0, 0.06, 0.13)
    elif mode == "cointegrated_pairs":
        cointegrated_pairs(closes, seed)
    elif mode == "regime_shift":
        regime_shift(closes, seed)
    if vc > 0:
        vol_clustering(closes, vc)
    if jp > 0 and js > 0:
        jump_bursts(closes, seed, jp, jpers, js)
    return {"dates": dates, "closes": closes, "dividends": {}}


def scenario(*args, **kwargs):
    return json.loads(m.generate_scenario_json(*args, **kwargs))


# --- Behaviour. ---

SHAPES = [(0, 5), (1, 0), (1, 1), (3, 1), (2, 2), (3, 7), (5, 40), (101, 3), (4, 120)]
KNOBS = [
    (0.0, 0.0, 0.0, 0.0),
    (0.5, 0.0, 0.0, 0.0),
    (0.0, 0.3, 0.5, 0.02),
    (0.7, 1.5, 2.0, 0.05),
    (0.3, 0.2, -1.0, 0.01),
]


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("seed", [0, 42, MASK])
def test_matches_the_reference_formulas(mode, seed):
    for n_symbols, n_days in SHAPES:
        for knobs in KNOBS:
            got = scenario(seed, n_symbols, n_days, mode, *knobs)
            want = reference(seed, n_symbols, n_days, mode, *knobs)
            assert list(got) == ["dates", "closes", "dividends"]
            assert list(got["closes"]) == list(want["closes"])  # byte order, not index order
            assert got == want, (n_symbols, n_days, knobs)


def test_output_is_compact_json_with_point_zero():
    text = m.generate_scenario_json(3, 2, 3, "regime_shift")
    assert text.startswith('{"dates":["2025-001","2025-002","2025-003"],"closes":{"SYM00":[100.0,')
    assert text.endswith('"dividends":{}}')
    assert " " not in text and "\n" not in text


@pytest.mark.parametrize("mode", MODES)
def test_is_deterministic(mode):
    assert_same_bytes(lambda: m.generate_scenario_json(11, 6, 90, mode, 0.4, 0.1, 0.6, 0.03))


@pytest.mark.parametrize(
    "knobs",
    [
        dict(vol_clustering=-0.5),
        dict(vol_clustering=math.nan),
        dict(jump_burst_probability=math.nan, jump_burst_size=0.05),
        dict(jump_burst_probability=-1.0, jump_burst_size=0.05),
        dict(jump_burst_probability=0.5, jump_burst_size=0.0),
        dict(jump_burst_probability=0.5, jump_burst_size=-0.05),
        dict(jump_burst_probability=0.5, jump_burst_size=math.nan),
        dict(jump_burst_persistence=0.9),
    ],
)
def test_switched_off_overlays_leave_the_family_unchanged(knobs):
    for mode in ["calm", "extreme"]:
        plain = m.generate_scenario_json(5, 3, 30, mode)
        assert m.generate_scenario_json(5, 3, 30, mode, **knobs) == plain


def test_plain_calm_is_the_synthetic_data_set():
    got = scenario(42, 4, 120, "calm", 0.0, 0.0, 0.0, 0.0)
    dates, closes = synthetic(4, 120, 42)
    assert got == {"dates": dates, "closes": closes, "dividends": {}}


def test_no_symbols_and_tiny_series():
    assert m.generate_scenario_json(1, 0, 2, "cointegrated_pairs", 0.5, 0.5, 0.5, 0.1) == (
        '{"dates":["2025-001","2025-002"],"closes":{},"dividends":{}}'
    )
    for mode in ["hard", "extreme", "regime_shift"]:
        for n_days in [0, 1]:
            plain = m.generate_scenario_json(9, 3, n_days)
            assert m.generate_scenario_json(9, 3, n_days, mode, 0.5, 0.5, 0.5, 0.1) == plain
    # Pairs of one-value series are re-drawn; an unpaired last one becomes 100.0.
    base = scenario(9, 3, 1)["closes"]
    paired = scenario(9, 3, 1, "cointegrated_pairs")["closes"]
    assert paired["SYM00"] != base["SYM00"] and paired["SYM01"] != base["SYM01"]
    assert paired["SYM02"] == [100.0]


def test_family_shapes():
    pairs = scenario(4, 5, 50, "cointegrated_pairs")["closes"]
    assert pairs["SYM04"][0] == 100.0  # odd count: the last symbol is an additive walk
    assert all(abs(pairs[s][0] - 100.0) > 1e-9 for s in ["SYM00", "SYM01", "SYM02", "SYM03"])
    regimes = scenario(4, 5, 50, "regime_shift")["closes"]
    assert all(series[0] == 100.0 for series in regimes.values())
    # Two bars: the switch bar is 0, so the one step is choppy.
    assert scenario(8, 1, 2, "regime_shift") == reference(8, 1, 2, "regime_shift")


def burst_bars(probability, persistence, size=0.01):
    """Per symbol, which bars of a calm scenario got a jump of +-size."""
    base = scenario(13, 2, 60)["closes"]
    bursty = scenario(13, 2, 60, "calm", 0.0, probability, persistence, size)["closes"]
    pattern = {}
    for symbol, p in bursty.items():
        jumps = [x - r for x, r in zip(returns(p), returns(base[symbol]))]
        assert all(abs(j) < 1e-9 or abs(abs(j) - size) < 1e-9 for j in jumps)
        pattern[symbol] = [abs(j) > size / 2 for j in jumps]
    return pattern


@pytest.mark.parametrize("probability, persistence", [(1.0, 1.0), (5.0, 3.0)])
def test_certain_bursts_that_persist_cover_every_bar(probability, persistence):
    assert all(all(bars) for bars in burst_bars(probability, persistence).values())


@pytest.mark.parametrize("persistence", [1.0, 7.0])
def test_full_persistence_never_ends_a_burst(persistence):
    for bars in burst_bars(0.05, persistence).values():
        first = bars.index(True)
        assert all(bars[first:])


@pytest.mark.parametrize("probability", [0.3, 1.0, 5.0])
def test_zero_persistence_makes_one_bar_bursts(probability):
    # After a burst bar the threshold is the persistence, so even a certain
    # start cannot make two burst bars in a row.
    for bars in burst_bars(probability, 0.0).values():
        assert any(bars)
        assert not any(a and b for a, b in zip(bars, bars[1:]))
        if probability >= 1.0:
            assert bars == [i % 2 == 0 for i in range(len(bars))]


def test_calibration_candidate_is_its_preset():
    for seed in [0, 1, 2026, MASK]:
        preset = m.calm_calibration_candidate_scenario_json(seed)
        assert preset == m.generate_scenario_json(seed, 4, 120, "calm", 0.5, 0.02, 0.0, 0.015)


# --- Refusals. ---


@pytest.mark.parametrize(
    "label, quoted",
    [("HARD", '"HARD"'), ("Calm", '"Calm"'), ("", '""'), ("calm ", '"calm "'),
     ('a"b\\c\n', '"a\\"b\\\\c\\n"')],
)
def test_unknown_mode_is_invalid_argument(label, quoted):
    with pytest.raises(m.InvalidArgument) as info:
        m.generate_scenario_json(1, distribution_mode=label)
    expected = "[INVALID_ARGUMENT] unknown distribution_mode " + quoted + EXPECTED_MODES
    assert str(info.value) == expected


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: m.generate_scenario_json(-1), OverflowError,
         "argument 'seed': can't convert negative int to unsigned"),
        (lambda: m.generate_scenario_json(1 << 64), OverflowError,
         "argument 'seed': int too big to convert"),
        (lambda: m.generate_scenario_json(1.0), TypeError,
         "argument 'seed': 'float' object cannot be interpreted as an integer"),
        (lambda: m.generate_scenario_json(1, -4), OverflowError,
         "argument 'n_symbols': can't convert negative int to unsigned"),
        (lambda: m.generate_scenario_json(1, n_days="5"), TypeError,
         "argument 'n_days': 'str' object cannot be interpreted as an integer"),
        (lambda: m.generate_scenario_json(1, distribution_mode=3), TypeError,
         "argument 'distribution_mode': must be str, not int"),
        (lambda: m.generate_scenario_json(1, 4, 5, "nope", "0.5"), TypeError,
         "argument 'vol_clustering': must be real number, not str"),
        (lambda: m.generate_scenario_json(1, jump_burst_size=None), TypeError,
         "argument 'jump_burst_size': must be real number, not NoneType"),
        (lambda: m.generate_scenario_json(), TypeError,
         "generate_scenario_json() missing required argument 'seed' (pos 1)"),
        (lambda: m.generate_scenario_json(1, mode="calm"), TypeError,
         "'mode' is an invalid keyword argument for generate_scenario_json()"),
        (lambda: m.calm_calibration_candidate_scenario_json(-1), OverflowError,
         "argument 'seed': can't convert negative int to unsigned"),
        (lambda: m.calm_calibration_candidate_scenario_json(1, 2), TypeError,
         "calm_calibration_candidate_scenario_json() takes at most 1 positional arguments "
         "(2 given)"),
    ],
)
def test_argument_errors_name_the_argument(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert type(info.value) is error
    assert str(info.value) == message


@pytest.mark.parametrize("shape", [(2**62, 0), (1, 2**62), (2**32, 2**32), (2**64 - 1, 2)])
def test_unholdable_shape_is_a_memory_error(shape):
    with pytest.raises(MemoryError):
        m.generate_scenario_json(1, *shape)


def test_text_signatures():
    assert str(inspect.signature(m.generate_scenario_json)) == (
        "(seed, n_symbols=4, n_days=120, distribution_mode='calm', vol_clustering=0.0, "
        "jump_burst_probability=0.0, jump_burst_persistence=0.0, jump_burst_size=0.0)"
    )
    assert str(inspect.signature(m.calm_calibration_candidate_scenario_json)) == "(seed)"
    assert m.generate_scenario_json(7) == m.generate_scenario_json(
        seed=7, n_symbols=4, n_days=120, distribution_mode="calm"
    )


# --- Golden fingerprints: FNV-1a 64 of the exact bytes. These guard the tape. ---

GOLDEN = [
    # (seed, n_symbols, n_days, mode, vol_clustering, burst probability, persistence, size)
    ((42, 4, 120, "calm", 0.0, 0.0, 0.0, 0.0), 0x9F89A20C453BA3D0),  # the synthetic data set
    ((7, 5, 252, "calm", 0.5, 0.03, 0.4, 0.02), 0x743E229B3FDFB7B4),
    ((MASK, 3, 30, "calm", 0.0, 0.1, 0.0, 0.05), 0xDD749A2B76320B82),
    ((0, 101, 10, "calm", 1.2, 0.0, 0.0, 0.0), 0xD42D564C8ACBD7B8),
    ((42, 4, 120, "hard", 0.0, 0.0, 0.0, 0.0), 0xF0614B22CB89FCB8),
    ((7, 5, 252, "hard", 0.5, 0.03, 0.4, 0.02), 0xDEF8FA899EF90A72),
    ((MASK, 3, 30, "hard", 0.0, 0.1, 0.0, 0.05), 0xE53239CA0E7FD571),
    ((0, 101, 10, "hard", 1.2, 0.0, 0.0, 0.0), 0xA5040986ECCB7D9B),
    ((42, 4, 120, "extreme", 0.0, 0.0, 0.0, 0.0), 0xD032128934891676),
    ((7, 5, 252, "extreme", 0.5, 0.03, 0.4, 0.02), 0xD7CB1E4C76F96BB3),
    ((MASK, 3, 30, "extreme", 0.0, 0.1, 0.0, 0.05), 0xE8885A89E9AC2E4A),
    ((0, 101, 10, "extreme", 1.2, 0.0, 0.0, 0.0), 0x18CD89B32C0F177F),
    ((42, 4, 120, "cointegrated_pairs", 0.0, 0.0, 0.0, 0.0), 0xF6EA05F7E17A1ACA),
    ((7, 5, 252, "cointegrated_pairs", 0.5, 0.03, 0.4, 0.02), 0x464DA28E44B3A3E7),
    ((MASK, 3, 30, "cointegrated_pairs", 0.0, 0.1, 0.0, 0.05), 0x6A3F4AA198AD6E3B),
    ((0, 101, 10, "cointegrated_pairs", 1.2, 0.0, 0.0, 0.0), 0x5A7A4374B866CEF6),
    ((42, 4, 120, "regime_shift", 0.0, 0.0, 0.0, 0.0), 0xA8C8B02009E33695),
    ((7, 5, 252, "regime_shift", 0.5, 0.03, 0.4, 0.02), 0xC6C88AD42C074620),
    ((MASK, 3, 30, "regime_shift", 0.0, 0.1, 0.0, 0.05), 0xEA0FA8F645F8029A),
    ((0, 101, 10, "regime_shift", 1.2, 0.0, 0.0, 0.0), 0x3C6EB63D2539627D),
]


@pytest.mark.parametrize("args, expected", GOLDEN)
def test_golden_fingerprints(args, expected):
    assert fnv1a64(m.generate_scenario_json(*args)) == expected


@pytest.mark.parametrize(
    "seed, expected",
    [(0, 0xE3334E9D4D88E233), (7, 0x32A63F8E5743EC93), (2026, 0x3119E8A54C667924)],
)
def test_golden_calibration_candidate(seed, expected):
    assert fnv1a64(m.calm_calibration_candidate_scenario_json(seed)) == expected
