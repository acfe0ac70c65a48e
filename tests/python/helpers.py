"""Shared test helpers: exact exception texts, and a generated market stream replayed through a
runtime object in batches and event by event."""
import numpy as np
import pytest

from _vorn import KIND_TIME, KIND_TRADE, FeatureExtractorSpec, OrderBookEvent

U8, I64, F32, F64 = np.uint8, np.int64, np.float32, np.float64
NAN = float("nan")
SYMBOLS = ("rt-a", "rt-b")
CONTEXTS = [f"context:symbol=4:{s}:source=context:name=1:c" for s in SYMBOLS] + [
    "context:symbol=10:__global__:source=context:name=1:g"]
BOOK_QUERIES = [("level_size", "bid", "99"), ("depth_until_price", "ask", "102"), ("nth_price", "bid", 2),
                ("nth_size", "ask", 1), ("depth_until_size_price_from", "bid", "3"),
                ("depth_until_size_price_to", "ask", "3"), ("depth_until_size_total_size", "bid", "3")]


def raised(exception, call):
    """The message of the exception that `call()` raises, which must be exactly `exception`."""
    with pytest.raises(exception) as info:
        call()
    assert type(info.value) is exception
    return str(info.value)


def refuses_trailing_nul(from_json, document):
    """`from_json(document + NUL + junk)` is refused at the NUL, which follows the whole document: the
    parser's message for a stray character there, the NUL shown as <U+0000>, with its line and column."""
    line = document.count("\n") + 1
    column = len(document) - (document.rfind("\n") + 1) + 1
    message = raised(ValueError, lambda: from_json(document + "\0 junk"))
    assert message.startswith("parse error: syntax error while parsing value - invalid literal; last read: '")
    assert message.endswith(f"<U+0000>'; expected end of input at line {line} column {column}")
    assert raised(ValueError, lambda: from_json(document + "\0")) == message


def full_spec():
    """Every feature family (77 features, capacity 90), for two symbols with books, and the global
    clock and context."""
    s = FeatureExtractorSpec(capacity=90).context("__global__", "g").day_of_week()
    s.time_since_first_event_of_day("UTC+1")
    for sym in SYMBOLS:
        s.configure_order_book(sym, update_policy="monotonic", buffer_size=1000).context(sym, "c").vpt(sym)
        s.field(sym).field(sym, source="volume").field(sym, source="trade_volume").cvd(sym, [2, 4])
        s.simple_returns(sym, [1, 3]).log_returns(sym, [2], source="trade_price").volatility(sym, [3])
        s.sma_timed(sym, "5ms", ["10ms", "20ms"]).volatility_timed(sym, "5ms", ["15ms"], source="trade_price")
        for timed in (s.obv_timed, s.trade_volume_timed, s.vwap_timed):
            timed(sym, "5ms", ["10ms"])
        s.trade_count_timed(sym, "5ms", "20ms").order_book_imbalance(sym, [1, 3])
        for query in ("mid_price", "spread", "spread_bps", "weighted_mid_price", "microprice", "best_bid_price",
                      "best_bid_size", "best_ask_price", "best_ask_size"):
            getattr(s, "order_book_" + query)(sym)
        for query, side, value in BOOK_QUERIES:
            getattr(s, "order_book_" + query)(sym, side, value)
        s.order_book_volume_between_prices(sym, "ask", "100", "103")
    return s


def stream(rng, segments=40):
    """Segments of scalar rows (kind, handle, timestamp, price, volume, side) or of book events, with a
    context dict or None per row. Handles 0 and 1 stand for SYMBOLS; time rows carry no valid handle,
    and payloads that a row's kind does not read are NaN or out of range."""
    ts, update_ids = 1_000, dict.fromkeys(SYMBOLS, 0)

    def context():
        picked = rng.choice(3, size=rng.integers(0, 3), replace=False) if rng.random() < 0.25 else []
        return {CONTEXTS[i]: None if rng.random() < 0.2 else rng.normal() for i in picked} or None

    def level(side, low):
        return str(98 + 3 * (side == "ask") + int(rng.integers(0, 6)) / 2), str(rng.integers(low, 6))

    for _ in range(segments):
        rows, scalar = [], rng.random() < 0.6
        for _ in range(int(rng.integers(1, 12))):
            ts += int(rng.integers(0, 4))
            if scalar:
                kind = int(rng.choice([0, 1, 2, 2, 4]))
                rows.append((kind, 999 if kind == KIND_TIME else int(rng.integers(0, 2)), ts,
                             NAN if kind == 1 else 100 + rng.normal(), rng.exponential() * rng.choice([-1, 1, 1, 1]),
                             int(rng.integers(0, 2)) if kind == KIND_TRADE else 7))
                continue
            sym = SYMBOLS[rng.integers(0, 2)]
            update_ids[sym] += int(rng.integers(1, 3))
            if update_ids[sym] < 3 or rng.random() < 0.15:
                rows.append(OrderBookEvent.snapshot(sym, ts, update_ids[sym], [level("bid", 1) for _ in "abc"],
                                                    [level("ask", 1) for _ in "abc"]))
            else:
                sides = rng.choice(["bid", "ask"], size=rng.integers(0, 3))
                rows.append(OrderBookEvent.delta(sym, ts, update_ids[sym], [(s, *level(s, 0)) for s in sides]))
        yield rows, [context() for _ in rows]


def bits(array):
    return array.view(np.uint64 if array.dtype == F64 else np.uint32)


def unaligned(array):
    """A contiguous copy whose data is not aligned for its dtype."""
    out = np.frombuffer(bytearray(array.nbytes + 1), array.dtype, len(array), offset=1)
    out[:] = array
    return out


def replay(make, dtype, seed):
    """One generated stream through two objects `make(dtype)` builds over full_spec(), one in batches
    and one event by event (the same OrderBookEvents serve both). Checks that both give the same rows
    bit for bit and returns the batch rows and the live raw rows (`raw_values()` where the object has
    it, else `values()`)."""
    batch, live = make(dtype), make(dtype)
    assert [batch.symbol(s) for s in SYMBOLS] == [live.symbol(s) for s in SYMBOLS] == [0, 1]
    batch_rows, live_rows, raw_rows = [], [], []
    for rows, contexts in stream(np.random.default_rng(seed)):
        plan = {i: c for i, c in enumerate(contexts) if c is not None}
        if isinstance(rows[0], OrderBookEvent):
            batch_rows.append(batch.transform_order_book(rows, context_updates=plan))
        else:
            kind, symbol, timestamp, price, volume, side = (
                np.array(column, dtype) for column, dtype in zip(zip(*rows), (U8, I64, I64, F64, F64, U8)))
            batch_rows.append(batch.transform(kind, symbol, timestamp, price=unaligned(price), volume=volume,
                                              side=side, bid=np.full(len(rows), NAN), context_updates=plan))
        for row, context in zip(rows, contexts):
            if context is not None:
                live.update_context(context)
            if isinstance(row, OrderBookEvent):
                live.update_order_book(row)
            else:
                live.update(*row[:3], price=row[3], volume=row[4], side=row[5])
            live_rows.append(live.values())
            raw_rows.append(getattr(live, "raw_values", live.values)())
    rows = np.vstack(batch_rows)
    assert rows.dtype == dtype and rows.shape == (len(live_rows), batch.n_features())
    assert np.array_equal(bits(rows), bits(np.vstack(live_rows))) and np.array_equal(bits(rows[-1]), bits(batch.values()))
    return rows, np.vstack(raw_rows)
