import inspect
import json

import pytest

from conftest import SplitMix64, assert_same_bytes, fnv1a64
from corvane import corvane_py as m

U64_MAX = (1 << 64) - 1
I64_MIN = -(1 << 63)
I64_MAX = (1 << 63) - 1
EMPTY_LADDER = '{"asks":[],"bids":[],"microprice":0.0,"mid":0.0,"queue_imbalance":0.0}'


def lim(agent, side, price, qty):
    return {"agent": agent, "kind": "limit", "side": side, "price_tick": price, "qty": qty}


def mkt(agent, side, qty):
    return {"agent": agent, "kind": "market", "side": side, "qty": qty}


def cancel(agent, order_id):
    return {"agent": agent, "kind": "cancel", "id": order_id}


def modify(agent, order_id, new_qty):
    return {"agent": agent, "kind": "modify", "id": order_id, "new_qty": new_qty}


def step(book, *orders):
    return json.loads(book.step_book(json.dumps(list(orders))))


# ---- Matching and the exact texts ------------------------------------------------------------


def test_first_limit_order_on_a_new_book():
    book = m.PyOrderBook()
    out = book.step_book('[{"agent":1,"kind":"limit","side":"buy","price_tick":100,"qty":5}]')
    assert out == (
        '{"fills":[],"ladder":{"asks":[],"bids":[[100,5]],"microprice":100.0,"mid":100.0,'
        '"queue_imbalance":1.0}}'
    )


def test_batch_is_applied_by_agent_id_not_list_order():
    book = m.PyOrderBook()
    out = book.step_book(json.dumps([lim(7, "sell", 10, 100), lim(3, "buy", 10, 10)]))
    assert out == (
        '{"fills":[{"maker_agent":3,"maker_id":0,"price_tick":10,"qty":10,"taker_agent":7,'
        '"taker_side":"sell"}],"ladder":{"asks":[[10,90]],"bids":[],"microprice":10.0,'
        '"mid":10.0,"queue_imbalance":-1.0}}'
    )


def test_empty_batch_returns_the_current_ladder_and_changes_nothing():
    book = m.PyOrderBook()
    step(book, lim(1, "buy", 99, 30), lim(1, "sell", 101, 10))
    before = book.ladder()
    assert book.step_book("[]") == '{"fills":[],"ladder":' + before + "}"
    assert book.ladder() == before
    assert before == (
        '{"asks":[[101,10]],"bids":[[99,30]],"microprice":100.5,"mid":100.0,'
        '"queue_imbalance":0.5}'
    )


def test_buy_limit_walks_asks_at_maker_prices():
    book = m.PyOrderBook()
    step(book, lim(1, "sell", 100, 5), lim(1, "sell", 103, 5))
    out = step(book, lim(2, "buy", 105, 8))
    assert [(f["price_tick"], f["qty"], f["maker_id"]) for f in out["fills"]] == [
        (100, 5, 0),
        (103, 3, 1),
    ]
    assert out["ladder"]["asks"] == [[103, 2]]
    assert out["ladder"]["bids"] == []


def test_time_priority_partial_fills_and_modify():
    book = m.PyOrderBook()
    step(book, *(lim(10 + i, "sell", 20, 10) for i in range(4)))  # ids 0..3
    step(book, mkt(1, "buy", 4))  # id 0 keeps 6 at the front
    step(book, modify(1, 1, 11), modify(1, 2, 3), modify(1, 3, 0), cancel(1, 99), modify(1, 99, 5))
    out = step(book, mkt(1, "buy", 1000))
    assert [(f["maker_id"], f["qty"]) for f in out["fills"]] == [(0, 6), (2, 3), (1, 11)]
    assert out["ladder"] == json.loads(EMPTY_LADDER)


def test_zero_qty_limit_uses_an_id_and_market_orders_never_rest():
    book = m.PyOrderBook()
    out = step(book, lim(1, "buy", 10, 0), mkt(1, "sell", 5), mkt(1, "buy", 5))
    assert out == {"fills": [], "ladder": json.loads(EMPTY_LADDER)}
    out = step(book, lim(1, "buy", 10, 2), mkt(2, "sell", 5))
    assert out["fills"] == [
        {"maker_agent": 1, "maker_id": 1, "price_tick": 10, "qty": 2, "taker_agent": 2,
         "taker_side": "sell"}
    ]
    assert out["ladder"]["bids"] == []


def test_ladder_depth_limits_lists_but_not_the_touch_statistics():
    orders = [lim(1, "buy", p, 1) for p in (97, 98, 99)] + [lim(1, "sell", 101, 3)]
    deep, none = m.PyOrderBook(levels=2), m.PyOrderBook(levels=0)
    step(deep, *orders)
    step(none, *orders)
    assert deep.ladder() == (
        '{"asks":[[101,3]],"bids":[[99,1],[98,1]],"microprice":99.5,"mid":100.0,'
        '"queue_imbalance":-0.5}'
    )
    assert none.ladder() == (
        '{"asks":[],"bids":[],"microprice":99.5,"mid":100.0,"queue_imbalance":-0.5}'
    )


def test_sweep_cost_texts_and_read_only():
    book = m.PyOrderBook()
    assert book.sweep_cost("buy", 5) == '{"avg_px_tick":0.0,"slippage_ticks":0.0,"filled_qty":0}'
    step(book, lim(1, "sell", 100, 5), lim(1, "sell", 103, 5), lim(1, "buy", 90, 4))
    before = book.ladder()
    assert book.sweep_cost("buy", 8) == (
        '{"avg_px_tick":101.125,"slippage_ticks":1.125,"filled_qty":8}'
    )
    assert book.sweep_cost("buy", 1000) == (
        '{"avg_px_tick":101.5,"slippage_ticks":1.5,"filled_qty":10}'
    )
    assert book.sweep_cost("sell", 0) == '{"avg_px_tick":0.0,"slippage_ticks":0.0,"filled_qty":0}'
    assert book.sweep_cost(side="sell", qty=U64_MAX) == (
        '{"avg_px_tick":90.0,"slippage_ticks":0.0,"filled_qty":4}'
    )
    assert book.ladder() == before


def test_uncross_of_a_stepped_book_is_null():
    book = m.PyOrderBook()
    assert book.uncross() == "null"
    step(book, lim(1, "buy", 99, 30), lim(2, "sell", 99, 10), lim(3, "sell", 101, 10))
    assert book.uncross() == "null"


def test_reset_book_wraps_the_empty_ladder_and_restarts_ids():
    book = m.PyOrderBook(tick_size=0.5, levels=3)
    step(book, lim(1, "buy", 10, 5), lim(1, "sell", 12, 5), lim(1, "buy", 9, 5))
    assert book.reset_book() == '{"ladder":' + EMPTY_LADDER + "}"
    out = step(book, lim(1, "buy", 10, 5), lim(2, "sell", 10, 1))
    assert out["fills"][0]["maker_id"] == 0


def test_extreme_prices_and_quantity_sums_past_64_bits_saturate():
    book = m.PyOrderBook()
    out = step(
        book,
        lim(1, "sell", I64_MAX, U64_MAX),
        lim(2, "sell", I64_MAX, U64_MAX),
        lim(3, "buy", I64_MIN, U64_MAX),
        lim(4, "buy", I64_MIN, U64_MAX),
    )
    assert book.ladder() == (
        f'{{"asks":[[{I64_MAX},{U64_MAX}]],"bids":[[{I64_MIN},{U64_MAX}]],"microprice":0.0,'
        '"mid":-0.5,"queue_imbalance":0.0}'
    )
    assert out["fills"] == []
    assert book.sweep_cost("buy", U64_MAX) == (
        '{"avg_px_tick":9.223372036854776e+18,"slippage_ticks":0.0,'
        f'"filled_qty":{U64_MAX}}}'
    )
    out = step(book, mkt(9, "buy", U64_MAX), mkt(9, "buy", U64_MAX), mkt(9, "buy", 1))
    assert [f["qty"] for f in out["fills"]] == [U64_MAX, U64_MAX]
    assert out["ladder"]["asks"] == []


def test_repeated_key_takes_the_last_value():
    book = m.PyOrderBook()
    step(book, lim(1, "sell", 10, 5))
    out = book.step_book('[{"agent":-1,"agent":4,"kind":"market","side":"buy","qty":2}]')
    assert json.loads(out)["fills"][0]["taker_agent"] == 4


# ---- Refusals --------------------------------------------------------------------------------

GOOD = lim(1, "buy", 10, 1)

REFUSED = [
    # (orders_json, exception class, message after the code)
    ("{}", "InvalidJson",
     "invalid orders JSON: invalid type: map, expected a sequence at line 1 column 1"),
    ("[", "InvalidJson", "invalid orders JSON: EOF while parsing a value at line 1 column 2"),
    ('[{"agent":1}] x', "InvalidJson",
     "invalid orders JSON: trailing characters at line 1 column 15"),
    ("[" * 200, "InvalidJson",
     "invalid orders JSON: recursion limit exceeded at line 1 column 129"),
    ("[1]", "InvalidArgument", "invalid order: agent"),
    ('[{"kind":"cancel","id":1}]', "InvalidArgument", "invalid order: agent"),
    ('[{"agent":-1,"kind":"cancel","id":1}]', "InvalidArgument", "invalid order: agent"),
    ('[{"agent":1.0,"kind":"cancel","id":1}]', "InvalidArgument", "invalid order: agent"),
    ('[{"agent":"1","kind":"cancel","id":1}]', "InvalidArgument", "invalid order: agent"),
    ('[{"agent":18446744073709551616,"kind":"cancel","id":1}]', "InvalidArgument",
     "invalid order: agent"),
    ('[{"agent":1}]', "InvalidArgument", "invalid order: kind"),
    ('[{"agent":1,"kind":null}]', "InvalidArgument", "invalid order: kind"),
    ('[{"agent":1,"kind":"Limit"}]', "InvalidArgument", 'invalid order: unknown kind "Limit"'),
    ('[{"agent":1,"kind":"l\u00e9"}]', "InvalidArgument", 'invalid order: unknown kind "l\u00e9"'),
    ('[{"agent":1,"kind":"a\\"b\\\\c\\n"}]', "InvalidArgument",
     'invalid order: unknown kind "a\\"b\\\\c\\n"'),
    ('[{"agent":1,"kind":"limit","price_tick":1,"qty":1}]', "InvalidArgument",
     "invalid order: side"),
    ('[{"agent":1,"kind":"limit","side":true}]', "InvalidArgument", "invalid order: side"),
    ('[{"agent":1,"kind":"limit","side":"BUY"}]', "InvalidArgument",
     'unknown side "BUY" (expected buy | sell)'),
    ('[{"agent":1,"kind":"limit","side":"buy","qty":1}]', "InvalidArgument",
     "invalid order: price_tick"),
    ('[{"agent":1,"kind":"limit","side":"buy","price_tick":1.5,"qty":1}]', "InvalidArgument",
     "invalid order: price_tick"),
    ('[{"agent":1,"kind":"limit","side":"buy","price_tick":9223372036854775808,"qty":1}]',
     "InvalidArgument", "invalid order: price_tick"),
    ('[{"agent":1,"kind":"limit","side":"buy","price_tick":-5,"qty":-5}]', "InvalidArgument",
     "invalid order: qty"),
    ('[{"agent":1,"kind":"limit","side":"buy","price_tick":5,"qty":1e3}]', "InvalidArgument",
     "invalid order: qty"),
    ('[{"agent":1,"kind":"market","price_tick":"x"}]', "InvalidArgument", "invalid order: side"),
    ('[{"agent":1,"kind":"market","side":"sell"}]', "InvalidArgument", "invalid order: qty"),
    ('[{"agent":1,"kind":"cancel","new_qty":1}]', "InvalidArgument", "invalid order: id"),
    ('[{"agent":1,"kind":"modify","new_qty":1}]', "InvalidArgument", "invalid order: id"),
    ('[{"agent":1,"kind":"modify","id":0,"new_qty":null}]', "InvalidArgument",
     "invalid order: new_qty"),
    # A repeated key is read like a JSON object read into a map: the last one counts.
    ('[{"agent":1,"kind":"cancel","id":1,"id":-1}]', "InvalidArgument", "invalid order: id"),
    # The whole batch is converted first: the third element fails, nothing applies.
    (json.dumps([GOOD, mkt(2, "sell", 1), {"agent": 3, "kind": "limit", "side": "buy",
                                           "price_tick": 1}]),
     "InvalidArgument", "invalid order: qty"),
]


@pytest.fixture
def twin_books():
    """Two books built the same way: one to be refused, one to compare with."""
    books = []
    for _ in range(2):
        book = m.PyOrderBook(levels=5)
        step(book, lim(1, "buy", 10, 5), lim(2, "sell", 12, 5), lim(3, "buy", 9, 7))
        books.append(book)
    return books


@pytest.mark.parametrize("orders_json, cls, message", REFUSED)
def test_refused_batch_raises_its_coded_message_and_changes_nothing(
    twin_books, orders_json, cls, message
):
    refused, untouched = twin_books
    code = "INVALID_JSON" if cls == "InvalidJson" else "INVALID_ARGUMENT"
    with pytest.raises(getattr(m, cls)) as info:
        refused.step_book(orders_json)
    assert type(info.value) is getattr(m, cls)
    assert str(info.value) == f"[{code}] {message}"
    # Same ladder, same next id, same queues: the next batch gives the same bytes.
    probe = json.dumps([lim(4, "sell", 9, 20), lim(5, "buy", 12, 1)])
    assert refused.step_book(probe) == untouched.step_book(probe)


def test_a_large_batch_is_refused_whole_when_its_last_element_is_bad(twin_books):
    refused, untouched = twin_books
    orders = [lim(i % 50, "buy" if i % 2 else "sell", 10 + i % 7 - 3, 1 + i % 5)
              for i in range(30_000)]
    orders.append({"agent": 1, "kind": "market", "side": "buy", "qty": 1.5})
    with pytest.raises(m.InvalidArgument, match=r"^\[INVALID_ARGUMENT\] invalid order: qty$"):
        refused.step_book(json.dumps(orders))
    probe = json.dumps(orders[:-1])
    assert refused.step_book(probe) == untouched.step_book(probe)


@pytest.mark.parametrize(
    "element",
    [
        # Keys the kind does not use and unknown keys are ignored.
        {"agent": 0, "kind": "cancel", "id": 5, "side": "hold", "qty": -1, "extra": [1]},
        {"agent": U64_MAX, "kind": "limit", "side": "buy", "price_tick": I64_MIN, "qty": U64_MAX},
        {"agent": 1, "kind": "limit", "side": "sell", "price_tick": -5, "qty": 0},
        {"agent": 1, "kind": "modify", "id": U64_MAX, "new_qty": 0},
    ],
)
def test_accepted_elements(element):
    book = m.PyOrderBook()
    assert json.loads(book.step_book(json.dumps([element])))["fills"] == []


@pytest.mark.parametrize(
    "call, exc, text",
    [
        (lambda b: b.sweep_cost("hold", 1), m.InvalidArgument,
         '[INVALID_ARGUMENT] unknown side "hold" (expected buy | sell)'),
        (lambda b: b.sweep_cost("BUY", 1), m.InvalidArgument,
         '[INVALID_ARGUMENT] unknown side "BUY" (expected buy | sell)'),
        # Both arguments are converted before the side label is looked at.
        (lambda b: b.sweep_cost("hold", -1), OverflowError,
         "argument 'qty': can't convert negative int to unsigned"),
        (lambda b: b.sweep_cost("buy", 1 << 64), OverflowError,
         "argument 'qty': int too big to convert"),
        (lambda b: b.sweep_cost(b"buy", 1), TypeError, "argument 'side': must be str, not bytes"),
        (lambda b: b.sweep_cost("buy", 1.0), TypeError,
         "argument 'qty': 'float' object cannot be interpreted as an integer"),
        (lambda b: b.sweep_cost("buy"), TypeError,
         "sweep_cost() missing required argument 'qty' (pos 2)"),
        (lambda b: b.step_book(["x"]), TypeError, "argument 'orders_json': must be str, not list"),
        (lambda b: b.ladder(1), TypeError,
         "ladder() takes at most 0 positional arguments (1 given)"),
        (lambda b: m.PyOrderBook(levels=-1), OverflowError,
         "argument 'levels': can't convert negative int to unsigned"),
        (lambda b: m.PyOrderBook(tick_size="0.01"), TypeError,
         "argument 'tick_size': must be real number, not str"),
        (lambda b: m.PyOrderBook(depth=3), TypeError,
         "'depth' is an invalid keyword argument for PyOrderBook()"),
    ],
)
def test_argument_errors(call, exc, text):
    book = m.PyOrderBook()
    with pytest.raises(exc) as info:
        call(book)
    assert type(info.value) is exc
    assert str(info.value) == text


def test_signatures():
    assert str(inspect.signature(m.PyOrderBook)) == "(tick_size=0.01, levels=10)"
    book = m.PyOrderBook()
    assert str(inspect.signature(book.step_book)) == "(orders_json)"
    assert str(inspect.signature(book.sweep_cost)) == "(side, qty)"
    for name in ("uncross", "ladder", "reset_book"):
        assert str(inspect.signature(getattr(book, name))) == "()"


# ---- The golden tape -------------------------------------------------------------------------

# Agent ids across the whole u64 range: the canonical order compares them unsigned.
TAPE_AGENTS = [0, 3, 5, 9, 1 << 31, 1 << 63, (1 << 63) + 1, U64_MAX]


def tape_batches(seed=6061, n_batches=40, batch_size=100):
    """A seeded stream of 4000 mixed orders in batches: limits around 1000, markets,
    cancels and modifies of ids already given (and some never given)."""
    rng = SplitMix64(seed)
    ids_given = 0
    batches = []
    for _ in range(n_batches):
        batch = []
        for _ in range(batch_size):
            agent = TAPE_AGENTS[rng.next() % len(TAPE_AGENTS)]
            side = "buy" if rng.next() % 2 else "sell"
            qty = rng.next() % 50
            kind = rng.next() % 20
            target = rng.next() % (ids_given + 5)
            if kind < 11:
                price = 990 + rng.next() % 21
                batch.append(lim(agent, side, price, qty))
                ids_given += 1
            elif kind < 13:
                batch.append(mkt(agent, side, qty))
            elif kind < 17:
                batch.append(cancel(agent, target))
            else:
                batch.append(modify(agent, target, qty))
        batches.append(json.dumps(batch, separators=(",", ":")))
    return batches


def run_tape():
    book = m.PyOrderBook()
    return "".join(book.step_book(batch) for batch in tape_batches())


def test_order_book_tape_golden_fingerprint():
    tape = assert_same_bytes(run_tape)
    assert tape.count('"maker_id"') > 1000  # the tape really trades
    assert fnv1a64(tape) == 87188275061093032
