import inspect

import pytest

import corvane
from corvane import corvane_py as m

EXCEPTIONS = [
    ("CorvaneError", ValueError),
    ("InvalidArgument", "CorvaneError"),
    ("InvalidJson", "CorvaneError"),
    ("InvalidSalt", "CorvaneError"),
    ("DataUnavailable", "CorvaneError"),
    ("EngineFailure", "CorvaneError"),
]


@pytest.mark.parametrize("name,base", EXCEPTIONS)
def test_exception_classes(name, base):
    cls = getattr(m, name)
    base_cls = getattr(m, base) if isinstance(base, str) else base
    assert cls.__bases__ == (base_cls,)
    assert f"{cls.__module__}.{cls.__name__}" == f"corvane_py.{name}"
    assert cls.__doc__
    # Created once: the package and the module hand out the same class.
    assert getattr(corvane, name) is cls


def test_exception_docstrings_are_the_published_ones():
    assert m.InvalidSalt.__doc__ == (
        "A sealed-seed salt the derivation refuses, e.g. shorter than MIN_SEALED_SALT_BYTES."
    )
    assert m.CorvaneError.__doc__.startswith("Base class for every error the native engine raises.")


@pytest.mark.parametrize(
    "code,message,cls,text",
    [
        ("INVALID_JSON", "bad", "InvalidJson", "[INVALID_JSON] bad"),
        ("INVALID_SALT", "short", "InvalidSalt", "[INVALID_SALT] short"),
        ("DATA_UNAVAILABLE", "x", "DataUnavailable", "[DATA_UNAVAILABLE] x"),
        ("ENGINE_FAILURE", "x", "EngineFailure", "[ENGINE_FAILURE] x"),
        ("INVALID_ARGUMENT", "x", "InvalidArgument", "[INVALID_ARGUMENT] x"),
        ("NO_SUCH_CODE", "x", "CorvaneError", "[NO_SUCH_CODE] x"),
        ("invalid_json", "x", "CorvaneError", "[invalid_json] x"),
        ("INVALID_JSON ", "x", "CorvaneError", "[INVALID_JSON ] x"),
        # A message that carries its own code is raised under it, unchanged.
        ("INVALID_ARGUMENT", "[DATA_UNAVAILABLE] empty", "DataUnavailable",
         "[DATA_UNAVAILABLE] empty"),
        ("INVALID_ARGUMENT", "[WHATEVER] y", "CorvaneError", "[WHATEVER] y"),
        # Not coded: a space in the head, an empty head, no separator.
        ("INVALID_ARGUMENT", "[BAD CODE] x", "InvalidArgument", "[INVALID_ARGUMENT] [BAD CODE] x"),
        ("INVALID_ARGUMENT", "[] x", "InvalidArgument", "[INVALID_ARGUMENT] [] x"),
        ("INVALID_ARGUMENT", "[INVALID_JSON]x", "InvalidArgument",
         "[INVALID_ARGUMENT] [INVALID_JSON]x"),
        ("INVALID_ARGUMENT", " [INVALID_JSON] x", "InvalidArgument",
         "[INVALID_ARGUMENT]  [INVALID_JSON] x"),
        ("INVALID_ARGUMENT", "", "InvalidArgument", "[INVALID_ARGUMENT] "),
    ],
)
def test_raise_coded(code, message, cls, text):
    with pytest.raises(m.CorvaneError) as info:
        m._raise_coded(code, message)
    assert type(info.value) is getattr(m, cls)
    assert str(info.value) == text
    assert info.value.args == (text,)


def test_coded_errors_are_value_errors():
    with pytest.raises(ValueError):
        m._raise_coded("INVALID_JSON", "bad")


@pytest.mark.parametrize(
    "args,kwargs,exc,text",
    [
        ((1, "x"), {}, TypeError, "argument 'code': must be str, not int"),
        (("X", None), {}, TypeError, "argument 'message': must be str, not NoneType"),
        (("X",), {}, TypeError, "_raise_coded() missing required argument 'message' (pos 2)"),
        (("X", "y"), {"extra": 1}, TypeError,
         "'extra' is an invalid keyword argument for _raise_coded()"),
        (("X", "y", "z"), {}, TypeError,
         "_raise_coded() takes at most 2 positional arguments (3 given)"),
    ],
)
def test_raise_coded_argument_errors(args, kwargs, exc, text):
    with pytest.raises(exc) as info:
        m._raise_coded(*args, **kwargs)
    assert str(info.value) == text


def test_raise_coded_by_keyword():
    with pytest.raises(m.InvalidJson, match=r"^\[INVALID_JSON\] k$"):
        m._raise_coded(message="k", code="INVALID_JSON")


def test_spec_hash_and_constants():
    assert m.spec_hash() == "460811a8d810c454" == m.spec_hash()
    assert m.EVAL_SEED_BASE == 1000000 and type(m.EVAL_SEED_BASE) is int
    assert m.MIN_SEALED_SALT_BYTES == 16 and type(m.MIN_SEALED_SALT_BYTES) is int
    with pytest.raises(TypeError):
        m.spec_hash(1)


def test_module_doc_and_no_panic_attribute():
    assert "Corvane" in m.__doc__ and "\n" not in m.__doc__
    for name, value in vars(m).items():
        if isinstance(value, type) and issubclass(value, BaseException):
            assert issubclass(value, m.CorvaneError), name


SIGNATURES = {
    "score_run": "(returns, n_trials=0, periods_per_year=252.0)",
    "process_event_contract": "()",
    "bootstrap_dsr_ci": "(per_seed_returns, n_trials=0, n_boot=2000, resample_seed=1537679398, "
    "alpha=0.05, periods_per_year=252.0)",
    "paired_dsr_diff": "(a_per_seed_returns, b_per_seed_returns, n_trials=0, n_boot=2000, "
    "resample_seed=1537679398, alpha=0.05, periods_per_year=252.0)",
    "validate_decision_json": "(decision_json)",
    "decision_schema_json": "()",
    "sample_mandate_json": "(seed, n_symbols=4, allow_short=True)",
    "mandate_breach": "(mandate_json, returns, weights)",
    "perturb_action": "(seed, step_index, requested, previous, delay_prob=0.0, slippage_bps=0.0)",
    "sealed_seed": "(salt, slot)",
    "spec_hash": "()",
    "_raise_coded": "(code, message)",
    "generate_scenario_json": "(seed, n_symbols=4, n_days=120, distribution_mode='calm', "
    "vol_clustering=0.0, jump_burst_probability=0.0, jump_burst_persistence=0.0, "
    "jump_burst_size=0.0)",
    "calm_calibration_candidate_scenario_json": "(seed)",
}


@pytest.mark.parametrize("name", sorted(SIGNATURES))
def test_text_signatures(name):
    assert str(inspect.signature(getattr(m, name))) == SIGNATURES[name]


def test_registration_order():
    names = [n for n in vars(m) if not n.startswith("__")]
    classes = ["TradingEnv", "VecTradingEnv", "PyMarketClearing", "PyOrderBook"]
    functions = list(SIGNATURES)
    tail = [e for e, _ in EXCEPTIONS] + ["EVAL_SEED_BASE", "MIN_SEALED_SALT_BYTES"]
    assert names == classes + functions + tail


# Unbound methods show their receiver; bound methods and class methods show
# exactly the published parameters.
METHOD_SIGNATURES = {
    "TradingEnv": {
        "reset": "()", "step": "(decision_json)", "clone_state": "()",
        "restore_state": "(state_json)",
        "from_csv": "(csv_text, seed=0, window_start=None, window_end=None, fee_bps=None, "
        "slippage_bps=None, impact_bps=None, financing_bps=None, max_participation=None, "
        "exec_seed=None)",
    },
    "VecTradingEnv": {
        "step_batch": "(decisions_json)", "reset_batch": "()",
        "from_csv": "(csv_text, seeds, window_start=None, window_end=None, fee_bps=None, "
        "slippage_bps=None, impact_bps=None, financing_bps=None, max_participation=None, "
        "autoreset_mode='next_step')",
    },
    "PyOrderBook": {
        "step_book": "(orders_json)", "sweep_cost": "(side, qty)", "uncross": "()",
        "ladder": "()", "reset_book": "()",
    },
    "PyMarketClearing": {
        "step_market": "(orders_json)", "reset_market": "()",
        "set_uncertainty": "(lambda_radius=None, eta_radius=None, correlation=0.0)",
        "set_impact_exponent": "(impact_exponent)",
    },
}

CONSTRUCTOR_SIGNATURES = {
    "TradingEnv": "(n_symbols=4, n_days=120, seed=0, window_start=None, window_end=None, "
    "fee_bps=None, slippage_bps=None, impact_bps=None, financing_bps=None, max_participation=None, "
    "distribution_mode='calm', exec_seed=None, vol_clustering=0.0, jump_burst_probability=0.0, "
    "jump_burst_persistence=0.0, jump_burst_size=0.0)",
    "VecTradingEnv": "(seeds, n_symbols=4, n_days=120, window_start=None, window_end=None, "
    "fee_bps=None, slippage_bps=None, impact_bps=None, financing_bps=None, max_participation=None, "
    "distribution_mode='calm', exec_seed=None, autoreset_mode='next_step', vol_clustering=0.0, "
    "jump_burst_probability=0.0, jump_burst_persistence=0.0, jump_burst_size=0.0)",
    "PyOrderBook": "(tick_size=0.01, levels=10)",
    "PyMarketClearing": "(n_symbols=4, n_days=120, seed=0, n_agents=2, capital=1.0, "
    "kyle_lambda=0.1, eta=0.05, volume_scale=1.0, vol_scale=0.0, distribution_mode='calm', "
    "richness='standard', lambda_radius=None, eta_radius=None, uncertainty_correlation=0.0, "
    "impact_exponent=1.0)",
}


@pytest.mark.parametrize("cls_name", sorted(METHOD_SIGNATURES))
def test_class_signatures(cls_name):
    cls = getattr(m, cls_name)
    assert str(inspect.signature(cls)) == CONSTRUCTOR_SIGNATURES[cls_name]
    for name, expected in METHOD_SIGNATURES[cls_name].items():
        attr = getattr(cls, name)
        if name == "from_csv":
            assert str(inspect.signature(attr)) == expected
        else:
            unbound = "(self)" if expected == "()" else "(self, " + expected[1:]
            assert str(inspect.signature(attr)) == unbound, name


@pytest.mark.parametrize("make", [
    pytest.param(lambda: m.PyMarketClearing(n_agents=2**64 - 1), id="market-agents-max"),
    # This one really asks the allocator for 80 TB.
    pytest.param(lambda: m.PyMarketClearing(n_agents=2**40), id="market-agents-huge",
                 marks=pytest.mark.huge_allocation),
    pytest.param(lambda: m.TradingEnv(n_symbols=2**62), id="env-symbols"),
    pytest.param(lambda: m.VecTradingEnv([1, 2], n_days=2**63), id="vec-days"),
])
def test_impossible_shapes_are_memory_errors_not_crashes(make):
    with pytest.raises(MemoryError):
        make()
