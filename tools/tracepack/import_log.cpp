// LogFile::ImportLog: reads a text log into the table.
//
// The reader counts the records, the first data line names the fields, and
// every later data line is one sample. Values are converted exactly as atof
// would convert them; missing fields give 0.0 and extra fields are ignored.
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "logtable/logfile.h"
#include "mat/mat.h"
#include "mat/mat_rows.h"
#include "msg/qlog.h"
#include "msg/qprogress.h"
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
void parseLine(const char* p, const char* end, const char* readable, int fieldCount,
               double* const* columns, int r) {
  int j = 0;
  if (readable - end >= qatof_detail::kShortRoom) {
    // Most fields are short numbers followed by one space, or by the line
    // feed that ends the line. Their ends are found first, from the
    // characters alone, so that converting one field does not hold up
    // finding the next. Anything else leaves the rest of the line to the
    // loop below.
    while (j < fieldCount) {
      const char* fieldEnd = p + qatof_detail::firstStop16(p);
      double value;
      if (fieldEnd >= end || !QAtofField(p, fieldEnd, &value)) break;
      if (*fieldEnd != ' ') {
        if (*fieldEnd != '\n' || fieldEnd + 1 != end) break;
        columns[j++][r] = value;
        for (; j < fieldCount; ++j) columns[j][r] = 0.0;
        return;
      }
      columns[j++][r] = value;
      p = fieldEnd + 1;
      while (*p == ' ' && p < end) ++p;
    }
  }
  while (j < fieldCount) {
    const char* start = p;
    double value = 0.0;
    const char* number = QAtofFast(start, end, &value, readable);
    if (number && number < end && *number == ' ') {
      // The common case: a number and a space after it.
      columns[j++][r] = value;
      p = number + 1;
      while (p < end && *p == ' ') ++p;
      continue;
    }
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

// Reads the next count records of the cursor into rows 0 .. count - 1 of
// columns (records the file no longer holds give zeros), and counts the
// bytes read towards the progress shown.
void readRecords(QDLMCursor& cursor, int count, int fieldCount, double* const* columns) {
  uint64_t reported = cursor.PieceOffset() + cursor.PieceLength();
  for (int r = 0; r < count; ++r) {
    if (cursor.NextData())
      parseLine(cursor.Piece(), cursor.Piece() + cursor.PieceLength(), cursor.ReadableEnd(),
                fieldCount, columns, r);
    else
      parseLine("", "", nullptr, fieldCount, columns, r);
    if ((r & 1023) == 1023 || r + 1 == count) {
      uint64_t at = cursor.PieceOffset() + cursor.PieceLength();
      if (at > reported) QProgressAdvance(at - reported, at - reported);
      reported = at;
    }
  }
}

// A run of records read in one go: from record first (at file offset
// offset) up to record last.
struct Range {
  uint64_t offset;
  int first;
  int last;
};

// The records cut at the reader's checkpoints into blocks.
std::vector<Range> recordBlocks(const QDLMFile& reader, int recordCount) {
  const std::vector<QDLMCheckpoint>& checkpoints = reader.Checkpoints();
  std::vector<Range> blocks;
  for (size_t k = 0; k < checkpoints.size(); ++k) {
    if (checkpoints[k].record >= static_cast<uint64_t>(recordCount)) break;
    uint64_t last = k + 1 < checkpoints.size() ? checkpoints[k + 1].record : recordCount;
    blocks.push_back({checkpoints[k].offset, static_cast<int>(checkpoints[k].record),
                      static_cast<int>(std::min<uint64_t>(last, recordCount))});
  }
  if (!blocks.empty()) blocks.back().last = recordCount;
  return blocks;
}

// Runs work(block, state) on every block, the blocks handed out in file
// order to one thread per core (this one among them), so that a thread held
// up by other work on the machine leaves its share to the others; each
// thread has a State of its own, handed to finish(state) when no block is
// left. work and finish return 0, or non-zero to stop the handing out: the
// first such result is returned.
template <class State, class Work, class Finish>
int runBlocks(const std::vector<Range>& blocks, Work work, Finish finish) {
  std::atomic<size_t> next{0};
  std::atomic<int> result{0};
  auto loop = [&] {
    State state;
    int none = 0;
    for (size_t k; result.load() == 0 && (k = next.fetch_add(1)) < blocks.size();)
      if (int r = work(blocks[k], state)) result.compare_exchange_strong(none, r);
    if (result.load() == 0)
      if (int r = finish(state)) result.compare_exchange_strong(none, r);
  };
  unsigned cores = std::thread::hardware_concurrency();
  size_t threads = std::min<size_t>({cores == 0 ? 1 : cores, 8, blocks.size()});
  std::vector<std::thread> workers;
  for (size_t t = 1; t < threads; ++t) {
    try {
      workers.emplace_back(loop);
    } catch (...) {
      break;  // no thread to be had: fewer threads share the blocks
    }
  }
  loop();
  for (std::thread& w : workers) w.join();
  return result.load();
}

// The value pass into the table: every value lands in its own place, so
// the table is the same whatever the number of threads. Returns the errno of
// a read that failed, else 0.
int readAllRecords(const QDLMFile& reader, int recordCount, int fieldCount,
                   double* const* columns) {
  std::vector<Range> blocks = recordBlocks(reader, recordCount);
  if (blocks.empty() && recordCount > 0) return EIO;  // the count found no place to start
  struct NoState {};
  auto nothingLeft = [](NoState&) { return 0; };
  return runBlocks<NoState>(blocks, [&](const Range& block, NoState&) {
    double* rows[LogFile::kMaxFields];
    for (int i = 0; i < fieldCount; ++i) rows[i] = columns[i] + block.first;
    QDLMCursor cursor;
    cursor.Start(reader, block.offset);
    cursor.ReleaseBehind();  // the table holds the values now
    auto read = [&] { readRecords(cursor, block.last - block.first, fieldCount, rows); };
    int error = QDLMGuarded(read);
    cursor.ReleaseRead();
    return error ? error : cursor.Error();
  }, nothingLeft);
}

// The value pass straight into a laid-out MAT-file: each thread converts
// blocks of records into columns of its own and writes every column's piece
// at its place. Returns the errno of a read that failed (*written then tells
// nothing), else 0 with *written false when a write failed.
int writeAllRecords(const QDLMFile& reader, int recordCount, int fieldCount, MATRowFile& out,
                    bool* written) {
  constexpr int kWriteFailed = -1;
  std::vector<Range> blocks = recordBlocks(reader, recordCount);
  if (blocks.empty() && recordCount > 0) return EIO;  // the count found no place to start
  const size_t rowsAtMost = QDLMFile::kCheckpointStride;
  const size_t valuesAtMost = rowsAtMost * static_cast<size_t>(fieldCount);

  // The file takes one write at a time (the kernel locks it for each), so
  // the threads take turns by a lock of their own. A thread that finds it
  // taken holds its block back and reads the next one rather than wait; it
  // waits only with a block already held back.
  struct Writer {
    // A block's columns, one after the other, each rowsAtMost long. They
    // are not cleared: the read sets every row of every column.
    std::unique_ptr<double[]> values;  // the block being read
    std::unique_ptr<double[]> held;    // a block read but not written yet
    Range heldBlock{0, 0, 0};
    bool holding = false;
  };
  auto column = [&](double* values, int i) { return values + rowsAtMost * static_cast<size_t>(i); };
  std::mutex fileLock;
  auto writeBlock = [&](const Range& block, double* values) {
    size_t count = static_cast<size_t>(block.last - block.first);
    for (int i = 0; i < fieldCount; ++i)
      if (!out.Write(i, static_cast<size_t>(block.first), column(values, i), count)) return false;
    return true;
  };
  // Writes the held block, then the given one if any; the lock is held.
  auto writeHeld = [&](Writer& w, const Range* block) {
    std::lock_guard<std::mutex> guard(fileLock, std::adopt_lock);
    if (w.holding && !writeBlock(w.heldBlock, w.held.get())) return kWriteFailed;
    w.holding = false;
    return !block || writeBlock(*block, w.values.get()) ? 0 : kWriteFailed;
  };

  auto readBlock = [&](const Range& block, Writer& w) {
    if (!w.values) w.values.reset(new (std::nothrow) double[valuesAtMost]);
    if (!w.values) return kWriteFailed;
    double* rows[LogFile::kMaxFields];
    for (int i = 0; i < fieldCount; ++i) rows[i] = column(w.values.get(), i);
    int count = block.last - block.first;
    if (count > static_cast<int>(rowsAtMost)) return kWriteFailed;  // checkpoints are closer
    QDLMCursor cursor;
    cursor.Start(reader, block.offset);
    // What has been read is let go of on the way, by both threads, rather
    // than all at once by one when the file is closed.
    cursor.ReleaseBehind();
    auto read = [&] { readRecords(cursor, count, fieldCount, rows); };
    if (int lost = QDLMGuarded(read)) return lost;
    if (cursor.Error()) return cursor.Error();
    cursor.ReleaseRead();
    if (!fileLock.try_lock()) {
      if (!w.holding) {
        std::swap(w.values, w.held);
        w.heldBlock = block;
        w.holding = true;
        return 0;
      }
      fileLock.lock();
    }
    return writeHeld(w, &block);
  };
  auto writeLastHeld = [&](Writer& w) {
    if (!w.holding) return 0;
    fileLock.lock();
    return writeHeld(w, nullptr);
  };
  int result = runBlocks<Writer>(blocks, readBlock, writeLastHeld);
  *written = result != kWriteFailed;
  return result == kWriteFailed ? 0 : result;
}

}  // namespace

void LogFile::PlanMatExport(const char* matFileName) {
  plannedMat_ = matFileName ? matFileName : "";
}

// Lays out the planned MAT-file and writes every record into it. False, with
// nothing left behind, when that cannot be done or a read or write fails:
// the table is then filled instead, which also reports a failed read.
bool LogFile::streamIntoMat(QDLMFile& reader) {
  if (plannedMat_.empty() || recordCount <= 0 || matNeedsV73(static_cast<size_t>(recordCount)))
    return false;
  const char* fieldNames[kMaxFields];
  for (int i = 0; i < fieldCount; ++i) fieldNames[i] = names[i].CStr();
  auto file = std::make_unique<MATRowFile>();
  if (!file->Open(plannedMat_.c_str(), fieldNames, fieldCount, static_cast<size_t>(recordCount)))
    return false;
  bool written = false;
  int error = writeAllRecords(reader, recordCount, fieldCount, *file, &written);
  if (!error) error = reader.ReadError();
  if (error || !written) {
    file->Abort();
    return false;
  }
  pendingMat_ = std::move(file);
  return true;
}

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
  for (int i = 0; i < fieldCount; ++i) {
    reader.GetField(i, buffer, sizeof buffer);
    names[i].Assign(buffer);
    QPrintf("Field %d: %s\n", i, names[i].CStr());
  }
  QPrintf("Reading log file...\n");

  // The value pass is the long part of a conversion: a terminal shows how far
  // it has come through the file.
  struct stat st;
  uint64_t size = reader.IsOpen() && ::fstat(reader.Descriptor(), &st) == 0 && st.st_size > 0
                      ? static_cast<uint64_t>(st.st_size) : 0;
  std::optional<QProgress> progress(std::in_place, "Reading log file", size);
  if (records <= INT_MAX && streamIntoMat(reader)) return;

  bool columnsOk = records <= INT_MAX;
  size_t bytes = static_cast<size_t>(recordCount) * sizeof(double);
  for (int i = 0; i < fieldCount && columnsOk; ++i) {
    columns[i] = static_cast<double*>(std::malloc(bytes > 0 ? bytes : 1));
    if (!columns[i]) columnsOk = false;
  }
  if (!columnsOk) {
    // Without room for every column the table cannot hold the log: say so
    // and leave nothing behind that an export could take for the data.
    progress.reset();
    QWarning("LogFile:ImportLog(); not enough memory for %u records of %d fields",
             records, fieldCount);
    ReleaseColumns();
    imported = false;
    return;
  }

  int error = readAllRecords(reader, recordCount, fieldCount, columns);
  if (!error) error = reader.ReadError();
  progress.reset();  // the line is erased before any warning
  if (error) {
    // A read that failed ends the file early: what was read is not the log.
    QWarning("LogFile:ImportLog(); can't read '%s' (%s)", logFileName, std::strerror(error));
    ReleaseColumns();
    imported = false;
  }
}
