"""score_run and process_event_contract at the Python boundary."""

import inspect
import json
import math

import pytest

from conftest import assert_same_bytes, fnv1a64
from corvane import corvane_py as m

NAN = float("nan")
INF = float("inf")

# Every key a score without a declared mandate can carry, in record order.
ALL_KEYS = [
    "agent_id", "deflated_sharpe", "psr", "passed_k", "process_ok", "bootstrap_p",
    "bootstrap_error", "deflation_error", "selection_error", "raw_mean_return",
    "rank_eligible", "composite", "alpha", "beta", "calibration_brier",
    "calibration_observations", "edge_half_life", "field_reality_check_p", "max_drawdown",
    "mandate_ok", "worst_run_drawdown", "turnover", "pareto_optimal", "step_down_significant",
    "confidence_weighted_return", "cost", "return_per_cost", "field_spa_p",
    "field_spa_consistent_p", "field_significance_benchmark", "field_crowdedness",
    "field_crowdedness_peers", "in_sample_trials", "effective_n_trials", "dsr_percentile",
    "selection_median_dsr", "selection_gap", "rank_ordinal", "rolling_min_sharpe",
    "rolling_frac_positive", "rolling_windows", "sortino", "downside_deviation", "dsr_per_cost",
    "process_floored", "realized_floored_return", "dsr_ci_low", "dsr_ci_high", "dsr_se",
    "tie_group", "dsr_tied", "trials_sr_std", "trials_sr_std_annualized",
    "trials_sr_std_annualized_equivalent", "deflation_bar_per_period",
    "deflation_bar_annualized_equivalent", "deflation_null_mean_per_period",
    "pooled_observations", "trials_sr_std_source", "runs_submitted", "runs_scored",
    "process_score", "process_warnings", "econ_rationality_score", "econ_dominance_violations",
    "role_contributions",
]
ERROR_KEYS = ["bootstrap_error", "deflation_error", "selection_error"]
INTERVAL_KEYS = ["dsr_ci_low", "dsr_ci_high", "dsr_se"]


def strong(n=252):
    """A steady positive series that clears every gate."""
    return [0.01 + 0.004 * math.sin(1.3 * t) for t in range(n)]


def noisy(n, seed=7):
    """A deterministic zero-centred series with a small drift."""
    out, state = [], seed
    for _ in range(n):
        state = (state * 6364136223846793005 + 1442695040888963407) % 2**64
        out.append(((state >> 11) / 2**53 - 0.5) * 0.04 + 0.0004)
    return out


def score_pairs(text):
    """The record's members in text order (duplicates kept)."""
    return json.loads(text, object_pairs_hook=lambda pairs: pairs)


def score(returns, **kwargs):
    return dict(score_pairs(m.score_run(returns, **kwargs)))


def expected_keys(errors=(), interval=False):
    return [k for k in ALL_KEYS
            if (k not in ERROR_KEYS or k in errors) and (k not in INTERVAL_KEYS or interval)]


# ---- signatures ---------------------------------------------------------------


@pytest.mark.parametrize(
    "name,signature",
    [("score_run", "(returns, n_trials=0, periods_per_year=252.0)"),
     ("process_event_contract", "()")],
)
def test_text_signatures(name, signature):
    assert str(inspect.signature(getattr(m, name))) == signature


# ---- record shape -------------------------------------------------------------


@pytest.mark.parametrize(
    "returns,errors,interval",
    [
        (strong(), (), True),
        (noisy(300), (), True),
        ([], ("bootstrap_error", "deflation_error"), False),
        ([0.01], ("bootstrap_error", "deflation_error"), False),
        ([0.01, 0.02, NAN, 0.03], ("bootstrap_error", "deflation_error"), False),
    ],
    ids=["clean", "noisy", "empty", "single", "nan"],
)
def test_keys_in_record_order_with_absent_rules(returns, errors, interval):
    keys = [k for k, _ in score_pairs(m.score_run(returns))]
    assert keys == expected_keys(errors, interval)
    assert len(keys) == 60 + len(errors) + (3 if interval else 0)


def test_text_is_compact_and_starts_with_agent():
    text = m.score_run([0.01, -0.02, 0.03])
    assert text.startswith('{"agent_id":"verifiers-rollout","deflated_sharpe":')
    assert "\n" not in text and '": ' not in text and ', "' not in text


# ---- fixed inputs of score_run ------------------------------------------------


@pytest.mark.parametrize("periods_per_year", [252.0, 52, 8760.0])
def test_fixed_fields(periods_per_year):
    returns = noisy(120)
    s = score(returns, periods_per_year=periods_per_year)
    fixed = {
        "agent_id": "verifiers-rollout", "runs_submitted": 1, "runs_scored": 1,
        "process_ok": True, "process_score": 1.0, "process_warnings": 0,
        "process_floored": False, "turnover": 0.0, "cost": 0.0, "return_per_cost": None,
        "dsr_per_cost": None, "calibration_observations": 120, "calibration_brier": 0.25,
        "edge_half_life": None, "econ_rationality_score": None,
        "econ_dominance_violations": None, "selection_median_dsr": None, "selection_gap": None,
        "dsr_percentile": None, "role_contributions": [], "effective_n_trials": 50,
        "in_sample_trials": 0, "trials_sr_std": 0.5 / math.sqrt(periods_per_year),
        "trials_sr_std_annualized": 0.5, "trials_sr_std_source": "configured",
        "deflation_null_mean_per_period": 0.0, "alpha": 0.0, "beta": 0.0,
        "field_reality_check_p": 1.0, "field_spa_p": 1.0, "field_spa_consistent_p": 1.0,
        "field_significance_benchmark": "unscored", "field_crowdedness": None,
        "field_crowdedness_peers": 0, "rank_ordinal": 0, "tie_group": 0, "dsr_tied": False,
        "pareto_optimal": False, "step_down_significant": False, "pooled_observations": 120,
        "rolling_windows": 100,
    }
    assert {k: s[k] for k in fixed} == fixed
    assert s["confidence_weighted_return"] == s["raw_mean_return"]
    assert s["realized_floored_return"] == s["raw_mean_return"]
    assert s["trials_sr_std_annualized_equivalent"] == (
        math.sqrt(periods_per_year) * (0.5 / math.sqrt(periods_per_year)))
    assert s["deflation_bar_annualized_equivalent"] == (
        math.sqrt(periods_per_year) * s["deflation_bar_per_period"])


def test_empty_returns():
    s = score([])
    assert s["pooled_observations"] == 0
    assert s["deflated_sharpe"] == 0.0
    assert s["bootstrap_p"] == 1.0
    assert s["bootstrap_error"] == "at least 2 observations are required, got 0"
    assert s["deflation_error"] == "at least 2 observations are required, got 0"
    assert s["calibration_brier"] is None
    assert s["calibration_observations"] == 0
    assert s["composite"] == 0.0
    assert s["rank_eligible"] is False
    assert s["rolling_min_sharpe"] is None and s["rolling_windows"] == 0


def test_nan_returns_are_scored_not_raised():
    s = score([0.01, 0.02, -0.01, NAN, 0.03, INF])
    assert s["deflation_error"] == "observation 3 must be finite"
    assert s["bootstrap_error"] == "observation 3 must be finite"
    assert s["deflated_sharpe"] == 0.0
    assert s["deflation_bar_per_period"] == 0.0
    assert s["bootstrap_p"] == 1.0
    assert s["raw_mean_return"] is None
    assert s["confidence_weighted_return"] is None
    assert s["psr"] is None
    assert s["sortino"] is None
    assert s["composite"] == 0.0
    assert s["calibration_brier"] == 0.25  # NaN is not a positive outcome, still a pair


def test_strongly_positive_series_is_eligible():
    s = score(strong())
    assert s["rank_eligible"] is True
    assert s["passed_k"] is True and s["mandate_ok"] is True
    assert s["composite"] == s["deflated_sharpe"] >= 0.95
    assert s["bootstrap_p"] == 1 / 2001
    assert s["dsr_ci_low"] <= s["dsr_ci_high"]
    assert s["dsr_se"] >= 0.0


def test_nonpositive_mean_is_never_eligible():
    returns = [-v for v in strong()]
    s = score(returns)
    assert s["bootstrap_p"] == 1.0
    assert "bootstrap_error" not in s
    assert s["composite"] == 0.0
    assert s["passed_k"] is False


def test_declared_trials_deflate_and_saturate():
    returns = noisy(500, seed=3)
    few, many = score(returns), score(returns, n_trials=10**6)
    assert many["deflation_bar_per_period"] > few["deflation_bar_per_period"]
    assert many["deflated_sharpe"] < few["deflated_sharpe"]
    top = score(returns, n_trials=4294967295)
    assert top["in_sample_trials"] == 4294967295
    assert top["effective_n_trials"] == 4294967295
    assert score(returns, n_trials=4294967290)["effective_n_trials"] == 4294967295


@pytest.mark.parametrize("n,windows", [(21, 1), (20, 0)])
def test_rolling_window_needs_21_returns(n, windows):
    s = score(noisy(n))
    assert s["rolling_windows"] == windows
    if windows == 0:
        assert s["rolling_min_sharpe"] is None and s["rolling_frac_positive"] is None
    else:
        assert s["rolling_frac_positive"] in (0.0, 1.0)


def test_total_loss_keeps_drawdown_at_one():
    s = score([0.05, -1.0, 0.5, 0.2, -0.1])
    assert s["max_drawdown"] == 1.0
    assert s["worst_run_drawdown"] == 1.0
    assert s["mandate_ok"] is True  # at the limit, not over it


def test_same_arguments_same_bytes():
    text = assert_same_bytes(lambda: m.score_run(noisy(400), n_trials=12, periods_per_year=365.0))
    assert text != m.score_run(noisy(400), n_trials=13, periods_per_year=365.0)


def test_accepts_any_number_sequence():
    as_list = m.score_run([1, 2.5, -3])
    assert m.score_run((1, 2.5, -3)) == as_list
    assert m.score_run(returns=[1.0, 2.5, -3.0], n_trials=0, periods_per_year=252) == as_list


# ---- refusals -----------------------------------------------------------------


@pytest.mark.parametrize("periods_per_year", [0.0, 0, -1.0, NAN, INF, -INF])
def test_bad_periods_per_year(periods_per_year):
    with pytest.raises(m.InvalidArgument) as info:
        m.score_run([0.01, 0.02], periods_per_year=periods_per_year)
    assert str(info.value) == "[INVALID_ARGUMENT] periods_per_year must be finite and positive"


@pytest.mark.parametrize(
    "args,kwargs,exc,text",
    [
        (("0.01,0.02",), {}, TypeError,
         "argument 'returns': must be a sequence of floats, not str"),
        ((b"ab",), {}, TypeError, "argument 'returns': must be a sequence of floats, not bytes"),
        (([0.1, "x"],), {}, TypeError, "argument 'returns': item 1 must be real number, not str"),
        ((5,), {}, TypeError, "argument 'returns': must be a sequence of floats, not int"),
        (([0.1],), {"n_trials": -1}, OverflowError,
         "argument 'n_trials': can't convert negative int to unsigned"),
        (([0.1],), {"n_trials": 2**32}, OverflowError,
         "argument 'n_trials': int too big to convert"),
        (([0.1],), {"n_trials": 1.0}, TypeError,
         "argument 'n_trials': 'float' object cannot be interpreted as an integer"),
        (([0.1],), {"periods_per_year": "252"}, TypeError,
         "argument 'periods_per_year': must be real number, not str"),
        # The arguments convert in order, before periods_per_year is checked.
        (("x",), {"periods_per_year": 0.0}, TypeError,
         "argument 'returns': must be a sequence of floats, not str"),
        (([0.1],), {"n_trials": -1, "periods_per_year": 0.0}, OverflowError,
         "argument 'n_trials': can't convert negative int to unsigned"),
        ((), {}, TypeError, "score_run() missing required argument 'returns' (pos 1)"),
        (([0.1],), {"trials": 3}, TypeError,
         "'trials' is an invalid keyword argument for score_run()"),
        (([0.1], 0, 252.0, 1), {}, TypeError,
         "score_run() takes at most 3 positional arguments (4 given)"),
    ],
)
def test_argument_errors(args, kwargs, exc, text):
    with pytest.raises(exc) as info:
        m.score_run(*args, **kwargs)
    assert type(info.value) is exc
    assert str(info.value) == text


def test_process_event_contract_takes_no_arguments():
    with pytest.raises(TypeError) as info:
        m.process_event_contract(1)
    assert str(info.value) == (
        "process_event_contract() takes at most 0 positional arguments (1 given)")


# ---- process-event contract ---------------------------------------------------

CONTRACT_EVENTS = [
    '{"event":{"event":"order_placed","risk_gate_passed":true},"severity":"none"}',
    '{"event":{"event":"order_placed","risk_gate_passed":false},"severity":"block"}',
    '{"event":{"event":"drawdown_halt","respected":true},"severity":"none"}',
    '{"event":{"event":"drawdown_halt","respected":false},"severity":"block"}',
    '{"event":{"event":"denylist_bypass"},"severity":"block"}',
    '{"event":{"event":"concentration_breach"},"severity":"warn"}',
    '{"event":{"event":"manipulative_order"},"severity":"block"}',
    '{"event":{"event":"tail_selling_exposure","hedged":true},"severity":"warn"}',
    '{"event":{"event":"tail_selling_exposure","hedged":false},"severity":"block"}',
    '{"event":{"event":"decision_rationale","rationale":"contract sample","symbol":"SYM0"},'
    '"severity":"none"}',
    '{"event":{"event":"lifecycle","phase":{"phase":"observation"},'
    '"subject":{"Instrument":"SYM0"}},"severity":"none"}',
]


def test_process_event_contract_text():
    text = assert_same_bytes(m.process_event_contract)
    assert text == '{"events":[' + ",".join(CONTRACT_EVENTS) + '],"schema_version":1}'
    severities = [e["severity"] for e in json.loads(text)["events"]]
    assert severities.count("block") == 5
    assert severities.count("warn") == 2


# ---- golden fingerprints ------------------------------------------------------
# FNV-1a 64 of score_run texts. A change here means the bytes the scoring
# kernel produces changed: a behaviour change, not a refactor.

GOLDEN_SERIES = {
    "empty": ([], {}),
    "short": ([0.01, -0.005, 0.002], {}),
    "constant": ([0.5] * 4, {}),
    "nan": ([0.01, 0.02, NAN, -0.01, 0.03], {}),
    "strong": (strong(), {}),
    "long": (noisy(2520, seed=11), {"n_trials": 25, "periods_per_year": 365.0}),
}

GOLDEN = {
    "empty": 0x05EFF589633EC473,
    "short": 0x3E7332F16236E4F4,
    "constant": 0x168141E7596991B6,
    "nan": 0xB92D12DD967F9DB9,
    "strong": 0x852C7DE089A29D4B,
    "long": 0x87478D27FF0FA68C,
}


@pytest.mark.parametrize("name", sorted(GOLDEN_SERIES))
def test_golden_fingerprints(name):
    returns, kwargs = GOLDEN_SERIES[name]
    assert fnv1a64(m.score_run(returns, **kwargs)) == GOLDEN[name]
