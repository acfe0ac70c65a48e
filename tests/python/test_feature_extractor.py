"""FeatureExtractor: batch replay against live stepping, the checks of every method in
order with their texts, the output dtype and its lock, symbol handles, order-book events
and reference counts."""
import gc
import inspect
import subprocess
import sys
import tracemalloc
import warnings
from collections import OrderedDict

import numpy as np
import pytest

from _vorn import KIND_PRICE, KIND_TRADE, FeatureExtractor, FeatureExtractorSpec, OrderBookEvent
from helpers import F32, F64, I64, NAN, U8, bits, full_spec, raised, refuses_trailing_nul, replay

INF = float("inf")
LOCKED = "output_dtype cannot be changed after the extractor has processed an event or context update"
BAD_DTYPE = 'output_dtype must be "float32", "float64", numpy.float32, or numpy.float64'


def test_batches_and_single_events_give_identical_rows_in_both_dtypes():
    for seed in range(4):
        (rows64, _), (rows32, _) = (replay(lambda d: FeatureExtractor(full_spec(), d), d, seed)
                                    for d in ("float64", "float32"))
        assert np.array_equal(bits(rows32), bits(rows64.astype(F32)))
        assert np.isfinite(rows64[:, :77]).any(axis=0).all()  # every feature has had values


# ---- a small extractor for the checks ---------------------------------------------------

FIELD, CTX = "field:symbol=4:rt-x:source=field.price", "context:symbol=4:rt-x:source=context:name=1:c"
GLOBAL_CTX = "context:symbol=10:__global__:source=context:name=1:g"


def small(dtype="float64"):
    """Cells: global context, rt-x price, rt-x context, 2 reserved; handle 0 is rt-x (with a book), 1 GLOBAL."""
    spec = FeatureExtractorSpec(capacity=5).field("rt-x").context("rt-x", "c").context("__global__", "g")
    fx = FeatureExtractor(spec.configure_order_book("rt-x", update_policy="monotonic", buffer_size=8), dtype)
    assert (fx.symbol("rt-x"), fx.symbol("__global__")) == (0, 1)
    return fx


def book(symbol="rt-x", ts=5, update_id=1):
    return OrderBookEvent.snapshot(symbol, ts, update_id, [("99", "2")], [("101", "3")])


def batch(fx, n=3, context_updates=None, kind=None, symbol=None, timestamp=None, **payload):
    """Price rows of rt-x at 0, 1, 2 unless told otherwise."""
    return fx.transform(np.zeros(n, U8) if kind is None else kind, np.zeros(n, I64) if symbol is None else symbol,
                        np.arange(n) if timestamp is None else timestamp, context_updates=context_updates,
                        **{"price": np.ones(n), **payload})


def handle(h):
    return f"unknown symbol handle {h}; call FeatureExtractor.symbol(name) first"


SIDE = "invalid `side` 2; expected SIDE_AGGRESSOR_BUY (0) or SIDE_AGGRESSOR_SELL (1)"
ORDERBOOK = ("KIND_ORDERBOOK no longer accepts bid/ask scalars; use OrderBookEvent with update_order_book "
             "or transform_order_book")
COLUMN = "argument '{}': '{}' object cannot be converted to 'PyArray<T, D>'"
STRIDED = "The given array is not contiguous"
EARLIER = "row {}: timestamp {} for {} event for symbol {} is earlier than previous timestamp {}"
NO_BOOK = "no order book is configured for symbol {}"
INTEGER = "context row index must be an integer"
strided = np.ones(6)[::2]

# Each refused on a fresh extractor, in this order of checks, changing nothing.
REFUSALS = [
    (lambda fx: fx.update(KIND_PRICE, 2, 5, price=1.0), ValueError, handle(2)),
    (lambda fx: fx.update(KIND_PRICE, -1, 5), ValueError, handle(-1)),
    (lambda fx: fx.update(KIND_PRICE, 0, 5, volume=1.0), ValueError, "event kind requires the `price` column"),
    (lambda fx: fx.update(KIND_TRADE, 0, 5, price=1.0), ValueError, "event kind requires the `volume` column"),
    (lambda fx: fx.update(KIND_TRADE, 0, 5, price=NAN, volume=1.0, side=2), ValueError, SIDE),
    (lambda fx: fx.update(KIND_TRADE, 0, 5, price=NAN, volume=INF), ValueError,
     "invalid argument: event trade price must be finite"),
    (lambda fx: fx.update(3, 9, 5, bid=1.0, ask=2.0), ValueError, ORDERBOOK),
    (lambda fx: fx.update(7, 9, 5), ValueError,
     "unsupported event kind 7 (expected 0=price, 1=volume, 2=trade, 3=orderbook, 4=time)"),
    (lambda fx: fx.update_context({CTX: 1.0, 1: 2.0}), TypeError, "'int' object cannot be converted to 'PyString'"),
    (lambda fx: fx.update_context({CTX: 1.0, FIELD: 2.0}), ValueError,
     "context update 1: target is not a context feature"),
    (lambda fx: fx.update_context({CTX: INF}), ValueError, "context update 0: context value must be finite or None"),
    (lambda fx: fx.update_order_book(book("__GLOBAL__")), ValueError, NO_BOOK.format("GLOBAL")),
    # Columns: types in signature order, then contiguity, then lengths, then rows.
    (lambda fx: batch(fx, kind=np.zeros(3, I64), symbol=[0]), TypeError, COLUMN.format("kind", "ndarray")),
    (lambda fx: batch(fx, symbol=[0, 0, 0]), TypeError, COLUMN.format("symbol", "list")),
    (lambda fx: batch(fx, price=np.ones(3, ">f8"), context_updates=[]), TypeError, COLUMN.format("price", "ndarray")),
    (lambda fx: batch(fx, kind=np.zeros(6, U8)[::2], timestamp=np.zeros(1, I64)), TypeError, STRIDED),
    (lambda fx: batch(fx, timestamp=np.zeros(2, I64), price=strided), ValueError,
     "kind, symbol and timestamp must have the same length"),
    (lambda fx: batch(fx, price=np.ones(2), volume=strided), ValueError,
     "the `price` column must match the length of `kind`"),
    (lambda fx: batch(fx, volume=strided, side=np.zeros(1, U8)), TypeError, STRIDED),
    (lambda fx: batch(fx, bid=np.ones(4), ask=strided), ValueError, "the `bid` column must match the length of `kind`"),
    (lambda fx: batch(fx, ask=strided), TypeError, STRIDED),
    (lambda fx: batch(fx, kind=np.array([0, 3, 9], U8)), ValueError, "row 1: " + ORDERBOOK),
    (lambda fx: batch(fx, price=np.array([1, NAN, 1])), ValueError, "row 1: invalid argument: event price must be finite"),
    (lambda fx: batch(fx, symbol=np.array([0, 0, 5])), ValueError, "row 2: " + handle(5)),
    (lambda fx: batch(fx, kind=np.full(3, 2, U8), volume=np.ones(3), side=np.array([0, 1, 2], U8)), ValueError,
     "row 2: " + SIDE),
    (lambda fx: batch(fx, price=None), ValueError, "row 0: event kind requires the `price` column"),
    (lambda fx: batch(fx, timestamp=np.array([5, 3, 4]), symbol=np.array([0, 0, 5]), context_updates={-1: {}}),
     ValueError, "row 2: " + handle(5)),
    # Then the whole context plan in dict order, then every row's timestamp, then the rows.
    (lambda fx: batch(fx, context_updates={0: {}, True: {}}), ValueError, INTEGER),
    (lambda fx: batch(fx, context_updates={-2**70: {}}), ValueError, "context row index must be nonnegative"),
    (lambda fx: batch(fx, context_updates={3: {}}), ValueError, "context row 3 is outside this replay"),
    (lambda fx: batch(fx, 0, context_updates={2**64: {}}), ValueError,
     "context row 18446744073709551616 is outside this replay"),
    (lambda fx: batch(fx, context_updates={0: [(CTX, 1.0)]}), TypeError, "'list' object cannot be converted to 'PyDict'"),
    (lambda fx: batch(fx, context_updates={0: {CTX: 1.0}, 1: {CTX: None, "x": 1.0}}), ValueError,
     "row 1: context update 1: unknown feature ID"),
    (lambda fx: batch(fx, timestamp=np.array([5, 3, 0]), context_updates={2: {CTX: INF}}), ValueError,
     "row 2: context update 0: context value must be finite or None"),
    (lambda fx: batch(fx, timestamp=np.array([5, 3, 4])), ValueError, EARLIER.format(1, 3, "price", "rt-x", 5)),
    (lambda fx: batch(fx, kind=np.array([4, 0, 0], U8), symbol=np.array([9, 1, 1]), timestamp=np.array([5, 4, 6])),
     ValueError, EARLIER.format(1, 4, "price", "GLOBAL", 5)),
    (lambda fx: fx.transform_order_book([book(), 1]), TypeError,
     "argument 'events': 'int' object cannot be converted to 'OrderBookEvent'"),
    (lambda fx: fx.transform_order_book([book(), book(ts=3), book("rt-nobook")], context_updates={1.5: {}}),
     ValueError, "row 2: " + NO_BOOK.format("rt-nobook")),
    (lambda fx: fx.transform_order_book([book(), book(ts=3)], context_updates={0: {CTX: 1.0}}), ValueError,
     EARLIER.format(1, 3, "order book snapshot", "rt-x", 5)),
]


@pytest.mark.parametrize("call, exception, message", REFUSALS)
def test_refusals_in_check_order_change_nothing(call, exception, message):
    fx = small()
    assert raised(exception, lambda: call(fx)) == message
    assert np.isnan(fx.values()).all()
    fx.output_dtype = "float32"  # still unlocked
    fx.update(KIND_PRICE, 0, 4, price=2.0)  # no timestamp was recorded


def test_state_dependent_failures_name_their_row_and_keep_earlier_rows():
    fx, other, event = small(), small(), book(ts=5, update_id=4)
    # One object serves several extractors and rows; the book refuses the stale snapshot of row 2.
    assert raised(ValueError, lambda: fx.transform_order_book([event, book(update_id=6), event],
                                                              context_updates={2: {CTX: 7.0}})) == (
        "row 2: order-book update failed: snapshot 4 is not newer than current snapshot 6")
    assert fx.values()[2] == 7.0  # row 2's context update stays
    other.update_order_book(event)
    for call, message in [
            (lambda: other.update_order_book(event), "order-book update failed: snapshot 4 is not newer than current snapshot 4"),
            (lambda: other.update(KIND_PRICE, 0, 4, price=1.0), EARLIER.format(0, 4, "price", "rt-x", 5)[7:]),
            (lambda: batch(other, timestamp=np.array([6, 7, 4])), EARLIER.format(2, 4, "price", "rt-x", 7)),
            (lambda: batch(other, timestamp=np.array([4, 7, 8])), EARLIER.format(0, 4, "price", "rt-x", 5))]:
        assert raised(ValueError, call) == message
    for extractor in (fx, other):
        assert raised(ValueError, lambda: setattr(extractor, "output_dtype", "float64")) == LOCKED


def test_a_dict_changed_while_it_is_read_fails_cleanly():
    fx = small()
    shrinking = type("Shrinking", (), {"__float__": lambda self: self.victim.clear() or 1.0})
    updates, outer = {CTX: 1.0, GLOBAL_CTX: shrinking()}, {0: {CTX: 1.0, GLOBAL_CTX: shrinking()}}
    updates[GLOBAL_CTX].victim, outer[0][GLOBAL_CTX].victim = updates, outer  # frees the row dict being read
    for call in (lambda: fx.update_context(updates), lambda: batch(fx, context_updates=outer)):
        with pytest.raises(BaseException) as info:
            call()
        assert (type(info.value).__name__, str(info.value)) == ("PanicException", "dictionary changed size during iteration")
    assert np.isnan(fx.values()).all()
    fx.output_dtype = "float32"


class Reversed(dict):
    """A dict that iterates its items last stored first."""

    def __iter__(self):
        return reversed(list(dict.__iter__(self)))


def moved(*items):
    """An OrderedDict whose first item was moved to its end: it iterates otherwise than it stores."""
    ordered = OrderedDict(items)
    ordered.move_to_end(items[0][0])
    return ordered


def test_context_dicts_are_read_in_their_iteration_order():
    """A dict subclass is read in the order iterating it gives, not in its storage order: the first failing
    entry in that order is reported, by update_context and by both batch paths, for the row dicts and for the
    dict of rows; the values read are the stored ones."""
    finite = "context value must be finite or None"
    unknown_then_infinite = [("x", 1.0), (CTX, INF)]  # stored first: "x", unknown
    for updates in (moved(*unknown_then_infinite), Reversed(unknown_then_infinite)):
        fx = small()
        assert raised(ValueError, lambda: fx.update_context(updates)) == f"context update 0: {finite}"
        assert raised(ValueError, lambda: batch(fx, context_updates={1: updates})) == f"row 1: context update 0: {finite}"
        assert raised(ValueError, lambda: fx.transform_order_book([book()], context_updates={0: updates})) == \
            f"row 0: context update 0: {finite}"
        assert np.isnan(fx.values()).all()
    for rows in (moved((7, {}), (2, {"x": 1.0})), Reversed([(7, {}), (2, {"x": 1.0})])):
        assert raised(ValueError, lambda: batch(small(), context_updates=rows)) == "row 2: context update 0: unknown feature ID"
    fx = small()
    fx.update_context(moved((CTX, 1.0), (GLOBAL_CTX, 2.0)))
    assert list(fx.values()[[0, 2]]) == [2.0, 1.0]
    rows = batch(fx, context_updates=moved((2, Reversed([(CTX, 3.0), (GLOBAL_CTX, None)])), (0, {GLOBAL_CTX: 4.0})))
    assert rows[0, 0] == 4.0 and rows[1, 0] == 4.0 and np.isnan(rows[2, 0]) and list(rows[:, 2]) == [1.0, 1.0, 3.0]
    # Read through strong references there too: a value that empties the dict fails cleanly.
    shrinking = type("Shrinking", (), {"__float__": lambda self: self.victim.clear() or 1.0})()
    shrinking.victim = updates = moved((CTX, 1.0), (GLOBAL_CTX, shrinking))
    with pytest.raises(BaseException) as info:
        fx.update_context(updates)
    assert (type(info.value).__name__, str(info.value)) == ("PanicException", "dictionary changed size during iteration")
    assert np.isnan(fx.values()[0]) and fx.values()[2] == 3.0  # as row 2 left them


def test_context_dicts_are_read_with_the_values_they_store():
    """A dict subclass whose lookups answer otherwise than it stores is read with its stored values, by
    update_context and by both batch paths, for the row dicts and for the dict of rows."""
    class Lying(dict):
        def __getitem__(self, key):
            return {CTX: 99.0} if isinstance(key, int) else 99.0

        def get(self, key, default=None):
            return self[key]

        def items(self):
            return [(key, self[key]) for key in self]

        values = items

    fx = small()
    fx.update_context(Lying({CTX: 1.0, GLOBAL_CTX: None}))
    assert fx.values()[2] == 1.0 and np.isnan(fx.values()[0])
    rows = batch(fx, context_updates=Lying({1: Lying({CTX: 2.0}), 2: {GLOBAL_CTX: 3.0}}))
    assert list(rows[:, 2]) == [1.0, 2.0, 2.0] and np.isnan(rows[1, 0]) and rows[2, 0] == 3.0
    rows = fx.transform_order_book([book(ts=10)], context_updates=Lying({0: Lying({CTX: 4.0})}))
    assert rows[0, 2] == 4.0


def test_columns_changed_while_the_context_plan_is_read_do_not_change_the_rows():
    """The rows are the events the columns held when they were checked: code run while the context plan is
    read (a value's float conversion, the iteration of a row dict or of the dict of rows) that rewrites the
    columns comes too late (cells: global context, rt-x price, rt-x context)."""
    def rewrite():
        kind.fill(9)
        price.fill(NAN)

    class Value:
        def __float__(self):
            rewrite()
            return 7.0

    class Row(dict):
        def __iter__(self):
            rewrite()
            return dict.__iter__(self)

    for plan in ({1: {CTX: Value()}}, {1: Row({CTX: 7.0})}, Row({1: {CTX: 7.0}})):
        fx, kind, price = small(), np.zeros(3, U8), np.array([1.0, 2.0, 3.0])
        rows = fx.transform(kind, np.zeros(3, I64), np.arange(3), price=price, context_updates=plan)
        assert np.array_equal(rows[:, :3], [[NAN, 1, NAN], [NAN, 2, 7], [NAN, 3, 7]], equal_nan=True)
        assert (kind == 9).all() and np.isnan(price).all()  # it did run, before the rows


def test_layout_construction_and_json():
    spec = FeatureExtractorSpec(capacity=5).field("rt-x").vpt("rt-x").context("rt-x", "c")
    fx, bad = FeatureExtractor(spec), FeatureExtractorSpec().cvd("rt-x", [0])
    spec.day_of_week()  # changes nothing built before
    assert (fx.n_features(), fx.active_feature_count(), len(fx.values())) == (5, 3, 5)
    assert fx.feature_names()[3:] == ["__reserved_3", "__reserved_4"]
    assert batch(fx, 0).shape == fx.transform_order_book([]).shape == (0, 5)
    assert FeatureExtractor.from_json(spec.to_json()).feature_names()[1:4] == fx.feature_names()[:3]
    compile_error = raised(ValueError, lambda: FeatureExtractor(bad))
    for call, exception, message in [
            (lambda: FeatureExtractor(spec, "float16"), ValueError, BAD_DTYPE),
            (lambda: FeatureExtractor(bad, "float16"), ValueError, compile_error),
            (lambda: FeatureExtractor(spec, output_dtype=None), TypeError,
             "argument 'output_dtype': 'NoneType' object cannot be converted to 'PyString'"),
            (lambda: FeatureExtractor(1), TypeError,
             "argument 'feature_extractor_spec': 'int' object cannot be converted to 'FeatureExtractorSpec'"),
            (lambda: FeatureExtractor(FeatureExtractorSpec().cvd("rt-x", [5, 5])), ValueError,
             "invalid indicator definition at index 1: CVD: duplicates an earlier feature key"),
            (lambda: FeatureExtractor(FeatureExtractorSpec(capacity=2**64 - 1).field("x")), MemoryError,
             "cannot allocate the feature vector: 18446744073709551615 cells"),
            (lambda: FeatureExtractor.from_json(bad.to_json(), "x"), ValueError, compile_error),
            (lambda: FeatureExtractor.from_json(spec.to_json(), "x"), ValueError, BAD_DTYPE),
            (lambda: FeatureExtractor.from_json("{", 1), TypeError,
             "argument 'output_dtype': 'int' object cannot be converted to 'PyString'")]:
        assert raised(exception, call) == message
    assert raised(ValueError, lambda: FeatureExtractor.from_json("{", "x")).endswith("line 1 column 2")
    refuses_trailing_nul(FeatureExtractor.from_json, spec.to_json())


def test_a_feature_vector_that_cannot_be_allocated_raises_memory_error():
    """2**44 cells (128 TiB) pass every check of the spec but no memory holds them."""
    huge = FeatureExtractorSpec(capacity=2**44).field("rt-x")
    message = "cannot allocate the feature vector: 17592186044416 cells"
    assert raised(MemoryError, lambda: FeatureExtractor(huge)) == message
    assert raised(MemoryError, lambda: FeatureExtractor.from_json(huge.to_json())) == message
    fx = FeatureExtractor(FeatureExtractorSpec(capacity=2).field("rt-x"))
    fx.update(KIND_PRICE, fx.symbol("rt-x"), 1, price=3.0)
    assert fx.values()[0] == 3.0 and np.isnan(fx.values()[1])


def test_output_dtype_and_its_lock():
    fx = small()
    assert (fx.output_dtype, fx.values().dtype) == ("float64", F64)
    fx.output_dtype = "float32"
    assert (fx.output_dtype, fx.values().dtype) == ("float32", np.float32)
    assert raised(ValueError, lambda: setattr(fx, "output_dtype", "Float32")) == BAD_DTYPE
    assert raised(TypeError, lambda: setattr(fx, "output_dtype", np.float32)).startswith("argument 'value': ")
    assert raised(AttributeError, lambda: delattr(fx, "output_dtype")) == "can't delete attribute"
    fx.update_context({})
    fx.output_dtype = "float32"  # an empty update locks nothing
    fx.update(KIND_PRICE, 0, 5, price=1e39)
    assert np.array_equal(fx.values(), [NAN, np.inf, NAN, NAN, NAN], equal_nan=True)
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
    fx, cls, payload = small(), FeatureExtractor, "*, price=None, volume=None, side=None, bid=None, ask=None"
    assert (cls.__doc__, cls.__text_signature__) == ("A configured, runnable feature extractor.",
                                                     '(feature_extractor_spec, output_dtype="float64")')
    expected = {"update_context": "(updates)", "update_order_book": "(event)",
                "transform_order_book": "(events, *, context_updates=None)", "from_json": "(json, output_dtype='float64')",
                "symbol": "(name)", "feature_names": "()", "n_features": "()", "active_feature_count": "()",
                "values": "()", "update": f"(kind, symbol, timestamp, {payload})",
                "transform": f"(kind, symbol, timestamp, {payload}, context_updates=None)"}
    assert [name for name in vars(cls) if not name.startswith("__")] == [*expected, "output_dtype"]
    assert {name: str(inspect.signature(getattr(fx, name))) for name in expected} == expected
    assert type(vars(cls)["from_json"]) is staticmethod
    assert fx.values.__doc__.splitlines()[1:] == [
        "A window cell is NaN until its", "configured warm-up policy is satisfied and a current value exists."]
    assert vars(cls)["output_dtype"].__doc__ == "Numeric dtype used by arrays returned to Python."


def test_reference_counts_and_memory_stay_flat_over_many_calls():
    fx, kind, symbol, price, event = small(), np.zeros(4, U8), np.zeros(4, I64), np.ones(4), book()
    context, updates = {0: {CTX: 1.0}}, {CTX: 2.0}
    watched = [kind, symbol, price, event, context, context[0], updates, CTX]

    def calls(step):
        fx.transform(kind, symbol, np.arange(4) + 10 * step, price=price, context_updates=context)
        fx.update(KIND_TRADE, 0, 10 * step + 5, price=1.5, volume=2.0, side=1)
        fx.update_context(updates)
        fx.update_order_book(book(ts=10 * step + 6, update_id=step + 2))
        fx.values(), fx.feature_names(), fx.output_dtype, fx.symbol("rt-x")
        for refused in (lambda: fx.update(KIND_PRICE, 9, 0, price=1.0), lambda: fx.update_order_book(event),
                        lambda: fx.transform_order_book([event], context_updates=context)):
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
    assert [sys.getrefcount(obj) for obj in watched] == counts and grown < 20_000


def test_numpy_is_bound_on_first_use():
    code = ("import sys, _vorn\nassert 'numpy' not in sys.modules\nsys.modules['numpy'] = {}\n"
            "fx = _vorn.FeatureExtractor(_vorn.FeatureExtractorSpec())\n"
            "try:\n    fx.values()\nexcept BaseException as e:\n    print(type(e).__name__, e)\n"
            "del sys.modules['numpy']\nprint(fx.values().shape)")
    result = subprocess.run([sys.executable, "-W", "error", "-c", code], capture_output=True, text=True)
    assert result.stdout.splitlines() == ["PanicException Failed to access NumPy array API capsule", "(0,)"], \
        result.stderr


# ---- values(): a new array each call, as far as the caller can see ------------------------

def stepped(fx, ts):
    """Steps rt-x's price to `ts` at time `ts`; the values that follow (cell 1 is the price)."""
    fx.update(KIND_PRICE, 0, ts, price=float(ts))
    return [NAN, float(ts), NAN, NAN, NAN]


def same(array, expected):
    return array.dtype == F64 and array.shape == (5,) and np.array_equal(array, expected, equal_nan=True)


def test_values_changed_by_the_caller_do_not_show_in_the_next_result():
    fx = small()
    v = None
    for ts in range(1, 8):
        expected = stepped(fx, ts)
        v = fx.values()  # the previous array is still held during the call
        assert same(v, expected) and v.flags.writeable and v.flags.owndata and v.base is None
        v[:] = -1.0


def test_values_held_anywhere_are_never_written_again():
    fx, times = small(), iter(range(1, 100))
    held = []  # (array, what it showed when returned)
    for _ in range(4):
        expected = stepped(fx, next(times))
        held.append((fx.values(), expected))
    holders = {"view": lambda a: a[1:], "buffer": memoryview, "dict": lambda a: {"a": a}, "list": lambda a: [[a]]}
    for name, make_holder in holders.items():
        expected = stepped(fx, next(times))
        holder = make_holder(fx.values())  # only the holder keeps the array
        held.append((name, holder, expected))
        for _ in range(3):
            stepped(fx, next(times))
            fx.values()
    for entry in held[:4]:
        assert same(*entry)
    for name, holder, expected in held[4:]:
        array = {"view": lambda: holder, "buffer": lambda: np.asarray(holder), "dict": lambda: holder["a"],
                 "list": lambda: holder[0][0]}[name]()
        assert np.array_equal(array, expected[1:] if name == "view" else expected, equal_nan=True), name


def set_in_place(array, name, value):
    """Sets an array's shape or dtype in place, which NumPy deprecates: its warning is caught here alone, and
    the case is skipped once NumPy refuses the change."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        try:
            setattr(array, name, value)
        except (AttributeError, TypeError) as refused:
            pytest.skip(f"NumPy {np.__version__} no longer sets `{name}` in place: {refused}")


@pytest.mark.parametrize("change", [lambda a: a.setflags(write=False), lambda a: set_in_place(a, "shape", (5, 1)),
                                    lambda a: set_in_place(a, "dtype", np.int64), lambda a: a.resize(6, refcheck=False)])
def test_values_arrays_changed_in_place_and_dropped_are_not_handed_out_again(change):
    fx = small()
    for ts in range(1, 5):
        change(fx.values())
        expected = stepped(fx, ts)
        first, second = fx.values(), fx.values()
        assert same(first, expected) and same(second, expected)
        assert first.flags.writeable and first.strides == (8,) and first is not second
        del first, second


def test_values_arrays_weakly_referenced_die_and_follow_the_output_dtype():
    import weakref
    fx = small()
    for ts in range(1, 4):
        watched = weakref.ref(fx.values())
        expected = stepped(fx, ts)
        assert same(fx.values(), expected) and watched() is None
    fx = small()
    fx.values()
    fx.output_dtype = "float32"
    assert fx.values().dtype == F32 and fx.values().dtype == F32
