"""OrderBookEvent: the two static constructors, their argument checks in order, their
texts, and the object's immutability."""
import gc
import inspect
import pickle
import subprocess
import sys
import textwrap
import tracemalloc

import pytest

from _vorn import OrderBookEvent
from helpers import raised

snapshot = OrderBookEvent.snapshot
delta = OrderBookEvent.delta
NONNEGATIVE = "book prices and sizes must be nonnegative"
BAD_SIDE = "book side must be bid or ask"
LIMIT = "invalid argument: symbol count 513 exceeds limit 512"


def test_class_surface_and_docstrings():
    assert OrderBookEvent.__doc__ == (
        "Immutable, validated snapshot or delta with exact decimal price/size values.\n"
        "Construction owns payload allocation; both Python runtimes reuse core dispatch.")
    assert OrderBookEvent.__text_signature__ is None
    assert [name for name in vars(OrderBookEvent) if not name.startswith("_")] == ["snapshot", "delta"]
    assert [name for name in dir(OrderBookEvent) if not name.startswith("_")] == ["delta", "snapshot"]
    assert str(inspect.signature(snapshot)) == "(symbol, timestamp, update_id, bids, asks)"
    assert str(inspect.signature(delta)) == "(symbol, timestamp, update_id, changes)"
    assert snapshot.__doc__ == "Builds a snapshot from (price, size) pairs of exact decimal strings."
    assert delta.__doc__ == "Builds a delta from (side, price, size) triples; zero sizes delete levels."
    assert type(vars(OrderBookEvent)["snapshot"]) is staticmethod
    assert type(vars(OrderBookEvent)["delta"]) is staticmethod
    assert repr(OrderBookEvent) == "<class 'OrderBookEvent'>"


def test_no_constructor():
    for call in (lambda: OrderBookEvent(), lambda: OrderBookEvent("btc", 1, 2, [], [])):
        assert raised(TypeError, call) == "No constructor defined for OrderBookEvent"


def test_objects_are_immutable_plain_objects():
    event = snapshot("obe-py", 1, 2, [("1", "2")], [])
    with pytest.raises(AttributeError):
        event.symbol = "eth"
    with pytest.raises(AttributeError):
        event.__dict__
    assert not [name for name in dir(event) if not name.startswith("_") and name not in ("snapshot", "delta")]
    assert repr(event).startswith("<OrderBookEvent object at 0x")
    other = snapshot("obe-py", 1, 2, [("1", "2")], [])
    assert event == event and event != other  # identity
    assert hash(event) != hash(other) or event is other
    with pytest.raises((TypeError, pickle.PicklingError)):
        pickle.dumps(event)


def test_valid_events():
    accepted = [
        lambda: snapshot("obe-py", 0, 0, [], []),
        lambda: delta("obe-py", 0, 0, []),
        lambda: snapshot("obe-py", -5, 2**64 - 1, [["1.50", "0"]], (("0", "3"),)),
        lambda: snapshot("obe-py", 2**63 - 1, 0, (("1", "2"),), [["1", "2"]]),
        lambda: snapshot("obe-py", -2**63, 0, [("3", "1"), ("1", "1"), ("3", "2")], [("0.5", "1")]),
        lambda: delta("obe-py", 1, 1, [("bid", "1", "0"), ["ask", "0", "0.000"]]),
        lambda: delta(symbol="OBE-PY", timestamp=1, update_id=1, changes=(("ask", "2", "1"),)),
        lambda: snapshot(asks=[], bids=[], update_id=3, timestamp=2, symbol=""),
        lambda: snapshot("with\0nul", 0, 0, [], []),
    ]
    for make in accepted:
        assert type(make()) is OrderBookEvent


def test_each_argument_has_its_converter_and_name():
    # The converters' own texts are tested with the binding kit; here each
    # parameter is wired to the right one.
    rows = [
        (lambda: snapshot(5, 0, 0, [], []), TypeError,
         "argument 'symbol': 'int' object cannot be converted to 'PyString'"),
        (lambda: snapshot("s", "1", 0, [], []), TypeError,
         "argument 'timestamp': 'str' object cannot be interpreted as an integer"),
        (lambda: snapshot("s", 2**63, 0, [], []), OverflowError, "int too big to convert"),
        (lambda: snapshot("s", 0, -1, [], []), OverflowError, "can't convert negative int to unsigned"),
        (lambda: delta("s", 0, 2**64, []), OverflowError, "int too big to convert"),
        (lambda: snapshot("s", 0, 0, "1,2", []), TypeError, "argument 'bids': Can't extract `str` to `Vec`"),
        (lambda: snapshot("s", 0, 0, [], [("1", 2)]), TypeError,
         "argument 'asks': 'int' object cannot be converted to 'PyString'"),
        (lambda: delta("s", 0, 0, [(0, "1", "2")]), TypeError,
         "argument 'changes': 'int' object cannot be converted to 'PyString'"),
        (lambda: snapshot("s", 0, 0, [("1", "2", "3")], []), ValueError, "expected a sequence of length 2 (got 3)"),
        (lambda: delta("s", 0, 0, [("bid", "1")]), ValueError, "expected a sequence of length 3 (got 2)"),
        (lambda: delta("s", 0, 0, [], side="bid"), TypeError, "delta() got an unexpected keyword argument 'side'"),
        (lambda: snapshot("s", 0, 0, []), TypeError, "snapshot() missing 1 required positional argument: 'asks'"),
        # Parse errors (texts tested with the parsers) are ValueErrors.
        (lambda: delta("s", 0, 0, [("BID", "1", "1")]), ValueError, BAD_SIDE),
        (lambda: snapshot("s", 0, 0, [("1", "-0.01")], []), ValueError, NONNEGATIVE),
    ]
    for call, exception, text in rows:
        assert raised(exception, call) == text


def test_arguments_are_converted_in_order_before_any_text_is_parsed():
    # (The order of the parse checks is tested on the Python-free value.)
    # Every argument is converted, in signature order, before any text is
    # parsed: a type error in `asks` beats a bad decimal in `bids`.
    assert raised(TypeError, lambda: snapshot("s", 0, 0, [("x", "1")], [(1, "1")])) == \
        "argument 'asks': 'int' object cannot be converted to 'PyString'"
    assert raised(TypeError, lambda: snapshot(1, "x", -1, "b", "a")) == \
        "argument 'symbol': 'int' object cannot be converted to 'PyString'"
    assert raised(OverflowError, lambda: snapshot("s", 0, -1, "b", "a")) == \
        "can't convert negative int to unsigned"
    assert raised(TypeError, lambda: snapshot("s", 0, 0, [("1", "1"), (1.0, "1")], "a")) == \
        "argument 'bids': 'float' object cannot be converted to 'PyString'"


def test_interning_happens_before_levels_in_a_snapshot_and_after_changes_in_a_delta():
    # The interner is process-wide: fill it in a process of its own.
    script = textwrap.dedent(f"""
        from _vorn import OrderBookEvent as E

        def error(call):
            try:
                call()
            except ValueError as e:
                return str(e)
            return "no error"

        for i in range(509):
            E.snapshot(f"fill{{i}}", 0, 0, [], [])      # 510 names with the global one
        print(error(lambda: E.snapshot("SNAP", 0, 0, [("-1", "1")], [])))   # registers snap
        print(error(lambda: E.delta("DELTA", 0, 0, [("up", "1", "1")])))    # registers nothing
        E.snapshot("btc", 0, 0, [], [])                  # the 512th name
        E.snapshot("BTC", 0, 0, [], [])                  # folds to btc
        E.delta("Snap", 0, 0, [])
        E.delta("__GLOBAL__", 0, 0, [])
        print(error(lambda: E.delta("delta", 0, 0, [])))
        print(error(lambda: E.snapshot("new", 0, 0, [("x", "1")], [])))
        print(error(lambda: E.delta("new", 0, 0, [("BID", "1", "1")])))
        print(error(lambda: E.snapshot("new", 0, 0, [], [])))
    """)
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [NONNEGATIVE, BAD_SIDE, LIMIT, LIMIT, BAD_SIDE, LIMIT]


def test_reference_counts_and_memory_stay_flat():
    gc.collect()  # objects left by earlier tests must not be freed while counting
    symbol, bids, asks, changes = "obe-refs", [("1", "2"), ("3", "4")], [], [("bid", "1", "0")]
    bad_bids = [("1", "2"), ("-1", "2")]
    watched = (symbol, bids, asks, changes, bad_bids, OrderBookEvent, bids[0])
    before = [sys.getrefcount(o) for o in watched]

    def churn(rounds):
        for _ in range(rounds):
            snapshot(symbol, 1, 2, bids, asks)
            delta(symbol, 1, 2, changes)
            for bad in (lambda: snapshot(symbol, 1, 2, bad_bids, asks),
                        lambda: snapshot(symbol, 1, 2, bids, "x"),
                        lambda: delta(symbol, 1, 2, [("bid", "1")]),
                        lambda: snapshot(symbol, 1, -2, bids, asks),
                        lambda: OrderBookEvent()):
                with pytest.raises((TypeError, ValueError, OverflowError)):
                    bad()

    churn(200)
    tracemalloc.start()
    try:
        churn(100)
        start, _ = tracemalloc.get_traced_memory()
        churn(3000)
        end, _ = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert end - start < 64 * 1024
    assert [sys.getrefcount(o) for o in watched] == before
    class_refs = sys.getrefcount(OrderBookEvent)
    kept = [snapshot(symbol, 1, 2, bids, asks) for _ in range(100)]
    assert sys.getrefcount(OrderBookEvent) == class_refs + 100  # each object holds its class
    del kept
    assert sys.getrefcount(OrderBookEvent) == class_refs


def test_levels_are_freed_with_their_object():
    import resource

    levels = [(f"{i}.25", "1.5") for i in range(1000)]  # about 32 kB of parsed levels per object
    changes = [("ask", price, size) for price, size in levels]
    for _ in range(50):
        snapshot("obe-free", 0, 0, levels, levels)
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    for _ in range(1500):
        snapshot("obe-free", 0, 0, levels, levels)
        delta("obe-free", 0, 0, changes)
    grown_kb = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before
    assert grown_kb < 32 * 1024  # a leak would keep about 140 MB
