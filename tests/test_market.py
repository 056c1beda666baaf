import inspect
import json
import math
import re

import pytest

from conftest import assert_same_bytes, fnv1a64
from corvane import corvane_py as m

ZERO_ORDERS = "[[0.0,0.0,0.0,0.0],[0.0,0.0,0.0,0.0]]"
RESULT_KEYS = ["cleared_mids", "cursor", "done", "fills", "navs", "net_flow", "observations",
               "rewards"]
INIT_SIGNATURE = (
    "(n_symbols=4, n_days=120, seed=0, n_agents=2, capital=1.0, kyle_lambda=0.1, eta=0.05, "
    "volume_scale=1.0, vol_scale=0.0, distribution_mode='calm', richness='standard', "
    "lambda_radius=None, eta_radius=None, uncertainty_correlation=0.0, impact_exponent=1.0)")


def closes_of(seed=0, n_symbols=4, n_days=120, mode="calm"):
    return json.loads(m.generate_scenario_json(seed, n_symbols, n_days, mode))["closes"]


def step(market, orders):
    return json.loads(market.step_market(json.dumps(orders)))


def episode_orders(t, n_agents, n_symbols):
    """A fixed, varied stream of target weights: buys, sales, flat and repeated rows."""
    return [[(((a * 7 + k * 3 + t * 5) % 11) - 5) / 10.0 for k in range(n_symbols)]
            for a in range(n_agents)]


def test_signatures():
    assert str(inspect.signature(m.PyMarketClearing)) == INIT_SIGNATURE
    methods = {
        "step_market": "(orders_json)",
        "reset_market": "()",
        "set_uncertainty": "(lambda_radius=None, eta_radius=None, correlation=0.0)",
        "set_impact_exponent": "(impact_exponent)",
    }
    market = m.PyMarketClearing()
    for name, signature in methods.items():
        assert str(inspect.signature(getattr(market, name))) == signature
        unbound = "(self)" if signature == "()" else "(self, " + signature[1:]
        assert str(inspect.signature(getattr(m.PyMarketClearing, name))) == unbound


def test_reset_of_a_default_market():
    market = m.PyMarketClearing()
    reset = json.loads(market.reset_market())
    assert list(reset) == ["capital", "cursor", "n_agents", "n_bars", "observations", "start_bar",
                           "symbols"]
    assert {k: v for k, v in reset.items() if k != "observations"} == {
        "capital": 1.0, "cursor": 20, "n_agents": 2, "n_bars": 120, "start_bar": 20,
        "symbols": ["SYM00", "SYM01", "SYM02", "SYM03"]}
    closes = closes_of()
    assert len(reset["observations"]) == 2
    for obs in reset["observations"]:
        assert list(obs) == ["cash", "date", "portfolio", "symbols"]
        assert obs["date"] == "2025-021" and obs["cash"] == 1.0
        assert obs["portfolio"] == [{"avg_price": 0.0, "shares": 0.0, "symbol": s}
                                    for s in reset["symbols"]]
        # The window is the 20 closes from bar 1 to bar 20.
        assert obs["symbols"] == [{"close_history": closes[s][1:21], "fundamentals": {},
                                   "news": [], "symbol": s} for s in reset["symbols"]]
    assert market.done is False
    assert (market.symbols, market.num_agents, market.scenario_seed) == (reset["symbols"], 2, 0)


def test_reset_text_of_a_tiny_market():
    market = m.PyMarketClearing(n_symbols=1, n_days=3, n_agents=1, seed=9, capital=2.5)
    dataset = m.generate_scenario_json(9, 1, 3)
    history = re.search(r'"SYM00":(\[[^]]*\])', dataset).group(1)
    assert market.reset_market() == (
        '{"capital":2.5,"cursor":2,"n_agents":1,"n_bars":3,"observations":[{"cash":2.5,'
        '"date":"2025-003","portfolio":[{"avg_price":0.0,"shares":0.0,"symbol":"SYM00"}],'
        '"symbols":[{"close_history":' + history + ',"fundamentals":{},"news":[],'
        '"symbol":"SYM00"}]}],"start_bar":2,"symbols":["SYM00"]}')


def test_step_without_trades():
    market = m.PyMarketClearing()
    out = json.loads(market.step_market(ZERO_ORDERS))
    assert list(out) == RESULT_KEYS
    closes = closes_of()
    mids = [closes[s][20] for s in market.symbols]
    assert out["cleared_mids"] == mids
    assert out["cursor"] == 21 and out["done"] is False
    assert out["fills"] == [[{"fill_price": p, "size": 0.0, "symbol": s}
                             for s, p in zip(market.symbols, mids)]] * 2
    assert out["navs"] == [1.0, 1.0] and out["rewards"] == [0.0, 0.0]
    assert out["net_flow"] == [0.0] * 4
    assert [o["date"] for o in out["observations"]] == ["2025-021"] * 2


@pytest.mark.parametrize("x", [1.0, 0.5, 1.5])
def test_first_trade_follows_the_impact_formulas(x):
    lam, eta, vol = 0.2, 0.05, 2.0
    market = m.PyMarketClearing(n_symbols=2, kyle_lambda=lam, eta=eta, volume_scale=vol,
                                impact_exponent=x)
    orders = [[0.5, -0.25], [0.125, 0.3]]
    out = step(market, orders)
    mids = out["cleared_mids"]
    trades = [[(w * 1.0) / mid for w, mid in zip(row, mids)] for row in orders]
    net = [(trades[1][k] + (trades[0][k] + 0.0)) for k in range(2)]
    assert out["net_flow"] == net

    def spow(z):
        return z ** x if z >= 0 else -((-z) ** x)

    for a, row in enumerate(trades):
        cash, value = 1.0, -0.0
        for k, q in enumerate(row):
            if x == 1.0:
                imp = (q * eta + net[k] * lam) / vol
            else:
                imp = (eta * q) / vol + lam * spow(net[k] / vol)
            price = mids[k] * (imp * 1.0 + 1.0)
            assert out["fills"][a][k] == {"fill_price": price, "size": q,
                                          "symbol": market.symbols[k]}
            cash = cash - q * price
            value = value + q * mids[k]
        assert out["navs"][a] == value + cash
        assert out["rewards"][a] == ((value + cash) - 1.0) / 1.0
        obs = out["observations"][a]
        assert obs["cash"] == cash
        assert [p["shares"] for p in obs["portfolio"]] == row
        assert [p["avg_price"] for p in obs["portfolio"]] == [
            abs((q * f["fill_price"]) / q) for q, f in zip(row, out["fills"][a])]


def test_orders_accept_integers_as_floats():
    a, b = m.PyMarketClearing(), m.PyMarketClearing()
    assert a.step_market("[[1,0,-1,0],[0,0,0,2]]") == b.step_market(
        "[[1.0,0.0,-1.0,0.0],[0.0,0.0,0.0,2.0]]")


@pytest.mark.parametrize("kwargs, error, message", [
    ({"n_agents": 0, "distribution_mode": "nope"}, m.InvalidArgument,
     "[INVALID_ARGUMENT] n_agents must be >= 1"),
    ({"distribution_mode": "HARD", "richness": "rich"}, m.InvalidArgument,
     '[INVALID_ARGUMENT] unknown distribution_mode "HARD" (expected calm | hard | extreme | '
     'cointegrated_pairs | regime_shift)'),
    ({"richness": "rich"}, m.InvalidArgument,
     '[INVALID_ARGUMENT] unknown richness "rich" (expected data_poor | standard | data_rich)'),
    ({"richness": 'a"b\\\n'}, m.InvalidArgument,
     '[INVALID_ARGUMENT] unknown richness "a\\"b\\\\\\n" (expected data_poor | standard | '
     'data_rich)'),
    ({"richness": "Standard", "impact_exponent": 0.0}, m.InvalidArgument,
     '[INVALID_ARGUMENT] unknown richness "Standard" (expected data_poor | standard | '
     'data_rich)'),
    ({"lambda_radius": -1.0}, m.InvalidArgument,
     "[INVALID_ARGUMENT] uncertainty radii must be finite and non-negative"),
    ({"eta_radius": math.inf}, m.InvalidArgument,
     "[INVALID_ARGUMENT] uncertainty radii must be finite and non-negative"),
    ({"lambda_radius": math.nan, "uncertainty_correlation": 2.0}, m.InvalidArgument,
     "[INVALID_ARGUMENT] uncertainty radii must be finite and non-negative"),
    ({"lambda_radius": 0.1, "uncertainty_correlation": 1.5}, m.InvalidArgument,
     "[INVALID_ARGUMENT] uncertainty_correlation must lie in [-1, 1]"),
    ({"eta_radius": 0.1, "uncertainty_correlation": math.nan}, m.InvalidArgument,
     "[INVALID_ARGUMENT] uncertainty_correlation must lie in [-1, 1]"),
    ({"lambda_radius": 0.1, "impact_exponent": -1.0}, m.InvalidArgument,
     "[INVALID_ARGUMENT] impact_exponent must be a positive finite number (1.0 = linear)"),
    ({"impact_exponent": 0.0}, m.InvalidArgument,
     "[INVALID_ARGUMENT] impact_exponent must be a positive finite number (1.0 = linear)"),
    ({"impact_exponent": math.inf}, m.InvalidArgument,
     "[INVALID_ARGUMENT] impact_exponent must be a positive finite number (1.0 = linear)"),
    ({"impact_exponent": math.nan}, m.InvalidArgument,
     "[INVALID_ARGUMENT] impact_exponent must be a positive finite number (1.0 = linear)"),
    ({"n_agents": -1}, OverflowError,
     "argument 'n_agents': can't convert negative int to unsigned"),
    ({"seed": 1 << 64}, OverflowError, "argument 'seed': int too big to convert"),
    ({"richness": 1}, TypeError, "argument 'richness': must be str, not int"),
    ({"capital": "1"}, TypeError, "argument 'capital': must be real number, not str"),
    ({"lambda_radius": "0.1"}, TypeError,
     "argument 'lambda_radius': must be real number, not str"),
    ({"foo": 1}, TypeError, "'foo' is an invalid keyword argument for PyMarketClearing()"),
])
def test_construction_refusals(kwargs, error, message):
    with pytest.raises(error) as info:
        m.PyMarketClearing(**kwargs)
    assert type(info.value) is error
    assert str(info.value) == message


@pytest.mark.parametrize("kwargs", [
    {"n_symbols": 0}, {"n_days": 1}, {"n_days": 0},
    {"n_symbols": 0, "impact_exponent": 0.0, "lambda_radius": -1.0},
])
def test_empty_market_is_an_internal_fault(kwargs):
    with pytest.raises(BaseException) as info:
        m.PyMarketClearing(**kwargs)
    assert not isinstance(info.value, Exception)
    assert str(info.value) == "need at least one symbol and two bars"


def test_accepted_edge_values():
    assert m.PyMarketClearing(impact_exponent=5e-324).impact_exponent == 5e-324
    market = m.PyMarketClearing(lambda_radius=-0.0, uncertainty_correlation=-1.0)
    assert market.uncertainty == '{"correlation":-1.0,"eta_radius":0.0,"lambda_radius":-0.0}'
    assert m.PyMarketClearing(uncertainty_correlation=5.0).uncertainty is None


@pytest.mark.parametrize("orders_json, error, message", [
    ("{}", m.InvalidJson,
     "[INVALID_JSON] invalid orders JSON: invalid type: map, expected a sequence at line 1 "
     "column 1"),
    ("[1,2]", m.InvalidJson,
     "[INVALID_JSON] invalid orders JSON: invalid type: integer `1`, expected a sequence at "
     "line 1 column 2"),
    ('[[0,0,0,0],[0,0,"a",0]]', m.InvalidJson,
     '[INVALID_JSON] invalid orders JSON: invalid type: string "a", expected f64 at line 1 '
     'column 17'),
    ("[[0,0,0,0],[0,0,0,0]] x", m.InvalidJson,
     "[INVALID_JSON] invalid orders JSON: trailing characters at line 1 column 23"),
    ("[[0,0,0,0],\n [0,0,0,1e999]]", m.InvalidJson,
     "[INVALID_JSON] invalid orders JSON: number out of range at line 2 column 9"),
    # Shape checks only run once the whole text has parsed.
    ('[[0,0,0],["x"]]', m.InvalidJson,
     '[INVALID_JSON] invalid orders JSON: invalid type: string "x", expected f64 at line 1 '
     'column 11'),
    ("[[0.0,0.0,0.0,0.0]]", m.InvalidArgument,
     "[INVALID_ARGUMENT] expected 2 agent order vectors, got 1"),
    ("[]", m.InvalidArgument, "[INVALID_ARGUMENT] expected 2 agent order vectors, got 0"),
    ("[[0,0,0,0],[0,0,0]]", m.InvalidArgument,
     "[INVALID_ARGUMENT] agent 1 order vector has 3 weights, expected 4"),
    ("[[0,0,0,0,0],[0,0,0]]", m.InvalidArgument,
     "[INVALID_ARGUMENT] agent 0 order vector has 5 weights, expected 4"),
])
def test_step_refusals_leave_the_market_unchanged(orders_json, error, message):
    market, fresh = m.PyMarketClearing(lambda_radius=0.1), m.PyMarketClearing(lambda_radius=0.1)
    market.step_market("[[0.1,0,0,0],[0,0,0.2,0]]")
    fresh.step_market("[[0.1,0,0,0],[0,0,0.2,0]]")
    with pytest.raises(error) as info:
        market.step_market(orders_json)
    assert type(info.value) is error
    assert str(info.value) == message
    orders = "[[0.3,-0.1,0,0],[0,0.4,0.2,0]]"
    assert market.step_market(orders) == fresh.step_market(orders)


def test_step_argument_errors():
    market = m.PyMarketClearing()
    with pytest.raises(TypeError) as info:
        market.step_market(1)
    assert str(info.value) == "argument 'orders_json': must be str, not int"
    with pytest.raises(TypeError) as info:
        market.set_impact_exponent("0.5")
    assert str(info.value) == "argument 'impact_exponent': must be real number, not str"


def test_uncertainty_settings():
    market = m.PyMarketClearing(lambda_radius=0.1)
    assert market.uncertainty == '{"correlation":0.0,"eta_radius":0.0,"lambda_radius":0.1}'
    for kwargs, message in [
        ({"eta_radius": -1.0}, "uncertainty radii must be finite and non-negative"),
        ({"lambda_radius": 0.2, "correlation": -1.01},
         "uncertainty_correlation must lie in [-1, 1]"),
    ]:
        with pytest.raises(m.InvalidArgument) as info:
            market.set_uncertainty(**kwargs)
        assert str(info.value) == "[INVALID_ARGUMENT] " + message
        assert market.uncertainty == '{"correlation":0.0,"eta_radius":0.0,"lambda_radius":0.1}'
    market.set_uncertainty(eta_radius=0.25, correlation=0.5)
    assert market.uncertainty == '{"correlation":0.5,"eta_radius":0.25,"lambda_radius":0.0}'
    market.set_uncertainty(correlation=9.0)
    assert market.uncertainty is None
    assert "robust_impact" not in json.loads(market.step_market(ZERO_ORDERS))


def test_zero_radii_list_the_point_estimates():
    robust = m.PyMarketClearing(kyle_lambda=0.3, eta=0.02, lambda_radius=0.0, eta_radius=0.0)
    plain = m.PyMarketClearing(kyle_lambda=0.3, eta=0.02)
    for t in range(3):
        orders = json.dumps(episode_orders(t, 2, 4))
        with_set = json.loads(robust.step_market(orders))
        assert with_set.pop("robust_impact") == [{"eta": 0.02, "lambda": 0.3}] * 4
        assert with_set == json.loads(plain.step_market(orders))


def test_robust_impact_raises_the_coefficients():
    market = m.PyMarketClearing(lambda_radius=0.05, eta_radius=0.02, uncertainty_correlation=0.3)
    out = step(market, [[0.5, 0.0, -0.2, 0.0], [0.1, 0.0, 0.0, 0.0]])
    assert list(out) == RESULT_KEYS + ["robust_impact"]
    coefficients = out["robust_impact"]
    assert all(list(c) == ["eta", "lambda"] for c in coefficients)
    assert coefficients[1] == {"eta": 0.05, "lambda": 0.1}  # no flow: Q = 0
    for c in (coefficients[0], coefficients[2]):
        assert c["lambda"] > 0.1 and c["eta"] > 0.05


def test_impact_exponent_setting():
    market = m.PyMarketClearing()
    for bad in [0.0, -0.5, math.inf, math.nan]:
        with pytest.raises(m.InvalidArgument) as info:
            market.set_impact_exponent(bad)
        assert str(info.value) == ("[INVALID_ARGUMENT] impact_exponent must be a positive finite "
                                   "number (1.0 = linear)")
    assert market.impact_exponent == 1.0
    market.set_impact_exponent(0.5)
    assert market.impact_exponent == 0.5
    concave = m.PyMarketClearing(impact_exponent=0.5)
    orders = json.dumps(episode_orders(1, 2, 4))
    assert market.step_market(orders) == concave.step_market(orders)
    assert market.step_market(orders) != m.PyMarketClearing().step_market(orders)


def test_episode_end_and_beyond():
    market = m.PyMarketClearing(n_agents=1)
    closes = closes_of()
    zero = "[[0.0,0.0,0.0,0.0]]"
    for _ in range(99):
        assert json.loads(market.step_market(zero))["done"] is False
    last = json.loads(market.step_market(zero))
    assert last["done"] is True and last["cursor"] == 120 and market.done is True
    assert last["observations"][0]["date"] == "2025-120"
    after = json.loads(market.step_market(zero))
    assert after["done"] is True and after["cursor"] == 121
    assert after["observations"][0]["date"] == ""
    assert after["cleared_mids"] == [closes[s][119] for s in market.symbols]


def test_reset_discards_everything_but_the_settings():
    market = m.PyMarketClearing(richness="data_rich", vol_scale=0.5)
    initial = market.reset_market()
    market.set_uncertainty(lambda_radius=0.1)
    market.set_impact_exponent(0.7)
    for t in range(7):
        market.step_market(json.dumps(episode_orders(t, 2, 4)))
    assert market.reset_market() == initial
    assert market.done is False
    assert market.impact_exponent == 0.7 and market.uncertainty is not None
    twin = m.PyMarketClearing(richness="data_rich", vol_scale=0.5, lambda_radius=0.1,
                              impact_exponent=0.7)
    orders = json.dumps(episode_orders(3, 2, 4))
    assert market.step_market(orders) == twin.step_market(orders)


HEADLINE = re.compile(r"^(SYM\d\d): (uptrend|downtrend|range-bound), ([+-]\d+\.\d\d)% over "
                      r"(\d+) bars$")


@pytest.mark.parametrize("richness, lookback, rich", [
    ("data_poor", 3, False), ("standard", 20, False), ("data_rich", 50, True)])
def test_richness_levels(richness, lookback, rich):
    market = m.PyMarketClearing(richness=richness, distribution_mode="hard")
    assert market.richness == (f'{{"fundamentals":{str(rich).lower()},"lookback":{lookback},'
                               f'"news":{str(rich).lower()}}}')
    closes = closes_of(mode="hard")
    snapshots = json.loads(market.reset_market())["observations"][0]["symbols"]
    for s in snapshots:
        window = closes[s["symbol"]][max(0, 21 - lookback):21]
        assert s["close_history"] == window
        if not rich:
            assert s["fundamentals"] == {} and s["news"] == []
            continue
        trailing = window[-1] / window[0] - 1.0
        assert s["fundamentals"] == {"trailing_return": trailing, "window_high": max(window),
                                     "window_low": min(window)}
        assert list(s["fundamentals"]) == ["trailing_return", "window_high", "window_low"]
        (headline,) = s["news"]
        symbol, trend, percent, length = HEADLINE.match(headline).groups()
        assert (symbol, percent, int(length)) == (s["symbol"], "%+.2f" % (100 * trailing), 21)
        assert trend == ("uptrend" if trailing > 0.02 else
                         "downtrend" if trailing < -0.02 else "range-bound")


def test_observations_share_snapshots_but_not_books():
    market = m.PyMarketClearing(n_agents=3)
    out = step(market, [[0.2, 0, 0, 0], [0, 0, 0, 0], [0, 0, -0.3, 0]])
    observations = out["observations"]
    assert observations[0]["symbols"] == observations[1]["symbols"] == observations[2]["symbols"]
    assert [o["cash"] for o in observations] == [
        1.0 - out["fills"][0][0]["size"] * out["fills"][0][0]["fill_price"], 1.0,
        1.0 - out["fills"][2][2]["size"] * out["fills"][2][2]["fill_price"]]
    assert observations[1]["portfolio"] == [{"avg_price": 0.0, "shares": 0.0, "symbol": s}
                                            for s in market.symbols]


def test_degenerate_parameters_flow_through_as_null():
    market = m.PyMarketClearing(volume_scale=0.0)
    text = market.step_market("[[0.5,0,0,0],[0,0,0,0]]")
    out = json.loads(text)
    assert out["fills"][0][0]["fill_price"] is None  # infinite impact
    assert out["fills"][0][1]["fill_price"] is None  # 0 x inf
    assert out["navs"] == [None, None]
    assert "NaN" not in text and "Infinity" not in text


GOLDEN = {
    "linear": ({"n_agents": 3, "richness": "data_rich", "vol_scale": 0.5, "kyle_lambda": 0.3,
                "eta": 0.1}, 0x26D7232169A02A55),
    "power": ({"n_agents": 2, "n_symbols": 5, "richness": "data_poor", "impact_exponent": 0.5,
               "vol_scale": 2.0, "seed": 17}, 0xF83AB43E192781CC),
    "robust": ({"n_agents": 3, "lambda_radius": 0.05, "eta_radius": 0.02,
                "uncertainty_correlation": -0.4, "seed": 5}, 0xF2CB8BB99871675F),
}


def episode_text(kwargs):
    market = m.PyMarketClearing(**kwargs)
    n_agents, n_symbols = market.num_agents, len(market.symbols)
    parts = [market.reset_market()]
    for t in range(102):  # the whole calendar and two steps past its end
        parts.append(market.step_market(json.dumps(episode_orders(t, n_agents, n_symbols))))
    return "".join(parts)


@pytest.mark.parametrize("path", sorted(GOLDEN))
def test_golden_episode_fingerprints(path):
    kwargs, expected = GOLDEN[path]
    text = assert_same_bytes(lambda: episode_text(kwargs))
    assert fnv1a64(text) == expected
