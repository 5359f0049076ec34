"""The mistakes of real studies, each given a right answer or a refusal
that names the cause: a named unrestricted matrix in another order, empty
matrices, unordered selections, names given twice, row names that say
otherwise than column names, too few rows, missing-value codes, a pool
that is not all the applicants, a bootstrap too large for memory; and
refusals that speak only of the arguments the caller gave."""
import os

import numpy as np
import pandas as pd
import pytest

import tolbe
from conftest import EXAMPLES, ROOT, caught, numpy_lawley, same_bits

STUDY = os.path.join(EXAMPLES, "study")
HIRED = pd.read_csv(os.path.join(STUDY, "hired.csv"), float_precision="round_trip")
APPLICANTS = pd.read_csv(os.path.join(STUDY, "applicants.csv"), float_precision="round_trip")
V = HIRED.cov()
S = APPLICANTS.cov()  # T1, T2


def refusal(**call):
    with pytest.raises(ValueError) as raised:
        caught(tolbe.lawley, **call)
    assert isinstance(raised.value, tolbe.TolbeError)
    return str(raised.value)


# ---------------------------------------------------------------------------
# A named unrestricted matrix is matched to 'selection' by its names


def expected_t1_c1():
    """T1-C1 by the formula in numpy, the selection in the order T2, T1 and
    the pool's matrix put in that order by hand."""
    order = [1, 0]  # T2, T1 in the pool's columns
    s = S.to_numpy()[np.ix_(order, order)]
    _, r, _ = numpy_lawley(V.to_numpy(), s, [1, 0])
    return r[0, 3]


@pytest.mark.parametrize("call", [
    dict(selection=["T2", "T1"]),
    dict(selection=("T2", "T1")),
    dict(selection=[1, 0]),  # numbers, matched by the names all the same
    dict(selection=np.array([1, 0])),
    dict(selection=pd.Series(["T2", "T1"])),
    dict(selection=["T1", "T2"]),
    dict(selection=None),
])
def test_a_named_unrestricted_matrix_is_matched_to_the_selection_by_name(call):
    expected = expected_t1_c1()
    assert abs(expected - 0.472) < 5e-4  # the study's validity, as the program gives it
    fit = caught(tolbe.lawley, V, S, **call)[0]
    assert fit.cor.loc["T1", "C1"] == pytest.approx(expected, rel=1e-12)
    # The unrestricted matrix the correction used is the pool's, by name.
    assert fit.unrestricted.loc["T1", "T1"] == S.loc["T1", "T1"]
    assert fit.unrestricted.loc["T2", "T1"] == S.loc["T2", "T1"]


def test_the_unrestricted_matrix_in_the_other_order_by_name():
    reversed_s = S.loc[["T2", "T1"], ["T2", "T1"]]
    for selection in (["T1", "T2"], [0, 1], None):
        fit = caught(tolbe.lawley, V, reversed_s, selection=selection)[0]
        assert fit.cor.loc["T1", "C1"] == pytest.approx(expected_t1_c1(), rel=1e-12)


@pytest.mark.parametrize("selection,named", [
    (["T1", "INT"], "T1, INT"),
    ([0, 2], "T1, INT"),
    (["C2", "T2"], "C2, T2"),
])
def test_names_that_contradict_the_selection_stop_listing_both(selection, named):
    assert refusal(restricted=V, unrestricted=S, selection=selection) == (
        f"the unrestricted matrix is that of T1, T2, but 'selection' names {named}")


def test_unnamed_unrestricted_means_follow_the_unrestricted_matrix():
    by_name = caught(tolbe.lawley, V, S, selection=["T2", "T1"], restricted_means=HIRED.mean(),
                     unrestricted_means=APPLICANTS.mean())[0]
    in_order = caught(tolbe.lawley, V, S, selection=["T2", "T1"], restricted_means=HIRED.mean(),
                      unrestricted_means=APPLICANTS.mean().tolist())[0]
    assert np.array_equal(by_name.means.to_numpy(), in_order.means.to_numpy())
    assert by_name.means["T1"] == APPLICANTS.T1.mean()


@pytest.mark.parametrize("selection", [None, ["T1", "T2"], [0, 1]])
def test_unnamed_unrestricted_means_are_in_the_order_of_the_matrix_as_given(selection):
    # The pool's matrix is given T2 first: unnamed means follow its rows,
    # whatever the order of the selection.
    reversed_s = S.loc[["T2", "T1"], ["T2", "T1"]]
    means = APPLICANTS.mean()
    fit = caught(tolbe.lawley, V, reversed_s, selection=selection, restricted_means=HIRED.mean(),
                 unrestricted_means=np.array([means.T2, means.T1]))[0]
    assert fit.means["T1"] == means.T1 and fit.means["T2"] == means.T2
    by_name = caught(tolbe.lawley, V, reversed_s, selection=selection,
                     restricted_means=HIRED.mean(), unrestricted_means={"T1": means.T1,
                                                                        "T2": means.T2})[0]
    assert np.array_equal(fit.means.to_numpy(), by_name.means.to_numpy())


def test_a_triangle_is_mirrored_as_given_before_it_is_put_in_selection_order():
    lower = S.copy()
    lower.loc["T1", "T2"] = 0.0
    whole = caught(tolbe.lawley, V, S, selection=["T2", "T1"])[0]
    mirrored = caught(tolbe.lawley, V, lower, selection=["T2", "T1"], triangle="lower")[0]
    assert np.array_equal(mirrored.cor.to_numpy(), whole.cor.to_numpy())


# ---------------------------------------------------------------------------
# Nothing to correct by


@pytest.mark.parametrize("call,message", [
    (dict(data=HIRED, unrestricted=np.zeros((0, 0))),
     "'unrestricted' has no variables (it is 0 x 0); give the var/cov matrix of the selection "
     "variables, at least one"),
    (dict(restricted=V.to_numpy(), unrestricted=np.zeros((0, 0))),  # the usual call's road
     "'unrestricted' has no variables (it is 0 x 0)"),
    (dict(restricted=V, unrestricted=pd.DataFrame()), "'unrestricted' has no variables"),
    (dict(restricted=np.zeros((0, 0)), unrestricted=np.zeros((0, 0))),
     "'restricted' has no variables (it is 0 x 0)"),
    (dict(data=HIRED, pool=APPLICANTS, selection=[]),
     "'selection' names no variable; give the selection variables, at least one"),
    (dict(data=HIRED, pool=np.zeros((10, 0))), "'pool' has no columns"),
    (dict(data=HIRED.to_numpy()[:, :0], unrestricted=S), "'data' has no columns"),
])
def test_no_variables_is_refused(call, message):
    assert refusal(**call).startswith(message)


# ---------------------------------------------------------------------------
# An unordered selection


@pytest.mark.parametrize("make", [set, frozenset, lambda x: dict.fromkeys(x).keys(),
                                  lambda x: {k: 1 for k in x}.items()])
def test_a_set_is_refused_where_a_list_is_wanted(make):
    kind = type(make(["T1", "T2"])).__name__
    message = refusal(restricted=V, unrestricted=S, selection=make(["T1", "T2"]))
    assert message.startswith(f"'selection' must be a list or tuple, not a {kind}: the order of "
                              "a set (or of a set-like view) can change from one run of Python "
                              "to the next")
    assert refusal(data=HIRED, pool=APPLICANTS, selection=make(["T1", "T2"])).startswith(
        f"'selection' must be a list or tuple, not a {kind}")
    assert refusal(restricted=V, unrestricted=S, reliabilities={"C1": 0.8},
                   criteria=make(["C1"])).startswith(f"'criteria' must be a list or tuple")
    fit = caught(tolbe.lawley, V, S, n=200)[0]
    with pytest.raises(ValueError, match="^'predictors' must be a list or tuple"):
        fit.regression("C1", make(["T1", "T2"]))
    with pytest.raises(ValueError, match="^'added' must be a list or tuple"):
        fit.increment("C1", ["T1"], make(["T2", "INT"]))


# ---------------------------------------------------------------------------
# Names given twice, and row names against column names


def renamed(frame, names, rows=None):
    out = frame.copy()
    out.columns = names
    if rows is not None:
        out.index = rows
    return out


COV_NAMES = ["T1", "T2", "INT", "C1", "C2"]


@pytest.mark.parametrize("call,message", [
    (dict(data=renamed(HIRED, ["T1", "T1", "INT", "C1", "C2"]), pool=APPLICANTS,
          selection=["T1", "INT"]),
     "'data': the name \"T1\" is given to columns 0 and 1"),
    (dict(data=renamed(HIRED, ["T1", "T2", "INT", "C1", "T2"]), unrestricted=S),
     "'data': the name \"T2\" is given to columns 1 and 4"),
    (dict(data=HIRED, pool=renamed(APPLICANTS.assign(x=APPLICANTS.T1), ["T1", "T2", "T1"]),
          selection=["T1", "T2"]),
     "'pool': the name \"T1\" is given to columns 0 and 2"),
    (dict(data=HIRED, pool=renamed(APPLICANTS.assign(x=APPLICANTS.T1), ["T1", "T2", "T1"])),
     "'pool': the name \"T1\" is given to columns 0 and 2"),
    (dict(restricted=renamed(V, ["T1", "T1", "INT", "C1", "C2"], ["T1", "T1", "INT", "C1", "C2"]),
          unrestricted=S.to_numpy(), selection=[0, 2]),
     "'restricted': the name \"T1\" is given to variables 0 and 1"),
    (dict(restricted=V, unrestricted=renamed(S, ["T1", "T1"], ["T1", "T1"])),
     "'unrestricted': the name \"T1\" is given to variables 0 and 1"),
    (dict(restricted=pd.DataFrame(V.to_numpy(), index=["T1", "T2", "T1", "C1", "C2"]),
          unrestricted=S),
     "'restricted': the name \"T1\" is given to variables 0 and 2"),
    (dict(restricted=renamed(V, COV_NAMES, ["T1", "T2", "C1", "INT", "C2"]), unrestricted=S),
     "'restricted': row 2 is named \"C1\", but column 2 \"INT\"; the rows and the columns are "
     "the same variables, in the same order"),
    (dict(restricted=V, unrestricted=renamed(S, ["T1", "T2"], ["T2", "T1"])),
     "'unrestricted': row 0 is named \"T2\", but column 0 \"T1\""),
])
def test_names_given_twice_or_contradicted_are_refused(call, message):
    said = refusal(**call)
    assert said.startswith(message)
    assert "'selection'" not in said


def test_raw_scores_given_as_a_matrix_are_told_by_their_shape_whatever_their_rows():
    people = HIRED.set_axis([f"p{i}" for i in range(len(HIRED))], axis=0)
    assert refusal(restricted=people, unrestricted=S).startswith(
        "'restricted' must be square, not 200 x 5; raw scores, one row per person, are given as "
        "data =")


def test_cor2cov_refuses_names_given_twice():
    r = pd.DataFrame(np.eye(2), index=["a", "a"], columns=["a", "a"])
    with pytest.raises(ValueError, match="^'r': the name \"a\" is given to columns 0 and 1$"):
        tolbe.cor2cov(r, [1.0, 2.0])


@pytest.mark.parametrize("call", [
    # Only the selection variables' columns of the pool are read.
    dict(data=HIRED, pool=APPLICANTS.assign(a=1, b=2).set_axis(["T1", "T2", "id", "id"], axis=1),
         selection=["T1", "T2"]),
    # Row labels 0..n-1 of a matrix built from an array are no names.
    dict(restricted=pd.DataFrame(V.to_numpy(), columns=COV_NAMES, index=[0, 1, 2, 3, 4]),
         unrestricted=S),
    dict(restricted=V, unrestricted=S),
])
def test_what_is_not_read_or_not_named_is_not_refused(call):
    fit = caught(tolbe.lawley, **call)[0]
    assert fit.names == COV_NAMES


# ---------------------------------------------------------------------------
# cor2cov


@pytest.mark.parametrize("sd,shown", [([1.0, -2.0, 1.0], "b is -2"),
                                      ([float("nan"), 2.0, 1.0], "a is NaN"),
                                      ([1.0, 2.0, float("inf")], "c is Inf")])
def test_cor2cov_takes_no_negative_or_missing_sd(sd, shown):
    r = pd.DataFrame(np.eye(3) * 0.5 + 0.5, index=list("abc"), columns=list("abc"))
    with pytest.raises(ValueError, match="^'sd' must be standard deviations, finite numbers of 0 "
                                         f"or more: the one of {shown}$"):
        tolbe.cor2cov(r, sd)


def test_cor2cov_takes_a_zero_sd():
    assert tolbe.cor2cov([[1.0, 0.5], [0.5, 1.0]], [0.0, 2.0]).tolist() == [[0.0, 0.0],
                                                                           [0.0, 4.0]]


# ---------------------------------------------------------------------------
# Refusals name the arguments the caller gave


@pytest.mark.parametrize("base,added,message", [
    (["T1", "Z"], ["INT"], "'base' names an unknown variable: Z"),
    (["T1"], ["INT", "Z"], "'added' names an unknown variable: Z"),
    (["T1", "T1"], ["INT"], "'base' names T1 more than once"),
    (["T1"], ["INT", "T1"], "'base' and 'added' both name T1"),
    (["T1"], ["C1"], "the criterion C1 is among 'added'"),
    (["C1"], ["T1"], "the criterion C1 is among 'base'"),
    ([], ["T1"], "'base' must name at least one variable"),
    (None, ["T1"], "'base' must name at least one variable"),
    (["T1"], None, "'added' must name at least one variable"),
    ([9], ["T1"], "'base' holds numbers outside 0..4"),
])
def test_an_increment_speaks_of_base_and_added(base, added, message):
    fit = caught(tolbe.lawley, data=HIRED, pool=APPLICANTS, selection=["T1", "T2"])[0]
    with pytest.raises(ValueError) as raised:
        fit.increment("C1", base, added)
    assert str(raised.value) == message
    assert "predictors'" not in str(raised.value)


def test_more_than_50_predictors_are_said_of_the_arguments_given():
    fit = caught(tolbe.lawley, np.eye(60) + 0.1, np.eye(2) * 1.5 + 0.1)[0]
    with pytest.raises(ValueError, match="^'predictors' names 51 variables; at most 50 are taken$"):
        fit.regression(59, list(range(51)))
    with pytest.raises(ValueError, match="^'base' and 'added' name 52 variables; at most 50 are "
                                         "taken$"):
        fit.increment(59, list(range(30)), list(range(30, 52)))


def test_a_regression_speaks_of_predictors():
    fit = caught(tolbe.lawley, data=HIRED, pool=APPLICANTS, selection=["T1", "T2"])[0]
    with pytest.raises(ValueError, match="^'predictors' names T1 more than once$"):
        fit.regression("C1", ["T1", "T1"])
    with pytest.raises(ValueError, match="^the criterion C1 is among the predictors$"):
        fit.regression("C1", ["T1", "C1"])


@pytest.mark.parametrize("call,message", [
    # One value a side is no triangle: it is a value that is missing.
    (dict(restricted=V, unrestricted=S.where(~np.eye(2, k=1, dtype=bool))),
     "'unrestricted' holds NaN or values that are not finite numbers: [T1, T2]"),
    (dict(restricted=V.to_numpy(), unrestricted=S.where(~np.eye(2, k=1, dtype=bool)).to_numpy()),
     "'unrestricted' holds NaN or values that are not finite numbers: [0, 1]"),
    (dict(restricted=V.iloc[:2, :2].where(~np.eye(2, k=1, dtype=bool)),
          unrestricted=S.iloc[:1, :1]),
     "'restricted' holds NaN or values that are not finite numbers where the correction reads "
     "it: [T1, T2]"),
    # With the selection named in 'pool', too long for the matrix given.
    (dict(restricted=V, pool=APPLICANTS, selection=["T1", "T2", "INT", "C1", "C2", "T1"]),
     "'selection' names 6 variables, but 'restricted' has only 5"),
])
def test_a_refusal_says_what_was_given(call, message):
    said = refusal(**call)
    assert said == message
    assert "triangle" not in said


def test_nan_over_a_whole_side_is_still_a_triangle():
    s = np.array([[2.6, np.nan, np.nan], [0.7, 2.1, np.nan], [0.2, 0.3, 1.9]])
    v = np.eye(4) + 0.1
    assert refusal(restricted=v, unrestricted=s).startswith(
        "the unrestricted var/cov matrix holds only its lower triangle")
    # Named, and in another order than the selection's: a triangle as given.
    names = ["T1", "T2", "INT"]
    named = pd.DataFrame(s, index=names, columns=names)
    assert refusal(restricted=V, unrestricted=named, selection=["INT", "T1", "T2"]).startswith(
        "the unrestricted var/cov matrix holds only its lower triangle")


# ---------------------------------------------------------------------------
# The version


def test_every_fit_says_the_library_version():
    from tolbe import _core
    assert tolbe.__version__ == _core.version()
    quick = tolbe.lawley(V.to_numpy(), S.to_numpy(), diagnostics=False)
    fit = caught(tolbe.lawley, data=HIRED, pool=APPLICANTS, selection=["T1", "T2"])[0]
    for made in (quick, fit, fit.regression("C1", ["T1", "T2"]),
                 fit.increment("C1", ["T1", "T2"], ["INT"])):
        assert made.version == tolbe.__version__


# ---------------------------------------------------------------------------
# The assumptions, where users look


ASSUMPTIONS = [
    "selected on the declared selection variables only",
    "linear and homoscedastic",
    "conditional on these assumptions",
    ".275 against a true .427",
    "recover .430",
    "must be a selection variable",
]


def flat(text):
    return " ".join(text.split())


def test_the_assumptions_are_stated_in_the_docstring_and_the_readme():
    doc = flat(tolbe.lawley.__doc__)
    assert "Assumptions:" in tolbe.lawley.__doc__
    with open(os.path.join(ROOT, "python", "README.md"), encoding="utf-8") as f:
        readme = flat(f.read())
    for phrase in ASSUMPTIONS:
        assert phrase in doc, phrase
        assert phrase in readme, phrase


# ---------------------------------------------------------------------------
# Raw scores screened


def findings_of(**call):
    fit, warned = caught(tolbe.lawley, **call)
    return fit, {f.code: f for f in fit.findings}, warned


@pytest.mark.parametrize("diagnostics", [True, False])
def test_no_more_rows_than_variables_is_an_error(diagnostics):
    with pytest.raises(tolbe.TolbeError) as raised:
        caught(tolbe.lawley, data=HIRED.head(4), pool=APPLICANTS, selection=["T1", "T2"],
               diagnostics=diagnostics)
    assert "too_few_rows" in raised.value.code
    assert str(raised.value).startswith("the restricted sample has n = 4 for 5 "
                                        "variables")


@pytest.mark.parametrize("n,code", [(5, "too_few_rows"), (3, "too_few_rows")])
def test_an_n_no_larger_than_q_is_an_error(n, code):
    with pytest.raises(tolbe.TolbeError) as raised:
        caught(tolbe.lawley, V, S, n=n)
    assert raised.value.code == [code]


def test_a_small_sample_is_a_warning_naming_n_and_q():
    _, found, warned = findings_of(restricted=V, unrestricted=S, n=30)
    assert found["small_sample"].severity == "warning"
    assert found["small_sample"].message.startswith(
        "the restricted sample has n = 30 for 5 variables")
    _, found, _ = findings_of(restricted=V, unrestricted=S, n=50)
    assert "small_sample" not in found
    # Without n nothing is known of the sample's size.
    _, found, _ = findings_of(restricted=V, unrestricted=S)
    assert "small_sample" not in found and "too_few_rows" not in found


def test_a_missing_value_code_is_a_warning_naming_row_and_column():
    data = HIRED.copy()
    data.iloc[1, 3] = -99  # C1 of the second person
    fit, found, warned = findings_of(data=data, pool=APPLICANTS, selection=["T1", "T2"])
    f = found["suspect_code"]
    assert (f.severity, f.variables, f.row) == ("warning", ("C1",), 1)
    assert f.message.startswith("row 2 of C1 holds -99, which looks like a missing-value code")
    assert ("TolbeWarning", f.message) in warned
    clean = findings_of(data=HIRED, pool=APPLICANTS, selection=["T1", "T2"])[1]
    assert "suspect_code" not in clean and "outlying_value" not in clean


def test_a_code_in_the_pool_is_named_by_the_selection_variable():
    pool = APPLICANTS.copy()
    pool.iloc[5, 1] = 999
    _, found, _ = findings_of(data=HIRED, pool=pool, selection=["T1", "T2"])
    assert found["pool_suspect_code"].variables == ("T2",)
    assert found["pool_suspect_code"].row == 5


def keys(frame):
    return list(zip(frame.T1, frame.T2))


@pytest.mark.parametrize("pool,code", [
    (APPLICANTS[[k not in set(keys(HIRED)) for k in keys(APPLICANTS)]], "pool_without_selected"),
    (pd.concat([APPLICANTS, HIRED[["T1", "T2"]]]), "pool_holds_selected_twice"),
])
def test_a_pool_that_is_not_all_the_applicants_is_a_warning(pool, code):
    _, found, _ = findings_of(data=HIRED, pool=pool, selection=["T1", "T2"])
    assert found[code].severity == "warning"
    _, clean, _ = findings_of(data=HIRED, pool=APPLICANTS, selection=["T1", "T2"])
    assert code not in clean


def test_without_diagnostics_only_errors_are_said():
    data = HIRED.copy()
    data.iloc[1, 3] = -99
    fit, warned = caught(tolbe.lawley, data=data, pool=APPLICANTS, selection=["T1", "T2"],
                         diagnostics=False)
    assert warned == [] and fit.findings == []


# ---------------------------------------------------------------------------
# The memory bound, and the criteria never default predictors


BOUND_SCRIPT = """
import time, numpy as np, tolbe
rng = np.random.default_rng(1)
data = rng.standard_normal((600, 50))
pool = rng.standard_normal((2000, 2)) * 1.5
started = time.monotonic()
try:
    tolbe.lawley(data=data, pool=pool, interval="bootstrap", B=1000000, seed=1,
                 diagnostics=False)
except ValueError as e:
    print(time.monotonic() - started)
    print(e)
"""


def test_a_bootstrap_past_the_memory_bound_is_refused_at_once():
    # Its own process, with little memory: were the bound lost, the
    # bootstrap would take 20 GB and many minutes, not this machine.
    import resource
    import subprocess
    import sys

    def little_memory():
        resource.setrlimit(resource.RLIMIT_AS, (3 << 30, 3 << 30))

    package = os.path.dirname(os.path.dirname(os.path.abspath(tolbe.__file__)))
    env = dict(os.environ, PYTHONPATH=package)
    done = subprocess.run([sys.executable, "-c", BOUND_SCRIPT], capture_output=True, text=True,
                          timeout=120, preexec_fn=little_memory, env=env)
    assert done.returncode == 0, done.stderr
    seconds, message = done.stdout.splitlines()
    assert float(seconds) < 20
    assert message.startswith("the intervals would need about ")
    assert message.endswith(" MiB of memory, more than the 1024 MiB tolbe allows itself; use "
                            "fewer resamples")


def test_the_criteria_are_never_default_predictors():
    fit = caught(tolbe.lawley, data=HIRED, pool=APPLICANTS, selection=["T1", "T2"],
                 reliabilities={"C1": 0.8, "C2": 0.7})[0]
    reg = fit.regression("C1")
    assert reg.predictors == ["T1", "T2", "INT"]
    named = fit.regression("C1", ["T1", "T2", "INT"])
    assert same_bits(reg.values.estimate, named.values.estimate)
    # Named as criteria, without reliabilities, the same.
    fit = caught(tolbe.lawley, data=HIRED, pool=APPLICANTS, selection=["T1", "T2"],
                 criteria=["C2", "C1"])[0]
    assert fit.regression("C2").predictors == ["T1", "T2", "INT"]
    assert fit.regression("INT").predictors == ["T1", "T2"]
    table = fit.table()
    assert set(table.predictor) == {"T1", "T2", "INT"}
    assert set(table.criterion) == {"C1", "C2"}


def test_predictors_that_are_a_linear_combination_are_refused_naming_them():
    data = HIRED.assign(SUM=HIRED.INT)  # the same scores under two names
    fit = caught(tolbe.lawley, data=data, pool=APPLICANTS, selection=["T1", "T2"])[0]
    with pytest.raises(tolbe.TolbeError) as raised:
        fit.regression("C1", ["T1", "INT", "SUM"])
    assert str(raised.value) == ("the corrected var/cov matrix of the predictors (T1, INT, SUM) or "
                                 "of the base set is not positive definite: a predictor is a "
                                 "linear combination of others")
    assert raised.value.code == ["not_positive_definite"]
    assert raised.value.variables == ("T1", "INT", "SUM")


def test_no_predictor_left_is_said():
    fit = caught(tolbe.lawley, data=HIRED[["T1", "T2", "C1"]], pool=APPLICANTS,
                 selection=["T1", "T2"])[0]
    assert fit.regression("C1").predictors == ["T1", "T2"]
    fit = caught(tolbe.lawley, V.iloc[:3, :3], S.iloc[:1, :1], criteria=["T2", "INT"])[0]
    assert fit.regression("INT").predictors == ["T1"]
    with pytest.raises(ValueError, match="^the criterion T1 has no other variable to be regressed "
                                         "on; name 'predictors'$"):
        fit.regression("T1")
