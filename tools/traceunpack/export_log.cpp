// LogFile::ExportLog: writes the table as a telemetry text log: the header
// comment, the line of names, then one line of "%g" values per sample.
//
// A log that ends early looks complete to every reader, so the text goes to
// a temporary file beside the target that replaces it only once every write
// and the close have succeeded; on any failure the old target stays as it
// was. A table whose MAT-file could not be opened leaves the target alone.
//
// The values are the bulk of the work: QFormatG gives snprintf's "%g" text
// without its locale and argument parsing, rows are laid out in large
// blocks, and on a machine with more than one core two blocks are formatted
// at once. The bytes written do not depend on any of that.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "logtable/logfile.h"
#include "msg/qlog.h"
#include "text/qclock.h"
#include "text/qfmtg.h"
#include "text/qsafefile.h"

namespace {

// Text of one block of rows; large enough that each block is one write.
constexpr size_t kBlockBytes = 4u << 20;

// Lays out rows [first, last) of the table at out; returns the bytes used.
// out must hold (last - first) * RowBound(fields) bytes.
size_t FormatRows(double* const* columns, int fields, int first, int last, char* out) {
  char* p = out;
  if (fields == 0) {
    std::memset(p, '\n', static_cast<size_t>(last - first));
    return static_cast<size_t>(last - first);
  }
  for (int i = first; i < last; ++i) {
    for (int j = 0; j < fields; ++j) {
      p += QFormatG(columns[j][i], p);
      *p++ = ' ';
    }
    p[-1] = '\n';
  }
  return static_cast<size_t>(p - out);
}

size_t RowBound(int fields) {
  return fields == 0 ? 1 : static_cast<size_t>(fields) * (QFMTG_MAXLEN + 1);
}

// Writes every value line. Blocks are formatted in pairs, the second on a
// helper thread, and written in order; without the thread (one core, or
// none to be had) the same blocks are formatted one after the other.
bool WriteRows(QSafeFile& target, double* const* columns, int fields, int records) {
  if (records <= 0) return true;
  size_t bound = RowBound(fields);
  int rowsPerBlock = static_cast<int>(kBlockBytes / bound);
  if (rowsPerBlock < 1) rowsPerBlock = 1;
  bool twoCores = std::thread::hardware_concurrency() > 1 && records > rowsPerBlock;

  std::vector<char> buffers[2];
  int blockRows = records < rowsPerBlock ? records : rowsPerBlock;
  buffers[0].resize(static_cast<size_t>(blockRows) * bound);
  if (twoCores) buffers[1].resize(buffers[0].size());

  for (int first = 0; first < records;) {
    int mid = first + (records - first < rowsPerBlock ? records - first : rowsPerBlock);
    int last = mid;
    size_t used[2] = {0, 0};
    bool helped = false;
    if (twoCores && mid < records) {
      last = mid + (records - mid < rowsPerBlock ? records - mid : rowsPerBlock);
      try {
        std::thread helper([&] {
          used[1] = FormatRows(columns, fields, mid, last, buffers[1].data());
        });
        used[0] = FormatRows(columns, fields, first, mid, buffers[0].data());
        helper.join();
        helped = true;
      } catch (...) {
        // No thread to be had: format the second block here instead.
        twoCores = false;
      }
    }
    if (!helped) {
      last = mid;
      used[0] = FormatRows(columns, fields, first, mid, buffers[0].data());
    }
    if (!target.Write(buffers[0].data(), used[0])) return false;
    if (helped && !target.Write(buffers[1].data(), used[1])) return false;
    first = last;
  }
  return true;
}

}  // namespace

void LogFile::ExportLog(const char* logFileName) {
  if (!imported) {
    QWarning("LogFile:ExportLog(); nothing imported, '%s' left unchanged", logFileName);
    return;
  }
  QSafeFile target;
  if (!target.Open(logFileName)) {
    QWarning("LogFile:ExportLog(); can't open %s for writing.", logFileName);
    return;
  }

  char timeText[40];
  std::snprintf(timeText, sizeof timeText, "%s", QCurrentTime(nullptr));
  const char* dateText = QCurrentDate(nullptr);
  char header[160];
  int headerLength =
      std::snprintf(header, sizeof header, "# Log file written by traceunpack on %s, %s (%d samples)\n",
                    dateText, timeText, recordCount);
  bool ok = headerLength > 0 &&
            target.Write(header, static_cast<size_t>(headerLength) < sizeof header
                                     ? static_cast<size_t>(headerLength)
                                     : sizeof header - 1);

  for (int j = 0; ok && j < fieldCount; ++j) {
    if (j > 0) ok = target.Write(" ", 1);
    const char* name = names[j].CStr();
    if (ok && name) ok = target.Write(name, std::strlen(name));
  }
  if (ok) ok = target.Write("\n", 1);
  if (ok) ok = WriteRows(target, columns, fieldCount, recordCount);

  if (!ok) target.Abort();
  if (!ok || !target.Commit()) {
    QWarning("LogFile:ExportLog(); can't write %s (%s), the file was left as it was",
             logFileName, std::strerror(target.Error()));
  }
}
