"""The evaluation runner: agents over held-out seeds, scored and compared.

Every agent runs over the same band of sealed seeds, one lane of a
`VecTradingEnv` per seed. Each agent is scored with `score_run` on its pooled
per-step returns and with `bootstrap_dsr_ci` over its seeds, and compared with
the first agent by `paired_dsr_diff` on the same seeds.
"""

from __future__ import annotations

import importlib
import json
import os
import sys
from dataclasses import dataclass, field
from typing import Callable, Optional, TextIO

from . import corvane_py as native
from .agents import BASELINES

# The demonstration salt: good for trying the runner, useless for a sealed
# evaluation, since everybody can read it here.
DEMO_SALT = b"corvane-demo-salt-not-secret"


class UserError(Exception):
    """A mistake the user can fix; reported as one line, without a traceback."""


@dataclass
class RunConfig:
    agents: list = field(default_factory=lambda: list(BASELINES))
    salt: bytes = DEMO_SALT
    n_seeds: int = 8
    mode: str = "calm"
    n_symbols: int = 4
    n_days: int = 120
    csv_path: Optional[str] = None
    n_boot: int = 1000


@dataclass
class AgentSpec:
    name: str
    factory: Callable[[], object]


def load_agent(reference: str) -> AgentSpec:
    """A baseline by name, or `module:Attribute` for a user's agent class or factory."""
    if reference in BASELINES:
        return AgentSpec(reference, BASELINES[reference])
    module_name, sep, attribute = reference.partition(":")
    if not sep or not module_name or not attribute:
        known = ", ".join(BASELINES)
        raise UserError(f"unknown agent {reference!r} (use one of {known}, or module:Class)")
    if os.getcwd() not in sys.path:
        sys.path.insert(0, os.getcwd())
    try:
        module = importlib.import_module(module_name)
    except Exception as exc:  # the user's module may fail in any way on import
        raise UserError(f"cannot import agent module {module_name!r}: {exc}") from None
    factory = getattr(module, attribute, None)
    if factory is None or not callable(factory):
        raise UserError(f"module {module_name!r} has no agent class {attribute!r}")
    return AgentSpec(reference, factory)


def derive_seeds(salt: bytes, n_seeds: int) -> list:
    if n_seeds < 2:
        raise UserError("--seeds must be at least 2 (the intervals resample seeds)")
    try:
        return [native.sealed_seed(salt, slot) for slot in range(n_seeds)]
    except native.CorvaneError as exc:
        raise UserError(f"invalid salt: {exc}") from None


def make_env(config: RunConfig, seeds: list):
    if config.csv_path is not None:
        try:
            with open(config.csv_path, encoding="utf-8", newline="") as f:
                text = f.read()
        except (OSError, UnicodeDecodeError) as exc:
            raise UserError(f"cannot read CSV file {config.csv_path!r}: {exc}") from None
        return native.VecTradingEnv.from_csv(text, seeds, autoreset_mode="disabled")
    return native.VecTradingEnv(
        seeds,
        n_symbols=config.n_symbols,
        n_days=config.n_days,
        distribution_mode=config.mode,
        autoreset_mode="disabled",
    )


def _decide(agent_obj, spec: AgentSpec, observation: dict, seed: int, step: int) -> str:
    where = f"agent {spec.name!r} at seed {seed}, step {step}"
    try:
        decision = agent_obj.decide(observation)
        text = json.dumps(decision, allow_nan=True)
    except Exception as exc:  # the user's agent may fail in any way
        raise UserError(f"{where} failed: {type(exc).__name__}: {exc}") from None
    if not native.validate_decision_json(text):
        raise UserError(f"{where} returned an invalid decision: {text[:200]}")
    return text


def run_agent(spec: AgentSpec, config: RunConfig, seeds: list, progress) -> list:
    """Steps one agent through every seed's episode; returns per-seed rewards."""
    env = make_env(config, seeds)
    lanes = len(seeds)
    agents = []
    for _ in seeds:
        try:
            agents.append(spec.factory())
        except Exception as exc:
            raise UserError(f"cannot create agent {spec.name!r}: {exc}") from None
    observations = json.loads(env.reset_batch())["observations"]
    rewards = [[] for _ in range(lanes)]
    finished = [False] * lanes
    hold = json.dumps({"orders": []})
    step = 0
    while not all(finished):
        decisions = [
            hold if finished[i] else _decide(agents[i], spec, observations[i], seeds[i], step)
            for i in range(lanes)
        ]
        batch = json.loads(env.step_batch("[" + ",".join(decisions) + "]"))
        for i in range(lanes):
            if finished[i]:
                continue
            rewards[i].append(batch["rewards"][i])
            if batch["terminated"][i] or batch["truncated"][i]:
                finished[i] = True
        observations = batch["observations"]
        step += 1
        progress(step)
    return rewards


def _nan_safe(values):
    # A null reward (a non-finite number in the batch JSON) is scored as NaN.
    return [float("nan") if v is None else v for v in values]


def evaluate(config: RunConfig, err: TextIO = sys.stderr, show_progress: bool = True) -> dict:
    specs = [load_agent(a) for a in config.agents]
    if not specs:
        raise UserError("no agent to evaluate")
    seeds = derive_seeds(config.salt, config.n_seeds)
    try:
        native.generate_scenario_json(0, 1, 1, config.mode)
    except native.CorvaneError as exc:
        raise UserError(str(exc)) from None

    per_agent = []
    for index, spec in enumerate(specs):
        bar = ProgressBar(err, f"[{index + 1}/{len(specs)}] {spec.name}", config.n_days,
                          enabled=show_progress)
        try:
            rewards = run_agent(spec, config, seeds, bar.update)
        except native.CorvaneError as exc:
            raise UserError(str(exc)) from None
        finally:
            bar.close()
        per_agent.append([_nan_safe(r) for r in rewards])

    records = []
    for index, (spec, per_seed) in enumerate(zip(specs, per_agent)):
        pooled = [x for series in per_seed for x in series]
        record = {
            "agent": spec.name,
            "score": json.loads(native.score_run(pooled)),
            "dsr_ci": _interval(lambda: native.bootstrap_dsr_ci(per_seed, n_boot=config.n_boot)),
            "vs_first": None,
            "per_seed_total_return": [_compound(series) for series in per_seed],
        }
        if index > 0:
            record["vs_first"] = _interval(
                lambda: native.paired_dsr_diff(per_seed, per_agent[0], n_boot=config.n_boot))
        records.append(record)
    return {
        "seeds": seeds,
        "salt_is_demo": config.salt == DEMO_SALT,
        "data": {"csv": config.csv_path} if config.csv_path else
        {"mode": config.mode, "n_symbols": config.n_symbols, "n_days": config.n_days},
        "n_boot": config.n_boot,
        "agents": records,
    }


def _interval(call):
    # An interval the data cannot support (say, a seed with a NaN return) is
    # reported as its error rather than ending the whole evaluation.
    try:
        return json.loads(call())
    except native.CorvaneError as exc:
        return {"error": str(exc)}


def _compound(series):
    wealth = 1.0
    for r in series:
        wealth *= 1.0 + r
    return wealth - 1.0


class ProgressBar:
    def __init__(self, out: TextIO, label: str, total: int, enabled: bool = True):
        self.out, self.label, self.total = out, label, max(total, 1)
        self.enabled = enabled
        self.tty = enabled and hasattr(out, "isatty") and out.isatty()

    def update(self, step: int):
        if not self.tty:
            return
        done = min(step, self.total)
        filled = int(30 * done / self.total)
        self.out.write(f"\r{self.label:<32} [{'#' * filled}{'.' * (30 - filled)}] {done}/{self.total}")
        self.out.flush()

    def close(self):
        if not self.enabled:
            return
        if self.tty:
            self.out.write("\n")
        else:
            self.out.write(f"{self.label}: done\n")
        self.out.flush()


def _fmt(value, width=8, digits=4):
    if value is None:
        return f"{'-':>{width}}"
    return f"{value:>{width}.{digits}f}"


VERDICT_LABELS = {"a_better": "better", "b_better": "worse", "tied": "tied"}


def leaderboard_table(result: dict) -> str:
    header = (f"{'agent':<16} {'composite':>9} {'DSR':>8} {'DSR interval':>19} {'PSR':>8} "
              f"{'p-value':>8} {'max DD':>8}  vs first")
    lines = [header, "-" * len(header)]
    first = result["agents"][0]["agent"] if result["agents"] else ""
    for record in result["agents"]:
        score, ci, vs = record["score"], record["dsr_ci"], record["vs_first"]
        if "error" in ci:
            interval = f"{'n/a':>19}"
        else:
            interval = f"[{ci['lo']:.4f}, {ci['hi']:.4f}]".rjust(19)
        if vs is None:
            versus = "(reference)"
        elif "error" in vs:
            versus = "n/a"
        else:
            versus = f"{VERDICT_LABELS.get(vs['verdict'], vs['verdict'])} (p={vs['p_value']:.3f})"
        lines.append(
            f"{record['agent'][:16]:<16} {_fmt(score['composite'], 9)} "
            f"{_fmt(score['deflated_sharpe'])} {interval} {_fmt(score['psr'])} "
            f"{_fmt(score['bootstrap_p'])} {_fmt(score['max_drawdown'])}  {versus}")
    seeds = result["seeds"]
    lines.append("")
    lines.append(f"{len(seeds)} sealed seeds ({seeds[0]} ...); verdicts compare each agent "
                 f"with {first}.")
    if result["salt_is_demo"]:
        lines.append("Seeds come from the public demonstration salt: pass --salt for a sealed run.")
    return "\n".join(lines)
