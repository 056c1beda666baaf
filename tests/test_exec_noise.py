import math

import pytest

from corvane import corvane_py as m

from conftest import uniforms

MASK = (1 << 64) - 1


def reference(seed, step_index, requested, previous, delay_prob, slippage_bps):
    if delay_prob == 0.0 and slippage_bps == 0.0:
        return list(requested)
    draws = uniforms(seed ^ ((step_index * 0x9E3779B97F4A7C15) & MASK))
    if delay_prob > 0.0 and delay_prob > next(draws):
        return list(previous)
    if slippage_bps == 0.0:
        return list(requested)
    s = slippage_bps / 10000.0
    return [(((u + u) + -1.0) * s + 1.0) * w for w, u in zip(requested, draws)]


REQUESTED = [0.25, -0.5, 0.0, 1.0, 1e-300]
PREVIOUS = [0.1, 0.2]


@pytest.mark.parametrize(
    "seed,step,delay,slip",
    [
        (0, 0, 0.0, 25.0),
        (7, 0, 0.0, 25.0),  # step 0 keys the stream on the seed alone
        (7, 1, 0.0, 25.0),
        (MASK, MASK, 0.0, 1.0),
        (42, 3, 0.3, 0.0),
        (42, 3, 0.3, 50.0),
        (3, 11, 0.9, 10.0),
        (123456789, 2**40, 0.5, 10000.0),
    ],
)
def test_matches_the_published_stream(seed, step, delay, slip):
    got = m.perturb_action(seed, step, REQUESTED, PREVIOUS, delay, slip)
    assert got == reference(seed, step, REQUESTED, PREVIOUS, delay, slip)
    # Keyed on (seed, step_index) only: a repeat call gives the same list.
    assert m.perturb_action(seed, step, REQUESTED, PREVIOUS, delay, slip) == got


def test_no_noise_returns_requested_for_every_key():
    for seed in (0, 1, MASK):
        for step in (0, 5):
            assert m.perturb_action(seed, step, REQUESTED, PREVIOUS) == REQUESTED
            assert m.perturb_action(seed, step, REQUESTED, PREVIOUS, 0.0, -0.0) == REQUESTED


def test_certain_delay_returns_previous_whatever_its_length():
    for step in range(20):
        assert m.perturb_action(9, step, REQUESTED, PREVIOUS, 1.0, 30.0) == PREVIOUS
    assert m.perturb_action(9, 0, [], [], 1.0) == []


def test_delay_without_jitter_returns_one_of_the_two_exactly():
    outcomes = [m.perturb_action(5, step, REQUESTED, PREVIOUS, 0.3) for step in range(200)]
    assert all(o in (REQUESTED, PREVIOUS) for o in outcomes)
    assert 20 < outcomes.count(PREVIOUS) < 100


def test_full_slippage_scales_each_weight_within_bounds():
    requested = [1.0] * 500 + [-2.0, 0.0]
    got = m.perturb_action(77, 1, requested, [], 0.0, 10000.0)
    assert all(0.0 <= x < 2.0 for x in got[:500])
    assert len(set(got[:500])) > 400  # one draw per weight
    assert -4.0 < got[500] <= 0.0 and got[501] == 0.0


def test_inputs_are_not_changed():
    requested, previous = list(REQUESTED), list(PREVIOUS)
    m.perturb_action(1, 1, requested, previous, 0.5, 100.0)
    assert (requested, previous) == (REQUESTED, PREVIOUS)


@pytest.mark.parametrize(
    "delay,slip,text",
    [
        (1.5, 0.0, "[INVALID_ARGUMENT] delay_prob 1.5 is outside the finite range [0, 1]"),
        (math.nan, 0.0, "[INVALID_ARGUMENT] delay_prob NaN is outside the finite range [0, 1]"),
        (-0.25, 0.0, "[INVALID_ARGUMENT] delay_prob -0.25 is outside the finite range [0, 1]"),
        (math.inf, 0.0, "[INVALID_ARGUMENT] delay_prob inf is outside the finite range [0, 1]"),
        (0.0, -1.0, "[INVALID_ARGUMENT] slippage_bps -1 is negative or not finite"),
        (0.0, 1e-7 * -1, "[INVALID_ARGUMENT] slippage_bps -0.0000001 is negative or not finite"),
        (0.0, -math.inf, "[INVALID_ARGUMENT] slippage_bps -inf is negative or not finite"),
        (0.0, math.nan, "[INVALID_ARGUMENT] slippage_bps NaN is negative or not finite"),
        # Both invalid: the delay probability is checked first.
        (2.0, -1.0, "[INVALID_ARGUMENT] delay_prob 2 is outside the finite range [0, 1]"),
    ],
)
def test_invalid_settings_are_refused(delay, slip, text):
    with pytest.raises(m.InvalidArgument) as info:
        m.perturb_action(0, 0, [1.0], [0.0], delay, slip)
    assert str(info.value) == text


@pytest.mark.parametrize(
    "kwargs,exc,text",
    [
        (dict(requested="0.5"), TypeError,
         "argument 'requested': must be a sequence of floats, not str"),
        (dict(previous=[0.1, "x"]), TypeError,
         "argument 'previous': item 1 must be real number, not str"),
        (dict(seed=-1), OverflowError, "argument 'seed': can't convert negative int to unsigned"),
        (dict(step_index=1 << 64), OverflowError, "argument 'step_index': int too big to convert"),
        (dict(delay_prob="0.1"), TypeError, "argument 'delay_prob': must be real number, not str"),
    ],
)
def test_argument_errors(kwargs, exc, text):
    args = dict(seed=1, step_index=2, requested=[1.0], previous=[0.0]) | kwargs
    with pytest.raises(exc) as info:
        m.perturb_action(**args)
    assert str(info.value) == text

