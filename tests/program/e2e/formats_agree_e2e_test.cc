// The report, the CSV and the JSON of one problem carry the same numbers:
// the CSV and the JSON at full precision, the report rounded to four
// decimals; and the command line's report is the console program's. Run on
// every solvable input we hold and on random problems of every shape.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/report_mask.h"
#include "support/run_binary.h"
#include "support/scratch.h"

namespace {

using tolbe::testing_support::BinaryRun;
using tolbe::testing_support::file_text;
using tolbe::testing_support::masked;
using tolbe::testing_support::run_binary;
using tolbe::testing_support::write_file;

using Rows = std::vector<std::vector<std::string>>;  // the fields of a matrix, row by row

// The matrices after "PROGRAM OUTPUT", in order, as the text of their
// 9-column fields. A row starts with its number in 3 columns; a line
// starting with 3 blanks goes on with the row before.
std::vector<Rows> report_matrices(const std::string& report) {
  std::vector<Rows> matrices;
  std::size_t start = report.find("PROGRAM OUTPUT\n");
  if (start == std::string::npos) return matrices;
  std::istringstream lines(report.substr(start));
  std::string line;
  bool in_matrix = false;
  while (std::getline(lines, line)) {
    bool row_start = line.size() > 3 && line[2] >= '0' && line[2] <= '9' && line[0] != 'C';
    bool continuation = line.size() > 3 && line.rfind("   ", 0) == 0;
    if (!row_start && !continuation) {
      in_matrix = false;
      continue;
    }
    if (!in_matrix) matrices.emplace_back();
    in_matrix = true;
    Rows& rows = matrices.back();
    if (row_start) rows.emplace_back();
    for (std::size_t at = 3; at < line.size(); at += 9) rows.back().push_back(line.substr(at, 9));
  }
  return matrices;
}

std::string trimmed(const std::string& field) {
  std::size_t first = field.find_first_not_of(' ');
  return first == std::string::npos ? "" : field.substr(first);
}

// Whether the report's field shows `x` rounded to four decimals.
::testing::AssertionResult shows(const std::string& field, double x) {
  std::string text = trimmed(field);
  bool agrees;
  if (std::isnan(x)) {
    agrees = text == "NaN";
  } else if (std::isinf(x)) {
    agrees = text == (x > 0 ? "Infinity" : "-Infinity");
  } else if (text == "*********") {
    agrees = x > 9999.9999 || x < -999.9999;
  } else {
    char* end = nullptr;
    double shown = std::strtod(text.c_str(), &end);
    agrees = !text.empty() && *end == '\0' && std::fabs(shown - x) <= 0.5e-4 + 1e-12 * std::fabs(x);
  }
  if (agrees) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the report shows '" << field << "' for " << x;
}

double csv_number(const std::string& text) {
  if (text == "NaN") return std::nan("");
  if (text == "Inf") return HUGE_VAL;
  if (text == "-Inf") return -HUGE_VAL;
  return std::strtod(text.c_str(), nullptr);
}

std::vector<std::string> csv_cells(const std::string& line) {
  std::vector<std::string> cells;
  std::stringstream cell_stream(line);
  std::string cell;
  while (std::getline(cell_stream, cell, ',')) cells.push_back(cell);
  return cells;
}

// The rows of `matrix` in a CSV of one problem, its columns found by the
// header's names, as a reader of the file finds them: the values follow
// "variable". Each row's version must be the library's.
std::vector<std::vector<double>> csv_matrix(const std::string& csv, const std::string& matrix) {
  std::vector<std::vector<double>> rows;
  std::istringstream lines(csv);
  std::string line;
  std::getline(lines, line);
  std::vector<std::string> header = csv_cells(line);
  auto column = [&](const char* name) {
    auto at = std::find(header.begin(), header.end(), name);
    EXPECT_NE(at, header.end()) << name << " in " << line;
    return static_cast<std::size_t>(at - header.begin());
  };
  std::size_t version = column("version");
  std::size_t of_matrix = column("matrix");
  std::size_t values = column("variable") + 1;
  while (std::getline(lines, line)) {
    std::vector<std::string> cells = csv_cells(line);
    if (cells.size() < values || cells[of_matrix] != matrix) continue;
    EXPECT_EQ(cells[version], TOLBE_PROJECT_VERSION);
    rows.emplace_back();
    for (std::size_t k = values; k < cells.size(); ++k) {
      rows.back().push_back(csv_number(cells[k]));
    }
  }
  return rows;
}

bool same_double(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || a == b;
}

// Checks one problem file; the console program must solve it.
void check_agreement(const std::string& path) {
  SCOPED_TRACE(path);
  std::string folder = std::filesystem::path(path).parent_path();
  std::string name = std::filesystem::path(path).filename();
  BinaryRun console = run_binary(TOLBE_BINARY, {}, folder, path);
  ASSERT_EQ(console.status, 0) << console.err;
  BinaryRun report = run_binary(TOLBE_BINARY, {name}, folder);
  BinaryRun csv = run_binary(TOLBE_BINARY, {"--format=csv", name}, folder);
  BinaryRun json = run_binary(TOLBE_BINARY, {"--format=json", name}, folder);
  ASSERT_EQ(report.status, 0) << report.err;
  ASSERT_EQ(csv.status, 0) << csv.err;
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(masked(report.out), masked(console.out));

  std::vector<Rows> shown = report_matrices(console.out);
  nlohmann::json document = nlohmann::json::parse(json.out).at(0);
  EXPECT_EQ(document.at("version"), TOLBE_PROJECT_VERSION);
  bool with_reliabilities = !document.at("reliabilities").is_null();
  const char* names[] = {"corrected_cov", "corrected_corr", "disattenuated_corr"};
  std::size_t matrices = with_reliabilities ? 3 : 2;
  ASSERT_EQ(shown.size(), matrices);
  for (std::size_t m = 0; m < matrices; ++m) {
    SCOPED_TRACE(names[m]);
    std::vector<std::vector<double>> full = csv_matrix(csv.out, names[m]);
    const nlohmann::json& from_json = document.at(names[m]);
    ASSERT_EQ(full.size(), shown[m].size());
    ASSERT_EQ(from_json.size(), full.size());
    for (std::size_t i = 0; i < full.size(); ++i) {
      ASSERT_EQ(full[i].size(), shown[m][i].size()) << "row " << i + 1;
      for (std::size_t j = 0; j < full[i].size(); ++j) {
        double x = full[i][j];
        EXPECT_TRUE(shows(shown[m][i][j], x)) << "(" << i + 1 << ", " << j + 1 << ")";
        const nlohmann::json& y = from_json.at(i).at(j);
        if (std::isfinite(x)) {
          EXPECT_TRUE(y.is_number() && same_double(y.get<double>(), x))
              << "(" << i + 1 << ", " << j + 1 << "): " << y << " in JSON, " << x << " in CSV";
        } else {
          EXPECT_TRUE(y.is_null()) << "(" << i + 1 << ", " << j + 1 << ")";
        }
      }
    }
  }
}

TEST(FormatsAgree, on_every_solvable_case_and_example) {
  std::vector<std::string> paths;
  for (const auto& entry : std::filesystem::directory_iterator(TOLBE_CASES)) {
    if (entry.path().extension() == ".in") paths.push_back(entry.path());
  }
  for (const auto& entry : std::filesystem::directory_iterator(TOLBE_EXAMPLES)) {
    paths.push_back(entry.path());
  }
  int solved = 0;
  for (const std::string& path : paths) {
    if (run_binary(TOLBE_BINARY, {}, "/", path).status != 0) continue;
    ++solved;
    check_agreement(path);
  }
  EXPECT_GE(solved, 8);
}

// A random problem: q variables, p of them selection variables, with or
// without reliabilities. Covariances of random loadings; about one problem
// in four has every variable a selection variable, and some reliabilities
// are 0 or above 1, so that infinite and out-of-range values come through.
std::string random_problem(std::mt19937_64& random, int q, int p, bool with_reliabilities) {
  std::uniform_real_distribution<double> loading(-1.0, 1.0);
  std::uniform_real_distribution<double> scale(0.2, 30.0);
  auto covariance = [&](int n) {
    std::vector<double> a(static_cast<std::size_t>(n * n));
    for (double& x : a) x = loading(random);
    std::vector<double> sd(static_cast<std::size_t>(n));
    for (double& s : sd) s = scale(random);
    std::vector<double> c(static_cast<std::size_t>(n * n));
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        double sum = i == j ? 0.1 : 0.0;
        for (int k = 0; k < n; ++k)
          sum += a[static_cast<std::size_t>(i * n + k)] * a[static_cast<std::size_t>(j * n + k)];
        c[static_cast<std::size_t>(i * n + j)] =
            sum * sd[static_cast<std::size_t>(i)] * sd[static_cast<std::size_t>(j)];
      }
    }
    return c;
  };
  std::string text =
      std::to_string(p) + " " + std::to_string(q) + " " + (with_reliabilities ? "1" : "0") + "\n";
  char number[40];
  auto rows = [&](const std::vector<double>& c, int n) {
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        std::snprintf(number, sizeof number, "%.12g ", c[static_cast<std::size_t>(i * n + j)]);
        text += number;
      }
      text += "\n";
    }
  };
  rows(covariance(q), q);
  rows(covariance(p), p);
  if (with_reliabilities) {
    std::uniform_real_distribution<double> reliability(0.3, 1.0);
    for (int v = p; v < q; ++v) {
      int kind = static_cast<int>(random() % 10);
      double r = kind == 0 ? 0.0 : kind == 1 ? 1.0 : kind == 2 ? 1.3 : reliability(random);
      std::snprintf(number, sizeof number, "%.6g ", r);
      text += number;
    }
    text += "\n";
  }
  return text;
}

TEST(FormatsAgree, on_random_problems_of_every_shape) {
  std::mt19937_64 random(20261209);
  tolbe::testing_support::ScratchFolder folder("tolbe_agree");
  for (int k = 0; k < 60; ++k) {
    constexpr int first_sizes[] = {1, 50, 2, 49};  // the ends of the range of q
    int q = k < 4 ? first_sizes[k] : 1 + static_cast<int>(random() % 14);
    int p = random() % 4 == 0 ? q : static_cast<int>(random() % static_cast<unsigned>(q + 1));
    bool with_reliabilities = random() % 3 != 0;
    std::string path = folder / "problem.txt";
    write_file(path, random_problem(random, q, p, with_reliabilities));
    SCOPED_TRACE(file_text(path));
    check_agreement(path);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
