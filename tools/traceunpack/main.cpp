// traceunpack: converts one MAT-file into a telemetry text log.
#include <cstdio>
#include <memory>

#include "logtable/logfile.h"
#include "msg/qlog.h"
#include "platform/child_process.h"
#include "remote/qremotelog.h"

int main(int argc, char** argv) {
  // Where this run is a child the program started for work of its own, it
  // does that work and ends here.
  platform::RunChildIfStarted();
  QRemoteLogInstall();
  std::printf("Traceunpack %s\n", TRACE_VERSION);
  if (argc < 3) {
    std::printf("Usage: traceunpack <matfile> <logfile>\n");
    std::printf("Converts Matlab (v5+) files to Vantor log (ASCII) files.\n");
    return 0;
  }
  // The banner must come before the messages on standard error.
  std::fflush(stdout);
  auto table = std::make_unique<LogFile>();
  table->ImportMat(argv[1]);
  QPrintf("Export Vantor log file.\n");
  table->ExportLog(argv[2]);
  table.reset();
  return 0;
}
