#!/usr/bin/env python3
"""One table of calls, each made through R, Python and the command line.

tests/conformance/calls.json holds the problems (matrices or raw scores,
named or not) and the calls on them in a neutral form: variables numbered
from 1, reliabilities in order (a list) or by name (an object), the interval
options and a validity question. Each call is translated into R code, a
Python call and a command line. A call expected to succeed must give the
same corrected matrices, SEs, bounds and validity values in all three, bit
for bit (and, with "same_as", the numbers of another call: the same problem
given another way). A call expected to be refused must be refused by all
three with the expected code and the same message, once each client's
spelling of the arguments and its first index are put back into one form.
A call a client cannot express is skipped there and counted.

Usage: run.py --cli BUILD/tolbe --rlib LIBRARY [--venv ENVIRONMENT] [--only TEXT]
  [--verbose]. Exits 77 (a skip for ctest) when the program, the R package
or the Python package is missing, 1 when a call disagrees."""
import argparse
import json
import math
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SKIP = 77
CLIENTS = ("r", "python", "cli")

# The command line's names of the arguments, where they are not the stable
# ones; R and Python write B for the resamples.
CLI_NAMES = {"selection": "select", "resamples": "resamples", "B": "resamples",
             "reliability_sample": "reliabilities-from", "n_unrestricted": "n-unrestricted",
             "ci_type": "ci-type"}
CLI_TO_R = {"select": "selection", "resamples": "B", "reliabilities-from": "reliability_sample",
            "n-unrestricted": "n_unrestricted", "ci-type": "ci_type"}
MATRICES = ("cov", "cor", "disattenuated")
CLI_MATRICES = {"cov": "corrected_cov", "cor": "corrected_corr",
                "disattenuated": "disattenuated_corr"}
REGRESSION = ("b", "beta", "r", "operational", "R", "R2", "operational_R")
INCREMENT = ("R", "R2", "base_R2", "delta_R2", "delta_R")
CLI_VALIDITY = {"b": "b", "beta": "beta", "r": "validity", "operational": "operational_validity",
                "R": "r", "R2": "r2", "operational_R": "operational_r", "base_R2": "base_r2",
                "delta_R2": "delta_r2", "delta_R": "delta_r"}


def number(x):
    """A value of the table: "NaN" stands for a value JSON cannot hold."""
    return math.nan if x == "NaN" else x


# ---------------------------------------------------------------------------
# The results, in one form: {key: list of floats}, matrices row by row.

def same_bits(a, b):
    if len(a) != len(b):
        return False
    for x, y in zip(a, b):
        if math.isnan(x) and math.isnan(y):
            continue
        if struct.pack("<d", x) != struct.pack("<d", y):
            return False
    return True


def first_difference(a, b):
    if len(a) != len(b):
        return f"{len(a)} values against {len(b)}"
    for k, (x, y) in enumerate(zip(a, b)):
        if not same_bits([x], [y]):
            return f"value {k}: {x!r} against {y!r}"
    return "none"


def compare(results, keys=None):
    """The first disagreement among the clients' results, or None."""
    names = list(results)
    base = names[0]
    for other in names[1:]:
        a, b = results[base], results[other]
        wanted = keys if keys is not None else sorted(set(a) | set(b))
        for key in wanted:
            if key not in a or key not in b:
                if key in a or key in b:
                    has = base if key in a else other
                    return f"{key}: {has} has it, {other if has == base else base} has not"
                continue
            if not same_bits(a[key], b[key]):
                return f"{key}: {base} and {other} differ ({first_difference(a[key], b[key])})"
    return None


# ---------------------------------------------------------------------------
# Messages in one form: R's spelling, variables counted from 1.

def canonical(client, message, work=""):
    text = message.strip()
    if client == "cli":
        # The program's own words: its name, the file (with line and
        # column), and its pointer to --help; then the arguments as R
        # spells them.
        text = text.split("\nTry 'tolbe --help'")[0]
        text = re.sub(r"^tolbe: ", "", text)
        if work:
            text = re.sub("^" + re.escape(work) + r"/[^:]*(:\d+)*: ", "", text)
        text = re.sub(r"^(error: )", "", text)
        text = re.sub(r"'--([a-z-]+)=([^'\s]+)'",
                      lambda m: CLI_TO_R.get(m[1], m[1]) + ' = "' + m[2] + '"', text)
        text = re.sub(r"'--([a-z-]+)'", lambda m: "'" + CLI_TO_R.get(m[1], m[1]) + "'", text)
        text = re.sub(r"--([a-z-]+)=([^\s,;)']+)",
                      lambda m: CLI_TO_R.get(m[1], m[1]) + ' = "' + m[2] + '"', text)
    if client == "r":
        text = text.replace("dimnames", "names")
    if client == "python":
        text = re.sub(r"outside (-?\d+)\.\.(-?\d+)",
                      lambda m: f"outside {int(m[1]) + 1}..{int(m[2]) + 1}", text)
        text = re.sub(r"(columns|variables) (\d+) and (\d+)",
                      lambda m: f"{m[1]} {int(m[2]) + 1} and {int(m[3]) + 1}", text)
    return text


# ---------------------------------------------------------------------------
# Writing a problem's numbers for each client.

def write_doubles(path, values):
    with open(path, "wb") as f:
        for x in values:
            f.write(struct.pack("<d", math.nan if x is None else float(x)))


def flat(matrix):
    return [x for row in matrix for x in row]


def text(x):
    return repr(float(x))


def write_csv(path, names, rows):
    with open(path, "w", encoding="utf-8") as f:
        f.write(",".join(names) + "\n")
        for row in rows:
            f.write(",".join("" if x is None else text(x) for x in row) + "\n")


# ---------------------------------------------------------------------------
# R

def r_value(x):
    if isinstance(x, bool):
        return "TRUE" if x else "FALSE"
    if isinstance(x, str):
        return json.dumps(x) if x != "NaN" else "NaN"
    if isinstance(x, int):
        return repr(x)
    if isinstance(x, float):
        return "NaN" if math.isnan(x) else "(" + float.hex(x) + ")"
    if isinstance(x, list):
        return "c(" + ", ".join(r_value(v) for v in x) + ")"
    if isinstance(x, dict):
        return "c(" + ", ".join(f"{json.dumps(k)} = {r_value(number(v))}"
                                for k, v in x.items()) + ")"
    raise TypeError(x)


R_PROLOGUE = r"""
suppressPackageStartupMessages(library(tolbe, lib.loc = Sys.getenv("TOLBE_RLIB")))
out <- file(Sys.getenv("TOLBE_OUT"), "w")
put <- function(key, x) {
  if (is.null(x)) return(invisible())
  if (is.matrix(x)) x <- as.vector(t(unname(x)))
  writeLines(paste(c(key, sprintf("%.17g", as.double(x))), collapse = "\t"), out)
}
tidy <- function(prefix, table) {
  if (is.null(table)) return(invisible())
  table <- table[table$term != "(Intercept)", , drop = FALSE]
  put(paste0(prefix, ".estimate"), table$estimate)
  put(paste0(prefix, ".se"), table$std.error)
  put(paste0(prefix, ".lower"), table$conf.low)
  put(paste0(prefix, ".upper"), table$conf.high)
}
scores <- function(file, rows, names) {
  x <- matrix(readBin(file, "double", rows * length(names)), rows, byrow = TRUE)
  x[is.nan(x)] <- NA
  colnames(x) <- names
  as.data.frame(x)
}
square <- function(file, n, names = NULL) {
  x <- matrix(readBin(file, "double", n * n), n, byrow = TRUE)
  if (!is.null(names)) dimnames(x) <- list(names, names)
  x
}
code_of <- function(e) {
  code <- e$code
  if (is.null(code)) code <- attr(e, "code")
  if (is.null(code)) {
    known <- sub("^tolbe_", "", class(e))
    code <- setdiff(known, c("error", "condition", "simpleError", "rlang_error"))
  }
  if (length(code) == 0) "" else as.character(code[[1]])
}
"""


def r_program(call, problem, files, question):
    lines = [R_PROLOGUE]
    args = []
    if "restricted" in problem:
        names = problem.get("names")
        lines.append(f"V <- square({json.dumps(files['V'])}, {len(problem['restricted'])}, "
                     f"{r_value(names) if names else 'NULL'})")
        args.append("restricted = V")
    if "data" in problem:
        lines.append(f"D <- scores({json.dumps(files['D'])}, {len(problem['data'])}, "
                     f"{r_value(problem['data_names'])})")
        args.append("data = D")
    if "unrestricted" in problem:
        names = problem.get("unrestricted_names")
        lines.append(f"S <- square({json.dumps(files['S'])}, {len(problem['unrestricted'])}, "
                     f"{r_value(names) if names else 'NULL'})")
        args.append("unrestricted = S")
    if "pool" in problem:
        lines.append(f"P <- scores({json.dumps(files['P'])}, {len(problem['pool'])}, "
                     f"{r_value(problem['pool_names'])})")
        args.append("pool = P")
    for key, value in call["args"].items():
        if key == "reliabilities" and isinstance(value, list):
            value = [float(number(v)) for v in value]
        elif key == "reliabilities":
            value = {k: float(number(v)) for k, v in value.items()}
        args.append(f"{key} = {r_value(value)}")
    lines.append("result <- tryCatch(suppressWarnings(suppressMessages({")
    lines.append(f"  fit <- lawley({', '.join(args)})")
    lines.append("  for (m in c('cov', 'cor', 'disattenuated')) {")
    lines.append("    put(m, fit[[m]]); put(paste0(m, '.se'), fit$se[[m]])")
    lines.append("    put(paste0(m, '.lower'), fit$ci[[m]]$lower)")
    lines.append("    put(paste0(m, '.upper'), fit$ci[[m]]$upper)")
    lines.append("  }")
    if question:
        y = r_value(question["criterion"])
        if "added" in question:
            lines.append(f"  v <- lawley_increment(fit, {y}, {r_value(question['base'])}, "
                         f"{r_value(question['added'])})")
            keys = INCREMENT
        else:
            lines.append(f"  v <- lawley_regression(fit, {y}, {r_value(question['predictors'])})")
            keys = REGRESSION
        for key in keys:
            lines.append(f"  tidy('v.{key}', v${key})")
    lines.append("  'ok'")
    lines.append("})), error = function(e) {")
    lines.append("  writeLines(paste0('refused\\t', code_of(e)), out)")
    lines.append("  writeLines(paste0('message\\t', gsub('\\n', '\\\\n', conditionMessage(e))), out)")
    lines.append("  'refused'")
    lines.append("})")
    lines.append("close(out)")
    return "\n".join(lines) + "\n"


def read_r_output(path):
    results, refusal = {}, None
    with open(path, encoding="utf-8") as f:
        for line in f:
            parts = line.rstrip("\n").split("\t")
            if parts[0] == "refused":
                refusal = {"code": parts[1] if len(parts) > 1 else ""}
            elif parts[0] == "message":
                refusal["message"] = "\t".join(parts[1:]).replace("\\n", "\n")
            else:
                results[parts[0]] = [float(x) if x != "NA" else math.nan for x in parts[1:]]
    return results, refusal


def run_r(call, problem, files, question, work, rlib):
    script = os.path.join(work, "call.R")
    output = os.path.join(work, "r.out")
    with open(script, "w", encoding="utf-8") as f:
        f.write(r_program(call, problem, files, question))
    env = dict(os.environ, TOLBE_RLIB=rlib, TOLBE_OUT=output)
    done = subprocess.run(["Rscript", "--vanilla", script], env=env, capture_output=True,
                          timeout=300)
    if done.returncode != 0 or not os.path.exists(output):
        return None, {"code": "(R failed)", "message": done.stderr.decode("utf-8", "replace")}
    return read_r_output(output)


# ---------------------------------------------------------------------------
# Python, in this process

def from_zero(x):
    """Variables as Python counts them: numbers from 0."""
    if isinstance(x, list):
        return [from_zero(v) for v in x]
    if isinstance(x, (int, float)) and not isinstance(x, bool):
        return x - 1
    return x


def run_python(call, problem, question):
    import warnings

    import numpy as np
    import pandas as pd
    import tolbe

    def frame(rows, names):
        values = np.array([[math.nan if x is None else x for x in row] for row in rows], float)
        return pd.DataFrame(values, columns=names)

    def square(rows, names):
        values = np.array(rows, float)
        return values if not names else pd.DataFrame(values, index=names, columns=names)

    kw = {}
    if "restricted" in problem:
        kw["restricted"] = square(problem["restricted"], problem.get("names"))
    if "data" in problem:
        kw["data"] = frame(problem["data"], problem["data_names"])
    if "unrestricted" in problem:
        kw["unrestricted"] = square(problem["unrestricted"], problem.get("unrestricted_names"))
    if "pool" in problem:
        kw["pool"] = frame(problem["pool"], problem["pool_names"])
    for key, value in call["args"].items():
        if key in ("selection", "criteria"):
            value = from_zero(value)
        elif key == "reliabilities":
            value = ([float(number(v)) for v in value] if isinstance(value, list)
                     else {k: float(number(v)) for k, v in value.items()})
        elif key == "seed" and isinstance(value, str):
            value = int(value)
        kw[key] = value
    results = {}
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            fit = tolbe.lawley(**kw)
            for m in MATRICES:
                value = getattr(fit, m)
                if value is None:
                    continue
                results[m] = np.asarray(value, float).ravel().tolist()
                if fit.se is not None and fit.se.get(m) is not None:
                    results[m + ".se"] = np.asarray(fit.se[m], float).ravel().tolist()
                    for bound in ("lower", "upper"):
                        results[f"{m}.{bound}"] = np.asarray(fit.ci[m][bound],
                                                             float).ravel().tolist()
            if question:
                y = from_zero(question["criterion"])
                if "added" in question:
                    v = fit.increment(y, from_zero(question["base"]), from_zero(question["added"]))
                    keys = INCREMENT
                else:
                    v = fit.regression(y, from_zero(question.get("predictors")))
                    keys = REGRESSION
                for key in keys:
                    table = getattr(v, key, None)
                    if table is None:
                        continue
                    table = pd.DataFrame(table)
                    table = table[table["term"] != "(Intercept)"]
                    for column, part in (("estimate", "estimate"), ("std_error", "se"),
                                         ("conf_low", "lower"), ("conf_high", "upper")):
                        results[f"v.{key}.{part}"] = table[column].astype(float).tolist()
    except tolbe.TolbeError as e:
        code = getattr(e, "code", None)
        if isinstance(code, (list, tuple)):
            code = code[0] if code else ""
        return results, {"code": code or "", "message": str(e)}
    except (ValueError, TypeError) as e:
        return results, {"code": f"({type(e).__name__})", "message": str(e)}
    return results, None


# ---------------------------------------------------------------------------
# The command line

def cli_reason(call, problem):
    """Why the command line cannot make this call, or None."""
    args = call["args"]
    if "restricted" in problem and "unrestricted" in problem and not problem.get("names") \
            and problem.get("unrestricted_names"):
        return "a problem file has no names for the unrestricted matrix alone"
    rel = args.get("reliabilities")
    if isinstance(rel, list) and (problem.get("names") and problem.get("unrestricted_names")
                                  or "data" in problem):
        return "reliabilities in order need a problem file"
    if isinstance(args.get("reliability_sample"), (list, dict)):
        return "one place for all the reliabilities"
    if isinstance(rel, dict) and any(number(v) != number(v) for v in rel.values()):
        return "a reliability that is not a number"
    return None


def cli_list(x):
    return ",".join(str(v) for v in (x if isinstance(x, list) else [x]))


def cli_command(call, problem, work, cli):
    args = call["args"]
    command = [cli, "--format=json", "--quiet"]
    names = problem.get("names")
    if "restricted" in problem and "data" not in problem and "unrestricted" in problem and \
            names and problem.get("unrestricted_names"):
        path = os.path.join(work, "restricted.csv")
        write_csv(path, names, problem["restricted"])
        command.append("--restricted=" + path)
    elif "restricted" in problem and "data" not in problem:
        v, s = problem["restricted"], problem.get("unrestricted", [])
        rel = args.get("reliabilities")
        in_order = isinstance(rel, list)
        path = os.path.join(work, "problem.txt")
        with open(path, "w", encoding="utf-8") as f:
            f.write(f"{len(s)} {len(v)} {1 if in_order else 0}\n")
            for row in v + s:
                f.write(" ".join(text(x) for x in row) + "\n")
            if in_order:
                f.write(" ".join(text(number(x)) for x in rel) + "\n")
        command.append(path)
        if names:
            command.append("--names=" + ",".join(names))
        problem = dict(problem)
        problem.pop("unrestricted", None)
    elif "restricted" in problem:
        path = os.path.join(work, "restricted.csv")
        write_csv(path, names, problem["restricted"])
        command.append("--restricted=" + path)
    if "data" in problem:
        path = os.path.join(work, "data.csv")
        write_csv(path, problem["data_names"], problem["data"])
        command.append("--data=" + path)
    if "unrestricted" in problem:
        path = os.path.join(work, "unrestricted.csv")
        write_csv(path, problem["unrestricted_names"], problem["unrestricted"])
        command.append("--unrestricted=" + path)
    if "pool" in problem:
        path = os.path.join(work, "pool.csv")
        write_csv(path, problem["pool_names"], problem["pool"])
        command.append("--pool=" + path)
    for key, value in args.items():
        if key == "reliabilities":
            if isinstance(value, dict):
                command.append("--reliabilities=" + ",".join(f"{k}={number(v)}"
                                                             for k, v in value.items()))
            continue
        name = CLI_NAMES.get(key, key)
        command.append(f"--{name}={cli_list(value)}")
    question = call.get("question")
    if question:
        command.append("--criterion=" + cli_list(question["criterion"]))
        if "added" in question:
            command.append("--predictors=" + cli_list(question["base"] + question["added"]))
            command.append("--base=" + cli_list(question["base"]))
        elif question.get("predictors") is not None:
            command.append("--predictors=" + cli_list(question["predictors"]))
    return command


def run_cli(call, problem, work, cli):
    command = cli_command(call, problem, work, cli)
    done = subprocess.run(command, capture_output=True, timeout=300, cwd=work)
    stderr = done.stderr.decode("utf-8", "replace")
    try:
        answer = json.loads(done.stdout.decode("utf-8"))
    except ValueError:
        return {}, {"code": "(no JSON)", "message": stderr.strip()}, command
    if not answer:
        return {}, {"code": "(no JSON)", "message": stderr.strip()}, command
    one = answer[0]
    if "refusal" in one or "error" in one:
        refusal = one.get("refusal") or {}
        return {}, {"code": refusal.get("code", ""),
                    "message": refusal.get("message", one.get("error", ""))}, command
    results = {}
    for m, key in CLI_MATRICES.items():
        if one.get(key) is None:
            continue
        results[m] = [float(x) if x is not None else math.nan for x in flat(one[key])]
        for part, suffix in (("se", "_se"), ("lower", "_lower"), ("upper", "_upper")):
            if one.get(key + suffix) is not None:
                results[f"{m}.{part}"] = [float(x) if x is not None else math.nan
                                          for x in flat(one[key + suffix])]
    question = call.get("question")
    regression = one.get("regression")
    if question and regression:
        keys = INCREMENT if "added" in question else REGRESSION
        for key in keys:
            quantity = regression.get(CLI_VALIDITY[key])
            if quantity is None or quantity.get("estimate") is None:
                continue
            for part in ("estimate", "se", "lower", "upper"):
                value = quantity.get(part)
                if value is None:
                    if part == "estimate":
                        break
                    continue
                value = value if isinstance(value, list) else [value]
                results[f"v.{key}.{part}"] = [float(x) if x is not None else math.nan
                                              for x in value]
    return results, None, command


# ---------------------------------------------------------------------------

def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--rlib", required=True)
    parser.add_argument("--table", default=os.path.join(HERE, "calls.json"))
    parser.add_argument("--only", default="")
    parser.add_argument("--verbose", action="store_true")
    parser.add_argument("--venv", default="",
                        help="the Python environment that holds the package: run.py runs in it")
    options = parser.parse_args()
    if options.venv:
        python = os.path.join(options.venv, "bin", "python")
        if not os.access(python, os.X_OK):
            print(f"conformance: skipped, not built: the Python package (no {python}; "
                  "tests/conformance/run.sh BUILD builds it)")
            return SKIP
        if os.path.realpath(sys.prefix) != os.path.realpath(options.venv):
            arguments = [a for a in sys.argv[1:]]
            os.execv(python, [python, os.path.abspath(__file__), *arguments])
    options.cli = os.path.abspath(options.cli)
    options.rlib = os.path.abspath(options.rlib)

    missing = []
    if not os.access(options.cli, os.X_OK):
        missing.append(f"the program ({options.cli})")
    if shutil.which("Rscript") is None or not os.path.isdir(os.path.join(options.rlib, "tolbe")):
        missing.append(f"the R package (in {options.rlib})")
    try:
        import tolbe  # noqa: F401
    except ImportError:
        missing.append(f"the Python package (for {sys.executable})")
    if missing:
        print("conformance: skipped, not built: " + "; ".join(missing) +
              " (tests/conformance/run.sh BUILD builds them)")
        return SKIP

    with open(options.table, encoding="utf-8") as f:
        table = json.load(f)
    problems = table["problems"]
    calls = [c for c in table["calls"] if options.only in c["id"]]
    numbers = {}
    agreed, disagreed = 0, []
    skipped = {client: 0 for client in CLIENTS}
    with tempfile.TemporaryDirectory(prefix="tolbe-conformance-") as root:
        for k, call in enumerate(calls):
            work = os.path.join(root, str(k))
            os.mkdir(work)
            problem = problems[call["problem"]]
            question = call.get("question")
            files = {}
            for key, part in (("V", "restricted"), ("S", "unrestricted"), ("D", "data"),
                              ("P", "pool")):
                if part in problem:
                    files[key] = os.path.join(work, key + ".bin")
                    write_doubles(files[key], flat(problem[part]))
            skip = dict(call.get("skip", {}))
            reason = cli_reason(call, problem)
            if reason and "cli" not in skip:
                skip["cli"] = reason
            results, refusals, commands = {}, {}, {}
            for client in CLIENTS:
                if client in skip:
                    skipped[client] += 1
                    continue
                if client == "r":
                    got, refusal = run_r(call, problem, files, question, work, options.rlib)
                elif client == "python":
                    got, refusal = run_python(call, problem, question)
                else:
                    got, refusal, commands[client] = run_cli(call, problem, work, options.cli)
                results[client] = got or {}
                refusals[client] = refusal
            for got in results.values():
                # Without intervals a table says NA where the program
                # writes nothing.
                for key in [k for k in got if k.endswith((".se", ".lower", ".upper"))]:
                    if all(math.isnan(x) for x in got[key]):
                        del got[key]
            problems_seen = check(call, results, refusals, numbers, work)
            if problems_seen:
                disagreed.append((call["id"], problems_seen))
                print(f"DISAGREE: {call['id']}")
                for line in problems_seen:
                    print("    " + line)
                if options.verbose and "cli" in commands:
                    print("    command line: " + " ".join(commands["cli"]))
            else:
                agreed += 1
                if options.verbose:
                    print(f"ok: {call['id']}")
        leftover = os.listdir(root)
        for name in leftover:
            shutil.rmtree(os.path.join(root, name))
    print(f"conformance: {len(calls)} calls, {agreed} agree, {len(disagreed)} disagree; "
          f"skipped where a client cannot express the call: " +
          ", ".join(f"{client} {skipped[client]}" for client in CLIENTS) +
          f"; the command line refused {len(OWN_WORDS)} in its own words (its options' "
          "syntax and its readers)")
    return 1 if disagreed else 0


def close(a, b, tolerance):
    """The first value of b farther from a's than `tolerance` relative
    (NaN only beside NaN), or None."""
    for key in a:
        if key not in b or len(a[key]) != len(b[key]):
            return f"{key}: not in both alike"
        for k, (x, y) in enumerate(zip(a[key], b[key])):
            if math.isnan(x) or math.isnan(y):
                if not (math.isnan(x) and math.isnan(y)):
                    return f"{key}: value {k}: {x!r} against {y!r}"
            elif abs(x - y) > tolerance * max(abs(x), abs(y), 1e-300):
                return f"{key}: value {k}: {x!r} against {y!r}"
    return None


# The calls the command line refused in its own words (see check()).
OWN_WORDS = []


def check(call, results, refusals, numbers, work=""):
    """What is wrong with one call's answers (an empty list: nothing)."""
    said = []
    expect = call["expect"]
    if expect == "ok":
        for client, refusal in refusals.items():
            if refusal is not None:
                said.append(f"{client} refused ({refusal['code']}): "
                            f"{refusal['message'].splitlines()[0] if refusal['message'] else ''}")
        good = {c: r for c, r in results.items() if refusals[c] is None}
        for client, got in good.items():
            if "cov" not in got:
                said.append(f"{client} gave no corrected matrix")
        if call.get("question"):
            for client, got in good.items():
                if not any(key.startswith("v.") for key in got):
                    said.append(f"{client} gave no validity values")
        if len(good) > 1:
            difference = compare(good)
            if difference:
                said.append(difference)
        if good:
            mine = next(iter(good.values()))
            numbers[call["id"]] = mine
            other = call.get("same_as")
            if other is not None and other in numbers:
                keys = [k for k in mine if k in numbers[other] and not k.startswith("v.")
                        or k.startswith("v.") and k in numbers[other]]
                if "same_within" in call:
                    # The selection in another order: the correction's
                    # sums run in that order, so the last bits may differ.
                    difference = close({k: mine[k] for k in keys}, numbers[other],
                                       call["same_within"])
                else:
                    difference = compare({call["id"]: mine, other: numbers[other]}, keys)
                if difference:
                    said.append(f"not the numbers of '{other}': {difference}")
        return said
    messages = {}
    for client, refusal in refusals.items():
        if refusal is None:
            said.append(f"{client} computed it; expected the refusal {expect}")
            continue
        if client == "cli" and (refusal["code"] == "(no JSON)" or call.get("cli_own_words")):
            # The command line's option parser, or its readers of problem
            # files, refuse before the library sees the call, in the
            # program's own words: the refusal is checked, its words are
            # counted apart.
            OWN_WORDS.append(call["id"])
            if not refusal["message"]:
                said.append("cli refused without saying why")
            continue
        if refusal["code"] != expect:
            said.append(f"{client}: code {refusal['code'] or '(none)'!s}, expected {expect}: "
                        f"{refusal['message'].splitlines()[0] if refusal['message'] else ''}")
        messages[client] = canonical(client, refusal["message"], work)
    distinct = sorted(set(messages.values()))
    if len(distinct) > 1:
        said.append("the messages differ:")
        for client, message in messages.items():
            said.append(f"  {client}: {message}")
    return said


if __name__ == "__main__":
    sys.exit(main())
