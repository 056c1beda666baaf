"""The decision contract: the published schema, the membership test and the reader's refusals."""

import json

import jsonschema
import pytest

from conftest import fnv1a64

DECISION_COST = {
    "type": "object",
    "description": "Self-reported spend for one decision. Every field defaults to zero, so a "
    "partial report still validates.",
    "additionalProperties": False,
    "properties": {
        "cost_usd": {
            "type": "number",
            "description": "Dollar cost of the compute spent on this decision. The preferred unit.",
        },
        "tokens_in": {
            "type": "integer",
            "minimum": 0,
            "description": "Prompt/input tokens consumed.",
        },
        "tokens_out": {
            "type": "integer",
            "minimum": 0,
            "description": "Completion/output tokens produced.",
        },
        "reasoning_tokens": {
            "type": "integer",
            "minimum": 0,
            "description": "Reasoning tokens, surfaced separately. Providers typically bill these "
            "inside tokens_out, so they are not re-added to the token total.",
        },
    },
}

ORDER = {
    "type": "object",
    "required": ["symbol", "action", "target_weight"],
    "additionalProperties": False,
    "properties": {
        "symbol": {"type": "string"},
        "action": {
            "description": "Discrete action label (sizing is carried by target_weight).",
            "enum": ["buy", "sell", "hold", "close"],
        },
        "target_weight": {
            "type": "number",
            "description": "Target portfolio weight for this symbol, signed for shorts.",
        },
        "confidence": {
            "type": "number",
            "description": "Stated conviction in [0, 1], scored for calibration. Optional; "
            "defaults to 0.5.",
        },
        "rationale": {
            "type": "string",
            "description": "Optional one-line rationale for this order. Defaults to empty.",
        },
    },
}

EXPECTED_SCHEMA = {
    "$schema": "https://json-schema.org/draft/2020-12/schema",
    "$id": "https://corvane.dev/contract/v1/decision.schema.json",
    "title": "Decision",
    "description": "What an agent returns at one decision step: per-instrument orders plus an "
    "optional free-text rationale. Corvane Agent Interface v1.0.",
    "type": "object",
    "required": ["orders"],
    "additionalProperties": False,
    "properties": {
        "orders": {
            "type": "array",
            "description": "Per-instrument instructions. May be empty (a hold).",
            "items": {"$ref": "#/$defs/Order"},
        },
        "reasoning": {
            "type": "string",
            "description": "Free-text rationale captured into the trajectory. Optional; defaults "
            "to empty.",
        },
        "cost": {
            "$ref": "#/$defs/DecisionCost",
            "description": "Self-reported compute spend for producing this decision. Optional; "
            "omitted entirely when not reported. The scoring kernel accumulates it into the run "
            "cost that drives the cost-normalized leaderboard columns.",
        },
    },
    "$defs": {"DecisionCost": DECISION_COST, "Order": ORDER},
}


def pretty(value, indent=0):
    """The stored layout: two-space indentation, arrays inline, one-member objects inline."""
    pad = "  " * indent
    if isinstance(value, dict):
        if len(value) == 1 and not isinstance(next(iter(value.values())), (dict, list)):
            ((k, v),) = value.items()
            return "{ " + json.dumps(k) + ": " + json.dumps(v) + " }"
        lines = [
            pad + "  " + json.dumps(k) + ": " + pretty(v, indent + 1) for k, v in value.items()
        ]
        return "{\n" + ",\n".join(lines) + "\n" + pad + "}"
    if isinstance(value, list):
        return "[" + ", ".join(json.dumps(x) for x in value) + "]"
    return json.dumps(value)


@pytest.fixture(scope="module")
def schema_text(native):
    return native.decision_schema_json()


@pytest.fixture(scope="module")
def schema(schema_text):
    return json.loads(schema_text)


def test_schema_content_and_key_order(schema):
    # json.dumps keeps insertion order, so this compares key order at every depth too.
    assert json.dumps(schema) == json.dumps(EXPECTED_SCHEMA)


def test_schema_layout_is_the_stored_text(schema_text, schema):
    assert schema_text == pretty(schema) + "\n"
    assert len(schema_text.splitlines()) == 76
    assert schema_text.endswith("}\n") and not schema_text.endswith("\n\n")
    assert fnv1a64(schema_text) == 0xAD20955B760FC883


def test_schema_is_a_valid_draft_2020_12_schema(schema):
    jsonschema.Draft202012Validator.check_schema(schema)
    assert jsonschema.validators.validator_for(schema) is jsonschema.Draft202012Validator


ORDER_OK = {"symbol": "SYM00", "action": "buy", "target_weight": 0.25}

# Decisions in object form on which the schema and the reader must agree.
AGREEMENT = [
    ({"orders": []}, True),
    ({"orders": [ORDER_OK]}, True),
    ({"orders": [dict(ORDER_OK, confidence=0.9, rationale="momentum")]}, True),
    ({"orders": [], "reasoning": "flat"}, True),
    ({"orders": [], "cost": {}}, True),
    ({"orders": [], "cost": {"cost_usd": 3}}, True),
    ({"orders": [], "cost": {"cost_usd": 0.002, "tokens_in": 10, "tokens_out": 5,
                             "reasoning_tokens": 2}}, True),
    ({"orders": [], "cost": {"tokens_in": 2**64 - 1}}, True),
    ({"orders": [dict(ORDER_OK, confidence=7.0)]}, True),
    ({"orders": [dict(ORDER_OK, target_weight=1000000)]}, True),
    ({"orders": [dict(ORDER_OK, target_weight=-1.5)]}, True),
    *[({"orders": [dict(ORDER_OK, action=a)]}, True) for a in ["sell", "hold", "close"]],
    ({}, False),
    ({"reasoning": "no orders"}, False),
    ({"orders": None}, False),
    ({"orders": {}}, False),
    ({"orders": [], "reasoning": None}, False),
    ({"orders": [], "reasoning": 5}, False),
    ({"orders": [], "extra": 1}, False),
    ({"orders": [], "Orders": []}, False),
    ({"orders": [dict(ORDER_OK, action="Buy")]}, False),
    ({"orders": [dict(ORDER_OK, action="BUY")]}, False),
    ({"orders": [dict(ORDER_OK, action="short")]}, False),
    ({"orders": [dict(ORDER_OK, action="")]}, False),
    ({"orders": [dict(ORDER_OK, action=1)]}, False),
    ({"orders": [dict(ORDER_OK, extra=True)]}, False),
    ({"orders": [{"symbol": "SYM00", "action": "buy"}]}, False),
    ({"orders": [{"symbol": "SYM00", "target_weight": 0.1}]}, False),
    ({"orders": [{"action": "buy", "target_weight": 0.1}]}, False),
    ({"orders": [dict(ORDER_OK, symbol=7)]}, False),
    ({"orders": [dict(ORDER_OK, target_weight="0.1")]}, False),
    ({"orders": [dict(ORDER_OK, target_weight=None)]}, False),
    ({"orders": [dict(ORDER_OK, confidence=None)]}, False),
    ({"orders": [dict(ORDER_OK, rationale=None)]}, False),
    ({"orders": [ORDER_OK, "SYM00"]}, False),
    ({"orders": [], "cost": {"tokens_in": -1}}, False),
    ({"orders": [], "cost": {"tokens_in": 1.5}}, False),
    ({"orders": [], "cost": {"tokens_out": "5"}}, False),
    ({"orders": [], "cost": {"reasoning_tokens": True}}, False),
    ({"orders": [], "cost": {"cost_usd": "0.1"}}, False),
    ({"orders": [], "cost": {"usd": 0.1}}, False),
    ({"orders": [], "cost": 0}, False),
    ("orders", False),
    (None, False),
]


@pytest.mark.parametrize("decision, valid", AGREEMENT)
def test_schema_and_reader_agree(native, schema, decision, valid):
    text = json.dumps(decision)
    assert native.validate_decision_json(text) is valid
    assert jsonschema.Draft202012Validator(schema).is_valid(decision) is valid


# Where the reader's rules go beyond what JSON Schema can say. The published schema is fixed
# text, so these differences are part of the contract: (text, reader, schema).
DIVERGENCES = [
    ('{"orders":[],"cost":null}', True, False),  # null cost means "not reported"
    ('{"orders":[{"symbol":"A","action":{"sell":null},"target_weight":0}]}', True, False),
    ('[[],"positional"]', True, False),
    ('{"orders":[],"cost":[]}', True, False),  # positional cost, every field defaulted
    ('{"orders":[],"cost":{"tokens_in":1.0}}', False, True),  # 1.0 is an integer to the schema
    ('{"orders":[],"cost":{"tokens_in":18446744073709551616}}', False, True),  # beyond 64 bits
    ('{"orders":[{}],"orders":[]}', False, True),  # duplicate key; Python keeps the last one
]


@pytest.mark.parametrize("text, reader, by_schema", DIVERGENCES)
def test_known_divergences_from_schema(native, schema, text, reader, by_schema):
    assert native.validate_decision_json(text) is reader
    assert jsonschema.Draft202012Validator(schema).is_valid(json.loads(text)) is by_schema


@pytest.mark.parametrize(
    "text, valid",
    [
        ('  \t\r\n{"orders":[]}\n \r\n\t ', True),
        ('{"orders":[]} x', False),
        ('{"orders":[]}{}', False),
        ('{"orders":[]},', False),
        ('[[], "reasoning"]', True),
        ('[[], "reasoning", null]', True),
        ('[[], "reasoning", [0.5, 1, 2, 3]]', True),
        ('[[["SYM00", "buy", 0.1]]]', True),
        ('[[["SYM00", "buy", 0.1, 0.5, "why"]]]', True),
        ('[[["SYM00", "buy"]]]', False),
        ('[[["SYM00", "buy", 0.1, 0.5, "why", 1]]]', False),
        ('[[], "", null, 1]', False),
        ("[]", False),
        ("", False),
        ("   ", False),
        ('{"orders":[],}', False),
        ('{"orders":[{"symbol":"\\ud800","action":"buy","target_weight":0}]}', False),
        ('{"orders":[{"symbol":"caf\\u00e9","action":"buy","target_weight":1e308}]}', True),
        ('{"orders":[{"symbol":"A","action":"buy","target_weight":1e309}]}', False),
        ('{"orders":[{"symbol":"A","action":"buy","target_weight":NaN}]}', False),
        ('{"orders":[{"symbol":"A","action":{"buy":null,"sell":null},"target_weight":0}]}', False),
        ('{"orders":[{"symbol":"A","action":{"buy":1},"target_weight":0}]}', False),
    ],
)
def test_validate_decision_text_forms(native, text, valid):
    assert native.validate_decision_json(text) is valid


@pytest.mark.parametrize("depth, valid", [(127, False), (129, False), (100000, False)])
def test_deep_nesting_is_refused_without_crashing(native, depth, valid):
    text = '{"orders":' + "[" * depth + "]" * depth + "}"
    assert native.validate_decision_json(text) is valid


def test_validate_takes_only_str(native):
    with pytest.raises(TypeError) as info:
        native.validate_decision_json(b'{"orders":[]}')
    assert str(info.value) == "argument 'decision_json': must be str, not bytes"
    with pytest.raises(TypeError) as info:
        native.validate_decision_json()
    assert str(info.value) == "validate_decision_json() missing required argument " \
        "'decision_json' (pos 1)"
    assert native.validate_decision_json(decision_json='{"orders":[]}') is True


def test_schema_takes_no_arguments(native):
    with pytest.raises(TypeError) as info:
        native.decision_schema_json(1)
    assert str(info.value) == "decision_schema_json() takes at most 0 positional arguments " \
        "(1 given)"


# The reader's error text as a stepping environment reports it.
READER_ERRORS = [
    ('{"orders":[],"x":1}',
     "unknown field `x`, expected one of `orders`, `reasoning`, `cost` at line 1 column 14"),
    ('{"orders":[{"symbol":"A","action":"buy","target_weight":1,"extra":0}]}',
     "unknown field `extra`, expected one of `symbol`, `action`, `target_weight`, "
     "`confidence`, `rationale` at line 1 column 59"),
    ('{"orders":[],"cost":{"usd":1}}',
     "unknown field `usd`, expected one of `cost_usd`, `tokens_in`, `tokens_out`, "
     "`reasoning_tokens` at line 1 column 22"),
    ('{"orders":[],"orders":[]}', "duplicate field `orders` at line 1 column 14"),
    ('{"reasoning":""}', "missing field `orders` at line 1 column 16"),
    ('{"orders":[{"symbol":"A","action":"buy"}]}',
     "missing field `target_weight` at line 1 column 40"),
    ("[]", "invalid length 0, expected struct Decision with 3 elements at line 1 column 2"),
    ('[[["A","buy"]]]',
     "invalid length 2, expected struct Order with 5 elements at line 1 column 13"),
    ('{"orders":[{"symbol":"A","action":"Buy","target_weight":1}]}',
     "unknown variant `Buy`, expected one of `buy`, `sell`, `hold`, `close` at line 1 column 35"),
    ('{"orders":[],"cost":{"tokens_in":-1}}',
     "invalid value: integer `-1`, expected u64 at line 1 column 34"),
    ('{"orders":[],"cost":{"tokens_in":1.5}}',
     "invalid type: floating point `1.5`, expected u64 at line 1 column 34"),
    ('{"orders":[],"cost":{"tokens_out":"5"}}',
     'invalid type: string "5", expected u64 at line 1 column 35'),
    ('{"orders":[{"symbol":"A","action":"buy","target_weight":"1"}]}',
     'invalid type: string "1", expected f64 at line 1 column 57'),
    ('{"orders":[]}\n  x', "trailing characters at line 2 column 3"),
    ('{"orders":' + "[" * 200, "recursion limit exceeded at line 1 column 138"),
]


@pytest.fixture()
def env(native):
    env = native.TradingEnv(n_symbols=2, n_days=10, seed=3)
    env.reset()
    return env


@pytest.mark.parametrize("text, message", READER_ERRORS)
def test_reader_error_texts(native, env, text, message):
    before = env.clone_state()
    with pytest.raises(native.InvalidJson) as info:
        env.step(text)
    assert str(info.value) == "[INVALID_JSON] invalid decision JSON: " + message
    assert env.clone_state() == before
    assert native.validate_decision_json(text) is False


def test_str_without_utf8_form_is_not_a_decision(native):
    assert native.validate_decision_json('{"orders":[],"reasoning":"\ud800"}') is False
