"""lawley(): the arguments as the user gave them, resolved and checked, the
correction, and the result object.

The library (tolbe._core, over its C API) computes and finds; this module
checks only what Python's arguments add (types, sizes, names, NaN) and
words the library's refusals, in the words the program and the R package
use. Variables are numbered from 0 here, as everything in Python is; the
library's messages name unnamed variables as "variable N" with N from 1,
as everywhere else.
"""
from __future__ import annotations

import collections.abc
import math
import numbers
import random
import warnings
from typing import (Any, Dict, List, Mapping, NamedTuple, NoReturn, Optional, Sequence, Tuple,
                    Union)

import numpy as np

from . import _core

try:  # pandas is optional: with it, names and tidy tables.
    import pandas as _pd
except ImportError:  # pragma: no cover - the tests run with pandas
    _pd = None

__all__ = [
    "lawley",
    "lawley_regression",
    "lawley_increment",
    "cor2cov",
    "Lawley",
    "Regression",
    "Increment",
    "Finding",
    "TolbeError",
    "TolbeWarning",
    "TolbeNote",
]

_OK, _NOT_POSITIVE_DEFINITE, _INVALID_ARGUMENT = 0, 1, 2
_NOTE, _WARNING, _ERROR = 0, 1, 2
_SEVERITY = ("note", "warning", "error")
_ARGUMENT_RESTRICTED, _ARGUMENT_UNRESTRICTED = 3, 4
_METHODS = ("none", "normal", "adf", "bootstrap")
_CI_TYPES = ("bca", "percentile")
_TRIANGLE_HINT = {
    "restricted_lower_triangle": "lower",
    "unrestricted_lower_triangle": "lower",
    "restricted_upper_triangle": "upper",
    "unrestricted_upper_triangle": "upper",
}
_LARGEST_SEED = 2**64 - 1  # the program's seeds, whose streams are the same everywhere
_REFUSED_MEMORY = -1  # _core's status of a workspace past the library's bound
_INT_MAX = 2**31 - 1

Matrix = Any  # numpy array, pandas DataFrame or nested sequences of numbers


class TolbeError(ValueError):
    """An argument tolbe cannot use, or a finding that makes the results
    certainly wrong (``code`` says which finding; ``findings`` are all of
    them). A ValueError, as the arguments' other errors."""

    def __init__(self, message: str, code: Optional[List[str]] = None,
                 findings: Optional[List["Finding"]] = None) -> None:
        super().__init__(message)
        self.code = code or []
        self.findings = findings or []


class TolbeWarning(UserWarning):
    """A finding that the numbers may be wrong (severity "warning"), or a
    note (TolbeNote). ``code`` is the finding's stable code (None for what
    the package itself says), ``variables`` the variables concerned,
    ``row`` the row of raw scores (from 0; None: none)."""

    def __init__(self, message: str, code: Optional[str] = None, severity: str = "warning",
                 variables: Tuple[Union[str, int], ...] = (), row: Optional[int] = None) -> None:
        super().__init__(message)
        self.code = code
        self.severity = severity
        self.variables = variables
        self.row = row


class TolbeNote(TolbeWarning):
    """A note: worth knowing, not a sign of wrong numbers (correlations
    beside covariances, sign changes, rows left out). Silence with
    ``warnings.simplefilter("ignore", tolbe.TolbeNote)``."""


class Finding(NamedTuple):
    """One finding of the library's checks of the input, the raw scores and
    the results. ``row`` is the row of raw scores it concerns (from 0, as
    pandas' iloc counts; the message, in the library's words, counts from
    1), None when it concerns none."""

    code: str
    severity: str
    message: str
    variables: Tuple[Union[str, int], ...]
    row: Optional[int] = None


def _fail(message: str) -> NoReturn:
    raise TolbeError(message)


# ---------------------------------------------------------------------------
# Names


def _encode(name: Optional[str]) -> Optional[bytes]:
    # Any str goes to the library's messages and comes back the same,
    # lone surrogates (bytes of another encoding read with surrogateescape)
    # included.
    return None if name is None else name.encode("utf-8", "surrogatepass")


def _decode(text: bytes) -> str:
    return text.decode("utf-8", "surrogatepass")


def _label(names: Optional[List[str]], v: int) -> str:
    """Variable v by name, else "variable N" with N from 1: the library's
    way."""
    if names is not None and names[v] != "":
        return names[v]
    return f"variable {v + 1}"


def _labels(names: Optional[List[str]], variables: Sequence[int]) -> str:
    return ", ".join(_label(names, v) for v in variables)


def _is_default_index(index: Any) -> bool:
    return isinstance(index, _pd.RangeIndex) and index.start == 0 and index.step == 1


def _unnamed_rows(index: Any) -> bool:
    """Whether row labels are only the numbers 0..n-1, as a matrix built
    from an array gets them."""
    if _is_default_index(index):
        return True
    return index.dtype.kind in "iu" and list(index) == list(range(len(index)))


def _distinct(names: Sequence[str], what: str, kind: str,
              read: Optional[Sequence[str]] = None) -> None:
    """Refuses a name given to two columns (or rows) of `what`: the first
    would silently win. Only names in `read` count, when it is given (the
    pool's other columns are not read). Places from 0, as iloc counts."""
    first: Dict[str, int] = {}
    for k, name in enumerate(names):
        if read is not None and name not in read:
            continue
        if name in first:
            _fail(f"{what}: the name \"{name}\" is given to {kind} {first[name]} and {k}")
        first[name] = k


def _frame_names(x: Any, what: str) -> Optional[List[str]]:
    """The variable names of a DataFrame var/cov matrix: its columns, else
    its index (None for the default 0..n-1 of both). Row labels that
    contradict the columns are refused: which of them names the variables
    would be a guess."""
    if not _is_default_index(x.columns):
        names = [str(c) for c in x.columns]
        _distinct(names, f"'{what}'", "columns")
        # Raw scores given as a matrix are told by their shape, rows
        # labelled by person and all.
        if x.shape[0] == x.shape[1] and not _unnamed_rows(x.index):
            rows = [str(i) for i in x.index]
            for k, (row, column) in enumerate(zip(rows, names)):
                if row != column:
                    _fail(f"'{what}': row {k} is named \"{row}\" but column {k} \"{column}\"; a "
                          "var/cov matrix has the same variables in the same order in its rows and "
                          "its columns")
        return names
    if not _is_default_index(x.index):
        names = [str(i) for i in x.index]
        _distinct(names, f"'{what}'", "rows")
        return names
    return None


def _is_frame(x: Any) -> bool:
    return _pd is not None and isinstance(x, _pd.DataFrame)


def _is_series(x: Any) -> bool:
    return _pd is not None and isinstance(x, _pd.Series)


# ---------------------------------------------------------------------------
# Matrices and numbers


def _numbers(x: Any) -> Optional[np.ndarray]:
    """`x` as float64 values, or None when it is not numbers."""
    if isinstance(x, np.ndarray) and x.dtype == np.float64:
        return x
    try:
        a = np.asarray(x)
    except (TypeError, ValueError):
        return None
    if a.dtype.kind not in "iuf":
        return None
    return a.astype(np.float64)


def _square(x: Matrix, what: str) -> Tuple[np.ndarray, Optional[List[str]]]:
    names = None
    if _is_frame(x):
        names = _frame_names(x, what)
        try:
            values = x.to_numpy(dtype=np.float64, na_value=np.nan)
        except (TypeError, ValueError):
            values = None
    else:
        values = _numbers(x)
    if values is None or values.ndim != 2:
        _fail(f"'{what}' must be a numeric matrix (or a data frame of numbers)")
    rows, columns = values.shape
    if rows > columns:
        # More rows than columns: most likely raw scores, one row per person.
        raw = "data = (not restricted =)" if what == "restricted" else "pool = (not unrestricted =)"
        _fail(f"'{what}' must be square, not {rows} x {columns}; raw scores, one row per person, "
              f"are given as {raw}")
    if rows != columns:
        _fail(f"'{what}' must be square, not {rows} x {columns}")
    if rows == 0:
        # Nothing to correct by, or nothing to correct: the results would
        # be the input, as if corrected.
        _fail(f"'{what}' has no variables (it is 0 x 0)"
              + ("; give the var/cov matrix of the selection variables, at least one"
                 if what == "unrestricted" else ""))
    return values, names


def _whole(x: Any, low: float, high: float) -> Optional[int]:
    """`x` as one whole number in [low, high], else None."""
    if isinstance(x, bool) or isinstance(x, np.bool_):
        return None
    if isinstance(x, numbers.Integral):
        value = int(x)
    elif isinstance(x, numbers.Real) and math.isfinite(float(x)) and float(x).is_integer():
        value = int(float(x))
    else:
        return None
    return value if low <= value <= high else None


def _as_list(x: Any, what: str) -> List[Any]:
    """One name or number, or a sequence of them, as a list. A set is
    refused: its order changes from one run of Python to the next (string
    hashing is salted), and so would the results."""
    if isinstance(x, (str, bytes, numbers.Number)):
        return [x]
    if isinstance(x, collections.abc.Set):
        kind = type(x).__name__
        _fail(f"{what} must be a list or tuple, not a {kind}: the order of a set (or of a "
              "set-like view) can change from one run of Python to the next, and the results "
              "with it")
    if isinstance(x, np.ndarray):
        return x.ravel().tolist()
    if _is_series(x) or _pd is not None and isinstance(x, _pd.Index):
        return list(x)
    try:
        return list(x)
    except TypeError:
        return [x]


def _variables_of(x: Any, what: str, names: Optional[List[str]], whose: str, whose_names: str,
                  q: int) -> List[int]:
    """The variables `x` names (names or numbers from 0) as indices;
    unknown variables stop, repeats are left to the caller."""
    items = _as_list(x, what)
    if all(isinstance(i, str) for i in items) and items:
        if names is None:
            _fail(f"{what} gives names, but {whose} has no {whose_names}")
        unknown = _unique([i for i in items if i not in names])
        if unknown:
            kind = "an unknown variable" if len(unknown) == 1 else "unknown variables"
            _fail(f"{what} names {kind}: {', '.join(unknown)}")
        return [names.index(i) for i in items]
    out = []
    for i in items:
        value = _whole(i, -math.inf, math.inf)
        if value is None:
            _fail(f"{what} must be variable names or whole numbers")
        if not 0 <= value < q:
            _fail(f"{what} holds numbers outside 0..{q - 1}")
        out.append(value)
    return out


def _unique(items: Sequence[Any]) -> List[Any]:
    seen: List[Any] = []
    for i in items:
        if i not in seen:
            seen.append(i)
    return seen


def _repeated(items: Sequence[int]) -> Optional[int]:
    seen = set()
    for i in items:
        if i in seen:
            return i
        seen.add(i)
    return None


def _named_values(x: Any, what: str) -> Tuple[Optional[List[str]], Optional[np.ndarray]]:
    """Values named by variable (a dict, or a Series with names) as (names,
    values); unnamed values as (None, values). Values None when `x` is not
    numbers."""
    if isinstance(x, Mapping):
        keys = [str(k) for k in x.keys()]
        return keys, _numbers(list(x.values()))
    if _is_series(x):
        values = _numbers(x.to_numpy(dtype=np.float64, na_value=np.nan)
                          if x.dtype.kind in "iufO" else x)
        if _is_default_index(x.index):
            return None, values
        return [str(k) for k in x.index], values
    values = _numbers(x)
    if values is not None:
        values = values.ravel() if values.ndim <= 1 else None
    return None, values


# ---------------------------------------------------------------------------
# The problem as resolved from the arguments


class _Problem:
    __slots__ = ("q", "p", "v", "s", "names", "selection", "position", "others", "reliability",
                 "defaulted", "given", "from_restricted", "as_given", "criteria",
                 "restricted_means", "unrestricted_means", "v_arg", "v_names", "s_arg",
                 "s_from_pool", "s_names", "s_order", "s_as_given", "selection_as_given")

    def __init__(self) -> None:
        self.reliability: Optional[np.ndarray] = None
        self.defaulted: List[int] = []
        self.given: Optional[List[bool]] = None
        self.from_restricted: Optional[List[bool]] = None
        self.as_given: Optional[List[float]] = None
        self.criteria: List[int] = []
        self.restricted_means: Optional[np.ndarray] = None
        self.unrestricted_means: Optional[np.ndarray] = None
        self.s_names: Optional[List[str]] = None
        # A named 'unrestricted' put in selection order: where each row
        # came from, and the matrix and selection as given.
        self.s_order: Optional[List[int]] = None
        self.s_as_given: Optional[np.ndarray] = None
        self.selection_as_given: Optional[List[int]] = None

    def selection_hint(self) -> str:
        hint = ("give 'selection', the names or numbers of the selection variables in "
                f"{self.v_arg}")
        if not self.s_from_pool:
            hint += f" in the order of {self.s_arg}"
        return hint

    def set_positions(self) -> None:
        position = [-1] * self.q
        for k, v in enumerate(self.selection):
            if position[v] >= 0:
                _fail(f"'selection' repeats a variable: {_label(self.names, v)}")
            position[v] = k
        self.position = position

    def order_others(self) -> None:
        nxt = self.p
        self.others = []
        for v in range(self.q):
            if self.position[v] >= 0:
                continue
            self.position[v] = nxt
            nxt += 1
            self.others.append(v)

    def others_text(self) -> str:
        if not self.others:
            return "every variable is a selection variable, so there are none to give"
        return "reliabilities are for the other variables: " + _labels(self.names, self.others)


def _resolve_selection(selection: Any, pr: _Problem) -> None:
    q, p, names = pr.q, pr.p, pr.names
    if selection is None:
        # A named 'unrestricted' says which variables it holds; an unnamed
        # one holds the first p.
        given = pr.s_names
        if given is None:
            pr.selection = list(range(p))
            pr.set_positions()
            return
        if names is None:
            _fail(f"{pr.v_arg} has none of the names that {pr.s_arg} gives ({', '.join(given)}); "
                  + pr.selection_hint())
        lacking = _unique([g for g in given if g not in names])
        if lacking:
            _fail(f"{pr.s_arg} names variables that {pr.v_arg} lacks: {', '.join(lacking)}; "
                  + pr.selection_hint())
        pr.selection = [names.index(g) for g in given]
        pr.set_positions()
        return
    items = _as_list(selection, "'selection'")
    if not items:
        _fail("'selection' names no variable; give the selection variables, at least one")
    if all(isinstance(i, str) for i in items):
        if names is None:
            _fail(f"'selection' gives names, but {pr.v_arg} has no {pr.v_names}")
        unknown = _unique([i for i in items if i not in names])
        if unknown:
            _fail(f"'selection' names unknown variables: {', '.join(unknown)}")
        chosen = [names.index(i) for i in items]
    else:
        chosen = []
        for i in items:
            value = _whole(i, -math.inf, math.inf)
            if value is None:
                _fail("'selection' must be variable names or whole numbers")
            chosen.append(value)
    if len(chosen) != p:
        if pr.s_from_pool:
            _fail(f"'selection' names {len(chosen)} variables, but 'pool' has {p} columns")
        _fail(f"'selection' names {len(chosen)} variables, but 'unrestricted' is {p} x {p}")
    if any(not 0 <= v < q for v in chosen):
        _fail(f"'selection' holds numbers outside 0..{q - 1}")
    pr.selection = chosen
    pr.set_positions()
    if pr.s_names is not None and names is not None:
        _match_unrestricted(pr)


def _match_unrestricted(pr: _Problem) -> None:
    """A named 'unrestricted' holds the variables its names say, in its own
    order, whatever the order of 'selection': it is put in selection order,
    and names that are not those of the selection stop, as the program's
    --select does. (Without names in 'restricted' there is nothing to match
    them to, and the matrix is in the order of 'selection'.)"""
    chosen = [pr.names[v] for v in pr.selection]
    if set(chosen) != set(pr.s_names):
        _fail(f"the unrestricted matrix is that of {', '.join(pr.s_names)}, but 'selection' names "
              f"{', '.join(chosen)}")
    order = [pr.s_names.index(name) for name in chosen]
    if order == list(range(pr.p)):
        return
    pr.s_order = order
    pr.s_as_given = pr.s
    pr.selection_as_given = [pr.names.index(name) for name in pr.s_names]
    pr.s = np.ascontiguousarray(pr.s[np.ix_(order, order)])


def _not_finite_text(value: float) -> str:
    return "NaN" if math.isnan(value) else "Inf" if value > 0 else "-Inf"


def _resolve_reliabilities(reliabilities: Any, pr: _Problem) -> None:
    if reliabilities is None:
        return
    given, values = _named_values(reliabilities, "reliabilities")
    if values is None:
        _fail("'reliabilities' must be finite numbers")
    m = len(pr.others)
    if given is None:
        if len(values) != m:
            text = f"'reliabilities' needs one value for each of the {m} non-selection variables"
            if m > 0:
                text += f" ({_labels(pr.names, pr.others)}), in that order, or values named by variable"
            _fail(text)
        for k in range(m):
            if not math.isfinite(values[k]):
                _fail(f"'reliabilities' must be finite numbers: the one for "
                      f"{_label(pr.names, pr.others[k])} is {_not_finite_text(values[k])}")
        pr.reliability = np.array(values, dtype=np.float64)
        return
    if pr.names is None:
        _fail(f"'reliabilities' are named, but {pr.v_arg} has no {pr.v_names} to match the names "
              "to; give them unnamed, one for each non-selection variable in order")
    wrong = _unique([g for g in given if g not in pr.names])
    if wrong:
        verb = " is not a variable of " if len(wrong) == 1 else " are not variables of "
        _fail(", ".join(wrong) + verb + pr.v_arg + "; " + pr.others_text())
    selected = _unique([pr.names.index(g) for g in given
                        if pr.position[pr.names.index(g)] < pr.p])
    if selected:
        verb = " is a selection variable; " if len(selected) == 1 else " are selection variables; "
        _fail(_labels(pr.names, selected) + verb + pr.others_text())
    for k, g in enumerate(given):
        if g in given[:k]:
            _fail(f"'reliabilities' names {g} more than once")
    out = np.full(m, np.nan)
    for g, value in zip(given, values):
        v = pr.names.index(g)
        if not math.isfinite(value):
            _fail(f"'reliabilities' must be finite numbers: the one for {_label(pr.names, v)} is "
                  f"{_not_finite_text(value)}")
        out[pr.position[v] - pr.p] = value
    for j in range(m):
        if math.isnan(out[j]):
            out[j] = 1.0
            pr.defaulted.append(pr.others[j])
    pr.reliability = out


def _resolve_reliability_sample(sample: Any, reliabilities: Any, pr: _Problem) -> None:
    m = len(pr.others)
    if pr.reliability is None:
        if sample is not None:
            _fail("'reliability_sample' says where the 'reliabilities' were measured, and none "
                  "are given")
        return
    pr.given = [True] * m
    pr.from_restricted = [False] * m
    pr.as_given = [float(r) for r in pr.reliability]
    for v in pr.defaulted:
        pr.given[pr.position[v] - pr.p] = False
    if sample is None:
        return
    given_names, values = _named_values(reliabilities, "reliabilities")
    n = len(values)
    places = ("unrestricted", "restricted")
    if isinstance(sample, Mapping) or _is_series(sample) and not _is_default_index(sample.index):
        items = list(sample.items())
        named = True
    else:
        items = [(None, s) for s in _as_list(sample, "'reliability_sample'")]
        named = False
        if len(items) not in (1, n):
            _fail("'reliability_sample' must be \"unrestricted\" or \"restricted\": one value for "
                  f"all the reliabilities, one for each of the {n} in order, or values named by "
                  "variable")
    seen: List[str] = []
    for k, (name, value) in enumerate(items):
        if value not in places:
            _fail("'reliability_sample' must be \"unrestricted\" (the reliability was measured in "
                  "the unrestricted population) or \"restricted\" (in the restricted sample)")
        place = places.index(value) == 1
        if named:
            name = str(name)
            v = pr.names.index(name) if pr.names is not None and name in pr.names else -1
            slot = pr.position[v] - pr.p if v >= 0 else -1
            if slot < 0 or not pr.given[slot]:
                _fail(f"'reliability_sample' names {name}, which has no reliability in "
                      "'reliabilities'")
            if name in seen:
                _fail(f"'reliability_sample' names {name} more than once")
            seen.append(name)
            pr.from_restricted[slot] = place
            continue
        for i in range(n):
            if len(items) != 1 and i != k:
                continue
            slot = i if given_names is None else pr.position[pr.names.index(given_names[i])] - pr.p
            pr.from_restricted[slot] = place


def _resolve_criteria(criteria: Any, pr: _Problem) -> None:
    if criteria is None:
        if pr.given is not None:
            pr.criteria = [v for j, v in enumerate(pr.others) if pr.given[j]]
        return
    chosen = _variables_of(criteria, "'criteria'", pr.names, pr.v_arg, pr.v_names, pr.q)
    selected = [v for v in chosen if pr.position[v] < pr.p]
    if selected:
        kind = "the selection variable " if len(selected) == 1 else "the selection variables "
        _fail("'criteria' names " + kind + _labels(pr.names, selected)
              + "; the criteria are among the other variables")
    twice = _repeated(chosen)
    if twice is not None:
        _fail(f"'criteria' names {_label(pr.names, twice)} more than once")
    pr.criteria = chosen


def _resolve_means(x: Any, n: int, names: Optional[List[str]], what: str,
                   whose: str) -> np.ndarray:
    given, values = _named_values(x, what)
    if values is None or len(values) != n or not np.all(np.isfinite(values)):
        _fail(f"'{what}' must be {n} finite numbers")
    if given is None or names is None:
        return np.array(values, dtype=np.float64)
    wrong = _unique([g for g in given if g not in names])
    if wrong:
        _fail(f"'{what}' names variables that are not among {whose}: {', '.join(wrong)}")
    twice = _unique([g for k, g in enumerate(given) if g in given[:k]])
    if twice:
        _fail(f"'{what}' names a variable more than once: {', '.join(twice)}")
    return np.array([values[given.index(name)] for name in names], dtype=np.float64)


# ---------------------------------------------------------------------------
# Raw scores


def _raw_scores(x: Any, what: str, read: Optional[Sequence[str]] = None
                ) -> Tuple[np.ndarray, Optional[List[str]]]:
    """`x` as raw scores (rows x columns, NaN where missing) and the column
    names, none given twice (of those in `read`, when it is given)."""
    if _is_frame(x):
        if x.shape[1] == 0:
            _fail(f"'{what}' has no columns")
        names = [str(c) for c in x.columns]
        if not _is_default_index(x.columns):
            _distinct(names, f"'{what}'", "columns", read)
        wrong = [j for j in range(x.shape[1])
                 if x.dtypes.iloc[j].kind not in "iuf"
                 and not (x.dtypes.iloc[j].kind == "O" and _all_numbers(x.iloc[:, j]))]
        if wrong:
            which = "this column does not" if len(wrong) == 1 else "these columns do not"
            _fail(f"'{what}' must hold numbers only; {which}: {_labels(names, wrong)}")
        values = x.to_numpy(dtype=np.float64, na_value=np.nan)
        return values, (None if _is_default_index(x.columns) else names)
    values = _numbers(x)
    if values is None or values.ndim != 2:
        _fail(f"'{what}' must be a data frame or a numeric matrix of raw scores, one row per "
              "person and one column per variable")
    if values.shape[1] == 0:
        _fail(f"'{what}' has no columns")
    return values, None


def _all_numbers(column: Any) -> bool:
    return all(v is None or (isinstance(v, numbers.Real) and not isinstance(v, bool))
               or (_pd is not None and v is _pd.NA) for v in column)


def _scores_covariance(values: np.ndarray, names: Optional[List[str]],
                       what: str) -> Tuple[np.ndarray, np.ndarray, int, int]:
    status, means, cov, used, dropped, reason = _core.covariance(values)
    if status != _OK:
        # Say where: the first score that is not finite, else how few rows
        # are complete.
        infinite = np.argwhere(np.isinf(values))
        if len(infinite) > 0:
            i, j = infinite[0]
            _fail(f"'{what}' holds a score that is not finite ({_not_finite_text(values[i, j])}) "
                  f"in row {i}, column {_label(names, int(j))}; a missing score is NaN")
        complete = int(np.sum(~np.isnan(values).any(axis=1)))
        if complete < 2:
            _fail(f"'{what}' has {complete} complete rows (without NaN) of {values.shape[0]}; the "
                  "var/cov matrix needs at least 2")
        _fail(f"'{what}': {reason or _core.status_text(status)}")
    return cov, means, used, dropped


# ---------------------------------------------------------------------------
# The intervals asked for


class _Asked(NamedTuple):
    method: int
    ci_type: int
    level: float
    n: int
    n_unrestricted: int
    resamples: int
    seed: Optional[int]
    threads: int


def _resolve_request(interval: Any, n: Any, n_unrestricted: Any, B: Any, level: Any, seed: Any,
                     threads: Any, ci_type: Any, with_data: bool, with_pool: bool) -> _Asked:
    if interval is None:
        method = 2 if with_data else 1 if n is not None else 0
    else:
        if interval not in _METHODS:
            _fail("'interval' must be \"none\", \"normal\", \"adf\" or \"bootstrap\"")
        method = _METHODS.index(interval)
    n_value = 0
    if n is not None:
        if with_data:
            _fail("'n' is for matrices: with 'data' the sample size is its number of complete rows")
        n_value = _whole(n, 2, _INT_MAX)
        if n_value is None:
            _fail("'n', the size of the restricted sample, must be a whole number of at least 2")
    n_u = 0
    if n_unrestricted is not None:
        if with_pool:
            _fail("'n_unrestricted' is for a matrix: with 'pool' the pool's size is its number of "
                  "complete rows")
        n_u = _whole(n_unrestricted, 2, _INT_MAX)
        if n_u is None:
            _fail("'n_unrestricted', the size of the sample 'unrestricted' was estimated from, "
                  "must be a whole number of at least 2 (leave it out when the matrix is known)")
    level_value = 0.95
    if level is not None:
        ok = isinstance(level, numbers.Real) and not isinstance(level, (bool, np.bool_))
        if not ok or not 0.0 < float(level) < 1.0:
            _fail("'level' must be a number between 0 and 1, such as 0.95")
        level_value = float(level)
    resamples = 2000
    if B is not None:
        resamples = _whole(B, 10, 1000000)
        if resamples is None:
            _fail("'B', the number of bootstrap resamples, must be a whole number from 10 to "
                  "1000000")
    seed_value = None
    if seed is not None:
        seed_value = _whole(seed, 0, _LARGEST_SEED)
        if seed_value is None:
            _fail("'seed' must be a whole number from 0 to 2^64 - 1 (18446744073709551615), as "
                  "the program takes")
    threads_value = 0
    if threads is not None:
        threads_value = _whole(threads, 0, _INT_MAX)
        if threads_value is None:
            _fail("'threads' must be a whole number: at most that many threads, 0 for all the "
                  "machine has")
    ci = 0
    if ci_type is not None:
        if ci_type not in _CI_TYPES:
            _fail("'ci_type' must be \"bca\" or \"percentile\"")
        ci = _CI_TYPES.index(ci_type)

    # Arguments that the method does not use are a mistake, not ignored.
    bootstrap_only = ("B" if B is not None else "seed" if seed is not None
                      else "threads" if threads is not None
                      else "ci_type" if ci_type is not None else None)
    if method == 0:
        given = ("level" if level is not None else "n_unrestricted" if n_unrestricted is not None
                 else "n" if n is not None else bootstrap_only)
        if given is not None:
            if interval is None:
                _fail(f"'{given}' is for intervals, and this call computes none: give 'n' (the size "
                      "of the restricted sample) or raw scores as 'data', or choose 'interval'")
            _fail(f"'{given}' is for intervals, but interval is \"none\"")
    else:
        if method != 3 and bootstrap_only is not None:
            _fail(f"'{bootstrap_only}' is for interval = \"bootstrap\", not \"{_METHODS[method]}\"")
        if method == 1 and not with_data and n_value == 0:
            _fail("interval = \"normal\" needs 'n', the size of the restricted sample (or its raw "
                  "scores as 'data')")
        if method != 1 and not with_data:
            _fail(f"interval = \"{_METHODS[method]}\" needs the restricted sample's raw scores as "
                  "'data' (one row per person)")
        if method == 3 and n_u != 0:
            _fail("the bootstrap lets the unrestricted matrix vary only by resampling the pool's "
                  "raw scores ('pool'); leave out 'n_unrestricted', or choose interval = "
                  "\"normal\" or \"adf\"")
    return _Asked(method, ci, level_value, n_value, n_u, resamples, seed_value, threads_value)


# ---------------------------------------------------------------------------
# The correction


def _selection_arg(pr: _Problem) -> Optional[List[int]]:
    # None is the library's 0..p-1, and saves the conversion.
    return None if pr.selection == list(range(pr.p)) else pr.selection


def _findings_of(found: Any, names: Optional[List[str]]) -> List[Finding]:
    coded = None if names is None else [_encode(n) if n != "" else None for n in names]
    out = []
    for code, severity, message, variables, row in found.findings(coded):
        labelled = tuple(names[v] if names is not None and names[v] != "" else v
                         for v in variables)
        out.append(Finding(code, _SEVERITY[severity], _decode(message), labelled, row))
    return out


def _raise_errors(findings: List[Finding]) -> None:
    errors = [f for f in findings if f.severity == "error"]
    if not errors:
        return
    messages = []
    for f in errors:
        side = _TRIANGLE_HINT.get(f.code)
        messages.append(f.message + (f", or give triangle=\"{side}\" to mirror it" if side else ""))
    raise TolbeError("\n".join(messages), [f.code for f in errors], findings)


def _is_read(pr: _Problem, a: int, b: int) -> bool:
    """Whether the correction reads element (a, b) of the restricted
    matrix: the upper triangle of the selection block in selection order,
    the selection rows of the other columns and the whole block of the
    others."""
    return pr.position[a] <= pr.position[b] or pr.position[b] >= pr.p


def _not_finite_places(a: np.ndarray, names: Optional[List[str]],
                       index: Optional[List[int]], only_read: Optional[_Problem]) -> str:
    """"[i, j]" for the places of `a` that are not finite (and read, when
    `only_read` is the problem), column by column, the first five of many;
    named by `names` at index[i] (or i), else numbered from 0."""
    places = []
    n = a.shape[0]
    for j in range(n):
        for i in range(n):
            if math.isfinite(a[i, j]) or (only_read is not None and not _is_read(only_read, i, j)):
                continue
            places.append((i, j))

    def name(i: int) -> str:
        v = index[i] if index is not None else i
        return names[v] if names is not None and names[v] != "" else str(i)

    text = ", ".join(f"[{name(i)}, {name(j)}]" for i, j in places[:5])
    if len(places) > 5:
        text += f", and {len(places) - 5} more"
    return text


def _refused(pr: _Problem, found: Any, reliabilities: Optional[np.ndarray]) -> None:
    """Words the library's refusal of an argument. NaN where the correction
    reads is most often the other side of a triangle entered alone: the
    library counts NaN there as empty, so it is asked about the problem
    with NaN read as 0 (the unrestricted matrix as given), and a triangle
    it finds is what is said. A side of one value (a 2 x 2 matrix) is no
    sign of a triangle: a NaN there is only a value that is missing."""
    v_bad = found.argument == _ARGUMENT_RESTRICTED and any(
        not math.isfinite(pr.v[i, j]) and _is_read(pr, i, j)
        for j in range(pr.q) for i in range(pr.q))
    s_bad = found.argument == _ARGUMENT_UNRESTRICTED and not np.all(np.isfinite(pr.s))
    if (v_bad and pr.q > 2) or (s_bad and pr.p > 2):
        s, selection = pr.s, _selection_arg(pr)
        if pr.s_order is not None:
            s, selection = pr.s_as_given, pr.selection_as_given
        probe = _core.correct(np.nan_to_num(pr.v, nan=0.0, posinf=np.inf, neginf=-np.inf),
                              np.nan_to_num(s, nan=0.0, posinf=np.inf, neginf=-np.inf),
                              selection, reliabilities, True, False)[4]
        side = "restricted" if v_bad else "unrestricted"
        _raise_errors([f for f in _findings_of(probe, pr.names)
                       if f.code in _TRIANGLE_HINT and f.code.startswith(side)])
    if v_bad or s_bad:
        if v_bad:
            _fail("'restricted' holds NaN or values that are not finite numbers where the "
                  "correction reads it: " + _not_finite_places(pr.v, pr.names, None, pr))
        _fail("'unrestricted' holds NaN or values that are not finite numbers: "
              + _not_finite_places(pr.s, pr.names, pr.selection, None))
    _fail(f"invalid argument: {found.reason}")


def _screened(found: Any, pr: _Problem, data: Optional[np.ndarray], pool: Optional[np.ndarray],
              asked: _Asked) -> Any:
    """What the correction found, with what the raw scores (or the sample
    size alone) say: too few rows is an error whatever 'diagnostics' says,
    so they are screened always. Without either, there is nothing to
    screen."""
    if data is None and asked.n == 0:
        return found
    return _core.screen(found, pr.q, pr.p, data, pool, _selection_arg(pr), asked.n)


def _mirrored(a: np.ndarray, side: str) -> np.ndarray:
    lower = np.tril(a)
    upper = np.triu(a)
    if side == "lower":
        return lower + np.tril(a, -1).T
    return upper + np.triu(a, 1).T


def _may_be_triangle(a: np.ndarray) -> bool:
    """Whether `a` could be a triangle entered alone: one side of the
    diagonal all 0 or NaN. Only then, without diagnostics, are the
    library's findings asked for, so that its errors stop such a matrix all
    the same; whether it is one is the library's to say."""
    n = a.shape[0]
    if n < 2:
        return False
    filled = (a != 0) & ~np.isnan(a)
    upper = np.triu(filled, 1).any()
    lower = np.tril(filled, -1).any()
    return not (upper and lower)




def _say(severity: int, message: str, code: Optional[str],
         variables: Tuple[Union[str, int], ...], row: Optional[int] = None) -> None:
    kind = TolbeNote if severity == _NOTE else TolbeWarning
    # Pointing at the caller of lawley(): _say, lawley, the caller.
    warnings.warn(kind(message, code, _SEVERITY[severity], variables, row), stacklevel=3)


def lawley(restricted: Matrix = None, unrestricted: Matrix = None, selection: Any = None,
           reliabilities: Any = None, n: Optional[int] = None, *,
           restricted_means: Any = None, unrestricted_means: Any = None,
           diagnostics: bool = True, triangle: Optional[str] = None, data: Any = None,
           pool: Any = None, n_unrestricted: Optional[int] = None,
           interval: Optional[str] = None, B: Optional[int] = None,
           level: Optional[float] = None, seed: Optional[int] = None,
           threads: Optional[int] = None, ci_type: Optional[str] = None, criteria: Any = None,
           reliability_sample: Any = None) -> "Lawley":
    """Lawley's (1943) multivariate correction for range restriction.

    Corrects `restricted`, the var/cov matrix of all q variables in the
    selected (restricted) sample, given `unrestricted`, the var/cov matrix
    of the p selection variables in the unrestricted population (the
    applicant pool). Or, from raw scores, `data` (the restricted sample,
    one row per person) and `pool` (the applicants' scores).

    Args:
        restricted: q x q var/cov matrix (numpy array or DataFrame).
        unrestricted: p x p var/cov matrix of the selection variables:
            with names (a DataFrame), matched to `selection` by name, and
            names that contradict it are an error; without, in the order
            of `selection`.
        selection: the selection variables, by name or by number (from 0,
            as Python counts), as a list or tuple (a set has no fixed
            order); by default the names of `unrestricted`, else the first
            p variables.
        reliabilities: of the other variables: one per other variable in
            order, or a dict/Series by name (those not named are taken as
            1, with a note). Gives `.disattenuated`.
        n: the restricted sample size: intervals by the delta method.
        restricted_means, unrestricted_means: means (q and p values, by
            name or in the order of `restricted` and `unrestricted`) for
            the corrected means `.means`.
        diagnostics: check the input and the results (the library's
            findings, raised as TolbeWarning and TolbeNote). Errors are
            raised whatever it says.
        triangle: "lower" or "upper" mirrors a matrix entered as a
            triangle.
        data, pool: raw scores (DataFrame or 2-D array, NaN where missing)
            of the restricted sample and of the applicants; the pool's
            columns of the selection variables are found by name.
        n_unrestricted: with `unrestricted` estimated from a sample, its
            size.
        interval: "none", "normal", "adf" or "bootstrap"; by default
            "adf" with `data`, "normal" with `n`, else "none".
        B, seed, threads, ci_type: the bootstrap's resamples (2000), seed
            (0 to 2^64 - 1, the program's: the same seed gives the same
            numbers; None: drawn from Python's `random`, kept in
            `.interval`),
            threads (0: all; the numbers do not depend on it) and interval
            type ("bca" or "percentile").
        level: of the intervals (0.95).
        criteria: the criterion variables (by default those given
            reliabilities), for `.operational` and `.table()`.
        reliability_sample: where the reliabilities were measured:
            "unrestricted" (default) or "restricted" (converted), one for
            all, one per value, or by name.

    Returns:
        A Lawley result: `.cov`, `.cor`, `.disattenuated`, `.operational`,
        `.se`, `.ci`, `.findings`, `.regression()`, `.table()`, and
        `.version`, the library's, to repeat the result.

    Raises:
        TolbeError: (a ValueError) an argument that cannot be used, or a
            finding that makes the numbers certainly wrong (such as raw
            scores with no more complete rows than variables).

    With raw scores (or `n`), the data are screened as well: a sample of
    fewer than 10 complete rows a variable, a value that looks like a
    missing-value code (-99, 999, ...) or lies very far from its column's
    median, and a pool that does not hold the selected or holds them twice
    are warnings, by row and column.

    Assumptions:
        Lawley's correction assumes that the sample was selected on the
        declared selection variables only (on them directly or on any
        function of them, such as a composite or a cut score), and that
        the regressions of the other variables on the selection variables
        are linear and homoscedastic, the same in the selected sample as
        in the population. The standard errors and intervals are
        conditional on these assumptions. When they fail, the corrected
        values are biased and no interval shows it: in a simulated study
        where hiring was also on a pre-screen that was recorded but not
        declared, the corrected validity came out .275 against a true
        .427; declared as a selection variable, the same pre-screen let
        the correction recover .430. A recorded pre-screen, or any other
        variable the selection used, must be a selection variable (in
        `selection`, and in `unrestricted` or `pool`).

    Example (Ree et al. 1994): the second selection variable's
    unrestricted variance is below its restricted one, which a warning
    says, and the selection variables' correlation changes sign, which a
    note says.

    >>> import numpy as np, warnings, tolbe
    >>> v = np.array([[25.311, -1.6725, 13.0447, 5.0939],
    ...               [-1.6725, 17.7073, -10.7549, 9.468],
    ...               [13.0447, -10.7549, 1372.0356, 52.7834],
    ...               [5.0939, 9.468, 52.7834, 351.5625]])
    >>> s = np.array([[36.4816, 6.1608], [6.1608, 16.6464]])
    >>> with warnings.catch_warnings(record=True) as said:
    ...     warnings.simplefilter("always")
    ...     fit = tolbe.lawley(v, s)
    >>> round(fit.cor[0, 1], 4)
    0.25
    >>> [w.category.__name__ for w in said]
    ['TolbeWarning', 'TolbeNote']
    >>> [f.code for f in fit.findings]
    ['selection_variance_grew', 'selection_sign_change']
    """
    if (selection is None and reliabilities is None and n is None and data is None
            and pool is None and restricted_means is None and unrestricted_means is None
            and triangle is None and interval is None and B is None and level is None
            and seed is None and threads is None and ci_type is None and criteria is None
            and reliability_sample is None and n_unrestricted is None
            and (diagnostics is True or diagnostics is False)):
        # The usual call: two float64 arrays that the library corrects
        # without a finding. Anything else (or anything found) takes the
        # whole road below, which says what there is to say.
        got = _core.quick(restricted, unrestricted, diagnostics)
        if got is not None:
            fit = _new_fit()
            fit._cov, fit._cor = got
            fit._quick = (restricted, unrestricted, diagnostics)
            return fit
    if diagnostics is not True and diagnostics is not False:
        if not isinstance(diagnostics, (bool, np.bool_)):
            _fail("'diagnostics' must be True or False")
        diagnostics = bool(diagnostics)
    if triangle is not None and triangle not in ("lower", "upper"):
        _fail("'triangle' must be None (whole matrices), \"lower\" or \"upper\"")
    with_data = data is not None
    with_pool = pool is not None
    if with_data and restricted is not None:
        _fail("give the restricted sample as 'restricted' (its var/cov matrix) or as 'data' (its "
              "raw scores), not both")
    if not with_data and restricted is None:
        _fail("give the restricted sample's var/cov matrix as 'restricted', or its raw scores as "
              "'data'")
    if with_pool and unrestricted is not None:
        _fail("give the unrestricted var/cov matrix as 'unrestricted' or the pool's raw scores as "
              "'pool', not both")
    if not with_pool and unrestricted is None:
        _fail("give the unrestricted var/cov matrix of the selection variables as 'unrestricted', "
              "or the pool's raw scores as 'pool'")
    if with_data and restricted_means is not None:
        _fail("with 'data' the restricted means are the data's: leave out 'restricted_means'")
    if with_pool and unrestricted_means is not None:
        _fail("with 'pool' the unrestricted means are the pool's: leave out 'unrestricted_means'")
    asked = _resolve_request(interval, n, n_unrestricted, B, level, seed, threads, ci_type,
                             with_data, with_pool)

    pr = _Problem()
    pr.v_arg = "'data'" if with_data else "'restricted'"
    pr.v_names = "column names" if with_data else "names"
    pr.s_arg = "'pool'" if with_pool else "'unrestricted'"
    pr.s_from_pool = with_pool
    own: List[Tuple[int, str]] = []  # what this package says, before the findings

    # V: the matrix, or from the raw restricted scores.
    data_values = pool_values = None
    rows = None
    if with_data:
        data_values, pr.names = _raw_scores(data, "data")
        pr.v, data_means, used, dropped = _scores_covariance(data_values, pr.names, "data")
        pr.restricted_means = data_means
        rows = {"used": used, "dropped": dropped, "pool_used": None, "pool_dropped": None}
        if asked.method == 3 and used < 3:
            _fail(f"the bootstrap needs at least 3 complete rows in 'data'; it has {used}")
        if dropped > 0:
            own.append((_NOTE, f"'data': {dropped} of {dropped + used} rows hold a missing score "
                               f"(NaN) and were left out (listwise); {used} used"))
    else:
        pr.v, pr.names = _square(restricted, "restricted")
    pr.q = q = pr.v.shape[0]

    # S: the matrix, or from the pool's raw scores of the selection
    # variables. A pool with column names holds at least those of the
    # selection variables, found by name; without, its columns are the
    # selection variables in selection order.
    resolved = False
    if with_pool:
        if _is_frame(pool) and selection is not None and not _is_default_index(pool.columns):
            # Only the selection variables' columns are read: others, such
            # as an identifier, may hold anything.
            wanted = _unique([str(n) for n in _as_list(selection, "'selection'")
                              if isinstance(n, str)])
            # A name given twice is said with its places in the pool.
            _distinct([str(c) for c in pool.columns], "'pool'", "columns", wanted)
            present = [c for c in pool.columns if str(c) in wanted]
            pool_all, pool_names = _raw_scores(pool[present] if present else pool, "pool",
                                               wanted)
        else:
            pool_all, pool_names = _raw_scores(pool, "pool")
        pool_values = pool_all
        if pool_names is not None and selection is not None:
            items = _as_list(selection, "'selection'")
            if len(items) > q:
                _fail(f"'selection' names {len(items)} variables, but {pr.v_arg} has only {q}")
            pr.p = len(items)
            _resolve_selection(selection, pr)
            resolved = True
            if pr.names is None:
                _fail(f"'pool' is matched to {pr.v_arg} by column name, but {pr.v_arg} has no "
                      f"{pr.v_names}")
            wanted = [pr.names[v] for v in pr.selection]
            lacking = [v for v, w in zip(pr.selection, wanted) if w not in pool_names]
            if lacking:
                plural = "s " if len(lacking) > 1 else " "
                _fail(f"'pool' has no column for the selection variable{plural}"
                      + _labels(pr.names, lacking))
            pool_values = np.ascontiguousarray(pool_all[:, [pool_names.index(w) for w in wanted]])
        pr.s, pool_means, pool_used, pool_dropped = _scores_covariance(
            pool_values, pool_names if not resolved else [pr.names[v] for v in pr.selection],
            "pool")
        pr.unrestricted_means = pool_means
        if not resolved:
            # Without 'selection' a named pool's columns say which variables
            # they are, as a named 'unrestricted' does.
            pr.s_names = pool_names
        if rows is None:
            rows = {"used": None, "dropped": None}
        rows.update(pool_used=pool_used, pool_dropped=pool_dropped)
        if asked.method == 3 and pool_used < 3:
            _fail(f"the bootstrap needs at least 3 complete rows in 'pool'; it has {pool_used}")
        if pool_dropped > 0:
            own.append((_NOTE, f"'pool': {pool_dropped} of {pool_dropped + pool_used} rows hold a "
                               f"missing score (NaN) and were left out (listwise); {pool_used} "
                               "used"))
    else:
        pr.s, pr.s_names = _square(unrestricted, "unrestricted")
    if triangle is not None:
        # As given, before the matrices are put in selection order.
        pr.v = _mirrored(pr.v, triangle)
        pr.s = _mirrored(pr.s, triangle)
    if not resolved:
        pr.p = pr.s.shape[0]
        if pr.p > q:
            if with_pool:
                _fail(f"'pool' has {pr.p} columns, but {pr.v_arg} has only {q} variables")
            _fail(f"'unrestricted' is {pr.p} x {pr.p}, but {pr.v_arg} has only {q} variables")
        _resolve_selection(selection, pr)
    p = pr.p
    pr.order_others()
    _resolve_reliabilities(reliabilities, pr)
    _resolve_reliability_sample(reliability_sample, reliabilities, pr)
    _resolve_criteria(criteria, pr)
    if pr.defaulted:
        verb = ("; it is taken as 1 (not corrected for attenuation)" if len(pr.defaulted) == 1
                else "; they are taken as 1 (not corrected for attenuation)")
        own.append((_NOTE, "'reliabilities' names no reliability for "
                    + _labels(pr.names, pr.defaulted) + verb))
    # The means: the raw scores' own, else as given; corrected when both
    # sides have them.
    if restricted_means is not None and not with_pool and unrestricted_means is None:
        _fail("give both 'restricted_means' and 'unrestricted_means', or neither")
    if unrestricted_means is not None and not with_data and restricted_means is None:
        _fail("give both 'restricted_means' and 'unrestricted_means', or neither")
    if restricted_means is not None:
        pr.restricted_means = _resolve_means(restricted_means, q, pr.names, "restricted_means",
                                             pr.v_arg)
    if unrestricted_means is not None:
        selected_names = pr.s_names
        if pr.names is not None:
            selected_names = [pr.names[v] for v in pr.selection]
        pr.unrestricted_means = _resolve_means(unrestricted_means, p, selected_names,
                                               "unrestricted_means", "the selection variables")
        if pr.s_order is not None and _named_values(unrestricted_means, "")[0] is None:
            # In the order of 'unrestricted' as given, as its rows.
            pr.unrestricted_means = pr.unrestricted_means[pr.s_order]

    chosen = _selection_arg(pr)
    with_findings = diagnostics or _may_be_triangle(pr.v) or _may_be_triangle(pr.s)
    status, cov, cor, dis, found = _core.correct(pr.v, pr.s, chosen, pr.reliability,
                                                 with_findings)
    if status == _INVALID_ARGUMENT:
        _refused(pr, found, pr.reliability)
    found = _screened(found, pr, data_values, pool_values, asked)
    findings: Optional[List[Finding]] = None
    if found is not None and found.n_findings > 0:
        findings = _findings_of(found, pr.names)
        _raise_errors(findings)
    if status == _NOT_POSITIVE_DEFINITE:
        _fail("the restricted var/cov block of the selection variables is not positive definite "
              f"(its leading minor of order {found.leading_minor} is not positive)")
    if pr.from_restricted is not None and any(pr.from_restricted):
        # Reliabilities measured among the incumbents, made the population's
        # by the corrected variances: the error variance is taken to be the
        # same in both. The correction itself does not read them.
        for j, v in enumerate(pr.others):
            if not pr.from_restricted[j]:
                continue
            vyy, cyy = float(pr.v[v, v]), float(cov[v, v])
            r = _core.unrestricted_reliability(pr.as_given[j], vyy, cyy)
            if not 0.0 < r <= 1.0:
                _fail(f"the reliability of {_label(pr.names, v)} in the restricted sample, "
                      f"{pr.as_given[j]:g}, is {r:g} in the unrestricted population (1 - (1 - "
                      f"{pr.as_given[j]:g}) * {vyy:g} / {cyy:g}, restricted over corrected "
                      "variance), which is no reliability")
            pr.reliability[j] = r
        status, cov, cor, dis, again = _core.correct(pr.v, pr.s, chosen, pr.reliability,
                                                     with_findings)
        if found is not None and again is not None:
            found = _screened(again, pr, data_values, pool_values, asked)
        if status != _OK:
            _fail(f"the reliabilities cannot be converted: {_core.status_text(status)}")
        if diagnostics and found.n_findings > 0:
            findings = _findings_of(found, pr.names)
    if pr.reliability is not None and not pr.others:
        # No variable beyond the selection ones: nothing to disattenuate.
        dis = cor.copy(order="F")

    fit = _new_fit()
    fit._problem = pr
    fit._asked = asked
    fit._cov, fit._cor, fit._dis = cov, cor, dis
    fit._data, fit._pool = data_values, pool_values
    fit.rows = rows
    fit._findings = tuple(findings) if findings is not None and diagnostics else ()
    fit._found = found if diagnostics else None
    if pr.restricted_means is not None and pr.unrestricted_means is not None:
        fit._means = _core.means(pr.v, pr.s, chosen, pr.restricted_means, pr.unrestricted_means)
    crel = np.ones(q)
    if pr.reliability is not None:
        for v in pr.criteria:
            crel[v] = pr.reliability[pr.position[v] - p]
    fit._crel = crel
    if asked.method != 0:
        failed = _intervals_into(fit)
        if failed > 0 and diagnostics:
            if failed == fit.interval["B"]:
                own.append((_WARNING, f"all {failed} bootstrap resamples were left out: in every "
                                      "one the selection block was not positive definite, so "
                                      "there are no intervals"))
            else:
                own.append((_WARNING, f"{failed} of {fit.interval['B']} bootstrap resamples were "
                                      "left out: in them the selection block was not positive "
                                      "definite; the intervals rest on the others"))
    if diagnostics:
        for severity, message in own:
            _say(severity, message, None, ())
        for f in fit.findings:
            _say(_SEVERITY.index(f.severity), f.message, f.code, f.variables, f.row)
    return fit


def _intervals_into(fit: "Lawley") -> int:
    """The SEs and intervals of the fit's correction; with raw scores the
    library computes V and S from them anew, by the rule that gave the
    fit's, and they are checked to be the same. Returns the resamples left
    out."""
    pr, a = fit._pr, fit._asked
    seed = a.seed
    if a.method == 3 and seed is None:
        seed = random.randrange(_LARGEST_SEED + 1)
    status, reason, summary, matrices, v_used, s_used = _core.intervals(
        None if fit._data is not None else pr.v, None if fit._pool is not None else pr.s,
        _selection_arg(pr), pr.q, pr.p, pr.reliability, fit._data, fit._pool, a.method, a.level,
        0 if fit._data is not None else a.n, 0 if fit._pool is not None else a.n_unrestricted,
        a.resamples, seed or 0, a.threads, a.ci_type)
    if status == _REFUSED_MEMORY:
        _fail(reason)
    if status != _OK:
        _fail(f"the intervals cannot be computed: {reason}")
    if (fit._data is not None and not np.array_equal(v_used, pr.v)) or (
            fit._pool is not None and not np.array_equal(s_used, pr.s)):
        _fail("tolbe: the intervals belong to another var/cov matrix than the correction (a fault "
              "of the package; please report it)")
    fit._se = {}
    fit._ci = {}
    for name, m in zip(("cov", "cor", "disattenuated"), matrices):
        if m is None:
            continue
        fit._se[name] = m[0]
        fit._ci[name] = {"lower": m[1], "upper": m[2]}
    if "disattenuated" in fit._se and not pr.others:
        # Nothing to disattenuate: as the estimates, the correlations'.
        fit._se["disattenuated"] = fit._se["cor"].copy(order="F")
        fit._ci["disattenuated"] = {k: x.copy(order="F") for k, x in fit._ci["cor"].items()}
    # The operational correlations divide by constants, so their SEs and
    # bounds are the corrected correlations' divided alike.
    fit._se["operational"] = _core.operational(fit._se["cor"], fit._crel)
    fit._ci["operational"] = {k: _core.operational(fit._ci["cor"][k], fit._crel)
                              for k in ("lower", "upper")}
    bootstrap = a.method == 3
    fit.interval = {
        "method": summary["method"],
        "ci_type": ("percentile" if summary["interval"] == 1 else "bca") if bootstrap else "wald",
        "level": summary["level"],
        "n": summary["n"],
        "n_unrestricted": summary["n_unrestricted"] if summary["n_unrestricted"] > 0 else None,
        "B": summary["resamples"] if bootstrap else None,
        "seed": seed if bootstrap else None,
        "threads": summary["threads"] if bootstrap else None,
        "failed_resamples": summary["failed_resamples"] if bootstrap else None,
        "percentile_fallbacks": (summary["percentile_fallbacks"]
                                 if bootstrap and summary["interval"] == 0 else None),
        "rows_dropped": summary["rows_dropped"] if fit._data is not None else None,
        "pool_rows_dropped": summary["pool_rows_dropped"] if fit._pool is not None else None,
    }
    return summary["failed_resamples"] if bootstrap else 0


# ---------------------------------------------------------------------------
# The result


_MATRICES = ("cov", "cor", "disattenuated", "operational")


class Lawley:
    """The corrected matrices of lawley(), with their SEs and intervals.

    Matrices are numpy arrays, or DataFrames named by the variables when
    the input had names and pandas is installed.

    Attributes:
        cov, cor: the corrected var/cov and correlation matrices.
        disattenuated: the correlations corrected for attenuation in the
            other variables (None without reliabilities).
        operational: the correlations with only the criteria made reliable.
        means: the corrected means (None without means).
        se: {"cov", "cor", "disattenuated", "operational"} -> SEs (None
            without intervals).
        ci: the same keys -> {"lower", "upper"} bounds.
        interval: how the intervals were computed (method, level, n, B,
            seed, ...), or None.
        findings: the library's findings, a list of Finding.
        diagnostics: what the correction found, as a dict.
        selection: the selection variables (numbers from 0), in the order
            of the unrestricted matrix; names: the variable names or None.
        version: the version of the library that computed the fit, which
            with the seed makes a result repeatable.
    """

    version: str = _core.version()

    # What most fits leave as it is: the usual call sets only the matrices
    # and what it found, and the problem is made when it is asked for.
    _problem: Optional[_Problem] = None
    _quick: Optional[Tuple[np.ndarray, np.ndarray]] = None
    _asked: "_Asked"
    _dis: Optional[np.ndarray] = None
    _data: Optional[np.ndarray] = None
    _pool: Optional[np.ndarray] = None
    _found: Any = None
    _means: Optional[np.ndarray] = None
    _crel: Optional[np.ndarray] = None
    _operational: Optional[np.ndarray] = None
    _se: Optional[Dict[str, np.ndarray]] = None
    _ci: Optional[Dict[str, Dict[str, np.ndarray]]] = None
    interval: Optional[Dict[str, Any]] = None
    rows: Optional[Dict[str, Optional[int]]] = None
    _findings: Tuple[Finding, ...] = ()

    @property
    def findings(self) -> List[Finding]:
        """The library's findings (notes, warnings), each a Finding."""
        return list(self._findings)

    @property
    def _pr(self) -> _Problem:
        if self._problem is None:
            v, s, _ = self._quick
            pr = _Problem()
            pr.v, pr.s = v, s
            pr.q, pr.p = v.shape[0], s.shape[0]
            pr.names = pr.s_names = None
            pr.v_arg, pr.v_names, pr.s_arg, pr.s_from_pool = ("'restricted'", "names",
                                                              "'unrestricted'", False)
            pr.selection = list(range(pr.p))
            pr.set_positions()
            pr.order_others()
            self._problem = pr
            self._asked = _NO_INTERVALS
            self._crel = np.ones(pr.q)
        return self._problem

    # -- the matrices, named as the input was --------------------------------
    def _named(self, m: Optional[np.ndarray]) -> Any:
        if self._problem is None:
            return m
        names = self._problem.names
        if m is None or names is None or _pd is None:
            return m
        return _pd.DataFrame(m, index=names, columns=names)

    @property
    def cov(self) -> Any:
        return self._named(self._cov)

    @property
    def cor(self) -> Any:
        return self._named(self._cor)

    @property
    def disattenuated(self) -> Any:
        return self._named(self._dis)

    @property
    def operational(self) -> Any:
        return self._named(self._operational_matrix())

    @property
    def means(self) -> Any:
        if self._means is None or self._pr.names is None or _pd is None:
            return self._means
        return _pd.Series(self._means, index=self._pr.names)

    @property
    def se(self) -> Optional[Dict[str, Any]]:
        if self._se is None:
            return None
        return {k: self._named(m) for k, m in self._se.items()}

    @property
    def ci(self) -> Optional[Dict[str, Dict[str, Any]]]:
        if self._ci is None:
            return None
        return {k: {b: self._named(m) for b, m in bounds.items()} for k, bounds in self._ci.items()}

    @property
    def restricted(self) -> Any:
        """V as corrected (from `data`: its var/cov matrix)."""
        return self._named(self._pr.v)

    @property
    def unrestricted(self) -> Any:
        """S as corrected, in selection order (from `pool`: its var/cov
        matrix)."""
        pr = self._pr
        if pr.names is None or _pd is None:
            return pr.s
        selected = [pr.names[v] for v in pr.selection]
        return _pd.DataFrame(pr.s, index=selected, columns=selected)

    @property
    def names(self) -> Optional[List[str]]:
        return None if self._pr.names is None else list(self._pr.names)

    @property
    def selection(self) -> List[int]:
        return list(self._pr.selection)

    @property
    def criteria(self) -> List[int]:
        return list(self._pr.criteria)

    @property
    def reliabilities(self) -> Optional[Dict[Union[str, int], float]]:
        """The reliabilities used (in the unrestricted population), by
        variable: only those given."""
        pr = self._pr
        if pr.reliability is None:
            return None
        return {(pr.names[v] if pr.names is not None else v): float(pr.reliability[j])
                for j, v in enumerate(pr.others) if pr.given[j]}

    @property
    def reliability_sample(self) -> Optional[Dict[Union[str, int], str]]:
        pr = self._pr
        if pr.reliability is None:
            return None
        return {(pr.names[v] if pr.names is not None else v):
                ("restricted" if pr.from_restricted[j] else "unrestricted")
                for j, v in enumerate(pr.others) if pr.given[j]}

    @property
    def diagnostics(self) -> Optional[Dict[str, Any]]:
        """What the correction found (None with diagnostics=False):
        asymmetries, definiteness, counts and first places (from 0) of
        what is out of range, and the sign-change pairs."""
        found = self._found
        if found is None and self._quick is not None and self._quick[2]:
            # The usual call found nothing and kept nothing: the same call
            # gives the same diagnostics.
            v, s, _ = self._quick
            found = _core.correct(v, s, None, None, True, False)[4]
        if found is None:
            return None
        d = found.as_dict()
        pr = self._pr
        d["sign_change_pairs"] = (_core.sign_changes(pr.v, _selection_arg(pr), pr.p, self._cor)
                                  if d["sign_changes"] > 0 else [])
        return d

    def __repr__(self) -> str:
        pr = self._pr
        lines = ["Range restriction corrected correlations (Lawley 1943)",
                 "Selection variables: " + (_labels(pr.names, pr.selection) or "none"),
                 "Criteria: " + (_labels(pr.names, pr.criteria) or "none")]
        if self.interval is None:
            lines.append("Intervals: none (give 'n' or raw scores as 'data')")
        else:
            lines.append(_interval_text(self.interval))
        width = max([len(_label(pr.names, v)) for v in range(pr.q)] + [8])
        lines.append(" " * width + "".join(f"{_label(pr.names, j)[:9]:>10}" for j in range(pr.q)))
        for i in range(pr.q):
            lines.append(f"{_label(pr.names, i):<{width}}"
                         + "".join(f"{self._cor[i, j]:10.4f}" for j in range(pr.q)))
        for f in self.findings:
            lines.append(f"{f.severity}: {f.message}")
        return "\n".join(lines)

    # -- tidy tables --------------------------------------------------------
    def table(self, which: str = "validity") -> Any:
        """A tidy table, one row per pair of variables (a pandas DataFrame;
        a list of dicts without pandas).

        which: "validity" (default: every criterion with every other
        variable, the restricted, corrected, operational and disattenuated
        r with their SEs and bounds), or "cor", "operational",
        "disattenuated", "cov" (each pair above the diagonal; with it, for
        "cov").

        >>> import numpy as np, tolbe
        >>> v = np.array([[1.0, 0.5, 0.3], [0.5, 1.0, 0.4], [0.3, 0.4, 1.0]])
        >>> fit = tolbe.lawley(v, [[1.44, 0.6], [0.6, 1.21]], n=120,
        ...                    diagnostics=False)
        >>> t = fit.table("cor")
        >>> list(t.columns)
        ['term', 'estimate', 'std_error', 'conf_low', 'conf_high']
        >>> list(t.term)
        ['variable 1-variable 2', 'variable 1-variable 3', 'variable 2-variable 3']
        """
        if which not in ("validity",) + _MATRICES:
            _fail("'which' must be \"validity\", \"cor\", \"operational\", \"disattenuated\" or "
                  "\"cov\"")
        pr = self._pr
        rows: List[Dict[str, Any]] = []
        if which == "validity":
            restricted = _correlations(pr.v)
            # The library's rule, as everywhere: a criterion is no predictor.
            predictors = {y: _core.default_predictors(pr.q, y, pr.criteria) for y in pr.criteria}
            kinds = (("restricted", restricted), ("corrected", self._cor),
                     ("operational", self._operational_matrix()), ("disattenuated", self._dis))
            for quantity, m in kinds:
                if m is None:
                    continue
                key = "cor" if quantity == "corrected" else quantity
                for y in pr.criteria:
                    for x in predictors[y]:
                        estimate = float(m[x, y])
                        if math.isnan(estimate) and quantity == "disattenuated":
                            continue
                        rows.append({"term": f"{_label(pr.names, x)}-{_label(pr.names, y)}",
                                     "predictor": _label(pr.names, x),
                                     "criterion": _label(pr.names, y), "quantity": quantity,
                                     "estimate": estimate,
                                     **self._bounds(None if quantity == "restricted" else key,
                                                    x, y)})
        else:
            m = self._matrix(which)
            if m is None:
                _fail("the fit has no disattenuated correlations: it was made without "
                      "'reliabilities'")
            for i in range(pr.q):
                for j in range(i if which == "cov" else i + 1, pr.q):
                    rows.append({"term": f"{_label(pr.names, i)}-{_label(pr.names, j)}",
                                 "estimate": float(m[i, j]), **self._bounds(which, i, j)})
        if _pd is None:
            return rows
        columns = (["term", "predictor", "criterion", "quantity"] if which == "validity"
                   else ["term"]) + ["estimate", "std_error", "conf_low", "conf_high"]
        return _pd.DataFrame(rows, columns=columns)

    def _operational_matrix(self) -> np.ndarray:
        if self._operational is None:
            self._pr  # the criteria's reliabilities are the problem's
            self._operational = _core.operational(self._cor, self._crel)
        return self._operational

    def _matrix(self, which: str) -> Optional[np.ndarray]:
        return {"cov": self._cov, "cor": self._cor, "disattenuated": self._dis,
                "operational": self._operational_matrix()}[which]

    def _bounds(self, key: Optional[str], i: int, j: int) -> Dict[str, float]:
        if key is None or self._se is None or key not in self._se:
            return {"std_error": math.nan, "conf_low": math.nan, "conf_high": math.nan}
        return {"std_error": float(self._se[key][i, j]),
                "conf_low": float(self._ci[key]["lower"][i, j]),
                "conf_high": float(self._ci[key]["upper"][i, j])}

    # -- the validity question ------------------------------------------------
    def regression(self, criterion: Union[str, int],
                   predictors: Union[Sequence[Union[str, int]], str, int, None] = None
                   ) -> "Regression":
        """The regression of `criterion` on `predictors` in the corrected
        matrix, with the fit's own intervals: see lawley_regression()."""
        return lawley_regression(self, criterion, predictors)

    def increment(self, criterion: Union[str, int], base: Any, added: Any) -> "Increment":
        """The increment of `added` over `base` in predicting `criterion`:
        see lawley_increment()."""
        return lawley_increment(self, criterion, base, added)


def _new_fit() -> Lawley:
    return Lawley.__new__(Lawley)


_NO_INTERVALS = _Asked(0, 0, 0.95, 0, 0, 2000, None, 0)


def _correlations(v: np.ndarray) -> np.ndarray:
    d = np.sqrt(np.diag(v))
    return v / np.outer(d, d)


def _interval_text(info: Dict[str, Any]) -> str:
    method = {"normal": "delta method, normal theory",
              "adf": "delta method, distribution-free (ADF)"}.get(info["method"])
    if method is None:
        failed = info["failed_resamples"]
        method = (f"bootstrap, {'BCa' if info['ci_type'] == 'bca' else 'percentile'} (B = "
                  f"{info['B']}, seed {info['seed']}"
                  + (f", {failed} failed resamples left out" if failed else "") + ")")

    def dropped(count: Optional[int]) -> str:
        return f" ({count} rows with NaN left out)" if count else ""

    if info["n_unrestricted"] is None:
        unrestricted = "unrestricted matrix known"
    else:
        unrestricted = (f"unrestricted matrix estimated, n_unrestricted = {info['n_unrestricted']}"
                        + dropped(info["pool_rows_dropped"]))
    return (f"{100 * info['level']:g} % intervals: {method}; n = {info['n']}"
            f"{dropped(info['rows_dropped'])}; {unrestricted}")


class _Values(NamedTuple):
    estimate: np.ndarray
    se: np.ndarray
    lower: np.ndarray
    upper: np.ndarray
    failed_resamples: Optional[int]


def _criterion_of(fit: Lawley, criterion: Any) -> int:
    if not isinstance(fit, Lawley):
        _fail("'fit' must be what lawley() returns")
    pr = fit._pr
    items = [] if criterion is None else _as_list(criterion, "'criterion'")
    if len(items) != 1:
        _fail("'criterion' must be one variable, by name or number")
    return _variables_of(items, "'criterion'", pr.names, "the fit", "variable names", pr.q)[0]


def _validity_values(fit: Lawley, y: int, parts: Sequence[Tuple[str, Any]]
                     ) -> Tuple[_Values, List[int], int]:
    """The validity values of criterion y on the predictors of `parts`, each
    (the argument that gives them, what it gives): 'predictors' alone, or
    'base' and 'added'. What is refused is said of the argument given."""
    pr = fit._pr
    x: List[int] = []
    sizes: List[int] = []
    named_by: Dict[int, str] = {}
    for what, given in parts:
        chosen = _variables_of(given, what, pr.names, "the fit", "variable names", pr.q)
        if not chosen:
            _fail(f"{what} must name at least one variable")
        for v in chosen:
            if v == y:
                _fail(f"{what} names the criterion {_label(pr.names, y)}")
            if v in named_by:
                if named_by[v] == what:
                    _fail(f"{what} names {_label(pr.names, v)} more than once")
                _fail(f"{_label(pr.names, v)} is in both {named_by[v]} and {what}")
            named_by[v] = what
        x += chosen
        sizes.append(len(chosen))
    if len(x) > 50:
        verb = "names" if len(parts) == 1 else "name"
        _fail(f"{' and '.join(what for what, _ in parts)} {verb} {len(x)} variables; at most 50 "
              "are taken")
    base = sizes[0] if len(parts) > 1 else 0  # the base set comes first
    reliability = 1.0
    if pr.reliability is not None and pr.position[y] >= pr.p and pr.given[pr.position[y] - pr.p]:
        reliability = float(pr.reliability[pr.position[y] - pr.p])
    a = fit._asked
    info = fit.interval or {}
    bootstrap = a.method == 3
    status, reason, summary, estimate, se, lower, upper = _core.validity(
        None if fit._data is not None else pr.v, None if fit._pool is not None else pr.s,
        _selection_arg(pr), pr.q, pr.p, pr.reliability, fit._data, fit._pool, a.method,
        a.level, 0 if fit._data is not None else a.n,
        0 if fit._pool is not None else a.n_unrestricted, a.resamples,
        info.get("seed") or 0 if bootstrap else 0, a.threads, a.ci_type, y, x, base, reliability)
    if status == _NOT_POSITIVE_DEFINITE:
        whose = ("the predictors" if base == 0 else
                 f"{' and '.join(what for what, _ in parts)}, or of {parts[0][0]} alone,")
        _fail(f"the corrected var/cov matrix of {whose} ({_labels(pr.names, x)}) is not positive "
              "definite: a predictor is a linear combination of others")
    if status == _REFUSED_MEMORY:
        _fail(reason)
    if status != _OK:
        _fail(f"the validity values cannot be computed: {reason}")
    failed = summary["failed_resamples"] if bootstrap else None
    return _Values(estimate, se, lower, upper, failed), x, base


def _tidy(values: _Values, at: Sequence[int], terms: Sequence[str]) -> Any:
    rows = [{"term": t, "estimate": float(values.estimate[k]), "std_error": float(values.se[k]),
             "conf_low": float(values.lower[k]), "conf_high": float(values.upper[k])}
            for t, k in zip(terms, at)]
    if _pd is None:
        return rows
    return _pd.DataFrame(rows, columns=["term", "estimate", "std_error", "conf_low", "conf_high"])


class Regression:
    """The regression of a criterion on predictors in the corrected matrix
    (lawley_regression()). Each part is a tidy table (term, estimate,
    std_error, conf_low, conf_high): b (with the intercept when the fit
    has means), beta, r (the corrected validities), operational (the
    validities with the criterion made reliable; None without its
    reliability), R, R2, operational_R; coefficients maps terms to b;
    version is the library's."""

    version: str = _core.version()

    def __init__(self, fit: Lawley, values: _Values, y: int, x: List[int]) -> None:
        pr = fit._pr
        k = len(x)
        labels = [_label(pr.names, v) for v in x]
        self.criterion = _label(pr.names, y)
        self.predictors = labels
        self.interval = fit.interval
        self.failed_resamples = values.failed_resamples
        reliabilities = fit.reliabilities or {}
        key = pr.names[y] if pr.names is not None else y
        self.reliability = reliabilities.get(key)
        self.values = values
        b = [{"term": t, "estimate": float(values.estimate[j]), "std_error": float(values.se[j]),
              "conf_low": float(values.lower[j]), "conf_high": float(values.upper[j])}
             for j, t in enumerate(labels)]
        if fit._means is not None:
            # mean_y - b'mean_X in the unrestricted population; the library
            # gives no SE for it.
            intercept = float(fit._means[y] - sum(values.estimate[j] * fit._means[v]
                                                  for j, v in enumerate(x)))
            b.insert(0, {"term": "(Intercept)", "estimate": intercept, "std_error": math.nan,
                         "conf_low": math.nan, "conf_high": math.nan})
        self.coefficients = {r["term"]: r["estimate"] for r in b}
        self.b = _pd.DataFrame(b) if _pd is not None else b
        self.beta = _tidy(values, range(k, 2 * k), labels)
        self.r = _tidy(values, range(2 * k, 3 * k), labels)
        operational = self.reliability is not None
        self.operational = _tidy(values, range(3 * k, 4 * k), labels) if operational else None
        self.R2 = _tidy(values, [4 * k], ["R2"])
        self.R = _tidy(values, [4 * k + 1], ["R"])
        self.operational_R = _tidy(values, [4 * k + 2], ["operational R"]) if operational else None

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
            records = part.to_dict("records") if _pd is not None else part
            for r in records:
                rows.append({**r, "term": prefix + r["term"]})
        return _pd.DataFrame(rows) if _pd is not None else rows

    def __repr__(self) -> str:
        head = (f"Regression of {self.criterion} on {', '.join(self.predictors)} in the corrected "
                "matrix\n" + (_interval_text(self.interval) if self.interval else "no intervals"))
        return head + "\n" + str(self.table())


class Increment:
    """The increment of added predictors over a base set
    (lawley_increment()): delta_R, delta_R2, R, R2 and base_R2, each a tidy
    table; version is the library's."""

    version: str = _core.version()

    def __init__(self, fit: Lawley, values: _Values, y: int, x: List[int], base: int) -> None:
        pr = fit._pr
        k = len(x)
        self.criterion = _label(pr.names, y)
        self.base = [_label(pr.names, v) for v in x[:base]]
        self.added = [_label(pr.names, v) for v in x[base:]]
        self.interval = fit.interval
        self.failed_resamples = values.failed_resamples
        self.values = values
        self.delta_R = _tidy(values, [4 * k + 5], ["delta R"])
        self.delta_R2 = _tidy(values, [4 * k + 4], ["delta R2"])
        self.R = _tidy(values, [4 * k + 1], ["R"])
        self.R2 = _tidy(values, [4 * k], ["R2"])
        self.base_R2 = _tidy(values, [4 * k + 3], ["base R2"])

    def table(self) -> Any:
        return _tidy(self.values, [len(self.values.estimate) - 3, len(self.values.estimate) - 6,
                                   len(self.values.estimate) - 2, len(self.values.estimate) - 5,
                                   len(self.values.estimate) - 1],
                     ["base R2", "R2", "delta R2", "R", "delta R"])

    def __repr__(self) -> str:
        return (f"Increment of {', '.join(self.added)} over {', '.join(self.base)} in predicting "
                f"{self.criterion} (corrected matrix)\n" + str(self.table()))


def lawley_regression(fit: Lawley, criterion: Union[str, int],
                      predictors: Union[Sequence[Union[str, int]], str, int, None] = None
                      ) -> Regression:
    """The regression of `criterion` on `predictors` (names or numbers from
    0) in the corrected matrix: weights, R, R2 and the operational
    validities, with SEs and intervals by the fit's own method (the same
    resamples for a bootstrap). Without `predictors`, every variable but
    the criterion and the criteria (those with a reliability given, or
    named in lawley()'s `criteria`): a criterion is never a predictor
    unless named.

    >>> import numpy as np, tolbe
    >>> v = np.array([[1.0, 0.5, 0.3], [0.5, 1.0, 0.4], [0.3, 0.4, 1.0]])
    >>> fit = tolbe.lawley(v, [[1.44, 0.6], [0.6, 1.21]], diagnostics=False)
    >>> reg = tolbe.lawley_regression(fit, 2, [0, 1])
    >>> round(float(reg.R.estimate[0]), 4)
    0.4529
    """
    y = _criterion_of(fit, criterion)
    if predictors is None:
        pr = fit._pr
        predictors = _core.default_predictors(pr.q, y, pr.criteria)
        if not predictors:
            _fail(f"every variable but the criterion {_label(pr.names, y)} is a criterion, so "
                  "there are no predictors to take; name them in 'predictors'")
    values, x, _ = _validity_values(fit, y, [("'predictors'", predictors)])
    return Regression(fit, values, y, x)


def lawley_increment(fit: Lawley, criterion: Union[str, int], base: Any, added: Any) -> Increment:
    """The increment in R and R2 of adding `added` to the predictors `base`
    in predicting `criterion` (incremental validity), in the corrected
    matrix, with the fit's intervals."""
    y = _criterion_of(fit, criterion)
    base_list = [] if base is None else _as_list(base, "'base'")
    added_list = [] if added is None else _as_list(added, "'added'")
    if not base_list:
        _fail("give 'base', the predictors the others are added to")
    if not added_list:
        _fail("give 'added', the predictors added to the base set")
    values, x, at = _validity_values(fit, y, [("'base'", base_list), ("'added'", added_list)])
    return Increment(fit, values, y, x, at)


def cor2cov(r: Matrix, sd: Any) -> Any:
    """cov(i, j) = r(i, j) sd(i) sd(j): a var/cov matrix from a correlation
    matrix and standard deviations, none negative (names kept from a
    DataFrame).

    >>> import tolbe
    >>> tolbe.cor2cov([[1.0, 0.5], [0.5, 1.0]], [2.0, 3.0]).tolist()
    [[4.0, 3.0], [3.0, 9.0]]
    """
    values, names = _square(r, "r")
    if not np.all(np.isfinite(values)):
        _fail("'r' holds NaN or values that are not finite numbers")
    s = _numbers(sd)
    n = values.shape[0]
    if s is None or s.ndim != 1 or len(s) != n:
        _fail(f"'sd' must be {n} finite numbers")
    for k, value in enumerate(s):
        # A negative one would flip the signs of its covariances.
        if not (math.isfinite(value) and value >= 0.0):
            shown = f"{value:g}" if math.isfinite(value) else _not_finite_text(value)
            _fail(f"'sd' must be standard deviations, finite numbers of 0 or more: the one of "
                  f"{_label(names, k)} is {shown}")
    out = values * np.outer(s, s)
    if names is not None and _pd is not None:
        return _pd.DataFrame(out, index=names, columns=names)
    return out
