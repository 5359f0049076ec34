"""Raw scores: V and S from the complete rows, the bootstrap's numbers fixed
by the seed on any number of threads, and the refusals of raw scores."""
import os

import numpy as np
import pandas as pd
import pytest

import tolbe
from conftest import EXAMPLES, caught

STUDY = os.path.join(EXAMPLES, "study")
HIRED = pd.read_csv(os.path.join(STUDY, "hired.csv"), float_precision="round_trip")
APPLICANTS = pd.read_csv(os.path.join(STUDY, "applicants.csv"), float_precision="round_trip")


def bootstrap(**kwargs):
    call = dict(data=HIRED, pool=APPLICANTS, selection=["T1", "T2"], interval="bootstrap",
                B=60, reliabilities={"C1": 0.8})
    call.update(kwargs)
    return caught(tolbe.lawley, **call)[0]


def every_number(fit):
    return np.concatenate([np.asarray(m).ravel() for k in fit.se
                           for m in (fit.se[k], fit.ci[k]["lower"], fit.ci[k]["upper"])])


@pytest.mark.parametrize("ci_type", ["bca", "percentile"])
def test_the_seed_fixes_the_bootstrap_on_any_number_of_threads(ci_type):
    runs = [bootstrap(seed=5, threads=t, ci_type=ci_type) for t in (1, 2, 3, 0)]
    first = every_number(runs[0])
    for other in runs[1:]:
        assert np.array_equal(first, every_number(other))
    assert not np.array_equal(first, every_number(bootstrap(seed=6, ci_type=ci_type)))


@pytest.mark.parametrize("seed", [2**53 + 1, 2**64 - 1, np.uint64(2**64 - 1)])
def test_any_seed_a_python_int_holds_is_taken_as_its_digits(seed):
    fit = bootstrap(seed=seed)
    assert fit.interval["seed"] == int(seed)
    assert np.array_equal(every_number(fit), every_number(bootstrap(seed=str(int(seed)))))
    assert not np.array_equal(every_number(fit), every_number(bootstrap(seed=float(2**53))))


def test_without_a_seed_one_is_drawn_and_kept_to_repeat_the_call():
    drawn = bootstrap()
    seed = drawn.interval["seed"]
    assert isinstance(seed, int) and 0 <= seed <= 2**64 - 1
    assert np.array_equal(every_number(drawn), every_number(bootstrap(seed=seed)))


def test_regression_uses_the_fits_own_resamples():
    fit = bootstrap(seed=9)
    again = bootstrap(seed=9, threads=1)
    a = fit.regression("C1", ["T1", "T2", "INT"]).R
    b = again.regression("C1", ["T1", "T2", "INT"]).R
    assert a.equals(b)


def test_the_matrices_are_those_of_the_complete_rows():
    data = HIRED.copy()
    data.iloc[3, 2] = np.nan
    data.iloc[7, 0] = None
    fit, warned = caught(tolbe.lawley, data=data, pool=APPLICANTS, selection=["T1", "T2"])
    complete = data.dropna()
    assert np.allclose(fit.restricted.to_numpy(), complete.cov().to_numpy(), rtol=1e-13)
    assert fit.rows == {"used": 198, "dropped": 2, "pool_used": 1000, "pool_dropped": 0}
    assert fit.interval["rows_dropped"] == 2 and fit.interval["n"] == 198
    assert ("TolbeNote", "'data': 2 of 200 rows hold a missing score (NaN) and were left out "
            "(listwise); 198 used") in warned


def test_pool_columns_are_found_by_name_whatever_else_it_holds():
    pool = APPLICANTS.assign(id=[f"a{i}" for i in range(len(APPLICANTS))])[["id", "T2", "T1"]]
    a = caught(tolbe.lawley, data=HIRED, pool=pool, selection=["T1", "T2"])[0]
    b = caught(tolbe.lawley, data=HIRED, pool=APPLICANTS, selection=["T1", "T2"])[0]
    assert a.cov.equals(b.cov) and a.se["cor"].equals(b.se["cor"])


def test_numpy_scores_without_names():
    fit = caught(tolbe.lawley, data=HIRED.to_numpy(), pool=APPLICANTS.to_numpy())[0]
    named = caught(tolbe.lawley, data=HIRED, pool=APPLICANTS, selection=["T1", "T2"])[0]
    assert np.array_equal(fit.cov, named.cov.to_numpy())
    assert fit.names is None


@pytest.mark.parametrize("call,message", [
    (dict(data=HIRED, pool=APPLICANTS, selection=["T1", "X"]),
     "'selection' names an unknown variable: X"),
    (dict(data=HIRED, pool=APPLICANTS[["T1"]], selection=["T1", "T2"]),
     "'pool' has no column for the selection variable T2"),
    (dict(data=HIRED, pool=APPLICANTS, selection=["T1", "T2"], n=100),
     "'n' is for matrices: with 'data' the sample size is its number of complete rows"),
    (dict(data=HIRED, pool=APPLICANTS, selection=["T1", "T2"], n_unrestricted=100),
     "'n_unrestricted' is for a matrix: with 'pool' the pool's size is its number of complete rows"),
    (dict(data=HIRED.assign(who="x"), pool=APPLICANTS, selection=["T1", "T2"]),
     "'data' must hold numbers only; this column does not: who"),
    (dict(data=HIRED.assign(T1=np.where(np.arange(200) == 4, np.inf, HIRED.T1)),
          pool=APPLICANTS, selection=["T1", "T2"]),
     "'data' holds a score that is not finite (Inf) in row 4, column T1; a missing score is NaN"),
    (dict(data=HIRED.iloc[:1], pool=APPLICANTS, selection=["T1", "T2"]),
     "'data' has 1 complete rows (without NaN) of 1; the var/cov matrix needs at least 2"),
    (dict(data=HIRED.iloc[:2], pool=APPLICANTS, selection=["T1", "T2"], interval="bootstrap"),
     "the bootstrap needs at least 3 complete rows in 'data'; it has 2"),
    (dict(data=HIRED, pool=APPLICANTS, selection=["T1", "T2"], interval="bootstrap", B=5),
     "'B', the number of bootstrap resamples, must be a whole number from 10 to 1000000"),
    (dict(data=HIRED, pool=APPLICANTS, selection=["T1", "T2"], interval="bootstrap", seed=2**64),
     "'seed' must be a whole number from 0 to 2^53, or a string of decimal digits for any seed "
     "from 0 to 18446744073709551615 (2^64 - 1)"),
    (dict(data=HIRED, pool=APPLICANTS, selection=["T1", "T2"], interval="bootstrap", seed=-1),
     "'seed' must be a whole number from 0 to 2^53"),
    (dict(data=HIRED, unrestricted=np.eye(2), n_unrestricted=50, interval="bootstrap"),
     "the bootstrap lets the unrestricted matrix vary only by resampling the pool's raw scores"),
    (dict(restricted=np.eye(3), data=HIRED, unrestricted=np.eye(2)),
     "give the restricted sample as 'restricted' (its var/cov matrix) or as 'data' (its raw "
     "scores), not both"),
    (dict(data=HIRED, pool=APPLICANTS, unrestricted_means=[1, 2], selection=["T1", "T2"]),
     "with 'pool' the unrestricted means are the pool's: leave out 'unrestricted_means'"),
])
def test_raw_score_refusals(call, message):
    with pytest.raises(ValueError) as raised:
        caught(tolbe.lawley, **call)
    assert str(raised.value).startswith(message)


@pytest.mark.parametrize("spelling,shown", [("Inf", "Inf"), ("-inf", "-Inf"), ("Infinity", "Inf"),
                                            ("-Infinity", "-Inf")])
def test_an_infinite_score_however_spelled_is_refused_not_left_out(spelling, shown):
    import io
    text = HIRED.head(6).to_csv(index=False).splitlines()
    fields = text[3].split(",")
    fields[1] = spelling
    text[3] = ",".join(fields)
    data = pd.read_csv(io.StringIO("\n".join(text)), float_precision="round_trip")
    with pytest.raises(ValueError, match=rf"'data' holds a score that is not finite \({shown}\) "
                                         r"in row 2, column T2; a missing score is NaN"):
        tolbe.lawley(data=data, pool=APPLICANTS, selection=["T1", "T2"])


def test_the_bootstrap_lets_other_python_threads_run():
    import threading
    import time

    def longest_pause():
        """The longest this thread waited for the GIL while a worker ran a
        bootstrap, and how long the worker took."""
        done = threading.Event()
        result = {}

        def work():
            started = time.perf_counter()
            result["fit"] = bootstrap(seed=1, B=3000, threads=1)
            result["took"] = time.perf_counter() - started
            done.set()

        worker = threading.Thread(target=work)
        worker.start()
        longest, last = 0.0, time.perf_counter()
        while not done.is_set():  # runs only while the worker lets go of the GIL
            now = time.perf_counter()
            longest, last = max(longest, now - last), now
        worker.join()
        assert result["fit"].interval["B"] == 3000
        return longest, result["took"]

    # Holding the GIL through its resamples, the worker would stop this loop
    # for nearly all of its time, every time. A loaded machine can pause it
    # too, so one attempt of three that is not held up is enough.
    attempts = [longest_pause() for _ in range(3)]
    assert any(longest < took / 2 for longest, took in attempts), attempts


def test_a_named_pool_without_selection_says_which_variables_it_holds():
    a = caught(tolbe.lawley, data=HIRED, pool=APPLICANTS[["T2", "T1"]])[0]
    assert a.selection == [1, 0]
    with pytest.raises(ValueError, match="'pool' names variables that 'data' lacks: T9; give "
                                         "'selection', the names or numbers of the selection "
                                         "variables in 'data'$"):
        tolbe.lawley(data=HIRED, pool=APPLICANTS.rename(columns={"T1": "T9"}))


@pytest.mark.parametrize("rows, noted", [(60, True), (249, True), (250, False)])
def test_a_small_samples_delta_intervals_come_with_the_librarys_note(rows, noted):
    # The study's 200 hired, then as many again as needed.
    data = pd.concat([HIRED, HIRED]).iloc[:rows]
    fit = caught(tolbe.lawley, data=data, pool=APPLICANTS, selection=["T1", "T2"],
                 interval="adf")[0]
    with pytest.warns(tolbe.TolbeNote) if noted else _no_note() as said:
        inc = tolbe.lawley_increment(fit, "C1", ["T1", "T2"], ["INT"])
    if noted:
        note = [w.message for w in said if isinstance(w.message, tolbe.TolbeNote)][0]
        assert note.code == "small_sample_intervals"
        assert str(note) == inc.note
        assert inc.note.startswith(f"the restricted sample has n = {rows}, fewer than 250: ")
        assert "note: the restricted sample" in repr(inc)
    else:
        assert inc.note is None
    for part in (inc.R2, inc.base_R2, inc.delta_R2, inc.delta_R, inc.R):
        assert 0.0 <= part.conf_low[0] <= part.estimate[0] <= part.conf_high[0]


def _no_note():
    import contextlib
    import warnings

    @contextlib.contextmanager
    def none():
        with warnings.catch_warnings(record=True) as said:
            warnings.simplefilter("always")
            yield said
        assert not [w for w in said if isinstance(w.message, tolbe.TolbeNote)]
    return none()


def test_a_bootstrap_gives_no_note_on_its_intervals():
    fit = bootstrap(data=HIRED.iloc[:60], seed=3)
    assert fit.regression("C1", ["T1", "T2", "INT"]).note is None


def _small_adf_fit():
    return caught(tolbe.lawley, data=HIRED.iloc[:60], pool=APPLICANTS, selection=["T1", "T2"],
                  interval="adf")[0]


def _notes(said):
    return [(w.filename, w.lineno) for w in said if isinstance(w.message, tolbe.TolbeNote)]


def test_the_note_points_at_the_line_that_asked_the_fit():
    import inspect
    import warnings

    fit = _small_adf_fit()
    with warnings.catch_warnings(record=True) as said:
        warnings.simplefilter("always")
        here = inspect.currentframe().f_lineno
        fit.regression("C1", ["T1", "T2"])
        fit.increment("C1", ["T1", "T2"], ["INT"])
    assert _notes(said) == [(__file__, here + 1), (__file__, here + 2)]


def test_the_note_points_at_the_line_that_called_the_module_functions():
    import inspect
    import warnings

    fit = _small_adf_fit()
    with warnings.catch_warnings(record=True) as said:
        warnings.simplefilter("always")
        here = inspect.currentframe().f_lineno
        tolbe.lawley_regression(fit, "C1", ["T1", "T2"])
        tolbe.lawley_increment(fit, "C1", ["T1", "T2"], ["INT"])
    assert _notes(said) == [(__file__, here + 1), (__file__, here + 2)]


@pytest.mark.parametrize("column, said", [("C1", True), ("T1", False)])
def test_heavy_tails_are_said_of_a_variable_that_is_not_selected(column, said):
    # A standardised chi-square(1) put in place of one column: its excess
    # kurtosis, over the scores within 10 robust SDs (those further out are
    # outlying values, said on their own), passes 3; T1 is selected, and
    # selection alone makes a selection variable's scores non-normal.
    data = HIRED.copy()
    z = np.random.default_rng(7).standard_normal(len(data))
    data[column] = 50 + 10 * (z**2 - 1) / np.sqrt(2)
    fit, warned = caught(tolbe.lawley, data=data, pool=APPLICANTS, selection=["T1", "T2"])
    heavy = [f for f in fit.findings if f.code == "heavy_tails"]
    if not said:
        assert heavy == []
        return
    x = data[column].to_numpy()
    centre = np.median(x)
    kept = x[np.abs(x - centre) / (1.482602218505602 * np.median(np.abs(x - centre))) <= 10]
    d = kept - kept.mean()
    excess = np.mean(d**4) / np.mean(d**2) ** 2 - 3
    assert len(heavy) == 1 and heavy[0].severity == "warning" and heavy[0].variables == ("C1",)
    assert heavy[0].message.startswith(f"C1 has heavy tails in the restricted sample "
                                       f"(excess kurtosis {excess:.4g})")
    assert ("TolbeWarning", heavy[0].message) in warned
