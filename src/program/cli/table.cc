// The human-readable table of a problem's results and intervals.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/output.h"
#include "io/display_text.h"
#include "io/output_stream.h"
#include "tolbe/tolbe.h"

namespace tolbe {
namespace {

// A value with `decimals` decimals. A manuscript's column shows each kind
// of quantity with one number of decimals, and no "-0.0000": a value that
// rounds to zero is 0 whatever its sign.
std::string fixed(double x, int decimals) {
  if (std::isnan(x)) return "NaN";
  if (std::isinf(x)) return x > 0 ? "Inf" : "-Inf";
  char text[400];  // room for DBL_MAX in full
  std::snprintf(text, sizeof text, "%.*f", decimals, x);
  if (text[0] == '-' && std::strspn(text + 1, "0.") == std::strlen(text + 1)) {
    return text + 1;
  }
  return text;
}

// Correlations and other standardised values with four decimals, as the
// report has them.
constexpr int standardised_decimals = 4;

// The decimals of values of any scale (covariances, weights): one number
// for the column, enough for the largest estimate in magnitude to have five
// significant digits (variances near 1 get four decimals, as correlations
// do; variances in the hundreds two), and for the smallest positive
// variance, if given, four, so that a variable of a small scale beside one
// of a large scale keeps its digits. Four when there is no finite value but
// 0; at most 12.
int decimals_for(const std::vector<double>& estimates, double smallest_variance = 0.0) {
  double largest = 0.0;
  for (double x : estimates) {
    if (std::isfinite(x)) largest = std::max(largest, std::fabs(x));
  }
  if (largest == 0.0) return standardised_decimals;
  int decimals = 4 - static_cast<int>(std::floor(std::log10(largest)));
  if (smallest_variance > 0.0 && std::isfinite(smallest_variance)) {
    decimals = std::max(decimals, 3 - static_cast<int>(std::floor(std::log10(smallest_variance))));
  }
  return std::clamp(decimals, 0, 12);
}

std::string percent(double level) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g%%", level * 100.0);
  return text;
}

// A variable's name as shown (from 1): its control characters written out.
std::string variable_name(const Solved& s, int i) {
  return s.source.names.empty() ? std::to_string(i)
                                : escape_controls(s.source.names[static_cast<std::size_t>(i - 1)]);
}

// A cell of a Markdown table: a '|' in a name would end it.
std::string markdown_cell(const std::string& text) {
  std::string cell;
  for (char c : text) {
    if (c == '|') cell += '\\';
    cell += c;
  }
  return cell;
}

// `text` padded with blanks to `width` columns on a terminal: a name such
// as "Interview ü" takes fewer columns than bytes.
std::string padded(const std::string& text, std::size_t width, bool right) {
  std::size_t taken = display_width(text);
  std::string pad(width > taken ? width - taken : 0, ' ');
  return right ? pad + text : text + pad;
}

// Writes a table whose first two columns are names (left-aligned) and the
// others numbers (right-aligned), two blanks apart; or as a Markdown pipe
// table, aligned alike.
void write_columns(TextSink& out, std::vector<std::vector<std::string>> rows, bool markdown) {
  if (markdown) {
    for (auto& row : rows) {
      for (std::string& cell : row) cell = markdown_cell(cell);
    }
  }
  std::vector<std::size_t> widths(rows.front().size(), markdown ? 3 : 0);
  for (const auto& row : rows) {
    for (std::size_t c = 0; c < row.size(); ++c) {
      widths[c] = std::max(widths[c], display_width(row[c]));
    }
  }
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const auto& row = rows[r];
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (markdown) {
        line += (c == 0 ? "| " : " | ") + padded(row[c], widths[c], c >= 2);
        continue;
      }
      if (c > 0) line += "  ";
      bool last = c + 1 == row.size();
      // No blanks at the end of a line.
      line += c < 2 && last ? row[c] : padded(row[c], widths[c], c >= 2);
    }
    out.put_line_end(markdown ? line + " |" : line);
    if (markdown && r == 0) {
      std::string rule;
      for (std::size_t c = 0; c < row.size(); ++c) {
        std::string dashes(widths[c] - 1, '-');
        rule += (c == 0 ? "| " : " | ") + (c >= 2 ? dashes + ":" : ":" + dashes);
      }
      out.put_line_end(rule + " |");
    }
  }
}

// The validity question's block: what was asked, then a line per value.
void write_regression(TextSink& out, const Solved& s, bool markdown) {
  const Regression& r = *s.regression;
  out.put_line_end("");
  // The base's predictors come first; "x3 added to x1, x2" says which
  // they are.
  std::string base, added;
  for (std::size_t k = 0; k < r.predictors.size(); ++k) {
    std::string& to = k < static_cast<std::size_t>(r.base) ? base : added;
    to += (to.empty() ? "" : ", ") + variable_name(s, r.predictors[k] + 1);
  }
  std::string head = "validity: criterion " + variable_name(s, r.criterion + 1) + ", predictors " +
                     (r.base > 0 ? added + " added to " + base : added);
  if (r.reliability_given) {
    char value[32];
    std::snprintf(value, sizeof value, "%g", r.criterion_reliability);
    head += std::string(", criterion reliability ") + value;
  }
  out.put_line_end(markdown ? "### " + head : head);
  if (markdown) out.put_line_end("");
  std::vector<std::vector<std::string>> rows;
  rows.push_back({"quantity", "predictor", "estimate"});
  if (s.intervals) {
    for (const char* h : {"SE", "lower", "upper"}) rows.back().emplace_back(h);
  }
  // The weights b are in the criterion's units per predictor's unit, of any
  // scale: their own decimals. Everything else is standardised.
  std::vector<RegressionTerm> terms = regression_terms(r);
  std::vector<double> weights;
  for (const RegressionTerm& t : terms) {
    if (t.quantity == std::string("b")) weights.push_back(r.estimate[t.at]);
  }
  int weight_decimals = decimals_for(weights);
  for (const RegressionTerm& t : terms) {
    int decimals = t.quantity == std::string("b") ? weight_decimals : standardised_decimals;
    std::vector<std::string> row = {t.quantity,
                                    t.variable < 0 ? "" : variable_name(s, t.variable + 1),
                                    fixed(r.estimate[t.at], decimals)};
    if (s.intervals) {
      row.push_back(fixed(r.se[t.at], decimals));
      row.push_back(fixed(r.lower[t.at], decimals));
      row.push_back(fixed(r.upper[t.at], decimals));
    }
    rows.push_back(row);
  }
  write_columns(out, rows, markdown);
}

}  // namespace

std::string interval_description(const Solved& s) {
  const IntervalSummary& sum = s.intervals->summary;
  std::string text = percent(sum.level) + " intervals by ";
  switch (sum.method) {
    case IntervalMethod::normal:
      text += "the delta method, normal theory";
      break;
    case IntervalMethod::adf:
      text += "the delta method, distribution-free (ADF)";
      break;
    case IntervalMethod::bootstrap:
      text += std::string("the bootstrap (") +
              (sum.interval == BootstrapInterval::bca ? "BCa" : "percentile") + ", " +
              std::to_string(sum.resamples) + " resamples, seed " +
              std::to_string(s.intervals->seed) + ")";
      break;
    case IntervalMethod::none:
      break;
  }
  text += "; restricted n = " + std::to_string(sum.n);
  if (!s.source.pool.empty()) {
    text += ", pool n = " + std::to_string(sum.n_unrestricted);
  } else if (sum.n_unrestricted > 0) {
    text += ", unrestricted n = " + std::to_string(sum.n_unrestricted);
  } else {
    text += "; the unrestricted matrix known";
  }
  return text;
}

void write_table(const Solved& s, bool markdown) {
  TextSink& out = standard_output();
  const Problem& pr = s.problem;
  int p = pr.n_nonrestricted;
  int q = pr.n_total;
  std::string head = escape_controls(display_name(s.file)) + ": " + std::to_string(q) +
                     (q == 1 ? " variable" : " variables") +
                     (s.selection.empty()       ? ", no selection variable"
                      : s.raw                   ? ", selected on "
                      : s.selection.size() == 1 ? ", selected on variable "
                                                : ", selected on variables ");
  for (std::size_t k = 0; k < s.selection.size(); ++k) {
    head += (k == 0 ? "" : ", ") + variable_name(s, s.selection[k] + 1);
  }
  out.put_line_end(markdown ? "## " + head : head);
  // In Markdown each line is a paragraph of its own.
  auto paragraph = [&](const std::string& line) {
    if (markdown) out.put_line_end("");
    out.put_line_end(line);
  };
  if (pr.with_reliabilities() && q > p) {
    // The reliabilities follow the other variables in index order. Raw
    // scores' variables that --reliabilities did not name got 1: say so,
    // rather than show a 1 as if it had been measured.
    std::vector<int> not_given;
    for (const Shown& note : s.notes) {
      if (note.code == "reliabilities_taken_as_1") not_given = note.variables;
    }
    std::string line = "reliabilities: ";
    int place = p;
    for (int i = 1; i <= q; ++i) {
      bool selected = false;
      for (int v : s.selection) selected = selected || v == i - 1;
      if (selected) continue;
      char value[32];
      std::snprintf(value, sizeof value, "%g", pr.reliabilities[place++]);
      line += (place == p + 1 ? "" : ", ") + variable_name(s, i) + " = " + value;
      if (std::find(not_given.begin(), not_given.end(), i) != not_given.end()) {
        line += " (no reliability given)";
      } else if (!s.restricted_reliabilities.empty()) {
        std::snprintf(value, sizeof value, "%g",
                      s.restricted_reliabilities[static_cast<std::size_t>(place - 1)]);
        line += std::string(" (") + value + " in the restricted sample)";
      }
    }
    paragraph(line);
  }
  if (s.intervals) paragraph(interval_description(s));

  const char* headings[3] = {"corrected covariances", "corrected correlations",
                             "disattenuated correlations"};
  const Matrix* estimates[3] = {&s.cov, &s.corr, &s.dis};
  int matrices = pr.with_reliabilities() ? 3 : 2;
  for (int m = 0; m < matrices; ++m) {
    bool correlation = m != corrected_cov;
    int decimals = standardised_decimals;
    if (!correlation) {
      std::vector<double> covariances;
      double smallest_variance = 0.0;
      for (int i = 1; i <= q; ++i) {
        double v = (*estimates[m])(i, i);
        if (v > 0.0 && (smallest_variance == 0.0 || v < smallest_variance)) smallest_variance = v;
        for (int j = i; j <= q; ++j) covariances.push_back((*estimates[m])(i, j));
      }
      decimals = decimals_for(covariances, smallest_variance);
    }
    out.put_line_end("");
    out.put_line_end(markdown ? std::string("### ") + headings[m] : std::string(headings[m]));
    if (markdown) out.put_line_end("");
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"row", "column", "estimate"});
    if (s.intervals) {
      for (const char* h : {"SE", "lower", "upper"}) rows.back().emplace_back(h);
    }
    for (int i = 1; i <= q; ++i) {
      for (int j = correlation ? i + 1 : i; j <= q; ++j) {
        std::vector<std::string> row = {variable_name(s, i), variable_name(s, j),
                                        fixed((*estimates[m])(i, j), decimals)};
        if (s.intervals) {
          row.push_back(fixed(s.intervals->se[m](i, j), decimals));
          row.push_back(fixed(s.intervals->lower[m](i, j), decimals));
          row.push_back(fixed(s.intervals->upper[m](i, j), decimals));
        }
        rows.push_back(row);
      }
    }
    if (rows.size() == 1) {
      out.put_line_end("(none: one variable)");
      continue;
    }
    write_columns(out, rows, markdown);
  }
  if (s.regression) write_regression(out, s, markdown);
  // A table pasted into a manuscript carries what made it: another version
  // may give other numbers.
  if (markdown) {
    paragraph(std::string("*Note.* Corrected for range restriction by Lawley's (1943) "
                          "multivariate correction, computed with tolbe ") +
              tolbe_version() + ".");
  }
}

}  // namespace tolbe
