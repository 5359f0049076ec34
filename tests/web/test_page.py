"""The web page in headless Chromium, against the Linux program.

The page (web/, built by web/build.sh) is served from 127.0.0.1 and driven as
a user drives it; what it computes must equal `tolbe --format=csv` on the
same input byte for byte, and the numbers it shows must be the same doubles.
Run: python3 -m pytest tests/web (Debian's python3-selenium, chromium and
chromium-driver). TOLBE_PROGRAM names the Linux program (default
build/tolbe); TOLBE_SCREENSHOT, where to save the screenshot (default
build/web-page.png).
"""

import csv
import functools
import http.server
import io
import json
import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import threading
import time

import pytest
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

ROOT = pathlib.Path(__file__).resolve().parents[2]
WEB = ROOT / "web"
PROGRAM = pathlib.Path(os.environ.get("TOLBE_PROGRAM", ROOT / "build" / "tolbe"))
SCREENSHOT = pathlib.Path(os.environ.get("TOLBE_SCREENSHOT", ROOT / "build" / "web-page.png"))
EXAMPLES = ROOT / "examples"


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      ".wasm": "application/wasm", ".js": "text/javascript"}

    def log_message(self, *args):
        pass


@pytest.fixture(scope="module")
def server():
    for built in ("tolbe.js", "tolbe.wasm", "examples/worked.txt"):
        assert (WEB / built).exists(), f"web/{built} is missing: run web/build.sh first"
    handler = functools.partial(QuietHandler, directory=str(WEB))
    httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    thread = threading.Thread(target=httpd.serve_forever, daemon=True)
    thread.start()
    yield f"http://127.0.0.1:{httpd.server_address[1]}/"
    httpd.shutdown()


@pytest.fixture(scope="module")
def browser(server):
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    profile = tempfile.mkdtemp()
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--disable-dev-shm-usage",
                 f"--user-data-dir={profile}", "--window-size=1280,1700"):
        options.add_argument(flag)
    service = Service(shutil.which("chromedriver") or "/usr/bin/chromedriver")
    driver = webdriver.Chrome(service=service, options=options)
    driver.set_script_timeout(60)
    yield driver
    driver.quit()
    shutil.rmtree(profile, ignore_errors=True)


def load(browser, server):
    started = time.monotonic()
    browser.get(server)
    WebDriverWait(browser, 30).until(
        lambda d: d.execute_script("return document.body.dataset.ready === 'true'"))
    return time.monotonic() - started


def set_value(browser, element_id, text):
    browser.execute_script(
        "const e = document.getElementById(arguments[0]); e.value = arguments[1];"
        "e.dispatchEvent(new Event('input'));", element_id, text)


def choose(browser, name, value):
    browser.find_element(By.CSS_SELECTOR, f'input[name="{name}"][value="{value}"]').click()


def reset(browser, server):
    load(browser, server)


def compute(browser):
    browser.find_element(By.ID, "run").click()
    WebDriverWait(browser, 120).until(
        lambda d: d.find_element(By.ID, "status").text in ("Computed.",
                                                           "Not computed: see the message below the input."))
    return browser.find_element(By.ID, "status").text


def page_csv(browser):
    return browser.execute_script("return window.tolbeDownloads().csv")


def program(args, files):
    """The Linux program on `files` ({name: text}) in a folder of their own,
    as the page has them: stdout, stderr, status."""
    with tempfile.TemporaryDirectory() as folder:
        for name, text in files.items():
            pathlib.Path(folder, name).write_text(text)
        run = subprocess.run([str(PROGRAM), *args], cwd=folder, capture_output=True, text=True)
        return run.stdout, run.stderr, run.returncode


def shown_doubles(browser, table_id):
    """The full numbers behind the cells of a shown matrix, row by row."""
    return browser.execute_script(
        "return [...document.querySelectorAll('#' + arguments[0] + ' tbody tr')].map("
        "r => [...r.querySelectorAll('td')].map(c => c.dataset.value));", table_id)


def csv_matrix(text, matrix):
    """The values of one matrix of the program's CSV, its columns found by
    the header's names (a version column comes first)."""
    rows = list(csv.reader(io.StringIO(text)))
    header = rows[0]
    at, first = header.index("matrix"), header.index("variable") + 1
    rows = [r for r in rows[1:] if len(r) > at and r[at] == matrix]
    return [[float(x) for x in r[first:] if x != ""] for r in rows]


def check_shown_intervals(browser, expected_csv):
    """Each matrix cell's bounds are the CSV's, and its text shows them in
    order, rounded."""
    for matrix in ("corrected_cov", "corrected_corr", "disattenuated_corr"):
        cells = browser.execute_script(
            "return [...document.querySelectorAll('#' + arguments[0] + ' tbody tr')].map("
            "r => [...r.querySelectorAll('td')].map(c => [c.dataset.lower, c.dataset.upper,"
            " c.querySelector('.interval').textContent]))", matrix)
        lower = csv_matrix(expected_csv, matrix + "_lower")
        upper = csv_matrix(expected_csv, matrix + "_upper")
        assert [[float(c[0]) for c in row] for row in cells] == lower, matrix
        assert [[float(c[1]) for c in row] for row in cells] == upper, matrix
        for row, low_row, high_row in zip(cells, lower, upper):
            for (_, _, text), low, high in zip(row, low_row, high_row):
                shown_low, shown_high = (float(t) for t in text.strip("[]").split(","))
                assert shown_low == pytest.approx(low, abs=5.1e-5, rel=5e-4), (matrix, text)
                assert shown_high == pytest.approx(high, abs=5.1e-5, rel=5e-4), (matrix, text)


def check_shown_regression(browser, regression):
    """The regression table's columns and the fit's lines are the JSON's."""
    rows = browser.execute_script(
        "return [...document.querySelectorAll('#regression tbody tr')].map("
        "r => [...r.querySelectorAll('td')].map(c => Number(c.dataset.value)))")
    columns = ["b", "beta", "validity", "operational_validity"]
    assert rows == [[regression[c]["estimate"][i] for c in columns]
                    for i in range(len(regression["predictors"]))]
    fit = browser.execute_script(
        "return [...document.querySelectorAll('#fit dt')].map("
        "t => [t.textContent, Number(t.nextElementSibling.dataset.value)])")
    labels = {"R²": "r2", "R": "r", "Operational R": "operational_r", "Base R²": "base_r2",
              "ΔR²": "delta_r2", "ΔR": "delta_r"}
    assert [label for label, _ in fit] == [l for l, k in labels.items()
                                           if isinstance(regression.get(k), dict)]
    for label, number in fit:
        assert number == regression[labels[label]]["estimate"], label


EXAMPLE_PROBLEMS = ["worked", "twelve", "fifty"]


@pytest.mark.parametrize("example", EXAMPLE_PROBLEMS)
def test_example_problem_equals_the_program(browser, server, example):
    reset(browser, server)
    text = (EXAMPLES / f"{example}.txt").read_text()
    set_value(browser, "problem", text)
    assert compute(browser) == "Computed."
    expected, _, status = program(["--format=csv", "problem.txt"], {"problem.txt": text})
    assert status == 0
    assert page_csv(browser) == expected
    for matrix in ("corrected_cov", "corrected_corr", "disattenuated_corr"):
        want = csv_matrix(expected, matrix)
        if not want:
            continue
        got = [[float(x) for x in row] for row in shown_doubles(browser, matrix)]
        assert got == want, matrix
    report, _, _ = program(["--format=report", "problem.txt"], {"problem.txt": text})
    page_report = browser.execute_script("return window.tolbeDownloads().report")

    def masked(t):
        return [l for l in t.splitlines()
                if not l.startswith("Program execution starts on") and "CPU" not in l]
    assert masked(page_report) == masked(report)


def test_example_loaded_from_the_menu(browser, server):
    reset(browser, server)
    browser.find_element(By.ID, "example").send_keys("Worked")
    WebDriverWait(browser, 10).until(
        lambda d: d.find_element(By.ID, "problem").get_attribute("value") != "")
    assert browser.find_element(By.ID, "problem").get_attribute("value") == \
        (EXAMPLES / "worked.txt").read_text()


STUDY_CASES = [
    # (interval options on the page, the program's extra arguments)
    ({}, []),
    ({"interval": "bootstrap", "resamples": "300", "seed": "7"},
     ["--interval=bootstrap", "--resamples=300", "--seed=7", "--threads=2"]),
    ({"interval": "bootstrap", "resamples": "300", "seed": "7", "ci-type": "percentile"},
     ["--interval=bootstrap", "--resamples=300", "--seed=7", "--ci-type=percentile"]),
]


@pytest.mark.parametrize("fields,extra", STUDY_CASES)
def test_study_raw_scores_equal_the_program(browser, server, fields, extra):
    reset(browser, server)
    choose(browser, "kind", "raw")
    browser.find_element(By.ID, "load-study").click()
    WebDriverWait(browser, 10).until(
        lambda d: d.find_element(By.ID, "criterion").get_attribute("value") == "C1")
    for element_id, text in fields.items():
        if element_id in ("interval", "ci-type"):
            browser.execute_script("document.getElementById(arguments[0]).value = arguments[1]",
                                   element_id, text)
        else:
            set_value(browser, element_id, text)
    assert compute(browser) == "Computed."
    files = {"data.csv": (EXAMPLES / "study" / "hired.csv").read_text(),
             "pool.csv": (EXAMPLES / "study" / "applicants.csv").read_text()}
    args = ["--format=csv", "--data=data.csv", "--pool=pool.csv", "--select=T1,T2",
            "--reliabilities=C1=0.8,C2=0.75", "--criterion=C1", "--predictors=T1,T2,INT",
            "--base=T1,T2", *extra]
    expected, _, status = program(args, files)
    assert status == 0
    assert page_csv(browser) == expected
    # The paper table, and every finding of the program in the list.
    markdown, stderr, _ = program([a if a != "--format=csv" else "--format=markdown"
                                   for a in args], files)
    assert browser.find_element(By.ID, "markdown").get_attribute("textContent") == markdown
    check_shown_intervals(browser, expected)
    document, _, _ = program([a if a != "--format=csv" else "--format=json" for a in args], files)
    check_shown_regression(browser, json.loads(document)[0]["regression"])
    shown = [li.get_attribute("textContent") for li in
             browser.find_elements(By.CSS_SELECTOR, "#findings li")]
    said = [re.sub(r"^tolbe: data\.csv: ", "", l) for l in stderr.splitlines()]
    # The CSV's note of how the intervals were computed is the page's summary.
    said = [l for l in said if not re.match(r"note: \d+% intervals", l)]
    assert shown == said
    assert len(shown) >= 1
    assert browser.find_elements(By.CSS_SELECTOR, "#figure svg circle")


def program_has(option):
    """Whether the Linux program takes `option` (its --help lists it)."""
    run = subprocess.run([str(PROGRAM), "--help"], capture_output=True, text=True)
    return option in run.stdout


# The matrices panel is read by the program's named-matrix reader
# (--restricted and --unrestricted); a program without the first cannot.
needs_named_matrices = pytest.mark.xfail(
    not program_has("--restricted="), strict=True,
    reason="the program has no --restricted=FILE for a named restricted matrix")


def matrices_args(fields):
    """The program's command line for the matrices panel's `fields`."""
    args = ["--restricted=restricted.csv", "--unrestricted=unrestricted.csv"]
    for option in ("select", "reliabilities", "n"):
        if fields.get(option):
            args.append(f"--{option}={fields[option]}")
    files = {"restricted.csv": fields["restricted"], "unrestricted.csv": fields["unrestricted"]}
    return args, files


def without_file_column(text):
    """The CSV's lines without its 'file' column, found in each table's
    header."""
    out, at = [], None
    for line in text.splitlines():
        fields = line.split(",")
        if "file" in fields:
            at = fields.index("file")
        out.append(",".join(fields[:at] + fields[at + 1:]) if at is not None and line else line)
    return out


# The same problem as the free-format one below: y first, x2 and x1 the
# selection variables in the unrestricted matrix's order.
FREE_FORMAT = ("2 3 1\n1.00 0.30 0.40\n0.30 1.00 0.50\n0.40 0.50 1.00\n1.21 0.60\n"
               "0.60 1.44\n0.81\n")
MATRICES = [
    # (restricted, unrestricted): CSV as people write it.
    ('"y",x1,x2\n1.00,0.30,0.40\n0.30,1.00,0.50\n0.40,0.50,1.00\n',
     "x2;x1\n1.21;0.60\n0.60;1.44\n"),
    # R's write.csv(V): a first column of row names under an empty header.
    ('"","y","x1","x2"\n"y",1,0.3,0.4\n"x1",0.3,1,0.5\n"x2",0.4,0.5,1\n',
     '"","x2","x1"\n"x2",1.21,0.6\n"x1",0.6,1.44\n'),
    # Blank lines, CR LF and blanks around fields.
    ("y , x1 , x2\r\n\r\n1.00, 0.30 ,0.40\r\n0.30,1.00,0.50\r\n0.40,0.50,1.00\r\n",
     "x2\tx1\n1.21\t0.60\n\n0.60\t1.44\n"),
]


@needs_named_matrices
@pytest.mark.parametrize("restricted,unrestricted", MATRICES)
def test_matrices_as_csv_equal_the_program(browser, server, restricted, unrestricted):
    reset(browser, server)
    choose(browser, "kind", "matrices")
    fields = {"restricted": restricted, "unrestricted": unrestricted, "reliabilities": "y=0.81",
              "n": "120"}
    for element_id, text in fields.items():
        set_value(browser, element_id, text)
    assert compute(browser) == "Computed."
    args, files = matrices_args(fields)
    expected, _, status = program(["--format=csv", *args], files)
    assert status == 0
    assert page_csv(browser) == expected
    # The numbers are those of the same problem in the free format.
    free, _, status = program(["--names=y,x1,x2", "--select=3,2", "--n=120", "--format=csv",
                               "matrices.txt"], {"matrices.txt": FREE_FORMAT})
    assert status == 0
    assert without_file_column(page_csv(browser)) == without_file_column(free)
    # A selection typed as well is the program's to hold against the
    # unrestricted matrix's names.
    for typed in ("x1,x2", "3,2"):
        set_value(browser, "select", typed)
        assert compute(browser) == "Computed."
        expected, _, status = program(["--format=csv", *args, f"--select={typed}"], files)
        assert status == 0
        assert page_csv(browser) == expected


def study_with(browser, server, data):
    """The study example on the page, its hired's scores replaced by `data`;
    the program's run on the same input, as (stdout, stderr, status) of the
    JSON."""
    reset(browser, server)
    choose(browser, "kind", "raw")
    browser.find_element(By.ID, "load-study").click()
    WebDriverWait(browser, 10).until(
        lambda d: d.find_element(By.ID, "criterion").get_attribute("value") == "C1")
    set_value(browser, "data", data)
    compute(browser)
    files = {"data.csv": data, "pool.csv": (EXAMPLES / "study" / "applicants.csv").read_text()}
    args = ["--format=json", "--data=data.csv", "--pool=pool.csv", "--select=T1,T2",
            "--reliabilities=C1=0.8,C2=0.75", "--criterion=C1", "--predictors=T1,T2,INT",
            "--base=T1,T2"]
    return program(args, files)


def shown_findings(browser):
    return [(li.get_attribute("class"), li.get_attribute("textContent")) for li in
            browser.find_elements(By.CSS_SELECTOR, "#findings li")]


def said_findings(stderr):
    """The findings the program wrote: (severity, "severity: message")."""
    said = []
    for line in stderr.splitlines():
        m = re.match(r"tolbe: data\.csv: (error|warning|note): (.*)$", line)
        if m:
            said.append((m.group(1), f"{m.group(1)}: {m.group(2)}"))
    return said


def hired(row=None, column=None, value=None, rows=None):
    """examples/study/hired.csv, with the data row `row` (from 1) of `column`
    set to `value`, cut to its first `rows` data rows."""
    lines = (EXAMPLES / "study" / "hired.csv").read_text().splitlines()
    if row is not None:
        at = [name.strip('"') for name in lines[0].split(",")].index(column)
        fields = lines[row].split(",")
        fields[at] = value
        lines[row] = ",".join(fields)
    return "\n".join(lines[:None if rows is None else rows + 1]) + "\n"


def test_a_missing_value_code_is_a_warning_naming_row_and_column(browser, server):
    data = hired(2, "C1", "-99")
    _, stderr, status = study_with(browser, server, data)
    assert status == 0
    assert browser.find_element(By.ID, "status").text == "Computed."
    shown = shown_findings(browser)
    # Every finding of the program, in its words, and no other.
    assert shown == said_findings(stderr)
    warnings = [text for severity, text in shown if severity == "warning" and "-99" in text]
    assert len(warnings) == 1
    assert re.search(r"\brow 2\b", warnings[0]), warnings[0]
    assert re.search(r"\bC1\b", warnings[0]), warnings[0]


def test_too_few_rows_are_refused_with_the_finding(browser, server):
    # Four hired people for five variables.
    data = hired(rows=4)
    stdout, stderr, status = study_with(browser, server, data)
    assert status == 2
    assert browser.find_element(By.ID, "status").text == \
        "Not computed: see the message below the input."
    shown = shown_findings(browser)
    assert shown == said_findings(stderr)
    assert [s for s, _ in shown].count("error") >= 1
    error = json.loads(stdout)[0]["error"]
    assert browser.find_element(By.ID, "data-error").text == error
    assert not browser.find_element(By.ID, "paper-box").is_displayed()


def test_findings_of_a_failed_validity_question_are_shown(browser, server):
    # INT does not vary: the predictors have no regression weights, and the
    # findings, which name INT, say why.
    lines = hired().splitlines()
    data = "\n".join([lines[0]] + [",".join(l.split(",")[:2] + ["5"] + l.split(",")[3:])
                                    for l in lines[1:]]) + "\n"
    stdout, stderr, status = study_with(browser, server, data)
    assert status == 2
    assert browser.find_element(By.ID, "status").text == \
        "Not computed: see the message below the input."
    # The program refuses the predictors.
    failed = json.loads(stdout)[0]
    assert failed["refusal"]["argument"] == "predictors"
    assert browser.find_element(By.ID, "predictors-error").text == failed["error"]
    # The page shows the findings the program's JSON holds, and the program
    # said them on standard error.
    shown = shown_findings(browser)
    assert shown == said_findings(stderr)
    assert any(s == "warning" and "variance of INT" in text for s, text in shown), shown
    assert browser.find_elements(By.CSS_SELECTOR, "#matrices td") == []


def test_results_say_the_version(browser, server):
    stdout, _, status = study_with(browser, server, hired())
    assert status == 0
    version = subprocess.run([str(PROGRAM), "--version"], capture_output=True,
                             text=True).stdout.splitlines()[0].removeprefix("tolbe ")
    assert re.fullmatch(r"\d+\.\d+\.\d+\S*", version)
    document = json.loads(stdout)
    documents = document if isinstance(document, list) else [document]
    for d in documents:
        if "version" in d:
            assert d["version"] == version
    assert browser.find_element(By.ID, "result-version").text == f"Computed by tolbe {version}."


def test_the_assumptions_are_stated_by_the_results(browser, server):
    reset(browser, server)
    about = browser.find_element(By.ID, "about-correction")
    assert about.tag_name == "details"
    assert about.find_element(By.TAG_NAME, "summary").text.startswith("About the correction")
    text = " ".join(about.get_attribute("textContent").split())
    for said in ("selected on the declared selection variables only",
                 "linear and homoscedastic",
                 "standard errors and intervals are conditional on these assumptions",
                 "corrected values are biased and no interval shows it",
                 ".275 against a true .427", "recover .430",
                 "A recorded pre-screen, or any other variable the selection used, must be a "
                 "selection variable."):
        assert said in text, said
    # It follows the results, and opens.
    assert browser.execute_script(
        "return document.getElementById('results').compareDocumentPosition("
        "document.getElementById('about-correction')) & Node.DOCUMENT_POSITION_FOLLOWING")
    about.find_element(By.TAG_NAME, "summary").click()
    assert about.find_element(By.TAG_NAME, "p").is_displayed()


def test_refused_problem_leaves_no_earlier_results(browser, server):
    reset(browser, server)
    set_value(browser, "problem", (EXAMPLES / "worked.txt").read_text())
    assert compute(browser) == "Computed."
    assert browser.find_element(By.ID, "markdown").get_attribute("textContent") != ""
    # Restricted correlations of 1 between the selection variables: the
    # tool refuses the problem and says why.
    set_value(browser, "problem", "2 3 0\n1 1 0.3\n1 1 0.4\n0.3 0.4 1\n1.44 0.6\n0.6 1.21\n")
    assert compute(browser) == "Not computed: see the message below the input."
    assert browser.find_element(By.ID, "markdown").get_attribute("textContent") == ""
    assert not browser.find_element(By.ID, "paper-box").is_displayed()
    assert not browser.find_element(By.ID, "downloads").is_displayed()
    assert browser.find_elements(By.CSS_SELECTOR, "#matrices td") == []


def test_values_not_computed_are_shown_as_such(browser, server):
    reset(browser, server)
    # A negative variance: correlations with variable 3 cannot be computed.
    text = "2 3 0\n1 .5 .3\n.5 1 .4\n.3 .4 -1\n1.44 .6\n.6 1.21\n"
    set_value(browser, "problem", text)
    assert compute(browser) == "Computed."
    expected, _, _ = program(["--format=csv", "problem.txt"], {"problem.txt": text})
    assert page_csv(browser) == expected
    cells = browser.execute_script(
        "return [...document.querySelectorAll('#corrected_corr tbody td')].map(c => c.textContent)")
    assert "NaN" in cells
    assert "corrected: not computed" in [
        e.get_attribute("textContent")
        for e in browser.find_elements(By.CSS_SELECTOR, "#figure .not-computed")]


MALFORMED = [
    # (kind, field values, the field whose message shows, the program's run:
    # "matrices" for the matrices panel's command line)
    ("problem", {"problem": "2 3 1\n1 0.5 0.3\n0.5 1 x\n"}, "problem",
     (["problem.txt"], {"problem.txt": "2 3 1\n1 0.5 0.3\n0.5 1 x\n"})),
    ("problem", {"problem": "worked", "criterion": "7"}, "criterion", None),
    ("problem", {"problem": "worked", "select": "1,9"}, "select", None),
    # Values the program refuses as it reads its options, before any problem.
    ("problem", {"problem": "worked", "level": "2"}, "level",
     (["--level=2", "problem.txt"], {"problem.txt": "worked"})),
    ("problem", {"problem": "worked", "n": "abc", "level": "0.9"}, "n",
     (["--n=abc", "--level=0.9", "problem.txt"], {"problem.txt": "worked"})),
    ("raw", {"data": "a,b\n1,2\n", "pool": "a\n1\n", "interval": "bootstrap",
             "resamples": "5", "seed": "1"}, "resamples",
     (["--interval=bootstrap", "--resamples=5", "--seed=1", "--data=data.csv", "--pool=pool.csv"],
      {"data.csv": "a,b\n1,2\n", "pool.csv": "a\n1\n"})),
]
R3 = "a,b,c\n1,0.5,0.3\n0.5,1,0.4\n0.3,0.4,1\n"
U2 = "a,b\n1.2,0.6\n0.6,1.4\n"
MALFORMED_MATRICES = [
    # Cells the free-format reader would have split or repeated: the row
    # would shift and the page show numbers.
    ({"restricted": "a,b,c\n1,0.5 0.9,0.3\n0.5,1,0.4\n0.3,0.4,1\n", "unrestricted": U2},
     "restricted"),
    ({"restricted": "a,b,c\n1,2*0.5,0.3\n0.5,1,0.4\n0.3,0.4,1\n", "unrestricted": U2},
     "restricted"),
    ({"restricted": R3, "unrestricted": "a,b\n1.2,0.6 0.7\n0.6,1.4\n"}, "unrestricted"),
    ({"restricted": "a,b,c\n1,0.5,0.3\n0.5,1,0.4\n0.3,0.4,zz\n", "unrestricted": "a\n1.44\n"},
     "restricted"),
    # A bad number after a name of more bytes than letters.
    ({"restricted": '"",b,é\n"b",1,0.5\n"é",0.5,x\n', "unrestricted": "b\n1.2\n"},
     "restricted"),
    # Row names that contradict the header.
    ({"restricted": ",a,b,c\nb,1,0.5,0.3\na,0.5,1,0.4\nc,0.3,0.4,1\n", "unrestricted": U2},
     "restricted"),
    ({"restricted": "a,b\n1,0.5\n0.5,1\n", "unrestricted": "a,b\n1,0.5\n"}, "unrestricted"),
    # A bad number on the unrestricted CSV's line 4 (after a blank line).
    ({"restricted": R3, "unrestricted": "a,b\n\n1.2,0.6\n0.6,x\n"}, "unrestricted"),
    ({"restricted": R3, "unrestricted": "a,d\n1.2,0.6\n0.6,1.4\n"}, "unrestricted"),
    ({"restricted": R3, "unrestricted": U2, "reliabilities": "c=0.8 0.7"}, "reliabilities"),
    ({"restricted": R3, "unrestricted": U2, "reliabilities": "a=0.8"}, "reliabilities"),
    ({"restricted": R3, "unrestricted": U2, "reliabilities": "c=x"}, "reliabilities"),
    ({"restricted": R3, "unrestricted": U2, "reliabilities": "e=0.8"}, "reliabilities"),
    # A typed selection other than the unrestricted matrix's variables: the
    # program holds the matrix to the selection, and refuses the matrix.
    ({"restricted": R3, "unrestricted": "b,a\n1.2,0.6\n0.6,1.44\n", "select": "a,c"},
     "unrestricted"),
]


def check_message_next_to_field(browser, field, stderr=None):
    assert browser.find_element(By.ID, "status").text == \
        "Not computed: see the message below the input."
    message = browser.find_element(By.ID, f"{field}-error").text
    assert message
    assert browser.find_element(By.ID, field).get_attribute("aria-invalid") == "true"
    assert browser.switch_to.active_element.get_attribute("id") == field
    # No numbers of an earlier or a shifted reading.
    assert browser.find_elements(By.CSS_SELECTOR, "#matrices td") == []
    if stderr is not None:
        assert message == stderr.splitlines()[0]
    return message


@pytest.mark.parametrize("kind,fields,field,run", MALFORMED)
def test_malformed_input_is_named_next_to_its_field(browser, server, kind, fields, field, run):
    reset(browser, server)
    choose(browser, "kind", kind)
    for element_id, text in fields.items():
        if text == "worked":
            text = (EXAMPLES / "worked.txt").read_text()
        set_value(browser, element_id, text)
    compute(browser)
    stderr = None
    if run:
        args, files = run
        files = {name: (EXAMPLES / "worked.txt").read_text() if text == "worked" else text
                 for name, text in files.items()}
        _, stderr, status = program(args, files)
        assert status == 2
    check_message_next_to_field(browser, field, stderr)


@needs_named_matrices
@pytest.mark.parametrize("fields,field", MALFORMED_MATRICES)
def test_malformed_matrices_are_named_next_to_their_field(browser, server, fields, field):
    reset(browser, server)
    choose(browser, "kind", "matrices")
    for element_id, text in fields.items():
        set_value(browser, element_id, text)
    compute(browser)
    args, files = matrices_args(fields)
    _, stderr, status = program(args, files)
    assert status == 2
    check_message_next_to_field(browser, field, stderr)
    # A place in a matrix: the caret is there.
    stdout, _, _ = program(["--format=json", *args], files)
    said = (json.loads(stdout)[0].get("refusal") or {}) if stdout else {}
    box = browser.find_element(By.ID, f"{field}-error")
    if said.get("line") is None:
        assert box.get_attribute("data-line") is None
        return
    assert box.get_attribute("data-line") == str(said["line"])
    text = fields[field].split("\n")[said["line"] - 1]
    at = browser.execute_script(
        "const e = document.getElementById(arguments[0]);"
        "return e.value.slice(e.value.lastIndexOf('\\n', e.selectionStart - 1) + 1,"
        " e.selectionStart)", field)
    # Columns count the bytes of UTF-8.
    assert at.encode() == text.encode()[:(said.get("column") or 1) - 1]


def test_keyboard_alone_and_labels(browser, server):
    reset(browser, server)
    # Every control has a label.
    unlabelled = browser.execute_script(
        "return [...document.querySelectorAll('input, select, textarea')]"
        ".filter(e => e.type !== 'hidden' && e.labels.length === 0).map(e => e.id || e.name)")
    assert unlabelled == []
    area = browser.find_element(By.ID, "problem")
    area.click()
    browser.execute_script("arguments[0].value = arguments[1]", area,
                           (EXAMPLES / "worked.txt").read_text())
    area.send_keys(Keys.CONTROL, Keys.ENTER)
    WebDriverWait(browser, 30).until(
        lambda d: d.find_element(By.ID, "status").text == "Computed.")
    # Tab reaches the button that computes.
    browser.find_element(By.ID, "base").click()
    browser.switch_to.active_element.send_keys(Keys.TAB)
    assert browser.switch_to.active_element.get_attribute("id") == "run"


@pytest.mark.parametrize("width", [1280, 768, 390])
def test_fits_laptop_tablet_and_phone(browser, server, width):
    browser.set_window_size(width, 1700)
    try:
        reset(browser, server)
        set_value(browser, "problem", (EXAMPLES / "twelve.txt").read_text())
        assert compute(browser) == "Computed."
        overflow = browser.execute_script(
            "return document.documentElement.scrollWidth - window.innerWidth")
        assert overflow <= 0
    finally:
        browser.set_window_size(1280, 1700)


def test_load_time_and_screenshot(browser, server):
    seconds = min(load(browser, server) for _ in range(3))
    print(f"page ready in {seconds:.3f} s")
    # Everything the page loaded came from the server it was opened from.
    loaded = browser.execute_script(
        "return performance.getEntriesByType('resource').map(e => e.name)")
    assert {"tolbe.js", "tolbe.wasm", "app.js"} <= {u.rsplit("/", 1)[-1] for u in loaded}
    assert [u for u in loaded if not u.startswith(server)] == []
    choose(browser, "kind", "raw")
    browser.find_element(By.ID, "load-study").click()
    WebDriverWait(browser, 10).until(
        lambda d: d.find_element(By.ID, "criterion").get_attribute("value") == "C1")
    assert compute(browser) == "Computed."
    browser.set_window_size(1280, 2300)
    try:
        browser.execute_script("window.scrollTo(0, 0)")
        SCREENSHOT.parent.mkdir(parents=True, exist_ok=True)
        assert browser.save_screenshot(str(SCREENSHOT))
    finally:
        browser.set_window_size(1280, 1700)


# ---- Refusals placed by what the program says of them ----------------------------


def stand_in_for_the_program(browser, documents, stderr="", status=2):
    """Makes the page's program write `documents` as its JSON (nothing for
    None) and `stderr`, whatever it is asked: the page's placing is then
    tested on refusals of every kind, whatever the program refuses today."""
    browser.execute_script(
        "const m = window.tolbeModule();"
        "m.callMain = () => { m.FS.writeFile('/run/stdout', arguments[0]);"
        " m.FS.writeFile('/run/stderr', arguments[1]); return arguments[2]; };",
        "" if documents is None else json.dumps(documents), stderr, status)


def refusal(**fields):
    r = {"code": "invalid_value", "argument": None, "file": None, "line": None, "column": None,
         "message": "refused"}
    r.update(fields)
    return r


SOME_TEXT = "a,b\n1,x\n0.5,1\n\n0.5,1,  x\n"
PLACED_REFUSALS = [
    # (kind, the failed document, the field, the line and column of the
    # caret there or None). The words name another option or file than the
    # refusal does: the page must go by the refusal.
    ("problem", {"file": "problem.txt", "error": "tolbe: '--select' names \"9\"",
                 "refusal": refusal(argument="level")}, "level", None),
    ("problem", {"file": "problem.txt", "error": "tolbe: problem.txt: '--level' is wrong",
                 "refusal": refusal(argument="select")}, "select", None),
    ("problem", {"file": "problem.txt", "error": "tolbe: data.csv: '--n' is wrong",
                 "refusal": refusal(argument="n-unrestricted")}, "n-unrestricted", None),
    ("problem", {"file": "problem.txt", "error": "tolbe: the unrestricted matrix",
                 "refusal": refusal(argument="unrestricted")}, "problem", None),
    ("problem", {"file": "problem.txt", "error": "tolbe: '--criterion'",
                 "refusal": refusal(file="problem.txt", line=5, column=9)}, "problem", (5, 9)),
    ("matrices", {"file": "restricted.csv", "error": "tolbe: '--select' names \"z\"",
                  "refusal": refusal(argument="reliabilities")}, "reliabilities", None),
    ("matrices", {"file": "restricted.csv", "error": "tolbe: restricted.csv:2:1: x",
                  "refusal": refusal(file="unrestricted.csv", line=5, column=9)},
     "unrestricted", (5, 9)),
    ("matrices", {"file": "restricted.csv", "error": "tolbe: '--reliabilities-from'",
                  "refusal": refusal(argument="criterion", file="restricted.csv")},
     "criterion", None),
    ("raw", {"file": "data.csv", "error": "tolbe: data.csv:3:2: not a number",
             "refusal": refusal(file="unrestricted.csv", line=2, column=3)}, "pool", (2, 3)),
    ("raw", {"file": "data.csv", "error": "tolbe: '--pool' is wrong",
             "refusal": refusal(argument="resamples")}, "resamples", None),
    ("raw", {"file": "data.csv", "error": "tolbe: '--resamples' is wrong",
             "refusal": refusal(code="too_few_rows", argument="data")}, "data", None),
    # Without a refusal (or with none of its fields): the problem's file.
    ("raw", {"file": "pool.csv", "error": "tolbe: '--select' is wrong"}, "pool", None),
    ("matrices", {"file": "restricted.csv", "error": "tolbe: '--n' is wrong",
                  "refusal": refusal()}, "restricted", None),
]


def fill_every_field(browser, kind):
    choose(browser, "kind", kind)
    for field in ("problem", "restricted", "unrestricted", "data", "pool"):
        set_value(browser, field, SOME_TEXT)
    if kind == "raw":
        choose(browser, "pool-kind", "unrestricted")


def offset_of(text, line, column):
    lines = text.split("\n")
    return sum(len(l) + 1 for l in lines[:line - 1]) + column - 1


@pytest.mark.parametrize("kind,document,field,position", PLACED_REFUSALS)
def test_refusals_are_placed_by_their_argument_and_file(browser, server, kind, document, field,
                                                        position):
    reset(browser, server)
    fill_every_field(browser, kind)
    stand_in_for_the_program(browser, [{"version": "0", **document}],
                             stderr=document["error"] + "\n")
    compute(browser)
    check_message_next_to_field(browser, field)
    assert browser.find_element(By.ID, f"{field}-error").text == document["error"]
    # Every other field is left alone.
    others = browser.execute_script(
        "return [...document.querySelectorAll('.field-error')].filter(e => e.textContent)"
        ".map(e => e.id)")
    assert others == [f"{field}-error"]
    box = browser.find_element(By.ID, f"{field}-error")
    if position is None:
        assert box.get_attribute("data-line") is None
        return
    line, column = position
    assert (box.get_attribute("data-line"), box.get_attribute("data-column")) == \
        (str(line), str(column))
    at = offset_of(SOME_TEXT, line, column)
    caret = browser.execute_script(
        "const e = document.getElementById(arguments[0]); return [e.selectionStart, e.selectionEnd]",
        field)
    assert caret == [at, at + 1]
    assert SOME_TEXT[at] == "x"


def test_a_refusal_written_as_one_object_is_placed(browser, server):
    # A command line refused before any problem may come as one object, not
    # a list of problems; its findings list is no list of problems.
    reset(browser, server)
    fill_every_field(browser, "problem")
    document = {"version": "0", "error": "tolbe: invalid argument '2' for '--select'",
                "refusal": refusal(argument="level"), "findings": []}
    browser.execute_script(
        "const m = window.tolbeModule();"
        "m.callMain = () => { m.FS.writeFile('/run/stdout', arguments[0]);"
        " m.FS.writeFile('/run/stderr', ''); return 2; };", json.dumps(document))
    compute(browser)
    check_message_next_to_field(browser, "level")
    assert browser.find_element(By.ID, "level-error").text == document["error"]


def test_a_command_line_refused_without_a_document_is_said_as_written(browser, server):
    reset(browser, server)
    fill_every_field(browser, "problem")
    said = "tolbe: '--select' is wrong\nTry 'tolbe --help' for more information.\n"
    stand_in_for_the_program(browser, None, stderr=said)
    assert compute(browser) == "Not computed: see the message below the input."
    assert browser.find_element(By.ID, "form-error").text == said.strip()
    assert browser.find_element(By.ID, "select-error").text == ""


FIELD_FINDINGS = [
    # (kind, finding code, the field it is said again below, or None)
    ("raw", "pool_suspect_code", "pool"),
    ("raw", "suspect_code", "data"),
    ("raw", "too_few_rows", "data"),
    ("matrices", "small_sample", "n"),
    ("problem", "too_few_rows", "n"),
    ("matrices", "suspect_code", None),
    ("raw", "unrestricted_not_positive_definite", "pool"),
    ("raw", "reliabilities_taken_as_1", "reliabilities"),
    ("matrices", "restricted_asymmetric", "restricted"),
    ("matrices", "unrestricted_asymmetric", "unrestricted"),
    ("matrices", "reliability_out_of_range", "reliabilities"),
    ("problem", "reliability_out_of_range", "problem"),
    ("problem", "extra_numbers", "problem"),
    ("problem", "sign_change", None),
    ("raw", "correlation_out_of_range", None),
]


@pytest.mark.parametrize("kind,code,field", FIELD_FINDINGS)
def test_findings_are_said_below_their_input_by_code(browser, server, kind, code, field):
    reset(browser, server)
    fill_every_field(browser, kind)
    finding = {"code": code, "severity": "warning", "message": "'--select' data.csv said",
               "variables": []}
    stand_in_for_the_program(browser, [{"file": "x", "error": "tolbe: no",
                                        "refusal": refusal(argument="seed"),
                                        "findings": [finding]}])
    compute(browser)
    # In the list, always.
    assert shown_findings(browser) == [("warning", "warning: '--select' data.csv said")]
    placed = browser.execute_script(
        "return [...document.querySelectorAll('.field-findings li')].map("
        "e => [e.closest('.field-findings').id, e.textContent])")
    assert placed == ([] if field is None else
                      [[f"{field}-findings", "warning: '--select' data.csv said"]])


# ---- Reliabilities for some of the other variables ----------------------------------

R4 = "a,b,c,d\n1,0.5,0.3,0.2\n0.5,1,0.4,0.3\n0.3,0.4,1,0.5\n0.2,0.3,0.5,1\n"


@needs_named_matrices
def test_reliabilities_for_some_other_variables_take_the_rest_as_1(browser, server):
    # c is given a reliability and d none: d is taken as 1 (the program's
    # rule for named reliabilities), and the note naming d is said below the
    # reliabilities.
    reset(browser, server)
    choose(browser, "kind", "matrices")
    fields = {"restricted": R4, "unrestricted": U2, "reliabilities": "c=0.64", "n": "100"}
    for element_id, text in fields.items():
        set_value(browser, element_id, text)
    assert compute(browser) == "Computed."
    args, files = matrices_args(fields)
    expected, _, status = program(["--format=csv", *args], files)
    assert status == 0
    assert page_csv(browser) == expected
    corrected = csv_matrix(expected, "corrected_corr")
    disattenuated = csv_matrix(expected, "disattenuated_corr")
    # c's correlations with a and d are divided by sqrt(0.64) = 0.8, d's
    # with a and b by nothing.
    assert disattenuated[2][0] == pytest.approx(corrected[2][0] / 0.8, rel=1e-12)
    assert disattenuated[2][3] == pytest.approx(corrected[2][3] / 0.8, rel=1e-12)
    assert disattenuated[3][0] == corrected[3][0] and disattenuated[3][1] == corrected[3][1]
    document, _, _ = program(["--format=json", *args], files)
    findings = json.loads(document)[0]["findings"]
    taken = [f for f in findings if f["code"] == "reliabilities_taken_as_1"]
    assert [f["variables"] for f in taken] == [[4]]
    assert shown_findings(browser) == [(f["severity"], f"{f['severity']}: {f['message']}")
                                       for f in findings]
    below = [e.get_attribute("textContent") for e in
             browser.find_elements(By.CSS_SELECTOR, "#reliabilities-findings li")]
    assert below == [f"note: {taken[0]['message']}"]
    assert browser.find_element(By.ID, "reliabilities").get_attribute("aria-invalid") is None


def test_a_problem_with_reliabilities_for_some_other_variables_is_refused(browser, server):
    # Flag 1 wants a reliability for each of variables p+1 to q: one of two
    # is refused in the problem text, where the reliabilities end.
    text = "2 4 1\n1 .5 .3 .2\n.5 1 .4 .3\n.3 .4 1 .5\n.2 .3 .5 1\n1.2 .6\n.6 1.4\n.8\n"
    reset(browser, server)
    set_value(browser, "problem", text)
    compute(browser)
    stdout, stderr, status = program(["--format=json", "problem.txt"], {"problem.txt": text})
    assert status == 2
    message = check_message_next_to_field(browser, "problem", stderr)
    assert message == json.loads(stdout)[0]["error"]
    said = json.loads(stdout)[0].get("refusal") or {}
    if said.get("line") is not None:
        box = browser.find_element(By.ID, "problem-error")
        assert box.get_attribute("data-line") == str(said["line"])
    # With both it is computed.
    set_value(browser, "problem", text + ".7\n")
    assert compute(browser) == "Computed."


# ---- Tabs between values --------------------------------------------------------------

def tabbed(text, separator):
    return text.replace(separator, "\t")


def test_a_problem_with_tabs_computes_what_it_does_with_spaces(browser, server):
    reset(browser, server)
    spaced = (EXAMPLES / "twelve.txt").read_text()
    assert " " in spaced
    set_value(browser, "problem", spaced)
    assert compute(browser) == "Computed."
    with_spaces = page_csv(browser)
    tabs = re.sub(r" +", "\t", spaced)
    assert "\t" in tabs
    set_value(browser, "problem", tabs)
    assert compute(browser) == "Computed."
    assert page_csv(browser) == with_spaces
    expected, _, status = program(["--format=csv", "problem.txt"], {"problem.txt": tabs})
    assert status == 0
    assert page_csv(browser) == expected


@needs_named_matrices
def test_matrices_with_tabs_compute_what_they_do_with_commas(browser, server):
    reset(browser, server)
    choose(browser, "kind", "matrices")
    commas = {"restricted": R4, "unrestricted": U2, "reliabilities": "c=0.64,d=0.81",
              "n": "100"}
    for element_id, text in commas.items():
        set_value(browser, element_id, text)
    assert compute(browser) == "Computed."
    with_commas = page_csv(browser)
    tabs = dict(commas, restricted=tabbed(R4, ","), unrestricted=tabbed(U2, ","))
    for element_id in ("restricted", "unrestricted"):
        set_value(browser, element_id, tabs[element_id])
    assert compute(browser) == "Computed."
    assert page_csv(browser) == with_commas
    args, files = matrices_args(tabs)
    expected, _, status = program(["--format=csv", *args], files)
    assert status == 0
    assert page_csv(browser) == expected


def test_raw_scores_with_tabs_compute_what_they_do_with_commas(browser, server):
    reset(browser, server)
    choose(browser, "kind", "raw")
    browser.find_element(By.ID, "load-study").click()
    WebDriverWait(browser, 10).until(
        lambda d: d.find_element(By.ID, "criterion").get_attribute("value") == "C1")
    set_value(browser, "interval", "none")
    assert compute(browser) == "Computed."
    with_commas = page_csv(browser)
    for element_id, name in (("data", "hired.csv"), ("pool", "applicants.csv")):
        set_value(browser, element_id, tabbed((EXAMPLES / "study" / name).read_text(), ","))
    assert compute(browser) == "Computed."
    assert page_csv(browser) == with_commas


# ---- The separator of a CSV is the program's to find ---------------------------------

def shown_names(browser, table_id):
    return browser.execute_script(
        "return [...document.querySelectorAll('#' + arguments[0] + ' thead th')].slice(1)"
        ".map(e => e.textContent)", table_id)


@needs_named_matrices
def test_a_separator_inside_quotes_is_part_of_a_name_in_matrices(browser, server):
    # The first separator of the header outside quotes is the comma (and
    # the semicolon in the unrestricted matrix): "y;1" is one name.
    reset(browser, server)
    choose(browser, "kind", "matrices")
    fields = {"restricted": '"y;1",x1,x2\n1.00,0.30,0.40\n0.30,1.00,0.50\n0.40,0.50,1.00\n',
              "unrestricted": '"x2";"x1"\n1.21;0.60\n0.60;1.44\n', "n": "120"}
    for element_id, text in fields.items():
        set_value(browser, element_id, text)
    assert compute(browser) == "Computed."
    args, files = matrices_args(fields)
    expected, _, status = program(["--format=csv", *args], files)
    assert status == 0
    assert page_csv(browser) == expected
    assert shown_names(browser, "corrected_cov") == ["y;1", "x1", "x2"]


def test_a_separator_inside_quotes_is_part_of_a_name_in_raw_scores(browser, server):
    reset(browser, server)
    choose(browser, "kind", "raw")
    browser.find_element(By.ID, "load-study").click()
    WebDriverWait(browser, 10).until(
        lambda d: d.find_element(By.ID, "criterion").get_attribute("value") == "C1")
    data = hired().replace('"C2"', '"C2;\tlate"', 1)
    set_value(browser, "data", data)
    set_value(browser, "reliabilities", "C1=0.8")
    set_value(browser, "interval", "none")
    assert compute(browser) == "Computed."
    files = {"data.csv": data, "pool.csv": (EXAMPLES / "study" / "applicants.csv").read_text()}
    expected, _, status = program(
        ["--format=csv", "--data=data.csv", "--pool=pool.csv", "--select=T1,T2",
         "--reliabilities=C1=0.8", "--interval=none", "--criterion=C1",
         "--predictors=T1,T2,INT", "--base=T1,T2"], files)
    assert status == 0
    assert page_csv(browser) == expected
    assert shown_names(browser, "corrected_cov") == ["T1", "T2", "INT", "C1", "C2;\tlate"]
