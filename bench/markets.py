"""Throughput of the shared-market environments.

Order book: step_book in orders per second for batches of 1, 100 and 10,000
mixed orders, and a cancel-heavy run against 100,000 resting orders, whose time
must grow linearly in the number of cancels and not with the resting orders.
Multi-agent market: step_market in steps per second for 2 agents x 4 symbols
and 32 agents x 100 symbols, on the linear, power and robust paths.

Times are CPU seconds of this process (time.process_time), which a machine
busy with other work distorts less than wall time.

Every bench_* function below is one benchmark; main runs them all in the order
they are defined (or only those whose name contains one of the given words).

Run: PYTHONPATH=<build>/pkg python3 bench/markets.py [--quick] [word ...]
"""

import argparse
import json
import time

from corvane import corvane_py as m

MASK = (1 << 64) - 1


class SplitMix64:
    def __init__(self, seed):
        self.state = seed & MASK

    def next(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & MASK
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
        return z ^ (z >> 31)


def dumps(orders):
    return json.dumps(orders, separators=(",", ":"))


def limit(agent, side, price, qty):
    return {"agent": agent, "kind": "limit", "side": side, "price_tick": price, "qty": qty}


def mixed_orders(rng, n, ids_given):
    """n mixed orders (60% limit, 10% market, 15% cancel, 15% modify) around
    price 1000; returns the orders and the new count of ids given."""
    orders = []
    for _ in range(n):
        agent = rng.next() % 16
        side = "buy" if rng.next() & 1 else "sell"
        qty = 1 + rng.next() % 20
        roll = rng.next() % 20
        target = rng.next() % (ids_given + 1)
        if roll < 12:
            orders.append(limit(agent, side, 980 + rng.next() % 41, qty))
            ids_given += 1
        elif roll < 14:
            orders.append({"agent": agent, "kind": "market", "side": side, "qty": qty})
        elif roll < 17:
            orders.append({"agent": agent, "kind": "cancel", "id": target})
        else:
            orders.append({"agent": agent, "kind": "modify", "id": target, "new_qty": qty})
    return orders, ids_given


def seeded_book(n_resting):
    """A book with about n_resting orders on both sides of 1000, never crossing."""
    book = m.PyOrderBook()
    for start in range(0, n_resting, 10_000):
        batch = []
        for i in range(start, min(start + 10_000, n_resting)):
            side, price = ("buy", 999 - i % 500) if i & 1 else ("sell", 1001 + i % 500)
            batch.append(limit(i % 64, side, price, 1 + i % 7))
        book.step_book(dumps(batch))
    return book


def time_batches(book, batches):
    start = time.process_time()
    for batch in batches:
        book.step_book(batch)
    return time.process_time() - start


def bench_book_batches(quick):
    print("step_book, mixed orders (book seeded with 10,000 resting orders)")
    total_orders = 20_000 if quick else 200_000
    for size in (1, 100, 10_000):
        rng = SplitMix64(size)
        ids_given = 10_000
        batches = []
        for _ in range(max(1, total_orders // size)):
            orders, ids_given = mixed_orders(rng, size, ids_given)
            batches.append(dumps(orders))
        book = seeded_book(10_000)
        elapsed = time_batches(book, batches)
        n = len(batches) * size
        print(f"  batch {size:>6,}: {n / elapsed:>12,.0f} orders/s  "
              f"({elapsed / len(batches) * 1e6:,.1f} us per call, {n:,} orders)")


def cancel_batches(ids, batch_size):
    return [dumps([{"agent": i % 64, "kind": "cancel", "id": i} for i in ids[k:k + batch_size]])
            for k in range(0, len(ids), batch_size)]


def bench_book_cancel_heavy(quick):
    resting = 100_000
    print(f"step_book, cancels in batches of 1,000 against {resting:,} resting orders")
    counts = (1_000, 10_000) if quick else (1_000, 10_000, 100_000)
    per_cancel = []
    for n_cancels in counts:
        book = seeded_book(resting)
        # Spread over the whole book: every 100,000 / n-th id.
        ids = [(k * resting) // n_cancels for k in range(n_cancels)]
        elapsed = time_batches(book, cancel_batches(ids, 1_000))
        per_cancel.append(elapsed / n_cancels)
        print(f"  {n_cancels:>7,} cancels: {elapsed * 1e3:>9.1f} ms  "
              f"({elapsed / n_cancels * 1e9:,.0f} ns per cancel)")
    print(f"  per-cancel time, most over least cancels: {per_cancel[-1] / per_cancel[0]:.2f}x "
          "(1.0 is linear)")

    print("step_book, 1,000 cancels and 1,000 modifies against books of growing depth")
    for depth in (1_000, 10_000, 100_000):
        book = seeded_book(depth)
        ids = [(k * depth) // 1_000 for k in range(1_000)]
        modifies = dumps([{"agent": 1, "kind": "modify", "id": i, "new_qty": 9 + i % 3}
                          for i in ids])
        t_modify = time_batches(book, [modifies])
        t_cancel = time_batches(book, cancel_batches(ids, 1_000))
        print(f"  {depth:>7,} resting: cancel {t_cancel / 1_000 * 1e9:>7,.0f} ns, "
              f"modify {t_modify / 1_000 * 1e9:>7,.0f} ns per order")


def market_orders(rng, n_agents, n_symbols):
    """Target weights in [-0.5, 0.5), as the JSON text step_market takes."""
    return dumps([[(rng.next() >> 11) / 2.0**53 - 0.5 for _ in range(n_symbols)]
                  for _ in range(n_agents)])


def bench_market_steps(quick):
    print("step_market, whole 100-step episodes (reset not timed)")
    paths = {"linear": {}, "power": {"impact_exponent": 0.5},
             "robust": {"lambda_radius": 0.05, "eta_radius": 0.02, "uncertainty_correlation": 0.3}}
    for n_agents, n_symbols, episodes in ((2, 4, 50), (32, 100, 3)):
        if quick:
            episodes = 1
        rng = SplitMix64(n_agents * 1000 + n_symbols)
        orders = [market_orders(rng, n_agents, n_symbols) for _ in range(100)]
        out_bytes = len(m.PyMarketClearing(n_symbols=n_symbols, n_agents=n_agents)
                        .step_market(orders[0]))
        for path, kwargs in paths.items():
            market = m.PyMarketClearing(n_symbols=n_symbols, n_agents=n_agents, **kwargs)
            elapsed = 0.0
            for _ in range(episodes):
                market.reset_market()
                start = time.process_time()
                for text in orders:
                    market.step_market(text)
                elapsed += time.process_time() - start
            steps = 100 * episodes
            print(f"  {n_agents:>2} agents x {n_symbols:>3} symbols, {path:<6}: "
                  f"{steps / elapsed:>10,.0f} steps/s  ({elapsed / steps * 1e6:,.1f} us per step, "
                  f"{out_bytes:,} bytes out)")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="smaller runs, for a smoke test")
    parser.add_argument("only", nargs="*", help="run only benchmarks whose name holds a word")
    args = parser.parse_args()
    benches = [(name, fn) for name, fn in globals().items()
               if name.startswith("bench_") and callable(fn)]
    for name, fn in benches:
        if args.only and not any(word in name for word in args.only):
            continue
        fn(args.quick)
        print()


if __name__ == "__main__":
    main()
