"""The validity question of a fit: the regression of a criterion on
predictors, and the increment of added predictors over a base set, in the
corrected matrix with the fit's own intervals. The library resolves the
question (tolbe._core's Request.question) and computes its values."""
from __future__ import annotations

import math
import os
import sys
import warnings
from typing import Any, List, NamedTuple, Optional, Sequence, Union

import numpy as np

from . import _arguments as _a
from . import _core
from ._errors import TolbeNote, _fail, _label, _refuse
from ._fit import Lawley, _interval_text


Variables = Union[Sequence[Union[str, int]], str, int, None]


class _Values(NamedTuple):
    estimate: np.ndarray
    se: np.ndarray
    lower: np.ndarray
    upper: np.ndarray
    failed_resamples: Optional[int]
    note: Optional[str]


def _at(k: int, part: str) -> int:
    """Where a part of the values of k predictors starts (the library's
    layout)."""
    return _core.validity_offset(k, getattr(_core, "VALIDITY_" + part))


def _validity_values(fit: Lawley, criterion: Any, predictors: Any, added: Any = None,
                     increment: bool = False) -> "tuple[_Values, int, List[int], int]":
    """The validity values of the question, resolved by the library: the
    criterion and the predictors (a regression), or the base set and the
    predictors added to it (an increment)."""
    if not isinstance(fit, Lawley):
        _fail("'fit' must be what lawley() returns")
    pr = fit._pr
    first = "'base'" if increment else "'predictors'"
    if increment:  # both are needed: an empty one is refused as such
        predictors = [] if predictors is None else predictors
        added = [] if added is None else added
    info = fit.interval or {}
    bootstrap = info.get("method") == "bootstrap"
    refusal, y, x, base, summary, *values, note = pr.request.ask(
        pr.v, pr.s, fit._data, fit._pool, info.get("seed") or 0 if bootstrap else 0,
        _a._variables(criterion, "'criterion'"), _a._variables(predictors, first),
        _a._variables(added, "'added'"))
    if refusal is not None:
        _refuse(refusal, pr.names)
    failed = summary["failed_resamples"] if bootstrap else None
    if note:
        warnings.warn(TolbeNote(note, "small_sample_intervals", "note"),
                      stacklevel=_outside_the_package())
    return _Values(*values, failed, note or None), y, x, base


def _outside_the_package() -> int:
    """The stack level of the first caller outside this package, seen from
    the function that calls this one: a note points at the user's line,
    whether it called lawley_regression() or Lawley.regression()."""
    package = os.path.dirname(os.path.abspath(__file__))
    frame = sys._getframe(1)
    level = 1
    while frame is not None and os.path.dirname(
            os.path.abspath(frame.f_code.co_filename)) == package:
        frame = frame.f_back
        level += 1
    return level


def _rows(values: _Values, at: Sequence[int], terms: Sequence[str]) -> List[dict]:
    return [{"term": t, "estimate": float(values.estimate[k]), "std_error": float(values.se[k]),
             "conf_low": float(values.lower[k]), "conf_high": float(values.upper[k])}
            for t, k in zip(terms, at)]


def _tidy(values: _Values, at: Sequence[int], terms: Sequence[str]) -> Any:
    rows = _rows(values, at, terms)
    if _a._pd is None:
        return rows
    return _a._pd.DataFrame(rows, columns=["term", "estimate", "std_error", "conf_low",
                                           "conf_high"])


class Regression:
    """The regression of a criterion on predictors in the corrected matrix
    (lawley_regression()). Each part is a tidy table (term, estimate,
    std_error, conf_low, conf_high): b (with the intercept when the fit
    has means), beta, r (the corrected validities), operational (the
    validities with the criterion made reliable; None without its
    reliability), R, R2, operational_R; coefficients maps terms to b;
    note, the library's note on a small sample's delta intervals (also
    raised as TolbeNote), or None; version is the library's."""

    version: str = _core.version()

    def __init__(self, fit: Lawley, values: _Values, y: int, x: List[int]) -> None:
        pr = fit._pr
        k = len(x)
        labels = [_label(pr.names, v) for v in x]
        self.criterion = _label(pr.names, y)
        self.predictors = labels
        self.interval = fit.interval
        self.failed_resamples = values.failed_resamples
        self.note = values.note
        reliabilities = fit.reliabilities or {}
        key = pr.names[y] if pr.names is not None else y
        self.reliability = reliabilities.get(key)
        self.values = values
        b = _rows(values, range(_at(k, "B"), _at(k, "BETA")), labels)
        if fit._means is not None:
            # mean_y - b'mean_X in the unrestricted population; the library
            # gives no SE for it.
            intercept = float(fit._means[y] - sum(values.estimate[j] * fit._means[v]
                                                  for j, v in enumerate(x)))
            b.insert(0, {"term": "(Intercept)", "estimate": intercept, "std_error": math.nan,
                         "conf_low": math.nan, "conf_high": math.nan})
        self.coefficients = {r["term"]: r["estimate"] for r in b}
        self.b = _a._pd.DataFrame(b) if _a._pd is not None else b
        self.beta = _tidy(values, range(_at(k, "BETA"), _at(k, "VALIDITY")), labels)
        self.r = _tidy(values, range(_at(k, "VALIDITY"), _at(k, "OPERATIONAL_VALIDITY")), labels)
        operational = self.reliability is not None
        self.operational = (_tidy(values, range(_at(k, "OPERATIONAL_VALIDITY"), _at(k, "R2")), labels)
                            if operational else None)
        self.R2 = _tidy(values, [_at(k, "R2")], ["R2"])
        self.R = _tidy(values, [_at(k, "R")], ["R"])
        self.operational_R = (_tidy(values, [_at(k, "OPERATIONAL_R")], ["operational R"])
                              if operational else None)

    def table(self) -> Any:
        """Every value as one tidy table: b, then beta:, r:, operational:
        per predictor, then R2, R and operational R."""
        parts = [(self.b, ""), (self.beta, "beta:"), (self.r, "r:"),
                 (self.operational, "operational:"), (self.R2, ""), (self.R, ""),
                 (self.operational_R, "")]
        rows = []
        for part, prefix in parts:
            if part is None:
                continue
            records = part.to_dict("records") if _a._pd is not None else part
            for r in records:
                rows.append({**r, "term": prefix + r["term"]})
        return _a._pd.DataFrame(rows) if _a._pd is not None else rows

    def __repr__(self) -> str:
        head = (f"Regression of {self.criterion} on {', '.join(self.predictors)} in the corrected "
                "matrix\n" + (_interval_text(self.interval) if self.interval else "no intervals"))
        return head + "\n" + str(self.table()) + (f"\nnote: {self.note}" if self.note else "")


class Increment:
    """The increment of added predictors over a base set
    (lawley_increment()): delta_R, delta_R2, R, R2 and base_R2, each a tidy
    table; note, the library's note on a small sample's delta intervals
    (also raised as TolbeNote), or None; version is the library's."""

    version: str = _core.version()

    def __init__(self, fit: Lawley, values: _Values, y: int, x: List[int], base: int) -> None:
        pr = fit._pr
        k = len(x)
        self.criterion = _label(pr.names, y)
        self.base = [_label(pr.names, v) for v in x[:base]]
        self.added = [_label(pr.names, v) for v in x[base:]]
        self.interval = fit.interval
        self.failed_resamples = values.failed_resamples
        self.note = values.note
        self.values = values
        self._k = k
        self.delta_R = _tidy(values, [_at(k, "DELTA_R")], ["delta R"])
        self.delta_R2 = _tidy(values, [_at(k, "DELTA_R2")], ["delta R2"])
        self.R = _tidy(values, [_at(k, "R")], ["R"])
        self.R2 = _tidy(values, [_at(k, "R2")], ["R2"])
        self.base_R2 = _tidy(values, [_at(k, "BASE_R2")], ["base R2"])

    def table(self) -> Any:
        return _tidy(self.values, [_at(self._k, p) for p in ("BASE_R2", "R2", "DELTA_R2", "R",
                                                               "DELTA_R")],
                     ["base R2", "R2", "delta R2", "R", "delta R"])

    def __repr__(self) -> str:
        return (f"Increment of {', '.join(self.added)} over {', '.join(self.base)} in predicting "
                f"{self.criterion} (corrected matrix)\n" + str(self.table()) +
                (f"\nnote: {self.note}" if self.note else ""))


def lawley_regression(fit: Lawley, criterion: Union[str, int],
                      predictors: Variables = None) -> Regression:
    """The regression of `criterion` on `predictors` (names or numbers from
    0) in the corrected matrix: weights, R, R2 and the operational
    validities, with SEs and intervals by the fit's own method (the same
    resamples for a bootstrap). Without `predictors`, every variable but
    the criterion and the criteria (those with a reliability given, or
    named in lawley()'s `criteria`): a criterion is never a predictor
    unless named.

    No interval of R2, R or the operational R passes below 0: by the delta
    methods they are Fisher's interval of R, cut at 0 (squared for R2);
    by the bootstrap the percentile interval, also where BCa was asked.
    Below 250 restricted rows the delta intervals come with a TolbeNote
    that they cover less than their level (kept as .note).

    >>> import numpy as np, tolbe
    >>> v = np.array([[1.0, 0.5, 0.3], [0.5, 1.0, 0.4], [0.3, 0.4, 1.0]])
    >>> fit = tolbe.lawley(v, [[1.44, 0.6], [0.6, 1.21]], diagnostics=False)
    >>> reg = tolbe.lawley_regression(fit, 2, [0, 1])
    >>> round(float(reg.R.estimate[0]), 4)
    0.4529
    """
    values, y, x, _ = _validity_values(fit, criterion, predictors)
    return Regression(fit, values, y, x)


def lawley_increment(fit: Lawley, criterion: Union[str, int], base: Any, added: Any) -> Increment:
    """The increment in R and R2 of adding `added` to the predictors `base`
    in predicting `criterion` (incremental validity), in the corrected
    matrix, with the fit's intervals. The intervals of delta R2, delta R
    and the base set's R2 keep at or above 0: by the delta methods
    Fisher's interval of their square root, cut at 0 and squared; by the
    bootstrap the percentile interval, also where BCa was asked."""
    values, y, x, at = _validity_values(fit, criterion, base, added, increment=True)
    return Increment(fit, values, y, x, at)


