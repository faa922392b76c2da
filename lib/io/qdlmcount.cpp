#include "io/qdlmcount.h"

#include <algorithm>
#include <cstring>

#include "io/qblocks.h"
#include "platform/file_io.h"

namespace {

// Large files are counted in parts, one per core, cut at line starts.
constexpr uint64_t kPartMinimum = 8 << 20;
constexpr size_t kPartsAtMost = 8;

// What one part of the file holds: its data pieces and the offsets of every
// kCheckpointStride-th of them, counted from its first.
struct PartCount {
  uint64_t pieces = 0;
  std::vector<uint64_t> marks;
  uint64_t second = 0;  // offset of its second piece, if it has one
  uint64_t last = 0;    // offset of the last piece read, comments included
  int error = 0;
};

// Counts the data pieces that start in [begin, end) (end 0: the end of the
// file); begin must be a line start.
void countPart(int fd, uint64_t begin, uint64_t end, PartCount* out) {
  QDLMCursor cursor;
  cursor.Start(fd, begin);
  // Only line starts matter here, so the pieces are not searched for NULs.
  while (cursor.NextData()) {
    if (end != 0 && cursor.PieceOffset() >= end) break;
    if (out->pieces % kQDLMCheckpointStride == 0) out->marks.push_back(cursor.PieceOffset());
    if (out->pieces == 1) out->second = cursor.PieceOffset();
    ++out->pieces;
  }
  out->error = cursor.Error();
  out->last = cursor.PieceOffset();
}

// The first line start at or after offset and before limit (0 if there is
// none, or a read fails: the part is then left out).
uint64_t lineStartFrom(int fd, uint64_t offset, uint64_t limit) {
  char buffer[64 << 10];
  uint64_t at = offset - 1;  // a line starts after a line feed
  while (at < limit) {
    long long n = platform::ReadAt(fd, buffer, sizeof buffer, at);
    if (n <= 0) return 0;
    if (const void* nl = std::memchr(buffer, '\n', static_cast<size_t>(n)))
      return at + static_cast<uint64_t>(static_cast<const char*>(nl) - buffer) + 1;
    at += static_cast<uint64_t>(n);
  }
  return 0;
}

}  // namespace

QDLMPieceCount QDLMCountPieces(int fd, uint64_t size, uint64_t begin) {
  uint64_t parts = BlockThreads(static_cast<size_t>(size / kPartMinimum + 1), kPartsAtMost);
  std::vector<uint64_t> starts = {begin};
  for (uint64_t t = 1; t < parts; ++t) {
    uint64_t start = lineStartFrom(fd, size / parts * t, size / parts * (t + 1));
    if (start > starts.back() && start < size) starts.push_back(start);
  }
  std::vector<PartCount> counts(starts.size());
  RunBlocks(starts.size(), [&](size_t t) {
    uint64_t end = t + 1 < starts.size() ? starts[t + 1] : 0;
    countPart(fd, starts[t], end, &counts[t]);
    return 0;
  }, kPartsAtMost);

  // The first data piece names the fields; records are numbered after it,
  // so record 0 is the file's second piece, and the parts' marks give the
  // rest of the checkpoints.
  QDLMPieceCount result;
  uint64_t lines = 0;
  for (const PartCount& part : counts) {
    if (lines <= 1 && lines + part.pieces > 1)
      result.checkpoints.push_back({0, lines == 1 ? part.marks[0] : part.second});
    lines += part.pieces;
  }
  uint64_t before = 0;
  for (const PartCount& part : counts) {
    if (part.error && !result.error) result.error = part.error;
    for (size_t k = 0; k < part.marks.size(); ++k) {
      uint64_t piece = before + k * kQDLMCheckpointStride;
      if (piece >= 2 && !result.checkpoints.empty())
        result.checkpoints.push_back({piece - 1, part.marks[k]});
    }
    before += part.pieces;
  }
  result.pieces = lines;
  // The last part reads on to the end of the file.
  result.lastPiece = counts.back().last;
  return result;
}
