"""Objects driven from several Python threads at once."""

import json
import threading

from corvane import corvane_py as cv

DECISIONS = [
    json.dumps({"orders": [{"symbol": "SYM00", "action": "buy", "target_weight": 0.5}]}),
    json.dumps({"orders": [{"symbol": "SYM01", "action": "sell", "target_weight": -0.3}]}),
    '{"orders":[]}',
]


def episode(seed):
    env = cv.TradingEnv(n_symbols=3, n_days=40, seed=seed)
    out = [env.reset()]
    done, step = False, 0
    while not done:
        obs, reward, done, info = env.step(DECISIONS[step % 3])
        out.append((obs, reward, done, info))
        step += 1
    out.append(cv.score_run([o[1] for o in out[1:]]))
    return out


def book_tape(seed):
    book = cv.PyOrderBook()
    out = []
    for i in range(200):
        side = "buy" if (i * seed) % 3 else "sell"
        out.append(book.step_book(json.dumps(
            [{"agent": seed, "kind": "limit", "side": side, "price_tick": 100 + i % 5, "qty": 3}])))
    return out


def run_threads(work, args):
    results = [None] * len(args)
    errors = []

    def target(i):
        try:
            results[i] = work(args[i])
        except BaseException as exc:  # reported below, in the main thread
            errors.append(exc)

    threads = [threading.Thread(target=target, args=(i,)) for i in range(len(args))]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=120)
    assert not errors
    return results


def test_separate_objects_in_threads_match_sequential_use():
    seeds = [1, 2, 3, 4, 5, 6]
    assert run_threads(episode, seeds) == [episode(s) for s in seeds]
    assert run_threads(book_tape, seeds) == [book_tape(s) for s in seeds]


def test_one_object_shared_by_threads_never_crashes():
    env = cv.TradingEnv(n_symbols=3, n_days=400, seed=9)
    env.reset()
    book = cv.PyOrderBook()

    def hammer(k):
        for i in range(300):
            try:
                env.step(DECISIONS[(i + k) % 3])
                env.clone_state()
            except cv.CorvaneError:
                pass
            book.step_book(json.dumps([{"agent": k, "kind": "limit", "side": "buy",
                                        "price_tick": 50 + i % 7, "qty": 1}]))
            book.ladder()
        return True

    assert run_threads(hammer, list(range(4))) == [True] * 4
    # Every call ran whole: 1200 resting one-lot bids, none lost or torn.
    ladder = json.loads(book.ladder())
    assert sum(level[1] for level in ladder["bids"]) == 1200
    assert json.loads(env.clone_state())
