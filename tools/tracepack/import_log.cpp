// LogFile::ImportLog: reads a text log into the table.
//
// The reader counts the records, the first data line names the fields, and
// every later data line is one sample. Values are converted exactly as atof
// would convert them; missing fields give 0.0 and extra fields are ignored.
#include "tracepack/import_log.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "msg/qlog.h"
#include "platform/memory.h"
#include "tracepack/name_check.h"
#include "tracepack/value_pass.h"

namespace {

// The value pass straight into the table: every value lands in its own
// place, so the table is the same whatever the number of threads.
class ColumnSink : public RowSink {
 public:
  explicit ColumnSink(LogFile& table) : table_(table) {}

  std::unique_ptr<Writer> NewWriter() override {
    return std::unique_ptr<Writer>(new (std::nothrow) ColumnWriter(table_));
  }

 private:
  class ColumnWriter : public Writer {
   public:
    explicit ColumnWriter(LogFile& table) : table_(table) {}
    int Rows(int first, int, double** rows) override {
      for (int i = 0; i < table_.fieldCount; ++i) rows[i] = table_.columns[i] + first;
      return 0;
    }
    int Filled(int, int) override { return 0; }

   private:
    LogFile& table_;
  };

  LogFile& table_;
};

}  // namespace

uint32_t ReadLogHeader(QDLMFile& reader, LogFile& table) {
  table.imported = reader.IsOpen();
  uint32_t records = reader.NoofRecs();
  QPrintf("%u records.\n", records);
  table.recordCount = records > INT_MAX ? INT_MAX : static_cast<int>(records);

  int fields = reader.NoofFields();
  if (fields > LogFile::kMaxFields) {
    QPrintf("%d fields\n", LogFile::kMaxFields);
    QWarning("LogFile:ImportLog(); %d fields found, only the first %d are kept", fields,
             LogFile::kMaxFields);
    fields = LogFile::kMaxFields;
  } else {
    QPrintf("%d fields\n", fields);
  }
  table.fieldCount = fields;

  // Names come only from a line read here: a log without data lines keeps
  // a comment as the reader's line, which names nothing.
  bool named = reader.NextLine();
  char buffer[QDLMFile::kLineBufferSize] = "";
  for (int i = 0; i < table.fieldCount; ++i) {
    if (named) reader.GetField(i, buffer, sizeof buffer);
    table.names[i].Assign(buffer);
    QPrintf("Field %d: %s\n", i, table.names[i].CStr());
  }
  WarnUnloadableNames(table);
  QPrintf("Reading log file...\n");
  return records;
}

void StartReadProgress(const QDLMFile& reader, std::optional<QProgress>& progress) {
  progress.emplace("Reading log file", reader.Size());
}

void ReadIntoColumns(const QDLMFile& reader, uint32_t records, const char* logFileName,
                     LogFile& table, std::optional<QProgress>& progress) {
  bool columnsOk = records <= INT_MAX;
  size_t bytes = static_cast<size_t>(table.recordCount) * sizeof(double);
  for (int i = 0; i < table.fieldCount && columnsOk; ++i) {
    table.columns[i] = static_cast<double*>(platform::AllocateLarge(bytes));
    if (!table.columns[i]) columnsOk = false;
  }
  if (!columnsOk) {
    // Without room for every column the table cannot hold the log: say so
    // and leave nothing behind that an export could take for the data.
    progress.reset();
    QWarning("LogFile:ImportLog(); not enough memory for %u records of %d fields", records,
             table.fieldCount);
    table.ReleaseColumns();
    table.imported = false;
    return;
  }

  ColumnSink sink(table);
  int error = ReadValues(reader, table.recordCount, table.fieldCount, sink);
  if (!error) error = reader.ReadError();
  progress.reset();  // the line is erased before any warning
  if (error) {
    // A read that failed ends the file early: what was read is not the log.
    QWarning("LogFile:ImportLog(); can't read '%s' (%s)", logFileName,
             std::strerror(error > 0 ? error : ENOMEM));
    table.ReleaseColumns();
    table.imported = false;
  }
}

void LogFile::ImportLog(const char* logFileName) {
  ReleaseColumns();
  QDLMFile reader(logFileName);
  uint32_t records = ReadLogHeader(reader, *this);
  // The value pass is the long part of a conversion: a terminal shows how far
  // it has come through the file.
  std::optional<QProgress> progress;
  StartReadProgress(reader, progress);
  ReadIntoColumns(reader, records, logFileName, *this, progress);
}
