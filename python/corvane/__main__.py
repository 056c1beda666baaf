"""Command line: `corvane evaluate` (also `python -m corvane evaluate`)."""

from __future__ import annotations

import argparse
import json
import sys

from .agents import BASELINES
from .evaluate import RunConfig, UserError, evaluate, leaderboard_table


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="corvane", description="Corvane trading-agent benchmark.")
    commands = parser.add_subparsers(dest="command", metavar="command")
    run = commands.add_parser(
        "evaluate",
        help="evaluate agents over held-out seeds and print a leaderboard",
        description="Run agents over a band of sealed seeds and print a leaderboard.")
    run.add_argument("--agent", action="append", dest="agents", metavar="AGENT",
                     help=f"a baseline ({', '.join(BASELINES)}) or module:Class; repeat to "
                          "compare several (default: the four baselines)")
    run.add_argument("--salt", help="secret salt for the sealed seeds (at least 16 bytes)")
    run.add_argument("--seeds", type=int, default=8, help="number of seeds (default 8)")
    run.add_argument("--mode", default="calm",
                     help="scenario family: calm, hard, extreme, cointegrated_pairs, regime_shift")
    run.add_argument("--n-symbols", type=int, default=4, help="instruments per scenario")
    run.add_argument("--n-days", type=int, default=120, help="bars per scenario")
    run.add_argument("--csv", metavar="PATH", help="run on a long-format CSV file instead")
    run.add_argument("--n-boot", type=int, default=1000, help="bootstrap replicates")
    run.add_argument("--json", action="store_true", help="print the full records as JSON")
    run.add_argument("--no-progress", action="store_true", help="no progress bar on stderr")
    return parser


def main(argv=None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    if args.command != "evaluate":
        parser.print_help(sys.stderr)
        return 2
    config = RunConfig(
        agents=args.agents or list(BASELINES),
        salt=args.salt.encode("utf-8") if args.salt is not None else RunConfig.salt,
        n_seeds=args.seeds,
        mode=args.mode,
        n_symbols=args.n_symbols,
        n_days=args.n_days,
        csv_path=args.csv,
        n_boot=args.n_boot,
    )
    try:
        result = evaluate(config, sys.stderr, show_progress=not args.no_progress)
    except UserError as exc:
        print(f"corvane evaluate: error: {exc}", file=sys.stderr)
        return 2
    except (ValueError, OverflowError) as exc:
        # Out-of-range numbers reach the engine as argument errors.
        print(f"corvane evaluate: error: {exc}", file=sys.stderr)
        return 2
    if args.json:
        print(json.dumps(result, indent=2))
    else:
        print(leaderboard_table(result))
    return 0


if __name__ == "__main__":
    sys.exit(main())
