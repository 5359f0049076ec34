#include <cstring>

#include "errors/fixed_text.h"
#include "errors/message_processor.h"
#include "io/format_writer.h"
#include "kernels/blas.h"

namespace tolbe {

void xerbla(std::string_view routine, int argument_number) {
  FixedText<6> name(routine);
  char number[2];
  FixedTextSink sink(number);
  write_formatted(sink, "(I2)", {argument_number});

  char message[59];
  std::size_t size = 0;
  for (std::string_view piece :
       {std::string_view("On entry to "), name.view(), std::string_view(" parameter number "),
        std::string_view(number, 2), std::string_view(" had an illegal value")}) {
    std::memcpy(message + size, piece.data(), piece.size());
    size += piece.size();
  }
  xermsg("SLATEC", name.view(), {message, size}, argument_number, 1);
}

}  // namespace tolbe

// The BLAS routines call this hook by its Fortran name.
extern "C" void xerbla_(const char* routine_name, const int* argument_number,
                        std::size_t name_length) {
  tolbe::xerbla({routine_name, name_length}, *argument_number);
}
