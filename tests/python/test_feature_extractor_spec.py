"""FeatureExtractorSpec: the constructor, the accessors and JSON, the rebuild rule
(capacity, reserved ids, canonical order, all-or-nothing), and every builder's
keys, checks in order and refusals."""
import inspect
import itertools
import subprocess
import sys
import textwrap

import pytest

from _vorn import FeatureExtractorSpec as S, WarmupPolicy as W
from helpers import raised

B = "symbol=3:btc:source="
G = "symbol=10:__global__:source="
TOPS = ["order_book_mid_price", "order_book_spread", "order_book_spread_bps", "order_book_weighted_mid_price",
        "order_book_microprice", "order_book_best_bid_price", "order_book_best_bid_size",
        "order_book_best_ask_price", "order_book_best_ask_size"]
TIMED = "aggregation_ns=1000000000:window_ns=5000000000:warmup=full_window"
CAPACITY = "invalid argument: feature vector capacity {} is smaller than active length {}"
TZ = ('invalid `tz` " bad "; use "UTC" or a fixed offset like "UTC+3" or "-05:30" '
      '(named zones are not supported: the core has no timezone database)')


def state(spec):
    return spec.feature_ids(), spec.capacity, spec.active_feature_count, spec.checksum, spec.to_json()


# Each builder call with the ids it adds (on a fresh spec, in canonical order).
BUILDS = [
    (lambda s: s.context("BTC", "a\0b"), ["context:" + B + "context:name=3:a\0b"]),
    (lambda s: s.context("__GLOBAL__", "", id="x\0y"), ["x\0y"]),
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
    (lambda s: s.obv_timed("btc", "1s", ["5s"]), ["obv_timed:" + B + "event.trade:" + TIMED]),
    (lambda s: s.trade_volume_timed("btc", "1s", ["5s"]), ["trade_volume_timed:" + B + "event.trade:" + TIMED]),
    (lambda s: s.vwap_timed("btc", "1000ms", ("5s",)), ["vwap_timed:" + B + "event.trade:" + TIMED]),
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
    *[(lambda s, n=name: getattr(s, "order_book_depth_until_size_" + n)("btc", "bid", "1.50"),
       [f"order_book_depth_until_size_{name}:{B}order_book:side=bid:size=1.5"]) for name in
      ("price_from", "price_to", "total_size")],
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
    assert (spec.feature_ids(), spec.capacity, spec.output_count(), spec.active_feature_count) == \
        (ids, len(ids), len(ids), len(ids))
    # A fixed capacity without room refuses the whole call.
    full = S(capacity=0, checksum="c")
    assert raised(ValueError, lambda: build(full)) == CAPACITY.format(0, len(ids))
    assert full.feature_ids() == [] and full.capacity == 0
    assert full.configure_order_book("btc", update_policy="monotonic", buffer_size=0) is full


def test_constructor_accessors_and_read_only_properties():
    fresh = S()
    assert (fresh.capacity, fresh.active_feature_count, fresh.output_count(), fresh.indicator_count(),
            fresh.checksum, fresh.feature_ids()) == (0, 0, 0, 0, None, [])
    spec = S(checksum="a\0b", capacity=2**64 - 1)
    assert (spec.capacity, spec.checksum) == (2**64 - 1, "a\0b")
    assert S(capacity=None, checksum=None).checksum is None
    spec.cvd("btc", [1, 2]).cvd("btc", [3], warmup=W.FIRST_VALUE).vpt("eth")
    assert (spec.capacity, spec.active_feature_count, spec.indicator_count()) == (2**64 - 1, 4, 3)
    for name in ("capacity", "active_feature_count", "checksum"):
        with pytest.raises(AttributeError):
            setattr(spec, name, 4)
        with pytest.raises(AttributeError):
            delattr(spec, name)
    assert spec.capacity == 2**64 - 1


@pytest.mark.parametrize("call, exception, text", [
    (lambda: S(3), TypeError, "FeatureExtractorSpec() takes 0 positional arguments but 1 was given"),
    (lambda: S(capacity="3"), TypeError, "argument 'capacity': 'str' object cannot be interpreted as an integer"),
    (lambda: S(capacity=1.0, checksum=5), TypeError,
     "argument 'capacity': 'float' object cannot be interpreted as an integer"),
    (lambda: S(capacity=-1, checksum=5), OverflowError, "can't convert negative int to unsigned"),
    (lambda: S(capacity=2**64), OverflowError, "int too big to convert"),
    (lambda: S(checksum=b"c"), TypeError, "argument 'checksum': 'bytes' object cannot be converted to 'PyString'"),
    (lambda: S(size=1), TypeError, "FeatureExtractorSpec() got an unexpected keyword argument 'size'"),
    (lambda: S.from_json(5), TypeError, "argument 'json': 'int' object cannot be converted to 'PyString'"),
])
def test_constructor_and_from_json_refusals(call, exception, text):
    assert raised(exception, call) == text


def test_capacity_rules_reserved_ids_and_duplicates():
    fixed = S(capacity=2).field("eth").field("btc")
    before = state(fixed)
    assert raised(ValueError, lambda: fixed.day_of_week()) == CAPACITY.format(2, 3)
    assert raised(ValueError, lambda: fixed.context("x", "n", id="__reserved_x")) == CAPACITY.format(2, 3)
    assert state(fixed) == before
    assert state(S(capacity=5).vpt("a").vpt("b"))[1:3] == (5, 2)
    assert raised(ValueError, lambda: S().vpt("a").field("btc", id="__reserved_x")) == \
        "invalid argument: feature definition at index 1 uses the reserved namespace for feature IDs"
    assert S().field("btc", id="_reserved_x").feature_ids() == ["_reserved_x"]
    # Identical features are accepted here; a runtime object refuses them.
    assert S().day_of_week().day_of_week().feature_ids() == ["day_of_week:" + G + "any_event"] * 2


def test_feature_ids_follow_canonical_order_whatever_the_call_order():
    calls = [lambda s: s.field("eth"), lambda s: s.field("btc"), lambda s: s.day_of_week(),
             lambda s: s.cvd("btc", [9, 3]), lambda s: s.context("__global__", "z")]
    orders = set()
    for permutation in itertools.permutations(calls):
        spec = S()
        for call in permutation:
            call(spec)
        orders.add(tuple(spec.feature_ids()))
    assert orders == {("day_of_week:" + G + "any_event", "context:" + G + "context:name=1:z",
                       "cvd:" + B + "event.trade:window=9:warmup=full_window",
                       "cvd:" + B + "event.trade:window=3:warmup=full_window",
                       "field:" + B + "field.price", "field:symbol=3:eth:source=field.price")}


def base():
    spec = S(capacity=3, checksum="c").field("eth")
    return spec.configure_order_book("ETH", update_policy="contiguous", buffer_size=2**64 - 1)


# The first failure wins; most rows hold two faults.
@pytest.mark.parametrize("call, exception, text", [
    (lambda s: s.cvd("btc", "5"), TypeError, "argument 'windows': Can't extract `str` to `Vec`"),
    (lambda s: s.cvd("btc", [], warmup=1), TypeError, "argument 'warmup': 'int' object cannot be converted to 'WarmupPolicy'"),
    (lambda s: s.cvd("btc", [5], source="price"), TypeError, "cvd() got an unexpected keyword argument 'source'"),
    (lambda s: s.cvd("btc", [5], W.FULL_WINDOW), TypeError, "cvd() takes 2 positional arguments but 3 were given"),
    (lambda s: s.log_returns("btc", [-1, 0]), OverflowError, "can't convert negative int to unsigned"),
    (lambda s: s.log_returns("btc", [2**64]), OverflowError, "int too big to convert"),
    (lambda s: s.volatility(5, []), TypeError, "argument 'symbol': 'int' object cannot be converted to 'PyString'"),
    (lambda s: s.field("btc", source=None), TypeError, "argument 'source': 'NoneType' object cannot be converted to 'PyString'"),
    (lambda s: s.context("btc", "n", id=5), TypeError, "argument 'id': 'int' object cannot be converted to 'PyString'"),
    (lambda s: s.time_since_first_event_of_day(None), TypeError, "argument 'tz': 'NoneType' object cannot be converted to 'PyString'"),
    (lambda s: s.configure_order_book("b", update_policy="x", buffer_size=-1), OverflowError, "can't convert negative int to unsigned"),
    (lambda s: s.configure_order_book("b", "monotonic", buffer_size=1), TypeError,
     "configure_order_book() takes 1 positional argument but 2 were given"),
    (lambda s: s.configure_order_book("b", update_policy="monotonic", buffer_size=1.0), TypeError,
     "argument 'buffer_size': 'float' object cannot be interpreted as an integer"),
    (lambda s: s.order_book_imbalance("btc", "12"), TypeError, "argument 'n_levels': Can't extract `str` to `Vec`"),
    (lambda s: s.order_book_nth_price("btc", "BID", 1.0), TypeError, "argument 'n_levels': 'float' object cannot be interpreted as an integer"),
    (lambda s: s.order_book_level_size("btc", "BID", 1), TypeError, "argument 'price': 'int' object cannot be converted to 'PyString'"),
    (lambda s: s.cvd("btc", []), ValueError, "windows must not be empty"),
    (lambda s: s.volatility("btc", [], source="bogus"), ValueError, "windows must not be empty"),
    (lambda s: s.sma_timed("btc", "x", [], source="bogus"), ValueError, "windows must not be empty"),
    (lambda s: s.sma_timed("btc", "x", ["5s"], source="bogus"), ValueError,
     'invalid `source` "bogus"; expected "price", "volume", "trade_price", or "trade_volume"'),
    (lambda s: s.volatility_timed("btc", "x", ["y"]), ValueError,
     'invalid `aggregation` duration "x"; use an integer with a unit: "500ms", "1s", "5m", "1h"'),
    (lambda s: s.obv_timed("btc", "1s", ["5s", " x ", "y"]), ValueError,
     'invalid `windows` duration "x"; use an integer with a unit: "500ms", "1s", "5m", "1h"'),
    (lambda s: s.trade_count_timed("btc", "1s", "soon"), ValueError,
     'invalid `window` duration "soon"; use an integer with a unit: "500ms", "1s", "5m", "1h"'),
    (lambda s: s.simple_returns("btc", [3, 2**64 - 1, 0], source="bogus"), ValueError, "lags must be positive"),
    (lambda s: s.log_returns("btc", [2**64 - 1], source="bogus"), ValueError, "lags are too large"),
    (lambda s: s.simple_returns("btc", []), ValueError, "lags must not be empty"),
    (lambda s: s.field("btc", source="Price", id="__reserved_x"), ValueError,
     'invalid `source` "Price"; expected "price", "volume", "trade_price", or "trade_volume"'),
    (lambda s: s.time_since_first_event_of_day(" bad "), ValueError, TZ),
    (lambda s: s.context("btc", "", id="__reserved_"), ValueError,
     "invalid argument: feature definition at index 1 uses the reserved namespace for feature IDs"),
    (lambda s: s.cvd("btc", [1, 2, 3]), ValueError, CAPACITY.format(3, 4)),
    (lambda s: s.configure_order_book("__GLOBAL__", update_policy="Monotonic", buffer_size=0), ValueError,
     "update_policy must be monotonic or contiguous"),
    (lambda s: s.configure_order_book("__Global__", update_policy="monotonic", buffer_size=0), ValueError,
     "invalid argument: order books require a non-global symbol"),
    (lambda s: s.configure_order_book("eth", update_policy="monotonic", buffer_size=0), ValueError,
     "more than one order book is configured for symbol eth"),
    *[(lambda s, n=depths: s.order_book_imbalance("btc", n), ValueError, "imbalance requires one to sixteen positive depths")
      for depths in ([], [1, 0], [1] * 17)],
    (lambda s: s.order_book_nth_price("btc", "BID", 0), ValueError, "n_levels must be positive"),
    (lambda s: s.order_book_nth_size("btc", "Bid", 1), ValueError, "book side must be bid or ask"),
    (lambda s: s.order_book_level_size("btc", "BID", "x"), ValueError, "invalid exact decimal: Invalid decimal: unknown character"),
    (lambda s: s.order_book_depth_until_price("btc", "bids", " 1"), ValueError, "invalid exact decimal: Invalid decimal: unknown character"),
    (lambda s: s.order_book_depth_until_price("btc", "bids", "-1"), ValueError, "book prices and sizes must be nonnegative"),
    *[(lambda s, n=size: s.order_book_depth_until_size_price_from("btc", "BID", n), ValueError, "target size must be positive")
      for size in ("0", "0.000", "-0.0")],
    (lambda s: s.order_book_depth_until_size_total_size("btc", "BID", "-1"), ValueError, "book prices and sizes must be nonnegative"),
    (lambda s: s.order_book_depth_until_size_price_to("btc", "BID", "1"), ValueError, "book side must be bid or ask"),
    (lambda s: s.order_book_volume_between_prices("btc", "BID", "1.0", "1"), ValueError, "from_price must be less than to_price"),
    (lambda s: s.order_book_volume_between_prices("btc", "bid", "x", "-1"), ValueError, "invalid exact decimal: Invalid decimal: unknown character"),
    (lambda s: s.order_book_volume_between_prices("btc", "bid", "3", "-1"), ValueError, "book prices and sizes must be nonnegative"),
])
def test_builder_refusals_in_check_order_leave_the_spec_unchanged(call, exception, text):
    spec = base()
    before = state(spec)
    assert raised(exception, lambda: call(spec)) == text
    assert state(spec) == before


class CallsBack:
    """An integer (and a one-item sequence of it) that runs `action` when read."""

    def __init__(self, action):
        self.action = action

    def __index__(self):
        self.action()
        return 1

    def __len__(self):
        return 1

    def __getitem__(self, index):
        if index:
            raise IndexError
        return self


@pytest.mark.parametrize("call, text", [
    (lambda s: s.cvd("btc", [CallsBack(lambda: s.vpt("eth"))]), "Already borrowed"),
    (lambda s: s.order_book_imbalance("btc", CallsBack(s.feature_ids)), "Already mutably borrowed"),
    (lambda s: s.order_book_nth_price("btc", "bid", CallsBack(lambda: s.capacity)), "Already mutably borrowed"),
    (lambda s: s.configure_order_book("btc", update_policy="monotonic", buffer_size=CallsBack(s.to_json)),
     "Already mutably borrowed"),
])
def test_calls_back_into_the_same_spec_are_refused(call, text):
    spec = base()
    before = state(spec)
    assert raised(RuntimeError, lambda: call(spec)) == text
    assert state(spec) == before
    assert spec.cvd("btc", [CallsBack(S().day_of_week)]).active_feature_count == 2  # another spec is free


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
    "(self, /, symbol, side, size)": "order_book_depth_until_size_price_from order_book_depth_until_size_price_to "
                                     "order_book_depth_until_size_total_size",
    "(self, /, symbol, side, from_price, to_price)": "order_book_volume_between_prices",
    "(self, /, tz='UTC')": "time_since_first_event_of_day",
}
ORDER = ("from_json to_json indicator_count output_count feature_ids context field cvd simple_returns log_returns "
         "volatility sma_timed volatility_timed obv_timed trade_volume_timed vwap_timed vpt trade_count_timed "
         "configure_order_book " + " ".join(TOPS) + " order_book_imbalance order_book_level_size "
         "order_book_depth_until_price order_book_nth_price order_book_nth_size order_book_depth_until_size_price_from "
         "order_book_depth_until_size_price_to order_book_depth_until_size_total_size order_book_volume_between_prices "
         "day_of_week time_since_first_event_of_day capacity active_feature_count checksum").split()


def test_class_surface_signatures_and_docstrings():
    assert [name for name in vars(S) if not name.startswith("_")] == ORDER
    assert {name: str(inspect.signature(getattr(S, name))) for name in ORDER[:-3]} == \
        {name: signature for signature, names in SIGNATURES.items() for name in names.split()}
    assert str(inspect.signature(S)) == "(*, capacity=None, checksum=None)"
    assert S.__doc__.startswith("Declarative feature-vector spec: the ordered list of features an extractor produces")
    assert S.indicator_count.__doc__ == \
        "Number of grouped builder calls. Compatible calls may share one runtime\nderivation after compilation."
    assert S.capacity.__doc__ == "Complete configured model width, including trailing reserved cells."
    assert S.trade_count_timed.__doc__ == \
        "Rolling count of `symbol` trades over a `window`, bucketed by\n`aggregation` (duration strings)."
    assert S.day_of_week.__doc__.endswith("Refreshes\nat or beyond the maximum accepted timestamp, retaining its value on older rows.")
    assert all(getattr(S, name).__doc__ == f"Adds the {name} scalar output for a configured book." for name in TOPS)
    assert {getattr(S, name).__doc__ for name in ORDER[27:35]} == \
        {"Adds an exact book query; side is bid or ask and prices/sizes are strings."}


def test_json_round_trip_of_every_builder_fixes_the_capacity():
    spec = S(checksum="sum").configure_order_book("btc", update_policy="contiguous", buffer_size=2**64 - 1)
    for build, _ in BUILDS:
        build(spec)
    loaded = S.from_json(spec.to_json())
    assert state(loaded) == state(spec) and loaded.indicator_count() == spec.indicator_count()
    assert raised(ValueError, lambda: loaded.vpt("eth")) == CAPACITY.format(spec.capacity, spec.capacity + 1)
    assert S.from_json(S(capacity=2**64 - 1).to_json()).capacity == 2**64 - 1
    with pytest.raises(ValueError):
        S.from_json('{"version": "1.0"}')


def test_interning_happens_only_after_the_checks_that_precede_it():
    # The interner is process-wide: fill it in a process of its own.
    script = textwrap.dedent("""
        from _vorn import FeatureExtractorSpec as S
        spec = S()
        for i in range(510):
            spec.vpt(f"fill{i}")                     # 511 names with the global one
        def error(call):
            try:
                call()
            except ValueError as e:
                return str(e)
        print(error(lambda: spec.cvd("new", [])))
        print(error(lambda: spec.simple_returns("new", [0])))
        print(error(lambda: spec.order_book_imbalance("new", [0])))
        print(error(lambda: spec.order_book_level_size("new", "bid", "x")))
        print(error(lambda: spec.configure_order_book("new", update_policy="x", buffer_size=0)))
        print(error(lambda: spec.field("NEW", source="bad")))      # interned: the 512th name
        print(error(lambda: spec.vpt("other")), spec.active_feature_count)
        print(spec.vpt("new").vpt("__global__").active_feature_count)
    """)
    lines = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True).stdout
    assert lines.splitlines() == [
        "windows must not be empty", "lags must be positive", "imbalance requires one to sixteen positive depths",
        "invalid exact decimal: Invalid decimal: unknown character", "update_policy must be monotonic or contiguous",
        'invalid `source` "bad"; expected "price", "volume", "trade_price", or "trade_volume"',
        "invalid argument: symbol count 513 exceeds limit 512 510", "512"]
