"""Times the Python runtime against other Python libraries computing the same features.

Batch: `FeatureExtractor.transform` over a whole generated trade stream against pandas and polars
computing the same columns. Per event: `FeatureExtractor.update` plus `values()` against talipp
and river stepping the same indicators one trade at a time. Model inputs: standard scaling and a
PCA fitted by scikit-learn on the stream's raw feature rows and carried into a `ModelInputPipeline`;
per event, its `update` plus `values()` against the fitted scikit-learn pipeline and the same
pipeline converted to ONNX and run by ONNX Runtime, each transforming one raw row; in batch, its
`transform` against the pandas features followed by scikit-learn's `transform`. Before anything is
timed, each peer's numbers are checked against the extractor's or the pipeline's, so every row
compares the same work.

Timing is the same for every contender: each runs once per round, the rounds interleave them (the
order rotates from round to round) and every run starts from fresh state built untimed, after a
garbage collection and once the process's other threads have gone quiet. A round gives one ratio,
peer time / vorn time; the table shows the median ratio of the rounds with its range, on the wall
clock and on CPU time (`time.process_time`: every thread of the process). polars runs on its default
thread pool and on one thread; the latter lives in a worker process started with
POLARS_MAX_THREADS=1 (polars reads it when imported), which times its own runs in its turn.

    pip install -r bench/python/requirements.txt && python bench/python/bench_runtime.py

Each section is a function in SECTIONS taking the stream and the round count and returning result
rows; a new comparison is one more such function.
"""
import argparse
import datetime as dt
import gc
import math
import os
import pickle
import subprocess
import sys
import time
from collections import deque
from importlib import metadata
from typing import Callable, NamedTuple

import numpy as np
import pandas as pd
import polars as pl
import onnxruntime as ort
from river import stats as river_stats
from river import utils as river_utils
from skl2onnx import convert_sklearn
from skl2onnx.common.data_types import DoubleTensorType
from sklearn.decomposition import PCA
from sklearn.pipeline import make_pipeline
from sklearn.preprocessing import StandardScaler
from talipp.indicators import ROC, SMA, StdDev

from _vorn import (KIND_TRADE, SIDE_AGGRESSOR_BUY, FeatureExtractor, FeatureExtractorSpec, ModelInputPipeline,
                   PipelineSpec)

SYMBOLS = ("bench-a", "bench-b", "bench-c")
LAGS = (1, 10)  # simple returns of the trade price
VOLATILITY = 50  # trades per volatility window
CVD = 100  # trades per cumulative-volume-delta window
AGGREGATION_MS = 1_000  # bucket width of the timed features
FLOW_MS = 60_000  # timed trade volume and VWAP window
SMA_MS = 30_000  # timed moving-average window
# Column name -> feature kind in the extractor's feature ids (returns add their lag to the name).
KINDS = {"ret": "simple_return", "vol": "volatility", "cvd": "cvd", "tvol": "trade_volume_timed",
         "vwap": "vwap_timed", "sma": "sma_timed"}
ALL = ("ret1", "ret10", "vol", "cvd", "tvol", "vwap", "sma")
STEPPED = ("ret1", "ret10", "vol", "cvd")  # the per-event set every per-event peer has
STEPPED_TIMED = STEPPED + ("tvol", "vwap")  # and with the timed windows river has


class Stream(NamedTuple):
    """Trades in time order; `symbol` holds extractor handles (the index into SYMBOLS)."""
    kind: np.ndarray
    symbol: np.ndarray
    timestamp: np.ndarray
    price: np.ndarray
    volume: np.ndarray
    side: np.ndarray


class Result(NamedTuple):
    section: str
    peer: str
    features: tuple
    events: int
    vorn: np.ndarray  # (wall, CPU) seconds of each round
    peer_times: np.ndarray  # the same, of the peer's run in the same rounds
    target: float | None = None  # the peer time / vorn time ratio aimed at, if any
    clock: str = "wall"  # the time the target is on: "wall" or "cpu"


def make_stream(n, seed=11):
    rng = np.random.default_rng(seed)
    symbol = rng.integers(0, len(SYMBOLS), n)
    timestamp = 1_700_000_000_000 + np.cumsum(rng.integers(0, 40, n))
    price = 100.0 * np.exp(np.cumsum(rng.normal(0, 2e-4, (n, len(SYMBOLS))), axis=0))[np.arange(n), symbol]
    return Stream(np.full(n, KIND_TRADE, np.uint8), symbol.astype(np.int64), timestamp.astype(np.int64),
                  np.round(price, 4), np.round(rng.exponential(1.0, n), 6) + 1e-6, rng.integers(0, 2, n).astype(np.uint8))


def build_spec(features):
    """A spec computing `features` (names of ALL) for every symbol."""
    spec = FeatureExtractorSpec()
    for s in SYMBOLS:
        if any(f.startswith("ret") for f in features):
            spec.simple_returns(s, [int(f[3:]) for f in features if f.startswith("ret")], source="trade_price")
        if "vol" in features:
            spec.volatility(s, [VOLATILITY], source="trade_price")
        if "cvd" in features:
            spec.cvd(s, [CVD])
        for name, build, window in (("tvol", spec.trade_volume_timed, FLOW_MS), ("vwap", spec.vwap_timed, FLOW_MS)):
            if name in features:
                build(s, f"{AGGREGATION_MS}ms", [f"{window}ms"])
        if "sma" in features:
            spec.sma_timed(s, f"{AGGREGATION_MS}ms", [f"{SMA_MS}ms"], source="trade_price")
    return spec


def build_extractor(features):
    """An extractor computing `features` (names of ALL) for every symbol, and its columns per symbol."""
    fx = FeatureExtractor(build_spec(features))
    assert [fx.symbol(s) for s in SYMBOLS] == list(range(len(SYMBOLS)))
    kind_of = {kind: name for name, kind in KINDS.items()}
    columns = {s: {} for s in SYMBOLS}
    for i, fid in enumerate(fx.feature_names()):
        parts = fid.split(":")
        lag = next((p[4:] for p in parts if p.startswith("lag=")), "")
        columns[parts[2]][kind_of[parts[0]] + lag] = i
    return fx, columns


def settle(limit=0.5):
    """Waits until the process's other threads stop using CPU (BLAS and polars workers keep spinning
    for tens of milliseconds after their work), so that none of it is counted to the next run."""
    deadline = time.perf_counter() + limit
    while time.perf_counter() < deadline:
        cpu = time.process_time()
        time.sleep(0.01)
        if time.process_time() - cpu < 0.001:
            return


def timer(run, setup=lambda: None):
    """A contender: times one run(setup()), setup untimed, returning (wall, CPU) seconds."""
    def timed():
        state = setup()
        gc.collect()
        settle()
        wall, cpu = time.perf_counter(), time.process_time()
        run(state)
        return time.perf_counter() - wall, time.process_time() - cpu
    return timed


def rounds(contenders, repeat):
    """Runs the {name: timer} contenders once each per round for `repeat` rounds, each round
    starting one contender further on; returns name -> (repeat, 2) array of (wall, CPU) seconds."""
    names = list(contenders)
    times = {name: [] for name in names}
    for r in range(repeat):
        for name in names[r % len(names):] + names[:r % len(names)]:
            times[name].append(contenders[name]())
    return {name: np.array(t) for name, t in times.items()}


def check(peer, feature, ours, theirs, nan_pattern=True):
    """The peer agrees with the extractor: same NaN cells (where the peer models warm-up) and values
    within a relative 1e-7 (running sums and their rounding differ between libraries)."""
    ours, theirs = np.asarray(ours, float), np.asarray(theirs, float)
    both = np.isfinite(ours) & np.isfinite(theirs)
    if nan_pattern and not np.array_equal(np.isnan(ours), np.isnan(theirs)):
        raise SystemExit(f"{peer}: {feature} is NaN on other rows than the extractor's")
    if both.sum() < len(ours) // 2 or not np.allclose(ours[both], theirs[both], rtol=1e-7, atol=1e-12):
        raise SystemExit(f"{peer}: {feature} differs from the extractor's")


# ---- batch: transform against pandas and polars ---------------------------------------------

def vorn_batch(fx, s):
    return fx.transform(s.kind, s.symbol, s.timestamp, price=s.price, volume=s.volume, side=s.side)


def timed_ready(ts, first, window):
    """Full-window readiness of a timed feature: the window's span has passed since the symbol's first trade."""
    return ts - first >= window


def pandas_features(s):
    # Grouped rolling results come symbol by symbol: work on rows ordered by symbol, then restore.
    order = np.argsort(s.symbol, kind="stable")
    df = pd.DataFrame({"sym": s.symbol[order], "ts": s.timestamp[order], "price": s.price[order],
                       "qty": s.volume[order]})
    df["signed"] = np.where(s.side[order] == SIDE_AGGRESSOR_BUY, df.qty, -df.qty)
    df["pq"] = df.price * df.qty
    df["bucket"] = pd.to_datetime(df.ts - df.ts % AGGREGATION_MS, unit="ms")
    by = df.groupby("sym")
    first = by.ts.transform("first")
    out = pd.DataFrame({f"ret{lag}": by.price.pct_change(lag) for lag in LAGS})
    out["vol"] = out.ret1.groupby(df.sym).rolling(VOLATILITY, min_periods=VOLATILITY).std(ddof=0).to_numpy()
    out["cvd"] = df.signed.groupby(df.sym).rolling(CVD, min_periods=CVD).sum().to_numpy()
    # A window of p buckets holds the buckets starting after (bucket of t) - p * width.
    flow = by.rolling(f"{FLOW_MS}ms", on="bucket", closed="right")[["qty", "pq"]].sum()
    ready = timed_ready(df.ts, first, FLOW_MS)
    out["tvol"] = np.where(ready, flow.qty.to_numpy(), np.nan)
    out["vwap"] = np.where(ready, (flow.pq / flow.qty).to_numpy(), np.nan)
    # Timed SMA: the mean of bucket means, the current bucket's mean so far.
    in_bucket = df.groupby(["sym", "bucket"]).price
    running = in_bucket.cumsum() / (in_bucket.cumcount() + 1)
    means = in_bucket.mean().reset_index()
    earlier = means.groupby("sym").rolling(f"{SMA_MS - AGGREGATION_MS}ms", on="bucket", closed="left").price
    means["sum"] = np.nan_to_num(earlier.sum().to_numpy())
    means["count"] = np.nan_to_num(earlier.count().to_numpy())
    held = df[["sym", "bucket"]].merge(means, on=["sym", "bucket"], how="left")
    out["sma"] = np.where(timed_ready(df.ts, first, SMA_MS), (held["sum"] + running) / (held["count"] + 1), np.nan)
    out.index = order
    return out.sort_index()


def polars_features(s):
    df = pl.DataFrame({"sym": s.symbol, "ts": s.timestamp, "price": s.price, "qty": s.volume, "side": s.side})
    df = df.with_columns(pl.when(pl.col("side") == SIDE_AGGRESSOR_BUY).then(pl.col("qty")).otherwise(-pl.col("qty"))
                         .alias("signed"), (pl.col("price") * pl.col("qty")).alias("pq"),
                         (pl.col("ts") - pl.col("ts") % AGGREGATION_MS).cast(pl.Datetime("ms")).alias("bucket"),
                         pl.col("ts").first().over("sym").alias("first"))
    # Windows over time give every row of a bucket the whole bucket: sum the earlier buckets per
    # bucket, then add the current bucket's running sum (or mean) row by row.
    def earlier(column, window_ms):
        return (pl.col(column).rolling_sum_by("bucket", window_size=f"{window_ms - AGGREGATION_MS}ms", closed="left")
                .over("sym").fill_null(0.0))
    buckets = (df.group_by("sym", "bucket", maintain_order=True)
               .agg(pl.col("price").mean().alias("mean"), pl.col("qty").sum(), pl.col("pq").sum(), pl.len().alias("n"))
               .with_columns(pl.lit(1.0).alias("one"))
               .select("sym", "bucket", earlier("qty", FLOW_MS).alias("qty_before"),
                       earlier("pq", FLOW_MS).alias("pq_before"), earlier("mean", SMA_MS).alias("means_before"),
                       earlier("one", SMA_MS).alias("buckets_before")))
    df = df.join(buckets, on=["sym", "bucket"], how="left", maintain_order="left")
    running = {c: pl.col(c).cum_sum().over("sym", "bucket") for c in ("qty", "pq", "price")}
    qty = pl.col("qty_before") + running["qty"]
    flow_ready = pl.col("ts") - pl.col("first") >= FLOW_MS
    mean_so_far = running["price"] / pl.col("price").cum_count().over("sym", "bucket")
    ret = pl.col("price").pct_change(1)
    return df.select(
        *(pl.col("price").pct_change(lag).over("sym").alias(f"ret{lag}") for lag in LAGS),
        ret.rolling_std(VOLATILITY, min_samples=VOLATILITY, ddof=0).over("sym").alias("vol"),
        pl.col("signed").rolling_sum(CVD, min_samples=CVD).over("sym").alias("cvd"),
        pl.when(flow_ready).then(qty).alias("tvol"),
        pl.when(flow_ready).then((pl.col("pq_before") + running["pq"]) / qty).alias("vwap"),
        pl.when(pl.col("ts") - pl.col("first") >= SMA_MS)
        .then((pl.col("means_before") + mean_so_far) / (pl.col("buckets_before") + 1)).alias("sma"))


class OnePolarsThread:
    """polars_features on one thread: a worker process (this script with --polars-worker) started
    with POLARS_MAX_THREADS=1, serving pickled requests over its stdin and stdout."""

    def __init__(self, events):
        self.process = subprocess.Popen([sys.executable, __file__, "--polars-worker", str(events)],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        env={**os.environ, "POLARS_MAX_THREADS": "1"})

    def timed(self):
        settle()  # this process's threads quiet too
        return self.ask("time")

    def ask(self, request):
        pickle.dump(request, self.process.stdin)
        self.process.stdin.flush()
        return pickle.load(self.process.stdout)

    def close(self):
        self.process.stdin.close()
        self.process.wait()


def polars_worker(events):
    """The worker's side: "table" answers the feature columns, "time" one run's (wall, CPU) seconds
    measured here, in this process."""
    assert pl.thread_pool_size() == 1, pl.thread_pool_size()
    stream = make_stream(events)
    timed = timer(lambda _: polars_features(stream))
    while True:
        try:
            request = pickle.load(sys.stdin.buffer)
        except EOFError:
            return
        if request == "table":
            table = polars_features(stream)
            answer = {f: table[f].to_numpy() for f in ALL}
        else:
            answer = timed()
        pickle.dump(answer, sys.stdout.buffer)
        sys.stdout.buffer.flush()


def batch_section(stream, repeat):
    fx, columns = build_extractor(ALL)
    rows = vorn_batch(fx, stream)
    threads = f"polars {pl.thread_pool_size()} thr"
    one_thread = OnePolarsThread(len(stream.symbol))
    try:
        peers = {"pandas": (lambda: pandas_features(stream), timer(lambda _: pandas_features(stream))),
                 threads: (lambda: polars_features(stream), timer(lambda _: polars_features(stream))),
                 "polars 1 thr": (lambda: one_thread.ask("table"), one_thread.timed)}
        for peer, (compute, _) in peers.items():
            table = compute()
            for index, symbol in enumerate(SYMBOLS):
                mine = stream.symbol == index
                for feature in ALL:
                    check(peer, feature, rows[mine, columns[symbol][feature]], np.asarray(table[feature])[mine])
        times = rounds({"vorn": timer(lambda fx: vorn_batch(fx, stream), lambda: build_extractor(ALL)[0]),
                        **{peer: timed for peer, (_, timed) in peers.items()}}, repeat)
    finally:
        one_thread.close()
    n = len(stream.symbol)
    return [Result("batch: transform", "pandas", ALL, n, times["vorn"], times["pandas"], 3.0),
            Result("batch: transform", threads, ALL, n, times["vorn"], times[threads], 2.0, "cpu"),
            Result("batch: transform", "polars 1 thr", ALL, n, times["vorn"], times["polars 1 thr"], 2.0)]


# ---- per event: update() + values() against talipp and river ---------------------------------

def vorn_steps(stream, sample):
    """Steps a fresh extractor through the stream, keeping the values of every `sample`-th event."""
    kinds, symbols, stamps, prices, volumes, sides = (c.tolist() for c in stream)

    def run(fx):
        step, seen = fx.update, {}
        for i, (k, h, t, p, q, d) in enumerate(zip(kinds, symbols, stamps, prices, volumes, sides)):
            step(k, h, t, price=p, volume=q, side=d)
            values = fx.values()
            if i % sample == 0:
                seen[i] = values
        return seen
    return run


def talipp_steps(stream, sample):
    """Returns (ROC, in percent), volatility (StdDev of the returns), CVD (SMA of signed quantities
    times the window); talipp has no time-bucketed windows."""
    symbols, prices, volumes, sides = (c.tolist() for c in (stream.symbol, stream.price, stream.volume, stream.side))

    def setup():
        return [(ROC(1), ROC(10), StdDev(VOLATILITY), SMA(CVD)) for _ in SYMBOLS]

    def run(state):
        return talipp_run(state, symbols, prices, volumes, sides, sample)
    return setup, run


def talipp_run(state, symbols, prices, volumes, sides, sample):
    seen = {}
    for i, (h, p, q, d) in enumerate(zip(symbols, prices, volumes, sides)):
        roc1, roc10, std, sma = state[h]
        roc1.add(p)
        roc10.add(p)
        r = roc1[-1]
        if r is not None:
            std.add(r / 100.0)
        sma.add(q if d == SIDE_AGGRESSOR_BUY else -q)
        values = (r, roc10[-1], std[-1] if len(std) else None, sma[-1])
        if i % sample == 0:
            seen[i] = (h, values[0] / 100.0 if values[0] is not None else None,
                       values[1] / 100.0 if values[1] is not None else None, values[2],
                       values[3] * CVD if values[3] is not None else None)
    return seen


class RiverSymbol:
    """River's rolling statistics for one symbol; the timed windows end at the trade's bucket start."""

    def __init__(self):
        self.last = deque(maxlen=max(LAGS) + 1)
        self.var = river_utils.Rolling(river_stats.Var, window_size=VOLATILITY, ddof=0)
        self.cvd = river_utils.Rolling(river_stats.Sum, window_size=CVD)
        self.qty = river_utils.TimeRolling(river_stats.Sum, period=dt.timedelta(milliseconds=FLOW_MS))
        self.pq = river_utils.TimeRolling(river_stats.Sum, period=dt.timedelta(milliseconds=FLOW_MS))


def river_steps(stream, sample, timed):
    """Returns, volatility (rolling Var), CVD (rolling Sum) and, if `timed`, trade volume and VWAP
    (time-rolling sums over bucket starts); river has no mean of bucket means for the timed SMA."""
    buckets = [dt.datetime(1970, 1, 1) + dt.timedelta(milliseconds=t)
               for t in (stream.timestamp - stream.timestamp % AGGREGATION_MS).tolist()]
    symbols, prices, volumes, sides = (c.tolist() for c in (stream.symbol, stream.price, stream.volume, stream.side))

    def run(state):
        seen = {}
        for i, (h, p, q, d, b) in enumerate(zip(symbols, prices, volumes, sides, buckets)):
            st = state[h]
            last = st.last
            last.append(p)
            rets = [(p - last[-1 - lag]) / last[-1 - lag] if len(last) > lag else None for lag in LAGS]
            if rets[0] is not None:
                st.var.update(rets[0])
            st.cvd.update(q if d == SIDE_AGGRESSOR_BUY else -q)
            values = (*rets, math.sqrt(max(st.var.get(), 0.0)), st.cvd.get())
            if timed:
                st.qty.update(q, t=b)
                st.pq.update(p * q, t=b)
                qty = st.qty.get()
                values += (qty, st.pq.get() / qty)
            if i % sample == 0:
                seen[i] = (h, *values)
        return seen
    return lambda: [RiverSymbol() for _ in SYMBOLS], run


def compare_steps(peer, features, ours, theirs, columns):
    """Sampled rows of a per-event peer against the extractor's rows of the same events, where the
    extractor has a value (the peers' warm-up rules differ)."""
    for k, feature in enumerate(features):
        mine, peer_values = [], []
        for i, (h, *values) in theirs.items():
            mine.append(ours[i][columns[SYMBOLS[h]][feature]])
            peer_values.append(np.nan if values[k] is None else values[k])
        mine = np.array(mine)
        known = np.isfinite(mine)
        check(peer, feature, mine[known], np.array(peer_values)[known], nan_pattern=False)


def per_event_section(stream, repeat, sample=97):
    """The four stepped features against talipp and river, and with the timed windows against river."""
    runs = {"vorn": (lambda: build_extractor(STEPPED)[0], vorn_steps(stream, sample)),
            "talipp": talipp_steps(stream, sample), "river": river_steps(stream, sample, timed=False),
            "vorn timed": (lambda: build_extractor(STEPPED_TIMED)[0], vorn_steps(stream, sample)),
            "river timed": river_steps(stream, sample, timed=True)}
    out = {name: run(setup()) for name, (setup, run) in runs.items()}
    for ours, peer, features in (("vorn", "talipp", STEPPED), ("vorn", "river", STEPPED),
                                 ("vorn timed", "river timed", STEPPED_TIMED)):
        compare_steps(peer, features, out[ours], out[peer], build_extractor(features)[1])
    times = rounds({name: timer(run, setup) for name, (setup, run) in runs.items()}, repeat)
    n = len(stream.symbol)
    return [Result("per event: update+values", "talipp", STEPPED, n, times["vorn"], times["talipp"], 30.0),
            Result("per event: update+values", "river", STEPPED, n, times["vorn"], times["river"], 16.0),
            Result("per event: with timed", "river", STEPPED_TIMED, n, times["vorn timed"], times["river timed"])]


# ---- model inputs: a fitted scikit-learn pipeline on the raw features -----------------------------

COMPONENTS = 8  # principal components of the raw features fed to the model
MODEL = (f"scaler>pca{COMPONENTS} of {len(ALL) * len(SYMBOLS)} raw",)


class Model(NamedTuple):
    """Standard scaling and a PCA fitted by scikit-learn on the raw rows after the warm-up (rows
    `warm`.. have every raw feature), and the same fitted numbers as a PipelineSpec. No imputer:
    ONNX Runtime imputes float32 only, and every other step runs in float64."""
    sklearn: object
    spec: PipelineSpec
    raw: np.ndarray  # the extractor's raw rows of the whole stream
    warm: int


def fit_model(stream):
    raw = vorn_batch(build_extractor(ALL)[0], stream)
    warm = int(np.flatnonzero(~np.isfinite(raw).all(axis=1)).max()) + 1
    model = make_pipeline(StandardScaler(), PCA(COMPONENTS, random_state=0)).fit(raw[warm:])
    scaler, pca = (step for _, step in model.steps)
    spec = PipelineSpec(build_spec(ALL))
    for raw_id in spec.raw_feature_ids():
        spec.identity(raw_id)
    candidate = spec._fit_candidate()
    candidate.scale_stage(scaler.mean_, scaler.scale_)
    candidate.pca_stage([f"pc{k}" for k in range(COMPONENTS)], pca.mean_, pca.components_, np.ones(COMPONENTS))
    candidate._finalize_fit(spec)
    return Model(model, candidate, raw, warm)


def new_pipeline(model):
    pipeline = ModelInputPipeline(model.spec)
    assert [pipeline.symbol(s) for s in SYMBOLS] == list(range(len(SYMBOLS)))
    return pipeline


def check_components(peer, ours, theirs):
    for k in range(COMPONENTS):
        check(peer, f"pc{k}", ours[:, k], theirs[:, k])


def pandas_raw_rows(stream, width, columns):
    """The pandas features in the extractor's raw layout (`columns` from build_extractor): a symbol's
    columns hold its values after its latest trade (pandas gives each row only the trading symbol's
    features)."""
    table = pandas_features(stream)
    raw = np.empty((len(stream.symbol), width))
    for index, symbol in enumerate(SYMBOLS):
        block = table[list(columns[symbol])].to_numpy()
        block[stream.symbol != index] = np.nan
        raw[:, list(columns[symbol].values())] = pd.DataFrame(block).ffill().to_numpy()
    return raw


def pipeline_batch_section(stream, repeat):
    model, columns = fit_model(stream), build_extractor(ALL)[1]

    def peer(_):
        return model.sklearn.transform(pandas_raw_rows(stream, model.raw.shape[1], columns)[model.warm:])
    check_components("pandas+sklearn", vorn_batch(new_pipeline(model), stream)[model.warm:], peer(None))
    times = rounds({"vorn": timer(lambda pipeline: vorn_batch(pipeline, stream), lambda: new_pipeline(model)),
                    "pandas+sklearn": timer(peer)}, repeat)
    return [Result("batch: pipeline transform", "pandas+sklearn", MODEL, len(stream.symbol), times["vorn"],
                   times["pandas+sklearn"], 3.0)]


def onnx_transform(model, width):
    """The fitted scikit-learn pipeline converted to ONNX (float64 throughout), as a function of one
    (1, width) row run by ONNX Runtime on one thread."""
    graph = convert_sklearn(model, initial_types=[("raw", DoubleTensorType([None, width]))])
    options = ort.SessionOptions()
    options.intra_op_num_threads = 1
    run = ort.InferenceSession(graph.SerializeToString(), options, providers=["CPUExecutionProvider"]).run
    return lambda row: run(None, {"raw": row})[0]


def row_steps(transform, rows, sample):
    """Transforms the rows one at a time, keeping the outputs of every `sample`-th."""
    singles = list(rows[:, None, :])  # (1, width) views, made untimed

    def run(_):
        seen = {}
        for i, row in enumerate(singles):
            out = transform(row)
            if i % sample == 0:
                seen[i] = out[0]
        return seen
    return run


def pipeline_per_event_section(stream, repeat, sample=7):
    """Runtimes replay the warm-up in batch untimed, then step the rest; the peers transform the raw
    rows of the same events, computed by the extractor beforehand."""
    model = fit_model(stream)
    head, live = (Stream(*(c[part] for c in stream)) for part in (slice(model.warm), slice(model.warm, None)))
    rows = model.raw[model.warm:]
    peers = (("sklearn", model.sklearn.transform, 100.0), ("onnxrt", onnx_transform(model.sklearn, rows.shape[1]), 5.0))
    want = model.sklearn.transform(rows)
    check_components("pipeline", vorn_batch(new_pipeline(model), stream)[model.warm:], want)
    for peer, transform, _ in peers:
        check_components(peer, transform(rows), want)

    def warmed(runtime):
        vorn_batch(runtime, head)
        return runtime
    runs = {"pipeline": (lambda: warmed(new_pipeline(model)), vorn_steps(live, sample)),
            "extractor": (lambda: warmed(build_extractor(ALL)[0]), vorn_steps(live, sample)),
            **{peer: (lambda: None, row_steps(transform, rows, sample)) for peer, transform, _ in peers}}
    out = {name: run(setup()) for name, (setup, run) in runs.items()}
    for peer, _, _ in peers:
        check_components(peer, np.array(list(out["pipeline"].values())), np.array(list(out[peer].values())))
    times = rounds({name: timer(run, setup) for name, (setup, run) in runs.items()}, repeat)
    # Dividing by one round's difference of two short runs is noise: every round divides by the median one.
    differences = times["pipeline"] - times["extractor"]
    stages = np.broadcast_to(np.median(differences, axis=0), differences.shape)
    results = []
    for peer, _, target in peers:
        results.append(Result("per event: pipeline", peer, MODEL, len(rows), times["pipeline"], times[peer], target))
        results.append(Result("per event: stages only", peer, MODEL, len(rows), stages, times[peer]))
    return results


SECTIONS: list[tuple[str, Callable]] = [("batch", batch_section), ("per_event", per_event_section),
                                        ("pipeline_batch", pipeline_batch_section),
                                        ("pipeline_per_event", pipeline_per_event_section)]
# What the vorn and peer times of each comparison cover, printed under the table.
NOTES = {
    "batch: transform": "FeatureExtractor.transform over the stream; the peers compute the same columns; polars on "
                        "its default thread pool in this process (its target is on CPU time, as vorn starts no "
                        "threads), and on one thread in a worker process",
    "per event: update+values": f"FeatureExtractor.update + values() per trade; the peers step the same indicators "
                                f"(volatility over {VOLATILITY} trades: talipp's StdDev sums its whole window for "
                                f"every value, so its time grows with the window)",
    "per event: with timed": f"the same, adding trade volume and VWAP over {FLOW_MS} ms of {AGGREGATION_MS} ms buckets",
    "batch: pipeline transform": "ModelInputPipeline.transform over the stream (raw features and model inputs); "
                                 "peer: the pandas features spread to the raw layout, then scikit-learn's transform "
                                 "of the rows after the warm-up",
    "per event: pipeline": "ModelInputPipeline.update + values() per trade after the warm-up (raw features and model "
                           "inputs); the peers only transform that trade's raw row, precomputed by the extractor: "
                           "sklearn Pipeline.transform, onnxrt InferenceSession.run (float64, one thread)",
    "per event: stages only": "the pipeline's time less FeatureExtractor.update + values() over the same trades in "
                              "the same round, the median of those differences: the model-input stages against the "
                              "same peer times (the range is the peer's alone)",
}


def print_header(sizes, repeat):
    versions = ", ".join(f"{name} {metadata.version(name)}" for name in
                         ("numpy", "pandas", "polars", "talipp", "river", "scikit-learn", "onnxruntime"))
    print(f"Python {sys.version.split()[0]}, {versions}; {os.cpu_count()} cores, load average "
          f"{os.getloadavg()[0]:.1f}, polars default pool {pl.thread_pool_size()} threads")
    print(f"{repeat} rounds, each contender once per round in rotating order; times are medians; a ratio is peer "
          f"time / vorn time, the median of the rounds' ratios [min, max], on the wall clock and on CPU time "
          f"(all threads of the process)")
    print(f"trades over {len(SYMBOLS)} symbols: {sizes['batch']} in batch, {sizes['per_event']} stepped, "
          f"{sizes['pipeline_per_event']} stepped through the pipeline; returns over {'/'.join(map(str, LAGS))} "
          f"trades, volatility over {VOLATILITY}, CVD over {CVD}; {AGGREGATION_MS} ms buckets, trade volume and "
          f"VWAP over {FLOW_MS} ms, SMA over {SMA_MS} ms\n", flush=True)


def ratio_text(ratios):
    low, mid, high = (f"{x:.0f}" if abs(x) >= 100 else f"{x:.1f}" for x in
                      (ratios.min(), np.median(ratios), ratios.max()))
    return f"{mid}x [{low}, {high}]"


def print_results(results):
    print(f"{'comparison':<26}{'peer':<16}{'vorn ms':>8}{'ns/ev':>7}{'peer ms':>9}  {'wall ratio':<20}"
          f"{'CPU ratio':<20}{'target':<12}features")
    for r in results:
        ratios = r.peer_times / r.vorn
        vorn_ms, peer_ms = np.median(r.vorn[:, 0]) * 1e3, np.median(r.peer_times[:, 0]) * 1e3
        target = "" if r.target is None else f">={r.target:g}x {r.clock}"
        met = r.target is None or np.median(ratios[:, int(r.clock == "cpu")]) >= r.target
        print(f"{r.section:<26}{r.peer:<16}{vorn_ms:8.1f}{vorn_ms * 1e6 / r.events:7.0f}{peer_ms:9.1f}  "
              f"{ratio_text(ratios[:, 0]):<20}{ratio_text(ratios[:, 1]):<20}{target:<12}{','.join(r.features)}"
              f"{'' if met else '  (below target)'}")
    print()
    for section in dict.fromkeys(r.section for r in results):
        print(f"{section}: {NOTES[section]}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--batch-events", type=int, default=300_000)
    parser.add_argument("--step-events", type=int, default=60_000)
    parser.add_argument("--pipeline-step-events", type=int, default=10_000)
    parser.add_argument("--repeat", type=int, default=21, help="rounds: timed runs of each contender")
    parser.add_argument("--quick", action="store_true", help="a smoke run: fewer trades, 3 rounds")
    parser.add_argument("--only", choices=[name for name, _ in SECTIONS], action="append")
    parser.add_argument("--polars-worker", type=int, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.polars_worker:
        return polars_worker(args.polars_worker)
    sizes = {"batch": args.batch_events, "per_event": args.step_events,
             "pipeline_per_event": args.pipeline_step_events}
    if args.quick:
        # The pipeline's warm-up (the timed windows) takes about 3,000 trades.
        sizes, args.repeat = {name: max(n // 10, 5_000) for name, n in sizes.items()}, 3
    print_header(sizes, args.repeat)
    results = []
    for name, section in SECTIONS:
        if args.only is None or name in args.only:
            results += section(make_stream(sizes.get(name, sizes["batch"])), args.repeat)
    print_results(results)


if __name__ == "__main__":
    main()
