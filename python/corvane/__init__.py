"""Corvane: the deterministic engine of a benchmark for trading agents."""

from . import corvane_py as _native
from .corvane_py import *  # noqa: F401,F403  (the native API, re-exported)
from .corvane_py import (  # noqa: F401
    EVAL_SEED_BASE,
    MIN_SEALED_SALT_BYTES,
    CorvaneError,
    DataUnavailable,
    EngineFailure,
    InvalidArgument,
    InvalidJson,
    InvalidSalt,
    spec_hash,
)

# The tape semantics this package was written against. A native module that
# produces different bytes for the same inputs must not run under it.
EXPECTED_SPEC_HASH = "460811a8d810c454"

if _native.spec_hash() != EXPECTED_SPEC_HASH:
    raise ImportError(
        f"corvane: native module spec_hash {_native.spec_hash()!r} does not match the "
        f"package's {EXPECTED_SPEC_HASH!r}; reinstall the package"
    )

__all__ = [name for name in dir(_native) if not name.startswith("_")]
__version__ = "0.1.0"
