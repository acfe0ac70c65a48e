"""Batch columns written by another thread while `transform` runs: NumPy writes without holding the GIL, so
a column may change between any two reads of it. Each call must read every element once and apply exactly
what it checked: it returns the rows of values that pass, or raises before any row is applied; it never
crashes, reads out of bounds or fails after rows were applied. Each case runs in a child process, so that a
crash fails the case rather than the test run."""
import subprocess
import sys
import textwrap

import pytest

CHILD = textwrap.dedent("""
    import sys, threading, time
    import numpy as np
    from numpy.lib.stride_tricks import as_strided
    from _vorn import FeatureExtractor, FeatureExtractorSpec, ModelInputPipeline, PipelineSpec

    runtime, column, with_plan = sys.argv[1], sys.argv[2], sys.argv[3] == "plan"
    FIELD, CTX = "field:symbol=4:rt-x:source=field.price", "context:symbol=4:rt-x:source=context:name=1:c"

    def make():
        raw = FeatureExtractorSpec(capacity=3).field("rt-x").context("rt-x", "c")
        if runtime == "FeatureExtractor":
            made = FeatureExtractor(raw)
        else:
            made = ModelInputPipeline(PipelineSpec(raw).identity(FIELD, output="p").standard_scale(
                CTX, mean=1.0, scale=2.0, output="z"))
        assert made.symbol("rt-x") == 0
        return made

    n, row = 20_000, 12_345
    kind, symbol, timestamp, price = np.zeros(n, np.uint8), np.zeros(n, np.int64), np.arange(n), np.ones(n)
    target, good, bad, message = {
        "symbol": (symbol, 0, 1 << 40, f"row {row}: unknown symbol handle {1 << 40}; call {runtime}.symbol(name) first"),
        "price": (price, 1.0, float("nan"), f"row {row}: invalid argument: event price must be finite"),
    }[column]

    def run(made):
        plan = {0: {CTX: 3.0}, row: {CTX: None}} if with_plan else None
        return made.transform(kind, symbol, timestamp, price=price, context_updates=plan)

    expected, fresh = run(make()), make().values()
    # One long GIL-free copy writes the row over and over, alternating the value that passes its check and
    # one that does not, while the main thread runs batches.
    flips = 1 << 24
    written = as_strided(target[row:row + 1], shape=(flips, 2), strides=(0, 0), writeable=True)
    values = np.broadcast_to(np.array([good, bad], target.dtype), (flips, 2))
    stop = threading.Event()

    def writer():
        while not stop.is_set():
            np.copyto(written, values)

    thread = threading.Thread(target=writer)
    thread.start()
    returned = raised = 0
    deadline = time.monotonic() + 2.0
    try:
        while time.monotonic() < deadline:
            made = make()
            try:
                rows = run(made)
            except ValueError as error:
                assert str(error) == message, str(error)
                assert np.array_equal(made.values(), fresh, equal_nan=True), "rows were applied before the error"
                made.output_dtype = "float32"  # still unlocked: nothing was applied
                raised += 1
            else:
                assert np.array_equal(rows, expected, equal_nan=True), "rows of values that were not checked"
                returned += 1
    finally:
        stop.set()
        thread.join()
    assert returned > 0 and raised > 0, (returned, raised)  # the writer did overlap the calls
    print(returned, raised)
""")


@pytest.mark.parametrize("plan", ["none", "plan"])
@pytest.mark.parametrize("column", ["symbol", "price"])
@pytest.mark.parametrize("runtime", ["FeatureExtractor", "ModelInputPipeline"])
def test_a_column_rewritten_during_transform_gives_rows_or_an_error_before_any_row(runtime, column, plan):
    child = subprocess.run([sys.executable, "-c", CHILD, runtime, column, plan], capture_output=True, text=True,
                           timeout=120)
    assert child.returncode == 0, (child.returncode, child.stderr[-2000:])
