"""correct_r(): one observed validity coefficient per study corrected for
range restriction and unreliability by the library's formulas
(tolbe/univariate.h), broadcast over its arguments."""
from __future__ import annotations

import warnings
from typing import Any

import numpy as np

from . import _arguments as _a
from . import _core
from ._errors import TolbeWarning, _fail

_METHODS = {"none": 0, "direct": 1, "indirect": 2, "bivariate_indirect": 3}
_SAMPLES = {"restricted": 0, "unrestricted": 1}


def correct_r(r: Any, n: Any = None, method: str = "direct", ux: Any = None, uy: Any = None,
              rxx: Any = None, ryy: Any = None, rxx_sample: Any = "unrestricted",
              ryy_sample: Any = "restricted", sign_xz: Any = 1, sign_yz: Any = 1,
              level: float = 0.95) -> Any:
    """Corrects observed correlations `r` among incumbents, one per study,
    for range restriction and unreliability: `method` "direct" (Case II),
    "indirect" (Case IV: needs rxx), "bivariate_indirect" (Case V: needs
    ux, uy and rxx) or "none" (disattenuation only). ux and uy are the
    ratios of the incumbents' to the applicants' SDs; rxx and ryy the
    reliabilities, of the group rxx_sample / ryy_sample says. Arguments
    broadcast; returns a DataFrame (a dict of arrays without pandas) with
    one row per study: the inputs, rho_operational and rho_true with their
    SE (with n), lower and upper bounds, ut, up and problem (None, or why a
    study could not be corrected, also raised as TolbeWarning).

    >>> import tolbe
    >>> out = tolbe.correct_r(0.25, n=120, ux=0.6, ryy=0.52)
    >>> round(float(out["rho_operational"][0]), 4)
    0.5245
    """
    if method not in _METHODS:
        _fail("'method' must be one of " + ", ".join(repr(m) for m in _METHODS))
    for name, value in (("rxx_sample", rxx_sample), ("ryy_sample", ryy_sample)):
        if not all(v in _SAMPLES for v in np.atleast_1d(np.asarray(value, dtype=object))):
            _fail(f"'{name}' must be \"restricted\" or \"unrestricted\"")
    nan = float("nan")

    def numbers(name: str, value: Any, missing: float) -> np.ndarray:
        if value is None:
            return np.asarray(missing, dtype=float)
        try:
            return np.asarray(value, dtype=float)
        except (TypeError, ValueError):
            _fail(f"'{name}' must be numbers")
            raise  # not reached

    given = {"r": numbers("r", r, nan), "n": numbers("n", n, 0.0), "ux": numbers("ux", ux, nan),
             "uy": numbers("uy", uy, nan), "rxx": numbers("rxx", rxx, nan),
             "ryy": numbers("ryy", ryy, nan),
             "rxx_sample": np.vectorize(_SAMPLES.get, otypes=[int])(np.asarray(rxx_sample)),
             "ryy_sample": np.vectorize(_SAMPLES.get, otypes=[int])(np.asarray(ryy_sample)),
             "sign_xz": numbers("sign_xz", sign_xz, 1.0),
             "sign_yz": numbers("sign_yz", sign_yz, 1.0)}
    try:
        columns = dict(zip(given, np.broadcast_arrays(*[np.atleast_1d(v) for v in given.values()])))
    except ValueError:
        _fail("the arguments' lengths do not broadcast to one")
    columns = {k: np.ravel(v) for k, v in columns.items()}
    counts = np.nan_to_num(columns["n"], nan=0.0)
    problems, results = _core.correct_studies(
        columns["r"], counts.astype(np.int32), _METHODS[method], columns["ux"], columns["uy"],
        columns["rxx"], columns["ryy"], columns["rxx_sample"].astype(np.int32),
        columns["ryy_sample"].astype(np.int32), columns["sign_xz"].astype(np.int32),
        columns["sign_yz"].astype(np.int32), float(level))
    out = {"r": columns["r"], "n": counts.astype(int), "ux": columns["ux"], "uy": columns["uy"],
           "rxx": columns["rxx"], "ryy": columns["ryy"],
           "rxx_sample": np.where(columns["rxx_sample"] == 0, "restricted", "unrestricted"),
           "ryy_sample": np.where(columns["ryy_sample"] == 0, "restricted", "unrestricted"),
           **{k: np.asarray(v) for k, v in results.items()},
           "problem": np.asarray(problems, dtype=object), "method": method}
    for problem in dict.fromkeys(p for p in problems if p is not None):
        rows = [k for k, p in enumerate(problems) if p == problem]
        where = ("study " if len(rows) == 1 else "studies ") + ", ".join(map(str, rows))
        warnings.warn(TolbeWarning(f"{where}: {_core.study_problem_message(problem)}", problem,
                                   "warning", tuple(rows)), stacklevel=2)
    if _a._pd is None:
        return out
    return _a._pd.DataFrame(out)
