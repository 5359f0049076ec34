#include "driver/run.h"
#include "io/process_frame.h"

int main() {
  tolbe::install_process_frame();
  tolbe::run_problem();
}
