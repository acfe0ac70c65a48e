"""Shared test helpers."""
import pytest


def raised(exception, call):
    """The message of the exception that `call()` raises, which must be exactly `exception`."""
    with pytest.raises(exception) as info:
        call()
    assert type(info.value) is exception
    return str(info.value)
