"""TradingEnv throughput: steps per second for small and wide data sets with a
one-order and an all-symbols decision, and the cost of clone_state /
restore_state once the trace has grown over 1,000 steps.

Run: PYTHONPATH=<build>/pkg python3 bench/env.py [--quick]
"""

import argparse
import json
import time

from corvane import corvane_py as m


def symbols_of(env):
    return [s["symbol"] for s in json.loads(env.reset())["symbols"]]


def alternating(symbols, wide):
    """Two decisions that move the book back and forth, so every step trades."""
    chosen = symbols if wide else symbols[:1]
    return [
        json.dumps({"orders": [{"symbol": s, "action": "buy", "target_weight": w / len(chosen)}
                               for s in chosen]})
        for w in (0.8, 0.2)
    ]


def steps_per_second(n_symbols, wide, n_steps):
    # A window longer than the run keeps every step inside the episode.
    env = m.TradingEnv(n_symbols=n_symbols, n_days=n_steps + 1)
    decisions = alternating(symbols_of(env), wide)
    start = time.perf_counter()
    for k in range(n_steps):
        env.step(decisions[k & 1])
    return n_steps / (time.perf_counter() - start)


def checkpoint_cost(n_symbols, n_steps, repeats):
    env = m.TradingEnv(n_symbols=n_symbols, n_days=n_steps + 1)
    decisions = alternating(symbols_of(env), wide=True)
    for k in range(n_steps):
        env.step(decisions[k & 1])
    start = time.perf_counter()
    for _ in range(repeats):
        state = env.clone_state()
    clone = (time.perf_counter() - start) / repeats
    start = time.perf_counter()
    for _ in range(repeats):
        env.restore_state(state)
    restore = (time.perf_counter() - start) / repeats
    return clone, restore, len(state)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="fewer steps, for a smoke run")
    args = parser.parse_args()
    n_steps = 500 if args.quick else 5000
    repeats = 5 if args.quick else 50

    print(f"TradingEnv.step, {n_steps} steps each")
    for n_symbols in (4, 100):
        for wide in (False, True):
            label = "all-symbols" if wide else "one-order"
            rate = steps_per_second(n_symbols, wide, n_steps)
            print(f"  {n_symbols:>3} symbols, {label:<11} decision: {rate:>10,.0f} steps/s")

    print("clone_state / restore_state after 1,000 all-symbols steps")
    for n_symbols in (4, 100):
        clone, restore, size = checkpoint_cost(n_symbols, 1000, repeats)
        print(f"  {n_symbols:>3} symbols: clone {clone * 1e3:8.3f} ms, "
              f"restore {restore * 1e3:8.3f} ms, state {size / 1024:,.0f} KiB")


if __name__ == "__main__":
    main()
