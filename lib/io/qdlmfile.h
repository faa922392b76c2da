// QDLMFile: reader for space-delimited text tables such as the telemetry logs.
//
// Reads one file line by line, skipping comment lines (first byte '#' or
// NUL), counts records and fields, and hands out fields of the current line
// by index. A run of spaces is one separator; carriage returns and line feeds
// never belong to a field; a line ends at its first NUL; a line longer than
// 10239 characters is read in pieces of at most 10239 characters, each a line
// of its own. A UTF-8 byte-order mark at the very start of the file (as many
// editors write one) is not part of the text. The current line is kept in a
// buffer of the reader's own: a NextLine that reads nothing leaves in it what
// the last read brought (a comment too), so after the construction's count it
// holds the file's last line. The file is opened read-only and read by
// positioned reads: the lines handed out, the count (io/qdlmcount.h) and
// the bulk readers (QDLMCursor started on Descriptor()) each through a
// buffer of their own.
//
// A reader whose file did not open behaves as one on an empty file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "io/qdlmcount.h"
#include "io/qdlmcursor.h"

class QDLMFile {
 public:
  static constexpr int kLineBufferSize = 10240;
  // NoofRecs remembers where records start, about every kCheckpointStride
  // records, so that the records can be read in parallel ranges.
  static constexpr uint32_t kCheckpointStride = kQDLMCheckpointStride;

  explicit QDLMFile(const char* fileName);
  ~QDLMFile();
  QDLMFile(const QDLMFile&) = delete;
  QDLMFile& operator=(const QDLMFile&) = delete;

  // Data lines after the field-name line; counted once, a non-zero count
  // remembered. Each count that is made reports "QCSV: NoofRecs()=%u\n".
  uint32_t NoofRecs();
  // Fields of the next data line (space runs + 1), 1 when there is none;
  // rewinds afterwards.
  int NoofFields();
  // Reads the next data line; false at the end of the file (the current
  // line then stays as the last read left it).
  bool NextLine();
  // Copies field i of the current line into out (cut to outSize - 1
  // characters, always terminated). Always true.
  bool GetField(int i, char* out, int outSize) const;
  bool IsEOF() const;
  void Rewind();

  bool IsOpen() const { return fd_ >= 0; }
  int Descriptor() const { return fd_; }
  // The file's size in bytes when it was opened (0 when it did not open).
  uint64_t Size() const { return size_; }
  // The errno of the first read that failed since the file was opened, or 0.
  // Such a failure ends the file early, so callers must not take what was
  // read for the whole file.
  int ReadError() const { return readError_; }

  // The current line, cut at its first NUL (what GetField walks).
  const char* Line() const { return line_.data(); }

  // Record starts found by the last count, in file order, the first at
  // record 0, at most kCheckpointStride records apart.
  const std::vector<QDLMCheckpoint>& Checkpoints() const { return checkpoints_; }

 private:
  // Makes a piece of the file the current line.
  void keepLine(const char* piece, size_t length);

  std::string name_;
  int fd_ = -1;
  uint32_t recordCount_ = 0;
  char delimiter_ = ' ';
  QDLMCursor cursor_;
  uint64_t textStart_ = 0;  // past a byte-order mark
  std::vector<char> line_ = std::vector<char>(kLineBufferSize, '\0');
  size_t lineLength_ = 0;
  std::vector<QDLMCheckpoint> checkpoints_;
  int readError_ = 0;
  uint64_t size_ = 0;
};
