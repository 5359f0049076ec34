#pragma once

#include <cstdint>

#include "io/input_stream.h"

namespace tolbe {

// Why a read statement failed: the two texts of the first diagnostic line.
// `message` is null for a read failure of the stream; `error_number` then
// holds its errno.
struct ReadError {
  const char* context = nullptr;
  const char* message = nullptr;
  int error_number = 0;
};

// The free-format ("list-directed") reader of the problem.
//
// A statement is begin_statement(), one read() per item, end_statement().
// Values are separated by blanks, tabs, line ends or one comma; a comma alone
// or a slash leaves items unchanged; r*c repeats c, r* repeats a null; at the
// end of a statement the rest of its line is discarded. An item that starts at
// an asterisk has a bad repeat count. An exponent may follow a mantissa
// without digits only in its sign form (".-3"); such a field, like a lone
// sign or point, is a null value when a comma or slash ends it. "r*" directly
// at the end of the input is an invalid number. Conversion is
// correctly rounded; magnitudes beyond the double range give an infinity or a
// signed zero. Integer items are truncated toward zero and saturate to the
// 32-bit range.
//
// After the first failure every call does nothing and failed() is true; the
// item that failed and the later ones are left unchanged. The end of input,
// once met, is remembered across statements: a later statement fails at its
// start ("read start"). Does not allocate.
class ListReader {
 public:
  explicit ListReader(InputStream& input) : input_(input) {}

  void begin_statement();
  void read(std::int32_t& item);
  void read(double& item) {
    if (failed_) return;
    if (!slash_seen_ && copies_left_ == 0 && read_plain_in_place(item)) return;
    read_general(item);
  }
  void end_statement();

  bool failed() const { return failed_; }
  // Where the field of the last item scanned field by field began, as an
  // offset into the input: after a failure, the field that failed.
  std::size_t field_offset() const { return field_offset_; }
  // Whether a slash ended the current statement.
  bool slash_ended() const { return slash_seen_; }
  const ReadError& error() const { return error_; }

 private:
  enum class ItemKind { integer, real };
  // Scans the next item: true when it has a value, which is then in value_
  // (false for a null, a slash or a failure; failed() tells them apart).
  bool next_item(ItemKind kind);
  bool scan_field(ItemKind kind);
  bool scan_plain_field(ItemKind kind);
  bool read_plain_in_place(double& item);
  void read_general(double& item);
  long scan_exponent(ItemKind kind, bool mantissa_has_digit);
  void skip_separator();
  void fail(const char* context, const char* message);
  void note_end_or_failure(int c);

  // The next byte, end_of_input or read_failure; the end and a read failure
  // are remembered.
  int peek() {
    int c = input_.peek();
    if (c < 0) [[unlikely]]
      note_end_or_failure(c);
    return c;
  }
  // Consumes the byte a peek() has just returned (never the end).
  void advance() { input_.get(); }

  InputStream& input_;
  bool end_met_ = false;
  bool failed_ = false;
  bool slash_seen_ = false;
  std::size_t field_offset_ = 0;
  std::int32_t copies_left_ = 0;
  bool repeat_is_null_ = false;
  double value_ = 0.0;
  ReadError error_;
};

}  // namespace tolbe
