#include "tracepack/value_pass.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <vector>

#include "io/qblocks.h"
#include "io/qdlmcursor.h"
#include "logtable/logfile.h"
#include "msg/qprogress.h"
#include "text/qatof.h"

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

// Converts the fields of one line into row r. A line ends at its first NUL;
// fields it does not reach are 0.0.
void parseLine(const char* p, const char* end, const char* readable, int fieldCount,
               double* const* columns, int r) {
  int j = 0;
  if (readable - end >= kQAtofFieldRoom) {
    // Most fields are short numbers followed by one space, or by the line
    // feed that ends the line. Their ends are found first, from the
    // characters alone, so that converting one field does not hold up
    // finding the next. Anything else leaves the rest of the line to the
    // loop below.
    while (j < fieldCount) {
      // A lone digit (a flag, a gear, a count) needs no search for its end.
      unsigned lone = static_cast<unsigned char>(*p) - unsigned{'0'};
      if (lone <= 9 && p[1] == ' ' && p + 1 < end) {
        columns[j++][r] = static_cast<double>(static_cast<int>(lone));
        p += 2;
        while (p < end && *p == ' ') ++p;
        continue;
      }
      const char* fieldEnd = p + QFieldEnd16(p);
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
      while (p < end && *p == ' ') ++p;
    }
  }
  while (j < fieldCount) {
    const char* start = p;
    const char* fieldEnd = start;
    const char* firstBreak = nullptr;
    bool textAfterBreak = false;
    while (fieldEnd < end && *fieldEnd != ' ' && *fieldEnd != '\0') {
      if (*fieldEnd == '\r' || *fieldEnd == '\n') {
        if (!firstBreak) firstBreak = fieldEnd;
      } else if (firstBreak) {
        textAfterBreak = true;
      }
      ++fieldEnd;
    }
    // Line breaks only matter where dropping them would join text to the
    // number before them ("1\r2" reads as 12).
    if (textAfterBreak)
      columns[j++][r] = fieldValue(start, static_cast<size_t>(fieldEnd - start));
    else
      columns[j++][r] = QAtof(start, static_cast<size_t>((firstBreak ? firstBreak : fieldEnd) - start));
    if (fieldEnd == end || *fieldEnd == '\0') break;
    p = fieldEnd;
    while (p < end && *p == ' ') ++p;
  }
  for (; j < fieldCount; ++j) columns[j][r] = 0.0;
}

// Reads the next count records of the cursor into rows 0 .. count - 1 of
// columns, and counts the bytes read towards the progress shown. EIO when
// the file no longer holds them all (it was cut short since the count),
// the errno of a read that failed, or 0.
int readRecords(QDLMCursor& cursor, int count, int fieldCount, double* const* columns) {
  uint64_t reported = cursor.PieceOffset() + cursor.PieceLength();
  for (int r = 0; r < count; ++r) {
    if (!cursor.NextData()) return cursor.Error() ? cursor.Error() : EIO;
    parseLine(cursor.Piece(), cursor.Piece() + cursor.PieceLength(), cursor.ReadableEnd(),
              fieldCount, columns, r);
    if ((r & 1023) == 1023 || r + 1 == count) {
      uint64_t at = cursor.PieceOffset() + cursor.PieceLength();
      if (at > reported) QProgressAdvance(at - reported, at - reported);
      reported = at;
    }
  }
  return 0;
}

// A block of records read in one go: from record first (at file offset
// offset) up to record last.
struct Range {
  uint64_t offset;
  int first;
  int last;
};

// The records cut at the reader's checkpoints into the blocks the threads
// take.
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

}  // namespace

int ReadValues(const QDLMFile& reader, int recordCount, int fieldCount, RowSink& sink) {
  std::vector<Range> blocks = recordBlocks(reader, recordCount);
  if (blocks.empty() && recordCount > 0) return EIO;  // the count found no place to start
  using Writer = std::unique_ptr<RowSink::Writer>;
  auto readBlock = [&](size_t k, Writer& writer) {
    const Range& block = blocks[k];
    int count = block.last - block.first;
    if (!writer) writer = sink.NewWriter();
    double* rows[LogFile::kMaxFields];
    if (!writer || writer->Rows(block.first, count, rows) != 0) return kSinkFailed;
    QDLMCursor cursor;
    cursor.Start(reader.Descriptor(), block.offset);
    if (int error = readRecords(cursor, count, fieldCount, rows)) return error;
    return writer->Filled(block.first, count);
  };
  auto finish = [](Writer& writer) { return writer ? writer->Finish() : 0; };
  return RunBlocks<Writer>(blocks.size(), readBlock, finish);
}
