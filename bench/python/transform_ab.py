"""Times `transform` of two installed builds of the module against each other, and measures the peak
memory of one call per row. Each run is a fresh process of one build's interpreter; runs alternate
between the builds (A B A B ..., starting side swapped every other pair), so both see the same state of
the machine. A run builds its objects untimed, then times `--calls` transforms of the benchmark's trade
stream on fresh objects and reports the median and the fastest per row; the ratios B/A are taken per
pair of runs. Run A against A as well to see the noise of the machine.

    python bench/python/transform_ab.py A/bin/python B/bin/python [--runs 15] [--rows 300000]

Workloads: "extractor", the seven benchmark features on three symbols (FeatureExtractor); "pipeline",
the same raw features through standard scaling and a PCA fitted by scikit-learn (ModelInputPipeline).
Memory: the growth of the process's peak resident size (reset just before) over one call on a fresh
object, per row, with and without the returned array.
"""
import argparse
import json
import pathlib
import statistics
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent


def status_bytes(field):
    """A size from /proc/self/status ("VmRSS", or "VmHWM": the peak since the last reset)."""
    with open("/proc/self/status") as status:
        line = next(line for line in status if line.startswith(field + ":"))
    return int(line.split()[1]) * 1024


def reset_peak():
    """Hands freed heap memory back to the system, so that what the call allocates shows in the peak, and
    starts a new peak."""
    import ctypes
    ctypes.CDLL("libc.so.6").malloc_trim(0)
    with open("/proc/self/clear_refs", "w") as clear:
        clear.write("5")


def child(workload, rows, calls):
    """One run: {"ns_per_row": median, "best_ns_per_row": fastest, "peak_per_row": bytes,
    "output_per_row": bytes}."""
    sys.path.insert(0, str(HERE))
    import gc

    from bench_runtime import ALL, build_extractor, fit_model, make_stream, new_pipeline, vorn_batch

    stream = make_stream(rows)
    if workload == "extractor":
        make = lambda: build_extractor(ALL)[0]  # noqa: E731
    else:
        model = fit_model(make_stream(20_000, seed=5))
        make = lambda: new_pipeline(model)  # noqa: E731
    fresh = make()
    gc.collect()
    reset_peak()
    before = status_bytes("VmRSS")
    out = vorn_batch(fresh, stream)
    peak = status_bytes("VmHWM") - before
    output = out.nbytes
    del out, fresh
    times = []
    for _ in range(calls):
        fresh = make()
        gc.collect()
        start = time.perf_counter()
        vorn_batch(fresh, stream)
        times.append(time.perf_counter() - start)
    print(json.dumps({"ns_per_row": statistics.median(times) / rows * 1e9, "best_ns_per_row": min(times) / rows * 1e9,
                      "peak_per_row": peak / rows, "output_per_row": output / rows}))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("a")
    parser.add_argument("b")
    parser.add_argument("--runs", type=int, default=15)
    parser.add_argument("--rows", type=int, default=300_000)
    parser.add_argument("--calls", type=int, default=5)
    parser.add_argument("--workload", choices=("extractor", "pipeline"), default="extractor")
    parser.add_argument("--child", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        child(args.workload, args.rows, args.calls)
        return
    results = {"A": [], "B": []}
    for run in range(args.runs):
        order = ("A", "B") if run % 2 == 0 else ("B", "A")
        for side in order:
            python = args.a if side == "A" else args.b
            line = subprocess.run([python, __file__, "-", "-", "--child", "--workload", args.workload,
                                   "--rows", str(args.rows), "--calls", str(args.calls)],
                                  check=True, capture_output=True, text=True).stdout
            results[side].append(json.loads(line))
    print(f"{args.workload}: {args.rows} rows, {args.runs} runs each, median of {args.calls} calls per run")
    for side, python in (("A", args.a), ("B", args.b)):
        ns = [r["ns_per_row"] for r in results[side]]
        peak = statistics.median(r["peak_per_row"] for r in results[side])
        output = results[side][0]["output_per_row"]
        print(f"  {side} {python}: {statistics.median(ns):.1f} ns/row [{min(ns):.1f}, {max(ns):.1f}]; "
              f"peak {peak:.1f} B/row, {peak - output:.1f} beyond the {output:.0f} B/row returned")
    for key, name in (("ns_per_row", "median"), ("best_ns_per_row", "fastest")):
        ratios = [b[key] / a[key] for a, b in zip(results["A"], results["B"])]
        print(f"  B/A per run, {name} call: median {statistics.median(ratios):.3f} "
              f"[{min(ratios):.3f}, {max(ratios):.3f}]")


if __name__ == "__main__":
    main()
