// The options are listed three times: in --help (usage_text()), in the man
// page's OPTIONS (doc/tolbe.1) and in the getopt table that parses them
// (src/program/cli/options.cc). Each must list the same options, with the
// same short name and, where one takes an argument, the same argument: an
// option added to one and forgotten in another fails here.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/options.h"

namespace {

// One option as a listing gives it.
struct Listed {
  std::string short_name;  // "-q"; empty for none
  bool takes_argument = false;
  std::string argument;  // its placeholder in --help and the man page ("FORMAT")
};
// By long name, such as "--format".
using Listing = std::map<std::string, Listed>;

std::string read_source(const std::string& relative) {
  std::ifstream in(std::string(TOLBE_SOURCE_DIR) + "/" + relative, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// An option column such as "-q, --quiet" or "--format=FORMAT" into
// `listing`; false when it is not one.
bool add_entry(const std::string& column, Listing& listing) {
  static const std::regex entry(R"(^(?:(-[A-Za-z]), )?(--[a-z][a-z-]*)(?:=(\S+))?$)");
  std::smatch m;
  if (!std::regex_match(column, m, entry)) return false;
  Listed& listed = listing[m[2].str()];
  listed.short_name = m[1].str();
  listed.takes_argument = m[3].matched;
  listed.argument = m[3].str();
  return true;
}

// --help: the lines whose option column (indented by at most 6 spaces)
// starts with '-'; the column ends at the first two spaces. Mentions of
// options in the descriptions, further indented, are not entries.
Listing from_help(const std::string& text) {
  Listing listing;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::size_t indent = line.find_first_not_of(' ');
    if (indent == std::string::npos || indent > 6 || line[indent] != '-') continue;
    std::size_t end = line.find("  ", indent);
    add_entry(line.substr(indent, end == std::string::npos ? end : end - indent), listing);
  }
  return listing;
}

// One roff request line (".BR \-\-format = \fIFORMAT\fR") as the text it
// sets: its arguments (quoted ones with their spaces) joined, fonts
// dropped, "\-" a hyphen.
std::string roff_text(const std::string& line) {
  std::string joined;
  std::size_t i = line.find(' ');
  bool quoted = false;
  for (i = i == std::string::npos ? line.size() : i + 1; i < line.size(); ++i) {
    char c = line[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (c != ' ' || quoted) {
      joined += c;
    }
  }
  joined = std::regex_replace(joined, std::regex(R"(\\f[BIRP])"), "");
  return std::regex_replace(joined, std::regex(R"(\\-)"), "-");
}

// The man page: the tag line after each .TP of the OPTIONS section.
Listing from_man_page(const std::string& roff) {
  Listing listing;
  std::istringstream lines(roff);
  std::string line;
  bool in_options = false;
  bool tag_next = false;
  while (std::getline(lines, line)) {
    if (line.rfind(".SH", 0) == 0) {
      in_options = line == ".SH OPTIONS";
      continue;
    }
    if (!in_options) continue;
    if (tag_next) add_entry(roff_text(line), listing);
    tag_next = line == ".TP";
  }
  return listing;
}

// The getopt table: its entries {"name", has_arg, nullptr, val}, a val
// that is a letter of getopt_long's short options being the short name.
Listing from_getopt_table(const std::string& source) {
  Listing listing;
  std::smatch m;
  std::string short_options;
  if (std::regex_search(source, m, std::regex(R"re(getopt_long\([^"]*"([^"]*)")re"))) {
    short_options = m[1].str();
  }
  static const std::regex entry(
      R"re(\{"([a-z][a-z-]*)",\s*(no|required|optional)_argument,\s*nullptr,\s*(?:'(.)'|\w+)\})re");
  for (std::sregex_iterator it(source.begin(), source.end(), entry), end; it != end; ++it) {
    const std::smatch& e = *it;
    Listed& listed = listing["--" + e[1].str()];
    listed.takes_argument = e[2].str() != "no";
    if (e[3].matched && short_options.find(e[3].str()) != std::string::npos) {
      listed.short_name = "-" + e[3].str();
    }
  }
  return listing;
}

// The extractors on lines of each kind, so that the comparison below
// cannot pass on listings that miss what they should hold.
struct Extracted {
  const char* name;
  Listing (*extract)(const std::string&);
  const char* text;
  const char* long_name;  // null: no option found
  const char* short_name;
  bool takes_argument;
  const char* argument;
};

void PrintTo(const Extracted& c, std::ostream* os) {
  *os << c.name;
}

class Extractor : public testing::TestWithParam<Extracted> {};

TEST_P(Extractor, finds_the_entry_and_only_it) {
  const Extracted& c = GetParam();
  Listing listing = c.extract(c.text);
  if (c.long_name == nullptr) {
    EXPECT_TRUE(listing.empty()) << listing.begin()->first;
    return;
  }
  ASSERT_EQ(listing.size(), 1U);
  ASSERT_EQ(listing.count(c.long_name), 1U) << listing.begin()->first;
  const Listed& listed = listing.at(c.long_name);
  EXPECT_EQ(listed.short_name, c.short_name);
  EXPECT_EQ(listed.takes_argument, c.takes_argument);
  EXPECT_EQ(listed.argument, c.argument);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Extractor,
    testing::Values(
        Extracted{"help_short_and_long", from_help, "  -q, --quiet          write no warnings\n",
                  "--quiet", "-q", false, ""},
        Extracted{"help_argument", from_help, "      --format=FORMAT  report (default\n",
                  "--format", "", true, "FORMAT"},
        Extracted{"help_argument_with_equals", from_help,
                  "      --reliabilities=NAME=VALUE,...  reliabilities of\n", "--reliabilities", "",
                  true, "NAME=VALUE,..."},
        Extracted{"help_option_at_end_of_line", from_help, "      --strict\n", "--strict", "",
                  false, ""},
        Extracted{"help_mention_in_a_description", from_help,
                  "                       --data also by column name, such as x1,x2\n", nullptr, "",
                  false, ""},
        Extracted{"help_synopsis", from_help, "  or:  tolbe --data=FILE [OPTION]...\n", nullptr, "",
                  false, ""},
        Extracted{"man_short_and_long", from_man_page,
                  ".SH OPTIONS\n.TP\n.BR \\-q \", \" \\-\\-quiet\nwrite no warnings\n", "--quiet",
                  "-q", false, ""},
        Extracted{"man_argument", from_man_page,
                  ".SH OPTIONS\n.TP\n.BR \\-\\-format = \\fIFORMAT\\fR\nthe format\n", "--format",
                  "", true, "FORMAT"},
        Extracted{"man_argument_in_fonts", from_man_page,
                  ".SH OPTIONS\n.TP\n.BR \\-\\-reliabilities = \\fINAME\\fB=\\fIVALUE\\fR,...\n",
                  "--reliabilities", "", true, "NAME=VALUE,..."},
        Extracted{"man_bold_alone", from_man_page, ".SH OPTIONS\n.TP\n.B \\-\\-strict\n",
                  "--strict", "", false, ""},
        Extracted{"man_mention_in_a_paragraph", from_man_page,
                  ".SH OPTIONS\n.TP\n.B \\-\\-check\nundoes\n.BR \\-\\-quiet .\n", "--check", "",
                  false, ""},
        Extracted{"man_other_section", from_man_page,
                  ".SH OUTPUT\n.TP\n.BR \\-\\-data = \\fIFILE\\fR\n", nullptr, "", false, ""},
        Extracted{"table_short", from_getopt_table,
                  "{\"help\", no_argument, nullptr, 'h'}, getopt_long(argc, argv, \":hVq\", x",
                  "--help", "-h", false, ""},
        Extracted{"table_letter_not_short", from_getopt_table,
                  "{\"format\", required_argument, nullptr, 'f'}, getopt_long(argc, argv, "
                  "\":hVq\", x",
                  "--format", "", true, ""},
        Extracted{"table_code", from_getopt_table,
                  "{\"n-unrestricted\", required_argument, nullptr, n_unrestricted_code},",
                  "--n-unrestricted", "", true, ""},
        Extracted{"table_end", from_getopt_table, "{nullptr, 0, nullptr, 0}};", nullptr, "", false,
                  ""}));

struct Sources {
  Listing help = from_help(tolbe::usage_text());
  Listing man = from_man_page(read_source("doc/tolbe.1"));
  Listing table = from_getopt_table(read_source("src/program/cli/options.cc"));
};

const Sources& sources() {
  static const Sources s;
  return s;
}

// Options each listing must hold: an extractor that found too little
// would otherwise agree with another.
TEST(OptionsListed, each_listing_holds_the_landmarks) {
  for (const Listing* listing : {&sources().help, &sources().man, &sources().table}) {
    EXPECT_GE(listing->size(), 20U);
    for (const char* name : {"--format", "--quiet", "--data", "--reliabilities-from", "--n",
                             "--ci-type", "--help", "--version"}) {
      EXPECT_EQ(listing->count(name), 1U) << name;
    }
  }
}

struct Pair {
  const char* name;
  const char* one_name;
  const char* other_name;
  const Listing Sources::*one;
  const Listing Sources::*other;
  bool same_placeholder;  // the getopt table has none
};

void PrintTo(const Pair& p, std::ostream* os) {
  *os << p.name;
}

class SameOptions : public testing::TestWithParam<Pair> {};

TEST_P(SameOptions, each_option_of_one_is_in_the_other_alike) {
  const Pair& pair = GetParam();
  const Listing& one = sources().*pair.one;
  const Listing& other = sources().*pair.other;
  for (const auto& [name, listed] : one) {
    auto found = other.find(name);
    if (found == other.end()) {
      ADD_FAILURE() << name << " is in " << pair.one_name << " but not in " << pair.other_name;
      continue;
    }
    EXPECT_EQ(listed.short_name, found->second.short_name) << name;
    EXPECT_EQ(listed.takes_argument, found->second.takes_argument) << name;
    if (pair.same_placeholder) {
      EXPECT_EQ(listed.argument, found->second.argument) << name;
    }
  }
  for (const auto& entry : other) {
    if (one.count(entry.first) == 0) {
      ADD_FAILURE() << entry.first << " is in " << pair.other_name << " but not in "
                    << pair.one_name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Listings, SameOptions,
                         testing::Values(Pair{"help_and_man_page", "--help", "the man page",
                                              &Sources::help, &Sources::man, true},
                                         Pair{"help_and_getopt_table", "--help", "the getopt table",
                                              &Sources::help, &Sources::table, false},
                                         Pair{"man_page_and_getopt_table", "the man page",
                                              "the getopt table", &Sources::man, &Sources::table,
                                              false}));

// What --help lists, the parser takes: not as unknown nor as ambiguous.
TEST(OptionsListed, the_parser_knows_every_option_of_the_help) {
  for (const auto& [name, listed] : sources().help) {
    std::vector<std::string> args = {"tolbe", listed.takes_argument ? name + "=1" : name};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    tolbe::Options options;
    std::string error;
    tolbe::parse_options(static_cast<int>(args.size()), argv.data(), options, error);
    EXPECT_EQ(error.find("unrecognized option"), std::string::npos) << name << ": " << error;
    EXPECT_EQ(error.find("ambiguous"), std::string::npos) << name << ": " << error;
  }
}

}  // namespace
