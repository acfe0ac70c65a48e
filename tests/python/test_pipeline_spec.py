"""PipelineSpec and ScalarStage: construction, the rebuild rule in both phases with
its checks in order, the fit hand-off, copies, JSON and the class surfaces."""
import inspect
import json
import math

import pytest

from _vorn import FeatureExtractorSpec as F, PipelineSpec as P, ScalarStage as S, WarmupPolicy as W
from helpers import raised, refuses_trailing_nul

CAPACITY = "invalid argument: feature vector capacity {} is smaller than active length {}"
TRANSFORM = "invalid transformation definition at index {}: {}"
AFTER_STAGES = "cannot append base transformations after stages; use scalar_stage(ScalarStage(...))"
EMPTY = "invalid pipeline stage 0: input and output layouts must be nonempty"


def raw():
    return F().context("btc", "x", id="a").context("btc", "y", id="b").context("btc", "z", id="c")


def three(**kwargs):
    """A spec whose transformations output a, b and c."""
    return P(raw(), **kwargs).identity("a").identity("b").identity("c")


def state(spec):
    return spec.feature_ids(), spec.capacity, spec.active_feature_count, spec.stage_count, spec.to_json()


# Stage calls that pass on three(): (call, final ids).
STAGES = [
    (lambda s: s.scale_stage([0, 0.5, 1], (1, 2, 3)), ["a", "b", "c"]),
    (lambda s: s.min_max_scale_stage([1] * 3, [0] * 3, clip=(0, 1.0)), ["a", "b", "c"]),
    (lambda s: s.power_transform_stage("box-cox", [1] * 3, [0] * 3, [1] * 3), ["a", "b", "c"]),
    (lambda s: s.quantile_transform_stage("normal", [[0] * 3, [1] * 3], [0, 1], [1], 1e-7, (-5, 5)), ["a", "b", "c"]),
    (lambda s: s.select_stage([0, 2]), ["a", "c"]),
    (lambda s: s.simple_impute_stage(["a", "c", "m"], [0, 2], [0, 1], [1]), ["a", "c", "m"]),
    (lambda s: s.pca_stage(("p", "q"), [0] * 3, [[1, 0, 0], [0, 1, 0]], [1, 2]), ["p", "q"]),
    (lambda s: s.scalar_stage(S().ema("a", window=2, output="e").lagged("c", lag_window=1)), ["e", "c"]),
]


def test_fresh_spec_and_auto_sized_capacity():
    source = raw()
    spec = P(source, checksum="m")
    assert (spec.capacity, spec.active_feature_count, spec.stage_count, spec.checksum, spec.feature_ids()) == \
        (0, 0, 0, "m", [])
    assert P(F()).checksum is None and P(F()).raw_feature_ids() == []
    source.context("btc", "w", id="d")
    assert spec.raw_feature_ids() == ["a", "b", "c"] == raw().feature_ids()
    assert spec.identity("a").sma("b", window=3, output="s").ema("c", window=2) is spec
    assert (spec.feature_ids(), spec.capacity, spec.active_feature_count) == (["a", "s", "c"], 3, 3)
    for name in ("capacity", "active_feature_count", "checksum", "stage_count"):
        assert raised(AttributeError, lambda: setattr(spec, name, 4))


@pytest.mark.parametrize("call, exception, text", [
    (lambda: P(5), TypeError, "argument 'raw_feature_extractor_spec': 'int' object cannot be converted to "
     "'FeatureExtractorSpec'"),
    (lambda: P(F(), capacity="3"), TypeError, "argument 'capacity': 'str' object cannot be interpreted as an integer"),
    (lambda: P(F(), capacity=-1, checksum=5), OverflowError, "can't convert negative int to unsigned"),
    (lambda: P(F(), checksum=b"c"), TypeError, "argument 'checksum': 'bytes' object cannot be converted to 'PyString'"),
    (lambda: P.from_json(5), TypeError, "argument 'json': 'int' object cannot be converted to 'PyString'"),
    (lambda: P(F().context("btc", "")).to_json(), ValueError,
     "invalid indicator definition at index 0: context: context name must not be empty"),
])
def test_constructor_and_json_refusals(call, exception, text):
    assert raised(exception, call) == text


def test_json_round_trip_of_every_stage_kind_fixes_the_capacity():
    spec = three(checksum="m").standard_scale("a", mean=1, scale=2, output="z")
    spec.scale_stage([0] * 4, [1] * 4).min_max_scale_stage([1] * 4, [0] * 4, (0, 1))
    spec.power_transform_stage("yeo-johnson", [1] * 4, [0] * 4, [1] * 4)
    spec.quantile_transform_stage("uniform", [[0] * 4, [1] * 4], [0, 1], [], 0)
    spec.simple_impute_stage(["a", "b", "c", "z", "m"], [0, 1, 2, 3], [0] * 4, [0]).select_stage([0, 1, 2, 4])
    spec.scalar_stage(S().ema("a", window=3).sma("m", window=2, warmup=W.FIRST_VALUE, output="s"))
    spec.pca_stage(["p"], [0, 0], [[1, 0]], [1])
    loaded = P.from_json(spec.to_json())
    assert state(loaded) == state(spec) == (["p"], 1, 1, 8, spec.to_json())
    assert raised(ValueError, lambda: loaded.pca_stage(["p", "q"], [0], [[1], [1]], [1, 1])) == CAPACITY.format(1, 2)
    assert raised(ValueError, lambda: P.from_json("{}")).startswith("missing field")


def test_json_text_is_read_to_its_end():
    refuses_trailing_nul(P.from_json, three(checksum="m").select_stage([0, 2]).to_json())


def test_embedded_update_policy_reads_from_an_object_of_its_word_and_writes_the_word():
    spec = P(raw().configure_order_book("btc", update_policy="contiguous", buffer_size=2)).identity("a")
    document = json.loads(spec.to_json())
    assert document["feature_extractor"]["order_books"][0]["update_policy"] == "contiguous"
    document["feature_extractor"]["order_books"][0]["update_policy"] = {"contiguous": None}
    assert P.from_json(json.dumps(document)).to_json() == spec.to_json()
    document["feature_extractor"]["order_books"][0]["update_policy"] = {"fifo": None}
    assert raised(ValueError, lambda: P.from_json(json.dumps(document))).startswith(
        "unknown variant `fifo`, expected one of `monotonic`, `contiguous` at line 1 column ")


# A fourth base transformation on three(): its first fault.
REASONS = [
    (lambda s: s.identity("d", output="__reserved_0"), "input feature ID does not exist in the preceding layout"),
    (lambda s: s.ema("a", window=0, output="__reserved_0"), "output feature ID uses the reserved namespace"),
    (lambda s: s.sma("a", window=0), "output feature ID duplicates an earlier output"),
    (lambda s: s.ema("a", window=0, output="e"), "average window must be positive"),
    (lambda s: s.lagged("a", lag_window=0, output="e"), "lag window must be positive"),
    (lambda s: s.lagged("a", lag_window=10001, output="e"), "lag window exceeds the maximum of 10000 values"),
    (lambda s: s.standard_scale("a", mean=math.inf, scale=math.nan, output="e"), "standard-scaler mean must be finite"),
    (lambda s: s.standard_scale("a", mean=0, scale=math.nan, output="e"), "standard-scaler scale must be finite"),
    *[(lambda s, v=v: s.standard_scale("a", mean=0, scale=v, output="e"), "standard-scaler scale must be positive")
      for v in (0.0, -0.0, -1.0)],
    (lambda s: s.standard_scale("a", mean=0, scale=1e-310, output="e"), "standard-scaler inverse scale must be finite"),
]


# On three() with capacity 4; the first failure wins, most rows hold two faults.
@pytest.mark.parametrize("call, exception, text", [
    (lambda s: s.ema(5, window=-1), TypeError, "argument 'input': 'int' object cannot be converted to 'PyString'"),
    (lambda s: s.ema("x", window=-1, warmup=None), OverflowError, "can't convert negative int to unsigned"),
    (lambda s: s.sma("x", window=2.0), TypeError, "argument 'window': 'float' object cannot be interpreted as an integer"),
    (lambda s: s.sma("x", window=1, warmup=0), TypeError,
     "argument 'warmup': 'int' object cannot be converted to 'WarmupPolicy'"),
    *[(call, ValueError, TRANSFORM.format(3, reason)) for call, reason in REASONS],
    (lambda s: s.select_stage([3, 0]), ValueError, "selection index 3 is out of bounds for 3 inputs"),
    (lambda s: s.select_stage([2, 0]), ValueError,
     "invalid pipeline stage 0: selection indices must be nonempty, unique, increasing, and below 3"),
    (lambda s: s.select_stage([]), ValueError, EMPTY),
    (lambda s: s.scale_stage("12", [1.0]), TypeError, "argument 'mean': Can't extract `str` to `Vec`"),
    (lambda s: s.min_max_scale_stage([1], [0], clip=[0.0, 1.0]), TypeError,
     "argument 'clip': 'list' object cannot be converted to 'PyTuple'"),
    (lambda s: s.min_max_scale_stage([1], [0], clip=(0.0, 1.0, 2.0)), ValueError,
     "expected tuple of length 2, but got tuple of length 3"),
    (lambda s: s.power_transform_stage("yeo_johnson", [1] * 3, [0] * 3, [1] * 3), ValueError,
     "invalid pipeline stage 0: PowerTransformer method must be yeo-johnson or box-cox"),
    (lambda s: s.scalar_stage(F()), TypeError, "argument 'stage': 'FeatureExtractorSpec' object cannot be converted "
     "to 'ScalarStage'"),
    (lambda s: s.scalar_stage(S().identity("e").sma("a", window=0)), ValueError,
     "invalid pipeline stage 0: " + TRANSFORM.format(0, "input feature ID does not exist in the preceding layout")),
    (lambda s: s.scalar_stage(S().identity("a").sma("a", window=0, output="s")), ValueError,
     "invalid pipeline stage 0: " + TRANSFORM.format(1, "average window must be positive")),
    (lambda s: s.simple_impute_stage(["a", "b", "c", "m", "n"], [0, 1, 2], [0] * 3, [0, 1]), ValueError,
     CAPACITY.format(4, 5)),
    (lambda s: s.scale_stage([0], [1]), ValueError,
     "invalid pipeline stage 0: scaler must preserve 3 input IDs and have matching mean/scale lengths"),
])
def test_builder_refusals_in_check_order_leave_the_spec_unchanged(call, exception, text):
    spec = three(capacity=4)
    before = state(spec)
    assert raised(exception, lambda: call(spec)) == text
    assert state(spec) == before


@pytest.mark.parametrize("call, ids", STAGES)
def test_each_stage_builder_sets_the_final_ids_and_returns_the_spec(call, ids):
    spec = three()
    assert call(spec) is spec
    assert (spec.feature_ids(), spec.capacity, spec.active_feature_count, spec.stage_count) == (ids, len(ids), len(ids), 1)
    assert raised(ValueError, lambda: spec.ema("__reserved_", window=0)) == AFTER_STAGES
    # Without transformations the stage check refuses every stage; a selection fails on its own bound first.
    empty = "selection index 0 is out of bounds for 0 inputs" if ids == ["a", "c"] else EMPTY
    assert raised(ValueError, lambda: call(P(raw()))) == empty


def test_transformation_limits_and_defaults():
    two = P(raw(), capacity=2).identity("a").identity("b")
    assert raised(ValueError, lambda: two.identity("x", output="__reserved_")) == CAPACITY.format(2, 3)
    assert (two.feature_ids(), two.capacity) == (["a", "b"], 2)
    spec = P(raw()).lagged("a", lag_window=10000, output="")
    for i in range(16):
        spec.ema("b", window=1 + i, output=f"e{i}")
    assert raised(ValueError, lambda: spec.ema("b", window=1, output="x")) == \
        TRANSFORM.format(17, "too many compatible average outputs (maximum 16)")
    spec.ema("b", window=1, warmup=W.FIRST_VALUE, output="f").sma("b", window=1, output="g").identity("a", output="b")
    assert spec.feature_ids() == ["", *(f"e{i}" for i in range(16)), "f", "g", "b"]
    assert raised(ValueError, lambda: spec.identity("e0")) == \
        TRANSFORM.format(20, "input feature ID does not exist in the preceding layout")


def test_fit_hand_off():
    spec = three(capacity=4)
    wide = (["a", "b", "c", "m", "n", "o"], [0, 1, 2], [0] * 3, [0, 1, 2])
    assert raised(ValueError, lambda: spec.simple_impute_stage(*wide)) == CAPACITY.format(4, 6)
    c = spec._fit_candidate()
    assert c.simple_impute_stage(*wide).capacity == 6 and spec.stage_count == 0
    failing = c.copy()
    assert raised(ValueError, lambda: failing._finalize_fit(spec)) == CAPACITY.format(4, 6)
    assert state(failing) == state(c)
    assert failing.select_stage([0, 1, 2, 3, 4]).capacity == 5  # still auto-sized
    assert c.select_stage([0, 3, 5]).capacity == 3
    assert c._finalize_fit(spec) is None
    assert (c.capacity, c.active_feature_count, c.feature_ids()) == (4, 3, ["a", "m", "o"])
    assert raised(ValueError, lambda: c.pca_stage(list("pqrst"), [0] * 3, [[1, 0, 0]] * 5, [1] * 5)) == \
        CAPACITY.format(4, 5)
    # A base without an authored capacity: nothing is rebuilt, the flag is cleared.
    d = spec.copy()
    assert raised(ValueError, lambda: d.simple_impute_stage(*wide)) == CAPACITY.format(4, 6)
    assert d._finalize_fit(three()) is None and state(d) == state(spec)
    assert d.simple_impute_stage(*wide).capacity == 6
    assert raised(RuntimeError, lambda: c._finalize_fit(c)) == "Already mutably borrowed"
    assert raised(TypeError, lambda: c._finalize_fit(F())) == \
        "argument 'base': 'FeatureExtractorSpec' object cannot be converted to 'PipelineSpec'"


def test_copies_are_independent():
    spec = three()
    copied = spec.copy()
    copied.select_stage([1])
    assert (spec.stage_count, spec.feature_ids(), copied.feature_ids()) == (0, ["a", "b", "c"], ["b"])
    stage = S().identity("a")
    twin = stage.copy().identity("b")
    spec.scalar_stage(stage)
    stage.identity("c")
    assert spec.feature_ids() == ["a"] and three().scalar_stage(twin).feature_ids() == ["a", "b"]
    assert three().scalar_stage(stage).feature_ids() == ["a", "c"]
    assert raised(ValueError, lambda: three().scalar_stage(S())) == EMPTY


# Members in class order with their parameters after "(self, /, " ("" for none).
AVERAGE = "input, *, window, warmup=Ellipsis, output=None"
MEMBERS = [("ema", AVERAGE), ("sma", AVERAGE), ("_fit_candidate", ""), ("_finalize_fit", "base"),
           ("scalar_stage", "stage"), ("copy", ""), ("scale_stage", "mean, scale"),
           ("min_max_scale_stage", "scale, min, clip=None"), ("power_transform_stage", "method, lambdas, mean, scale"),
           ("quantile_transform_stage", "output_distribution, quantiles, references, all_nan_input_indices, "
            "bounds_threshold, normal_clip=None"), ("select_stage", "input_indices"),
           ("simple_impute_stage", "outputs, retained_input_indices, replacement_values, indicator_input_indices"),
           ("pca_stage", "outputs, mean, components, output_scale"), ("from_json", None), ("to_json", ""),
           ("identity", "input, *, output=None"), ("lagged", "input, *, lag_window, output=None"),
           ("standard_scale", "input, *, mean, scale, output=None"), ("feature_ids", ""), ("raw_feature_ids", "")]
STAGE_MEMBERS = [m for m in MEMBERS if m[0] in ("ema", "sma", "copy", "identity", "lagged", "standard_scale")]


def test_class_surfaces():
    for cls, members in ((P, MEMBERS), (S, STAGE_MEMBERS)):
        assert [n for n in vars(cls) if not n.startswith("__")] == [name for name, _ in members] + \
            (["stage_count", "capacity", "active_feature_count", "checksum"] if cls is P else [])
        assert [str(inspect.signature(getattr(cls, name))) for name, _ in members] == \
            ["(json)" if p is None else f"(self, /, {p})" if p else "(self, /)" for _, p in members]
    assert str(inspect.signature(P)) == "(raw_feature_extractor_spec, *, capacity=None, checksum=None)"
    assert str(inspect.signature(S)) == "()" and raised(TypeError, lambda: S(1))
    assert S.__doc__ == ("Authors one group of scalar outputs whose inputs are resolved against the preceding stage.\n"
                         "Resolution is deferred until fitting because PCA output IDs may not exist yet.")
    assert P.lagged.__doc__ == ("Append a raw scalar from `lag_window` accepted events earlier.\n"
                                "The window must be in `1..=10_000`; output remains NaN until enough history exists.")
    assert P.ema.__doc__ == S.ema.__doc__ and P.identity.__doc__ != S.identity.__doc__
    assert P.stage_count.__doc__ == "Number of already fitted vector stages."
