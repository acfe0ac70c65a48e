"""ModelInputPipeline: batch replay against live stepping and its raw vector against a
FeatureExtractor, construction with its order of checks, the final and raw views, the refresh after
each accepted input, and the class surface."""
import inspect
import json
import pathlib

import numpy as np

from _vorn import (KIND_PRICE, KIND_TIME, FeatureExtractor, FeatureExtractorSpec, ModelInputPipeline, OrderBookEvent,
                   PipelineSpec)
from helpers import CONTEXTS, F32, I64, NAN, U8, bits, full_spec, raised, refuses_trailing_nul, replay

A = "symbol=4:rt-a:source="
BAD_DTYPE = 'output_dtype must be "float32", "float64", numpy.float32, or numpy.float64'
LOCKED = "output_dtype cannot be changed after the pipeline has processed an event or context update"
GOLDEN = pathlib.Path(__file__).parents[1] / "engine" / "data" / "specs" / "pipeline_all_stages.json"


def parity_spec():
    """Every transformation kind over full_spec(), then an imputer wider than the final capacity 5 and a
    PCA to three outputs."""
    base = PipelineSpec(full_spec(), capacity=5).ema(f"field:{A}field.price", window=3, output="ema")
    base.sma(f"order_book_mid_price:{A}order_book", window=2, output="sma").lagged(CONTEXTS[0], lag_window=2, output="lag")
    base.identity(CONTEXTS[2], output="g").standard_scale(f"vpt:{A}event.trade", mean=0.5, scale=2.0, output="z")
    spec = base._fit_candidate().simple_impute_stage(["ema", "sma", "lag", "g", "z", "missingindicator_lag"],
                                                     [0, 1, 2, 3, 4], [100, 100, 0, 0, 0], [2])
    spec.pca_stage(["p0", "p1", "p2"], [100, 100, 0, 0, 0, 0.5], [[0.6, 0.8, 0, 0, 0, 0], [0, 0, 1, 0.5, 0, 1],
                                                                  [0, 0, 0, 0, 1, 0]], [1, 2, 0.5])
    spec._finalize_fit(base)
    return spec


def test_batches_and_single_events_give_identical_rows_and_the_raw_rows_of_an_extractor():
    for seed in range(3):
        (rows64, raw64), (rows32, raw32) = (replay(lambda d: ModelInputPipeline(parity_spec(), d), d, seed)
                                            for d in ("float64", "float32"))
        extracted, _ = replay(lambda d: FeatureExtractor(full_spec(), d), "float64", seed)
        assert np.array_equal(bits(raw64), bits(extracted))
        assert np.array_equal(bits(rows32), bits(rows64.astype(F32))) and np.array_equal(bits(raw32), bits(raw64.astype(F32)))
        assert np.isfinite(rows64[:, :3]).any(axis=0).all() and np.isnan(rows64[:, 3:]).all()


# ---- a small pipeline ----------------------------------------------------------------------------

FIELD, CTX = "field:symbol=4:rt-x:source=field.price", "context:symbol=4:rt-x:source=context:name=1:c"


def small_spec():
    """Raw cells: rt-x price, rt-x context, 2 reserved; final cells c, lag, z, 2 reserved."""
    raw = FeatureExtractorSpec(capacity=4).context("rt-x", "c").field("rt-x")
    raw.configure_order_book("rt-x", update_policy="monotonic", buffer_size=8)
    return PipelineSpec(raw, capacity=5).identity(CTX, output="c").lagged(CTX, lag_window=1, output="lag").standard_scale(
        FIELD, mean=1.0, scale=2.0, output="z")


def book(ts, update_id):
    return OrderBookEvent.snapshot("rt-x", ts, update_id, [("99", "2")], [("101", "3")])


def times(*timestamps):
    n = len(timestamps)
    return np.full(n, KIND_TIME, U8), np.zeros(n, I64), np.array(timestamps, I64)


def test_layout_and_the_copy_taken_at_construction():
    spec = small_spec()
    document, mip = spec.to_json(), ModelInputPipeline(spec)
    spec.identity(FIELD)
    for built in (mip, ModelInputPipeline.from_json(document)):
        assert built.feature_names() == ["c", "lag", "z", "__reserved_3", "__reserved_4"]
        assert built.raw_feature_names() == [FIELD, CTX, "__reserved_2", "__reserved_3"]
        assert (built.n_features(), built.active_feature_count(), built._has_events) == (5, 3, False)
        assert np.isnan(built.values()).all() and np.isnan(built.raw_values()).all()
        assert (len(built.values()), len(built.raw_values())) == (5, 4)
    raw = FeatureExtractorSpec().field("rt-x")
    empty, unsized = ModelInputPipeline(PipelineSpec(raw)), ModelInputPipeline(PipelineSpec(raw, capacity=2))
    assert (empty.feature_names(), empty.values().shape, empty.transform(*times(1, 2)).shape) == ([], (0,), (2, 0))
    assert (unsized.feature_names(), unsized.active_feature_count()) == (["__reserved_0", "__reserved_1"], 0)


def test_construction_checks_in_order():
    spec, bad = small_spec(), PipelineSpec(FeatureExtractorSpec().cvd("rt-x", [0]))
    compile_error = raised(ValueError, lambda: FeatureExtractor(FeatureExtractorSpec().cvd("rt-x", [0])))
    huge = json.loads(GOLDEN.read_text())
    huge["model_input"]["transformations"][1]["window"] = 3
    for call, exception, message in [
            (lambda: ModelInputPipeline(1), TypeError,
             "argument 'pipeline_spec': 'int' object cannot be converted to 'PipelineSpec'"),
            (lambda: ModelInputPipeline(spec, output_dtype=None), TypeError,
             "argument 'output_dtype': 'NoneType' object cannot be converted to 'PyString'"),
            (lambda: ModelInputPipeline(bad, "float16"), ValueError, BAD_DTYPE),  # the dtype before the build
            (lambda: ModelInputPipeline(bad), ValueError, compile_error),
            (lambda: ModelInputPipeline.from_json(1), TypeError,
             "argument 'json': 'int' object cannot be converted to 'PyString'"),
            (lambda: ModelInputPipeline.from_json(bad.to_json(), "x"), ValueError, BAD_DTYPE),
            (lambda: ModelInputPipeline.from_json(bad.to_json()), ValueError, compile_error),
            (lambda: ModelInputPipeline.from_json(json.dumps(huge)), MemoryError,
             "cannot allocate the model vector: 18446744073709551615 cells")]:
        assert raised(exception, call) == message
    # The document alone, and a reader error before the dtype.
    assert "expected end of input at line" in raised(ValueError, lambda: ModelInputPipeline.from_json(
        spec.to_json() + " {", "x"))
    refuses_trailing_nul(ModelInputPipeline.from_json, spec.to_json())


def test_vectors_that_cannot_be_allocated_raise_memory_error():
    """A final or a raw capacity of 2**44 cells (128 TiB) passes every check but no memory holds it."""
    raw, price = FeatureExtractorSpec().field("rt-a"), f"field:{A}field.price"
    for spec, message in [
            (PipelineSpec(raw, capacity=2**44).identity(price), "cannot allocate the model vector: 17592186044416 cells"),
            (PipelineSpec(FeatureExtractorSpec(capacity=2**44).field("rt-a")).identity(price),
             "cannot allocate the feature vector: 17592186044416 cells")]:
        assert raised(MemoryError, lambda: ModelInputPipeline(spec)) == message
        assert raised(MemoryError, lambda: ModelInputPipeline.from_json(spec.to_json())) == message
    mip = ModelInputPipeline(PipelineSpec(raw, capacity=2).identity(price))
    mip.update(KIND_PRICE, mip.symbol("rt-a"), 1, price=3.0)
    assert mip.values()[0] == 3.0 and np.isnan(mip.values()[1])


def test_each_accepted_input_refreshes_the_final_vector():
    """Final cells (c, lag, z): c copies the context, lag the context one observed refresh earlier
    (a context update is not observed), z = (price - 1) / 2. Raw cells (price, context)."""
    mip = ModelInputPipeline(small_spec())
    h = mip.symbol("rt-x")
    mip.update_context({})
    mip.output_dtype = "float32"  # an empty update locks nothing
    assert not mip._has_events
    for call, final, raw in [
            (lambda: mip.update_context({CTX: 1.0}), [1, NAN, NAN], [NAN, 1]),
            (lambda: mip.update(KIND_PRICE, h, 5, price=3.0), [1, NAN, 1], [3, 1]),
            (lambda: mip.update_context({CTX: 2.0}), [2, NAN, 1], [3, 2]),
            (lambda: mip.update(KIND_TIME, 99, 6), [2, 1, 1], [3, 2]),
            (lambda: mip.update_order_book(book(7, 1)), [2, 2, 1], [3, 2]),
            (lambda: mip.update(KIND_PRICE, h, 4, price=9.0), ValueError, "timestamp 4 for price event for symbol "
             "rt-x is earlier than previous timestamp 7"),
            (lambda: mip.update_order_book(book(8, 1)), ValueError,
             "order-book update failed: snapshot 1 is not newer than current snapshot 1"),
            (lambda: mip.update(KIND_PRICE, 9, 9, price=9.0), ValueError,
             "unknown symbol handle 9; call ModelInputPipeline.symbol(name) first"),
            (lambda: mip.transform(*times(8, 9), context_updates={0: {CTX: 4.0}}), [[4, 2, 1], [4, 4, 1]], [3, 4]),
            (lambda: mip.transform_order_book([book(9, 2)], context_updates={0: {CTX: None}}), [[NAN, 4, 1]], [3, NAN]),
    ]:
        if final is ValueError:
            before = mip.values(), mip.raw_values()
            assert raised(ValueError, call) == raw
            assert all(np.array_equal(a, b, equal_nan=True) for a, b in zip(before, (mip.values(), mip.raw_values())))
            continue
        rows = call()
        assert mip._has_events and mip.values().dtype == mip.raw_values().dtype == F32
        assert np.array_equal(mip.values(), [*np.atleast_2d(final)[-1], NAN, NAN], equal_nan=True)
        assert np.array_equal(mip.raw_values(), [*raw, NAN, NAN], equal_nan=True)
        if rows is not None:
            padded = np.pad(np.array(final, float), ((0, 0), (0, 2)), constant_values=NAN)
            assert rows.dtype == F32 and np.array_equal(rows, padded, equal_nan=True)
    assert raised(ValueError, lambda: setattr(mip, "output_dtype", "float32")) == LOCKED
    other = ModelInputPipeline(small_spec())
    other.update_context({CTX: 1.0})
    assert other._has_events and raised(ValueError, lambda: setattr(other, "output_dtype", "float64")) == LOCKED


def test_final_and_raw_arrays_held_or_changed_by_the_caller_never_show_later_values():
    mip, held = ModelInputPipeline(small_spec()), []
    final, raw = None, None
    for value in range(1, 9):
        mip.update_context({CTX: float(value)})
        if value > 4:
            held.append((mip.values(), mip.raw_values(), value))
            continue
        final, raw = mip.values(), mip.raw_values()  # the previous pair is still held during the calls
        assert np.array_equal(final, [value, NAN, NAN, NAN, NAN], equal_nan=True)
        assert np.array_equal(raw, [NAN, value, NAN, NAN], equal_nan=True)
        final[:], raw[:] = -1.0, -1.0
    for kept_final, kept_raw, value in held:
        assert np.array_equal(kept_final, [value, NAN, NAN, NAN, NAN], equal_nan=True)
        assert np.array_equal(kept_raw, [NAN, value, NAN, NAN], equal_nan=True)


def test_signatures_and_docstrings():
    cls, payload = ModelInputPipeline, "*, price=None, volume=None, side=None, bid=None, ask=None"
    mip = cls(small_spec())
    assert (cls.__doc__, cls.__text_signature__) == (
        "Stateful raw-feature extraction plus fitted model-input transformations.",
        '(pipeline_spec, output_dtype="float64")')
    expected = {"update_context": "(updates)", "update_order_book": "(event)",
                "transform_order_book": "(events, *, context_updates=None)", "from_json": "(json, output_dtype='float64')",
                "symbol": "(name)", "feature_names": "()", "raw_feature_names": "()", "n_features": "()",
                "active_feature_count": "()", "values": "()", "raw_values": "()",
                "update": f"(kind, symbol, timestamp, {payload})",
                "transform": f"(kind, symbol, timestamp, {payload}, context_updates=None)"}
    assert [name for name in vars(cls) if not name.startswith("__")] == [*expected, "_has_events", "output_dtype"]
    assert {name: str(inspect.signature(getattr(mip, name))) for name in expected} == expected
    assert type(vars(cls)["from_json"]) is staticmethod
    assert [getattr(mip, name).__doc__.splitlines()[0] for name in ("raw_values", "update")] == [
        "Current raw feature snapshot for diagnostics.", "Apply one event and refresh both raw and final snapshots."]
    assert mip.transform.__doc__.splitlines()[-1] == (
        "leaving raw/final values, timed state, and the timestamp watermark unchanged.")
    assert [vars(cls)[name].__doc__ for name in ("_has_events", "output_dtype")] == [
        "Whether an accepted event or context update has locked the Python recipe.",
        "Numeric dtype used by final and raw arrays returned to Python."]
    assert raised(AttributeError, lambda: setattr(mip, "_has_events", True))
