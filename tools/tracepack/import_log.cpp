// LogFile::ImportLog: reads a text log into the table.
//
// The reader counts the records, the first data line names the fields, and
// every later data line is one sample. Values are converted exactly as atof
// would convert them; missing fields give 0.0 and extra fields are ignored.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "logtable/logfile.h"
#include "msg/qlog.h"
#include "text/qatof.h"
#include "text/qdlmfile.h"

namespace {

// A field as GetField would give it, converted: carriage returns and line
// feeds inside the field are left out before the conversion.
double fieldValue(const char* text, size_t length) {
  char clean[QDLMFile::kLineBufferSize];
  size_t n = 0;
  for (size_t k = 0; k < length && n < sizeof clean; ++k)
    if (text[k] != '\r' && text[k] != '\n') clean[n++] = text[k];
  return QAtof(clean, n);
}

// Converts the fields of one line into row r, scanning the line once: each
// field is converted where it starts and its end is found on the way. A line
// ends at its first NUL; fields it does not reach are 0.0.
void parseLine(const char* p, const char* end, int fieldCount, double* const* columns, int r) {
  int j = 0;
  while (j < fieldCount) {
    const char* start = p;
    double value = 0.0;
    const char* number = QAtofFast(start, end, &value);
    const char* fieldEnd = number ? number : start;
    bool lineBreak = false;
    bool otherText = false;
    while (fieldEnd < end && *fieldEnd != ' ' && *fieldEnd != '\0') {
      if (*fieldEnd == '\r' || *fieldEnd == '\n') lineBreak = true;
      else otherText = true;
      ++fieldEnd;
    }
    // Text after the number only matters where dropping a line break would
    // join it to the number ("1\r2" reads as 12).
    if (!number || (lineBreak && otherText))
      value = fieldValue(start, static_cast<size_t>(fieldEnd - start));
    columns[j++][r] = value;
    if (fieldEnd == end || *fieldEnd == '\0') break;
    p = fieldEnd;
    while (p < end && *p == ' ') ++p;
  }
  for (; j < fieldCount; ++j) columns[j][r] = 0.0;
}

// Reads records [first, last) starting at the file offset of record first
// and stores their values. Each range has its own cursor, so ranges can be
// read by several threads at once into their own rows of the columns.
// *error receives the errno of a read that failed, else 0.
void readRecords(int fd, uint64_t offset, int first, int last, int fieldCount,
                 double* const* columns, int* error) {
  QDLMCursor cursor;
  cursor.Start(fd, offset);
  for (int r = first; r < last; ++r) {
    if (cursor.NextData())
      parseLine(cursor.Piece(), cursor.Piece() + cursor.PieceLength(), fieldCount, columns, r);
    else
      parseLine("", "", fieldCount, columns, r);
  }
  *error = cursor.Error();
}

// The value pass, split into ranges that start at the reader's checkpoints
// and run on the machine's cores. Every value lands in its own place, so the
// table is the same whatever the number of threads. Returns the errno of a
// read that failed, else 0.
int readAllRecords(const QDLMFile& reader, int recordCount, int fieldCount,
                   double* const* columns) {
  const std::vector<uint64_t>& checkpoints = reader.Checkpoints();
  if (recordCount <= 0 || checkpoints.empty()) return 0;
  const int stride = static_cast<int>(QDLMFile::kCheckpointStride);
  unsigned cores = std::thread::hardware_concurrency();
  int threads = static_cast<int>(std::min(cores == 0 ? 1u : cores, 8u));
  int blocks = static_cast<int>(checkpoints.size());
  if (recordCount < 4 * stride) threads = 1;
  threads = std::min(threads, blocks);
  int blocksPerThread = (blocks + threads - 1) / threads;
  std::vector<int> errors(static_cast<size_t>(threads), 0);
  std::vector<std::thread> workers;
  for (int t = 1; t < threads; ++t) {
    int firstBlock = t * blocksPerThread;
    if (firstBlock >= blocks) break;
    int first = firstBlock * stride;
    int last = std::min(recordCount, (firstBlock + blocksPerThread) * stride);
    try {
      workers.emplace_back(readRecords, reader.Descriptor(), checkpoints[firstBlock], first,
                           last, fieldCount, columns, &errors[static_cast<size_t>(t)]);
    } catch (...) {
      // No thread to be had: read that range here instead.
      readRecords(reader.Descriptor(), checkpoints[firstBlock], first, last, fieldCount,
                  columns, &errors[static_cast<size_t>(t)]);
    }
  }
  readRecords(reader.Descriptor(), checkpoints[0], 0, std::min(recordCount, blocksPerThread * stride),
              fieldCount, columns, &errors[0]);
  for (std::thread& w : workers) w.join();
  for (int e : errors)
    if (e) return e;
  return 0;
}

}  // namespace

void LogFile::ImportLog(const char* logFileName) {
  ReleaseColumns();
  QDLMFile reader(logFileName);
  imported = reader.IsOpen();

  uint32_t records = reader.NoofRecs();
  QPrintf("%d records.\n", static_cast<int>(records));
  recordCount = records > INT_MAX ? INT_MAX : static_cast<int>(records);

  int fields = reader.NoofFields();
  if (fields > kMaxFields) {
    QPrintf("%d fields\n", kMaxFields);
    QWarning("LogFile:ImportLog(); %d fields found, only the first %d are kept", fields,
             kMaxFields);
    fields = kMaxFields;
  } else {
    QPrintf("%d fields\n", fields);
  }
  fieldCount = fields;

  reader.NextLine();
  char buffer[QDLMFile::kLineBufferSize];
  bool columnsOk = records <= INT_MAX;
  for (int i = 0; i < fieldCount; ++i) {
    reader.GetField(i, buffer, sizeof buffer);
    names[i].Assign(buffer);
    QPrintf("Field %d: %s\n", i, names[i].CStr());
    size_t bytes = static_cast<size_t>(recordCount) * sizeof(double);
    columns[i] = static_cast<double*>(std::malloc(bytes > 0 ? bytes : 1));
    if (!columns[i]) columnsOk = false;
  }
  QPrintf("Reading log file...\n");

  if (!columnsOk) {
    // Without room for every column the table cannot hold the log: say so
    // and leave nothing behind that an export could take for the data.
    QWarning("LogFile:ImportLog(); not enough memory for %u records of %d fields",
             records, fieldCount);
    ReleaseColumns();
    imported = false;
    return;
  }

  int error = readAllRecords(reader, recordCount, fieldCount, columns);
  if (!error) error = reader.ReadError();
  if (error) {
    // A read that failed ends the file early: what was read is not the log.
    QWarning("LogFile:ImportLog(); can't read '%s' (%s)", logFileName, std::strerror(error));
    ReleaseColumns();
    imported = false;
  }
}
