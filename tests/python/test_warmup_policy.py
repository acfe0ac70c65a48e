"""WarmupPolicy: two members stored on the class, representation, int(), equality
with members and integers, and nothing else (no constructor, hash, order or index)."""
import gc
import operator
import pickle
import sys

import pytest

from _vorn import WarmupPolicy

FIRST, FULL = WarmupPolicy.FIRST_VALUE, WarmupPolicy.FULL_WINDOW


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class BadIndex:
    def __index__(self):
        raise RuntimeError("no index")


def test_members_are_made_once_and_stored_on_the_class():
    assert WarmupPolicy.FIRST_VALUE is WarmupPolicy.FIRST_VALUE
    assert WarmupPolicy.FULL_WINDOW is FULL
    assert type(FIRST) is WarmupPolicy and type(FULL) is WarmupPolicy
    assert [name for name in vars(WarmupPolicy) if not name.startswith("_")] == ["FIRST_VALUE", "FULL_WINDOW"]
    assert WarmupPolicy.__doc__ == "Window-indicator warm-up behavior."
    assert WarmupPolicy.__text_signature__ is None
    assert repr(WarmupPolicy) == "<class 'WarmupPolicy'>"
    with pytest.raises(AttributeError):
        FIRST.value = 1


def test_representation_and_int():
    assert repr(FIRST) == "WarmupPolicy.FIRST_VALUE"
    assert repr(FULL) == "WarmupPolicy.FULL_WINDOW"
    assert str(FULL) == "WarmupPolicy.FULL_WINDOW"
    assert f"{FIRST}" == "WarmupPolicy.FIRST_VALUE"
    assert int(FIRST) == 0 and type(int(FIRST)) is int
    assert int(FULL) == 1


def test_equality_with_members_and_integers():
    # (left, right, ==)
    rows = [
        (FIRST, FIRST, True), (FULL, FULL, True), (FIRST, FULL, False),
        (FIRST, 0, True), (FULL, 1, True), (FULL, 2, False), (FIRST, -1, False),
        (FULL, True, True), (FIRST, False, True), (FIRST, True, False),
        (FULL, Index(1), True), (FULL, Index(0), False),
        (0, FIRST, True), (True, FULL, True),           # reflected through the member
        (FULL, 2**64 + 1, False), (FULL, -2**63 - 1, False),  # outside i64: no conversion
        (FULL, 1.0, False), (FIRST, "first_value", False), (FIRST, None, False), (FULL, [1], False),
        (FULL, BadIndex(), False),
    ]
    for left, right, equal in rows:
        assert (left == right) is equal, (left, right)
        assert (left != right) is (not equal), (left, right)
    assert (FULL != FIRST) is True


def test_ordering_hashing_index_and_arithmetic_are_refused():
    for left, right in [(FIRST, FULL), (FIRST, 1), (0, FULL), (FULL, 1.5)]:
        for compare in (operator.lt, operator.le, operator.gt, operator.ge):
            with pytest.raises(TypeError):
                compare(left, right)
    for call in (lambda: hash(FIRST), lambda: {FULL}, lambda: {FIRST: 1}, lambda: operator.index(FULL),
                 lambda: [0, 1][FULL], lambda: FULL + 1, lambda: -FULL, lambda: range(FULL)):
        with pytest.raises(TypeError):
            call()
    assert WarmupPolicy.__hash__ is None
    with pytest.raises((TypeError, pickle.PicklingError)):
        pickle.dumps(FIRST)


def test_no_constructor():
    for call in (lambda: WarmupPolicy(), lambda: WarmupPolicy(1), lambda: WarmupPolicy(value=0)):
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == "No constructor defined for WarmupPolicy"


def test_reference_counts_stay_flat():
    gc.collect()  # objects left by earlier tests must not be freed while counting
    one, index = 1, Index(1)
    watched = (FIRST, FULL, one, index, WarmupPolicy)
    before = [sys.getrefcount(o) for o in watched]
    for _ in range(5000):
        assert FULL == one and FULL == index and not FULL == "x" and FIRST != FULL
        repr(FULL), int(FIRST)
        with pytest.raises(TypeError):
            WarmupPolicy()
    assert [sys.getrefcount(o) for o in watched] == before
