"""The module contract: constants, docstring, __all__ and repeated initialisation."""
import ctypes
import subprocess
import sys

import _vorn
from helpers import raised

CONSTANTS = [
    ("KIND_PRICE", 0),
    ("KIND_VOLUME", 1),
    ("KIND_TRADE", 2),
    ("KIND_ORDERBOOK", 3),
    ("KIND_TIME", 4),
    ("SIDE_AGGRESSOR_BUY", 0),
    ("SIDE_AGGRESSOR_SELL", 1),
]
CLASSES = [
    "OrderBookEvent",
    "WarmupPolicy",
    "FeatureExtractorSpec",
    "PipelineSpec",
    "ScalarStage",
    "FeatureExtractor",
    "ModelInputPipeline",
]


def test_constants_are_plain_ints_with_their_values():
    for name, value in CONSTANTS:
        constant = getattr(_vorn, name)
        assert type(constant) is int and constant == value


def test_all_lists_classes_then_constants_in_registration_order():
    present = [name for name in CLASSES if hasattr(_vorn, name)]
    assert present[:2] == ["OrderBookEvent", "WarmupPolicy"]
    assert _vorn.__all__ == present + [name for name, _ in CONSTANTS]


def test_classes_are_named_bare_and_nothing_else_is_callable():
    assert _vorn.__doc__ == ""
    callables = {name for name in dir(_vorn) if not name.startswith("__") and callable(getattr(_vorn, name))}
    assert callables == {name for name in _vorn.__all__ if isinstance(getattr(_vorn, name), type)}
    for name in callables:
        cls = getattr(_vorn, name)
        assert cls.__name__ == cls.__qualname__ == name
        assert cls.__module__ == "builtins"
        assert repr(cls) == f"<class '{name}'>"


def use_every_class():
    """One ordinary use of each class, as the values it gives."""
    spec = _vorn.FeatureExtractorSpec().context("__global__", "c", id="c")
    pipeline = _vorn.PipelineSpec(spec).identity("c", output="z")
    fx, mip = _vorn.FeatureExtractor(spec), _vorn.ModelInputPipeline(pipeline)
    fx.update_context({"c": 2.5})
    mip.update_context({"c": 4.0})
    event = _vorn.OrderBookEvent.snapshot("imm-x", 1, 1, [("1", "2")], [])
    stage = _vorn.ScalarStage().identity("a")
    return (pipeline.feature_ids(), int(_vorn.WarmupPolicy.FULL_WINDOW), list(fx.values()), list(mip.values()),
            type(event).__name__, type(stage).__name__)


def test_classes_are_immutable_as_built_in_types_are():
    """No class attribute can be set or deleted (so no method, `__new__` above all, can be replaced);
    every class keeps its namespace and works as before."""
    expected = (["z"], 1, [2.5], [4.0], "OrderBookEvent", "ScalarStage")
    assert use_every_class() == expected
    first_value = _vorn.WarmupPolicy.FIRST_VALUE
    for name in CLASSES:
        cls = getattr(_vorn, name)
        namespace = dict(vars(cls))
        for attribute in ["__new__", "__doc__", "__module__", "extra", *[n for n in namespace if not n.startswith("_")]]:
            for change in (lambda: setattr(cls, attribute, None), lambda: delattr(cls, attribute)):
                assert f"attribute of immutable type '{name}'" in raised(TypeError, change)
        assert dict(vars(cls)) == namespace
        assert cls.__module__ == "builtins" and cls.__doc__ == namespace["__doc__"]
    assert _vorn.WarmupPolicy.FIRST_VALUE is first_value and first_value == 0
    assert use_every_class() == expected


def test_repeated_init_returns_the_same_module():
    library = ctypes.PyDLL(_vorn.__file__)
    init = library.PyInit__vorn
    init.restype = ctypes.py_object
    assert init() is _vorn
    assert init() is _vorn
    assert _vorn.__all__.count("KIND_PRICE") == 1


def test_only_the_init_entry_is_exported():
    output = subprocess.run(
        ["nm", "-D", "--defined-only", _vorn.__file__], capture_output=True, text=True
    )
    if output.returncode != 0:
        return  # nm is not available; nothing to inspect
    exported = [line.split()[-1] for line in output.stdout.splitlines() if " T " in line]
    assert exported == ["PyInit__vorn"]


def test_import_in_a_fresh_interpreter_with_warnings_as_errors():
    code = "import _vorn; print(_vorn.KIND_ORDERBOOK, _vorn.SIDE_AGGRESSOR_SELL)"
    result = subprocess.run([sys.executable, "-W", "error", "-c", code], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["3", "1"]
