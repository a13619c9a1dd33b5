#include "lockswap/lockswap.h"

int main(int argc, char** argv) {
  std::uint32_t code = zw::lockswap::run(argc, argv, stdout);
  // A process's exit status keeps 8 bits: a larger code, cut, could read as
  // success, so it ends as 255 (the error line has it whole).
  return code <= 255 ? static_cast<int>(code) : 255;
}
