"""Arguments: names kept and matched, selection by name or number, and
every refusal a ValueError in the words the R package uses (Python's
numbers from 0, NaN for R's NA)."""
import os

import numpy as np
import pandas as pd
import pytest

import tolbe
from conftest import EXAMPLES, caught

NAMES = ["x1", "x2", "y1", "y2"]
V = np.array([[25.311, -1.6725, 13.0447, 5.0939], [-1.6725, 17.7073, -10.7549, 9.468],
              [13.0447, -10.7549, 1372.0356, 52.7834], [5.0939, 9.468, 52.7834, 351.5625]])
S = np.array([[36.4816, 6.1608], [6.1608, 16.6464]])
FV = pd.DataFrame(V, index=NAMES, columns=NAMES)
FS = pd.DataFrame(S, index=NAMES[:2], columns=NAMES[:2])
FS_REVERSED = pd.DataFrame(S[::-1, ::-1], index=["x2", "x1"], columns=["x2", "x1"])


def fit(*args, **kwargs):
    return caught(tolbe.lawley, *args, **kwargs)[0]


@pytest.mark.parametrize("call", [
    dict(restricted=V, unrestricted=S),
    dict(restricted=FV, unrestricted=FS),
    dict(restricted=FV, unrestricted=S, selection=["x1", "x2"]),
    dict(restricted=FV, unrestricted=S, selection=[0, 1]),
    dict(restricted=FV, unrestricted=S, selection=np.array([0, 1])),
    dict(restricted=V.tolist(), unrestricted=S.tolist()),  # nested lists
    dict(restricted=np.asfortranarray(V), unrestricted=S),
    dict(restricted=np.ascontiguousarray(V[::-1, ::-1])[::-1, ::-1], unrestricted=S),  # a view
    dict(restricted=V.astype(">f8"), unrestricted=S),  # big-endian
])
def test_the_same_problem_however_given(call):
    reference = fit(V, S)
    got = fit(**call)
    assert np.array_equal(np.asarray(got.cor), reference.cor)
    assert got.selection == [0, 1]


@pytest.mark.parametrize("call", [
    dict(restricted=FV, unrestricted=FS_REVERSED),  # S's names say the order
    dict(restricted=FV, unrestricted=S[::-1, ::-1], selection=["x2", "x1"]),
    dict(restricted=V, unrestricted=S[::-1, ::-1], selection=[1, 0]),
])
def test_the_selection_in_another_order(call):
    # The library corrects in selection order, so the last bits may differ.
    reference = fit(V, S)
    got = fit(**call)
    assert np.allclose(np.asarray(got.cor), reference.cor, rtol=1e-14, atol=1e-16)
    assert got.selection == [1, 0]


def test_names_are_kept_in_every_result():
    got = fit(FV, FS, reliabilities={"y1": 0.81, "y2": 0.9}, n=150)
    for m in (got.cov, got.cor, got.disattenuated, got.operational, got.se["cor"],
              got.ci["disattenuated"]["upper"]):
        assert list(m.index) == NAMES and list(m.columns) == NAMES
    assert got.names == NAMES
    assert got.reliabilities == {"y1": 0.81, "y2": 0.9}
    assert [f.variables for f in got.findings] == [("x2",), ("x1", "x2")]
    assert list(got.unrestricted.index) == ["x1", "x2"]
    assert got.table("cor").term.tolist()[0] == "x1-x2"


@pytest.mark.parametrize("reliabilities", [
    {"y2": 0.9, "y1": 0.81},
    pd.Series({"y2": 0.9, "y1": 0.81}),
    [0.81, 0.9],
    np.array([0.81, 0.9]),
])
def test_reliabilities_by_name_or_in_order(reliabilities):
    got = fit(FV, FS, reliabilities=reliabilities)
    # r(y1, y2) disattenuated by both; x1-y1 by y1 only.
    assert got.disattenuated.loc["y1", "y2"] == pytest.approx(
        got.cor.loc["y1", "y2"] / np.sqrt(0.81 * 0.9), rel=1e-15)
    assert got.disattenuated.loc["x1", "y1"] == pytest.approx(
        got.cor.loc["x1", "y1"] / np.sqrt(0.81), rel=1e-15)


def test_reliabilities_named_for_some_others_take_the_rest_as_one_with_a_note():
    got, warned = caught(tolbe.lawley, FV, FS, reliabilities={"y2": 0.9})
    assert ("TolbeNote", "'reliabilities' names no reliability for y1; it is taken as 1 (not "
            "corrected for attenuation)") in warned
    assert got.disattenuated.loc["x1", "y1"] == got.cor.loc["x1", "y1"]
    assert got.criteria == [3]


def test_means_by_name_give_corrected_means_and_the_intercept():
    means_v = {"y2": 10.0, "y1": 50.0, "x2": 3.0, "x1": 4.0}
    got = fit(FV, FS, restricted_means=means_v, unrestricted_means={"x2": 2.0, "x1": 5.0})
    in_order = fit(V, S, restricted_means=[4.0, 3.0, 50.0, 10.0], unrestricted_means=[5.0, 2.0])
    assert np.array_equal(got.means.to_numpy(), in_order.means)
    assert got.means["x1"] == 5.0 and got.means["x2"] == 2.0
    reg = got.regression("y1", ["x1", "x2"])
    b = reg.coefficients
    assert b["(Intercept)"] == pytest.approx(got.means["y1"] - b["x1"] * 5.0 - b["x2"] * 2.0)


@pytest.mark.parametrize("name", ["Prüfung 1", "a,b", 'say "x"', "\udcff\udcferaw", "名前"])
def test_any_name_reaches_the_messages_as_it_is(name):
    names = [name, "x2", "y1", "y2"]
    v = pd.DataFrame(V, index=names, columns=names)
    got, warned = caught(tolbe.lawley, v, S)
    assert warned[1][1].startswith(f"the correlation of {name} and x2, both selection variables")
    assert got.findings[1].variables == (name, "x2")
    with pytest.raises(tolbe.TolbeError, match="'selection' names an unknown variable: nope") as e:
        tolbe.lawley(v, S, selection=[name, "nope"])
    assert (e.value.code, e.value.argument) == (["unknown_variable"], "selection")


def test_a_variable_named_like_a_number_is_still_a_name():
    names = ["1", "0", "y1", "y2"]
    v = pd.DataFrame(V, index=names, columns=names)
    got = fit(v, S[::-1, ::-1], selection=["0", "1"])
    assert got.selection == [1, 0]


@pytest.mark.parametrize("call,code,argument,variables", [
    (dict(restricted=FV, unrestricted=S, selection=["x1", "x1"]), "repeated", "selection", ("x1",)),
    (dict(restricted=V, unrestricted=S, selection=[0, 0]), "repeated", "selection", (0,)),
    (dict(restricted=FV, unrestricted=FS, criteria=["x1", "y1"]), "selection_variable",
     "criteria", ("x1",)),
    (dict(restricted=FV, unrestricted=FS, reliabilities={"y1": np.nan}), "not_finite",
     "reliabilities", ("y1",)),
    (dict(restricted=V, unrestricted=S, B=100), "not_for_this_call", "resamples", ()),
    (dict(restricted=V, unrestricted=S, n=40, level="0.9"), "invalid_value", "level", ()),
    (dict(restricted=V, unrestricted=S, n=40.0, interval="normal", threads=2),
     "not_for_this_call", "threads", ()),
    (dict(restricted=V, data=np.zeros((5, 4)), unrestricted=S), "both_given", "data", ()),
    (dict(unrestricted=S), "neither_given", "restricted", ()),
    (dict(restricted=V), "neither_given", "unrestricted", ()),
])
def test_a_refusal_says_its_code_argument_and_variables(call, code, argument, variables):
    with pytest.raises(tolbe.TolbeError) as raised:
        caught(tolbe.lawley, **call)
    assert (raised.value.code, raised.value.argument, raised.value.variables) == (
        [code], argument, variables)


P = os.path.join(EXAMPLES, "worked.txt")


@pytest.mark.parametrize("call,message", [
    (dict(restricted=V, unrestricted=S, selection=[0, 4]), "'selection' holds numbers outside 0..3"),
    (dict(restricted=V, unrestricted=S, selection=[0, -1]), "'selection' holds numbers outside 0..3"),
    (dict(restricted=V, unrestricted=S, selection=[1, 1]), "'selection' repeats a variable: variable 2"),
    (dict(restricted=V, unrestricted=S, selection=[0]),
     "'selection' names 1 variables, but 'unrestricted' is 2 x 2"),
    (dict(restricted=V, unrestricted=S, selection=[0, 1.5]),
     "'selection' must be variable names or whole numbers"),
    (dict(restricted=V, unrestricted=S, selection=["x1", "x2"]),
     "'selection' gives names, but 'restricted' has no names"),
    (dict(restricted=FV, unrestricted=S, selection=["x1", "z", "q", "z"]),
     "'selection' names unknown variables: z, q"),
    (dict(restricted=V, unrestricted=FS),
     "'restricted' has none of the names that 'unrestricted' gives (x1, x2); give 'selection', "
     "the names or numbers of the selection variables in 'restricted' in the order of "
     "'unrestricted'"),
    (dict(restricted=FV, unrestricted=pd.DataFrame(S, index=["x1", "t"], columns=["x1", "t"])),
     "'unrestricted' names variables that 'restricted' lacks: t; give 'selection'"),
    (dict(restricted=V[:3], unrestricted=S), "'restricted' must be square, not 3 x 4"),
    (dict(restricted=np.ones((6, 4)), unrestricted=S),
     "'restricted' must be square, not 6 x 4; raw scores, one row per person, are given as data = "
     "(not restricted =)"),
    (dict(restricted=V, unrestricted=np.eye(5)),
     "'unrestricted' must be square, not 5 x 5"[:0] + "'unrestricted' is 5 x 5, but 'restricted' "
     "has only 4 variables"),
    (dict(restricted=np.array([["a"]]), unrestricted=S),
     "'restricted' must be a numeric matrix (or a data frame of numbers)"),
    (dict(restricted=np.ones(4), unrestricted=S),
     "'restricted' must be a numeric matrix (or a data frame of numbers)"),
    (dict(restricted=V, unrestricted=S, reliabilities=[0.8]),
     "'reliabilities' needs one value for each of the 2 non-selection variables (variable 3, "
     "variable 4), in that order, or values named by variable"),
    (dict(restricted=V, unrestricted=S, reliabilities=[0.8, np.inf]),
     "'reliabilities' must be finite numbers: the one for variable 4 is Inf"),
    (dict(restricted=V, unrestricted=S, reliabilities=[-np.inf, 0.8]),
     "'reliabilities' must be finite numbers: the one for variable 3 is -Inf"),
    (dict(restricted=FV, unrestricted=FS, reliabilities={"y1": float("nan")}),
     "'reliabilities' must be finite numbers: the one for y1 is NaN"),
    (dict(restricted=V, unrestricted=S, reliabilities={"y1": 0.8}),
     "'reliabilities' are named, but 'restricted' has no names to match the names to"),
    (dict(restricted=FV, unrestricted=FS, reliabilities={"y3": 0.8, "y4": 0.7}),
     "y3, y4 are not variables of 'restricted'; reliabilities are for the other variables: y1, y2"),
    (dict(restricted=FV, unrestricted=FS, reliabilities={"x1": 0.8}),
     "x1 is a selection variable; reliabilities are for the other variables: y1, y2"),
    (dict(restricted=FV, unrestricted=FS, reliabilities=["a", "b"]),
     "'reliabilities' must be finite numbers"),
    (dict(restricted=V, unrestricted=S, restricted_means=[1, 2, 3, 4]),
     "give both 'restricted_means' and 'unrestricted_means', or neither"),
    (dict(restricted=V, unrestricted=S, restricted_means=[1, 2, 3], unrestricted_means=[1, 2]),
     "'restricted_means' must be 4 finite numbers"),
    (dict(restricted=FV, unrestricted=FS, restricted_means={"x1": 1, "x2": 2, "y1": 3, "z": 4},
          unrestricted_means=[1, 2]),
     "'restricted_means' names variables that are not among 'restricted': z"),
    (dict(restricted=V, unrestricted=S, n=1), "'n', the size of the restricted sample, must be a "
     "whole number of at least 2"),
    (dict(restricted=V, unrestricted=S, n=True), "'n', the size of the restricted sample"),
    (dict(restricted=V, unrestricted=S, level=0.9),
     "'level' is for intervals, and this call computes none: give 'n' (the size of the restricted "
     "sample) or raw scores as 'data', or choose 'interval'"),
    (dict(restricted=V, unrestricted=S, n=50, level=1.0),
     "'level' must be a number between 0 and 1, such as 0.95"),
    (dict(restricted=V, unrestricted=S, n=50, seed=3),
     "'seed' is for interval = \"bootstrap\", not \"normal\""),
    (dict(restricted=V, unrestricted=S, interval="adf"),
     "interval = \"adf\" needs the restricted sample's raw scores as 'data' (one row per person)"),
    (dict(restricted=V, unrestricted=S, interval="normal"),
     "interval = \"normal\" needs 'n', the size of the restricted sample"),
    (dict(restricted=V, unrestricted=S, interval="wald"),
     "'interval' must be \"none\", \"normal\", \"adf\" or \"bootstrap\""),
    (dict(restricted=V, unrestricted=S, triangle="both"),
     "'triangle' must be None (whole matrices), \"lower\" or \"upper\""),
    (dict(restricted=V, unrestricted=S, diagnostics="yes"), "'diagnostics' must be True or False"),
    (dict(unrestricted=S), "give the restricted sample's var/cov matrix as 'restricted', or its "
     "raw scores as 'data'"),
    (dict(restricted=V), "give the unrestricted var/cov matrix of the selection variables as "
     "'unrestricted', or the pool's raw scores as 'pool'"),
    (dict(restricted=V, unrestricted=S, criteria=["y1"]),
     "'criteria' gives names, but 'restricted' has no names"),
    (dict(restricted=FV, unrestricted=FS, criteria=["x2"]),
     "'criteria' names the selection variable x2; the criteria are among the other variables"),
    (dict(restricted=FV, unrestricted=FS, criteria=["y1", "y1"]), "'criteria' names y1 more than once"),
    (dict(restricted=FV, unrestricted=FS, reliability_sample="restricted"),
     "'reliability_sample' says where the 'reliabilities' were measured, and none are given"),
    (dict(restricted=FV, unrestricted=FS, reliabilities=[0.8, 0.9], reliability_sample="pool"),
     "'reliability_sample' must be \"unrestricted\" (the reliability was measured in the "
     "unrestricted population) or \"restricted\" (in the restricted sample)"),
    (dict(restricted=V, unrestricted=np.array([[1.0, 2.0], [2.0, 1.0]]) * 0 + np.array(
        [[36.4816, 6.1608], [6.1608, 16.6464]]), selection=[0, 1], reliabilities=[0.8, 0.9],
        reliability_sample=["restricted"] * 3),
     "'reliability_sample' must be \"unrestricted\" or \"restricted\": one value for all the "
     "reliabilities, one for each of the 2 in order, or values named by variable"),
])
def test_refusals(call, message):
    with pytest.raises(ValueError) as raised:
        caught(tolbe.lawley, **call)
    assert str(raised.value).startswith(message)
    assert isinstance(raised.value, tolbe.TolbeError)


@pytest.mark.parametrize("where,message", [
    ((2, 3), "'restricted' holds NaN or values that are not finite numbers where the correction "
             "reads it: [y1, y2]"),
    ((0, 1), "'restricted' holds NaN or values that are not finite numbers where the correction "
             "reads it: [x1, x2]"),
])
def test_nan_where_the_correction_reads_is_named(where, message):
    v = FV.copy()
    v.iloc[where] = np.nan
    with pytest.raises(ValueError) as raised:
        caught(tolbe.lawley, v, FS)
    assert str(raised.value) == message


@pytest.mark.parametrize("value", [np.inf, -np.inf, np.nan])
def test_unrestricted_not_finite_is_refused_naming_the_place(value):
    s = FS.copy()
    s.iloc[1, 1] = value
    with pytest.raises(ValueError, match=r"'unrestricted' holds NaN or values that are not finite "
                                         r"numbers: \[x2, x2\]"):
        caught(tolbe.lawley, FV, s)


def test_selection_block_not_positive_definite_is_refused():
    v = V.copy()
    v[1, 1] = -1.0
    with pytest.raises(ValueError, match="the restricted var/cov block of the selection variables "
                                         r"is not positive definite \(its leading minor of order 2"):
        caught(tolbe.lawley, v, S)


def test_reliabilities_from_the_restricted_sample_are_converted():
    got = fit(FV, FS, reliabilities={"y1": 0.7, "y2": 0.8},
              reliability_sample={"y1": "restricted"})
    c, v = got.cov.loc["y1", "y1"], V[2, 2]
    assert got.reliabilities["y1"] == pytest.approx(1 - (1 - 0.7) * v / c, rel=1e-15)
    assert got.reliabilities["y2"] == 0.8
    assert got.reliability_sample == {"y1": "restricted", "y2": "unrestricted"}


def test_every_variable_selected_gives_disattenuated_as_corrected():
    v = np.array([[2.0, 0.5], [0.5, 1.5]])
    s = np.array([[2.6, 0.7], [0.7, 2.1]])
    got = fit(v, s, reliabilities=[], n=50)
    assert np.array_equal(got.disattenuated, got.cor)
    assert np.array_equal(got.se["disattenuated"], got.se["cor"])
    with pytest.raises(ValueError, match="y is not a variable of 'restricted'; every variable is a "
                                         "selection variable, so there are none to give"):
        tolbe.lawley(pd.DataFrame(v, index=["a", "b"], columns=["a", "b"]), s,
                     reliabilities={"y": 0.8})


def test_without_pandas_numpy_results_and_tables_of_dicts(monkeypatch):
    from tolbe import _arguments
    got = fit(V, S, reliabilities=[0.81, 0.9], n=150)
    monkeypatch.setattr(_arguments, "_pd", None)
    table = got.table("cor")
    assert isinstance(table, list) and table[0]["term"] == "variable 1-variable 2"
    assert table[0]["estimate"] == got.cor[0, 1] and table[0]["std_error"] == 0.0
    reg = got.regression(2, [0, 1])
    assert reg.R[0]["term"] == "R" and reg.table()[-1]["term"] == "operational R"
