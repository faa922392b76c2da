// QDLMFile: reader for space-delimited text tables such as the telemetry logs.
//
// Reads one file line by line, skipping comment lines (first byte '#' or
// NUL), counts records and fields, and hands out fields of the current line
// by index. A run of spaces is one separator; carriage returns and line feeds
// never belong to a field; a line longer than 10239 characters is read in
// pieces of at most 10239 characters, each a line of its own. The file is
// opened read-only and read through one large buffer.
//
// A reader whose file did not open behaves as one on an empty file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class QDLMFile {
 public:
  static constexpr int kLineBufferSize = 10240;

  explicit QDLMFile(const char* fileName);
  ~QDLMFile();
  QDLMFile(const QDLMFile&) = delete;
  QDLMFile& operator=(const QDLMFile&) = delete;

  // Data lines after the field-name line; counted once, a non-zero count
  // remembered. Each count that is made reports "QCSV: NoofRecs()=%d\n".
  uint32_t NoofRecs();
  // Fields of the next data line (space runs + 1); rewinds afterwards.
  int NoofFields();
  // Reads the next data line; false at the end of the file.
  bool NextLine();
  // Copies field i of the current line into out (cut to outSize - 1
  // characters, always terminated). Always true.
  bool GetField(int i, char* out, int outSize) const;
  bool IsEOF() const;
  void Rewind();

  bool IsOpen() const { return fd_ >= 0; }

  // The current line, cut at its first NUL (what GetField walks).
  const char* Line() const { return line_; }
  size_t LineLength() const { return lineLength_; }

 private:
  bool readPiece();

  std::string name_;
  int fd_ = -1;
  uint32_t recordCount_ = 0;
  char delimiter_ = ' ';
  bool eof_ = false;

  std::vector<char> buffer_;
  size_t pos_ = 0;
  size_t end_ = 0;
  const char* line_ = "";
  size_t lineLength_ = 0;
};

// One field of a line as GetField would copy it, without the copy: the raw
// bytes between two space runs, which may still hold carriage returns.
struct QDLMField {
  const char* text;
  size_t length;
};

// Splits a line into at most maxFields fields by the reader's rules; returns
// how many were found (fields beyond maxFields are not looked at). A field
// the line does not reach is empty, as with GetField.
int QDLMSplit(const char* line, size_t length, char delimiter, QDLMField* fields,
              int maxFields);
