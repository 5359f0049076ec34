#include "errors/message_processor.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "errors/control_store.h"
#include "errors/fixed_text.h"
#include "errors/line_printer.h"
#include "errors/message_table.h"
#include "io/format_writer.h"

namespace tolbe {
namespace {

constexpr std::string_view banner_prefix = " ***";
constexpr std::string_view text_prefix = " *  ";
constexpr int wrap_width = 72;
constexpr int max_name = 16;

bool valid_call(int error_number, int level) {
  return error_number >= -9999999 && error_number <= 99999999 && error_number != 0 && level >= -1 &&
         level <= 2;
}

bool silenced(int level, int count, int control, int print_limit) {
  int magnitude = std::abs(control);
  return (level <= 1 && control == 0) || (level == 0 && count > print_limit) ||
         (level == 1 && count > print_limit && magnitude == 1) ||
         (level == 2 && count > std::max(1, print_limit));
}

void print_routine_line(std::string_view library, std::string_view routine) {
  char line[128];
  xerprn(banner_prefix, -1,
         concatenate(line, {"MESSAGE FROM ROUTINE ", routine.substr(0, max_name), " IN LIBRARY ",
                            library.substr(0, max_name), "."}),
         wrap_width);
}

void print_introduction(int level, int magnitude) {
  std::string_view what = level <= 0   ? "INFORMATIVE MESSAGE,"
                          : level == 1 ? "POTENTIALLY RECOVERABLE ERROR,"
                                       : "FATAL ERROR,";
  bool aborted = (magnitude == 2 && level >= 1) || (magnitude == 1 && level == 2);
  char line[128];
  xerprn(banner_prefix, -1,
         concatenate(
             line, {what, aborted ? " PROG ABORTED," : " PROG CONTINUES,", " TRACEBACK REQUESTED"}),
         wrap_width);
}

void print_error_number(int error_number) {
  static constexpr std::string_view label = "ERROR NUMBER = ";
  char text[72];
  FixedTextSink sink(text);
  write_formatted(sink, "('ERROR NUMBER = ', I8)", {error_number});
  // The number follows the label without the blanks of its field.
  std::string_view all(text, sizeof text);
  std::size_t digits = all.find_first_not_of(' ', label.size());
  char line[72];
  std::memset(line, ' ', sizeof line);
  std::memcpy(line, text, label.size());
  std::memcpy(line + label.size(), text + digits, sizeof text - digits);
  xerprn(text_prefix, -1, {line, sizeof line}, wrap_width);
}

void print_closing_lines() {
  xerprn(text_prefix, -1, " ", wrap_width);
  xerprn(banner_prefix, -1, "END OF MESSAGE", wrap_width);
  xerprn(" ", 0, " ", wrap_width);
}

[[noreturn]] void reject_invalid_call() {
  xerprn(banner_prefix, -1,
         "FATAL ERROR IN...$$ XERMSG -- INVALID ERROR NUMBER OR LEVEL$$ JOB ABORT DUE TO FATAL "
         "ERROR.",
         wrap_width);
  int unused = 0;
  xersve(" ", " ", " ", 0, 0, 0, unused);
  xerhlt(" ***XERMSG -- INVALID INPUT");
}

}  // namespace

void xermsg(std::string_view library, std::string_view routine, std::string_view message,
            int error_number, int level) {
  int control = j4save(item_control_flag, 0, false);
  int print_limit = j4save(item_print_limit, 0, false);
  if (!valid_call(error_number, level)) reject_invalid_call();

  j4save(item_last_error_number, error_number, true);
  int count = 0;
  xersve(library, routine, message, 1, error_number, level, count);
  if (level == -1 && count > 1) return;

  xercnt(FixedText<8>(library).view(), FixedText<8>(routine).view(), FixedText<20>(message).view(),
         error_number, level, control);
  control = std::clamp(control, -2, 2);
  int magnitude = std::abs(control);

  bool prints = !silenced(level, count, control, print_limit);
  bool full_form = control > 0;  // introduction, error number, traceback
  bool framed = control != 0;    // routine line and closing lines
  if (prints) {
    if (framed) print_routine_line(library, routine);
    if (full_form) print_introduction(level, magnitude);
    xerprn(text_prefix, -1, message, wrap_width);
    if (full_form) {
      print_error_number(error_number);
      fdump();
    }
    if (framed) print_closing_lines();
  }

  bool continues = level <= 0 || (level == 1 && magnitude <= 1);
  if (continues) return;
  bool announces_abort = full_form && count < std::max(1, print_limit);
  if (announces_abort) {
    xerprn(banner_prefix, -1,
           level == 1 ? "JOB ABORT DUE TO UNRECOVERED ERROR." : "JOB ABORT DUE TO FATAL ERROR.",
           wrap_width);
    int unused = 0;
    xersve(" ", " ", " ", -1, 0, 0, unused);  // the summary
    xerhlt(" ");
  }
  xerhlt(message);
}

}  // namespace tolbe
