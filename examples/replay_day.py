"""Replays one generated trading day through a feature extractor, then steps its last events live;
then does the same with model inputs fitted in scikit-learn.

A seeded day of trades and order-book updates for three symbols is replayed in batch
(`transform` for trades, `transform_order_book` for book updates, a context value changed every
hour). A second extractor replays the same day except its last events, which it then steps one
at a time with `update` / `update_order_book`; every live row must equal the batch row bit for
bit. Prints the features at the end of the day.

Then scikit-learn fits mean imputation (the warm-up NaNs), standard scaling and a PCA on the
day's raw feature rows. The fitted numbers go into a `PipelineSpec` (the stage builders of its
fit candidate, whose stages may be wider than a final capacity), and a
`ModelInputPipeline` replays the day. Its rows must match scikit-learn's `transform` of the raw
rows closely; a second pipeline, built from the spec's JSON text read back, replays the day up to
its last events and steps those live, and must equal the first bit for bit.

    pip install . scikit-learn && python examples/replay_day.py
"""
import time
from typing import NamedTuple

import numpy as np
from sklearn.decomposition import PCA
from sklearn.impute import SimpleImputer
from sklearn.pipeline import make_pipeline
from sklearn.preprocessing import StandardScaler

from _vorn import (KIND_TRADE, SIDE_AGGRESSOR_BUY, FeatureExtractor, FeatureExtractorSpec, ModelInputPipeline,
                   OrderBookEvent, PipelineSpec)

DAY_START = 1_709_596_800_000  # 2024-03-05 00:00 UTC, in milliseconds
DAY_MS = 86_400_000
HOUR_MS = 3_600_000
# name: (first price, tick size as decimal places, trades in the day, book updates in the day)
SYMBOLS = {"btc": (65_000.0, 1, 60_000, 12_000), "eth": (3_500.0, 2, 40_000, 8_000), "sol": (150.0, 3, 20_000, 4_000)}
LEVELS = 5  # book levels kept on each side
# A book keeps every delta since its last snapshot for replay and refuses deltas beyond its buffer,
# so the feed sends a fresh snapshot every SNAPSHOT_EVERY updates.
SNAPSHOT_EVERY, BOOK_BUFFER = 200, 256
LIVE_TAIL = 2_000  # events stepped live at the end of the day
REGIME = "regime"  # the id of the global context value
COMPONENTS = 6  # principal components fed to the model
TOLERANCE = 1e-12  # pipeline against scikit-learn: relative, absolute below 1


def build_spec():
    spec = FeatureExtractorSpec().day_of_week().time_since_first_event_of_day("UTC").context("__global__", "regime",
                                                                                              id=REGIME)
    for symbol in SYMBOLS:
        spec.simple_returns(symbol, [1, 50], source="trade_price").log_returns(symbol, [1], source="trade_price")
        spec.volatility(symbol, [100], source="trade_price").cvd(symbol, [200])
        spec.trade_volume_timed(symbol, "1s", ["60s"]).vwap_timed(symbol, "1s", ["60s"])
        spec.sma_timed(symbol, "1s", ["5m"], source="trade_price")
        spec.configure_order_book(symbol, update_policy="monotonic", buffer_size=BOOK_BUFFER)
        spec.order_book_mid_price(symbol).order_book_spread_bps(symbol).order_book_imbalance(symbol, [1, 5])
    return spec


def fit_model_inputs(spec, raw_rows):
    """Fits imputer -> scaler -> PCA in scikit-learn on the raw rows and carries the fitted numbers
    into a PipelineSpec over `spec` whose final vector is the components. Returns both."""
    model = make_pipeline(SimpleImputer(), StandardScaler(), PCA(COMPONENTS, random_state=0)).fit(raw_rows)
    imputer, scaler, pca = (step for _, step in model.steps)
    pipeline = PipelineSpec(spec)  # no capacity given: the final vector is as wide as the last layer
    for raw_id in pipeline.raw_feature_ids():  # the first layer passes every raw feature on
        pipeline.identity(raw_id)
    # Fitted stages go on a candidate, which takes the authored capacity back when finalized.
    candidate = pipeline._fit_candidate()
    ids = candidate.feature_ids()
    retained = np.flatnonzero(~np.isnan(imputer.statistics_)).tolist()  # columns never seen are dropped
    candidate.simple_impute_stage([ids[i] for i in retained], retained, imputer.statistics_[retained], [])
    candidate.scale_stage(scaler.mean_, scaler.scale_)
    candidate.pca_stage([f"pc{i}" for i in range(pca.n_components_)], pca.mean_, pca.components_,
                        np.ones(pca.n_components_))
    candidate._finalize_fit(pipeline)
    return model, candidate


def close_to(got, want):
    """Within TOLERANCE of `want`, relative to it (absolute below 1)."""
    return bool(np.all(np.abs(got - want) <= TOLERANCE * np.maximum(np.abs(want), 1.0)))


def price_text(ticks, places):
    """Integer ticks as an exact decimal text with `places` decimals."""
    digits = str(ticks).rjust(places + 1, "0")
    return f"{digits[:-places]}.{digits[-places:]}"


class Day(NamedTuple):
    """A day of events in time order: event i is a trade (row trade_at[i] of the columns) or a book
    update (books[book_at[i]]); `context` maps event indices to the context update applied before them."""
    columns: dict
    books: list
    is_trade: np.ndarray
    trade_at: np.ndarray
    book_at: np.ndarray
    context: dict


def generate_day(seed=7):
    rng = np.random.default_rng(seed)
    trades, books = [], []  # (timestamp, symbol index, price, volume, side) and (timestamp, event)
    for index, (symbol, (first, places, n_trades, n_books)) in enumerate(SYMBOLS.items()):
        tick = 10.0 ** -places
        times = np.sort(rng.integers(DAY_START, DAY_START + DAY_MS, n_trades))
        mid = np.round(first / tick + np.cumsum(rng.normal(0, 0.0004 * first / tick, n_trades))).astype(np.int64)
        sides = rng.integers(0, 2, n_trades)  # buyers pay one tick above the mid, sellers get one below
        price = (mid + np.where(sides == SIDE_AGGRESSOR_BUY, 1, -1)) * tick
        trades += zip(times.tolist(), [index] * n_trades, price.tolist(), rng.exponential(0.5, n_trades).tolist(),
                      sides.tolist())
        bids, asks = {}, {}  # price text -> size text, the book as sent so far
        book_times = np.sort(rng.integers(DAY_START, DAY_START + DAY_MS, n_books))
        book_mids = mid[np.maximum(np.searchsorted(times, book_times) - 1, 0)]
        for update_id, (ts, m) in enumerate(zip(book_times.tolist(), book_mids.tolist()), start=1):
            want = [{price_text(m + sign * (k + 1), places): f"{rng.integers(1, 400) / 100:.2f}" for k in range(LEVELS)}
                    for sign in (-1, 1)]
            if update_id % SNAPSHOT_EVERY == 1:
                event = OrderBookEvent.snapshot(symbol, ts, update_id, list(want[0].items()), list(want[1].items()))
            else:
                changes = [(side, p, "0") for side, have, new in (("bid", bids, want[0]), ("ask", asks, want[1]))
                           for p in have if p not in new]
                changes += [(side, p, s) for side, new in (("bid", want[0]), ("ask", want[1])) for p, s in new.items()]
                event = OrderBookEvent.delta(symbol, ts, update_id, changes)
            bids, asks = want
            books.append((ts, event))
    trades.sort(key=lambda t: t[0])  # stable: a symbol's own trades keep their order
    books.sort(key=lambda b: b[0])
    ts, sym, price, volume, side = (np.array(column) for column in zip(*trades))
    columns = {"kind": np.full(len(trades), KIND_TRADE, np.uint8), "symbol": sym.astype(np.int64),
               "timestamp": ts.astype(np.int64), "price": price, "volume": volume, "side": side.astype(np.uint8)}
    timestamps = np.concatenate([ts, [b[0] for b in books]]).astype(np.int64)
    order = np.argsort(timestamps, kind="stable")
    is_trade = order < len(trades)
    return Day(columns, [b[1] for b in books], is_trade, np.cumsum(is_trade) - 1, np.cumsum(~is_trade) - 1,
               hourly_context(timestamps[order]))


def hourly_context(timestamps):
    """Event index -> context update, on the first event of each hour."""
    hours = (timestamps - DAY_START) // HOUR_MS
    firsts = np.flatnonzero(np.diff(hours, prepend=-1))
    return {int(i): {REGIME: float(np.sin(h / 3))} for i, h in zip(firsts, hours[firsts])}


def segments(is_trade, start, stop):
    """Runs of consecutive trades or book updates among events start..stop: (is_trade, first, end)."""
    edges = np.flatnonzero(np.diff(is_trade[start:stop])) + start + 1
    bounds = [start, *edges.tolist(), stop]
    return [(bool(is_trade[a]), a, b) for a, b in zip(bounds, bounds[1:])]


def replay(fx, day, stop):
    """Batch-replays events 0..stop and returns their rows."""
    columns, books, is_trade, trade_at, book_at, context = day
    for symbol in SYMBOLS:  # handles 0, 1, 2 in the order the trade columns use
        fx.symbol(symbol)
    rows = []
    for trades, a, b in segments(is_trade, 0, stop):
        plan = {i - a: context[i] for i in range(a, b) if i in context}
        if trades:
            first, end = trade_at[a], trade_at[b - 1] + 1
            rows.append(fx.transform(*(columns[k][first:end] for k in ("kind", "symbol", "timestamp")),
                                     price=columns["price"][first:end], volume=columns["volume"][first:end],
                                     side=columns["side"][first:end], context_updates=plan))
        else:
            rows.append(fx.transform_order_book(books[book_at[a]:book_at[b - 1] + 1], context_updates=plan))
    return np.vstack(rows)


def step_live(fx, day, start):
    """Steps events start.. one at a time and returns the values after each."""
    columns, books, is_trade, trade_at, book_at, context = day
    rows = []
    for i in range(start, len(is_trade)):
        if i in context:
            fx.update_context(context[i])
        if is_trade[i]:
            t = trade_at[i]
            fx.update(KIND_TRADE, int(columns["symbol"][t]), int(columns["timestamp"][t]),
                      price=float(columns["price"][t]), volume=float(columns["volume"][t]), side=int(columns["side"][t]))
        else:
            fx.update_order_book(books[book_at[i]])
        rows.append(fx.values())
    return np.vstack(rows)


def replay_then_step(live, day, rows, what):
    """Batch-replays all but the last LIVE_TAIL events on `live`, steps those, and checks the stepped
    rows against the last `rows` bit for bit."""
    n = len(day.is_trade)
    replay(live, day, n - LIVE_TAIL)
    if not np.array_equal(step_live(live, day, n - LIVE_TAIL).view(np.uint64), rows[n - LIVE_TAIL:].view(np.uint64)):
        raise SystemExit(f"{what} differs from the batch replay")


def label(feature_id):
    """A short column label: the kind and its window, lag or depth, without the symbol."""
    parts = feature_id.split(":")
    params = [p.split("=")[1] for p in parts if p.split("=")[0] in ("window", "lag", "n_levels", "window_ns")]
    if "window_ns" in feature_id:
        params = [f"{int(params[0]) // 1_000_000_000}s"]
    return " ".join([parts[0], *params])


def print_table(names, values):
    """One line per feature kind, one column per symbol; global features first."""
    table = {}
    for name, value in zip(names, values):
        owner = next((s for s in SYMBOLS if f":{s}:" in name), "global")
        table.setdefault(REGIME if name == REGIME else label(name), {})[owner] = value
    columns = ["global", *SYMBOLS]
    width = max(map(len, table)) + 2
    print("feature".ljust(width) + "".join(c.rjust(14) for c in columns))
    for row, cells in table.items():
        print(row.ljust(width) + "".join((f"{cells[c]:14.6g}" if c in cells else " " * 14) for c in columns))


def main():
    started = time.perf_counter()
    day = generate_day()
    generated = time.perf_counter()
    n, trades = len(day.is_trade), int(day.is_trade.sum())
    print(f"generated {n:,} events ({trades:,} trades, {n - trades:,} book updates) in {generated - started:.2f}s")

    spec = build_spec()
    batch = FeatureExtractor(spec)
    rows = replay(batch, day, n)
    replayed = time.perf_counter()
    print(f"batch replay: {n:,} rows x {batch.n_features()} features in {replayed - generated:.2f}s")

    replay_then_step(FeatureExtractor(spec), day, rows, "live stepping")
    print(f"live stepping of the last {LIVE_TAIL:,} events equals the batch rows bit for bit "
          f"({time.perf_counter() - replayed:.2f}s)\n")
    print_table(batch.feature_names(), rows[-1])
    model_inputs(spec, day, rows)


def model_inputs(spec, day, raw_rows):
    """Fits the model inputs on the raw rows, replays and steps them, prints the last row."""
    n = len(day.is_trade)
    started = time.perf_counter()
    model, fitted = fit_model_inputs(spec, raw_rows)
    want = model.transform(raw_rows)
    fit = time.perf_counter()
    print(f"\nscikit-learn fitted {' -> '.join(name for name, _ in model.steps)} on {n:,} raw rows "
          f"in {fit - started:.2f}s")

    batch = ModelInputPipeline(fitted)
    rows = replay(batch, day, n)
    if rows.shape != want.shape or not close_to(rows, want):
        raise SystemExit("the pipeline's rows differ from scikit-learn's transform")
    replayed = time.perf_counter()
    print(f"batch replay: {n:,} rows x {batch.n_features()} model inputs in {replayed - fit:.2f}s, "
          f"within {TOLERANCE:g} of scikit-learn's transform")

    text = fitted.to_json()
    read_back = PipelineSpec.from_json(text)
    if read_back.to_json() != text or read_back.feature_ids() != fitted.feature_ids():
        raise SystemExit("the pipeline spec changed through its JSON text")
    replay_then_step(ModelInputPipeline(read_back), day, rows, "live stepping of the pipeline read from JSON")
    print(f"pipeline spec as JSON: {len(text):,} characters; the pipeline built from it steps the last "
          f"{LIVE_TAIL:,} events live\nequal to the batch rows bit for bit ({time.perf_counter() - replayed:.2f}s)\n")

    print(f"{'model input':<14}{'pipeline':>14}{'scikit-learn':>14}")
    for name, ours, theirs in zip(batch.feature_names(), rows[-1], want[-1]):
        print(f"{name:<14}{ours:14.6g}{theirs:14.6g}")


if __name__ == "__main__":
    main()
