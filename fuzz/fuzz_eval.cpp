// Fuzz target: arbitrary bytes, cut at the first NUL, as an Eval expression.
#include <cstddef>
#include <cstdint>
#include <string>

#include "remote/eval.h"
#include "remote/qoptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool once = (QOptionsSetPathForTest("/nonexistent/trellisopt.txt"), true);
  (void)once;
  // Exactly the input's bytes plus the terminator: no slack for an overread.
  std::string text(reinterpret_cast<const char*>(data), size);
  volatile int32_t value = Eval(text.c_str());
  (void)value;
  return 0;
}
