"""FeatureExtractor: batch replay against live stepping, the checks of every method in
order with their texts, the output dtype and its lock, symbol handles, order-book events
and reference counts."""
import gc
import inspect
import sys
import tracemalloc

import numpy as np
import pytest

from _vorn import (KIND_PRICE, KIND_TIME, KIND_TRADE, FeatureExtractor, FeatureExtractorSpec,
                   OrderBookEvent)
from helpers import raised

SYMBOLS = ("rt-a", "rt-b")
CONTEXTS = [f"context:symbol=4:{s}:source=context:name=1:c" for s in SYMBOLS] + [
    "context:symbol=10:__global__:source=context:name=1:g"]
U8, I64, F64 = np.uint8, np.int64, np.float64
LOCKED = "output_dtype cannot be changed after the extractor has processed an event or context update"
BAD_DTYPE = 'output_dtype must be "float32", "float64", numpy.float32, or numpy.float64'


def full_spec():
    """Every feature family, for two symbols with books, and the global clock and context."""
    s = FeatureExtractorSpec(capacity=90)
    s.context("__global__", "g").day_of_week().time_since_first_event_of_day("UTC+1")
    for sym in SYMBOLS:
        s.configure_order_book(sym, update_policy="monotonic", buffer_size=1000)
        s.context(sym, "c").field(sym).field(sym, source="volume").field(sym, source="trade_volume")
        s.cvd(sym, [2, 4]).simple_returns(sym, [1, 3]).log_returns(sym, [2], source="trade_price")
        s.volatility(sym, [3]).vpt(sym).sma_timed(sym, "5ms", ["10ms", "20ms"])
        s.volatility_timed(sym, "5ms", ["15ms"], source="trade_price").obv_timed(sym, "5ms", ["10ms"])
        s.trade_volume_timed(sym, "5ms", ["10ms"]).vwap_timed(sym, "5ms", ["10ms"])
        s.trade_count_timed(sym, "5ms", "20ms")
        for query in ("mid_price", "spread", "spread_bps", "weighted_mid_price", "microprice",
                      "best_bid_price", "best_bid_size", "best_ask_price", "best_ask_size"):
            getattr(s, "order_book_" + query)(sym)
        s.order_book_imbalance(sym, [1, 3]).order_book_level_size(sym, "bid", "99")
        s.order_book_depth_until_price(sym, "ask", "102").order_book_nth_price(sym, "bid", 2)
        s.order_book_nth_size(sym, "ask", 1).order_book_depth_until_size_price_from(sym, "bid", "3")
        s.order_book_depth_until_size_price_to(sym, "ask", "3")
        s.order_book_depth_until_size_total_size(sym, "bid", "3")
        s.order_book_volume_between_prices(sym, "ask", "100", "103")
    return s


def stream(rng, segments=40):
    """Segments of scalar column rows or of book events, each row with a context dict or None."""
    ts, update_ids = 1_000, dict.fromkeys(SYMBOLS, 0)

    def context():
        picked = rng.choice(3, size=rng.integers(0, 3), replace=False) if rng.random() < 0.25 else None
        return None if picked is None else {
            CONTEXTS[i]: None if rng.random() < 0.2 else float(rng.normal()) for i in picked}

    def level(side, low):
        return str(98 + 3 * (side == "ask") + int(rng.integers(0, 6)) / 2), str(int(rng.integers(low, 6)))

    for _ in range(segments):
        n = int(rng.integers(1, 12))
        if rng.random() < 0.6:
            kind = rng.choice([0, 1, 2, 2, 4], size=n).astype(U8)
            price = 100 + rng.normal(size=n)
            price[kind == 1] = np.nan  # a payload that the row's kind does not read
            side = np.where(kind == 2, rng.integers(0, 2, size=n), 7).astype(U8)
            timestamp = ts + np.cumsum(rng.integers(0, 4, size=n))
            columns = (kind, rng.integers(0, 2, size=n), timestamp, price,
                       rng.exponential(size=n) * rng.choice([-1, 1, 1, 1], size=n), side)
            ts = int(timestamp[-1])
        else:
            columns = []
            for _ in range(n):
                sym = SYMBOLS[rng.integers(0, 2)]
                update_ids[sym] += int(rng.integers(1, 3))
                ts += int(rng.integers(0, 4))
                if update_ids[sym] < 3 or rng.random() < 0.15:
                    columns.append(OrderBookEvent.snapshot(sym, ts, update_ids[sym], [level("bid", 1) for _ in "abc"],
                                                           [level("ask", 1) for _ in "abc"]))
                else:
                    sides = [("bid", "ask")[rng.integers(0, 2)] for _ in range(rng.integers(0, 3))]
                    columns.append(OrderBookEvent.delta(sym, ts, update_ids[sym], [(s, *level(s, 0)) for s in sides]))
        yield columns, [context() for _ in range(n)]


def bits(array):
    return array.view(np.uint64 if array.dtype == F64 else np.uint32)


def replay(dtype, seed):
    """The rows of one generated stream, as batches and as single events."""
    batch, live = FeatureExtractor(full_spec(), dtype), FeatureExtractor(full_spec(), dtype)
    handles = np.array([batch.symbol(s) for s in SYMBOLS])
    assert [live.symbol(s) for s in SYMBOLS] == list(handles)
    batch_rows, live_rows = [], []
    for columns, contexts in stream(np.random.default_rng(seed)):
        plan = {i: c for i, c in enumerate(contexts) if c is not None}
        if isinstance(columns, list):  # the same OrderBookEvents serve both extractors
            batch_rows.append(batch.transform_order_book(columns, context_updates=plan))
        else:
            kind, symbol, timestamp, price, volume, side = columns
            batch_rows.append(batch.transform(kind, handles[symbol], timestamp, price=price, volume=volume,
                                              side=side, bid=np.full(len(kind), np.nan), context_updates=plan))
        for i, context in enumerate(contexts):
            if context is not None:
                live.update_context(context)
            if isinstance(columns, list):
                live.update_order_book(columns[i])
            else:
                live.update(int(kind[i]), int(handles[symbol[i]]), int(timestamp[i]), price=price[i],
                            volume=volume[i], side=int(side[i]))
            live_rows.append(live.values())
    rows = np.vstack(batch_rows)
    assert rows.dtype == dtype and rows.shape == (len(live_rows), 90)
    assert np.array_equal(bits(rows[-1]), bits(batch.values()))
    return rows, np.vstack(live_rows), batch.active_feature_count()


def test_batches_and_single_events_give_identical_rows_in_both_dtypes():
    for seed in range(4):
        rows64, live64, active = replay("float64", seed)
        rows32, live32, _ = replay("float32", seed)
        assert np.array_equal(bits(rows64), bits(live64))
        assert np.array_equal(bits(rows32), bits(live32))
        assert np.array_equal(bits(rows32), bits(rows64.astype(np.float32)))
        # Not a comparison of two empty streams: every feature has had values.
        assert np.isfinite(rows64[:, :active]).any(axis=0).all()


# ---- a small extractor for the checks ---------------------------------------------------

NAN, INF = float("nan"), float("inf")
FIELD = "field:symbol=4:rt-x:source=field.price"
CTX = "context:symbol=4:rt-x:source=context:name=1:c"
GLOBAL_CTX = "context:symbol=10:__global__:source=context:name=1:g"


def small(dtype="float64"):
    """An extractor with handle 0 for rt-x (which has a book) and 1 for the global symbol."""
    spec = FeatureExtractorSpec(capacity=5).field("rt-x").context("rt-x", "c").context("__global__", "g")
    fx = FeatureExtractor(spec.configure_order_book("rt-x", update_policy="monotonic", buffer_size=8), dtype)
    assert (fx.symbol("rt-x"), fx.symbol("__global__")) == (0, 1)
    return fx


def book(symbol="rt-x", ts=5, update_id=1):
    return OrderBookEvent.snapshot(symbol, ts, update_id, [("99", "2")], [("101", "3")])


def batch(fx, n=3, context_updates=None, **columns):
    given = dict(kind=np.zeros(n, U8), symbol=np.zeros(n, I64), timestamp=np.arange(n, dtype=I64),
                 price=np.ones(n))
    given.update(columns)
    return fx.transform(given.pop("kind"), given.pop("symbol"), given.pop("timestamp"),
                        context_updates=context_updates, **given)


def handle(h):
    return f"unknown symbol handle {h}; call FeatureExtractor.symbol(name) first"


SIDE = "invalid `side` 2; expected SIDE_AGGRESSOR_BUY (0) or SIDE_AGGRESSOR_SELL (1)"
ORDERBOOK = ("KIND_ORDERBOOK no longer accepts bid/ask scalars; use OrderBookEvent with update_order_book "
             "or transform_order_book")
COLUMN_TYPE = "argument '{}': '{}' object cannot be converted to 'PyArray<T, D>'"
STRIDED = "The given array is not contiguous"
EARLIER = "row 1: timestamp {} for {} event for symbol {} is earlier than previous timestamp 5"
NO_BOOK = "no order book is configured for symbol {}"
ROW_INDEX = "context row index must be an integer"

# Each refused in this order of checks, on a fresh extractor, changing nothing.
REFUSALS = [
    (lambda fx: fx.update(KIND_PRICE, 2, 5, price=1.0), ValueError, handle(2)),
    (lambda fx: fx.update(KIND_PRICE, -1, 5), ValueError, handle(-1)),
    (lambda fx: fx.update(KIND_PRICE, 0, 5, volume=1.0), ValueError, "event kind requires the `price` column"),
    (lambda fx: fx.update(1, 0, 5, price=1.0), ValueError, "event kind requires the `volume` column"),
    (lambda fx: fx.update(KIND_TRADE, 0, 5, price=1.0), ValueError, "event kind requires the `volume` column"),
    (lambda fx: fx.update(KIND_TRADE, 0, 5, price=NAN, volume=1.0, side=2), ValueError, SIDE),
    (lambda fx: fx.update(KIND_TRADE, 0, 5, price=NAN, volume=INF), ValueError,
     "invalid argument: event trade price must be finite"),
    (lambda fx: fx.update(KIND_TRADE, 0, 5, price=1.0, volume=-INF), ValueError,
     "invalid argument: event trade volume must be finite"),
    (lambda fx: fx.update(1, 0, 5, volume=NAN), ValueError, "invalid argument: event volume must be finite"),
    (lambda fx: fx.update(3, 9, 5, bid=1.0, ask=2.0), ValueError, ORDERBOOK),
    (lambda fx: fx.update(7, 9, 5), ValueError,
     "unsupported event kind 7 (expected 0=price, 1=volume, 2=trade, 3=orderbook, 4=time)"),
    (lambda fx: fx.update(256, 0, 5), OverflowError, "int too big to convert"),
    (lambda fx: fx.update(KIND_PRICE, 0, 2**63, price=1.0), OverflowError, "int too big to convert"),
    (lambda fx: fx.update(KIND_PRICE, 0, 5, 1.0), TypeError, "update() takes 3 positional arguments but 4 were given"),
    (lambda fx: fx.update(KIND_PRICE, 0, 5, price=1.0, bid="1"), TypeError,
     "argument 'bid': must be real number, not str"),
    (lambda fx: fx.update_context([]), TypeError, "argument 'updates': 'list' object cannot be converted to 'PyDict'"),
    (lambda fx: fx.update_context({CTX: 1.0, 1: 2.0}), TypeError, "'int' object cannot be converted to 'PyString'"),
    (lambda fx: fx.update_context({CTX: "1"}), TypeError, "must be real number, not str"),
    (lambda fx: fx.update_context({CTX: 1.0, FIELD: 2.0}), ValueError,
     "context update 1: target is not a context feature"),
    (lambda fx: fx.update_context({"x": INF}), ValueError, "context update 0: unknown feature ID"),
    (lambda fx: fx.update_context({CTX: INF}), ValueError, "context update 0: context value must be finite or None"),
    (lambda fx: fx.update_order_book(book("rt-nobook")), ValueError, NO_BOOK.format("rt-nobook")),
    (lambda fx: fx.update_order_book(book("__GLOBAL__")), ValueError, NO_BOOK.format("GLOBAL")),
    (lambda fx: fx.update_order_book(1), TypeError,
     "argument 'event': 'int' object cannot be converted to 'OrderBookEvent'"),
    # Columns: types first (in signature order), then contiguity, then lengths, then rows.
    (lambda fx: batch(fx, kind=np.zeros(3, I64), symbol=[0]), TypeError, COLUMN_TYPE.format("kind", "ndarray")),
    (lambda fx: batch(fx, symbol=[0, 0, 0]), TypeError, COLUMN_TYPE.format("symbol", "list")),
    (lambda fx: batch(fx, timestamp=np.zeros((3, 1), I64)), TypeError, COLUMN_TYPE.format("timestamp", "ndarray")),
    (lambda fx: batch(fx, price=np.ones(3, ">f8"), context_updates=[]), TypeError,
     COLUMN_TYPE.format("price", "ndarray")),
    (lambda fx: batch(fx, context_updates=[]), TypeError,
     "argument 'context_updates': 'list' object cannot be converted to 'PyDict'"),
    (lambda fx: batch(fx, kind=np.zeros(6, U8)[::2], timestamp=np.zeros(1, I64)), TypeError, STRIDED),
    (lambda fx: batch(fx, timestamp=np.zeros(2, I64), price=np.ones(6)[::2]), ValueError,
     "kind, symbol and timestamp must have the same length"),
    (lambda fx: batch(fx, price=np.ones(2), volume=np.ones(6)[::2]), ValueError,
     "the `price` column must match the length of `kind`"),
    (lambda fx: batch(fx, volume=np.ones(6)[::2], side=np.zeros(1, U8)), TypeError, STRIDED),
    (lambda fx: batch(fx, ask=np.ones(4)), ValueError, "the `ask` column must match the length of `kind`"),
    (lambda fx: batch(fx, bid=np.ones(6)[::2]), TypeError, STRIDED),
    (lambda fx: batch(fx, kind=np.array([0, 3, 9], U8)), ValueError, "row 1: " + ORDERBOOK),
    (lambda fx: batch(fx, price=np.array([1, NAN, 1.0])), ValueError, "row 1: invalid argument: event price must be finite"),
    (lambda fx: batch(fx, symbol=np.array([0, 0, 5])), ValueError, "row 2: " + handle(5)),
    (lambda fx: batch(fx, kind=np.full(3, 2, U8), volume=np.ones(3), side=np.array([0, 1, 2], U8)), ValueError,
     "row 2: " + SIDE),
    (lambda fx: batch(fx, price=None), ValueError, "row 0: event kind requires the `price` column"),
    # Then the whole context plan (in dict order), then the timestamps, then the rows.
    (lambda fx: batch(fx, context_updates={0: {}, True: {}}), ValueError, ROW_INDEX),
    (lambda fx: batch(fx, context_updates={1.5: {}}), ValueError, ROW_INDEX),
    (lambda fx: batch(fx, context_updates={-1: {}}), ValueError, "context row index must be nonnegative"),
    (lambda fx: batch(fx, context_updates={-2**70: {}}), ValueError, "context row index must be nonnegative"),
    (lambda fx: batch(fx, context_updates={3: {}}), ValueError, "context row 3 is outside this replay"),
    (lambda fx: batch(fx, context_updates={2**64: {}}), ValueError,
     "context row 18446744073709551616 is outside this replay"),
    (lambda fx: batch(fx, 0, context_updates={0: {}}), ValueError, "context row 0 is outside this replay"),
    (lambda fx: batch(fx, context_updates={0: [(CTX, 1.0)]}), TypeError,
     "'list' object cannot be converted to 'PyDict'"),
    (lambda fx: batch(fx, context_updates={0: {CTX: 1.0}, 1: {CTX: None, CTX + "?": 1.0}}), ValueError,
     "row 1: context update 1: unknown feature ID"),
    (lambda fx: batch(fx, timestamp=np.array([5, 3, 0]), context_updates={2: {CTX: INF}}), ValueError,
     "row 2: context update 0: context value must be finite or None"),
    (lambda fx: batch(fx, timestamp=np.array([5, 3, 4])), ValueError, EARLIER.format(3, "price", "rt-x")),
    (lambda fx: batch(fx, kind=np.array([4, 0, 0], U8), symbol=np.array([9, 1, 1]), timestamp=np.array([5, 4, 6])),
     ValueError, EARLIER.format(4, "price", "GLOBAL")),
    (lambda fx: fx.transform_order_book("ab"), TypeError, "argument 'events': Can't extract `str` to `Vec`"),
    (lambda fx: fx.transform_order_book([book(), 1]), TypeError,
     "argument 'events': 'int' object cannot be converted to 'OrderBookEvent'"),
    (lambda fx: fx.transform_order_book([book(), book(ts=3), book("rt-nobook")], context_updates={1.5: {}}),
     ValueError, "row 2: " + NO_BOOK.format("rt-nobook")),
    (lambda fx: fx.transform_order_book([book(), book(ts=3)], context_updates={0: {CTX: 1.0}}), ValueError,
     EARLIER.format(3, "order book snapshot", "rt-x")),
]


@pytest.mark.parametrize("call, exception, message", REFUSALS)
def test_refusals_in_check_order_change_nothing(call, exception, message):
    fx = small()
    assert raised(exception, lambda: call(fx)) == message
    assert np.isnan(fx.values()).all()
    fx.output_dtype = "float32"  # still unlocked
    fx.update(KIND_PRICE, 0, 4, price=2.0)  # no timestamp was recorded


def test_rows_and_events_read_as_given():
    fx, live = small(), small()
    misaligned = np.frombuffer(bytearray(8 * 4 + 1), F64, 4, offset=1)  # contiguous, not aligned
    misaligned.setflags(write=True)
    misaligned[:] = [1.5, NAN, -2.0, 0.0]
    assert not misaligned.flags.aligned
    kind, symbol = np.array([0, 1, 4, 2], U8), np.array([0, 0, 999, 1])
    timestamp, volume, side = np.array([1, 1, 2, 2]), np.array([NAN, 3.0, NAN, 4.0]), np.array([7, 7, 7, 0], U8)
    kind.setflags(write=False)
    rows = fx.transform(kind, symbol, timestamp, price=misaligned, volume=volume, side=side, ask=np.zeros(4),
                        context_updates={1: {}, 3: {CTX: 2.5, GLOBAL_CTX: None}})
    live.update(KIND_PRICE, 0, 1, price=1.5, volume=NAN, side=7)
    live.update(1, 0, 1, price=NAN, volume=3.0)
    live.update(KIND_TIME, 999, 2, price=NAN)
    live.update_context({CTX: 2.5, GLOBAL_CTX: None})
    live.update(KIND_TRADE, 1, 2, price=0.0, volume=4.0, side=0)
    assert np.array_equal(rows[-1], [NAN, 1.5, 2.5, NAN, NAN], equal_nan=True)
    assert np.array_equal(bits(rows[-1]), bits(live.values()))
    assert np.isnan(rows[2][2]) and rows[3][2] == 2.5  # a row sees its own context update
    assert batch(small(), 0).shape == (0, 5) and small().transform_order_book([]).shape == (0, 5)


def test_state_dependent_failures_name_their_row_and_keep_earlier_rows():
    fx, other = small(), small()
    event = book(ts=5, update_id=4)
    # One object serves several extractors and several rows; a stale snapshot fails in the book.
    assert raised(ValueError, lambda: fx.transform_order_book(
        [event, book(ts=5, update_id=6), event], context_updates={2: {CTX: 7.0}})) == (
        "row 2: order-book update failed: snapshot 4 is not newer than current snapshot 6")
    assert fx.values()[2] == 7.0  # the failed row's context update stays applied
    other.update_order_book(event)
    assert raised(ValueError, lambda: other.update_order_book(event)) == (
        "order-book update failed: snapshot 4 is not newer than current snapshot 4")
    assert raised(ValueError, lambda: other.update(KIND_PRICE, 0, 4, price=1.0)) == (
        "timestamp 4 for price event for symbol rt-x is earlier than previous timestamp 5")
    # The batch's first row is judged against the timestamps of earlier calls.
    for timestamps, message in (([6, 7, 4], "row 2: timestamp 4 for price event for symbol rt-x is earlier "
                                            "than previous timestamp 7"), ([4, 7, 8], EARLIER.format(4, "price", "rt-x").replace("row 1", "row 0"))):
        assert raised(ValueError, lambda: batch(other, timestamp=np.array(timestamps))) == message
    for extractor in (fx, other):
        with pytest.raises(ValueError, match="^" + LOCKED):
            extractor.output_dtype = "float64"


class Shrinking:
    """A float conversion that empties the dict being read."""
    def __init__(self, victim):
        self.victim = victim

    def __float__(self):
        self.victim.clear()
        return 1.0


def test_a_dict_changed_while_it_is_read_fails_cleanly():
    fx = small()
    updates = {CTX: 1.0}
    updates[GLOBAL_CTX] = Shrinking(updates)
    outer = {0: {CTX: 1.0}}
    outer[0][GLOBAL_CTX] = Shrinking(outer)  # frees the row dict while it is read
    for call in (lambda: fx.update_context(updates), lambda: batch(fx, context_updates=outer)):
        with pytest.raises(BaseException) as info:
            call()
        assert (type(info.value).__name__, str(info.value)) == (
            "PanicException", "dictionary changed size during iteration")
    assert np.isnan(fx.values()).all()
    fx.output_dtype = "float32"


def test_layout_construction_and_json():
    spec = FeatureExtractorSpec(capacity=5).field("rt-x").vpt("rt-x").context("rt-x", "c")
    fx = FeatureExtractor(spec)
    spec.day_of_week()
    assert (fx.n_features(), fx.active_feature_count(), len(fx.values())) == (5, 3, 5)
    assert fx.feature_names()[3:] == ["__reserved_3", "__reserved_4"]
    assert FeatureExtractor.from_json(spec.to_json()).feature_names()[1:4] == fx.feature_names()[:3]
    bad = FeatureExtractorSpec().cvd("rt-x", [0])
    compile_error = raised(ValueError, lambda: FeatureExtractor(bad))
    assert "window" in compile_error
    rows = [
        (lambda: FeatureExtractor(spec, "float16"), ValueError, BAD_DTYPE),
        (lambda: FeatureExtractor(bad, "float16"), ValueError, compile_error),
        (lambda: FeatureExtractor(spec, output_dtype=None), TypeError,
         "argument 'output_dtype': 'NoneType' object cannot be converted to 'PyString'"),
        (lambda: FeatureExtractor(1), TypeError,
         "argument 'feature_extractor_spec': 'int' object cannot be converted to 'FeatureExtractorSpec'"),
        (lambda: FeatureExtractor(FeatureExtractorSpec(capacity=2**64 - 1).field("x")), ValueError,
         "output storage has capacity 0, but the feature-vector spec requires capacity 18446744073709551615"),
        (lambda: FeatureExtractor.from_json(bad.to_json(), "x"), ValueError, compile_error),
        (lambda: FeatureExtractor.from_json(spec.to_json(), "x"), ValueError, BAD_DTYPE),
        (lambda: FeatureExtractor.from_json("{", 1), TypeError,
         "argument 'output_dtype': 'int' object cannot be converted to 'PyString'"),
    ]
    for call, exception, message in rows:
        assert raised(exception, call) == message
    assert raised(ValueError, lambda: FeatureExtractor.from_json("{", "x")).endswith("line 1 column 2")


def test_output_dtype_and_its_lock():
    fx = small()
    assert fx.output_dtype == "float64" and fx.values().dtype == F64
    fx.output_dtype = "float32"
    assert fx.output_dtype == "float32" and fx.values().dtype == np.float32
    assert raised(ValueError, lambda: setattr(fx, "output_dtype", "Float32")) == BAD_DTYPE
    assert raised(TypeError, lambda: setattr(fx, "output_dtype", np.float32)).startswith("argument 'value': ")
    assert raised(AttributeError, lambda: delattr(fx, "output_dtype")) == "can't delete attribute"
    assert fx.update_context({}) is None
    fx.output_dtype = "float32"  # an empty update locks nothing
    assert fx.update(KIND_PRICE, 0, 5, price=1e39) is None
    assert fx.values()[1] == np.inf and np.isnan(fx.values()[0]) and fx.values().dtype == np.float32
    for locked in (fx, small()):
        locked.update_context({CTX: 1.0})
        assert raised(ValueError, lambda: setattr(locked, "output_dtype", locked.output_dtype)) == LOCKED


def test_symbol_handles_are_dense_and_private():
    fx, other = small(), small()
    assert [fx.symbol("RT-H1"), fx.symbol("rt-h1"), fx.symbol("rt-h2"), fx.symbol("RT-X")] == [2, 2, 3, 0]
    assert other.symbol("rt-h2") == 2
    fx.update(KIND_PRICE, 3, 5, price=1.0)
    assert raised(ValueError, lambda: other.update(KIND_PRICE, 3, 5, price=1.0)) == handle(3)


def test_signatures_and_docstrings():
    fx = small()
    cls = FeatureExtractor
    assert cls.__doc__ == "A configured, runnable feature extractor."
    assert cls.__text_signature__ == '(feature_extractor_spec, output_dtype="float64")'
    assert str(inspect.signature(cls)) == "(feature_extractor_spec, output_dtype='float64')"
    payload = "*, price=None, volume=None, side=None, bid=None, ask=None"
    expected = {
        "update_context": "(updates)", "update_order_book": "(event)",
        "transform_order_book": "(events, *, context_updates=None)",
        "from_json": "(json, output_dtype='float64')", "symbol": "(name)", "feature_names": "()",
        "n_features": "()", "active_feature_count": "()", "values": "()",
        "update": f"(kind, symbol, timestamp, {payload})",
        "transform": f"(kind, symbol, timestamp, {payload}, context_updates=None)",
    }
    assert [name for name in vars(cls) if not name.startswith("__")] == [*expected, "output_dtype"]
    for name, signature in expected.items():
        assert str(inspect.signature(getattr(fx, name))) == signature, name
    assert type(vars(cls)["from_json"]) is staticmethod
    assert fx.update_context.__doc__ == "Replace context values atomically without advancing market-event state."
    assert fx.values.__doc__.splitlines()[1:] == [
        "A window cell is NaN until its", "configured warm-up policy is satisfied and a current value exists."]
    assert fx.transform_order_book.__doc__.splitlines()[-1] == (
        "rows are skipped. The rejected row retains core resynchronization effects.")
    assert vars(cls)["output_dtype"].__doc__ == "Numeric dtype used by arrays returned to Python."


def test_reference_counts_and_memory_stay_flat_over_many_calls():
    fx = small()
    columns = (np.zeros(4, U8), np.zeros(4, I64), np.arange(4, dtype=I64))
    price, event, context, updates = np.ones(4), book(), {0: {CTX: 1.0}}, {CTX: 2.0}
    watched = [*columns, price, event, context, context[0], updates, CTX]

    def calls(step):
        start = 10 * step
        fx.transform(columns[0], columns[1], columns[2] + start, price=price, context_updates=context)
        fx.update(KIND_TRADE, 0, start + 5, price=1.5, volume=2.0, side=1)
        fx.update_context(updates)
        fx.transform_order_book([event], context_updates=context) if step == 0 else fx.update_order_book(book(ts=start + 6, update_id=step + 1))
        fx.values(), fx.feature_names(), fx.output_dtype, fx.symbol("rt-x")
        for refused in (lambda: fx.update(KIND_PRICE, 9, start + 6, price=1.0),
                        lambda: batch(fx, context_updates={9: {}}), lambda: fx.update_order_book(event)):
            with pytest.raises(ValueError):
                refused()

    calls(0)
    counts = [sys.getrefcount(obj) for obj in watched]
    gc.collect()
    tracemalloc.start()
    calls(1)
    before = tracemalloc.get_traced_memory()[0]
    for step in range(2, 400):
        calls(step)
    gc.collect()
    grown = tracemalloc.get_traced_memory()[0] - before
    tracemalloc.stop()
    assert [sys.getrefcount(obj) for obj in watched] == counts
    assert grown < 20_000
