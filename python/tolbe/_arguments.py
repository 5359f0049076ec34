"""Python's values as the library's call: matrices and raw scores read,
the other arguments translated (lists, tuples, arrays, pandas Series,
Index and DataFrame names, Mappings for named values), and the call
resolved by the library's request layer, which decides what each means
and refuses in its own words. Variables are numbered from 0 here, as
everything in Python is; the library names unnamed variables in messages
as "variable N" with N from 1, as everywhere else."""
from __future__ import annotations

import collections.abc
import numbers
from typing import Any, Dict, List, Mapping, Optional, Sequence, Tuple

import numpy as np

from . import _core
from ._errors import _encode, _fail, _label, _refuse

try:  # pandas is optional: with it, names and tidy tables.
    import pandas as _pd
except ImportError:  # pragma: no cover - the tests run with pandas
    _pd = None

_OK = 0
_NUMBERS, _TEXTS, _OTHER = 1, 2, 3  # what an argument holds, as the library takes it
Given = Optional[Tuple[int, Optional[List[Any]], Optional[List[bytes]]]]


def _is_frame(x: Any) -> bool:
    return _pd is not None and isinstance(x, _pd.DataFrame)


def _is_series(x: Any) -> bool:
    return _pd is not None and isinstance(x, _pd.Series)


def _is_default_index(index: Any) -> bool:
    return isinstance(index, _pd.RangeIndex) and index.start == 0 and index.step == 1


def _unnamed_rows(index: Any) -> bool:
    """Whether row labels are only the numbers 0..n-1, as a matrix built
    from an array gets them."""
    if _is_default_index(index):
        return True
    return index.dtype.kind in "iu" and list(index) == list(range(len(index)))


def _distinct(names: Sequence[str], what: str, kind: str) -> None:
    """Refuses a name given to two columns (or rows): the first would
    silently win. Places from 0, as iloc counts."""
    for k, name in enumerate(names):
        if name in names[:k]:
            _fail(f"{what}: the name \"{name}\" is given to {kind} {names.index(name)} and {k}")


def _frame_names(x: Any) -> Optional[List[str]]:
    """The variable names of a DataFrame var/cov matrix: its columns, else
    its index (None for the default 0..n-1 of both)."""
    if not _is_default_index(x.columns):
        return [str(c) for c in x.columns]
    if not _is_default_index(x.index):
        return [str(i) for i in x.index]
    return None


def _shape_refusal(scores: bool, what: str, numeric: bool, rows: int, columns: int,
                   row_names: Optional[List[str]] = None,
                   column_names: Optional[List[str]] = None,
                   not_numbers: Sequence[int] = ()) -> None:
    """Raises the library's refusal of a matrix or of raw scores."""
    coded = [None if n is None else [_encode(x) for x in n] for n in (row_names, column_names)]
    refusal = _core.shape_refusal(scores, what, numeric, rows, columns, coded[0], coded[1],
                                  list(not_numbers))
    if refusal is not None:
        _refuse(refusal, None)


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


def _square(x: Any, what: str) -> Tuple[np.ndarray, Optional[List[str]]]:
    names = row_names = None
    if _is_frame(x):
        names = _frame_names(x)
        # Rows labelled as the variables are checked against the columns;
        # raw scores given as a matrix are told by their shape, rows
        # labelled by person and all.
        if not _is_default_index(x.columns) and not _unnamed_rows(x.index):
            row_names = [str(i) for i in x.index]
        try:
            values = x.to_numpy(dtype=np.float64, na_value=np.nan)
        except (TypeError, ValueError):
            values = None
    else:
        values = _numbers(x)
    two = values is not None and values.ndim == 2
    rows, columns = values.shape if two else (-1, -1)
    if what in ("restricted", "unrestricted"):
        _shape_refusal(False, what, two, rows, columns, row_names,
                       names if row_names is not None else None)
    elif not two:  # cor2cov()'s 'r'
        _fail(f"'{what}' must be a numeric matrix (or a data frame of numbers)")
    elif rows != columns:
        _fail(f"'{what}' must be square, not {rows} x {columns}")
    return values, names


def _scores_names(x: Any, what: str) -> Tuple[int, Optional[List[str]]]:
    """The columns of raw scores and their names (None: unnamed)."""
    if _is_frame(x):
        columns, names = x.shape[1], (None if _is_default_index(x.columns)
                                      else [str(c) for c in x.columns])
    else:
        values = _numbers(x)
        two = values is not None and values.ndim == 2
        columns, names = values.shape[1] if two else 0, None
        _shape_refusal(True, what, two, -1, columns)
    _shape_refusal(True, what, True, -1, columns)
    return columns, names


def _raw_scores(x: Any, what: str, columns: Optional[List[int]] = None) -> np.ndarray:
    """The raw scores of `x` (of `columns` only, when given), rows x
    columns, NaN where missing: numbers only."""
    if _is_frame(x):
        if columns is not None:
            x = x.iloc[:, columns]
        wrong = [j for j in range(x.shape[1])
                 if x.dtypes.iloc[j].kind not in "iuf"
                 and not (x.dtypes.iloc[j].kind == "O" and _all_numbers(x.iloc[:, j]))]
        if wrong:
            _shape_refusal(True, what, True, -1, x.shape[1], None,
                           [str(c) for c in x.columns], wrong)
        return x.to_numpy(dtype=np.float64, na_value=np.nan)
    values = _numbers(x)
    assert values is not None  # _scores_names said so
    return values if columns is None else np.ascontiguousarray(values[:, columns])


def _all_numbers(column: Any) -> bool:
    return all(v is None or (isinstance(v, numbers.Real) and not isinstance(v, bool))
               or (_pd is not None and v is _pd.NA) for v in column)


def _as_list(x: Any, what: str) -> List[Any]:
    """One name or number, or a sequence of them, as a list. A set is
    refused: its order changes from one run of Python to the next (string
    hashing is salted), and so would the results."""
    if isinstance(x, (str, bytes, numbers.Number)):
        return [x]
    if isinstance(x, collections.abc.Set):
        _fail(f"{what} must be a list or tuple, not a {type(x).__name__}: the order of a set (or "
              "of a set-like view) can change from one run of Python to the next, and the "
              "results with it")
    if isinstance(x, np.ndarray):
        return x.ravel().tolist()
    try:
        return list(x)
    except TypeError:
        return [x]


def _real(x: Any) -> bool:
    return isinstance(x, numbers.Real) and not isinstance(x, (bool, np.bool_))


def _float(x: Any) -> float:
    try:
        return float(x)
    except OverflowError:  # an int past the doubles is no variable's number
        return float("inf")


def _variables(x: Any, what: str) -> Given:
    """Variables by name or by number (from 0)."""
    if x is None:
        return None
    items = _as_list(x, what)
    if items and all(isinstance(i, str) for i in items):
        return _TEXTS, [_encode(i) for i in items], None
    if all(_real(i) for i in items):
        return _NUMBERS, [_float(i) for i in items], None
    return _OTHER, None, None


def _named_values(x: Any) -> Tuple[Optional[List[str]], Optional[np.ndarray]]:
    """Values named by variable (a Mapping, or a Series with names) as
    (names, values); unnamed values as (None, values). Values None when `x`
    is not numbers."""
    if isinstance(x, Mapping):
        return [str(k) for k in x.keys()], _numbers(list(x.values()))
    if _is_series(x):
        values = _numbers(x.to_numpy(dtype=np.float64, na_value=np.nan)
                          if x.dtype.kind in "iufO" else x)
        return (None if _is_default_index(x.index) else [str(k) for k in x.index]), values
    values = _numbers(x)
    return None, (values.ravel() if values is not None and values.ndim <= 1 else None)


def _values(x: Any) -> Given:
    """Numbers, named by variable or in order."""
    if x is None:
        return None
    names, values = _named_values(x)
    if values is None:
        return _OTHER, None, None
    return _NUMBERS, values.tolist(), None if names is None else [_encode(n) for n in names]


def _places(x: Any) -> Given:
    """Texts, one for all, in order, or named by variable."""
    if x is None:
        return None
    if isinstance(x, Mapping) or _is_series(x) and not _is_default_index(x.index):
        keys: Optional[List[bytes]] = [_encode(str(k)) for k, _ in x.items()]
        items = [v for _, v in x.items()]
    else:
        keys, items = None, _as_list(x, "'reliability_sample'")
    if not all(isinstance(i, str) for i in items):
        return _OTHER, None, None
    return _TEXTS, [_encode(i) for i in items], keys


def _number(x: Any) -> Given:
    if x is None:
        return None
    return (_NUMBERS, [_float(x)], None) if _real(x) else (_OTHER, None, None)


def _text(x: Any) -> Given:
    if x is None:
        return None
    return (_TEXTS, [_encode(x)], None) if isinstance(x, str) else (_OTHER, None, None)


def _seed(x: Any) -> Given:
    # A Python int is exact at any size: the library takes it as its digits.
    if isinstance(x, numbers.Integral) and not isinstance(x, (bool, np.bool_)):
        return _TEXTS, [str(int(x)).encode()], None
    return _text(x) if isinstance(x, str) else _number(x)


def _arguments_of(selection: Any, reliabilities: Any, reliability_sample: Any, criteria: Any,
                  restricted_means: Any, unrestricted_means: Any, interval: Any, n: Any,
                  n_unrestricted: Any, level: Any, B: Any, seed: Any, threads: Any,
                  ci_type: Any) -> Dict[str, Given]:
    return {"selection": _variables(selection, "'selection'"),
            "reliabilities": _values(reliabilities),
            "reliability_sample": _places(reliability_sample),
            "criteria": _variables(criteria, "'criteria'"),
            "restricted_means": _values(restricted_means),
            "unrestricted_means": _values(unrestricted_means),
            "interval": _text(interval), "n": _number(n), "n_unrestricted": _number(n_unrestricted),
            "level": _number(level), "resamples": _number(B), "seed": _seed(seed),
            "threads": _number(threads), "ci_type": _text(ci_type)}


# ---------------------------------------------------------------------------
# The problem as resolved


class _Problem:
    """The matrices the correction takes (S in selection order) and the
    library's resolution of the call: the selection, the criteria, the
    pool's columns and the interval options (`asked`)."""

    def __init__(self, request: Any, v: np.ndarray, s: np.ndarray,
                 names: Optional[List[str]]) -> None:
        r = request.resolved()
        self.request = request
        self.v, self.s, self.names = v, s, names
        self.q, self.p = r["q"], r["p"]
        self.selection: List[int] = r["selection"]
        self.criteria: List[int] = r["criteria"]
        self.rows: List[int] = r["unrestricted_rows"]
        self.asked: Dict[str, Any] = r
        # Each variable's reliability as used (NaN: none given) and whether
        # it was measured among the selected; None without reliabilities.
        self.reliabilities: Optional[List[float]] = None
        self.measured_restricted: List[bool] = []

    def settle(self, got: Dict[str, Any]) -> None:
        """V and S as the library's fit used them (V from the data or
        mirrored, S in selection order) and the reliabilities (converted)."""
        self.v, self.s = got["restricted"], got["unrestricted"]
        self.reliabilities = got["reliabilities"]
        self.measured_restricted = got.get("measured_restricted", [])


def _resolved(q: int, names: Optional[List[str]], with_data: bool, p: int,
              s_names: Optional[List[str]], with_pool: bool, s: Optional[np.ndarray],
              mirrored: bool, arguments: Dict[str, Given]) -> Any:
    coded = None if names is None else [_encode(n) for n in names]
    s_coded = None if s_names is None else [_encode(n) for n in s_names]
    request = _core.resolve(q, coded, with_data, p, s_coded, with_pool, s, mirrored, arguments)
    if request.refusal is not None:
        _refuse(request.refusal, names)
    return request


def _plain_problem(v: np.ndarray, s: np.ndarray) -> _Problem:
    """The problem of lawley(v, s) with nothing else given."""
    request = _resolved(v.shape[0], None, False, s.shape[0], None, False, None, False, {})
    return _Problem(request, v, s, None)


def _problem_of(restricted: Any, unrestricted: Any, data: Any, pool: Any, triangle: Optional[str],
                arguments: Dict[str, Given]
                ) -> Tuple[_Problem, Optional[np.ndarray], Optional[np.ndarray]]:
    """The problem of lawley()'s arguments, resolved: (the problem, with V
    and S as given or None, the raw scores of the restricted sample and of
    the pool's selection variables in selection order)."""
    with_data, with_pool = data is not None, pool is not None
    data_values = pool_values = v = s = s_names = None
    if with_data:
        q, names = _scores_names(data, "data")
        data_values = _raw_scores(data, "data")
    else:
        v, names = _square(restricted, "restricted")
        q = v.shape[0]
    if with_pool:
        p, s_names = _scores_names(pool, "pool")
    else:
        s, s_names = _square(unrestricted, "unrestricted")
        p = s.shape[0]
    request = _resolved(q, names, with_data, p, s_names, with_pool, s, triangle is not None,
                        arguments)
    pr = _Problem(request, v, s, names)
    if with_pool:
        # Only the selection variables' columns are read: others, such as
        # an identifier, may hold anything.
        pool_values = _raw_scores(pool, "pool", pr.rows)
    return pr, data_values, pool_values


def cor2cov(r: Any, sd: Any) -> Any:
    """cov(i, j) = r(i, j) sd(i) sd(j): a var/cov matrix from a correlation
    matrix and standard deviations, none negative (names kept from a
    DataFrame).

    >>> import tolbe
    >>> tolbe.cor2cov([[1.0, 0.5], [0.5, 1.0]], [2.0, 3.0]).tolist()
    [[4.0, 3.0], [3.0, 9.0]]
    """
    values, names = _square(r, "r")
    if names is not None:
        _distinct(names, "'r'", "columns" if not _is_default_index(r.columns) else "rows")
    if not np.all(np.isfinite(values)):
        _fail("'r' holds NaN or values that are not finite numbers")
    s = _numbers(sd)
    n = values.shape[0]
    if s is None or s.ndim != 1 or len(s) != n:
        _fail(f"'sd' must be {n} finite numbers")
    for k, value in enumerate(s):
        # A negative one would flip the signs of its covariances.
        if not (np.isfinite(value) and value >= 0.0):
            shown = (f"{value:g}" if np.isfinite(value) else "NaN" if np.isnan(value)
                         else "Inf" if value > 0 else "-Inf")
            _fail(f"'sd' must be standard deviations, finite numbers of 0 or more: the one of "
                  f"{_label(names, k)} is {shown}")
    out = values * np.outer(s, s)
    if names is not None and _pd is not None:
        return _pd.DataFrame(out, index=names, columns=names)
    return out
