"""No-growth check: many calls of each stepping and scoring API, memory before and after.

    python bench/growth.py            # 200,000 calls of each API
    python bench/growth.py --calls 20000 --limit-mb 8   # the short CI check

Every API gets the same number of calls. Each runs a tenth of them first (so
caches, arenas and interned objects settle), then the resident set size is
read before and after the measured calls. Objects whose state grows by design (an episode's trace,
a market's cursor) are reset at the end of each episode. With --limit-mb the
script exits non-zero when any API grows more than that.
"""

from __future__ import annotations

import argparse
import json
import os
import sys

from corvane import corvane_py as cv

PAGE = os.sysconf("SC_PAGE_SIZE")


def rss_bytes() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


DECISION = json.dumps({"orders": [
    {"symbol": "SYM00", "action": "buy", "target_weight": 0.3, "rationale": "r" * 40},
    {"symbol": "SYM01", "action": "sell", "target_weight": -0.2},
], "reasoning": "growth check"})
HOLD = '{"orders":[]}'


def trading_env_steps():
    env = cv.TradingEnv(n_symbols=4, n_days=60, seed=7)
    env.reset()
    step = [0]

    def call():
        _, _, done, _ = env.step(DECISION if step[0] % 2 else HOLD)
        step[0] += 1
        if done:
            env.reset()
    return call


def trading_env_checkpoints():
    env = cv.TradingEnv(n_symbols=4, n_days=60, seed=7)
    env.reset()
    for _ in range(10):
        env.step(DECISION)
    state = env.clone_state()

    def call():
        env.restore_state(state)
        env.clone_state()
    return call


def vec_env_steps():
    env = cv.VecTradingEnv([1, 2, 3, 4], n_symbols=4, n_days=60, autoreset_mode="same_step")
    batch = "[" + ",".join([DECISION, HOLD, DECISION, HOLD]) + "]"
    return lambda: env.step_batch(batch)


def order_book_steps():
    book = cv.PyOrderBook()
    orders = json.dumps([
        {"agent": 1, "kind": "limit", "side": "buy", "price_tick": 100, "qty": 5},
        {"agent": 2, "kind": "limit", "side": "sell", "price_tick": 100, "qty": 5},
        {"agent": 3, "kind": "market", "side": "buy", "qty": 1},
    ])

    def call():
        book.step_book(orders)
        book.ladder()
        book.sweep_cost("buy", 3)
        book.uncross()
    return call


def market_steps():
    market = cv.PyMarketClearing(n_symbols=4, n_days=60, n_agents=2)
    orders = json.dumps([[0.1, -0.1, 0.0, 0.2], [0.0, 0.1, -0.2, 0.0]])

    def call():
        market.step_market(orders)
        if market.done:
            market.reset_market()
    return call


RETURNS = [((i * 7919) % 23 - 11) / 1000.0 for i in range(252)]
BANDS = [RETURNS[k:] + RETURNS[:k] for k in range(0, 40, 8)]


def scoring_calls():
    return lambda: cv.score_run(RETURNS[:20])


def interval_calls():
    def call():
        cv.bootstrap_dsr_ci(BANDS, n_boot=2)
        cv.paired_dsr_diff(BANDS, BANDS[::-1], n_boot=2)
    return call


def service_calls():
    mandate = cv.sample_mandate_json(3)
    salt = b"0123456789abcdef-growth"

    def call():
        cv.sealed_seed(salt, 5)
        cv.perturb_action(1, 2, [0.5, -0.25], [0.1, 0.0], 0.2, 3.0)
        cv.mandate_breach(mandate, [0.01, -0.02], [[0.25, 0.25, 0.25, 0.25]] * 2)
        cv.validate_decision_json(DECISION)
        try:
            cv.TradingEnv(n_symbols=2, n_days=10).step("{bad")
        except cv.InvalidJson:
            pass
    return call


CASES = [
    ("TradingEnv.step", trading_env_steps),
    ("TradingEnv.clone/restore", trading_env_checkpoints),
    ("VecTradingEnv.step_batch", vec_env_steps),
    ("PyOrderBook.step_book+reads", order_book_steps),
    ("PyMarketClearing.step_market", market_steps),
    ("score_run", scoring_calls),
    ("bootstrap/paired intervals", interval_calls),
    ("seeds, noise, mandates, refusals", service_calls),
]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--calls", type=int, default=200_000)
    parser.add_argument("--limit-mb", type=float, default=None)
    args = parser.parse_args()
    worst = 0.0
    print(f"{'api':<34} {'calls':>8} {'before MB':>10} {'after MB':>10} {'growth MB':>10}")
    for name, make in CASES:
        call = make()
        calls = args.calls
        for _ in range(max(calls // 10, 10)):
            call()
        before = rss_bytes()
        for _ in range(calls):
            call()
        after = rss_bytes()
        growth = (after - before) / 2**20
        worst = max(worst, growth)
        print(f"{name:<34} {calls:>8} {before / 2**20:>10.1f} {after / 2**20:>10.1f} {growth:>10.2f}")
    if args.limit_mb is not None and worst > args.limit_mb:
        print(f"FAIL: memory grew {worst:.2f} MB, more than {args.limit_mb} MB", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
