#include "errors/fixed_text.h"
#include "errors/message_processor.h"
#include "io/format_writer.h"
#include "program_support.h"

namespace tolbe {

void xerbla(std::string_view routine, int argument_number) {
  FixedText<6> name(routine);
  char number[2];
  FixedTextSink sink(number);
  write_formatted(sink, "(I2)", {argument_number});

  char message[59];
  xermsg("SLATEC", name.view(),
         concatenate(message, {"On entry to ", name.view(), " parameter number ",
                               std::string_view(number, 2), " had an illegal value"}),
         argument_number, 1);
}

}  // namespace tolbe

// The BLAS routines call this hook by its Fortran name.
extern "C" void xerbla_(const char* routine_name, const int* argument_number,
                        std::size_t name_length) {
  tolbe::xerbla({routine_name, name_length}, *argument_number);
}
