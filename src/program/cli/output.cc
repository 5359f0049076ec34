#include "cli/output.h"

#include <charconv>
#include <cmath>

#include "driver/report.h"
#include "io/chars.h"
#include "io/display_text.h"
#include "io/output_stream.h"
#include "tolbe/tolbe.h"
#include "tolbe/validity.h"

namespace tolbe {
namespace {

std::string number_text(double x) {
  if (std::isnan(x)) return "NaN";
  if (std::isinf(x)) return x > 0 ? "Inf" : "-Inf";
  char text[32];
  auto end = format_shortest(text, text + sizeof text, x).ptr;  // shortest that reads back
  return std::string(text, end);
}

nlohmann::ordered_json json_matrix(const Matrix& m, int rows, int columns, bool& non_finite) {
  nlohmann::ordered_json out = nlohmann::ordered_json::array();
  for (int i = 1; i <= rows; ++i) {
    nlohmann::ordered_json row = nlohmann::ordered_json::array();
    for (int j = 1; j <= columns; ++j) {
      double x = m(i, j);
      if (std::isfinite(x)) {
        row.push_back(x);
      } else {
        row.push_back(nullptr);
        non_finite = true;
      }
    }
    out.push_back(row);
  }
  return out;
}

// The names of the three result matrices in CSV and JSON, by ResultMatrix.
const char* const matrix_names[3] = {"corrected_cov", "corrected_corr", "disattenuated_corr"};

}  // namespace

void write_report(const Solved& s) {
  TextSink& out = standard_output();
  const Problem& pr = s.problem;
  int p = pr.n_nonrestricted;
  int q = pr.n_total;
  write_start_stamp(out, s.start);
  write_banner(out);
  write_problem_heading(out);
  write_counts(out, p, q);
  write_restricted_heading(out);
  write_matrix_rows(out, pr.restricted_cov, q);
  write_nonrestricted_heading(out);
  write_matrix_rows(out, pr.nonrestricted_cov, p);
  if (pr.with_reliabilities()) write_reliabilities(out, pr.reliabilities, p, q);
  write_result_heading(out);
  write_corrected_cov_heading(out);
  write_matrix_rows(out, s.cov, q);
  write_corrected_corr_heading(out);
  write_matrix_rows(out, s.corr, q);
  if (pr.with_reliabilities()) {
    write_disattenuated_heading(out);
    write_matrix_rows(out, s.dis, q);
  }
  write_cpu_time(out, processor_seconds() - s.cpu_start);
}

std::string csv_field(const std::string& text) {
  // A spreadsheet must not take a name for a formula.
  std::string safe = spreadsheet_safe(text);
  if (safe.find_first_of(",\"\r\n") == std::string::npos) return safe;
  std::string quoted = "\"";
  for (char c : safe) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

// The CSV rows of one problem.
void csv_rows(const Solved& s, std::vector<CsvRow>& rows) {
  std::string file = csv_field(s.file);
  int q = s.problem.n_total;
  auto add = [&](const std::string& name, const Matrix& m) {
    for (int i = 1; i <= q; ++i) {
      std::string row = std::string(tolbe_version()) + "," + file + "," + name + ",";
      row += s.source.names.empty() ? std::to_string(i)
                                    : csv_field(s.source.names[static_cast<std::size_t>(i - 1)]);
      for (int j = 1; j <= q; ++j) {
        row += ',';  // not "," + text, which trips GCC 12's -Wrestrict
        row += number_text(m(i, j));
      }
      rows.push_back({row, q});
    }
  };
  const Matrix* estimates[3] = {&s.cov, &s.corr, &s.dis};
  int matrices = s.problem.with_reliabilities() ? 3 : 2;
  for (int m = 0; m < matrices; ++m) {
    std::string name = matrix_names[m];
    add(name, *estimates[m]);
    if (!s.intervals) continue;
    add(name + "_se", s.intervals->se[m]);
    add(name + "_lower", s.intervals->lower[m]);
    add(name + "_upper", s.intervals->upper[m]);
  }
}

// Where part `m` of the validity values starts, in the library's layout
// (b, beta, validities, operational validities, then R2 ... delta R).
static std::size_t part_at(std::size_t k, std::size_t m) {
  return validity_offset(k, static_cast<ValidityPart>(m));
}

std::vector<RegressionTerm> regression_terms(const Regression& r) {
  std::size_t k = r.predictors.size();
  std::vector<RegressionTerm> terms;
  const char* per_predictor[4] = {"b", "beta", "validity", "operational_validity"};
  for (std::size_t m = 0; m < 4; ++m) {
    for (std::size_t j = 0; j < k; ++j) {
      terms.push_back({per_predictor[m], r.predictors[j], part_at(k, m) + j});
    }
  }
  const char* whole[6] = {"r2", "r", "operational_r", "base_r2", "delta_r2", "delta_r"};
  for (std::size_t m = 0; m < (r.base > 0 ? 6u : 3u); ++m)
    terms.push_back({whole[m], -1, part_at(k, 4 + m)});
  return terms;
}

void csv_regression_rows(const Solved& s, std::vector<std::string>& rows) {
  if (!s.regression) return;
  const Regression& r = *s.regression;
  auto name = [&](int k) {
    return s.source.names.empty() ? std::to_string(k + 1)
                                  : csv_field(s.source.names[static_cast<std::size_t>(k)]);
  };
  std::string start =
      std::string(tolbe_version()) + "," + csv_field(s.file) + "," + name(r.criterion) + ",";
  for (const RegressionTerm& t : regression_terms(r)) {
    std::string row = start + t.quantity + ",";
    if (t.variable >= 0) row += name(t.variable);
    row += ',';
    row += number_text(r.estimate[t.at]);
    if (!s.intervals) {
      rows.push_back(row);
      continue;
    }
    for (const std::vector<double>* v : {&r.se, &r.lower, &r.upper}) {
      row += ',';
      row += number_text((*v)[t.at]);
    }
    rows.push_back(row);
  }
}

nlohmann::ordered_json json_findings(const Solved& s) {
  nlohmann::ordered_json findings = nlohmann::ordered_json::array();
  for (const Shown& f : s.findings) {
    findings.push_back({{"code", f.code},
                        {"severity", severity_name(f.severity)},
                        {"message", f.message},
                        {"variables", f.variables}});
  }
  return findings;
}

nlohmann::ordered_json json_of(const Solved& s) {
  const Problem& pr = s.problem;
  int p = pr.n_nonrestricted;
  int q = pr.n_total;
  const Diagnostics& d = s.diagnostics;
  bool non_finite = false;
  nlohmann::ordered_json o;
  o["file"] = s.file;
  o["version"] = tolbe_version();
  if (s.raw) {
    const RawSource& from = s.source;
    o["names"] = from.names;
    nlohmann::ordered_json source;
    source["data"] = s.file;
    source["rows_used"] = from.rows_used;
    source["rows_dropped"] = from.rows_dropped;
    bool pool = !from.pool.empty();
    auto or_null = [](bool present, auto value) {
      return present ? nlohmann::ordered_json(value) : nlohmann::ordered_json();
    };
    source["unrestricted"] = or_null(!pool, from.unrestricted);
    source["pool"] = or_null(pool, from.pool);
    source["pool_rows_used"] = or_null(pool, from.pool_rows_used);
    source["pool_rows_dropped"] = or_null(pool, from.pool_rows_dropped);
    o["source"] = source;
  }
  if (!s.raw && !s.source.names.empty()) o["names"] = s.source.names;
  o["p"] = p;
  o["q"] = q;
  o["reliability_flag"] = pr.reliability_flag;
  nlohmann::ordered_json selection = nlohmann::ordered_json::array();
  for (int v : s.selection) selection.push_back(v + 1);
  o["selection"] = selection;
  o["restricted"] = json_matrix(pr.restricted_cov, q, q, non_finite);
  o["unrestricted"] = json_matrix(pr.nonrestricted_cov, p, p, non_finite);
  if (pr.with_reliabilities()) {
    nlohmann::ordered_json rel = nlohmann::ordered_json::array();
    for (int v = p; v < q; ++v) rel.push_back(pr.reliabilities[v]);
    o["reliabilities"] = rel;
  } else {
    o["reliabilities"] = nullptr;
  }
  if (!s.restricted_reliabilities.empty()) {
    // What was given, before the conversion to the unrestricted population.
    nlohmann::ordered_json given = nlohmann::ordered_json::array();
    for (int v = p; v < q; ++v)
      given.push_back(s.restricted_reliabilities[static_cast<std::size_t>(v)]);
    o["reliabilities_from"] = "restricted";
    o["restricted_reliabilities"] = given;
  }
  o["corrected_cov"] = json_matrix(s.cov, q, q, non_finite);
  o["corrected_corr"] = json_matrix(s.corr, q, q, non_finite);
  o["disattenuated_corr"] =
      pr.with_reliabilities() ? json_matrix(s.dis, q, q, non_finite) : nlohmann::ordered_json();
  if (s.intervals) {
    const Intervals& in = *s.intervals;
    const IntervalSummary& sum = in.summary;
    bool bootstrap = sum.method == IntervalMethod::bootstrap;
    nlohmann::ordered_json how;
    how["method"] = interval_method_name(sum.method);
    how["level"] = sum.level;
    how["n"] = sum.n;
    how["n_unrestricted"] = sum.n_unrestricted == 0 ? nlohmann::ordered_json()
                                                    : nlohmann::ordered_json(sum.n_unrestricted);
    how["ci_type"] = bootstrap ? nlohmann::ordered_json(bootstrap_interval_name(sum.interval))
                               : nlohmann::ordered_json();
    how["resamples"] = bootstrap ? nlohmann::ordered_json(sum.resamples) : nlohmann::ordered_json();
    how["seed"] = bootstrap ? nlohmann::ordered_json(in.seed) : nlohmann::ordered_json();
    how["failed_resamples"] =
        bootstrap ? nlohmann::ordered_json(sum.failed_resamples) : nlohmann::ordered_json();
    how["percentile_fallbacks"] = bootstrap && sum.interval == BootstrapInterval::bca
                                      ? nlohmann::ordered_json(sum.percentile_fallbacks)
                                      : nlohmann::ordered_json();
    o["intervals"] = how;
    for (int m = 0; m < 3; ++m) {
      std::string name = matrix_names[m];
      bool present = m < 2 || pr.with_reliabilities();
      auto matrix = [&](const Matrix& x) {
        return present ? json_matrix(x, q, q, non_finite) : nlohmann::ordered_json();
      };
      o[name + "_se"] = matrix(in.se[m]);
      o[name + "_lower"] = matrix(in.lower[m]);
      o[name + "_upper"] = matrix(in.upper[m]);
    }
  }
  if (s.regression) {
    const Regression& r = *s.regression;
    auto value = [&non_finite](double x) {
      if (std::isfinite(x)) return nlohmann::ordered_json(x);
      non_finite = true;
      return nlohmann::ordered_json();
    };
    nlohmann::ordered_json reg;
    reg["criterion"] = r.criterion + 1;
    nlohmann::ordered_json predictors = nlohmann::ordered_json::array();
    for (int k : r.predictors) predictors.push_back(k + 1);
    reg["predictors"] = predictors;
    reg["base"] = r.base;
    reg["criterion_reliability"] = r.criterion_reliability;
    std::size_t k = r.predictors.size();
    const char* kinds[4] = {"estimate", "se", "lower", "upper"};
    const std::vector<double>* of[4] = {&r.estimate, &r.se, &r.lower, &r.upper};
    const char* per_predictor[4] = {"b", "beta", "validity", "operational_validity"};
    for (std::size_t m = 0; m < 4; ++m) {
      nlohmann::ordered_json quantity;
      for (std::size_t w = 0; w < 4; ++w) {
        nlohmann::ordered_json values = nlohmann::ordered_json::array();
        for (std::size_t j = 0; j < k; ++j) values.push_back(value((*of[w])[part_at(k, m) + j]));
        quantity[kinds[w]] = values;
      }
      reg[per_predictor[m]] = quantity;
    }
    const char* whole[6] = {"r2", "r", "operational_r", "base_r2", "delta_r2", "delta_r"};
    for (std::size_t m = 0; m < 6; ++m) {
      if (m >= 3 && r.base == 0) {
        reg[whole[m]] = nullptr;
        continue;
      }
      nlohmann::ordered_json quantity;
      for (std::size_t w = 0; w < 4; ++w) quantity[kinds[w]] = value((*of[w])[part_at(k, 4 + m)]);
      reg[whole[m]] = quantity;
    }
    o["regression"] = reg;
  }
  auto place = [](const Place& at) {
    return at.row < 0 ? nlohmann::ordered_json()
                      : nlohmann::ordered_json{at.row + 1, at.column + 1};
  };
  nlohmann::ordered_json diagnostics;
  diagnostics["restricted_asymmetry"] = d.restricted_asymmetry;
  diagnostics["unrestricted_asymmetry"] = d.unrestricted_asymmetry;
  diagnostics["restricted_positive_definite"] = d.restricted_positive_definite;
  diagnostics["unrestricted_positive_definite"] = d.unrestricted_positive_definite;
  diagnostics["nonpositive_variances"] = d.nonpositive_variances;
  diagnostics["first_nonpositive_variance"] =
      d.first_nonpositive_variance.row < 0
          ? nlohmann::ordered_json()
          : nlohmann::ordered_json(d.first_nonpositive_variance.row + 1);
  diagnostics["correlations_out_of_range"] = d.correlations_out_of_range;
  diagnostics["first_correlation_out_of_range"] = place(d.first_correlation_out_of_range);
  diagnostics["disattenuated_out_of_range"] = d.disattenuated_out_of_range;
  diagnostics["first_disattenuated_out_of_range"] = place(d.first_disattenuated_out_of_range);
  diagnostics["reliabilities_out_of_range"] = d.reliabilities_out_of_range;
  diagnostics["first_reliability_out_of_range"] =
      d.first_reliability_out_of_range < 0
          ? nlohmann::ordered_json()
          : nlohmann::ordered_json(d.first_reliability_out_of_range + 1);
  diagnostics["sign_changes"] = d.sign_changes;
  diagnostics["first_sign_change"] = place(d.first_sign_change);
  o["diagnostics"] = diagnostics;
  std::vector<std::string> warnings;
  for (const Shown& f : s.findings) warnings.push_back(f.message);
  nlohmann::ordered_json findings = json_findings(s);
  if (non_finite) warnings.push_back("values that are not finite numbers are written as null");
  o["findings"] = findings;
  o["warnings"] = warnings;
  return o;
}

}  // namespace tolbe
