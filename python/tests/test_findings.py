"""Every finding of the library arrives as the program says it, in the same
words: warnings as TolbeWarning, notes as TolbeNote, errors as TolbeError
(a ValueError). The program's standard error is the oracle."""
import re

import numpy as np
import pandas as pd
import pytest

import tolbe
from conftest import caught, write_problem

WORKED_V = [[1.0, 0.5, 0.3], [0.5, 1.0, 0.4], [0.3, 0.4, 1.0]]
WORKED_S = [[1.44, 0.6], [0.6, 1.21]]
COV_V = [[2.0, 0.5, 0.3], [0.5, 1.5, 0.4], [0.3, 0.4, 1.2]]
COV_S = [[2.6, 0.7], [0.7, 2.1]]

# name: (V, S, reliabilities, selection (from 0) or None, the codes found)
CASES = {
    "restricted_lower_triangle": (
        [[1, 0, 0], [0.5, 1, 0], [0.3, 0.4, 1]], WORKED_S, [0.81], None,
        {"restricted_lower_triangle"}),
    "restricted_upper_triangle": (
        [[2, 0.5, 0.3, 0.2], [0, 1.5, 0.4, 0.1], [0, 0, 1.2, 0.3], [0, 0, 0, 1.1]], COV_S, None,
        None, {"restricted_upper_triangle"}),
    "unrestricted_lower_triangle": (COV_V, [[2.6, 0], [0.7, 2.1]], None, None,
                                    {"unrestricted_lower_triangle"}),
    "unrestricted_upper_triangle": (COV_V, [[2.6, 0.7], [0, 2.1]], None, None,
                                    {"unrestricted_upper_triangle"}),
    "restricted_asymmetric": ([[2.0, 0.5, 0.3], [0.7, 1.5, 0.4], [0.3, 0.4, 1.2]], COV_S, None,
                              None, {"restricted_asymmetric"}),
    "unrestricted_asymmetric": (COV_V, [[2.6, 0.7], [0.9, 2.1]], None, None,
                                {"unrestricted_asymmetric"}),
    "restricted_not_positive_definite": ([[2.0, 0.5, 1.5], [0.5, 1.5, 1.4], [1.5, 1.4, 1.2]],
                                         COV_S, None, None, {"restricted_not_positive_definite"}),
    "unrestricted_not_positive_definite": (COV_V, [[2.6, 3.0], [3.0, 2.1]], None, None,
                                           {"unrestricted_not_positive_definite"}),
    "restricted_variance_not_positive": ([[2.0, 0.5, 0.3], [0.5, 1.5, 0.4], [0.3, 0.4, -1.2]],
                                         COV_S, None, None, {"restricted_variance_not_positive"}),
    "unrestricted_variance_not_positive": (COV_V, [[2.6, 0.7], [0.7, -2.1]], None, None,
                                           {"unrestricted_variance_not_positive"}),
    "implausible_variance_ratio": (COV_V, [[260.0, 0.7], [0.7, 2.1]], None, None,
                                   {"implausible_variance_ratio"}),
    "covariances_beside_correlations": (COV_V, [[1.0, 0.3], [0.3, 1.0]], None, None,
                                        {"covariances_beside_correlations"}),
    "two_correlation_matrices": (WORKED_V, [[1.0, 0.6], [0.6, 1.0]], None, None,
                                 {"two_correlation_matrices"}),
    "reliability_out_of_range": (COV_V, COV_S, [81.0], None, {"reliability_out_of_range"}),
    "corrected_variance_not_positive": ([[1.0, 0.9], [0.9, 0.5]], [[0.1]], None, None,
                                        {"corrected_variance_not_positive"}),
    "correlation_out_of_range": ([[1.0, 0.9], [0.9, 0.8]], [[1.0]], None, None,
                                 {"correlation_out_of_range"}),
    "disattenuated_out_of_range": (COV_V, COV_S, [0.05], None, {"disattenuated_out_of_range"}),
    "correlations_beside_covariances": (WORKED_V, WORKED_S, [0.81], None,
                                        {"correlations_beside_covariances"}),
    "sign_change": ([[1.0, 0.5, 0.5], [0.5, 1.2, -0.1], [0.5, -0.1, 1.3]], [[4.0]], None, None,
                    {"sign_change"}),
    "selection_sign_change": (
        [[25.311, -1.6725, 13.0447, 5.0939], [-1.6725, 17.7073, -10.7549, 9.468],
         [13.0447, -10.7549, 1372.0356, 52.7834], [5.0939, 9.468, 52.7834, 351.5625]],
        [[36.4816, 6.1608], [6.1608, 16.6464]], None, None, {"selection_sign_change"}),
    # The same at other places: the selection last, the error's variables
    # named by their input numbers.
    "selection_last_implausible": (COV_V, [[2.1, 0.7], [0.7, 260.0]], None, [1, 2],
                                   {"implausible_variance_ratio"}),
    "selection_first_last_reliability": (COV_V, [[260.0, 0.3], [0.3, 1.0]], [-0.5], [2, 0],
                                         {"reliability_out_of_range", "implausible_variance_ratio"}),
}


def program_said(cli, tmp_path, v, s, rel, selection):
    path = tmp_path / "problem.txt"
    write_problem(path, np.array(v, dtype=float), np.array(s, dtype=float),
                  None if rel is None else np.array(rel, dtype=float))
    args = ["--format=csv"]
    if selection is not None:
        args.append("--select=" + ",".join(str(i + 1) for i in selection))
    import subprocess
    from conftest import cli_path
    done = subprocess.run([cli_path(), *args, str(path)], capture_output=True, text=True)
    lines = []
    for line in done.stderr.splitlines():
        m = re.match(r"tolbe: [^:]+: (note|warning|error): (.*)$", line)
        assert m, line
        lines.append((m.group(1), m.group(2)))
    return lines


@pytest.mark.parametrize("case", sorted(CASES))
def test_finding_as_the_program_says_it(cli, tmp_path, case):
    v, s, rel, selection, codes = CASES[case]
    said = program_said(cli, tmp_path, v, s, rel, selection)
    errors = [m for severity, m in said if severity == "error"]
    call = dict(selection=selection, reliabilities=rel)
    if errors:
        with pytest.raises(tolbe.TolbeError) as raised:
            caught(tolbe.lawley, np.array(v, dtype=float), np.array(s, dtype=float), **call)
        assert isinstance(raised.value, ValueError)
        lines = str(raised.value).split("\n")
        assert len(lines) == len(errors)
        for ours, theirs in zip(lines, errors):
            assert re.fullmatch(re.escape(theirs) + r'(, or give triangle = "(lower|upper)" to mirror it)?',
                                ours), (ours, theirs)
        assert set(raised.value.code) >= codes
        return
    fit, warned = caught(tolbe.lawley, np.array(v, dtype=float), np.array(s, dtype=float), **call)
    kinds = {"TolbeNote": "note", "TolbeWarning": "warning"}
    assert [(kinds[k], m) for k, m in warned] == said
    assert {f.code for f in fit.findings} >= codes
    assert [(f.severity, f.message) for f in fit.findings] == said


@pytest.mark.parametrize("case", ["restricted_lower_triangle", "unrestricted_upper_triangle"])
def test_triangle_errors_whatever_diagnostics_says(case):
    v, s, rel, selection, codes = CASES[case]
    with pytest.raises(tolbe.TolbeError, match="enter the whole matrix"):
        tolbe.lawley(np.array(v, dtype=float), np.array(s, dtype=float), reliabilities=rel,
                     diagnostics=False)


@pytest.mark.parametrize("case,side", [("restricted_lower_triangle", "lower"),
                                       ("unrestricted_upper_triangle", "upper")])
def test_triangle_mirrored_is_the_whole_matrix(case, side):
    v, s, rel, _, _ = CASES[case]
    mirrored, _ = caught(tolbe.lawley, np.array(v, dtype=float), np.array(s, dtype=float),
                         reliabilities=rel, triangle=side)
    full_v = np.array(v, dtype=float)
    full_v = np.where(full_v == 0, full_v.T, full_v)
    full_s = np.array(s, dtype=float)
    full_s = np.where(full_s == 0, full_s.T, full_s)
    whole, _ = caught(tolbe.lawley, full_v, full_s, reliabilities=rel)
    assert np.array_equal(mirrored.cov, whole.cov)


def test_warnings_point_at_the_caller():
    with pytest.warns(tolbe.TolbeWarning) as record:
        tolbe.lawley(np.array(COV_V), np.array([[2.6, 0.7], [0.9, 2.1]]))
    assert record[0].filename == __file__


def test_notes_are_a_kind_of_warning_that_can_be_silenced():
    import warnings
    with warnings.catch_warnings(record=True) as said:
        warnings.simplefilter("always")
        warnings.simplefilter("ignore", tolbe.TolbeNote)
        fit = tolbe.lawley(np.array(WORKED_V), np.array(WORKED_S), reliabilities=[0.81])
    assert said == []
    assert fit.findings[0].severity == "note"
    assert issubclass(tolbe.TolbeNote, tolbe.TolbeWarning)
    assert issubclass(tolbe.TolbeWarning, UserWarning)


def test_diagnostics_off_says_nothing_but_keeps_the_numbers():
    v = np.array([[2.0, 0.5, 0.3], [0.7, 1.5, 0.4], [0.3, 0.4, 1.2]])
    quiet, warned = caught(tolbe.lawley, v, np.array(COV_S), diagnostics=False)
    loud, _ = caught(tolbe.lawley, v, np.array(COV_S))
    assert warned == [] and quiet.findings == [] and quiet.diagnostics is None
    assert np.array_equal(quiet.cov, loud.cov)
    assert loud.diagnostics["restricted_asymmetry"] > 0.1


def test_unread_values_that_are_not_finite_are_a_note_naming_the_place():
    v = np.array(COV_V)
    v[1, 0] = np.nan  # below the selection block's diagonal: not read
    fit, warned = caught(tolbe.lawley, v, np.array(COV_S))
    assert ("TolbeNote", warned[0][1]) == warned[0]
    assert "not a finite number for variable 2 (row) and variable 1" in warned[0][1]
    assert [f.code for f in fit.findings] == ["unread_not_finite"]
    assert np.all(np.isfinite(fit.cov))


def test_diagnostics_of_the_usual_call_are_those_of_the_whole_road():
    v = np.array(COV_V)
    fast = tolbe.lawley(v, np.array(COV_S))            # nothing found: the quick road
    slow, _ = caught(tolbe.lawley, pd.DataFrame(v), pd.DataFrame(np.array(COV_S)))
    assert fast.diagnostics == slow.diagnostics
    assert fast.diagnostics["restricted_positive_definite"] is True
