"""Throughput of the data sets: scenario generation and CSV loading.

    PYTHONPATH=<build>/pkg python3 bench/data.py [--repeat N]

Prints one line per case: the median wall time and the median CPU time of one
call over N timed calls (after one warm-up call), and the throughput in MB/s of
the text produced (scenario JSON) or consumed (CSV). Scenarios are 100 symbols
over 2,520 days in every mode, plain and with both overlays. The CSV case loads
a 50-symbol, 2,520-day long-format file through TradingEnv.from_csv, so it
includes building the environment over the loaded data set. The last line
loads a larger CSV in a fresh process and reports its peak memory growth as a
multiple of the text size.
"""

import argparse
import statistics
import subprocess
import sys
import time

from corvane import corvane_py as m

MODES = ["calm", "hard", "extreme", "cointegrated_pairs", "regime_shift"]
OVERLAYS = dict(
    vol_clustering=0.5, jump_burst_probability=0.02, jump_burst_persistence=0.3,
    jump_burst_size=0.015,
)


def time_call(fn, repeat):
    """Median wall and CPU time of one call, and the call's result."""
    result = fn()  # warm-up
    wall, cpu = [], []
    for _ in range(repeat):
        start_wall, start_cpu = time.perf_counter(), time.process_time()
        fn()
        wall.append(time.perf_counter() - start_wall)
        cpu.append(time.process_time() - start_cpu)
    return statistics.median(wall), statistics.median(cpu), result


def report(label, fn, repeat, size_of):
    wall, cpu, result = time_call(fn, repeat)
    megabytes = size_of(result) / 1e6
    print(f"{label:<56} median {wall * 1e3:7.1f} ms  cpu {cpu * 1e3:7.1f} ms  "
          f"{megabytes / wall:6.1f} MB/s ({megabytes / cpu:6.1f} MB/s of CPU), {megabytes:.2f} MB")


def long_csv(n_symbols, n_days):
    """A long-format CSV of the synthetic data set, with a dividend column."""
    import json

    data = json.loads(m.generate_scenario_json(7, n_symbols, n_days))
    lines = ["date,symbol,close,dividend"]
    for symbol, closes in data["closes"].items():
        for i, (date, close) in enumerate(zip(data["dates"], closes)):
            dividend = "0.25" if i % 63 == 62 else "0"
            lines.append(f"{date},{symbol},{close!r},{dividend}")
    return "\n".join(lines) + "\n"


MEMORY_PROBE = """
import sys
from corvane import corvane_py as m

def status_kb(key):
    for line in open("/proc/self/status"):
        if line.startswith(key):
            return int(line.split()[1])

text = sys.stdin.read()
before = status_kb("VmRSS")
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")  # resets the peak (VmHWM) to the current RSS
env = m.TradingEnv.from_csv(text)
print((status_kb("VmHWM") - before) * 1024, len(text.encode()))
"""


def memory_growth(text):
    """Peak RSS growth of one load in a fresh process, in bytes, and the text size."""
    out = subprocess.run([sys.executable, "-c", MEMORY_PROBE], input=text, text=True,
                         capture_output=True, check=True).stdout.split()
    return int(out[0]), int(out[1])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=5, help="timed calls per case")
    args = parser.parse_args()

    for mode in MODES:
        report(f"generate_scenario_json(100 x 2520, {mode})",
               lambda mode=mode: m.generate_scenario_json(1, 100, 2520, mode), args.repeat, len)
        report("  ... with both overlays",
               lambda mode=mode: m.generate_scenario_json(1, 100, 2520, mode, **OVERLAYS),
               args.repeat, len)

    text = long_csv(50, 2520)
    size = len(text.encode())
    if hasattr(m.TradingEnv, "from_csv"):
        report("TradingEnv.from_csv(50 x 2520 CSV)", lambda: m.TradingEnv.from_csv(text),
               args.repeat, lambda _: size)
        big = long_csv(200, 5000)
        grown, big_size = memory_growth(big)
        print(f"{'peak memory growth of from_csv(200 x 5000 CSV)':<56} "
              f"{grown / 1e6:8.1f} MB for {big_size / 1e6:.1f} MB of text "
              f"({grown / big_size:.1f}x)")
    else:
        print("TradingEnv.from_csv is not built yet; CSV loading not measured")


if __name__ == "__main__":
    main()
