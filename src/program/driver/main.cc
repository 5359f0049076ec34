#include "driver/run.h"
#include "io/process_frame.h"

int main() {
  tolbe::install_process_frame();
  static tolbe::RunState state;
  tolbe::run_problem(state);
}
