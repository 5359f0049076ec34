"""The README's Python examples run as written, from the repository's
root, and say what they say."""
import os
import re

import pytest

from conftest import ROOT, caught


def readme_examples():
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        text = f.read()
    section = text.split("## Use from Python", 1)[1].split("\n## ", 1)[0]
    return re.findall(r"```python\n(.*?)```", section, re.S)


@pytest.mark.parametrize("number", range(2))
def test_readme_example_runs(number, monkeypatch):
    examples = readme_examples()
    assert len(examples) == 2
    monkeypatch.chdir(ROOT)
    scope = {}
    _, warned = caught(exec, examples[number], scope)
    fit = scope["fit"]
    if number == 0:
        assert [f.code for f in fit.findings] == ["selection_variance_grew", "selection_sign_change"]
        assert list(fit.cor.columns) == ["x1", "x2", "y1", "y2"]
    else:
        assert scope["boot"].interval["seed"] == 1
        assert scope["reg"].R.estimate[0] > 0.4
        assert ("TolbeNote", "'reliabilities' names no reliability for INT; it is taken as 1 "
                "(not corrected for attenuation)") in warned


def test_one_version_number_for_program_r_and_python():
    import tolbe
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        program = re.search(r"project\(tolbe VERSION ([0-9.]+)", f.read()).group(1)
    with open(os.path.join(ROOT, "r", "DESCRIPTION"), encoding="utf-8") as f:
        r = re.search(r"^Version: (\S+)", f.read(), re.M).group(1)
    assert tolbe.__version__ == program == r
