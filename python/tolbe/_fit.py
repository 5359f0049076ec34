"""lawley(): the call resolved (tolbe._arguments), the correction, what the
library found and the intervals, and the result object."""
from __future__ import annotations

import math
import random
from typing import TYPE_CHECKING, Any, Dict, List, Optional, Sequence, Tuple, Union

import numpy as np

from . import _arguments as _a
from . import _core
from ._errors import (_SEVERITY, Finding, TolbeError, _decode, _encode, _fail, _label,
                      _labels, _named, _say)
from ._arguments import _Problem

if TYPE_CHECKING:
    from ._validity import Increment, Regression

_BOOTSTRAP = 3  # the library's interval methods: none, normal, adf, bootstrap
_SEEDS = 2**64  # the program's seeds, whose streams are the same everywhere

Matrix = Any  # numpy array, pandas DataFrame or nested sequences of numbers


def _messages_of(got: Dict[str, Any], names: Optional[List[str]]) -> List[Finding]:
    return [Finding(code, _SEVERITY[severity], _decode(message), _named(names, variables), row)
            for code, severity, _argument, message, variables, row in got["messages"]]


def _raise_refused(got: Dict[str, Any], names: Optional[List[str]]) -> None:
    """Raises the fit's errors: a refusal of one argument, or the findings
    that make the numbers certainly wrong."""
    if not got["refused"]:
        return
    code, _, argument, message, variables, _ = got["messages"][0]
    if argument:
        raise TolbeError(_decode(message), [code], None, argument, _named(names, variables))
    errors = _messages_of(got, names)
    raise TolbeError("\n".join(f.message for f in errors), [f.code for f in errors], errors)


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
    rest = (selection, reliabilities, n, data, pool, restricted_means, unrestricted_means,
            triangle, interval, B, level, seed, threads, ci_type, criteria, reliability_sample,
            n_unrestricted)
    if all(x is None for x in rest) and (diagnostics is True or diagnostics is False):
        # The usual call: two float64 arrays that the library corrects
        # without a finding. Anything else (or anything found) takes the
        # whole road below, which says what there is to say.
        got = _core.quick(restricted, unrestricted, diagnostics)
        if got is not None:
            fit = Lawley.__new__(Lawley)
            fit._cov, fit._cor = got
            fit._quick = (restricted, unrestricted, diagnostics)
            return fit
    if diagnostics is not True and diagnostics is not False:
        if not isinstance(diagnostics, (bool, np.bool_)):
            _fail("'diagnostics' must be True or False")
        diagnostics = bool(diagnostics)
    if triangle is not None and triangle not in ("lower", "upper"):
        _fail("'triangle' must be None (whole matrices), \"lower\" or \"upper\"")
    with_data, with_pool = data is not None, pool is not None
    refusal = _core.sources_refusal(restricted is not None, with_data, unrestricted is not None,
                                    with_pool, restricted_means is not None,
                                    unrestricted_means is not None)
    if refusal is not None:
        _fail(refusal[2], refusal[0], refusal[1])
    arguments = _a._arguments_of(selection, reliabilities, reliability_sample, criteria,
                                 restricted_means, unrestricted_means, interval, n, n_unrestricted,
                                 level, B, seed, threads, ci_type)
    pr, data_values, pool_values = _a._problem_of(restricted, unrestricted, data, pool, triangle,
                                                  arguments)
    bootstrap = pr.asked["method"] == _BOOTSTRAP
    drawn = random.randrange(_SEEDS) if bootstrap and pr.asked["seed"] is None else 0
    got = pr.request.fit(pr.v, pr.s, data_values, pool_values, triangle or "", diagnostics, drawn)
    _raise_refused(got, pr.names)
    pr.settle(got)
    fit = Lawley.__new__(Lawley)
    fit._problem = pr
    fit._cov, fit._cor, fit._dis = got["cov"], got["cor"], got["disattenuated"]
    fit._operational = got["operational"]
    fit._crel = got["criterion_reliability"]
    fit._means = got["means"]
    fit._data, fit._pool = data_values, pool_values
    used, dropped, pool_used, pool_dropped = got["rows"]
    if data_values is not None or pool_values is not None:
        fit.rows = {"used": used if data_values is not None else None,
                    "dropped": dropped if data_values is not None else None,
                    "pool_used": pool_used if pool_values is not None else None,
                    "pool_dropped": pool_dropped if pool_values is not None else None}
    fit._findings = tuple(_messages_of(got, pr.names)) if diagnostics else ()
    fit._diagnostics = got["diagnostics"]
    if got["intervals"] is not None:
        _intervals_into(fit, got["intervals"])
    for f in fit._findings:
        _say(_SEVERITY.index(f.severity), f.message, f.code, f.variables, f.row)
    return fit


def _intervals_into(fit: "Lawley", got: Tuple[Dict[str, Any], ...]) -> None:
    """The fit's SEs and intervals, and how they were computed."""
    summary, se, lower, upper = got
    fit._se = dict(se)
    fit._ci = {name: {"lower": lower[name], "upper": upper[name]} for name in se}
    bootstrap = summary["method"] == "bootstrap"
    fit.interval = {
        "method": summary["method"],
        "ci_type": ("percentile" if summary["interval"] == 1 else "bca") if bootstrap else "wald",
        "level": summary["level"],
        "n": summary["n"],
        "n_unrestricted": summary["n_unrestricted"] if summary["n_unrestricted"] > 0 else None,
        "B": summary["resamples"] if bootstrap else None,
        "seed": summary["seed"] if bootstrap else None,
        "threads": summary["threads"] if bootstrap else None,
        "failed_resamples": summary["failed_resamples"] if bootstrap else None,
        "percentile_fallbacks": (summary["percentile_fallbacks"]
                                 if bootstrap and summary["interval"] == 0 else None),
        "rows_dropped": summary["rows_dropped"] if fit._data is not None else None,
        "pool_rows_dropped": summary["pool_rows_dropped"] if fit._pool is not None else None,
        "description": _decode(summary["description"]),
    }


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
    _quick: Optional[Tuple[np.ndarray, np.ndarray, bool]] = None
    _dis: Optional[np.ndarray] = None
    _data: Optional[np.ndarray] = None
    _pool: Optional[np.ndarray] = None
    _diagnostics: Optional[Dict[str, Any]] = None
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
            self._problem = _a._plain_problem(v, s)
            self._crel = np.ones(self._problem.q)
        return self._problem

    # -- the matrices, named as the input was --------------------------------
    def _named(self, m: Optional[np.ndarray]) -> Any:
        if self._problem is None:
            return m
        names = self._problem.names
        if m is None or names is None or _a._pd is None:
            return m
        return _a._pd.DataFrame(m, index=names, columns=names)

    cov = property(lambda self: self._named(self._cov))
    cor = property(lambda self: self._named(self._cor))
    disattenuated = property(lambda self: self._named(self._dis))
    operational = property(lambda self: self._named(self._operational_matrix()))
    names = property(lambda self: None if self._pr.names is None else list(self._pr.names))
    selection = property(lambda self: list(self._pr.selection))
    criteria = property(lambda self: list(self._pr.criteria))

    @property
    def means(self) -> Any:
        if self._means is None or self._pr.names is None or _a._pd is None:
            return self._means
        return _a._pd.Series(self._means, index=self._pr.names)

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
        if pr.names is None or _a._pd is None:
            return pr.s
        selected = [pr.names[v] for v in pr.selection]
        return _a._pd.DataFrame(pr.s, index=selected, columns=selected)

    def _by_given(self, value: Any) -> Optional[Dict[Union[str, int], Any]]:
        pr = self._pr
        if pr.reliabilities is None:
            return None
        return {(pr.names[v] if pr.names is not None else v): value(v)
                for v, r in enumerate(pr.reliabilities) if not math.isnan(r)}

    @property
    def reliabilities(self) -> Optional[Dict[Union[str, int], float]]:
        """The reliabilities used (in the unrestricted population), by
        variable: only those given."""
        return self._by_given(lambda v: float(self._pr.reliabilities[v]))

    @property
    def reliability_sample(self) -> Optional[Dict[Union[str, int], str]]:
        return self._by_given(lambda v: ("restricted" if self._pr.measured_restricted[v]
                                         else "unrestricted"))

    @property
    def diagnostics(self) -> Optional[Dict[str, Any]]:
        """What the correction found (None with diagnostics=False):
        asymmetries, definiteness, counts and first places (from 0) of
        what is out of range, the sign-change pairs and the places of
        the restricted matrix that are not finite."""
        d = self._diagnostics
        if d is None and self._quick is not None and self._quick[2]:
            # The usual call found nothing and kept nothing: the same call
            # gives the same diagnostics.
            v, s, _ = self._quick
            d = self._pr.request.fit(v, s, None, None, "", True, 0)["diagnostics"]
        return None if d is None else dict(d)

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
        if _a._pd is None:
            return rows
        columns = (["term", "predictor", "criterion", "quantity"] if which == "validity"
                   else ["term"]) + ["estimate", "std_error", "conf_low", "conf_high"]
        return _a._pd.DataFrame(rows, columns=columns)

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
                   ) -> Regression:
        """The regression of `criterion` on `predictors` in the corrected
        matrix, with the fit's own intervals: see lawley_regression()."""
        from ._validity import lawley_regression
        return lawley_regression(self, criterion, predictors)

    def increment(self, criterion: Union[str, int], base: Any, added: Any) -> Increment:
        """The increment of `added` over `base` in predicting `criterion`:
        see lawley_increment()."""
        from ._validity import lawley_increment
        return lawley_increment(self, criterion, base, added)


def _correlations(v: np.ndarray) -> np.ndarray:
    d = np.sqrt(np.diag(v))
    return v / np.outer(d, d)


def _interval_text(info: Dict[str, Any]) -> str:
    """How the intervals were computed, in the library's words."""
    return str(info["description"])
