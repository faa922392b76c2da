// tracepack's pipeline, in the order the work is done:
//   1. count the records and take the field names;
//   2. choose where the rows go: straight into the MAT-file, laid out now
//      that its size is known (level 5, or 7.3 for fields too long for
//      level 5), or into the table's columns where the file cannot be laid
//      out in advance (a device or pipe, no room, a field without a name);
//   3. the value pass into those rows;
//   4. commit: complete the laid-out file, or write the table as a MAT-file.
// The messages and the file are the same whichever way the rows went.
#include "tracepack/pack_log.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <memory>
#include <optional>

#include "io/qdlmfile.h"
#include "logtable/logfile.h"
#include "mat/mat.h"
#include "msg/qlog.h"
#include "msg/qprogress.h"
#include "tracepack/export_mat.h"
#include "tracepack/import_log.h"
#include "tracepack/mat_row_sink.h"
#include "tracepack/value_pass.h"

namespace {

// Steps 2 and 3 straight into the MAT-file. Null, with nothing left behind,
// where the file cannot be laid out or a read or write fails: the table then
// takes the rows, and reports a read that fails again.
std::unique_ptr<MatRowSink> readIntoMat(const QDLMFile& reader, uint32_t records,
                                        const LogFile& table, const char* matFileName) {
  if (records > INT_MAX) return nullptr;
  std::unique_ptr<MatRowSink> sink = MatRowSink::Open(matFileName, table);
  if (!sink) return nullptr;
  int error = ReadValues(reader, table.recordCount, table.fieldCount, *sink);
  if (!error) error = reader.ReadError();
  if (error) {
    sink->Abort();
    return nullptr;
  }
  return sink;
}

}  // namespace

void PackLog(const char* logFileName, const char* matFileName) {
  LogFile table;
  std::unique_ptr<MatRowSink> written;
  {
    // The log stays open for steps 1 to 3 only.
    QDLMFile reader(logFileName);
    uint32_t records = ReadLogHeader(reader, table);
    // The value pass is the long part of a conversion: a terminal shows how
    // far it has come through the file.
    std::optional<QProgress> progress;
    StartReadProgress(reader, progress);
    written = readIntoMat(reader, records, table, matFileName);
    if (!written) ReadIntoColumns(reader, records, logFileName, table, progress);
  }

  QPrintf("Export material file.\n");
  if (written) {
    if (matNeedsV73(static_cast<size_t>(table.recordCount))) InformMatV73(matFileName, table.recordCount);
    if (!written->Commit()) WarnMatNotCompleted(matFileName, errno);
  } else {
    table.ExportMat(matFileName);
  }
}
