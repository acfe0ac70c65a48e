"""The binding kit on its own, through the probe module built from binding_probe.cpp
and the kit's sources: argument binding, converters, docstrings, borrows and the
translation of C++ failures."""
import concurrent.futures
import gc
import importlib.util
import inspect
import os
import pathlib
import shutil
import subprocess
import sys
import sysconfig

import pytest

from helpers import raised

ROOT = pathlib.Path(__file__).resolve().parents[2]
SOURCES = [
    ROOT / "tests/python/binding_probe.cpp",
    ROOT / "python/binding.cpp",
    ROOT / "python/arguments.cpp",
    ROOT / "python/classes.cpp",
    ROOT / "engine/panic.cpp",
]


@pytest.fixture(scope="module")
def probe(tmp_path_factory):
    compiler = os.environ.get("CXX") or shutil.which("g++") or shutil.which("c++")
    assert compiler, "a C++ compiler is needed to build the probe module"
    out = tmp_path_factory.mktemp("probe")
    flags = ["-std=c++23", "-O0", "-fPIC", "-Wall", "-Wextra", "-DFMT_HEADER_ONLY",
             f"-I{ROOT}", f"-I{sysconfig.get_paths()['include']}"]

    def compile_one(source):
        target = out / (source.stem + ".o")
        result = subprocess.run([compiler, *flags, "-c", str(source), "-o", str(target)],
                                capture_output=True, text=True)
        assert result.returncode == 0, result.stderr
        return str(target)

    with concurrent.futures.ThreadPoolExecutor(max_workers=len(SOURCES)) as pool:
        objects = list(pool.map(compile_one, SOURCES))
    library = out / "_binding_probe.abi3.so"
    result = subprocess.run([compiler, "-shared", *objects, "-o", str(library)],
                            capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    spec = importlib.util.spec_from_file_location("_binding_probe", library)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


# ---- binding: positional, keyword-only, defaults --------------------------------------


def test_positional_and_keyword_arguments_bind_to_their_parameters(probe):
    p = probe.Probe()
    assert p.texts("a") == ("a", "price", None)
    assert p.texts(name="a") == ("a", "price", None)
    assert p.texts("a", source="volume", id="x") == ("a", "volume", "x")
    assert p.texts(id="x", name="a") == ("a", "price", "x")
    # Keywords built at run time are not interned: matched by value.
    assert p.texts(**{"".join(["na", "me"]): "b"}) == ("b", "price", None)
    assert probe.Probe.integers(1, 2, 3) == (1, 2, 3, None)
    assert probe.Probe.integers(1, 2, 3, 4) == (1, 2, 3, 4)
    assert probe.Probe.integers(size=4, unsigned=3, signed=2, small=1) == (1, 2, 3, 4)


def test_binding_errors_name_the_function_and_the_arguments(probe):
    p = probe.Probe()
    rows = [
        (lambda: p.texts(), "texts() missing 1 required positional argument: 'name'"),
        (lambda: probe.Probe.integers(1), "integers() missing 2 required positional arguments: "
                                          "'signed' and 'unsigned'"),
        (lambda: probe.Probe.integers(), "integers() missing 3 required positional arguments: "
                                         "'small', 'signed', and 'unsigned'"),
        (lambda: p.texts("a", "volume"), "texts() takes 1 positional argument but 2 were given"),
        (lambda: probe.Probe.integers(1, 2, 3, 4, 5),
         "integers() takes from 3 to 4 positional arguments but 5 were given"),
        (lambda: p.texts("a", name="b"), "texts() got multiple values for argument 'name'"),
        (lambda: p.texts("a", sauce="x"), "texts() got an unexpected keyword argument 'sauce'"),
        (lambda: probe.Probe(1), "Probe() takes 0 positional arguments but 1 was given"),
    ]
    for call, message in rows:
        assert raised(TypeError, call) == message


def test_a_call_shape_binds_and_fails_alike_every_time(probe):
    p = probe.Probe()
    for _ in range(3):  # each call site twice in a row, so that the second call repeats the first's shape
        # Equal keyword-name tuples of one function are one object, whatever the positions.
        assert p.texts("a", id="x") == p.texts("a", id="x") == ("a", "price", "x")
        for _ in range(2):
            with pytest.raises(TypeError) as missing:
                p.texts(id="x")
            assert str(missing.value) == "texts() missing 1 required positional argument: 'name'"
            with pytest.raises(TypeError) as surplus:
                p.texts("a", "b", id="x")
            assert str(surplus.value) == "texts() takes 1 positional argument but 2 were given"
        assert p.texts(id="y", name="b") == p.texts(id="y", name="b") == ("b", "price", "y")
        assert p.texts("c", source="volume", id="z") == p.texts("c", source="volume", id="z") == ("c", "volume", "z")
        assert p.texts("c", id="z", source="volume") == p.texts("c", id="z", source="volume") == ("c", "volume", "z")
        for _ in range(2):
            with pytest.raises(TypeError) as repeated:
                p.texts("a", id="x", name="b")
            assert str(repeated.value) == "texts() got multiple values for argument 'name'"


def test_keyword_only_parameters_refuse_positions(probe):
    assert raised(TypeError, lambda: probe.Probe.reals(1.0, 2.0)) == \
        "reals() takes 1 positional argument but 2 were given"
    assert probe.Probe.reals(1.0, other=2.0) == (1.0, 2.0)
    assert probe.Probe(label="x").changes() == (0, "x")


def test_text_defaults_refuse_none_and_none_defaults_mean_absent(probe):
    p = probe.Probe()
    assert raised(TypeError, lambda: p.texts("a", source=None)) == \
        "argument 'source': 'NoneType' object cannot be converted to 'PyString'"
    assert raised(TypeError, lambda: probe.Probe(label=None)) == \
        "argument 'label': 'NoneType' object cannot be converted to 'PyString'"
    assert probe.Probe().changes() == (0, "plain")
    assert p.texts("a", id=None) == ("a", "price", None)
    assert probe.Probe.integers(1, 2, 3, None) == (1, 2, 3, None)
    assert probe.Probe.reals(1, other=None) == (1.0, None)
    assert probe.Probe.lists([], [], None) == ([], [], None)
    assert probe.Probe.mapping(entries=None) is None
    assert probe.Probe.mapping() is None


# ---- converters ----------------------------------------------------------------------


def test_texts_keep_their_byte_length(probe):
    p = probe.Probe()
    assert p.texts("a\0b", source="\0", id="caf\u00e9\U0001f600") == ("a\0b", "\0", "caf\u00e9\U0001f600")

    class Name(str):
        pass

    assert p.texts(Name("sub")) == ("sub", "price", None)
    for value, type_name in [(1, "int"), (b"a", "bytes"), (1.5, "float"), (["a"], "list")]:
        assert raised(TypeError, lambda: p.texts(value)) == \
            f"argument 'name': '{type_name}' object cannot be converted to 'PyString'"
    # A lone surrogate has no UTF-8 form: the interpreter's error, unprefixed.
    with pytest.raises(UnicodeEncodeError):
        p.texts("\ud800")


def test_integers_use_the_index_protocol_and_their_ranges(probe):
    class Index:
        def __index__(self):
            return 7

    integers = probe.Probe.integers
    assert integers(255, -2**63, 2**64 - 1, 2**64 - 1) == (255, -2**63, 2**64 - 1, 2**64 - 1)
    assert integers(0, 2**63 - 1, 0, 0) == (0, 2**63 - 1, 0, 0)
    for stamp in (1_700_000_000_123, -1_700_000_000_123, 2**62 + 1, -2**62 - 1, 2**31, -2**31):
        assert integers(0, stamp, 0) == (0, stamp, 0, None)
    assert integers(True, False, Index(), Index()) == (1, 0, 7, 7)
    overflow = [
        ((256, 0, 0), "int too big to convert"),
        ((-1, 0, 0), "can't convert negative int to unsigned"),
        ((0, -2**63 - 1, 0), "int too big to convert"),
        ((0, 2**63, 0), "int too big to convert"),
        ((0, 2**100, 0), "int too big to convert"),
        ((0, 0, 2**64), "int too big to convert"),
    ]
    for args, message in overflow:
        assert raised(OverflowError, lambda: integers(*args)) == message
    assert raised(OverflowError, lambda: integers(0, 0, 0, -1)) == "can't convert negative int to unsigned"
    wrong = [
        ((1.0, 0, 0), "small", "float"),
        ((0, 0, None), "unsigned", "NoneType"),
        ((0, 0, 0, 2.5), "size", "float"),
    ]
    for args, name, type_name in wrong:
        assert raised(TypeError, lambda: integers(*args)) == \
            f"argument '{name}': '{type_name}' object cannot be interpreted as an integer"


def test_reals_use_the_float_conversion(probe):
    class Real:
        def __float__(self):
            return 2.5

    reals = probe.Probe.reals
    assert reals(1) == (1.0, None)
    assert reals(Real(), other=True) == (2.5, 1.0)
    assert raised(OverflowError, lambda: reals(10**400)) == "int too large to convert to float"
    assert raised(TypeError, lambda: reals("1.0")) == "argument 'value': must be real number, not str"
    assert raised(TypeError, lambda: reals(1.0, other=[1])) == \
        "argument 'other': must be real number, not list"


def test_sequences_accept_any_sequence_but_a_str(probe):
    lists = probe.Probe.lists
    assert lists([3, 1, 2], [("a", "b"), ["c", "d"]]) == ([3, 1, 2], [("a", "b"), ("c", "d")], None)
    assert lists((5,), (("p", "q"),), (0, 1.5)) == ([5], [("p", "q")], (0.0, 1.5))
    assert lists(range(3), []) == ([0, 1, 2], [], None)
    rows = [
        ((("12",), []), TypeError, "argument 'counts': 'str' object cannot be interpreted as an integer"),
        (("12", []), TypeError, "argument 'counts': Can't extract `str` to `Vec`"),
        ((5, []), TypeError, "argument 'counts': 'int' object cannot be converted to 'Sequence'"),
        ((None, []), TypeError, "argument 'counts': 'NoneType' object cannot be converted to 'Sequence'"),
        (([1, -1], []), OverflowError, "can't convert negative int to unsigned"),
        (([], ["ab"]), TypeError, "argument 'pairs': 'str' object cannot be converted to 'Sequence'"),
        (([], [("a",)]), ValueError, "expected a sequence of length 2 (got 1)"),
        (([], [("a", 1)]), TypeError, "argument 'pairs': 'int' object cannot be converted to 'PyString'"),
        (([], [], [0, 1]), TypeError, "argument 'clip': 'list' object cannot be converted to 'PyTuple'"),
        (([], [], (0, 1, 2)), ValueError, "expected tuple of length 2, but got tuple of length 3"),
        (([], [], (0, "1")), TypeError, "argument 'clip': must be real number, not str"),
    ]
    for args, exception, message in rows:
        assert raised(exception, lambda: lists(*args)) == message, args
    # Arguments are converted in order: the first bad one wins.
    assert raised(TypeError, lambda: lists("x", "y", [])) == "argument 'counts': Can't extract `str` to `Vec`"


def test_custom_sequences_are_read_by_iteration_and_their_errors_pass(probe):
    class Items:
        def __init__(self, items, fail_at=None, error=RuntimeError):
            self.items, self.fail_at, self.error = items, fail_at, error

        def __len__(self):
            return 10**12  # a wrong length reserves nothing huge

        def __getitem__(self, index):
            if index == self.fail_at:
                raise self.error("no item")
            if index >= len(self.items):
                raise IndexError(index)
            return self.items[index]

    class Pair:
        def __len__(self):
            return 2

        def __getitem__(self, index):
            return "ab"[index]

    assert probe.Probe.lists(Items([4, 5]), Items([Pair()])) == ([4, 5], [("a", "b")], None)
    assert raised(RuntimeError, lambda: probe.Probe.lists(Items([4, 5], fail_at=1), [])) == "no item"
    assert raised(TypeError, lambda: probe.Probe.lists(Items([4], fail_at=1, error=TypeError), [])) == \
        "argument 'counts': no item"


def test_dicts(probe):
    class Sub(dict):
        pass

    assert probe.Probe.mapping(entries={"a": 1}) == 1
    assert probe.Probe.mapping(entries=Sub(a=1, b=2)) == 2
    assert raised(TypeError, lambda: probe.Probe.mapping(entries=[("a", 1)])) == \
        "argument 'entries': 'list' object cannot be converted to 'PyDict'"


# ---- docstrings ------------------------------------------------------------------------


def test_docstrings_carry_text_signatures(probe):
    P = probe.Probe
    rows = [
        (P.texts, "(self, /, name, *, source='price', id=None)", "Echoes (name, source, id)."),
        (P.integers, "(small, signed, unsigned, size=None)", "Echoes a u8, an i64, a u64 and an optional size."),
        (P.lists, "(counts, pairs, clip=None)",
         "Echoes u64 counts, (str, str) pairs and an optional 2-tuple of floats."),
        (P.mapping, "(*, entries=None)", "The size of a dict, or None."),
        (P.changes, "(self, /)", "The number of changes."),
        (P, "(*, label='plain')", "A probe of the binding kit."),
    ]
    for function, signature, doc in rows:
        assert str(inspect.signature(function)) == signature
        assert function.__doc__ == doc
    assert P.texts.__text_signature__ == '($self, name, *, source="price", id=None)'
    assert str(inspect.signature(P().texts)) == "(name, *, source='price', id=None)"


# ---- borrows ---------------------------------------------------------------------------


def test_a_conflicting_borrow_is_refused_before_anything_changes(probe):
    p = probe.Probe()
    refusals = []

    def attempt(call):
        try:
            call()
        except RuntimeError as error:
            refusals.append(str(error))

    # Exclusive held: both a shared and another exclusive borrow are refused.
    p.mutate(lambda: attempt(p.changes))
    p.mutate(lambda: attempt(lambda: p.mutate(lambda: None)))
    assert refusals == ["Already mutably borrowed", "Already borrowed"]
    assert p.changes() == (2, "plain")  # the refused inner mutate counted nothing

    # Shared held: more shared borrows pass, an exclusive one is refused.
    assert p.read_with(lambda: p.read_with(p.changes)) == (2, "plain")
    refusals.clear()
    p.read_with(lambda: attempt(lambda: p.mutate(lambda: None)))
    assert refusals == ["Already borrowed"]
    assert p.changes() == (2, "plain")

    # Another object is independent, and every borrow is released on error.
    other = probe.Probe()
    assert p.mutate(lambda: other.mutate(lambda: "inner")) == "inner"
    with pytest.raises(ZeroDivisionError):
        p.mutate(lambda: 1 / 0)
    with pytest.raises(ZeroDivisionError):
        p.read_with(lambda: 1 / 0)
    assert p.changes() == (3, "plain")
    assert p.mutate(lambda: None) is None


def test_object_arguments_and_borrows_of_two_objects(probe):
    p, q = probe.Probe(), probe.Probe()
    q.mutate(lambda: None)
    p.absorb(q)
    p.absorb(other=q)
    assert p.changes() == (2, "plain")
    # The receiver is borrowed exclusively, so it cannot be its own source.
    assert raised(RuntimeError, lambda: p.absorb(p)) == "Already mutably borrowed"
    assert raised(TypeError, lambda: p.absorb(5)) == \
        "argument 'other': 'int' object cannot be converted to 'Probe'"
    assert p.changes() == (2, "plain")


def test_properties_with_setters(probe):
    p = probe.Probe()
    p.label = "renamed"
    assert p.label == "renamed" and p.label_read_only == "renamed"
    assert raised(TypeError, lambda: setattr(p, "label", 5)) == \
        "argument 'value': 'int' object cannot be converted to 'PyString'"
    with pytest.raises(AttributeError) as info:
        del p.label
    assert str(info.value) == "can't delete attribute"
    with pytest.raises(AttributeError):
        p.label_read_only = "x"
    # Assigning while the object is borrowed is refused, and changes nothing.
    assert raised(RuntimeError, lambda: p.read_with(lambda: setattr(p, "label", "x"))) == "Already borrowed"
    assert p.label == "renamed"
    assert probe.Probe.label.__doc__ == "The probe's label."


# ---- failures --------------------------------------------------------------------------


def test_cpp_failures_become_python_exceptions(probe):
    assert issubclass(probe.PanicException, BaseException)
    assert not issubclass(probe.PanicException, Exception)
    assert raised(probe.PanicException, lambda: probe.Probe.fail("panic")) == "invariant broken: probe"
    assert raised(probe.PanicException, lambda: probe.Probe.fail("other")) == "a stray exception"
    assert raised(probe.PanicException, lambda: probe.Probe.fail("unknown")) == "unknown internal error"
    assert raised(ValueError, lambda: probe.Probe.fail("parser")) == "parser says no"
    with pytest.raises(MemoryError):
        probe.Probe.fail("memory")


def test_reference_counts_stay_stable(probe):
    gc.collect()  # objects left by earlier tests must not be freed while counting
    p = probe.Probe(label="x")
    name, pairs, counts = "n", [("a", "b")], [1, 2]
    before = [sys.getrefcount(o) for o in (name, pairs, counts, probe.Probe, p)]
    for _ in range(2000):
        p.texts(name, source=name)
        probe.Probe.lists(counts, pairs, (1, 2))
        for bad in (lambda: p.texts(1), lambda: probe.Probe.lists(counts, [("a",)]),
                    lambda: probe.Probe.lists("s", pairs), lambda: p.texts(name, bogus=1)):
            with pytest.raises((TypeError, ValueError)):
                bad()
        probe.Probe(label=name)
    after = [sys.getrefcount(o) for o in (name, pairs, counts, probe.Probe, p)]
    assert after == before
