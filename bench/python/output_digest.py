"""Prints SHA-1 digests of the runtime's outputs, to prove that a change leaves every number as it
was: run it before and after, and compare the lines.

- "stream": the seven benchmark features on three symbols over a million generated trades, one
  `transform` call, float64.
- "market/<dtype>/<seed>": every feature family over a generated stream of trades, prices, time
  events, order-book snapshots and deltas and context updates (tests/python/helpers.py), replayed
  in batches and stepped event by event (both must agree), float64 and float32.
- "pipeline/<dtype>/<seed>": the same stream through a ModelInputPipeline with every
  transformation kind, an imputer and a PCA: final rows and raw rows.

    python bench/python/output_digest.py
"""
import hashlib
import pathlib
import sys

import numpy as np

HERE = pathlib.Path(__file__).resolve().parent
sys.path[:0] = [str(HERE), str(HERE.parents[1] / "tests" / "python")]

from _vorn import FeatureExtractor, ModelInputPipeline  # noqa: E402
from bench_runtime import ALL, build_extractor, make_stream  # noqa: E402
from helpers import full_spec, replay  # noqa: E402
from test_model_input_pipeline import parity_spec  # noqa: E402


def digest(*arrays):
    h = hashlib.sha1()
    for a in arrays:
        h.update(str((a.dtype.str, a.shape)).encode())
        h.update(np.ascontiguousarray(a).tobytes())
    return h.hexdigest()


def main():
    s = make_stream(1_000_000)
    fx, _ = build_extractor(ALL)
    print("stream", digest(fx.transform(s.kind, s.symbol, s.timestamp, price=s.price, volume=s.volume, side=s.side)))
    for dtype in ("float64", "float32"):
        for seed in range(3):
            rows, _ = replay(lambda d: FeatureExtractor(full_spec(), d), dtype, seed)
            print(f"market/{dtype}/{seed}", digest(rows))
            rows, raw = replay(lambda d: ModelInputPipeline(parity_spec(), d), dtype, seed)
            print(f"pipeline/{dtype}/{seed}", digest(rows, raw))


if __name__ == "__main__":
    main()
