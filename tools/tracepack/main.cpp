// tracepack: converts a telemetry text log into one MAT-file.
#include <cstdio>

#include "platform/child_process.h"
#include "remote/qremotelog.h"
#include "tracepack/pack_log.h"

int main(int argc, char** argv) {
  // Where this run is a child the program started for work of its own, it
  // does that work and ends here.
  platform::RunChildIfStarted();
  QRemoteLogInstall();
  std::printf("Tracepack %s\n", TRACE_VERSION);
  if (argc < 3) {
    std::printf("Usage: tracepack <logfile> <matfile>\n");
    std::printf("Converts Vantor log files to a single Matlab (v5+) file.\n");
    return 0;
  }
  // The banner must come before the messages on standard error.
  std::fflush(stdout);
  PackLog(argv[1], argv[2]);
  return 0;
}
