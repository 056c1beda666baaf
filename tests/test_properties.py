"""Arbitrary text at every method that reads text: it is accepted, or refused
with a coded error, and a refused call leaves the object exactly as it was."""

import json

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from corvane import corvane_py as cv

json_values = st.recursive(
    st.none() | st.booleans() | st.integers(-(2**70), 2**70)
    | st.floats(allow_nan=False, allow_infinity=False) | st.text(max_size=20),
    lambda children: st.lists(children, max_size=6)
    | st.dictionaries(st.sampled_from(
        ["orders", "symbol", "action", "target_weight", "confidence", "rationale", "reasoning",
         "cost", "agent", "kind", "side", "price_tick", "qty", "id", "new_qty", "shares", "cash",
         "rng", "trace", "prev_nav", "pending", "events", "event", "style", "x"]) | st.text(max_size=8),
        children, max_size=6),
    max_leaves=25,
)
texts = st.one_of(st.text(max_size=200), json_values.map(json.dumps))

PROPERTY = settings(max_examples=150, deadline=None,
                    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])


def accepted_or_coded(call, *codes):
    """Runs `call`; returns True when it succeeded, False when refused with one of `codes`."""
    try:
        call()
        return True
    except cv.CorvaneError as exc:
        assert type(exc) in codes, (type(exc), str(exc))
        assert str(exc).startswith("[")
        return False


@PROPERTY
@given(texts)
def test_validate_decision_never_raises(text):
    assert cv.validate_decision_json(text) in (True, False)


@pytest.fixture(scope="module")
def stepped_env_state():
    env = cv.TradingEnv(n_symbols=3, n_days=30, seed=11)
    env.reset()
    env.step(json.dumps({"orders": [{"symbol": "SYM00", "action": "buy", "target_weight": 0.4}]}))
    return env.clone_state()


@PROPERTY
@given(texts)
def test_trading_env_step_and_restore(stepped_env_state, text):
    env = cv.TradingEnv(n_symbols=3, n_days=30, seed=11)
    env.restore_state(stepped_env_state)
    ok = accepted_or_coded(lambda: env.step(text), cv.InvalidJson)
    assert ok == cv.validate_decision_json(text)
    if not ok:
        assert env.clone_state() == stepped_env_state
    before = env.clone_state()
    if not accepted_or_coded(lambda: env.restore_state(text), cv.InvalidJson, cv.InvalidArgument):
        assert env.clone_state() == before


@PROPERTY
@given(st.one_of(st.text(max_size=300), st.binary(max_size=300).map(
    lambda b: b.decode("utf-8", "replace"))))
def test_trading_env_from_csv(text):
    accepted_or_coded(lambda: cv.TradingEnv.from_csv(text), cv.DataUnavailable, cv.InvalidArgument)


@PROPERTY
@given(texts)
def test_order_book_step(text):
    book = cv.PyOrderBook()
    book.step_book(json.dumps([
        {"agent": 1, "kind": "limit", "side": "buy", "price_tick": 99, "qty": 4},
        {"agent": 2, "kind": "limit", "side": "sell", "price_tick": 101, "qty": 3},
    ]))
    before = book.ladder()
    if not accepted_or_coded(lambda: book.step_book(text), cv.InvalidJson, cv.InvalidArgument):
        assert book.ladder() == before
        # The next batch behaves as on an untouched book, ids included.
        twin = cv.PyOrderBook()
        twin.step_book(json.dumps([
            {"agent": 1, "kind": "limit", "side": "buy", "price_tick": 99, "qty": 4},
            {"agent": 2, "kind": "limit", "side": "sell", "price_tick": 101, "qty": 3},
        ]))
        probe = json.dumps([{"agent": 3, "kind": "market", "side": "buy", "qty": 2},
                            {"agent": 3, "kind": "cancel", "id": 0}])
        assert book.step_book(probe) == twin.step_book(probe)


@PROPERTY
@given(st.one_of(texts, st.lists(st.lists(
    st.floats(allow_nan=True, allow_infinity=True), max_size=4), max_size=3).map(json.dumps)))
def test_market_step(text):
    market = cv.PyMarketClearing(n_symbols=3, n_days=20, n_agents=2)
    twin = cv.PyMarketClearing(n_symbols=3, n_days=20, n_agents=2)
    if not accepted_or_coded(lambda: market.step_market(text), cv.InvalidJson, cv.InvalidArgument):
        probe = json.dumps([[0.1, 0.0, -0.1], [0.0, 0.2, 0.0]])
        assert market.step_market(probe) == twin.step_market(probe)


@PROPERTY
@given(st.one_of(texts, st.lists(json_values, max_size=3).map(json.dumps)))
def test_vec_env_step_batch(text):
    env = cv.VecTradingEnv([3, 4], n_symbols=2, n_days=8)
    twin = cv.VecTradingEnv([3, 4], n_symbols=2, n_days=8)
    probe = json.dumps([{"orders": [{"symbol": "SYM00", "action": "buy", "target_weight": 0.5}]},
                        {"orders": []}])
    env.step_batch(probe)
    twin.step_batch(probe)
    if not accepted_or_coded(lambda: env.step_batch(text), cv.InvalidJson, cv.InvalidArgument):
        # Every lane, and every pending reset, as if the call never happened.
        for _ in range(9):
            assert env.step_batch(probe) == twin.step_batch(probe)


@PROPERTY
@given(texts)
def test_mandate_breach(text):
    accepted_or_coded(lambda: cv.mandate_breach(text, [0.01, -0.02], [[0.5, 0.5]]),
                      cv.InvalidJson, cv.InvalidArgument)
