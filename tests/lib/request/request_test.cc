// The request layer: what a call means, resolved once for every client.
// Expected messages are written out here in full: they are what R,
// Python and the command line show, so a changed word is a changed
// interface.

#include "tolbe/request.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "tolbe/tolbe.h"

namespace tolbe {
namespace {

using Kind = Given::Kind;

Given names(std::vector<std::string> texts) {
  Given g;
  g.kind = Kind::texts;
  g.texts = std::move(texts);
  return g;
}

Given numbers(std::vector<double> values) {
  Given g;
  g.kind = Kind::numbers;
  g.numbers = std::move(values);
  return g;
}

Given named(std::vector<double> values, std::vector<std::string> labels) {
  Given g = numbers(std::move(values));
  g.names = std::move(labels);
  g.has_names = true;
  return g;
}

// Four variables x1, x2, y, z; x1 and x2 selected by an unrestricted
// matrix named in the same order.
Call study() {
  Call c;
  c.q = 4;
  c.names = {"x1", "x2", "y", "z"};
  c.p = 2;
  c.unrestricted_names = {"x1", "x2"};
  return c;
}

Spelling command_line() {
  Spelling s;
  s.mention = "'--{}'";
  s.assignment = "--{}={}";
  s.names[static_cast<int>(CallArgument::selection)] = "select";
  s.names[static_cast<int>(CallArgument::n_unrestricted)] = "n-unrestricted";
  return s;
}

std::string refusal_of(const Call& c) {
  Resolution r = resolve_call(c);
  if (r.ok()) return "ok";
  return std::string(refusal_code_name(r.refusal->code)) + ": " + r.refusal->message;
}

struct SelectionCase {
  const char* what;
  std::vector<std::string> names;               // of the restricted side
  std::vector<std::string> unrestricted_names;  // of the unrestricted matrix
  Given selection;
  std::vector<int> selection_out;
  std::vector<int> rows_out;
  std::string refusal;  // empty: resolved
};

TEST(RequestSelection, NamesNumbersAndTheUnrestrictedMatrixsOrder) {
  const std::vector<std::string> four = {"x1", "x2", "y", "z"};
  const std::vector<SelectionCase> cases = {
      {"unnamed matrices: the first p", {}, {}, {}, {0, 1}, {0, 1}, ""},
      {"by name, same order", four, {"x1", "x2"}, names({"x1", "x2"}), {0, 1}, {0, 1}, ""},
      {"by name, matrix in the other order",
       four,
       {"x2", "x1"},
       names({"x1", "x2"}),
       {0, 1},
       {1, 0},
       ""},
      {"by number, matrix named in the other order",
       four,
       {"x2", "x1"},
       numbers({1, 2}),
       {0, 1},
       {1, 0},
       ""},
      {"last variables", four, {}, numbers({4, 3}), {3, 2}, {0, 1}, ""},
      {"no selection: the matrix's names say", four, {"z", "x1"}, {}, {3, 0}, {0, 1}, ""},
      {"unknown name",
       four,
       {},
       names({"x1", "w"}),
       {},
       {},
       "unknown_variable: 'selection' names an unknown variable: w"},
      {"unknown names, each once",
       four,
       {},
       names({"v", "w", "v"}),
       {},
       {},
       "unknown_variable: 'selection' names unknown variables: v, w"},
      {"number 0",
       four,
       {},
       numbers({0, 1}),
       {},
       {},
       "number_out_of_range: 'selection' holds numbers outside 1..4"},
      {"number q + 1",
       four,
       {},
       numbers({1, 5}),
       {},
       {},
       "number_out_of_range: 'selection' holds numbers outside 1..4"},
      {"not whole",
       four,
       {},
       numbers({1, 1.5}),
       {},
       {},
       "not_variables: 'selection' must be variable names or whole numbers"},
      {"missing number",
       four,
       {},
       numbers({1, NAN}),
       {},
       {},
       "not_variables: 'selection' must be variable names or whole numbers"},
      {"repeated",
       four,
       {},
       numbers({2, 2}),
       {},
       {},
       "repeated: 'selection' repeats a variable: x2"},
      {"too few",
       four,
       {},
       numbers({1}),
       {},
       {},
       "wrong_count: 'selection' names 1 variables, but 'unrestricted' is 2 x 2"},
      {"empty",
       four,
       {},
       numbers({}),
       {},
       {},
       "wrong_count: 'selection' names no variable; give the selection variables, at least one"},
      {"names without names",
       {},
       {},
       names({"x1", "x2"}),
       {},
       {},
       "no_names: 'selection' gives names, but 'restricted' has no names"},
      {"matrix of other variables",
       four,
       {"x1", "y"},
       names({"x1", "x2"}),
       {},
       {},
       "names_disagree: the unrestricted matrix is that of x1, y, but 'selection' names x1, x2"},
      {"matrix names a variable the sample lacks",
       four,
       {"x1", "w"},
       {},
       {},
       {},
       "unknown_variable: 'unrestricted' names variables that 'restricted' lacks: w; give "
       "'selection', the names or numbers of the selection variables in 'restricted' in the "
       "order of 'unrestricted'"},
      {"a name given twice",
       {"x1", "x2", "x1", "z"},
       {},
       {},
       {},
       {},
       "repeated: 'restricted': the name \"x1\" is given to variables 1 and 3"},
  };
  for (const auto& t : cases) {
    Call c = study();
    c.names = t.names;
    c.unrestricted_names = t.unrestricted_names;
    c.selection = t.selection;
    Resolution r = resolve_call(c);
    if (!t.refusal.empty()) {
      EXPECT_EQ(refusal_of(c), t.refusal) << t.what;
      continue;
    }
    ASSERT_TRUE(r.ok()) << t.what << ": " << r.refusal->message;
    EXPECT_EQ(r.call.selection, t.selection_out) << t.what;
    EXPECT_EQ(r.call.unrestricted_rows, t.rows_out) << t.what;
    EXPECT_EQ(r.call.reordered, t.rows_out != std::vector<int>({0, 1})) << t.what;
    // The others follow the selection, in index order.
    std::vector<int> others;
    for (int v = 0; v < 4; ++v) {
      bool selected = v == t.selection_out[0] || v == t.selection_out[1];
      if (!selected) others.push_back(v);
      EXPECT_EQ(
          r.call.position[static_cast<std::size_t>(v)],
          selected ? (v == t.selection_out[0] ? 0 : 1) : 2 + static_cast<int>(others.size()) - 1)
          << t.what << " variable " << v;
    }
    EXPECT_EQ(r.call.others, others) << t.what;
  }
}

TEST(RequestSelection, ATriangleEnteredAloneKeepsItsOwnOrder) {
  // The lower triangle only, named z, x1: what is said of it, and the side
  // mirrored, are those of the matrix as entered.
  const double lower[] = {1.0, 0.3, 0.0, 1.0};
  Call c = study();
  c.unrestricted_names = {"z", "x1"};
  c.selection = names({"x1", "z"});
  c.unrestricted = lower;
  c.ld_unrestricted = 2;
  Resolution r = resolve_call(c);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.call.selection, (std::vector<int>{3, 0}));
  EXPECT_FALSE(r.call.reordered);
  // Mirrored by the client, it is a whole matrix and is reordered.
  c.mirrors_triangle = true;
  r = resolve_call(c);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.call.selection, (std::vector<int>{0, 3}));
  EXPECT_EQ(r.call.unrestricted_rows, (std::vector<int>{1, 0}));
}

TEST(RequestSelection, APoolIsReadByTheSelectionsNames) {
  Call c = study();
  c.from_data = true;
  c.from_pool = true;
  c.p = 4;
  c.unrestricted_names = {"id", "x2", "other", "x1"};
  c.selection = names({"x1", "x2"});
  Resolution r = resolve_call(c);
  ASSERT_TRUE(r.ok()) << r.refusal->message;
  EXPECT_EQ(r.call.p, 2);
  EXPECT_EQ(r.call.unrestricted_rows, (std::vector<int>{3, 1}));
  EXPECT_EQ(r.call.intervals.method, IntervalMethod::adf);

  c.unrestricted_names = {"id", "x2", "x1", "x2"};
  EXPECT_EQ(refusal_of(c), "repeated: 'pool': the name \"x2\" is given to columns 2 and 4");
  c.unrestricted_names = {"id", "x2", "x1", "x1x"};
  c.selection = names({"x1", "z", "y"});
  EXPECT_EQ(refusal_of(c),
            "unknown_variable: 'pool' has no column for the selection variables z, y");
  c.selection = names({"x1", "x2", "y", "z", "x1"});
  EXPECT_EQ(refusal_of(c), "wrong_count: 'selection' names 5 variables, but 'data' has only 4");
}

TEST(RequestReliabilities, InOrderByNameAndTheirNote) {
  struct Case {
    const char* what;
    Given given;
    std::vector<double> out;
    std::vector<int> defaulted;
    std::string refusal;
  };
  const double na = [] {
    // R's NA: a NaN whose low word is 1954.
    std::uint64_t bits = 0x7ff00000000007a2ULL;
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
  }();
  const std::vector<Case> cases = {
      {"in order", numbers({0.8, 0.7}), {0.8, 0.7}, {}, ""},
      {"by name, reversed", named({0.7, 0.8}, {"z", "y"}), {0.8, 0.7}, {}, ""},
      {"by name, one: the other is 1", named({0.7}, {"z"}), {1.0, 0.7}, {2}, ""},
      {"too few in order",
       numbers({0.8}),
       {},
       {},
       "wrong_count: 'reliabilities' needs one value for each of the 2 non-selection variables "
       "(y, z), in that order, or values named by variable"},
      {"not a variable",
       named({0.7}, {"w"}),
       {},
       {},
       "unknown_variable: w is not a variable of 'restricted'; reliabilities are for the other "
       "variables: y, z"},
      {"two that are not",
       named({0.7, 0.6, 0.5}, {"w", "v", "w"}),
       {},
       {},
       "unknown_variable: w, v are not variables of 'restricted'; reliabilities are for the "
       "other variables: y, z"},
      {"a selection variable",
       named({0.7}, {"x2"}),
       {},
       {},
       "selection_variable: x2 is a selection variable; reliabilities are for the other "
       "variables: y, z"},
      {"twice",
       named({0.7, 0.6}, {"y", "y"}),
       {},
       {},
       "repeated: 'reliabilities' names y more than once"},
      {"partly named",
       named({0.7, 0.6}, {"y", ""}),
       {},
       {},
       "partly_named: 'reliabilities' names some values but not all"},
      {"R's NA",
       numbers({0.8, na}),
       {},
       {},
       "not_finite: 'reliabilities' must be finite numbers: the one for z is NA"},
      {"NaN",
       numbers({NAN, 0.8}),
       {},
       {},
       "not_finite: 'reliabilities' must be finite numbers: the one for y is NaN"},
      {"infinite, by name",
       named({-INFINITY}, {"z"}),
       {},
       {},
       "not_finite: 'reliabilities' must be finite numbers: the one for z is -Inf"},
      {"texts",
       names({"0.8", "0.7"}),
       {},
       {},
       "not_finite: 'reliabilities' must be finite numbers"},
  };
  for (const auto& t : cases) {
    Call c = study();
    c.reliabilities = t.given;
    if (!t.refusal.empty()) {
      EXPECT_EQ(refusal_of(c), t.refusal) << t.what;
      continue;
    }
    Resolution r = resolve_call(c);
    ASSERT_TRUE(r.ok()) << t.what << ": " << r.refusal->message;
    EXPECT_EQ(r.call.reliabilities, t.out) << t.what;
    EXPECT_EQ(r.call.defaulted, t.defaulted) << t.what;
    // By default the criteria are the others given a reliability.
    std::vector<int> criteria = t.defaulted.empty() ? std::vector<int>{2, 3} : std::vector<int>{3};
    EXPECT_EQ(r.call.criteria, criteria) << t.what;
    EXPECT_EQ(defaulted_reliabilities_note(c, r.call),
              t.defaulted.empty()
                  ? ""
                  : "'reliabilities' names no reliability for y; it is taken as 1 (not corrected "
                    "for attenuation)")
        << t.what;
  }
}

TEST(RequestReliabilities, WhereTheyWereMeasured) {
  struct Case {
    const char* what;
    Given reliabilities;
    Given sample;
    std::vector<char> from_restricted;
    std::string refusal;
  };
  Given sample_named = names({"restricted"});
  sample_named.names = {"z"};
  sample_named.has_names = true;
  Given sample_named_y = sample_named;
  sample_named_y.names = {"y"};
  const std::vector<Case> cases = {
      {"default", numbers({0.8, 0.7}), {}, {0, 0}, ""},
      {"one for all", numbers({0.8, 0.7}), names({"restricted"}), {1, 1}, ""},
      {"one each", numbers({0.8, 0.7}), names({"unrestricted", "restricted"}), {0, 1}, ""},
      {"one each, reliabilities by name in the other order",
       named({0.7, 0.8}, {"z", "y"}),
       names({"restricted", "unrestricted"}),
       {0, 1},
       ""},
      {"by name", numbers({0.8, 0.7}), sample_named, {0, 1}, ""},
      {"by name, for a variable given none",
       named({0.7}, {"z"}),
       sample_named_y,
       {},
       "unknown_variable: 'reliability_sample' names y, which has no reliability in "
       "'reliabilities'"},
      {"three for two",
       numbers({0.8, 0.7}),
       names({"restricted", "restricted", "restricted"}),
       {},
       "wrong_count: 'reliability_sample' must be \"unrestricted\" or \"restricted\": one value "
       "for all the reliabilities, one for each of the 2 in order, or values named by variable"},
      {"a word it does not know",
       numbers({0.8, 0.7}),
       names({"incumbents"}),
       {},
       "invalid_value: 'reliability_sample' must be \"unrestricted\" (the reliability was "
       "measured in the unrestricted population) or \"restricted\" (in the restricted sample)"},
      {"without reliabilities",
       {},
       names({"restricted"}),
       {},
       "not_for_this_call: 'reliability_sample' says where the 'reliabilities' were measured, "
       "and none are given"},
  };
  for (const auto& t : cases) {
    Call c = study();
    c.reliabilities = t.reliabilities;
    c.reliability_sample = t.sample;
    if (!t.refusal.empty()) {
      EXPECT_EQ(refusal_of(c), t.refusal) << t.what;
      continue;
    }
    Resolution r = resolve_call(c);
    ASSERT_TRUE(r.ok()) << t.what << ": " << r.refusal->message;
    EXPECT_EQ(r.call.from_restricted, t.from_restricted) << t.what;
  }
}

TEST(RequestReliabilities, ConvertedFromTheRestrictedSample) {
  // r_u = 1 - (1 - r_r) v / c, with the restricted variance v and the
  // corrected c of each criterion.
  Call c = study();
  c.reliabilities = numbers({0.8, 0.1});
  c.reliability_sample = names({"restricted", "unrestricted"});
  Resolution r = resolve_call(c);
  ASSERT_TRUE(r.ok());
  std::vector<double> v(16, 0.0), corrected(16, 0.0);
  v[2 + 2 * 4] = 2.0;
  corrected[2 + 2 * 4] = 4.0;
  v[3 + 3 * 4] = 1.0;
  corrected[3 + 3 * 4] = 1.0;
  EXPECT_FALSE(convert_reliabilities(c, r.call, v.data(), 4, corrected.data(), 4));
  EXPECT_DOUBLE_EQ(r.call.reliabilities[0], 1.0 - 0.2 * 2.0 / 4.0);
  EXPECT_EQ(r.call.reliabilities[1], 0.1);  // measured in the population: kept
  // A restricted reliability that the corrected variance makes negative.
  c.reliabilities = numbers({0.1, 0.8});
  c.reliability_sample = names({"restricted"});
  r = resolve_call(c);
  ASSERT_TRUE(r.ok());
  corrected[2 + 2 * 4] = 1.5;
  auto refusal = convert_reliabilities(c, r.call, v.data(), 4, corrected.data(), 4);
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->code, RefusalCode::no_reliability);
  EXPECT_EQ(refusal->message,
            "the reliability of y in the restricted sample, 0.1, is -0.2 in the unrestricted "
            "population (1 - (1 - 0.1) * 2 / 1.5, restricted over corrected variance), which is "
            "no reliability");
  EXPECT_EQ(refusal->variables, (std::vector<int>{2}));
  // Exactly 1 is a reliability; the bound is (0, 1].
  corrected[2 + 2 * 4] = 2.0;
  c.reliabilities = numbers({1.0, 0.8});
  r = resolve_call(c);
  EXPECT_FALSE(convert_reliabilities(c, r.call, v.data(), 4, corrected.data(), 4));
}

TEST(RequestCriteriaAndMeans, ByNameAndOrder) {
  Call c = study();
  c.criteria = names({"z"});
  Resolution r = resolve_call(c);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.call.criteria, (std::vector<int>{3}));
  c.criteria = names({"x1"});
  EXPECT_EQ(refusal_of(c),
            "selection_variable: 'criteria' names the selection variable x1; the criteria are "
            "among the other variables");
  c.criteria = numbers({4, 4});
  EXPECT_EQ(refusal_of(c), "repeated: 'criteria' names z more than once");

  c = study();
  c.restricted_means = named({4, 3, 2, 1}, {"z", "y", "x2", "x1"});
  c.unrestricted_means = numbers({10, 20});
  r = resolve_call(c);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.call.restricted_means, (std::vector<double>{1, 2, 3, 4}));
  EXPECT_EQ(r.call.unrestricted_means, (std::vector<double>{10, 20}));
  // Unnamed means of a reordered matrix are in the matrix's own order.
  c.unrestricted_names = {"x2", "x1"};
  c.selection = names({"x1", "x2"});
  r = resolve_call(c);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.call.unrestricted_means, (std::vector<double>{20, 10}));
  c.unrestricted_means = named({10, 20}, {"x2", "x1"});
  r = resolve_call(c);
  EXPECT_EQ(r.call.unrestricted_means, (std::vector<double>{20, 10}));
  c.unrestricted_means = {};
  EXPECT_EQ(refusal_of(c),
            "needs_argument: give both 'restricted_means' and 'unrestricted_means', or neither");
  c.unrestricted_means = named({10, 20}, {"x2", "w"});
  EXPECT_EQ(refusal_of(c),
            "unknown_variable: 'unrestricted_means' names variables that are not among the "
            "selection variables: w");
  c.unrestricted_means = numbers({10, NAN});
  EXPECT_EQ(refusal_of(c), "invalid_value: 'unrestricted_means' must be 2 finite numbers");
}

struct IntervalCase {
  const char* what;
  bool from_data;
  Given Call::*argument;
  Given value;
  Given Call::*second;  // nullptr: none
  Given second_value;
  std::string refusal;  // empty: resolved
};

TEST(RequestIntervals, DefaultsBoundsAndWhatGoesWithWhichMethod) {
  auto none = static_cast<Given Call::*>(nullptr);
  const std::vector<IntervalCase> cases = {
      {"n at its least", false, &Call::n, numbers({2}), none, {}, ""},
      {"n below",
       false,
       &Call::n,
       numbers({1}),
       none,
       {},
       "invalid_value: 'n', the size of the restricted sample, must be a whole number of at "
       "least 2"},
      {"n with data",
       true,
       &Call::n,
       numbers({100}),
       none,
       {},
       "not_for_this_call: 'n' is for matrices: with 'data' the sample size is its number of "
       "complete rows"},
      {"level 1", false, &Call::level, numbers({1}), &Call::n, numbers({50}),
       "invalid_value: 'level' must be a number between 0 and 1, such as 0.95"},
      {"level 0", false, &Call::level, numbers({0}), &Call::n, numbers({50}),
       "invalid_value: 'level' must be a number between 0 and 1, such as 0.95"},
      {"level without intervals",
       false,
       &Call::level,
       numbers({0.9}),
       none,
       {},
       "not_for_this_call: 'level' is for intervals, and this call computes none: give 'n' (the "
       "size of the restricted sample) or raw scores as 'data', or choose 'interval'"},
      {"resamples at the least", true, &Call::resamples, numbers({10}), &Call::interval,
       names({"bootstrap"}), ""},
      {"resamples at the most", true, &Call::resamples, numbers({1000000}), &Call::interval,
       names({"bootstrap"}), ""},
      {"resamples below", true, &Call::resamples, numbers({9}), &Call::interval,
       names({"bootstrap"}),
       "invalid_value: 'resamples', the number of bootstrap resamples, must be a whole number "
       "from 10 to 1000000"},
      {"resamples above", true, &Call::resamples, numbers({1000001}), &Call::interval,
       names({"bootstrap"}),
       "invalid_value: 'resamples', the number of bootstrap resamples, must be a whole number "
       "from 10 to 1000000"},
      {"resamples for ADF",
       true,
       &Call::resamples,
       numbers({100}),
       none,
       {},
       "not_for_this_call: 'resamples' is for interval = \"bootstrap\", not \"adf\""},
      {"largest seed as digits", true, &Call::seed, names({"18446744073709551615"}),
       &Call::interval, names({"bootstrap"}), ""},
      {"a seed past 2^64 - 1", true, &Call::seed, names({"18446744073709551616"}), &Call::interval,
       names({"bootstrap"}),
       "invalid_value: 'seed' must be a whole number from 0 to 2^53, or a string of decimal "
       "digits for any seed from 0 to 18446744073709551615 (2^64 - 1), such as "
       "\"9007199254740993\""},
      {"a seed past 2^53 as a number", true, &Call::seed, numbers({9007199254740994.0}),
       &Call::interval, names({"bootstrap"}),
       "invalid_value: 'seed' must be a whole number from 0 to 2^53, or a string of decimal "
       "digits for any seed from 0 to 18446744073709551615 (2^64 - 1), such as "
       "\"9007199254740993\""},
      {"an unknown method",
       false,
       &Call::interval,
       names({"wald"}),
       none,
       {},
       "invalid_value: 'interval' must be \"none\", \"normal\", \"adf\" or \"bootstrap\""},
      {"normal without n",
       false,
       &Call::interval,
       names({"normal"}),
       none,
       {},
       "needs_argument: interval = \"normal\" needs 'n', the size of the restricted sample (or "
       "its raw scores as 'data')"},
      {"ADF without data", false, &Call::interval, names({"adf"}), &Call::n, numbers({50}),
       "needs_argument: interval = \"adf\" needs the restricted sample's raw scores as 'data' "
       "(one row per person)"},
      {"n_unrestricted with none", false, &Call::interval, names({"none"}), &Call::n_unrestricted,
       numbers({200}),
       "not_for_this_call: 'n_unrestricted' is for intervals, but interval = \"none\""},
      {"the bootstrap with n_unrestricted", true, &Call::interval, names({"bootstrap"}),
       &Call::n_unrestricted, numbers({200}),
       "not_for_this_call: the bootstrap lets the unrestricted matrix vary only by resampling "
       "the pool's raw scores ('pool'); leave out 'n_unrestricted', or choose interval = "
       "\"normal\" or \"adf\""},
      {"ci_type unknown", true, &Call::ci_type, names({"bc"}), &Call::interval,
       names({"bootstrap"}), "invalid_value: 'ci_type' must be \"bca\" or \"percentile\""},
      {"threads negative", true, &Call::threads, numbers({-1}), &Call::interval,
       names({"bootstrap"}),
       "invalid_value: 'threads' must be a whole number: at most that many threads, 0 for all "
       "the machine has"},
  };
  for (const auto& t : cases) {
    Call c = study();
    c.from_data = t.from_data;
    c.*(t.argument) = t.value;
    if (t.second != nullptr) c.*(t.second) = t.second_value;
    EXPECT_EQ(refusal_of(c), t.refusal.empty() ? "ok" : t.refusal) << t.what;
  }
}

TEST(RequestIntervals, TheMethodInEffectAndItsSettings) {
  Call c = study();
  IntervalOptions o;
  EXPECT_FALSE(resolve_interval_options(c, o));
  EXPECT_EQ(o.method, IntervalMethod::none);
  EXPECT_EQ(o.level, default_level);
  EXPECT_EQ(o.resamples, default_resamples);
  c.n = numbers({120});
  EXPECT_FALSE(resolve_interval_options(c, o));
  EXPECT_EQ(o.method, IntervalMethod::normal);
  EXPECT_EQ(o.n, 120);
  c = study();
  c.from_data = true;
  c.interval = names({"bootstrap"});
  c.seed = numbers({9007199254740992.0});
  c.ci_type = names({"percentile"});
  c.resamples = numbers({500});
  EXPECT_FALSE(resolve_interval_options(c, o));
  EXPECT_EQ(o.method, IntervalMethod::bootstrap);
  EXPECT_EQ(o.seed, 9007199254740992ULL);
  EXPECT_TRUE(o.seed_given);
  EXPECT_EQ(o.ci_type, BootstrapInterval::percentile);
  EXPECT_EQ(o.resamples, 500);
  // The bootstrap's rows: three at least, in the data and in the pool.
  EXPECT_FALSE(rows_refusal(c, o, CallArgument::data, 3));
  auto refusal = rows_refusal(c, o, CallArgument::pool, 2);
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->message, "the bootstrap needs at least 3 complete rows in 'pool'; it has 2");
  o.method = IntervalMethod::adf;
  EXPECT_FALSE(rows_refusal(c, o, CallArgument::data, 2));
}

TEST(RequestSpelling, EachClientsOwnWords) {
  Call c = study();
  c.spelling = command_line();
  c.selection = names({"x1", "w"});
  EXPECT_EQ(refusal_of(c), "unknown_variable: '--select' names an unknown variable: w");
  c.selection = {};
  c.interval = names({"none"});
  c.n_unrestricted = numbers({100});
  EXPECT_EQ(refusal_of(c),
            "not_for_this_call: '--n-unrestricted' is for intervals, but --interval=none");
  // Python counts variables from 0.
  c = study();
  c.unrestricted_names.clear();
  c.spelling.first_index = 0;
  c.selection = numbers({0, 3});
  Resolution r = resolve_call(c);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.call.selection, (std::vector<int>{0, 3}));
  c.selection = numbers({1, 4});
  EXPECT_EQ(refusal_of(c), "number_out_of_range: 'selection' holds numbers outside 0..3");
}

TEST(RequestQuestion, CriterionPredictorsAndIncrements) {
  QuestionCall q;
  q.q = 5;
  q.names = {"t1", "t2", "int", "perf", "sup"};
  q.criteria = {3, 4};
  q.criterion = names({"perf"});
  ResolvedQuestion out;
  ASSERT_FALSE(resolve_question(q, out));
  EXPECT_EQ(out.criterion, 3);
  EXPECT_EQ(out.predictors, (std::vector<int>{0, 1, 2}));  // the criteria left out
  EXPECT_EQ(out.base, 0);

  q.predictors = names({"t1", "t2"});
  q.added = names({"int"});
  ASSERT_FALSE(resolve_question(q, out));
  EXPECT_EQ(out.predictors, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(out.base, 2);

  struct Case {
    Given criterion, predictors, added;
    std::string refusal;
  };
  const std::vector<Case> cases = {
      {names({"perf", "sup"}),
       names({"t1"}),
       {},
       "'criterion' must be one variable, by name or number"},
      {names({"perf"}), names({"t1", "perf"}), {}, "the criterion perf is among the predictors"},
      {names({"perf"}), names({"t1"}), names({"perf"}), "the criterion perf is among 'added'"},
      {names({"perf"}), names({"t1", "t2"}), names({"t2"}), "'base' and 'added' both name t2"},
      {names({"perf"}), names({"t1", "t1"}), {}, "'predictors' names t1 more than once"},
      {names({"perf"}), names({}), {}, "'predictors' must name at least one variable"},
      {numbers({6}), names({"t1"}), {}, "'criterion' holds numbers outside 1..5"},
      {names({"perf"}), names({"t9"}), {}, "'predictors' names an unknown variable: t9"},
  };
  for (const auto& t : cases) {
    QuestionCall c = q;
    c.criterion = t.criterion;
    c.predictors = t.predictors;
    c.added = t.added;
    auto refusal = resolve_question(c, out);
    ASSERT_TRUE(refusal) << t.refusal;
    EXPECT_EQ(refusal->message, t.refusal);
  }
  QuestionCall many = q;
  many.q = 60;
  many.names.clear();
  many.criterion = numbers({1});
  std::vector<double> fifty_one;
  for (int v = 2; v <= 52; ++v) fifty_one.push_back(v);
  many.predictors = numbers(fifty_one);
  many.added = {};
  auto refusal = resolve_question(many, out);
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->message, "'predictors' names 51 variables; at most 50 are taken");
  fifty_one.pop_back();
  many.predictors = numbers(fifty_one);
  EXPECT_FALSE(resolve_question(many, out));
}

TEST(RequestCApi, AResolutionThroughC) {
  const char* variable_names[] = {"x1", "x2", "y", "z"};
  const char* matrix_names[] = {"x2", "x1"};
  const char* chosen[] = {"x1", "x2"};
  const double reliabilities[] = {0.7};
  const char* reliability_names[] = {"z"};
  tolbe_call call;
  tolbe_call_init(&call);
  call.q = 4;
  call.names = variable_names;
  call.p = 2;
  call.unrestricted_names = matrix_names;
  call.arguments[TOLBE_CALL_SELECTION] = {TOLBE_GIVEN_TEXTS, 2, nullptr, chosen, nullptr};
  call.arguments[TOLBE_CALL_RELIABILITIES] = {TOLBE_GIVEN_NUMBERS, 1, reliabilities, nullptr,
                                              reliability_names};
  tolbe_resolution* r = tolbe_resolve(&call);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(tolbe_refusal_code(r), 0);
  tolbe_resolved out;
  ASSERT_EQ(tolbe_resolution_get(r, &out), TOLBE_OK);
  EXPECT_EQ(out.unrestricted_rows[0], 1);
  EXPECT_EQ(out.unrestricted_rows[1], 0);
  EXPECT_EQ(out.reordered, 1);
  ASSERT_NE(out.reliabilities, nullptr);
  EXPECT_EQ(out.reliabilities[0], 1.0);
  EXPECT_EQ(out.reliabilities[1], 0.7);
  EXPECT_EQ(out.n_defaulted, 1);
  EXPECT_EQ(out.n_criteria, 1);
  char note[16];
  std::size_t length = tolbe_resolution_defaulted_note(r, note, sizeof note);
  EXPECT_EQ(length, std::strlen("'reliabilities' names no reliability for y; it is taken as 1 "
                                "(not corrected for attenuation)"));
  EXPECT_STREQ(note, "'reliabilities'");  // cut as snprintf cuts
  tolbe_resolution_free(r);

  const char* unknown[] = {"x1", "w"};
  call.arguments[TOLBE_CALL_SELECTION].texts = unknown;
  const char* spelled[TOLBE_CALL_ARGUMENTS] = {};
  spelled[TOLBE_CALL_SELECTION] = "select";
  call.spelling.names = spelled;
  call.spelling.mention = "'--{}'";
  r = tolbe_resolve(&call);
  ASSERT_NE(r, nullptr);
  EXPECT_STREQ(tolbe_refusal_code_name(tolbe_refusal_code(r)), "unknown_variable");
  EXPECT_EQ(tolbe_refusal_argument(r), TOLBE_CALL_SELECTION);
  EXPECT_STREQ(tolbe_refusal_message(r), "'--select' names an unknown variable: w");
  EXPECT_EQ(tolbe_resolution_get(r, &out), TOLBE_INVALID_ARGUMENT);
  tolbe_resolution_free(r);

  EXPECT_EQ(tolbe_validity_offset(3, TOLBE_VALIDITY_VALIDITY), 6u);
  EXPECT_EQ(tolbe_validity_offset(3, TOLBE_VALIDITY_R2), 12u);
  EXPECT_EQ(tolbe_validity_offset(3, TOLBE_VALIDITY_DELTA_R), 17u);
  EXPECT_EQ(tolbe_validity_offset(3, TOLBE_VALIDITY_DELTA_R) + 1, tolbe_validity_values(3));
}

TEST(RequestTriangles, EitherSideEmpty) {
  const double whole[] = {1, 0.3, 0.3, 1};
  const double lower[] = {1, 0.3, 0, 1};
  const double upper_nan[] = {1, NAN, 0.3, 1};
  const double diagonal[] = {1, 0, 0, 1};
  EXPECT_FALSE(may_be_triangle(2, whole, 2));
  EXPECT_TRUE(may_be_triangle(2, lower, 2));
  EXPECT_TRUE(one_sided(2, lower, 2));
  EXPECT_TRUE(one_sided(2, upper_nan, 2));
  EXPECT_TRUE(may_be_triangle(2, diagonal, 2));
  EXPECT_FALSE(one_sided(2, diagonal, 2));  // both sides empty: no side to mirror
  EXPECT_FALSE(may_be_triangle(1, whole, 1));
}

TEST(RequestEdges, BoundsAndFlagsAtTheirLimits) {
  // A named pool may select every variable of the data (p == q), and its
  // columns read out of order are a reordering.
  Call c = study();
  c.from_data = true;
  c.from_pool = true;
  c.p = 4;
  c.unrestricted_names = {"z", "y", "x2", "x1"};
  c.selection = names({"x1", "x2", "y", "z"});
  Resolution r = resolve_call(c);
  ASSERT_TRUE(r.ok()) << r.refusal->message;
  EXPECT_EQ(r.call.p, 4);
  EXPECT_EQ(r.call.unrestricted_rows, (std::vector<int>{3, 2, 1, 0}));
  EXPECT_TRUE(r.call.reordered);
  c.unrestricted_names = {"x1", "x2", "other"};
  c.selection = names({"x1", "x2"});
  r = resolve_call(c);
  ASSERT_TRUE(r.ok()) << r.refusal->message;
  EXPECT_FALSE(r.call.reordered);

  // An unrestricted matrix larger than a one-variable restricted side.
  c = Call{};
  c.q = 1;
  c.p = 2;
  EXPECT_EQ(refusal_of(c),
            "wrong_count: 'unrestricted' is 2 x 2, but 'restricted' has only 1 variable");

  // Raw scores give the restricted means: the unrestricted ones alone do.
  c = study();
  c.from_data = true;
  c.unrestricted_means = numbers({10, 20});
  r = resolve_call(c);
  ASSERT_TRUE(r.ok()) << r.refusal->message;
  EXPECT_EQ(r.call.unrestricted_means, (std::vector<double>{10, 20}));

  // threads = 0: all the machine has.
  c = study();
  c.from_data = true;
  c.interval = names({"bootstrap"});
  c.threads = numbers({0});
  IntervalOptions o;
  EXPECT_FALSE(resolve_interval_options(c, o));
  EXPECT_EQ(o.threads, 0);

  // A bootstrap setting on a call that computes no interval.
  c = study();
  c.seed = numbers({1});
  EXPECT_EQ(refusal_of(c),
            "not_for_this_call: 'seed' is for intervals, and this call computes none: give 'n' "
            "(the size of the restricted sample) or raw scores as 'data', or choose 'interval'");
  c.interval = names({"none"});
  EXPECT_EQ(refusal_of(c), "not_for_this_call: 'seed' is for intervals, but interval = \"none\"");
}

TEST(RequestEdges, AConvertedReliabilityOfExactlyZeroIsNone) {
  Call c = study();
  c.reliabilities = numbers({0.5, 0.8});
  c.reliability_sample = names({"restricted", "unrestricted"});
  Resolution r = resolve_call(c);
  ASSERT_TRUE(r.ok());
  std::vector<double> v(16, 0.0), corrected(16, 0.0);
  v[2 + 2 * 4] = 2.0;
  corrected[2 + 2 * 4] = 1.0;  // 1 - 0.5 * 2 / 1 = 0
  v[3 + 3 * 4] = corrected[3 + 3 * 4] = 1.0;
  auto refusal = convert_reliabilities(c, r.call, v.data(), 4, corrected.data(), 4);
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->message,
            "the reliability of y in the restricted sample, 0.5, is 0 in the unrestricted "
            "population (1 - (1 - 0.5) * 2 / 1, restricted over corrected variance), which is "
            "no reliability");
}

TEST(RequestEdges, BaseAndAddedShareTheirFirstVariable) {
  QuestionCall q;
  q.q = 5;
  q.names = {"t1", "t2", "int", "perf", "sup"};
  q.criteria = {3, 4};
  q.criterion = names({"perf"});
  q.predictors = names({"t1", "t2"});
  q.added = names({"int", "t1"});
  ResolvedQuestion out;
  auto refusal = resolve_question(q, out);
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->message, "'base' and 'added' both name t1");
}

TEST(RequestSources, EachSideOnceAndMeansNotBesideTheirScores) {
  struct Case {
    Sources given;
    std::string refusal;
  };
  const std::vector<Case> cases = {
      {{true, false, true, false, true, true}, "ok"},
      {{false, true, false, true, false, false}, "ok"},
      {{true, true, true, false, false, false},
       "both_given: give the restricted sample as 'restricted' (its var/cov matrix) or as 'data' "
       "(its raw scores), not both"},
      {{false, false, true, false, false, false},
       "neither_given: give the restricted sample's var/cov matrix as 'restricted', or its raw "
       "scores as 'data'"},
      {{true, false, true, true, false, false},
       "both_given: give the unrestricted var/cov matrix as 'unrestricted' or the pool's raw "
       "scores as 'pool', not both"},
      {{true, false, false, false, false, false},
       "neither_given: give the unrestricted var/cov matrix of the selection variables as "
       "'unrestricted', or the pool's raw scores as 'pool'"},
      {{false, true, true, false, true, false},
       "not_for_this_call: with 'data' the restricted means are the data's: leave out "
       "'restricted_means'"},
      {{true, false, false, true, false, true},
       "not_for_this_call: with 'pool' the unrestricted means are the pool's: leave out "
       "'unrestricted_means'"},
  };
  for (std::size_t k = 0; k < cases.size(); ++k) {
    auto refusal = sources_refusal(Spelling{}, cases[k].given);
    std::string got =
        refusal ? std::string(refusal_code_name(refusal->code)) + ": " + refusal->message : "ok";
    EXPECT_EQ(got, cases[k].refusal) << "case " << k;
  }
  Spelling cli = command_line();
  auto refusal = sources_refusal(cli, {true, true, true, false, false, false});
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->message,
            "give the restricted sample as '--restricted' (its var/cov matrix) or as '--data' (its "
            "raw scores), not both");
}

// The limits of names, counts and orders.
TEST(RequestLimits, NamesRepeatedAndCountedAsTheClientCounts) {
  // The first two variables sharing a name, counted from 1 and from 0.
  Call c = study();
  c.names = {"x1", "x1", "y", "z"};
  c.unrestricted_names.clear();
  EXPECT_EQ(refusal_of(c), "repeated: 'restricted': the name \"x1\" is given to variables 1 and 2");
  c.spelling.first_index = 0;
  c.names = {"x1", "x2", "x1", "z"};
  EXPECT_EQ(refusal_of(c), "repeated: 'restricted': the name \"x1\" is given to variables 0 and 2");
  // Every variable selected (p == q): no others.
  c = study();
  c.p = 4;
  c.unrestricted_names.clear();
  Resolution r = resolve_call(c);
  ASSERT_TRUE(r.ok()) << r.refusal->message;
  EXPECT_EQ(r.call.selection, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_TRUE(r.call.others.empty());
  // An unnamed variable is labelled by its number from 1.
  EXPECT_EQ(variable_label({}, 0), "variable 1");
  EXPECT_EQ(variable_label({"a", ""}, 1), "variable 2");
}

TEST(RequestLimits, AWholeMatrixWithEmptySidesIsReorderedByName) {
  // Both sides 0: no triangle to keep in its own order, so it is reordered
  // like any whole matrix.
  const double diagonal[] = {1.0, 0.0, 0.0, 1.0};
  Call c = study();
  c.unrestricted_names = {"z", "x1"};
  c.selection = names({"x1", "z"});
  c.unrestricted = diagonal;
  c.ld_unrestricted = 2;
  Resolution r = resolve_call(c);
  ASSERT_TRUE(r.ok()) << r.refusal->message;
  EXPECT_EQ(r.call.selection, (std::vector<int>{0, 3}));
  EXPECT_EQ(r.call.unrestricted_rows, (std::vector<int>{1, 0}));
  EXPECT_TRUE(r.call.reordered);
}

TEST(RequestLimits, WhereMeasuredCountedByTheReliabilitiesGiven) {
  Given one_named = named({0.7}, {"z"});
  Call c = study();
  c.reliabilities = one_named;
  // Two values for the one reliability given (two others, one defaulted).
  c.reliability_sample = names({"restricted", "restricted"});
  EXPECT_EQ(refusal_of(c),
            "wrong_count: 'reliability_sample' must be \"unrestricted\" or \"restricted\": one "
            "value for all the reliabilities, one for each of the 1 in order, or values named by "
            "variable");
  // A variable named twice.
  c.reliabilities = numbers({0.8, 0.7});
  Given twice = names({"restricted", "unrestricted"});
  twice.names = {"z", "z"};
  twice.has_names = true;
  c.reliability_sample = twice;
  EXPECT_EQ(refusal_of(c), "repeated: 'reliability_sample' names z more than once");
}

TEST(RequestLimits, MeansReorderedAndChecked) {
  // A three-cycle tells the order from its inverse (a reversal does not).
  Call c = study();
  c.restricted_means = named({2, 3, 1, 4}, {"x2", "y", "x1", "z"});
  c.unrestricted_means = numbers({10, 20});
  Resolution r = resolve_call(c);
  ASSERT_TRUE(r.ok()) << r.refusal->message;
  EXPECT_EQ(r.call.restricted_means, (std::vector<double>{1, 2, 3, 4}));
  // Every value is checked, the first too.
  c.restricted_means = numbers({NAN, 2, 3, 4});
  EXPECT_EQ(refusal_of(c), "invalid_value: 'restricted_means' must be 4 finite numbers");
  // An unknown name given twice is listed once.
  c.restricted_means = named({1, 2, 3, 4}, {"w", "w", "x1", "x2"});
  EXPECT_EQ(refusal_of(c),
            "unknown_variable: 'restricted_means' names variables that are not among "
            "'restricted': w");
  // The refusal names the means that are missing.
  c = study();
  c.restricted_means = numbers({1, 2, 3, 4});
  r = resolve_call(c);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.refusal->argument, CallArgument::unrestricted_means);
  c = study();
  c.unrestricted_means = numbers({10, 20});
  r = resolve_call(c);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.refusal->argument, CallArgument::restricted_means);
  // Beside a pool, the restricted means alone: the pool gives the others.
  c = study();
  c.from_pool = true;
  c.unrestricted_names.clear();
  c.restricted_means = numbers({1, 2, 3, 4});
  r = resolve_call(c);
  ASSERT_TRUE(r.ok()) << r.refusal->message;
  EXPECT_EQ(r.call.restricted_means, (std::vector<double>{1, 2, 3, 4}));
  EXPECT_TRUE(r.call.unrestricted_means.empty());
  // The criteria are resolved before the means: their refusal comes first.
  c = study();
  c.criteria = names({"x1"});
  c.restricted_means = numbers({1, 2, 3});
  c.unrestricted_means = numbers({10, 20});
  EXPECT_EQ(refusal_of(c),
            "selection_variable: 'criteria' names the selection variable x1; the criteria are "
            "among the other variables");
}

TEST(RequestLimits, NormalNeedsNWhateverElseIsGiven) {
  Call c = study();
  c.interval = names({"normal"});
  c.level = numbers({0.9});
  EXPECT_EQ(refusal_of(c),
            "needs_argument: interval = \"normal\" needs 'n', the size of the restricted sample "
            "(or its raw scores as 'data')");
}

TEST(RequestLimits, AnIncrementsBaseSetIsCalledBase) {
  QuestionCall q;
  q.q = 5;
  q.names = {"t1", "t2", "int", "perf", "sup"};
  q.criteria = {3, 4};
  q.criterion = names({"perf"});
  ResolvedQuestion out;
  // A regression with predictors given has no base set.
  q.predictors = names({"t1", "int"});
  ASSERT_FALSE(resolve_question(q, out));
  EXPECT_EQ(out.base, 0);
  q.added = names({"int"});
  q.predictors = names({"t1", "perf"});
  auto refusal = resolve_question(q, out);
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->argument, CallArgument::base);
  EXPECT_EQ(refusal->message, "the criterion perf is among 'base'");
  q.predictors = names({"t1", "t1"});
  refusal = resolve_question(q, out);
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->message, "'base' names t1 more than once");
  // The added predictors count toward the most taken.
  QuestionCall many = q;
  many.q = 60;
  many.names.clear();
  many.criterion = numbers({1});
  std::vector<double> base, added;
  for (int v = 2; v <= 31; ++v) base.push_back(v);
  for (int v = 32; v <= 52; ++v) added.push_back(v);
  many.predictors = numbers(base);
  many.added = numbers(added);
  refusal = resolve_question(many, out);
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->message, "'base' and 'added' name 51 variables; at most 50 are taken");
  added.pop_back();
  many.added = numbers(added);
  EXPECT_FALSE(resolve_question(many, out));
}

TEST(Shapes, WhatAMatrixAndRawScoresMustBe) {
  struct Case {
    const char* what;
    bool scores;
    CallArgument argument;
    Shape shape;
    int first_index;
    std::string refusal;  // "" none
  };
  const Case cases[] = {
      {"an empty restricted matrix",
       false,
       CallArgument::restricted,
       {true, 0, 0, {}, {}, {}},
       1,
       "no_variables: 'restricted' has no variables (it is 0 x 0); give the var/cov matrix of "
       "all the variables in the restricted sample"},
      {"an empty unrestricted matrix",
       false,
       CallArgument::unrestricted,
       {false, 0, 0, {}, {}, {}},
       1,
       "no_variables: 'unrestricted' has no variables (it is 0 x 0); give the var/cov matrix "
       "of the selection variables, at least one"},
      {"not numbers",
       false,
       CallArgument::restricted,
       {false, 3, 3, {}, {}, {}},
       1,
       "not_a_matrix: 'restricted' must be a numeric matrix (or a data frame of numbers)"},
      {"raw scores given as the restricted matrix",
       false,
       CallArgument::restricted,
       {true, 40, 3, {}, {}, {}},
       1,
       "not_square: 'restricted' must be square, not 40 x 3; raw scores, one row per person, "
       "are given as data = (not restricted =)"},
      {"raw scores given as the unrestricted matrix",
       false,
       CallArgument::unrestricted,
       {true, 4, 3, {}, {}, {}},
       1,
       "not_square: 'unrestricted' must be square, not 4 x 3; raw scores, one row per person, "
       "are given as pool = (not unrestricted =)"},
      {"more columns than rows",
       false,
       CallArgument::restricted,
       {true, 2, 3, {}, {}, {}},
       1,
       "not_square: 'restricted' must be square, not 2 x 3"},
      {"no rows but columns",
       false,
       CallArgument::restricted,
       {true, 0, 3, {}, {}, {}},
       1,
       "not_square: 'restricted' must be square, not 0 x 3"},
      {"1 x 1 is square", false, CallArgument::unrestricted, {true, 1, 1, {}, {}, {}}, 1, ""},
      {"rows named as the columns",
       false,
       CallArgument::restricted,
       {true, 2, 2, {"a", "b"}, {"a", "b"}, {}},
       1,
       ""},
      {"the last row named otherwise, counted from 0",
       false,
       CallArgument::restricted,
       {true, 3, 3, {"a", "b", "c"}, {"a", "b", "d"}, {}},
       0,
       "names_contradict: 'restricted': row 2 is named \"c\", but column 2 \"d\"; the rows and "
       "the columns are the same variables, in the same order"},
      {"the first row, counted from 1",
       false,
       CallArgument::unrestricted,
       {true, 2, 2, {"b", "a"}, {"a", "b"}, {}},
       1,
       "names_contradict: 'unrestricted': row 1 is named \"b\", but column 1 \"a\"; the rows "
       "and the columns are the same variables, in the same order"},
      {"rows without names",
       false,
       CallArgument::restricted,
       {true, 2, 2, {}, {"a", "b"}, {}},
       1,
       ""},
      {"scores that are not numbers",
       true,
       CallArgument::data,
       {false, 0, 0, {}, {}, {}},
       1,
       "not_a_matrix: 'data' must be a data frame or a numeric matrix of raw scores, one row "
       "per person and one column per variable"},
      {"scores of no columns",
       true,
       CallArgument::pool,
       {true, 5, 0, {}, {}, {}},
       1,
       "no_variables: 'pool' has no columns"},
      {"one column not numbers",
       true,
       CallArgument::pool,
       {true, 5, 3, {}, {"id", "x", ""}, {0}},
       1,
       "not_numbers: 'pool' must hold numbers only; this column does not: id"},
      {"the last two, one unnamed",
       true,
       CallArgument::data,
       {true, 5, 3, {}, {"id", "x", ""}, {1, 2}},
       1,
       "not_numbers: 'data' must hold numbers only; these columns do not: x, variable 3"},
      {"scores of no rows are scores", true, CallArgument::data, {true, 0, 2, {}, {}, {}}, 1, ""},
  };
  for (const Case& t : cases) {
    Spelling spelling;
    spelling.first_index = t.first_index;
    auto refusal = t.scores ? scores_refusal(spelling, t.argument, t.shape)
                            : matrix_refusal(spelling, t.argument, t.shape);
    std::string got =
        refusal ? std::string(refusal_code_name(refusal->code)) + ": " + refusal->message : "";
    EXPECT_EQ(got, t.refusal) << t.what;
    if (refusal) {
      EXPECT_EQ(refusal->argument, t.argument) << t.what;
    }
  }
  // The command line's spelling of the hint.
  auto cli = matrix_refusal(command_line(), CallArgument::restricted, {true, 9, 2, {}, {}, {}});
  ASSERT_TRUE(cli);
  EXPECT_EQ(cli->message,
            "'--restricted' must be square, not 9 x 2; raw scores, one row per person, are given "
            "as data = (not restricted =)");
}

TEST(RequestLimits, AnUnrestrictedMatrixNamedInPartIsRefused) {
  // Its rows are matched by name: an unnamed one could be any variable.
  Call c = study();
  c.unrestricted_names = {"x1", ""};
  EXPECT_EQ(refusal_of(c),
            "partly_named: 'unrestricted' names some of its variables but not all: row 2 has no "
            "name; name them all, or none");
  c.selection = names({"x1", "x2"});
  c.unrestricted_names = {"", "x2"};
  c.spelling.first_index = 0;
  EXPECT_EQ(refusal_of(c),
            "partly_named: 'unrestricted' names some of its variables but not all: row 0 has no "
            "name; name them all, or none");
  // None named is the order of the selection; a pool's unnamed columns are
  // never looked for.
  c.unrestricted_names = {"", ""};
  EXPECT_EQ(refusal_of(c), "ok");
  c = study();
  c.from_pool = true;
  c.p = 3;
  c.unrestricted_names = {"x2", "", "x1"};
  c.selection = names({"x1", "x2"});
  EXPECT_EQ(refusal_of(c), "ok");
}

}  // namespace
}  // namespace tolbe
