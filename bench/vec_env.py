"""VecTradingEnv throughput: lane-steps per second of step_batch for B = 1, 8,
64 and 256 lanes at 4 symbols, next to the same work done by a Python loop
over B TradingEnv objects, and the speed-up of the pool over one worker (the
same batch measured in a child process pinned to a single CPU, where the
pool runs every lane on the calling thread). Each figure is the best of a few
runs, because the machine is usually shared.

Run: PYTHONPATH=<build>/pkg python3 bench/vec_env.py [--quick]
"""

import argparse
import json
import os
import subprocess
import sys
import time

from corvane import corvane_py as m

N_SYMBOLS = 4
LANE_COUNTS = (1, 8, 64, 256)


def decisions(n_lanes):
    """Two batches that move every lane's book back and forth, so every step trades."""
    symbols = [f"SYM{k:02d}" for k in range(N_SYMBOLS)]
    one = [
        {"orders": [{"symbol": s, "action": "buy", "target_weight": w / N_SYMBOLS}
                    for s in symbols]}
        for w in (0.8, 0.2)
    ]
    return [json.dumps(d) for d in one], [json.dumps([d] * n_lanes) for d in one]


def batch_steps(total_lane_steps, n_lanes):
    return max(total_lane_steps // n_lanes, 20)


REPEATS = 3


def best_of(measure, *args):
    return max(measure(*args) for _ in range(REPEATS))


def vec_rate(n_lanes, n_steps):
    # A window longer than the run keeps every lane inside its episode.
    vec = m.VecTradingEnv(list(range(n_lanes)), n_symbols=N_SYMBOLS, n_days=n_steps + 1)
    _, batches = decisions(n_lanes)
    start = time.perf_counter()
    for k in range(n_steps):
        vec.step_batch(batches[k & 1])
    return n_lanes * n_steps / (time.perf_counter() - start)


def loop_rate(n_lanes, n_steps):
    envs = [m.TradingEnv(n_symbols=N_SYMBOLS, n_days=n_steps + 1, seed=s) for s in range(n_lanes)]
    singles, _ = decisions(n_lanes)
    start = time.perf_counter()
    for k in range(n_steps):
        d = singles[k & 1]
        for env in envs:
            env.step(d)
    return n_lanes * n_steps / (time.perf_counter() - start)


def one_worker_rate(n_lanes, n_steps):
    cpu = min(os.sched_getaffinity(0))
    script = (
        "import os, sys; os.sched_setaffinity(0, {%d}); sys.path.insert(0, %r); "
        "import vec_env as b; print(b.best_of(b.vec_rate, %d, %d))"
        % (cpu, os.path.dirname(os.path.abspath(__file__)), n_lanes, n_steps)
    )
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                         check=True)
    return float(out.stdout)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="fewer steps, for a smoke run")
    args = parser.parse_args()
    total = 4000 if args.quick else 20000
    cpus = len(os.sched_getaffinity(0))

    print(f"VecTradingEnv.step_batch, {N_SYMBOLS} symbols, {cpus} CPUs available")
    print(f"{'B':>5} {'batch steps':>11} {'step_batch':>14} {'Python loop':>14} "
          f"{'vs loop':>8} {'one worker':>14} {'pool speed-up':>14}")
    for n_lanes in LANE_COUNTS:
        n_steps = batch_steps(total, n_lanes)
        pooled = best_of(vec_rate, n_lanes, n_steps)
        looped = best_of(loop_rate, n_lanes, n_steps)
        single = one_worker_rate(n_lanes, n_steps)
        print(f"{n_lanes:>5} {n_steps:>11} {pooled:>12.0f}/s {looped:>12.0f}/s "
              f"{pooled / looped:>7.2f}x {single:>12.0f}/s {pooled / single:>13.2f}x")
    print("(rates are lane-steps per second; each batch returns one JSON text for all lanes)")


if __name__ == "__main__":
    main()
