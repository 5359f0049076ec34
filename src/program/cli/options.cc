#include "cli/options.h"

#include <getopt.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>

#include "io/chars.h"
#include "tolbe/request.h"

namespace tolbe {
namespace {

bool parse_number(const char* begin, const char* end, int& value) {
  auto result = std::from_chars(begin, end, value);
  return result.ec == std::errc() && result.ptr == end && value >= 1 && value <= 50;
}

template <typename Number>
bool whole(const char* text, Number minimum, Number maximum, Number& value) {
  const char* end = text + std::strlen(text);
  auto result = std::from_chars(text, end, value);
  return result.ec == std::errc() && result.ptr == end && value >= minimum && value <= maximum;
}

bool level_of(const char* text, double& level) {
  const char* end = text + std::strlen(text);
  auto result = parse_double(text, end, level);
  return result.ec == std::errc() && result.ptr == end && level > 0.0 && level < 1.0;
}

// "y1=0.81,y2=0.9": a name may hold '=' (the value follows the last one) but
// no comma.
bool parse_reliabilities(const std::string& text,
                         std::vector<std::pair<std::string, double>>& reliabilities) {
  reliabilities.clear();
  std::size_t start = 0;
  for (;;) {
    std::size_t comma = text.find(',', start);
    std::string item =
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    std::size_t equals = item.rfind('=');
    if (equals == std::string::npos || equals == 0) return false;
    double value = 0.0;
    const char* begin = item.data() + equals + 1;
    const char* end = item.data() + item.size();
    auto result = parse_double(begin, end, value);
    if (result.ec != std::errc() || result.ptr != end || !std::isfinite(value)) return false;
    reliabilities.emplace_back(item.substr(0, equals), value);
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

// The options that take part in the checks of combinations, by what
// getopt_long returns for them.
enum Code : int {
  interval_code = 256,
  n_code,
  n_unrestricted_code,
  data_code,
  restricted_code,
  pool_code,
  unrestricted_code,
  reliabilities_code,
  resamples_code,
  seed_code,
  level_code,
  threads_code,
  ci_type_code,
  criterion_code,
  predictors_code,
  base_code,
  reliabilities_from_code,
  names_code,
  code_end,
};

const char* name_of(int code) {
  switch (code) {
    case n_code:
      return "--n";
    case n_unrestricted_code:
      return "--n-unrestricted";
    case resamples_code:
      return "--resamples";
    case seed_code:
      return "--seed";
    case level_code:
      return "--level";
    case threads_code:
      return "--threads";
    case ci_type_code:
      return "--ci-type";
    default:
      return "";
  }
}

// What --select takes, in its complaints.
std::string select_syntax() {
  return "variable numbers 1 to " + std::to_string(max_variables) + ", such as 1,4-5";
}

std::string quoted(const char* option) {
  return std::string("'") + option + "'";
}

// Standard input can be read only once: a second reader would find it at
// its end and complain of an empty file, far from the cause.
bool standard_input_once(const Options& o, std::string& error) {
  std::vector<const char*> readers;
  for (auto [option, file] : {std::pair{"'--data'", &o.data},
                              {"'--restricted'", &o.restricted},
                              {"'--pool'", &o.pool},
                              {"'--unrestricted'", &o.unrestricted}}) {
    if (*file == "-") readers.push_back(option);
  }
  if (readers.size() == 2) {
    error = std::string("standard input can be read only once: ") + readers[0] + " and " +
            readers[1] + " both name '-'";
    return false;
  }
  if (readers.size() >= 3) {
    error = std::string("standard input can be read only once: ");
    for (std::size_t k = 0; k + 1 < readers.size(); ++k) {
      error += std::string(k > 0 ? ", " : "") + readers[k];
    }
    error += std::string(" and ") + readers.back() + " all name '-'";
    return false;
  }
  if (std::count(o.files.begin(), o.files.end(), "-") >= 2) {
    error = "standard input can be read only once: the FILE '-' is given twice";
    return false;
  }
  return true;
}

// The defaults that depend on other options, and the combinations refused.
bool settle(Options& o, const bool (&given)[code_end], bool format_given, std::string& error) {
  if (!standard_input_once(o, error)) return false;
  bool raw = !o.data.empty();
  // A named restricted matrix takes the options of raw scores that name
  // variables, and the intervals of matrix input.
  bool named = !o.restricted.empty();
  if (raw && named) {
    error = "give '--data' (raw scores) or '--restricted' (their var/cov matrix), not both";
    return false;
  }
  // Reliabilities by name come with raw scores or a named matrix alike.
  if ((raw || named) && o.reliabilities_restricted && o.reliabilities.empty()) {
    error =
        "'--reliabilities-from=restricted' has no reliabilities to convert (see "
        "'--reliabilities')";
    return false;
  }
  if (named) {
    if (given[pool_code]) {
      error = "'--pool' is for raw scores: it needs '--data=FILE'";
      return false;
    }
    if (given[names_code]) {
      error =
          "with '--restricted' the matrix's header names the variables: '--names' is for a "
          "problem file";
      return false;
    }
    if (!o.files.empty()) {
      error = "with '--restricted' the matrices are the problem: give no problem FILE ('" +
              o.files[0] + "')";
      return false;
    }
    if (o.unrestricted.empty()) {
      error =
          "'--restricted' needs the selection variables' unrestricted var/cov matrix "
          "('--unrestricted=FILE')";
      return false;
    }
  } else if (!raw) {
    for (auto [code, option] : {std::pair{pool_code, "--pool"},
                                {unrestricted_code, "--unrestricted"},
                                {reliabilities_code, "--reliabilities"}}) {
      if (given[code]) {
        error = quoted(option) + " is for raw scores: it needs '--data=FILE'";
        return false;
      }
    }
    // With --names an item of --select may be a name, resolved once the
    // problem's variables are known.
    if (!o.selection_text.empty() && o.selection.empty() && o.names.empty()) {
      error =
          "invalid argument '" + o.selection_text + "' for '--select' (" + select_syntax() + ")";
      return false;
    }
  } else {
    if (given[names_code]) {
      error = "with '--data' the data's header names the variables: '--names' is for matrix input";
      return false;
    }
    if (!o.files.empty()) {
      error =
          "with '--data' the scores are the problem: give no problem FILE ('" + o.files[0] + "')";
      return false;
    }
    if (o.pool.empty() == o.unrestricted.empty()) {
      error = o.pool.empty()
                  ? "'--data' needs the selection variables' unrestricted var/cov matrix "
                    "('--unrestricted=FILE') or their pool scores ('--pool=FILE')"
                  : "give '--unrestricted' or '--pool', not both";
      return false;
    }
    if (!o.pool.empty() && o.selection_text.empty()) {
      error = "'--pool' needs '--select' to name the selection variables";
      return false;
    }
  }
  if (o.criterion.empty()) {
    for (auto [code, option] :
         {std::pair{predictors_code, "--predictors"}, {base_code, "--base"}}) {
      if (given[code]) {
        error = quoted(option) + " is for the validity question: it needs '--criterion'";
        return false;
      }
    }
  }
  if (!given[interval_code]) {
    o.interval = raw             ? IntervalMethod::adf
                 : given[n_code] ? IntervalMethod::normal
                                 : IntervalMethod::none;
  }
  const char* method = interval_method_name(o.interval);
  if (o.interval == IntervalMethod::none) {
    for (int code = n_code; code < criterion_code; ++code) {
      if (*name_of(code) != '\0' && given[code]) {
        error = quoted(name_of(code)) +
                " is for intervals, and none are computed (see '--interval'; normal needs '--n')";
        return false;
      }
    }
  }
  if (raw && given[n_code]) {
    error = "'--n' is for matrix input: with '--data' the complete rows are counted";
    return false;
  }
  if (!raw && o.interval == IntervalMethod::normal && !given[n_code]) {
    error = "'--interval=normal' needs '--n', the size of the restricted sample";
    return false;
  }
  if (!raw && (o.interval == IntervalMethod::adf || o.interval == IntervalMethod::bootstrap)) {
    error = std::string("'--interval=") + method + "' needs raw scores ('--data=FILE')";
    return false;
  }
  if (o.interval != IntervalMethod::bootstrap) {
    for (int code : {resamples_code, seed_code, threads_code, ci_type_code}) {
      if (given[code]) {
        error = quoted(name_of(code)) + " is for '--interval=bootstrap'";
        return false;
      }
    }
  }
  if (given[n_unrestricted_code] && !o.pool.empty()) {
    error =
        "'--n-unrestricted' is for an unrestricted matrix: with '--pool' its complete rows are "
        "counted";
    return false;
  }
  if (given[n_unrestricted_code] && o.interval == IntervalMethod::bootstrap) {
    error =
        "the bootstrap lets the unrestricted matrix vary only by resampling pool scores "
        "('--pool'), not by '--n-unrestricted'";
    return false;
  }
  bool intervals = o.interval != IntervalMethod::none;
  bool regression = !o.criterion.empty();
  if (!format_given && (intervals || raw || named || regression)) o.format = OutputFormat::table;
  if (format_given && regression && o.format == OutputFormat::report) {
    error =
        "the report has no room for the validity question: use '--format=table', markdown, csv "
        "or json";
    return false;
  }
  if (format_given && intervals && o.format == OutputFormat::report) {
    error =
        "the report has no room for intervals: use '--format=table', csv or json (or "
        "'--interval=none')";
    return false;
  }
  return true;
}

}  // namespace

bool parse_names(const std::string& text, std::vector<std::string>& names) {
  names.clear();
  std::size_t start = 0;
  for (;;) {
    std::size_t comma = text.find(',', start);
    std::string name =
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (name.empty() || names.size() == static_cast<std::size_t>(max_variables)) return false;
    for (const std::string& earlier : names) {
      if (earlier == name) return false;
    }
    names.push_back(name);
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

bool parse_selection(const std::string& text, std::vector<int>& selection) {
  selection.clear();
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    const char* comma =
        static_cast<const char*>(std::memchr(p, ',', static_cast<std::size_t>(end - p)));
    const char* item_end = comma != nullptr ? comma : end;
    const char* dash =
        static_cast<const char*>(std::memchr(p, '-', static_cast<std::size_t>(item_end - p)));
    int first = 0;
    int last = 0;
    if (dash == nullptr) {
      if (!parse_number(p, item_end, first)) return false;
      last = first;
    } else if (!parse_number(p, dash, first) || !parse_number(dash + 1, item_end, last) ||
               last < first) {
      return false;
    }
    for (int v = first; v <= last; ++v) selection.push_back(v);
    if (comma == nullptr) break;
    p = comma + 1;
    if (p == end) return false;  // a trailing comma
  }
  return !selection.empty();
}

bool parse_options(int argc, char** argv, Options& options, std::string& error) {
  static const option long_options[] = {
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, 'V'},
      {"format", required_argument, nullptr, 'f'},
      {"select", required_argument, nullptr, 's'},
      {"check", no_argument, nullptr, 'c'},
      {"quiet", no_argument, nullptr, 'q'},
      {"strict", no_argument, nullptr, 'S'},
      {"interval", required_argument, nullptr, interval_code},
      {"n", required_argument, nullptr, n_code},
      {"n-unrestricted", required_argument, nullptr, n_unrestricted_code},
      {"data", required_argument, nullptr, data_code},
      {"restricted", required_argument, nullptr, restricted_code},
      {"pool", required_argument, nullptr, pool_code},
      {"unrestricted", required_argument, nullptr, unrestricted_code},
      {"reliabilities", required_argument, nullptr, reliabilities_code},
      {"resamples", required_argument, nullptr, resamples_code},
      {"seed", required_argument, nullptr, seed_code},
      {"level", required_argument, nullptr, level_code},
      {"threads", required_argument, nullptr, threads_code},
      {"ci-type", required_argument, nullptr, ci_type_code},
      {"criterion", required_argument, nullptr, criterion_code},
      {"predictors", required_argument, nullptr, predictors_code},
      {"base", required_argument, nullptr, base_code},
      {"reliabilities-from", required_argument, nullptr, reliabilities_from_code},
      {"names", required_argument, nullptr, names_code},
      {nullptr, 0, nullptr, 0}};
  bool given[code_end] = {};
  bool format_given = false;
  auto invalid = [&error](const char* option, const std::string& valid) {
    error = std::string("invalid argument '") + optarg + "' for '" + option + "' (" + valid + ")";
    return false;
  };
  auto file_name = [&error](const char* option, std::string& to) {
    if (*optarg == '\0') {
      error = std::string("the file name of '") + option + "' is empty";
      return false;
    }
    to = optarg;
    return true;
  };
  opterr = 0;  // the complaints are ours
  optind = 0;  // 0, not 1: GNU getopt then starts afresh, also on a second call
  for (;;) {
    int option_index = 0;
    int c = getopt_long(argc, argv, ":hVq", long_options, &option_index);
    if (c == -1) break;
    if (c >= interval_code && c < code_end) given[c] = true;
    switch (c) {
      case 'h':
        options.help = true;
        break;
      case 'V':
        options.version = true;
        break;
      case 'c':  // the findings are shown by default; --check undoes an earlier --quiet
        options.quiet = false;
        break;
      case 'q':
        options.quiet = true;
        break;
      case 'S':
        options.strict = true;
        break;
      case 'f':
        format_given = true;
        if (std::strcmp(optarg, "report") == 0) {
          options.format = OutputFormat::report;
        } else if (std::strcmp(optarg, "csv") == 0) {
          options.format = OutputFormat::csv;
        } else if (std::strcmp(optarg, "json") == 0) {
          options.format = OutputFormat::json;
        } else if (std::strcmp(optarg, "table") == 0) {
          options.format = OutputFormat::table;
        } else if (std::strcmp(optarg, "markdown") == 0) {
          options.format = OutputFormat::markdown;
        } else {
          error = std::string("invalid argument '") + optarg +
                  "' for '--format' (valid: report, csv, json, table, markdown)";
          return false;
        }
        break;
      case 's':
        // Names are known only once the data are read: a list that is not
        // numbers waits for them (see settle()).
        options.selection_text = optarg;
        if (*optarg == '\0') return invalid("--select", select_syntax());
        if (!parse_selection(optarg, options.selection)) options.selection.clear();
        break;
      case interval_code:
        if (std::strcmp(optarg, "none") == 0) {
          options.interval = IntervalMethod::none;
        } else if (std::strcmp(optarg, "normal") == 0) {
          options.interval = IntervalMethod::normal;
        } else if (std::strcmp(optarg, "adf") == 0) {
          options.interval = IntervalMethod::adf;
        } else if (std::strcmp(optarg, "bootstrap") == 0) {
          options.interval = IntervalMethod::bootstrap;
        } else {
          return invalid("--interval", "valid: none, normal, adf, bootstrap");
        }
        break;
      case n_code:
        if (!whole(optarg, 2, INT_MAX, options.n)) {
          return invalid("--n", "the restricted sample size, a whole number of at least 2");
        }
        break;
      case n_unrestricted_code:
        if (!whole(optarg, 2, INT_MAX, options.n_unrestricted)) {
          return invalid("--n-unrestricted",
                         "the unrestricted sample size, a whole number of at least 2");
        }
        break;
      case data_code:
        if (!file_name("--data", options.data)) return false;
        break;
      case restricted_code:
        if (!file_name("--restricted", options.restricted)) return false;
        break;
      case pool_code:
        if (!file_name("--pool", options.pool)) return false;
        break;
      case unrestricted_code:
        if (!file_name("--unrestricted", options.unrestricted)) return false;
        break;
      case reliabilities_code:
        if (!parse_reliabilities(optarg, options.reliabilities)) {
          return invalid("--reliabilities", "NAME=VALUE pairs, such as y1=0.81,y2=0.9");
        }
        break;
      case resamples_code:
        if (!whole(optarg, min_resamples, max_resamples, options.resamples)) {
          return invalid("--resamples", "a whole number from " + std::to_string(min_resamples) +
                                            " to " + std::to_string(max_resamples));
        }
        break;
      case seed_code:
        if (!whole(optarg, std::uint64_t{0}, UINT64_MAX, options.seed)) {
          return invalid("--seed", "a whole number from 0 to 18446744073709551615");
        }
        break;
      case level_code:
        if (!level_of(optarg, options.level)) {
          return invalid("--level", "a confidence level between 0 and 1, such as 0.95");
        }
        break;
      case threads_code:
        if (!whole(optarg, 0, INT_MAX, options.threads)) {
          return invalid("--threads", "a whole number, 0 for one per processor");
        }
        break;
      case ci_type_code:
        if (std::strcmp(optarg, "bca") == 0) {
          options.ci_type = BootstrapInterval::bca;
        } else if (std::strcmp(optarg, "percentile") == 0) {
          options.ci_type = BootstrapInterval::percentile;
        } else {
          return invalid("--ci-type", "valid: bca, percentile");
        }
        break;
      case criterion_code:
      case predictors_code:
      case base_code: {
        if (*optarg == '\0') {
          return invalid(c == criterion_code    ? "--criterion"
                         : c == predictors_code ? "--predictors"
                                                : "--base",
                         "variable names or numbers from 1, such as y or 3");
        }
        std::string& to = c == criterion_code    ? options.criterion
                          : c == predictors_code ? options.predictors
                                                 : options.base;
        to = optarg;
        break;
      }
      case reliabilities_from_code:
        if (std::strcmp(optarg, "unrestricted") == 0) {
          options.reliabilities_restricted = false;
        } else if (std::strcmp(optarg, "restricted") == 0) {
          options.reliabilities_restricted = true;
        } else {
          return invalid("--reliabilities-from", "valid: unrestricted, restricted");
        }
        break;
      case names_code:
        if (!parse_names(optarg, options.names)) {
          return invalid("--names",
                         "at most 50 distinct names, none empty, separated by commas, such as "
                         "x1,x2,y");
        }
        break;
      case ':':
        error = std::string("option '") + argv[optind - 1] + "' requires an argument";
        return false;
      default:
        if (optopt != 0) {
          error = std::string("invalid option -- '") + static_cast<char>(optopt) + "'";
        } else {
          error = std::string("unrecognized option '") + argv[optind - 1] + "'";
        }
        return false;
    }
  }
  for (int i = optind; i < argc; ++i) options.files.emplace_back(argv[i]);
  if (options.help || options.version) return true;
  return settle(options, given, format_given, error);
}

const char* usage_text() {
  return "Usage: tolbe [OPTION]... [FILE]...\n"
         "  or:  tolbe --data=FILE (--unrestricted=FILE | --pool=FILE) [OPTION]...\n"
         "  or:  tolbe --restricted=FILE --unrestricted=FILE [OPTION]...\n"
         "Correct the var/cov matrix of a range-restricted sample by Lawley's (1943)\n"
         "multivariate correction, and derive the corrected correlation matrix and,\n"
         "with reliabilities, the correlation matrix corrected for attenuation;\n"
         "optionally with standard errors and confidence intervals.\n"
         "\n"
         "Each FILE holds one problem in free format (see tolbe(1)); with no FILE,\n"
         "or when FILE is -, the problem is read from standard input. Without any\n"
         "argument tolbe behaves as the classic console program.\n"
         "\n"
         "      --format=FORMAT  report (default without intervals), table (default\n"
         "                       with intervals, raw scores or --criterion), markdown\n"
         "                       (the table in Markdown), csv or json\n"
         "      --select=LIST    the selection (non-restricted) variables are those\n"
         "                       numbered in LIST, such as 1,4-5, in the order of the\n"
         "                       rows of the unrestricted matrix (default 1..p); with\n"
         "                       --data also by column name, such as x1,x2\n"
         "      --names=LIST     the variables' names for matrix input, such as\n"
         "                       x1,x2,y (then also in --select and the lists below)\n"
         "  -q, --quiet          write no warnings or notes, only errors\n"
         "      --strict         treat warnings as errors: no results for a problem\n"
         "                       with a warning, and exit status 2\n"
         "      --check          write warnings and notes (the default; undoes an\n"
         "                       earlier --quiet)\n"
         "\n"
         "Raw scores (CSV with a header row of names; separated by the first comma,\n"
         "semicolon or tab of the header line; a missing value is an empty field or\n"
         "NA, and a row with one is left out):\n"
         "      --data=FILE      the restricted sample's scores, every column a variable\n"
         "      --unrestricted=FILE  the selection variables' unrestricted var/cov\n"
         "                       matrix, with a header row of their names\n"
         "      --pool=FILE      the pool's (applicants') scores; only the columns of\n"
         "                       the selection variables are read, by name\n"
         "      --reliabilities=NAME=VALUE,...  reliabilities of other variables\n"
         "                       (those not named: 1)\n"
         "      --restricted=FILE  instead of --data: the restricted sample's var/cov\n"
         "                       matrix, with a header row of names (a first column\n"
         "                       of row names, as R's write.csv writes it, allowed),\n"
         "                       with --unrestricted; intervals from --n\n"
         "\n"
         "      --reliabilities-from=SAMPLE  the reliabilities given were measured in\n"
         "                       the unrestricted population (default) or the\n"
         "                       restricted sample, converted before they are used\n"
         "\n"
         "The validity question (names or numbers from 1; with intervals each value\n"
         "gets an SE and bounds by the same method):\n"
         "      --criterion=VAR  regress VAR on the predictors in the corrected matrix:\n"
         "                       weights b and beta, validities, R2, R, operational R\n"
         "      --predictors=LIST  the predictors (default: every other variable)\n"
         "      --base=LIST      predictors of a base set: the increment (delta R2,\n"
         "                       delta R) of adding the other predictors to it\n"
         "\n"
         "Standard errors and confidence intervals:\n"
         "      --interval=METHOD  none, normal (from the matrices and --n), adf or\n"
         "                       bootstrap (from --data); default: normal with --n,\n"
         "                       adf with --data, none otherwise\n"
         "      --n=N            the restricted sample size, for matrix input\n"
         "      --n-unrestricted=N  the size of the sample the unrestricted matrix\n"
         "                       was estimated from (default: the matrix is known)\n"
         "      --level=L        the confidence level (default 0.95)\n"
         "      --resamples=B    bootstrap resamples (default 2000)\n"
         "      --seed=S         the bootstrap's seed (default 0)\n"
         "      --threads=T      bootstrap threads (default 0: one per processor;\n"
         "                       the numbers do not depend on it)\n"
         "      --ci-type=TYPE   bootstrap intervals: bca (default) or percentile\n"
         "\n"
         "  -h, --help           display this help and exit\n"
         "  -V, --version        output version information and exit\n"
         "\n"
         "With any argument, errors name the file, line and column, and likely\n"
         "mistakes in the input get a warning on standard error. Exit status:\n"
         "0 all problems solved, 2 a problem could not be read or solved (or a bad\n"
         "option), 3 the output could not be written.\n";
}

}  // namespace tolbe
