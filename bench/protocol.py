"""Throughput of the wire contract: reading decisions and writing observations.

    PYTHONPATH=<build>/pkg python3 bench/protocol.py [--repeat N]

Decision reading is timed through validate_decision_json (parse plus typed read, no
environment) for a one-order and a 500-order decision. Observation writing is timed through
TradingEnv.reset, whose cost is dominated by writing the observation (20 closes per symbol),
for 10 and 500 symbols. Each line gives calls per second and MB/s of JSON text read or written.
"""

import argparse
import json
import time

from corvane import corvane_py as m


def rate(fn, repeat):
    """Calls per second over `repeat` calls, after one warm-up call."""
    fn()
    start = time.perf_counter()
    for _ in range(repeat):
        fn()
    return repeat / (time.perf_counter() - start)


def decision_text(n_orders):
    orders = [
        {"symbol": f"SYM{i:03d}", "action": "buy", "target_weight": 0.001 * i,
         "confidence": 0.75, "rationale": "mean reversion after a gap"}
        for i in range(n_orders)
    ]
    return json.dumps({"orders": orders, "reasoning": "rebalance",
                       "cost": {"cost_usd": 0.0021, "tokens_in": 1200, "tokens_out": 300}})


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=2000)
    args = parser.parse_args()

    for n_orders in (1, 500):
        text = decision_text(n_orders)
        assert m.validate_decision_json(text)
        calls = rate(lambda: m.validate_decision_json(text), args.repeat)
        mb = calls * len(text.encode()) / 1e6
        print(f"read decision, {n_orders:4d} orders: {calls:10.0f} calls/s  {mb:8.1f} MB/s")

    for n_symbols in (10, 500):
        env = m.TradingEnv(n_symbols=n_symbols, n_days=60, seed=1)
        size = len(env.reset().encode())
        calls = rate(env.reset, max(10, args.repeat // (1 + n_symbols // 10)))
        mb = calls * size / 1e6
        print(f"write observation, {n_symbols:3d} symbols: {calls:10.0f} calls/s  {mb:8.1f} MB/s")


if __name__ == "__main__":
    main()
