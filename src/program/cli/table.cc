// The human-readable table of a problem's results and intervals.

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/output.h"
#include "io/output_stream.h"

namespace tolbe {
namespace {

// Correlations with four decimals, as the report has them; covariances,
// of any scale, with six significant digits.
std::string shown(double x, bool correlation) {
  if (std::isnan(x)) return "NaN";
  if (std::isinf(x)) return x > 0 ? "Inf" : "-Inf";
  char text[64];
  std::snprintf(text, sizeof text, correlation ? "%.4f" : "%.6g", x);
  return text;
}

std::string percent(double level) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g%%", level * 100.0);
  return text;
}

std::string variable_name(const Solved& s, int i) {
  return s.source.names.empty() ? std::to_string(i)
                                : s.source.names[static_cast<std::size_t>(i - 1)];
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

std::string padded(const std::string& text, std::size_t width, bool right) {
  std::string pad(width > text.size() ? width - text.size() : 0, ' ');
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
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
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
  for (const RegressionTerm& t : regression_terms(r)) {
    bool standardised = t.quantity != std::string("b");
    std::vector<std::string> row = {t.quantity,
                                    t.variable < 0 ? "" : variable_name(s, t.variable + 1),
                                    shown(r.estimate[t.at], standardised)};
    if (s.intervals) {
      row.push_back(shown(r.se[t.at], standardised));
      row.push_back(shown(r.lower[t.at], standardised));
      row.push_back(shown(r.upper[t.at], standardised));
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
  std::string head = display_name(s.file) + ": " + std::to_string(q) +
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
    // The reliabilities follow the other variables in index order.
    std::string line = "reliabilities: ";
    int place = p;
    for (int i = 1; i <= q; ++i) {
      bool selected = false;
      for (int v : s.selection) selected = selected || v == i - 1;
      if (selected) continue;
      char value[32];
      std::snprintf(value, sizeof value, "%g", pr.reliabilities[place++]);
      line += (place == p + 1 ? "" : ", ") + variable_name(s, i) + " = " + value;
      if (!s.restricted_reliabilities.empty()) {
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
                                        shown((*estimates[m])(i, j), correlation)};
        if (s.intervals) {
          row.push_back(shown(s.intervals->se[m](i, j), correlation));
          row.push_back(shown(s.intervals->lower[m](i, j), correlation));
          row.push_back(shown(s.intervals->upper[m](i, j), correlation));
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
}

}  // namespace tolbe
