#include "errors/message_table.h"

#include "errors/control_store.h"
#include "errors/fixed_text.h"
#include "io/format_writer.h"

namespace tolbe {
namespace {

constexpr int table_size = 10;

struct Entry {
  FixedText<8> library;
  FixedText<8> routine;
  FixedText<20> message;
  int error_number = 0;
  int level = 0;

  bool operator==(const Entry&) const = default;
};

Entry entries[table_size];
int kount[table_size] = {};
int nmsg = 0;
int kountx = 0;

int record(const Entry& key) {
  for (int i = 0; i < nmsg; ++i) {
    if (entries[i] == key) return ++kount[i];
  }
  if (nmsg < table_size) {
    entries[nmsg] = key;
    kount[nmsg++] = 1;
    return 1;
  }
  ++kountx;
  return 0;
}

void print_summary(TextSink& unit) {
  write_formatted(unit,
                  "('0          ERROR MESSAGE SUMMARY',/,' LIBRARY    SUBROUTINE MESSAGE START "
                  "            NERR','     LEVEL     COUNT')");
  for (int i = 0; i < nmsg; ++i) {
    const Entry& e = entries[i];
    write_formatted(
        unit, "(1X,A,3X,A,3X,A,3I10)",
        {e.library.view(), e.routine.view(), e.message.view(), e.error_number, e.level, kount[i]});
  }
  if (kountx != 0) {
    write_formatted(unit, "('0OTHER ERRORS NOT INDIVIDUALLY TABULATED = ',I10)", {kountx});
  }
  write_formatted(unit, "(1X)");
}

}  // namespace

void xersve(std::string_view library, std::string_view routine, std::string_view message, int mode,
            int error_number, int level, int& count) {
  if (mode > 0) {
    count = record(Entry{FixedText<8>(library), FixedText<8>(routine), FixedText<20>(message),
                         error_number, level});
    return;
  }
  if (nmsg == 0) return;
  write_to_units(print_summary);
  if (mode == 0) {
    nmsg = 0;
    kountx = 0;
  }
}

void reset_message_table_for_tests() {
  nmsg = 0;
  kountx = 0;
}

}  // namespace tolbe
