"""PipelineSpec and ScalarStage: construction, the rebuild rule in both phases with
its checks in order, the fit hand-off, copies, JSON and the class surfaces."""
import inspect
import math

import pytest

from _vorn import FeatureExtractorSpec as F, PipelineSpec as P, ScalarStage as S, WarmupPolicy as W
from helpers import raised

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
    assert spec.select_stage([1, 2]) is spec
    assert (spec.feature_ids(), spec.capacity, spec.active_feature_count, spec.stage_count) == (["s", "c"], 2, 2, 1)
    for name in ("capacity", "active_feature_count", "checksum", "stage_count"):
        assert raised(AttributeError, lambda: setattr(spec, name, 4))


@pytest.mark.parametrize("call, exception, text", [
    (lambda: P(5), TypeError, "argument 'raw_feature_extractor_spec': 'int' object cannot be converted to "
     "'FeatureExtractorSpec'"),
    (lambda: P(F(), 3), TypeError, "PipelineSpec() takes 1 positional argument but 2 were given"),
    (lambda: P(F(), capacity="3"), TypeError, "argument 'capacity': 'str' object cannot be interpreted as an integer"),
    (lambda: P(F(), capacity=-1, checksum=5), OverflowError, "can't convert negative int to unsigned"),
    (lambda: P(F(), checksum=b"c"), TypeError, "argument 'checksum': 'bytes' object cannot be converted to 'PyString'"),
    (lambda: P.from_json(5), TypeError, "argument 'json': 'int' object cannot be converted to 'PyString'"),
    (lambda: P(F().context("btc", "")).to_json(), ValueError,
     "invalid indicator definition at index 0: context: context name must not be empty"),
])
def test_constructor_and_json_refusals(call, exception, text):
    assert raised(exception, call) == text


def test_from_json_refuses_a_document_that_is_not_one():
    assert raised(ValueError, lambda: P.from_json("{}")).startswith("missing field")


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
    assert (loaded.checksum, loaded.raw_feature_ids()) == ("m", ["a", "b", "c"])
    assert raised(ValueError, lambda: loaded.pca_stage(["p", "q"], [0], [[1], [1]], [1, 1])) == CAPACITY.format(1, 2)


# On three() with capacity 4; the first failure wins, most rows hold two faults.
@pytest.mark.parametrize("call, exception, text", [
    (lambda s: s.ema(5, window=-1), TypeError, "argument 'input': 'int' object cannot be converted to 'PyString'"),
    (lambda s: s.ema("x", window=-1, warmup=None), OverflowError, "can't convert negative int to unsigned"),
    (lambda s: s.sma("x", window=2.0), TypeError, "argument 'window': 'float' object cannot be interpreted as an integer"),
    (lambda s: s.sma("x", window=1, warmup=0), TypeError,
     "argument 'warmup': 'int' object cannot be converted to 'WarmupPolicy'"),
    (lambda s: s.lagged("x", lag_window=2**64), OverflowError, "int too big to convert"),
    (lambda s: s.standard_scale("x", mean="0", scale=1), TypeError, "argument 'mean': must be real number, not str"),
    (lambda s: s.standard_scale("x", mean=10**400, scale=1), OverflowError, "int too large to convert to float"),
    (lambda s: s.identity("x", output=5), TypeError, "argument 'output': 'int' object cannot be converted to 'PyString'"),
    (lambda s: s.identity("x", outputs="y"), TypeError, "identity() got an unexpected keyword argument 'outputs'"),
    (lambda s: s.identity("d", output="__reserved_0"), ValueError,
     TRANSFORM.format(3, "input feature ID does not exist in the preceding layout")),
    (lambda s: s.ema("a", window=0, output="__reserved_0"), ValueError,
     TRANSFORM.format(3, "output feature ID uses the reserved namespace")),
    (lambda s: s.sma("a", window=0), ValueError, TRANSFORM.format(3, "output feature ID duplicates an earlier output")),
    (lambda s: s.ema("a", window=0, output="e"), ValueError, TRANSFORM.format(3, "average window must be positive")),
    (lambda s: s.lagged("a", lag_window=0, output="e"), ValueError, TRANSFORM.format(3, "lag window must be positive")),
    (lambda s: s.lagged("a", lag_window=10001, output="e"), ValueError,
     TRANSFORM.format(3, "lag window exceeds the maximum of 10000 values")),
    (lambda s: s.standard_scale("a", mean=math.inf, scale=math.nan, output="e"), ValueError,
     TRANSFORM.format(3, "standard-scaler mean must be finite")),
    (lambda s: s.standard_scale("a", mean=0, scale=math.nan, output="e"), ValueError,
     TRANSFORM.format(3, "standard-scaler scale must be finite")),
    *[(lambda s, v=v: s.standard_scale("a", mean=0, scale=v, output="e"), ValueError,
       TRANSFORM.format(3, "standard-scaler scale must be positive")) for v in (0.0, -0.0, -1.0)],
    (lambda s: s.standard_scale("a", mean=0, scale=1e-310, output="e"), ValueError,
     TRANSFORM.format(3, "standard-scaler inverse scale must be finite")),
    (lambda s: s.select_stage([3, 0]), ValueError, "selection index 3 is out of bounds for 3 inputs"),
    (lambda s: s.select_stage([2, 0]), ValueError,
     "invalid pipeline stage 0: selection indices must be nonempty, unique, increasing, and below 3"),
    (lambda s: s.select_stage([]), ValueError, EMPTY),
    (lambda s: s.select_stage([-1]), OverflowError, "can't convert negative int to unsigned"),
    (lambda s: s.select_stage([0.0]), TypeError,
     "argument 'input_indices': 'float' object cannot be interpreted as an integer"),
    (lambda s: s.scale_stage("12", [1.0]), TypeError, "argument 'mean': Can't extract `str` to `Vec`"),
    (lambda s: s.scale_stage([1], 5), TypeError, "argument 'scale': 'int' object cannot be converted to 'Sequence'"),
    (lambda s: s.min_max_scale_stage([1], [0], clip=[0.0, 1.0]), TypeError,
     "argument 'clip': 'list' object cannot be converted to 'PyTuple'"),
    (lambda s: s.min_max_scale_stage([1], [0], clip=(0.0, 1.0, 2.0)), ValueError,
     "expected tuple of length 2, but got tuple of length 3"),
    (lambda s: s.quantile_transform_stage("normal", [[0], "x"], [], [], 0), TypeError,
     "argument 'quantiles': Can't extract `str` to `Vec`"),
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


class CallsBack:
    def __init__(self, action):
        self.action = action

    def __index__(self):
        self.action()
        return 0


def test_calls_back_into_the_same_object_are_refused():
    spec, stage = three(), S()
    assert raised(RuntimeError, lambda: spec.select_stage([CallsBack(lambda: spec.identity("a"))])) == "Already borrowed"
    assert raised(RuntimeError, lambda: stage.ema("a", window=CallsBack(stage.copy))) == "Already mutably borrowed"
    assert spec.stage_count == 0
    assert raised(ValueError, lambda: three().scalar_stage(stage)) == EMPTY  # nothing was recorded


SIGNATURES = {
    "(self, /, input, *, window, warmup=Ellipsis, output=None)": "ema sma",
    "(self, /, input, *, output=None)": "identity",
    "(self, /, input, *, lag_window, output=None)": "lagged",
    "(self, /, input, *, mean, scale, output=None)": "standard_scale",
    "(self, /)": "copy _fit_candidate to_json feature_ids raw_feature_ids",
    "(self, /, base)": "_finalize_fit",
    "(json)": "from_json",
    "(self, /, stage)": "scalar_stage",
    "(self, /, mean, scale)": "scale_stage",
    "(self, /, scale, min, clip=None)": "min_max_scale_stage",
    "(self, /, method, lambdas, mean, scale)": "power_transform_stage",
    "(self, /, output_distribution, quantiles, references, all_nan_input_indices, bounds_threshold, normal_clip=None)":
        "quantile_transform_stage",
    "(self, /, input_indices)": "select_stage",
    "(self, /, outputs, retained_input_indices, replacement_values, indicator_input_indices)": "simple_impute_stage",
    "(self, /, outputs, mean, components, output_scale)": "pca_stage",
}
ORDER = ["ema", "sma", "_fit_candidate", "_finalize_fit", "scalar_stage", "copy", "scale_stage", "min_max_scale_stage",
         "power_transform_stage", "quantile_transform_stage", "select_stage", "simple_impute_stage", "pca_stage",
         "from_json", "to_json", "identity", "lagged", "standard_scale", "feature_ids", "raw_feature_ids"]


def signatures(cls, names):
    return {name: str(inspect.signature(getattr(cls, name))) for name in names}


def test_class_surfaces():
    expected = {name: signature for signature, names in SIGNATURES.items() for name in names.split()}
    assert [n for n in vars(P) if not n.startswith("__")] == \
        ORDER + ["stage_count", "capacity", "active_feature_count", "checksum"]
    assert signatures(P, ORDER) == {name: expected[name] for name in ORDER}
    stage_order = ["ema", "sma", "copy", "identity", "lagged", "standard_scale"]
    assert [n for n in vars(S) if not n.startswith("__")] == stage_order
    assert signatures(S, stage_order) == {name: expected[name] for name in stage_order}
    assert str(inspect.signature(P)) == "(raw_feature_extractor_spec, *, capacity=None, checksum=None)"
    assert str(inspect.signature(S)) == "()" and raised(TypeError, lambda: S(1))
    assert S.__doc__ == ("Authors one group of scalar outputs whose inputs are resolved against the preceding stage.\n"
                         "Resolution is deferred until fitting because PCA output IDs may not exist yet.")
    assert P.lagged.__doc__ == ("Append a raw scalar from `lag_window` accepted events earlier.\n"
                                "The window must be in `1..=10_000`; output remains NaN until enough history exists.")
    assert P.ema.__doc__ == S.ema.__doc__ and P.identity.__doc__ != S.identity.__doc__
    assert P.stage_count.__doc__ == "Number of already fitted vector stages."
