"""Writes tests/engine/data/sklearn_stages.json: fitted scikit-learn transformers
as the stages of version "3.0" pipeline documents, input rows and
scikit-learn's own transform of those rows.

Each document reads its inputs as context features f0, f1, ... and copies them
into layer 1. The C++ tests read the document, build the pipeline, feed each
row as a context update and compare the model vector with scikit-learn's
output. Run from the repository root after `pip install scikit-learn` (needed
only to regenerate):

    python3 tests/engine/features/sklearn_fixtures.py
"""

import json
import math
import pathlib
import statistics
import warnings

import numpy as np
from scipy import special, stats
from sklearn.decomposition import PCA
from sklearn.feature_selection import VarianceThreshold
from sklearn.impute import SimpleImputer
from sklearn.preprocessing import (
    MinMaxScaler,
    PowerTransformer,
    QuantileTransformer,
    StandardScaler,
)

OUT = pathlib.Path(__file__).resolve().parents[1] / "data" / "sklearn_stages.json"

# The quantile transformer's tolerance at the ends of a column, and the
# output bounds it clips the normal distribution to.
BOUNDS_THRESHOLD = 1e-7
NORMAL_CLIP = [
    float(stats.norm.ppf(BOUNDS_THRESHOLD - np.spacing(1))),
    float(stats.norm.ppf(1 - (BOUNDS_THRESHOLD - np.spacing(1)))),
]


def number(x):
    """JSON has no NaN or infinity: those travel as strings."""
    x = float(x)
    if math.isnan(x):
        return "nan"
    if math.isinf(x):
        return "inf" if x > 0 else "-inf"
    return x


def numbers(values):
    return [number(v) for v in np.asarray(values, dtype=np.float64).ravel()]


def matrix(values):
    return [numbers(row) for row in np.asarray(values, dtype=np.float64)]


def ids(n, prefix="f"):
    return [f"{prefix}{i}" for i in range(n)]


def pipeline_document(input_ids, stages):
    """Context features named by the input ids, copied into layer 1, then the stages."""
    contexts = [{"kind": "context", "source": {"type": "context"}, "options": {"name": i},
                 "outputs": [{"id": i}]} for i in input_ids]
    width = len(stage_outputs(stages[-1]))
    return {
        "version": "3.0",
        "feature_extractor": {"version": "2.0", "capacity": len(input_ids), "length": len(input_ids),
                              "required_events": [],
                              "features": [{"symbol": "__global__", "indicators": contexts}]},
        "model_input": {"capacity": width, "length": width,
                        "transformations": [{"type": "identity", "input": i, "output": i} for i in input_ids],
                        "stages": stages},
    }


def case(name, input_ids, stages, rows, expected, tolerance):
    return {
        "name": name,
        "document": pipeline_document(input_ids, stages),
        "rows": matrix(rows),
        "expected": matrix(expected),
        "tolerance": tolerance,
    }


# ---- stage records from fitted transformers ---------------------------------


def standard_scale_stage(scaler, names):
    return {"type": "standard_scale", "outputs": names,
            "mean": numbers(scaler.mean_), "scale": numbers(scaler.scale_)}


def min_max_stage(scaler, names):
    stage = {"type": "min_max_scale", "outputs": names,
             "scale": numbers(scaler.scale_), "min": numbers(scaler.min_)}
    if scaler.clip:
        stage["clip"] = [number(scaler.feature_range[0]), number(scaler.feature_range[1])]
    return stage


def power_stage(power, x_fit, names):
    # The standardisation after the power function: mean and scale of the
    # transformed training data.
    raw = PowerTransformer(method=power.method, standardize=False).fit(x_fit)
    assert np.array_equal(raw.lambdas_, power.lambdas_)
    scaler = StandardScaler().fit(raw.transform(x_fit))
    return {"type": "power_transform", "outputs": names, "method": power.method,
            "lambdas": numbers(power.lambdas_), "mean": numbers(scaler.mean_),
            "scale": numbers(scaler.scale_)}


def quantile_stage(quantile, names):
    quantiles = np.array(quantile.quantiles_, dtype=np.float64)
    all_nan = [j for j in range(quantiles.shape[1]) if np.isnan(quantiles[:, j]).all()]
    quantiles[:, all_nan] = 0.0  # any finite values: those columns are never searched
    stage = {"type": "quantile_transform", "outputs": names,
             "output_distribution": quantile.output_distribution,
             "quantiles": matrix(quantiles), "references": numbers(quantile.references_),
             "all_nan_input_indices": all_nan, "bounds_threshold": BOUNDS_THRESHOLD}
    if quantile.output_distribution == "normal":
        stage["normal_clip"] = NORMAL_CLIP
    return stage


def impute_stage(imputer, names):
    retained = [i for i, s in enumerate(imputer.statistics_) if not np.isnan(s)]
    indicators = [int(i) for i in imputer.indicator_.features_] if imputer.add_indicator else []
    outputs = [names[i] for i in retained] + [f"missingindicator_{names[i]}" for i in indicators]
    return {"type": "simple_impute", "outputs": outputs, "retained_input_indices": retained,
            "replacement_values": numbers(imputer.statistics_[retained]),
            "indicator_input_indices": indicators}


def select_stage(selector, names):
    indices = [int(i) for i in selector.get_support(indices=True)]
    return {"type": "select", "outputs": [names[i] for i in indices], "input_indices": indices}


def pca_stage(pca, prefix):
    scale = np.sqrt(pca.explained_variance_) if pca.whiten else np.ones(pca.n_components_)
    return {"type": "pca", "outputs": ids(pca.n_components_, prefix), "mean": numbers(pca.mean_),
            "components": matrix(pca.components_), "output_scale": numbers(scale)}


def stage_outputs(stage):
    return stage["outputs"]


# ---- data --------------------------------------------------------------------


def sprinkle_nan(rng, x, fraction):
    x = x.copy()
    x[rng.random_sample(x.shape) < fraction] = np.nan
    return x


def main():
    rng = np.random.RandomState(20240611)
    cases = []
    exact = {"kind": "exact"}

    # Standard scaling: columns of different centres and spreads, NaN passes.
    x = rng.randn(300, 6) * [1.0, 10.0, 0.01, 1e4, 3.0, 0.5] + [0.0, -5.0, 1e3, 2e5, 7.0, -0.25]
    x_fit, x_test = x[:260], sprinkle_nan(rng, x[260:], 0.1)
    scaler = StandardScaler().fit(x_fit)
    names = ids(6)
    cases.append(case("standard_scaler", names, [standard_scale_stage(scaler, names)],
                      x_test, scaler.transform(x_test), {"kind": "ulps", "ulps": 2}))

    # Min-max scaling to (-1, 2), test rows beyond the fitted range, with and
    # without clipping.
    x = rng.randn(200, 5) * [2.0, 0.1, 50.0, 1.0, 1e-3]
    x_fit, x_test = x[:160], sprinkle_nan(rng, x[160:] * 1.5, 0.1)
    for clip in (False, True):
        scaler = MinMaxScaler(feature_range=(-1.0, 2.0), clip=clip).fit(x_fit)
        cases.append(case(f"min_max_scaler{'_clip' if clip else ''}", ids(5),
                          [min_max_stage(scaler, ids(5))], x_test, scaler.transform(x_test), exact))

    # Power transforms: skewed data with negatives (Yeo-Johnson), positive
    # data (Box-Cox).
    x = np.column_stack([rng.exponential(2.0, 300) - 1.0, rng.lognormal(0.0, 1.0, 300),
                         -rng.exponential(1.0, 300), rng.randn(300) * 4.0,
                         rng.gamma(2.0, 2.0, 300)])
    x_fit, x_test = x[:260], sprinkle_nan(rng, x[260:], 0.1)
    power = PowerTransformer(method="yeo-johnson").fit(x_fit)
    cases.append(case("power_yeo_johnson", ids(5), [power_stage(power, x_fit, ids(5))],
                      x_test, power.transform(x_test), {"kind": "relative", "tolerance": 1e-12}))
    x = np.column_stack([rng.lognormal(0.0, 1.0, 300), rng.gamma(2.0, 2.0, 300) + 0.01,
                         rng.uniform(0.5, 3.0, 300), rng.exponential(5.0, 300) + 1e-3])
    x_fit, x_test = x[:260], sprinkle_nan(rng, x[260:], 0.1)
    power = PowerTransformer(method="box-cox").fit(x_fit)
    cases.append(case("power_box_cox", ids(4), [power_stage(power, x_fit, ids(4))],
                      x_test, power.transform(x_test), {"kind": "relative", "tolerance": 1e-12}))

    # Quantile transforms: a continuous column, a discrete one (runs of equal
    # quantiles), a skewed one and one that is entirely NaN. Test rows hit the
    # quantiles exactly, fall between and beyond them, and carry NaN.
    n = 400
    x = np.column_stack([rng.randn(n), rng.randint(0, 5, n).astype(np.float64),
                         rng.exponential(3.0, n), np.full(n, np.nan)])
    x_fit = sprinkle_nan(rng, x, 0.05)
    x_fit[:, 3] = np.nan
    for distribution in ("uniform", "normal"):
        quantile = QuantileTransformer(n_quantiles=60, output_distribution=distribution,
                                       subsample=n, random_state=0)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", RuntimeWarning)
            quantile.fit(x_fit)
        q = quantile.quantiles_
        picks = rng.randint(0, q.shape[0], 12)
        exact_hits = np.column_stack([q[picks, 0], q[picks, 1], q[picks, 2], rng.randn(12)])
        ends = np.array([[q[0, 0], q[-1, 1], q[0, 2], 1.0],
                         [q[-1, 0], q[0, 1], q[-1, 2], np.nan],
                         [q[0, 0] - 1.0, -3.0, -1.0, 0.0],
                         [q[-1, 0] + 1.0, 9.0, 1e6, 2.0],
                         [q[0, 0] + 5e-8, 2.5, q[-1, 2] - 5e-8, 0.0]])
        between = np.column_stack([rng.randn(30), rng.uniform(-0.5, 4.5, 30),
                                   rng.exponential(3.0, 30), rng.randn(30)])
        x_test = sprinkle_nan(rng, np.vstack([exact_hits, ends, between]), 0.05)
        tolerance = ({"kind": "absolute", "tolerance": 1e-15} if distribution == "uniform"
                     else {"kind": "absolute", "tolerance": 1e-9})
        cases.append(case(f"quantile_{distribution}", ids(4), [quantile_stage(quantile, ids(4))],
                          x_test, quantile.transform(x_test), tolerance))

    # Imputation with indicators: column 2 is entirely NaN when fitted (not
    # retained), columns 0 and 3 have gaps (indicators), the others none.
    x = rng.randn(120, 5) * 3.0 + 1.0
    x_fit = x[:100].copy()
    x_fit[rng.random_sample(100) < 0.2, 0] = np.nan
    x_fit[:, 2] = np.nan
    x_fit[rng.random_sample(100) < 0.1, 3] = np.nan
    x_test = sprinkle_nan(rng, x[100:], 0.25)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", UserWarning)
        imputer = SimpleImputer(strategy="mean", add_indicator=True).fit(x_fit)
        expected = imputer.transform(x_test)
    cases.append(case("simple_imputer_indicator", ids(5), [impute_stage(imputer, ids(5))],
                      x_test, expected, exact))

    # Column selection: near-constant columns fall below the variance threshold.
    x = rng.randn(100, 7) * [1.0, 1e-3, 2.0, 1e-4, 0.5, 3.0, 1e-3]
    selector = VarianceThreshold(threshold=0.01).fit(x[:80])
    x_test = sprinkle_nan(rng, x[80:], 0.1)
    cases.append(case("column_selection", ids(7), [select_stage(selector, ids(7))],
                      x_test, selector.transform(x_test), exact))

    # PCA: correlated inputs, 8 to 3 components, with and without whitening.
    latent = rng.randn(300, 3)
    x = latent @ rng.randn(3, 8) + 0.1 * rng.randn(300, 8) + rng.uniform(-5, 5, 8)
    for whiten in (False, True):
        pca = PCA(n_components=3, whiten=whiten, svd_solver="full").fit(x[:260])
        cases.append(case(f"pca{'_whiten' if whiten else ''}", ids(8), [pca_stage(pca, "pc")],
                          x[260:], pca.transform(x[260:]), {"kind": "relative", "tolerance": 1e-12}))

    # A chain of stages of different widths: impute (6 inputs to 5 retained and
    # 3 indicators), select the 6 of those 8 that vary, scale, Yeo-Johnson,
    # PCA to 3.
    x = rng.randn(300, 6) * [1.0, 2.0, 0.5, 4.0, 1.0, 1.0] + [0.0, 1.0, -2.0, 0.0, 3.0, 0.0]
    x[:, 5] = np.round(x[:, 5] * 1e-3, 0)  # constant after imputation: dropped by the selection
    x_fit = x[:260].copy()
    x_fit[rng.random_sample(260) < 0.1, 0] = np.nan
    x_fit[rng.random_sample(260) < 0.1, 3] = np.nan
    x_fit[:, 4] = np.nan
    x_test = x[260:].copy()
    x_test[rng.random_sample(40) < 0.2, 0] = np.nan
    x_test[rng.random_sample(40) < 0.2, 3] = np.nan
    names = ids(6)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", UserWarning)
        imputer = SimpleImputer(strategy="median", add_indicator=True).fit(x_fit)
        stage_impute = impute_stage(imputer, names)
        step = imputer.transform(x_fit)
        step_test = imputer.transform(x_test)
    selector = VarianceThreshold(threshold=0.0).fit(step)
    stage_select = select_stage(selector, stage_outputs(stage_impute))
    step, step_test = selector.transform(step), selector.transform(step_test)
    scaler = StandardScaler().fit(step)
    stage_scale = standard_scale_stage(scaler, stage_outputs(stage_select))
    step, step_test = scaler.transform(step), scaler.transform(step_test)
    power = PowerTransformer(method="yeo-johnson").fit(step)
    stage_power = power_stage(power, step, stage_outputs(stage_select))
    step, step_test = power.transform(step), power.transform(step_test)
    pca = PCA(n_components=3, whiten=True, svd_solver="full").fit(step)
    stage_pca = pca_stage(pca, "pc")
    assert len(stage_impute["outputs"]) == 8 and len(stage_select["outputs"]) == 6
    cases.append(case("chain", names, [stage_impute, stage_select, stage_scale, stage_power, stage_pca],
                      x_test, pca.transform(step_test), {"kind": "relative", "tolerance": 1e-10}))

    # Normal quantiles: the same published algorithm as implemented by the
    # Python standard library, and scipy's own (a different method).
    p = np.concatenate([[1e-300, 1e-100, 1e-20, 1e-10, 1e-7, 2.5e-5, 0.02425, 0.075, 0.07499999,
                         0.075000001, 0.25, 0.4999, 0.5, 0.5000001, 0.924999, 0.925, 0.925001,
                         0.999, 1 - 1e-7, 1 - 1e-12, 1 - 2**-53],
                        rng.random_sample(60), np.exp(-rng.uniform(0, 690, 40))])
    normal = statistics.NormalDist()
    normal_quantiles = {"p": numbers(p), "statistics": numbers([normal.inv_cdf(v) for v in p]),
                        "scipy": numbers(special.ndtri(p))}

    OUT.write_text(json.dumps({"cases": cases, "normal_quantiles": normal_quantiles}, indent=1) + "\n")
    print(f"wrote {OUT} ({len(cases)} cases)")


if __name__ == "__main__":
    main()
