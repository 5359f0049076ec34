// The reading of raw scores and named matrices from delimited text: the
// separator rule, quotes, missing values, decimal commas under semicolons,
// and the place and words of each complaint.
#include "cli/data_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/solved.h"

namespace {

using tolbe::Fault;
using tolbe::read_named_matrix;
using tolbe::read_scores;
using tolbe::Scores;

struct ScoresCase {
  const char* name;
  std::string text;
  std::vector<std::string> wanted;
  std::vector<std::string> names;
  std::vector<double> values;  // column-major
  int rows;
  int dropped;
};

void PrintTo(const ScoresCase& c, std::ostream* os) {
  *os << c.name;
}

class ReadScores : public testing::TestWithParam<ScoresCase> {};

TEST_P(ReadScores, keeps_the_complete_rows_column_by_column) {
  const ScoresCase& c = GetParam();
  Scores scores;
  Fault error;
  ASSERT_TRUE(read_scores(c.text, c.wanted, scores, error)) << error.placed();
  EXPECT_EQ(scores.names, c.names);
  EXPECT_EQ(scores.values, c.values);
  EXPECT_EQ(scores.rows, c.rows);
  EXPECT_EQ(scores.dropped, c.dropped);
}

INSTANTIATE_TEST_SUITE_P(
    data_file_test, ReadScores,
    testing::Values(
        ScoresCase{"comma", "a,b\n1,2\n3,4\n", {}, {"a", "b"}, {1, 3, 2, 4}, 2, 0},
        ScoresCase{"semicolon", "a;b\n1;2\n3;4\n", {}, {"a", "b"}, {1, 3, 2, 4}, 2, 0},
        ScoresCase{"tab", "a\tb\n1\t2\n3\t4\n", {}, {"a", "b"}, {1, 3, 2, 4}, 2, 0},
        // The first separator of the header line decides: here the
        // semicolon, so the comma in a name is no separator.
        ScoresCase{"first_separator_wins", "a;b,1\n1;2\n", {}, {"a", "b,1"}, {1, 2}, 1, 0},
        // A separator within quotes is part of a name: the first one
        // outside quotes decides, of whichever kind.
        ScoresCase{"quoted_comma_before_a_semicolon",
                   "\"a,b\";c;d\n1;2;3\n",
                   {},
                   {"a,b", "c", "d"},
                   {1, 2, 3},
                   1,
                   0},
        ScoresCase{"quoted_semicolon_before_a_comma",
                   "\"a;b\",c,d\n1,2,3\n",
                   {},
                   {"a;b", "c", "d"},
                   {1, 2, 3},
                   1,
                   0},
        ScoresCase{
            "quoted_tab_before_a_semicolon", "\"a\tb\";c\n1;2\n", {}, {"a\tb", "c"}, {1, 2}, 1, 0},
        ScoresCase{"quoted_comma_and_semicolon_before_a_tab",
                   "\"a,b;c\"\td\n1\t2\n",
                   {},
                   {"a,b;c", "d"},
                   {1, 2},
                   1,
                   0},
        ScoresCase{"quoted_separator_at_the_end_of_a_name",
                   "\"a,\";b\n1;2\n",
                   {},
                   {"a,", "b"},
                   {1, 2},
                   1,
                   0},
        // A doubled quote does not end the quotes: the comma after it is
        // still inside.
        ScoresCase{"doubled_quote_keeps_the_comma_inside",
                   "\"say \"\"x,y\"\"\";b\n1;2\n",
                   {},
                   {"say \"x,y\"", "b"},
                   {1, 2},
                   1,
                   0},
        ScoresCase{"last_column_quoted", "a\t\"b;c,d\"\n1\t2\n", {}, {"a", "b;c,d"}, {1, 2}, 1, 0},
        // Separators only within quotes: one column (and a comma for the
        // rows, which have none).
        ScoresCase{"separators_only_within_quotes",
                   "\"a,b;c\td\"\n1\n2\n",
                   {},
                   {"a,b;c\td"},
                   {1, 2},
                   2,
                   0},
        ScoresCase{"one_column", "a\n1\n2.5\n", {}, {"a"}, {1, 2.5}, 2, 0},
        ScoresCase{"quoted_names_as_r_writes_them",
                   "\"x 1\",\"say \"\"y\"\"\"\n1,2\n",
                   {},
                   {"x 1", "say \"y\""},
                   {1, 2},
                   1,
                   0},
        ScoresCase{"crlf_blanks_and_blank_lines",
                   "a , b\r\n\r\n 1 , 2 \r\n  \n3,4\r\n",
                   {},
                   {"a", "b"},
                   {1, 3, 2, 4},
                   2,
                   0},
        ScoresCase{"byte_order_mark",
                   "\xEF\xBB\xBF"
                   "a,b\n1,2\n",
                   {},
                   {"a", "b"},
                   {1, 2},
                   1,
                   0},
        ScoresCase{"no_line_end_at_the_end", "a,b\n1,2", {}, {"a", "b"}, {1, 2}, 1, 0},
        ScoresCase{"empty_field_and_na_are_missing",
                   "a,b\n1,\nNA,2\n3,4\n\"NA\",5\n,\n6,7\n",
                   {},
                   {"a", "b"},
                   {3, 6, 4, 7},
                   2,
                   4},
        ScoresCase{
            "a_last_row_incomplete", "a,b,c\n1,2,3\n4,5,\n", {}, {"a", "b", "c"}, {1, 2, 3}, 1, 1},
        ScoresCase{"numbers_as_written",
                   "a,b,c\n+1.5,-2e-3,.25\n1E2,3.,-0\n",
                   {},
                   {"a", "b", "c"},
                   {1.5, 100, -2e-3, 3, 0.25, -0.0},
                   2,
                   0},
        ScoresCase{"decimal_comma_under_semicolons",
                   "a;b\n1,5;-0,25\n2;3.5\n",
                   {},
                   {"a", "b"},
                   {1.5, 2, -0.25, 3.5},
                   2,
                   0},
        ScoresCase{"quoted_number", "a,b\n\"1.5\",2\n", {}, {"a", "b"}, {1.5, 2}, 1, 0},
        // Wanted columns: in the order asked for; the others may hold
        // anything, even nothing, and their names do not matter.
        ScoresCase{"wanted_in_their_order",
                   "id,x1,,x2,note\na1,1,,2,fine\na2,3,,4,\"a, b\"\n",
                   {"x2", "x1"},
                   {"x2", "x1"},
                   {2, 4, 1, 3},
                   2,
                   0},
        ScoresCase{"wanted_missing_drops_only_them",
                   "id,x1,y\na,1,\nb,,5\nc,2,NA\n",
                   {"x1"},
                   {"x1"},
                   {1, 2},
                   2,
                   1},
        ScoresCase{"header_only", "a,b\n", {}, {"a", "b"}, {}, 0, 0},
        ScoresCase{"a_name_that_is_a_number_beside_others",
                   "2010,b\n1,2\n",
                   {},
                   {"2010", "b"},
                   {1, 2},
                   1,
                   0}),
    [](const testing::TestParamInfo<ScoresCase>& param_info) { return param_info.param.name; });

struct Refusal {
  const char* name;
  std::string text;
  std::vector<std::string> wanted;
  std::string error;
};

void PrintTo(const Refusal& c, std::ostream* os) {
  *os << c.name;
}

class ScoresRefused : public testing::TestWithParam<Refusal> {};

TEST_P(ScoresRefused, says_where_and_what) {
  const Refusal& c = GetParam();
  Scores scores;
  Fault error;
  EXPECT_FALSE(read_scores(c.text, c.wanted, scores, error));
  EXPECT_EQ(error.placed(), c.error);
}

std::string fifty_one_names() {
  std::string header = "v1";
  for (int k = 2; k <= 51; ++k) header += ",v" + std::to_string(k);
  return header + "\n";
}

INSTANTIATE_TEST_SUITE_P(
    data_file_test, ScoresRefused,
    testing::Values(
        Refusal{"empty", "", {}, "1: the file holds no header row of column names"},
        Refusal{"blank", "\n  \n", {}, "1: the file holds no header row of column names"},
        Refusal{"no_header",
                "\n1.5,2\n3,4\n",
                {},
                "2: the first line holds numbers, not names: the file needs a header row of "
                "column names"},
        Refusal{"row_names_column",
                "\"\",\"a\"\n\"1\",2\n",
                {},
                "1:1: column 1 has no name (row names, as R's write.csv writes them? write with "
                "row.names = FALSE, or leave the column out)"},
        Refusal{"a_later_column_without_name", "a, ,c\n", {}, "1:4: column 2 has no name"},
        // A separator at the end of the header line leaves a last column
        // without a name, after a quoted name holding another separator
        // too.
        Refusal{"separator_at_the_end", "a;b;\n1;2;3\n", {}, "1:5: column 3 has no name"},
        Refusal{"separator_at_the_end_after_a_quoted_one",
                "\"a,b\";c;\n1;2;3\n",
                {},
                "1:9: column 3 has no name"},
        Refusal{"a_name_twice",
                "a,b,a\n1,2,3\n",
                {},
                "1:5: the name \"a\" is given to columns 1 and 3"},
        Refusal{"a_wanted_name_twice",
                "x,y,x\n1,2,3\n",
                {"x"},
                "1:5: the name \"x\" is given to columns 1 and 3"},
        Refusal{"wanted_not_there", "a,b\n1,2\n", {"c"}, "1: no column is named \"c\""},
        Refusal{"too_many_columns",
                fifty_one_names(),
                {},
                "1: the header names 51 columns; tolbe takes at most 50 variables"},
        Refusal{"too_few_fields",
                "a,b,c\n1,2,3\n\n4,5\n",
                {},
                "4: 2 fields, but the header names 3 columns"},
        Refusal{"too_many_fields", "a\n1,2\n", {}, "2: 2 fields, but the header names 1 column"},
        Refusal{"a_word",
                "a,b\n1,2\n3, abc \n",
                {},
                "3:4: \"abc\" is not a number (column b); a missing value is an empty field or "
                "NA"},
        Refusal{"a_number_with_text_after",
                "a,b\n1,2x\n",
                {},
                "2:3: \"2x\" is not a number (column b); a missing value is an empty field or "
                "NA"},
        Refusal{"nan_is_not_missing",
                "a,b\nNaN,2\n",
                {},
                "2:1: \"NaN\" is not a finite number (column a); a missing value is an empty "
                "field or NA"},
        Refusal{"infinity",
                "a,b\n1,-Inf\n",
                {},
                "2:3: \"-Inf\" is not a finite number (column b); a missing value is an empty "
                "field or NA"},
        Refusal{"overflow",
                "a\n1e999\n",
                {},
                "2:1: \"1e999\" is not a finite number (column a); a missing value is an empty "
                "field or NA"},
        Refusal{"decimal_comma_under_commas",
                "a,b\n\"1,5\",2\n",
                {},
                "2:1: \"1,5\" has a comma (column a): write decimal points, or separate the "
                "file by semicolons"},
        Refusal{"decimal_comma_under_tabs",
                "a\tb\n1,5\t2\n",
                {},
                "2:1: \"1,5\" has a comma (column a): write decimal points, or separate the "
                "file by semicolons"},
        Refusal{"thousands_and_decimals_under_semicolons",
                "a;b\n1.234,5;2\n",
                {},
                "2:1: \"1.234,5\" is not a number (column a); a missing value is an empty "
                "field or NA"},
        Refusal{"unclosed_quote", "a,b\n\"1,2\n", {}, "2:1: the quote is not closed on its line"},
        Refusal{"text_after_a_quote",
                "a,b\n\"1\"x,2\n",
                {},
                "2:4: text follows the closing quote of a field"},
        // A column not read is not looked at, but its fields are counted.
        Refusal{"wanted_and_the_others_counted",
                "x,y\n1,2\n3\n",
                {"x"},
                "3: 1 field, but the header names 2 columns"}),
    [](const testing::TestParamInfo<Refusal>& param_info) { return param_info.param.name; });

TEST(data_file_test, a_bad_score_in_a_column_not_read_is_not_looked_at) {
  Scores scores;
  Fault error;
  ASSERT_TRUE(read_scores("id,x\nabc,1\n,2\n", std::vector<std::string>{"x"}, scores, error))
      << error.placed();
  EXPECT_EQ(scores.values, (std::vector<double>{1, 2}));
}

TEST(data_file_test, an_incomplete_row_at_the_end_leaves_the_kept_ones_alone) {
  // The last row's first score is read before its missing one is found; it
  // must not land among the rows kept.
  Scores scores;
  Fault error;
  ASSERT_TRUE(read_scores("a,b,c\n1,2,3\n4,5,6\n7,8,\n", {}, scores, error)) << error.placed();
  EXPECT_EQ(scores.values, (std::vector<double>{1, 4, 2, 5, 3, 6}));
}

struct MatrixCase {
  const char* name;
  std::string text;
  std::vector<std::string> names;
  std::vector<double> values;  // column-major
  std::string error;           // empty: read
};

void PrintTo(const MatrixCase& c, std::ostream* os) {
  *os << c.name;
}

class NamedMatrix : public testing::TestWithParam<MatrixCase> {};

TEST_P(NamedMatrix, reads_or_says_why_not) {
  const MatrixCase& c = GetParam();
  std::vector<std::string> names;
  std::vector<double> values;
  Fault error;
  bool read = read_named_matrix(c.text, names, values, error);
  EXPECT_EQ(read ? "" : error.placed(), c.error);
  EXPECT_EQ(read, c.error.empty());
  if (!read) return;
  EXPECT_EQ(names, c.names);
  EXPECT_EQ(values, c.values);
}

INSTANTIATE_TEST_SUITE_P(
    data_file_test, NamedMatrix,
    testing::Values(
        MatrixCase{"plain", "x1,x2\n4,1\n2,9\n", {"x1", "x2"}, {4, 2, 1, 9}, ""},
        MatrixCase{"with_row_names_as_r_writes_them",
                   "\"\",\"x1\",\"x2\"\n\"x1\",4,1\n\"x2\",1,9\n",
                   {"x1", "x2"},
                   {4, 1, 1, 9},
                   ""},
        MatrixCase{"semicolons_and_decimal_commas",
                   "a;b\n1,5;0,5\n0,5;2\n",
                   {"a", "b"},
                   {1.5, 0.5, 0.5, 2},
                   ""},
        MatrixCase{"one_variable", "x\n2.25\n", {"x"}, {2.25}, ""},
        MatrixCase{"a_row_short",
                   "a,b\n1,0\n",
                   {},
                   {},
                   "2: the matrix ends after 1 row, but the header names 2 variables"},
        MatrixCase{"a_row_too_many",
                   "a\n1\n2\n",
                   {},
                   {},
                   "3: more rows than the header names variables (1)"},
        MatrixCase{"row_names_out_of_order",
                   ",a,b\nb,1,0\na,0,1\n",
                   {},
                   {},
                   "2:1: the row is named \"b\", but row 1 is that of \"a\" (rows in the order "
                   "of the header)"},
        MatrixCase{"a_value_missing",
                   "a,b\n1,NA\n0,1\n",
                   {},
                   {},
                   "2:3: the value of row a, column b is missing; a var/cov matrix needs every "
                   "value"},
        MatrixCase{"a_word",
                   "a,b\n1,x\n0,1\n",
                   {},
                   {},
                   "2:3: \"x\" is not a number (column b); a missing value is an empty field or "
                   "NA"},
        MatrixCase{"a_name_twice",
                   "a,a\n1,0\n0,1\n",
                   {},
                   {},
                   "1:3: the name \"a\" is given to columns 1 and 2"},
        MatrixCase{"no_header",
                   "1,0\n0,1\n",
                   {},
                   {},
                   "1: the first line holds numbers, not names: the file needs a header row of "
                   "column names"}),
    [](const testing::TestParamInfo<MatrixCase>& param_info) { return param_info.param.name; });

// A --select list as the library takes it: names, numbers and ranges of
// the program's syntax, resolved by the library against the data's names.
struct SelectCase {
  const char* name;
  std::string list;
  std::vector<int> selection;  // from 0
  std::string code;            // of the library's refusal; empty: resolved
  std::string message;
};

void PrintTo(const SelectCase& c, std::ostream* os) {
  *os << c.name;
}

class SelectColumns : public testing::TestWithParam<SelectCase> {};

TEST_P(SelectColumns, by_name_then_by_number) {
  const SelectCase& c = GetParam();
  tolbe::Call call;
  call.spelling = tolbe::command_line_spelling();
  call.names = {"x1", "x2", "3", "pre-test", "y"};
  call.q = 5;
  call.from_data = true;
  call.selection = tolbe::list_given(c.list, call.names);
  call.p = static_cast<int>(call.selection.size());
  tolbe::Resolution r = tolbe::resolve_call(call);
  if (c.code.empty()) {
    ASSERT_TRUE(r.ok()) << r.refusal->message;
    EXPECT_EQ(r.call.selection, c.selection);
    return;
  }
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(tolbe::refusal_code_name(r.refusal->code), c.code);
  EXPECT_EQ(r.refusal->argument, tolbe::CallArgument::selection);
  EXPECT_EQ(r.refusal->message, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    data_file_test, SelectColumns,
    testing::Values(
        SelectCase{"names", "y,x1", {4, 0}, "", ""},
        SelectCase{"numbers_and_a_range", "5,1-2", {4, 0, 1}, "", ""},
        SelectCase{"names_and_numbers_mixed", "x2,1", {1, 0}, "", ""},
        // A name wins over a number: "3" is the name of column 3
        // here, and "pre-test" is no range.
        SelectCase{"a_name_that_looks_like_a_number", "3", {2}, "", ""},
        SelectCase{"a_name_with_a_dash", "pre-test", {3}, "", ""},
        SelectCase{"a_name_and_a_number_of_another", "pre-test,5", {3, 4}, "", ""},
        SelectCase{"unknown_name",
                   "x1,z",
                   {},
                   "unknown_variable",
                   "'--select' names an unknown variable: z"},
        SelectCase{"unknown_names",
                   "w,x1,z",
                   {},
                   "unknown_variable",
                   "'--select' names unknown variables: w, z"},
        SelectCase{"number_past_the_last",
                   "6",
                   {},
                   "number_out_of_range",
                   "'--select' holds numbers outside 1..5"},
        SelectCase{"number_past_fifty",
                   "51",
                   {},
                   "number_out_of_range",
                   "'--select' holds numbers outside 1..5"},
        SelectCase{"range_past_the_last",
                   "4-6",
                   {},
                   "number_out_of_range",
                   "'--select' holds numbers outside 1..5"},
        SelectCase{"a_name_twice", "x1,1", {}, "repeated", "'--select' repeats a variable: x1"}),
    [](const testing::TestParamInfo<SelectCase>& param_info) { return param_info.param.name; });

// What went wrong in a data file, as data: made where it is found.
struct Coded {
  const char* name;
  std::string text;
  std::vector<std::string> wanted;
  const char* code;
  std::size_t line;
  std::size_t column;
};

void PrintTo(const Coded& c, std::ostream* os) {
  *os << c.name;
}

class FaultOfScores : public testing::TestWithParam<Coded> {};

TEST_P(FaultOfScores, has_its_code_and_place) {
  const Coded& c = GetParam();
  Scores scores;
  Fault error;
  ASSERT_FALSE(read_scores(c.text, c.wanted, scores, error));
  EXPECT_EQ(error.code, c.code);
  EXPECT_EQ(error.line, c.line);
  EXPECT_EQ(error.column, c.column);
}

INSTANTIATE_TEST_SUITE_P(
    data_file_test, FaultOfScores,
    testing::Values(Coded{"no_header", "", {}, "no_header", 1, 0},
                    Coded{"numbers_for_names", "1,2\n3,4\n", {}, "no_header", 1, 0},
                    Coded{"not_a_number", "x,y\n1,2\n3, abc\n", {}, "not_a_number", 3, 4},
                    Coded{"not_finite", "x,y\n1,inf\n", {}, "not_finite", 2, 3},
                    Coded{"decimal_comma", "x\ty\n1,5\t2\n", {}, "decimal_comma", 2, 1},
                    Coded{"unclosed_quote", "x,\"y\n", {}, "unclosed_quote", 1, 3},
                    Coded{"unnamed_column", "x,,y\n1,2,3\n", {}, "unnamed_column", 1, 3},
                    Coded{"repeated_name", "x,y,x\n1,2,3\n", {}, "repeated_name", 1, 5},
                    Coded{"missing_column", "x,y\n1,2\n", {"z"}, "missing_column", 1, 0},
                    Coded{"wrong_field_count", "x,y\n1,2\n3\n", {}, "wrong_field_count", 3, 0}),
    [](const testing::TestParamInfo<Coded>& param_info) { return param_info.param.name; });

class FaultOfMatrix : public testing::TestWithParam<Coded> {};

TEST_P(FaultOfMatrix, has_its_code_and_place) {
  const Coded& c = GetParam();
  std::vector<std::string> names;
  std::vector<double> values;
  Fault error;
  ASSERT_FALSE(read_named_matrix(c.text, names, values, error));
  EXPECT_EQ(error.code, c.code);
  EXPECT_EQ(error.line, c.line);
  EXPECT_EQ(error.column, c.column);
}

INSTANTIATE_TEST_SUITE_P(
    data_file_test, FaultOfMatrix,
    testing::Values(
        Coded{"missing_value", "a,b\n1,\n2,3\n", {}, "missing_value", 2, 3},
        Coded{"input_ends", "a,b\n1,2\n", {}, "input_ends", 2, 0},
        Coded{"too_many_rows", "a\n1\n2\n", {}, "too_many_rows", 3, 0},
        Coded{"row_names_disagree", ",a,b\nb,1,2\na,2,3\n", {}, "row_names_disagree", 2, 1}),
    [](const testing::TestParamInfo<Coded>& param_info) { return param_info.param.name; });

}  // namespace
