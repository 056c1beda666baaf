"""VecTradingEnv: lane-by-lane equivalence with separate TradingEnv objects in
every auto-reset mode, the batch JSON, refusals, fork safety and the golden
fingerprints of batch tapes."""

import json
import math
import os
import select
import subprocess
import sys
import time
import warnings

import pytest

from conftest import assert_same_bytes, fnv1a64
from corvane import corvane_py as m

MODES = ["next_step", "same_step", "disabled"]
TOP_KEYS = ["final_info", "final_obs", "first", "infos", "n", "observations", "rewards",
            "terminated", "truncated"]
SYMBOLS = ["SYM00", "SYM01", "SYM02"]


def csv_text(n_dates=6, flat=False):
    rows = ["date,symbol,close,dividend"]
    for t in range(n_dates):
        for k, s in enumerate(SYMBOLS):
            close = 10.0 if flat else 10.0 + k + 0.37 * ((t * (k + 2)) % 5)
            dividend = 0.05 if (not flat and t == 2 and k == 1) else 0.0
            rows.append(f"2024-02-{t + 1:02d},{s},{close},{dividend}")
    return "\n".join(rows) + "\n"


def decision_for(lane, step):
    """A varied, deterministic decision: holds, buys, sells, rationales and an
    order for an unknown symbol, so that steps record different events."""
    k = (lane * 7 + step * 3) % 5
    if k == 0:
        return {"orders": []}
    orders = [{"symbol": SYMBOLS[k % 3], "action": "buy" if k % 2 else "sell",
               "target_weight": 0.2 * k - 0.3, "rationale": "why" if k == 3 else ""}]
    if k == 4:
        orders.append({"symbol": "NOPE", "action": "buy", "target_weight": 0.1})
    return {"orders": orders, "reasoning": f"lane {lane} step {step}"}


def batch_decisions(n_lanes, step):
    return json.dumps([decision_for(i, step) for i in range(n_lanes)])


def json_or_none(x):
    return None if isinstance(x, float) and not math.isfinite(x) else x


class ReferenceLane:
    """One TradingEnv driven by the published auto-reset state machine."""

    def __init__(self, env, mode):
        self.env, self.mode, self.pending = env, mode, False

    def step(self, decision):
        if self.mode == "next_step" and self.pending:
            self.pending = False
            obs = json.loads(self.env.reset())
            return dict(observation=obs, reward=0.0, terminated=False, truncated=False,
                        first=True, info={"events": [], "nav": obs["cash"]},
                        final_obs=None, final_info=None)
        obs, reward, done, info = self.env.step(json.dumps(decision))
        obs, info = json.loads(obs), json.loads(info)
        terminated = info["nav"] is not None and info["nav"] <= 0.0
        out = dict(observation=obs, reward=json_or_none(reward), terminated=terminated,
                   truncated=done, first=False, info=info, final_obs=None, final_info=None)
        if terminated or done:
            if self.mode == "next_step":
                self.pending = True
            elif self.mode == "same_step":
                out.update(observation=json.loads(self.env.reset()), first=True,
                           final_obs=obs, final_info=info)
        return out


def lane_view(batch, i):
    return dict(observation=batch["observations"][i], reward=batch["rewards"][i],
                terminated=batch["terminated"][i], truncated=batch["truncated"][i],
                first=batch["first"][i], info=batch["infos"][i],
                final_obs=batch["final_obs"][i], final_info=batch["final_info"][i])


def sorted_object(pairs):
    keys = [k for k, _ in pairs]
    assert keys == sorted(keys, key=lambda k: k.encode()), keys
    return dict(pairs)


def load_batch(text, n):
    batch = json.loads(text, object_pairs_hook=sorted_object)
    assert list(batch) == TOP_KEYS and batch["n"] == n
    assert all(len(batch[k]) == n for k in TOP_KEYS if k != "n")
    return batch


SEEDS = [3, 0, 2**64 - 1, 3, 17]

# name -> (VecTradingEnv factory, TradingEnv factory for one seed)
SETUPS = {
    # Episodes of three steps inside a window.
    "window": (
        lambda seeds, mode: m.VecTradingEnv(seeds, n_symbols=3, n_days=7, window_start=2,
                                            window_end=5, autoreset_mode=mode),
        lambda seed: m.TradingEnv(n_symbols=3, n_days=7, seed=seed, window_start=2,
                                  window_end=5),
    ),
    # A scenario data set per lane, one shared execution seed.
    "scenario": (
        lambda seeds, mode: m.VecTradingEnv(seeds, n_symbols=3, n_days=4,
                                            distribution_mode="regime_shift", exec_seed=11,
                                            vol_clustering=0.2, autoreset_mode=mode),
        lambda seed: m.TradingEnv(n_symbols=3, n_days=4, seed=seed,
                                  distribution_mode="regime_shift", exec_seed=11,
                                  vol_clustering=0.2),
    ),
    # One shared CSV data set; fees so high that large trades wipe the NAV
    # out, so lanes also finish by termination.
    "csv_terminating": (
        lambda seeds, mode: m.VecTradingEnv.from_csv(csv_text(), seeds, window_end=4,
                                                     fee_bps=30000.0, autoreset_mode=mode),
        lambda seed: m.TradingEnv.from_csv(csv_text(), seed=seed, window_end=4,
                                           fee_bps=30000.0),
    ),
}


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("setup", sorted(SETUPS))
def test_lanes_match_separate_environments(setup, mode):
    make_vec, make_env = SETUPS[setup]
    vec = make_vec(SEEDS, mode)
    lanes = [ReferenceLane(make_env(seed), mode) for seed in SEEDS]
    seen = {"first": 0, "terminated": 0, "truncated": 0}
    for step in range(10):
        batch = load_batch(vec.step_batch(batch_decisions(len(SEEDS), step)), len(SEEDS))
        for i, lane in enumerate(lanes):
            expected = lane.step(decision_for(i, step))
            assert lane_view(batch, i) == expected, (step, i)
            for key in seen:
                seen[key] += expected[key]
    # The run crossed episode boundaries in the way the setup intends.
    assert seen["truncated"] > 0
    assert (seen["first"] > 0) == (mode != "disabled")
    assert (seen["terminated"] > 0) == (setup == "csv_terminating")


def test_next_step_pending_lane_ignores_its_decision_and_others_step_on():
    vec = m.VecTradingEnv([1, 2], n_symbols=3, n_days=3, window_start=1)
    buy = {"orders": [{"symbol": "SYM00", "action": "buy", "target_weight": 0.5}]}
    vec.step_batch(json.dumps([buy, buy]))
    vec.step_batch(json.dumps([buy, buy]))  # both lanes finish here
    # Lane 1 is reset while lane 0 is reset too; then only lane 0 finishes again.
    batch = load_batch(vec.step_batch(json.dumps([buy, buy])), 2)
    fresh = json.loads(m.TradingEnv(n_symbols=3, n_days=3, seed=2, window_start=1).reset())
    assert lane_view(batch, 1) == dict(
        observation=fresh, reward=0.0, terminated=False, truncated=False, first=True,
        info={"events": [], "nav": 1.0}, final_obs=None, final_info=None)
    assert all(p["shares"] == 0.0 for p in batch["observations"][1]["portfolio"])


def test_reset_batch_cancels_pending_resets():
    vec = m.VecTradingEnv([5, 6], n_days=2)
    hold = json.dumps([{"orders": []}] * 2)
    vec.step_batch(hold)
    assert load_batch(vec.step_batch(hold), 2)["truncated"] == [True, True]
    reset = json.loads(vec.reset_batch(), object_pairs_hook=sorted_object)
    assert list(reset) == ["n", "observations"] and reset["n"] == 2
    assert reset["observations"][0] == json.loads(m.TradingEnv(n_days=2, seed=5).reset())
    batch = load_batch(vec.step_batch(hold), 2)
    assert batch["first"] == [False, False] and batch["truncated"] == [False, False]


def test_nav_of_exactly_zero_terminates_without_truncating():
    vec = m.VecTradingEnv.from_csv(csv_text(flat=True), [1], fee_bps=10000.0, slippage_bps=0.0,
                                   impact_bps=0.0, financing_bps=0.0, autoreset_mode="same_step")
    all_in = {"orders": [{"symbol": "SYM00", "action": "buy", "target_weight": 1.0}]}
    batch = load_batch(vec.step_batch(json.dumps([all_in])), 1)
    assert batch["final_info"][0]["nav"] == 0.0 and batch["infos"][0]["nav"] == 0.0
    assert (batch["terminated"], batch["truncated"], batch["first"]) == ([True], [False], [True])
    assert batch["rewards"] == [-1.0]
    assert batch["observations"][0]["cash"] == 1.0  # the fresh episode


def test_single_lane_has_the_batch_framing():
    vec = m.VecTradingEnv([9])
    assert (vec.num_envs, vec.autoreset_mode, vec.scenario_seeds) == (1, "next_step", [9])
    text = vec.step_batch('[{"orders":[]}]')
    assert text.startswith('{"final_info":[null],"final_obs":[null],"first":[false],'
                           '"infos":[{"events":[],"nav":1.0}],"n":1,"observations":[{"cash":1.0,')
    assert text.endswith('"rewards":[0.0],"terminated":[false],"truncated":[false]}')


def test_properties_report_the_construction():
    seeds = [2**64 - 1, 0, 0, 42]
    vec = m.VecTradingEnv(seeds, exec_seed=5, autoreset_mode="disabled")
    assert (vec.num_envs, vec.autoreset_mode, vec.scenario_seeds) == (4, "disabled", seeds)
    csv_vec = m.VecTradingEnv.from_csv(csv_text(), (7, 8), autoreset_mode="same_step")
    assert (csv_vec.num_envs, csv_vec.autoreset_mode, csv_vec.scenario_seeds) == (
        2, "same_step", [7, 8])


LOADER_FAILURE = "date,symbol\n"


def loader_message():
    with pytest.raises(m.DataUnavailable) as info:
        m.TradingEnv.from_csv(LOADER_FAILURE)
    return str(info.value)


@pytest.mark.parametrize(
    "kwargs,cls,message",
    [
        # An empty seed list is refused before any other argument is looked at.
        (dict(seeds=[], distribution_mode="bogus", autoreset_mode="bogus", window_start=9,
              window_end=1), m.InvalidArgument, "seeds must be non-empty"),
        (dict(seeds=(), n_days=0), m.InvalidArgument, "seeds must be non-empty"),
        (dict(seeds=[1], distribution_mode="Calm", autoreset_mode="bogus"), m.InvalidArgument,
         'unknown distribution_mode "Calm" (expected calm | hard | extreme | '
         "cointegrated_pairs | regime_shift)"),
        (dict(seeds=[1], autoreset_mode='Same_step"\n', window_start=5, window_end=5),
         m.InvalidArgument,
         'unknown autoreset_mode "Same_step\\"\\n" (expected next_step | same_step | disabled)'),
        (dict(seeds=[1], window_start=10, window_end=10), m.InvalidArgument,
         "invalid window [10, 10) over 120 bars"),
        (dict(seeds=[1], window_start=120), m.InvalidArgument,
         "invalid window [120, 120) over 120 bars"),
        (dict(seeds=[1], window_end=121), m.InvalidArgument, "invalid window [0, 121) over 120 bars"),
        (dict(seeds=[1], n_days=5, window_start=2, window_end=6), m.InvalidArgument,
         "invalid window [2, 6) over 5 bars"),
        # No window over an empty calendar would build lanes that cannot be stepped.
        (dict(seeds=[1], n_days=0), m.InvalidArgument, "invalid window [0, 0) over 0 bars"),
    ],
)
def test_constructor_refusals(kwargs, cls, message):
    with pytest.raises(cls) as info:
        m.VecTradingEnv(**kwargs)
    assert type(info.value) is cls
    code = "INVALID_ARGUMENT"
    assert str(info.value) == f"[{code}] {message}"


def test_window_end_alone_starts_at_zero_and_window_start_alone_runs_to_n_days():
    hold = json.dumps([{"orders": []}])
    assert load_batch(m.VecTradingEnv([1], n_days=8, window_end=1).step_batch(hold), 1)[
        "truncated"] == [True]
    vec = m.VecTradingEnv([1], n_days=8, window_start=6)
    assert [load_batch(vec.step_batch(hold), 1)["truncated"][0] for _ in range(2)] == [False, True]


@pytest.mark.parametrize(
    "csv,seeds,kwargs,cls,message",
    [
        (LOADER_FAILURE, [], dict(autoreset_mode="bogus"), m.InvalidArgument,
         "[INVALID_ARGUMENT] seeds must be non-empty"),
        (LOADER_FAILURE, [1], dict(autoreset_mode="bogus"), m.DataUnavailable, None),
        (csv_text(), [1], dict(window_start=3, window_end=7, autoreset_mode="bogus"),
         m.InvalidArgument, "[INVALID_ARGUMENT] invalid window [3, 7) over 6 bars"),
        (csv_text(), [1], dict(window_start=6), m.InvalidArgument,
         "[INVALID_ARGUMENT] invalid window [6, 6) over 6 bars"),
        (csv_text(), [1], dict(autoreset_mode="NEXT_STEP"), m.InvalidArgument,
         '[INVALID_ARGUMENT] unknown autoreset_mode "NEXT_STEP" '
         "(expected next_step | same_step | disabled)"),
    ],
)
def test_from_csv_refusals(csv, seeds, kwargs, cls, message):
    with pytest.raises(cls) as info:
        m.VecTradingEnv.from_csv(csv, seeds, **kwargs)
    assert str(info.value) == (message or loader_message())


@pytest.mark.parametrize(
    "call,exc,message",
    [
        (lambda: m.VecTradingEnv("12"), TypeError,
         "argument 'seeds': must be a sequence of ints, not str"),
        (lambda: m.VecTradingEnv(b"\x01"), TypeError,
         "argument 'seeds': must be a sequence of ints, not bytes"),
        (lambda: m.VecTradingEnv([1, -2]), OverflowError,
         "argument 'seeds': can't convert negative int to unsigned"),
        (lambda: m.VecTradingEnv([1.0]), TypeError,
         "argument 'seeds': 'float' object cannot be interpreted as an integer"),
        (lambda: m.VecTradingEnv([1], exec_seed=2**64), OverflowError,
         "argument 'exec_seed': int too big to convert"),
        (lambda: m.VecTradingEnv([1], autoreset_mode=0), TypeError,
         "argument 'autoreset_mode': must be str, not int"),
        (lambda: m.VecTradingEnv([1], seed=3), TypeError,
         "'seed' is an invalid keyword argument for VecTradingEnv()"),
        (lambda: m.VecTradingEnv(), TypeError,
         "VecTradingEnv() missing required argument 'seeds' (pos 1)"),
        (lambda: m.VecTradingEnv.from_csv(csv_text()), TypeError,
         "from_csv() missing required argument 'seeds' (pos 2)"),
        (lambda: m.VecTradingEnv([1]).step_batch(b"[]"), TypeError,
         "argument 'decisions_json': must be str, not bytes"),
    ],
)
def test_argument_errors_name_the_argument(call, exc, message):
    with pytest.raises(exc) as info:
        call()
    assert str(info.value) == message


@pytest.mark.parametrize(
    "text,cls,message",
    [
        ("[]", m.InvalidArgument, "[INVALID_ARGUMENT] expected 2 decisions, got 0"),
        ('[{"orders":[]},{"orders":[]},{"orders":[]}]', m.InvalidArgument,
         "[INVALID_ARGUMENT] expected 2 decisions, got 3"),
        ("{}", m.InvalidJson,
         "[INVALID_JSON] invalid decisions JSON: invalid type: map, expected a sequence "
         "at line 1 column 1"),
        ('[{"orders":[]},{}]', m.InvalidJson,
         "[INVALID_JSON] invalid decisions JSON: missing field `orders` at line 1 column 17"),
        ('[{"orders":[]}] [', m.InvalidJson,
         "[INVALID_JSON] invalid decisions JSON: trailing characters at line 1 column 17"),
    ],
)
def test_refused_step_leaves_every_lane_unchanged(text, cls, message):
    touched = m.VecTradingEnv([1, 2], n_days=4, autoreset_mode="same_step")
    twin = m.VecTradingEnv([1, 2], n_days=4, autoreset_mode="same_step")
    for step in range(3):
        assert touched.step_batch(batch_decisions(2, step)) == twin.step_batch(
            batch_decisions(2, step))
        with pytest.raises(cls) as info:
            touched.step_batch(text)
        assert str(info.value) == message
    assert touched.step_batch(batch_decisions(2, 3)) == twin.step_batch(batch_decisions(2, 3))


def test_megabytes_of_decisions_work_or_are_refused_cleanly():
    vec = m.VecTradingEnv(list(range(8)), n_days=3)
    huge = [{"orders": [], "reasoning": "x" * 500_000} for _ in range(8)]
    batch = load_batch(vec.step_batch(json.dumps(huge)), 8)
    assert batch["rewards"] == [0.0] * 8
    with pytest.raises(m.InvalidJson):
        vec.step_batch("[" + '{"orders":[]},' * 400_000 + "]")
    with pytest.raises(m.InvalidArgument) as info:
        vec.step_batch("[" + ",".join(['{"orders":[]}'] * 300_000) + "]")
    assert str(info.value) == "[INVALID_ARGUMENT] expected 8 decisions, got 300000"


# Two 6-step episodes; next_step spends one more step on each reset, and
# disabled lanes keep trading at the last bar instead.
TAPE_STEPS = {"next_step": 14, "same_step": 12, "disabled": 12}


def batch_tape(mode):
    """8 lanes for two episodes' worth of steps, as the concatenated batch texts."""
    vec = m.VecTradingEnv(list(range(100, 108)), n_symbols=3, n_days=6, autoreset_mode=mode)
    return "\n".join(vec.step_batch(batch_decisions(8, step)) for step in range(TAPE_STEPS[mode]))


GOLDEN_TAPES = {
    "next_step": 0x2C557A5874365BCE,
    "same_step": 0xF54DF762B89B452A,
    "disabled": 0x23BE389968AB2875,
}


@pytest.mark.parametrize("mode", MODES)
def test_golden_batch_tapes(mode):
    tape = assert_same_bytes(lambda: batch_tape(mode))
    assert fnv1a64(tape) == GOLDEN_TAPES[mode]


def test_output_does_not_depend_on_the_number_of_workers():
    # The same tape computed in a process pinned to a single CPU (one thread).
    script = (
        "import os, sys; os.sched_setaffinity(0, {min(os.sched_getaffinity(0))}); "
        "sys.path.insert(0, sys.argv[1]); import test_vec_env as t; "
        "print(t.fnv1a64(t.batch_tape('same_step')))"
    )
    out = subprocess.run([sys.executable, "-c", script, os.path.dirname(__file__)],
                         capture_output=True, text=True, timeout=120, check=True)
    assert int(out.stdout) == fnv1a64(batch_tape("same_step"))


def test_a_forked_child_can_build_and_step_its_own_batch():
    parent = m.VecTradingEnv(list(range(8)), n_days=5)
    parent.step_batch(batch_decisions(8, 0))  # the pool's workers are running now
    expected = m.VecTradingEnv(list(range(16)), n_days=5).step_batch(batch_decisions(16, 1))

    read_end, write_end = os.pipe()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)  # fork() of a threaded process
        pid = os.fork()
    if pid == 0:  # the child: any failure must still end the process
        code = 1
        try:
            child = m.VecTradingEnv(list(range(16)), n_days=5)
            text = child.step_batch(batch_decisions(16, 1))
            os.write(write_end, str(fnv1a64(text)).encode())
            code = 0
        finally:
            os._exit(code)
    os.close(write_end)
    deadline = time.monotonic() + 60
    status = None
    while time.monotonic() < deadline:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            break
        time.sleep(0.05)
    else:
        os.kill(pid, 9)
        os.waitpid(pid, 0)
        pytest.fail("the forked child did not finish its batch step")
    ready, _, _ = select.select([read_end], [], [], 1)
    reply = os.read(read_end, 64) if ready else b""
    os.close(read_end)
    assert os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0
    assert int(reply) == fnv1a64(expected)
    # The parent's pool is unaffected.
    assert parent.step_batch(batch_decisions(8, 1))
