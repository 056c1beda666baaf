"""The evaluation runner, end to end, through a subprocess."""

import json
import os
import shutil
import subprocess
import sys
import textwrap

import pytest

import corvane
from corvane import corvane_py as cv
from corvane.agents import EqualWeight, HoldCash
from corvane.evaluate import DEMO_SALT

SMALL = ["--seeds", "3", "--n-days", "30", "--n-boot", "50", "--no-progress"]


def run(*args, cwd=None):
    # The child imports the very package under test, wherever it came from.
    env = dict(os.environ)
    package_root = os.path.dirname(os.path.dirname(os.path.abspath(corvane.__file__)))
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [package_root, env.get("PYTHONPATH")]))
    return subprocess.run([sys.executable, "-m", "corvane", *args], capture_output=True,
                          text=True, cwd=cwd, env=env, timeout=300)


def test_default_run_prints_the_baseline_leaderboard():
    result = run("evaluate")
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0].split() == ["agent", "composite", "DSR", "DSR", "interval", "PSR", "p-value",
                                "max", "DD", "vs", "first"]
    names = [line.split()[0] for line in lines[2:6]]
    assert names == ["HoldCash", "EqualWeight", "Momentum", "MeanReversion"]
    assert "(reference)" in lines[2]
    assert "demonstration salt" in result.stdout
    # Progress goes to stderr, never into the table.
    assert "HoldCash: done" in result.stderr


@pytest.mark.skipif(shutil.which("corvane") is None, reason="console script not installed")
def test_console_script_runs():
    result = subprocess.run(["corvane", "evaluate", *SMALL], capture_output=True, text=True,
                            timeout=300)
    assert result.returncode == 0, result.stderr
    assert result.stdout == run("evaluate", *SMALL).stdout


def episode_rewards(agent_cls, seed, n_days):
    """One seed's episode driven through a plain TradingEnv, not the batch."""
    env = cv.TradingEnv(n_symbols=4, n_days=n_days, seed=seed)
    agent = agent_cls()
    obs, rewards, done = json.loads(env.reset()), [], False
    while not done:
        text, reward, done, _ = env.step(json.dumps(agent.decide(obs)))
        obs = json.loads(text)
        rewards.append(reward)
    return rewards


def test_json_records_match_direct_calls_and_repeat_byte_for_byte():
    args = ["evaluate", "--json", "--agent", "HoldCash", "--agent", "EqualWeight", *SMALL]
    first, second = run(*args), run(*args)
    assert first.returncode == 0, first.stderr
    assert first.stdout == second.stdout
    result = json.loads(first.stdout)
    seeds = [cv.sealed_seed(DEMO_SALT, slot) for slot in range(3)]
    assert result["seeds"] == seeds
    bands = {name: [episode_rewards(cls, s, 30) for s in seeds]
             for name, cls in [("HoldCash", HoldCash), ("EqualWeight", EqualWeight)]}
    hold, equal = result["agents"]
    for record in (hold, equal):
        band = bands[record["agent"]]
        pooled = [x for series in band for x in series]
        assert record["score"] == json.loads(cv.score_run(pooled))
        assert record["dsr_ci"] == json.loads(cv.bootstrap_dsr_ci(band, n_boot=50))
    assert hold["vs_first"] is None
    assert equal["vs_first"] == json.loads(
        cv.paired_dsr_diff(bands["EqualWeight"], bands["HoldCash"], n_boot=50))


def test_user_agent_from_a_module(tmp_path):
    (tmp_path / "my_agent.py").write_text(textwrap.dedent("""
        class AllIn:
            def decide(self, observation):
                symbol = observation["symbols"][0]["symbol"]
                return {"orders": [{"symbol": symbol, "action": "buy", "target_weight": 1.0}]}
    """))
    result = run("evaluate", "--agent", "HoldCash", "--agent", "my_agent:AllIn", *SMALL,
                 cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert [line.split()[0] for line in result.stdout.splitlines()[2:4]] == [
        "HoldCash", "my_agent:AllIn"]


BAD_AGENTS = textwrap.dedent("""
    class Shouty:
        def decide(self, observation):
            return {"orders": [{"symbol": "SYM00", "action": "BUY", "target_weight": 0.5}]}

    class Broken:
        def decide(self, observation):
            if observation["date"] == "2025-003":
                raise RuntimeError("lost my mind")
            return {"orders": []}
""")


@pytest.mark.parametrize("args,message", [
    (["--mode", "wild"], 'corvane evaluate: error: [INVALID_ARGUMENT] unknown distribution_mode'),
    (["--csv", "does/not/exist.csv"],
     "corvane evaluate: error: cannot read CSV file 'does/not/exist.csv'"),
    (["--csv", "bad.csv"], "corvane evaluate: error: [DATA_UNAVAILABLE] CSV header missing 'close'"),
    (["--salt", "short"], "corvane evaluate: error: invalid salt: [INVALID_SALT] sealed-seed salt "
     "must be at least 16 bytes (got 5)"),
    (["--agent", "bad_agents:Shouty"], "corvane evaluate: error: agent 'bad_agents:Shouty' at "
     "seed {seed0}, step 0 returned an invalid decision"),
    (["--agent", "bad_agents:Broken"], "corvane evaluate: error: agent 'bad_agents:Broken' at "
     "seed {seed0}, step 2 failed: RuntimeError: lost my mind"),
    (["--agent", "nowhere:Agent"], "corvane evaluate: error: cannot import agent module 'nowhere'"),
    (["--agent", "Nobody"], "corvane evaluate: error: unknown agent 'Nobody'"),
    (["--seeds", "1"], "corvane evaluate: error: --seeds must be at least 2"),
])
def test_user_errors_are_one_line_with_exit_code_2(tmp_path, args, message):
    (tmp_path / "bad_agents.py").write_text(BAD_AGENTS)
    (tmp_path / "bad.csv").write_text("date,symbol,price\n2025-01-01,A,1\n")
    result = run("evaluate", *SMALL, *args, cwd=tmp_path)
    assert result.returncode == 2
    assert result.stdout == ""
    expected = message.format(seed0=cv.sealed_seed(DEMO_SALT, 0))
    lines = result.stderr.strip().splitlines()
    assert lines[-1].startswith(expected), result.stderr
    assert "Traceback" not in result.stderr


def test_csv_run(tmp_path):
    rows = ["date,symbol,close"]
    for day in range(40):
        for k, symbol in enumerate(["AAA", "BBB"]):
            rows.append(f"2024-{day + 1:03d},{symbol},{100 + k + ((day * (k + 3)) % 7) * 0.5}")
    (tmp_path / "prices.csv").write_text("\n".join(rows) + "\n")
    result = run("evaluate", "--csv", "prices.csv", *SMALL, cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert "EqualWeight" in result.stdout
