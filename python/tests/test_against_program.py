"""The package's numbers are the program's, bit for bit: every value of
`tolbe --format=csv`, read back at full precision, on the classic
problems, with selection variables anywhere, with intervals and on raw
scores."""
import os

import numpy as np
import pandas as pd
import pytest

import tolbe
from conftest import (EXAMPLES, caught, first_difference, parse_csv, read_problem, same_bits,
                      write_problem, random_problem)

MATRICES = {"corrected_cov": "cov", "corrected_corr": "cor", "disattenuated_corr": "disattenuated"}


def assert_fit_is(fit, matrices, intervals=False):
    for key, attribute in MATRICES.items():
        if key not in matrices:
            assert getattr(fit, attribute) is None or attribute != "disattenuated"
            continue
        ours = np.asarray(getattr(fit, attribute))
        assert same_bits(ours, matrices[key]), (key, first_difference(ours, matrices[key]))
        if not intervals:
            continue
        name = "cor" if attribute == "cor" else attribute
        for suffix, ours in (("_se", fit.se[name]), ("_lower", fit.ci[name]["lower"]),
                             ("_upper", fit.ci[name]["upper"])):
            ours = np.asarray(ours)
            assert same_bits(ours, matrices[key + suffix]), (key + suffix,
                                                             first_difference(ours, matrices[key + suffix]))


@pytest.mark.parametrize("example", ["worked.txt", "twelve.txt", "fifty.txt"])
@pytest.mark.parametrize("layout", ["C", "F"])
def test_classic_problems(cli, example, layout):
    path = os.path.join(EXAMPLES, example)
    out, _ = cli("--format=csv", "--quiet", path)
    matrices, _, _ = parse_csv(out)
    v, s, rel = read_problem(path)
    v = np.array(v, order=layout)
    fit, _ = caught(tolbe.lawley, v, s, reliabilities=rel)
    assert_fit_is(fit, matrices)


@pytest.mark.parametrize("q,selection", [
    (5, [0, 1]),            # the classic order
    (5, [3, 4]),            # last
    (5, [4, 0]),            # first and last, reversed
    (6, [2]),               # one, in the middle
    (4, [3, 1, 0, 2]),      # every variable (v = q), scrambled
    (12, [11, 0, 5]),
    (50, [49]),             # variable 50
    (50, [49, 0, 24, 25]),
])
def test_selection_anywhere(cli, tmp_path, q, selection):
    rng = np.random.default_rng(q * 100 + selection[0])
    v, s, selection, rel = random_problem(rng, q, len(selection), selection)
    path = tmp_path / "problem.txt"
    write_problem(path, v, s, rel)
    out, _ = cli("--format=csv", "--quiet", "--select=" + ",".join(str(i + 1) for i in selection),
                 str(path))
    matrices, _, _ = parse_csv(out)
    fit, _ = caught(tolbe.lawley, v, s, selection=selection, reliabilities=rel)
    assert_fit_is(fit, matrices)
    # The same by name, from DataFrames.
    names = [f"x{i}" for i in range(q)]
    chosen = [names[i] for i in selection]
    frame_v = pd.DataFrame(v, index=names, columns=names)
    frame_s = pd.DataFrame(s, index=chosen, columns=chosen)
    others = [n for i, n in enumerate(names) if i not in selection]
    named, _ = caught(tolbe.lawley, frame_v, frame_s, reliabilities=dict(zip(others, rel)))
    assert list(named.cor.columns) == names
    assert_fit_is(named, matrices)


@pytest.mark.parametrize("args,kwargs", [
    (["--n=150"], {"n": 150}),
    (["--n=40", "--level=0.9"], {"n": 40, "level": 0.9}),
    (["--n=150", "--n-unrestricted=500"], {"n": 150, "n_unrestricted": 500}),
])
def test_normal_intervals(cli, args, kwargs):
    path = os.path.join(EXAMPLES, "twelve.txt")
    out, _ = cli("--format=csv", "--quiet", *args, path)
    matrices, _, _ = parse_csv(out)
    v, s, rel = read_problem(path)
    fit, _ = caught(tolbe.lawley, v, s, reliabilities=rel, **kwargs)
    assert_fit_is(fit, matrices, intervals=True)


STUDY = os.path.join(EXAMPLES, "study")


def study(name):
    # round_trip: pandas' default parser may be a last bit off the correctly
    # rounded double the program reads.
    return pd.read_csv(os.path.join(STUDY, name), float_precision="round_trip")


REGRESSION = {"b": "b", "beta": "beta", "validity": "r", "operational_validity": "operational"}


@pytest.mark.parametrize("interval,extra_cli,extra", [
    ("adf", [], {}),
    ("normal", ["--interval=normal"], {"interval": "normal"}),
    ("bootstrap", ["--interval=bootstrap", "--resamples=200", "--seed=11", "--threads=2"],
     {"interval": "bootstrap", "B": 200, "seed": 11, "threads": 2}),
    ("percentile", ["--interval=bootstrap", "--resamples=100", "--seed=3", "--ci-type=percentile"],
     {"interval": "bootstrap", "B": 100, "seed": 3, "ci_type": "percentile"}),
])
def test_study_raw_scores(cli, interval, extra_cli, extra):
    out, _ = cli("--data=" + os.path.join(STUDY, "hired.csv"),
                 "--pool=" + os.path.join(STUDY, "applicants.csv"), "--select=T1,T2",
                 "--reliabilities=C1=0.8,C2=0.7", "--criterion=C1", "--predictors=T1,T2,INT",
                 "--base=T1,T2", "--format=csv", "--quiet", *extra_cli)
    matrices, regression, names = parse_csv(out)
    fit, _ = caught(tolbe.lawley, data=study("hired.csv"), pool=study("applicants.csv"),
                    selection=["T1", "T2"], reliabilities={"C1": 0.8, "C2": 0.7}, **extra)
    assert names == ["T1", "T2", "INT", "C1", "C2"] == list(fit.cov.columns)
    assert_fit_is(fit, matrices, intervals=True)
    reg = fit.regression("C1", ["T1", "T2", "INT"])
    for quantity, part in REGRESSION.items():
        table = getattr(reg, part).set_index("term")
        for predictor in ("T1", "T2", "INT"):
            got = tuple(table.loc[predictor, ["estimate", "std_error", "conf_low", "conf_high"]])
            assert same_bits(got, regression[(quantity, predictor)]), (quantity, predictor)
    for quantity, part in (("r2", reg.R2), ("r", reg.R), ("operational_r", reg.operational_R)):
        got = tuple(part.iloc[0][["estimate", "std_error", "conf_low", "conf_high"]])
        assert same_bits(got, regression[(quantity, "")]), quantity
    inc = fit.increment("C1", ["T1", "T2"], ["INT"])
    for quantity, part in (("base_r2", inc.base_R2), ("delta_r2", inc.delta_R2),
                           ("delta_r", inc.delta_R)):
        got = tuple(part.iloc[0][["estimate", "std_error", "conf_low", "conf_high"]])
        assert same_bits(got, regression[(quantity, "")]), quantity


def test_study_known_unrestricted(cli, tmp_path):
    # The pool's var/cov matrix as a file, as a test manual would give it.
    applicants = study("applicants.csv")
    s = applicants.cov()
    path = tmp_path / "manual.csv"
    with open(path, "w") as f:
        f.write("T1,T2\n" + "\n".join(",".join(repr(float(x)) for x in row) for row in s.values))
    out, _ = cli("--data=" + os.path.join(STUDY, "hired.csv"), "--unrestricted=" + str(path),
                 "--format=csv", "--quiet")
    matrices, _, _ = parse_csv(out)
    s_back = pd.read_csv(path, float_precision="round_trip")
    s_back.index = s_back.columns
    fit, _ = caught(tolbe.lawley, data=study("hired.csv"), unrestricted=s_back)
    assert fit.selection == [0, 1]
    assert_fit_is(fit, matrices, intervals=True)


@pytest.mark.parametrize("extra", [{}, {"interval": "normal"}])
def test_operational_matrix_matches_the_operational_validities(cli, extra):
    # The operational correlations divide the corrected ones (and their SEs
    # and bounds) by the criterion's root reliability; the program's
    # operational validities are the same numbers, computed on their own.
    out, _ = cli("--data=" + os.path.join(STUDY, "hired.csv"),
                 "--pool=" + os.path.join(STUDY, "applicants.csv"), "--select=T1,T2",
                 "--reliabilities=C1=0.8", "--criterion=C1", "--predictors=T1,T2,INT",
                 "--format=csv", "--quiet", *(["--interval=normal"] if extra else []))
    _, regression, _ = parse_csv(out)
    fit, _ = caught(tolbe.lawley, data=study("hired.csv"), pool=study("applicants.csv"),
                    selection=["T1", "T2"], reliabilities={"C1": 0.8}, **extra)
    for predictor in ("T1", "T2", "INT"):
        ours = (fit.operational.loc[predictor, "C1"], fit.se["operational"].loc[predictor, "C1"],
                fit.ci["operational"]["lower"].loc[predictor, "C1"],
                fit.ci["operational"]["upper"].loc[predictor, "C1"])
        assert np.allclose(ours, regression[("operational_validity", predictor)], rtol=1e-12)
    # Not a criterion: as measured.
    assert fit.operational.loc["T1", "INT"] == fit.cor.loc["T1", "INT"]


@pytest.mark.parametrize("seed", [2**64 - 1, 2**53 + 1])
def test_any_seed_of_the_program_gives_its_bootstrap(cli, seed):
    # Seeds past 2^53, which a double cannot hold, are the program's too.
    out, _ = cli("--data=" + os.path.join(STUDY, "hired.csv"),
                 "--pool=" + os.path.join(STUDY, "applicants.csv"), "--select=T1,T2",
                 "--interval=bootstrap", "--resamples=40", f"--seed={seed}", "--format=csv",
                 "--quiet")
    matrices, _, _ = parse_csv(out)
    fit, _ = caught(tolbe.lawley, data=study("hired.csv"), pool=study("applicants.csv"),
                    selection=["T1", "T2"], interval="bootstrap", B=40, seed=seed)
    assert fit.interval["seed"] == seed
    assert_fit_is(fit, matrices, intervals=True)


def test_a_named_unrestricted_matrix_in_another_order_is_the_programs(cli, tmp_path):
    # The program reorders a named matrix by --select; the package by
    # 'selection', to the same numbers.
    s = study("applicants.csv").cov()
    path = tmp_path / "manual.csv"
    with open(path, "w") as f:
        f.write("T1,T2\n" + "\n".join(",".join(repr(float(x)) for x in row) for row in s.values))
    out, _ = cli("--data=" + os.path.join(STUDY, "hired.csv"), "--unrestricted=" + str(path),
                 "--select=T2,T1", "--format=csv", "--quiet")
    matrices, _, _ = parse_csv(out)
    s_back = pd.read_csv(path, float_precision="round_trip")
    s_back.index = s_back.columns
    fit, _ = caught(tolbe.lawley, data=study("hired.csv"), unrestricted=s_back,
                    selection=["T2", "T1"])
    assert fit.selection == [1, 0]
    assert_fit_is(fit, matrices, intervals=True)
    assert abs(fit.cor.loc["T1", "C1"] - 0.472) < 5e-4


def test_the_default_predictors_are_the_programs(cli):
    # --criterion without --predictors: every variable but the criteria.
    out, _ = cli("--data=" + os.path.join(STUDY, "hired.csv"),
                 "--pool=" + os.path.join(STUDY, "applicants.csv"), "--select=T1,T2",
                 "--reliabilities=C1=0.8,C2=0.7", "--criterion=C1", "--format=csv", "--quiet")
    _, regression, _ = parse_csv(out)
    assert sorted({p for _, p in regression} - {""}) == ["INT", "T1", "T2"]
    fit, _ = caught(tolbe.lawley, data=study("hired.csv"), pool=study("applicants.csv"),
                    selection=["T1", "T2"], reliabilities={"C1": 0.8, "C2": 0.7})
    reg = fit.regression("C1")
    table = reg.b.set_index("term")
    for predictor in ("T1", "T2", "INT"):
        got = tuple(table.loc[predictor, ["estimate", "std_error", "conf_low", "conf_high"]])
        assert same_bits(got, regression[("b", predictor)]), predictor


@pytest.mark.parametrize("change,code", [
    ((1, "C1", -99), "suspect_code"),
    ((3, "INT", 60), "outlying_value"),
])
def test_the_screening_says_what_the_program_says(cli, tmp_path, change, code):
    row, column, value = change
    data = study("hired.csv")
    data.loc[row, column] = value
    path = tmp_path / "hired.csv"
    data.to_csv(path, index=False)
    _, err = cli("--data=" + str(path), "--pool=" + os.path.join(STUDY, "applicants.csv"),
                 "--select=T1,T2", "--format=csv")
    fit, warned = caught(tolbe.lawley, data=data, pool=study("applicants.csv"),
                         selection=["T1", "T2"])
    found = {f.code: f for f in fit.findings}[code]
    assert found.row == row and found.variables == (column,)
    assert f"tolbe: {path}: warning: {found.message}" in err.splitlines()
    assert ("TolbeWarning", found.message) in warned
