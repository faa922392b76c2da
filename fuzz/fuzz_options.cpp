// Fuzz target: arbitrary bytes as the options file, read with QOptionsRead.
#include <cstddef>
#include <cstdint>

#include "fuzz_util.h"
#include "remote/qoptions.h"
#include "text/qstr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzzutil::InputFile input("trellisopt.txt");
  if (!input.Write(data, size)) return 0;
  QStr host;
  int port = 0;
  QOptionsRead(input.Path(), &host, &port);
  volatile size_t length = host.CStr() ? __builtin_strlen(host.CStr()) : 0;
  (void)length;
  return 0;
}
