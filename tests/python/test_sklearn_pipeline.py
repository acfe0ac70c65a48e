"""Fitted scikit-learn transformers carried into a PipelineSpec through the fit hand-off: a
ModelInputPipeline over a replayed stream gives, row by row, what the fitted scikit-learn Pipeline's
transform gives on the stream's raw feature rows."""
import warnings

import numpy as np
import pytest
from scipy import stats
from sklearn.compose import ColumnTransformer
from sklearn.decomposition import PCA
from sklearn.impute import SimpleImputer
from sklearn.pipeline import make_pipeline
from sklearn.preprocessing import MinMaxScaler, PowerTransformer, QuantileTransformer, StandardScaler

from _vorn import FeatureExtractor, FeatureExtractorSpec, ModelInputPipeline, PipelineSpec
from helpers import I64, U8

ROWS, FIT, CAPACITY = 600, 400, 24
BOUNDS_THRESHOLD = 1e-7
NORMAL_CLIP = (float(stats.norm.ppf(BOUNDS_THRESHOLD - np.spacing(1))),
               float(stats.norm.ppf(1 - (BOUNDS_THRESHOLD - np.spacing(1)))))
RAW = (FeatureExtractorSpec().field("sk").field("sk", source="volume").simple_returns("sk", [1])
       .log_returns("sk", [3]).volatility("sk", [4]).cvd("sk", [3]).vwap_timed("sk", "5ms", ["20ms"])
       .trade_count_timed("sk", "5ms", "20ms").context("__global__", "c").context("__global__", "never"))
IDS = RAW.feature_ids()


def column(prefix):
    return next(i for i, name in enumerate(IDS) if name.startswith(prefix))


PRICE, VOLUME, VOLATILITY, VWAP, NEVER = (column(p) for p in ("field:symbol=2:sk:source=field.price",
                                                             "field:symbol=2:sk:source=field.volume",
                                                             "volatility:", "vwap_timed:", "context:symbol=10:__global__:source=context:name=5:never"))
FINITE = [i for i in range(len(IDS)) if i != NEVER]  # columns that have values when fitted
POSITIVE = [PRICE, VOLUME, VOLATILITY, VWAP]


def batch(rng):
    """Price, volume and trade rows of one symbol (handle 0) on a random walk, and a context plan
    that sets or clears "c" on some rows and never sets "never"."""
    kind = rng.choice(np.array([0, 1, 2, 2], U8), ROWS)
    timestamp = np.cumsum(rng.integers(0, 4, ROWS)).astype(I64)
    price = 100 * np.exp(np.cumsum(rng.normal(0, 0.01, ROWS)))
    columns = (kind, np.zeros(ROWS, I64), timestamp)
    payload = {"price": price, "volume": rng.exponential(2.0, ROWS), "side": rng.integers(0, 2, ROWS).astype(U8)}
    context = IDS[column("context:symbol=10:__global__:source=context:name=1:c")]
    plan = {i: {context: None if rng.random() < 0.2 else rng.normal(5, 3)} for i in range(ROWS) if rng.random() < 0.3}
    return columns, payload, plan


COLUMNS, PAYLOAD, PLAN = batch(np.random.default_rng(7))


def replay(runtime):
    runtime.symbol("sk")
    return runtime.transform(*COLUMNS, **PAYLOAD, context_updates=PLAN)


X = replay(FeatureExtractor(RAW))


def append_stage(spec, step, x):
    """Appends to `spec` the stage that reproduces `step`, fitted on `x`."""
    names = spec.feature_ids()
    if isinstance(step, ColumnTransformer):
        spec.select_stage(step.transformers_[0][2])
    elif isinstance(step, StandardScaler):
        spec.scale_stage(step.mean_, step.scale_)
    elif isinstance(step, MinMaxScaler):
        spec.min_max_scale_stage(step.scale_, step.min_, step.feature_range if step.clip else None)
    elif isinstance(step, PowerTransformer):
        # The standardisation after the power function: mean and scale of the transformed training rows.
        power = PowerTransformer(method=step.method, standardize=False).fit(x)
        assert np.array_equal(power.lambdas_, step.lambdas_)
        scaler = StandardScaler().fit(power.transform(x))
        spec.power_transform_stage(step.method, step.lambdas_, scaler.mean_, scaler.scale_)
    elif isinstance(step, QuantileTransformer):
        quantiles = step.quantiles_.copy()
        all_nan = [j for j in range(quantiles.shape[1]) if np.isnan(quantiles[:, j]).all()]
        quantiles[:, all_nan] = 0.0  # never searched
        normal = step.output_distribution == "normal"
        spec.quantile_transform_stage(step.output_distribution, quantiles, step.references_, all_nan,
                                      BOUNDS_THRESHOLD, NORMAL_CLIP if normal else None)
    elif isinstance(step, SimpleImputer):
        retained = [i for i, s in enumerate(step.statistics_) if not np.isnan(s)]
        indicators = [int(i) for i in step.indicator_.features_] if step.add_indicator else []
        spec.simple_impute_stage([names[i] for i in retained] + [f"missingindicator_{names[i]}" for i in indicators],
                                 retained, step.statistics_[retained], indicators)
    else:
        scale = np.sqrt(step.explained_variance_) if step.whiten else np.ones(step.n_components_)
        spec.pca_stage([f"pc{i}" for i in range(step.n_components_)], step.mean_, step.components_, scale)


def pick(columns):
    return ColumnTransformer([("pick", "passthrough", sorted(columns))])


def exact(got, want):
    return np.array_equal(got, want, equal_nan=True)


def within(tolerance, ulps=False):
    """Within `tolerance` ulps of the value, or relative to it (absolute below 1)."""
    def close(got, want):
        known = ~np.isnan(want)
        bound = tolerance * (np.spacing(np.abs(want[known])) if ulps else np.maximum(np.abs(want[known]), 1))
        return exact(np.isnan(got), ~known) and bool(np.all(np.abs(got[known] - want[known]) <= bound))
    return close


CASES = [
    ("selection", [pick([PRICE, VWAP, NEVER])], exact),
    ("standard", [pick(FINITE), StandardScaler()], within(4, ulps=True)),
    ("min_max", [pick(FINITE), MinMaxScaler((-1, 2))], exact),
    ("min_max_clip", [pick(FINITE), MinMaxScaler((-1, 2), clip=True)], exact),
    ("yeo_johnson", [pick(FINITE), PowerTransformer()], within(1e-12)),
    ("box_cox", [pick(POSITIVE), PowerTransformer(method="box-cox")], within(1e-12)),
    ("quantile_uniform", [QuantileTransformer(n_quantiles=50)], within(1e-15)),
    ("quantile_normal", [QuantileTransformer(n_quantiles=50, output_distribution="normal")], within(1e-9)),
    ("imputation", [SimpleImputer(add_indicator=True)], exact),
    ("pca", [SimpleImputer(), StandardScaler(), PCA(3)], within(1e-12)),
    ("pca_whiten", [SimpleImputer(strategy="median", add_indicator=True), PCA(4, whiten=True)], within(1e-12)),
]


@pytest.mark.parametrize("name, steps, close", CASES, ids=[case[0] for case in CASES])
def test_pipeline_rows_match_scikit_learn(name, steps, close):
    base = PipelineSpec(RAW, capacity=CAPACITY)
    for raw_id in IDS:
        base.identity(raw_id)
    candidate, x = base._fit_candidate(), X[:FIT]
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # all-NaN columns
        fitted = make_pipeline(*steps).fit(x)
        for _, step in fitted.steps:
            append_stage(candidate, step, x)
            x = step.transform(x)
        want = fitted.transform(X)
    assert candidate._finalize_fit(base) is None and candidate.capacity == CAPACITY
    got = replay(ModelInputPipeline(candidate))
    assert got.shape == (ROWS, CAPACITY) and np.isnan(got[:, want.shape[1]:]).all()
    assert np.isfinite(want).mean() > 0.6  # not a comparison of NaN with NaN
    assert close(got[:, :want.shape[1]], want)
