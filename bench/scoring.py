"""Latency of the scoring kernel and the leaderboard intervals.

    PYTHONPATH=<build>/pkg python3 bench/scoring.py [--repeat N]

Prints one line per case: the median and the best wall time and the median
CPU time of one call over N timed calls (after one warm-up call); on a busy
machine the CPU time is the steadier figure. score_run runs two seeded bootstraps
of 2,000 replicates each, so its cost grows with the series length; the
interval functions resample 50 seeds of 252 returns 2,000 times.
"""

import argparse
import statistics
import time

from corvane import corvane_py as m


def series(n, seed, drift=0.0004, scale=0.02):
    """A deterministic return series (LCG noise), so runs are comparable."""
    out, state = [], seed
    for _ in range(n):
        state = (state * 6364136223846793005 + 1442695040888963407) % 2**64
        out.append(((state >> 11) / 2**53 - 0.5) * scale + drift)
    return out


def time_call(fn, repeat):
    """Median and best wall time, and median CPU time, of one call."""
    fn()  # warm-up
    wall, cpu = [], []
    for _ in range(repeat):
        start_wall, start_cpu = time.perf_counter(), time.process_time()
        fn()
        wall.append(time.perf_counter() - start_wall)
        cpu.append(time.process_time() - start_cpu)
    return statistics.median(wall), min(wall), statistics.median(cpu)


def report(label, fn, repeat):
    median, best, cpu = time_call(fn, repeat)
    print(f"{label:<46} median {median * 1e3:8.2f} ms   best {best * 1e3:8.2f} ms"
          f"   cpu {cpu * 1e3:8.2f} ms")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=7, help="timed calls per case")
    args = parser.parse_args()

    for n in (252, 1260, 2520):
        returns = series(n, seed=n)
        report(f"score_run({n} returns)", lambda r=returns: m.score_run(r), args.repeat)

    seeds_a = [series(252, seed=1000 + i) for i in range(50)]
    seeds_b = [series(252, seed=5000 + i, drift=0.0002) for i in range(50)]
    if hasattr(m, "bootstrap_dsr_ci"):
        report("bootstrap_dsr_ci(50 seeds x 252, n_boot=2000)",
               lambda: m.bootstrap_dsr_ci(seeds_a), args.repeat)
    else:
        print("bootstrap_dsr_ci: not in this build")
    if hasattr(m, "paired_dsr_diff"):
        report("paired_dsr_diff(50 seeds x 252, n_boot=2000)",
               lambda: m.paired_dsr_diff(seeds_a, seeds_b), args.repeat)
    else:
        print("paired_dsr_diff: not in this build")


if __name__ == "__main__":
    main()
