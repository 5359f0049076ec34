"""lawley(): the call resolved (tolbe._arguments), the correction, what the
library found and the intervals, and the result object."""
from __future__ import annotations

import math
import random
from typing import TYPE_CHECKING, Any, Dict, List, Optional, Sequence, Tuple, Union

import numpy as np

from . import _arguments as _a
from . import _core
from ._errors import (_SEVERITY, _WARNING, Finding, TolbeError, _decode, _encode, _fail, _label,
                      _labels, _named, _say)
from ._arguments import _Problem

if TYPE_CHECKING:
    from ._validity import Increment, Regression

_OK, _NOT_POSITIVE_DEFINITE, _INVALID_ARGUMENT = 0, 1, 2
_ARGUMENT_RESTRICTED, _ARGUMENT_UNRESTRICTED = 3, 4
_BOOTSTRAP = 3  # the library's interval methods: none, normal, adf, bootstrap
_TRIANGLE_HINT = {
    "restricted_lower_triangle": "lower",
    "unrestricted_lower_triangle": "lower",
    "restricted_upper_triangle": "upper",
    "unrestricted_upper_triangle": "upper",
}
_SEEDS = 2**64  # the program's seeds, whose streams are the same everywhere
_REFUSED_MEMORY = -1  # _core's status of a workspace past the library's bound

Matrix = Any  # numpy array, pandas DataFrame or nested sequences of numbers


def _findings_of(found: Any, names: Optional[List[str]]) -> List[Finding]:
    coded = None if names is None else [_encode(n) if n != "" else None for n in names]
    return [Finding(code, _SEVERITY[severity], _decode(message), _named(names, variables), row)
            for code, severity, message, variables, row in found.findings(coded)]


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
    n = a.shape[0]
    places = [(i, j) for j in range(n) for i in range(n) if not math.isfinite(a[i, j])
              and (only_read is None or _is_read(only_read, i, j))]

    def name(i: int) -> str:
        v = index[i] if index is not None else i
        return names[v] if names is not None and names[v] != "" else str(i)

    text = ", ".join(f"[{name(i)}, {name(j)}]" for i, j in places[:5])
    if len(places) > 5:
        text += f", and {len(places) - 5} more"
    return text


def _refused(pr: _Problem, found: Any) -> None:
    """Words the library's refusal of an argument. NaN where the correction
    reads is most often the other side of a triangle entered alone: the
    library counts NaN there as empty, so it is asked about the problem
    with NaN read as 0, and a triangle it finds is what is said (a named
    triangle is left in the order it was entered). A side of one value (a
    2 x 2 matrix) is no sign of a triangle: a NaN there is only a value
    that is missing."""
    v_bad = found.argument == _ARGUMENT_RESTRICTED and any(
        not math.isfinite(pr.v[i, j]) and _is_read(pr, i, j)
        for j in range(pr.q) for i in range(pr.q))
    s_bad = found.argument == _ARGUMENT_UNRESTRICTED and not np.all(np.isfinite(pr.s))
    if (v_bad and pr.q > 2) or (s_bad and pr.p > 2):
        probe = _core.correct(np.nan_to_num(pr.v, nan=0.0, posinf=np.inf, neginf=-np.inf),
                              np.nan_to_num(pr.s, nan=0.0, posinf=np.inf, neginf=-np.inf),
                              pr.chosen(), pr.reliability, True, False)[4]
        side = "restricted" if v_bad else "unrestricted"
        _raise_errors([f for f in _findings_of(probe, pr.names)
                       if f.code in _TRIANGLE_HINT and f.code.startswith(side)])
    if v_bad:
        _fail("'restricted' holds NaN or values that are not finite numbers where the "
              "correction reads it: " + _not_finite_places(pr.v, pr.names, None, pr))
    if s_bad:
        _fail("'unrestricted' holds NaN or values that are not finite numbers: "
              + _not_finite_places(pr.s, pr.names, pr.selection, None))
    _fail(f"invalid argument: {found.reason}")


def _screened(found: Any, pr: _Problem, data: Optional[np.ndarray],
              pool: Optional[np.ndarray]) -> Any:
    """What the correction found, with what the raw scores (or the sample
    size alone) say: too few rows is an error whatever 'diagnostics' says,
    so they are screened always. Without either, there is nothing to
    screen."""
    if data is None and pr.asked["n"] == 0:
        return found
    return _core.screen(found, pr.q, pr.p, data, pool, pr.chosen(), pr.asked["n"])


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
    pr, data_values, pool_values, rows, own = _a._problem_of(restricted, unrestricted, data, pool,
                                                             triangle, arguments)
    with_findings = diagnostics or _core.may_be_triangle(pr.v) or _core.may_be_triangle(pr.s)
    status, cov, cor, dis, found = _core.correct(pr.v, pr.s, pr.chosen(), pr.reliability,
                                                 with_findings)
    if status == _INVALID_ARGUMENT:
        _refused(pr, found)
    found = _screened(found, pr, data_values, pool_values)
    findings: Optional[List[Finding]] = None
    if found is not None and found.n_findings > 0:
        findings = _findings_of(found, pr.names)
        _raise_errors(findings)
    if status == _NOT_POSITIVE_DEFINITE:
        _fail("the restricted var/cov block of the selection variables is not positive definite "
              f"(its leading minor of order {found.leading_minor} is not positive)")
    if any(pr.from_restricted):
        # Reliabilities measured among the incumbents, made the population's
        # by the corrected variances. The correction itself does not read
        # them.
        refusal, converted = pr.request.convert(pr.v, cov)
        if refusal is not None:
            _a._refuse(refusal, pr.names)
        pr.reliability = np.array(converted, dtype=np.float64)
        status, cov, cor, dis, again = _core.correct(pr.v, pr.s, pr.chosen(), pr.reliability,
                                                     with_findings)
        if found is not None and again is not None:
            found = _screened(again, pr, data_values, pool_values)
        if status != _OK:
            _fail(f"the reliabilities cannot be converted: {_core.status_text(status)}")
        if diagnostics and found.n_findings > 0:
            findings = _findings_of(found, pr.names)
    if pr.reliability is not None and not pr.others:
        # No variable beyond the selection ones: nothing to disattenuate.
        dis = cor.copy(order="F")

    fit = Lawley.__new__(Lawley)
    fit._problem = pr
    fit._cov, fit._cor, fit._dis = cov, cor, dis
    fit._data, fit._pool = data_values, pool_values
    fit.rows = rows
    fit._findings = tuple(findings) if findings is not None and diagnostics else ()
    fit._found = found if diagnostics else None
    if pr.restricted_means is not None and pr.unrestricted_means is not None:
        fit._means = _core.means(pr.v, pr.s, pr.chosen(), pr.restricted_means,
                                 pr.unrestricted_means)
    crel = np.ones(pr.q)
    if pr.reliability is not None:
        for v in pr.criteria:
            crel[v] = pr.reliability[pr.position[v] - pr.p]
    fit._crel = crel
    if pr.asked["method"] != 0:
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
    pr, a = fit._pr, fit._pr.asked
    bootstrap = a["method"] == _BOOTSTRAP
    seed = a["seed"]
    if bootstrap and seed is None:
        seed = random.randrange(_SEEDS)
    status, reason, summary, matrices, v_used, s_used = _core.intervals(
        None if fit._data is not None else pr.v, None if fit._pool is not None else pr.s,
        pr.chosen(), pr.q, pr.p, pr.reliability, fit._data, fit._pool, a["method"], a["level"],
        a["n"], a["n_unrestricted"], a["resamples"], seed or 0, a["threads"], a["ci_type"])
    if status == _REFUSED_MEMORY:
        _fail(reason)
    if status != _OK:
        _fail(f"the intervals cannot be computed: {reason}")
    if (fit._data is not None and not np.array_equal(v_used, pr.v)) or (
            fit._pool is not None and not np.array_equal(s_used, pr.s)):
        _fail("tolbe: the intervals belong to another var/cov matrix than the correction (a fault "
              "of the package; please report it)")
    fit._se, fit._ci = {}, {}
    for name, m in zip(("cov", "cor", "disattenuated"), matrices):
        if m is not None:
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
        if pr.reliability is None:
            return None
        return {(pr.names[v] if pr.names is not None else v): value(j)
                for j, v in enumerate(pr.others) if pr.given[j]}

    @property
    def reliabilities(self) -> Optional[Dict[Union[str, int], float]]:
        """The reliabilities used (in the unrestricted population), by
        variable: only those given."""
        return self._by_given(lambda j: float(self._pr.reliability[j]))

    @property
    def reliability_sample(self) -> Optional[Dict[Union[str, int], str]]:
        return self._by_given(lambda j: ("restricted" if self._pr.from_restricted[j]
                                         else "unrestricted"))

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
        d["sign_change_pairs"] = (_core.sign_changes(pr.v, pr.chosen(), pr.p, self._cor)
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


