"""FeatureExtractorSpec: the constructor, the accessors and JSON, the rebuild rule
(capacity, reserved ids, canonical order, all-or-nothing), and every builder's
keys, checks in order and refusals."""
import inspect
import json
import pathlib
import re
import subprocess
import sys
import textwrap
import unicodedata

import pytest

from _vorn import FeatureExtractorSpec as S, WarmupPolicy as W
from helpers import raised, refuses_trailing_nul

B = "symbol=3:btc:source="
G = "symbol=10:__global__:source="
TOPS = ["order_book_mid_price", "order_book_spread", "order_book_spread_bps", "order_book_weighted_mid_price",
        "order_book_microprice", "order_book_best_bid_price", "order_book_best_bid_size",
        "order_book_best_ask_price", "order_book_best_ask_size"]
SIZES = ["order_book_depth_until_size_" + name for name in ("price_from", "price_to", "total_size")]
TIMED = "aggregation_ns=1000000000:window_ns=5000000000:warmup=full_window"
CAPACITY = "invalid argument: feature vector capacity {} is smaller than active length {}"
RESERVED = "invalid argument: feature definition at index {} uses the reserved namespace for feature IDs"
DURATION = 'invalid `{}` duration "{}"; use an integer with a unit: "500ms", "1s", "5m", "1h"'
SOURCE = 'invalid `source` "{}"; expected "price", "volume", "trade_price", or "trade_volume"'
DECIMAL = "invalid exact decimal: Invalid decimal: unknown character"


def state(spec):
    return spec.feature_ids(), spec.capacity, spec.active_feature_count, spec.checksum, spec.to_json()


# Each builder call with the ids it adds to a fresh spec, in canonical order.
BUILDS = [
    (lambda s: s.context("BTC", "a\0b"), ["context:" + B + "context:name=3:a\0b"]),
    (lambda s: s.context("__GLOBAL__", "g", id="x\0y"), ["x\0y"]),
    (lambda s: s.field("BTC"), ["field:" + B + "field.price"]),
    (lambda s: s.field(symbol="btc", source="trade_volume", id="mine"), ["mine"]),
    (lambda s: s.cvd("BTC", [5, 10]), [f"cvd:{B}event.trade:window={w}:warmup=full_window" for w in (5, 10)]),
    (lambda s: s.cvd("btc", (7,), warmup=W.FIRST_VALUE), ["cvd:" + B + "event.trade:window=7:warmup=first_value"]),
    (lambda s: s.simple_returns("btc", [3, 1]), [f"simple_return:{B}field.price:lag={n}" for n in (3, 1)]),
    (lambda s: s.log_returns("btc", range(2, 3), source="volume"), ["log_return:" + B + "field.volume:lag=2"]),
    (lambda s: s.volatility("btc", (20, 5), source="trade_price"),
     [f"volatility:{B}field.trade_price:window={w}:warmup=full_window" for w in (20, 5)]),
    (lambda s: s.sma_timed("btc", " 1s ", ["5s", "1m"]),
     ["sma_timed:" + B + "field.price:" + TIMED, "sma_timed:" + B + "field.price:" + TIMED.replace("5", "60")]),
    (lambda s: s.volatility_timed("btc", "250ms", ["1h"], source="volume", warmup=W.FIRST_VALUE),
     ["volatility_timed:" + B + "field.volume:aggregation_ns=250000000:window_ns=3600000000000:warmup=first_value"]),
    *[(lambda s, n=name: getattr(s, n)("btc", "1000ms", ("5s",)), [f"{name}:{B}event.trade:{TIMED}"])
      for name in ("obv_timed", "trade_volume_timed", "vwap_timed")],
    (lambda s: s.vpt("btc"), ["vpt:" + B + "event.trade"]),
    (lambda s: s.trade_count_timed("btc", "1s", "5s"), ["trade_count_timed:" + B + "event.trade:" + TIMED]),
    *[(lambda s, n=name: getattr(s, n)("btc"), [f"{name}:{B}order_book"]) for name in TOPS],
    (lambda s: s.order_book_imbalance("btc", [5, 1, 5]),
     [f"order_book_imbalance:{B}order_book:n_levels={n}" for n in (5, 1, 5)]),
    (lambda s: s.order_book_level_size("btc", "ask", "0"), ["order_book_level_size:" + B + "order_book:side=ask:price=0"]),
    (lambda s: s.order_book_depth_until_price("btc", "bid", "100.500"),
     ["order_book_depth_until_price:" + B + "order_book:side=bid:price=100.5"]),
    (lambda s: s.order_book_nth_price("btc", "bid", 3), ["order_book_nth_price:" + B + "order_book:side=bid:n_levels=3"]),
    (lambda s: s.order_book_nth_size("btc", "ask", 2**64 - 1),
     ["order_book_nth_size:" + B + "order_book:side=ask:n_levels=18446744073709551615"]),
    *[(lambda s, n=name: getattr(s, n)("btc", "bid", "1.50"), [f"{name}:{B}order_book:side=bid:size=1.5"])
      for name in SIZES],
    (lambda s: s.order_book_volume_between_prices("btc", "bid", "1.50", "2"),
     ["order_book_volume_between_prices:" + B + "order_book:side=bid:from_price=1.5:to_price=2"]),
    (lambda s: s.day_of_week(), ["day_of_week:" + G + "any_event"]),
    (lambda s: s.time_since_first_event_of_day(), ["time_since_first_event_of_day:" + G + "any_event:utc_offset_ms=0"]),
    (lambda s: s.time_since_first_event_of_day(tz=" UTC-09:30 "),
     ["time_since_first_event_of_day:" + G + "any_event:utc_offset_ms=-34200000"]),
]


@pytest.mark.parametrize("build, ids", BUILDS)
def test_each_builder_adds_its_keys_with_canonical_ids_and_returns_the_spec(build, ids):
    spec = S()
    assert build(spec) is spec
    assert (spec.feature_ids(), spec.capacity, spec.output_count(), spec.active_feature_count) == (ids,) + (len(ids),) * 3
    # A fixed capacity without room refuses the whole call, but not a book.
    full = S(capacity=0)
    assert raised(ValueError, lambda: build(full)) == CAPACITY.format(0, len(ids))
    assert full.configure_order_book("btc", update_policy="monotonic", buffer_size=0).feature_ids() == []


def test_accessors_capacity_and_ids():
    fresh = S()
    assert (fresh.capacity, fresh.active_feature_count, fresh.output_count(), fresh.indicator_count(),
            fresh.checksum, fresh.feature_ids()) == (0, 0, 0, 0, None, [])
    spec = S(checksum="a\0b", capacity=2**64 - 1).cvd("btc", [1, 2]).cvd("btc", [3], warmup=W.FIRST_VALUE).vpt("e")
    assert (spec.capacity, spec.checksum, spec.active_feature_count, spec.indicator_count()) == (2**64 - 1, "a\0b", 4, 3)
    assert state(S(capacity=5).vpt("a").vpt("b"))[1:3] == (5, 2)
    assert raised(ValueError, lambda: S().vpt("a").field("btc", id="__reserved_x")) == RESERVED.format(1)
    # Global features first, then by symbol name, whatever the call order.
    assert S().field("eth").day_of_week().field("btc").feature_ids() == \
        ["day_of_week:" + G + "any_event", "field:" + B + "field.price", "field:symbol=3:eth:source=field.price"]
    # Reserved-looking ids, identical features and empty names are refused only by runtime objects.
    assert S().field("btc", id="_reserved_x").day_of_week().day_of_week().context("btc", "").feature_ids() == \
        ["day_of_week:" + G + "any_event"] * 2 + ["_reserved_x", "context:" + B + "context:name=0:"]
    for name in ("capacity", "active_feature_count", "checksum"):
        assert raised(AttributeError, lambda: setattr(spec, name, 4)) and raised(AttributeError, lambda: delattr(spec, name))


@pytest.mark.parametrize("call, exception, text", [
    (lambda: S(3), TypeError, "FeatureExtractorSpec() takes 0 positional arguments but 1 was given"),
    (lambda: S(capacity="3"), TypeError, "argument 'capacity': 'str' object cannot be interpreted as an integer"),
    (lambda: S(capacity=-1, checksum=5), OverflowError, "can't convert negative int to unsigned"),
    (lambda: S(checksum=b"c"), TypeError, "argument 'checksum': 'bytes' object cannot be converted to 'PyString'"),
    (lambda: S.from_json(5), TypeError, "argument 'json': 'int' object cannot be converted to 'PyString'"),
    (lambda: S.from_json('{"version": "1.0"}'), ValueError, "missing field `capacity` at line 1 column 18"),
    (lambda: S().context("btc", "").to_json(), ValueError,
     "invalid indicator definition at index 0: context: context name must not be empty"),
])
def test_constructor_and_json_refusals(call, exception, text):
    assert raised(exception, call) == text


def base():
    spec = S(capacity=1, checksum="c").field("eth")
    return spec.configure_order_book("ETH", update_policy="contiguous", buffer_size=2**64 - 1)


# The first failure wins; most rows hold two faults.
@pytest.mark.parametrize("call, exception, text", [
    (lambda s: s.cvd("btc", [], warmup=1), TypeError, "argument 'warmup': 'int' object cannot be converted to 'WarmupPolicy'"),
    (lambda s: s.volatility(5, []), TypeError, "argument 'symbol': 'int' object cannot be converted to 'PyString'"),
    (lambda s: s.configure_order_book("b", update_policy="x", buffer_size=-1), OverflowError,
     "can't convert negative int to unsigned"),
    (lambda s: s.sma_timed("btc", "x", [], source="bogus"), ValueError, "windows must not be empty"),
    (lambda s: s.sma_timed("btc", "x", ["5s"], source="bogus"), ValueError, SOURCE.format("bogus")),
    (lambda s: s.volatility_timed("btc", "x", ["y"]), ValueError, DURATION.format("aggregation", "x")),
    (lambda s: s.obv_timed("btc", "1s", ["5s", " x ", "y"]), ValueError, DURATION.format("windows", "x")),
    (lambda s: s.trade_count_timed("btc", "1s", "soon"), ValueError, DURATION.format("window", "soon")),
    (lambda s: s.simple_returns("btc", [3, 2**64 - 1, 0], source="bogus"), ValueError, "lags must be positive"),
    (lambda s: s.log_returns("btc", [2**64 - 1], source="bogus"), ValueError, "lags are too large"),
    (lambda s: s.simple_returns("btc", []), ValueError, "lags must not be empty"),
    (lambda s: s.field("btc", source="Price", id="__reserved_x"), ValueError, SOURCE.format("Price")),
    (lambda s: s.time_since_first_event_of_day(" bad "), ValueError,
     'invalid `tz` " bad "; use "UTC" or a fixed offset like "UTC+3" or "-05:30" '
     '(named zones are not supported: the core has no timezone database)'),
    (lambda s: s.context("btc", "", id="__reserved_"), ValueError, CAPACITY.format(1, 2)),
    (lambda s: s.configure_order_book("__GLOBAL__", update_policy="Monotonic", buffer_size=0), ValueError,
     "update_policy must be monotonic or contiguous"),
    (lambda s: s.configure_order_book("__Global__", update_policy="monotonic", buffer_size=0), ValueError,
     "invalid argument: order books require a non-global symbol"),
    (lambda s: s.configure_order_book("eth", update_policy="monotonic", buffer_size=0), ValueError,
     "more than one order book is configured for symbol eth"),
    *[(lambda s, n=depths: s.order_book_imbalance("btc", n), ValueError, "imbalance requires one to sixteen positive depths")
      for depths in ([], [1, 0], [1] * 17)],
    (lambda s: s.order_book_nth_price("btc", "BID", 0), ValueError, "n_levels must be positive"),
    (lambda s: s.order_book_level_size("btc", "BID", "x"), ValueError, DECIMAL),
    *[(lambda s, n=name, v=size: getattr(s, n)("btc", "BID", v), ValueError, "target size must be positive")
      for name, size in zip(SIZES, ("0", "0.000", "-0.0"))],
    (lambda s: s.order_book_depth_until_size_price_to("btc", "BID", "1"), ValueError, "book side must be bid or ask"),
    (lambda s: s.order_book_volume_between_prices("btc", "BID", "1.0", "1"), ValueError, "from_price must be less than to_price"),
    (lambda s: s.order_book_volume_between_prices("btc", "bid", "x", "-1"), ValueError, DECIMAL),
])
def test_builder_refusals_in_check_order_leave_the_spec_unchanged(call, exception, text):
    spec = base()
    before = state(spec)
    assert raised(exception, lambda: call(spec)) == text
    assert state(spec) == before


def test_messages_write_every_character_that_does_not_print_as_its_code_point():
    # The engine's table was generated from the Unicode version its header names.
    table = pathlib.Path(__file__).parents[2] / "engine" / "non_printable_ranges.inc"
    version = re.search(r"Unicode (\S+) database", table.read_text()).group(1)
    if version != unicodedata.unidata_version:
        pytest.skip(f"the table is Unicode {version}, this interpreter has {unicodedata.unidata_version}")
    escapes = {'"': '\\"', "\\": "\\\\", "\t": "\\t", "\r": "\\r", "\n": "\\n", "\0": "\\0"}
    hidden = {"Cc", "Cf", "Cs", "Co", "Cn", "Zl", "Zp", "Zs"}

    def quoted(c):
        if c in escapes:
            return escapes[c]
        return f"\\u{{{ord(c):x}}}" if c != " " and unicodedata.category(c) in hidden else c

    codes = [c for c in range(sys.maxunicode + 1) if not 0xD800 <= c <= 0xDFFF]  # surrogates are no UTF-8
    for start in range(0, len(codes), 4096):
        text = "".join(map(chr, codes[start:start + 4096]))
        message = raised(ValueError, lambda: S().field("btc", source=text))
        assert message == SOURCE.format("".join(map(quoted, text))), f"from U+{codes[start]:04X}"


class CallsBack:
    """An integer that runs `action` when it is read."""

    def __init__(self, action):
        self.action = action

    def __index__(self):
        self.action()
        return 1


@pytest.mark.parametrize("call, text", [
    (lambda s: s.cvd("btc", [CallsBack(lambda: s.vpt("eth"))]), "Already borrowed"),
    (lambda s: s.order_book_imbalance("btc", [CallsBack(s.feature_ids)]), "Already mutably borrowed"),
    (lambda s: s.order_book_nth_price("btc", "bid", CallsBack(lambda: s.capacity)), "Already mutably borrowed"),
    (lambda s: s.configure_order_book("btc", update_policy="monotonic", buffer_size=CallsBack(s.to_json)),
     "Already mutably borrowed"),
])
def test_calls_back_into_the_same_spec_are_refused(call, text):
    spec = base()
    before = state(spec)
    assert raised(RuntimeError, lambda: call(spec)) == text
    assert state(spec) == before
    assert S().cvd("btc", [CallsBack(S().day_of_week)]).active_feature_count == 1  # another spec is free


SIGNATURES = {
    "(json)": "from_json",
    "(self, /)": "to_json indicator_count output_count feature_ids day_of_week",
    "(self, /, symbol)": "vpt " + " ".join(TOPS),
    "(self, /, symbol, name, *, id=None)": "context",
    "(self, /, symbol, *, source='price', id=None)": "field",
    "(self, /, symbol, windows, *, warmup=Ellipsis)": "cvd",
    "(self, /, symbol, lags, *, source='price')": "simple_returns log_returns",
    "(self, /, symbol, windows, *, source='price', warmup=Ellipsis)": "volatility",
    "(self, /, symbol, aggregation, windows, *, source='price', warmup=Ellipsis)": "sma_timed volatility_timed",
    "(self, /, symbol, aggregation, windows, *, warmup=Ellipsis)": "obv_timed trade_volume_timed vwap_timed",
    "(self, /, symbol, aggregation, window, *, warmup=Ellipsis)": "trade_count_timed",
    "(self, /, symbol, *, update_policy, buffer_size)": "configure_order_book",
    "(self, /, symbol, n_levels)": "order_book_imbalance",
    "(self, /, symbol, side, price)": "order_book_level_size order_book_depth_until_price",
    "(self, /, symbol, side, n_levels)": "order_book_nth_price order_book_nth_size",
    "(self, /, symbol, side, size)": " ".join(SIZES),
    "(self, /, symbol, side, from_price, to_price)": "order_book_volume_between_prices",
    "(self, /, tz='UTC')": "time_since_first_event_of_day",
}
# The exact queries in the class's method order: level size, the nth price and
# size, then the depth and volume queries.
EXACT = ["order_book_level_size", "order_book_nth_price", "order_book_nth_size", "order_book_depth_until_price",
         *SIZES, "order_book_volume_between_prices"]
ORDER = ["from_json", "to_json", "indicator_count", "output_count", "feature_ids", "context", "field", "cvd",
         "simple_returns", "log_returns", "volatility", "sma_timed", "volatility_timed", "obv_timed",
         "trade_volume_timed", "vwap_timed", "vpt", "trade_count_timed", "configure_order_book", *TOPS,
         "order_book_imbalance", *EXACT, "day_of_week", "time_since_first_event_of_day"]


def test_class_surface_signatures_and_docstrings():
    assert [name for name in vars(S) if not name.startswith("_")] == \
        ORDER + ["capacity", "active_feature_count", "checksum"]
    assert {name: str(inspect.signature(getattr(S, name))) for name in ORDER} == \
        {name: signature for signature, names in SIGNATURES.items() for name in names.split()}
    assert str(inspect.signature(S)) == "(*, capacity=None, checksum=None)"
    assert S.__doc__.startswith("Declarative feature-vector spec: the ordered list of features an extractor produces")
    assert S.day_of_week.__doc__ == ("Day-of-week clock feature (`0 = Sunday ..= 6 = Saturday`). Refreshes\n"
                                     "at or beyond the maximum accepted timestamp, retaining its value on older rows.")
    assert all(getattr(S, name).__doc__ == f"Adds the {name} scalar output for a configured book." for name in TOPS)
    assert {getattr(S, name).__doc__ for name in EXACT} == \
        {"Adds an exact book query; side is bid or ask and prices/sizes are strings."}


def test_json_round_trip_of_every_builder_fixes_the_capacity():
    spec = S(checksum="sum").configure_order_book("btc", update_policy="contiguous", buffer_size=2**64 - 1)
    for build, _ in BUILDS:
        build(spec)
    loaded = S.from_json(spec.to_json())
    backward = S(checksum="sum").configure_order_book("btc", update_policy="contiguous", buffer_size=2**64 - 1)
    for build, _ in reversed(BUILDS):
        build(backward)
    assert state(backward) == state(spec)
    assert state(loaded) == state(spec) and loaded.indicator_count() == spec.indicator_count()
    assert raised(ValueError, lambda: loaded.vpt("eth")) == CAPACITY.format(spec.capacity, spec.capacity + 1)
    assert S.from_json(S(capacity=2**64 - 1).to_json()).capacity == 2**64 - 1


def test_json_text_is_read_to_its_end():
    spec = S().vpt("eth").configure_order_book("eth", update_policy="contiguous", buffer_size=3)
    document = spec.to_json()
    refuses_trailing_nul(S.from_json, document)
    # a NUL inside the document is refused where it stands, not taken for the end of the text
    at = document.index('"features"')
    inner = raised(ValueError, lambda: S.from_json(document[:at] + "\0" + document[at:]))
    line = document.count("\n", 0, at) + 1
    column = at - document.rfind("\n", 0, at)
    assert inner.startswith("parse error: syntax error while parsing object key - invalid literal; last read: '")
    assert inner.endswith(f"<U+0000>'; expected string literal at line {line} column {column}")


def test_update_policy_reads_from_an_object_of_its_word_and_writes_the_word():
    spec = S().vpt("eth").configure_order_book("eth", update_policy="contiguous", buffer_size=3)
    document = json.loads(spec.to_json())
    assert document["order_books"][0]["update_policy"] == "contiguous"
    document["order_books"][0]["update_policy"] = {"contiguous": None}
    assert S.from_json(json.dumps(document)).to_json() == spec.to_json()
    for policy, message in [({"fifo": None}, "unknown variant `fifo`, expected one of `monotonic`, `contiguous`"),
                            ({"contiguous": 1}, "invalid type: map, expected variant identifier"),
                            ({"contiguous": None, "monotonic": None}, "invalid type: map, expected variant identifier")]:
        document["order_books"][0]["update_policy"] = policy
        assert raised(ValueError, lambda: S.from_json(json.dumps(document))).startswith(message + " at line 1 column ")


def test_interning_happens_only_after_the_checks_that_precede_it():
    # The interner is process-wide: fill it in a process of its own, up to two free names.
    script = textwrap.dedent("""
        from _vorn import FeatureExtractorSpec as S
        spec = S()
        for i in range(509):
            spec.vpt(f"fill{i}")
        for call in (lambda: spec.cvd("n1", []), lambda: spec.order_book_level_size("n2", "bid", "x"),
                     lambda: spec.configure_order_book("n3", update_policy="x", buffer_size=0),
                     lambda: spec.field("N4", source="bad"),  # interns n4
                     lambda: spec.vpt("n5"), lambda: spec.vpt("n6")):
            try:
                call()
            except ValueError as e:
                print(e)
        print(spec.vpt("n4").vpt("__global__").active_feature_count)
    """)
    lines = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True).stdout
    assert lines.splitlines() == [
        "windows must not be empty", DECIMAL, "update_policy must be monotonic or contiguous", SOURCE.format("bad"),
        "invalid argument: symbol count 513 exceeds limit 512", "512"]
