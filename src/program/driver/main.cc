#include <unistd.h>

#include "driver/run.h"
#include "io/process_frame.h"

int main() {
  tolbe::install_process_frame();
  static tolbe::RunState state;
  static tolbe::InputStream input(STDIN_FILENO);
  tolbe::run_problem(state, input);
}
