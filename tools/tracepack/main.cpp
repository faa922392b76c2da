// tracepack: converts a telemetry text log into one MAT-file.
#include <cstdio>
#include <memory>

#include "logtable/logfile.h"
#include "msg/qlog.h"

int main(int argc, char** argv) {
  std::printf("Tracepack 1.0\n");
  if (argc < 3) {
    std::printf("Usage: tracepack <logfile> <matfile>\n");
    std::printf("Converts Vantor log files to a single Matlab (v5+) file.\n");
    return 0;
  }
  std::fflush(stdout);
  auto table = std::make_unique<LogFile>();
  table->PlanMatExport(argv[2]);
  table->ImportLog(argv[1]);
  QPrintf("Export material file.\n");
  table->ExportMat(argv[2]);
  table.reset();
  return 0;
}
