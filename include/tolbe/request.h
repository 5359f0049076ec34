#pragma once

// tolbe: what a call means, resolved once for every client.
//
// R, Python, the command line and the page take the same call in their own
// types: variables by name or by number, reliabilities by name or in order,
// where each reliability was measured, the criteria, the means and the
// interval options. A client translates its arguments into a `Call`,
// exactly as the user gave them, and resolve_call() returns either the
// resolved problem (indices from 0, the defaults applied) or one refusal:
// a stable code, the argument, the variables concerned and the message in
// the library's words, with the arguments spelled as the client's users
// write them (`Spelling`). Clients render; they do not decide.
//
// Unlike the correction, these functions allocate (messages and lists);
// they never print, exit or throw except std::bad_alloc.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tolbe/intervals.h"

namespace tolbe {

// The most variables a problem has, on every route.
inline constexpr int max_variables = 50;

// The intervals' defaults and bounds, on every route.
inline constexpr double default_level = 0.95;
inline constexpr int default_resamples = 2000;
inline constexpr int min_resamples = 10;
inline constexpr int max_resamples = 1000000;
// The bootstrap needs this many complete rows in the data and in the pool.
inline constexpr int min_bootstrap_rows = 3;

// The arguments of a call, as messages name them.
enum class CallArgument : int {
  none = 0,
  restricted,
  unrestricted,
  data,
  pool,
  selection,
  reliabilities,
  reliability_sample,
  criteria,
  restricted_means,
  unrestricted_means,
  interval,
  n,
  n_unrestricted,
  level,
  resamples,
  seed,
  threads,
  ci_type,
  criterion,
  predictors,
  base,
  added,
  triangle,
  diagnostics,
  count
};
inline constexpr int call_argument_count = static_cast<int>(CallArgument::count);

// The stable name of an argument ("selection", "n_unrestricted", ...).
const char* call_argument_name(CallArgument argument);

// How a client's users write its arguments. `names[a]` is argument a as
// written in a call ("selection" in R, "select" on the command line;
// nullptr: the argument's stable name). `mention` names an argument in a
// message, with "{}" for its name ("'{}'" in R, "'--{}'" on the command
// line); `assignment` an argument with a value, "{}" for the name and
// then the value ("{} = \"{}\"" in R, "--{}={}" on the command line).
struct Spelling {
  const char* names[call_argument_count] = {};
  const char* mention = "'{}'";
  const char* assignment = "{} = \"{}\"";
  // What a matrix's variable names are called ("dimnames" in R).
  const char* matrix_names = "names";
  // How the client's users count variables and places: from 1 (R, the
  // command line) or from 0 (Python).
  int first_index = 1;
  // How they write a missing value ("NA" in R).
  const char* missing_value = "NaN";
};

// `argument` as `spelling` names it in a message, such as "'selection'".
std::string mention(const Spelling& spelling, CallArgument argument);

// `argument` with `value` as `spelling` writes it, such as
// interval = "bootstrap".
std::string assignment(const Spelling& spelling, CallArgument argument, std::string_view value);

// One argument as the user gave it.
struct Given {
  enum class Kind { absent, numbers, texts, other };
  Kind kind = Kind::absent;        // other: neither numbers nor texts (a list, a factor, ...)
  std::vector<double> numbers;     // kind numbers; NaN for a missing value
  std::vector<std::string> texts;  // kind texts, UTF-8
  // The elements' names, when the argument has names at all ("" for an
  // unnamed element); empty when it has none.
  std::vector<std::string> names;
  bool has_names = false;

  bool given() const { return kind != Kind::absent; }
  std::size_t size() const { return kind == Kind::texts ? texts.size() : numbers.size(); }
};

// A call as the client took it.
struct Call {
  Spelling spelling;

  // The restricted sample: its q variables (the matrix's rows, or the
  // data's columns), named (q names, "" for an unnamed variable) or not.
  int q = 0;
  std::vector<std::string> names;
  bool from_data = false;  // raw scores (data) rather than a matrix

  // The unrestricted side: a p x p matrix (p = its rows, named or not),
  // or the pool's raw scores (p = its columns, named or not).
  int p = 0;
  std::vector<std::string> unrestricted_names;
  bool from_pool = false;
  // The unrestricted matrix as given (column-major, p x p), to tell a
  // triangle entered alone; may be null.
  const double* unrestricted = nullptr;
  int ld_unrestricted = 0;
  bool mirrors_triangle = false;  // the client mirrors a triangle as asked

  Given selection;
  Given reliabilities;       // numbers, named by variable or in order
  Given reliability_sample;  // texts "unrestricted"/"restricted": one, one each, or named
  Given criteria;
  Given restricted_means;
  Given unrestricted_means;

  Given interval;  // text: none, normal, adf, bootstrap
  Given n;
  Given n_unrestricted;
  Given level;
  Given resamples;
  Given seed;  // a whole number, or a text of decimal digits
  Given threads;
  Given ci_type;  // text: bca, percentile
};

// The stable codes of refusals.
enum class RefusalCode : int {
  none = 0,
  both_given,             // a matrix and raw scores for the same side
  neither_given,          // no restricted (or unrestricted) side
  not_variables,          // not names or whole numbers
  unknown_variable,       // a name that no variable has
  number_out_of_range,    // a number outside 1..q
  no_names,               // names given, but the variables have none
  repeated,               // a variable named twice
  wrong_count,            // not as many values as needed
  names_disagree,         // the unrestricted matrix's names are not the selection's
  selection_variable,     // a selection variable where another is needed
  not_finite,             // a value that is not a finite number
  partly_named,           // some values named, some not
  invalid_value,          // a value outside what the argument takes
  not_for_this_call,      // an argument the call does not use
  needs_argument,         // the call needs another argument
  too_few_rows,           // too few complete rows for the method
  no_reliability,         // a converted reliability that is no reliability
  too_many_variables,     // more than max_variables
  not_positive_definite,  // the predictors' corrected var/cov matrix
  not_a_matrix,           // not numbers in rows and columns
  not_square,             // a var/cov matrix that is not square
  no_variables,           // a 0 x 0 matrix, or scores of no columns
  names_contradict,       // a matrix whose row names are not its column names
  not_numbers,            // raw scores with columns that are not numbers
  count
};

// The stable name of a refusal code ("unknown_variable", ...).
const char* refusal_code_name(RefusalCode code);

// Why a call cannot be computed.
struct Refusal {
  RefusalCode code = RefusalCode::none;
  CallArgument argument = CallArgument::none;
  std::vector<int> variables;  // the variables concerned, from 0
  std::string message;
};

// The interval options resolved: the method in effect and its settings.
struct IntervalOptions {
  IntervalMethod method = IntervalMethod::none;
  BootstrapInterval ci_type = BootstrapInterval::bca;
  double level = default_level;
  int n = 0;               // the restricted sample size of matrices; 0: not given
  int n_unrestricted = 0;  // 0: the unrestricted matrix is known
  int resamples = default_resamples;
  std::uint64_t seed = 0;
  bool seed_given = false;
  int threads = 0;  // 0: one per processor
};

// The problem as resolved.
struct ResolvedCall {
  int q = 0;
  int p = 0;
  // The selection variables (from 0) in the order the correction takes
  // them; `unrestricted_rows[k]` is the row of the unrestricted matrix (or
  // the column of the pool) that holds selection variable k.
  std::vector<int> selection;
  std::vector<int> unrestricted_rows;
  bool reordered = false;     // unrestricted_rows is not 0..p-1
  std::vector<int> position;  // q: each variable's place (the selection, then the others)
  std::vector<int> others;    // q - p: the other variables, in index order
  // Reliabilities of the others (q - p, in the order of `others`); empty
  // when none are given. Those not named are 1 and listed in `defaulted`.
  std::vector<double> reliabilities;
  std::vector<double> reliabilities_as_given;
  std::vector<char> reliability_given;  // q - p
  std::vector<char> from_restricted;    // q - p: measured in the restricted sample
  std::vector<int> defaulted;
  std::vector<int> criteria;               // from 0
  std::vector<double> restricted_means;    // q values in variable order, or empty
  std::vector<double> unrestricted_means;  // p values in selection order, or empty
  IntervalOptions intervals;
};

struct Resolution {
  ResolvedCall call;
  std::optional<Refusal> refusal;  // set: nothing in `call` is to be used
  bool ok() const { return !refusal.has_value(); }
};

// Which of a call's sources were given: the restricted side as a matrix
// or as raw scores, the unrestricted side as a matrix or as a pool, and the
// means given beside them.
struct Sources {
  bool restricted = false;
  bool data = false;
  bool unrestricted = false;
  bool pool = false;
  bool restricted_means = false;
  bool unrestricted_means = false;
};

// Refuses a side given twice (a matrix and raw scores) or not at all, and
// means given beside the raw scores that have their own; checked before
// anything is read.
std::optional<Refusal> sources_refusal(const Spelling& spelling, const Sources& sources);

// A matrix or raw scores as the client read them.
struct Shape {
  bool numeric = true;  // numbers in rows and columns (a matrix, a table of numbers)
  long rows = 0;
  long columns = 0;
  // A matrix's names of its rows and of its columns (either may be empty);
  // raw scores' column names (or empty), and the columns that do not hold
  // numbers (from 0).
  std::vector<std::string> row_names;
  std::vector<std::string> column_names;
  std::vector<int> not_numbers;
};

// Refuses a var/cov matrix argument (restricted or unrestricted) that is
// not one: no variables, not numbers, not square (more rows than columns
// being most likely raw scores, and said so), or row names that are not its
// column names.
std::optional<Refusal> matrix_refusal(const Spelling& spelling, CallArgument argument,
                                      const Shape& shape);

// Refuses raw scores (data or pool) that are not numbers in rows and
// columns, have no columns, or have columns that are not numbers.
std::optional<Refusal> scores_refusal(const Spelling& spelling, CallArgument argument,
                                      const Shape& shape);

// Resolves `call`: the interval options first, then the selection (by
// name or number; a named unrestricted matrix is matched by name, and
// with a named pool its columns are found by name), the reliabilities
// and where they were measured, the criteria (by default the others given
// a reliability) and the means. Stops at the first refusal.
Resolution resolve_call(const Call& call);

// The interval options alone (see resolve_call).
std::optional<Refusal> resolve_interval_options(const Call& call, IntervalOptions& out);

// Converts the reliabilities measured in the restricted sample to the
// unrestricted population's, r_u = 1 - (1 - r_r) v_yy / c_yy (the error
// variance the same in both), from the restricted and the corrected
// var/cov matrices (q x q, column-major). A converted value outside (0, 1]
// is no reliability: refused, naming the variable and the arithmetic.
std::optional<Refusal> convert_reliabilities(const Call& call, ResolvedCall& resolved,
                                             const double* restricted, int ld_restricted,
                                             const double* corrected, int ld_corrected);

// The refusal when raw scores have too few complete rows for the method:
// the bootstrap needs min_bootstrap_rows in `data` (or the pool).
std::optional<Refusal> rows_refusal(const Call& call, const IntervalOptions& options,
                                    CallArgument scores, int rows_used);

// The note that the others given no reliability by name are taken as 1;
// empty when there are none.
std::string defaulted_reliabilities_note(const Call& call, const ResolvedCall& resolved);

// Each variable's reliability as given (after conversion to the
// unrestricted population's): q values, NaN where none was given.
std::vector<double> reliabilities_by_variable(const ResolvedCall& resolved);

// Variable v as messages name it: its name, else "variable N" (N from 1).
std::string variable_label(const std::vector<std::string>& names, int v);

// Whether one side of the diagonal of the n x n `a` (column-major) is all
// 0 or NaN: a triangle entered alone may be what the user gave.
bool may_be_triangle(int n, const double* a, int ld);

// Whether one side is empty and the other is not: certainly a triangle.
bool one_sided(int n, const double* a, int ld);

// A validity question as the user gave it, asked of a resolved call: the
// criterion, and the predictors (a regression), or the base set as
// `predictors` and the predictors added to it as `added` (an increment).
// Absent predictors of a regression are the default ones
// (default_predictors(), the resolved call's criteria left out).
struct QuestionCall {
  Spelling spelling;
  int q = 0;
  std::vector<std::string> names;  // q names, or none
  std::vector<int> criteria;       // the resolved call's criteria, from 0
  Given criterion;
  Given predictors;
  Given added;  // given: an increment
};

struct ResolvedQuestion {
  int criterion = -1;
  std::vector<int> predictors;  // the base set first, for an increment
  int base = 0;                 // the size of the base set; 0: a regression
};

// Resolves `question`: one criterion; predictors by name or number, at
// least one, at most max_variables in all, none twice and none the
// criterion; an increment's base and added sets apart.
std::optional<Refusal> resolve_question(const QuestionCall& question, ResolvedQuestion& out);

// The refusal of a question whose predictors' corrected var/cov matrix
// (or the base set's) is not positive definite.
Refusal question_not_positive_definite(const QuestionCall& question,
                                       const ResolvedQuestion& resolved);

}  // namespace tolbe
