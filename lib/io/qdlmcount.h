// The count behind QDLMFile::NoofRecs: a log's data pieces counted in parts,
// one per core, cut at line starts, with the record starts (checkpoints)
// that let the value pass read the records in parallel ranges.
#pragma once

#include <cstdint>
#include <vector>

#include "io/qdlmcursor.h"

// Where a record starts: its index (0: the first line after the field-name
// line) and its file offset.
struct QDLMCheckpoint {
  uint64_t record;
  uint64_t offset;
};

// The count remembers where records start about every this many records,
// so that the records can be read in parallel ranges.
constexpr uint32_t kQDLMCheckpointStride = 8192;

struct QDLMPieceCount {
  uint64_t pieces = 0;  // data pieces, the field-name line included
  // Where records start, in file order, the first at record 0, at most
  // kQDLMCheckpointStride records apart.
  std::vector<QDLMCheckpoint> checkpoints;
  int error = 0;  // the errno of a read that failed, or 0
  // Offset of the file's last piece, comment or not (meaningless without
  // pieces: when begin is the file's size).
  uint64_t lastPiece = 0;
};

// Counts the data pieces of the file fd, size bytes long, from offset begin
// (a line start: what comes before is not part of the text).
QDLMPieceCount QDLMCountPieces(int fd, uint64_t size, uint64_t begin = 0);
