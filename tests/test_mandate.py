import json
import math

import pytest

from conftest import assert_same_bytes, fnv1a64, uniforms
from corvane import corvane_py as m

MASK = (1 << 64) - 1
STYLES = ["long_only", "market_neutral", "momentum", "unconstrained", "pairs_convergence"]
STYLE_TEXT = {
    "long_only": "Long-only mandate: hold no short positions",
    "market_neutral":
        "Market-neutral mandate: keep net exposure near zero (balance longs and shorts)",
    "momentum": "Momentum mandate: lean into recent winners, cut losers",
    "unconstrained": "Unconstrained mandate: trade freely",
    "pairs_convergence":
        "Pairs-convergence mandate: hold offsetting weights on the pair (stay dollar-neutral)",
}


def reference_mandate(seed, n_symbols, allow_short):
    u = uniforms(seed ^ 0x123456789ABCDEF0)
    eligible = STYLES if allow_short else ["long_only", "momentum", "unconstrained"]
    style = eligible[int(len(eligible) * next(u))]
    drawdown = [0.05, 0.1, 0.15, 0.2][int(4 * next(u))] if next(u) < 0.5 else None
    benchmark = f"SYM{int(max(n_symbols, 1) * next(u)):02d}" if next(u) < 0.3 else None
    inventory = [0.5, 1.0, 1.5, 2.0][int(4 * next(u))] if next(u) < 0.4 else None
    clauses = [STYLE_TEXT[style]]
    if drawdown is not None:
        clauses.append(f"keep max drawdown under {round(drawdown * 100)}%")
    if inventory is not None:
        clauses.append(f"keep gross exposure under {round(inventory * 100)}%")
    if benchmark is not None:
        clauses.append(f"aim to beat {benchmark}")
    return {"style": style, "max_drawdown": drawdown, "max_inventory": inventory,
            "benchmark": benchmark, "text": "; ".join(clauses) + "."}


@pytest.mark.parametrize("n_symbols,allow_short", [(4, True), (0, True), (30, True), (2, False)])
def test_sampler_follows_the_published_draws(n_symbols, allow_short):
    for seed in list(range(300)) + [MASK, 1 << 63]:
        text = m.sample_mandate_json(seed, n_symbols, allow_short)
        assert list(json.loads(text)) == [
            "style", "max_drawdown", "max_inventory", "benchmark", "text"]
        assert json.loads(text) == reference_mandate(seed, n_symbols, allow_short)


def test_sampler_covers_the_eligible_styles():
    def styles(allow_short):
        return {json.loads(m.sample_mandate_json(s, allow_short=allow_short))["style"]
                for s in range(400)}

    assert styles(True) == set(STYLES)
    assert styles(False) == {"long_only", "momentum", "unconstrained"}
    benchmarks = {json.loads(m.sample_mandate_json(s, n_symbols=0))["benchmark"]
                  for s in range(200)}
    assert benchmarks == {None, "SYM00"}


def test_sampler_text_example_and_golden_fingerprint():
    text = assert_same_bytes(
        lambda: "\n".join(m.sample_mandate_json(seed) for seed in range(100)))
    assert m.sample_mandate_json(0) == (
        '{"style":"long_only","max_drawdown":null,"max_inventory":null,"benchmark":"SYM01",'
        '"text":"Long-only mandate: hold no short positions; aim to beat SYM01."}')
    assert fnv1a64(text) == 0x675274FA899E241E


LONG = '{"style":"long_only"}'
NEUTRAL = '{"style":"market_neutral"}'
PAIRS = '{"style":"pairs_convergence","text":"x"}'
FREE = '{"style":"unconstrained"}'


@pytest.mark.parametrize(
    "mandate,returns,weights,expected",
    [
        (LONG, [], [[0.5, -0.1], [0.5, 0.5]], 0.5),
        (LONG, [], [[0.5, -1e-9], [], [0.0]], 0.0),  # exactly -1e-9 is not short
        (LONG, [], [[-0.2], [-0.1, 0.3]], 1.0),
        (NEUTRAL, [], [[0.5, 0.5]], 1.0),
        (NEUTRAL, [], [[0.5, -0.5]], 0.0),
        (NEUTRAL, [], [[0.0, 0.0], [0.5, 0.5]], 0.5),  # an all-zero bar contributes 0
        (PAIRS, [], [[0.75, -0.25], [1.0]], 0.75),
        ('{"style":"momentum","max_inventory":1.0}', [], [[1.5], [1.0]], 0.125),
        ('{"style":"momentum","max_inventory":1.0}', [], [[3.0, -0.5]], 1.0),
        # The worst term wins: style 0.5 beats exposure 0.125.
        ('{"style":"long_only","max_inventory":1.0}', [], [[1.5, -0.01], [1.0]], 0.5),
        ('{"style":"momentum","max_drawdown":0.25}', [-0.5], [], 1.0),
        ('{"style":"momentum","max_drawdown":0.25}', [0.5, -0.25], [], 0.0),  # exactly at the cap
        ('{"style":"momentum","max_drawdown":0.2}', [0.25, -0.3, 0.1], [], 0.5),
        ('{"style":"momentum","max_drawdown":1}', [-0.9], [], 0.0),
        # Returns and weights of different lengths: each term runs over its own series.
        # Drawdown 0.7 against a 0.5 cap gives 0.4, above the short share 1/4.
        ('{"style":"long_only","max_drawdown":0.5}', [0.1, 0.2, -0.7],
         [[-1.0], [1.0], [1.0], [1.0]], 0.4),
    ],
)
def test_breach(mandate, returns, weights, expected):
    assert m.mandate_breach(mandate, returns, weights) == pytest.approx(expected, abs=1e-12)


@pytest.mark.parametrize(
    "mandate",
    [LONG, NEUTRAL, PAIRS, FREE,
     '{"style":"market_neutral","max_drawdown":0.05,"max_inventory":0.5,"benchmark":null}'],
)
def test_empty_run_is_clean(mandate):
    assert m.mandate_breach(mandate, [], []) == 0.0


def test_sampled_mandates_round_trip_into_breach():
    for seed in range(40):
        text = m.sample_mandate_json(seed)
        assert 0.0 <= m.mandate_breach(text, [0.01, -0.3], [[0.6, -0.9]]) <= 1.0


@pytest.mark.parametrize(
    "mandate,returns,weights,text",
    [
        ('{"style":"momentum","max_drawdown":0}', [], [],
         "[INVALID_ARGUMENT] max_drawdown 0 is outside the finite range (0, 1]"),
        ('{"style":"momentum","max_drawdown":-0.1}', [], [],
         "[INVALID_ARGUMENT] max_drawdown -0.1 is outside the finite range (0, 1]"),
        ('{"style":"momentum","max_drawdown":1.5}', [], [],
         "[INVALID_ARGUMENT] max_drawdown 1.5 is outside the finite range (0, 1]"),
        ('{"style":"momentum","max_inventory":0.0}', [], [],
         "[INVALID_ARGUMENT] max_inventory 0 is not a finite positive gross-exposure ceiling"),
        ('{"style":"momentum","max_inventory":-2}', [], [],
         "[INVALID_ARGUMENT] max_inventory -2 is not a finite positive gross-exposure ceiling"),
        # The caps come first, then the returns, then the weights.
        ('{"style":"momentum","max_drawdown":2e-7}', [0.1, math.nan], [],
         "[INVALID_ARGUMENT] returns[1] is NaN; every per-bar return must be finite"),
        ('{"style":"momentum","max_drawdown":3,"max_inventory":0}', [math.nan], [[math.inf]],
         "[INVALID_ARGUMENT] max_drawdown 3 is outside the finite range (0, 1]"),
        ('{"style":"momentum"}', [0.0, 0.0, 0.0, math.nan], [[math.nan]],
         "[INVALID_ARGUMENT] returns[3] is NaN; every per-bar return must be finite"),
        ('{"style":"momentum"}', [0.0], [[1.0], [0.5, -math.inf, math.nan]],
         "[INVALID_ARGUMENT] weights[1][1] is -inf; every target weight must be finite"),
    ],
)
def test_unusable_run_or_cap_is_refused(mandate, returns, weights, text):
    with pytest.raises(m.InvalidArgument) as info:
        m.mandate_breach(mandate, returns, weights)
    assert str(info.value) == text


@pytest.mark.parametrize(
    "mandate,reason",
    [
        ("{}", "missing field `style` at line 1 column 2"),
        ('{"style":"Long_Only"}',
         "unknown variant `Long_Only`, expected one of `long_only`, `market_neutral`, "
         "`momentum`, `unconstrained`, `pairs_convergence` at line 1 column 10"),
        ('{"style":"momentum","leverage":1}',
         "unknown field `leverage`, expected one of `style`, `max_drawdown`, `max_inventory`, "
         "`benchmark`, `text` at line 1 column 21"),
        ('{"style":"momentum","style":"momentum"}', "duplicate field `style` at line 1 column 21"),
        ('{"style":"momentum","max_drawdown":"0.1"}',
         'invalid type: string "0.1", expected f64 at line 1 column 36'),
        ('{"style":"momentum","benchmark":7}',
         "invalid type: integer `7`, expected a string at line 1 column 33"),
        ('["momentum"]', "invalid type: sequence, expected struct Mandate at line 1 column 1"),
        ('{"style":"momentum"} x', "trailing characters at line 1 column 22"),
    ],
)
def test_malformed_mandate_is_invalid_json(mandate, reason):
    with pytest.raises(m.InvalidJson) as info:
        m.mandate_breach(mandate, [], [])
    assert str(info.value) == "[INVALID_JSON] invalid mandate JSON: " + reason


@pytest.mark.parametrize(
    "call,exc,text",
    [
        (lambda: m.sample_mandate_json(-1), OverflowError,
         "argument 'seed': can't convert negative int to unsigned"),
        (lambda: m.sample_mandate_json(1, n_symbols=-4), OverflowError,
         "argument 'n_symbols': can't convert negative int to unsigned"),
        (lambda: m.sample_mandate_json(1, allow_short="no"), TypeError,
         "argument 'allow_short': must be bool, not str"),
        (lambda: m.mandate_breach(b"{}", [], []), TypeError,
         "argument 'mandate_json': must be str, not bytes"),
        (lambda: m.mandate_breach(LONG, "0.1", []), TypeError,
         "argument 'returns': must be a sequence of floats, not str"),
        (lambda: m.mandate_breach(LONG, [], [0.5]), TypeError,
         "argument 'weights': item 0 must be a sequence of floats, not float"),
    ],
)
def test_argument_errors(call, exc, text):
    with pytest.raises(exc) as info:
        call()
    assert str(info.value) == text
