"""TradingEnv: construction, episode shape, costs, events, checkpoints, bad input
and the golden fingerprints of whole episodes."""

import inspect
import json
import math

import pytest

from corvane import corvane_py as m
from conftest import SplitMix64, assert_same_bytes, fnv1a64

HOLD = '{"orders":[]}'
BOOK_RNG_SALT = 0xA5A55A5AC3C33C3C
MASK = 0xFFFFFFFFFFFFFFFF


def order(symbol, weight, action="buy", **extra):
    return {"symbol": symbol, "action": action, "target_weight": weight, **extra}


def decision(*orders, reasoning=""):
    return json.dumps({"orders": list(orders), "reasoning": reasoning})


def flat_csv(symbols=("A", "B"), n_dates=5, close=10.0, dividends=None):
    """Constant closes, so NAV moves only through costs, financing and dividends.

    `dividends` maps (symbol, bar) to a dividend; with it the CSV gets a
    dividend column."""
    header = "date,symbol,close" + (",dividend" if dividends is not None else "")
    rows = [header]
    for i in range(n_dates):
        for s in symbols:
            row = f"2024-01-{i + 1:02d},{s},{close}"
            if dividends is not None:
                row += f",{dividends.get((s, i), 0.0)}"
            rows.append(row)
    return "\n".join(rows) + "\n"


def free_env(csv_text=None, **kwargs):
    """An environment without fees, slippage or impact (financing stays on)."""
    args = dict(fee_bps=0.0, slippage_bps=0.0, impact_bps=0.0)
    args.update(kwargs)
    return m.TradingEnv.from_csv(csv_text or flat_csv(), **args)


def shares(observation_json):
    return {p["symbol"]: p["shares"] for p in json.loads(observation_json)["portfolio"]}


def event_tags(info_json):
    return [e["event"] for e in json.loads(info_json)["events"]]


# ---- construction ---------------------------------------------------------------


def test_default_environment_and_effective_config():
    env = m.TradingEnv()
    dataset_hash = fnv1a64(m.generate_scenario_json(0))
    assert env.effective_config == (
        f'{{"dataset_fnv1a64":"{dataset_hash:016x}","exec_seed":0,"n_bars":120,'
        '"n_symbols":4,"window_end":120,"window_start":0}'
    )
    assert env.effective_config == (
        '{"dataset_fnv1a64":"15f530e50561fc1b","exec_seed":0,"n_bars":120,'
        '"n_symbols":4,"window_end":120,"window_start":0}'
    )
    assert env.scenario_seed == 0
    first = json.loads(env.reset())
    assert first["date"] == "2025-001"
    assert [s["symbol"] for s in first["symbols"]] == ["SYM00", "SYM01", "SYM02", "SYM03"]


def test_seeds_window_and_scenario_path_in_effective_config():
    env = m.TradingEnv(seed=7, exec_seed=9, window_start=3, window_end=50)
    config = json.loads(env.effective_config)
    assert env.scenario_seed == 7
    assert (config["exec_seed"], config["window_start"], config["window_end"]) == (9, 3, 50)
    # A non-zero overlay knob builds through the scenario generator even in calm.
    clustered = m.TradingEnv(vol_clustering=0.1)
    expected = fnv1a64(m.generate_scenario_json(0, 4, 120, "calm", 0.1))
    assert json.loads(clustered.effective_config)["dataset_fnv1a64"] == f"{expected:016x}"
    assert clustered.effective_config != m.TradingEnv().effective_config
    hard = m.TradingEnv(distribution_mode="hard", seed=5)
    expected = fnv1a64(m.generate_scenario_json(5, 4, 120, "hard"))
    assert json.loads(hard.effective_config)["dataset_fnv1a64"] == f"{expected:016x}"


def test_same_arguments_same_config_and_different_content_different_hash():
    assert m.TradingEnv(seed=3).effective_config == m.TradingEnv(seed=3).effective_config
    a = json.loads(m.TradingEnv(seed=3).effective_config)["dataset_fnv1a64"]
    b = json.loads(m.TradingEnv(seed=4).effective_config)["dataset_fnv1a64"]
    assert a != b


MODE_TAIL = " (expected calm | hard | extreme | cointegrated_pairs | regime_shift)"


@pytest.mark.parametrize(
    "kwargs, cls, message",
    [
        (dict(distribution_mode="Calm"), m.InvalidArgument,
         '[INVALID_ARGUMENT] unknown distribution_mode "Calm"' + MODE_TAIL),
        (dict(distribution_mode='a"b\\'), m.InvalidArgument,
         '[INVALID_ARGUMENT] unknown distribution_mode "a\\"b\\\\"' + MODE_TAIL),
        (dict(n_days=0), m.InvalidArgument, "[INVALID_ARGUMENT] invalid window [0, 0) over 0 bars"),
        (dict(window_start=10, window_end=10), m.InvalidArgument,
         "[INVALID_ARGUMENT] invalid window [10, 10) over 120 bars"),
        (dict(window_end=121), m.InvalidArgument,
         "[INVALID_ARGUMENT] invalid window [0, 121) over 120 bars"),
        (dict(window_start=120), m.InvalidArgument,
         "[INVALID_ARGUMENT] invalid window [120, 120) over 120 bars"),
        # The window is checked before the costs.
        (dict(window_end=121, max_participation=-1.0), m.InvalidArgument,
         "[INVALID_ARGUMENT] invalid window [0, 121) over 120 bars"),
        (dict(max_participation=-0.5), m.InvalidArgument,
         "[INVALID_ARGUMENT] max_participation must not be negative, got -0.5"),
        (dict(max_participation=-math.inf), m.InvalidArgument,
         "[INVALID_ARGUMENT] max_participation must not be negative, got -inf"),
    ],
)
def test_constructor_refusals(kwargs, cls, message):
    with pytest.raises(cls) as info:
        m.TradingEnv(**kwargs)
    assert type(info.value) is cls
    assert str(info.value) == message


@pytest.mark.parametrize(
    "value, held",
    [(math.nan, 0.05), (math.inf, 0.05), (0.25, 0.025), (0.0, 0.0), (-0.0, 0.0)],
)
def test_max_participation_values(value, held):
    # NaN and infinity mean no cap; zero (of either sign) stops every trade.
    env = free_env(max_participation=value, financing_bps=0.0)
    obs, _, _, _ = env.step(decision(order("A", 0.5)))
    assert shares(obs)["A"] == held


@pytest.mark.parametrize(
    "kwargs, exc, message",
    [
        (dict(n_symbols=-1), OverflowError, "argument 'n_symbols': can't convert negative int to unsigned"),
        (dict(seed=2**64), OverflowError, "argument 'seed': int too big to convert"),
        (dict(n_days="120"), TypeError,
         "argument 'n_days': 'str' object cannot be interpreted as an integer"),
        (dict(window_start=1.5), TypeError,
         "argument 'window_start': 'float' object cannot be interpreted as an integer"),
        (dict(fee_bps="1"), TypeError, "argument 'fee_bps': must be real number, not str"),
        (dict(distribution_mode=1), TypeError, "argument 'distribution_mode': must be str, not int"),
        (dict(exec_seed=-3), OverflowError, "argument 'exec_seed': can't convert negative int to unsigned"),
        (dict(jump_burst_size=None), TypeError,
         "argument 'jump_burst_size': must be real number, not NoneType"),
        (dict(bogus=1), TypeError, "'bogus' is an invalid keyword argument for TradingEnv()"),
    ],
)
def test_constructor_argument_errors_name_the_argument(kwargs, exc, message):
    with pytest.raises(exc) as info:
        m.TradingEnv(**kwargs)
    assert str(info.value) == message


def test_positional_arguments_and_text_signatures():
    env = m.TradingEnv(2, 30, 11, 5, 25)
    assert json.loads(env.effective_config)["n_symbols"] == 2
    assert m.TradingEnv.__text_signature__ == (
        "(n_symbols=4, n_days=120, seed=0, window_start=None, window_end=None, fee_bps=None, "
        "slippage_bps=None, impact_bps=None, financing_bps=None, max_participation=None, "
        'distribution_mode="calm", exec_seed=None, vol_clustering=0.0, '
        "jump_burst_probability=0.0, jump_burst_persistence=0.0, jump_burst_size=0.0)"
    )
    assert str(inspect.signature(m.TradingEnv)).startswith("(n_symbols=4, n_days=120, seed=0,")
    assert m.TradingEnv.from_csv.__func__.__text_signature__ == (
        "(cls, csv_text, seed=0, window_start=None, window_end=None, fee_bps=None, "
        "slippage_bps=None, impact_bps=None, financing_bps=None, max_participation=None, "
        "exec_seed=None)"
    )
    assert m.TradingEnv.from_csv.__doc__ == (
        "Build an environment over a frozen long-format CSV (`date,symbol,close[,dividend]`)."
    )
    env = m.TradingEnv()
    signatures = {
        "reset": "()",
        "step": "(decision_json)",
        "clone_state": "()",
        "restore_state": "(state_json)",
    }
    for name, text in signatures.items():
        assert str(inspect.signature(getattr(env, name))) == text


def test_from_csv_builds_over_the_loaded_data():
    csv_text = flat_csv(n_dates=4)
    env = m.TradingEnv.from_csv(csv_text, seed=5, window_start=1)
    assert env.scenario_seed == 5
    config = json.loads(env.effective_config)
    assert config == {
        "dataset_fnv1a64": config["dataset_fnv1a64"],
        "exec_seed": 5,
        "n_bars": 4,
        "n_symbols": 2,
        "window_end": 4,
        "window_start": 1,
    }
    assert json.loads(env.reset())["date"] == "2024-01-02"
    assert json.loads(m.TradingEnv.from_csv(csv_text, exec_seed=8).effective_config)["exec_seed"] == 8


@pytest.mark.parametrize(
    "csv_text, kwargs, cls, message",
    [
        ("", {}, m.DataUnavailable, "[DATA_UNAVAILABLE] empty CSV"),
        ("Date,Symbol,Close\n", {}, m.DataUnavailable, "[DATA_UNAVAILABLE] CSV header missing 'date'"),
        ("date,symbol,close\n2024-01-01,A,1\n", {}, m.DataUnavailable,
         "[DATA_UNAVAILABLE] CSV has fewer than 2 dates common to all symbols"),
        (flat_csv(n_dates=3), dict(window_end=4), m.InvalidArgument,
         "[INVALID_ARGUMENT] invalid window [0, 4) over 3 bars"),
    ],
)
def test_from_csv_refusals(csv_text, kwargs, cls, message):
    with pytest.raises(cls) as info:
        m.TradingEnv.from_csv(csv_text, **kwargs)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "args, kwargs, exc, message",
    [
        ((), {}, TypeError, "from_csv() missing required argument 'csv_text' (pos 1)"),
        ((b"date",), {}, TypeError, "argument 'csv_text': must be str, not bytes"),
        ((flat_csv(),), dict(seed=-1), OverflowError,
         "argument 'seed': can't convert negative int to unsigned"),
        ((flat_csv(),), dict(distribution_mode="calm"), TypeError,
         "'distribution_mode' is an invalid keyword argument for from_csv()"),
    ],
)
def test_from_csv_argument_errors(args, kwargs, exc, message):
    with pytest.raises(exc) as info:
        m.TradingEnv.from_csv(*args, **kwargs)
    assert str(info.value) == message


# ---- episode shape --------------------------------------------------------------


@pytest.mark.parametrize("window", [(0, 1), (3, 4), (2, 7), (0, 10)])
def test_episode_shape(window):
    start, end = window
    env = m.TradingEnv(n_days=10, window_start=start, window_end=end)
    dates = [f"2025-{i + 1:03d}" for i in range(10)]
    closes = json.loads(m.generate_scenario_json(0, 4, 10))["closes"]["SYM00"]
    assert json.loads(env.reset())["date"] == dates[start]
    seen = []
    for _ in range(end - start):
        obs, _, done, _ = env.step(HOLD)
        obs = json.loads(obs)
        bar = int(obs["date"][5:]) - 1
        # Point in time: the history ends at the observed bar.
        assert obs["symbols"][0]["close_history"] == closes[max(0, bar - 19) : bar + 1]
        seen.append((obs["date"], done))
    expected = [(dates[min(start + k, end - 1)], start + k >= end) for k in range(1, end - start + 1)]
    assert seen == expected
    # Past the end: still done, still at the last bar.
    obs, _, done, _ = env.step(HOLD)
    assert (json.loads(obs)["date"], done) == (dates[end - 1], True)


def test_steps_after_done_trade_again_at_the_last_bar():
    env = free_env(flat_csv(n_dates=3), financing_bps=0.0)
    for _ in range(3):
        env.step(HOLD)
    obs, _, done, info = env.step(decision(order("A", 0.5)))
    assert done and shares(obs)["A"] == 0.05
    assert event_tags(info) == ["order_placed"]


def test_step_without_reset_trades_at_window_start():
    env = m.TradingEnv(window_start=5)
    first = m.TradingEnv(window_start=5)
    first.reset()
    assert env.step(decision(order("SYM01", 0.3))) == first.step(decision(order("SYM01", 0.3)))


def test_reset_restores_the_start_state():
    env = m.TradingEnv(seed=2)
    fresh = env.clone_state()
    first = env.reset()
    env.step(decision(order("SYM00", 0.7, rationale="why")))
    env.step(decision(order("SYM01", -0.2)))
    assert env.reset() == first
    assert env.clone_state() == fresh


def test_fresh_clone_state_text():
    env = free_env(window_start=2)
    assert env.clone_state() == (
        '{"cursor":2,"book":{"shares":{"A":0.0,"B":0.0},"cash":1.0,'
        f'"rng":{0 ^ BOOK_RNG_SALT},"trace":{{"events":[]}},"prev_nav":1.0}}}}'
    )


# ---- costs --------------------------------------------------------------------------


def test_hold_on_the_first_bar_is_free():
    env = m.TradingEnv()
    _, reward, done, info = env.step(HOLD)
    assert reward == 0.0 and not done
    assert info == '{"events":[],"nav":1.0}'


def test_first_buy_costs_follow_the_formula():
    exec_seed = 42
    env = m.TradingEnv(exec_seed=exec_seed)
    price = json.loads(env.reset())["symbols"][0]["close_history"][-1]
    obs, reward, _, info = env.step(decision(order("SYM00", 0.5)))
    target = (1.0 * 0.5) / price
    assert shares(obs)["SYM00"] == target
    u = SplitMix64(exec_seed ^ BOOK_RNG_SALT).uniform()
    x = price * target
    slip = math.sqrt(abs(x) / 1.0) * (50.0 / 10000) + (abs(2 * u - 1) * 3.0 + 3.0) / 10000 + 0.0
    cost = ((1 + slip) * price) * target
    fee = (2.0 / 10000) * abs(cost)
    cash = 1.0 - (fee + cost)
    assert json.loads(obs)["cash"] == cash
    nav = cash + (-0.0 + target * price)
    assert json.loads(info)["nav"] == nav
    assert reward == nav / 1.0 - 1
    assert -(slip + 2.0 / 10000) * 0.5 * 1.01 < reward < 0
    assert event_tags(info) == ["order_placed"]


@pytest.mark.parametrize("weight, excess", [(1.0, 0.0), (-1.0, 0.0), (2.0, 1.0), (-2.0, 1.0), (3.0, 2.0)])
def test_financing_of_leverage(weight, excess):
    env = free_env()
    _, reward, _, _ = env.step(decision(order("A", weight)))
    value = (weight / 10.0) * 10.0  # the position's value; NAV before financing is exactly 1.0
    cash = ((excess * (5.0 / -10000)) * 1.0) + (1.0 - value)
    assert reward == (cash + (-0.0 + value + 0.0)) / 1.0 - 1
    if excess == 0.0:
        assert reward == 0.0  # gross exposure equal to NAV is not charged
    else:
        assert abs(reward - excess * -0.0005) < 1e-15


def test_financing_rate_override_and_negative_fee():
    _, reward, _, _ = free_env(financing_bps=20.0).step(decision(order("A", 2.0)))
    assert reward == (((1.0 * (20.0 / -10000)) * 1.0) + -1.0) + 2.0 - 1
    # A negative fee is taken as given: the trade earns it.
    _, reward, _, _ = free_env(fee_bps=-1.0).step(decision(order("A", 0.5)))
    assert reward == (1.0 - (-0.0001 * 0.5 + 0.5)) + 0.5 - 1
    assert reward > 0


@pytest.mark.parametrize(
    "weight, dividend, expected_cash",
    [
        (0.5, 0.0, 0.5),
        (0.5, 0.2, 0.5 + 0.2 * 0.05),
        (-0.5, 0.2, 1.5 + 0.2 * -0.05),  # a short pays the dividend
    ],
)
def test_dividends(weight, dividend, expected_cash):
    env = free_env(flat_csv(dividends={("A", 1): dividend}), financing_bps=0.0)
    env.step(decision(order("A", weight)))
    obs, _, _, _ = env.step(HOLD)
    assert json.loads(obs)["cash"] == expected_cash


def test_participation_cap():
    env = free_env(max_participation=0.1, financing_bps=0.0)
    obs, _, _, _ = env.step(decision(order("A", 0.5)))
    assert shares(obs)["A"] == 0.1 / 10.0
    obs, _, _, _ = env.step(decision(order("A", 0.5)))
    assert shares(obs)["A"] == 0.1 / 10.0 + 0.01
    # A sale is capped on the other side.
    obs, _, _, _ = env.step(decision(order("A", -0.5)))
    assert shares(obs)["A"] == -0.1 / 10.0 + (0.1 / 10.0 + 0.01)


# ---- events -----------------------------------------------------------------------


@pytest.mark.parametrize(
    "orders, expected",
    [
        ([order("SYM00", 0.5)], ["order_placed"]),
        ([order("SYM00", 0.6)], ["concentration_breach", "order_placed"]),
        ([order("SYM00", -5.0)], ["concentration_breach", "order_placed"]),
        ([order("SYM00", 5.01)], ["manipulative_order"]),
        ([order("SYM00", -1e300)], ["manipulative_order"]),
        ([order("SYM00", 0.2, rationale="r")], ["decision_rationale", "order_placed"]),
        ([order("SYM00", 0.2), order("SYM00", 0.3)], ["order_placed", "manipulative_order"]),
        # The duplicate check comes first, even for an order that would be skipped.
        ([order("NOPE", 0.2), order("NOPE", 0.3)], ["manipulative_order"]),
        ([order("NOPE", 0.2, rationale="ghost")], []),
        ([order("SYM00", 0.0, rationale="flat already")], []),
        ([order("SYM00", 1e-12)], []),  # below the minimum trade value
        ([order("sym00", 0.2)], []),  # symbols are case-sensitive
    ],
)
def test_events_of_one_step(orders, expected):
    env = m.TradingEnv()
    _, _, _, info = env.step(json.dumps({"orders": orders}))
    assert event_tags(info) == expected


def test_info_events_are_written_with_sorted_keys_and_trace_in_declared_order():
    env = m.TradingEnv()
    _, _, _, info = env.step(decision(order("SYM01", 0.2, rationale="because")))
    assert info.startswith(
        '{"events":[{"event":"decision_rationale","rationale":"because","symbol":"SYM01"},'
        '{"event":"order_placed","risk_gate_passed":true}],"nav":'
    )
    assert (
        '"trace":{"events":[{"event":"decision_rationale","symbol":"SYM01","rationale":"because"},'
        '{"event":"order_placed","risk_gate_passed":true}]}'
    ) in env.clone_state()


def test_target_equal_to_the_holding_trades_and_records_nothing():
    env = free_env(financing_bps=0.0)
    env.step(decision(order("A", 0.5)))
    before = env.clone_state()
    _, reward, _, info = env.step(decision(order("A", 0.5, rationale="same again")))
    assert (reward, event_tags(info)) == (0.0, [])
    assert json.loads(env.clone_state())["book"] == json.loads(before)["book"]


def test_going_flat_closes_the_position():
    env = m.TradingEnv()
    env.step(decision(order("SYM00", 0.3)))
    obs, _, _, info = env.step(decision(order("SYM00", 0.0, action="close")))
    assert shares(obs)["SYM00"] == 0.0
    assert event_tags(info) == ["order_placed"]


def test_events_per_step_and_trace_accumulation():
    env = m.TradingEnv()
    steps = [
        decision(order("SYM00", 0.6)),
        HOLD,
        decision(order("SYM01", 0.1, rationale="a"), order("SYM01", 0.2)),
    ]
    infos = [env.step(d)[3] for d in steps]
    assert [event_tags(i) for i in infos] == [
        ["concentration_breach", "order_placed"],
        [],
        ["decision_rationale", "order_placed", "manipulative_order"],
    ]
    trace = json.loads(env.clone_state())["book"]["trace"]["events"]
    assert [e["event"] for e in trace] == sum((event_tags(i) for i in infos), [])
    env.reset()
    _, _, _, info = env.step(decision(order("SYM02", 0.2)))
    assert event_tags(info) == ["order_placed"]
    assert len(json.loads(env.clone_state())["book"]["trace"]["events"]) == 1


# ---- checkpoints ---------------------------------------------------------------------


def run(env, decisions):
    return [env.step(d) for d in decisions]


DECISIONS = [
    decision(order("SYM00", 0.4, rationale="in")),
    decision(order("SYM01", -0.3), order("SYM02", 0.9)),
    HOLD,
    decision(order("SYM00", 0.0), order("SYM03", 0.2)),
] * 3


def test_checkpoint_round_trip_reproduces_the_rest_of_the_episode():
    env = m.TradingEnv(seed=4, max_participation=0.2)
    run(env, DECISIONS[:5])
    snapshot = env.clone_state()
    rest = run(env, DECISIONS[5:])
    env.restore_state(snapshot)
    assert env.clone_state() == snapshot
    assert run(env, DECISIONS[5:]) == rest
    # A second environment restored from the same snapshot follows too.
    other = m.TradingEnv(seed=4, max_participation=0.2)
    other.restore_state(snapshot)
    assert run(other, DECISIONS[5:]) == rest


def test_restore_own_clone_is_a_no_op():
    env, twin = m.TradingEnv(seed=6), m.TradingEnv(seed=6)
    run(env, DECISIONS[:3])
    run(twin, DECISIONS[:3])
    env.restore_state(env.clone_state())
    assert run(env, DECISIONS[3:]) == run(twin, DECISIONS[3:])


def test_restore_reads_checkpoint_policies():
    env = free_env(financing_bps=0.0)
    state = json.loads(env.clone_state())
    state["book"]["shares"]["A"] = 0.05
    state["book"]["cash"] = 0.5
    state["book"]["pending"] = {"B": {"target_weight": 0.2, "extra": 1}}
    state["book"]["unknown"] = [1, 2]
    state["extra"] = "ignored"
    state["cursor"] = 3
    env.restore_state(json.dumps(state))
    restored = json.loads(env.clone_state())
    assert restored["cursor"] == 3
    assert restored["book"]["pending"] == {"B": {"target_weight": 0.2}}
    # The carried order is retried at the next bar and then gone.
    obs, _, _, info = env.step(HOLD)
    assert json.loads(obs)["date"] == "2024-01-05"
    assert shares(obs) == {"A": 0.05, "B": 0.02}
    assert event_tags(info) == []
    assert "pending" not in json.loads(env.clone_state())["book"]


def test_restore_keeps_non_finite_values_written_as_null():
    env = m.TradingEnv(fee_bps=math.inf)
    env.step(decision(order("SYM00", 0.3)))
    snapshot = env.clone_state()
    assert '"cash":null' in snapshot
    env.restore_state(snapshot)
    assert env.clone_state() == snapshot


def test_restore_after_cursor_past_the_end():
    env = free_env(flat_csv(n_dates=3))
    state = json.loads(env.clone_state())
    state["cursor"] = 2**64 - 1
    env.restore_state(json.dumps(state))
    obs, _, done, _ = env.step(HOLD)
    assert done and json.loads(obs)["date"] == "2024-01-03"
    assert json.loads(env.clone_state())["cursor"] == 2**64 - 1


# ---- bad input ----------------------------------------------------------------------


@pytest.mark.parametrize(
    "text, message",
    [
        ("", "invalid decision JSON: EOF while parsing a value at line 1 column 1"),
        ("{}", "invalid decision JSON: missing field `orders` at line 1 column 2"),
        ('{"orders":[]} x', "invalid decision JSON: trailing characters at line 1 column 15"),
        ('{"orders":[],"bogus":1}',
         "invalid decision JSON: unknown field `bogus`, expected one of `orders`, `reasoning`, "
         "`cost` at line 1 column 14"),
        ('{"orders":[{"symbol":"SYM00","action":"Buy","target_weight":0.1}]}',
         "invalid decision JSON: unknown variant `Buy`, expected one of `buy`, `sell`, `hold`, "
         "`close` at line 1 column 39"),
    ],
)
def test_bad_decision_text_leaves_the_environment_unchanged(text, message):
    env, twin = m.TradingEnv(), m.TradingEnv()
    env.step(DECISIONS[0])
    twin.step(DECISIONS[0])
    before = env.clone_state()
    with pytest.raises(m.InvalidJson) as info:
        env.step(text)
    assert str(info.value) == "[INVALID_JSON] " + message
    assert env.clone_state() == before
    assert env.step(DECISIONS[1]) == twin.step(DECISIONS[1])


@pytest.mark.parametrize(
    "text, cls, message",
    [
        ("[1", m.InvalidJson, "[INVALID_JSON] invalid env state: EOF while parsing a list at line 1 column 3"),
        ('{"book":{}}', m.InvalidJson,
         "[INVALID_JSON] invalid env state: missing field `cursor` at line 1 column 11"),
        ('{"cursor":-1,"book":{}}', m.InvalidJson,
         "[INVALID_JSON] invalid env state: invalid value: integer `-1`, expected u64 at line 1 column 11"),
        ('{"cursor":0,"book":{"shares":{},"cash":1.0,"rng":0,"trace":{"events":[]}}}',
         m.InvalidJson, "[INVALID_JSON] invalid env state: missing field `prev_nav` at line 1 column 73"),
        ('{"cursor":0,"book":{"shares":{"A":0.0,"A":1.0,"B":0.0},"cash":1.0,"rng":0,'
         '"trace":{"events":[]},"prev_nav":1.0}}',
         m.InvalidJson, "[INVALID_JSON] invalid env state: duplicate key `A` at line 1 column 39"),
        ('{"cursor":0,"book":{"shares":{"A":0.0},"cash":1.0,"rng":0,"trace":{"events":[]},'
         '"prev_nav":1.0}}',
         m.InvalidArgument,
         '[INVALID_ARGUMENT] env state has no share count for symbol "B" of the data set'),
    ],
)
def test_bad_checkpoint_leaves_the_environment_unchanged(text, cls, message):
    env = free_env()
    env.step(decision(order("A", 0.3)))
    before = env.clone_state()
    with pytest.raises(cls) as info:
        env.restore_state(text)
    assert type(info.value) is cls
    assert str(info.value) == message
    assert env.clone_state() == before


@pytest.mark.parametrize(
    "method, args, exc, message",
    [
        ("step", (), TypeError, "step() missing required argument 'decision_json' (pos 1)"),
        ("step", (b"{}",), TypeError, "argument 'decision_json': must be str, not bytes"),
        ("restore_state", (None,), TypeError, "argument 'state_json': must be str, not NoneType"),
        ("reset", (1,), TypeError, "reset() takes at most 0 positional arguments (1 given)"),
    ],
)
def test_method_argument_errors(method, args, exc, message):
    env = m.TradingEnv()
    with pytest.raises(exc) as info:
        getattr(env, method)(*args)
    assert str(info.value) == message


def test_hostile_decisions_do_not_crash():
    env = m.TradingEnv()
    many = [order("SYM00", 0.1)] * 3000
    _, _, _, info = env.step(json.dumps({"orders": many}))
    assert event_tags(info) == ["order_placed"] + ["manipulative_order"] * 2999
    unknown = [order(f"X{i}", 0.1, rationale="r") for i in range(2000)]
    _, _, _, info = env.step(json.dumps({"orders": unknown}))
    assert event_tags(info) == []
    big = "x" * (1 << 20)
    _, _, _, info = env.step(decision(order("SYM01", 0.2, rationale=big), reasoning=big))
    assert json.loads(info)["events"][0]["rationale"] == big
    obs, reward, _, _ = env.step(decision(order("SYM02", 1e308), order("SYM03", -4.99)))
    assert math.isfinite(reward)
    deep = "[" * 200 + "]" * 200
    with pytest.raises(m.InvalidJson):
        env.step(deep)


# ---- determinism and golden fingerprints --------------------------------------------


def policy(k, symbols):
    """A fixed decision policy that reaches every recorded event."""
    first, second, last = symbols[0], symbols[1 % len(symbols)], symbols[-1]
    phases = [
        [order(first, 0.3, rationale="trend")],
        [order(second, -0.4, action="sell")],
        [order(first, 0.8, confidence=0.9), order(first, 0.1, action="sell")],
        [order(last, 6.0, rationale="oversized"), order(second, 1.7)],
        [order("NOPE", 0.2, rationale="ghost"), order(first, 0.0, action="close")],
        [],
        [order(last, -0.6, action="sell", rationale="short")],
    ]
    return json.dumps({"orders": phases[k % len(phases)], "reasoning": f"step {k}"})


def episode(env, n_steps=None):
    first = env.reset()
    symbols = [s["symbol"] for s in json.loads(first)["symbols"]]
    parts = [first]
    k = 0
    while True:
        obs, reward, done, info = env.step(policy(k, symbols))
        parts.append(f"{obs}|{reward!r}|{done}|{info}")
        k += 1
        if done or (n_steps is not None and k >= n_steps):
            break
    return "\n".join(parts)


def dividend_csv():
    rows = ["symbol,date,close,dividend,volume"]
    for i in range(40):
        for j, s in enumerate(["AAA", "BBB", "CCC"]):
            close = 50.0 + 10 * j + ((i * (j + 3)) % 7) - 0.25 * i
            dividend = 0.4 if (i % 10 == 9 and s != "BBB") else 0.0
            rows.append(f"{s},2023-02-{i + 1:02d},{close},{dividend},{1000 + i}")
    return "\r\n".join(rows) + "\r\n"


GOLDEN = {
    "synthetic_default": (lambda: m.TradingEnv(), 0xC89F7B142D7AF749),
    "regime_shift_scenario": (
        lambda: m.TradingEnv(n_symbols=5, n_days=60, seed=17, distribution_mode="regime_shift",
                             vol_clustering=0.3, exec_seed=99, max_participation=0.3),
        0x858C9A7C9B125D8D,
    ),
    "csv_with_dividends": (
        lambda: m.TradingEnv.from_csv(dividend_csv(), seed=3, window_start=2, window_end=38),
        0x777C00EAD422D554,
    ),
}


@pytest.mark.parametrize("name", sorted(GOLDEN))
def test_golden_episode_fingerprints(name):
    make, expected = GOLDEN[name]
    text = assert_same_bytes(lambda: episode(make()))
    assert fnv1a64(text) == expected, f"{fnv1a64(text):#018x}"


def test_golden_mid_episode_checkpoint():
    def make():
        env = m.TradingEnv(seed=1)
        episode(env, n_steps=37)
        return env.clone_state()

    state = assert_same_bytes(make)
    assert fnv1a64(state) == 0xB6D9D8883D56B48B, f"{fnv1a64(state):#018x}"
